#include "apps/remote/src/ssh/session.hpp"


#include "apps/remote/src/app/named_thread.hpp"

#include "apps/remote/src/ssh/text.hpp"

namespace remote::ssh {

std::expected<SshWorkerEnds, std::string> SshWorkerEnds::start(SshSessionParams params) {
  auto status = std::make_shared<StatusSlot>(SessionStatus::connecting());
  auto [output_tx, output_rx] = app::bounded_queue<OutputChunk>(kOutputQueueCapacity);
  auto [input_tx, input_rx] = app::bounded_queue<SshInput>(kInputQueueCapacity);
  auto observation = std::make_shared<ObservationSlot>();
  // The body owns the worker's ends; if the thread never starts they are
  // released with it, which closes the queues.
  auto body = [params = std::move(params), status, observation, output_tx = std::move(output_tx),
               input_rx = std::make_shared<app::QueueReceiver<SshInput>>(std::move(input_rx))]() mutable {
    run_session_thread(std::move(params), status, observation, std::move(output_tx), std::move(*input_rx));
  };
  if (auto spawned = app::spawn_named("remote-ssh", std::move(body)); !spawned) {
    return std::unexpected(spawned.error());
  }
  return SshWorkerEnds{std::move(status), std::move(output_rx), std::move(input_tx), std::move(observation)};
}

SessionStatus SshWorkerEnds::current_status() const {
  return status->get().value_or(SessionStatus::connecting());
}

std::optional<HostKeyObservation> SshWorkerEnds::host_key_observation() const { return observation->get(); }

std::expected<void, std::string> SshWorkerEnds::queue_input(SshInput item) {
  if (item.bytes.empty()) return std::unexpected(std::string("SSH input cannot be empty"));
  if (item.bytes.size() > kMaxInputBytes) {
    return std::unexpected(fill("SSH input exceeds the {} KiB per-operation limit", {decimal(kMaxInputBytes / 1024)}));
  }
  auto sent = input.try_send(std::move(item));
  if (sent) return {};
  if (sent.error() == app::SendError::Full) {
    return std::unexpected(std::string("SSH input is busy; wait for the remote session to catch up"));
  }
  return std::unexpected(std::string("SSH session input channel is closed"));
}

std::expected<std::unique_ptr<SshSession>, std::string> SshSession::start(SshSessionParams params) {
  std::uint16_t cols = params.cols;
  std::uint16_t rows = params.rows;
  auto ends = SshWorkerEnds::start(std::move(params));
  if (!ends) return std::unexpected(ends.error());
  return std::unique_ptr<SshSession>(new SshSession(cols, rows, std::move(*ends)));
}

std::expected<void, std::string> SshSession::send_input(std::vector<std::uint8_t> bytes) {
  return ends_.queue_input(SshInput{std::nullopt, std::move(bytes)});
}

std::expected<app::OneshotReceiver<AckResult>, std::string> SshSession::send_input_acknowledged(
    std::vector<std::uint8_t> bytes) {
  auto [ack_tx, ack_rx] = app::oneshot<AckResult>();
  if (auto queued = ends_.queue_input(SshInput{std::move(ack_tx), std::move(bytes)}); !queued) {
    return std::unexpected(queued.error());
  }
  return std::move(ack_rx);
}

bool SshSession::pump_output() {
  bool any = false;
  while (true) {
    auto chunk = ends_.output.try_recv();
    if (!chunk) break;
    terminal_.feed(std::span<const std::uint8_t>(*chunk));
    any = true;
  }
  return any;
}

}  // namespace remote::ssh
