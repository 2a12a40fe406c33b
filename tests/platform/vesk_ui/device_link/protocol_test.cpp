#include "platform/vesk_ui/device_link/protocol.hpp"

#include <gtest/gtest.h>

namespace vesk_ui::device_link {
namespace {

TEST(DeviceCloseReason, EachReasonHasItsSentence) {
  struct Case {
    DeviceCloseReason reason;
    std::uint8_t number;
    std::string message;
  };
  const Case cases[] = {
      {DeviceCloseReason::peer_text("Screen locked by owner"), 0, "Screen locked by owner"},
      {DeviceCloseReason::revoked(), 1, "Target revoked workspace control"},
      {DeviceCloseReason::disconnected(), 2, "Target disconnected"},
      {DeviceCloseReason::relay_lost(), 3, "Encrypted relay disconnected"},
      {DeviceCloseReason::closed(), 4, "Workspace control closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(static_cast<std::uint8_t>(c.reason.kind), c.number);
    EXPECT_EQ(c.reason.message(), c.message);
  }
}

TEST(DeviceCloseReason, PeerTextIsMadeValidUtf8AndBounded) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const std::string fffd = "\xef\xbf\xbd";
  const Case cases[] = {
      {"plain", "Target busy", "Target busy"},
      {"multi-byte kept", "Gerät \xe2\x82\xac \xf0\x9f\x98\x80", "Gerät \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"stray continuation",
       "a\x80"
       "b",
       "a" + fffd + "b"},
      {"truncated sequence", "a\xe2\x82", "a" + fffd + fffd},
      {"overlong slash", "\xc0\xaf", fffd + fffd},
      {"surrogate", "\xed\xa0\x80", fffd + fffd + fffd},
      {"above U+10FFFF", "\xf4\x90\x80\x80", fffd + fffd + fffd + fffd},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DeviceCloseReason::peer_text(c.in).message(), c.out);
  }
  // Long text is cut on a character boundary, never inside a sequence.
  std::string euros;
  for (int i = 0; i < 600; ++i) euros += "\xe2\x82\xac";
  const auto cut = DeviceCloseReason::peer_text(euros).text;
  EXPECT_LE(cut.size(), DeviceCloseReason::kMaxPeerTextBytes);
  EXPECT_EQ(cut.size() % 3, 0u);
  EXPECT_EQ(sanitize_utf8(cut, 10000), cut);
}

TEST(DeviceLinkCommand, EveryCommandNamesItsSession) {
  EndpointKey key{};
  key[0] = 7;
  EXPECT_EQ(DeviceLinkCommand::open(key, 3).session_id(), 3u);
  EXPECT_EQ(DeviceLinkCommand::input(DeviceInputEvent::key(true, 30), 4).session_id(), 4u);
  EXPECT_EQ(DeviceLinkCommand::close(5).session_id(), 5u);
  EXPECT_EQ(DeviceInputEvent::pointer_move(1, 2).number(), 0);
  EXPECT_EQ(DeviceInputEvent::button(true, DeviceInputEvent::kButtonLeft).number(), 1);
  EXPECT_EQ(DeviceInputEvent::key(false, 1).number(), 2);
  EXPECT_EQ(DeviceInputEvent::activate().number(), 3);
  EXPECT_EQ(std::get<DeviceInputEvent::Activate>(DeviceInputEvent::activate().value).value, 1);
}

}  // namespace
}  // namespace vesk_ui::device_link
