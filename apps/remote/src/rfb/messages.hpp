#pragma once
// Messages the client writes, each encoded into a byte array.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "apps/remote/src/rfb/error.hpp"
#include "apps/remote/src/rfb/framebuffer.hpp"
#include "apps/remote/src/rfb/pixel_format.hpp"
#include "apps/remote/src/rfb/stream.hpp"
#include "apps/remote/src/rfb/wire.hpp"

namespace remote::rfb {

// Raw, CopyRect and RRE, in order of preference.
inline constexpr std::array<std::int32_t, 3> kClientEncodings{kEncodingRaw, kEncodingCopyRect, kEncodingRre};

std::array<std::uint8_t, 20> encode_set_pixel_format(const PixelFormat& format);
std::vector<std::uint8_t> encode_set_encodings(std::span<const std::int32_t> encodings);
std::array<std::uint8_t, 10> encode_update_request(bool incremental, std::uint16_t x, std::uint16_t y,
                                                   std::uint16_t width, std::uint16_t height);
std::array<std::uint8_t, 8> encode_key_event(bool down, std::uint32_t keysym);
std::array<std::uint8_t, 6> encode_pointer_event(std::uint8_t buttons, std::uint16_t x, std::uint16_t y);

// A request for the whole framebuffer.
Result<void> request_update(OutputSink& out, bool incremental, const Framebuffer& fb);

}  // namespace remote::rfb
