#pragma once
// The body of one "remote-ssh" worker thread: connect, judge the server's key
// against the pins, authenticate once, open a pty and a shell, then move bytes
// both ways until the server, the UI or an error ends the session. It reports
// only through the status and observation slots, the output queue and the
// acknowledgements carried by input items.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/remote/src/sync/cancel_signal.hpp"
#include "apps/remote/src/ssh/credentials.hpp"
#include "apps/remote/src/ssh/error.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"
#include "apps/remote/src/sync/bounded_queue.hpp"
#include "apps/remote/src/sync/latest_slot.hpp"
#include "apps/remote/src/sync/oneshot.hpp"
#include "apps/remote/src/sync/session_status.hpp"

namespace remote::ssh {

struct SshSessionParams {
  std::string host;
  std::string user;
  std::filesystem::path known_hosts;  // resolved and checked by the caller
  SshCredentials credentials;
  std::uint16_t port = 22;
  std::uint16_t cols = 80;
  std::uint16_t rows = 24;
};

// Bytes received from the server, one chunk per read of the channel.
using sync::CancelOnDrop;
using sync::CancelSignal;
using sync::SessionStatus;

using OutputChunk = std::vector<std::uint8_t>;
// Success once the bytes were written to the channel, or the write error.
using AckResult = std::expected<void, std::string>;

struct SshInput {
  std::optional<sync::OneshotSender<AckResult>> ack;
  std::vector<std::uint8_t> bytes;  // 1 to kMaxInputBytes
};

using StatusSlot = sync::LatestSlot<SessionStatus>;
using ObservationSlot = sync::LatestSlot<HostKeyObservation>;

inline constexpr std::size_t kOutputQueueCapacity = 128;
inline constexpr std::size_t kInputQueueCapacity = 256;
inline constexpr std::size_t kMaxInputBytes = 65536;
// Largest output chunk: one SSH packet's worth of channel data.
inline constexpr std::size_t kOutputChunkBytes = 32768;
// Output chunks read per loop pass before the input queue gets its turn.
// One: the UI applies a bounded share per frame, so each chunk may wait for
// room, and input must not wait behind more than one such chunk.
inline constexpr int kOutputChunksPerPass = 1;
// Limit on each step until the shell is up, so that a peer that accepts and
// never speaks cannot hold the worker forever.
inline constexpr long kHandshakeTimeoutSeconds = 30;
// At the end, how long the worker tries to hand what libssh still holds (the
// disconnect message last) to a socket that will not take it.
inline constexpr int kGoodbyeMilliseconds = 50;
inline constexpr std::uint64_t kRekeyBytes = 1073741824;  // 1 GiB
// In seconds: libssh scales it to milliseconds itself.
inline constexpr std::uint32_t kRekeySeconds = 3600;
// Largest private-key file read.
inline constexpr std::uint64_t kMaxKeyFileBytes = 1024u * 1024u;

// Judges the key a server offers against the pins. libssh has no callback
// inside the key exchange, so this runs right after it, before any
// credential is sent.
struct RemoteSshHandler {
  std::string host;
  std::filesystem::path known_hosts;
  std::shared_ptr<ObservationSlot> observation;
  std::uint16_t port = 0;

  // True accepts the key. Never fails: an unknown or changed key and an
  // unreadable store are refusals, and the verdict replaces the observation.
  bool check_server_key(const HostKeyIdentity& presented) const;
};

// Thread body; never throws. Leaves the final status in `status`, except
// that a session whose handle was dropped before it connected leaves it alone.
void run_session_thread(SshSessionParams params, std::shared_ptr<StatusSlot> status,
                        std::shared_ptr<ObservationSlot> observation, sync::QueueSender<OutputChunk> output,
                        sync::QueueReceiver<SshInput> input, std::shared_ptr<CancelSignal> cancel);

// The session itself; a Failed error's text is what the status fails with.
// Once `cancel` fires it writes nothing more of the input, says goodbye to
// the server and returns.
Result<void> run_session(SshSessionParams params, const std::shared_ptr<StatusSlot>& status,
                         const std::shared_ptr<ObservationSlot>& observation, sync::QueueSender<OutputChunk> output,
                         sync::QueueReceiver<SshInput> input, const CancelSignal& cancel);

}  // namespace remote::ssh
