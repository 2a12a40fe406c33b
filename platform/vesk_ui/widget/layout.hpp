#pragma once
// The layout tree: just enough for widgets that fill a share of their parent.
// Every node is a leaf or a stack of children that each take their own size
// (points or a percentage of the parent) at the parent's origin.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace vesk_ui::widget {

class Widget;

struct Dimension {
  enum class Unit : std::uint8_t { Auto, Points, Percent };
  Unit unit = Unit::Auto;
  float value = 0.0f;  // points, or a fraction 0..1 for Percent
  static constexpr Dimension auto_() { return Dimension{}; }
  static constexpr Dimension points(float v) { return Dimension{Unit::Points, v}; }
  static constexpr Dimension percent(float fraction) { return Dimension{Unit::Percent, fraction}; }
  friend bool operator==(const Dimension&, const Dimension&) = default;
};

struct Style {
  Dimension width;
  Dimension height;
  float flex_grow = 0.0f;
  float flex_shrink = 1.0f;
  friend bool operator==(const Style&, const Style&) = default;
};

// Computed place of a node relative to its parent, logical pixels.
struct Layout {
  float x = 0.0f;
  float y = 0.0f;
  float width = 0.0f;
  float height = 0.0f;
  friend bool operator==(const Layout&, const Layout&) = default;
};

using NodeId = std::uint64_t;

class LayoutTree {
 public:
  NodeId new_leaf(const Style& style);
  NodeId new_with_children(const Style& style, const std::vector<NodeId>& children);
  bool contains(NodeId node) const { return node < nodes_.size(); }
  const Style* style(NodeId node) const;
  const std::vector<NodeId>* children(NodeId node) const;
  // The computed layout (zero before compute_layout or for an unknown node).
  Layout layout(NodeId node) const;
  // Lays out `root` in an available area of width by height.
  void compute_layout(NodeId root, float width, float height);
  std::size_t size() const { return nodes_.size(); }
  void clear() { nodes_.clear(); }

 private:
  struct Node {
    Style style;
    std::vector<NodeId> children;
    Layout layout;
  };
  void compute(NodeId node, float parent_w, float parent_h, float x, float y, int depth);
  std::vector<Node> nodes_;
};

// Which widget each layout node belongs to.
class WidgetNodeMap {
 public:
  void insert(NodeId node, Widget* widget) { map_[node] = widget; }
  Widget* get(NodeId node) const;
  std::size_t size() const { return map_.size(); }
  void clear() { map_.clear(); }

 private:
  std::map<NodeId, Widget*> map_;
};

}  // namespace vesk_ui::widget
