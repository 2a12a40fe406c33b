#include "tests/platform/vesk_callstream/fuzz_decoder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/vesk_callstream/sps_writer.hpp"
#include "tests/platform/vesk_callstream/stream_fixture.hpp"

namespace vesk_callstream::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What an input decoded to, packet by packet: the error, nothing, or the
// picture's size and a hash of its pixels.
std::string outcome(decoder::H264Decoder& decoder, const Bytes& input) {
  std::string out;
  decode_fuzz_input(decoder, input, [&out](const auto& result) {
    if (!result) {
      out += "error " + result.error().message;
    } else if (!*result) {
      out += "nothing";
    } else {
      std::uint64_t hash = 1469598103934665603u;
      for (const std::uint8_t b : (*result)->pixels) {
        hash = (hash ^ b) * 1099511628211u;
      }
      out += std::to_string((*result)->width) + "x" + std::to_string((*result)->height) + " " + std::to_string(hash);
    }
    out += "; ";
  });
  return out;
}

std::string outcome_alone(const Bytes& input) {
  FuzzDecoder decoder;
  return outcome(decoder.restart(), input);
}

Bytes fuzz_input(std::uint8_t packets, const std::vector<Bytes>& parts) {
  Bytes input = {static_cast<std::uint8_t>(packets - 1)};
  for (const Bytes& p : parts) {
    input.insert(input.end(), p.begin(), p.end());
  }
  return input;
}

Bytes with_start_code(const Bytes& nal) {
  // Sized once and filled in place: GCC 12 at -O3 misreads an insert after
  // a four-byte initialiser as an out-of-bounds copy.
  Bytes unit(4 + nal.size());
  unit[3] = 1;
  std::copy(nal.begin(), nal.end(), unit.begin() + 4);
  return unit;
}

Bytes nal_of_type(const Bytes& stream, std::uint8_t type) {
  for (const annexb::NalUnit& nal : annexb::split_nal_units(stream)) {
    if (nal.type() == type) {
      return Bytes(nal.bytes.begin(), nal.bytes.end());
    }
  }
  return {};
}

// Every other byte of the slices' second half inverted.
Bytes corrupted(Bytes stream) {
  for (std::size_t i = stream.size() / 2; i < stream.size(); i += 2) {
    stream[i] = static_cast<std::uint8_t>(~stream[i]);
  }
  return stream;
}

struct Named {
  const char* name;
  Bytes input;
};

class FuzzDecoderRestart : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto frames = encode_bars(64, 64, 4, 0);
    const auto other = encode_bars(80, 48, 3, 0);
    ASSERT_EQ(frames.size(), 4u);
    ASSERT_EQ(other.size(), 3u);
    const Bytes& idr = frames[0].bytes;
    const Bytes sps = nal_of_type(idr, annexb::kNalSps);
    const Bytes pps = nal_of_type(idr, annexb::kNalPps);
    const Bytes slice = nal_of_type(idr, annexb::kNalSliceIdr);
    ASSERT_FALSE(sps.empty() || pps.empty() || slice.empty());

    SpsFields small;
    small.width_mbs_minus1 = 2;
    small.height_map_units_minus1 = 1;
    const Bytes sps3 = with_start_code(with_ue_field(sps, 24, 0, 3));
    const Bytes pps7 = with_start_code(with_ue_field(with_ue_field(pps, 0, 0, 7), 0, 1, 3));
    // first_mb_in_slice, slice_type, then pic_parameter_set_id.
    const Bytes slice7 = with_start_code(with_ue_field(slice, 0, 2, 7));

    predecessors_ = {
        {"a stream of another size", fuzz_input(3, {other[0].bytes, other[1].bytes, other[2].bytes})},
        {"a stream of the same size", fuzz_input(2, {idr, frames[1].bytes})},
        {"parameter sets under other ids", fuzz_input(1, {sps3, pps7})},
        {"id 0 redefined", fuzz_input(1, {make_sps(small)})},
        {"a corrupt stream", fuzz_input(4, {idr, corrupted(frames[1].bytes), frames[2].bytes, frames[3].bytes})},
        {"P frames without their IDR", fuzz_input(2, {frames[2].bytes, frames[3].bytes})},
    };
    inputs_ = {
        {"a whole stream", fuzz_input(4, {frames[0].bytes, frames[1].bytes, frames[2].bytes, frames[3].bytes})},
        {"P frames without their IDR", fuzz_input(3, {frames[1].bytes, frames[2].bytes, frames[3].bytes})},
        {"a slice naming a PPS it does not send", fuzz_input(1, {slice7})},
        {"a corrupt stream", fuzz_input(2, {corrupted(idr), frames[1].bytes})},
        {"an IDR cut short", fuzz_input(1, {Bytes(idr.begin(), idr.begin() + idr.size() / 2)})},
    };
  }
  static std::vector<Named> predecessors_;
  static std::vector<Named> inputs_;
};
std::vector<Named> FuzzDecoderRestart::predecessors_;
std::vector<Named> FuzzDecoderRestart::inputs_;

TEST_F(FuzzDecoderRestart, AnInputDecodesAfterAnyPredecessorAsItDoesAlone) {
  for (const Named& input : inputs_) {
    SCOPED_TRACE(input.name);
    const std::string alone = outcome_alone(input.input);
    FuzzDecoder reused;
    for (const Named& before : predecessors_) {
      SCOPED_TRACE(before.name);
      (void)outcome(reused.restart(), before.input);
      EXPECT_EQ(outcome(reused.restart(), input.input), alone);
    }
  }
}

TEST_F(FuzzDecoderRestart, WithoutTheRestartPredecessorsShowThrough) {
  // The cases above can tell: skipping the restart changes what they decode.
  struct Case {
    std::size_t before, input;
  };
  const Case cases[] = {{2, 2}, {1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(predecessors_[c.before].name);
    FuzzDecoder reused;
    decoder::H264Decoder& decoder = reused.restart();
    (void)outcome(decoder, predecessors_[c.before].input);
    EXPECT_NE(outcome(decoder, inputs_[c.input].input), outcome_alone(inputs_[c.input].input));
  }
}

}  // namespace
}  // namespace vesk_callstream::testing
