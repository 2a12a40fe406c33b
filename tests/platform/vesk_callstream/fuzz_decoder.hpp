#pragma once

// The decoder fuzz target's input format, and the one decoder it reuses across
// inputs. openh264 has no cheap reset: Uninitialize + Initialize allocates and
// zeroes the same 4 MB as a new decoder, which under AddressSanitizer costs as
// much (fresh pages each time). Instead every input starts with a fixed stream
// that overwrites what a previous input can leave behind: every parameter set
// id, the pictures and the picture buffers. An input then decodes the same
// after any predecessor as it does alone, so a crash reproduces on its own.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/vesk_callstream/annexb.hpp"
#include "platform/vesk_callstream/decoder.hpp"
#include "platform/vesk_callstream/encoder.hpp"
#include "tests/platform/vesk_callstream/sps_writer.hpp"

namespace vesk_callstream::testing {

// A small cap keeps the codec's allocations within the fuzzer's memory limit.
inline constexpr decoder::DecoderLimits kFuzzLimits{1024, 1024, std::size_t{1} << 20};

// Largest packet count one input asks for (its first byte, modulo this).
inline constexpr std::size_t kFuzzMaxPackets = 8;

// Feeds one input: the first byte says how many packets (1 to 8), the rest is
// cut into that many chunks. `on_result` sees each packet's decode result.
template <class OnResult>
void decode_fuzz_input(decoder::H264Decoder& decoder, std::span<const std::uint8_t> data, OnResult&& on_result) {
  if (data.empty()) {
    return;
  }
  const std::span<const std::uint8_t> input = data.subspan(1);
  const std::size_t packets = 1 + data[0] % kFuzzMaxPackets;
  const std::size_t chunk = input.size() / packets;
  for (std::size_t i = 0; i < packets; ++i) {
    const std::size_t len = i + 1 == packets ? input.size() - i * chunk : chunk;
    on_result(decoder.decode(input.subspan(i * chunk, len)));
  }
}

// Parameter set ids a stream can use (H.264 7.4.1.2.1 and 7.4.2.2).
inline constexpr std::uint32_t kSpsIds = 32;
inline constexpr std::uint32_t kPpsIds = 256;

// The NAL unit with one Exp-Golomb field replaced by `value`: the field after
// `skip_bits` fixed bits and `skip_fields` other Exp-Golomb fields of its
// RBSP. How a parameter set or a slice gets another id. Header byte first, no
// start code.
inline std::vector<std::uint8_t> with_ue_field(std::span<const std::uint8_t> nal, std::size_t skip_bits,
                                               std::size_t skip_fields, std::uint64_t value) {
  std::vector<std::uint8_t> rbsp;
  int zeros = 0;
  for (std::size_t i = 1; i < nal.size(); ++i) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    rbsp.push_back(nal[i]);
    zeros = nal[i] == 0 ? zeros + 1 : 0;
  }
  std::size_t total = rbsp.size() * 8;
  const auto bit_at = [&](std::size_t i) { return (rbsp[i / 8] >> (7 - i % 8)) & 1u; };
  while (total > 0 && bit_at(total - 1) == 0) {
    --total;
  }
  if (total > 0) {
    --total;  // rbsp_stop_one_bit; finish() writes it again
  }
  BitWriter w;
  std::size_t pos = 0;
  for (; pos < skip_bits && pos < total; ++pos) {
    w.bit(bit_at(pos));
  }
  // Copies (or, for the last, drops) one Exp-Golomb field.
  const auto field = [&](bool copy) {
    std::size_t leading = 0;
    while (pos + leading < total && bit_at(pos + leading) == 0) {
      ++leading;
    }
    const std::size_t end = std::min(total, pos + 2 * leading + 1);
    for (; pos < end; ++pos) {
      if (copy) {
        w.bit(bit_at(pos));
      }
    }
  };
  for (std::size_t i = 0; i < skip_fields; ++i) {
    field(true);
  }
  field(false);
  w.ue(value);
  for (; pos < total; ++pos) {
    w.bit(bit_at(pos));
  }
  std::vector<std::uint8_t> out = {nal[0]};
  const auto body = w.finish();
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// One decoder for all fuzz inputs, restarted before each.
class FuzzDecoder {
 public:
  FuzzDecoder() : start_(start_stream()) {}

  // Decodes the fixed start; a decoder it does not bring back to the fixed
  // pictures is replaced by a new one, which the start brings there.
  decoder::H264Decoder& restart() {
    if (!start_fresh_sequence(decoder_)) {
      decoder_ = decoder::H264Decoder(kFuzzLimits);
      if (!start_fresh_sequence(decoder_)) {
        __builtin_trap();  // a new decoder refusing a valid stream
      }
    }
    return decoder_;
  }

 private:
  // Two pictures of different sizes, so that the second always rebuilds the
  // picture buffers whatever the first found. The first packet also sets every
  // SPS, subset SPS and PPS id to the first picture's parameters.
  struct Packet {
    std::vector<std::uint8_t> bytes;
    std::uint32_t width;
    std::uint32_t height;
  };
  static constexpr std::uint32_t kStartHeight = 16;
  static constexpr std::uint32_t kStartWidths[2] = {16, 32};
  static constexpr std::uint8_t kSubsetSpsHeader = 0x6f;  // nal_ref_idc 3, type 15

  static std::vector<std::uint8_t> idr_access_unit(std::uint32_t width) {
    auto enc = encoder::H264Encoder::create({width, kStartHeight, 30.0f, 0, 100'000});
    const std::vector<std::uint8_t> grey(std::size_t{width} * kStartHeight * 4, 128);
    if (!enc) {
      __builtin_trap();  // the encoder is part of the library under test
    }
    auto frame = enc->encode_rgba(grey, 0);
    if (!frame) {
      __builtin_trap();
    }
    return std::move(frame->bytes);
  }

  static std::vector<Packet> start_stream() {
    std::vector<Packet> packets;
    for (const std::uint32_t width : kStartWidths) {
      packets.push_back({idr_access_unit(width), width, kStartHeight});
    }
    const std::vector<std::uint8_t> first = packets[0].bytes;
    std::vector<std::uint8_t> ids;
    const auto append = [&ids](const std::vector<std::uint8_t>& nal) {
      ids.insert(ids.end(), {0, 0, 0, 1});
      ids.insert(ids.end(), nal.begin(), nal.end());
    };
    for (const annexb::NalUnit& nal : annexb::split_nal_units(first)) {
      if (nal.type() == annexb::kNalSps) {
        for (std::uint32_t id = 0; id < kSpsIds; ++id) {
          auto sps = with_ue_field(nal.bytes, 24, 0, id);  // after profile, constraints and level
          append(sps);
          sps[0] = kSubsetSpsHeader;
          append(sps);
        }
      } else if (nal.type() == annexb::kNalPps) {
        for (std::uint32_t id = 0; id < kPpsIds; ++id) {
          append(with_ue_field(nal.bytes, 0, 0, id));
        }
      }
    }
    packets[0].bytes.insert(packets[0].bytes.begin(), ids.begin(), ids.end());
    return packets;
  }

  bool start_fresh_sequence(decoder::H264Decoder& decoder) const {
    bool fresh = true;
    for (const Packet& p : start_) {
      auto result = decoder.decode(p.bytes);
      fresh = fresh && result && *result && (*result)->width == p.width && (*result)->height == p.height;
    }
    return fresh;
  }

  std::vector<Packet> start_;
  decoder::H264Decoder decoder_{kFuzzLimits};
};

}  // namespace vesk_callstream::testing
