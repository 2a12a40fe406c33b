// The ATK objects of a published tree, without a bus: what they answer, the
// signals they give when a frame changes something, and the requests they
// pass to the widget.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "platform/vesk_ui/accessibility/publisher.hpp"

namespace vesk_ui::accessibility {
namespace {

AccessNode node(Role role, std::string label, std::optional<std::string> id_text = std::nullopt) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  if (id_text) {
    n.id = access::node_id(*id_text);
    n.action_id = *id_text;
  }
  return n;
}

// A window with a list of rows, a name field and a button.
struct Screen {
  int rows = 2;
  std::string name_value = "Box";
  bool name_focused = false;
  bool search_focused = false;
  bool show_search = true;
  int selected = 0;
  std::string row_word = "Row ";
  std::optional<std::string> row_value;
  std::optional<std::string> row_description;

  AccessNode tree() const {
    AccessNode root = node(Role::Root, "Remote");
    root.bounds = scene::Rect{0, 0, 640, 400};
    AccessNode list = node(Role::List, "Saved");
    list.id = access::node_id("app.list");  // passive: an id, no action id
    for (int i = 0; i < rows; ++i) {
      AccessNode row = node(Role::ListItem, row_word + std::to_string(i), "row:" + std::to_string(i));
      row.selected = i == selected;
      row.bounds = scene::Rect{10, 20.0 + 40 * i, 110, 60.0 + 40 * i};
      row.set_size = static_cast<std::uint32_t>(rows);
      row.position_in_set = static_cast<std::uint32_t>(i + 1);
      row.value = row_value;
      row.description = row_description;
      list.children.push_back(std::move(row));
    }
    root.children.push_back(std::move(list));
    AccessNode name = node(Role::TextInput, "Connection name", "field:name");
    name.value = name_value;
    name.focused = name_focused;
    root.children.push_back(std::move(name));
    AccessNode search = node(Role::TextInput, "Search", "field:search");
    search.value = "";
    search.focused = search_focused;
    if (show_search) root.children.push_back(std::move(search));
    AccessNode toggle = node(Role::ToggleButton, "Favourite", "fav");
    toggle.toggled = true;
    root.children.push_back(std::move(toggle));
    root.children.push_back(node(Role::Heading, "Remote Machines"));
    return root;
  }
};

class FakeWidget final : public widget::Widget {
 public:
  Screen screen;
  bool handles = true;
  std::vector<std::pair<std::string, access::SemanticAction>> performed;
  std::function<void()> during;  // runs inside each action

  access::AccessNode accessibility_tree() const override { return screen.tree(); }
  bool perform_semantic_action(std::string_view id, const access::SemanticAction& action, doc::Document*) override {
    performed.emplace_back(std::string(id), action);
    if (during) std::exchange(during, nullptr)();
    return handles;
  }
};

struct Signals {
  std::vector<std::pair<std::string, guint>> children;  // "add"/"remove", index
  std::vector<std::pair<std::string, bool>> states;
  int names = 0;

  static void on_child_added(AtkObject*, guint index, gpointer, gpointer self) {
    static_cast<Signals*>(self)->children.emplace_back("add", index);
  }
  static void on_child_removed(AtkObject*, guint index, gpointer, gpointer self) {
    static_cast<Signals*>(self)->children.emplace_back("remove", index);
  }
  static void on_state(AtkObject*, gchar* name, gboolean on, gpointer self) {
    static_cast<Signals*>(self)->states.emplace_back(name, on != FALSE);
  }
  static void on_property(AtkObject*, AtkPropertyValues* values, gpointer self) {
    if (std::string_view(values->property_name) == "accessible-name") ++static_cast<Signals*>(self)->names;
  }
  std::vector<AtkObject*> watched;

  void watch(AtkObject* obj) {
    watched.push_back(ATK_OBJECT(g_object_ref(obj)));
    g_signal_connect(obj, "children-changed::add", G_CALLBACK(on_child_added), this);
    g_signal_connect(obj, "children-changed::remove", G_CALLBACK(on_child_removed), this);
    g_signal_connect(obj, "state-change", G_CALLBACK(on_state), this);
    g_signal_connect(obj, "property-change", G_CALLBACK(on_property), this);
  }
  ~Signals() {
    for (AtkObject* obj : watched) {
      g_signal_handlers_disconnect_by_data(obj, this);
      g_object_unref(obj);
    }
  }
};

class PublisherTest : public ::testing::Test {
 protected:
  FakeWidget widget;
  Publisher publisher{"dev.example.app"};

  void publish() { publisher.publish(widget.accessibility_tree()); }
  AtkObject* obj(std::string_view id_text) const { return publisher.object(access::node_id(id_text)); }
  AtkObject* root() const { return publisher.object(*publisher.root_key()); }
  bool has_state(AtkObject* o, AtkStateType s) const {
    AtkStateSet* set = atk_object_ref_state_set(o);
    const bool on = atk_state_set_contains_state(set, s);
    g_object_unref(set);
    return on;
  }
  AtkObject* child(AtkObject* parent, int i) const {
    AtkObject* c = atk_object_ref_accessible_child(parent, i);
    if (c) g_object_unref(c);  // still held by the publisher
    return c;
  }
};

TEST_F(PublisherTest, ObjectsMirrorTheTree) {
  AtkObject* app = publisher.application_object();
  EXPECT_EQ(atk_object_get_role(app), ATK_ROLE_APPLICATION);
  EXPECT_EQ(atk_object_get_n_accessible_children(app), 0);
  publish();
  EXPECT_STREQ(atk_object_get_name(app), "Remote");  // the root's label once there is one
  EXPECT_EQ(atk_get_root(), app);
  ASSERT_EQ(atk_object_get_n_accessible_children(app), 1);
  AtkObject* frame = child(app, 0);
  EXPECT_EQ(frame, root());
  EXPECT_EQ(atk_object_get_parent(frame), app);
  EXPECT_EQ(atk_object_get_role(frame), ATK_ROLE_FRAME);
  EXPECT_EQ(atk_object_get_n_accessible_children(frame), 5);

  struct RoleCase {
    const char* id;
    AtkRole role;
    std::vector<AtkStateType> on;
    std::vector<AtkStateType> off;
  };
  const std::vector<RoleCase> cases = {
      {"app.list", ATK_ROLE_LIST, {ATK_STATE_SHOWING}, {ATK_STATE_FOCUSABLE}},
      {"row:0",
       ATK_ROLE_LIST_ITEM,
       {ATK_STATE_SELECTED, ATK_STATE_SELECTABLE, ATK_STATE_FOCUSABLE, ATK_STATE_SHOWING},
       {}},
      {"row:1", ATK_ROLE_LIST_ITEM, {ATK_STATE_SELECTABLE}, {ATK_STATE_SELECTED}},
      {"field:name",
       ATK_ROLE_ENTRY,
       {ATK_STATE_EDITABLE, ATK_STATE_FOCUSABLE, ATK_STATE_ENABLED},
       {ATK_STATE_FOCUSED, ATK_STATE_SHOWING}},  // an input without bounds was not painted
      {"fav", ATK_ROLE_TOGGLE_BUTTON, {ATK_STATE_CHECKABLE, ATK_STATE_CHECKED}, {}},
  };
  for (const RoleCase& c : cases) {
    AtkObject* o = obj(c.id);
    ASSERT_NE(o, nullptr) << c.id;
    EXPECT_EQ(atk_object_get_role(o), c.role) << c.id;
    for (AtkStateType s : c.on) EXPECT_TRUE(has_state(o, s)) << c.id << " " << atk_state_type_get_name(s);
    for (AtkStateType s : c.off) EXPECT_FALSE(has_state(o, s)) << c.id << " " << atk_state_type_get_name(s);
  }
  AtkObject* row1 = obj("row:1");
  EXPECT_STREQ(atk_object_get_name(row1), "Row 1");
  EXPECT_EQ(atk_object_get_index_in_parent(row1), 1);
  EXPECT_EQ(atk_object_get_parent(row1), obj("app.list"));
  // Only text inputs take edits.
  EXPECT_TRUE(ATK_IS_EDITABLE_TEXT(obj("field:name")));
  EXPECT_FALSE(ATK_IS_EDITABLE_TEXT(row1));
  gchar* text = atk_text_get_text(ATK_TEXT(obj("field:name")), 0, -1);
  EXPECT_STREQ(text, "Box");
  g_free(text);
  // Position in the list, as attributes.
  AtkAttributeSet* attrs = atk_object_get_attributes(row1);
  std::map<std::string, std::string> seen;
  for (GSList* l = attrs; l; l = l->next) {
    auto* a = static_cast<AtkAttribute*>(l->data);
    seen[a->name] = a->value;
  }
  atk_attribute_set_free(attrs);
  EXPECT_EQ(seen["posinset"], "2");
  EXPECT_EQ(seen["setsize"], "2");
  EXPECT_EQ(seen["id"], "row:1");
}

TEST_F(PublisherTest, BoundsInScreenWindowAndParentCoordinates) {
  publish();
  publisher.set_geometry(ScreenGeometry{100, 50, 2.0});
  struct Case {
    AtkCoordType type;
    gint x, y, w, h;
  };
  // Row 1: logical 10,60 to 110,100; window 20,120 size 200x80.
  for (const Case& c : {Case{ATK_XY_SCREEN, 120, 170, 200, 80}, Case{ATK_XY_WINDOW, 20, 120, 200, 80},
                        Case{ATK_XY_PARENT, 20, 120, 200, 80}}) {
    gint x = 0, y = 0, w = 0, h = 0;
    atk_component_get_extents(ATK_COMPONENT(obj("row:1")), &x, &y, &w, &h, c.type);
    EXPECT_EQ(std::make_tuple(x, y, w, h), std::make_tuple(c.x, c.y, c.w, c.h)) << c.type;
  }
  gint x = 0, y = 0, w = 0, h = 0;
  atk_component_get_extents(ATK_COMPONENT(obj("app.list")), &x, &y, &w, &h, ATK_XY_SCREEN);
  EXPECT_EQ(std::make_tuple(x, y, w, h), std::make_tuple(-1, -1, -1, -1));  // no bounds
}

TEST_F(PublisherTest, ObjectsStayAcrossFramesAndOnlyChangesAreSignalled) {
  publish();
  AtkObject* list = obj("app.list");
  AtkObject* row0 = obj("row:0");
  AtkObject* row1 = obj("row:1");
  AtkObject* name = obj("field:name");
  Signals list_signals, row0_signals, row1_signals, name_signals;
  list_signals.watch(list);
  row0_signals.watch(row0);
  row1_signals.watch(row1);
  name_signals.watch(name);

  // The same tree again: the same objects, no signal.
  publish();
  EXPECT_EQ(obj("row:0"), row0);
  EXPECT_TRUE(list_signals.children.empty() && row0_signals.states.empty() && row1_signals.states.empty());

  // One frame: a row added, the selection moved, the name field focused.
  widget.screen.rows = 3;
  widget.screen.selected = 1;
  widget.screen.name_focused = true;
  publish();
  EXPECT_EQ(obj("row:0"), row0);
  EXPECT_EQ(list_signals.children, (std::vector<std::pair<std::string, guint>>{{"add", 2}}));
  EXPECT_EQ(row0_signals.states, (std::vector<std::pair<std::string, bool>>{{"selected", false}}));
  EXPECT_EQ(row1_signals.states, (std::vector<std::pair<std::string, bool>>{{"selected", true}}));
  EXPECT_EQ(name_signals.states, (std::vector<std::pair<std::string, bool>>{{"focused", true}}));
  EXPECT_EQ(row0_signals.names, 0);

  // A row removed: a remove signal at its index, and the old object is defunct.
  g_object_ref(row0);
  list_signals.children.clear();
  widget.screen.rows = 1;
  publish();
  EXPECT_EQ(list_signals.children, (std::vector<std::pair<std::string, guint>>{{"remove", 1}, {"remove", 2}}));
  EXPECT_EQ(obj("row:0"), row0);
  g_object_unref(row0);

  // A renamed node keeps its object and announces its new name.
  widget.screen.row_word = "Machine ";
  publish();
  EXPECT_EQ(obj("row:0"), row0);
  EXPECT_STREQ(atk_object_get_name(row0), "Machine 0");
  EXPECT_EQ(row0_signals.names, 1);

  // A node that comes back gets a new object; the old one stays defunct.
  widget.screen.rows = 2;
  publish();
  ASSERT_NE(obj("row:1"), nullptr);
  EXPECT_NE(obj("row:1"), row1);
  EXPECT_TRUE(has_state(row1, ATK_STATE_DEFUNCT));
}

TEST_F(PublisherTest, RequestsReachTheWidgetAtOnceAndAnswerWhatItDid) {
  publish();
  AtkObject* row1 = obj("row:1");
  AtkObject* name = obj("field:name");
  AtkObject* fav = obj("fav");
  // Without a widget to go to, nothing is accepted.
  EXPECT_FALSE(atk_action_do_action(ATK_ACTION(fav), 0));
  publisher.attach(widget, nullptr);
  // Actions by index: activate, focus, select for a row.
  ASSERT_EQ(atk_action_get_n_actions(ATK_ACTION(row1)), 3);
  EXPECT_STREQ(atk_action_get_name(ATK_ACTION(row1), 0), "activate");
  EXPECT_STREQ(atk_action_get_name(ATK_ACTION(row1), 2), "select");
  EXPECT_FALSE(atk_action_do_action(ATK_ACTION(row1), 3));
  EXPECT_FALSE(atk_action_do_action(ATK_ACTION(row1), -1));
  EXPECT_EQ(atk_action_get_n_actions(ATK_ACTION(obj("app.list"))), 0);  // passive

  EXPECT_TRUE(atk_action_do_action(ATK_ACTION(row1), 2));
  EXPECT_TRUE(atk_action_do_action(ATK_ACTION(fav), 2));
  EXPECT_TRUE(atk_component_grab_focus(ATK_COMPONENT(name)));
  atk_editable_text_set_text_contents(ATK_EDITABLE_TEXT(name), "Lab \xc3\xbc");
  atk_editable_text_set_text_contents(ATK_EDITABLE_TEXT(name), "bad \xff");  // refused where it enters
  gint at = 1;
  atk_editable_text_insert_text(ATK_EDITABLE_TEXT(name), "ZZ", 2, &at);
  EXPECT_EQ(at, 3);
  atk_editable_text_delete_text(ATK_EDITABLE_TEXT(name), 0, 1);
  using K = access::ActionKind;
  const std::vector<std::pair<std::string, access::SemanticAction>> expected = {
      {"row:1", {K::Select, std::nullopt}},
      {"fav", {K::Toggle, std::nullopt}},
      {"field:name", {K::Focus, std::nullopt}},
      {"field:name", {K::SetValue, std::string("Lab \xc3\xbc")}},
      {"field:name", {K::SetValue, std::string("BZZox")}},
      {"field:name", {K::SetValue, std::string("ox")}},
  };
  EXPECT_EQ(widget.performed, expected);
  EXPECT_EQ(publisher.handled_requests(), 6u);
  EXPECT_EQ(publisher.refused_requests(), 1u);  // the one before attach

  // The node went away: the object an AT still holds is defunct and refuses everything.
  widget.performed.clear();
  g_object_ref(row1);
  widget.screen.rows = 1;
  publish();
  EXPECT_TRUE(has_state(row1, ATK_STATE_DEFUNCT));
  EXPECT_FALSE(atk_action_do_action(ATK_ACTION(row1), 0));
  EXPECT_FALSE(atk_component_grab_focus(ATK_COMPONENT(row1)));
  EXPECT_EQ(atk_object_get_n_accessible_children(row1), 0);
  EXPECT_TRUE(widget.performed.empty());
  g_object_unref(row1);

  // The widget not handling it is the answer.
  widget.handles = false;
  EXPECT_FALSE(atk_action_do_action(ATK_ACTION(fav), 0));
  EXPECT_FALSE(atk_component_grab_focus(ATK_COMPONENT(name)));
  EXPECT_EQ(widget.performed.size(), 2u);
  EXPECT_EQ(publisher.refused_requests(), 3u);

  // A request made while the widget performs one (a nested main loop) is
  // refused, not run inside it.
  widget.handles = true;
  widget.performed.clear();
  std::optional<bool> nested;
  widget.during = [&] { nested = atk_action_do_action(ATK_ACTION(fav), 0) != FALSE; };
  EXPECT_TRUE(atk_action_do_action(ATK_ACTION(fav), 0));
  EXPECT_EQ(nested, false);
  EXPECT_EQ(widget.performed.size(), 1u);
  publisher.detach();
  EXPECT_FALSE(atk_action_do_action(ATK_ACTION(fav), 0));
}

// The states and texts an AT reads back after a change, through ATK's own
// calls; a focus tracker stands in for atk-bridge's.
TEST_F(PublisherTest, FocusAndValueReadBackAsTheTreeSays) {
  static std::vector<AtkObject*> tracked;
  tracked.clear();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const guint tracker = atk_add_focus_tracker([](AtkObject* o) { tracked.push_back(o); });
#pragma GCC diagnostic pop
  widget.screen.search_focused = true;
  publish();
  AtkObject* search = obj("field:search");
  AtkObject* name = obj("field:name");
  EXPECT_EQ(tracked, std::vector<AtkObject*>{search});
  EXPECT_TRUE(has_state(search, ATK_STATE_FOCUSED));

  struct Step {
    const char* what;
    bool search, name;
  };
  // Focus lost with nowhere to go (Escape, a press outside, a dialog), moved,
  // taken again, lost again.
  for (const Step& step : {Step{"lost", false, false}, Step{"to name", false, true}, Step{"to search", true, false},
                           Step{"lost again", false, false}}) {
    SCOPED_TRACE(step.what);
    widget.screen.search_focused = step.search;
    widget.screen.name_focused = step.name;
    publish();
    EXPECT_EQ(has_state(search, ATK_STATE_FOCUSED), step.search);
    EXPECT_EQ(has_state(name, ATK_STATE_FOCUSED), step.name);
  }
  EXPECT_EQ(tracked, (std::vector<AtkObject*>{search, name, search}));
  // The screen goes with the focused field: the tracker lets go of it.
  widget.screen.search_focused = true;
  publish();
  EXPECT_EQ(atk_get_focus_object(), search);
  g_object_ref(search);
  widget.screen.show_search = false;
  publish();
  EXPECT_EQ(atk_get_focus_object(), nullptr);
  EXPECT_FALSE(has_state(search, ATK_STATE_FOCUSED));
  g_object_unref(search);
  widget.screen.show_search = true;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  atk_remove_focus_tracker(tracker);
#pragma GCC diagnostic pop

  // A row's value is its description when it has none of its own; an input's
  // value is its text, and its description stays its own.
  widget.screen.rows = 2;
  widget.screen.row_value = "alice@10.0.0.5:2200";
  publish();
  EXPECT_STREQ(atk_object_get_description(obj("row:0")), "alice@10.0.0.5:2200");
  EXPECT_EQ(atk_object_get_description(name), nullptr);
  widget.screen.row_value = "bob@10.0.0.6";
  publish();
  EXPECT_STREQ(atk_object_get_description(obj("row:0")), "bob@10.0.0.6");
  widget.screen.row_description = "Online";
  publish();
  EXPECT_STREQ(atk_object_get_description(obj("row:0")), "Online");
}

TEST_F(PublisherTest, TurnPublishesOnlyAfterAPaintedFrameAndNotTooOften) {
  const auto t0 = Publisher::Clock::now();
  auto turn = [&](std::chrono::milliseconds at) { publisher.turn({}, t0 + at); };
  publisher.attach(widget, nullptr);
  // Without a bridge (or a local consumer) the loop's turn does nothing at all.
  publisher.frame_painted();
  turn(std::chrono::milliseconds(0));
  EXPECT_EQ(publisher.publications(), 0u);

  publisher.serve_without_bridge();
  turn(std::chrono::milliseconds(0));
  EXPECT_EQ(publisher.publications(), 1u);
  EXPECT_NE(obj("row:0"), nullptr);
  // Idle turns: no frame, no rebuild.
  turn(std::chrono::milliseconds(500));
  turn(std::chrono::milliseconds(900));
  EXPECT_EQ(publisher.publications(), 1u);
  // Frames closer together than the interval are published together.
  widget.screen.rows = 3;
  publisher.frame_painted();
  turn(std::chrono::milliseconds(950));
  EXPECT_EQ(publisher.publications(), 2u);
  widget.screen.rows = 4;
  publisher.frame_painted();
  turn(std::chrono::milliseconds(950) + kMinPublishInterval / 2);
  EXPECT_EQ(publisher.publications(), 2u);
  EXPECT_EQ(obj("row:3"), nullptr);
  turn(std::chrono::milliseconds(950) + kMinPublishInterval);
  EXPECT_EQ(publisher.publications(), 3u);
  EXPECT_NE(obj("row:3"), nullptr);
  // Requests do not wait for a turn.
  EXPECT_TRUE(atk_action_do_action(ATK_ACTION(obj("row:3")), 0));
  ASSERT_EQ(widget.performed.size(), 1u);
  EXPECT_EQ(widget.performed[0].first, "row:3");
}

}  // namespace
}  // namespace vesk_ui::accessibility
