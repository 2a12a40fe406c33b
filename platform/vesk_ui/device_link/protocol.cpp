#include "platform/vesk_ui/device_link/protocol.hpp"

namespace vesk_ui::device_link {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when invalid
// (overlong forms, surrogates and values above U+10FFFF included).
std::size_t utf8_sequence_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xbf;
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (b(i + k) < 0x80 || b(i + k) > 0xbf) return 0;
  }
  return n;
}

}  // namespace

DeviceSessionId DeviceLinkCommand::session_id() const {
  return std::visit([](const auto& c) { return c.session_id; }, value);
}

std::string sanitize_utf8(std::string_view text, std::size_t max_bytes) {
  static constexpr std::string_view kReplacement = "\xef\xbf\xbd";
  std::string out;
  out.reserve(std::min(text.size(), max_bytes));
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = utf8_sequence_length(text, i);
    const std::string_view part = n ? text.substr(i, n) : kReplacement;
    if (out.size() + part.size() > max_bytes) break;
    out.append(part);
    i += n ? n : 1;
  }
  return out;
}

DeviceCloseReason DeviceCloseReason::peer_text(std::string_view text) {
  return {Kind::PeerText, sanitize_utf8(text, kMaxPeerTextBytes)};
}

std::string DeviceCloseReason::message() const {
  switch (kind) {
    case Kind::PeerText: return text;
    case Kind::Revoked: return "Target revoked workspace control";
    case Kind::Disconnected: return "Target disconnected";
    case Kind::RelayLost: return "Encrypted relay disconnected";
    case Kind::Closed: return "Workspace control closed";
  }
  return "Workspace control closed";
}

}  // namespace vesk_ui::device_link
