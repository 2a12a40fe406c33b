// Decoding cost per device frame: the full decode of a real stream of the
// simulated device's pattern, and the colour conversion on its own.

#include <benchmark/benchmark.h>

#include <vector>

#include "platform/vesk_callstream/color.hpp"
#include "platform/vesk_callstream/decoder.hpp"
#include "platform/vesk_callstream/encoder.hpp"
#include "platform/vesk_ui/device_link/test_pattern.hpp"

namespace {

using namespace vesk_callstream;
namespace pattern = vesk_ui::device_link::pattern;

std::vector<std::vector<std::uint8_t>> pattern_stream(std::uint32_t w, std::uint32_t h, std::uint32_t frames) {
  auto enc = encoder::H264Encoder::create({w, h, 30.0f, 30, 4'000'000});
  std::vector<std::vector<std::uint8_t>> out;
  if (!enc) return out;
  const auto layout = pattern::layout_for(w, h);
  std::vector<std::uint8_t> rgba(std::size_t{w} * h * 4);
  for (std::uint32_t i = 0; i < frames; ++i) {
    pattern::PatternState s;
    s.frame_number = i;
    s.pointer = std::array<double, 2>{double(i * 3 % w), double(i * 2 % h)};
    pattern::render(s, layout, rgba);
    auto f = enc->encode_rgba(rgba, i * 33);
    if (f) out.push_back(std::move(f->bytes));
  }
  return out;
}

// Whole stream decoded per iteration set; items are frames.
void BM_DecodeStream(benchmark::State& state) {
  const auto w = static_cast<std::uint32_t>(state.range(0));
  const auto h = static_cast<std::uint32_t>(state.range(1));
  const auto stream = pattern_stream(w, h, 60);
  for (auto _ : state) {
    decoder::H264Decoder dec;
    for (const auto& packet : stream) {
      auto f = dec.decode(packet);
      benchmark::DoNotOptimize(f);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_DecodeStream)->Args({640, 360})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

void BM_I420ToRgba(benchmark::State& state) {
  const auto w = static_cast<std::uint32_t>(state.range(0));
  const auto h = static_cast<std::uint32_t>(state.range(1));
  std::vector<std::uint8_t> y(std::size_t{w} * h, 120), u(std::size_t{w} * h / 4, 90), v(std::size_t{w} * h / 4, 200);
  std::vector<std::uint8_t> rgba(std::size_t{w} * h * 4);
  for (auto _ : state) {
    color::i420_to_rgba(color::I420View{y.data(), u.data(), v.data(), w, w / 2, w, h}, rgba);
    benchmark::DoNotOptimize(rgba.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(rgba.size()));
}
BENCHMARK(BM_I420ToRgba)->Args({640, 360})->Args({1920, 1080});

}  // namespace

BENCHMARK_MAIN();
