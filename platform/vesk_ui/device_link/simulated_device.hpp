#pragma once

// A device backend with no network behind it: every Open reaches a simulated
// device that streams the test pattern as real H.264 (IDR and P frames) from a
// worker thread of its own, draws the inputs it is sent, and can be told to
// end a session with any close reason.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>

#include "platform/vesk_ui/device_link/backend.hpp"

namespace vesk_ui::device_link {

struct SimulatedDeviceOptions {
  std::uint32_t width = 640;
  std::uint32_t height = 360;
  float frames_per_second = 30.0f;
  std::uint32_t idr_interval = 30;  // frames between IDRs
  std::uint32_t bitrate_bps = 2'000'000;
  // Time between Connecting and Connected.
  std::chrono::milliseconds connect_delay{100};
  // Sessions streaming at once; an Open beyond this is closed with a peer text.
  std::size_t max_sessions = 4;
  // Encoded frames waiting for the UI at most (count and bytes). When either
  // is reached the device skips frames and resumes with an IDR, so the stream
  // that reaches the UI never has a hole in it.
  std::size_t max_queued_frames = 8;
  std::size_t max_queued_frame_bytes = std::size_t{4} << 20;
};

struct SimulatedDeviceStats {
  std::uint64_t frames_sent = 0;
  std::uint64_t idr_frames_sent = 0;
  std::uint64_t frames_skipped = 0;  // not encoded because the UI fell behind
  std::uint64_t inputs_applied = 0;
  std::uint64_t activations = 0;  // input event number 3
};

class SimulatedDevice final : public DeviceBackend {
 public:
  // Capacity of the command queue for inputs; Open and Close always fit.
  static constexpr std::size_t kMaxQueuedInputs = 256;

  // Starts the worker thread ("vesk-simdevice").
  static std::expected<std::shared_ptr<SimulatedDevice>, std::string> start(SimulatedDeviceOptions options = {});

  // Stops and joins the worker (at most one frame's work).
  ~SimulatedDevice() override;

  SubmitResult submit(DeviceLinkCommand command) override;
  std::size_t poll_events(std::vector<LinkEvent>& out, std::size_t max) override;
  void set_event_notifier(std::function<void()> notify) override;

  // Any thread. The device ends the session with this reason: a Closed event
  // follows and the stream stops. Unknown ids are ignored.
  void close_session(DeviceSessionId id, DeviceCloseReason reason);
  // Any thread. Every Open for this endpoint from now on is answered with
  // Connecting and then Closed with the reason (an offline or refusing device).
  void refuse_endpoint(const EndpointKey& endpoint, DeviceCloseReason reason);

  SimulatedDeviceStats stats() const;
  const SimulatedDeviceOptions& options() const;

  struct Shared;

 private:
  explicit SimulatedDevice(std::shared_ptr<Shared> shared);
  std::shared_ptr<Shared> shared_;
};

}  // namespace vesk_ui::device_link
