#pragma once
// The terminal of an SSH session: received bytes in, grid operations out.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "apps/remote/src/vt/cell.hpp"
#include "apps/remote/src/vt/grid.hpp"
#include "apps/remote/src/vt/parser.hpp"

namespace remote::vt {

// The screen of an SSH session as the "xterm-256color" terminal it announces:
// a fixed grid without scrollback (plus the alternate screen full-screen
// programs switch to), a pen of 16 colours and a bold flag, a scroll region,
// a saved cursor, insert mode and the cursor-key mode. The parser callbacks
// (print, execute, csi_dispatch, esc_dispatch) are the dispatcher from parsed
// actions to grid operations; what they do not name is ignored. Background
// colours, reverse video and underline are not kept.
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
  // DECCKM (ESC [ ? 1 h / l): the cursor keys send ESC O forms instead of
  // ESC [ forms while it is on.
  bool application_cursor_keys() const { return application_cursor_keys_; }
  bool insert_mode() const { return insert_mode_; }
  bool alternate_screen() const { return alternate_screen_; }
  // The scroll region, rows [top, bottom] inclusive; the whole screen unless
  // ESC [ t ; b r narrowed it.
  std::size_t scroll_top() const { return scroll_top_; }
  std::size_t scroll_bottom() const { return scroll_bottom_; }

  // Row `r` (0 = top) with all its cells; empty when r >= rows().
  std::span<const TerminalCell> row(std::size_t r) const {
    return r < grid_.rows() ? grid_.row(r) : std::span<const TerminalCell>();
  }
  // Row `r` without its trailing blank cells (space in the Default colour,
  // bold or not); a row of blanks is empty, and so is r >= rows().
  std::span<const TerminalCell> visible_row(std::size_t r) const;
  // Copies of all rows, top to bottom, each as visible_row gives it.
  std::vector<std::vector<TerminalCell>> visible_rows() const;

  // True when both show the same cells, cursor, pen, bold flag and modes (the
  // state of an unfinished escape sequence is not compared).
  bool same_screen(const Terminal& other) const;

  // --- Parser callbacks ---

  void print(char32_t ch);
  // A run of printable ASCII, as the parser's fast path hands it over.
  void print_ascii(std::span<const std::uint8_t> run);
  void execute(std::uint8_t byte);
  void csi_dispatch(const Params& params, std::span<const std::uint8_t> intermediates, bool ignore, char final);
  void esc_dispatch(std::span<const std::uint8_t> intermediates, bool ignore, std::uint8_t final);
  void osc_dispatch(std::span<const std::span<const std::uint8_t>>, bool) {}

  // --- Grid operations ---

  // Down one row; on the bottom row of the scroll region the region scrolls
  // up instead (its top row is lost), and on the last row of the screen below
  // the region nothing happens. The column never changes.
  void line_feed();
  // ESC M: up one row; on the top row of the scroll region the region scrolls
  // down instead.
  void reverse_index();
  // ESC [ n S / T: the scroll region moves up / down by n rows; the cursor
  // stays.
  void scroll_region_up(std::size_t n);
  void scroll_region_down(std::size_t n);
  // ESC [ n L / M: n blank rows are inserted at / n rows deleted from the
  // cursor row, within the scroll region; nothing when the cursor is outside
  // it. The cursor goes to column 0.
  void insert_lines(std::size_t n);
  void delete_lines(std::size_t n);
  // ESC [ n @ / P / X at the cursor: insert n blanks (the row's end is
  // pushed off), delete n cells (blanks enter at the right), or blank n cells
  // without moving the rest. A pending wrap acts on the last column.
  void insert_characters(std::size_t n);
  void delete_characters(std::size_t n);
  void erase_characters(std::size_t n);
  // ESC [ n b: prints the last printed character n more times (at most a
  // screenful).
  void repeat_last_character(std::size_t n);
  // ESC [ t ; b r: rows t..b (1-based) become the scroll region when t < b;
  // the cursor goes home. Missing values mean the screen's edges.
  void set_scroll_region(std::size_t top, std::size_t bottom);
  // ESC 7 / ESC 8 (and ESC [ s / u): the cursor, pen and bold flag are saved
  // / restored; restoring with nothing saved goes home with the default pen.
  void save_cursor();
  void restore_cursor();
  // ESC [ ? 1049 / 1047 / 47 h and l.
  void enter_alternate_screen(bool clear);
  void leave_alternate_screen(bool clear);
  // ESC [ ? n h / l and ESC [ n h / l.
  void set_dec_mode(std::uint16_t mode, bool on);
  void set_ansi_mode(std::uint16_t mode, bool on);
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
  // The column an edit at the cursor acts on: a pending wrap counts as the
  // last column, and is dropped.
  std::size_t edit_column() {
    col_ = std::min(col_, grid_.cols() - 1);
    return col_;
  }
  bool cursor_in_scroll_region() const { return row_ >= scroll_top_ && row_ <= scroll_bottom_; }
  void print_cell(char32_t ch);

  struct SavedCursor {
    std::size_t col = 0;
    std::size_t row = 0;
    TerminalColor pen = TerminalColor::Default;
    bool bold = false;
    friend bool operator==(const SavedCursor&, const SavedCursor&) = default;
  };

  TerminalColor pen_ = TerminalColor::Default;
  Grid grid_;
  // The screen not shown: the alternate one while the main one is shown, and
  // the main one while the alternate one is.
  Grid other_grid_;
  std::size_t col_ = 0;
  std::size_t row_ = 0;
  std::size_t scroll_top_ = 0;
  std::size_t scroll_bottom_;
  SavedCursor saved_;
  // 0 until a character has been printed; what REP repeats.
  char32_t last_printed_ = 0;
  bool bold_ = false;
  bool insert_mode_ = false;
  bool application_cursor_keys_ = false;
  bool alternate_screen_ = false;
  Parser parser_;
};

// The count of CSI A, B, C, D and G: the first parameter, or 1 when it is
// missing, empty or 0.
std::uint16_t csi_count_param(const Params& params);

}  // namespace remote::vt
