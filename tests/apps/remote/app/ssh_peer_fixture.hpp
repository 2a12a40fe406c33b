#pragma once
// A real OpenSSH server on 127.0.0.1 with a test account, a private pin file
// and the environment a live SSH profile needs; shared by the application
// tests that talk to it.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/ssh/peers.hpp"

namespace apptest {

class SshPeerFixture : public ::testing::Test {
 protected:
  // Starts the server and fills `profile`; false when not root (the test
  // account needs it), so the caller can skip.
  bool start_peer() {
    if (::geteuid() != 0) return false;
    user = sshtest::ensure_test_user();
    sshd = std::make_unique<sshtest::Sshd>();
    auto dir = tmp.path() / "state";
    std::filesystem::create_directory(dir);
    ::chmod(dir.c_str(), 0700);
    pins = dir / "known-hosts.json";
    live.set("1");
    pin_env.set(pins.string());
    password.set(user.password);
    profile = conn("shell", ConnectionKind::Ssh, "127.0.0.1", sshd->port(), AuthKind::Password, user.name);
    return true;
  }

  ScopedEnv live{"REMOTE_LIVE_SESSIONS"};
  ScopedEnv pin_env{"REMOTE_SSH_KNOWN_HOSTS"};
  ScopedEnv password{"REMOTE_SSH_PASSWORD"};
  ScopedEnv key{"REMOTE_SSH_KEY", std::nullopt};
  sshtest::TestUser user;
  sshtest::TempDir tmp;
  std::unique_ptr<sshtest::Sshd> sshd;
  std::filesystem::path pins;
  SavedConnection profile;
};

}  // namespace apptest
