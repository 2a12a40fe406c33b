// Byte reader and writer of the document's binary formats (internal).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vesk_ui::doc::detail {

struct Writer {
  std::vector<uint8_t> out;

  void u8(uint8_t v) { out.push_back(v); }
  void raw(std::span<const uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); }
  void varint(uint64_t v) {
    while (v >= 0x80) {
      out.push_back(static_cast<uint8_t>(v | 0x80));
      v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
  }
  void svarint(int64_t v) { varint((static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63)); }
  void u64le(uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void str(std::string_view s) {
    varint(s.size());
    out.insert(out.end(), s.begin(), s.end());
  }
};

// Every read checks the bounds; after a failed read the reader stays failed.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> in) : in_(in) {}

  size_t remaining() const { return in_.size() - pos_; }
  bool done() const { return ok_ && pos_ == in_.size(); }

  bool u8(uint8_t& v) {
    if (!ok_ || pos_ >= in_.size()) return fail();
    v = in_[pos_++];
    return true;
  }
  bool raw(size_t n, std::span<const uint8_t>& out) {
    if (!ok_ || n > remaining()) return fail();
    out = in_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  bool varint(uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      uint8_t b;
      if (!u8(b)) return false;
      if (shift == 63 && b > 1) return fail();
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) {
        // Only the shortest form is accepted, so each value has one encoding.
        if (b == 0 && shift > 0) return fail();
        return true;
      }
    }
    return fail();
  }
  bool svarint(int64_t& v) {
    uint64_t u;
    if (!varint(u)) return false;
    v = static_cast<int64_t>((u >> 1) ^ (~(u & 1) + 1));
    return true;
  }
  bool u64le(uint64_t& v) {
    std::span<const uint8_t> b;
    if (!raw(8, b)) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
    return true;
  }
  bool str(std::string_view& s) {
    uint64_t n;
    std::span<const uint8_t> b;
    if (!varint(n) || n > remaining() || !raw(n, b)) return fail();
    s = std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
    return true;
  }

 private:
  bool fail() {
    ok_ = false;
    return false;
  }
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace vesk_ui::doc::detail
