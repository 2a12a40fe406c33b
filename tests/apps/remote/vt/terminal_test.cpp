#include "apps/remote/src/vt/terminal.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/apps/remote/vt/feed_util.hpp"

namespace {

using remote::vt::TerminalCell;
using remote::vt::TerminalColor;

std::string text_of(std::span<const TerminalCell> cells) {
  std::string s;
  remote::vt::push_cell_chars(s, cells);
  return s;
}

std::vector<std::string> screen(const remote::vt::Terminal& t) {
  std::vector<std::string> out;
  for (const auto& row : t.visible_rows()) out.push_back(text_of(row));
  return out;
}

// Everything observable about a terminal, for comparing two feeds.
struct Snapshot {
  std::vector<std::vector<TerminalCell>> cells;
  std::size_t col, row;
  TerminalColor pen;
  bool bold;
  bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const remote::vt::Terminal& t) {
  Snapshot s{{}, t.cursor_column(), t.cursor_row(), t.pen(), t.bold()};
  for (std::size_t r = 0; r < t.rows(); ++r) s.cells.emplace_back(t.row(r).begin(), t.row(r).end());
  return s;
}

// Feeds `input` whole, byte by byte and in random chunks; all three must end
// in the same state, which is returned.
remote::vt::Terminal run(std::uint16_t cols, std::uint16_t rows, std::string_view input) {
  std::vector<remote::vt::Terminal> results;
  for (const auto& sizes : vt_test::chunkings(input.size())) {
    remote::vt::Terminal t(cols, rows);
    vt_test::feed_in_chunks(input, sizes, [&](auto chunk) { t.feed(chunk); });
    results.push_back(t);
  }
  for (std::size_t i = 1; i < results.size(); ++i) {
    EXPECT_EQ(snapshot(results[i]), snapshot(results[0])) << "chunking " << i << " differs";
    EXPECT_TRUE(results[i].same_screen(results[0]));
  }
  return results[0];
}

struct Case {
  const char* name;
  std::uint16_t cols, rows;
  std::string input;
  std::vector<std::string> screen;
  std::size_t col, row;
};

void check(const Case& c) {
  const remote::vt::Terminal t = run(c.cols, c.rows, c.input);
  EXPECT_EQ(screen(t), c.screen) << c.name;
  EXPECT_EQ(t.cursor_column(), c.col) << c.name;
  EXPECT_EQ(t.cursor_row(), c.row) << c.name;
}

const std::string k80(80, 'x');

// "1\r\n2\r\n...n".
std::string many_lines(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i > 1 ? "\r\n" : "") + std::to_string(i);
  return s;
}
// Rows "abcde", "fghij", "klmno" with the cursor on 'h' (row 1, column 2).
const std::string kFilled = "abcde\r\nfghij\r\nklmno\x1b[2;3H";

TEST(Terminal, NewClampsSizesToOne) {
  const remote::vt::Terminal t(0, 0);
  EXPECT_EQ(t.cols(), 1u);
  EXPECT_EQ(t.rows(), 1u);
  EXPECT_EQ(t.visible_rows(), std::vector<std::vector<TerminalCell>>{{}});
  EXPECT_EQ(t.pen(), TerminalColor::Default);
  EXPECT_FALSE(t.bold());
  EXPECT_TRUE(t.row(1).empty());
  EXPECT_TRUE(t.visible_row(7).empty());
}

TEST(Terminal, CellCharsAreWrittenAsUtf8) {
  const TerminalCell cells[] = {{U'a'}, {U'\u00E9'}, {U'\U0001F600'}, {char32_t{0xD800}}, {char32_t{0x110000}}};
  std::string out = ">";
  remote::vt::push_cell_chars(out, cells);
  EXPECT_EQ(out, ">a\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(TerminalColor{}, TerminalColor::Default);
  EXPECT_EQ(TerminalColor::indexed(200), TerminalColor::indexed(15));
}

TEST(Terminal, PrintsWithDeferredWrapAndScrolls) {
  const Case cases[] = {
      {"80 characters leave a pending wrap", 80, 3, k80, {k80, "", ""}, 80, 0},
      {"81st character wraps", 80, 3, k80 + "y", {k80, "y", ""}, 1, 1},
      {"wrap on the last row scrolls", 80, 2, "top\r\n" + k80 + "y", {k80, "y"}, 1, 1},
      {"CR drops the pending wrap", 80, 3, k80 + "\rA", {"A" + k80.substr(1), "", ""}, 1, 0},
      {"BS from the pending wrap", 80, 3, k80 + "\bB", {k80.substr(0, 79) + "B", "", ""}, 80, 0},
      {"line feed keeps the column", 10, 3, "abc\ndef", {"abc", "   def", ""}, 6, 1},
      {"VT and FF are line feeds",
       10,
       3,
       "a\x0b"
       "b\x0c"
       "c",
       {"a", " b", "  c"},
       3,
       2},
      {"line feed on the last row scrolls", 10, 3, "1\r\n2\r\n3\r\n4", {"2", "3", "4"}, 1, 2},
      {"many scrolls keep the newest rows in order", 5, 3, many_lines(100), {"98", "99", "100"}, 3, 2},
      {"one row terminal", 3, 1, "abcdefg", {"g"}, 1, 0},
      {"one cell terminal", 1, 1, "ab\bc", {"c"}, 1, 0},
      {"bell and other controls do nothing",
       10,
       2,
       "a\x07\x01\x0e\x7f"
       "b",
       {"a\x7f"
        "b",
        ""},
       3,
       0},
      {"utf-8 takes one cell each",
       10,
       2,
       "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80!",
       {"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80!", ""},
       4,
       0},
      {"invalid utf-8 prints U+FFFD",
       10,
       2,
       "a\xFF"
       "b",
       {"a\xEF\xBF\xBD"
        "b",
        ""},
       3,
       0},
      {"split escape and utf-8 act whole", 10, 2, "\x1b[2;4H\xE2\x82\xAC", {"", "   \xE2\x82\xAC"}, 4, 1},
  };
  for (const Case& c : cases) check(c);
}

TEST(Terminal, TabsStopEveryEightColumnsWithinTheRow) {
  const Case cases[] = {
      {"0 to 8", 80, 1, "\t", {""}, 8, 0},
      {"8 to 16", 80, 1, "\x1b[9G\t", {""}, 16, 0},
      {"75 to 79", 80, 1, "\x1b[76G\t", {""}, 79, 0},
      {"79 stays", 80, 1, "\x1b[80G\t", {""}, 79, 0},
      {"from the pending wrap", 80, 1, k80 + "\t", {k80}, 79, 0},
      {"narrow terminal", 5, 1, "\t", {""}, 4, 0},
  };
  for (const Case& c : cases) check(c);
}

TEST(Terminal, CursorMovementClampsWithoutUnderflow) {
  const Case cases[] = {
      {"up zero is up one", 10, 5, "\x1b[3;1H\x1b[0A", {"", "", "", "", ""}, 0, 1},
      {"up on row 0 stays", 10, 5, "\x1b[A", {"", "", "", "", ""}, 0, 0},
      {"up by a huge count", 10, 5, "\x1b[5;5H\x1b[65535A", {"", "", "", "", ""}, 4, 0},
      {"down clamps", 10, 5, "\x1b[99B", {"", "", "", "", ""}, 0, 4},
      {"forward clamps", 10, 5, "\x1b[99999C", {"", "", "", "", ""}, 9, 0},
      {"back clamps", 10, 5, "abc\x1b[9D", {"abc", "", "", "", ""}, 0, 0},
      {"back one", 10, 5, "abc\x1b[D", {"abc", "", "", "", ""}, 2, 0},
      {"column absolute", 10, 5, "\x1b[4G", {"", "", "", "", ""}, 3, 0},
      {"column absolute clamps", 10, 5, "\x1b[400G", {"", "", "", "", ""}, 9, 0},
      {"home", 10, 5, "abc\r\ndef\x1b[H", {"abc", "def", "", "", ""}, 0, 0},
      {"position clamps", 80, 24, "\x1b[5;200H", std::vector<std::string>(24, ""), 79, 4},
      {"f is H", 10, 5, "\x1b[2;3f", {"", "", "", "", ""}, 2, 1},
      {"empty row parameter", 10, 5, "\x1b[;3H", {"", "", "", "", ""}, 2, 0},
      {"saturated parameters", 10, 5, "\x1b[99999999999;4294967296H", {"", "", "", "", ""}, 9, 4},
      {"private and intermediate bytes are not looked at", 10, 5, "\x1b[?3;4 H", {"", "", "", "", ""}, 3, 2},
      {"sub-parameters use the first value", 10, 5, "\x1b[3:7;4H", {"", "", "", "", ""}, 3, 2},
      {"vertical moves keep a pending wrap",
       5,
       3,
       "abcde\x1b[B"
       "f",
       {"abcde", "", "f"},
       1,
       2},
  };
  for (const Case& c : cases) check(c);
}

// Erase in display and in line follow ECMA-48: mode 0 erases from the cursor
// to the end (of the screen for J), 1 from the start to the cursor inclusive,
// 2 all; erasing never moves the cursor.
TEST(Terminal, EraseCoversTheRangeItNames) {
  const Case cases[] = {
      {"J erases to the end of the screen", 5, 3, kFilled + "\x1b[J", {"abcde", "fg", ""}, 2, 1},
      {"0J erases to the end of the screen", 5, 3, kFilled + "\x1b[0J", {"abcde", "fg", ""}, 2, 1},
      {"1J erases from the start to the cursor", 5, 3, kFilled + "\x1b[1J", {"", "   ij", "klmno"}, 2, 1},
      {"2J erases all", 5, 3, kFilled + "\x1b[2J", {"", "", ""}, 2, 1},
      {"3J erases all", 5, 3, kFilled + "\x1b[3J", {"", "", ""}, 2, 1},
      {"?2J acts like 2J", 5, 3, kFilled + "\x1b[?2J", {"", "", ""}, 2, 1},
      {"unknown J mode erases nothing", 5, 3, kFilled + "\x1b[7J", {"abcde", "fghij", "klmno"}, 2, 1},
      {"J mode 4 erases nothing", 5, 3, kFilled + "\x1b[4J", {"abcde", "fghij", "klmno"}, 2, 1},
      {"K erases to the end of the row", 5, 3, kFilled + "\x1b[K", {"abcde", "fg", "klmno"}, 2, 1},
      {"0K erases to the end of the row", 5, 3, kFilled + "\x1b[0K", {"abcde", "fg", "klmno"}, 2, 1},
      {"1K erases from the start to the cursor", 5, 3, kFilled + "\x1b[1K", {"abcde", "   ij", "klmno"}, 2, 1},
      {"2K erases the row", 5, 3, kFilled + "\x1b[2K", {"abcde", "", "klmno"}, 2, 1},
      {"K with a pending wrap erases nothing", 5, 2, "abcde\x1b[K", {"abcde", ""}, 5, 0},
      {"1K with a pending wrap erases the row", 5, 2, "abcde\x1b[1K", {"", ""}, 5, 0},
      {"1J with a pending wrap", 5, 2, "abcde\r\nfghij\x1b[1J", {"", ""}, 5, 1},
      {"J from the home position", 5, 3, kFilled + "\x1b[H\x1b[J", {"", "", ""}, 0, 0},
      {"1J on the last cell", 5, 3, kFilled + "\x1b[3;5H\x1b[1J", {"", "", ""}, 4, 2},
      {"erase after scrolling",
       5,
       3,
       "1\r\n2\r\n3\r\n4\x1b[1;1H\x1b[J"
       "x",
       {"x", "", ""},
       1,
       0},
      {"1J after scrolling", 5, 3, many_lines(7) + "\x1b[2;1H\x1b[1J", {"", "", "7"}, 0, 1},
  };
  for (const Case& c : cases) check(c);
}

// Editing inside a row, as line editors use it: kFilled's cursor is on 'h'.
TEST(Terminal, CharacterEditsShiftTheRestOfTheRow) {
  const Case cases[] = {
      {"ICH inserts one blank", 5, 3, kFilled + "\x1b[@", {"abcde", "fg hi", "klmno"}, 2, 1},
      {"ICH 0 inserts one", 5, 3, kFilled + "\x1b[0@", {"abcde", "fg hi", "klmno"}, 2, 1},
      {"ICH pushes cells off the edge", 5, 3, kFilled + "\x1b[2@", {"abcde", "fg  h", "klmno"}, 2, 1},
      {"ICH beyond the row blanks the rest", 5, 3, kFilled + "\x1b[99@", {"abcde", "fg", "klmno"}, 2, 1},
      {"DCH deletes one", 5, 3, kFilled + "\x1b[P", {"abcde", "fgij", "klmno"}, 2, 1},
      {"DCH 2", 5, 3, kFilled + "\x1b[2P", {"abcde", "fgj", "klmno"}, 2, 1},
      {"DCH beyond the row", 5, 3, kFilled + "\x1b[65535P", {"abcde", "fg", "klmno"}, 2, 1},
      {"ECH blanks without shifting", 5, 3, kFilled + "\x1b[2X", {"abcde", "fg  j", "klmno"}, 2, 1},
      {"ECH 0 blanks one", 5, 3, kFilled + "\x1b[0X", {"abcde", "fg ij", "klmno"}, 2, 1},
      {"ECH beyond the row", 5, 3, kFilled + "\x1b[9X", {"abcde", "fg", "klmno"}, 2, 1},
      {"DCH from a pending wrap acts on the last column", 5, 2, "abcde\x1b[P", {"abcd", ""}, 4, 0},
      {"ICH from a pending wrap", 5, 2, "abcde\x1b[@x", {"abcdx", ""}, 5, 0},
      {"ECH from a pending wrap", 5, 2, "abcde\x1b[X", {"abcd", ""}, 4, 0},
      {"insert mode shifts printed text right", 8, 2, "abcdef\x1b[1;3H\x1b[4hXY\x1b[4lZ", {"abXYZdef", ""}, 5, 0},
      {"insert mode loses cells at the edge", 5, 2, "abcde\r\x1b[4hxy", {"xyabc", ""}, 2, 0},
      {"insert mode with a non-ASCII character",
       5,
       2,
       "abc\r\x1b[4h\xC3\xA9",
       {"\xC3\xA9"
        "abc",
        ""},
       1,
       0},
      {"REP repeats the last character", 10, 2, "ab\x1b[3b", {"abbbb", ""}, 5, 0},
      {"REP 0 repeats once", 10, 2, "a\x1b[0b", {"aa", ""}, 2, 0},
      {"REP wraps like printing", 4, 2, "xy\x1b[4b", {"xyyy", "yy"}, 2, 1},
      {"REP is capped at a screenful", 4, 2, "x\x1b[65535b\x1b[Hy", {"yxxx", "x"}, 1, 0},
      {"REP with nothing printed does nothing", 10, 2, "\x1b[5b", {"", ""}, 0, 0},
      {"REP of a non-ASCII character",
       10,
       2,
       "\xE2\x82\xAC\x1b[2b",
       {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", ""},
       3,
       0},
      // The line bash shows after "cho abc", Home, "e", End, "Z", Left Left,
      // Backspace, Delete: what readline sends for each key.
      {"readline edit",
       40,
       2,
       "$ cho abc\r\x1b[C\x1b[C\x1b[4he\x1b[4lcho abcZ\b\b\b\x1b[P\x1b[P",
       {"$ echo aZ", ""},
       8,
       0},
  };
  for (const Case& c : cases) check(c);
}

// Rows "1" to "5" on a 3 x 5 screen, cursor on row 2 (the "3").
const std::string kFive = "1\r\n2\r\n3\r\n4\r\n5\x1b[3;1H";

TEST(Terminal, LinesScrollInsideTheScrollRegion) {
  const Case cases[] = {
      {"IL inserts a blank row, the bottom row is lost", 3, 5, kFive + "\x1b[L", {"1", "2", "", "3", "4"}, 0, 2},
      {"IL 2", 3, 5, kFive + "\x1b[2L", {"1", "2", "", "", "3"}, 0, 2},
      {"IL beyond the screen", 3, 5, kFive + "\x1b[99L", {"1", "2", "", "", ""}, 0, 2},
      {"IL returns to column 0", 3, 5, kFive + "\x1b[3;2H\x1b[L", {"1", "2", "", "3", "4"}, 0, 2},
      {"DL deletes the row, a blank enters at the bottom", 3, 5, kFive + "\x1b[M", {"1", "2", "4", "5", ""}, 0, 2},
      {"DL 0 deletes one", 3, 5, kFive + "\x1b[0M", {"1", "2", "4", "5", ""}, 0, 2},
      {"SU scrolls up, the cursor stays", 3, 5, kFive + "\x1b[2S", {"3", "4", "5", "", ""}, 0, 2},
      {"SD scrolls down", 3, 5, kFive + "\x1b[T", {"", "1", "2", "3", "4"}, 0, 2},
      {"SU of the whole screen by more than its height", 3, 5, kFive + "\x1b[9S", {"", "", "", "", ""}, 0, 2},
      {"DECSTBM homes the cursor", 3, 5, kFive + "\x1b[2;4r", {"1", "2", "3", "4", "5"}, 0, 0},
      {"line feed on the region's bottom scrolls the region",
       3,
       5,
       kFive + "\x1b[2;4r\x1b[4;1H\nx",
       {"1", "3", "4", "x", "5"},
       1,
       3},
      {"line feed below the region moves down", 3, 5, kFive + "\x1b[1;2r\x1b[3;1H\nx", {"1", "2", "3", "x", "5"}, 1, 3},
      {"line feed on the last row below the region does nothing",
       3,
       5,
       kFive + "\x1b[1;2r\x1b[5;1H\nx",
       {"1", "2", "3", "4", "x"},
       1,
       4},
      {"wrapping on the region's bottom scrolls the region",
       3,
       5,
       kFive + "\x1b[2;3r\x1b[3;1Habcd",
       {"1", "abc", "d", "4", "5"},
       1,
       2},
      {"RI on the region's top scrolls the region down",
       3,
       5,
       kFive + "\x1b[2;4r\x1b[2;1H\x1bMx",
       {"1", "x", "2", "3", "5"},
       1,
       1},
      {"RI moves up elsewhere", 3, 5, kFive + "\x1bMx", {"1", "x", "3", "4", "5"}, 1, 1},
      {"RI on row 0 above the region stays", 3, 5, kFive + "\x1b[3;5r\x1b[H\x1bMx", {"x", "2", "3", "4", "5"}, 1, 0},
      {"RI on the screen's top scrolls", 3, 5, kFive + "\x1b[H\x1bMx", {"x", "1", "2", "3", "4"}, 1, 0},
      {"IND is a line feed",
       3,
       5,
       kFive + "\x1b[5;2H\x1b"
               "Dx",
       {"2", "3", "4", "5", " x"},
       2,
       4},
      {"NEL is CR and line feed",
       3,
       5,
       kFive + "\x1b[2;2H\x1b"
               "Ex",
       {"1", "2", "x", "4", "5"},
       1,
       2},
      {"IL inside the region keeps the rows below it",
       3,
       5,
       kFive + "\x1b[2;4r\x1b[2;1H\x1b[L",
       {"1", "", "2", "3", "5"},
       0,
       1},
      {"DL inside the region", 3, 5, kFive + "\x1b[2;4r\x1b[2;1H\x1b[2M", {"1", "4", "", "", "5"}, 0, 1},
      {"IL outside the region does nothing", 3, 5, kFive + "\x1b[2;3r\x1b[5;1H\x1b[L", {"1", "2", "3", "4", "5"}, 0, 4},
      {"SU and SD move only the region", 3, 5, kFive + "\x1b[2;4r\x1b[S", {"1", "3", "4", "", "5"}, 0, 0},
      {"SD in the region", 3, 5, kFive + "\x1b[2;4r\x1b[2T", {"1", "", "", "2", "5"}, 0, 0},
      {"a one-row region is refused", 3, 5, kFive + "\x1b[3;3r\x1b[5;1H\nx", {"2", "3", "4", "5", "x"}, 1, 4},
      {"a reversed region is refused", 3, 5, kFive + "\x1b[4;2r", {"1", "2", "3", "4", "5"}, 0, 2},
      {"ESC [ r restores the whole screen",
       3,
       5,
       kFive + "\x1b[2;3r\x1b[r\x1b[5;1H\nx",
       {"2", "3", "4", "5", "x"},
       1,
       4},
      {"the region's bottom is clamped to the screen",
       3,
       5,
       kFive + "\x1b[2;99r\x1b[5;1H\nx",
       {"1", "3", "4", "5", "x"},
       1,
       4},
  };
  for (const Case& c : cases) check(c);
}

TEST(Terminal, CursorMovesByLineAndAbsolutePosition) {
  const Case cases[] = {
      {"CNL moves down to column 0", 10, 5, "abc\x1b[2E", {"abc", "", "", "", ""}, 0, 2},
      {"CNL clamps", 10, 5, "abc\x1b[99E", {"abc", "", "", "", ""}, 0, 4},
      {"CPL moves up to column 0", 10, 5, "\x1b[4;5H\x1b[F", {"", "", "", "", ""}, 0, 2},
      {"CPL clamps", 10, 5, "\x1b[2;5H\x1b[9F", {"", "", "", "", ""}, 0, 0},
      {"VPA keeps the column", 10, 5, "abc\x1b[4d", {"abc", "", "", "", ""}, 3, 3},
      {"VPA clamps", 10, 5, "\x1b[99d", {"", "", "", "", ""}, 0, 4},
      {"VPA 0 is row 1", 10, 5, "\x1b[3;3H\x1b[0d", {"", "", "", "", ""}, 2, 0},
      {"HPA", 10, 5, "abc\x1b[2`", {"abc", "", "", "", ""}, 1, 0},
      {"HPA clamps", 10, 5, "\x1b[99`", {"", "", "", "", ""}, 9, 0},
      {"DECSC and DECRC",
       10,
       5,
       "\x1b[3;4H\x1b"
       "7\x1b[H\x1b"
       "8x",
       {"", "", "   x", "", ""},
       4,
       2},
      {"CSI s and u", 10, 5, "\x1b[2;6H\x1b[s\x1b[5;1H\x1b[ux", {"", "     x", "", "", ""}, 6, 1},
      {"restore with nothing saved goes home",
       10,
       5,
       "\x1b[3;4H\x1b"
       "8x",
       {"x", "", "", "", ""},
       1,
       0},
      {"a saved pending wrap wraps after restoring",
       5,
       3,
       "abcde\x1b"
       "7\x1b[3;1H\x1b"
       "8x",
       {"abcde", "x", ""},
       1,
       1},
      {"CSI ? u does not restore", 10, 5, "\x1b[3;4H\x1b[s\x1b[H\x1b[?u", {"", "", "", "", ""}, 0, 0},
  };
  for (const Case& c : cases) check(c);
}

TEST(Terminal, SavedCursorKeepsPenAndBold) {
  const remote::vt::Terminal t = run(10, 2,
                                     "\x1b[1;32m\x1b"
                                     "7\x1b[m\x1b"
                                     "8x\x1b[0m\x1b[s\x1b[31m\x1b[uy");
  EXPECT_EQ(t.row(0)[0], (TerminalCell{U'x', TerminalColor::indexed(2), true}));
  EXPECT_EQ(t.row(0)[1], (TerminalCell{U'y', TerminalColor::Default, false}));
}

TEST(Terminal, AlternateScreenKeepsTheMainScreen) {
  const std::string main = "main\r\nscreen\x1b[2;3H";
  const Case cases[] = {
      {"1049 clears and keeps the cursor", 10, 3, main + "\x1b[?1049h", {"", "", ""}, 2, 1},
      {"1049 draws on its own screen", 10, 3, main + "\x1b[?1049h\x1b[Hvim", {"vim", "", ""}, 3, 0},
      {"leaving 1049 restores the screen and cursor",
       10,
       3,
       main + "\x1b[?1049h\x1b[Hvim\x1b[3;1H\x1b[?1049l",
       {"main", "screen", ""},
       2,
       1},
      {"1049 twice still clears", 10, 3, main + "\x1b[?1049hx\x1b[?1049h", {"", "", ""}, 3, 1},
      {"leaving when not on it only restores the cursor", 10, 3, main + "\x1b[?1049l", {"main", "screen", ""}, 0, 0},
      {"47 keeps the alternate screen's text", 10, 3, main + "\x1b[?47hab\x1b[?47l\x1b[?47h", {"", "  ab", ""}, 4, 1},
      {"leaving 47 shows the main screen, cursor unchanged",
       10,
       3,
       main + "\x1b[?47h\x1b[Hab\x1b[?47l",
       {"main", "screen", ""},
       2,
       0},
      {"leaving 1047 clears the alternate screen",
       10,
       3,
       main + "\x1b[?1047hab\x1b[?1047l\x1b[?47h",
       {"", "", ""},
       4,
       1},
      {"modes in one sequence apply in order", 10, 3, main + "\x1b[?1;1049h", {"", "", ""}, 2, 1},
      {"scrolling on the alternate screen leaves the main one",
       10,
       3,
       main + "\x1b[?1049h\x1b[3;1H\n\n\nz\x1b[?1049l",
       {"main", "screen", ""},
       2,
       1},
  };
  for (const Case& c : cases) check(c);
  const remote::vt::Terminal t = run(10, 3, main + "\x1b[?1049h");
  EXPECT_TRUE(t.alternate_screen());
  EXPECT_FALSE(run(10, 3, main + "\x1b[?1049h\x1b[?1049l").alternate_screen());
}

TEST(Terminal, ModesAreRemembered) {
  struct {
    const char* input;
    bool cursor_keys, insert;
  } const cases[] = {
      {"", false, false},
      {"\x1b[?1h", true, false},
      {"\x1b[?1h\x1b[?1l", false, false},
      {"\x1b[?1;4h", true, false},  // 4 is smooth scroll as a DEC mode
      {"\x1b[1h", false, false},    // not DECCKM without the marker
      {"\x1b[4h", false, true},
      {"\x1b[4h\x1b[4l", false, false},
      {"\x1b[?4h", false, false},
      {"\x1b[>1h", false, false},
      {"\x1b[?1049h\x1b[?1h\x1b[?1049l", true, false},
  };
  for (const auto& c : cases) {
    const remote::vt::Terminal t = run(10, 2, c.input);
    EXPECT_EQ(t.application_cursor_keys(), c.cursor_keys) << c.input;
    EXPECT_EQ(t.insert_mode(), c.insert) << c.input;
  }
}

TEST(Terminal, ErasedCellsAreBlankWhateverThePen) {
  const remote::vt::Terminal t = run(5, 2, "\x1b[1;31mabcde\x1b[1;3H\x1b[K");
  for (std::size_t c = 2; c < 5; ++c) EXPECT_EQ(t.row(0)[c], remote::vt::kBlankCell) << c;
  EXPECT_EQ(t.row(0)[1], (TerminalCell{U'b', TerminalColor::indexed(1), true}));
}

TEST(Terminal, GraphicRenditionSetsPenAndBold) {
  struct Rendition {
    const char* name;
    std::string input;  // then "x" is printed
    TerminalColor fg;
    bool bold;
  };
  const Rendition cases[] = {
      {"31", "\x1b[31m", TerminalColor::indexed(1), false},
      {"37", "\x1b[37m", TerminalColor::indexed(7), false},
      {"90", "\x1b[90m", TerminalColor::indexed(8), false},
      {"91", "\x1b[91m", TerminalColor::indexed(9), false},
      {"97", "\x1b[97m", TerminalColor::indexed(15), false},
      {"bold", "\x1b[1m", TerminalColor::Default, true},
      {"22 ends bold", "\x1b[1;32m\x1b[22m", TerminalColor::indexed(2), false},
      {"39 resets the colour only", "\x1b[1;32m\x1b[39m", TerminalColor::Default, true},
      {"empty resets", "\x1b[1;32m\x1b[m", TerminalColor::Default, false},
      {"0 resets", "\x1b[1;32m\x1b[0m", TerminalColor::Default, false},
      {"empty parameter resets", "\x1b[1;32m\x1b[;33m", TerminalColor::indexed(3), false},
      {"applied in order", "\x1b[31;1;0;34m", TerminalColor::indexed(4), false},
      {"38;5;1 is three plain values", "\x1b[32m\x1b[38;5;1m", TerminalColor::indexed(2), true},
      {"sub-parameters use the first value", "\x1b[38:5:1m", TerminalColor::Default, false},
      {"background changes nothing", "\x1b[41m", TerminalColor::Default, false},
      {"other attributes change nothing", "\x1b[4;7;38m", TerminalColor::Default, false},
      {"huge value changes nothing", "\x1b[99999m", TerminalColor::Default, false},
  };
  for (const Rendition& c : cases) {
    const remote::vt::Terminal t = run(10, 2, c.input + "x");
    EXPECT_EQ(t.row(0)[0], (TerminalCell{U'x', c.fg, c.bold})) << c.name;
  }
}

TEST(Terminal, UnsupportedSequencesChangeNothing) {
  const std::string prefix = "\x1b[1;31mab\r\ncd";
  const remote::vt::Terminal reference = run(10, 3, prefix);
  const char* inputs[] = {
      "\x1b]0;window title\x07",
      "\x1b]2;title\x1b\\",
      "\x1b"
      "7",
      "\x1b[?25l",
      "\x1bPqdata\x1b\\",
      "\x1b_apc\x1b\\",
      "\x1b(0",
      "\x1b[>c",
      "\x1b[>4;1m",
      "\x1b[?u",
      "\x1b[?7l",
      "\x1b[?1l",
      "\x1b[4l",
      "\x1b[1;1r",
      "\x1b[6n",
      "\x1b"
      "c",
  };
  for (const char* extra : inputs) {
    EXPECT_EQ(snapshot(run(10, 3, prefix + extra)), snapshot(reference)) << extra;
  }
  EXPECT_TRUE(run(10, 3, prefix + "\x1b[7m").same_screen(reference));
  EXPECT_FALSE(run(10, 3, prefix + "\x1b[32m").same_screen(reference));
  EXPECT_FALSE(run(10, 3, prefix + "\x1b[C").same_screen(reference));
  EXPECT_FALSE(run(10, 3, prefix + "\x1b[H\x1b[1m\x1b[31mx").same_screen(reference));
}

TEST(Terminal, VisibleRowsTrimOnlyDefaultColouredSpaces) {
  const remote::vt::Terminal t = run(10, 3,
                                     "ab\r\n"
                                     "c\x1b[31m \x1b[m\r\n"
                                     "d\x1b[1m  ");
  const auto rows = t.visible_rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].size(), 2u);
  ASSERT_EQ(rows[1].size(), 2u);  // the red space stays
  EXPECT_EQ(rows[1][1], (TerminalCell{U' ', TerminalColor::indexed(1), false}));
  EXPECT_EQ(rows[2].size(), 1u);  // bold default spaces are trimmed
  EXPECT_EQ(text_of(t.visible_row(0)), "ab");
}

TEST(Terminal, HostileInputKeepsTheCursorInRange) {
  std::string input;
  for (int i = 0; i < 300; ++i) input += ";" + std::to_string(i * 997);
  const std::string cases[] = {
      "\x1b[" + input + "H",
      "\x1b[" + input + "m" + "x",
      "\x1b[" + std::string(100000, '9') + "C",
      "\x1b]" + std::string(100000, 'a') + "\x07" + "after",
      std::string(5000, '\xFF'),
      "\xF0\x9F"
      "\x1b[31mz",
      std::string("\x1b[\x1b[\x1b]\x1bP\x1b_\x18\x1b[2J") + "ok",
  };
  for (const std::string& s : cases) {
    const remote::vt::Terminal t = run(7, 3, s);
    EXPECT_LE(t.cursor_column(), t.cols());
    EXPECT_LT(t.cursor_row(), t.rows());
    for (const auto& row : t.visible_rows()) EXPECT_LE(row.size(), t.cols());
  }
  EXPECT_EQ(screen(run(10, 1, "\x1b]" + std::string(5000, 'a') + "\x07" + "after")), std::vector<std::string>{"after"});
}

TEST(Terminal, CountParamDefaultsToOne) {
  struct {
    std::string input;
    std::uint16_t count;
  } const cases[] = {{"\x1b[A", 1}, {"\x1b[0A", 1}, {"\x1b[;4A", 1}, {"\x1b[7A", 7}, {"\x1b[70000A", 65535}};
  for (const auto& c : cases) {
    struct Capture : remote::vt::NullPerformer {
      std::uint16_t count = 0;
      void csi_dispatch(const remote::vt::Params& p, std::span<const std::uint8_t>, bool, char) {
        count = remote::vt::csi_count_param(p);
      }
    } capture;
    remote::vt::Parser parser;
    parser.advance(capture, vt_test::bytes_of(c.input));
    EXPECT_EQ(capture.count, c.count) << c.input;
  }
}

}  // namespace
