#pragma once

// The connection edit form, the window's text inputs, and the rules that decide
// whether a form may be saved.

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/uuid.hpp"

namespace remote {

// The six text inputs of the window, in focus order.
class InputField {
 public:
  enum Value : std::uint8_t { Search = 0, Name = 1, Host = 2, Port = 3, User = 4, Group = 5 };
  // Every value in number order.
  static const std::array<InputField, 6> ALL;

  constexpr InputField() = default;
  constexpr InputField(Value value) : value_(value) {}
  constexpr operator Value() const { return value_; }
  explicit operator bool() const = delete;
  constexpr Value value() const { return value_; }
  constexpr std::uint8_t number() const { return value_; }

  // Word of the element id "remote.field:{}": "search", "name", ...
  std::string_view as_str() const;
  // Placeholder text ("Search machines…  ( / )", "My machine", ...).
  std::string_view placeholder() const;

  friend std::ostream& operator<<(std::ostream& out, InputField field);

 private:
  Value value_ = Search;
};

inline constexpr std::array<InputField, 6> InputField::ALL{InputField::Search, InputField::Name, InputField::Host,
                                                           InputField::Port,   InputField::User, InputField::Group};

// Every text input of the window, and the name, host, user and group a
// profile stores, hold at most this many bytes of UTF-8: the inputs stop
// taking text there, the form does not save longer texts and the bus
// refuses them.
inline constexpr std::size_t kMaxFieldBytes = 1024;

// "Name must be at most 1,024 bytes" (with the field's own word) when the
// text is longer than kMaxFieldBytes.
std::optional<std::string> field_length_problem(InputField field, std::string_view text);

// What keeps a name from being stored: "Name is required" when it is only
// white space, or the length problem.
std::optional<std::string> name_problem(std::string_view name);

// Placeholder of the host input while the form edits a device.
inline constexpr std::string_view kVeskHostPlaceholder = "certified Vesk endpoint id";

// A port as typed: trimmed, then an optional "+" and one or more ASCII digits
// whose value fits in 16 bits (leading zeros allowed). 0 parses; callers refuse it.
std::optional<std::uint16_t> parse_port(std::string_view text);

// The texts of one profile as typed, before they become a record.
// A default-constructed form is the form of a new connection.
struct ConnectionForm {
  std::string name;
  std::string host;
  std::string port = "22";
  std::string user;
  std::string group;
  AuthKind auth = AuthKind::Password;
  ConnectionKind kind = ConnectionKind::Ssh;

  static ConnectionForm from_connection(const SavedConnection& connection);
  // A fresh record: trimmed texts, "Never", Unknown presence, not a favourite.
  SavedConnection to_connection(const Uuid& id) const;
  // Problems in display order; empty when the form may be saved.
  std::vector<std::string> problems() const;

  friend bool operator==(const ConnectionForm&, const ConnectionForm&) = default;
  friend std::ostream& operator<<(std::ostream& out, const ConnectionForm& form);
};

// True while REMOTE_LIVE_SESSIONS is set to any valid UTF-8 value (empty included).
// Read on every call.
bool live_sessions_enabled();

}  // namespace remote
