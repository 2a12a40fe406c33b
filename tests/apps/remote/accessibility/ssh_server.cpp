// A real OpenSSH server on 127.0.0.1 for the AT-SPI test, whose pin file
// holds another key for it, so the application meets a changed host key.
// Prints one JSON line (port, account, password, the server's fingerprint),
// then serves until its standard input closes. Exits 77 when not root (the
// test account needs it).
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "apps/remote/src/ssh/known_hosts.hpp"
#include "tests/apps/remote/ssh/peers.hpp"

namespace {

// A pin that can never be the server's key.
constexpr const char* kStaleFingerprint = "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PIN_FILE\n", argv[0]);
    return 2;
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "needs root to create the test account\n");
    return 77;
  }
  try {
    const sshtest::TestUser user = sshtest::ensure_test_user();
    sshtest::Sshd sshd;
    if (auto pinned =
            remote::ssh::KnownHosts::trust(argv[1], "127.0.0.1", sshd.port(), {"ssh-ed25519", kStaleFingerprint});
        !pinned) {
      std::fprintf(stderr, "could not write the pin: %s\n", pinned.error().c_str());
      return 1;
    }
    const nlohmann::json line = {{"port", sshd.port()},
                                 {"user", user.name},
                                 {"password", user.password},
                                 {"fingerprint", sshd.host_fingerprint()}};
    std::cout << line.dump() << std::endl;
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ssh server: %s\n", e.what());
    return 1;
  }
}
