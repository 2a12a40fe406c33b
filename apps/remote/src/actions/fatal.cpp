#include "apps/remote/src/actions/fatal.hpp"

#include <cstdio>
#include <cstdlib>

namespace remote::actions {

void fatal(std::string_view message) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
  std::abort();
}

}  // namespace remote::actions
