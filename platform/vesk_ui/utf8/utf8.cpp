#include "platform/vesk_ui/utf8/utf8.hpp"

#include <cstring>

namespace vesk_ui::utf8 {

namespace {

// Sequence length for a lead byte and the allowed range of the byte after it;
// 0 for a byte that cannot start a sequence.
struct Lead {
  std::size_t len;
  std::uint8_t lo, hi;
};

inline Lead lead_of(std::uint8_t c) {
  if (c < 0x80) return {1, 0, 0};
  if (c >= 0xC2 && c <= 0xDF) return {2, 0x80, 0xBF};
  if (c >= 0xE0 && c <= 0xEF) {
    return {3, static_cast<std::uint8_t>(c == 0xE0 ? 0xA0 : 0x80),  // overlong
            static_cast<std::uint8_t>(c == 0xED ? 0x9F : 0xBF)};    // surrogates
  }
  if (c >= 0xF0 && c <= 0xF4) {
    return {4, static_cast<std::uint8_t>(c == 0xF0 ? 0x90 : 0x80),  // overlong
            static_cast<std::uint8_t>(c == 0xF4 ? 0x8F : 0xBF)};    // past U+10FFFF
  }
  return {0, 0, 0};
}

// Index of the first byte at or after `i` that is not ASCII, eight at a time.
inline std::size_t skip_ascii(std::string_view s, std::size_t i) {
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t v;
    std::memcpy(&v, s.data() + i, sizeof v);
    if ((v & 0x8080808080808080ull) != 0) break;
  }
  while (i < s.size() && static_cast<std::uint8_t>(s[i]) < 0x80) ++i;
  return i;
}

}  // namespace

std::size_t sequence_length(std::string_view s, std::size_t i) {
  const Lead l = lead_of(static_cast<std::uint8_t>(s[i]));
  if (l.len <= 1) return l.len;
  if (s.size() - i < l.len) return 0;
  const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[i + k]); };
  if (b(1) < l.lo || b(1) > l.hi) return 0;
  for (std::size_t k = 2; k < l.len; ++k) {
    if (b(k) < 0x80 || b(k) > 0xBF) return 0;
  }
  return l.len;
}

char32_t decode_at(std::string_view text, std::size_t& i, bool& ok) {
  const std::uint8_t lead = static_cast<std::uint8_t>(text[i]);
  ok = true;
  const Lead l = lead_of(lead);
  if (l.len == 1) {
    ++i;
    return lead;
  }
  if (l.len == 0) {
    ok = false;
    ++i;
    return kReplacementCharacter;
  }
  char32_t cp = lead & (l.len == 2 ? 0x1F : l.len == 3 ? 0x0F : 0x07);
  std::size_t j = i + 1;
  for (std::size_t k = 1; k < l.len; ++k, ++j) {
    if (j >= text.size()) {
      ok = false;
      break;
    }
    const std::uint8_t c = static_cast<std::uint8_t>(text[j]);
    if (c < (k == 1 ? l.lo : 0x80) || c > (k == 1 ? l.hi : 0xBF)) {
      ok = false;
      break;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i = j;
  return ok ? cp : kReplacementCharacter;
}

bool is_valid(std::string_view text) {
  // Keys, values and messages are mostly ASCII.
  for (std::size_t i = skip_ascii(text, 0); i < text.size();) {
    if (static_cast<std::uint8_t>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = sequence_length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool decode(std::string_view text, std::vector<char32_t>& out) {
  for (std::size_t i = 0; i < text.size();) {
    bool ok = true;
    const char32_t cp = decode_at(text, i, ok);
    if (!ok) return false;
    out.push_back(cp);
  }
  return true;
}

std::string repair(std::string_view text) {
  if (is_valid(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    bool ok = true;
    const char32_t cp = decode_at(text, i, ok);
    if (ok) {
      out.append(text.substr(start, i - start));
    } else {
      append(out, cp);
    }
  }
  return out;
}

void append(std::string& out, char32_t cp) {
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

}  // namespace vesk_ui::utf8
