#include "apps/remote/src/json/reader.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <locale.h>
#include <stdlib.h>

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::json {

namespace {

constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kEofList = "EOF while parsing a list";
constexpr const char* kEofObject = "EOF while parsing an object";
constexpr const char* kExpectedValue = "expected value";
constexpr const char* kExpectedIdent = "expected ident";
constexpr const char* kInvalidNumber = "invalid number";
constexpr const char* kOutOfRange = "number out of range";
constexpr const char* kTrailingComma = "trailing comma";
constexpr const char* kTrailingCharacters = "trailing characters";

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string describe_number(const Number& n) {
  if (auto* u = std::get_if<std::uint64_t>(&n)) return "integer `" + std::to_string(*u) + "`";
  if (auto* i = std::get_if<std::int64_t>(&n)) return "integer `" + std::to_string(*i) + "`";
  return describe_float(std::get<double>(n));
}

}  // namespace

std::string Error::to_string() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

Error custom_error(std::string message) { return Error{std::move(message), 0, 0}; }

Error invalid_type(std::string_view unexpected, std::string_view expected) {
  return custom_error("invalid type: " + std::string(unexpected) + ", expected " + std::string(expected));
}

Error invalid_value(std::string_view unexpected, std::string_view expected) {
  return custom_error("invalid value: " + std::string(unexpected) + ", expected " + std::string(expected));
}

Error invalid_length(std::size_t len, std::string_view expected) {
  return custom_error("invalid length " + std::to_string(len) + ", expected " + std::string(expected));
}

Error unknown_variant(std::string_view name, std::span<const std::string_view> variants) {
  std::string msg = "unknown variant `" + std::string(name) + "`, ";
  if (variants.empty()) return custom_error(msg + "there are no variants");
  msg += "expected ";
  if (variants.size() == 1) {
    msg += "`" + std::string(variants[0]) + "`";
  } else if (variants.size() == 2) {
    msg += "`" + std::string(variants[0]) + "` or `" + std::string(variants[1]) + "`";
  } else {
    msg += "one of ";
    for (std::size_t i = 0; i < variants.size(); ++i) {
      if (i > 0) msg += ", ";
      msg += "`" + std::string(variants[i]) + "`";
    }
  }
  return custom_error(std::move(msg));
}

Error missing_field(std::string_view field) { return custom_error("missing field `" + std::string(field) + "`"); }

Error duplicate_field(std::string_view field) { return custom_error("duplicate field `" + std::string(field) + "`"); }

// Shortest text that reads back as the same double, without exponent, as
// Rust prints floats: 22.0 -> "22", 1e-7 -> "0.0000001", -0.0 -> "-0".
std::string describe_float(double value) {
  std::string text;
  if (std::isnan(value)) {
    text = "NaN";
  } else if (std::isinf(value)) {
    text = value < 0 ? "-inf" : "inf";
  } else {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string sci(buf, res.ptr);
    bool negative = !sci.empty() && sci[0] == '-';
    if (negative) sci.erase(0, 1);
    auto e = sci.find('e');
    std::string mantissa = sci.substr(0, e);
    int exponent = std::atoi(sci.c_str() + e + 1);
    std::string digits;
    for (char c : mantissa) {
      if (c != '.') digits.push_back(c);
    }
    // digits = d1 d2 ... dn, value = 0.d1...dn * 10^(exponent + 1)
    int point = exponent + 1;
    std::string plain;
    if (point <= 0) {
      plain = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
      plain = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
      plain = digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
    }
    text = (negative ? "-" : "") + plain;
  }
  return "floating point `" + text + "`";
}

std::string describe_string(std::string_view s) { return "string " + debug_quoted(s); }

std::string debug_quoted(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char* hex = "0123456789abcdef";
          out += "\\u{";
          if (c >= 0x10) out.push_back(hex[c >> 4]);
          out.push_back(hex[c & 0xF]);
          out += "}";
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "\"";
  return out;
}

// ---------------------------------------------------------------------------

std::optional<unsigned char> Reader::peek() const {
  if (index_ < input_.size()) return static_cast<unsigned char>(input_[index_]);
  return std::nullopt;
}

std::optional<unsigned char> Reader::next() {
  if (index_ < input_.size()) return static_cast<unsigned char>(input_[index_++]);
  return std::nullopt;
}

std::optional<unsigned char> Reader::skip_whitespace() {
  while (index_ < input_.size()) {
    char c = input_[index_];
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      ++index_;
    } else {
      return static_cast<unsigned char>(c);
    }
  }
  return std::nullopt;
}

Reader::Position Reader::position_of(std::size_t index) const {
  Position p{1, 0};
  for (std::size_t i = 0; i < index && i < input_.size(); ++i) {
    if (input_[i] == '\n') {
      ++p.line;
      p.column = 0;
    } else {
      ++p.column;
    }
  }
  return p;
}

Error Reader::error_at(std::size_t index, std::string message) const {
  Position p = position_of(index);
  return Error{std::move(message), p.line, p.column};
}

Error Reader::error(std::string message) const { return error_at(index_, std::move(message)); }

Error Reader::peek_error(std::string message) const {
  return error_at(std::min(input_.size(), index_ + 1), std::move(message));
}

Error Reader::fix(Error e) const {
  if (e.line != 0) return e;
  return error(std::move(e.message));
}

Status Reader::parse_ident(std::string_view rest) {
  for (char expected : rest) {
    auto c = next();
    if (!c) return std::unexpected(error(kEofValue));
    if (*c != static_cast<unsigned char>(expected)) return std::unexpected(error(kExpectedIdent));
  }
  return {};
}

Result<std::uint16_t> Reader::decode_hex_escape() {
  if (index_ + 4 > input_.size()) {
    index_ = input_.size();
    return std::unexpected(error(kEofString));
  }
  std::uint16_t n = 0;
  for (int i = 0; i < 4; ++i) {
    int v = hex_value(static_cast<unsigned char>(input_[index_]));
    ++index_;
    if (v < 0) return std::unexpected(error("invalid escape"));
    n = static_cast<std::uint16_t>((n << 4) + v);
  }
  return n;
}

Status Reader::parse_escape(std::string& out) {
  auto c = next();
  if (!c) return std::unexpected(error(kEofString));
  switch (*c) {
    case '"': out.push_back('"'); return {};
    case '\\': out.push_back('\\'); return {};
    case '/': out.push_back('/'); return {};
    case 'b': out.push_back('\b'); return {};
    case 'f': out.push_back('\f'); return {};
    case 'n': out.push_back('\n'); return {};
    case 'r': out.push_back('\r'); return {};
    case 't': out.push_back('\t'); return {};
    case 'u': break;
    default: return std::unexpected(error("invalid escape"));
  }
  auto n1 = decode_hex_escape();
  if (!n1) return std::unexpected(n1.error());
  if (*n1 >= 0xDC00 && *n1 <= 0xDFFF) return std::unexpected(error("lone leading surrogate in hex escape"));
  if (*n1 < 0xD800 || *n1 > 0xDBFF) {
    vesk_ui::utf8::append(out, static_cast<char32_t>(*n1));
    return {};
  }
  // A leading surrogate must be followed by "\u" and a trailing one.
  for (char expected : {'\\', 'u'}) {
    auto p = peek();
    if (!p) return std::unexpected(error(kEofString));
    eat();
    if (*p != static_cast<unsigned char>(expected)) {
      return std::unexpected(error("unexpected end of hex escape"));
    }
  }
  auto n2 = decode_hex_escape();
  if (!n2) return std::unexpected(n2.error());
  if (*n2 < 0xDC00 || *n2 > 0xDFFF) return std::unexpected(error("lone leading surrogate in hex escape"));
  std::uint32_t cp = ((static_cast<std::uint32_t>(*n1 - 0xD800) << 10) | (*n2 - 0xDC00)) + 0x10000;
  vesk_ui::utf8::append(out, static_cast<char32_t>(cp));
  return {};
}

Status Reader::ignore_escape() {
  auto c = next();
  if (!c) return std::unexpected(error(kEofString));
  switch (*c) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't': return {};
    case 'u': {
      auto n = decode_hex_escape();
      if (!n) return std::unexpected(n.error());
      return {};
    }
    default: return std::unexpected(error("invalid escape"));
  }
}

Result<std::string> Reader::parse_string_body() {
  std::string out;
  std::size_t start = index_;
  while (true) {
    while (index_ < input_.size()) {
      unsigned char c = static_cast<unsigned char>(input_[index_]);
      if (c == '"' || c == '\\' || c < 0x20) break;
      ++index_;
    }
    if (index_ == input_.size()) return std::unexpected(error(kEofString));
    unsigned char c = static_cast<unsigned char>(input_[index_]);
    if (c == '"') {
      out.append(input_.substr(start, index_ - start));
      ++index_;
      if (!vesk_ui::utf8::is_valid(out)) return std::unexpected(error("invalid unicode code point"));
      return out;
    }
    if (c == '\\') {
      out.append(input_.substr(start, index_ - start));
      ++index_;
      if (auto s = parse_escape(out); !s) return std::unexpected(s.error());
      start = index_;
      continue;
    }
    ++index_;
    return std::unexpected(error("control character (\\u0000-\\u001F) found while parsing a string"));
  }
}

// Skipped strings are checked for UTF-8 too: nothing invalid gets past the
// reader, read or not.
Status Reader::ignore_string_body() {
  std::size_t start = index_;
  while (true) {
    while (index_ < input_.size()) {
      unsigned char c = static_cast<unsigned char>(input_[index_]);
      if (c == '"' || c == '\\' || c < 0x20) break;
      ++index_;
    }
    if (index_ == input_.size()) return std::unexpected(error(kEofString));
    unsigned char c = static_cast<unsigned char>(input_[index_]);
    if (c == '"') {
      std::string_view raw = input_.substr(start, index_ - start);
      ++index_;
      // Escapes are ASCII, so the raw bytes show any invalid UTF-8.
      if (!vesk_ui::utf8::is_valid(raw)) return std::unexpected(error("invalid unicode code point"));
      return {};
    }
    if (c == '\\') {
      ++index_;
      if (auto s = ignore_escape(); !s) return s;
      continue;
    }
    return std::unexpected(error("control character (\\u0000-\\u001F) found while parsing a string"));
  }
}

Result<double> Reader::parse_float_tail(bool positive, std::size_t start) {
  // Cursor at '.', 'e', 'E' or past a too-long integer. Validates the
  // grammar like serde_json, then converts the scanned text.
  while (auto p = peek()) {
    if (!is_digit(*p)) break;
    eat();
  }
  if (auto p = peek(); p && *p == '.') {
    eat();
    bool any = false;
    while (auto q = peek()) {
      if (!is_digit(*q)) break;
      eat();
      any = true;
    }
    if (!any) {
      if (peek()) return std::unexpected(peek_error(kInvalidNumber));
      return std::unexpected(peek_error(kEofValue));
    }
  }
  if (auto p = peek(); p && (*p == 'e' || *p == 'E')) {
    eat();
    if (auto q = peek(); q && (*q == '+' || *q == '-')) eat();
    auto d = next();
    if (!d) return std::unexpected(error(kEofValue));
    if (!is_digit(*d)) return std::unexpected(error(kInvalidNumber));
    while (auto q = peek()) {
      if (!is_digit(*q)) break;
      eat();
    }
  }
  std::string text(input_.substr(start, index_ - start));
  // The C locale: the application's locale may use a decimal comma.
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  double v = strtod_l(text.c_str(), nullptr, c_locale);
  if (std::isinf(v)) return std::unexpected(error(kOutOfRange));
  return positive ? v : -v;
}

Result<Number> Reader::parse_integer(bool positive) {
  std::size_t start = index_;
  auto c = next();
  if (!c) return std::unexpected(error(kEofValue));
  std::uint64_t significand = 0;
  if (*c == '0') {
    if (auto p = peek(); p && is_digit(*p)) return std::unexpected(peek_error(kInvalidNumber));
  } else if (is_digit(*c)) {
    significand = *c - '0';
    while (auto p = peek()) {
      if (!is_digit(*p)) break;
      std::uint64_t digit = *p - '0';
      if (significand > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
        auto f = parse_float_tail(positive, start);
        if (!f) return std::unexpected(f.error());
        return Number{*f};
      }
      eat();
      significand = significand * 10 + digit;
    }
  } else {
    return std::unexpected(error(kInvalidNumber));
  }
  if (auto p = peek(); p && (*p == '.' || *p == 'e' || *p == 'E')) {
    auto f = parse_float_tail(positive, start);
    if (!f) return std::unexpected(f.error());
    return Number{*f};
  }
  if (positive) return Number{significand};
  // "-0" and magnitudes beyond i64 become floats, as in serde_json.
  if (significand == 0 || significand > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) {
    return Number{-static_cast<double>(significand)};
  }
  if (significand == static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) {
    return Number{std::numeric_limits<std::int64_t>::min()};
  }
  return Number{-static_cast<std::int64_t>(significand)};
}

Result<Number> Reader::parse_any_number(bool positive) { return parse_integer(positive); }

Error Reader::invalid_type_here(std::string_view expected) {
  auto p = peek();
  unsigned char c = p ? *p : 0;
  Error err;
  switch (c) {
    case 'n':
      eat();
      if (auto s = parse_ident("ull"); !s) return s.error();
      err = invalid_type("null", expected);  // serde_json's wording for JSON's null
      break;
    case 't':
      eat();
      if (auto s = parse_ident("rue"); !s) return s.error();
      err = invalid_type("boolean `true`", expected);
      break;
    case 'f':
      eat();
      if (auto s = parse_ident("alse"); !s) return s.error();
      err = invalid_type("boolean `false`", expected);
      break;
    case '-': {
      eat();
      auto n = parse_any_number(false);
      if (!n) return n.error();
      err = invalid_type(describe_number(*n), expected);
      break;
    }
    case '"': {
      eat();
      auto s = parse_string_body();
      if (!s) return s.error();
      err = invalid_type(describe_string(*s), expected);
      break;
    }
    case '[': err = invalid_type("sequence", expected); break;
    case '{': err = invalid_type("map", expected); break;
    default:
      if (is_digit(c)) {
        auto n = parse_any_number(true);
        if (!n) return n.error();
        err = invalid_type(describe_number(*n), expected);
        break;
      }
      return peek_error(kExpectedValue);
  }
  return fix(std::move(err));
}

Status Reader::enter() {
  --remaining_depth_;
  if (remaining_depth_ == 0) return std::unexpected(peek_error("recursion limit exceeded"));
  return {};
}

Status Reader::ignore_number() {
  auto c = next();
  if (!c) return std::unexpected(error(kInvalidNumber));
  if (*c == '0') {
    if (auto p = peek(); p && is_digit(*p)) return std::unexpected(peek_error(kInvalidNumber));
  } else if (is_digit(*c)) {
    while (auto p = peek()) {
      if (!is_digit(*p)) break;
      eat();
    }
  } else {
    return std::unexpected(error(kInvalidNumber));
  }
  if (auto p = peek(); p && *p == '.') {
    eat();
    bool any = false;
    while (auto q = peek()) {
      if (!is_digit(*q)) break;
      eat();
      any = true;
    }
    if (!any) return std::unexpected(peek_error(kInvalidNumber));
  }
  if (auto p = peek(); p && (*p == 'e' || *p == 'E')) {
    eat();
    if (auto q = peek(); q && (*q == '+' || *q == '-')) eat();
    auto d = next();
    if (!d || !is_digit(*d)) return std::unexpected(error(kInvalidNumber));
    while (auto q = peek()) {
      if (!is_digit(*q)) break;
      eat();
    }
  }
  return {};
}

// serde_json's ignore_value: an explicit stack of open containers instead of
// recursion. Each container opened also takes one level of the nesting limit.
Status Reader::skip_value() {
  std::vector<unsigned char> stack;
  std::optional<unsigned char> enclosing;
  int opened = 0;
  auto fail = [&](Error e) -> Status {
    remaining_depth_ += opened;
    return std::unexpected(std::move(e));
  };
  while (true) {
    auto p = skip_whitespace();
    if (!p) return fail(peek_error(kEofValue));
    std::optional<unsigned char> frame;
    switch (*p) {
      case 'n':
        eat();
        if (auto s = parse_ident("ull"); !s) return fail(s.error());
        break;
      case 't':
        eat();
        if (auto s = parse_ident("rue"); !s) return fail(s.error());
        break;
      case 'f':
        eat();
        if (auto s = parse_ident("alse"); !s) return fail(s.error());
        break;
      case '-':
        eat();
        if (auto s = ignore_number(); !s) return fail(s.error());
        break;
      case '"':
        eat();
        if (auto s = ignore_string_body(); !s) return fail(s.error());
        break;
      case '[':
      case '{':
        if (auto s = enter(); !s) {
          ++remaining_depth_;
          return fail(s.error());
        }
        ++opened;
        if (enclosing) stack.push_back(*enclosing);
        enclosing.reset();
        eat();
        frame = *p;
        break;
      default:
        if (is_digit(*p)) {
          if (auto s = ignore_number(); !s) return fail(s.error());
          break;
        }
        return fail(peek_error(kExpectedValue));
    }

    bool accept_comma;
    unsigned char current;
    if (frame) {
      accept_comma = false;
      current = *frame;
    } else if (enclosing) {
      accept_comma = true;
      current = *enclosing;
      enclosing.reset();
    } else if (!stack.empty()) {
      accept_comma = true;
      current = stack.back();
      stack.pop_back();
    } else {
      return {};
    }

    bool done = false;
    while (true) {
      auto q = skip_whitespace();
      if (!q) return fail(peek_error(current == '[' ? kEofList : kEofObject));
      if (*q == ',' && accept_comma) {
        eat();
        break;
      }
      bool closes = (*q == ']' && current == '[') || (*q == '}' && current == '{');
      if (!closes) {
        if (accept_comma) {
          return fail(peek_error(current == '[' ? "expected `,` or `]`" : "expected `,` or `}`"));
        }
        break;
      }
      eat();
      leave();
      --opened;
      if (stack.empty()) {
        done = true;
        break;
      }
      current = stack.back();
      stack.pop_back();
      accept_comma = true;
    }
    if (done) return {};

    if (current == '{') {
      auto q = skip_whitespace();
      if (!q) return fail(peek_error(kEofObject));
      if (*q != '"') return fail(peek_error("key must be a string"));
      eat();
      if (auto s = ignore_string_body(); !s) return fail(s.error());
      auto colon = skip_whitespace();
      if (!colon) return fail(peek_error(kEofObject));
      if (*colon != ':') return fail(peek_error("expected `:`"));
      eat();
    }
    enclosing = current;
  }
}

Result<bool> Reader::next_element(bool& first) {
  auto p = skip_whitespace();
  if (!p) return std::unexpected(peek_error(kEofList));
  if (*p == ']') return false;
  if (*p == ',' && !first) {
    eat();
    p = skip_whitespace();
  } else if (first) {
    first = false;
  } else {
    return std::unexpected(peek_error("expected `,` or `]`"));
  }
  if (!p) return std::unexpected(peek_error(kEofValue));
  if (*p == ']') return std::unexpected(peek_error(kTrailingComma));
  return true;
}

Result<std::optional<std::string>> Reader::next_key(bool& first) {
  auto p = skip_whitespace();
  if (!p) return std::unexpected(peek_error(kEofObject));
  if (*p == '}') return std::optional<std::string>{};
  if (*p == ',' && !first) {
    eat();
    p = skip_whitespace();
  } else if (first) {
    first = false;
  } else {
    return std::unexpected(peek_error("expected `,` or `}`"));
  }
  if (!p) return std::unexpected(peek_error(kEofValue));
  if (*p == '}') return std::unexpected(peek_error(kTrailingComma));
  if (*p != '"') return std::unexpected(peek_error("key must be a string"));
  eat();
  auto key = parse_string_body();
  if (!key) return std::unexpected(key.error());
  return std::optional<std::string>(std::move(*key));
}

Status Reader::object_colon() {
  auto p = skip_whitespace();
  if (!p) return std::unexpected(peek_error(kEofObject));
  if (*p != ':') return std::unexpected(peek_error("expected `:`"));
  eat();
  return {};
}

Status Reader::end_seq() {
  auto p = skip_whitespace();
  if (!p) return std::unexpected(peek_error(kEofList));
  if (*p == ']') {
    eat();
    return {};
  }
  if (*p == ',') {
    eat();
    auto q = skip_whitespace();
    if (q && *q == ']') return std::unexpected(peek_error(kTrailingComma));
    return std::unexpected(peek_error(kTrailingCharacters));
  }
  return std::unexpected(peek_error(kTrailingCharacters));
}

Status Reader::end_map() {
  auto p = skip_whitespace();
  if (!p) return std::unexpected(peek_error(kEofObject));
  if (*p == '}') {
    eat();
    return {};
  }
  if (*p == ',') return std::unexpected(peek_error(kTrailingComma));
  return std::unexpected(peek_error(kTrailingCharacters));
}

Status Reader::end() {
  if (skip_whitespace()) return std::unexpected(peek_error(kTrailingCharacters));
  return {};
}

// ---------------------------------------------------------------------------

Result<std::string> read_string(Reader& r) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.peek_error(kEofValue));
  if (*p != '"') return std::unexpected(r.fix(r.invalid_type_here("a string")));
  r.eat();
  return r.parse_string_body();
}

Result<bool> read_bool(Reader& r) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.peek_error(kEofValue));
  if (*p == 't' || *p == 'f') {
    r.eat();
    auto s = r.parse_ident(*p == 't' ? "rue" : "alse");
    if (!s) return std::unexpected(s.error());
    return *p == 't';
  }
  return std::unexpected(r.fix(r.invalid_type_here("a boolean")));
}

Result<std::uint64_t> read_unsigned(Reader& r, std::uint64_t max, std::string_view expecting) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.peek_error(kEofValue));
  Result<Number> n;
  if (*p == '-') {
    r.eat();
    n = r.parse_integer(false);
  } else if (is_digit(*p)) {
    n = r.parse_integer(true);
  } else {
    return std::unexpected(r.fix(r.invalid_type_here(expecting)));
  }
  if (!n) return std::unexpected(n.error());
  if (auto* u = std::get_if<std::uint64_t>(&*n)) {
    if (*u <= max) return *u;
    return std::unexpected(r.fix(invalid_value(describe_number(*n), expecting)));
  }
  if (auto* i = std::get_if<std::int64_t>(&*n)) {
    if (*i >= 0 && static_cast<std::uint64_t>(*i) <= max) return static_cast<std::uint64_t>(*i);
    return std::unexpected(r.fix(invalid_value(describe_number(*n), expecting)));
  }
  return std::unexpected(r.fix(invalid_type(describe_number(*n), expecting)));
}

Result<std::uint16_t> read_u16(Reader& r) {
  auto v = read_unsigned(r, 0xFFFF, "u16");
  if (!v) return std::unexpected(v.error());
  return static_cast<std::uint16_t>(*v);
}

Result<std::uint64_t> read_u64(Reader& r) { return read_unsigned(r, std::numeric_limits<std::uint64_t>::max(), "u64"); }

Result<std::int64_t> read_i64(Reader& r) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.peek_error(kEofValue));
  Result<Number> n;
  if (*p == '-') {
    r.eat();
    n = r.parse_integer(false);
  } else if (is_digit(*p)) {
    n = r.parse_integer(true);
  } else {
    return std::unexpected(r.fix(r.invalid_type_here("i64")));
  }
  if (!n) return std::unexpected(n.error());
  if (auto* i = std::get_if<std::int64_t>(&*n)) return *i;
  if (auto* u = std::get_if<std::uint64_t>(&*n)) {
    if (*u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(*u);
    }
    return std::unexpected(r.fix(invalid_value(describe_number(*n), "i64")));
  }
  return std::unexpected(r.fix(invalid_type(describe_number(*n), "i64")));
}

Status read_unit(Reader& r) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.peek_error(kEofValue));
  if (*p == 'n') {
    r.eat();
    return r.parse_ident("ull");
  }
  return std::unexpected(r.fix(r.invalid_type_here("unit")));
}

Status Variant::unit() {
  if (bare_) return {};
  return read_unit(*r_);
}

namespace detail {

Result<std::size_t> read_variant_name(Reader& r, std::span<const std::string_view> variants) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.peek_error(kEofValue));
  if (*p != '"') return std::unexpected(r.fix(r.invalid_type_here("variant identifier")));
  r.eat();
  auto name = r.parse_string_body();
  if (!name) return std::unexpected(name.error());
  for (std::size_t i = 0; i < variants.size(); ++i) {
    if (variants[i] == *name) return i;
  }
  return std::unexpected(r.fix(unknown_variant(*name, variants)));
}

Status close_enum_object(Reader& r) {
  auto p = r.skip_whitespace();
  if (!p) return std::unexpected(r.error(kEofObject));
  if (*p != '}') return std::unexpected(r.error(kExpectedValue));
  r.eat();
  return {};
}

}  // namespace detail

}  // namespace remote::json
