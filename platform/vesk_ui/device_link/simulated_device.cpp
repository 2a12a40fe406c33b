#include "platform/vesk_ui/device_link/simulated_device.hpp"

#include <pthread.h>

#include <cmath>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <variant>

#include "platform/vesk_callstream/encoder.hpp"
#include "platform/vesk_ui/device_link/test_pattern.hpp"

namespace vesk_ui::device_link {

namespace {

using Clock = std::chrono::steady_clock;

// Keys held at once that the device keeps track of.
constexpr std::size_t kMaxHeldKeys = 32;

struct CloseRequest {
  DeviceSessionId id;
  DeviceCloseReason reason;
};
struct Refusal {
  EndpointKey endpoint;
  DeviceCloseReason reason;
};
using Control = std::variant<DeviceLinkCommand, CloseRequest, Refusal>;

bool is_pointer_move(const DeviceLinkCommand& c) {
  const auto* input = std::get_if<DeviceLinkCommand::Input>(&c.value);
  return input && std::holds_alternative<DeviceInputEvent::PointerMove>(input->event.value);
}

bool is_input(const DeviceLinkCommand& c) { return std::holds_alternative<DeviceLinkCommand::Input>(c.value); }

LinkEvent session_event(DeviceSessionId id, auto kind) { return LinkEvent{DeviceLinkEvent{id, std::move(kind)}}; }

LinkEvent failed(DeviceSessionId id, const std::string& what) {
  return session_event(id, DeviceLinkEvent::Closed{DeviceCloseReason::peer_text("Simulated device failed: " + what)});
}

struct Session {
  enum class Phase { Handshake, Streaming };

  DeviceSessionId id = 0;
  Phase phase = Phase::Handshake;
  Clock::time_point started;
  Clock::time_point due;  // Connected (handshake) or the next frame (streaming)
  std::optional<DeviceCloseReason> refusal;
  std::optional<vesk_callstream::encoder::H264Encoder> encoder;
  pattern::PatternState state;
  std::set<std::uint32_t> held_keys;
  std::vector<std::uint8_t> rgba;
  bool resync = false;  // the next frame that goes out must be an IDR
  std::uint64_t next_number = 0;
};

}  // namespace

struct SimulatedDevice::Shared {
  SimulatedDeviceOptions options;
  pattern::Layout layout;
  Clock::duration frame_interval{};

  // Commands and requests for the worker.
  std::mutex control_mutex;
  std::condition_variable control_cv;
  std::deque<Control> controls;
  std::size_t queued_inputs = 0;
  bool stop = false;
  bool worker_gone = false;

  // Events for the UI, and everything the worker reports.
  mutable std::mutex event_mutex;
  std::deque<LinkEvent> events;
  std::size_t queued_frames = 0;
  std::size_t queued_frame_bytes = 0;
  std::function<void()> notify;
  SimulatedDeviceStats stats;

  std::thread worker;

  void push_event(LinkEvent event);
  bool has_frame_room() const;
  // False (and nothing queued) when the frame does not fit the budget.
  bool push_frame(DeviceSessionId id, std::vector<std::uint8_t> packet, bool idr);
  void add_stats(auto update) {
    std::lock_guard lock(event_mutex);
    update(stats);
  }

  void run();
  void apply(Control& control, std::map<DeviceSessionId, Session>& sessions,
             std::map<EndpointKey, DeviceCloseReason>& refusals, Clock::time_point now);
  void open(const DeviceLinkCommand::Open& open, std::map<DeviceSessionId, Session>& sessions,
            const std::map<EndpointKey, DeviceCloseReason>& refusals, Clock::time_point now);
  void apply_input(Session& s, const DeviceInputEvent& event);
  void advance(std::map<DeviceSessionId, Session>& sessions, Clock::time_point now);
  // False when the session has ended.
  bool step(Session& s, Clock::time_point now);
  void send_frame(Session& s, Clock::time_point now);
  void fail_all(std::map<DeviceSessionId, Session>& sessions, const std::string& what);
  void fail_control(const Control& control, std::map<DeviceSessionId, Session>& sessions, const std::string& what);
};

void SimulatedDevice::Shared::push_event(LinkEvent event) {
  std::function<void()> wake;
  {
    std::lock_guard lock(event_mutex);
    if (events.empty()) {
      wake = notify;
    }
    events.push_back(std::move(event));
  }
  if (wake) {
    wake();
  }
}

bool SimulatedDevice::Shared::has_frame_room() const {
  std::lock_guard lock(event_mutex);
  return queued_frames < options.max_queued_frames && queued_frame_bytes < options.max_queued_frame_bytes;
}

bool SimulatedDevice::Shared::push_frame(DeviceSessionId id, std::vector<std::uint8_t> packet, bool idr) {
  std::function<void()> wake;
  {
    std::lock_guard lock(event_mutex);
    const std::size_t bytes = packet.size();
    if (queued_frames >= options.max_queued_frames || queued_frame_bytes + bytes > options.max_queued_frame_bytes) {
      return false;
    }
    if (events.empty()) {
      wake = notify;
    }
    ++queued_frames;
    queued_frame_bytes += bytes;
    ++stats.frames_sent;
    stats.idr_frames_sent += idr ? 1 : 0;
    events.push_back(session_event(id, DeviceLinkEvent::Frame{std::move(packet)}));
  }
  if (wake) {
    wake();
  }
  return true;
}

void SimulatedDevice::Shared::run() {
  pthread_setname_np(pthread_self(), "vesk-simdevice");  // a naming failure is harmless
  std::map<DeviceSessionId, Session> sessions;
  std::map<EndpointKey, DeviceCloseReason> refusals;
  try {
    for (;;) {
      std::deque<Control> batch;
      {
        std::unique_lock lock(control_mutex);
        std::optional<Clock::time_point> deadline;
        for (const auto& [id, s] : sessions) {
          deadline = deadline ? std::min(*deadline, s.due) : s.due;
        }
        const auto ready = [&] { return stop || !controls.empty(); };
        if (deadline) {
          control_cv.wait_until(lock, *deadline, ready);
        } else {
          control_cv.wait(lock, ready);
        }
        if (stop) {
          return;
        }
        batch.swap(controls);
        queued_inputs = 0;
      }
      // A failure ends only the session it concerns; the device goes on.
      const auto now = Clock::now();
      for (Control& control : batch) {
        try {
          apply(control, sessions, refusals, now);
        } catch (const std::exception& e) {
          fail_control(control, sessions, e.what());
        } catch (...) {
          fail_control(control, sessions, "unknown error");
        }
      }
      advance(sessions, Clock::now());
    }
  } catch (...) {
    // Only the queue machinery itself can get here; the device is gone for good.
    try {
      fail_all(sessions, "worker stopped");
    } catch (...) {
    }
    std::lock_guard lock(control_mutex);
    worker_gone = true;
  }
}

void SimulatedDevice::Shared::fail_all(std::map<DeviceSessionId, Session>& sessions, const std::string& what) {
  for (const auto& [id, s] : sessions) {
    push_event(failed(id, what));
  }
  sessions.clear();
}

void SimulatedDevice::Shared::fail_control(const Control& control, std::map<DeviceSessionId, Session>& sessions,
                                           const std::string& what) {
  const auto* command = std::get_if<DeviceLinkCommand>(&control);
  const auto* request = std::get_if<CloseRequest>(&control);
  if (!command && !request) {
    return;
  }
  const DeviceSessionId id = command ? command->session_id() : request->id;
  const bool was_open = sessions.erase(id) != 0;
  const bool closing = command && std::holds_alternative<DeviceLinkCommand::Close>(command->value);
  const bool opening = command && std::holds_alternative<DeviceLinkCommand::Open>(command->value);
  if (!closing && (was_open || opening)) {
    push_event(failed(id, what));
  }
}

void SimulatedDevice::Shared::apply(Control& control, std::map<DeviceSessionId, Session>& sessions,
                                    std::map<EndpointKey, DeviceCloseReason>& refusals, Clock::time_point now) {
  if (auto* request = std::get_if<CloseRequest>(&control)) {
    if (sessions.erase(request->id) != 0) {
      push_event(session_event(request->id, DeviceLinkEvent::Closed{std::move(request->reason)}));
    }
    return;
  }
  if (auto* refusal = std::get_if<Refusal>(&control)) {
    refusals.insert_or_assign(refusal->endpoint, std::move(refusal->reason));
    return;
  }
  auto& command = std::get<DeviceLinkCommand>(control);
  if (const auto* o = std::get_if<DeviceLinkCommand::Open>(&command.value)) {
    open(*o, sessions, refusals, now);
  } else if (const auto* input = std::get_if<DeviceLinkCommand::Input>(&command.value)) {
    if (auto it = sessions.find(input->session_id); it != sessions.end()) {
      apply_input(it->second, input->event);
    }
  } else if (const auto* close = std::get_if<DeviceLinkCommand::Close>(&command.value)) {
    // The application asked for the end; it expects nothing further.
    sessions.erase(close->session_id);
  }
}

void SimulatedDevice::Shared::open(const DeviceLinkCommand::Open& o, std::map<DeviceSessionId, Session>& sessions,
                                   const std::map<EndpointKey, DeviceCloseReason>& refusals, Clock::time_point now) {
  if (sessions.contains(o.session_id)) {
    return;  // a repeated Open for a live session changes nothing
  }
  const auto refused = refusals.find(o.endpoint);
  push_event(LinkEvent{LinkEvent::PresenceChanged{o.endpoint, refused == refusals.end()}});
  push_event(session_event(o.session_id, DeviceLinkEvent::Connecting{}));

  Session s;
  s.id = o.session_id;
  s.started = now;
  s.due = now + options.connect_delay;
  if (refused != refusals.end()) {
    s.refusal = refused->second;
  } else if (std::ranges::count_if(sessions, [](const auto& kv) { return !kv.second.refusal; }) >=
             static_cast<std::ptrdiff_t>(options.max_sessions)) {
    s.refusal = DeviceCloseReason::peer_text("The device is busy with other sessions");
  } else {
    auto encoder = vesk_callstream::encoder::H264Encoder::create(
        {options.width, options.height, options.frames_per_second, options.idr_interval, options.bitrate_bps});
    if (!encoder) {
      s.refusal = DeviceCloseReason::peer_text("The device could not start its encoder: " + encoder.error().message);
    } else {
      s.encoder.emplace(std::move(*encoder));
      s.rgba.resize(std::size_t{options.width} * options.height * 4);
    }
  }
  sessions.emplace(s.id, std::move(s));
}

void SimulatedDevice::Shared::apply_input(Session& s, const DeviceInputEvent& event) {
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, DeviceInputEvent::PointerMove>) {
          if (std::isfinite(e.x) && std::isfinite(e.y)) {
            s.state.pointer = std::array<double, 2>{e.x, e.y};
          }
        } else if constexpr (std::is_same_v<T, DeviceInputEvent::Button>) {
          if (e.code >= DeviceInputEvent::kButtonLeft && e.code <= DeviceInputEvent::kButtonMiddle) {
            const std::uint32_t bit = 1u << (e.code - DeviceInputEvent::kButtonLeft);
            s.state.buttons = e.pressed ? (s.state.buttons | bit) : (s.state.buttons & ~bit);
          }
        } else if constexpr (std::is_same_v<T, DeviceInputEvent::Key>) {
          if (e.pressed) {
            if (s.held_keys.size() < kMaxHeldKeys) {
              s.held_keys.insert(e.code);
            }
            s.state.last_key = e.code;
          } else {
            s.held_keys.erase(e.code);
          }
          s.state.key_down = !s.held_keys.empty();
        } else {
          add_stats([](SimulatedDeviceStats& st) { ++st.activations; });
        }
      },
      event.value);
  add_stats([](SimulatedDeviceStats& st) { ++st.inputs_applied; });
}

void SimulatedDevice::Shared::advance(std::map<DeviceSessionId, Session>& sessions, Clock::time_point now) {
  for (auto it = sessions.begin(); it != sessions.end();) {
    std::optional<std::string> failure;
    bool keep = true;
    try {
      keep = step(it->second, now);
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown error";
    }
    if (failure) {
      push_event(failed(it->first, *failure));
      keep = false;
    }
    it = keep ? std::next(it) : sessions.erase(it);
  }
}

bool SimulatedDevice::Shared::step(Session& s, Clock::time_point now) {
  if (now < s.due) {
    return true;
  }
  if (s.phase == Session::Phase::Handshake) {
    if (s.refusal) {
      push_event(session_event(s.id, DeviceLinkEvent::Closed{std::move(*s.refusal)}));
      return false;
    }
    push_event(session_event(s.id, DeviceLinkEvent::Connected{options.width, options.height}));
    s.phase = Session::Phase::Streaming;
    s.due = now;
  }
  send_frame(s, now);
  s.due += frame_interval;
  if (s.due < now) {
    s.due = now + frame_interval;  // fell behind: no burst to catch up
  }
  return true;
}

void SimulatedDevice::Shared::send_frame(Session& s, Clock::time_point now) {
  // Numbered by time, so that skipped frames leave a gap, and never twice
  // the same even when the worker wakes late.
  const auto by_time = static_cast<std::uint64_t>((now - s.started) / frame_interval);
  s.state.frame_number = std::max(by_time, s.next_number);
  s.next_number = s.state.frame_number + 1;
  // A frame the UI has no room for is never encoded; skipping at the source
  // and restarting with an IDR keeps the delivered stream decodable, where
  // dropping an encoded P frame would corrupt every frame up to the next IDR.
  if (!has_frame_room()) {
    s.resync = true;
    add_stats([](SimulatedDeviceStats& st) { ++st.frames_skipped; });
    return;
  }
  pattern::render(s.state, layout, s.rgba);
  if (s.resync) {
    s.encoder->request_idr();
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - s.started).count();
  auto frame = s.encoder->encode_rgba(s.rgba, static_cast<std::uint64_t>(ms));
  if (!frame) {
    throw std::runtime_error(frame.error().message);
  }
  if (frame->bytes.empty()) {
    return;
  }
  const bool idr = frame->idr;
  if (!push_frame(s.id, std::move(frame->bytes), idr)) {
    s.resync = true;
    add_stats([](SimulatedDeviceStats& st) { ++st.frames_skipped; });
    return;
  }
  if (idr) {
    s.resync = false;
  }
}

std::expected<std::shared_ptr<SimulatedDevice>, std::string> SimulatedDevice::start(SimulatedDeviceOptions options) {
  if (options.width < pattern::kMinWidth || options.height < pattern::kMinHeight || options.width % 2 != 0 ||
      options.height % 2 != 0 || options.width > 4096 || options.height > 4096) {
    return std::unexpected("simulated device size must be even, from 320x180 to 4096x4096");
  }
  if (!(options.frames_per_second >= 1.0f && options.frames_per_second <= 120.0f)) {
    return std::unexpected("simulated device frame rate must be between 1 and 120");
  }
  if (options.max_queued_frames == 0 || options.max_queued_frame_bytes == 0) {
    return std::unexpected("simulated device frame queue must hold at least one frame");
  }
  // Fail here rather than on every Open when the encoder cannot take these options.
  auto probe = vesk_callstream::encoder::H264Encoder::create(
      {options.width, options.height, options.frames_per_second, options.idr_interval, options.bitrate_bps});
  if (!probe) {
    return std::unexpected(probe.error().message);
  }
  try {
    auto shared = std::make_shared<Shared>();
    shared->options = options;
    shared->layout = pattern::layout_for(options.width, options.height);
    shared->frame_interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options.frames_per_second));
    Shared* raw = shared.get();
    // The device exists before its thread does, so that its destructor (which
    // joins) also covers a failure halfway through.
    std::shared_ptr<SimulatedDevice> device(new SimulatedDevice(std::move(shared)));
    raw->worker = std::thread([raw] { raw->run(); });
    return device;
  } catch (const std::exception& e) {
    return std::unexpected(std::string("could not start the simulated device: ") + e.what());
  }
}

SimulatedDevice::SimulatedDevice(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

SimulatedDevice::~SimulatedDevice() {
  {
    std::lock_guard lock(shared_->control_mutex);
    shared_->stop = true;
  }
  shared_->control_cv.notify_all();
  if (shared_->worker.joinable()) {
    shared_->worker.join();
  }
}

SubmitResult SimulatedDevice::submit(DeviceLinkCommand command) {
  std::optional<DeviceSessionId> orphan_open;
  SubmitResult result = SubmitResult::Accepted;
  {
    std::lock_guard lock(shared_->control_mutex);
    if (shared_->worker_gone) {
      if (std::holds_alternative<DeviceLinkCommand::Open>(command.value)) {
        orphan_open = command.session_id();
      }
    } else if (is_pointer_move(command) && !shared_->controls.empty()) {
      // Only the newest position of a run of moves matters.
      auto* last = std::get_if<DeviceLinkCommand>(&shared_->controls.back());
      if (last && is_pointer_move(*last) && last->session_id() == command.session_id()) {
        *last = std::move(command);
        return SubmitResult::Coalesced;
      }
    }
    if (!shared_->worker_gone) {
      if (is_input(command)) {
        if (shared_->queued_inputs >= kMaxQueuedInputs) {
          return SubmitResult::Busy;
        }
        ++shared_->queued_inputs;
      }
      shared_->controls.emplace_back(std::move(command));
    }
  }
  if (orphan_open) {
    // Nobody is left to answer; say so rather than leave the session hanging.
    shared_->push_event(failed(*orphan_open, "worker stopped"));
    return result;
  }
  shared_->control_cv.notify_one();
  return result;
}

std::size_t SimulatedDevice::poll_events(std::vector<LinkEvent>& out, std::size_t max) {
  std::lock_guard lock(shared_->event_mutex);
  std::size_t n = 0;
  while (n < max && !shared_->events.empty()) {
    LinkEvent& event = shared_->events.front();
    if (const auto* session = event.device_session()) {
      if (const auto* frame = std::get_if<DeviceLinkEvent::Frame>(&session->kind)) {
        --shared_->queued_frames;
        shared_->queued_frame_bytes -= frame->packet.size();
      }
    }
    out.push_back(std::move(event));
    shared_->events.pop_front();
    ++n;
  }
  return n;
}

void SimulatedDevice::set_event_notifier(std::function<void()> notify) {
  std::lock_guard lock(shared_->event_mutex);
  shared_->notify = std::move(notify);
}

void SimulatedDevice::close_session(DeviceSessionId id, DeviceCloseReason reason) {
  {
    std::lock_guard lock(shared_->control_mutex);
    shared_->controls.emplace_back(CloseRequest{id, std::move(reason)});
  }
  shared_->control_cv.notify_one();
}

void SimulatedDevice::refuse_endpoint(const EndpointKey& endpoint, DeviceCloseReason reason) {
  {
    std::lock_guard lock(shared_->control_mutex);
    shared_->controls.emplace_back(Refusal{endpoint, std::move(reason)});
  }
  shared_->control_cv.notify_one();
}

SimulatedDeviceStats SimulatedDevice::stats() const {
  std::lock_guard lock(shared_->event_mutex);
  return shared_->stats;
}

const SimulatedDeviceOptions& SimulatedDevice::options() const { return shared_->options; }

}  // namespace vesk_ui::device_link
