#pragma once

// A DEC/ANSI escape-sequence parser after Paul Williams's state machine
// (https://vt100.net/emu/dec_ansi_parser), with the same actions and limits
// as the `vte` crate: print, execute, CSI dispatch with parameters and
// intermediates, ESC dispatch and OSC dispatch; DCS, SOS, PM and APC strings
// are consumed and dropped. UTF-8 is decoded before the state machine.
//
// The parser knows nothing about a screen: it reports what it found to a
// performer, any type with the member functions of `NullPerformer`. All of
// its storage is fixed-size, so hostile input costs no allocation.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "apps/remote/src/vt/utf8.hpp"

namespace remote::vt {

// Parameter values across all groups of one CSI sequence; the rest are dropped
// and the sequence is flagged ignored.
inline constexpr std::size_t kMaxParams = 32;
inline constexpr std::size_t kMaxIntermediates = 2;
// Bytes of one OSC string kept; the rest are dropped.
inline constexpr std::size_t kOscBufferSize = 1024;
inline constexpr std::size_t kMaxOscParams = 16;
// Parameter values saturate here instead of wrapping.
inline constexpr std::uint32_t kMaxParamValue = 65535;

// The parameters of a CSI sequence: groups separated by ';', each holding one
// value and any sub-parameters that followed it after ':'. A missing or empty
// value reads as 0.
class Params {
 public:
  std::size_t size() const { return groups_; }
  bool empty() const { return groups_ == 0; }

  std::span<const std::uint16_t> operator[](std::size_t group) const {
    return {values_.data() + start_[group], static_cast<std::size_t>(start_[group + 1] - start_[group])};
  }

  // The first value of `group`, or `fallback` when there is no such group.
  std::uint16_t first(std::size_t group, std::uint16_t fallback = 0) const {
    return group < groups_ ? values_[start_[group]] : fallback;
  }

  bool full() const { return len_ == kMaxParams; }

  // Closes the current group with `value`.
  void push(std::uint16_t value) {
    if (!open_) start_[groups_++] = len_;
    values_[len_++] = value;
    start_[groups_] = len_;
    open_ = false;
  }

  // Adds `value` to the current group, which stays open for more.
  void extend(std::uint16_t value) {
    if (!open_) {
      start_[groups_++] = len_;
      open_ = true;
    }
    values_[len_++] = value;
    start_[groups_] = len_;
  }

  void clear() {
    len_ = 0;
    groups_ = 0;
    open_ = false;
    start_[0] = 0;
  }

 private:
  std::array<std::uint16_t, kMaxParams> values_{};
  std::array<std::uint8_t, kMaxParams + 1> start_{};
  std::uint8_t len_ = 0;
  std::uint8_t groups_ = 0;
  bool open_ = false;
};

// The callbacks a performer provides; derive from this to take the no-op
// defaults for the ones not wanted. `print_ascii` is optional: a run of
// printable ASCII (0x20..0x7F) in the ground state goes to it in one call when
// present, else to `print` character by character.
struct NullPerformer {
  void print(char32_t) {}
  void execute(std::uint8_t) {}
  void csi_dispatch(const Params&, std::span<const std::uint8_t> /*intermediates*/, bool /*ignore*/, char /*final*/) {}
  void esc_dispatch(std::span<const std::uint8_t> /*intermediates*/, bool /*ignore*/, std::uint8_t /*final*/) {}
  void osc_dispatch(std::span<const std::span<const std::uint8_t>> /*params*/, bool /*bell_terminated*/) {}
};

namespace parser_detail {

enum class State : std::uint8_t {
  Ground,
  Escape,
  EscapeIntermediate,
  CsiEntry,
  CsiParam,
  CsiIntermediate,
  CsiIgnore,
  DcsEntry,
  DcsParam,
  DcsIntermediate,
  DcsPassthrough,
  DcsIgnore,
  OscString,
  SosPmApcString,
  Count,
};

enum class Action : std::uint8_t {
  None,
  Print,
  Execute,
  Collect,
  Param,
  ParamSeparator,
  SubParam,
  CsiDispatch,
  EscDispatch,
  OscPut,
};

// Input classes: the 128 ASCII values, then every C1 code point
// (U+0080..U+009F), then every other non-ASCII code point.
inline constexpr std::size_t kClassC1 = 0x80;
inline constexpr std::size_t kClassOther = 0x81;
inline constexpr std::size_t kClasses = 0x82;

struct Transition {
  Action action = Action::None;
  bool change = false;  // leave the state (running exit and entry actions)
  State next = State::Ground;
};

using Table = std::array<std::array<Transition, kClasses>, static_cast<std::size_t>(State::Count)>;

constexpr Table build_table() {
  Table t{};
  auto row = [&t](State s) -> auto& { return t[static_cast<std::size_t>(s)]; };
  auto stay = [](Action a) { return Transition{a, false, State::Ground}; };
  auto go = [](Action a, State s) { return Transition{a, true, s}; };
  auto range = [](auto& r, std::size_t lo, std::size_t hi, Transition tr) {
    for (std::size_t c = lo; c <= hi; ++c) r[c] = tr;
  };
  // C0 controls other than CAN, SUB and ESC, which act the same everywhere.
  auto c0 = [&range](auto& r, Transition tr) {
    range(r, 0x00, 0x17, tr);
    r[0x19] = tr;
    range(r, 0x1C, 0x1F, tr);
  };

  // Everything not listed below is ignored.
  for (auto& r : t) {
    for (auto& tr : r) tr = stay(Action::None);
  }

  auto& ground = row(State::Ground);
  c0(ground, stay(Action::Execute));
  range(ground, 0x20, 0x7F, stay(Action::Print));
  ground[kClassC1] = stay(Action::Execute);
  ground[kClassOther] = stay(Action::Print);

  auto& esc = row(State::Escape);
  c0(esc, stay(Action::Execute));
  range(esc, 0x20, 0x2F, go(Action::Collect, State::EscapeIntermediate));
  range(esc, 0x30, 0x7E, go(Action::EscDispatch, State::Ground));
  esc['P'] = go(Action::None, State::DcsEntry);
  esc['['] = go(Action::None, State::CsiEntry);
  esc[']'] = go(Action::None, State::OscString);
  esc['X'] = go(Action::None, State::SosPmApcString);
  esc['^'] = go(Action::None, State::SosPmApcString);
  esc['_'] = go(Action::None, State::SosPmApcString);

  auto& esc_int = row(State::EscapeIntermediate);
  c0(esc_int, stay(Action::Execute));
  range(esc_int, 0x20, 0x2F, stay(Action::Collect));
  range(esc_int, 0x30, 0x7E, go(Action::EscDispatch, State::Ground));

  auto& csi_entry = row(State::CsiEntry);
  c0(csi_entry, stay(Action::Execute));
  range(csi_entry, 0x20, 0x2F, go(Action::Collect, State::CsiIntermediate));
  range(csi_entry, 0x30, 0x39, go(Action::Param, State::CsiParam));
  csi_entry[':'] = go(Action::SubParam, State::CsiParam);
  csi_entry[';'] = go(Action::ParamSeparator, State::CsiParam);
  range(csi_entry, 0x3C, 0x3F, go(Action::Collect, State::CsiParam));  // private markers
  range(csi_entry, 0x40, 0x7E, go(Action::CsiDispatch, State::Ground));

  auto& csi_param = row(State::CsiParam);
  c0(csi_param, stay(Action::Execute));
  range(csi_param, 0x20, 0x2F, go(Action::Collect, State::CsiIntermediate));
  range(csi_param, 0x30, 0x39, stay(Action::Param));
  csi_param[':'] = stay(Action::SubParam);
  csi_param[';'] = stay(Action::ParamSeparator);
  range(csi_param, 0x3C, 0x3F, go(Action::None, State::CsiIgnore));
  range(csi_param, 0x40, 0x7E, go(Action::CsiDispatch, State::Ground));

  auto& csi_int = row(State::CsiIntermediate);
  c0(csi_int, stay(Action::Execute));
  range(csi_int, 0x20, 0x2F, stay(Action::Collect));
  range(csi_int, 0x30, 0x3F, go(Action::None, State::CsiIgnore));
  range(csi_int, 0x40, 0x7E, go(Action::CsiDispatch, State::Ground));

  auto& csi_ignore = row(State::CsiIgnore);
  c0(csi_ignore, stay(Action::Execute));
  range(csi_ignore, 0x40, 0x7E, go(Action::None, State::Ground));

  // Device control strings are recognised only to be skipped.
  auto& dcs_entry = row(State::DcsEntry);
  range(dcs_entry, 0x20, 0x2F, go(Action::None, State::DcsIntermediate));
  range(dcs_entry, 0x30, 0x3F, go(Action::None, State::DcsParam));
  range(dcs_entry, 0x40, 0x7E, go(Action::None, State::DcsPassthrough));

  auto& dcs_param = row(State::DcsParam);
  range(dcs_param, 0x20, 0x2F, go(Action::None, State::DcsIntermediate));
  range(dcs_param, 0x3C, 0x3F, go(Action::None, State::DcsIgnore));
  range(dcs_param, 0x40, 0x7E, go(Action::None, State::DcsPassthrough));

  auto& dcs_int = row(State::DcsIntermediate);
  range(dcs_int, 0x30, 0x3F, go(Action::None, State::DcsIgnore));
  range(dcs_int, 0x40, 0x7E, go(Action::None, State::DcsPassthrough));

  auto& osc = row(State::OscString);
  osc[0x07] = go(Action::None, State::Ground);  // BEL ends the string, as xterm allows
  range(osc, 0x20, 0x7F, stay(Action::OscPut));
  osc[kClassC1] = stay(Action::OscPut);
  osc[kClassOther] = stay(Action::OscPut);

  // CAN and SUB abort any sequence; ESC starts a new one from anywhere.
  for (auto& r : t) {
    r[0x18] = go(Action::Execute, State::Ground);
    r[0x1A] = go(Action::Execute, State::Ground);
    r[0x1B] = go(Action::None, State::Escape);
  }
  return t;
}

inline constexpr Table kTable = build_table();

}  // namespace parser_detail

class Parser {
 public:
  // Feeds one chunk. State carries over to the next call, so a sequence or a
  // character split across chunks acts as if it had arrived whole.
  template <class P>
  void advance(P& performer, std::span<const std::uint8_t> bytes);

  // True when no sequence or character is half-way through.
  bool idle() const { return state_ == State::Ground && !utf8_.pending(); }

 private:
  using State = parser_detail::State;
  using Action = parser_detail::Action;

  template <class P>
  void step(P& performer, char32_t c);
  template <class P>
  const std::uint8_t* simple_csi(P& performer, const std::uint8_t* it, const std::uint8_t* end);
  template <class P>
  const std::uint8_t* whole_utf8(P& performer, const std::uint8_t* it, const std::uint8_t* end);
  template <class P>
  void perform(P& performer, Action action, char32_t c);
  template <class P>
  void osc_end(P& performer, bool bell);

  void clear_sequence() {
    intermediate_len_ = 0;
    ignoring_ = false;
    params_.clear();
    param_ = 0;
  }

  void osc_put(char32_t c);

  State state_ = State::Ground;
  Utf8Decoder utf8_;

  Params params_;
  std::uint32_t param_ = 0;
  std::array<std::uint8_t, kMaxIntermediates> intermediates_{};
  std::uint8_t intermediate_len_ = 0;
  bool ignoring_ = false;

  std::array<std::uint8_t, kOscBufferSize> osc_{};
  std::size_t osc_len_ = 0;
  std::array<std::size_t, kMaxOscParams> osc_ends_{};
  std::size_t osc_params_ = 0;
  bool osc_full_ = false;
};

template <class P>
void Parser::advance(P& performer, std::span<const std::uint8_t> bytes) {
  const std::uint8_t* it = bytes.data();
  const std::uint8_t* const end = it + bytes.size();
  while (it != end) {
    if (state_ == State::Ground && !utf8_.pending()) {
      // Fast path: runs of printable ASCII and lone C0 controls need no table.
      const std::uint8_t* run = it;
      while (it != end && *it >= 0x20 && *it < 0x80) ++it;
      if (it != run) {
        if constexpr (requires { performer.print_ascii(std::span<const std::uint8_t>{}); }) {
          performer.print_ascii(std::span<const std::uint8_t>(run, it));
        } else {
          for (; run != it; ++run) performer.print(static_cast<char32_t>(*run));
        }
        continue;
      }
      if (*it < 0x20 && *it != 0x1B) {
        performer.execute(*it++);  // CAN and SUB too: they leave ground as it is
        continue;
      }
      if (const std::uint8_t* next = *it == 0x1B ? simple_csi(performer, it, end) : whole_utf8(performer, it, end)) {
        it = next;
        continue;
      }
    }
    const std::uint8_t byte = *it++;
    if (byte < 0x80 && !utf8_.pending()) {
      step(performer, byte);
      continue;
    }
    char32_t out[Utf8Decoder::kMaxOutput];
    const int n = utf8_.push(byte, out);
    for (int k = 0; k < n; ++k) step(performer, out[k]);
  }
}

// Fast path for the commonest sequence, ESC [ digits and ';' then a final
// byte, lying whole in the chunk. Returns the position after it, or null to
// leave anything else (and anything split or long) to the state machine,
// which gives the same result byte by byte.
template <class P>
const std::uint8_t* Parser::simple_csi(P& performer, const std::uint8_t* it, const std::uint8_t* end) {
  // Below the parameter limit, so the cap never needs handling here.
  constexpr std::size_t kMaxFastParams = 16;
  if (end - it < 3 || it[1] != '[') return nullptr;
  params_.clear();
  std::uint32_t param = 0;
  for (const std::uint8_t* p = it + 2; p != end; ++p) {
    const std::uint8_t b = *p;
    if (b >= '0' && b <= '9') {
      const std::uint32_t v = param * 10 + (b - '0');
      param = v > kMaxParamValue ? kMaxParamValue : v;
    } else if (b == ';') {
      if (params_.size() + 1 == kMaxFastParams) return nullptr;
      params_.push(static_cast<std::uint16_t>(param));
      param = 0;
    } else if (b >= 0x40 && b <= 0x7E) {
      params_.push(static_cast<std::uint16_t>(param));
      performer.csi_dispatch(params_, std::span<const std::uint8_t>(), false, static_cast<char>(b));
      return p + 1;
    } else {
      return nullptr;
    }
  }
  return nullptr;
}

// Fast path for one well-formed UTF-8 character lying whole in the chunk;
// null leaves malformed or split input to the decoder.
template <class P>
const std::uint8_t* Parser::whole_utf8(P& performer, const std::uint8_t* it, const std::uint8_t* end) {
  const std::uint8_t b0 = *it;
  const auto left = end - it;
  auto cont = [](std::uint8_t b) { return (b & 0xC0) == 0x80; };
  char32_t c;
  std::size_t len;
  if (b0 >= 0xC2 && b0 <= 0xDF && left >= 2 && cont(it[1])) {
    c = ((b0 & 0x1Fu) << 6) | (it[1] & 0x3Fu);
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF && left >= 3 && cont(it[1]) && cont(it[2])) {
    c = ((b0 & 0x0Fu) << 12) | ((it[1] & 0x3Fu) << 6) | (it[2] & 0x3Fu);
    if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) return nullptr;
    len = 3;
  } else if (b0 >= 0xF0 && b0 <= 0xF4 && left >= 4 && cont(it[1]) && cont(it[2]) && cont(it[3])) {
    c = ((b0 & 0x07u) << 18) | ((it[1] & 0x3Fu) << 12) | ((it[2] & 0x3Fu) << 6) | (it[3] & 0x3Fu);
    if (c < 0x10000 || c > 0x10FFFF) return nullptr;
    len = 4;
  } else {
    return nullptr;
  }
  if (c < 0xA0) {
    performer.execute(static_cast<std::uint8_t>(c));  // C1 control
  } else {
    performer.print(c);
  }
  return it + len;
}

template <class P>
void Parser::step(P& performer, char32_t c) {
  using namespace parser_detail;
  const std::size_t cls = c < 0x80 ? c : (c < 0xA0 ? kClassC1 : kClassOther);
  const Transition tr = kTable[static_cast<std::size_t>(state_)][cls];
  if (!tr.change) {
    perform(performer, tr.action, c);
    return;
  }
  if (state_ == State::OscString) osc_end(performer, c == 0x07);
  perform(performer, tr.action, c);
  switch (tr.next) {
    case State::Escape:
    case State::CsiEntry:
    case State::DcsEntry: clear_sequence(); break;
    case State::OscString:
      osc_len_ = 0;
      osc_params_ = 0;
      osc_full_ = false;
      break;
    default: break;
  }
  state_ = tr.next;
}

template <class P>
void Parser::perform(P& performer, Action action, char32_t c) {
  switch (action) {
    case Action::None: break;
    case Action::Print: performer.print(c); break;
    case Action::Execute: performer.execute(static_cast<std::uint8_t>(c)); break;
    case Action::Collect:
      if (intermediate_len_ == kMaxIntermediates) {
        ignoring_ = true;
      } else {
        intermediates_[intermediate_len_++] = static_cast<std::uint8_t>(c);
      }
      break;
    case Action::Param:
      if (params_.full()) {
        ignoring_ = true;
      } else {
        const std::uint32_t v = param_ * 10 + (c - U'0');
        param_ = v > kMaxParamValue ? kMaxParamValue : v;
      }
      break;
    case Action::ParamSeparator:
      if (params_.full()) {
        ignoring_ = true;
      } else {
        params_.push(static_cast<std::uint16_t>(param_));
        param_ = 0;
      }
      break;
    case Action::SubParam:
      if (params_.full()) {
        ignoring_ = true;
      } else {
        params_.extend(static_cast<std::uint16_t>(param_));
        param_ = 0;
      }
      break;
    case Action::CsiDispatch:
      if (params_.full()) {
        ignoring_ = true;
      } else {
        params_.push(static_cast<std::uint16_t>(param_));
      }
      performer.csi_dispatch(params_, std::span<const std::uint8_t>(intermediates_.data(), intermediate_len_),
                             ignoring_, static_cast<char>(c));
      break;
    case Action::EscDispatch:
      performer.esc_dispatch(std::span<const std::uint8_t>(intermediates_.data(), intermediate_len_), ignoring_,
                             static_cast<std::uint8_t>(c));
      break;
    case Action::OscPut: osc_put(c); break;
  }
}

inline void Parser::osc_put(char32_t c) {
  if (osc_full_) return;
  if (c == U';') {
    if (osc_params_ < kMaxOscParams) osc_ends_[osc_params_++] = osc_len_;
    return;
  }
  // Stored as UTF-8; a character that no longer fits whole is dropped.
  std::uint8_t buf[4];
  std::size_t n = 0;
  if (c < 0x80) {
    buf[n++] = static_cast<std::uint8_t>(c);
  } else if (c < 0x800) {
    buf[n++] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
    buf[n++] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    buf[n++] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
    buf[n++] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    buf[n++] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  } else {
    buf[n++] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
    buf[n++] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
    buf[n++] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    buf[n++] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  }
  if (osc_len_ + n > kOscBufferSize) {
    osc_full_ = true;  // the rest of the string is dropped
    return;
  }
  for (std::size_t k = 0; k < n; ++k) osc_[osc_len_++] = buf[k];
  osc_full_ = osc_len_ == kOscBufferSize;
}

template <class P>
void Parser::osc_end(P& performer, bool bell) {
  if (osc_params_ < kMaxOscParams) osc_ends_[osc_params_++] = osc_len_;
  std::array<std::span<const std::uint8_t>, kMaxOscParams> slices{};
  std::size_t begin = 0;
  for (std::size_t i = 0; i < osc_params_; ++i) {
    slices[i] = std::span<const std::uint8_t>(osc_.data() + begin, osc_ends_[i] - begin);
    begin = osc_ends_[i];
  }
  performer.osc_dispatch(std::span<const std::span<const std::uint8_t>>(slices.data(), osc_params_), bell);
}

}  // namespace remote::vt
