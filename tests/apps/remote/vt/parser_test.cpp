#include "apps/remote/src/vt/parser.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apps/remote/src/vt/cell.hpp"
#include "tests/apps/remote/vt/feed_util.hpp"

namespace {

// Logs every callback as one line; consecutive prints merge into one
// "print:" line so that the log does not depend on how text was batched.
struct Recorder : remote::vt::NullPerformer {
  std::vector<std::string> log;
  std::string text;

  void flush() {
    if (!text.empty()) log.push_back("print:" + text);
    text.clear();
  }
  void print(char32_t c) { remote::vt::push_utf8(text, c); }
  void execute(std::uint8_t b) {
    flush();
    char buf[16];
    std::snprintf(buf, sizeof buf, "exec:%02X", b);
    log.push_back(buf);
  }
  static std::string join_params(const remote::vt::Params& params) {
    std::string s;
    for (std::size_t g = 0; g < params.size(); ++g) {
      if (g) s += ';';
      const auto group = params[g];
      for (std::size_t k = 0; k < group.size(); ++k) {
        if (k) s += ':';
        s += std::to_string(group[k]);
      }
    }
    return s;
  }
  void csi_dispatch(const remote::vt::Params& params, std::span<const std::uint8_t> ints, bool ignore, char final) {
    flush();
    log.push_back("csi:" + join_params(params) + " int:" + std::string(ints.begin(), ints.end()) +
                  (ignore ? " ignore" : "") + " " + final);
  }
  void esc_dispatch(std::span<const std::uint8_t> ints, bool ignore, std::uint8_t final) {
    flush();
    log.push_back("esc:" + std::string(ints.begin(), ints.end()) + (ignore ? " ignore" : "") + " " +
                  static_cast<char>(final));
  }
  void osc_dispatch(std::span<const std::span<const std::uint8_t>> params, bool bell) {
    flush();
    std::string s = "osc:";
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (i) s += '|';
      s.append(params[i].begin(), params[i].end());
    }
    log.push_back(s + (bell ? " bell" : ""));
  }
};

std::vector<std::string> parse(std::string_view input, const std::vector<std::size_t>& sizes) {
  remote::vt::Parser parser;
  Recorder rec;
  vt_test::feed_in_chunks(input, sizes, [&](auto chunk) { parser.advance(rec, chunk); });
  rec.flush();
  return rec.log;
}

using Log = std::vector<std::string>;

struct Case {
  const char* name;
  std::string input;
  Log expected;
};

void check(const Case& c) {
  for (const auto& sizes : vt_test::chunkings(c.input.size())) {
    EXPECT_EQ(parse(c.input, sizes), c.expected) << c.name << " (in " << sizes.size() << " chunks)";
  }
}

TEST(Parser, SplitsTextControlsAndSequences) {
  const Case cases[] = {
      {"text and controls", "ab\r\ncd\x07", {"print:ab", "exec:0D", "exec:0A", "print:cd", "exec:07"}},
      {"sgr", "\x1b[1;31mX", {"csi:1;31 int: m", "print:X"}},
      {"no parameter reads as one zero", "\x1b[m", {"csi:0 int: m"}},
      {"empty parameters read as zero", "\x1b[;5H", {"csi:0;5 int: H"}},
      {"private marker is an intermediate", "\x1b[?25l", {"csi:25 int:? l"}},
      {"sub-parameters group", "\x1b[38:5:1;2m", {"csi:38:5:1;2 int: m"}},
      {"intermediate", "\x1b[1 q", {"csi:1 int:  q"}},
      {"third intermediate sets ignore", "\x1b[1 !#p", {"csi:1 int: ! ignore p"}},
      {"marker after digits ignores the sequence", "\x1b[1?2hZ", {"print:Z"}},
      {"digit after intermediate ignores the sequence", "\x1b[ 1qZ", {"print:Z"}},
      {"C0 inside CSI executes", "\x1b[1\n2H", {"exec:0A", "csi:12 int: H"}},
      {"CAN aborts a sequence", "\x1b[12\x18x", {"exec:18", "print:x"}},
      {"SUB aborts a sequence", "\x1b[12\x1ax", {"exec:1A", "print:x"}},
      {"ESC restarts a sequence", "\x1b[12\x1b[3m", {"csi:3 int: m"}},
      {"DEL inside CSI is ignored", "\x1b[1\x7f;2m", {"csi:1;2 int: m"}},
      {"esc dispatch",
       "\x1b"
       "7\x1b(B",
       {"esc: 7", "esc:( B"}},
      {"osc with bell", "\x1b]0;title\x07", {"osc:0|title bell"}},
      {"osc with string terminator", "\x1b]2;a;b\x1b\\x", {"osc:2|a|b", "esc: \\", "print:x"}},
      {"osc keeps UTF-8", "\x1b]2;\xC3\xA9\x07", {"osc:2|\xC3\xA9 bell"}},
      {"osc ignores C0", "\x1b]2;a\nb\x07", {"osc:2|ab bell"}},
      {"dcs is dropped", "\x1bPq#0;2;0;0;0#0~~@@\x1b\\x", {"esc: \\", "print:x"}},
      {"sos pm apc are dropped",
       "\x1bXa\x1b\\\x1b^b\x1b\\\x1b_Gc\x1b\\x",
       {"esc: \\", "esc: \\", "esc: \\", "print:x"}},
      {"utf-8 text", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80", {"print:\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80"}},
      {"invalid utf-8 prints U+FFFD",
       "a\xFF"
       "b\xC0\xAF",
       {"print:a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD\xEF\xBF\xBD"}},
      {"broken sequence before ESC keeps the ESC", "\xE2\x82\x1b[m", {"print:\xEF\xBF\xBD", "csi:0 int: m"}},
      {"C1 as UTF-8 executes",
       "\xC2\x9B"
       "5",
       {"exec:9B", "print:5"}},
      {"non-ASCII inside CSI is ignored", "\x1b[1\xC3\xA9m", {"csi:1 int: m"}},
      {"DEL prints in ground", "\x7f", {"print:\x7f"}},
  };
  for (const Case& c : cases) check(c);
}

TEST(Parser, ParameterValuesSaturate) {
  check({"huge value", "\x1b[99999999999999999999;65535;65536m", {"csi:65535;65535;65535 int: m"}});
}

// libvterm 0.1.4 writes past its 16-entry parameter array here; the parser
// must keep the first values and flag the rest as dropped.
TEST(Parser, ManyParametersAreCappedNotOverrun) {
  for (std::size_t count : {16u, 17u, 32u, 33u, 200u, 5000u}) {
    std::string input = "\x1b[";
    std::string expected;
    for (std::size_t i = 0; i < count; ++i) {
      if (i) input += ';';
      input += std::to_string(i % 100);
      if (i < remote::vt::kMaxParams) {
        if (i) expected += ';';
        expected += std::to_string(i % 100);
      }
    }
    input += "mZ";
    const bool dropped = count > remote::vt::kMaxParams;
    check({"many params", input, {"csi:" + expected + " int:" + (dropped ? " ignore" : "") + " m", "print:Z"}});
  }
  // Sub-parameters count against the same limit.
  std::string colons = "\x1b[1";
  for (int i = 0; i < 100; ++i) colons += ":2";
  colons += "m";
  const auto log = parse(colons, {colons.size()});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(" ignore m"), std::string::npos);
}

TEST(Parser, OscIsCappedAtItsBuffer) {
  const std::string payload(3000, 'x');
  const std::string input = "\x1b]2;" + payload + "\x07" + "ok";
  // "2" takes one byte of the buffer; the separator takes none.
  check({"long osc", input, {"osc:2|" + std::string(remote::vt::kOscBufferSize - 1, 'x') + " bell", "print:ok"}});

  std::string many = "\x1b]";
  for (int i = 0; i < 30; ++i) many += std::to_string(i % 10) + ";";
  many += "\x07";
  const auto log = parse(many, {many.size()});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "osc:0|1|2|3|4|5|6|7|8|9|0|1|2|3|4|5 bell");

  // A new OSC after a full one starts empty.
  check({"osc after full osc",
         input + "\x1b]0;t\x07",
         {"osc:2|" + std::string(remote::vt::kOscBufferSize - 1, 'x') + " bell", "print:ok", "osc:0|t bell"}});
}

TEST(Parser, UnterminatedStringsSwallowTextUntilTerminated) {
  check({"osc", "\x1b]0;never ends", {}});
  check({"dcs", "\x1bPq never ends\r\n", {}});
  check({"apc", "\x1b_ never ends", {}});
}

}  // namespace
