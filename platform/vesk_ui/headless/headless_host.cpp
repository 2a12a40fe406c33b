#include "platform/vesk_ui/headless/headless_host.hpp"

#include <cmath>

namespace vesk_ui::headless {

HeadlessHost::HeadlessHost(std::unique_ptr<widget::Widget> widget, HeadlessOptions options)
    : options_(options),
      widget_(std::move(widget)),
      document_(std::make_unique<doc::Document>()),
      pango_(std::make_unique<text::PangoTextRenderer>()) {
  if (!(options_.scale > 0.0) || !std::isfinite(options_.scale)) options_.scale = 1.0;
  if (options_.stub_text) {
    stub_ = std::make_unique<text::StubTextRenderer>();
    measure_ = stub_.get();
  } else {
    measure_ = pango_.get();
  }
  host_ = std::make_unique<host::WidgetHost>(*widget_, *measure_);
  host_->set_document(document_.get());
  renderer_ = std::make_unique<render::CairoRenderer>(*pango_);
  host_->layout(options_.width, options_.height);
}

void HeadlessHost::use_device_backend(std::shared_ptr<device_link::DeviceBackend> backend) {
  host_->set_device_link(nullptr);
  link_.reset();
  if (!backend) return;
  link_ = std::make_unique<device_link::DeviceLink>(std::move(backend));
  host_->set_device_link(link_.get());
}

void HeadlessHost::resize(std::uint32_t width, std::uint32_t height) {
  options_.width = width;
  options_.height = height;
  host_->layout(width, height);
}

const scene::Scene& HeadlessHost::paint() { return host_->paint(now_, options_.scale); }

const render::Frame& HeadlessHost::render() {
  const scene::Scene& s = paint();
  const auto pw = static_cast<std::uint32_t>(std::lround(options_.width * options_.scale));
  const auto ph = static_cast<std::uint32_t>(std::lround(options_.height * options_.scale));
  if (!frame_ || frame_->width() != pw || frame_->height() != ph) frame_ = std::make_unique<render::Frame>(pw, ph);
  render::render_frame(*renderer_, s, *frame_, options_.scale, scene::Color::black());
  return *frame_;
}

std::expected<void, std::string> HeadlessHost::write_png(const std::string& path) { return render().write_png(path); }

bool HeadlessHost::send(const event::Event& ev) {
  return host_->dispatch(ev, modifiers_, options_.scale, now_, &clipboard_);
}

bool HeadlessHost::pointer_move(double x, double y) {
  return send(event::PointerMoved{x * options_.scale, y * options_.scale});
}

bool HeadlessHost::press(std::uint32_t button) { return send(event::PointerButton{button, true}); }
bool HeadlessHost::release(std::uint32_t button) { return send(event::PointerButton{button, false}); }

bool HeadlessHost::click(double x, double y, std::uint32_t button) {
  pointer_move(x, y);
  const bool handled = press(button);
  release(button);
  return handled;
}

bool HeadlessHost::wheel_lines(float dx, float dy) { return send(event::Wheel{event::LineDelta{dx, dy}}); }

bool HeadlessHost::wheel_pixels(double dx, double dy) {
  return send(event::Wheel{event::PixelDelta{dx * options_.scale, dy * options_.scale}});
}

bool HeadlessHost::key(const event::Key& k) { return send(k); }

bool HeadlessHost::key_named(event::NamedKey k, std::optional<std::string> code) {
  std::optional<std::string> text;
  if (k == event::NamedKey::Space) text = " ";
  const bool handled = send(event::Key{k, code, text, true, false});
  send(event::Key{k, code, std::nullopt, false, false});
  return handled;
}

bool HeadlessHost::key_char(std::string character, std::optional<std::string> code) {
  const bool handled = send(event::Key{character, code, character, true, false});
  send(event::Key{character, code, std::nullopt, false, false});
  return handled;
}

void HeadlessHost::type_text(const std::string& t) {
  const std::string valid = text::sanitize_utf8(t);
  for (std::size_t i = 0; i < valid.size();) {
    std::size_t n = 1;
    while (i + n < valid.size() && (static_cast<unsigned char>(valid[i + n]) & 0xC0) == 0x80) ++n;
    key_char(valid.substr(i, n));
    i += n;
  }
}

bool HeadlessHost::ime_preedit(std::string t, std::optional<std::size_t> cursor) {
  return send(event::ImePreedit{std::move(t), cursor});
}

bool HeadlessHost::ime_commit(std::string t) { return send(event::ImeCommit{std::move(t)}); }

std::string HeadlessHost::accessibility_json() const { return host::access_tree_json(widget_->accessibility_tree()); }

bool HeadlessHost::perform(const std::string& action_id, access::SemanticAction action) {
  return widget_->perform_semantic_action(action_id, action, host_->document());
}

}  // namespace vesk_ui::headless

#include <fstream>

namespace vesk_ui::headless {

std::expected<void, std::string> render_widget_png(std::unique_ptr<widget::Widget> widget, HeadlessOptions options,
                                                   const std::string& png_path, int settle_frames,
                                                   const std::string& json_path) {
  if (!widget) return std::unexpected(std::string("no widget to render"));
  HeadlessHost host(std::move(widget), options);
  for (int i = 1; i < settle_frames; ++i) {
    host.paint();
    host.advance(std::chrono::milliseconds(100));
  }
  if (auto written = host.write_png(png_path); !written) return written;
  if (!json_path.empty()) {
    std::ofstream out(json_path, std::ios::binary | std::ios::trunc);
    out << host.accessibility_json() << '\n';
    if (!out) return std::unexpected("could not write " + json_path);
  }
  return {};
}

}  // namespace vesk_ui::headless
