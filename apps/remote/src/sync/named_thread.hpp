#pragma once
// Named worker threads. A worker's body turns its own failures into a status;
// the top-level catch only keeps an escaped exception from ending the process.
//
// Workers are not joined by their owners (dropping a session handle must not
// wait for a peer), but the process waits for them when it exits, for a
// bounded time: a worker still saying goodbye to its server would otherwise be
// cut off mid-way, its goodbye lost and its half-freed state reported as leaks.

#include <chrono>
#include <cstddef>
#include <expected>
#include <functional>
#include <string>

namespace remote::sync {

// Linux keeps 15 bytes of a thread name.
inline constexpr std::size_t kThreadNameMax = 15;

// How long process exit waits for running workers.
inline constexpr std::chrono::milliseconds kExitWaitForWorkers{3000};

std::string system_thread_name(const std::string& name);

// Starts `body` on a thread of its own named `name`; the error text when no
// thread could be started.
std::expected<void, std::string> spawn_named(std::string name, std::move_only_function<void()> body);

// Waits until no worker started by spawn_named runs, or until `timeout`;
// whether they all ended. Ended workers are joined.
bool wait_for_workers(std::chrono::milliseconds timeout);

// Workers started and not yet ended.
std::size_t running_workers();

}  // namespace remote::sync
