#include "platform/vesk_callstream/annexb.hpp"

#include <gtest/gtest.h>

#include "tests/platform/vesk_callstream/sps_writer.hpp"
#include "tests/platform/vesk_callstream/stream_fixture.hpp"

namespace vesk_callstream::annexb {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(AnnexB, SplitsUnitsOnBothStartCodeForms) {
  struct Case {
    const char* name;
    Bytes stream;
    std::vector<Bytes> units;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"no start code", {0x65, 1, 2}, {}},
      {"three-byte", {0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 2}, {{0x67, 1}, {0x68, 2}}},
      {"four-byte", {0, 0, 0, 1, 0x65, 9, 0, 0, 0, 1, 0x41}, {{0x65, 9}, {0x41}}},
      {"leading junk and trailing zeros", {7, 7, 0, 0, 1, 0x41, 5, 0, 0}, {{0x41, 5}}},
      {"empty unit between start codes", {0, 0, 1, 0, 0, 1, 0x41}, {{0x41}}},
      {"start code at the very end", {0, 0, 1, 0x41, 0, 0, 1}, {{0x41}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto units = split_nal_units(c.stream);
    ASSERT_EQ(units.size(), c.units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
      EXPECT_EQ(Bytes(units[i].bytes.begin(), units[i].bytes.end()), c.units[i]);
    }
  }
}

TEST(AnnexB, FindsIdrOnlyInIntraAccessUnits) {
  const auto frames = testing::encode_bars(320, 180, 12, 10);
  ASSERT_EQ(frames.size(), 12u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].idr, i % 10 == 0);
    EXPECT_EQ(contains_idr(frames[i].bytes), frames[i].idr);
  }
}

TEST(AnnexB, ReadsPictureSizeFromEncoderParameterSets) {
  // Heights that are not whole macroblocks exercise the cropping fields.
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{16, 16}, {320, 180}, {640, 360}, {1280, 720}, {322, 182}};
  for (auto [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const auto frames = testing::encode_bars(w, h, 1, 30);
    ASSERT_EQ(frames.size(), 1u);
    std::optional<SpsSize> size;
    for (const NalUnit& nal : split_nal_units(frames[0].bytes)) {
      if (nal.type() == kNalSps) size = parse_sps_size(nal.bytes);
    }
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, w);
    EXPECT_EQ(size->height, h);
  }
}

TEST(AnnexB, ReadsHandMadeParameterSets) {
  struct Case {
    const char* name;
    testing::SpsFields fields;
    std::optional<SpsSize> expected;
  };
  const Case cases[] = {
      {"baseline 320x240", {}, SpsSize{320, 240}},
      {"field coding doubles the height", {.frame_mbs_only = false}, SpsSize{320, 480}},
      {"cropping", {.crop = true, .crop_right = 4, .crop_bottom = 4}, SpsSize{312, 232}},
      {"high profile with a scaling list", {.profile_idc = 100, .scaling_matrix = true}, SpsSize{320, 240}},
      {"largest width in the format", {.width_mbs_minus1 = 0xfffffffe}, SpsSize{0xffffffffull * 16, 240}},
      {"width wider than 32 bits of exp-Golomb", {.width_mbs_minus1 = 0x1ffffffffull}, std::nullopt},
      {"cropping everything away", {.crop = true, .crop_right = 160}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto nal = testing::make_sps(c.fields);
    const auto units = split_nal_units(nal);
    ASSERT_EQ(units.size(), 1u);
    const auto size = parse_sps_size(units[0].bytes);
    ASSERT_EQ(size.has_value(), c.expected.has_value());
    if (size) {
      EXPECT_EQ(size->width, c.expected->width);
      EXPECT_EQ(size->height, c.expected->height);
    }
  }
}

TEST(AnnexB, RejectsTruncatedParameterSets) {
  const auto nal = testing::make_sps({});
  const auto full = split_nal_units(nal)[0].bytes;
  ASSERT_TRUE(parse_sps_size(full));
  // Every cut that loses the size fields fails instead of reading past the end.
  for (std::size_t len = 0; len + 2 < full.size(); ++len) {
    SCOPED_TRACE(len);
    EXPECT_FALSE(parse_sps_size(full.first(len)).has_value());
  }
}

}  // namespace
}  // namespace vesk_callstream::annexb
