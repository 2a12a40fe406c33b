#pragma once
// Stateless controls painted from a description: buttons and segmented
// toggle groups. Hit testing stays with the caller.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/vesk_ui/scene/scene.hpp"
#include "platform/vesk_ui/text/text_renderer.hpp"
#include "platform/vesk_ui/theme/tokens.hpp"

namespace vesk_ui::widget::button {

// Style codes: 0 neutral, 1 primary (accent), 2 destructive (solid danger),
// 3 quiet (no fill until hovered), 4 destructive outline.
inline constexpr std::uint8_t kNeutral = 0;
inline constexpr std::uint8_t kPrimary = 1;
inline constexpr std::uint8_t kDestructive = 2;
inline constexpr std::uint8_t kQuiet = 3;
inline constexpr std::uint8_t kDestructiveOutline = 4;

struct Button {
  std::string label;
  scene::Rect rect;
  std::uint8_t style = kNeutral;
  bool hovered = false;
  float text_size = 13.0f;

  void paint(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
             const tokens::Tokens& tokens) const;
  static void paint(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                    const tokens::Tokens& tokens, const Button& button) {
    button.paint(scene, transform, text, tokens);
  }
};

}  // namespace vesk_ui::widget::button

namespace vesk_ui::widget::toggle_group {

struct ToggleGroup {
  std::vector<scene::Rect> segments;
  std::vector<std::string> labels;  // one per segment; missing labels are empty
  // Index of the selected segment; segments.size() (or more) selects none.
  std::size_t selected = 0;
  std::optional<std::size_t> hovered;
  double corner_radius = 8.0;
  float label_size = 13.0f;

  void paint(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
             const tokens::Tokens& tokens) const;
  static void paint(scene::Scene& scene, const scene::Affine& transform, text::TextRenderer& text,
                    const tokens::Tokens& tokens, const ToggleGroup& group) {
    group.paint(scene, transform, text, tokens);
  }
};

}  // namespace vesk_ui::widget::toggle_group
