// The terminal against libvterm on recordings of real programs (bash line
// editing, less, vim, top, nano, man) made in an 80 x 24 pseudo-terminal with
// TERM=xterm-256color by recordings/record.py. After every typed step of a
// recording both must show the same text and the same cursor.

#include <gtest/gtest.h>
#include <vterm.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "apps/remote/src/vt/terminal.hpp"
#include "tests/apps/remote/vt/feed_util.hpp"

namespace {

constexpr int kCols = 80;
constexpr int kRows = 24;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::size_t> read_marks(const std::string& path) {
  std::istringstream in(read_file(path));
  std::vector<std::size_t> marks;
  for (std::size_t m; in >> m;) marks.push_back(m);
  return marks;
}

std::string trim_right(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// What a screen shows, as both sides are compared: each row's text without
// trailing spaces, and the cursor (a pending wrap counts as the last column,
// where libvterm keeps its cursor meanwhile).
struct Shown {
  std::vector<std::string> rows;
  std::size_t col = 0, row = 0;
  bool operator==(const Shown&) const = default;
};

Shown shown_by(const remote::vt::Terminal& t) {
  Shown s;
  for (std::size_t r = 0; r < t.rows(); ++r) {
    std::string text;
    remote::vt::push_cell_chars(text, t.row(r));
    s.rows.push_back(trim_right(text));
  }
  s.col = std::min(t.cursor_column(), t.cols() - 1);
  s.row = t.cursor_row();
  return s;
}

struct VtermDeleter {
  void operator()(VTerm* vt) const { vterm_free(vt); }
};

class Libvterm {
 public:
  Libvterm() : vt_(vterm_new(kRows, kCols)) {
    vterm_set_utf8(vt_.get(), 1);
    screen_ = vterm_obtain_screen(vt_.get());
    vterm_screen_enable_altscreen(screen_, 1);
    vterm_screen_reset(screen_, 1);
    // Answers to the programs' queries go nowhere, as they do from our side.
    vterm_output_set_callback(
        vt_.get(), [](const char*, std::size_t, void*) {}, nullptr);
  }

  void feed(std::string_view bytes) { vterm_input_write(vt_.get(), bytes.data(), bytes.size()); }

  Shown shown() const {
    Shown s;
    for (int r = 0; r < kRows; ++r) {
      std::string text;
      for (int c = 0; c < kCols; ++c) {
        VTermScreenCell cell{};
        vterm_screen_get_cell(screen_, VTermPos{r, c}, &cell);
        remote::vt::push_utf8(text, cell.chars[0] == 0 ? U' ' : static_cast<char32_t>(cell.chars[0]));
      }
      s.rows.push_back(trim_right(text));
    }
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_.get()), &pos);
    s.col = static_cast<std::size_t>(pos.col);
    s.row = static_cast<std::size_t>(pos.row);
    return s;
  }

 private:
  std::unique_ptr<VTerm, VtermDeleter> vt_;
  VTermScreen* screen_ = nullptr;
};

std::string describe(const Shown& ours, const Shown& theirs) {
  std::string out = "cursor ours (" + std::to_string(ours.row) + "," + std::to_string(ours.col) + ") libvterm (" +
                    std::to_string(theirs.row) + "," + std::to_string(theirs.col) + ")\n";
  for (std::size_t r = 0; r < ours.rows.size(); ++r) {
    if (ours.rows[r] == theirs.rows[r]) continue;
    out += "row " + std::to_string(r) + "\n  ours     |" + ours.rows[r] + "|\n  libvterm |" + theirs.rows[r] + "|\n";
  }
  return out;
}

struct Recording {
  const char* name;
  // Rows the final screen must show: what the script typed really ran, and
  // the shell's screen came back after a full-screen program.
  std::vector<std::string> final_rows;
};

const Recording kRecordings[] = {
    {"bash_edit", {"$ echo aZ", "aZ", "$ echo abcXYdef", "abcXYdef", "$ echo cleared", "cleared"}},
    {"bash_wrap", {}},
    {"less", {"$ less file.txt", "$ exit"}},
    {"vim", {"$ vim -u NONE -i NONE -N file.txt", "$ echo back", "back"}},
    {"top", {"$ exit", "exit"}},
    {"nano", {"$ nano -I file.txt", "$ exit"}},
    {"man", {"$ man ls", "$ exit"}},
};

TEST(TerminalDifferential, MatchesLibvtermAfterEveryStepOfRealPrograms) {
  for (const Recording& rec : kRecordings) {
    SCOPED_TRACE(rec.name);
    const std::string base = std::string(REMOTE_VT_RECORDINGS) + "/" + rec.name;
    const std::string bytes = read_file(base + ".vt");
    std::vector<std::size_t> marks = read_marks(base + ".marks");
    ASSERT_FALSE(bytes.empty());
    marks.push_back(bytes.size());

    remote::vt::Terminal ours(kCols, kRows);
    remote::vt::Terminal bytewise(kCols, kRows);  // the same bytes one at a time
    Libvterm theirs;
    std::size_t at = 0;
    std::size_t compared = 0;
    for (const std::size_t mark : marks) {
      ASSERT_LE(mark, bytes.size());
      if (mark < at) continue;
      const std::string_view step = std::string_view(bytes).substr(at, mark - at);
      ours.feed(step);
      vt_test::feed_in_chunks(step, std::vector<std::size_t>(step.size(), 1), [&](auto b) { bytewise.feed(b); });
      theirs.feed(step);
      at = mark;
      const Shown a = shown_by(ours);
      const Shown b = theirs.shown();
      EXPECT_EQ(a, b) << "after byte " << mark << "\n" << describe(a, b);
      EXPECT_TRUE(bytewise.same_screen(ours)) << "after byte " << mark;
      ++compared;
    }
    EXPECT_GT(compared, 3u);
    const std::vector<std::string> rows = shown_by(ours).rows;
    for (const std::string& want : rec.final_rows) {
      EXPECT_NE(std::ranges::find(rows, want), rows.end()) << "final screen lacks \"" << want << "\"";
    }
  }
}

}  // namespace
