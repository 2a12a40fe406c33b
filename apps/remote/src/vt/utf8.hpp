#pragma once
// The terminal's incremental UTF-8 decoder.

#include <cstdint>

namespace remote::vt {

inline constexpr char32_t kReplacementChar = U'\uFFFD';

// Incremental UTF-8 decoder. State survives between calls, so a character
// split across two chunks decodes as one. Malformed input follows the
// Unicode "maximal subpart" practice: each maximal invalid subsequence
// becomes exactly one U+FFFD, and a byte that breaks a sequence is decoded
// again on its own (so an ESC inside a broken sequence is never lost).
class Utf8Decoder {
 public:
  // Most code points one byte can complete: a U+FFFD for the broken
  // sequence plus the byte itself decoded afresh.
  static constexpr int kMaxOutput = 2;

  // Feeds one byte; writes 0, 1 or 2 code points to `out` and returns how many.
  int push(std::uint8_t byte, char32_t (&out)[kMaxOutput]) {
    if (need_ == 0) {
      return start(byte, out, 0);
    }
    if (byte >= lower_ && byte <= upper_) {
      code_ = (code_ << 6) | (byte & 0x3Fu);
      lower_ = 0x80;
      upper_ = 0xBF;
      if (--need_ == 0) {
        out[0] = code_;
        return 1;
      }
      return 0;
    }
    need_ = 0;
    out[0] = kReplacementChar;
    return start(byte, out, 1);
  }

  // True while a multi-byte sequence is incomplete.
  bool pending() const { return need_ != 0; }

  void reset() { need_ = 0; }

 private:
  int start(std::uint8_t byte, char32_t (&out)[kMaxOutput], int n) {
    if (byte < 0x80) {
      out[n] = byte;
      return n + 1;
    }
    lower_ = 0x80;
    upper_ = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
      need_ = 1;
      code_ = byte & 0x1Fu;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      need_ = 2;
      code_ = byte & 0x0Fu;
      if (byte == 0xE0) lower_ = 0xA0;  // overlong
      if (byte == 0xED) upper_ = 0x9F;  // surrogates
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      need_ = 3;
      code_ = byte & 0x07u;
      if (byte == 0xF0) lower_ = 0x90;  // overlong
      if (byte == 0xF4) upper_ = 0x8F;  // above U+10FFFF
    } else {
      // Stray continuation byte, C0/C1 (always overlong) or F5..FF.
      out[n] = kReplacementChar;
      return n + 1;
    }
    return n;
  }

  char32_t code_ = 0;
  std::uint8_t need_ = 0;
  std::uint8_t lower_ = 0x80;
  std::uint8_t upper_ = 0xBF;
};

}  // namespace remote::vt
