#pragma once
// One VNC live session: the worker thread "remote-vnc" and the UI thread's
// handle of it. The UI never waits on the worker: input goes into a bounded
// queue, status and frames are read from shared slots.

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "apps/remote/src/rfb/framebuffer.hpp"
#include "apps/remote/src/rfb/socket.hpp"
#include "apps/remote/src/sync/bounded_queue.hpp"
#include "apps/remote/src/sync/latest_slot.hpp"
#include "apps/remote/src/sync/session_status.hpp"

namespace remote::rfb {

using remote::sync::SessionStatus;

inline constexpr std::size_t kInputQueueCapacity = 256;
// Waiting for the next server message in slices of this length...
inline constexpr std::chrono::milliseconds kMessageWait{100};
// ...and asking for an incremental update at least this often.
inline constexpr std::chrono::milliseconds kRequestInterval{500};
// A connect or handshake that makes no progress for this long fails.
inline constexpr std::chrono::milliseconds kHandshakeStall{30'000};

inline constexpr const char* kInputBusyText = "VNC input is busy; wait for the remote desktop to catch up";
inline constexpr const char* kInputClosedText = "VNC session input channel is closed";

struct VncTarget {
  std::string host;
  std::optional<std::string> password;
  std::uint16_t port = 5900;
};

struct VncPointer {
  std::uint8_t buttons = 0;  // bit 0 left, bit 1 middle, bit 2 right
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  bool operator==(const VncPointer&) const = default;
};
struct VncKey {
  bool down = false;
  std::uint32_t keysym = 0;
  bool operator==(const VncKey&) const = default;
};
using VncInput = std::variant<VncPointer, VncKey>;

using StatusSlot = std::shared_ptr<remote::sync::LatestSlot<SessionStatus>>;
using FrameSlot = std::shared_ptr<remote::sync::LatestSlot<Framebuffer>>;

// The worker's waits; tests shorten them.
struct SessionTimings {
  std::chrono::milliseconds message_wait = kMessageWait;
  std::chrono::milliseconds request_interval = kRequestInterval;
  std::chrono::milliseconds handshake_stall = kHandshakeStall;
};

// The thread body. Every outcome goes to the status slot, except that a
// dropped handle (queue closed or cancel fired) leaves the status as it is.
void run_vnc_session(VncTarget target, StatusSlot status, FrameSlot frames, remote::sync::QueueReceiver<VncInput> input,
                     std::shared_ptr<CancelSignal> cancel, SessionTimings timings = {});

// REMOTE_VNC_PASSWORD when it is set and valid UTF-8, else none.
std::optional<std::string> vnc_password_from_env();

// A frame handed to the UI and where it differs from the one handed out
// before it: none when that is not known (the first frame, or too many
// updates in between), and then every pixel may differ.
struct VncFrame {
  Framebuffer frame;
  std::optional<std::vector<Area>> changed;
};

struct FrameSize {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  bool operator==(const FrameSize&) const = default;
};

class VncSession {
 public:
  // Starts the worker; the error is the system's text when no thread could be made.
  static std::expected<VncSession, std::string> spawn(VncTarget target);

  VncSession(VncSession&&) noexcept = default;
  // Closes the session this handle held before.
  VncSession& operator=(VncSession&& other) noexcept;
  VncSession(const VncSession&) = delete;
  VncSession& operator=(const VncSession&) = delete;
  // Closes the session: the worker stops whatever it waits for and ends.
  ~VncSession();

  // Never waits. kInputBusyText when the queue is full, kInputClosedText once
  // the worker has ended; the event is then lost.
  std::expected<void, std::string> send_input(VncInput event);

  // The newest frame when its generation differs from the last one handed
  // out; shares the pixels, copies none.
  std::optional<Framebuffer> take_frame();
  // The same, with what changed since the frame handed out before.
  std::optional<VncFrame> take_update();

  // None until the worker has published its first frame.
  std::optional<FrameSize> frame_size() const;

  SessionStatus status() const;

 private:
  VncSession(remote::sync::QueueSender<VncInput> input, StatusSlot status, FrameSlot frames,
             std::shared_ptr<CancelSignal> cancel);
  void close();

  std::optional<std::uint64_t> last_generation_;
  remote::sync::QueueSender<VncInput> input_;
  StatusSlot status_;
  FrameSlot frames_;
  std::shared_ptr<CancelSignal> cancel_;
};

}  // namespace remote::rfb
