#pragma once
// A Vesk device session as the application holds it: the status the device
// link reports, the remote screen size, and the UI ends of the decoder thread
// "remote-vesk-decode".
//
// Encoded packets are never dropped one by one: a P frame depends on the
// frames before it, so losing one corrupts the picture until the next IDR.
// The UI thread appends every packet to one pending buffer (joined in stream
// order) that the decoder takes whole. When the decoder falls so far behind
// that the buffer would pass its byte cap, the backlog is dropped and packets
// are skipped up to the next IDR, where decoding can start afresh (the newest
// parameter sets seen meanwhile are kept for it). An IDR that carries its own
// SPS also replaces whatever is pending, since nothing before it is needed.
// Only decoded pictures are "newest wins": the paint pass takes the latest one.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "apps/remote/src/app/state.hpp"
#include "apps/remote/src/sync/bounded_queue.hpp"
#include "apps/remote/src/sync/latest_slot.hpp"
#include "platform/vesk_callstream/decoder.hpp"
#include "platform/vesk_ui/device_link/protocol.hpp"

namespace remote::app {

using vesk_ui::device_link::DeviceSessionId;

inline constexpr const char* kDecoderThreadName = "remote-vesk-decode";
// The wake queue holds one signal: a waiting signal already makes the decoder
// look at the whole pending buffer.
inline constexpr std::size_t kDecoderWakeCapacity = 1;
// Encoded bytes waiting for the decoder at most (a few seconds of a busy
// 1080p stream); past it the backlog is dropped up to the next IDR.
inline constexpr std::size_t kMaxPendingPacketBytes = std::size_t{16} << 20;

inline constexpr const char* kDecoderUnavailableText = "Vesk frame decoder is unavailable";
inline constexpr const char* kDecoderStoppedText = "Vesk frame decoder stopped";

// One decoded picture: tightly packed rows, shared with the painter.
struct DecodedFrame {
  std::shared_ptr<const std::vector<std::uint8_t>> pixels;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  vesk_callstream::decoder::PixelOrder order = vesk_callstream::decoder::PixelOrder::Rgba;
};

// The encoded stream between the UI thread and the decoder.
class PendingPackets {
 public:
  enum class Push : std::uint8_t {
    Queued,     // appended to the pending bytes
    Restarted,  // an IDR ended a wait, or replaced a backlog it makes unneeded
    Skipped,    // waiting for an IDR after an overflow (dropped, or kept parameter sets)
    Overflow,   // the backlog passed the cap: dropped, now waiting for an IDR
  };

  explicit PendingPackets(std::size_t max_bytes = kMaxPendingPacketBytes) : max_bytes_(max_bytes) {}

  // UI thread: one short lock, one copy of the packet.
  Push push(std::span<const std::uint8_t> packet);
  // Decoder thread: everything pending, in stream order; none when empty.
  std::optional<std::vector<std::uint8_t>> take();

  std::size_t pending_bytes() const;
  bool awaiting_idr() const;
  std::uint64_t skipped_packets() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> bytes_;
  std::size_t max_bytes_;
  bool awaiting_idr_ = false;
  std::uint64_t skipped_ = 0;
};

// What the UI thread and the decoder thread share.
struct DecoderShared {
  explicit DecoderShared(std::size_t max_pending_bytes) : pending(max_pending_bytes) {}
  PendingPackets pending;
  sync::LatestSlot<DecodedFrame> frame;
  std::atomic<bool> running{true};
};

struct DecoderWake {};

// One packet in, maybe a picture out (vesk_callstream's H264Decoder contract).
using DecodeFn = std::function<std::expected<std::optional<vesk_callstream::decoder::Frame>, vesk_callstream::Error>(
    std::span<const std::uint8_t>)>;
// Made on the decoder thread, once per session.
using DecoderFactory = std::function<DecodeFn()>;
// Starts a detached named thread; the error is the system's text.
using ThreadSpawner = std::function<std::expected<void, std::string>(std::string, std::function<void()>)>;

DecoderFactory h264_decoder_factory();
ThreadSpawner default_thread_spawner();

// The body of "remote-vesk-decode". Ends when the wake queue closes (the
// session was dropped) or the decoder throws; clears `running` either way.
void run_frame_decoder(sync::QueueReceiver<DecoderWake> wake, std::shared_ptr<DecoderShared> shared,
                       DecoderFactory factory);

struct DeviceSessionOptions {
  ThreadSpawner spawn = default_thread_spawner();
  DecoderFactory decoder = h264_decoder_factory();
  std::size_t max_pending_bytes = kMaxPendingPacketBytes;
};

class DeviceSession {
 public:
  // Creates the shared ends and starts the decoder thread; on failure the ends
  // are released and the error is the system's text.
  static std::expected<DeviceSession, std::string> start(DeviceSessionId id, const DeviceSessionOptions& options);

  DeviceSession(DeviceSession&&) noexcept = default;
  DeviceSession& operator=(DeviceSession&&) noexcept = default;

  DeviceSessionId id() const { return id_; }
  const SessionStatus& status() const { return status_; }

  struct Size {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    friend bool operator==(const Size&, const Size&) = default;
  };
  const std::optional<Size>& remote_size() const { return remote_size_; }

  // Applies one event of this session (the caller has matched the id).
  void on_event(const vesk_ui::device_link::DeviceLinkEvent& event);

  // The newest decoded picture, once; sets the remote size from it.
  std::optional<DecodedFrame> take_frame();

  const DecoderShared& shared() const { return *shared_; }

 private:
  DeviceSession(DeviceSessionId id, sync::QueueSender<DecoderWake> wake, std::shared_ptr<DecoderShared> shared)
      : wake_(std::move(wake)), shared_(std::move(shared)), id_(id) {}

  void on_frame(std::span<const std::uint8_t> packet);

  sync::QueueSender<DecoderWake> wake_;
  SessionStatus status_ = SessionStatus::connecting();
  std::shared_ptr<DecoderShared> shared_;
  DeviceSessionId id_ = 0;
  std::optional<Size> remote_size_;
};

}  // namespace remote::app
