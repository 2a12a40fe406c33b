#include "apps/remote/src/vt/grid.hpp"

#include <algorithm>

namespace remote::vt {

Grid::Grid(std::size_t cols, std::size_t rows) : cols_(cols), rows_(rows), cells_(cols * rows, kBlankCell) {}

namespace {
const std::uint64_t kBlankBits = cell_bits(kBlankCell);
}

void Grid::scroll_up() {
  fill_cells(row(0).data(), cols_, kBlankBits);
  top_ = top_ + 1 == rows_ ? 0 : top_ + 1;
}

void Grid::scroll_up(std::size_t top, std::size_t end, std::size_t n) {
  end = std::min(end, rows_);
  if (top >= end) return;
  n = std::min(n, end - top);
  if (top == 0 && end == rows_) {
    // The whole screen: turning the ring moves no cells.
    for (std::size_t i = 0; i < n; ++i) scroll_up();
    return;
  }
  for (std::size_t r = top; r + n < end; ++r) std::ranges::copy(row(r + n), row(r).begin());
  blank_rows(end - n, end);
}

void Grid::scroll_down(std::size_t top, std::size_t end, std::size_t n) {
  end = std::min(end, rows_);
  if (top >= end) return;
  n = std::min(n, end - top);
  for (std::size_t r = end; r-- > top + n;) std::ranges::copy(row(r - n), row(r).begin());
  blank_rows(top, top + n);
}

void Grid::insert_blanks(std::size_t r, std::size_t col, std::size_t n) {
  if (r >= rows_ || col >= cols_) return;
  n = std::min(n, cols_ - col);
  const std::span<TerminalCell> cells = row(r);
  std::copy_backward(cells.begin() + static_cast<std::ptrdiff_t>(col), cells.end() - static_cast<std::ptrdiff_t>(n),
                     cells.end());
  blank(r, col, col + n);
}

void Grid::delete_cells(std::size_t r, std::size_t col, std::size_t n) {
  if (r >= rows_ || col >= cols_) return;
  n = std::min(n, cols_ - col);
  const std::span<TerminalCell> cells = row(r);
  std::copy(cells.begin() + static_cast<std::ptrdiff_t>(col + n), cells.end(),
            cells.begin() + static_cast<std::ptrdiff_t>(col));
  blank(r, cols_ - n, cols_);
}

void Grid::blank(std::size_t r, std::size_t from, std::size_t to) {
  to = std::min(to, cols_);
  if (r >= rows_ || from >= to) return;
  fill_cells(row(r).data() + from, to - from, kBlankBits);
}

void Grid::blank_rows(std::size_t from, std::size_t to) {
  for (std::size_t r = from; r < std::min(to, rows_); ++r) fill_cells(row(r).data(), cols_, kBlankBits);
}

void Grid::blank_all() { fill_cells(cells_.data(), cells_.size(), kBlankBits); }

}  // namespace remote::vt
