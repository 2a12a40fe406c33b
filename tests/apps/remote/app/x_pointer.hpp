#pragma once
// The pointer buttons an X server holds down, as any client on it sees them
// (kept apart: Xlib's macros clash with the test framework's names).

#include <memory>
#include <string>

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

}  // namespace apptest
