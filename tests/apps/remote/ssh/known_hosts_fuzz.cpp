// Any bytes as a pin file: a store or an error message, never a crash. A
// store that reads back must write and read back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "apps/remote/src/ssh/known_hosts.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto store = remote::ssh::KnownHosts::from_json(text);
  if (!store) return 0;
  auto written = remote::ssh::KnownHosts::to_json(*store);
  if (!written) return 0;  // text that is not UTF-8 cannot be written back
  auto again = remote::ssh::KnownHosts::from_json(*written);
  if (!again || !(*again == *store)) std::abort();
  return 0;
}
