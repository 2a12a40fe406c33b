// Payloads come from other devices and clients: any bytes must give a value
// or an error, and every accepted value must write and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "apps/remote/src/actions/remote_action.hpp"
#include "apps/remote/src/actions/remote_operation.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto action = remote::RemoteAction::deserialize(text)) {
    auto written = action->serialize();
    if (!written) std::abort();
    auto again = remote::RemoteAction::deserialize(*written);
    if (!again || !(*again == *action)) std::abort();
  }
  if (auto op = remote::RemoteOperation::deserialize(text)) {
    auto written = op->serialize();
    if (!written) std::abort();
    auto again = remote::RemoteOperation::deserialize(*written);
    if (!again || !(*again == *op)) std::abort();
  }
  return 0;
}
