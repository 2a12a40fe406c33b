#include <gtest/gtest.h>

#include "platform/vesk_ui/widget/access.hpp"

namespace {

using namespace vesk_ui::access;

TEST(AccessNode, NodeIdIsFnv1aOfTheTextAndOneFfByte) {
  EXPECT_EQ(node_id("remote.list"), 0xBA95AAA87B281E10ull);
  EXPECT_NE(node_id(""), node_id("x"));
}

AccessNode button(std::string label, std::string id) {
  AccessNode n;
  n.role = Role::Button;
  n.label = std::move(label);
  n.action_id = id;
  n.id = node_id(id);
  return n;
}

TEST(AccessNode, BindingsFollowRolesInTreeOrder) {
  AccessNode root;
  root.role = Role::Root;
  root.label = "Remote";
  AccessNode list;
  list.role = Role::List;
  list.id = node_id("remote.list");  // passive: no action id, no binding
  AccessNode row;
  row.role = Role::ListItem;
  row.action_id = "remote.connection:1:select";
  AccessNode star;
  star.role = Role::ToggleButton;
  star.action_id = "remote.connection:1:favorite";
  AccessNode field;
  field.role = Role::TextInput;
  field.action_id = "remote.field:search";
  AccessNode heading;
  heading.role = Role::Heading;
  heading.action_id = "remote.list.heading";  // a heading offers nothing
  row.with_children({star});
  list.with_children({row});
  root = std::move(root).with_children({button("New connection", "remote.connection.new"), field, list, heading});

  const auto bindings = semantic_action_bindings(root);
  ASSERT_EQ(bindings.size(), 4u);
  EXPECT_EQ(bindings[0].action_id, "remote.connection.new");
  EXPECT_EQ(bindings[0].actions, (std::vector{ActionKind::Activate, ActionKind::Focus}));
  EXPECT_EQ(bindings[0].node_id, node_id("remote.connection.new"));
  EXPECT_EQ(bindings[1].actions, (std::vector{ActionKind::Activate, ActionKind::Focus, ActionKind::SetValue}));
  EXPECT_EQ(bindings[2].action_id, "remote.connection:1:select");
  EXPECT_EQ(bindings[2].actions, (std::vector{ActionKind::Activate, ActionKind::Focus, ActionKind::Select}));
  EXPECT_EQ(bindings[3].actions, (std::vector{ActionKind::Activate, ActionKind::Focus, ActionKind::Toggle}));

  EXPECT_EQ(root.find_by_action_id("remote.connection:1:favorite")->role, Role::ToggleButton);
  EXPECT_EQ(root.find_by_id(node_id("remote.list"))->role, Role::List);
  EXPECT_EQ(root.find_by_action_id("nope"), nullptr);
}

TEST(AccessNode, RoleCodesAndActionKindNumbers) {
  struct Case {
    Role role;
    int code;
  } roles[] = {{Role::Root, 0},      {Role::Dialog, 1},        {Role::Group, 2},   {Role::ButtonGroup, 4},
               {Role::List, 8},      {Role::ListItem, 9},      {Role::Button, 17}, {Role::ToggleButton, 18},
               {Role::Option, 20},   {Role::TextInput, 25},    {Role::Text, 33},   {Role::Heading, 34},
               {Role::Terminal, 36}, {Role::RemotePicture, 38}};
  for (const Case& c : roles) EXPECT_EQ(static_cast<int>(c.role), c.code) << role_name(c.role);
  EXPECT_EQ(static_cast<int>(ActionKind::Activate), 0);
  EXPECT_EQ(static_cast<int>(ActionKind::Focus), 1);
  EXPECT_EQ(static_cast<int>(ActionKind::Toggle), 2);
  EXPECT_EQ(static_cast<int>(ActionKind::SetValue), 7);
  EXPECT_EQ(static_cast<int>(ActionKind::Select), 9);
  EXPECT_EQ(parse_action_kind("set-value"), ActionKind::SetValue);
  EXPECT_EQ(parse_action_kind("bogus"), std::nullopt);
  AccessNode text;
  EXPECT_EQ(text.text_marker, kTextMarkerDefault);
}

}  // namespace
