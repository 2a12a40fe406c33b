#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/vesk_ui/text/pango_text.hpp"

namespace {

using namespace vesk_ui::text;
using vesk_ui::scene::Affine;
using vesk_ui::scene::Color;
using vesk_ui::scene::Scene;
using vesk_ui::scene::TextCmd;

TEST(Utf8, InvalidSequencesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"caf\xC3\xA9 \xE2\x80\xA6 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\xA6 \xF0\x9F\x98\x80"},
      {"a\xFFz", "a" + fffd + "z"},
      {"\xC3", fffd},                                   // truncated at the end
      {"\xE2\x82z", fffd + "z"},                        // truncated in the middle
      {"\xC0\xAF", fffd + fffd},                        // overlong slash
      {"\xED\xA0\x80", fffd + fffd + fffd},             // surrogate half
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"\x80\x80", fffd + fffd},
      {std::string("a\0b", 3), "a" + fffd + "b"},
  };
  for (const Case& c : cases) {
    const std::string got = sanitize_utf8(c.in);
    EXPECT_EQ(got, c.out) << "input bytes: " << c.in.size();
    EXPECT_TRUE(is_nul_free_utf8(got));
  }
}

TEST(Utf8, BoundariesAndCounts) {
  const std::string s = "a\xC3\xA9\xE2\x80\xA6";  // a é …
  EXPECT_EQ(count_code_points(s), 3u);
  EXPECT_EQ(floor_char_boundary(s, 2), 1u);
  EXPECT_EQ(floor_char_boundary(s, 4), 3u);
  EXPECT_EQ(floor_char_boundary(s, 99), s.size());
}

class PangoText : public ::testing::Test {
 protected:
  PangoTextRenderer text;
};

TEST_F(PangoText, MonospaceCellIsExactlyPointSixEm) {
  const double natural = text.natural_mono_advance(14.0f);
  EXPECT_NEAR(natural, 8.428, 0.002);  // DejaVu Sans Mono: 1233/2048 em
  // Pango spaces the glyphs, not the ends, and in 1/1024 px steps: every
  // further cell adds 8.4 to within 0.0005, and no glyph of a short run is
  // more than about 0.03 off its cell.
  const TextStyle mono{14.0f, 0, FontFamily::Mono, std::nullopt};
  const double w40 = text.measure_styled(std::string(40, 'x'), mono).width;
  const double w80 = text.measure_styled(std::string(80, 'x'), mono).width;
  EXPECT_NEAR(w80 - w40, 40 * 8.4, 40 * 0.0005);
  EXPECT_NEAR(w80, 80 * 8.4, 0.03 + 80 * 0.0005);
  TextStyle bold = mono;
  bold.weight = 3;
  EXPECT_NEAR(
      text.measure_styled(std::string(20, 'W'), bold).width - text.measure_styled(std::string(10, 'W'), bold).width,
      84.0, 10 * 0.0005);
  for (std::size_t i = 0; i <= 6; ++i) EXPECT_NEAR(text.caret_x("abcdef", mono, i), i * 8.4, 0.035);
}

TEST_F(PangoText, LayoutCacheDropsOneOldEntryAtATimeWhenFull) {
  // A busy terminal fills the cache; it must stay full, not start over.
  const TextStyle mono{14.0f, 0, FontFamily::Mono, std::nullopt};
  std::size_t smallest_after_full = 1u << 30;
  for (int i = 0; i < 4200; ++i) {
    text.measure_styled("line " + std::to_string(i), mono);
    if (i >= 4096) smallest_after_full = std::min(smallest_after_full, text.cached_layouts());
  }
  EXPECT_EQ(text.cached_layouts(), 4096u);
  EXPECT_EQ(smallest_after_full, 4096u);
}

TEST_F(PangoText, WeightsSizesAndWrapping) {
  const TextSize regular = text.measure_weighted("Remote Machines", 16.0f, std::nullopt, 0);
  const TextSize bold = text.measure_weighted("Remote Machines", 16.0f, std::nullopt, 3);
  EXPECT_GT(regular.width, 100.0);
  EXPECT_GT(bold.width, regular.width);
  EXPECT_GT(text.measure("Hg", 22.0f, std::nullopt).height, text.measure("Hg", 11.0f, std::nullopt).height);
  // Fractional metrics: no rounding to whole pixels.
  const double w = text.measure("Connect", 13.0f, std::nullopt).width;
  EXPECT_NE(w, std::round(w));
  const std::string body = "Add one to reach it over SSH, VNC, or the Vesk relay.";
  const TextSize one_line = text.measure(body, 13.5f, std::nullopt);
  const TextSize wrapped = text.measure(body, 13.5f, 120.0);
  EXPECT_LE(wrapped.width, 120.0);
  EXPECT_GT(wrapped.height, 2 * one_line.height);
  // Weight codes above 3 are bold.
  EXPECT_EQ(text.measure_weighted("x", 12.0f, std::nullopt, 9), text.measure_weighted("x", 12.0f, std::nullopt, 3));
}

TEST_F(PangoText, AnyBytesAreSafe) {
  const std::string inputs[] = {
      "",
      "\xFF\xFE\xFD",
      std::string("nul\0inside", 10),
      "\xF0\x9F\x98\x80\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA",  // emoji and a flag
      "e\xCC\x81\xCC\x81\xCC\x81",                         // stacked combining marks
      "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D abc",              // right-to-left and left-to-right
      "\xE4\xB8\xAD\xE6\x96\x87",                          // CJK
      std::string(5000, 'w'),
  };
  Scene scene;
  for (const std::string& s : inputs) {
    const TextSize size = text.measure_weighted(s, 14.0f, 80.0, 2);
    EXPECT_TRUE(std::isfinite(size.width) && std::isfinite(size.height));
    EXPECT_GT(size.height, 0.0);  // even empty text has a line height
    text.draw_text(scene, s, 14.0f, Color::white(), Affine::identity(), std::nullopt);
    for (std::size_t i = 0; i <= s.size() + 2; i += 1 + s.size() / 16) {
      const double x = text.caret_x(s, TextStyle{}, i);
      EXPECT_TRUE(std::isfinite(x));
      EXPECT_LE(text.index_at_x(s, TextStyle{}, x), sanitize_utf8(s).size());
    }
  }
  EXPECT_EQ(text.measure("", 14.0f, std::nullopt).width, 0.0);
  for (const auto& cmd : scene.commands()) {
    EXPECT_TRUE(is_nul_free_utf8(std::get<TextCmd>(cmd).run.text));
  }
  // Nonsense sizes and widths are clamped, not passed to Pango.
  EXPECT_GT(text.measure("x", std::nanf(""), -5.0).height, 0.0);
  EXPECT_GT(text.measure("x", 1e9f, std::nan("")).height, 0.0);
}

TEST_F(PangoText, CaretAndHitTestingAgree) {
  const std::string s = "h\xC3\xA9llo w\xC3\xB6rld";
  const TextStyle style{14.0f, 0, FontFamily::Sans, std::nullopt};
  double last = -1.0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    const double x = text.caret_x(s, style, i);
    EXPECT_GT(x, last);
    last = x;
    EXPECT_EQ(text.index_at_x(s, style, x + 0.3), i) << "index " << i;
  }
  EXPECT_EQ(text.index_at_x(s, style, -10.0), 0u);
  EXPECT_EQ(text.index_at_x(s, style, 1e6), s.size());
}

TEST(StubText, DeterministicGeometry) {
  StubTextRenderer stub;
  EXPECT_EQ(stub.measure("abcd", 10.0f, std::nullopt), (TextSize{20.0, 12.5}));
  EXPECT_EQ(stub.measure("abcdef", 10.0f, 20.0), (TextSize{20.0, 25.0}));  // 4 per line
  EXPECT_EQ(stub.measure("", 10.0f, std::nullopt), (TextSize{0.0, 12.5}));
  EXPECT_EQ(stub.measure_styled("ab", TextStyle{14.0f, 0, FontFamily::Mono, {}}).width, 2 * 8.4);
  EXPECT_EQ(stub.caret_x("a\xC3\xA9z", TextStyle{10.0f, 0, FontFamily::Sans, std::nullopt}, 3), 10.0);
  EXPECT_EQ(stub.index_at_x("a\xC3\xA9z", TextStyle{10.0f, 0, FontFamily::Sans, std::nullopt}, 9.0), 3u);

  // Enlarged text: sizes grow by the scale factor, wrap widths stay.
  StubTextRenderer big(1.5);
  EXPECT_EQ(big.measure("abcd", 10.0f, std::nullopt), (TextSize{30.0, 18.75}));
  EXPECT_EQ(big.measure("abcdef", 10.0f, 30.0).height, 2 * 18.75);
  Scene s;
  big.draw_text(s, "ab", 10.0f, Color::white(), Affine::identity(), std::nullopt);
  EXPECT_EQ(std::get<TextCmd>(s.commands().front()).run.size, 15.0f);
}

}  // namespace
