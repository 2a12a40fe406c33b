#pragma once

// The picture the simulated device streams: colour bars with a moving block,
// a lower band that shows the device's input state, and the frame number in
// binary along the bottom edge, all in 16-pixel cells so that they survive
// compression and can be read back from a decoded frame.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace vesk_ui::device_link::pattern {

inline constexpr std::uint32_t kMinWidth = 320;
inline constexpr std::uint32_t kMinHeight = 180;
inline constexpr std::uint32_t kCell = 16;
inline constexpr unsigned kFrameNumberBits = 20;
inline constexpr unsigned kKeyCodeBits = 10;
inline constexpr std::uint32_t kBlockSize = 48;
inline constexpr std::uint32_t kBlockTop = 32;
inline constexpr std::uint32_t kBlockStep = 8;  // pixels per frame
inline constexpr std::uint32_t kPointerSize = 16;

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// Left to right: white, yellow, cyan, green, magenta, red, blue, black.
inline constexpr std::array<Rgb, 8> kBars = {
    {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255}, {0, 0, 0}}};
inline constexpr Rgb kBlock = {255, 128, 0};
inline constexpr Rgb kBand = {40, 40, 40};
inline constexpr Rgb kLampOff = {80, 80, 80};
inline constexpr Rgb kKeyLampOn = {0, 255, 0};
inline constexpr Rgb kButtonLampOn = {255, 0, 0};

struct PatternState {
  std::uint64_t frame_number = 0;
  std::optional<std::array<double, 2>> pointer;  // remote-frame pixels
  std::uint32_t buttons = 0;                     // bit 0 left, 1 right, 2 middle
  bool key_down = false;                         // any key held
  std::uint32_t last_key = 0;                    // code of the last key pressed
};

// Where each part of the pattern lies for a picture of the given size.
struct Layout {
  std::uint32_t width = 0, height = 0;
  std::uint32_t bars_bottom = 0;  // bars fill rows [0, bars_bottom)
  std::uint32_t bar_width = 0;    // bar i spans [i * bar_width, (i + 1) * bar_width)
  std::uint32_t key_row_top = 0;  // key lamp, key code bits, button lamps
  std::uint32_t counter_top = 0;  // frame number bits, most significant first
  std::uint32_t key_lamp_x = 0;
  std::uint32_t key_bits_x = 0;      // bit i (most significant first) at key_bits_x + i * kCell
  std::uint32_t button_lamps_x = 0;  // lamp i at button_lamps_x + i * 2 * kCell

  // Left edge of the moving block in a frame.
  std::uint32_t block_x(std::uint64_t frame_number) const;
};

// Needs width >= kMinWidth and height >= kMinHeight, both even.
Layout layout_for(std::uint32_t width, std::uint32_t height);

// Draws into width * height * 4 bytes of RGBA.
void render(const PatternState& state, const Layout& layout, std::span<std::uint8_t> rgba);

// Colour at the centre of a cell whose top-left corner is (x, y).
Rgb sample(std::span<const std::uint8_t> rgba, std::uint32_t width, std::uint32_t x, std::uint32_t y);

// Reads back what `render` drew, from a decoded picture.
std::uint64_t read_frame_number(std::span<const std::uint8_t> rgba, const Layout& layout);
std::uint32_t read_key_code(std::span<const std::uint8_t> rgba, const Layout& layout);

}  // namespace vesk_ui::device_link::pattern
