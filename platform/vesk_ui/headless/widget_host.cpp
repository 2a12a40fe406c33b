#include "platform/vesk_ui/headless/widget_host.hpp"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/vesk_ui/device_link/link.hpp"

namespace vesk_ui::host {

WidgetHost::WidgetHost(widget::Widget& widget, text::TextRenderer& text, tokens::Tokens tokens)
    : widget_(widget), text_(text), tokens_(tokens) {}

void WidgetHost::set_document(doc::Document* document) {
  document_ = document;
  synced_heads_.reset();
}

void WidgetHost::layout(double width, double height) {
  width_ = std::max(0.0, width);
  height_ = std::max(0.0, height);
  if (!node_) node_ = widget_.build_layout_node(tree_, map_);
  tree_.compute_layout(*node_, static_cast<float>(width_), static_cast<float>(height_));
  widget_.apply_layout(tree_, *node_, 0.0, 0.0);
}

bool WidgetHost::sync_if_needed() {
  if (!document_) return false;
  std::vector<doc::ChangeHash> heads = document_->get_heads();
  if (synced_heads_ && *synced_heads_ == heads) return false;
  widget_.sync_document(*document_);
  // Heads after the sync: a widget that seeds the document is not synced again
  // for its own writes.
  synced_heads_ = document_->get_heads();
  return true;
}

bool WidgetHost::wants_frame() const { return widget_.needs_redraw() || widget_.wants_animation_frame(); }

const scene::Scene& WidgetHost::paint(widget::Instant now, double scale, bool window_focused) {
  if (!node_) layout(width_, height_);
  const bool synced = sync_if_needed();
  last_frame_requested_ = synced || widget_.needs_redraw();
  widget_.clear_redraw();
  scene_.reset();
  widget::PaintContext paint{now, window_focused, scale};
  widget_.draw_entry(scene_, scene::Affine::identity(), text_, tokens_, paint);
  scene_.finish();
  ++frames_;
  return scene_;
}

bool WidgetHost::dispatch(const event::Event& ev, const event::Modifiers& modifiers, double scale, widget::Instant now,
                          widget::Clipboard* clipboard) {
  const double s = scale > 0.0 ? scale : 1.0;
  if (const auto* moved = std::get_if<event::PointerMoved>(&ev)) {
    pointer_ = scene::Point{moved->x / s, moved->y / s};
  } else if (std::holds_alternative<event::PointerLeft>(ev)) {
    pointer_.reset();
  }
  widget::EventContext ctx;
  ctx.modifiers = modifiers;
  ctx.scale = s;
  ctx.document = document_;
  ctx.now = now;
  ctx.pointer = pointer_;
  ctx.text = &text_;
  ctx.clipboard = clipboard;
  widget_.handle_event(ev, ctx);
  return ctx.handled;
}

void WidgetHost::tick() {
  if (link_) {
    if (device_link::DeviceLinkHost* host = widget_.as_device_link_host()) link_->tick(*host);
  }
  poll_operations();
  sync_if_needed();
}

widget::StartOutcome WidgetHost::start_operation(const widget::OperationHandle& handle,
                                                 vesk_actions::OperationKind kind,
                                                 const vesk_actions::EncodedAction& encoded) {
  widget::StartOutcome out = widget_.start_operation(handle, kind, encoded);
  if (out.kind == widget::StartOutcome::Kind::Pending &&
      std::find(in_flight_.begin(), in_flight_.end(), handle) == in_flight_.end()) {
    in_flight_.push_back(handle);
  }
  return out;
}

void WidgetHost::poll_operations() {
  for (auto it = in_flight_.begin(); it != in_flight_.end();) {
    widget::PollOutcome out = widget_.poll_operation(*it, false);
    if (out.kind == widget::PollOutcome::Kind::NoUpdate) {
      ++it;
      continue;
    }
    it = in_flight_.erase(it);
    if (on_operation_settled) on_operation_settled(out);
  }
}

void WidgetHost::cancel_operation(const widget::OperationHandle& handle) {
  auto it = std::find(in_flight_.begin(), in_flight_.end(), handle);
  if (it == in_flight_.end()) return;
  widget::PollOutcome out = widget_.poll_operation(handle, true);
  if (out.kind == widget::PollOutcome::Kind::NoUpdate) return;
  in_flight_.erase(it);
  if (on_operation_settled) on_operation_settled(out);
}

namespace {

nlohmann::ordered_json node_json(const access::AccessNode& n, int depth) {
  nlohmann::ordered_json j;
  j["role"] = access::role_name(n.role);
  j["role_code"] = static_cast<int>(n.role);
  if (n.label) j["label"] = *n.label;
  if (n.description) j["description"] = *n.description;
  if (n.value) j["value"] = *n.value;
  if (n.id) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(*n.id));
    j["id"] = buf;
  }
  if (n.action_id) j["action_id"] = *n.action_id;
  if (n.bounds) j["bounds"] = {n.bounds->x0, n.bounds->y0, n.bounds->x1, n.bounds->y1};
  if (n.set_size) j["set_size"] = *n.set_size;
  if (n.position_in_set) j["position_in_set"] = *n.position_in_set;
  if (n.focused) j["focused"] = true;
  if (n.selected) j["selected"] = true;
  if (n.toggled) j["toggled"] = *n.toggled;
  if (n.expanded) j["expanded"] = *n.expanded;
  if (n.modal) j["modal"] = true;
  j["text_marker"] = n.text_marker;
  if (!n.children.empty() && depth < 512) {
    nlohmann::ordered_json kids = nlohmann::ordered_json::array();
    for (const access::AccessNode& c : n.children) kids.push_back(node_json(c, depth + 1));
    j["children"] = std::move(kids);
  }
  return j;
}

}  // namespace

std::string access_tree_json(const access::AccessNode& root) {
  // Labels come from the application; replace what is not UTF-8 rather than
  // let the writer throw.
  return node_json(root, 0).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace vesk_ui::host
