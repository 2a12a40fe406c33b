#include "apps/remote/src/rfb/session.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdlib>
#include <exception>

#include "apps/remote/src/rfb/decode.hpp"
#include "apps/remote/src/rfb/handshake.hpp"
#include "apps/remote/src/rfb/messages.hpp"
#include "apps/remote/src/rfb/wire.hpp"
#include "apps/remote/src/sync/named_thread.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::rfb {
namespace {

using Clock = std::chrono::steady_clock;

enum class Outcome { InputClosed };

Result<void> forward(SocketStream& stream, const VncInput& event) {
  if (const auto* p = std::get_if<VncPointer>(&event)) {
    return stream.write_all(encode_pointer_event(p->buttons, p->x, p->y));
  }
  const auto& k = std::get<VncKey>(event);
  return stream.write_all(encode_key_event(k.down, k.keysym));
}

// The handle was dropped: of what it queued last only the releases go out
// (key-ups and pointer events holding no button), so no key or button stays
// down on the server, while presses the user abandoned are dropped. With the
// cancel signal fired, a full socket fails the write instead of waiting.
void forward_last_input(SocketStream& stream, remote::sync::QueueReceiver<VncInput>& input) {
  for (auto event = input.try_recv(); event; event = input.try_recv()) {
    const auto* key = std::get_if<VncKey>(&*event);
    const auto* pointer = std::get_if<VncPointer>(&*event);
    const bool release = (key && !key->down) || (pointer && pointer->buttons == 0);
    if (release && !forward(stream, *event)) return;
  }
}

Result<void> handle_message(SocketStream& stream, std::uint8_t type, Framebuffer& fb, const FrameSlot& frames) {
  switch (type) {
    case server_message::kFramebufferUpdate: {
      auto applied = read_framebuffer_update(stream, fb, kClientPixelFormat);
      if (!applied) return std::unexpected(applied.error());
      frames->set(fb);
      return request_update(stream, true, fb);
    }
    case server_message::kSetColourMapEntries: {  // the client format is true colour
      auto head = stream.read_view(5);
      if (!head) return std::unexpected(head.error());
      const std::uint64_t colours = ((*head)[3] << 8) | (*head)[4];
      return stream.skip(colours * 6);
    }
    case server_message::kBell: return {};
    case server_message::kServerCutText: {  // discarded chunk by chunk
      auto pad = stream.read_view(3);
      if (!pad) return std::unexpected(pad.error());
      auto len = stream.read_u32();
      if (!len) return std::unexpected(len.error());
      return stream.skip(*len);
    }
    default: return invalid_data("unknown server message " + std::to_string(type));
  }
}

// Gives the outcome of a session that ends without error (the UI dropped it),
// or the error that ended it; `connected` tells the caller how far it got.
Result<Outcome> serve(const VncTarget& target, const StatusSlot& status, const FrameSlot& frames,
                      remote::sync::QueueReceiver<VncInput>& input, const CancelSignal& cancel,
                      const SessionTimings& timings, bool& connected) {
  auto sock = connect_tcp(target.host, target.port, cancel, timings.handshake_stall);
  if (!sock) return std::unexpected(sock.error());
  const int one = 1;
  (void)::setsockopt(sock->fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  SocketStream stream(sock->fd(), cancel);
  stream.set_stall_timeout(timings.handshake_stall);
  auto init = run_handshake(stream, stream, target.password);
  if (!init) return std::unexpected(init.error());
  stream.set_stall_timeout(std::nullopt);

  Framebuffer fb(init->width, init->height);
  fb.enable_recycling();
  if (auto r = request_update(stream, false, fb); !r) return std::unexpected(r.error());
  status->set(SessionStatus::connected());
  connected = true;
  frames->set(fb);
  auto last_request = Clock::now();

  for (;;) {
    // Forward what the UI queued; a closed queue means the handle is gone.
    input.drain_wake();
    for (;;) {
      auto event = input.try_recv();
      if (!event) {
        if (event.error() == remote::sync::RecvError::Closed) return Outcome::InputClosed;
        break;
      }
      if (auto w = forward(stream, *event); !w) return std::unexpected(w.error());
    }

    // Checked on every turn, so a steady stream of input cannot starve it.
    if (Clock::now() - last_request >= timings.request_interval) {
      if (auto r = request_update(stream, true, fb); !r) return std::unexpected(r.error());
      last_request = Clock::now();
    }

    auto ready = stream.wait_readable(timings.message_wait, input.wake_fd());
    if (!ready) {
      if (ready.error().kind == ErrorKind::Cancelled) forward_last_input(stream, input);
      return std::unexpected(ready.error());
    }
    if (!ready->socket) continue;

    auto type = stream.read_u8();
    if (!type) return std::unexpected(type.error());
    if (auto r = handle_message(stream, *type, fb, frames); !r) return std::unexpected(r.error());
    if (*type == server_message::kFramebufferUpdate) last_request = Clock::now();
  }
}

SessionStatus final_status(const Error& e, bool connected) {
  if (e.kind == ErrorKind::EndOfStream && connected) return SessionStatus::ended();
  switch (e.kind) {
    case ErrorKind::ConnectionRefused: return SessionStatus::failed("Connection refused");
    case ErrorKind::TimedOut: return SessionStatus::failed("Connection timed out");
    default: return SessionStatus::failed(e.message);
  }
}

}  // namespace

void run_vnc_session(VncTarget target, StatusSlot status, FrameSlot frames, remote::sync::QueueReceiver<VncInput> input,
                     std::shared_ptr<CancelSignal> cancel, SessionTimings timings) {
  bool connected = false;
  Result<Outcome> outcome = Outcome::InputClosed;
  try {
    outcome = serve(target, status, frames, input, *cancel, timings, connected);
  } catch (const std::exception& e) {
    outcome = std::unexpected(Error{ErrorKind::Os, std::string("VNC worker failed: ") + e.what()});
  } catch (...) {
    outcome = std::unexpected(Error{ErrorKind::Os, "VNC worker failed"});
  }
  // Refuse input before the final status is seen, so a send that follows it
  // is reported closed instead of being taken and lost.
  input.close();
  if (outcome) return;
  // A dropped handle is not a failure: leave the status alone.
  if (outcome.error().kind == ErrorKind::Cancelled) return;
  status->set(final_status(outcome.error(), connected));
}

std::optional<std::string> vnc_password_from_env() {
  const char* value = std::getenv("REMOTE_VNC_PASSWORD");
  if (value == nullptr) return std::nullopt;
  const std::string_view text(value);
  if (!vesk_ui::utf8::is_valid(text)) return std::nullopt;
  return std::string(text);
}

VncSession::VncSession(remote::sync::QueueSender<VncInput> input, StatusSlot status, FrameSlot frames,
                       std::shared_ptr<CancelSignal> cancel)
    : input_(std::move(input)), status_(std::move(status)), frames_(std::move(frames)), cancel_(std::move(cancel)) {}

std::expected<VncSession, std::string> VncSession::spawn(VncTarget target) {
  auto cancel = CancelSignal::create();
  if (!cancel) return std::unexpected(cancel.error());
  auto status = std::make_shared<remote::sync::LatestSlot<SessionStatus>>(SessionStatus::connecting());
  auto frames = std::make_shared<remote::sync::LatestSlot<Framebuffer>>();
  auto [sender, receiver] = remote::sync::bounded_queue<VncInput>(kInputQueueCapacity);
  // std::function needs a copyable body, so the move-only receiver travels in a shared_ptr.
  auto shared_receiver = std::make_shared<remote::sync::QueueReceiver<VncInput>>(std::move(receiver));
  auto started = remote::sync::spawn_named(
      "remote-vnc", [target = std::move(target), status, frames, shared_receiver, signal = *cancel]() mutable {
        remote::sync::QueueReceiver<VncInput> rx = std::move(*shared_receiver);
        run_vnc_session(std::move(target), std::move(status), std::move(frames), std::move(rx), std::move(signal));
      });
  if (!started) return std::unexpected(started.error());
  return VncSession(std::move(sender), std::move(status), std::move(frames), std::move(*cancel));
}

void VncSession::close() {
  if (cancel_) cancel_->fire();
  cancel_.reset();
  input_.reset();
  status_.reset();
  frames_.reset();
}

VncSession& VncSession::operator=(VncSession&& other) noexcept {
  if (this != &other) {
    close();
    last_generation_ = other.last_generation_;
    input_ = std::move(other.input_);
    status_ = std::move(other.status_);
    frames_ = std::move(other.frames_);
    cancel_ = std::move(other.cancel_);
  }
  return *this;
}

VncSession::~VncSession() { close(); }

std::expected<void, std::string> VncSession::send_input(VncInput event) {
  auto sent = input_.try_send(event);
  if (sent) return {};
  return std::unexpected(
      std::string(sent.error() == remote::sync::SendError::Full ? kInputBusyText : kInputClosedText));
}

std::optional<Framebuffer> VncSession::take_frame() {
  auto update = take_update();
  if (!update) return std::nullopt;
  return std::move(update->frame);
}

std::optional<VncFrame> VncSession::take_update() {
  if (!frames_) return std::nullopt;
  auto frame = frames_->get();
  if (!frame) return std::nullopt;
  if (last_generation_ && *last_generation_ == frame->generation()) return std::nullopt;
  std::optional<std::vector<Area>> changed;
  if (last_generation_) changed = frame->changed_since(*last_generation_);
  last_generation_ = frame->generation();
  return VncFrame{std::move(*frame), std::move(changed)};
}

std::optional<FrameSize> VncSession::frame_size() const {
  if (!frames_) return std::nullopt;
  return frames_->with([](const std::optional<Framebuffer>& f) -> std::optional<FrameSize> {
    if (!f) return std::nullopt;
    return FrameSize{f->width(), f->height()};
  });
}

SessionStatus VncSession::status() const {
  if (!status_) return SessionStatus::ended();
  return status_->get().value_or(SessionStatus::ended());
}

}  // namespace remote::rfb
