#include "apps/remote/src/vt/cell.hpp"

#include "apps/remote/src/json/utf8.hpp"

namespace vt {

void push_utf8(std::string& out, char32_t ch) { remote::json::append_utf8(out, ch); }

void push_cell_chars(std::string& out, std::span<const TerminalCell> cells) {
  for (const TerminalCell& cell : cells) push_utf8(out, cell.ch);
}

}  // namespace vt
