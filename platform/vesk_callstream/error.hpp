#pragma once
// The error value of the frame decoder and encoder.

#include <string>

namespace vesk_callstream {

// Every fallible call of this library returns its failure as this value.
struct Error {
  std::string message;
};

}  // namespace vesk_callstream
