#include "apps/remote/src/vt/cell.hpp"

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::vt {

void push_utf8(std::string& out, char32_t ch) { vesk_ui::utf8::append(out, ch); }

void push_cell_chars(std::string& out, std::span<const TerminalCell> cells) {
  for (const TerminalCell& cell : cells) push_utf8(out, cell.ch);
}

}  // namespace remote::vt
