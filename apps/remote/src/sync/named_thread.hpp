#pragma once
// Detached, named worker threads. A worker's body turns its own failures into a
// status; this top-level catch only keeps an escaped exception from ending the
// process.

#include <pthread.h>

#include <cstdio>
#include <exception>
#include <expected>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace remote::sync {

// Linux keeps 15 bytes of a thread name.
inline constexpr std::size_t kThreadNameMax = 15;

inline std::string system_thread_name(const std::string& name) {
  std::string cut = name.substr(0, kThreadNameMax);
  // Never leave half a UTF-8 sequence at the end.
  while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) cut.pop_back();
  if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80)) cut.pop_back();
  return cut;
}

inline std::expected<void, std::string> spawn_named(std::string name, std::move_only_function<void()> body) {
  try {
    std::thread thread([name = std::move(name), body = std::move(body)]() mutable {
      // A naming failure is not a start failure.
      (void)pthread_setname_np(pthread_self(), system_thread_name(name).c_str());
      try {
        body();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "thread %s ended by an exception: %s\n", name.c_str(), e.what());
      } catch (...) {
        std::fprintf(stderr, "thread %s ended by an exception\n", name.c_str());
      }
    });
    thread.detach();
    return {};
  } catch (const std::system_error& e) {
    return std::unexpected(std::string(e.what()));
  } catch (const std::exception& e) {
    return std::unexpected(std::string(e.what()));
  }
}

}  // namespace remote::sync
