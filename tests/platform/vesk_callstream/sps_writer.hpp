#pragma once

// Writes hand-made H.264 parameter sets, to reach sizes and fields the
// encoder never produces.

#include <cstdint>
#include <vector>

namespace vesk_callstream::testing {

class BitWriter {
 public:
  void bit(unsigned b) {
    cur_ = static_cast<std::uint8_t>((cur_ << 1) | (b & 1));
    if (++n_ == 8) {
      bits_.push_back(cur_);
      cur_ = 0;
      n_ = 0;
    }
  }
  void bits(std::uint64_t v, unsigned count) {
    for (unsigned i = count; i-- > 0;) bit(static_cast<unsigned>((v >> i) & 1));
  }
  void ue(std::uint64_t v) {
    const std::uint64_t x = v + 1;
    unsigned len = 0;
    while ((x >> len) > 1) ++len;
    bits(0, len);
    bits(x, len + 1);
  }
  // rbsp_trailing_bits, then emulation prevention.
  std::vector<std::uint8_t> finish() {
    bit(1);
    while (n_ != 0) bit(0);
    std::vector<std::uint8_t> out;
    int zeros = 0;
    for (std::uint8_t b : bits_) {
      if (zeros >= 2 && b <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<std::uint8_t> bits_;
  std::uint8_t cur_ = 0;
  unsigned n_ = 0;
};

struct SpsFields {
  std::uint64_t profile_idc = 66;
  std::uint64_t width_mbs_minus1 = 19;
  std::uint64_t height_map_units_minus1 = 14;
  bool frame_mbs_only = true;
  bool crop = false;
  std::uint64_t crop_right = 0, crop_bottom = 0;
  bool scaling_matrix = false;  // high profile only
};

// A whole SPS NAL unit with its 4-byte start code.
inline std::vector<std::uint8_t> make_sps(const SpsFields& f) {
  BitWriter w;
  w.bits(f.profile_idc, 8);
  w.bits(0, 8);   // constraint flags
  w.bits(40, 8);  // level 4.0
  w.ue(0);        // sps id
  if (f.profile_idc == 100) {
    w.ue(1);  // chroma_format_idc 4:2:0
    w.ue(0);
    w.ue(0);
    w.bit(0);
    w.bit(f.scaling_matrix ? 1 : 0);
    if (f.scaling_matrix) {
      for (int i = 0; i < 8; ++i) {
        w.bit(i == 0 ? 1 : 0);
        if (i == 0) {
          // delta_scale +1 (scale 9), then -9: next_scale 0 ends the list early.
          w.ue(1);   // se(+1)
          w.ue(18);  // se(-9)
        }
      }
    }
  }
  w.ue(0);  // log2_max_frame_num_minus4
  w.ue(2);  // pic_order_cnt_type
  w.ue(1);  // max_num_ref_frames
  w.bit(0);
  w.ue(f.width_mbs_minus1);
  w.ue(f.height_map_units_minus1);
  w.bit(f.frame_mbs_only ? 1 : 0);
  if (!f.frame_mbs_only) w.bit(0);
  w.bit(1);  // direct_8x8_inference
  w.bit(f.crop ? 1 : 0);
  if (f.crop) {
    w.ue(0);
    w.ue(f.crop_right);
    w.ue(0);
    w.ue(f.crop_bottom);
  }
  w.bit(0);  // no VUI
  std::vector<std::uint8_t> nal = {0, 0, 0, 1, 0x67};
  const auto body = w.finish();
  nal.insert(nal.end(), body.begin(), body.end());
  return nal;
}

}  // namespace vesk_callstream::testing
