#pragma once
// The terminal of an SSH session: received bytes in, grid operations out.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "apps/remote/src/vt/cell.hpp"
#include "apps/remote/src/vt/grid.hpp"
#include "apps/remote/src/vt/parser.hpp"

namespace vt {

// The screen of an SSH session: a fixed grid without scrollback, a pen of 16
// colours and a bold flag, driven by the bytes the server sends. The parser
// callbacks (print, execute, csi_dispatch, ...) are the dispatcher from parsed
// actions to grid operations; everything the parser recognises beyond
// printing, six C0 controls and the CSI finals A B C D G H f J K m is ignored.
//
// Single-threaded: owned by the session handle on the UI thread.
class Terminal {
 public:
  // Sizes below 1 become 1. All cells blank, cursor at the top left, pen
  // Default, bold off.
  Terminal(std::uint16_t cols, std::uint16_t rows);

  // Feeds one received chunk through the terminal's own parser. Sequences and
  // UTF-8 characters split across chunks act as if they arrived whole.
  void feed(std::span<const std::uint8_t> bytes);
  void feed(std::string_view bytes) {
    feed(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  }

  // --- Reading (painting never changes the terminal) ---

  std::size_t cols() const { return grid_.cols(); }
  std::size_t rows() const { return grid_.rows(); }
  // 0..cols; equal to cols while a wrap is pending after the last column.
  std::size_t cursor_column() const { return col_; }
  // 0..rows-1.
  std::size_t cursor_row() const { return row_; }
  TerminalColor pen() const { return pen_; }
  bool bold() const { return bold_; }
  // DECCKM: the cursor keys send their application forms (ESC O A ...).
  bool application_cursor_keys() const { return application_cursor_keys_; }

  // Row `r` (0 = top) with all its cells; empty when r >= rows().
  std::span<const TerminalCell> row(std::size_t r) const {
    return r < grid_.rows() ? grid_.row(r) : std::span<const TerminalCell>();
  }
  // Row `r` without its trailing blank cells (space in the Default colour,
  // bold or not); a row of blanks is empty, and so is r >= rows().
  std::span<const TerminalCell> visible_row(std::size_t r) const;
  // Copies of all rows, top to bottom, each as visible_row gives it.
  std::vector<std::vector<TerminalCell>> visible_rows() const;

  // True when both show the same cells, cursor, pen and bold flag (the state
  // of an unfinished escape sequence is not compared).
  bool same_screen(const Terminal& other) const;

  // --- Parser callbacks ---

  void print(char32_t ch);
  // A run of printable ASCII, as the parser's fast path hands it over.
  void print_ascii(std::span<const std::uint8_t> run);
  void execute(std::uint8_t byte);
  void csi_dispatch(const Params& params, std::span<const std::uint8_t> intermediates, bool ignore, char final);
  void esc_dispatch(std::span<const std::uint8_t>, bool, std::uint8_t) {}
  void osc_dispatch(std::span<const std::span<const std::uint8_t>>, bool) {}

  // --- Grid operations ---

  // Down one row; on the last row the top row is dropped and a blank row
  // appended. The column never changes.
  void line_feed();
  // Blanks the cursor row from the cursor to its end (nothing while a wrap
  // is pending).
  void erase_to_end_of_line();
  // ESC [ n K: 0 (and unknown values) cursor to end, 1 start to cursor
  // inclusive, 2 whole row.
  void erase_in_line(std::uint16_t mode);
  // ESC [ n J: 0 cursor to end of screen, 1 start of screen to cursor
  // inclusive, 2 and 3 whole screen; other values erase nothing.
  void erase_in_display(std::uint16_t mode);
  void select_graphic_rendition(const Params& params);

 private:
  void wrap_if_pending() {
    if (col_ >= grid_.cols()) {
      col_ = 0;
      line_feed();
    }
  }

  TerminalColor pen_ = TerminalColor::Default;
  Grid grid_;
  std::size_t col_ = 0;
  std::size_t row_ = 0;
  bool bold_ = false;
  bool application_cursor_keys_ = false;
  Parser parser_;
};

// The count of CSI A, B, C, D and G: the first parameter, or 1 when it is
// missing, empty or 0.
std::uint16_t csi_count_param(const Params& params);

}  // namespace vt
