#include "apps/remote/src/vt/grid.hpp"

#include <algorithm>

namespace vt {

Grid::Grid(std::size_t cols, std::size_t rows) : cols_(cols), rows_(rows), cells_(cols * rows, kBlankCell) {}

namespace {
const std::uint64_t kBlankBits = cell_bits(kBlankCell);
}

void Grid::scroll_up() {
  fill_cells(row(0).data(), cols_, kBlankBits);
  top_ = top_ + 1 == rows_ ? 0 : top_ + 1;
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

}  // namespace vt
