#pragma once

// Byte-stream (Annex B) helpers: splitting a packet into NAL units and the few
// header fields the decoder and its callers need before decoding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vesk_callstream::annexb {

// NAL unit types used here (H.264 table 7-1).
inline constexpr std::uint8_t kNalSliceNonIdr = 1;
inline constexpr std::uint8_t kNalSliceIdr = 5;
inline constexpr std::uint8_t kNalSps = 7;
inline constexpr std::uint8_t kNalPps = 8;
inline constexpr std::uint8_t kNalSubsetSps = 15;

// One NAL unit of a packet: its bytes after the start code, header byte first.
struct NalUnit {
  std::span<const std::uint8_t> bytes;
  std::uint8_t type() const { return bytes.empty() ? 0 : bytes[0] & 0x1f; }
};

// The NAL units of a byte stream, in order. Bytes before the first start code
// are skipped; empty units (two start codes in a row) are left out.
std::vector<NalUnit> split_nal_units(std::span<const std::uint8_t> stream);

// True when the packet holds an IDR slice, i.e. decoding can start afresh here.
bool contains_idr(std::span<const std::uint8_t> stream);

// Picture size declared by a sequence parameter set, after cropping. Sizes are
// 64-bit so that a hostile header cannot overflow the arithmetic.
struct SpsSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// Parses seq_parameter_set_data of an SPS or subset SPS NAL unit (header byte
// included). Nothing when the unit is truncated or malformed.
std::optional<SpsSize> parse_sps_size(std::span<const std::uint8_t> nal);

}  // namespace vesk_callstream::annexb
