// The operation protocol: operations run at once, or started in the
// background and polled, with at most one background operation in flight.
#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/actions/tree.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"

namespace remote::app {

namespace {

namespace code {
constexpr const char* kConnectFailed = "remote.connect_failed";
constexpr const char* kTransportUnavailable = "remote.transport_unavailable";
constexpr const char* kConnectionClosed = "remote.connection_closed";
constexpr const char* kSessionReplaced = "remote.session_replaced";
constexpr const char* kInputFailed = "remote.input_failed";
constexpr const char* kInputWorkerLost = "remote.input_worker_lost";
}  // namespace code

constexpr const char* kAnotherRunning = "another remote operation is still running";
constexpr const char* kViewNoBackground = "view operations do not start background work";
constexpr const char* kConnectionGone = "saved connection no longer exists";
constexpr const char* kTransportDidNotStart = "remote transport did not start";
constexpr const char* kSessionInactive = "that remote session is no longer active";
constexpr const char* kNeedsTerminal = "text input requires a connected SSH terminal";
constexpr const char* kKindMismatch = "remote operation kind does not match its declared contract";
constexpr const char* kTrustStale = "the observed SSH host key is stale; reconnect to inspect the current key";
constexpr const char* kForgetStale = "only the currently observed changed SSH host key can be forgotten";
constexpr const char* kCancelled = "remote connection attempt cancelled";
constexpr const char* kAttemptSuperseded = "the connection attempt was superseded by a newer session";
constexpr const char* kClosedBeforeReady = "remote connection closed before it became ready";
constexpr const char* kDeliveryOrphaned = "the SSH session ended before input delivery was acknowledged";
constexpr const char* kWorkerLost = "remote input worker stopped before acknowledgement";

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

std::vector<std::string> RemoteApp::operation_types() const { return {std::string(kRemoteOperationKind)}; }

StartOutcome RemoteApp::start_operation(const OperationHandle& handle, vesk_actions::OperationKind kind,
                                        const vesk_actions::EncodedAction& encoded) {
  if (kind != vesk_actions::OperationKind::Effect) return StartOutcome::not_handled();
  auto decoded = actions::decode_operation(encoded.kind, encoded.payload);
  if (std::holds_alternative<actions::NotAnOperation>(decoded)) return StartOutcome::not_handled();
  if (auto* error = std::get_if<std::string>(&decoded)) return StartOutcome::failed(*error);
  const RemoteOperation& operation = std::get<RemoteOperation>(decoded);
  if (state_.pending_operation) return StartOutcome::failed(kAnotherRunning);

  return std::visit(
      [&](const auto& op) -> StartOutcome {
        using Op = std::decay_t<decltype(op)>;
        if constexpr (std::is_same_v<Op, RemoteOperation::ShowConnections> ||
                      std::is_same_v<Op, RemoteOperation::NewConnectionForm> ||
                      std::is_same_v<Op, RemoteOperation::EditConnection>) {
          return StartOutcome::failed(kViewNoBackground);
        } else if constexpr (std::is_same_v<Op, RemoteOperation::Connect>) {
          const SavedConnection* c = find_connection(state_.connections, op.connection_id);
          if (!c) return StartOutcome::failed(kConnectionGone);
          // The connection's own running session is shown again, not
          // replaced: connected completes at once, connecting is followed
          // like a new attempt until it settles.
          if (!return_to_live_session(op.connection_id)) {
            const Readiness readiness = c->readiness();
            if (readiness == Readiness::InvalidProfile) {
              return StartOutcome::failed(c->validate_target().value_or(std::string(readiness.message(c->kind))));
            }
            if (readiness != Readiness::Ready) return StartOutcome::failed(std::string(readiness.message(c->kind)));
            open_session(op.connection_id);
          }
          if (!state_.live_session) return StartOutcome::failed(kTransportDidNotStart);
          const SessionStatus status = state_.live_session->status();
          switch (status.kind) {
            case SessionStatus::Kind::Ended: return StartOutcome::failed(kTransportDidNotStart);
            case SessionStatus::Kind::Connecting:
              state_.pending_operation =
                  PendingOperation{PendingOperation::ConnectAttempt{handle, op.connection_id, state_.session_serial}};
              return StartOutcome::pending();
            case SessionStatus::Kind::Connected: return StartOutcome::completed();
            case SessionStatus::Kind::Unavailable:
            case SessionStatus::Kind::Failed: return StartOutcome::failed(status.message);
          }
          return StartOutcome::failed(kTransportDidNotStart);
        } else if constexpr (std::is_same_v<Op, RemoteOperation::SendText>) {
          if (state_.session_connection != op.connection_id) return StartOutcome::failed(kSessionInactive);
          LiveSession::Ssh* ssh = state_.live_session ? state_.live_session->ssh() : nullptr;
          if (!ssh || !ssh->session || !ssh->session->status().is_connected()) {
            return StartOutcome::failed(kNeedsTerminal);
          }
          auto ack = ssh->session->send_input_acknowledged(bytes_of(op.text));
          if (!ack) return StartOutcome::failed(ack.error());
          state_.pending_operation = PendingOperation{
              PendingOperation::TextDelivery{std::move(*ack), handle, op.connection_id, state_.session_serial}};
          return StartOutcome::pending();
        } else {
          const RunOutcome ran = run_operation(vesk_actions::OperationKind::Effect, encoded);
          switch (ran.kind) {
            case RunOutcome::Kind::Handled: return StartOutcome::completed();
            case RunOutcome::Kind::NotHandled: return StartOutcome::not_handled();
            case RunOutcome::Kind::Failed: return StartOutcome::failed(ran.message);
          }
          return StartOutcome::not_handled();
        }
      },
      operation.value());
}

PollOutcome RemoteApp::poll_operation(const OperationHandle& handle, bool cancel) {
  if (!state_.pending_operation || state_.pending_operation->handle() != handle) return PollOutcome::no_update();
  PendingOperation& pending = *state_.pending_operation;
  // A settled operation may have changed what the screen shows.
  auto settle = [this] {
    state_.pending_operation.reset();
    state_.redraw = true;
  };

  if (auto* attempt = std::get_if<PendingOperation::ConnectAttempt>(&pending.value)) {
    const bool current =
        state_.session_connection == attempt->connection_id && state_.session_serial == attempt->serial;
    if (cancel) {
      if (current) disconnect();
      settle();
      return PollOutcome::cancelled(handle, kCancelled);
    }
    if (!current) {
      settle();
      return PollOutcome::failed(handle, code::kSessionReplaced, kAttemptSuperseded);
    }
    const std::optional<SessionStatus> status =
        state_.live_session ? std::optional(state_.live_session->status()) : std::nullopt;
    if (status && status->is_connecting()) return PollOutcome::no_update();
    settle();
    if (!status || status->kind == SessionStatus::Kind::Ended) {
      return PollOutcome::failed(handle, code::kConnectionClosed, kClosedBeforeReady);
    }
    switch (status->kind) {
      case SessionStatus::Kind::Connected: return PollOutcome::completed(handle);
      case SessionStatus::Kind::Unavailable:
        return PollOutcome::failed(handle, code::kTransportUnavailable, status->message);
      default: return PollOutcome::failed(handle, code::kConnectFailed, status->message);
    }
  }

  auto& delivery = std::get<PendingOperation::TextDelivery>(pending.value);
  if (state_.session_connection != delivery.connection_id || state_.session_serial != delivery.serial) {
    settle();
    return PollOutcome::failed(handle, code::kSessionReplaced, kDeliveryOrphaned);
  }
  auto result = delivery.ack.try_recv();
  if (!result && result.error() == sync::RecvError::Empty) return PollOutcome::no_update();
  settle();
  if (!result) return PollOutcome::failed(handle, code::kInputWorkerLost, kWorkerLost);
  if (!*result) return PollOutcome::failed(handle, code::kInputFailed, result->error());
  return PollOutcome::completed(handle);
}

RunOutcome RemoteApp::run_operation(vesk_actions::OperationKind kind, const vesk_actions::EncodedAction& encoded) {
  if (kind == vesk_actions::OperationKind::None) return RunOutcome::not_handled();
  auto decoded = actions::decode_operation(encoded.kind, encoded.payload);
  if (std::holds_alternative<actions::NotAnOperation>(decoded)) return RunOutcome::not_handled();
  if (auto* error = std::get_if<std::string>(&decoded)) return RunOutcome::failed(*error);
  const RemoteOperation& operation = std::get<RemoteOperation>(decoded);
  if (operation.operation_kind() != kind) return RunOutcome::failed(kKindMismatch);

  return std::visit(
      [&](const auto& op) -> RunOutcome {
        using Op = std::decay_t<decltype(op)>;
        if constexpr (std::is_same_v<Op, RemoteOperation::ShowConnections>) {
          apply_view_message(UiMessage::show_connections());
          return RunOutcome::handled();
        } else if constexpr (std::is_same_v<Op, RemoteOperation::NewConnectionForm>) {
          apply_view_message(UiMessage::new_connection());
          return RunOutcome::handled();
        } else if constexpr (std::is_same_v<Op, RemoteOperation::EditConnection>) {
          if (!find_connection(state_.connections, op.connection_id)) return RunOutcome::failed(kConnectionGone);
          apply_view_message(UiMessage::edit_connection(op.connection_id));
          return RunOutcome::handled();
        } else if constexpr (std::is_same_v<Op, RemoteOperation::Connect>) {
          if (!find_connection(state_.connections, op.connection_id)) return RunOutcome::failed(kConnectionGone);
          if (!return_to_live_session(op.connection_id)) open_session(op.connection_id);
          return RunOutcome::handled();
        } else if constexpr (std::is_same_v<Op, RemoteOperation::Disconnect>) {
          if (state_.session_connection != op.connection_id) return RunOutcome::failed(kSessionInactive);
          disconnect();
          return RunOutcome::handled();
        } else if constexpr (std::is_same_v<Op, RemoteOperation::SendText>) {
          if (state_.session_connection != op.connection_id) return RunOutcome::failed(kSessionInactive);
          LiveSession::Ssh* ssh = state_.live_session ? state_.live_session->ssh() : nullptr;
          if (!ssh || !ssh->session || !ssh->session->status().is_connected()) {
            return RunOutcome::failed(kNeedsTerminal);
          }
          if (auto sent = ssh->session->send_input(bytes_of(op.text)); !sent) return RunOutcome::failed(sent.error());
          state_.redraw = true;
          return RunOutcome::handled();
        } else if constexpr (std::is_same_v<Op, RemoteOperation::TrustSshHostKey>) {
          const SavedConnection* c = find_connection(state_.connections, op.connection_id);
          if (!c) return RunOutcome::failed(kConnectionGone);
          const auto at = pending_host_key_at(op.connection_id);
          const ssh::UnknownHostKey* unknown = at ? at->observation.unknown() : nullptr;
          if (!unknown || unknown->presented != op.observed || at->host != c->host || at->port != c->port) {
            return RunOutcome::failed(kTrustStale);
          }
          auto path = ssh::known_hosts_path();
          if (!path) return RunOutcome::failed("private SSH host-key storage is unavailable: " + path.error());
          if (auto trusted = ssh::KnownHosts::trust(*path, at->host, at->port, op.observed); !trusted) {
            return RunOutcome::failed("could not save SSH host-key trust: " + trusted.error());
          }
          open_session(op.connection_id);
          return RunOutcome::handled();
        } else {
          static_assert(std::is_same_v<Op, RemoteOperation::ForgetSshHostKey>);
          const SavedConnection* c = find_connection(state_.connections, op.connection_id);
          if (!c) return RunOutcome::failed(kConnectionGone);
          const auto at = pending_host_key_at(op.connection_id);
          if (!at || !at->observation.changed() || at->host != c->host || at->port != c->port) {
            return RunOutcome::failed(kForgetStale);
          }
          auto path = ssh::known_hosts_path();
          if (!path) return RunOutcome::failed("private SSH host-key storage is unavailable: " + path.error());
          if (auto forgot = ssh::KnownHosts::forget(*path, at->host, at->port); !forgot) {
            return RunOutcome::failed("could not forget SSH host-key trust: " + forgot.error());
          }
          disconnect();
          return RunOutcome::handled();
        }
      },
      operation.value());
}

}  // namespace remote::app
