// Feeds arbitrary bytes to the FramebufferUpdate decoder over a memory
// stream. Layout: width byte, height byte, format byte, then update bodies
// (each after its type byte) until one fails. Every update goes to two
// framebuffers, one recycling its published buffers and one copying; their
// pictures must agree, and no published frame may change.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "apps/remote/src/rfb/decode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint16_t width = static_cast<std::uint16_t>(1 + data[0] % 64);
  const std::uint16_t height = static_cast<std::uint16_t>(1 + data[1] % 64);
  remote::rfb::PixelFormat format = remote::rfb::kClientPixelFormat;
  if (data[2] & 1) {
    // Another wire format, to reach the general pixel path and odd sizes.
    format.bits_per_pixel = static_cast<std::uint8_t>(8 * (1 + (data[2] >> 1) % 5));  // 8 .. 40
    format.big_endian = (data[2] & 0x40) != 0;
    format.red_shift = static_cast<std::uint8_t>(data[2] >> 3);
    format.red_max = static_cast<std::uint16_t>(data[2] * 3);
  }
  const std::span<const std::uint8_t> body(data + 3, size - 3);
  remote::rfb::Framebuffer recycled(width, height), plain(width, height);
  recycled.enable_recycling();
  remote::rfb::MemoryStream in(body), in_plain(body);
  std::optional<remote::rfb::Framebuffer> slot, held;
  std::vector<std::uint8_t> held_pixels;
  for (int updates = 0; updates < 64; ++updates) {
    const std::uint64_t before = recycled.generation();
    slot = recycled;         // as the frame slot holds it
    if (updates % 3 == 0) {  // as the painter keeps one for a while
      held = slot;
      held_pixels.assign(held->pixels().begin(), held->pixels().end());
    }
    auto n = remote::rfb::read_framebuffer_update(in, recycled, format);
    auto m = remote::rfb::read_framebuffer_update(in_plain, plain, format);
    if (n.has_value() != m.has_value()) std::abort();
    if (!n) {
      if (recycled.generation() != before) std::abort();
      break;
    }
    if (recycled.generation() != before + 1) std::abort();
    if (slot->pixels().data() == recycled.pixels().data()) std::abort();  // a shared buffer was written
    if (!std::equal(recycled.pixels().begin(), recycled.pixels().end(), plain.pixels().begin())) std::abort();
    if (!std::equal(held->pixels().begin(), held->pixels().end(), held_pixels.begin())) std::abort();
  }
  return 0;
}
