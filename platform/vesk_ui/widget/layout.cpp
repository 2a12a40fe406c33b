#include "platform/vesk_ui/widget/layout.hpp"

#include <algorithm>
#include <cmath>

namespace vesk_ui::widget {

namespace {
// Deeper trees are not laid out (a cycle or a runaway builder).
constexpr int kMaxDepth = 256;

float resolve(const Dimension& d, float parent) {
  switch (d.unit) {
    case Dimension::Unit::Points: return std::isfinite(d.value) ? std::max(0.0f, d.value) : 0.0f;
    case Dimension::Unit::Percent: return std::isfinite(d.value) ? std::max(0.0f, d.value * parent) : 0.0f;
    default: return 0.0f;  // a leaf has no content size of its own
  }
}
}  // namespace

NodeId LayoutTree::new_leaf(const Style& style) {
  nodes_.push_back(Node{style, {}, {}});
  return nodes_.size() - 1;
}

NodeId LayoutTree::new_with_children(const Style& style, const std::vector<NodeId>& children) {
  std::vector<NodeId> valid;
  for (NodeId c : children) {
    if (contains(c)) valid.push_back(c);
  }
  nodes_.push_back(Node{style, std::move(valid), {}});
  return nodes_.size() - 1;
}

const Style* LayoutTree::style(NodeId node) const { return contains(node) ? &nodes_[node].style : nullptr; }

const std::vector<NodeId>* LayoutTree::children(NodeId node) const {
  return contains(node) ? &nodes_[node].children : nullptr;
}

Layout LayoutTree::layout(NodeId node) const { return contains(node) ? nodes_[node].layout : Layout{}; }

void LayoutTree::compute_layout(NodeId root, float width, float height) {
  if (!contains(root)) return;
  // The root takes the available area unless it asks for a size of its own.
  Node& r = nodes_[root];
  const float w = r.style.width.unit == Dimension::Unit::Auto ? width : resolve(r.style.width, width);
  const float h = r.style.height.unit == Dimension::Unit::Auto ? height : resolve(r.style.height, height);
  r.layout = Layout{0.0f, 0.0f, w, h};
  for (NodeId c : r.children) compute(c, w, h, 0.0f, 0.0f, 1);
}

void LayoutTree::compute(NodeId node, float parent_w, float parent_h, float x, float y, int depth) {
  if (depth > kMaxDepth || !contains(node)) return;
  Node& n = nodes_[node];
  const float w = resolve(n.style.width, parent_w);
  const float h = resolve(n.style.height, parent_h);
  n.layout = Layout{x, y, w, h};
  for (NodeId c : n.children) compute(c, w, h, 0.0f, 0.0f, depth + 1);
}

Widget* WidgetNodeMap::get(NodeId node) const {
  auto it = map_.find(node);
  return it == map_.end() ? nullptr : it->second;
}

}  // namespace vesk_ui::widget
