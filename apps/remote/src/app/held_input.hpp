#pragma once
// What the live session was sent as pressed and has not been sent as
// released. Releases of these go to the session wherever the pointer is and
// whatever is open over it, and whatever is still held is released when
// input stops going there (another screen, a dialog, the window losing focus,
// the session ending), so the remote side never keeps a key or button down.
// The VNC buttons are the application's button mask itself.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace remote::app {

struct HeldInput {
  // Frame position of the last VNC pointer event sent; releases outside the
  // picture go there.
  std::optional<std::pair<std::uint16_t, std::uint16_t>> vnc_point;
  // Keysyms whose key-down was queued but whose key-up found the queue full.
  std::vector<std::uint32_t> vnc_keys;
  // Modifier keysyms sent as pressed, in the order they went down.
  std::vector<std::uint32_t> vnc_modifiers;
  // Linux codes of device buttons and keys queued as pressed.
  std::vector<std::uint32_t> device_buttons;
  std::vector<std::uint32_t> device_keys;

  bool device_empty() const { return device_buttons.empty() && device_keys.empty(); }
  friend bool operator==(const HeldInput&, const HeldInput&) = default;
};

// Releases what the app's session holds once the scope ends, when input no
// longer goes to the session: placed where a message may change the screen or
// open a dialog.
template <class App>
class ReleaseWhenInactive {
 public:
  explicit ReleaseWhenInactive(App& app) : app_(app) {}
  ~ReleaseWhenInactive() { app_.release_held_input_if_inactive(); }
  ReleaseWhenInactive(const ReleaseWhenInactive&) = delete;
  ReleaseWhenInactive& operator=(const ReleaseWhenInactive&) = delete;

 private:
  App& app_;
};

// Adds the code once; removing says whether it was there.
void hold(std::vector<std::uint32_t>& held, std::uint32_t code);
bool unhold(std::vector<std::uint32_t>& held, std::uint32_t code);

}  // namespace remote::app
