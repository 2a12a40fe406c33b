// A Document kept in a file, shared safely between processes.
//
// The file is replaced atomically on every save (temporary file, fsync,
// rename), so a crash leaves the old or the new state. Saves and loads hold an
// exclusive flock on a lock file next to it, and a save first merges whatever
// another process wrote since we last looked, so no process loses another's
// changes. A damaged file (bad checksum, truncated, empty, another format, or
// not a regular file at all) is renamed aside, never overwritten, and the
// handle starts with an empty document (logged as a warning). A regular file
// that cannot be opened or read (permissions, I/O errors) is left exactly as
// it is: the handle starts empty and never writes until the file reads again.
// Nothing here ever blocks on the file: it is opened without waiting and
// looked at before it is read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vesk_ui/document/document.hpp"

namespace vesk_ui::persist {

using doc::Error;
template <class T>
using Result = doc::Result<T>;

// Name of the document file inside its folder.
inline constexpr std::string_view kDocumentFile = "document.vdoc";
// Name of the lock file next to it.
inline constexpr std::string_view kLockFile = "document.vdoc.lock";

// Folder of an application's document: $XDG_DATA_HOME/vesk/{app_folder}, or
// $HOME/.local/share/vesk/{app_folder}. A variable that is unset, empty, not
// absolute or not valid UTF-8 counts as unset. The folder name must be one
// plain path component. Nothing is created.
Result<std::filesystem::path> data_directory(std::string_view app_folder);

class PersistedDocument {
 public:
  PersistedDocument(PersistedDocument&&) noexcept;
  PersistedDocument& operator=(PersistedDocument&&) noexcept;
  PersistedDocument(const PersistedDocument&) = delete;
  PersistedDocument& operator=(const PersistedDocument&) = delete;
  ~PersistedDocument();

  doc::Document& document() { return doc_; }
  const doc::Document& document() const { return doc_; }
  const std::filesystem::path& directory() const { return dir_; }
  // The document file (directory() / kDocumentFile).
  const std::filesystem::path& file_path() const { return file_; }
  // Where the last damaged file was moved (at open or later), and why it
  // could not be used.
  const std::optional<std::filesystem::path>& set_aside_path() const { return set_aside_; }
  const std::string& set_aside_reason() const { return set_aside_reason_; }
  // Why the file at the path cannot be read, while it cannot: nothing is
  // written over it then, and every save and refresh looks at it again.
  const std::optional<std::string>& unreadable() const { return unreadable_; }
  // The messages of the changes made since the last save or load that the
  // file does not hold, in causal order.
  std::vector<std::string> unsaved_change_messages() const;

  // True when the heads differ from those of the last save or load (closes
  // the document's open transaction).
  bool dirty() const;
  // Writes the document when dirty: locks, merges what another process saved
  // since, replaces the file (mode 0600). True when the file was written. The
  // folder is created (mode 0700) when it is missing. Fails without writing
  // while the file is unreadable.
  Result<bool> save();
  // Merges changes another process saved since we last read or wrote the
  // file. True when the file had changed.
  Result<bool> refresh();

 private:
  friend Result<PersistedDocument> open_directory(const std::filesystem::path& dir);
  PersistedDocument() = default;
  Result<bool> merge_from_disk_locked();

  struct FileStamp {
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtime_ns = 0, ctime_ns = 0;
    bool operator==(const FileStamp&) const = default;
  };

  doc::Document doc_;
  std::filesystem::path dir_;
  std::filesystem::path file_;
  std::filesystem::path lock_;
  std::optional<std::filesystem::path> set_aside_;
  std::string set_aside_reason_;
  std::optional<std::string> unreadable_;
  std::vector<doc::ChangeHash> saved_heads_;
  std::optional<FileStamp> seen_;  // the file as we last read or wrote it
};

// Opens (creating when needed, mode 0700) the application's folder under the
// data directory and loads its document.
Result<PersistedDocument> open(std::string app_folder);
// Same, with an explicit folder (tests, tools). The folder is created with
// mode 0700 when missing (an existing one keeps its mode); the file is read
// when present. A folder that cannot be created, or a file that cannot be
// read, does not fail the open: saves report it (see unreadable()).
Result<PersistedDocument> open_directory(const std::filesystem::path& dir);

}  // namespace vesk_ui::persist
