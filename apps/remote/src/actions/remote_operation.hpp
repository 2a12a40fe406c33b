// Operations: requests to the running application that the action framework
// carries from an invoked action back to it, with their compact JSON form.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "apps/remote/src/doc/uuid.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"
#include "platform/vesk_actions/encoded_action.hpp"

namespace remote {

// Payload kind of every encoded RemoteOperation; the one operation type the
// application serves.
inline constexpr std::string_view kRemoteOperationKind = "remote.operation";

using vesk_actions::OperationKind;

class RemoteOperation {
 public:
  struct ShowConnections {
    friend bool operator==(const ShowConnections&, const ShowConnections&) = default;
  };
  struct NewConnectionForm {
    friend bool operator==(const NewConnectionForm&, const NewConnectionForm&) = default;
  };
  struct EditConnection {
    Uuid connection_id;
    friend bool operator==(const EditConnection&, const EditConnection&) = default;
  };
  struct Connect {
    Uuid connection_id;
    friend bool operator==(const Connect&, const Connect&) = default;
  };
  struct Disconnect {
    Uuid connection_id;
    friend bool operator==(const Disconnect&, const Disconnect&) = default;
  };
  struct SendText {
    Uuid connection_id;
    std::string text;
    friend bool operator==(const SendText&, const SendText&) = default;
  };
  struct TrustSshHostKey {
    Uuid connection_id;
    ssh::HostKeyIdentity observed;
    friend bool operator==(const TrustSshHostKey&, const TrustSshHostKey&) = default;
  };
  struct ForgetSshHostKey {
    Uuid connection_id;
    friend bool operator==(const ForgetSshHostKey&, const ForgetSshHostKey&) = default;
  };
  // Variant order; also the order of the names in the reader's messages.
  using Value = std::variant<ShowConnections, NewConnectionForm, EditConnection, Connect, Disconnect, SendText,
                             TrustSshHostKey, ForgetSshHostKey>;

  template <class T>
  requires std::is_constructible_v<Value, T&&> RemoteOperation(T&& value) : value_(std::forward<T>(value)) {}

  const Value& value() const { return value_; }
  std::string_view variant_name() const;
  // View for ShowConnections, NewConnectionForm and EditConnection; Effect otherwise.
  OperationKind operation_kind() const;

  // Compact JSON: the bare name for the two variants without fields,
  // {"Variant":{fields}} for the others. Fails only for invalid UTF-8.
  std::expected<std::string, std::string> serialize() const;
  static std::expected<RemoteOperation, std::string> deserialize(std::string_view text);

  friend bool operator==(const RemoteOperation&, const RemoteOperation&) = default;

 private:
  Value value_;
};

}  // namespace remote
