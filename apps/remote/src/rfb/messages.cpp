#include "apps/remote/src/rfb/messages.hpp"

namespace remote::rfb {
namespace {

void put16(std::uint8_t* at, std::uint16_t v) {
  at[0] = static_cast<std::uint8_t>(v >> 8);
  at[1] = static_cast<std::uint8_t>(v);
}
void put32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v >> 24);
  at[1] = static_cast<std::uint8_t>(v >> 16);
  at[2] = static_cast<std::uint8_t>(v >> 8);
  at[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

std::array<std::uint8_t, 20> encode_set_pixel_format(const PixelFormat& format) {
  std::array<std::uint8_t, 20> m{};
  m[0] = client_message::kSetPixelFormat;
  const auto wire = format.to_wire();
  for (std::size_t i = 0; i < wire.size(); ++i) m[4 + i] = wire[i];
  return m;
}

std::vector<std::uint8_t> encode_set_encodings(std::span<const std::int32_t> encodings) {
  std::vector<std::uint8_t> m(4 + 4 * encodings.size(), 0);
  m[0] = client_message::kSetEncodings;
  put16(&m[2], static_cast<std::uint16_t>(encodings.size()));
  for (std::size_t i = 0; i < encodings.size(); ++i) {
    put32(&m[4 + 4 * i], static_cast<std::uint32_t>(encodings[i]));
  }
  return m;
}

std::array<std::uint8_t, 10> encode_update_request(bool incremental, std::uint16_t x, std::uint16_t y,
                                                   std::uint16_t width, std::uint16_t height) {
  std::array<std::uint8_t, 10> m{};
  m[0] = client_message::kFramebufferUpdateRequest;
  m[1] = incremental ? 1 : 0;
  put16(&m[2], x);
  put16(&m[4], y);
  put16(&m[6], width);
  put16(&m[8], height);
  return m;
}

std::array<std::uint8_t, 8> encode_key_event(bool down, std::uint32_t keysym) {
  std::array<std::uint8_t, 8> m{};
  m[0] = client_message::kKeyEvent;
  m[1] = down ? 1 : 0;
  put32(&m[4], keysym);
  return m;
}

std::array<std::uint8_t, 6> encode_pointer_event(std::uint8_t buttons, std::uint16_t x, std::uint16_t y) {
  std::array<std::uint8_t, 6> m{};
  m[0] = client_message::kPointerEvent;
  m[1] = buttons;
  put16(&m[2], x);
  put16(&m[4], y);
  return m;
}

Result<void> request_update(OutputSink& out, bool incremental, const Framebuffer& fb) {
  const auto m = encode_update_request(incremental, 0, 0, fb.width(), fb.height());
  return out.write_all(m);
}

}  // namespace remote::rfb
