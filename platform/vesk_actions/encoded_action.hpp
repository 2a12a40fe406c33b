// Portable form of actions and operations, and the framework's error value.
#pragma once

#include <concepts>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace vesk_actions {

// How an operation action is classified; stored as one byte.
enum class OperationKind : std::uint8_t {
  None = 0,    // not an operation (a document action)
  Effect = 1,  // acts on sessions, devices or stored state
  View = 2,    // only changes what the window shows
};

std::string_view operation_kind_name(OperationKind kind);

struct ActionError {
  enum class Kind : std::uint8_t {
    Serialization,     // a value could not be encoded
    Decode,            // a payload could not be decoded
    UnknownNamespace,  // no decoder for the payload kind
    Apply,             // applying to the document failed
    Transport,         // replication failed
    NotFound,          // no such resource or action
    Unavailable,       // the action is published but unavailable
    InvalidArgument,   // an invocation argument was refused
  };

  Kind kind = Kind::Apply;
  std::string payload_kind;  // for Decode and UnknownNamespace
  std::string code;          // reason code for Unavailable
  std::string message;

  static ActionError serialization(std::string message);
  static ActionError decode(std::string payload_kind, std::string message);
  static ActionError unknown_namespace(std::string payload_kind);
  static ActionError apply(std::string message);
  static ActionError transport(std::string message);
  static ActionError not_found(std::string message);
  static ActionError unavailable(std::string code, std::string message);
  static ActionError invalid_argument(std::string message);

  // Display text.
  std::string to_string() const;
};

// A value that writes its own compact JSON text.
template <class T>
concept JsonEncodable = requires(const T& value) {
  { value.serialize() } -> std::same_as<std::expected<std::string, std::string>>;
};

// Payload buffers start with this much room; most payloads fit.
inline constexpr std::size_t kPayloadReserve = 128;

struct EncodedAction {
  std::string kind;
  std::vector<std::uint8_t> payload;

  std::string_view payload_text() const { return {reinterpret_cast<const char*>(payload.data()), payload.size()}; }

  static EncodedAction from_text(std::string kind, std::string_view text);

  template <JsonEncodable T>
  static std::expected<EncodedAction, ActionError> from_action(std::string_view kind, const T& action) {
    return encode(std::string(kind), action);
  }
  template <JsonEncodable T>
  static std::expected<EncodedAction, ActionError> from_operation(std::string_view kind, const T& operation) {
    return encode(std::string(kind), operation);
  }
  template <JsonEncodable T>
  static std::expected<EncodedAction, ActionError> from_operation_owned(std::string kind, const T& operation) {
    return encode(std::move(kind), operation);
  }

  friend bool operator==(const EncodedAction&, const EncodedAction&) = default;

 private:
  template <JsonEncodable T>
  static std::expected<EncodedAction, ActionError> encode(std::string kind, const T& value) {
    auto text = value.serialize();
    if (!text) return std::unexpected(ActionError::serialization(std::move(text.error())));
    return from_text(std::move(kind), *text);
  }
};

}  // namespace vesk_actions
