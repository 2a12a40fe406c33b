#include "platform/vesk_ui/device_link/protocol.hpp"

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace vesk_ui::device_link {

DeviceSessionId DeviceLinkCommand::session_id() const {
  return std::visit([](const auto& c) { return c.session_id; }, value);
}

std::string sanitize_utf8(std::string_view text, std::size_t max_bytes) {
  static constexpr std::string_view kReplacement = "\xef\xbf\xbd";
  std::string out;
  out.reserve(std::min(text.size(), max_bytes));
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = utf8::sequence_length(text, i);
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
