#include "apps/remote/src/rfb/text.hpp"

#include <cstddef>

namespace rfb {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`; on an ill-formed sequence gives U+FFFD and
// advances past its maximal subpart (at least one byte).
char32_t decode_one(std::span<const std::uint8_t> b, std::size_t& i, bool& ok) {
  const std::uint8_t lead = b[i];
  ok = true;
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  std::size_t len = 0;
  std::uint8_t lo = 0x80, hi = 0xBF;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    ok = false;
    ++i;
    return kReplacement;
  }
  std::size_t j = i + 1;
  for (std::size_t k = 1; k < len; ++k, ++j) {
    if (j >= b.size()) {
      ok = false;
      break;
    }
    const std::uint8_t c = b[j];
    const std::uint8_t l = k == 1 ? lo : 0x80;
    const std::uint8_t h = k == 1 ? hi : 0xBF;
    if (c < l || c > h) {
      ok = false;
      break;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i = j;
  return ok ? cp : kReplacement;
}

void append_utf8(std::string& out, char32_t cp) {
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

bool is_control(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

bool is_valid_utf8(std::span<const std::uint8_t> bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    bool ok = true;
    decode_one(bytes, i, ok);
    if (!ok) return false;
  }
  return true;
}

std::string utf8_lossy(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    bool ok = true;
    append_utf8(out, decode_one(bytes, i, ok));
  }
  return out;
}

std::string printable_utf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    bool ok = true;
    const char32_t cp = decode_one(bytes, i, ok);
    if (!is_control(cp)) append_utf8(out, cp);
  }
  return out;
}

}  // namespace rfb
