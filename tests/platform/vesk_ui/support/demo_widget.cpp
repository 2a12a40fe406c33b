#include "tests/platform/vesk_ui/support/demo_widget.hpp"

#include "platform/vesk_ui/document/document.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"

namespace vesk_ui_test {

using namespace vesk_ui;
using scene::Affine;
using scene::Color;
using scene::Rect;

scene::PixelBuffer demo_pixels() {
  auto px = std::make_shared<std::vector<std::uint8_t>>(64 * 64 * 4);
  for (std::uint32_t y = 0; y < 64; ++y) {
    for (std::uint32_t x = 0; x < 64; ++x) {
      std::uint8_t* p = &(*px)[(y * 64 + x) * 4];
      const bool right = x >= 32;
      const bool bottom = y >= 32;
      p[0] = (!right && !bottom) || (right && bottom) ? 255 : 0;
      p[1] = (right && !bottom) || (right && bottom) ? 255 : 0;
      p[2] = (!right && bottom) || (right && bottom) ? 255 : 0;
      p[3] = 255;
    }
  }
  return px;
}

DemoWidget::DemoWidget()
    : image_(scene::Image::from_rgba(demo_pixels(), 64, 64)),
      field_(widget::text_input::TextInput::local().with_placeholder("type here").with_text_size(16.0f)) {}

void DemoWidget::sync_document(doc::Document& document) {
  ++syncs_;
  (void)document;
}

void DemoWidget::click(doc::Document* document) {
  ++clicks_;
  redraw_ = true;
  if (document) {
    // The launcher saves on quit; the test reads this back.
    (void)document->put(doc::ObjId::root(), "demo.clicks", doc::Scalar::int_(clicks_));
    document->commit("demo click");
  }
}

void DemoWidget::draw(scene::Scene& s, const Affine& base, text::TextRenderer& text, const tokens::Tokens& tokens,
                      widget::PaintContext& paint) {
  using L = DemoLayout;
  const Rect window = bounds();
  s.fill(base, Color::from_hex(kBackground), window);
  s.fill(base, Color::from_hex(0xff0000), L::kRed);
  s.fill(base, Color::from_hex(0x00ff00), scene::RoundedRect{L::kGreen, 16});
  s.fill(base, Color::from_hex(0x0000ff), scene::Circle{{L::kCircleX, L::kCircleY}, L::kCircleR});
  s.stroke(scene::StrokeStyle::of_width(4), base, Color::white(), scene::Line{{20, 136}, {360, 136}});
  scene::Path tri;
  tri.move_to({250, 300}).line_to({330, 300}).line_to({290, 360}).close();
  s.fill(base, Color::from_hex(0xffff00), tri);

  // Pictures are shown crisp (nearest) so screenshot colours are exact.
  scene::ImageBrush brush{image_, Affine::scale(2.0), scene::ImageQuality::Low};
  s.fill(base * Affine::translate(L::kImage.x0, L::kImage.y0), brush, Rect{0, 0, 128, 128});

  s.push_layer(scene::BlendMode::Normal, 1.0f, base, L::kClip);
  s.fill(base, Color::from_hex(0xff00ff), Rect{0, 280, 240, 360});
  s.pop_layer();

  for (std::uint8_t w = 0; w < 4; ++w) {
    const std::string label = "Weight " + std::to_string(w) + " \xE2\x80\x94 Remote";
    text.draw_text_weighted(s, label, 20.0f, Color::white(),
                            base * Affine::translate(L::kTextX, L::kTextY + L::kTextStep * w), std::nullopt, w);
  }
  text.draw_text_styled(s, "mono 14: 0123456789", text::TextStyle{14.0f, 0, text::FontFamily::Mono, std::nullopt},
                        Color::white(), base * Affine::translate(20, 350));

  s.fill(base, Color::from_hex(clicks_ > 0 ? kClicked : kIdle), L::kClickTarget);
  s.fill(base, Color::from_hex(keys_ > 0 ? kKeyed : kIdle), L::kKeyTarget);

  s.fill(base, tokens.colors.surface, L::kField);
  field_.apply_layout_external(L::kField.inset(8));
  field_.draw(s, base, text, tokens, paint);
}

void DemoWidget::handle_event(const event::Event& ev, widget::EventContext& ctx) {
  if (const auto* m = std::get_if<event::PointerMoved>(&ev))
    pointer_ = scene::Point{m->x / ctx.scale, m->y / ctx.scale};
  if (const auto* b = std::get_if<event::PointerButton>(&ev)) {
    if (b->pressed && b->button == event::button::kLeft && pointer_) {
      if (DemoLayout::kClickTarget.contains(*pointer_)) {
        click(ctx.document);
        ctx.handled = true;
        return;
      }
      field_.set_focused(DemoLayout::kField.contains(*pointer_));
      redraw_ = true;
    }
  }
  if (const auto* k = std::get_if<event::Key>(&ev)) {
    const std::string* ch = k->character();
    if (k->pressed && !field_.is_focused() && ch && *ch == "k") {
      ++keys_;
      redraw_ = true;
      ctx.handled = true;
      return;
    }
  }
  if (field_.handle_event(ev, ctx)) redraw_ = true;
}

access::AccessNode DemoWidget::accessibility_tree() const {
  access::AccessNode root;
  root.role = access::Role::Root;
  root.label = "Demo";
  root.bounds = bounds();
  access::AccessNode target;
  target.role = access::Role::Button;
  target.label = "Click target";
  target.action_id = "demo.click";
  target.id = access::node_id("demo.click");
  target.bounds = DemoLayout::kClickTarget;
  access::AccessNode field;
  field.role = access::Role::TextInput;
  field.label = "Field";
  field.value = field_.text();
  field.action_id = "demo.field";
  field.id = access::node_id("demo.field");
  field.focused = field_.is_focused();
  return std::move(root).with_children({target, field});
}

bool DemoWidget::perform_semantic_action(std::string_view id, const access::SemanticAction& action,
                                         doc::Document* document) {
  if (id == "demo.click" && action.kind == access::ActionKind::Activate) {
    click(document);
    return true;
  }
  if (id == "demo.field" && action.kind == access::ActionKind::SetValue && action.value) {
    field_.set_text(*action.value);
    redraw_ = true;
    return true;
  }
  return false;
}

}  // namespace vesk_ui_test
