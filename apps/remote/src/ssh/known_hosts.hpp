#pragma once
// The device-private pins of SSH host keys ("known-hosts.json" under the
// user's state directory) and the verdicts of comparing a server's key with
// them. Every operation reads the file afresh; trust and forget write it back
// at once, replacing it atomically with owner-only permissions.

#include <sys/stat.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// libssh's key handle, without pulling its header into every includer.
struct ssh_key_struct;

namespace remote::ssh {

// A host key as shown and stored: algorithm name and "SHA256:<base64>".
struct HostKeyIdentity {
  std::string algorithm;
  std::string fingerprint;

  // Name as libssh reports the key type; fingerprint as `ssh-keygen -lf` prints it.
  static HostKeyIdentity from_public_key(ssh_key_struct* key);

  friend bool operator==(const HostKeyIdentity&, const HostKeyIdentity&) = default;
};

struct KnownHostEntry {
  std::string host;  // compared byte for byte
  std::uint16_t port = 0;
  HostKeyIdentity identity;

  friend bool operator==(const KnownHostEntry&, const KnownHostEntry&) = default;
};

// Why a server's key was refused.
struct UnknownHostKey {
  HostKeyIdentity presented;
  friend bool operator==(const UnknownHostKey&, const UnknownHostKey&) = default;
};
struct ChangedHostKey {
  HostKeyIdentity pinned;
  HostKeyIdentity presented;
  friend bool operator==(const ChangedHostKey&, const ChangedHostKey&) = default;
};
struct HostKeyStoreUnavailable {
  std::string message;
  friend bool operator==(const HostKeyStoreUnavailable&, const HostKeyStoreUnavailable&) = default;
};

struct HostKeyObservation {
  std::variant<UnknownHostKey, ChangedHostKey, HostKeyStoreUnavailable> verdict;

  const UnknownHostKey* unknown() const { return std::get_if<UnknownHostKey>(&verdict); }
  const ChangedHostKey* changed() const { return std::get_if<ChangedHostKey>(&verdict); }
  const HostKeyStoreUnavailable* store_unavailable() const { return std::get_if<HostKeyStoreUnavailable>(&verdict); }

  // The sentence a refused connection fails with.
  std::string message(std::string_view host, std::uint16_t port) const;

  friend bool operator==(const HostKeyObservation&, const HostKeyObservation&) = default;
};

struct KnownHosts {
  std::vector<KnownHostEntry> entries;

  // A missing file is an empty store.
  static std::expected<KnownHosts, std::string> load(const std::filesystem::path& path);
  static std::expected<void, std::string> save(const std::filesystem::path& path, const KnownHosts& store);

  // nullopt: trusted. The first entry for (host, port) decides.
  std::optional<HostKeyObservation> check(std::string_view host, std::uint16_t port,
                                          const HostKeyIdentity& presented) const;

  // Pins a key; the same key again writes nothing; another key for the same
  // target is refused until it is forgotten.
  static std::expected<void, std::string> trust(const std::filesystem::path& path, std::string_view host,
                                                std::uint16_t port, const HostKeyIdentity& identity);
  // Removes every pin of (host, port); false when there was none (nothing written).
  static std::expected<bool, std::string> forget(const std::filesystem::path& path, std::string_view host,
                                                 std::uint16_t port);

  static bool keeps_entry_on_forget(const KnownHostEntry& entry, std::string_view host, std::uint16_t port) {
    return entry.host != host || entry.port != port;
  }

  // Exact file text: two-space indentation, no trailing newline.
  static std::expected<std::string, std::string> to_json(const KnownHosts& store);
  // Strict reading; errors are the JSON reader's messages.
  static std::expected<KnownHosts, std::string> from_json(std::string_view text);

  friend bool operator==(const KnownHosts&, const KnownHosts&) = default;
};

// Largest pin file read; a bigger one is refused rather than loaded.
inline constexpr std::uint64_t kMaxKnownHostsBytes = 16u * 1024u * 1024u;

// Where the pin file lives: REMOTE_SSH_KNOWN_HOSTS, else
// $XDG_STATE_HOME/vesk/remote/known-hosts.json, else
// $HOME/.local/state/vesk/remote/known-hosts.json. Creates the store directory
// (0700) in the latter two cases when it is missing.
std::expected<std::filesystem::path, std::string> known_hosts_path();

std::expected<void, std::string> check_store_parent(const std::filesystem::path& dir);
std::expected<void, std::string> check_store_file(const std::filesystem::path& file);
std::expected<void, std::string> ensure_private_mode(const struct stat& st, std::string_view name);

}  // namespace remote::ssh
