#pragma once
// remote-actions without the bus: the command line, argument escapes and the
// readable tree, kept apart from the D-Bus calls so they can be tested alone.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace remote_actions {

// Exit statuses.
inline constexpr int kExitDone = 0;     // applied or completed
inline constexpr int kExitFailed = 1;   // failed (the code and sentence are printed)
inline constexpr int kExitRefused = 2;  // refused, or a command line that makes no sense
inline constexpr int kExitNoApp = 3;    // no running application

// A waiting invoke stopped by a signal cancels its operation and exits with
// this plus the signal's number (130 for SIGINT, 143 for SIGTERM).
inline constexpr int kExitSignalBase = 128;

// A value read from a file (NAME@=FILE) holds at most this many bytes; the
// application refuses far shorter texts itself, this only keeps the client
// from reading a whole disk.
inline constexpr std::size_t kMaxArgumentFileBytes = 64u << 20;

struct Command {
  enum class Kind { Tree, Invoke, Cancel, Help };
  Kind kind = Kind::Help;
  std::string resource;
  std::string action;
  std::vector<std::pair<std::string, std::string>> arguments;
  bool wait = false;
  std::uint64_t handle = 0;  // cancel
};

// argv without the program name; NAME@=FILE arguments are read here ("-" is
// standard input). The error is a sentence for standard error.
std::expected<Command, std::string> parse_command(const std::vector<std::string>& args);

// The whole file (or standard input for "-"), at most kMaxArgumentFileBytes.
std::expected<std::string, std::string> read_argument_file(const std::string& path);

// "\n", "\t", "\r", "\e" and "\\" in a value become the characters; any
// other backslash stays as it is.
std::string unescape(std::string_view text);

// One line per resource and one per action with its availability.
std::expected<std::string, std::string> format_tree(std::string_view json);

std::string usage();

}  // namespace remote_actions
