// Feeds arbitrary bytes to the client handshake as the server's side.

#include <cstddef>
#include <cstdint>

#include "apps/remote/src/rfb/handshake.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  remote::rfb::MemoryStream in({data, size});
  remote::rfb::MemorySink out;
  const std::optional<std::string> password = size % 2 ? std::optional<std::string>("secret") : std::nullopt;
  (void)remote::rfb::run_handshake(in, out, password);
  return 0;
}
