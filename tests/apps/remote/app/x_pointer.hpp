#pragma once
// The pointer buttons an X server holds down, and the keys it delivers, as
// any client on it sees them (kept apart: Xlib's macros clash with the test
// framework's names).

#include <memory>
#include <string>
#include <vector>

namespace apptest {

class XPointer {
 public:
  // Bits of the held buttons: 1 left, 2 middle, 4 right.
  static constexpr unsigned kLeft = 1, kMiddle = 2, kRight = 4;

  // Connects to the display; connected() is false when that failed.
  explicit XPointer(const std::string& display);
  ~XPointer();
  XPointer(const XPointer&) = delete;
  XPointer& operator=(const XPointer&) = delete;

  bool connected() const { return display_ != nullptr; }
  unsigned buttons() const;

 private:
  void* display_ = nullptr;
};

// A window covering the screen that has the keyboard focus and records each
// key press as the keysym the server's mapping gives its key (the shifted
// one with Shift held), with the modifier state of that moment.
class XTypedKeys {
 public:
  static constexpr unsigned kShift = 1, kLock = 2, kControl = 4, kAlt = 8;
  struct Press {
    unsigned long keysym = 0;
    unsigned state = 0;  // kShift, kLock, kControl, kAlt (Mod1) bits
  };

  explicit XTypedKeys(const std::string& display);
  ~XTypedKeys();
  XTypedKeys(const XTypedKeys&) = delete;
  XTypedKeys& operator=(const XTypedKeys&) = delete;

  bool connected() const { return display_ != nullptr; }
  // Reads what arrived; presses of modifier keys themselves are left out.
  void pump();
  const std::vector<Press>& presses() const { return presses_; }
  // Whether the server holds any modifier key down now, or has Caps Lock on.
  bool modifier_held() const;
  bool caps_lock_on() const;

 private:
  void* display_ = nullptr;
  unsigned long window_ = 0;
  std::vector<Press> presses_;
};

}  // namespace apptest
