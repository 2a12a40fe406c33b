#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/platform/vesk_ui/support/demo_widget.hpp"

namespace {

using namespace vesk_ui;
using vesk_ui_test::DemoLayout;
using vesk_ui_test::DemoWidget;

scene::Rgba8 rgb(std::uint32_t hex) {
  return scene::Rgba8{static_cast<std::uint8_t>(hex >> 16), static_cast<std::uint8_t>(hex >> 8),
                      static_cast<std::uint8_t>(hex), 255};
}

::testing::AssertionResult near(scene::Rgba8 got, scene::Rgba8 want) {
  auto d = [](int a, int b) { return std::abs(a - b); };
  if (d(got.r, want.r) <= 3 && d(got.g, want.g) <= 3 && d(got.b, want.b) <= 3) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << int(got.r) << "," << int(got.g) << "," << int(got.b) << " want "
                                       << int(want.r) << "," << int(want.g) << "," << int(want.b);
}

// Known points of the demo frame, logical pixels.
struct Probe {
  double x, y;
  std::uint32_t rgb;
  const char* what;
};
constexpr Probe kProbes[] = {
    {5, 5, vesk_ui_test::kBackground, "background"},
    {70, 70, 0xff0000, "rectangle"},
    {190, 70, 0x00ff00, "rounded rectangle"},
    {142, 22, vesk_ui_test::kBackground, "rounded corner cut away"},
    {310, 70, 0x0000ff, "circle"},
    {430, 50, 0xff0000, "image, red quadrant"},
    {500, 50, 0x00ff00, "image, green quadrant"},
    {430, 120, 0x0000ff, "image, blue quadrant"},
    {500, 120, 0xffffff, "image, white quadrant"},
    {70, 320, 0xff00ff, "inside the clip"},
    {200, 320, vesk_ui_test::kBackground, "outside the clip"},
    {290, 320, 0xffff00, "path"},
};

TEST(HeadlessHost, RendersTheDemoAtKnownPointsAndAtScaleTwo) {
  for (double scale : {1.0, 2.0}) {
    headless::HeadlessHost host(std::make_unique<DemoWidget>(), {640, 480, scale, false});
    const render::Frame& frame = host.render();
    EXPECT_EQ(frame.width(), static_cast<std::uint32_t>(640 * scale));
    for (const Probe& p : kProbes) {
      EXPECT_TRUE(near(frame.pixel(static_cast<std::uint32_t>(p.x * scale), static_cast<std::uint32_t>(p.y * scale)),
                       rgb(p.rgb)))
          << p.what << " at scale " << scale;
    }
    // Each weight's line has lit glyph pixels.
    for (int w = 0; w < 4; ++w) {
      int lit = 0;
      const double y0 = DemoLayout::kTextY + DemoLayout::kTextStep * w;
      for (double y = y0; y < y0 + 24; y += 1) {
        for (double x = 20; x < 220; x += 1) {
          lit += frame.pixel(static_cast<std::uint32_t>(x * scale), static_cast<std::uint32_t>(y * scale)).r > 200;
        }
      }
      EXPECT_GT(lit, 150) << "weight " << w;
    }
  }
}

TEST(HeadlessHost, ClickKeyAndSemanticActionReachTheWidget) {
  headless::HeadlessHost host(std::make_unique<DemoWidget>(), {640, 480, 1.0, false});
  auto& demo = host.widget_as<DemoWidget>();
  host.render();
  EXPECT_FALSE(host.wants_frame());
  EXPECT_FALSE(host.click(10, 10));
  EXPECT_TRUE(host.click(450, 240));
  EXPECT_TRUE(host.wants_frame());
  EXPECT_TRUE(host.key_char("k", "KeyK"));
  EXPECT_TRUE(near(host.render().pixel(450, 240), rgb(vesk_ui_test::kClicked)));
  EXPECT_TRUE(near(host.last_frame()->pixel(570, 240), rgb(vesk_ui_test::kKeyed)));
  if (const char* out = std::getenv("VESK_UI_TEST_PNG")) {
    ASSERT_TRUE(host.last_frame()->write_png(out).has_value());
  }
  EXPECT_TRUE(host.perform("demo.click", access::SemanticAction{access::ActionKind::Activate, {}}));
  EXPECT_FALSE(host.perform("demo.click", access::SemanticAction{access::ActionKind::Toggle, {}}));
  EXPECT_EQ(demo.clicks(), 2);
  EXPECT_EQ(demo.keys(), 1);
  // The click was written into the host's document.
  auto stored = host.document().get(doc::ObjId::root(), "demo.clicks");
  ASSERT_TRUE(stored.has_value() && stored->has_value());
  EXPECT_EQ(*(*stored)->as_scalar(), doc::Scalar::int_(2));
}

TEST(HeadlessHost, TypingIntoTheFieldWithPointerAndKeys) {
  headless::HeadlessHost host(std::make_unique<DemoWidget>(), {640, 480, 2.0, false});
  auto& demo = host.widget_as<DemoWidget>();
  host.paint();
  host.click(100, 398);  // focuses the field; positions are logical, delivered as physical
  ASSERT_TRUE(demo.field().is_focused());
  host.type_text("h\xC3\xA9llo k");
  host.key_named(event::NamedKey::Backspace);
  host.ime_preedit("wo", 2);
  host.ime_commit("world");
  EXPECT_EQ(demo.field().text(), "h\xC3\xA9llo world");
  EXPECT_EQ(demo.keys(), 0);  // "k" went to the focused field
  host.set_modifiers(event::Modifiers{false, true, false, false});
  host.key_char("a");
  host.key_char("c");
  host.set_modifiers({});
  EXPECT_EQ(host.clipboard().get_text(), "h\xC3\xA9llo world");
  const nlohmann::json tree = nlohmann::json::parse(host.accessibility_json());
  EXPECT_EQ(tree["role"], "root");
  EXPECT_EQ(tree["children"][0]["action_id"], "demo.click");
  EXPECT_EQ(tree["children"][0]["bounds"], nlohmann::json({400.0, 200.0, 500.0, 280.0}));
  EXPECT_EQ(tree["children"][1]["value"], "h\xC3\xA9llo world");
  EXPECT_EQ(tree["children"][1]["focused"], true);
  EXPECT_TRUE(host.perform("demo.field", access::SemanticAction{access::ActionKind::SetValue, "bad \xFF"}));
  EXPECT_EQ(demo.field().text(), "bad \xEF\xBF\xBD");
}

TEST(HeadlessHost, SyncsBeforeTheFirstFrameAndThenOnlyWhenTheDocumentChanges) {
  headless::HeadlessHost host(std::make_unique<DemoWidget>(), {640, 480, 1.0, true});
  auto& demo = host.widget_as<DemoWidget>();
  EXPECT_EQ(demo.syncs(), 0);
  host.paint();
  EXPECT_EQ(demo.syncs(), 1);
  host.paint();
  host.paint();
  EXPECT_EQ(demo.syncs(), 1);
  (void)host.document().put(doc::ObjId::root(), "other", doc::Scalar::str("x"));
  host.paint();
  EXPECT_EQ(demo.syncs(), 2);
}

// Whether a frame was asked for decides whether the accessibility tree may
// have changed, even when the picture did not.
TEST(HeadlessHost, FramesTellWhetherTheyWereAskedFor) {
  headless::HeadlessHost host(std::make_unique<DemoWidget>(), {640, 480, 1.0, true});
  host.paint();
  EXPECT_TRUE(host.core().last_frame_requested()) << "the first frame";
  host.paint();
  EXPECT_FALSE(host.core().last_frame_requested()) << "nothing asked for";
  (void)host.document().put(doc::ObjId::root(), "other", doc::Scalar::str("y"));
  host.paint();
  EXPECT_TRUE(host.core().last_frame_requested()) << "a document change synced";
  host.paint();
  host.key_char("k");
  host.paint();
  EXPECT_TRUE(host.core().last_frame_requested()) << "a redraw after a key";
}

TEST(HeadlessHost, ReviewPngAndTree) {
  const std::string png = ::testing::TempDir() + "/vesk_ui_review.png";
  const std::string json = ::testing::TempDir() + "/vesk_ui_review.json";
  ASSERT_TRUE(headless::render_widget_png(std::make_unique<DemoWidget>(), {640, 480, 1.0, false}, png, 3, json));
  EXPECT_FALSE(headless::render_widget_png(std::make_unique<DemoWidget>(), {}, "/nonexistent-dir/x.png", 1));
  EXPECT_FALSE(headless::render_widget_png(nullptr, {}, png));
}

TEST(HeadlessHost, SameDrawingGivesTheSameDisplayList) {
  auto run = [](double scale) {
    headless::HeadlessHost host(std::make_unique<DemoWidget>(), {640, 480, scale, false});
    host.click(450, 240);
    host.key_char("k");
    return host.paint().dump();
  };
  std::string a = run(1.0);
  std::string b = run(2.0);  // the list is in logical pixels: the scale is the backend's
  // Each host made its own picture, so only the image ids differ.
  auto strip_ids = [](std::string s) {
    for (std::size_t at = s.find("image#"); at != std::string::npos; at = s.find("image#", at + 6)) {
      std::size_t end = at + 6;
      while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]))) ++end;
      s.erase(at + 6, end - (at + 6));
    }
    return s;
  };
  EXPECT_EQ(strip_ids(a), strip_ids(b));
  EXPECT_NE(a.find("text \"Weight 3 \xE2\x80\x94 Remote\" size=20 w=3"), std::string::npos);
}

}  // namespace

namespace {

// A painter that forgets to close its clip layer.
class LeakyClipWidget final : public vesk_ui::widget::Widget {
 public:
  void draw(vesk_ui::scene::Scene& s, const vesk_ui::scene::Affine& base, vesk_ui::text::TextRenderer&,
            const vesk_ui::tokens::Tokens&, vesk_ui::widget::PaintContext&) override {
    s.push_layer(vesk_ui::scene::BlendMode::Normal, 1.0f, base, vesk_ui::scene::Rect{0, 0, 10, 10});
    s.fill(base, vesk_ui::scene::Color::white(), vesk_ui::scene::Rect{0, 0, 100, 100});
  }
};

TEST(HeadlessHostDeathTest, AnUnbalancedFrameIsCaughtInDebugBuilds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  vesk_ui::headless::HeadlessHost host(std::make_unique<LeakyClipWidget>(), {64, 64, 1.0, true});
  EXPECT_DEBUG_DEATH(host.paint(), "clip layers still open");
#ifdef NDEBUG
  EXPECT_TRUE(host.core().scene().balanced());  // release builds close the layer and go on
#endif
}

}  // namespace
