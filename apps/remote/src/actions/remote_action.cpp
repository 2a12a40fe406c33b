#include "apps/remote/src/actions/remote_action.hpp"

#include <array>

#include "apps/remote/src/actions/uuid_field.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "apps/remote/src/json/reader.hpp"
#include "apps/remote/src/json/writer.hpp"

namespace remote {

namespace {

constexpr std::array<std::string_view, 4> kVariants{"UpsertConnection", "RenameConnection", "SetFavorite",
                                                    "DeleteConnection"};

constexpr std::array<std::string_view, 8> kUpsertFields{"id", "name", "host", "port", "user", "kind", "auth", "group"};
constexpr std::array<std::string_view, 2> kRenameFields{"id", "name"};
constexpr std::array<std::string_view, 2> kFavoriteFields{"id", "favorite"};
constexpr std::array<std::string_view, 1> kDeleteFields{"id"};

constexpr json::StructShape kUpsertShape{"struct variant RemoteAction::UpsertConnection",
                                         "struct variant RemoteAction::UpsertConnection with 8 elements",
                                         kUpsertFields};
constexpr json::StructShape kRenameShape{"struct variant RemoteAction::RenameConnection",
                                         "struct variant RemoteAction::RenameConnection with 2 elements",
                                         kRenameFields};
constexpr json::StructShape kFavoriteShape{"struct variant RemoteAction::SetFavorite",
                                           "struct variant RemoteAction::SetFavorite with 2 elements", kFavoriteFields};
constexpr json::StructShape kDeleteShape{"struct variant RemoteAction::DeleteConnection",
                                         "struct variant RemoteAction::DeleteConnection with 1 element", kDeleteFields};

// Unit-only enums: "Name" or {"Name": null}.
json::Result<ConnectionKind> read_kind(json::Reader& r) {
  return json::read_enum<ConnectionKind>(r, ConnectionKind::JSON_NAMES,
                                         [](std::size_t i, json::Variant& v) -> json::Result<ConnectionKind> {
                                           if (auto s = v.unit(); !s) return std::unexpected(s.error());
                                           return ConnectionKind(ConnectionKind::ALL[i]);
                                         });
}

json::Result<AuthKind> read_auth(json::Reader& r) {
  return json::read_enum<AuthKind>(r, AuthKind::JSON_NAMES,
                                   [](std::size_t i, json::Variant& v) -> json::Result<AuthKind> {
                                     if (auto s = v.unit(); !s) return std::unexpected(s.error());
                                     return AuthKind(AuthKind::ALL[i]);
                                   });
}

json::Result<RemoteAction> read_action(json::Reader& r) {
  return json::read_enum<RemoteAction>(
      r, kVariants, [&](std::size_t index, json::Variant& v) -> json::Result<RemoteAction> {
        switch (index) {
          case 0: {
            RemoteAction::UpsertConnection a;
            auto s = v.struct_body(kUpsertShape, [&](std::size_t f) -> json::Status {
              switch (f) {
                case 0: return json::store(actions::read_uuid(r), a.id);
                case 1: return json::store(json::read_string(r), a.name);
                case 2: return json::store(json::read_string(r), a.host);
                case 3: return json::store(json::read_u16(r), a.port);
                case 4: return json::store(json::read_string(r), a.user);
                case 5: return json::store(read_kind(r), a.kind);
                case 6: return json::store(read_auth(r), a.auth);
                default: return json::store(json::read_string(r), a.group);
              }
            });
            if (!s) return std::unexpected(s.error());
            return RemoteAction(std::move(a));
          }
          case 1: {
            RemoteAction::RenameConnection a;
            auto s = v.struct_body(kRenameShape, [&](std::size_t f) -> json::Status {
              if (f == 0) return json::store(actions::read_uuid(r), a.id);
              return json::store(json::read_string(r), a.name);
            });
            if (!s) return std::unexpected(s.error());
            return RemoteAction(std::move(a));
          }
          case 2: {
            RemoteAction::SetFavorite a;
            auto s = v.struct_body(kFavoriteShape, [&](std::size_t f) -> json::Status {
              if (f == 0) return json::store(actions::read_uuid(r), a.id);
              return json::store(json::read_bool(r), a.favorite);
            });
            if (!s) return std::unexpected(s.error());
            return RemoteAction(a);
          }
          default: {
            RemoteAction::DeleteConnection a;
            auto s = v.struct_body(
                kDeleteShape, [&](std::size_t) -> json::Status { return json::store(actions::read_uuid(r), a.id); });
            if (!s) return std::unexpected(s.error());
            return RemoteAction(a);
          }
        }
      });
}

}  // namespace

RemoteAction RemoteAction::rename(const Uuid& id, std::string_view name) {
  return RenameConnection{id, std::string(name)};
}

std::string_view RemoteAction::variant_name() const { return kVariants[value_.index()]; }

const Uuid& RemoteAction::id() const {
  return std::visit([](const auto& v) -> const Uuid& { return v.id; }, value_);
}

std::expected<std::string, std::string> RemoteAction::serialize() const {
  json::Writer w;
  w.begin_object();
  w.key(variant_name());
  w.begin_object();
  w.key("id");
  w.string(id().to_string());
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, UpsertConnection>) {
          w.key("name");
          w.string(v.name);
          w.key("host");
          w.string(v.host);
          w.key("port");
          w.unsigned_integer(v.port);
          w.key("user");
          w.string(v.user);
          w.key("kind");
          w.string(v.kind.json_name());
          w.key("auth");
          w.string(v.auth.json_name());
          w.key("group");
          w.string(v.group);
        } else if constexpr (std::is_same_v<T, RenameConnection>) {
          w.key("name");
          w.string(v.name);
        } else if constexpr (std::is_same_v<T, SetFavorite>) {
          w.key("favorite");
          w.boolean(v.favorite);
        }
      },
      value_);
  w.end_object();
  w.end_object();
  return std::move(w).finish();
}

nlohmann::ordered_json RemoteAction::to_json_value() const {
  // The action framework takes its value from the one serialised form; text
  // that cannot be written still names the action, with an empty body.
  if (auto text = serialize()) {
    auto value = nlohmann::ordered_json::parse(*text, nullptr, false);
    if (!value.is_discarded()) return value;
  }
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out[std::string(variant_name())] = nlohmann::ordered_json::object();
  return out;
}

std::expected<RemoteAction, std::string> RemoteAction::deserialize(std::string_view text) {
  return json::read_document<RemoteAction>(text, read_action);
}

std::string RemoteAction::fmt() const {
  std::string out(variant_name());
  out += " { id: " + id().to_string();
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, UpsertConnection>) {
          out += ", name: " + json::debug_quoted(v.name);
          out += ", host: " + json::debug_quoted(v.host);
          out += ", port: " + std::to_string(v.port);
          out += ", user: " + json::debug_quoted(v.user);
          out += ", kind: " + std::string(v.kind.json_name());
          out += ", auth: " + std::string(v.auth.json_name());
          out += ", group: " + json::debug_quoted(v.group);
        } else if constexpr (std::is_same_v<T, RenameConnection>) {
          out += ", name: " + json::debug_quoted(v.name);
        } else if constexpr (std::is_same_v<T, SetFavorite>) {
          out += std::string(", favorite: ") + (v.favorite ? "true" : "false");
        }
      },
      value_);
  out += " }";
  return out;
}

std::expected<void, vesk_actions::ActionError> RemoteAction::apply(vesk_ui::doc::Document& document) {
  const doc::Result<void> applied = std::visit(
      [&](const auto& v) -> doc::Result<void> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, UpsertConnection>) {
          // Favourite, presence and last use are the document's; the
          // action carries only what the form edits.
          auto existing = app::take_connection_by_id(doc::load_connections(document), v.id);
          SavedConnection record;
          record.id = v.id;
          record.name = v.name;
          record.host = v.host;
          record.port = v.port;
          record.user = v.user;
          record.kind = v.kind;
          record.auth = v.auth;
          record.group = v.group;
          record.last_used = existing ? existing->last_used : "Never";
          record.presence = existing ? existing->presence : Presence(Presence::Unknown);
          record.favorite = existing ? existing->favorite : false;
          return doc::write_connection(document, record);
        } else if constexpr (std::is_same_v<T, RenameConnection>) {
          return doc::rename_connection(document, v.id, v.name);
        } else if constexpr (std::is_same_v<T, SetFavorite>) {
          doc::set_favorite(document, v.id, v.favorite);
          return {};
        } else {
          doc::delete_connection(document, v.id);
          return {};
        }
      },
      value_);
  if (!applied) return std::unexpected(vesk_actions::ActionError::apply(applied.error().message));
  return {};
}

}  // namespace remote
