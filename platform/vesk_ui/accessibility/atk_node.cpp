#include "platform/vesk_ui/accessibility/atk_node.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

using vesk_ui::accessibility::FlatNode;
using vesk_ui::accessibility::NodeSource;
namespace a11y = vesk_ui::accessibility;
namespace va = vesk_ui::access;

// ---- GObject types (C linkage style names, as GObject expects) ----

struct VeskNode {
  AtkObject parent;
  NodeSource* source;
  std::uint64_t key;
};
struct VeskNodeClass {
  AtkObjectClass parent_class;
};
struct VeskEditableNode {
  VeskNode parent;
};
struct VeskEditableNodeClass {
  VeskNodeClass parent_class;
};
struct VeskApplication {
  AtkObject parent;
  NodeSource* source;
};
struct VeskApplicationClass {
  AtkObjectClass parent_class;
};

static void vesk_node_component_init(AtkComponentIface* iface);
static void vesk_node_action_init(AtkActionIface* iface);
static void vesk_node_text_init(AtkTextIface* iface);
static void vesk_editable_node_editable_init(AtkEditableTextIface* iface);

G_DEFINE_TYPE_WITH_CODE(VeskNode, vesk_node, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT, vesk_node_component_init)
                            G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, vesk_node_action_init)
                                G_IMPLEMENT_INTERFACE(ATK_TYPE_TEXT, vesk_node_text_init))
G_DEFINE_TYPE_WITH_CODE(VeskEditableNode, vesk_editable_node, vesk_node_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_EDITABLE_TEXT, vesk_editable_node_editable_init))
G_DEFINE_TYPE(VeskApplication, vesk_application, ATK_TYPE_OBJECT)

namespace {

VeskNode* as_node(gpointer p) { return G_TYPE_CHECK_INSTANCE_CAST(p, vesk_node_get_type(), VeskNode); }
VeskApplication* as_app(gpointer p) {
  return G_TYPE_CHECK_INSTANCE_CAST(p, vesk_application_get_type(), VeskApplication);
}

const FlatNode* node_of(gpointer p) {
  VeskNode* self = as_node(p);
  return self->source ? self->source->node(self->key) : nullptr;
}

bool request(gpointer p, va::SemanticAction action) {
  VeskNode* self = as_node(p);
  const FlatNode* n = node_of(p);
  if (!n || !n->action_id) return false;
  return self->source->request(self->key, std::move(action));
}

const std::string& text_or_empty(const FlatNode* n) {
  static const std::string empty;
  if (!n) return empty;
  const auto& t = a11y::text_of(*n);
  return t ? *t : empty;
}

gint char_count(const std::string& s) {
  return static_cast<gint>(g_utf8_strlen(s.c_str(), static_cast<gssize>(s.size())));
}

}  // namespace

// ---- AtkObject ----

static gint vesk_node_get_n_children(AtkObject* obj) {
  const FlatNode* n = node_of(obj);
  return n ? static_cast<gint>(n->children.size()) : 0;
}

static AtkObject* vesk_node_ref_child(AtkObject* obj, gint i) {
  const FlatNode* n = node_of(obj);
  if (!n || i < 0 || static_cast<std::size_t>(i) >= n->children.size()) return nullptr;
  AtkObject* child = as_node(obj)->source->object(n->children[static_cast<std::size_t>(i)]);
  return child ? ATK_OBJECT(g_object_ref(child)) : nullptr;
}

static AtkObject* vesk_node_get_parent(AtkObject* obj) {
  VeskNode* self = as_node(obj);
  const FlatNode* n = node_of(obj);
  if (!n) return nullptr;
  if (n->parent == 0) return atk_get_root();
  return self->source->object(n->parent);
}

static gint vesk_node_get_index_in_parent(AtkObject* obj) {
  const FlatNode* n = node_of(obj);
  if (!n) return -1;
  return static_cast<gint>(n->index_in_parent);
}

static AtkStateSet* vesk_node_ref_state_set(AtkObject* obj) {
  // Not the parent class's set: it adds "focused" for the object ATK's focus
  // tracker last heard of, which the node itself may have lost since.
  AtkStateSet* set = atk_state_set_new();
  const FlatNode* n = node_of(obj);
  if (!n) {
    atk_state_set_add_state(set, ATK_STATE_DEFUNCT);
    return set;
  }
  for (AtkStateType s : a11y::states_of(*n)) atk_state_set_add_state(set, s);
  return set;
}

static AtkAttributeSet* add_attribute(AtkAttributeSet* set, const char* name, const std::string& value) {
  auto* a = static_cast<AtkAttribute*>(g_malloc(sizeof(AtkAttribute)));
  a->name = g_strdup(name);
  a->value = g_strdup(value.c_str());
  return g_slist_prepend(set, a);
}

static AtkAttributeSet* vesk_node_get_attributes(AtkObject* obj) {
  const FlatNode* n = node_of(obj);
  AtkAttributeSet* set = nullptr;
  if (!n) return set;
  set = add_attribute(set, "toolkit", "vesk_ui");
  if (n->action_id) {
    set = add_attribute(set, "id", *n->action_id);
  } else if (n->id) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(*n->id));
    set = add_attribute(set, "id", buf);
  }
  if (n->text_marker == va::kTextMarkerStatus) set = add_attribute(set, "container-live", "polite");
  if (n->set_size) set = add_attribute(set, "setsize", std::to_string(*n->set_size));
  if (n->position_in_set) set = add_attribute(set, "posinset", std::to_string(*n->position_in_set));
  return set;
}

static void vesk_node_init(VeskNode* self) {
  self->source = nullptr;
  self->key = 0;
}

static void vesk_node_class_init(VeskNodeClass* klass) {
  AtkObjectClass* atk = ATK_OBJECT_CLASS(klass);
  atk->get_n_children = vesk_node_get_n_children;
  atk->ref_child = vesk_node_ref_child;
  atk->get_parent = vesk_node_get_parent;
  atk->get_index_in_parent = vesk_node_get_index_in_parent;
  atk->ref_state_set = vesk_node_ref_state_set;
  atk->get_attributes = vesk_node_get_attributes;
}

// ---- AtkComponent ----

static void vesk_node_get_extents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                                  AtkCoordType coord_type) {
  gint dx = -1, dy = -1, dw = -1, dh = -1;
  const FlatNode* n = node_of(component);
  if (n && n->bounds) {
    const a11y::ScreenGeometry g = as_node(component)->source->geometry();
    const double k = g.logical_to_window;
    const vesk_ui::scene::Rect b = n->bounds->normalized();
    double ox = b.x0 * k, oy = b.y0 * k;
    if (coord_type == ATK_XY_SCREEN) {
      ox += g.window_x;
      oy += g.window_y;
    } else if (coord_type == ATK_XY_PARENT) {
      // Relative to the nearest ancestor that has bounds.
      NodeSource* source = as_node(component)->source;
      for (const FlatNode* p = source->node(n->parent); p; p = source->node(p->parent)) {
        if (p->bounds) {
          ox -= p->bounds->normalized().x0 * k;
          oy -= p->bounds->normalized().y0 * k;
          break;
        }
        if (p->parent == 0) break;
      }
    }
    dx = static_cast<gint>(std::lround(ox));
    dy = static_cast<gint>(std::lround(oy));
    dw = static_cast<gint>(std::lround(b.width() * k));
    dh = static_cast<gint>(std::lround(b.height() * k));
  }
  if (x) *x = dx;
  if (y) *y = dy;
  if (width) *width = dw;
  if (height) *height = dh;
}

static gboolean vesk_node_grab_focus(AtkComponent* component) {
  const FlatNode* n = node_of(component);
  if (!n) return FALSE;
  const auto actions = va::actions_for_role(n->role);
  if (std::find(actions.begin(), actions.end(), va::ActionKind::Focus) == actions.end()) return FALSE;
  return request(component, va::SemanticAction{va::ActionKind::Focus, std::nullopt}) ? TRUE : FALSE;
}

static void vesk_node_component_init(AtkComponentIface* iface) {
  iface->get_extents = vesk_node_get_extents;
  iface->grab_focus = vesk_node_grab_focus;
}

// ---- AtkAction ----

static gint vesk_node_get_n_actions(AtkAction* action) {
  const FlatNode* n = node_of(action);
  return n ? static_cast<gint>(a11y::atk_actions_of(*n).size()) : 0;
}

static std::optional<va::ActionKind> action_at(AtkAction* action, gint i) {
  const FlatNode* n = node_of(action);
  if (!n || i < 0) return std::nullopt;
  const auto actions = a11y::atk_actions_of(*n);
  if (static_cast<std::size_t>(i) >= actions.size()) return std::nullopt;
  return actions[static_cast<std::size_t>(i)];
}

static gboolean vesk_node_do_action(AtkAction* action, gint i) {
  const auto kind = action_at(action, i);
  if (!kind) return FALSE;
  return request(action, va::SemanticAction{*kind, std::nullopt}) ? TRUE : FALSE;
}

static const gchar* vesk_node_get_action_name(AtkAction* action, gint i) {
  const auto kind = action_at(action, i);
  // The names are string literals, so their views end in a NUL.
  return kind ? va::action_kind_name(*kind).data() : nullptr;
}

static void vesk_node_action_init(AtkActionIface* iface) {
  iface->get_n_actions = vesk_node_get_n_actions;
  iface->do_action = vesk_node_do_action;
  iface->get_name = vesk_node_get_action_name;
  iface->get_localized_name = vesk_node_get_action_name;
}

// ---- AtkText ----

static gchar* vesk_node_get_text(AtkText* text, gint start, gint end) {
  const std::string& s = text_or_empty(node_of(text));
  const gint count = char_count(s);
  if (end < 0 || end > count) end = count;
  start = std::clamp(start, 0, end);
  return g_utf8_substring(s.c_str(), start, end);
}

static gint vesk_node_get_character_count(AtkText* text) { return char_count(text_or_empty(node_of(text))); }

static gunichar vesk_node_get_character_at_offset(AtkText* text, gint offset) {
  const std::string& s = text_or_empty(node_of(text));
  if (offset < 0 || offset >= char_count(s)) return 0;
  return g_utf8_get_char(g_utf8_offset_to_pointer(s.c_str(), offset));
}

static gint vesk_node_get_caret_offset(AtkText* text) {
  const FlatNode* n = node_of(text);
  // The application keeps its caret to itself; a focused input reads as
  // having it at the end.
  return n && n->focused ? char_count(text_or_empty(n)) : -1;
}

static void vesk_node_text_init(AtkTextIface* iface) {
  iface->get_text = vesk_node_get_text;
  iface->get_character_count = vesk_node_get_character_count;
  iface->get_character_at_offset = vesk_node_get_character_at_offset;
  iface->get_caret_offset = vesk_node_get_caret_offset;
}

// ---- AtkEditableText ----

static void set_value(AtkEditableText* text, std::string value) {
  (void)request(text, va::SemanticAction{va::ActionKind::SetValue, std::move(value)});
}

static void vesk_editable_node_set_text_contents(AtkEditableText* text, const gchar* contents) {
  if (!contents || !g_utf8_validate(contents, -1, nullptr)) return;
  set_value(text, contents);
}

static void vesk_editable_node_insert_text(AtkEditableText* text, const gchar* string, gint length, gint* position) {
  if (!string || !position) return;
  const std::size_t bytes = length < 0 ? std::char_traits<char>::length(string) : static_cast<std::size_t>(length);
  if (!g_utf8_validate(string, static_cast<gssize>(bytes), nullptr)) return;
  const std::string& old = text_or_empty(node_of(text));
  const gint at = std::clamp(*position, 0, char_count(old));
  const std::size_t cut = static_cast<std::size_t>(g_utf8_offset_to_pointer(old.c_str(), at) - old.c_str());
  set_value(text, old.substr(0, cut) + std::string(string, bytes) + old.substr(cut));
  *position = at + static_cast<gint>(g_utf8_strlen(string, static_cast<gssize>(bytes)));
}

static void vesk_editable_node_delete_text(AtkEditableText* text, gint start, gint end) {
  const std::string& old = text_or_empty(node_of(text));
  const gint count = char_count(old);
  if (end < 0 || end > count) end = count;
  start = std::clamp(start, 0, end);
  const char* base = old.c_str();
  const std::size_t a = static_cast<std::size_t>(g_utf8_offset_to_pointer(base, start) - base);
  const std::size_t b = static_cast<std::size_t>(g_utf8_offset_to_pointer(base, end) - base);
  set_value(text, old.substr(0, a) + old.substr(b));
}

static void vesk_editable_node_editable_init(AtkEditableTextIface* iface) {
  iface->set_text_contents = vesk_editable_node_set_text_contents;
  iface->insert_text = vesk_editable_node_insert_text;
  iface->delete_text = vesk_editable_node_delete_text;
}

static void vesk_editable_node_init(VeskEditableNode*) {}
static void vesk_editable_node_class_init(VeskEditableNodeClass*) {}

// ---- the application object ----

static gint vesk_application_get_n_children(AtkObject* obj) {
  VeskApplication* self = as_app(obj);
  return self->source && self->source->root_key() ? 1 : 0;
}

static AtkObject* vesk_application_ref_child(AtkObject* obj, gint i) {
  VeskApplication* self = as_app(obj);
  if (i != 0 || !self->source) return nullptr;
  const auto root = self->source->root_key();
  AtkObject* child = root ? self->source->object(*root) : nullptr;
  return child ? ATK_OBJECT(g_object_ref(child)) : nullptr;
}

static AtkObject* vesk_application_get_parent(AtkObject*) { return nullptr; }
static gint vesk_application_get_index_in_parent(AtkObject*) { return -1; }

static void vesk_application_init(VeskApplication* self) { self->source = nullptr; }

static void vesk_application_class_init(VeskApplicationClass* klass) {
  AtkObjectClass* atk = ATK_OBJECT_CLASS(klass);
  atk->get_n_children = vesk_application_get_n_children;
  atk->ref_child = vesk_application_ref_child;
  atk->get_parent = vesk_application_get_parent;
  atk->get_index_in_parent = vesk_application_get_index_in_parent;
}

namespace vesk_ui::accessibility {

AtkObject* new_node_object(NodeSource& source, std::uint64_t key, bool editable) {
  const GType type = editable ? vesk_editable_node_get_type() : vesk_node_get_type();
  auto* self = static_cast<VeskNode*>(g_object_new(type, nullptr));
  self->source = &source;
  self->key = key;
  return ATK_OBJECT(self);
}

AtkObject* new_application_object(NodeSource& source, const char* name) {
  auto* self = static_cast<VeskApplication*>(g_object_new(vesk_application_get_type(), nullptr));
  self->source = &source;
  AtkObject* obj = ATK_OBJECT(self);
  atk_object_set_role(obj, ATK_ROLE_APPLICATION);
  atk_object_set_name(obj, name);
  return obj;
}

void detach_object(AtkObject* object) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(object, vesk_application_get_type())) {
    as_app(object)->source = nullptr;
    return;
  }
  VeskNode* self = as_node(object);
  if (!self->source) return;
  self->source = nullptr;
  atk_object_notify_state_change(object, ATK_STATE_DEFUNCT, TRUE);
}

AtkRole atk_role_for(Role role) {
  switch (role) {
    case Role::Root: return ATK_ROLE_FRAME;
    case Role::Dialog: return ATK_ROLE_DIALOG;
    case Role::Group: return ATK_ROLE_PANEL;
    case Role::Toolbar: return ATK_ROLE_TOOL_BAR;
    case Role::ButtonGroup: return ATK_ROLE_GROUPING;
    case Role::Menu: return ATK_ROLE_MENU;
    case Role::MenuItem: return ATK_ROLE_MENU_ITEM;
    case Role::Tab: return ATK_ROLE_PAGE_TAB;
    case Role::List: return ATK_ROLE_LIST;
    case Role::ListItem: return ATK_ROLE_LIST_ITEM;
    case Role::Tree: return ATK_ROLE_TREE;
    case Role::TreeItem: return ATK_ROLE_TREE_ITEM;
    case Role::Table: return ATK_ROLE_TABLE;
    case Role::Row: return ATK_ROLE_TABLE_ROW;
    case Role::Cell: return ATK_ROLE_TABLE_CELL;
    case Role::Link: return ATK_ROLE_LINK;
    case Role::Image: return ATK_ROLE_IMAGE;
    case Role::Button: return ATK_ROLE_PUSH_BUTTON;
    case Role::ToggleButton: return ATK_ROLE_TOGGLE_BUTTON;
    case Role::CheckBox: return ATK_ROLE_CHECK_BOX;
    case Role::Option:
    case Role::RadioButton: return ATK_ROLE_RADIO_BUTTON;
    case Role::Slider: return ATK_ROLE_SLIDER;
    case Role::ProgressBar: return ATK_ROLE_PROGRESS_BAR;
    case Role::ComboBox: return ATK_ROLE_COMBO_BOX;
    case Role::TextInput: return ATK_ROLE_ENTRY;
    case Role::Label:
    case Role::Text: return ATK_ROLE_LABEL;
    case Role::Heading: return ATK_ROLE_HEADING;
    case Role::Status: return ATK_ROLE_STATUSBAR;
    case Role::Terminal: return ATK_ROLE_TERMINAL;
    case Role::Canvas: return ATK_ROLE_CANVAS;
    case Role::RemotePicture: return ATK_ROLE_IMAGE;
    case Role::Unknown: break;
  }
  return ATK_ROLE_UNKNOWN;
}

std::vector<AtkStateType> states_of(const FlatNode& n) {
  std::vector<AtkStateType> s = {ATK_STATE_ENABLED, ATK_STATE_SENSITIVE, ATK_STATE_VISIBLE};
  // An interactive node without bounds was not painted in the last frame
  // (a row scrolled out of view); everything else in the tree is on screen.
  if (n.bounds || !n.action_id || n.parent == 0) s.push_back(ATK_STATE_SHOWING);
  if (n.action_id) {
    const auto actions = access::actions_for_role(n.role);
    if (std::find(actions.begin(), actions.end(), access::ActionKind::Focus) != actions.end()) {
      s.push_back(ATK_STATE_FOCUSABLE);
    }
    if (std::find(actions.begin(), actions.end(), access::ActionKind::Select) != actions.end()) {
      s.push_back(ATK_STATE_SELECTABLE);
    }
  }
  if (n.focused) s.push_back(ATK_STATE_FOCUSED);
  if (n.selected) s.push_back(ATK_STATE_SELECTED);
  if (n.toggled) {
    s.push_back(ATK_STATE_CHECKABLE);
    if (*n.toggled) s.push_back(ATK_STATE_CHECKED);
  }
  if (n.expanded) {
    s.push_back(ATK_STATE_EXPANDABLE);
    s.push_back(*n.expanded ? ATK_STATE_EXPANDED : ATK_STATE_COLLAPSED);
  }
  if (n.modal) s.push_back(ATK_STATE_MODAL);
  if (n.role == Role::TextInput) {
    s.push_back(ATK_STATE_EDITABLE);
    s.push_back(ATK_STATE_SINGLE_LINE);
  }
  return s;
}

std::vector<access::ActionKind> atk_actions_of(const FlatNode& n) {
  std::vector<access::ActionKind> out;
  if (!n.action_id) return out;
  for (access::ActionKind k : access::actions_for_role(n.role)) {
    // A new value comes through AtkEditableText, which carries the text.
    if (k != access::ActionKind::SetValue) out.push_back(k);
  }
  return out;
}

const std::optional<std::string>& text_of(const FlatNode& n) { return n.role == Role::TextInput ? n.value : n.label; }

const std::optional<std::string>& description_of(const FlatNode& n) {
  return n.description || n.role == Role::TextInput ? n.description : n.value;
}

}  // namespace vesk_ui::accessibility
