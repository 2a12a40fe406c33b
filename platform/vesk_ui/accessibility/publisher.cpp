#include "platform/vesk_ui/accessibility/publisher.hpp"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "platform/vesk_ui/accessibility/toolkit.hpp"

namespace vesk_ui::accessibility {

namespace {

void log_line(const std::string& line) { std::fprintf(stderr, "vesk_ui: accessibility: %s\n", line.c_str()); }

const char* c_str_or_null(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }

void emit_child(AtkObject* parent, const char* what, std::uint32_t index, AtkObject* child) {
  g_signal_emit_by_name(parent, what, static_cast<guint>(index), child);
}

void emit_text_replaced(AtkObject* obj, const std::string& before, const std::string& after) {
  if (!before.empty()) {
    g_signal_emit_by_name(obj, "text-remove", 0, static_cast<gint>(g_utf8_strlen(before.c_str(), -1)), before.c_str());
  }
  if (!after.empty()) {
    g_signal_emit_by_name(obj, "text-insert", 0, static_cast<gint>(g_utf8_strlen(after.c_str(), -1)), after.c_str());
  }
}

void focus_moved(AtkObject* obj) {
  // atk-bridge turns the focus tracker's call into the "focus:" event that
  // screen readers follow; ATK marks it deprecated but has no successor. Null
  // says that nothing of ours has the focus any more.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  atk_focus_tracker_notify(obj);
#pragma GCC diagnostic pop
}

}  // namespace

Publisher::Publisher(std::string fallback_name) : fallback_name_(std::move(fallback_name)) {
  application_ = new_application_object(*this, fallback_name_.c_str());
  install_toolkit(application_);
}

Publisher::~Publisher() {
  if (bridge_connected_) stop_bridge();
  for (auto& [key, obj] : objects_) {
    detach_object(obj);
    g_object_unref(obj);
  }
  objects_.clear();
  install_toolkit(nullptr);
  detach_object(application_);
  g_object_unref(application_);
}

bool Publisher::enable_bridge() {
  if (bridge_wanted_) return true;
  auto reachable = accessibility_bus_reachable();
  if (!reachable) {
    log_line("not published to assistive technology (" + reachable.error() + ")");
    return false;
  }
  bridge_wanted_ = true;
  serving_ = true;
  return true;
}

std::optional<std::uint64_t> Publisher::root_key() const {
  if (const FlatNode* r = tree_.root()) return r->key;
  return std::nullopt;
}

AtkObject* Publisher::object(std::uint64_t key) const {
  auto it = objects_.find(key);
  return it == objects_.end() ? nullptr : it->second;
}

void Publisher::attach(widget::Widget& widget, doc::Document* document) {
  widget_ = &widget;
  document_ = document;
}

void Publisher::detach() {
  widget_ = nullptr;
  document_ = nullptr;
}

bool Publisher::request(std::uint64_t key, access::SemanticAction action) {
  const FlatNode* n = tree_.find(key);
  if (!n || !n->action_id || !widget_ || busy_) {
    ++refused_;
    return false;
  }
  // Copied: what the widget does may reach the tree before it answers.
  const std::string action_id = *n->action_id;
  busy_ = true;
  const bool handled = widget_->perform_semantic_action(action_id, action, document_);
  busy_ = false;
  if (handled) {
    ++handled_;
  } else {
    ++refused_;
    log_line("\"" + action_id + "\" does not take " + std::string(access::action_kind_name(action.kind)) + " now");
  }
  return handled;
}

void Publisher::turn(const ScreenGeometry& geometry, Clock::time_point now) {
  // Without the bridge no one reads the tree: the application runs as it
  // would without accessibility.
  if (!serving_ || !widget_) return;
  geometry_ = geometry;
  if (stale_ && (publications_ == 0 || now - last_publish_ >= kMinPublishInterval)) {
    stale_ = false;
    last_publish_ = now;
    publish(widget_->accessibility_tree());
  }
  if (bridge_wanted_ && !bridge_connected_ && tree_.root()) {
    bridge_connected_ = start_bridge();
    if (!bridge_connected_) {
      bridge_wanted_ = false;
      serving_ = false;
      log_line("atk-bridge did not start; not published to assistive technology");
    } else if (!answer_actions([this](std::uint32_t ref) { return object_by_bridge_reference(ref); })) {
      log_line("DoAction is answered by atk-bridge, which answers true before it acts");
    }
  }
}

AtkObject* Publisher::object_by_bridge_reference(std::uint32_t reference) const {
  // A scan: DoAction is rare, and the bridge numbers only what a client asked for.
  for (const auto& [key, obj] : objects_) {
    if (bridge_reference(obj) == reference) return obj;
  }
  return nullptr;
}

AtkObject* Publisher::create_object(const FlatNode& n) {
  AtkObject* obj = new_node_object(*this, n.key, n.role == Role::TextInput);
  // Set in place: a new object has no one to notify yet.
  obj->role = atk_role_for(n.role);
  obj->name = g_strdup(c_str_or_null(n.label));
  obj->description = g_strdup(c_str_or_null(description_of(n)));
  return obj;
}

void Publisher::publish(AccessNode root) {
  busy_ = true;
  struct Done {
    bool& busy;
    ~Done() { busy = false; }
  } done{busy_};
  const TreeDiff d = update(tree_, root);
  ++publications_;
  if (d.empty()) return;

  // Old objects stay alive until every signal that names them is out.
  std::unordered_map<std::uint64_t, AtkObject*> dropped;
  for (std::uint64_t key : d.removed) {
    auto it = objects_.find(key);
    if (it == objects_.end()) continue;
    dropped.emplace(key, it->second);
    objects_.erase(it);
  }
  std::unordered_set<std::uint64_t> replaced;  // same key, new role
  for (std::uint64_t key : d.added) {
    objects_[key] = create_object(*tree_.find(key));
    if (dropped.contains(key)) replaced.insert(key);
  }
  const auto old_object = [&](std::uint64_t key) {
    auto it = dropped.find(key);
    return it != dropped.end() ? it->second : object(key);
  };

  for (std::size_t i = 0; i < d.changed.size(); ++i) {
    if (!(d.changed[i].bits & kChangedChildren)) continue;
    const FlatNode& was = d.before[i];
    const FlatNode* now = tree_.find(d.changed[i].key);
    AtkObject* parent = object(now->key);
    const std::unordered_set<std::uint64_t> old_set(was.children.begin(), was.children.end());
    const std::unordered_set<std::uint64_t> new_set(now->children.begin(), now->children.end());
    for (std::uint32_t j = 0; j < was.children.size(); ++j) {
      const std::uint64_t k = was.children[j];
      if (!new_set.contains(k)) emit_child(parent, "children-changed::remove", j, old_object(k));
    }
    for (std::uint32_t j = 0; j < now->children.size(); ++j) {
      const std::uint64_t k = now->children[j];
      if (!old_set.contains(k)) emit_child(parent, "children-changed::add", j, object(k));
    }
  }
  for (std::uint64_t key : replaced) {
    const FlatNode* n = tree_.find(key);
    AtkObject* parent = n->parent == 0 ? application_ : object(n->parent);
    emit_child(parent, "children-changed::remove", n->index_in_parent, dropped[key]);
    emit_child(parent, "children-changed::add", n->index_in_parent, object(key));
  }
  if (d.old_root && tree_.root_key && *d.old_root != *tree_.root_key) {
    emit_child(application_, "children-changed::remove", 0, old_object(*d.old_root));
    emit_child(application_, "children-changed::add", 0, object(*tree_.root_key));
  }

  for (std::size_t i = 0; i < d.changed.size(); ++i) {
    signal_change(d.before[i], *tree_.find(d.changed[i].key), d.changed[i].bits);
  }

  // A node that arrives with the focus (a form opening on its first field).
  for (std::uint64_t key : d.added) {
    if (!tree_.find(key)->focused) continue;
    atk_object_notify_state_change(object(key), ATK_STATE_FOCUSED, TRUE);
    announce_focus(*tree_.find(key));
  }
  // The focus left without going to another node (Escape, a press outside,
  // another screen, a dialog): the tracker must not keep the old one.
  if (focus_key_) {
    const FlatNode* had = tree_.find(*focus_key_);
    if (!had || !had->focused) {
      focus_key_.reset();
      focus_moved(nullptr);
    }
  }

  for (auto& [key, obj] : dropped) {
    detach_object(obj);
    g_object_unref(obj);
  }

  const FlatNode* r = tree_.root();
  const std::string name = r && r->label ? *r->label : fallback_name_;
  if (const char* current = atk_object_get_name(application_); !current || name != current) {
    atk_object_set_name(application_, name.c_str());
  }
}

void Publisher::signal_change(const FlatNode& before, const FlatNode& after, std::uint32_t bits) {
  AtkObject* obj = object(after.key);
  if (!obj) return;
  if (bits & kChangedName) atk_object_set_name(obj, after.label ? after.label->c_str() : "");
  if ((bits & (kChangedDescription | kChangedValue)) && description_of(before) != description_of(after)) {
    atk_object_set_description(obj, description_of(after).value_or("").c_str());
  }
  if ((bits & (kChangedValue | kChangedName)) && text_of(before) != text_of(after)) {
    emit_text_replaced(obj, text_of(before).value_or(""), text_of(after).value_or(""));
  }
  if (bits & kChangedStates) {
    const std::vector<AtkStateType> was = states_of(before);
    const std::vector<AtkStateType> now = states_of(after);
    const auto has = [](const std::vector<AtkStateType>& v, AtkStateType s) {
      return std::find(v.begin(), v.end(), s) != v.end();
    };
    for (AtkStateType s : was) {
      if (!has(now, s)) atk_object_notify_state_change(obj, s, FALSE);
    }
    for (AtkStateType s : now) {
      if (!has(was, s)) atk_object_notify_state_change(obj, s, TRUE);
    }
    if (after.focused && !before.focused) announce_focus(after);
  }
}

void Publisher::announce_focus(const FlatNode& n) {
  focus_key_ = n.key;
  focus_moved(object(n.key));
}

}  // namespace vesk_ui::accessibility
