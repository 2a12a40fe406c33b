#pragma once
// The small value types of the application state: screens, messages, hit
// regions, confirmations, the status every session reports, and the form's
// visibility flags. Everything here is plain data used on the UI thread.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/uuid.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"
#include "apps/remote/src/sync/session_status.hpp"
#include "platform/vesk_ui/scene/geometry.hpp"

namespace remote::app {

using Rect = vesk_ui::scene::Rect;

using sync::SessionStatus;  // the one the ssh and rfb workers publish

// The current view.
struct Screen {
  enum class Kind : std::uint8_t { NewConnectionForm, EditConnectionForm, ConnectionList, Session };

  Kind kind = Kind::ConnectionList;
  Uuid id;  // EditConnectionForm and Session

  static Screen new_connection_form() { return {Kind::NewConnectionForm, {}}; }
  static Screen edit_connection_form(const Uuid& id) { return {Kind::EditConnectionForm, id}; }
  static Screen connection_list() { return {Kind::ConnectionList, {}}; }
  static Screen session(const Uuid& id) { return {Kind::Session, id}; }

  bool is_form() const { return kind == Kind::NewConnectionForm || kind == Kind::EditConnectionForm; }
  bool is_session_of(const Uuid& of) const { return kind == Kind::Session && id == of; }

  // What the views switch on: both forms count as the form.
  struct Normalized {
    enum class Kind : std::uint8_t { Form, List, Session };
    Kind kind = Kind::List;
    std::optional<Uuid> id;  // the edited connection (Form) or the session's (Session)
    friend bool operator==(const Normalized&, const Normalized&) = default;
  };
  Normalized normalized() const;

  friend bool operator==(const Screen&, const Screen&) = default;
};

// What views, semantic actions and operations feed to the reducer.
struct UiMessage {
  enum class Tag : std::uint8_t {
    ShowConnections = 0,
    NewConnection = 1,
    EditConnection = 2,
    OpenSession = 3,
    RequestConnect = 4,
    SelectConnection = 5,
    ToggleFavorite = 6,
    RequestDelete = 7,
    RequestTrustHostKey = 8,
    RequestForgetHostKey = 9,
    Confirm = 10,
    CancelConfirmation = 11,
    FocusField = 12,
    SetKind = 13,
    SetAuth = 14,
    SaveForm = 15,
    CancelForm = 16,
    ToggleScale = 17,
    ToggleFullscreen = 18,
    Disconnect = 19,
    ChooseDiscoveredDevice = 20,
    ToggleNavigation = 21,
  };
  using Payload = std::variant<std::monostate, Uuid, InputField, ConnectionKind, AuthKind, std::uint64_t>;

  Tag tag = Tag::ShowConnections;
  Payload payload;

  static UiMessage show_connections() { return {Tag::ShowConnections, {}}; }
  static UiMessage new_connection() { return {Tag::NewConnection, {}}; }
  static UiMessage edit_connection(const Uuid& id) { return {Tag::EditConnection, id}; }
  static UiMessage open_session(const Uuid& id) { return {Tag::OpenSession, id}; }
  static UiMessage request_connect(const Uuid& id) { return {Tag::RequestConnect, id}; }
  static UiMessage select_connection(const Uuid& id) { return {Tag::SelectConnection, id}; }
  static UiMessage toggle_favorite(const Uuid& id) { return {Tag::ToggleFavorite, id}; }
  static UiMessage request_delete(const Uuid& id) { return {Tag::RequestDelete, id}; }
  static UiMessage request_trust_host_key(const Uuid& id) { return {Tag::RequestTrustHostKey, id}; }
  static UiMessage request_forget_host_key(const Uuid& id) { return {Tag::RequestForgetHostKey, id}; }
  static UiMessage confirm() { return {Tag::Confirm, {}}; }
  static UiMessage cancel_confirmation() { return {Tag::CancelConfirmation, {}}; }
  static UiMessage focus_field(InputField field) { return {Tag::FocusField, field}; }
  static UiMessage set_kind(ConnectionKind kind) { return {Tag::SetKind, kind}; }
  static UiMessage set_auth(AuthKind auth) { return {Tag::SetAuth, auth}; }
  static UiMessage save_form() { return {Tag::SaveForm, {}}; }
  static UiMessage cancel_form() { return {Tag::CancelForm, {}}; }
  static UiMessage toggle_scale() { return {Tag::ToggleScale, {}}; }
  static UiMessage toggle_fullscreen() { return {Tag::ToggleFullscreen, {}}; }
  static UiMessage disconnect() { return {Tag::Disconnect, {}}; }
  static UiMessage choose_discovered_device(std::uint64_t index) { return {Tag::ChooseDiscoveredDevice, index}; }
  static UiMessage toggle_navigation() { return {Tag::ToggleNavigation, {}}; }

  // The payloads, when the message carries that kind of payload.
  std::optional<Uuid> id() const;
  std::optional<InputField> field() const;
  std::optional<ConnectionKind> kind() const;
  std::optional<AuthKind> auth() const;
  std::optional<std::uint64_t> device_index() const;

  friend bool operator==(const UiMessage&, const UiMessage&) = default;
};

// One clickable area of the last painted frame. (x, y) is inside when
// x0 <= x < x1 and y0 <= y < y1.
struct HitRegion {
  UiMessage message;
  Rect rect;
  friend bool operator==(const HitRegion&, const HitRegion&) = default;
};

// The rectangle of the last region (in paint order) carrying the message.
std::optional<Rect> find_hit_region_bounds(const std::vector<HitRegion>& regions, const UiMessage& message);
// The message of the topmost region containing the point.
std::optional<UiMessage> find_hit_region_at(const std::vector<HitRegion>& regions, double x, double y);

// "{kind word}|{host}|{port}|{user}|{method label}": what a confirmation
// re-checks. Name, group, favourite, presence and last use are not in it.
std::string connection_signature(const SavedConnection& connection);

// The one open confirmation dialog.
struct Confirmation {
  enum class Kind : std::uint8_t { Connect, Delete, TrustSshHostKey, ForgetSshHostKey };

  Kind kind = Kind::Connect;
  std::string signature;  // taken when the dialog opened
  Uuid id;
  std::optional<ssh::HostKeyIdentity> identity;  // TrustSshHostKey only

  static Confirmation connect(std::string signature, const Uuid& id) {
    return {Kind::Connect, std::move(signature), id, std::nullopt};
  }
  static Confirmation remove(std::string signature, const Uuid& id) {
    return {Kind::Delete, std::move(signature), id, std::nullopt};
  }
  static Confirmation trust_ssh_host_key(std::string signature, ssh::HostKeyIdentity identity, const Uuid& id) {
    return {Kind::TrustSshHostKey, std::move(signature), id, std::move(identity)};
  }
  static Confirmation forget_ssh_host_key(std::string signature, const Uuid& id) {
    return {Kind::ForgetSshHostKey, std::move(signature), id, std::nullopt};
  }

  friend bool operator==(const Confirmation&, const Confirmation&) = default;
};

// Which of the form's problems are shown.
struct FormVisibility {
  bool save_attempted = false;
  bool name_touched = false;
  bool host_touched = false;
  bool port_touched = false;
  friend bool operator==(const FormVisibility&, const FormVisibility&) = default;
};

// The problems to show, in their order.
std::vector<std::string> visible_form_problems(const std::vector<std::string>& problems,
                                               const FormVisibility& visibility);

// A device offered by the form of a device profile.
struct DiscoveredDevice {
  std::string display_name;
  std::string endpoint_id;
  bool online = false;
  friend bool operator==(const DiscoveredDevice&, const DiscoveredDevice&) = default;
};

// An SSH host-key observation together with the target it was made for, so
// that trusting or forgetting it never acts on a host or port a
// synchronisation changed since.
struct HostKeyObservationAt {
  ssh::HostKeyObservation observation;
  std::string host;
  std::uint16_t port = 0;
};

}  // namespace remote::app
