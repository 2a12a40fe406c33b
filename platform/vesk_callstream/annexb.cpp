#include "platform/vesk_callstream/annexb.hpp"

namespace vesk_callstream::annexb {

namespace {

// Position of the next 00 00 01 at or after `from`, and the length of the
// start code found there (3, or 4 for 00 00 00 01 when a zero precedes it).
struct StartCode {
  std::size_t at;
  std::size_t length;
};

std::optional<StartCode> find_start_code(std::span<const std::uint8_t> s, std::size_t from) {
  for (std::size_t i = from; i + 2 < s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      if (i > from && s[i - 1] == 0) {
        return StartCode{i - 1, 4};
      }
      return StartCode{i, 3};
    }
  }
  return std::nullopt;
}

// Reads an RBSP bit by bit, dropping emulation-prevention bytes (00 00 03) on
// the fly. Every read past the end sets `failed` and yields zeros.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> rbsp) : data_(rbsp) {}

  bool failed() const { return failed_; }

  std::uint32_t bit() {
    if (bit_ == 0 && !load_byte()) {
      failed_ = true;
      return 0;
    }
    --bit_;
    return (current_ >> bit_) & 1u;
  }

  std::uint64_t bits(unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
      v = (v << 1) | bit();
    }
    return v;
  }

  // Exp-Golomb unsigned; values wider than 32 bits are malformed in H.264.
  std::uint64_t ue() {
    unsigned zeros = 0;
    while (bit() == 0) {
      if (failed_ || ++zeros > 32) {
        failed_ = true;
        return 0;
      }
    }
    return ((std::uint64_t{1} << zeros) - 1) + bits(zeros);
  }

  std::int64_t se() {
    const std::uint64_t k = ue();
    const auto magnitude = static_cast<std::int64_t>((k + 1) / 2);
    return (k & 1) ? magnitude : -magnitude;
  }

 private:
  bool load_byte() {
    if (pos_ >= data_.size()) {
      return false;
    }
    std::uint8_t b = data_[pos_++];
    if (zeros_ >= 2 && b == 3) {
      zeros_ = 0;
      if (pos_ >= data_.size()) {
        return false;
      }
      b = data_[pos_++];
    }
    zeros_ = (b == 0) ? zeros_ + 1 : 0;
    current_ = b;
    bit_ = 8;
    return true;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  unsigned zeros_ = 0;
  std::uint8_t current_ = 0;
  unsigned bit_ = 0;
  bool failed_ = false;
};

bool has_chroma_info(std::uint64_t profile_idc) {
  switch (profile_idc) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135: return true;
    default: return false;
  }
}

void skip_scaling_list(BitReader& r, int size) {
  std::int64_t last = 8;
  std::int64_t next = 8;
  for (int j = 0; j < size && !r.failed(); ++j) {
    if (next != 0) {
      next = (last + r.se() + 256) % 256;
    }
    last = (next == 0) ? last : next;
  }
}

}  // namespace

std::vector<NalUnit> split_nal_units(std::span<const std::uint8_t> stream) {
  std::vector<NalUnit> units;
  auto start = find_start_code(stream, 0);
  while (start) {
    const std::size_t begin = start->at + start->length;
    const auto next = find_start_code(stream, begin);
    std::size_t end = next ? next->at : stream.size();
    // Trailing zero bytes belong to no unit.
    while (end > begin && stream[end - 1] == 0) {
      --end;
    }
    if (end > begin) {
      units.push_back(NalUnit{stream.subspan(begin, end - begin)});
    }
    start = next;
  }
  return units;
}

bool contains_idr(std::span<const std::uint8_t> stream) {
  for (const NalUnit& nal : split_nal_units(stream)) {
    if (nal.type() == kNalSliceIdr) {
      return true;
    }
  }
  return false;
}

std::optional<SpsSize> parse_sps_size(std::span<const std::uint8_t> nal) {
  if (nal.size() < 2) {
    return std::nullopt;
  }
  BitReader r(nal.subspan(1));
  const std::uint64_t profile_idc = r.bits(8);
  r.bits(8);  // constraint flags
  r.bits(8);  // level_idc
  r.ue();     // seq_parameter_set_id
  std::uint64_t chroma_format_idc = 1;
  bool separate_colour_plane = false;
  if (has_chroma_info(profile_idc)) {
    chroma_format_idc = r.ue();
    if (chroma_format_idc > 3) {
      return std::nullopt;
    }
    if (chroma_format_idc == 3) {
      separate_colour_plane = r.bit() != 0;
    }
    r.ue();         // bit_depth_luma_minus8
    r.ue();         // bit_depth_chroma_minus8
    r.bit();        // qpprime_y_zero_transform_bypass_flag
    if (r.bit()) {  // seq_scaling_matrix_present_flag
      const int lists = chroma_format_idc == 3 ? 12 : 8;
      for (int i = 0; i < lists && !r.failed(); ++i) {
        if (r.bit()) {
          skip_scaling_list(r, i < 6 ? 16 : 64);
        }
      }
    }
  }
  r.ue();  // log2_max_frame_num_minus4
  const std::uint64_t poc_type = r.ue();
  if (poc_type == 0) {
    r.ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (poc_type == 1) {
    r.bit();  // delta_pic_order_always_zero_flag
    r.se();   // offset_for_non_ref_pic
    r.se();   // offset_for_top_to_bottom_field
    const std::uint64_t cycle = r.ue();
    if (cycle > 255) {
      return std::nullopt;
    }
    for (std::uint64_t i = 0; i < cycle && !r.failed(); ++i) {
      r.se();
    }
  } else if (poc_type != 2) {
    return std::nullopt;
  }
  r.ue();   // max_num_ref_frames
  r.bit();  // gaps_in_frame_num_value_allowed_flag
  const std::uint64_t width_mbs = r.ue() + 1;
  const std::uint64_t height_map_units = r.ue() + 1;
  const bool frame_mbs_only = r.bit() != 0;
  if (!frame_mbs_only) {
    r.bit();  // mb_adaptive_frame_field_flag
  }
  r.bit();  // direct_8x8_inference_flag
  std::uint64_t crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
  if (r.bit()) {
    crop_left = r.ue();
    crop_right = r.ue();
    crop_top = r.ue();
    crop_bottom = r.ue();
  }
  if (r.failed()) {
    return std::nullopt;
  }

  const std::uint64_t coded_width = width_mbs * 16;
  const std::uint64_t coded_height = height_map_units * 16 * (frame_mbs_only ? 1 : 2);
  const std::uint64_t chroma_array_type = separate_colour_plane ? 0 : chroma_format_idc;
  const std::uint64_t crop_x = chroma_array_type == 0 ? 1 : (chroma_array_type == 3 ? 1 : 2);
  std::uint64_t crop_y = chroma_array_type == 0 ? 1 : (chroma_array_type == 1 ? 2 : 1);
  crop_y *= frame_mbs_only ? 1 : 2;
  const std::uint64_t cut_x = (crop_left + crop_right) * crop_x;
  const std::uint64_t cut_y = (crop_top + crop_bottom) * crop_y;
  if (cut_x >= coded_width || cut_y >= coded_height) {
    return std::nullopt;
  }
  return SpsSize{coded_width - cut_x, coded_height - cut_y};
}

}  // namespace vesk_callstream::annexb
