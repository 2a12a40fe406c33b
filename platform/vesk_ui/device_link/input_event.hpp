#pragma once

// One input for a device: built by the application, carried by the device
// link, applied by the device.

#include <cstdint>
#include <variant>

namespace vesk_ui::device_link {

struct DeviceInputEvent {
  // Number 0: pointer position in pixels of the remote frame.
  struct PointerMove {
    double x = 0;
    double y = 0;
    bool operator==(const PointerMove&) const = default;
  };
  // Number 1: a pointer button by its Linux input code.
  struct Button {
    bool pressed = false;
    std::uint32_t code = 0;
    bool operator==(const Button&) const = default;
  };
  // Number 2: a key by its Linux input code.
  struct Key {
    bool pressed = false;
    std::uint32_t code = 0;
    bool operator==(const Key&) const = default;
  };
  // Number 3: sent with value 1 just before a left press; asks the device to
  // raise whatever is under the pointer before the press lands.
  struct Activate {
    std::uint8_t value = 1;
    bool operator==(const Activate&) const = default;
  };

  static constexpr std::uint32_t kButtonLeft = 272;
  static constexpr std::uint32_t kButtonRight = 273;
  static constexpr std::uint32_t kButtonMiddle = 274;

  std::variant<PointerMove, Button, Key, Activate> value;

  static DeviceInputEvent pointer_move(double x, double y) { return {PointerMove{x, y}}; }
  static DeviceInputEvent button(bool pressed, std::uint32_t code) { return {Button{pressed, code}}; }
  static DeviceInputEvent key(bool pressed, std::uint32_t code) { return {Key{pressed, code}}; }
  static DeviceInputEvent activate() { return {Activate{1}}; }

  // The event's number on the link (0 to 3).
  std::uint8_t number() const { return static_cast<std::uint8_t>(value.index()); }

  bool operator==(const DeviceInputEvent&) const = default;
};

}  // namespace vesk_ui::device_link
