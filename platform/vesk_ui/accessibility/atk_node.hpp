#pragma once
// The ATK objects that stand for the nodes of a published tree. An object
// holds only its node's key; everything it answers is read from its source at
// the moment it is asked, and every request it receives goes to the source.

#include <atk/atk.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/vesk_ui/accessibility/flat_tree.hpp"

namespace vesk_ui::accessibility {

// Where logical pixels land on the screen.
struct ScreenGeometry {
  double window_x = 0.0;  // the window's client area, in screen pixels
  double window_y = 0.0;
  double logical_to_window = 1.0;  // window pixels per logical pixel
};

class NodeSource {
 public:
  virtual const FlatNode* node(std::uint64_t key) const = 0;
  virtual std::optional<std::uint64_t> root_key() const = 0;
  // The published object of a key (borrowed), or null.
  virtual AtkObject* object(std::uint64_t key) const = 0;
  virtual ScreenGeometry geometry() const = 0;
  // Performs a semantic action on the node; false when it was not handled.
  virtual bool request(std::uint64_t key, access::SemanticAction action) = 0;

 protected:
  ~NodeSource() = default;
};

// A new object for a node (one full reference). Text inputs also take edits.
AtkObject* new_node_object(NodeSource& source, std::uint64_t key, bool editable);
// The application object: the root the accessibility bus starts from.
AtkObject* new_application_object(NodeSource& source, const char* name);
// Cuts the object off its source: from now on it is defunct and refuses all.
void detach_object(AtkObject* object);

AtkRole atk_role_for(Role role);
// The states an object of this node reports.
std::vector<AtkStateType> states_of(const FlatNode& node);
// The actions an object of this node offers through AtkAction, in order.
std::vector<access::ActionKind> atk_actions_of(const FlatNode& node);
// What an object's AtkText reads: an input's value, else the label.
const std::optional<std::string>& text_of(const FlatNode& node);
// The object's description: the node's own, else the value of a node that is
// not an input (a row's target), which AT-SPI has no other text field for.
const std::optional<std::string>& description_of(const FlatNode& node);

}  // namespace vesk_ui::accessibility
