#pragma once
// Publishes a widget's accessibility tree as ATK objects (and, through
// atk-bridge, on the desktop accessibility bus): one object per node, kept by
// the node's key from frame to frame. After a painted frame the tree is built
// again and only what differs is published and signalled. A request from
// assistive technology becomes the widget's semantic action at once, while
// the bus call waits, so its answer is whether the widget handled it. Bus
// calls are dispatched by the UI loop between its turns (as the action bus's
// are), never while the widget is in the middle of something else.
//
// Everything here runs on the UI thread.

#include <atk/atk.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/vesk_ui/accessibility/atk_node.hpp"
#include "platform/vesk_ui/accessibility/flat_tree.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace vesk_ui::accessibility {

// Publications at most this often while frames keep coming, so a tree that is
// costly to build never takes every frame.
inline constexpr std::chrono::milliseconds kMinPublishInterval{100};
// The loop's longest wait while a publication is pending.
inline constexpr int kBridgeIdleWaitMs = 50;

class Publisher final : public NodeSource {
 public:
  using Clock = std::chrono::steady_clock;

  // `fallback_name` names the application until the tree's root has a label.
  explicit Publisher(std::string fallback_name);
  ~Publisher();
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  // Enables atk-bridge when an accessibility bus is reachable; without one
  // logs one warning and stays a local publisher. The bridge connects at the
  // first publication, once the tree has a root.
  bool enable_bridge();
  bool bridge_wanted() const { return bridge_wanted_; }
  // Publishes in turn() without any bus (tests and tools).
  void serve_without_bridge() { serving_ = true; }
  bool bridge_connected() const { return bridge_connected_; }

  // The widget that requests go to; detach() before it goes away.
  void attach(widget::Widget& widget, doc::Document* document);
  void detach();

  // A frame was painted: the tree may have changed.
  void frame_painted() { stale_ = true; }
  // A painted frame waits for its publication: the loop should turn again soon.
  bool publication_pending() const { return serving_ && stale_; }
  // One loop turn: publishes the attached widget's tree when a painted frame
  // left it stale and the last publication is old enough.
  void turn(const ScreenGeometry& geometry, Clock::time_point now);

  // Publishes this tree now.
  void publish(AccessNode tree);

  AtkObject* application_object() const { return application_; }
  const FlatTree& tree() const { return tree_; }
  std::uint64_t handled_requests() const { return handled_; }
  std::uint64_t refused_requests() const { return refused_; }
  std::uint64_t publications() const { return publications_; }
  void set_geometry(const ScreenGeometry& g) { geometry_ = g; }

  // NodeSource
  const FlatNode* node(std::uint64_t key) const override { return tree_.find(key); }
  std::optional<std::uint64_t> root_key() const override;
  AtkObject* object(std::uint64_t key) const override;
  ScreenGeometry geometry() const override { return geometry_; }
  bool request(std::uint64_t key, access::SemanticAction action) override;

 private:
  AtkObject* create_object(const FlatNode& n);
  AtkObject* object_by_bridge_reference(std::uint32_t reference) const;
  void announce_focus(const FlatNode& n);
  void signal_children(const FlatNode* before, const FlatNode& after, const FlatTree& old_tree);
  void signal_change(const FlatNode& before, const FlatNode& after, std::uint32_t bits);

  std::string fallback_name_;
  AtkObject* application_ = nullptr;
  FlatTree tree_;
  std::unordered_map<std::uint64_t, AtkObject*> objects_;  // one reference each
  widget::Widget* widget_ = nullptr;
  doc::Document* document_ = nullptr;
  // A request or a publication is under way: a request that arrives now
  // (from a nested main loop) is refused rather than run inside it.
  bool busy_ = false;
  // The node last announced to ATK's focus tracker, while it keeps the focus.
  std::optional<std::uint64_t> focus_key_;
  ScreenGeometry geometry_;
  bool stale_ = false;
  bool serving_ = false;  // turn() publishes
  bool bridge_wanted_ = false;
  bool bridge_connected_ = false;
  Clock::time_point last_publish_{};
  std::uint64_t handled_ = 0;
  std::uint64_t refused_ = 0;
  std::uint64_t publications_ = 0;
};

}  // namespace vesk_ui::accessibility
