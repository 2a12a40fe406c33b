#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/remote/src/rfb/handshake.hpp"
#include "apps/remote/src/rfb/messages.hpp"
#include "tests/apps/remote/rfb/wire.hpp"

namespace {

using namespace std::literals;
using remote::rfb::ErrorKind;
using remote::rfb::MemorySink;
using remote::rfb::MemoryStream;
using rfb_test::Wire;

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

std::string hex(std::span<const std::uint8_t> b) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (auto v : b) {
    out.push_back(digits[v >> 4]);
    out.push_back(digits[v & 15]);
  }
  return out;
}

TEST(RfbProtocolVersion, StrictParser) {
  struct Case {
    std::string_view text;
    std::optional<remote::rfb::ProtocolVersion> expected;
  } cases[] = {
      {"RFB 003.008\n", remote::rfb::ProtocolVersion{3, 8}},
      {"RFB 004.001\n", remote::rfb::ProtocolVersion{4, 1}},
      {"RFB 3.8     ", remote::rfb::ProtocolVersion{3, 8}},
      {"RFB +03.+08\n", remote::rfb::ProtocolVersion{3, 8}},
      {"RFB 255.000\n", remote::rfb::ProtocolVersion{255, 0}},
      {"RFB 003.00\xC2\xA0", remote::rfb::ProtocolVersion{3, 0}},  // trailing no-break space
      {"RFB 003.889\n", std::nullopt},
      {"RFB 003.256\n", std::nullopt},
      {"RFB -03.008\n", std::nullopt},
      {"RFB ++3.008\n", std::nullopt},
      {"RFB  03.008\n", std::nullopt},  // leading space
      {"RFB 003,008\n", std::nullopt},
      {"RFB 003.\n\n\n\n", std::nullopt},
      {"RFB .008\n\n\n\n", std::nullopt},
      {"RFB 3.8.1\n\n\n", std::nullopt},
      {"RFB 0x3.008\n", std::nullopt},
      {"RFX 003.008\n", std::nullopt},
      {"RFB 003.008\0"sv, std::nullopt},
      {"RFB 003.0\xFF\xFE\n", std::nullopt},  // not UTF-8
      {"rfb 003.008\n", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto b = bytes_of(c.text);
    EXPECT_EQ(remote::rfb::parse_protocol_version(b), c.expected) << c.text;
  }
}

TEST(RfbProtocolVersion, ReplyVersion) {
  struct Case {
    std::uint8_t major, minor;
    std::string_view reply;
  } cases[] = {{3, 8, "RFB 003.008\n"}, {3, 9, "RFB 003.008\n"},  {3, 7, "RFB 003.007\n"}, {3, 6, "RFB 003.003\n"},
               {3, 5, "RFB 003.003\n"}, {3, 3, "RFB 003.003\n"},  {2, 9, "RFB 003.003\n"}, {0, 0, "RFB 003.003\n"},
               {4, 1, "RFB 003.008\n"}, {255, 0, "RFB 003.008\n"}};
  for (const auto& c : cases) {
    const auto reply = remote::rfb::client_protocol_version(c.major, c.minor);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), c.reply) << int(c.major) << "." << int(c.minor);
  }
}

TEST(RfbSecurity, ChoosesNoneBeforeVncAuthWhateverTheOrder) {
  using V = std::vector<std::uint8_t>;
  EXPECT_EQ(remote::rfb::choose_security_type(V{2, 1}), 1);
  EXPECT_EQ(remote::rfb::choose_security_type(V{16, 2}), 2);
  EXPECT_EQ(remote::rfb::choose_security_type(V{16, 18, 19}), std::nullopt);
  EXPECT_EQ(remote::rfb::choose_security_type(V{}), std::nullopt);
}

TEST(RfbSecurity, VncAuthResponseVectors) {
  std::array<std::uint8_t, 16> challenge{};
  for (int i = 0; i < 16; ++i) challenge[i] = static_cast<std::uint8_t>(i * 17 + 3);
  struct Case {
    std::string_view password;
    std::string_view response;
  } cases[] = {
      {"secret", "c99f3ad0e4ca1690371d3185dc2bec24"},
      {"password", "e76da4ff8ea6cc02055a30ce95d5e6af"},
      {"passwordLONG", "e76da4ff8ea6cc02055a30ce95d5e6af"},  // only 8 bytes count
      {"", "562c25d76cc998b0abdb8424a0195286"},              // the weak all-zero key
  };
  for (const auto& c : cases)
    EXPECT_EQ(hex(remote::rfb::vnc_auth_response(challenge, c.password)), c.response) << c.password;
}

TEST(RfbReason, CappedAndCleanedAndTheRestSkipped) {
  std::string long_reason = "bad\x01\x1b[31m login\n";
  long_reason += std::string(10'000, 'x');
  Wire w;
  w.reason(long_reason).u8(0x42);
  MemoryStream in(w.bytes);
  auto reason = remote::rfb::read_reason(in);
  ASSERT_TRUE(reason);
  EXPECT_TRUE(reason->starts_with("bad[31m login")) << *reason;
  EXPECT_EQ(reason->size(), remote::rfb::kMaxReasonBytes - 3);  // three control characters removed
  EXPECT_EQ(in.read_u8().value(), 0x42);                        // positioned after the whole reason

  Wire invalid;
  invalid.reason("caf\xC3 ok");
  MemoryStream in2(invalid.bytes);
  EXPECT_EQ(remote::rfb::read_reason(in2).value(), "caf\xEF\xBF\xBD ok");

  Wire lying;  // claims 4 GiB, sends a few bytes
  lying.u32(0xFFFFFFFF).text("short");
  MemoryStream in3(lying.bytes);
  EXPECT_EQ(remote::rfb::read_reason(in3).error().kind, ErrorKind::EndOfStream);
}

TEST(RfbServerInit, LimitsInOrder) {
  struct Case {
    std::uint16_t w, h;
    std::uint32_t name_len;
    const char* error;
  } cases[] = {
      {4096, 4096, 4, nullptr},
      {65535, 256, 4, nullptr},
      {1, 1, 16'384, nullptr},
      {4097, 4096, 4, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
      {0, 100, 4, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
      {100, 0, 4, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
      {0, 0, 16'385, "RFB server name exceeds the 16 KiB limit"},
      {800, 600, 0xFFFFFFFF, "RFB server name exceeds the 16 KiB limit"},
  };
  for (const auto& c : cases) {
    Wire w;
    w.u16(c.w).u16(c.h).raw(std::vector<std::uint8_t>(16, 0)).u32(c.name_len);
    if (c.name_len <= 16'384) w.zeros(c.name_len);
    MemoryStream in(w.bytes);
    auto init = remote::rfb::read_server_init(in);
    if (c.error == nullptr) {
      ASSERT_TRUE(init) << init.error().message;
      EXPECT_EQ(init->width, c.w);
      EXPECT_EQ(init->height, c.h);
    } else {
      ASSERT_FALSE(init) << c.w << "x" << c.h;
      EXPECT_EQ(init.error().message, c.error);
      EXPECT_EQ(init.error().kind, ErrorKind::InvalidData);
    }
  }
}

TEST(RfbMessages, ExactBytes) {
  EXPECT_EQ(hex(remote::rfb::encode_set_pixel_format(remote::rfb::kClientPixelFormat)),
            "0000000020180001"
            "00ff00ff00ff1008"
            "00000000");
  EXPECT_EQ(hex(remote::rfb::encode_set_encodings(remote::rfb::kClientEncodings)), "02000003000000000000000100000002");
  EXPECT_EQ(hex(remote::rfb::encode_update_request(true, 0, 0, 1920, 1080)), "03010000000007800438");
  EXPECT_EQ(hex(remote::rfb::encode_key_event(true, 0xFF0D)), "040100000000ff0d");
  EXPECT_EQ(hex(remote::rfb::encode_pointer_event(5, 300, 2)), "0505012c0002");
}

// What the client writes after the version and security steps.
std::string tail_hex() {
  std::vector<std::uint8_t> t{1};
  const auto spf = remote::rfb::encode_set_pixel_format(remote::rfb::kClientPixelFormat);
  const auto se = remote::rfb::encode_set_encodings(remote::rfb::kClientEncodings);
  t.insert(t.end(), spf.begin(), spf.end());
  t.insert(t.end(), se.begin(), se.end());
  return hex(t);
}

std::string challenge_response_hex() {
  std::array<std::uint8_t, 16> challenge{};
  return hex(remote::rfb::vnc_auth_response(challenge, "secret"));
}

TEST(RfbHandshake, ScriptedServers) {
  const std::string init = hex(Wire().server_init(640, 480).bytes);
  const std::string ok_tail = tail_hex();
  struct Case {
    const char* name;
    Wire server;
    std::optional<std::string> password;
    std::string written;  // hex; empty means "not checked"
    const char* error;
    ErrorKind kind = ErrorKind::InvalidData;
  };
  std::vector<Case> cases;
  cases.push_back({"3.8 none",
                   Wire().text("RFB 003.008\n").u8(1).u8(1).u32(0).server_init(640, 480),
                   {},
                   hex(bytes_of("RFB 003.008\n")) + "01" + ok_tail,
                   nullptr});
  cases.push_back({"3.7 none has no result",
                   Wire().text("RFB 003.007\n").u8(1).u8(1).server_init(640, 480),
                   {},
                   hex(bytes_of("RFB 003.007\n")) + "01" + ok_tail,
                   nullptr});
  cases.push_back({"3.7 vnc auth", Wire().text("RFB 003.007\n").u8(1).u8(2).zeros(16).u32(0).server_init(640, 480),
                   "secret", hex(bytes_of("RFB 003.007\n")) + "02" + challenge_response_hex() + ok_tail, nullptr});
  cases.push_back({"3.5 speaks 3.3",
                   Wire().text("RFB 003.005\n").u32(1).server_init(640, 480),
                   {},
                   hex(bytes_of("RFB 003.003\n")) + ok_tail,
                   nullptr});
  cases.push_back({"4.1 speaks 3.8",
                   Wire().text("RFB 004.001\n").u8(2).u8(2).u8(1).u32(0).server_init(640, 480),
                   {},
                   hex(bytes_of("RFB 003.008\n")) + "01" + ok_tail,
                   nullptr});
  cases.push_back({"3.3 type 258 is vnc auth",
                   Wire().text("RFB 003.003\n").u32(258).zeros(16).u32(0).server_init(640, 480), "secret",
                   hex(bytes_of("RFB 003.003\n")) + challenge_response_hex() + ok_tail, nullptr});
  cases.push_back({"bad version writes nothing", Wire().text("RFB 003.889\n"), {}, "", "bad ProtocolVersion"});
  cases.push_back({"no supported type",
                   Wire().text("RFB 003.008\n").u8(2).u8(16).u8(18),
                   {},
                   "",
                   "no supported VNC security type",
                   ErrorKind::Unsupported});
  cases.push_back({"3.3 unknown type",
                   Wire().text("RFB 003.003\n").u32(5),
                   {},
                   "",
                   "unhandled security type 5",
                   ErrorKind::Unsupported});
  cases.push_back({"3.3 refusal carries a reason",
                   Wire().text("RFB 003.003\n").u32(0).reason("Too many security failures"),
                   {},
                   "",
                   "Too many security failures",
                   ErrorKind::PermissionDenied});
  cases.push_back({"3.3 refusal with its reason cut off",
                   Wire().text("RFB 003.003\n").u32(0).u32(40).text("Too"),
                   {},
                   "",
                   "unhandled security type 0",
                   ErrorKind::PermissionDenied});
  cases.push_back({"empty reason", Wire().text("RFB 003.008\n").u8(1).u8(2).zeros(16).u32(1).reason(""), "x", "",
                   "authentication failed", ErrorKind::PermissionDenied});
  cases.push_back({"3.8 refusal",
                   Wire().text("RFB 003.008\n").u8(0).reason("go away"),
                   {},
                   "",
                   "go away",
                   ErrorKind::PermissionDenied});
  cases.push_back({"3.8 wrong password",
                   Wire().text("RFB 003.008\n").u8(1).u8(2).zeros(16).u32(1).reason("Authentication failure"), "nope",
                   "", "Authentication failure", ErrorKind::PermissionDenied});
  cases.push_back({"3.7 wrong password, no reason", Wire().text("RFB 003.007\n").u8(1).u8(2).zeros(16).u32(1), "nope",
                   "", "authentication failed", ErrorKind::PermissionDenied});
  cases.push_back({"closed during handshake",
                   Wire().text("RFB 003.008\n").u8(1),
                   {},
                   "",
                   "failed to fill whole buffer",
                   ErrorKind::EndOfStream});
  cases.push_back({"name limit before size",
                   Wire().text("RFB 003.008\n").u8(1).u8(1).u32(0).u16(0).u16(0).zeros(16).u32(16'385),
                   {},
                   "",
                   "RFB server name exceeds the 16 KiB limit"});

  for (auto& c : cases) {
    MemoryStream in(c.server.bytes);
    MemorySink out;
    auto result = remote::rfb::run_handshake(in, out, c.password);
    if (c.error == nullptr) {
      ASSERT_TRUE(result) << c.name << ": " << result.error().message;
      EXPECT_EQ(result->width, 640) << c.name;
      EXPECT_EQ(in.remaining(), 0u) << c.name;
    } else {
      ASSERT_FALSE(result) << c.name;
      EXPECT_EQ(result.error().message, c.error) << c.name;
      EXPECT_EQ(result.error().kind, c.kind) << c.name;
    }
    if (!c.written.empty() || c.error == std::string_view("bad ProtocolVersion")) {
      EXPECT_EQ(hex(out.data), c.written) << c.name;
    }
  }
}

}  // namespace
