// Arbitrary bytes, in arbitrary chunkings, into the parser and the terminal.
// Checks that the parser stays within its limits, that the cursor and rows
// stay in range, and that the chunking never changes the resulting screen.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "apps/remote/src/vt/parser.hpp"
#include "apps/remote/src/vt/terminal.hpp"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

struct LimitChecker : remote::vt::NullPerformer {
  void print(char32_t c) { require(c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)); }
  void csi_dispatch(const remote::vt::Params& params, std::span<const std::uint8_t> ints, bool, char final) {
    require(ints.size() <= remote::vt::kMaxIntermediates);
    require(final >= 0x40 && final <= 0x7E);
    std::size_t values = 0;
    for (std::size_t g = 0; g < params.size(); ++g) {
      require(!params[g].empty());
      values += params[g].size();
    }
    require(values <= remote::vt::kMaxParams);
  }
  void esc_dispatch(std::span<const std::uint8_t> ints, bool, std::uint8_t) {
    require(ints.size() <= remote::vt::kMaxIntermediates);
  }
  void osc_dispatch(std::span<const std::span<const std::uint8_t>> params, bool) {
    require(params.size() <= remote::vt::kMaxOscParams);
    std::size_t bytes = 0;
    for (auto p : params) bytes += p.size();
    require(bytes <= remote::vt::kOscBufferSize);
  }
};

void check_terminal(const remote::vt::Terminal& t) {
  require(t.cursor_column() <= t.cols());
  require(t.cursor_row() < t.rows());
  require(t.scroll_top() <= t.scroll_bottom() && t.scroll_bottom() < t.rows());
}

// Small deterministic generator for chunk sizes.
struct XorShift {
  std::uint32_t s;
  std::uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const auto cols = static_cast<std::uint16_t>(data[0] % 100);  // 0 is clamped to 1
  const auto rows = static_cast<std::uint16_t>(data[1] % 40);
  XorShift rng{0x9E3779B9u ^ data[2]};
  const std::span<const std::uint8_t> input(data + 3, size - 3);

  remote::vt::Parser parser;
  LimitChecker checker;
  parser.advance(checker, input);

  remote::vt::Terminal whole(cols, rows);
  whole.feed(input);
  check_terminal(whole);

  remote::vt::Terminal chunked(cols, rows);
  for (std::size_t at = 0; at < input.size();) {
    const std::size_t n = std::min<std::size_t>(1 + rng.next() % 16, input.size() - at);
    chunked.feed(input.subspan(at, n));
    check_terminal(chunked);
    at += n;
  }

  require(whole.cursor_column() == chunked.cursor_column());
  require(whole.cursor_row() == chunked.cursor_row());
  require(whole.pen() == chunked.pen() && whole.bold() == chunked.bold());
  std::string text;
  for (std::size_t r = 0; r < whole.rows(); ++r) {
    const auto a = whole.row(r);
    const auto b = chunked.row(r);
    require(a.size() == whole.cols() && b.size() == a.size());
    for (std::size_t c = 0; c < a.size(); ++c) require(a[c] == b[c]);
    require(whole.visible_row(r).size() <= whole.cols());
    remote::vt::push_cell_chars(text, whole.visible_row(r));
  }
  return 0;
}
