#pragma once
// ATK's toolkit side, which a toolkit provides and atk-bridge relies on: the
// root object, the toolkit's name, and global event listeners on the
// signals of our objects. Also the question whether a desktop accessibility
// bus is there to publish on.

#include <atk/atk.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>

namespace vesk_ui::accessibility {

// Whether an accessibility bus answers: AT_SPI_BUS_ADDRESS, or the session
// bus's "org.a11y.Bus" (started on demand by the session bus). Never starts a
// session bus of its own. The reason when there is none.
std::expected<void, std::string> accessibility_bus_reachable();

// Makes `application` the object ATK hands out as its root (null: none) and
// installs the toolkit hooks on first use.
void install_toolkit(AtkObject* application);

// Connects atk-bridge to the accessibility bus (after install_toolkit).
bool start_bridge();
void stop_bridge();

// atk-bridge sends its answer to DoAction before it runs the action, so the
// answer is always true. While this is installed, DoAction on an object that
// `find` knows by the bridge's reference number is answered here instead, with
// what atk_action_do_action returned; other objects stay the bridge's. Only
// the accessibility bus can be watched, so clients are told the application
// has no private connection for them (GetApplicationBusAddress answers "").
using BridgeObjectLookup = std::function<AtkObject*(std::uint32_t reference)>;
bool answer_actions(BridgeObjectLookup find);
void stop_answering_actions();
// The reference number the bridge gave an object it published, if it did.
std::optional<std::uint32_t> bridge_reference(AtkObject* object);

}  // namespace vesk_ui::accessibility
