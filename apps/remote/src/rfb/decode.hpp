#pragma once
// FramebufferUpdate decoding: one entry point that reads rectangle headers and
// dispatches to one decoder per encoding. Every size a server announces is
// checked where it is read, before memory is taken or a pixel is written, and
// all work is clipped to the framebuffer.

#include <cstdint>
#include <limits>
#include <string_view>

#include "apps/remote/src/rfb/error.hpp"
#include "apps/remote/src/rfb/framebuffer.hpp"
#include "apps/remote/src/rfb/pixel_format.hpp"
#include "apps/remote/src/rfb/stream.hpp"
#include "apps/remote/src/rfb/wire.hpp"

namespace remote::rfb {

inline constexpr std::uint64_t kMaxGenerationBeforeUpdate = std::numeric_limits<std::uint64_t>::max() - 1;
inline constexpr std::uint32_t kMaxRectsPerUpdate = 4096;
inline constexpr std::uint64_t kMaxRawRectBytes = 67'108'864;
inline constexpr std::uint64_t kMaxCopyRectPixels = 16'777'216;
inline constexpr std::uint32_t kMaxRreSubrects = 1'000'000;
inline constexpr std::uint64_t kPixelWorkLimit = 16'777'216;

struct RectHeader {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::int32_t encoding = 0;
};

Result<RectHeader> read_rect_header(InputStream& in);

// "{label} exceeds the pixel work limit" when width × height is over the limit.
Result<void> check_pixel_work(std::uint64_t width, std::uint64_t height, std::string_view label);

Result<void> decode_raw_rect(InputStream& in, Framebuffer& fb, const PixelFormat& format, const RectHeader& rect);
Result<void> decode_copy_rect(InputStream& in, Framebuffer& fb, const RectHeader& rect);
Result<void> decode_rre_rect(InputStream& in, Framebuffer& fb, const PixelFormat& format, const RectHeader& rect);

// Rectangles applied, by encoding, for diagnostics and tests.
struct UpdateStats {
  std::uint64_t raw = 0;
  std::uint64_t copy_rect = 0;
  std::uint64_t rre = 0;
};

// One FramebufferUpdate after its message-type byte. Gives the number of
// rectangles; the generation advances only when every rectangle was applied.
Result<std::uint16_t> read_framebuffer_update(InputStream& in, Framebuffer& fb, const PixelFormat& format,
                                              UpdateStats* stats = nullptr);

}  // namespace remote::rfb
