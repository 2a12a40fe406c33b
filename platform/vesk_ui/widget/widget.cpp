#include "platform/vesk_ui/widget/widget.hpp"

#include "platform/vesk_ui/document/document.hpp"

namespace vesk_ui::widget {

NodeId Widget::build_layout_node(LayoutTree& tree, WidgetNodeMap& map) {
  Style style;
  style.width = Dimension::percent(1.0f);
  style.height = Dimension::percent(1.0f);
  const NodeId node = tree.new_leaf(style);
  map.insert(node, this);
  return node;
}

void Widget::apply_layout(const LayoutTree& tree, NodeId node, double origin_x, double origin_y) {
  const Layout l = tree.layout(node);
  const double x0 = origin_x + static_cast<double>(l.x);
  const double y0 = origin_y + static_cast<double>(l.y);
  bounds_ = Rect{x0, y0, x0 + static_cast<double>(l.width), y0 + static_cast<double>(l.height)};
}

access::AccessNode Widget::accessibility_tree() const {
  access::AccessNode root;
  root.role = access::Role::Root;
  root.bounds = bounds();
  return root;
}

}  // namespace vesk_ui::widget
