#pragma once
// ATK's toolkit side, which a toolkit provides and atk-bridge relies on: the
// root object, the toolkit's name, and global event listeners on the
// signals of our objects. Also the question whether a desktop accessibility
// bus is there to publish on.

#include <atk/atk.h>

#include <expected>
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

}  // namespace vesk_ui::accessibility
