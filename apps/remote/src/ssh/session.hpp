#pragma once
// The UI thread's handle of one live SSH session: the terminal the output
// drives and the UI ends of the slots and queues shared with the
// "remote-ssh" worker. Every call returns at once; nothing here waits on the
// worker. Dropping the handle closes both queues, which ends the worker
// (end of file and disconnect sent, status Ended).
//
// Draining: call pump_output() once per painted frame for as long as the
// session is live, whatever the screen shows, and ask for another frame while
// output_pending(). It costs one lock and one empty check when nothing
// arrived. A session left undrained fills its output queue, the worker stops
// reading, and queued input (acknowledged text included) is no longer written.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "apps/remote/src/sync/cancel_signal.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"
#include "apps/remote/src/ssh/worker.hpp"
#include "apps/remote/src/sync/bounded_queue.hpp"
#include "apps/remote/src/sync/oneshot.hpp"
#include "apps/remote/src/vt/terminal.hpp"

namespace remote::ssh {

// The UI ends of a started worker, without a terminal: for callers that
// consume the bytes themselves.
struct SshWorkerEnds {
  std::shared_ptr<StatusSlot> status;
  sync::QueueReceiver<OutputChunk> output;
  sync::QueueSender<SshInput> input;
  std::shared_ptr<ObservationSlot> observation;
  // Last, so it fires first: the worker stops before it could take another
  // queued item.
  CancelOnDrop cancel;

  // Starts a "remote-ssh" thread; fails with the system's message.
  static std::expected<SshWorkerEnds, std::string> start(SshSessionParams params);

  SessionStatus current_status() const;
  std::optional<HostKeyObservation> host_key_observation() const;
  // The checks and the non-waiting put behind both senders of SshSession.
  std::expected<void, std::string> queue_input(SshInput item);
};

// Work one pump_output() call may do: a server streaming as fast as it can
// (or a run of costly sequences) must not hold the UI thread for more than a
// slice of a frame. Output beyond it waits for the next frame.
inline constexpr std::chrono::microseconds kPumpBudget{4000};
// The clock is read after each slice of this many bytes.
inline constexpr std::size_t kPumpSliceBytes = 256;

// The pump's budget and clock; tests shorten the budget (zero: one slice per
// call) or step the clock themselves.
struct PumpTimings {
  using Clock = std::chrono::steady_clock;
  std::chrono::microseconds budget = kPumpBudget;
  std::size_t slice_bytes = kPumpSliceBytes;
  std::function<Clock::time_point()> now = Clock::now;
};

class SshSession {
 public:
  static std::expected<std::unique_ptr<SshSession>, std::string> start(SshSessionParams params,
                                                                       PumpTimings timings = {});

  SshSession(const SshSession&) = delete;
  SshSession& operator=(const SshSession&) = delete;

  std::expected<void, std::string> send_input(std::vector<std::uint8_t> bytes);
  std::expected<void, std::string> send_input(std::span<const std::uint8_t> bytes) {
    return send_input(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  // The receiver yields one result once the worker handled the bytes; it
  // closes without one if the worker ended first.
  std::expected<sync::OneshotReceiver<AckResult>, std::string> send_input_acknowledged(std::vector<std::uint8_t> bytes);
  std::expected<void, std::string> queue_input(SshInput item) { return ends_.queue_input(std::move(item)); }

  // Feeds the output waiting now to the terminal, at most the chunks queued
  // on entry and for about the pump's budget; true when any byte was applied.
  // Split output acts exactly as if it had been applied at once.
  bool pump_output();
  // True while received output waits for a later pump_output().
  bool output_pending() const { return pending_offset_ < pending_.size() || ends_.output.size() > 0; }
  // Chunks waiting in the output queue; at kOutputQueueCapacity the worker
  // waits for a pump.
  std::size_t queued_output_chunks() const { return ends_.output.size(); }
  void set_pump_timings(PumpTimings timings) { timings_ = std::move(timings); }

  SessionStatus status() const { return ends_.current_status(); }
  std::optional<HostKeyObservation> host_key_observation() const { return ends_.host_key_observation(); }

  const vt::Terminal& terminal() const { return terminal_; }
  vt::Terminal& terminal() { return terminal_; }

 private:
  SshSession(std::uint16_t cols, std::uint16_t rows, SshWorkerEnds ends, PumpTimings timings)
      : terminal_(cols, rows), ends_(std::move(ends)), timings_(std::move(timings)) {}

  vt::Terminal terminal_;
  SshWorkerEnds ends_;
  PumpTimings timings_;
  // The part of a chunk not yet applied when the budget ran out.
  OutputChunk pending_;
  std::size_t pending_offset_ = 0;
};

}  // namespace remote::ssh
