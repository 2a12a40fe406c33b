#include "apps/remote/src/doc/form.hpp"

#include <ostream>

#include "apps/remote/src/doc/text.hpp"

namespace remote {

std::string_view InputField::as_str() const {
  switch (value_) {
    case Search: return "search";
    case Name: return "name";
    case Host: return "host";
    case Port: return "port";
    case User: return "user";
    case Group: return "group";
  }
  return "search";
}

std::string_view InputField::placeholder() const {
  switch (value_) {
    case Search: return "Search machines\u2026  ( / )";
    case Name: return "My machine";
    case Host: return "hostname or IP";
    case Port: return "Port";
    case User: return "username";
    case Group: return "group (optional)";
  }
  return "";
}

std::ostream& operator<<(std::ostream& out, InputField field) { return out << field.as_str(); }

std::optional<std::string> field_length_problem(InputField field, std::string_view text) {
  if (text.size() <= kMaxFieldBytes) return std::nullopt;
  std::string_view word;
  switch (field.value()) {
    case InputField::Search: word = "Search"; break;
    case InputField::Name: word = "Name"; break;
    case InputField::Host: word = "Host"; break;
    case InputField::Port: word = "Port"; break;
    case InputField::User: word = "User"; break;
    case InputField::Group: word = "Group"; break;
  }
  // The number as the window writes numbers: "1,024".
  const std::string digits = std::to_string(kMaxFieldBytes);
  std::string out(word);
  out += " must be at most ";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  out += " bytes";
  return out;
}

std::optional<std::string> name_problem(std::string_view name) {
  if (text::trim(name).empty()) return std::string("Name is required");
  return field_length_problem(InputField::Name, name);
}

std::optional<std::uint16_t> parse_port(std::string_view raw) {
  std::string_view digits = text::trim(raw);
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > UINT16_MAX) return std::nullopt;  // stop before a long text can overflow
  }
  return static_cast<std::uint16_t>(value);
}

ConnectionForm ConnectionForm::from_connection(const SavedConnection& c) {
  ConnectionForm form;
  form.name = c.name;
  form.host = c.host;
  form.port = std::to_string(c.port);
  form.user = c.user;
  form.group = c.group;
  form.auth = c.auth;
  form.kind = c.kind;
  return form;
}

SavedConnection ConnectionForm::to_connection(const Uuid& id) const {
  SavedConnection c;
  if (kind == ConnectionKind::Vesk) {
    c.port = 0;
  } else {
    c.port = parse_port(port).value_or(kind.default_port().value_or(0));
  }
  c.name = text::trim(name);
  c.host = text::trim(host);
  c.group = text::trim(group);
  if (kind == ConnectionKind::Ssh || kind == ConnectionKind::Rdp) c.user = text::trim(user);
  c.auth = auth;
  c.kind = kind;
  c.id = id;
  c.last_used = "Never";
  c.presence = Presence::Unknown;
  c.favorite = false;
  return c;
}

std::vector<std::string> ConnectionForm::problems() const {
  std::vector<std::string> out;
  // Lengths are checked on the texts as saved (trimmed).
  if (auto problem = name_problem(text::trim(name))) out.push_back(std::move(*problem));
  if (text::trim(host).empty()) out.emplace_back("Host is required");
  if (auto problem = field_length_problem(InputField::Host, text::trim(host))) out.push_back(std::move(*problem));
  if (kind != ConnectionKind::Vesk) {
    const auto value = parse_port(port);
    if (!value || *value == 0) out.emplace_back("Port must be 1\u201365535");
  }
  const bool keeps_user = kind == ConnectionKind::Ssh || kind == ConnectionKind::Rdp;
  if (auto problem = field_length_problem(InputField::User, text::trim(user)); problem && keeps_user) {
    out.push_back(std::move(*problem));
  }
  if (auto problem = field_length_problem(InputField::Group, text::trim(group))) out.push_back(std::move(*problem));
  if (auto target = kind.check_target(host, auth)) out.push_back(std::move(*target));
  return out;
}

std::ostream& operator<<(std::ostream& out, const ConnectionForm& f) {
  return out << "ConnectionForm{name=\"" << f.name << "\", host=\"" << f.host << "\", port=\"" << f.port
             << "\", user=\"" << f.user << "\", group=\"" << f.group << "\", auth=" << f.auth << ", kind=" << f.kind
             << "}";
}

bool live_sessions_enabled() { return text::env_var("REMOTE_LIVE_SESSIONS").has_value(); }

}  // namespace remote
