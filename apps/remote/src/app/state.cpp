#include "apps/remote/src/app/state.hpp"

#include <string>

namespace remote::app {

namespace {

template <class T>
std::optional<T> payload_as(const UiMessage::Payload& payload) {
  if (const T* v = std::get_if<T>(&payload)) return *v;
  return std::nullopt;
}

}  // namespace

Screen::Normalized Screen::normalized() const {
  switch (kind) {
    case Kind::NewConnectionForm: return {Normalized::Kind::Form, std::nullopt};
    case Kind::EditConnectionForm: return {Normalized::Kind::Form, id};
    case Kind::ConnectionList: return {Normalized::Kind::List, std::nullopt};
    case Kind::Session: return {Normalized::Kind::Session, id};
  }
  return {};
}

std::optional<Uuid> UiMessage::id() const { return payload_as<Uuid>(payload); }
std::optional<InputField> UiMessage::field() const { return payload_as<InputField>(payload); }
std::optional<ConnectionKind> UiMessage::kind() const { return payload_as<ConnectionKind>(payload); }
std::optional<AuthKind> UiMessage::auth() const { return payload_as<AuthKind>(payload); }
std::optional<std::uint64_t> UiMessage::device_index() const { return payload_as<std::uint64_t>(payload); }

std::optional<Rect> find_hit_region_bounds(const std::vector<HitRegion>& regions, const UiMessage& message) {
  for (auto it = regions.rbegin(); it != regions.rend(); ++it) {
    if (it->message == message) return it->rect;
  }
  return std::nullopt;
}

std::optional<UiMessage> find_hit_region_at(const std::vector<HitRegion>& regions, double x, double y) {
  for (auto it = regions.rbegin(); it != regions.rend(); ++it) {
    if (it->rect.contains(x, y)) return it->message;
  }
  return std::nullopt;
}

std::string connection_signature(const SavedConnection& c) {
  std::string out(c.kind.as_str());
  out += '|';
  out += c.host;
  out += '|';
  out += std::to_string(c.port);
  out += '|';
  out += c.user;
  out += '|';
  out += c.auth.label();
  return out;
}

std::vector<std::string> visible_form_problems(const std::vector<std::string>& problems,
                                               const FormVisibility& visibility) {
  if (visibility.save_attempted) return problems;
  std::vector<std::string> shown;
  for (const std::string& p : problems) {
    const std::string_view v(p);
    bool show = false;
    if (v.starts_with("Name is required")) {
      show = visibility.name_touched;
    } else if (v.starts_with("Host is required") ||
               v.starts_with("Vesk device node must be an exact certified endpoint id")) {
      show = visibility.host_touched;
    } else if (v.starts_with("Port")) {
      show = visibility.port_touched;
    }
    if (show) shown.push_back(p);
  }
  return shown;
}

}  // namespace remote::app
