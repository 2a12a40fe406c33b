#include "apps/remote/src/doc/text.hpp"
#include "apps/remote/src/ssh/known_hosts.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <spdlog/spdlog.h>
#include <system_error>

#include "apps/remote/src/json/reader.hpp"
#include "apps/remote/src/json/writer.hpp"
#include "platform/atomic_file/atomic_file.hpp"

namespace remote::ssh {

namespace {

std::string os_error(int err) { return std::strerror(err); }

// Closes a descriptor on every path out of a read.
struct FdGuard {
  int fd = -1;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
};

// The parent of a path the way a path library without trailing-slash
// components sees it: "known.json" and "/" have none.
std::filesystem::path parent_of(const std::filesystem::path& file) {
  std::string text = file.native();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  std::filesystem::path trimmed(text);
  if (!trimmed.has_filename() || trimmed == trimmed.root_path()) return {};
  return trimmed.parent_path();
}

constexpr std::array<std::string_view, 2> kIdentityFields{"algorithm", "fingerprint"};
constexpr std::array<std::string_view, 3> kEntryFields{"host", "port", "identity"};
constexpr std::array<std::string_view, 1> kStoreFields{"entries"};

json::Result<HostKeyIdentity> read_identity(json::Reader& r) {
  HostKeyIdentity identity;
  static constexpr json::StructShape shape{"struct HostKeyIdentity", "struct HostKeyIdentity with 2 elements",
                                           kIdentityFields};
  auto status = json::read_struct(r, shape, [&](std::size_t field) -> json::Status {
    auto text = json::read_string(r);
    if (!text) return std::unexpected(text.error());
    (field == 0 ? identity.algorithm : identity.fingerprint) = std::move(*text);
    return {};
  });
  if (!status) return std::unexpected(status.error());
  return identity;
}

json::Result<KnownHostEntry> read_entry(json::Reader& r) {
  KnownHostEntry entry;
  static constexpr json::StructShape shape{"struct KnownHostEntry", "struct KnownHostEntry with 3 elements",
                                           kEntryFields};
  auto status = json::read_struct(r, shape, [&](std::size_t field) -> json::Status {
    switch (field) {
      case 0: {
        auto host = json::read_string(r);
        if (!host) return std::unexpected(host.error());
        entry.host = std::move(*host);
        return {};
      }
      case 1: {
        auto port = json::read_u16(r);
        if (!port) return std::unexpected(port.error());
        entry.port = *port;
        return {};
      }
      default: {
        auto identity = read_identity(r);
        if (!identity) return std::unexpected(identity.error());
        entry.identity = std::move(*identity);
        return {};
      }
    }
  });
  if (!status) return std::unexpected(status.error());
  return entry;
}

json::Result<KnownHosts> read_store(json::Reader& r) {
  KnownHosts store;
  static constexpr json::StructShape shape{"struct KnownHosts", "struct KnownHosts with 1 element", kStoreFields};
  auto status = json::read_struct(r, shape, [&](std::size_t) -> json::Status {
    return json::read_seq(r, "a sequence", [&](json::Reader& inner) -> json::Status {
      auto entry = read_entry(inner);
      if (!entry) return std::unexpected(entry.error());
      store.entries.push_back(std::move(*entry));
      return {};
    });
  });
  if (!status) return std::unexpected(status.error());
  return store;
}

// Reads the whole pin file; nullopt when it does not exist. The descriptor is
// checked after opening too, so a file swapped between check and open is not read.
std::expected<std::optional<std::string>, std::string> read_store_file(const std::filesystem::path& path) {
  FdGuard guard{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
  if (guard.fd < 0) {
    if (errno == ENOENT) return std::optional<std::string>();
    if (errno == ELOOP) return std::unexpected(std::string("SSH host-key store must be a regular file"));
    return std::unexpected(os_error(errno));
  }
  struct stat st {};
  if (::fstat(guard.fd, &st) != 0) return std::unexpected(os_error(errno));
  if (!S_ISREG(st.st_mode)) return std::unexpected(std::string("SSH host-key store must be a regular file"));
  if (auto ok = ensure_private_mode(st, "SSH host-key store"); !ok) return std::unexpected(ok.error());
  if (static_cast<std::uint64_t>(st.st_size) > kMaxKnownHostsBytes) {
    return std::unexpected(
        text::fill("SSH host-key store is larger than {} MiB", {std::to_string(kMaxKnownHostsBytes >> 20)}));
  }
  std::string bytes;
  char buffer[16384];
  while (true) {
    ssize_t n = ::read(guard.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<std::uint64_t>(n) > kMaxKnownHostsBytes) {
      return std::unexpected(
          text::fill("SSH host-key store is larger than {} MiB", {std::to_string(kMaxKnownHostsBytes >> 20)}));
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return std::optional<std::string>(std::move(bytes));
}

}  // namespace

std::string HostKeyObservation::message(std::string_view host, std::uint16_t port) const {
  if (const auto* u = unknown()) {
    return text::fill("SSH host key for {}:{} needs explicit trust: {} {}",
                      {host, std::to_string(port), u->presented.algorithm, u->presented.fingerprint});
  }
  if (const auto* c = changed()) {
    return text::fill("SSH host key changed for {}:{}. Expected {} {}; received {} {}. Connection blocked.",
                      {host, std::to_string(port), c->pinned.algorithm, c->pinned.fingerprint, c->presented.algorithm,
                       c->presented.fingerprint});
  }
  return text::fill("SSH host-key store is unavailable: {}", {store_unavailable()->message});
}

std::expected<void, std::string> ensure_private_mode(const struct stat& st, std::string_view name) {
  if ((st.st_mode & 0077) != 0)
    return std::unexpected(text::fill("{} must not be accessible to group or other users", {name}));
  return {};
}

std::expected<void, std::string> check_store_parent(const std::filesystem::path& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(os_error(errno));
  if (!S_ISDIR(st.st_mode)) return std::unexpected(std::string("SSH host-key store parent must be a real directory"));
  return ensure_private_mode(st, "SSH host-key store parent");
}

std::expected<void, std::string> check_store_file(const std::filesystem::path& file) {
  std::filesystem::path parent = parent_of(file);
  if (parent.empty()) return std::unexpected(std::string("SSH host-key store has no private parent directory"));
  if (auto ok = check_store_parent(parent); !ok) return ok;
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return std::unexpected(os_error(errno));
  }
  if (!S_ISREG(st.st_mode)) return std::unexpected(std::string("SSH host-key store must be a regular file"));
  return ensure_private_mode(st, "SSH host-key store");
}

std::expected<std::filesystem::path, std::string> known_hosts_path() {
  if (const char* named = std::getenv("REMOTE_SSH_KNOWN_HOSTS")) {
    std::filesystem::path file(named);
    if (auto ok = check_store_file(file); !ok) return std::unexpected(ok.error());
    return file;
  }
  std::filesystem::path base;
  if (const char* state = std::getenv("XDG_STATE_HOME")) {
    base = state;
  } else if (const char* home = std::getenv("HOME")) {
    base = std::filesystem::path(home) / ".local" / "state";
  } else {
    return std::unexpected(std::string("no private state directory is available for SSH host trust"));
  }
  std::filesystem::path dir = base / "vesk" / "remote";
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return std::unexpected(os_error(errno));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return std::unexpected(os_error(ec.value()));
    if (::chmod(dir.c_str(), 0700) != 0) return std::unexpected(os_error(errno));
  }
  if (auto ok = check_store_parent(dir); !ok) return std::unexpected(ok.error());
  std::filesystem::path file = dir / "known-hosts.json";
  if (auto ok = check_store_file(file); !ok) return std::unexpected(ok.error());
  return file;
}

std::expected<std::string, std::string> KnownHosts::to_json(const KnownHosts& store) {
  json::Writer w(2);
  w.begin_object();
  w.key("entries");
  w.begin_array();
  for (const auto& entry : store.entries) {
    w.begin_object();
    w.key("host");
    w.string(entry.host);
    w.key("port");
    w.unsigned_integer(entry.port);
    w.key("identity");
    w.begin_object();
    w.key("algorithm");
    w.string(entry.identity.algorithm);
    w.key("fingerprint");
    w.string(entry.identity.fingerprint);
    w.end_object();
    w.end_object();
  }
  w.end_array();
  w.end_object();
  return std::move(w).finish();
}

std::expected<KnownHosts, std::string> KnownHosts::from_json(std::string_view text) {
  return json::read_document<KnownHosts>(text, read_store);
}

std::expected<KnownHosts, std::string> KnownHosts::load(const std::filesystem::path& path) {
  if (auto ok = check_store_file(path); !ok) return std::unexpected(ok.error());
  auto bytes = read_store_file(path);
  if (!bytes) return std::unexpected(bytes.error());
  if (!*bytes) return KnownHosts{};
  return from_json(**bytes);
}

std::expected<void, std::string> KnownHosts::save(const std::filesystem::path& path, const KnownHosts& store) {
  if (auto ok = check_store_file(path); !ok) return ok;
  auto text = to_json(store);
  if (!text) return std::unexpected(text.error());
  auto bytes = std::as_bytes(std::span(text->data(), text->size()));
  std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  auto written = atomic_file::write_with_mode(path, view, 0600);
  if (!written) return std::unexpected(written.error());
  // The pins are in place; only their durability is in doubt.
  if (written->warning) spdlog::warn("SSH host-key store saved, but {}", *written->warning);
  return check_store_file(path);
}

std::optional<HostKeyObservation> KnownHosts::check(std::string_view host, std::uint16_t port,
                                                    const HostKeyIdentity& presented) const {
  for (const auto& entry : entries) {
    if (entry.host != host || entry.port != port) continue;
    if (entry.identity == presented) return std::nullopt;
    return HostKeyObservation{ChangedHostKey{entry.identity, presented}};
  }
  return HostKeyObservation{UnknownHostKey{presented}};
}

std::expected<void, std::string> KnownHosts::trust(const std::filesystem::path& path, std::string_view host,
                                                   std::uint16_t port, const HostKeyIdentity& identity) {
  auto store = load(path);
  if (!store) return std::unexpected(store.error());
  for (const auto& entry : store->entries) {
    if (entry.host != host || entry.port != port) continue;
    if (entry.identity == identity) return {};
    return std::unexpected(std::string("a different trusted host key already exists; forget it before retrusting"));
  }
  store->entries.push_back(KnownHostEntry{std::string(host), port, identity});
  return save(path, *store);
}

std::expected<bool, std::string> KnownHosts::forget(const std::filesystem::path& path, std::string_view host,
                                                    std::uint16_t port) {
  auto store = load(path);
  if (!store) return std::unexpected(store.error());
  std::vector<KnownHostEntry> kept;
  kept.reserve(store->entries.size());
  for (auto& entry : store->entries) {
    if (keeps_entry_on_forget(entry, host, port)) kept.push_back(std::move(entry));
  }
  if (kept.size() == store->entries.size()) return false;
  store->entries = std::move(kept);
  if (auto saved = save(path, *store); !saved) return std::unexpected(saved.error());
  return true;
}

}  // namespace remote::ssh
