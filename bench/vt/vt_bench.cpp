// Throughput of the terminal (parser and grid) against libvterm's full screen
// layer on the same bytes: 64 MiB of mixed shell-like output, and the
// recordings of real programs (line editing, less, vim, top, nano, man) the
// differential test replays, repeated to 16 MiB.

#include <benchmark/benchmark.h>
#include <vterm.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <cstdint>
#include <random>
#include <span>
#include <string>

#include "apps/remote/src/vt/parser.hpp"
#include "apps/remote/src/vt/terminal.hpp"

namespace {

constexpr std::size_t kInputBytes = 64u << 20;
// About what one read from the SSH channel delivers.
constexpr std::size_t kChunkBytes = 32u << 10;
constexpr int kCols = 80;
constexpr int kRows = 24;

// Words, SGR colour changes every few words, CR LF at the end of each line.
const std::string& mixed_text() {
  static const std::string text = [] {
    const char* words[] = {"the",  "quick",    "brown", "fox",        "jumps", "over", "lazy", "dog",    "ls",
                           "-la",  "/usr/bin", "total", "drwxr-xr-x", "root",  "4096", "Dec",  "10",     "09:41",
                           "make", "[100%]",   "Built", "target",     "naïve", "café", "→",    "error:", "warning:"};
    const char* sgr[] = {"\x1b[31m", "\x1b[1;32m",  "\x1b[0m",  "\x1b[m",     "\x1b[94m",
                         "\x1b[1m",  "\x1b[22;39m", "\x1b[33m", "\x1b[1;35m", "\x1b[0;36m"};
    std::mt19937 rng(42);
    std::string out;
    out.reserve(kInputBytes + 256);
    while (out.size() < kInputBytes) {
      const std::size_t line_len = 40 + rng() % 60;
      const std::size_t start = out.size();
      while (out.size() - start < line_len) {
        if (rng() % 4 == 0) out += sgr[rng() % std::size(sgr)];
        out += words[rng() % std::size(words)];
        out += ' ';
      }
      out += "\r\n";
    }
    out.resize(kInputBytes);
    return out;
  }();
  return text;
}

std::span<const std::uint8_t> input_bytes() {
  const std::string& s = mixed_text();
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

template <class Feed>
void feed_chunks(std::span<const std::uint8_t> all, Feed&& feed) {
  for (std::size_t at = 0; at < all.size(); at += kChunkBytes) {
    feed(all.subspan(at, std::min(kChunkBytes, all.size() - at)));
  }
}

// The recordings one after another, repeated; a full-screen program's
// alternate screen is left again at the end of each, so every pass starts
// from a shell screen.
const std::string& recorded_programs() {
  static const std::string text = [] {
    constexpr std::size_t kRecordedBytes = 16u << 20;
    std::string once;
    for (const char* name : {"bash_edit", "bash_wrap", "less", "vim", "top", "nano", "man"}) {
      std::ifstream in(std::string(REMOTE_VT_RECORDINGS) + "/" + name + ".vt", std::ios::binary);
      once.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string out;
    if (once.empty()) return out;
    while (out.size() < kRecordedBytes) out += once;
    return out;
  }();
  return text;
}

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void run_terminal(benchmark::State& state, std::span<const std::uint8_t> all) {
  if (all.empty()) {
    state.SkipWithError("no input");
    return;
  }
  for (auto _ : state) {
    remote::vt::Terminal terminal(kCols, kRows);
    feed_chunks(all, [&](auto chunk) { terminal.feed(chunk); });
    benchmark::DoNotOptimize(terminal.row(0).data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(all.size()));
}

void run_libvterm(benchmark::State& state, std::span<const std::uint8_t> all) {
  if (all.empty()) {
    state.SkipWithError("no input");
    return;
  }
  for (auto _ : state) {
    VTerm* vt = vterm_new(kRows, kCols);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    vterm_output_set_callback(
        vt, [](const char*, std::size_t, void*) {}, nullptr);
    feed_chunks(all,
                [&](auto chunk) { vterm_input_write(vt, reinterpret_cast<const char*>(chunk.data()), chunk.size()); });
    VTermScreenCell cell;
    vterm_screen_get_cell(screen, VTermPos{0, 0}, &cell);
    benchmark::DoNotOptimize(cell.chars[0]);
    vterm_free(vt);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(all.size()));
}

void BM_TerminalRecordedPrograms(benchmark::State& state) { run_terminal(state, bytes_of(recorded_programs())); }
BENCHMARK(BM_TerminalRecordedPrograms)->Unit(benchmark::kMillisecond);

void BM_LibvtermScreenRecordedPrograms(benchmark::State& state) { run_libvterm(state, bytes_of(recorded_programs())); }
BENCHMARK(BM_LibvtermScreenRecordedPrograms)->Unit(benchmark::kMillisecond);

void BM_TerminalMixedText(benchmark::State& state) { run_terminal(state, input_bytes()); }
BENCHMARK(BM_TerminalMixedText)->Unit(benchmark::kMillisecond);

// The parser alone, to tell its cost from the grid's.
void BM_ParserOnlyMixedText(benchmark::State& state) {
  struct Count : remote::vt::NullPerformer {
    std::size_t n = 0;
    void print(char32_t) { ++n; }
    void print_ascii(std::span<const std::uint8_t> run) { n += run.size(); }
    void execute(std::uint8_t) { ++n; }
    void csi_dispatch(const remote::vt::Params& p, std::span<const std::uint8_t>, bool, char) { n += p.size(); }
  };
  const auto all = input_bytes();
  for (auto _ : state) {
    remote::vt::Parser parser;
    Count count;
    feed_chunks(all, [&](auto chunk) { parser.advance(count, chunk); });
    benchmark::DoNotOptimize(count.n);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(all.size()));
}
BENCHMARK(BM_ParserOnlyMixedText)->Unit(benchmark::kMillisecond);

void BM_LibvtermScreenMixedText(benchmark::State& state) { run_libvterm(state, input_bytes()); }
BENCHMARK(BM_LibvtermScreenMixedText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
