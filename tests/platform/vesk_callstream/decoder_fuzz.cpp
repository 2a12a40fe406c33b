// Feeds arbitrary bytes to the decoder as a short sequence of packets: the
// first byte says how many (1 to 8), the rest is cut into that many chunks.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/vesk_callstream/annexb.hpp"
#include "platform/vesk_callstream/decoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  for (const auto& nal : vesk_callstream::annexb::split_nal_units(input)) {
    (void)vesk_callstream::annexb::parse_sps_size(nal.bytes);
  }
  // A small cap keeps the codec's allocations within the fuzzer's memory limit.
  vesk_callstream::decoder::H264Decoder decoder({1024, 1024, std::size_t{1} << 20});
  const std::size_t packets = 1 + data[0] % 8;
  const std::size_t chunk = input.size() / packets;
  for (std::size_t i = 0; i < packets; ++i) {
    const std::size_t len = i + 1 == packets ? input.size() - i * chunk : chunk;
    auto result = decoder.decode(input.subspan(i * chunk, len));
    if (result && *result) {
      const auto& f = **result;
      if (f.width > 1024 || f.height > 1024 || f.pixels.size() != std::size_t{f.width} * f.height * 4) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
