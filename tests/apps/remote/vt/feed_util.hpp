#pragma once

// Helpers that feed one byte stream to a consumer in different chunkings, so
// every test also proves that chunk boundaries change nothing.

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace vt_test {

inline std::span<const std::uint8_t> bytes_of(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Chunk sizes for a stream of `n` bytes: one chunk, one byte each, and a
// reproducible random split.
inline std::vector<std::vector<std::size_t>> chunkings(std::size_t n, unsigned seed = 7) {
  std::vector<std::vector<std::size_t>> out;
  out.push_back({n});
  out.emplace_back(n, 1);
  std::mt19937 rng(seed);
  std::vector<std::size_t> random;
  for (std::size_t left = n; left > 0;) {
    const std::size_t k = std::min<std::size_t>(left, 1 + rng() % 5);
    random.push_back(k);
    left -= k;
  }
  out.push_back(random);
  return out;
}

// Calls feed(span) for each chunk of `input` as `sizes` cut it.
template <class Feed>
void feed_in_chunks(std::string_view input, const std::vector<std::size_t>& sizes, Feed&& feed) {
  std::size_t at = 0;
  for (std::size_t k : sizes) {
    feed(bytes_of(input.substr(at, k)));
    at += k;
  }
}

}  // namespace vt_test
