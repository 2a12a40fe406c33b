#pragma once
// A small widget that exercises the whole drawing surface: shapes, a clip
// layer, text of every weight, an RGBA picture, a text field, and two targets
// that change colour on a click and on the key "k". Used by the headless
// tests and by the real-window acceptance test, so both can compare frames.

#include <cstdint>

#include "platform/vesk_ui/widget/text_input.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace vesk_ui_test {

struct DemoLayout {
  static constexpr vesk_ui::scene::Rect kRed{20, 20, 120, 120};
  static constexpr vesk_ui::scene::Rect kGreen{140, 20, 240, 120};
  static constexpr double kCircleX = 310, kCircleY = 70, kCircleR = 50;  // blue
  static constexpr vesk_ui::scene::Rect kImage{400, 20, 528, 148};       // 64x64 shown at 2x
  static constexpr vesk_ui::scene::Rect kClip{20, 300, 120, 340};        // magenta, clipped
  static constexpr vesk_ui::scene::Rect kClickTarget{400, 200, 500, 280};
  static constexpr vesk_ui::scene::Rect kKeyTarget{520, 200, 620, 280};
  static constexpr vesk_ui::scene::Rect kField{20, 380, 400, 416};
  static constexpr double kTextX = 20, kTextY = 150, kTextStep = 34;
};

// Colours at known points (RGB).
inline constexpr std::uint32_t kBackground = 0x202020;
inline constexpr std::uint32_t kIdle = 0x606060;
inline constexpr std::uint32_t kClicked = 0x00ffff;
inline constexpr std::uint32_t kKeyed = 0xff8000;

class DemoWidget final : public vesk_ui::widget::Widget {
 public:
  DemoWidget();

  std::string_view type_name() const override { return "vesk_ui_test::DemoWidget"; }
  std::string_view widget_name() const override { return "DemoWidget"; }
  void sync_document(vesk_ui::doc::Document& document) override;
  void draw(vesk_ui::scene::Scene& scene, const vesk_ui::scene::Affine& base, vesk_ui::text::TextRenderer& text,
            const vesk_ui::tokens::Tokens& tokens, vesk_ui::widget::PaintContext& paint) override;
  void handle_event(const vesk_ui::event::Event& event, vesk_ui::widget::EventContext& context) override;
  vesk_ui::access::AccessNode accessibility_tree() const override;
  bool perform_semantic_action(std::string_view action_id, const vesk_ui::access::SemanticAction& action,
                               vesk_ui::doc::Document* document) override;
  bool needs_redraw() const override { return redraw_; }
  void clear_redraw() override { redraw_ = false; }

  int clicks() const { return clicks_; }
  int keys() const { return keys_; }
  int syncs() const { return syncs_; }
  const vesk_ui::widget::text_input::TextInput& field() const { return field_; }

 private:
  void click(vesk_ui::doc::Document* document);

  vesk_ui::scene::Image image_;
  vesk_ui::widget::text_input::TextInput field_;
  std::optional<vesk_ui::scene::Point> pointer_;
  int clicks_ = 0;
  int keys_ = 0;
  int syncs_ = 0;
  bool redraw_ = true;
};

// The 64x64 picture: quadrants red, green, blue and white.
vesk_ui::scene::PixelBuffer demo_pixels();

}  // namespace vesk_ui_test
