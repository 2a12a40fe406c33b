#pragma once

// H.264 decoding for device sessions: Annex B packets in, RGBA (or Cairo's
// B, G, R, A) pictures out.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/vesk_callstream/error.hpp"

namespace vesk_callstream::decoder {

// Largest picture a decoder accepts unless told otherwise.
inline constexpr std::uint32_t kMaxDecodedWidth = 8192;
inline constexpr std::uint32_t kMaxDecodedHeight = 8192;
// Largest packet handed to the codec; larger ones are refused unread.
inline constexpr std::size_t kMaxPacketBytes = std::size_t{64} << 20;

struct DecoderLimits {
  std::uint32_t max_width = kMaxDecodedWidth;
  std::uint32_t max_height = kMaxDecodedHeight;
  std::size_t max_packet_bytes = kMaxPacketBytes;
};

// Byte order of decoded pixels; alpha is always 255.
enum class PixelOrder : std::uint8_t {
  Rgba,
  // Cairo's native-endian ARGB32 on little-endian machines: a renderer draws
  // it as it is.
  Bgra,
};

// One decoded picture: tightly packed 8-bit rows, width * height * 4 bytes.
// The pixels are our own copy, independent of the codec's buffers.
struct Frame {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelOrder order = PixelOrder::Rgba;
};

// Not thread-safe: one decoder belongs to one thread at a time. Move-only.
class H264Decoder {
 public:
  // Construction never fails; when the codec cannot be set up, every decode
  // reports that as its error.
  H264Decoder();
  explicit H264Decoder(DecoderLimits limits, PixelOrder order = PixelOrder::Rgba);
  ~H264Decoder();
  H264Decoder(H264Decoder&&) noexcept;
  H264Decoder& operator=(H264Decoder&&) noexcept;
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // Feeds one packet: NAL units with start codes, normally one access unit;
  // several access units joined in stream order decode in turn and give the
  // newest picture. Gives a frame when the codec completed a picture, nothing
  // when it needs more data, or an error for a packet it could not use:
  // malformed, over the size limits, or the codec's own decoding failure.
  // Packets must arrive in stream order (a P frame left out corrupts the
  // pictures up to the next IDR); after an error, decoding continues with the
  // next packet.
  std::expected<std::optional<Frame>, Error> decode(std::span<const std::uint8_t> packet);

  // False when the codec could not be created.
  bool available() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesk_callstream::decoder
