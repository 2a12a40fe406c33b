#include "apps/remote/src/rfb/handshake.hpp"

#include <nettle/des.h>

#include <algorithm>
#include <vector>

#include "apps/remote/src/rfb/messages.hpp"
#include "apps/remote/src/rfb/text.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::rfb {
namespace {

// Unicode White_Space, the set trimmed from the end of a version text.
bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Start offsets of the code points of valid UTF-8 text.
std::vector<std::size_t> code_point_starts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  return starts;
}

char32_t code_point_at(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = b(0);
  if (lead < 0x80) return lead;
  if (lead < 0xE0) return ((lead & 0x1F) << 6) | (b(1) & 0x3F);
  if (lead < 0xF0) return ((lead & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  return ((lead & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

std::string_view trim_end_white_space(std::string_view s) {
  const auto starts = code_point_starts(s);
  std::size_t end = s.size();
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    if (!is_white_space(code_point_at(s, *it))) break;
    end = *it;
  }
  return s.substr(0, end);
}

// A decimal 0 to 255 with an optional single leading "+".
std::optional<std::uint8_t> parse_u8(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  unsigned value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

std::uint8_t reverse_bits(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

Result<void> fail_with_reason(InputStream& in, std::string fallback) {
  auto reason = read_reason(in);
  if (!reason || reason->empty()) return fail(ErrorKind::PermissionDenied, std::move(fallback));
  return fail(ErrorKind::PermissionDenied, std::move(*reason));
}

}  // namespace

std::optional<ProtocolVersion> parse_protocol_version(std::span<const std::uint8_t> bytes) {
  const std::string_view text = as_text(bytes);
  if (!vesk_ui::utf8::is_valid(text)) return std::nullopt;
  if (!text.starts_with("RFB ")) return std::nullopt;
  const std::string_view rest = trim_end_white_space(text.substr(4));
  const std::size_t dot = rest.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto major = parse_u8(rest.substr(0, dot));
  const auto minor = parse_u8(rest.substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return ProtocolVersion{*major, *minor};
}

std::uint8_t reply_minor_version(std::uint8_t server_major, std::uint8_t server_minor) {
  if (server_major < 3) return 3;
  if (server_major > 3) return 8;
  if (server_minor >= 8) return 8;
  if (server_minor == 7) return 7;
  return 3;
}

std::array<std::uint8_t, 12> client_protocol_version(std::uint8_t server_major, std::uint8_t server_minor) {
  const std::uint8_t minor = reply_minor_version(server_major, server_minor);
  return {'R', 'F', 'B', ' ', '0', '0', '3', '.', '0', '0', static_cast<std::uint8_t>('0' + minor), '\n'};
}

std::optional<std::uint8_t> choose_security_type(std::span<const std::uint8_t> offered) {
  if (std::ranges::find(offered, kSecurityNone) != offered.end()) return kSecurityNone;
  if (std::ranges::find(offered, kSecurityVncAuth) != offered.end()) return kSecurityVncAuth;
  return std::nullopt;
}

std::array<std::uint8_t, 16> vnc_auth_response(std::span<const std::uint8_t, 16> challenge, std::string_view password) {
  std::uint8_t key[DES_KEY_SIZE] = {};
  for (std::size_t i = 0; i < std::min<std::size_t>(password.size(), DES_KEY_SIZE); ++i) {
    key[i] = reverse_bits(static_cast<std::uint8_t>(password[i]));
  }
  des_ctx ctx;
  // Weak keys (the empty password gives the all-zero one) make this return 0,
  // yet the key schedule is built all the same; VNC uses them as they are.
  (void)des_set_key(&ctx, key);
  std::array<std::uint8_t, 16> out{};
  // ECB: each half of the challenge on its own.
  des_encrypt(&ctx, 8, out.data(), challenge.data());
  des_encrypt(&ctx, 8, out.data() + 8, challenge.data() + 8);
  return out;
}

Result<std::string> read_reason(InputStream& in) {
  auto len = in.read_u32();
  if (!len) return std::unexpected(len.error());
  const std::size_t kept = std::min<std::uint64_t>(*len, kMaxReasonBytes);
  auto text = in.read_view(kept);
  if (!text) return std::unexpected(text.error());
  std::string reason = printable_utf8(*text);
  if (auto skipped = in.skip(*len - kept); !skipped) return std::unexpected(skipped.error());
  return reason;
}

Result<void> read_security_result(InputStream& in) {
  auto result = in.read_u32();
  if (!result) return std::unexpected(result.error());
  if (*result == 0) return {};
  return fail_with_reason(in, "authentication failed");
}

Result<void> check_framebuffer_size(std::uint16_t width, std::uint16_t height) {
  const std::uint64_t pixels = std::uint64_t{width} * height;
  if (pixels == 0 || pixels > kMaxFramebufferPixels) {
    return invalid_data("RFB framebuffer dimensions exceed the 16 megapixel limit");
  }
  return {};
}

Result<ServerInit> read_server_init(InputStream& in) {
  auto head = in.read_view(24);
  if (!head) return std::unexpected(head.error());
  const auto& b = *head;
  ServerInit init;
  init.width = static_cast<std::uint16_t>((b[0] << 8) | b[1]);
  init.height = static_cast<std::uint16_t>((b[2] << 8) | b[3]);
  init.format = PixelFormat::from_wire(std::span<const std::uint8_t, 16>(b.data() + 4, 16));
  const std::uint32_t name_len =
      (std::uint32_t{b[20]} << 24) | (std::uint32_t{b[21]} << 16) | (std::uint32_t{b[22]} << 8) | std::uint32_t{b[23]};
  if (name_len > kMaxServerNameBytes) return invalid_data("RFB server name exceeds the 16 KiB limit");
  if (auto ok = check_framebuffer_size(init.width, init.height); !ok) return std::unexpected(ok.error());
  auto name = in.read_view(name_len);
  if (!name) return std::unexpected(name.error());
  init.name = vesk_ui::utf8::repair(as_text(*name));
  return init;
}

Result<ServerInit> run_handshake(InputStream& in, OutputSink& out, const std::optional<std::string>& password) {
  auto version_bytes = in.read_view(12);
  if (!version_bytes) return std::unexpected(version_bytes.error());
  const auto server = parse_protocol_version(*version_bytes);
  if (!server) return invalid_data("bad ProtocolVersion");
  const std::uint8_t minor = reply_minor_version(server->major, server->minor);
  if (auto w = out.write_all(client_protocol_version(server->major, server->minor)); !w) {
    return std::unexpected(w.error());
  }

  std::uint8_t type = 0;
  if (minor == 3) {
    auto t = in.read_u32();
    if (!t) return std::unexpected(t.error());
    type = static_cast<std::uint8_t>(*t);
    if (type == 0) {
      // Type 0 is the server's refusal, followed by its reason (TigerVNC says
      // so after repeated bad logins).
      auto refused = fail_with_reason(in, "unhandled security type 0");
      return std::unexpected(refused.error());
    }
  } else {
    auto count = in.read_u8();
    if (!count) return std::unexpected(count.error());
    if (*count == 0) {
      auto refused = fail_with_reason(in, "the VNC server refused the connection");
      return std::unexpected(refused.error());
    }
    auto offered = in.read_view(*count);
    if (!offered) return std::unexpected(offered.error());
    const auto chosen = choose_security_type(*offered);
    if (!chosen) return fail(ErrorKind::Unsupported, "no supported VNC security type");
    type = *chosen;
    const std::uint8_t choice[1] = {type};
    if (auto w = out.write_all(choice); !w) return std::unexpected(w.error());
  }

  if (type == kSecurityNone) {
    if (minor == 8) {
      if (auto r = read_security_result(in); !r) return std::unexpected(r.error());
    }
  } else if (type == kSecurityVncAuth) {
    std::array<std::uint8_t, 16> challenge{};
    if (auto r = in.read_exact(challenge); !r) return std::unexpected(r.error());
    const auto response = vnc_auth_response(challenge, password ? std::string_view(*password) : "");
    if (auto w = out.write_all(response); !w) return std::unexpected(w.error());
    if (auto r = read_security_result(in); !r) return std::unexpected(r.error());
  } else {
    return fail(ErrorKind::Unsupported, "unhandled security type " + std::to_string(type));
  }

  const std::uint8_t client_init[1] = {1};
  if (auto w = out.write_all(client_init); !w) return std::unexpected(w.error());
  auto init = read_server_init(in);
  if (!init) return std::unexpected(init.error());
  if (auto w = out.write_all(encode_set_pixel_format(kClientPixelFormat)); !w) return std::unexpected(w.error());
  if (auto w = out.write_all(encode_set_encodings(kClientEncodings)); !w) return std::unexpected(w.error());
  return init;
}

}  // namespace remote::rfb
