#include "apps/remote/src/doc/text.hpp"

#include "platform/vesk_ui/utf8/utf8.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

namespace remote::text {
namespace {

// ICU offsets are 32-bit; longer texts are handled in pieces or byte-wise.
constexpr std::size_t kIcuMaxLength = INT32_MAX;

}  // namespace

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> texts) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = texts.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' && next != texts.end()) {
      out.append(*next++);
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

std::string_view trim(std::string_view text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  // Trimming only ever looks at the ends, so a length past ICU's range is fine
  // as long as the index stays within it; longer texts are trimmed of ASCII only.
  if (text.size() > kIcuMaxLength) {
    std::size_t b = 0, e = text.size();
    while (b < e && (s[b] == ' ' || (s[b] >= 0x09 && s[b] <= 0x0D))) ++b;
    while (e > b && (s[e - 1] == ' ' || (s[e - 1] >= 0x09 && s[e - 1] <= 0x0D))) --e;
    return text.substr(b, e - b);
  }
  const int32_t length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c;
    U8_NEXT(s, next, length, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t prev = end;
    UChar32 c;
    U8_PREV(s, begin, prev, c);
    if (c < 0 || !u_isUWhiteSpace(c)) break;
    end = prev;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::string to_lower(std::string_view text) {
  std::string out;
  if (text.size() > kIcuMaxLength) {
    out.assign(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  out.reserve(text.size());
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  // "" is the root locale: no Turkish or Lithuanian special cases, whatever LANG says.
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr,
                            status);
  if (U_FAILURE(status)) return std::string(text);
  return out;
}

std::size_t char_count(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string_view first_chars(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == count) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

std::optional<std::string> env_var(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  std::string_view view(value);
  if (!vesk_ui::utf8::is_valid(view)) return std::nullopt;
  return std::string(view);
}

}  // namespace remote::text
