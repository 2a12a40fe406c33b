#include "apps/remote/src/doc/text.hpp"
#include "apps/remote/src/ssh/session.hpp"

#include <openssl/crypto.h>

#include <algorithm>

#include "apps/remote/src/sync/named_thread.hpp"

namespace remote::ssh {

namespace {

// libssh uses OpenSSL, which sets itself up at first use and then frees its
// state from an exit handler. First used on a worker, that handler would run
// before the process waits for its workers, taking OpenSSL away from a worker
// still closing its connection. Set it up here, on the caller's thread, with
// no exit handler: its state lives as long as the process.
void prepare_crypto() {
  static const bool ready = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
  (void)ready;
}

}  // namespace

std::expected<SshWorkerEnds, std::string> SshWorkerEnds::start(SshSessionParams params) {
  prepare_crypto();
  auto status = std::make_shared<StatusSlot>(SessionStatus::connecting());
  auto [output_tx, output_rx] = sync::bounded_queue<OutputChunk>(kOutputQueueCapacity);
  // The worker sleeps in poll() on the input queue's eventfd and the cancel
  // signal: without either it would never wake.
  auto input_queue = sync::bounded_queue_with_wake<SshInput>(kInputQueueCapacity);
  if (!input_queue) return std::unexpected(input_queue.error());
  auto [input_tx, input_rx] = std::move(*input_queue);
  auto cancel = CancelSignal::create();
  if (!cancel) return std::unexpected(cancel.error());
  auto observation = std::make_shared<ObservationSlot>();
  // The body owns the worker's ends; if the thread never starts they are
  // released with it, which closes the queues.
  auto body = [params = std::move(params), status, observation, output_tx = std::move(output_tx),
               input_rx = std::make_shared<sync::QueueReceiver<SshInput>>(std::move(input_rx)),
               signal = *cancel]() mutable {
    run_session_thread(std::move(params), status, observation, std::move(output_tx), std::move(*input_rx),
                       std::move(signal));
  };
  if (auto spawned = sync::spawn_named("remote-ssh", std::move(body)); !spawned) {
    return std::unexpected(spawned.error());
  }
  return SshWorkerEnds{std::move(status), std::move(output_rx), std::move(input_tx), std::move(observation),
                       CancelOnDrop(std::move(*cancel))};
}

SessionStatus SshWorkerEnds::current_status() const { return status->get().value_or(SessionStatus::connecting()); }

std::optional<HostKeyObservation> SshWorkerEnds::host_key_observation() const { return observation->get(); }

std::expected<void, std::string> SshWorkerEnds::queue_input(SshInput item) {
  if (item.bytes.empty()) return std::unexpected(std::string("SSH input cannot be empty"));
  if (item.bytes.size() > kMaxInputBytes) {
    return std::unexpected(
        text::fill("SSH input exceeds the {} KiB per-operation limit", {std::to_string(kMaxInputBytes / 1024)}));
  }
  auto sent = input.try_send(std::move(item));
  if (sent) return {};
  if (sent.error() == sync::SendError::Full) {
    return std::unexpected(std::string("SSH input is busy; wait for the remote session to catch up"));
  }
  return std::unexpected(std::string("SSH session input channel is closed"));
}

std::expected<std::unique_ptr<SshSession>, std::string> SshSession::start(SshSessionParams params,
                                                                          PumpTimings timings) {
  std::uint16_t cols = params.cols;
  std::uint16_t rows = params.rows;
  auto ends = SshWorkerEnds::start(std::move(params));
  if (!ends) return std::unexpected(ends.error());
  return std::unique_ptr<SshSession>(new SshSession(cols, rows, std::move(*ends), std::move(timings)));
}

std::expected<void, std::string> SshSession::send_input(std::vector<std::uint8_t> bytes) {
  return ends_.queue_input(SshInput{std::nullopt, std::move(bytes)});
}

std::expected<sync::OneshotReceiver<AckResult>, std::string> SshSession::send_input_acknowledged(
    std::vector<std::uint8_t> bytes) {
  auto [ack_tx, ack_rx] = sync::oneshot<AckResult>();
  if (auto queued = ends_.queue_input(SshInput{std::move(ack_tx), std::move(bytes)}); !queued) {
    return std::unexpected(queued.error());
  }
  return std::move(ack_rx);
}

bool SshSession::pump_output() {
  const auto deadline = timings_.now() + timings_.budget;
  // A zero slice would never finish a chunk.
  const std::size_t slice = std::max<std::size_t>(timings_.slice_bytes, 1);
  // Chunks the worker adds meanwhile wait for the next frame.
  std::size_t chunks_left = ends_.output.size();
  bool any = false;
  while (true) {
    if (pending_offset_ >= pending_.size()) {
      if (chunks_left == 0) break;
      auto chunk = ends_.output.try_recv();
      if (!chunk) break;
      --chunks_left;
      pending_ = std::move(*chunk);
      pending_offset_ = 0;
      if (pending_.empty()) continue;
    }
    const std::size_t n = std::min(slice, pending_.size() - pending_offset_);
    terminal_.feed(std::span<const std::uint8_t>(pending_.data() + pending_offset_, n));
    pending_offset_ += n;
    any = true;
    if (timings_.now() >= deadline) break;
  }
  if (pending_offset_ >= pending_.size()) {
    pending_.clear();
    pending_offset_ = 0;
  }
  return any;
}

}  // namespace remote::ssh
