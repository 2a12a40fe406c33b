#include "platform/vesk_actions/context.hpp"

#include <vector>

namespace vesk_actions {

namespace {

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char to_upper(char c) { return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_separator(char c) { return c == '_' || c == '-' || c == '.' || c == ':' || c == ' '; }

}  // namespace

std::string humanize_identifier(std::string_view id) {
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for (std::size_t i = 0; i < id.size(); ++i) {
    char c = id[i];
    if (is_separator(c)) {
      flush();
      continue;
    }
    if (is_upper(c) && !word.empty()) {
      char prev = word.back();
      bool next_lower = i + 1 < id.size() && is_lower(id[i + 1]);
      // "setFavorite" splits before F; "SSHKey" splits before K.
      if (is_lower(prev) || is_digit(prev) || (is_upper(prev) && next_lower)) flush();
    }
    word.push_back(c);
  }
  flush();

  std::string out;
  for (std::size_t w = 0; w < words.size(); ++w) {
    std::string& text = words[w];
    bool acronym = text.size() > 1;
    for (char c : text) {
      if (is_lower(c)) acronym = false;
    }
    if (!acronym) {
      for (char& c : text) c = to_lower(c);
      if (w == 0) text[0] = to_upper(text[0]);
    }
    if (w > 0) out.push_back(' ');
    out += text;
  }
  return out;
}

ActionContext ActionContext::for_json_value(const nlohmann::ordered_json& value) {
  ActionContext c;
  if (value.is_string()) {
    c.label = humanize_identifier(value.get_ref<const std::string&>());
  } else if (value.is_object() && value.size() == 1) {
    c.label = humanize_identifier(value.begin().key());
  } else {
    c.label = "Update";
  }
  return c;
}

ActionContext ActionContext::enriched_by(const ActionContext& other) const {
  ActionContext c = *this;
  if (c.label.empty()) c.label = other.label;
  if (!c.source) c.source = other.source;
  if (!c.reason) c.reason = other.reason;
  if (!c.correlation) c.correlation = other.correlation;
  return c;
}

}  // namespace vesk_actions
