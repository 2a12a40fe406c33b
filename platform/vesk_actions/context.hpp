// Provenance of a dispatch: who asked for it and how to label the change.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk_actions {

// "SetFavorite" -> "Set favorite", "upsert_connection" -> "Upsert connection".
// Words split at case changes, '_', '-', '.', ':' and spaces; acronyms stay
// in capitals ("SSHKey" -> "SSH key").
std::string humanize_identifier(std::string_view identifier);

struct ActionSource {
  std::string identifier;  // reverse-domain id of the application or client
  std::string name;        // display name

  friend bool operator==(const ActionSource&, const ActionSource&) = default;
};

struct ActionContext {
  std::string label;
  std::optional<ActionSource> source;
  std::optional<std::string> reason;       // why the client asked, when it says
  std::optional<std::string> correlation;  // groups the dispatches of one request

  // Label from an action's JSON value: the text itself for a string, the
  // only member name for a one-member object, otherwise "Update".
  static ActionContext for_json_value(const nlohmann::ordered_json& value);

  // The context of a typed dispatch: labelled from the action's JSON
  // value, with the given source.
  template <class T>
  static ActionContext for_typed_action(std::string_view source_identifier, std::string_view source_name,
                                        const T& action) {
    ActionContext c = for_json_value(action.to_json_value());
    c.source = ActionSource{std::string(source_identifier), std::string(source_name)};
    return c;
  }

  // This context with every empty field taken from `other`.
  ActionContext enriched_by(const ActionContext& other) const;

  friend bool operator==(const ActionContext&, const ActionContext&) = default;
};

}  // namespace vesk_actions
