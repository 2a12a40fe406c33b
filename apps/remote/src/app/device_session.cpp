#include "apps/remote/src/app/device_session.hpp"

#include <exception>
#include <utility>

#include "apps/remote/src/sync/named_thread.hpp"
#include "platform/vesk_callstream/annexb.hpp"

namespace remote::app {

namespace dl = vesk_ui::device_link;

namespace {

struct PacketInfo {
  bool idr = false;
  bool sps = false;
  bool parameters_only = false;  // SPS, PPS, SEI or delimiters, nothing to show
};

PacketInfo inspect(std::span<const std::uint8_t> packet) {
  namespace annexb = vesk_callstream::annexb;
  PacketInfo info;
  bool any = false;
  bool only_parameters = true;
  for (const annexb::NalUnit& nal : annexb::split_nal_units(packet)) {
    any = true;
    const std::uint8_t type = nal.type();
    if (type == annexb::kNalSliceIdr) info.idr = true;
    if (type == annexb::kNalSps) info.sps = true;
    constexpr std::uint8_t kSei = 6, kDelimiter = 9;
    if (type != annexb::kNalSps && type != annexb::kNalPps && type != kSei && type != kDelimiter) {
      only_parameters = false;
    }
  }
  info.parameters_only = any && only_parameters;
  return info;
}

}  // namespace

PendingPackets::Push PendingPackets::push(std::span<const std::uint8_t> packet) {
  const PacketInfo info = inspect(packet);
  std::lock_guard lock(mutex_);
  if (info.idr && info.sps && packet.size() <= max_bytes_) {
    // A self-contained IDR: decoding starts afresh here, so nothing before it is needed.
    const bool had_backlog = !bytes_.empty() || awaiting_idr_;
    bytes_.assign(packet.begin(), packet.end());
    awaiting_idr_ = false;
    return had_backlog ? Push::Restarted : Push::Queued;
  }
  bool overflow = false;
  if (!awaiting_idr_ && static_cast<std::uint64_t>(bytes_.size()) + packet.size() > max_bytes_) {
    bytes_.clear();
    bytes_.shrink_to_fit();
    awaiting_idr_ = true;
    overflow = true;
  }
  if (awaiting_idr_) {
    if (info.parameters_only && packet.size() <= max_bytes_) {
      // The next IDR may rely on these; keep the newest ones.
      bytes_.assign(packet.begin(), packet.end());
      return overflow ? Push::Overflow : Push::Skipped;
    }
    if (info.idr && static_cast<std::uint64_t>(bytes_.size()) + packet.size() <= max_bytes_) {
      bytes_.insert(bytes_.end(), packet.begin(), packet.end());
      awaiting_idr_ = false;
      return Push::Restarted;
    }
    ++skipped_;
    return overflow ? Push::Overflow : Push::Skipped;
  }
  bytes_.insert(bytes_.end(), packet.begin(), packet.end());
  return Push::Queued;
}

std::optional<std::vector<std::uint8_t>> PendingPackets::take() {
  std::lock_guard lock(mutex_);
  if (bytes_.empty()) return std::nullopt;
  return std::exchange(bytes_, {});
}

std::size_t PendingPackets::pending_bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_.size();
}

bool PendingPackets::awaiting_idr() const {
  std::lock_guard lock(mutex_);
  return awaiting_idr_;
}

std::uint64_t PendingPackets::skipped_packets() const {
  std::lock_guard lock(mutex_);
  return skipped_;
}

DecoderFactory h264_decoder_factory() {
  return [] {
    // Pictures come out in the renderer's layout, so painting copies none.
    auto decoder = std::make_shared<vesk_callstream::decoder::H264Decoder>(vesk_callstream::decoder::DecoderLimits{},
                                                                           vesk_callstream::decoder::PixelOrder::Bgra);
    return DecodeFn([decoder](std::span<const std::uint8_t> packet) { return decoder->decode(packet); });
  };
}

ThreadSpawner default_thread_spawner() {
  return
      [](std::string name, std::function<void()> body) { return sync::spawn_named(std::move(name), std::move(body)); };
}

void run_frame_decoder(sync::QueueReceiver<DecoderWake> wake, std::shared_ptr<DecoderShared> shared,
                       DecoderFactory factory) {
  try {
    DecodeFn decode = factory();
    while (wake.recv()) {
      auto packet = shared->pending.take();
      if (!packet) continue;  // taken with an earlier signal
      auto decoded = decode(*packet);
      if (!decoded || !decoded->has_value()) continue;  // undecodable or no picture: nothing to report
      vesk_callstream::decoder::Frame& frame = **decoded;
      DecodedFrame out{std::make_shared<const std::vector<std::uint8_t>>(std::move(frame.pixels)), frame.width,
                       frame.height, frame.order};
      shared->frame.set(std::move(out));
    }
    // The session was dropped.
    shared->running.store(false, std::memory_order_release);
  } catch (...) {
    // A decoder failure ends the thread; closing the wake queue below is how
    // the UI learns of it at the next frame.
  }
  wake.close();
}

std::expected<DeviceSession, std::string> DeviceSession::start(DeviceSessionId id,
                                                               const DeviceSessionOptions& options) {
  auto [tx, rx] = sync::bounded_queue<DecoderWake>(kDecoderWakeCapacity);
  auto shared = std::make_shared<DecoderShared>(options.max_pending_bytes);
  // The receiver moves into the thread; a copyable holder lets std::function carry it.
  auto holder = std::make_shared<sync::QueueReceiver<DecoderWake>>(std::move(rx));
  const ThreadSpawner& spawn = options.spawn ? options.spawn : default_thread_spawner();
  auto started = spawn(kDecoderThreadName, [holder, shared, factory = options.decoder]() mutable {
    run_frame_decoder(std::move(*holder), std::move(shared), factory ? factory : h264_decoder_factory());
  });
  if (!started) return std::unexpected(started.error());
  return DeviceSession(id, std::move(tx), std::move(shared));
}

void DeviceSession::on_event(const dl::DeviceLinkEvent& event) {
  std::visit(
      [&](const auto& kind) {
        using K = std::decay_t<decltype(kind)>;
        if constexpr (std::is_same_v<K, dl::DeviceLinkEvent::Connecting>) {
          status_ = SessionStatus::connecting();
        } else if constexpr (std::is_same_v<K, dl::DeviceLinkEvent::Connected>) {
          remote_size_ = Size{kind.width, kind.height};
          status_ = SessionStatus::connected();
        } else if constexpr (std::is_same_v<K, dl::DeviceLinkEvent::Frame>) {
          on_frame(kind.packet);
        } else if constexpr (std::is_same_v<K, dl::DeviceLinkEvent::Closed>) {
          status_ = SessionStatus::failed(kind.reason.message());
        }
      },
      event.kind);
}

void DeviceSession::on_frame(std::span<const std::uint8_t> packet) {
  if (!shared_->running.load(std::memory_order_acquire)) {
    status_ = SessionStatus::failed(kDecoderUnavailableText);
    return;
  }
  shared_->pending.push(packet);
  auto offered = wake_.try_send(DecoderWake{});
  if (!offered && offered.error() == sync::SendError::Closed) {
    shared_->running.store(false, std::memory_order_release);
    status_ = SessionStatus::failed(kDecoderStoppedText);
  }
  // Full: a wake-up is already waiting and the decoder will find this packet.
}

std::optional<DecodedFrame> DeviceSession::take_frame() {
  auto frame = shared_->frame.take();
  if (frame) remote_size_ = Size{frame->width, frame->height};
  return frame;
}

}  // namespace remote::app
