#pragma once
// The terminal's character grid: rows of cells kept as a ring, the cursor and
// the pen, and the small named operations the terminal applies to it.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "apps/remote/src/vt/cell.hpp"

namespace remote::vt {

// A cell as one 64-bit word with zeroed padding, so that rows are filled with
// plain word stores (which the compiler vectorises) instead of field stores.
static_assert(std::endian::native == std::endian::little);
inline std::uint64_t cell_bits(const TerminalCell& cell) {
  std::uint64_t bits = 0;
  auto* raw = reinterpret_cast<unsigned char*>(&bits);
  std::memcpy(raw + offsetof(TerminalCell, ch), &cell.ch, sizeof cell.ch);
  std::memcpy(raw + offsetof(TerminalCell, fg), &cell.fg, sizeof cell.fg);
  std::memcpy(raw + offsetof(TerminalCell, bold), &cell.bold, sizeof cell.bold);
  return bits;
}

static_assert(std::is_trivially_copyable_v<TerminalCell>);
inline void store_cell(TerminalCell* out, std::uint64_t bits) {
  std::memcpy(static_cast<void*>(out), &bits, sizeof bits);
}

inline void fill_cells(TerminalCell* out, std::size_t n, std::uint64_t bits) {
  for (std::size_t i = 0; i < n; ++i) store_cell(out + i, bits);
}

// A fixed-size block of cells without scrollback. Rows live in a ring so that
// scrolling by one row moves no cells: the top row's storage is blanked and
// becomes the new bottom row.
class Grid {
 public:
  // Both sizes must be at least 1 (the terminal clamps them).
  Grid(std::size_t cols, std::size_t rows);

  std::size_t cols() const { return cols_; }
  std::size_t rows() const { return rows_; }

  // Row `r` (0 = top) as `cols()` cells; `r` must be below `rows()`.
  std::span<TerminalCell> row(std::size_t r) { return {cells_.data() + offset(r), cols_}; }
  std::span<const TerminalCell> row(std::size_t r) const { return {cells_.data() + offset(r), cols_}; }

  // Drops the top row and appends a blank one at the bottom.
  void scroll_up();

  // Rows [top, end) move up by n: the top n of them are lost and n blank rows
  // enter at the bottom of the range. Rows outside the range stay.
  void scroll_up(std::size_t top, std::size_t end, std::size_t n);
  // Rows [top, end) move down by n: the bottom n are lost, n blank rows enter
  // at the top of the range.
  void scroll_down(std::size_t top, std::size_t end, std::size_t n);

  // Row `r`: cells from `col` move right by n (those pushed past the right
  // edge are lost) and n blanks fill the gap.
  void insert_blanks(std::size_t r, std::size_t col, std::size_t n);
  // Row `r`: n cells at `col` are removed, the rest of the row moves left and
  // blanks enter at the right edge.
  void delete_cells(std::size_t r, std::size_t col, std::size_t n);

  // Blanks the cells [from, to) of row `r`; the range is clamped to the row.
  void blank(std::size_t r, std::size_t from, std::size_t to);
  void blank_rows(std::size_t from, std::size_t to);
  void blank_all();

 private:
  std::size_t offset(std::size_t r) const {
    std::size_t physical = top_ + r;
    if (physical >= rows_) physical -= rows_;
    return physical * cols_;
  }

  std::size_t cols_;
  std::size_t rows_;
  std::size_t top_ = 0;  // physical index of the top row
  std::vector<TerminalCell> cells_;
};

}  // namespace remote::vt
