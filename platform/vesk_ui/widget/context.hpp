#pragma once
// What the framework hands to widgets along with events and paint calls.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/vesk_ui/scene/geometry.hpp"
#include "platform/vesk_ui/widget/event.hpp"

namespace vesk_ui::doc {
class Document;
}
namespace vesk_ui::text {
class TextRenderer;
}

namespace vesk_ui::widget {

using Clock = std::chrono::steady_clock;
using Instant = Clock::time_point;

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual std::optional<std::string> get_text() = 0;
  virtual void set_text(std::string_view text) = 0;
};

// A clipboard inside the process (headless host, tests).
class MemoryClipboard final : public Clipboard {
 public:
  std::optional<std::string> get_text() override { return text_; }
  void set_text(std::string_view text) override { text_ = std::string(text); }

 private:
  std::optional<std::string> text_;
};

struct EventContext {
  event::Modifiers modifiers;
  double scale = 1.0;                 // physical pixels per logical pixel
  doc::Document* document = nullptr;  // the application's document, when one is open
  bool handled = false;               // set by whoever consumes the event
  Instant now = Clock::now();
  // The last pointer position, logical pixels (none before the pointer entered).
  std::optional<scene::Point> pointer;
  // Handed on to text inputs: text measurement for caret placement and the
  // system clipboard.
  text::TextRenderer* text = nullptr;
  Clipboard* clipboard = nullptr;
};

struct PaintContext {
  Instant now = Clock::now();
  bool window_focused = true;
  double scale = 1.0;
};

}  // namespace vesk_ui::widget
