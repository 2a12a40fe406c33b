#pragma once
// One cell of the terminal grid and its foreground colour.

#include <cstdint>
#include <span>
#include <string>

namespace remote::vt {

// Foreground colour of a cell: the palette's default, or one of the 16
// indexed colours. One byte so that a cell stays eight bytes wide.
class TerminalColor {
 public:
  static const TerminalColor Default;

  // The default colour.
  constexpr TerminalColor() : value_(kDefault) {}

  // Indices above 15 are clamped; the grid never produces them.
  static constexpr TerminalColor indexed(std::uint8_t index) {
    return TerminalColor(index > 15 ? std::uint8_t{15} : index);
  }

  constexpr bool is_default() const { return value_ == kDefault; }
  // Only meaningful when !is_default().
  constexpr std::uint8_t index() const { return value_; }

  friend constexpr bool operator==(TerminalColor, TerminalColor) = default;

 private:
  static constexpr std::uint8_t kDefault = 0xFF;
  constexpr explicit TerminalColor(std::uint8_t value) : value_(value) {}
  std::uint8_t value_;
};

inline constexpr TerminalColor TerminalColor::Default{TerminalColor::kDefault};

// One cell of the grid. The character comes first so the cell packs into
// eight bytes; every character takes exactly one cell.
struct TerminalCell {
  char32_t ch = U' ';
  TerminalColor fg = TerminalColor::Default;
  bool bold = false;

  friend constexpr bool operator==(const TerminalCell&, const TerminalCell&) = default;
};

static_assert(sizeof(TerminalCell) == 8);

inline constexpr TerminalCell kBlankCell{};

// A trailing cell is trimmed from a visible row when it is a space in the
// default colour; its bold flag does not matter.
constexpr bool is_trimmable(const TerminalCell& cell) { return cell.ch == U' ' && cell.fg.is_default(); }

// Appends the characters of `cells`, in order, as UTF-8. A character that is
// not a Unicode scalar value is written as U+FFFD.
void push_cell_chars(std::string& out, std::span<const TerminalCell> cells);

// Appends one code point as UTF-8 (U+FFFD for surrogates and values above
// U+10FFFF).
void push_utf8(std::string& out, char32_t ch);

}  // namespace remote::vt
