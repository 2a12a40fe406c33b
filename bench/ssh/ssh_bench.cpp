// `cat` of a 100 MiB text file through a live SSH session into the grid,
// and the same file through OpenSSH's client (`ssh ... cat file > /dev/null`)
// on the same server in the same run. Needs root (the fixture creates its
// test account and runs sshd on 127.0.0.1).

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "apps/remote/src/ssh/session.hpp"
#include "apps/remote/src/vt/cell.hpp"
#include "tests/apps/remote/ssh/peers.hpp"

namespace {

using namespace remote::ssh;

constexpr std::uint64_t kPayloadBytes = 100ull * 1024 * 1024;

// One server, one payload and one key for the whole run.
struct Rig {
  sshtest::Sshd sshd;
  sshtest::TestUser user = sshtest::ensure_test_user();
  sshtest::TempDir client_dir;
  std::filesystem::path pins;
  std::filesystem::path key;
  std::string last_line;

  explicit Rig(bool permit_tty) : sshd({.permit_tty = permit_tty, .force_command = "cat {out}/payload.txt"}) {
    // Words, SGR colour changes and line ends, like a busy build log.
    std::ofstream out(sshd.out_dir() / "payload.txt", std::ios::binary);
    const char* words[] = {"compile",
                           "link",
                           "warning:",
                           "src/app/main.cpp",
                           "ok",
                           "\x1b[32mPASS\x1b[0m",
                           "\x1b[1;31mFAIL\x1b[0m",
                           "0x7ffc",
                           "done",
                           "[",
                           "]",
                           "123456"};
    std::uint64_t written = 0;
    std::uint64_t n = 0;
    std::string line;
    while (written < kPayloadBytes) {
      line.clear();
      for (int w = 0; w < 10; ++w) {
        line += words[(n * 7 + static_cast<std::uint64_t>(w) * 3) % 12];
        line += ' ';
      }
      line += std::to_string(n++);
      line += '\n';
      if (written + line.size() > kPayloadBytes) line = std::string(kPayloadBytes - written - 1, 'x') + "\n";
      out << line;
      written += line.size();
    }
    last_line = line.substr(0, line.size() - 1);
    out.close();
    ::chmod((sshd.out_dir() / "payload.txt").c_str(), 0644);

    auto dir = client_dir.path() / "state";
    std::filesystem::create_directory(dir);
    ::chmod(dir.c_str(), 0700);
    pins = dir / "known-hosts.json";
    (void)KnownHosts::trust(pins, "127.0.0.1", sshd.port(), {"ssh-ed25519", sshd.host_fingerprint()});
    key = client_dir.path() / "id_ed25519";
    sshtest::make_key(key, "ed25519");
    sshd.authorize(key.string() + ".pub");
  }
};

Rig& rig() {
  static Rig instance(true);
  return instance;
}

// The same server refusing the pty: the bytes skip the server's tty layer,
// as they do for `ssh host cat file`.
Rig& rig_without_pty() {
  static Rig instance(false);
  return instance;
}

// Arg: 0 drains as fast as output comes; 16667 drains once per 60 Hz frame,
// as the paint pass does.
void session_cat(benchmark::State& state, Rig& r, std::chrono::microseconds frame, bool check_last_row) {
  for (auto _ : state) {
    auto session = SshSession::start(
        SshSessionParams{"127.0.0.1", r.user.name, r.pins, KeyCredentials{r.key, std::nullopt}, r.sshd.port(), 80, 24});
    if (!session) {
      state.SkipWithError(session.error().c_str());
      return;
    }
    auto& s = **session;
    while (true) {
      bool got = s.pump_output();
      auto kind = s.status().kind;
      if (kind == SessionStatus::Kind::Failed) {
        state.SkipWithError(s.status().message.c_str());
        return;
      }
      if (kind == SessionStatus::Kind::Ended && !s.pump_output()) break;
      if (frame.count() > 0) {
        std::this_thread::sleep_for(frame);
      } else if (!got) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    if (!check_last_row) continue;  // without a tty layer LF does not return the carriage
    // The last line is on the screen, one row above the cursor.
    std::string row;
    remote::vt::push_cell_chars(row, s.terminal().visible_row(s.terminal().cursor_row() - 1));
    if (row != r.last_line.substr(0, std::min<std::size_t>(80, r.last_line.size()))) {
      state.SkipWithError(("unexpected last row: " + row).c_str());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayloadBytes));
}

void BM_SessionCatIntoGrid(benchmark::State& state) {
  session_cat(state, rig(), std::chrono::microseconds(state.range(0)), true);
}

void BM_SessionCatIntoGridNoPty(benchmark::State& state) {
  session_cat(state, rig_without_pty(), std::chrono::microseconds(0), false);
}

void BM_OpenSshClientCat(benchmark::State& state) {
  Rig& r = rig();
  const std::string command = "ssh -q -p " + std::to_string(r.sshd.port()) + " -i '" + r.key.string() +
                              "' -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null " +
                              (state.range(0) ? "-tt " : "") + r.user.name + "@127.0.0.1 cat file > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ssh failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayloadBytes));
}

// No SSH at all: the same file through a local pty (script(1)), the floor any
// session with a pseudo-terminal stands on.
void BM_PtyAloneCat(benchmark::State& state) {
  Rig& r = rig();
  const std::string command =
      "script -qc \"cat '" + (r.sshd.out_dir() / "payload.txt").string() + "'\" /dev/null > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("script failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayloadBytes));
}

// One pump_output call of the paint pass while the server floods the session
// with full-screen erases as fast as it can: the frame's share stays bounded.
void BM_PumpUnderEraseFlood(benchmark::State& state) {
  static sshtest::Sshd sshd({.permit_tty = false, .force_command = "exec yes \"$(printf '\\033[2J')\""});
  Rig& r = rig();
  sshd.authorize(r.key.string() + ".pub");
  (void)KnownHosts::trust(r.pins, "127.0.0.1", sshd.port(), {"ssh-ed25519", sshd.host_fingerprint()});
  auto session = SshSession::start(
      SshSessionParams{"127.0.0.1", r.user.name, r.pins, KeyCredentials{r.key, std::nullopt}, sshd.port(), 80, 24});
  if (!session) {
    state.SkipWithError(session.error().c_str());
    return;
  }
  auto& s = **session;
  while (s.status().kind == SessionStatus::Kind::Connecting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the queue fills
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(s.pump_output());
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
  }
}

BENCHMARK(BM_PumpUnderEraseFlood)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(120)->Repetitions(5);
BENCHMARK(BM_SessionCatIntoGrid)->Arg(0)->Arg(16667)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SessionCatIntoGridNoPty)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
// 0: as `ssh host cat file`, no pty; 1: with a pty (-tt), as the session has.
BENCHMARK(BM_OpenSshClientCat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PtyAloneCat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
