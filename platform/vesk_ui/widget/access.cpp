#include "platform/vesk_ui/widget/access.hpp"

#include <array>

namespace vesk_ui::access {

namespace {
// Trees deeper than this are not walked (a runaway builder).
constexpr int kMaxWalkDepth = 512;

const AccessNode* find_if(const AccessNode& n, int depth, const auto& pred) {
  if (pred(n)) return &n;
  if (depth >= kMaxWalkDepth) return nullptr;
  for (const AccessNode& c : n.children) {
    if (const AccessNode* hit = find_if(c, depth + 1, pred)) return hit;
  }
  return nullptr;
}

void collect(const AccessNode& n, int depth, std::vector<SemanticBinding>& out) {
  if (n.action_id) {
    std::vector<ActionKind> actions = actions_for_role(n.role);
    if (!actions.empty()) out.push_back(SemanticBinding{*n.action_id, n.id, n.role, n.label, std::move(actions)});
  }
  if (depth >= kMaxWalkDepth) return;
  for (const AccessNode& c : n.children) collect(c, depth + 1, out);
}
}  // namespace

std::string_view role_name(Role role) {
  switch (role) {
    case Role::Root: return "root";
    case Role::Dialog: return "dialog";
    case Role::Group: return "group";
    case Role::Toolbar: return "toolbar";
    case Role::ButtonGroup: return "button-group";
    case Role::Menu: return "menu";
    case Role::MenuItem: return "menu-item";
    case Role::Tab: return "tab";
    case Role::List: return "list";
    case Role::ListItem: return "list-item";
    case Role::Tree: return "tree";
    case Role::TreeItem: return "tree-item";
    case Role::Table: return "table";
    case Role::Row: return "row";
    case Role::Cell: return "cell";
    case Role::Link: return "link";
    case Role::Image: return "image";
    case Role::Button: return "button";
    case Role::ToggleButton: return "toggle-button";
    case Role::CheckBox: return "check-box";
    case Role::Option: return "option";
    case Role::RadioButton: return "radio-button";
    case Role::Slider: return "slider";
    case Role::ProgressBar: return "progress-bar";
    case Role::ComboBox: return "combo-box";
    case Role::TextInput: return "text-input";
    case Role::Label: return "label";
    case Role::Text: return "text";
    case Role::Heading: return "heading";
    case Role::Status: return "status";
    case Role::Terminal: return "terminal";
    case Role::Canvas: return "canvas";
    case Role::RemotePicture: return "remote-picture";
    case Role::Unknown: break;
  }
  return "unknown";
}

namespace {
constexpr std::array<std::string_view, 11> kActionNames = {"activate",         "focus",     "toggle",    "expand",
                                                           "collapse",         "increment", "decrement", "set-value",
                                                           "scroll-into-view", "select",    "dismiss"};
}

std::string_view action_kind_name(ActionKind kind) {
  const auto i = static_cast<std::size_t>(kind);
  return i < kActionNames.size() ? kActionNames[i] : "unknown";
}

std::optional<ActionKind> parse_action_kind(std::string_view name) {
  for (std::size_t i = 0; i < kActionNames.size(); ++i) {
    if (kActionNames[i] == name) return static_cast<ActionKind>(i);
  }
  return std::nullopt;
}

NodeList::NodeList(std::vector<AccessNode> nodes) {
  if (!nodes.empty()) items_ = std::make_shared<std::vector<AccessNode>>(std::move(nodes));
}

const std::vector<AccessNode>& NodeList::items() const {
  static const std::vector<AccessNode> none;
  return items_ ? *items_ : none;
}

std::vector<AccessNode>& NodeList::own() {
  if (!items_) {
    items_ = std::make_shared<std::vector<AccessNode>>();
  } else if (items_.use_count() > 1) {
    items_ = std::make_shared<std::vector<AccessNode>>(*items_);
  }
  return *items_;
}

const AccessNode& NodeList::at(std::size_t i) const { return items().at(i); }
AccessNode& NodeList::operator[](std::size_t i) { return own()[i]; }
AccessNode& NodeList::at(std::size_t i) { return own().at(i); }
NodeList::iterator NodeList::begin() { return own().begin(); }
NodeList::iterator NodeList::end() { return own().end(); }
void NodeList::push_back(AccessNode child) { own().push_back(std::move(child)); }
void NodeList::reserve(std::size_t n) { own().reserve(n); }
// `at` comes from begin() or end(), which already made the list its own.
NodeList::iterator NodeList::erase(iterator at) { return own().erase(at); }

bool operator==(const NodeList& a, const NodeList& b) { return a.same_list(b) || a.items() == b.items(); }

AccessNode& AccessNode::with_children(std::vector<AccessNode> more) & {
  for (AccessNode& c : more) children.push_back(std::move(c));
  return *this;
}

AccessNode AccessNode::with_children(std::vector<AccessNode> more) && {
  for (AccessNode& c : more) children.push_back(std::move(c));
  return std::move(*this);
}

const AccessNode* AccessNode::find_by_action_id(std::string_view wanted) const {
  return find_if(*this, 0, [&](const AccessNode& n) { return n.action_id && *n.action_id == wanted; });
}

const AccessNode* AccessNode::find_by_id(std::uint64_t wanted) const {
  return find_if(*this, 0, [&](const AccessNode& n) { return n.id && *n.id == wanted; });
}

std::uint64_t node_id(std::string_view id_text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  auto step = [&h](unsigned char b) {
    h ^= b;
    h *= 0x100000001b3ull;
  };
  for (char c : id_text) step(static_cast<unsigned char>(c));
  step(0xFF);
  return h;
}

std::vector<ActionKind> actions_for_role(Role role) {
  using A = ActionKind;
  switch (role) {
    case Role::Button:
    case Role::Link:
    case Role::MenuItem:
    case Role::Tab: return {A::Activate, A::Focus};
    case Role::ToggleButton:
    case Role::CheckBox:
    case Role::Option:
    case Role::RadioButton: return {A::Activate, A::Focus, A::Toggle};
    case Role::ListItem:
    case Role::TreeItem:
    case Role::Row: return {A::Activate, A::Focus, A::Select};
    case Role::TextInput:
    case Role::ComboBox: return {A::Activate, A::Focus, A::SetValue};
    case Role::Slider: return {A::Focus, A::Increment, A::Decrement, A::SetValue};
    case Role::Dialog: return {A::Dismiss};
    case Role::Terminal:
    case Role::RemotePicture:
    case Role::Canvas: return {A::Focus};
    default: return {};
  }
}

std::vector<SemanticBinding> semantic_action_bindings(const AccessNode& root) {
  std::vector<SemanticBinding> out;
  collect(root, 0, out);
  return out;
}

}  // namespace vesk_ui::access
