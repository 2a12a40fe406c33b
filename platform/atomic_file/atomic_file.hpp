// Whole-file replacement that readers never see half done.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace atomic_file {

// A write that replaced the file.
struct Replaced {
  // Set when the folder could not be opened or synced after the rename: every
  // reader already sees the new content, but a crash soon after may bring the
  // old one back. The write counts as done; callers log this.
  std::optional<std::string> warning;
};

// Replaces the file at `path` with exactly `bytes` and permission bits `mode`:
// writes a temporary file in the same folder, fsyncs it, renames it over the
// path and fsyncs the folder. A failure up to and including the rename leaves
// the old file untouched and removes the temporary file; the error names the
// step and carries the operating system's text (strerror). A failure after
// the rename is no error but Replaced::warning, worded the same way.
std::expected<Replaced, std::string> write_with_mode(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                                                     mode_t mode);

// Removes temporary files that an interrupted write_with_mode of `path` left
// behind (a crash between creating and renaming). Call only while no other
// writer of that path can be running, e.g. under the caller's own lock.
// Returns how many were removed.
size_t remove_stale_temporaries(const std::filesystem::path& path);

}  // namespace atomic_file
