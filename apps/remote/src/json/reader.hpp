// Strict pull reader for the JSON payloads of this application.
//
// The messages, their positions and the order of checks follow the reader of
// serde_json (slice input), because payload errors are shown to users and
// compared by tests: "missing field `id` at line 1 column 40" and friends.
// Decoders are written against the small typed helpers at the end of this
// header (read_struct, read_enum, read_seq, ...); the Reader class itself is
// the byte-level cursor they share.
//
// Nothing recurses on input: skipped values use an explicit stack, and every
// object or array, skipped or read, counts against one nesting limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace remote::json {

// Objects and arrays nested this deep are refused (the 128th level).
inline constexpr int kMaxDepth = 128;

struct Error {
  std::string message;
  // 0 while the error has no position yet; filled where the reader knows
  // how far it got (see Reader::fix).
  std::size_t line = 0;
  std::size_t column = 0;

  // "message at line L column C", or the message alone when unpositioned.
  std::string to_string() const;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

// An error without position, like a visitor error of serde.
Error custom_error(std::string message);
Error invalid_type(std::string_view unexpected, std::string_view expected);
Error invalid_value(std::string_view unexpected, std::string_view expected);
Error invalid_length(std::size_t len, std::string_view expected);
Error unknown_variant(std::string_view name, std::span<const std::string_view> variants);
Error missing_field(std::string_view field);
Error duplicate_field(std::string_view field);

// How an unexpected value is named in "invalid type" and "invalid value".
std::string describe_float(double value);         // floating point `22`
std::string describe_string(std::string_view s);  // string "a\n"
// A text in quotation marks with debug escapes ("a\n"), as diagnostics show it.
std::string debug_quoted(std::string_view s);

// A number as the reader produced it (serde_json's ParserNumber).
using Number = std::variant<std::uint64_t, std::int64_t, double>;

class Reader {
 public:
  explicit Reader(std::string_view input) : input_(input) {}

  // Byte cursor.
  std::optional<unsigned char> peek() const;
  void eat() { ++index_; }
  std::optional<unsigned char> next();
  // Skips JSON whitespace; gives the next byte without consuming it.
  std::optional<unsigned char> skip_whitespace();
  std::size_t offset() const { return index_; }

  // Errors at the last consumed byte, at the byte just peeked, and the fix
  // that gives an unpositioned error the position reached so far.
  Error error(std::string message) const;
  Error peek_error(std::string message) const;
  Error fix(Error error) const;

  // Strings: call after the opening quote was consumed.
  Result<std::string> parse_string_body();
  Status ignore_string_body();
  // Literal tail after its first byte ("ull" for null).
  Status parse_ident(std::string_view rest);
  // Integer as the typed number readers see it; call at '-' or a digit,
  // with the '-' already consumed when !positive.
  Result<Number> parse_integer(bool positive);
  // Any number (for error descriptions); same calling convention.
  Result<Number> parse_any_number(bool positive);

  // The "invalid type" error for whatever value starts here (consumes
  // scalars to name them), positioned like serde_json's peek_invalid_type.
  Error invalid_type_here(std::string_view expected);

  // Skips one value of any shape without recursion.
  Status skip_value();

  // Nesting: enter() before consuming '[' or '{', leave() after its end.
  Status enter();
  void leave() { ++remaining_depth_; }

  // Sequence and map access. `first` starts true for each container.
  // next_element: true when an element follows (cursor at its first byte).
  Result<bool> next_element(bool& first);
  // next_key: the key text, or nullopt at the closing brace.
  Result<std::optional<std::string>> next_key(bool& first);
  Status object_colon();
  Status end_seq();
  Status end_map();

  // After the top-level value: only whitespace may follow.
  Status end();

 private:
  struct Position {
    std::size_t line;
    std::size_t column;
  };
  Position position_of(std::size_t index) const;
  Error error_at(std::size_t index, std::string message) const;
  Status parse_escape(std::string& out);
  Status ignore_escape();
  Result<std::uint16_t> decode_hex_escape();
  Result<double> parse_float_tail(bool positive, std::size_t start);
  Status ignore_number();

  std::string_view input_;
  std::size_t index_ = 0;
  int remaining_depth_ = kMaxDepth;
};

// ---------------------------------------------------------------------------
// Typed readers. Each reads one value at the cursor, like a serde visitor.

Result<std::string> read_string(Reader& r);
Result<bool> read_bool(Reader& r);
// An unsigned integer up to `max`, named `expecting` in errors ("u16").
Result<std::uint64_t> read_unsigned(Reader& r, std::uint64_t max, std::string_view expecting);
Result<std::uint16_t> read_u16(Reader& r);
Result<std::uint64_t> read_u64(Reader& r);
Result<std::int64_t> read_i64(Reader& r);
// null, the unit value.
Status read_unit(Reader& r);

// Moves a read value into `out`; for the field callbacks of read_struct.
template <class T, class U>
Status store(Result<T> value, U& out) {
  if (!value) return std::unexpected(std::move(value.error()));
  out = std::move(*value);
  return {};
}

// A string converted by `convert`, which gives T or a message; the message
// becomes an error positioned after the string ("UUID parsing failed: ...").
template <class T, class F>
Result<T> read_str_with(Reader& r, std::string_view expecting, F&& convert) {
  auto peek = r.skip_whitespace();
  if (!peek) return std::unexpected(r.peek_error("EOF while parsing a value"));
  if (*peek != '"') return std::unexpected(r.fix(r.invalid_type_here(expecting)));
  r.eat();
  auto text = r.parse_string_body();
  if (!text) return std::unexpected(text.error());
  std::expected<T, std::string> converted = convert(std::string_view(*text));
  if (!converted) return std::unexpected(r.fix(custom_error(std::move(converted.error()))));
  return std::move(*converted);
}

// A struct read from an object (fields by name, any order, unknown members
// skipped) or an array (fields in order).
struct StructShape {
  std::string_view expecting;    // "struct variant RemoteAction::SetFavorite"
  std::string_view length_text;  // "... with 2 elements"
  std::span<const std::string_view> fields;
};

namespace detail {
template <class F>
Status read_struct_body(Reader& r, const StructShape& shape, F& field) {
  auto peek = r.skip_whitespace();
  if (!peek) return std::unexpected(r.peek_error("EOF while parsing a value"));
  Status result;
  if (*peek == '[') {
    if (auto s = r.enter(); !s) return s;
    r.eat();
    bool first = true;
    for (std::size_t i = 0; i < shape.fields.size(); ++i) {
      auto more = r.next_element(first);
      if (!more) {
        result = std::unexpected(more.error());
        break;
      }
      if (!*more) {
        result = std::unexpected(invalid_length(i, shape.length_text));
        break;
      }
      if (auto s = field(i); !s) {
        result = std::unexpected(s.error());
        break;
      }
    }
    r.leave();
    auto closed = r.end_seq();
    if (result && !closed) result = std::unexpected(closed.error());
  } else if (*peek == '{') {
    if (auto s = r.enter(); !s) return s;
    r.eat();
    std::vector<bool> seen(shape.fields.size(), false);
    bool first = true;
    while (true) {
      auto key = r.next_key(first);
      if (!key) {
        result = std::unexpected(key.error());
        break;
      }
      if (!*key) break;
      std::size_t index = shape.fields.size();
      for (std::size_t i = 0; i < shape.fields.size(); ++i) {
        if (shape.fields[i] == **key) {
          index = i;
          break;
        }
      }
      if (index < shape.fields.size() && seen[index]) {
        result = std::unexpected(duplicate_field(shape.fields[index]));
        break;
      }
      if (auto s = r.object_colon(); !s) {
        result = s;
        break;
      }
      if (index == shape.fields.size()) {
        if (auto s = r.skip_value(); !s) {
          result = s;
          break;
        }
        continue;
      }
      if (auto s = field(index); !s) {
        result = s;
        break;
      }
      seen[index] = true;
    }
    if (result) {
      for (std::size_t i = 0; i < shape.fields.size(); ++i) {
        if (!seen[i]) {
          result = std::unexpected(missing_field(shape.fields[i]));
          break;
        }
      }
    }
    r.leave();
    auto closed = r.end_map();
    if (result && !closed) result = std::unexpected(closed.error());
  } else {
    return std::unexpected(r.fix(r.invalid_type_here(shape.expecting)));
  }
  if (!result) return std::unexpected(r.fix(std::move(result.error())));
  return {};
}
}  // namespace detail

// `field(i)` reads the value of field i at the cursor into the caller's
// storage and gives a Status. Called at most once per field.
template <class F>
Status read_struct(Reader& r, const StructShape& shape, F&& field) {
  return detail::read_struct_body(r, shape, field);
}

// A JSON array; `element(r)` reads one element at the cursor.
template <class F>
Status read_seq(Reader& r, std::string_view expecting, F&& element) {
  auto peek = r.skip_whitespace();
  if (!peek) return std::unexpected(r.peek_error("EOF while parsing a value"));
  if (*peek != '[') return std::unexpected(r.fix(r.invalid_type_here(expecting)));
  if (auto s = r.enter(); !s) return s;
  r.eat();
  Status result;
  bool first = true;
  while (true) {
    auto more = r.next_element(first);
    if (!more) {
      result = std::unexpected(more.error());
      break;
    }
    if (!*more) break;
    if (auto s = element(r); !s) {
      result = s;
      break;
    }
  }
  r.leave();
  auto closed = r.end_seq();
  if (result && !closed) result = std::unexpected(closed.error());
  if (!result) return std::unexpected(r.fix(std::move(result.error())));
  return {};
}

// The body of one enum variant, as an externally tagged enum presents it:
// either a bare string (no body) or the value of the single member.
class Variant {
 public:
  Variant(Reader& r, bool bare) : r_(&r), bare_(bare) {}
  bool bare() const { return bare_; }
  // A variant without fields.
  Status unit();
  // A variant with fields.
  template <class F>
  Status struct_body(const StructShape& shape, F&& field) {
    if (bare_) return std::unexpected(invalid_type("unit variant", "struct variant"));
    return read_struct(*r_, shape, std::forward<F>(field));
  }
  Reader& reader() { return *r_; }

 private:
  Reader* r_;
  bool bare_;
};

namespace detail {
Result<std::size_t> read_variant_name(Reader& r, std::span<const std::string_view> variants);
Status close_enum_object(Reader& r);
}  // namespace detail

// An externally tagged enum: "Name" or {"Name": body}. `body(index, variant)`
// gives Result<T>.
template <class T, class F>
Result<T> read_enum(Reader& r, std::span<const std::string_view> variants, F&& body) {
  auto peek = r.skip_whitespace();
  if (!peek) return std::unexpected(r.peek_error("EOF while parsing a value"));
  if (*peek == '"') {
    auto index = detail::read_variant_name(r, variants);
    if (!index) return std::unexpected(index.error());
    Variant v(r, true);
    return body(*index, v);
  }
  if (*peek != '{') return std::unexpected(r.peek_error("expected value"));
  if (auto s = r.enter(); !s) return std::unexpected(s.error());
  r.eat();
  auto index = detail::read_variant_name(r, variants);
  if (!index) return std::unexpected(index.error());
  if (auto s = r.object_colon(); !s) return std::unexpected(s.error());
  Variant v(r, false);
  Result<T> value = body(*index, v);
  if (!value) return value;
  r.leave();
  if (auto s = detail::close_enum_object(r); !s) return std::unexpected(s.error());
  return value;
}

// Reads a whole document: one value, then only whitespace. The error is the
// final message text.
template <class T, class F>
std::expected<T, std::string> read_document(std::string_view text, F&& read_value) {
  Reader r(text);
  Result<T> value = read_value(r);
  if (!value) return std::unexpected(value.error().to_string());
  if (auto s = r.end(); !s) return std::unexpected(s.error().to_string());
  return std::move(*value);
}

}  // namespace remote::json
