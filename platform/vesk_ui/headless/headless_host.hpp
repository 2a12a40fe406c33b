#pragma once
// A window without a screen, for tests and review: fixed size and scale, an
// injected clock, events injected in logical pixels, frames rendered to
// pixels or PNG files, and the accessibility tree as data or JSON.

#include <chrono>
#include <expected>
#include <memory>
#include <string>

#include "platform/vesk_ui/device_link/backend.hpp"
#include "platform/vesk_ui/device_link/link.hpp"
#include "platform/vesk_ui/document/document.hpp"
#include "platform/vesk_ui/headless/widget_host.hpp"
#include "platform/vesk_ui/render/cairo_renderer.hpp"
#include "platform/vesk_ui/text/pango_text.hpp"

namespace vesk_ui::headless {

struct HeadlessOptions {
  std::uint32_t width = 1280;  // logical pixels
  std::uint32_t height = 800;
  double scale = 1.0;  // physical pixels per logical pixel
  // Measure with the font-free stub (geometry tests); frames still render
  // their text with Pango.
  bool stub_text = false;
};

class HeadlessHost {
 public:
  // Takes the widget; the host owns an empty document and syncs it before the
  // first frame, as the launcher does with the persisted one.
  explicit HeadlessHost(std::unique_ptr<widget::Widget> widget, HeadlessOptions options = {});

  widget::Widget& widget() { return *widget_; }
  template <class T>
  T& widget_as() {
    return static_cast<T&>(*widget_);
  }
  doc::Document& document() { return *document_; }
  // Uses another document (the host keeps pointing at it; it must outlive the host).
  void use_document(doc::Document& document) { host_->set_document(&document); }
  text::TextRenderer& text() { return *measure_; }
  text::PangoTextRenderer& pango() { return *pango_; }
  widget::MemoryClipboard& clipboard() { return clipboard_; }
  host::WidgetHost& core() { return *host_; }
  const HeadlessOptions& options() const { return options_; }

  // ---- clock ----
  widget::Instant now() const { return now_; }
  void advance(std::chrono::nanoseconds by) { now_ += by; }

  // ---- window ----
  void resize(std::uint32_t width, std::uint32_t height);
  void set_reduced_motion(bool reduced) { widget_->set_reduced_motion(reduced); }

  // ---- device link and loop work ----
  // Runs the device link against `backend` (for example a SimulatedDevice).
  void use_device_backend(std::shared_ptr<device_link::DeviceBackend> backend);
  // What the launcher does each turn between input and painting.
  void tick() { host_->tick(); }

  // ---- frames ----
  // Builds the frame's display list (syncing and laying out first when needed).
  const scene::Scene& paint();
  // paint() and rasterise it at the host's scale.
  const render::Frame& render();
  std::expected<void, std::string> write_png(const std::string& path);
  const render::Frame* last_frame() const { return frame_.get(); }
  bool wants_frame() const { return host_->wants_frame(); }

  // ---- input, logical pixels ----
  bool pointer_move(double x, double y);
  bool press(std::uint32_t button = event::button::kLeft);
  bool release(std::uint32_t button = event::button::kLeft);
  // Move, press, release; answers whether the press was handled.
  bool click(double x, double y, std::uint32_t button = event::button::kLeft);
  bool wheel_lines(float dx, float dy);
  bool wheel_pixels(double dx, double dy);  // logical pixels; delivered as physical
  bool key(const event::Key& key);
  // Press and release of a named key.
  bool key_named(event::NamedKey key, std::optional<std::string> code = std::nullopt);
  // Press and release of a character key (text = the character).
  bool key_char(std::string character, std::optional<std::string> code = std::nullopt);
  // Each code point of `text` as a key press with that text.
  void type_text(const std::string& text);
  bool ime_preedit(std::string text, std::optional<std::size_t> cursor = std::nullopt);
  bool ime_commit(std::string text);
  bool send(const event::Event& ev);
  void set_modifiers(event::Modifiers modifiers) { modifiers_ = modifiers; }

  // ---- accessibility ----
  access::AccessNode accessibility_tree() const { return widget_->accessibility_tree(); }
  std::string accessibility_json() const;
  bool perform(const std::string& action_id, access::SemanticAction action);

 private:
  HeadlessOptions options_;
  std::unique_ptr<widget::Widget> widget_;
  std::unique_ptr<doc::Document> document_;
  std::unique_ptr<text::PangoTextRenderer> pango_;
  std::unique_ptr<text::StubTextRenderer> stub_;
  text::TextRenderer* measure_ = nullptr;
  std::unique_ptr<host::WidgetHost> host_;
  std::unique_ptr<render::CairoRenderer> renderer_;
  std::unique_ptr<render::Frame> frame_;
  std::unique_ptr<device_link::DeviceLink> link_;
  widget::MemoryClipboard clipboard_;
  widget::Instant now_{std::chrono::seconds(1000)};
  event::Modifiers modifiers_;
};

}  // namespace vesk_ui::headless

namespace vesk_ui::headless {

// For review tools: paints `settle_frames` frames 100 ms apart (so animations
// reach their rest), then writes the last one as a PNG and, when
// `json_path` is given, the accessibility tree next to it.
std::expected<void, std::string> render_widget_png(std::unique_ptr<widget::Widget> widget, HeadlessOptions options,
                                                   const std::string& png_path, int settle_frames = 20,
                                                   const std::string& json_path = {});

}  // namespace vesk_ui::headless
