#include "apps/remote/src/json/writer.hpp"

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::json {

void append_quoted(std::string& out, std::string_view text) {
  static const char* hex = "0123456789abcdef";
  out.push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(hex[c >> 4]);
          out.push_back(hex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

Writer::Writer(int indent) : indent_(indent) {}

void Writer::newline_indent() {
  out_.push_back('\n');
  out_.append(frames_.size() * static_cast<std::size_t>(indent_), ' ');
}

void Writer::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (frames_.empty()) return;
  Frame& f = frames_.back();
  if (f.has_value) out_.push_back(',');
  if (indent_ > 0) newline_indent();
  f.has_value = true;
}

void Writer::begin_object() {
  before_value();
  out_.push_back('{');
  frames_.push_back({false, true});
}

void Writer::end_object() {
  bool had = frames_.back().has_value;
  frames_.pop_back();
  if (indent_ > 0 && had) newline_indent();
  out_.push_back('}');
}

void Writer::begin_array() {
  before_value();
  out_.push_back('[');
  frames_.push_back({false, false});
}

void Writer::end_array() {
  bool had = frames_.back().has_value;
  frames_.pop_back();
  if (indent_ > 0 && had) newline_indent();
  out_.push_back(']');
}

void Writer::key(std::string_view name) {
  before_value();
  if (!vesk_ui::utf8::is_valid(name) && error_.empty()) error_ = "key is not valid UTF-8";
  append_quoted(out_, name);
  out_ += indent_ > 0 ? ": " : ":";
  after_key_ = true;
}

void Writer::string(std::string_view text) {
  before_value();
  if (!vesk_ui::utf8::is_valid(text) && error_.empty()) error_ = "string is not valid UTF-8";
  append_quoted(out_, text);
}

void Writer::unsigned_integer(std::uint64_t value) {
  before_value();
  out_ += std::to_string(value);
}

void Writer::signed_integer(std::int64_t value) {
  before_value();
  out_ += std::to_string(value);
}

void Writer::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
}

void Writer::null() {
  before_value();
  out_ += "null";
}

std::expected<std::string, std::string> Writer::finish() && {
  if (!error_.empty()) return std::unexpected(error_);
  return std::move(out_);
}

}  // namespace remote::json
