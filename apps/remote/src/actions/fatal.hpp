// Conditions that cannot fail stop the program with a fixed message.
#pragma once

#include <string_view>

namespace remote::actions {

[[noreturn]] void fatal(std::string_view message);

}  // namespace remote::actions
