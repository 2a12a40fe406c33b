#include "platform/vesk_callstream/decoder.hpp"

#include <wels/codec_api.h>

#include <climits>
#include <exception>
#include <new>
#include <string>

#include "platform/vesk_callstream/annexb.hpp"
#include "platform/vesk_callstream/color.hpp"

namespace vesk_callstream::decoder {

namespace {

struct DecoderDeleter {
  void operator()(ISVCDecoder* d) const {
    d->Uninitialize();
    WelsDestroyDecoder(d);
  }
};
using CodecPtr = std::unique_ptr<ISVCDecoder, DecoderDeleter>;

void set_quiet(ISVCDecoder* d) {
  int level = WELS_LOG_QUIET;
  d->SetOption(DECODER_OPTION_TRACE_LEVEL, &level);
}

std::expected<CodecPtr, Error> create_codec() {
  ISVCDecoder* raw = nullptr;
  if (WelsCreateDecoder(&raw) != 0 || raw == nullptr) {
    return std::unexpected(Error{"h264 decoder could not be created"});
  }
  // Quiet before Initialize so that even set-up messages stay off stderr.
  set_quiet(raw);
  SDecodingParam param{};
  param.sVideoProperty.size = sizeof(param.sVideoProperty);
  param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  param.eEcActiveIdc = ERROR_CON_SLICE_MV_COPY_CROSS_IDR_FREEZE_RES_CHANGE;
  if (raw->Initialize(&param) != 0) {
    WelsDestroyDecoder(raw);
    return std::unexpected(Error{"h264 decoder could not be initialised"});
  }
  set_quiet(raw);
  return CodecPtr(raw);
}

Error too_large(std::uint64_t width, std::uint64_t height, const DecoderLimits& limits) {
  return Error{"h264 picture " + std::to_string(width) + "x" + std::to_string(height) + " exceeds the limit of " +
               std::to_string(limits.max_width) + "x" + std::to_string(limits.max_height)};
}

// Checks every parameter set in the packet before the codec sees it, so that an
// oversized stream is refused before anything is allocated for it.
std::optional<Error> check_parameter_sets(std::span<const std::uint8_t> packet, const DecoderLimits& limits) {
  for (const annexb::NalUnit& nal : annexb::split_nal_units(packet)) {
    if (nal.type() != annexb::kNalSps && nal.type() != annexb::kNalSubsetSps) {
      continue;
    }
    const auto size = annexb::parse_sps_size(nal.bytes);
    if (!size) {
      return Error{"h264 sequence parameter set is malformed"};
    }
    if (size->width > limits.max_width || size->height > limits.max_height) {
      return too_large(size->width, size->height, limits);
    }
  }
  return std::nullopt;
}

}  // namespace

struct H264Decoder::Impl {
  DecoderLimits limits;
  PixelOrder order = PixelOrder::Rgba;
  CodecPtr codec;
  std::string init_error;

  std::expected<std::optional<Frame>, Error> decode(std::span<const std::uint8_t> packet);
};

std::expected<std::optional<Frame>, Error> H264Decoder::Impl::decode(std::span<const std::uint8_t> packet) {
  if (!codec) {
    return std::unexpected(Error{init_error});
  }
  if (packet.empty()) {
    return std::optional<Frame>{};
  }
  if (packet.size() > limits.max_packet_bytes || packet.size() > static_cast<std::size_t>(INT_MAX)) {
    return std::unexpected(Error{"h264 packet of " + std::to_string(packet.size()) + " bytes is too large"});
  }
  if (auto refused = check_parameter_sets(packet, limits)) {
    return std::unexpected(std::move(*refused));
  }

  unsigned char* planes[3] = {nullptr, nullptr, nullptr};
  SBufferInfo info{};
  const DECODING_STATE state = codec->DecodeFrameNoDelay(packet.data(), static_cast<int>(packet.size()), planes, &info);

  // Only the buffer status says whether a picture exists; the state may carry
  // warnings (a concealed error) alongside a usable picture.
  if (info.iBufferStatus != 1) {
    if (state != dsErrorFree && state != dsFramePending) {
      return std::unexpected(
          Error{"h264 decoding failed (state " + std::to_string(static_cast<unsigned>(state)) + ")"});
    }
    return std::optional<Frame>{};
  }

  const SSysMEMBuffer& buf = info.UsrData.sSystemBuffer;
  const std::uint8_t* y = info.pDst[0];
  const std::uint8_t* u = info.pDst[1];
  const std::uint8_t* v = info.pDst[2];
  if (y == nullptr || u == nullptr || v == nullptr || buf.iWidth <= 0 || buf.iHeight <= 0) {
    return std::unexpected(Error{"h264 decoder returned an empty picture"});
  }
  if (buf.iFormat != videoFormatI420) {
    return std::unexpected(Error{"h264 decoder returned pixel format " + std::to_string(buf.iFormat)});
  }
  const auto width = static_cast<std::uint32_t>(buf.iWidth);
  const auto height = static_cast<std::uint32_t>(buf.iHeight);
  if (width > limits.max_width || height > limits.max_height) {
    return std::unexpected(too_large(width, height, limits));
  }
  if (buf.iStride[0] < buf.iWidth || buf.iStride[1] < (buf.iWidth + 1) / 2) {
    return std::unexpected(Error{"h264 decoder returned inconsistent strides"});
  }

  Frame frame;
  frame.width = width;
  frame.height = height;
  frame.order = order;
  frame.pixels.resize(std::size_t{width} * std::size_t{height} * 4);
  const color::I420View picture{
      y, u, v, static_cast<std::size_t>(buf.iStride[0]), static_cast<std::size_t>(buf.iStride[1]), width, height};
  if (order == PixelOrder::Bgra) {
    color::i420_to_bgra(picture, frame.pixels);
  } else {
    color::i420_to_rgba(picture, frame.pixels);
  }
  return std::optional<Frame>{std::move(frame)};
}

H264Decoder::H264Decoder() : H264Decoder(DecoderLimits{}) {}

H264Decoder::H264Decoder(DecoderLimits limits, PixelOrder order) {
  try {
    impl_ = std::make_unique<Impl>();
  } catch (const std::bad_alloc&) {
    return;  // decode reports the missing codec
  }
  impl_->limits = limits;
  impl_->order = order;
  auto codec = create_codec();
  if (codec) {
    impl_->codec = std::move(*codec);
  } else {
    impl_->init_error = std::move(codec.error().message);
  }
}

H264Decoder::~H264Decoder() = default;
H264Decoder::H264Decoder(H264Decoder&&) noexcept = default;
H264Decoder& H264Decoder::operator=(H264Decoder&&) noexcept = default;

bool H264Decoder::available() const { return impl_ && impl_->codec; }

std::expected<std::optional<Frame>, Error> H264Decoder::decode(std::span<const std::uint8_t> packet) {
  if (!impl_) {
    return std::unexpected(Error{"h264 decoder is unavailable"});
  }
  try {
    return impl_->decode(packet);
  } catch (const std::exception& e) {
    return std::unexpected(Error{std::string("h264 decoding failed: ") + e.what()});
  }
}

}  // namespace vesk_callstream::decoder
