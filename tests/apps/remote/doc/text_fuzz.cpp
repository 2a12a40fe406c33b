// Arbitrary bytes through every text parser of the profiles: none may crash,
// and whatever parses must survive a round trip through its written form.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "apps/remote/src/doc/endpoint_id.hpp"
#include "apps/remote/src/doc/form.hpp"
#include "apps/remote/src/doc/model.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "apps/remote/src/doc/uuid.hpp"
#include "platform/vesk_ui/document/document.hpp"
#include "platform/vesk_ui/utf8/utf8.hpp"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace remote;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  if (const auto id = Uuid::parse(input)) check(Uuid::parse(id->to_string()) == id);
  if (const auto endpoint = EndpointId::parse(input)) {
    check(EndpointId::parse(endpoint->to_string()) == endpoint);
    check(is_ed25519_point(endpoint->bytes()));
  }
  if (const auto port = parse_port(input)) check(parse_port(std::to_string(*port)) == port);

  // Two independent validators must agree.
  const bool valid = vesk_ui::utf8::is_valid(input);
  check(valid == vesk_ui::doc::valid_utf8(input));

  const std::string_view trimmed = text::trim(input);
  check(text::trim(trimmed) == trimmed);
  const std::string lower = text::to_lower(input);
  if (valid) check(vesk_ui::utf8::is_valid(lower));
  check(text::first_chars(input, text::char_count(input)) == input);

  SavedConnection c;
  c.kind = ConnectionKind::parse(input);
  c.auth = AuthKind::parse(input);
  c.presence = Presence::parse(input);
  c.host = std::string(input);
  c.port = static_cast<std::uint16_t>(size);
  (void)c.readiness();
  (void)c.target_label();
  ConnectionForm form = ConnectionForm::from_connection(c);
  form.name = form.port = form.user = form.group = std::string(input);
  (void)form.problems();
  (void)form.to_connection(Uuid::nil());
  return 0;
}
