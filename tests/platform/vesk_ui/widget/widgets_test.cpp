#include <gtest/gtest.h>

#include "platform/vesk_ui/theme/surface.hpp"
#include "platform/vesk_ui/widget/controls.hpp"
#include "platform/vesk_ui/widget/nav_split.hpp"
#include "platform/vesk_ui/widget/tooltip.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace {

using namespace vesk_ui;
using namespace std::chrono_literals;
using scene::Rect;
using widget::tooltip::TooltipHost;
using widget::tooltip::TooltipRequest;

TEST(TooltipHost, ShowsAfterTheDelayAndAnswersWhetherAnythingChanged) {
  TooltipHost host(500ms);
  const widget::Instant t0{};
  const TooltipRequest nav{"Connections", Rect{12, 72, 52, 112}};
  EXPECT_FALSE(host.tick(t0));
  EXPECT_TRUE(host.on_pointer(nav, t0));
  EXPECT_FALSE(host.on_pointer(nav, t0 + 100ms));  // same request: nothing new, delay not restarted
  EXPECT_TRUE(host.pending());
  EXPECT_FALSE(host.tick(t0 + 499ms));
  EXPECT_TRUE(host.tick(t0 + 500ms));
  EXPECT_TRUE(host.shown());
  EXPECT_FALSE(host.tick(t0 + 600ms));
  // Moving to a neighbour while one is showing shows the new one at once.
  const TooltipRequest add{"Add connection (Ctrl+N)", Rect{12, 128, 52, 168}};
  EXPECT_TRUE(host.on_pointer(add, t0 + 700ms));
  EXPECT_TRUE(host.shown());
  EXPECT_EQ(host.request()->text, "Add connection (Ctrl+N)");
  // Leaving hides it; coming back waits again.
  EXPECT_TRUE(host.on_pointer(std::nullopt, t0 + 800ms));
  EXPECT_FALSE(host.shown());
  EXPECT_FALSE(host.on_pointer(std::nullopt, t0 + 810ms));
  EXPECT_TRUE(host.on_pointer(nav, t0 + 900ms));
  EXPECT_FALSE(host.shown());
  EXPECT_TRUE(host.tick(t0 + 1400ms));
}

TEST(TooltipHost, DismissStaysDismissedUntilThePointerMovesOn) {
  TooltipHost host;
  const widget::Instant t0{};
  const TooltipRequest nav{"Connections", Rect{0, 0, 10, 10}};
  host.on_pointer(nav, t0);
  EXPECT_TRUE(host.dismiss());
  EXPECT_FALSE(host.dismiss());
  EXPECT_FALSE(host.on_pointer(nav, t0 + 1s));  // still over the control just clicked
  EXPECT_FALSE(host.tick(t0 + 2s));
  EXPECT_TRUE(host.on_pointer(std::nullopt, t0 + 3s) || true);
  EXPECT_TRUE(host.on_pointer(nav, t0 + 4s));
  EXPECT_TRUE(host.tick(t0 + 5s));
}

TEST(HoverTooltip, StaysInsideTheWindow) {
  text::StubTextRenderer text;
  tokens::Tokens tokens;
  const Rect window{0, 0, 300, 200};
  struct Case {
    Rect anchor;
    const char* why;
  } cases[] = {
      {Rect{12, 72, 52, 112}, "rail button: to the right"},
      {Rect{250, 10, 298, 40}, "right edge: below"},
      {Rect{250, 170, 298, 199}, "bottom right corner: above"},
      {Rect{-50, -50, -10, -10}, "anchor outside the window"},
  };
  for (const Case& c : cases) {
    scene::Scene s;
    const Rect panel = widget::tooltip::draw_hover_tooltip(s, scene::Affine::identity(), text, tokens, c.anchor,
                                                           "Add connection (Ctrl+N)", window);
    EXPECT_GE(panel.x0, window.x0) << c.why;
    EXPECT_GE(panel.y0, window.y0) << c.why;
    EXPECT_LE(panel.x1, window.x1) << c.why;
    EXPECT_LE(panel.y1, window.y1) << c.why;
    EXPECT_FALSE(s.empty());
  }
  scene::Scene s;
  const Rect rail = widget::tooltip::draw_hover_tooltip(s, scene::Affine::identity(), text, tokens,
                                                        Rect{12, 72, 52, 112}, "Connections", window);
  EXPECT_GT(rail.x0, 52.0);
}

TEST(FlapState, RevealIsLinearAndSlideEasesOut) {
  widget::nav_split::FlapState flap;
  EXPECT_EQ(flap.open, widget::nav_split::FlapOpen::Automatic);
  EXPECT_FALSE(flap.narrow_at_last_layout.has_value());
  struct Case {
    double position, reveal, slide;
  } cases[] = {{0.0, 0.0, 0.0}, {0.5, 0.5, 0.875}, {1.0, 1.0, 1.0}, {-1.0, 0.0, 0.0}, {2.0, 1.0, 1.0}};
  for (const Case& c : cases) {
    flap.position = c.position;
    EXPECT_DOUBLE_EQ(flap.reveal(), c.reveal);
    EXPECT_DOUBLE_EQ(flap.slide(), c.slide);
  }
  flap.position = std::nan("");
  EXPECT_EQ(flap.reveal(), 0.0);
}

TEST(Controls, ButtonStylesAndToggleGroupSelection) {
  text::StubTextRenderer text;
  tokens::Tokens tokens;
  for (std::uint8_t style : {0, 1, 2, 3, 4}) {
    for (bool hovered : {false, true}) {
      scene::Scene s;
      widget::button::Button::paint(s, scene::Affine::identity(), text, tokens,
                                    widget::button::Button{"Save", Rect{0, 0, 100, 40}, style, hovered, 13.0f});
      const std::string dump = s.dump();
      EXPECT_NE(dump.find("text \"Save\" size=13 w=2"), std::string::npos) << dump;
      s.finish();
      EXPECT_TRUE(s.balanced());
    }
  }
  // The primary button is filled with the accent colour.
  scene::Scene primary;
  widget::button::Button{"Connect", Rect{0, 0, 100, 32}, 1, false, 13.0f}.paint(primary, scene::Affine::identity(),
                                                                                text, tokens);
  const auto& fill = std::get<scene::FillCmd>(primary.commands().front());
  EXPECT_EQ(std::get<scene::Color>(fill.brush), tokens.colors.accent);

  widget::toggle_group::ToggleGroup group{
      {Rect{0, 0, 50, 40}, Rect{50, 0, 100, 40}, Rect{100, 0, 150, 40}}, {"SSH", "VNC", "Vesk"}, 1, 2, 8.0, 13.0f};
  scene::Scene s;
  group.paint(s, scene::Affine::identity(), text, tokens);
  const std::string dump = s.dump();
  EXPECT_NE(dump.find("text \"SSH\""), std::string::npos);
  EXPECT_NE(dump.find("text \"Vesk\""), std::string::npos);
  // Nothing selected (index == count) paints no selection outline.
  group.selected = 3;
  scene::Scene none;
  group.paint(none, scene::Affine::identity(), text, tokens);
  EXPECT_LT(none.commands().size(), s.commands().size());
}

TEST(Surfaces, CardPillAndEdges) {
  scene::Scene s;
  const tokens::Colors c = tokens::Colors::dark();
  surface::card(s, scene::Affine::identity(), Rect{10, 10, 0, 0}, c.surface, 12);  // reversed corners are fine
  surface::pill(s, scene::Affine::identity(), Rect{0, 0, 60, 20}, c.success.with_alpha(0.18f), std::nullopt, 0);
  surface::pill(s, scene::Affine::identity(), Rect{0, 0, 60, 20}, c.warning, c.warning, 1);
  ASSERT_EQ(s.commands().size(), 5u);
  const auto& card = std::get<scene::FillCmd>(s.commands()[0]);
  EXPECT_EQ(std::get<scene::RoundedRect>(card.shape), (scene::RoundedRect{Rect{0, 0, 10, 10}, 5}));
  const auto& pill = std::get<scene::FillCmd>(s.commands()[2]);
  EXPECT_EQ(std::get<scene::RoundedRect>(pill.shape).radius, 10.0);
  EXPECT_EQ(std::get<scene::RoundedRect>(surface::edge_outline(Rect{0, 0, 40, 40}, 8)),
            (scene::RoundedRect{Rect{0.5, 0.5, 39.5, 39.5}, 7.5}));
  EXPECT_EQ(surface::edge_on_with(c.surface, 92).to_rgba8().a, 92);
  EXPECT_NE(surface::edge_on(c.surface), c.surface);
  EXPECT_NE(c.lift(0.5f), c.surface);
  EXPECT_EQ(c.lift(0.0f), c.surface);
  const tokens::TerminalPalette p = tokens::TerminalPalette::dark();
  EXPECT_NE(p.foreground, p.background);
  EXPECT_EQ(p.colors.size(), 16u);
}

class FillWidget : public widget::Widget {};

TEST(Layout, DefaultNodeFillsTheWindowAndSetsBounds) {
  widget::LayoutTree tree;
  widget::WidgetNodeMap map;
  FillWidget w;
  const widget::NodeId node = w.build_layout_node(tree, map);
  EXPECT_EQ(map.get(node), &w);
  EXPECT_EQ(tree.style(node)->width, widget::Dimension::percent(1.0f));
  EXPECT_EQ(tree.style(node)->flex_grow, 0.0f);
  EXPECT_EQ(tree.style(node)->flex_shrink, 1.0f);
  tree.compute_layout(node, 1280, 800);
  w.apply_layout(tree, node, 0, 0);
  EXPECT_EQ(w.bounds(), (Rect{0, 0, 1280, 800}));
  tree.compute_layout(node, 719.5f, 600);
  w.apply_layout(tree, node, 10, 20);
  EXPECT_EQ(w.bounds(), (Rect{10, 20, 729.5, 620}));
  // Defaults of the rest of the interface.
  EXPECT_EQ(w.as_device_link_host(), nullptr);
  EXPECT_FALSE(w.needs_redraw());
  std::vector<Rect> damage;
  w.invalidate_if_dirty(damage);
  EXPECT_TRUE(damage.empty());
  EXPECT_TRUE(w.operation_types().empty());
  EXPECT_TRUE(w.take_pending_heads().empty());
  EXPECT_EQ(w.poll_operation({}, false), widget::PollOutcome::no_update());
  EXPECT_EQ(w.accessibility_tree().role, access::Role::Root);
}

}  // namespace
