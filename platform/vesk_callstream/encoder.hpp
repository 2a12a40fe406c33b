#pragma once

// H.264 encoding of RGBA pictures into Annex B access units. Used by the
// simulated device and by tests and benchmarks that need a real stream.

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "platform/vesk_callstream/error.hpp"

namespace vesk_callstream::encoder {

struct EncoderConfig {
  std::uint32_t width = 640;
  std::uint32_t height = 360;
  float frames_per_second = 30.0f;
  // Frames from one IDR to the next; 0 gives only the first.
  std::uint32_t idr_interval = 30;
  std::uint32_t bitrate_bps = 2'000'000;
};

// One access unit. IDR units carry their own SPS and PPS, so decoding can
// start at any of them.
struct EncodedFrame {
  std::vector<std::uint8_t> bytes;
  bool idr = false;
};

// Not thread-safe; move-only.
class H264Encoder {
 public:
  // Width and height must be even and between 16 and 4096.
  static std::expected<H264Encoder, Error> create(const EncoderConfig& config);

  ~H264Encoder();
  H264Encoder(H264Encoder&&) noexcept;
  H264Encoder& operator=(H264Encoder&&) noexcept;
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;

  const EncoderConfig& config() const;

  // Encodes width * height * 4 bytes of RGBA. Every call yields one access
  // unit (frame skipping is off).
  std::expected<EncodedFrame, Error> encode_rgba(std::span<const std::uint8_t> rgba, std::uint64_t timestamp_ms);

  // The next encoded frame is an IDR.
  void request_idr();

 private:
  struct Impl;
  explicit H264Encoder(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesk_callstream::encoder
