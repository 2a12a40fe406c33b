// Document actions: the one kind of change the application records in the
// connection document, with its compact JSON form.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/uuid.hpp"
#include "platform/vesk_actions/registry.hpp"

namespace remote {

// Payload kind of every encoded RemoteAction.
inline constexpr std::string_view kRemoteActionKind = "remote.action";

class RemoteAction final : public vesk_actions::DocumentAction {
 public:
  struct UpsertConnection {
    Uuid id;
    std::string name;
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    ConnectionKind kind = ConnectionKind::Ssh;
    AuthKind auth = AuthKind::Password;
    std::string group;
    friend bool operator==(const UpsertConnection&, const UpsertConnection&) = default;
  };
  struct RenameConnection {
    Uuid id;
    std::string name;
    friend bool operator==(const RenameConnection&, const RenameConnection&) = default;
  };
  struct SetFavorite {
    Uuid id;
    bool favorite = false;
    friend bool operator==(const SetFavorite&, const SetFavorite&) = default;
  };
  struct DeleteConnection {
    Uuid id;
    friend bool operator==(const DeleteConnection&, const DeleteConnection&) = default;
  };
  // Variant order; also the order of the names in the reader's messages.
  using Value = std::variant<UpsertConnection, RenameConnection, SetFavorite, DeleteConnection>;

  RemoteAction(Value value) : value_(std::move(value)) {}
  RemoteAction(UpsertConnection v) : value_(std::move(v)) {}
  RemoteAction(RenameConnection v) : value_(std::move(v)) {}
  RemoteAction(SetFavorite v) : value_(v) {}
  RemoteAction(DeleteConnection v) : value_(v) {}

  static RemoteAction rename(const Uuid& id, std::string_view name);

  const Value& value() const { return value_; }
  std::string_view variant_name() const;
  const Uuid& id() const;

  // Compact JSON: {"Variant":{fields in declaration order}}. Fails only for
  // a text that is not valid UTF-8.
  std::expected<std::string, std::string> serialize() const;
  // The same structure as a JSON value for the action framework, parsed
  // from serialize(); a text that cannot be written leaves an empty body.
  nlohmann::ordered_json to_json_value() const;
  // Strict reader; the error is the complete message with its position.
  static std::expected<RemoteAction, std::string> deserialize(std::string_view text);
  // Debug form: SetFavorite { id: 67e55044-..., favorite: true }
  std::string fmt() const;

  // DocumentAction: applies the change through the connection store.
  std::string debug_text() const override { return fmt(); }
  std::expected<void, vesk_actions::ActionError> apply(vesk_ui::doc::Document& document) override;
  bool is_ephemeral() const override { return false; }

  friend bool operator==(const RemoteAction& a, const RemoteAction& b) { return a.value_ == b.value_; }

 private:
  Value value_;
};

}  // namespace remote
