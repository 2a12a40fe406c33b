#include "apps/remote/src/vt/terminal.hpp"

#include <algorithm>
#include <cstddef>

namespace remote::vt {

namespace {

constexpr std::size_t kTabWidth = 8;

// First value of group `group`, or 1 when missing, empty or 0.
std::size_t one_based(const Params& params, std::size_t group) {
  const std::uint16_t v = params.first(group);
  return v == 0 ? 1 : v;
}

}  // namespace

std::uint16_t csi_count_param(const Params& params) { return static_cast<std::uint16_t>(one_based(params, 0)); }

Terminal::Terminal(std::uint16_t cols, std::uint16_t rows)
    : grid_(std::max<std::size_t>(cols, 1), std::max<std::size_t>(rows, 1)),
      other_grid_(grid_.cols(), grid_.rows()),
      scroll_bottom_(grid_.rows() - 1) {}

void Terminal::feed(std::span<const std::uint8_t> bytes) { parser_.advance(*this, bytes); }

std::span<const TerminalCell> Terminal::visible_row(std::size_t r) const {
  std::span<const TerminalCell> cells = row(r);
  std::size_t len = cells.size();
  while (len > 0 && is_trimmable(cells[len - 1])) --len;
  return cells.first(len);
}

std::vector<std::vector<TerminalCell>> Terminal::visible_rows() const {
  std::vector<std::vector<TerminalCell>> out;
  out.reserve(grid_.rows());
  for (std::size_t r = 0; r < grid_.rows(); ++r) {
    const auto cells = visible_row(r);
    out.emplace_back(cells.begin(), cells.end());
  }
  return out;
}

bool Terminal::same_screen(const Terminal& other) const {
  if (cols() != other.cols() || rows() != other.rows() || col_ != other.col_ || row_ != other.row_ ||
      pen_ != other.pen_ || bold_ != other.bold_ || insert_mode_ != other.insert_mode_ ||
      application_cursor_keys_ != other.application_cursor_keys_ || alternate_screen_ != other.alternate_screen_ ||
      scroll_top_ != other.scroll_top_ || scroll_bottom_ != other.scroll_bottom_) {
    return false;
  }
  for (std::size_t r = 0; r < rows(); ++r) {
    if (!std::ranges::equal(row(r), other.row(r))) return false;
  }
  return true;
}

void Terminal::print_cell(char32_t ch) {
  wrap_if_pending();
  if (insert_mode_) grid_.insert_blanks(row_, col_, 1);
  grid_.row(row_)[col_] = TerminalCell{ch, pen_, bold_};
  ++col_;
}

void Terminal::print(char32_t ch) {
  print_cell(ch);
  last_printed_ = ch;
}

void Terminal::print_ascii(std::span<const std::uint8_t> run) {
  if (run.empty()) return;
  last_printed_ = run.back();
  if (insert_mode_) {
    for (const std::uint8_t b : run) print_cell(b);
    return;
  }
  const std::uint8_t* in = run.data();
  std::size_t left = run.size();
  // The character is the low bytes of the cell word.
  static_assert(offsetof(TerminalCell, ch) == 0);
  const std::uint64_t style = cell_bits(TerminalCell{0, pen_, bold_});
  while (left > 0) {
    wrap_if_pending();
    const std::size_t n = std::min(left, grid_.cols() - col_);
    TerminalCell* out = grid_.row(row_).data() + col_;
    for (std::size_t i = 0; i < n; ++i) {
      store_cell(out + i, style | in[i]);
    }
    col_ += n;
    in += n;
    left -= n;
  }
}

void Terminal::line_feed() {
  if (row_ == scroll_bottom_) {
    scroll_region_up(1);
  } else if (row_ + 1 < grid_.rows()) {
    ++row_;
  }
}

void Terminal::reverse_index() {
  if (row_ == scroll_top_) {
    scroll_region_down(1);
  } else if (row_ > 0) {
    --row_;
  }
}

void Terminal::scroll_region_up(std::size_t n) { grid_.scroll_up(scroll_top_, scroll_bottom_ + 1, n); }

void Terminal::scroll_region_down(std::size_t n) { grid_.scroll_down(scroll_top_, scroll_bottom_ + 1, n); }

void Terminal::insert_lines(std::size_t n) {
  if (!cursor_in_scroll_region()) return;
  grid_.scroll_down(row_, scroll_bottom_ + 1, n);
  col_ = 0;
}

void Terminal::delete_lines(std::size_t n) {
  if (!cursor_in_scroll_region()) return;
  grid_.scroll_up(row_, scroll_bottom_ + 1, n);
  col_ = 0;
}

void Terminal::insert_characters(std::size_t n) { grid_.insert_blanks(row_, edit_column(), n); }

void Terminal::delete_characters(std::size_t n) { grid_.delete_cells(row_, edit_column(), n); }

void Terminal::erase_characters(std::size_t n) {
  const std::size_t from = edit_column();
  grid_.blank(row_, from, from + n);
}

void Terminal::repeat_last_character(std::size_t n) {
  if (last_printed_ == 0) return;
  // A few bytes must not buy millions of cell writes: a screenful of repeats
  // already shows the character everywhere it can.
  n = std::min(n, grid_.cols() * grid_.rows());
  for (std::size_t i = 0; i < n; ++i) print_cell(last_printed_);
}

void Terminal::set_scroll_region(std::size_t top, std::size_t bottom) {
  top = std::max<std::size_t>(top, 1);
  bottom = std::min(bottom, grid_.rows());
  if (top >= bottom) return;  // as xterm does: a region of fewer than two rows is refused
  scroll_top_ = top - 1;
  scroll_bottom_ = bottom - 1;
  col_ = 0;
  row_ = 0;
}

void Terminal::save_cursor() { saved_ = SavedCursor{col_, row_, pen_, bold_}; }

void Terminal::restore_cursor() {
  col_ = std::min(saved_.col, grid_.cols());
  row_ = std::min(saved_.row, grid_.rows() - 1);
  pen_ = saved_.pen;
  bold_ = saved_.bold;
}

void Terminal::enter_alternate_screen(bool clear) {
  if (!alternate_screen_) {
    std::swap(grid_, other_grid_);
    alternate_screen_ = true;
  }
  if (clear) grid_.blank_all();
}

void Terminal::leave_alternate_screen(bool clear) {
  if (!alternate_screen_) return;
  if (clear) grid_.blank_all();
  std::swap(grid_, other_grid_);
  alternate_screen_ = false;
}

void Terminal::set_dec_mode(std::uint16_t mode, bool on) {
  switch (mode) {
    case 1: application_cursor_keys_ = on; break;
    case 47: on ? enter_alternate_screen(false) : leave_alternate_screen(false); break;
    case 1047: on ? enter_alternate_screen(false) : leave_alternate_screen(true); break;
    case 1049:
      if (on) {
        save_cursor();
        enter_alternate_screen(true);
      } else {
        leave_alternate_screen(false);
        restore_cursor();
      }
      break;
    default: break;  // autowrap stays on; the rest are not kept
  }
}

void Terminal::set_ansi_mode(std::uint16_t mode, bool on) {
  if (mode == 4) insert_mode_ = on;
}

void Terminal::esc_dispatch(std::span<const std::uint8_t> intermediates, bool ignore, std::uint8_t final) {
  if (!intermediates.empty() || ignore) return;  // character sets and the like
  switch (final) {
    case '7': save_cursor(); break;
    case '8': restore_cursor(); break;
    case 'D': line_feed(); break;
    case 'E':
      col_ = 0;
      line_feed();
      break;
    case 'M': reverse_index(); break;
    default: break;
  }
}

void Terminal::execute(std::uint8_t byte) {
  switch (byte) {
    case 0x08:  // backspace
      if (col_ > 0) --col_;
      break;
    case 0x09:  // horizontal tab
      col_ = std::min((col_ / kTabWidth + 1) * kTabWidth, grid_.cols() - 1);
      break;
    case 0x0A:  // line feed, vertical tab, form feed
    case 0x0B:
    case 0x0C: line_feed(); break;
    case 0x0D:  // carriage return
      col_ = 0;
      break;
    default:  // the bell and every other control change nothing
      break;
  }
}

void Terminal::csi_dispatch(const Params& params, std::span<const std::uint8_t> intermediates, bool ignore,
                            char final) {
  const std::size_t last_col = grid_.cols() - 1;
  const std::size_t last_row = grid_.rows() - 1;
  const bool plain = intermediates.empty() && !ignore;
  if (final == 'h' || final == 'l') {
    const bool dec = intermediates.size() == 1 && intermediates[0] == '?';
    if (ignore || (!dec && !plain)) return;
    for (std::size_t i = 0; i < params.size(); ++i) {
      dec ? set_dec_mode(params.first(i), final == 'h') : set_ansi_mode(params.first(i), final == 'h');
    }
    return;
  }
  // The finals below are something else with a private marker or an
  // intermediate (ESC [ > 4 ; 2 m sets a key mode, ESC [ ? u asks for one).
  if (!plain) {
    switch (final) {
      case 'A':
      case 'B':
      case 'C':
      case 'D':
      case 'G':
      case 'H':
      case 'f':
      case 'J':
      case 'K': break;
      default: return;
    }
  }
  const std::size_t n = csi_count_param(params);
  switch (final) {
    case '@': insert_characters(n); break;
    case 'P': delete_characters(n); break;
    case 'X': erase_characters(n); break;
    case 'L': insert_lines(n); break;
    case 'M': delete_lines(n); break;
    case 'S': scroll_region_up(n); break;
    case 'T': scroll_region_down(n); break;
    case 'E':
    case 'F':
      row_ = final == 'E' ? std::min(row_ + n, last_row) : row_ - std::min(n, row_);
      col_ = 0;
      break;
    case 'd': row_ = std::min(n - 1, last_row); break;
    case '`': col_ = std::min(n - 1, last_col); break;
    case 'b': repeat_last_character(n); break;
    case 'r': set_scroll_region(one_based(params, 0), params.first(1) == 0 ? grid_.rows() : params.first(1)); break;
    case 's': save_cursor(); break;
    case 'u': restore_cursor(); break;
    default: break;
  }
  switch (final) {
    case 'A': row_ -= std::min<std::size_t>(csi_count_param(params), row_); break;
    case 'B': row_ = std::min<std::size_t>(row_ + csi_count_param(params), last_row); break;
    case 'C': col_ = std::min<std::size_t>(col_ + csi_count_param(params), last_col); break;
    case 'D': col_ -= std::min<std::size_t>(csi_count_param(params), col_); break;
    case 'G': col_ = std::min<std::size_t>(csi_count_param(params) - 1u, last_col); break;
    case 'H':
    case 'f':
      row_ = std::min(one_based(params, 0) - 1, last_row);
      col_ = std::min(one_based(params, 1) - 1, last_col);
      break;
    case 'J': erase_in_display(params.first(0)); break;
    case 'K': erase_in_line(params.first(0)); break;
    case 'm': select_graphic_rendition(params); break;
    default: break;
  }
}

void Terminal::erase_to_end_of_line() { grid_.blank(row_, col_, grid_.cols()); }

void Terminal::erase_in_line(std::uint16_t mode) {
  switch (mode) {
    case 1:
      // Inclusive of the cursor cell; a pending wrap sits on the last column.
      grid_.blank(row_, 0, col_ + 1);
      break;
    case 2: grid_.blank(row_, 0, grid_.cols()); break;
    default: erase_to_end_of_line(); break;
  }
}

void Terminal::erase_in_display(std::uint16_t mode) {
  switch (mode) {
    case 0:
      erase_to_end_of_line();
      grid_.blank_rows(row_ + 1, grid_.rows());
      break;
    case 1:
      grid_.blank_rows(0, row_);
      grid_.blank(row_, 0, col_ + 1);
      break;
    case 2:
    case 3: grid_.blank_all(); break;
    default: break;  // as real terminals do: an unknown mode erases nothing
  }
}

void Terminal::select_graphic_rendition(const Params& params) {
  if (params.empty()) {
    pen_ = TerminalColor::Default;
    bold_ = false;
    return;
  }
  // Each value stands alone: the numbers after 38 or 48 are not an extended
  // colour here but values of their own.
  for (std::size_t i = 0; i < params.size(); ++i) {
    const std::uint16_t v = params[i][0];
    if (v == 0) {
      pen_ = TerminalColor::Default;
      bold_ = false;
    } else if (v == 1) {
      bold_ = true;
    } else if (v == 22) {
      bold_ = false;
    } else if (v == 39) {
      pen_ = TerminalColor::Default;
    } else if (v >= 30 && v <= 37) {
      pen_ = TerminalColor::indexed(static_cast<std::uint8_t>(v - 30));
    } else if (v >= 90 && v <= 97) {
      pen_ = TerminalColor::indexed(static_cast<std::uint8_t>(v - 82));
    }
  }
}

}  // namespace remote::vt
