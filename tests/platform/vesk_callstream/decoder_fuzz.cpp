// Feeds arbitrary bytes to the decoder as a short sequence of packets (see
// fuzz_decoder.hpp), reusing one decoder restarted before each input.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/vesk_callstream/annexb.hpp"
#include "platform/vesk_callstream/decoder.hpp"
#include "tests/platform/vesk_callstream/fuzz_decoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data, size);
  for (const auto& nal : vesk_callstream::annexb::split_nal_units(bytes.subspan(1))) {
    (void)vesk_callstream::annexb::parse_sps_size(nal.bytes);
  }
  static vesk_callstream::testing::FuzzDecoder decoder;
  const auto limits = vesk_callstream::testing::kFuzzLimits;
  vesk_callstream::testing::decode_fuzz_input(decoder.restart(), bytes, [&limits](const auto& result) {
    if (result && *result) {
      const auto& f = **result;
      if (f.width > limits.max_width || f.height > limits.max_height ||
          f.pixels.size() != std::size_t{f.width} * f.height * 4) {
        __builtin_trap();
      }
    }
  });
  return 0;
}
