#include "apps/remote/src/json/utf8.hpp"

#include <cstdint>

namespace remote::json {

char32_t decode_utf8_at(std::string_view text, std::size_t& i, bool& ok) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  ok = true;
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  std::size_t len = 0;
  std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // past U+10FFFF
  } else {
    ok = false;
    ++i;
    return kReplacementCharacter;
  }
  std::size_t j = i + 1;
  for (std::size_t k = 1; k < len; ++k, ++j) {
    if (j >= text.size()) {
      ok = false;
      break;
    }
    const std::uint8_t c = byte(j);
    if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
      ok = false;
      break;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i = j;
  return ok ? cp : kReplacementCharacter;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // ASCII runs are the common case.
    if (static_cast<std::uint8_t>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    bool ok = true;
    decode_utf8_at(text, i, ok);
    if (!ok) return false;
  }
  return true;
}

std::string to_valid_utf8(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    bool ok = true;
    const char32_t cp = decode_utf8_at(text, i, ok);
    if (ok) {
      out.append(text.substr(start, i - start));
    } else {
      append_utf8(out, cp);
    }
  }
  return out;
}

void append_utf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace remote::json
