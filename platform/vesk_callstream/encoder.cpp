#include "platform/vesk_callstream/encoder.hpp"

#include <wels/codec_api.h>

#include <exception>
#include <string>

#include "platform/vesk_callstream/color.hpp"

namespace vesk_callstream::encoder {

namespace {

inline constexpr std::uint32_t kMinSide = 16;
inline constexpr std::uint32_t kMaxSide = 4096;

struct EncoderDeleter {
  void operator()(ISVCEncoder* e) const {
    e->Uninitialize();
    WelsDestroySVCEncoder(e);
  }
};
using CodecPtr = std::unique_ptr<ISVCEncoder, EncoderDeleter>;

}  // namespace

struct H264Encoder::Impl {
  EncoderConfig config;
  CodecPtr codec;
  std::vector<std::uint8_t> i420;
  bool idr_requested = false;
};

H264Encoder::H264Encoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
H264Encoder::~H264Encoder() = default;
H264Encoder::H264Encoder(H264Encoder&&) noexcept = default;
H264Encoder& H264Encoder::operator=(H264Encoder&&) noexcept = default;

const EncoderConfig& H264Encoder::config() const { return impl_->config; }

void H264Encoder::request_idr() { impl_->idr_requested = true; }

std::expected<H264Encoder, Error> H264Encoder::create(const EncoderConfig& config) {
  const auto side_ok = [](std::uint32_t s) { return s >= kMinSide && s <= kMaxSide && s % 2 == 0; };
  if (!side_ok(config.width) || !side_ok(config.height)) {
    return std::unexpected(Error{"h264 encoder size " + std::to_string(config.width) + "x" +
                                 std::to_string(config.height) + " is not supported"});
  }
  if (!(config.frames_per_second > 0.0f && config.frames_per_second <= 120.0f)) {
    return std::unexpected(Error{"h264 encoder frame rate is out of range"});
  }
  try {
    ISVCEncoder* raw = nullptr;
    if (WelsCreateSVCEncoder(&raw) != 0 || raw == nullptr) {
      return std::unexpected(Error{"h264 encoder could not be created"});
    }
    CodecPtr codec(raw);
    int quiet = WELS_LOG_QUIET;
    codec->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);

    SEncParamExt p{};
    codec->GetDefaultParams(&p);
    p.iUsageType = CAMERA_VIDEO_REAL_TIME;
    p.iPicWidth = static_cast<int>(config.width);
    p.iPicHeight = static_cast<int>(config.height);
    p.iTargetBitrate = static_cast<int>(config.bitrate_bps);
    p.iMaxBitrate = UNSPECIFIED_BIT_RATE;
    p.iRCMode = RC_BITRATE_MODE;
    p.fMaxFrameRate = config.frames_per_second;
    p.iTemporalLayerNum = 1;
    p.iSpatialLayerNum = 1;
    // A stream that can be checked frame by frame: no skipped frames, IDRs
    // only on the schedule or on request, one slice per picture.
    p.bEnableFrameSkip = false;
    p.bEnableSceneChangeDetect = false;
    p.uiIntraPeriod = config.idr_interval;
    p.eSpsPpsIdStrategy = CONSTANT_ID;
    p.iMultipleThreadIdc = 1;
    p.iNumRefFrame = 1;
    p.bEnableLongTermReference = false;
    p.bPrefixNalAddingCtrl = false;
    SSpatialLayerConfig& layer = p.sSpatialLayers[0];
    layer.iVideoWidth = p.iPicWidth;
    layer.iVideoHeight = p.iPicHeight;
    layer.fFrameRate = config.frames_per_second;
    layer.iSpatialBitrate = p.iTargetBitrate;
    layer.iMaxSpatialBitrate = UNSPECIFIED_BIT_RATE;
    layer.uiProfileIdc = PRO_BASELINE;
    layer.sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
    if (codec->InitializeExt(&p) != cmResultSuccess) {
      // Uninitialize on a failed set-up is harmless for openh264.
      return std::unexpected(Error{"h264 encoder rejected its parameters"});
    }
    codec->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
    int format = videoFormatI420;
    codec->SetOption(ENCODER_OPTION_DATAFORMAT, &format);

    auto impl = std::make_unique<Impl>();
    impl->config = config;
    impl->codec = std::move(codec);
    const std::size_t luma = std::size_t{config.width} * config.height;
    impl->i420.resize(luma + 2 * (luma / 4));
    return H264Encoder(std::move(impl));
  } catch (const std::exception& e) {
    return std::unexpected(Error{std::string("h264 encoder set-up failed: ") + e.what()});
  }
}

std::expected<EncodedFrame, Error> H264Encoder::encode_rgba(std::span<const std::uint8_t> rgba,
                                                            std::uint64_t timestamp_ms) {
  const std::uint32_t w = impl_->config.width;
  const std::uint32_t h = impl_->config.height;
  const std::size_t luma = std::size_t{w} * h;
  if (rgba.size() != luma * 4) {
    return std::unexpected(Error{"h264 encoder input has the wrong size"});
  }
  try {
    std::uint8_t* y = impl_->i420.data();
    std::uint8_t* u = y + luma;
    std::uint8_t* v = u + luma / 4;
    color::rgba_to_i420(rgba, color::I420Planes{y, u, v, w, w / 2, w, h});

    if (impl_->idr_requested) {
      impl_->codec->ForceIntraFrame(true);
      impl_->idr_requested = false;
    }
    SSourcePicture pic{};
    pic.iColorFormat = videoFormatI420;
    pic.iPicWidth = static_cast<int>(w);
    pic.iPicHeight = static_cast<int>(h);
    pic.iStride[0] = static_cast<int>(w);
    pic.iStride[1] = pic.iStride[2] = static_cast<int>(w / 2);
    pic.pData[0] = y;
    pic.pData[1] = u;
    pic.pData[2] = v;
    pic.uiTimeStamp = static_cast<long long>(timestamp_ms);

    SFrameBSInfo info{};
    if (impl_->codec->EncodeFrame(&pic, &info) != cmResultSuccess) {
      return std::unexpected(Error{"h264 encoding failed"});
    }
    EncodedFrame out;
    out.idr = info.eFrameType == videoFrameTypeIDR;
    if (info.eFrameType == videoFrameTypeSkip || info.eFrameType == videoFrameTypeInvalid) {
      return out;
    }
    for (int l = 0; l < info.iLayerNum; ++l) {
      const SLayerBSInfo& layer = info.sLayerInfo[l];
      std::size_t bytes = 0;
      for (int n = 0; n < layer.iNalCount; ++n) {
        bytes += static_cast<std::size_t>(layer.pNalLengthInByte[n]);
      }
      out.bytes.insert(out.bytes.end(), layer.pBsBuf, layer.pBsBuf + bytes);
    }
    return out;
  } catch (const std::exception& e) {
    return std::unexpected(Error{std::string("h264 encoding failed: ") + e.what()});
  }
}

}  // namespace vesk_callstream::encoder
