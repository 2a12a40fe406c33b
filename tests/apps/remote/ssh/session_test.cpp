// The SSH worker and its UI handle against real servers (OpenSSH sshd and
// dropbear), started by the fixtures on 127.0.0.1.

#include "apps/remote/src/ssh/session.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "apps/remote/src/vt/cell.hpp"
#include "apps/remote/src/vt/terminal.hpp"
#include "tests/apps/remote/ssh/peers.hpp"

// Every close() of the process comes here (libssh's included); a worker's
// close of a descriptor that is no longer open is counted. A descriptor
// closed twice shows up as EBADF while no other thread reuses the number.
std::atomic<int> g_worker_double_closes{0};

extern "C" int close(int fd) {
  const long rc = ::syscall(SYS_close, fd);
  if (rc != 0 && errno == EBADF) {
    char name[16] = {};
    ::prctl(PR_GET_NAME, name);
    if (std::strcmp(name, "remote-ssh") == 0) g_worker_double_closes.fetch_add(1);
  }
  return static_cast<int>(rc);
}

namespace {

namespace sync = remote::sync;

using namespace remote::ssh;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Kind = SessionStatus::Kind;

std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// The visible screen, rows joined by newlines, trailing empty rows dropped.
std::string screen(const remote::vt::Terminal& terminal) {
  std::vector<std::string> rows;
  for (std::size_t r = 0; r < terminal.rows(); ++r) {
    std::string row;
    remote::vt::push_cell_chars(row, terminal.visible_row(r));
    rows.push_back(row);
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  std::string out;
  for (std::size_t i = 0; i < rows.size(); ++i) out += (i ? "\n" : "") + rows[i];
  return out;
}

// Live "remote-ssh" threads of this process.
int worker_threads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (slurp(task.path() / "comm") == "remote-ssh\n") ++count;
  }
  return count;
}

// True when every "remote-ssh" thread is asleep (waiting, not running or
// runnable).
bool workers_asleep() {
  bool any = false;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (slurp(task.path() / "comm") != "remote-ssh\n") continue;
    const std::string stat = slurp(task.path() / "stat");
    const auto paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size()) return false;
    if (stat[paren + 2] != 'S') return false;
    any = true;
  }
  return any;
}

// Waits until the worker has stopped making progress: asleep, with
// `progress` unchanged, on three looks in a row. What it waits for then is
// something only the test (or the server) can give, however slow the machine.
bool wait_until_stalled(const std::function<std::size_t()>& progress) {
  std::optional<std::size_t> last;
  int quiet = 0;
  return sshtest::wait_until([&] {
    const bool asleep = workers_asleep();
    const std::size_t now = progress();
    quiet = asleep && last == now ? quiet + 1 : 0;
    last = now;
    return quiet >= 2;
  });
}

// Acknowledgements that have arrived, in order: an item's result arrives
// only after every earlier item's.
std::size_t count_acknowledged(std::vector<sync::OneshotReceiver<AckResult>>& acks,
                               std::vector<std::optional<AckResult>>& results) {
  results.resize(acks.size());
  std::size_t n = 0;
  for (std::size_t i = 0; i < acks.size(); ++i) {
    if (!results[i]) {
      if (auto got = acks[i].try_recv()) results[i] = *got;
    }
    if (results[i]) ++n;
  }
  return n;
}

// CPU time of the calling thread: unlike the wall clock, a loaded machine
// does not add to it.
std::chrono::nanoseconds thread_cpu_time() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// A private pin store and the parameters for one server.
struct Client {
  sshtest::TempDir tmp;
  std::filesystem::path pins;
  sshtest::TestUser user = sshtest::ensure_test_user();

  Client() {
    auto dir = tmp.path() / "state";
    std::filesystem::create_directory(dir);
    ::chmod(dir.c_str(), 0700);
    pins = dir / "known-hosts.json";
  }

  SshSessionParams params(std::uint16_t port, SshCredentials credentials) const {
    return SshSessionParams{"127.0.0.1", user.name, pins, std::move(credentials), port, 80, 24};
  }
  SshSessionParams password_params(std::uint16_t port) const {
    return params(port, PasswordCredentials{user.password});
  }
  void trust(std::uint16_t port, const std::string& algorithm, const std::string& fingerprint) const {
    ASSERT_TRUE(KnownHosts::trust(pins, "127.0.0.1", port, {algorithm, fingerprint}));
  }
};

std::unique_ptr<SshSession> start(SshSessionParams params, PumpTimings timings = {}) {
  auto session = SshSession::start(std::move(params), std::move(timings));
  EXPECT_TRUE(session) << session.error();
  return session ? std::move(*session) : nullptr;
}

// Waits (draining output, as the paint pass would) until the status leaves `from`.
SessionStatus settle(SshSession& session, Kind from) {
  sshtest::wait_until([&] {
    session.pump_output();
    return session.status().kind != from;
  });
  session.pump_output();
  return session.status();
}

SessionStatus final_status(SshSession& session) {
  sshtest::wait_until([&] {
    session.pump_output();
    auto kind = session.status().kind;
    return kind == Kind::Ended || kind == Kind::Failed;
  });
  session.pump_output();
  return session.status();
}

bool wait_for_screen(SshSession& session, const std::string& text) {
  return sshtest::wait_until([&] {
    session.pump_output();
    return screen(session.terminal()).find(text) != std::string::npos;
  });
}

// The fixtures create a local account and run servers: root only (as in CI).
class SshPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create the test account";
  }
  // Workers are detached: one still saying goodbye when the process exits
  // would race the crypto library's own cleanup.
  void TearDown() override {
    sshtest::wait_until([] { return worker_threads() == 0; }, std::chrono::seconds(5));
  }
};

TEST_F(SshPeer, HostKeyTrustFlowAgainstSshd) {
  sshtest::Sshd sshd;
  Client client;
  const std::string host_fp = sshd.host_fingerprint();
  const auto port = sshd.port();
  const std::string target = "127.0.0.1:" + std::to_string(port);

  // Unknown key: refused before any credential, observation as ssh-keygen sees it.
  auto first = start(client.password_params(port));
  ASSERT_TRUE(first);
  EXPECT_EQ(final_status(*first),
            SessionStatus::failed("SSH host key for " + target + " needs explicit trust: ssh-ed25519 " + host_fp));
  EXPECT_EQ(first->host_key_observation(), (HostKeyObservation{UnknownHostKey{{"ssh-ed25519", host_fp}}}));
  EXPECT_THAT(slurp(sshd.dir() / "sshd.log"), ::testing::Not(HasSubstr("password for")));

  // Trust, reconnect, and an acknowledged send reaches the shell.
  const auto unknown = first->host_key_observation()->unknown()->presented;
  ASSERT_TRUE(KnownHosts::trust(client.pins, "127.0.0.1", port, unknown));
  auto second = start(client.password_params(port));
  ASSERT_TRUE(second);
  ASSERT_EQ(settle(*second, Kind::Connecting), SessionStatus::connected());
  const auto marker = sshd.out_dir() / "from-send-text";
  auto ack = second->send_input_acknowledged(bytes_of("echo delivered > " + marker.string() + "\n"));
  ASSERT_TRUE(ack) << ack.error();
  std::optional<AckResult> result;
  sshtest::wait_until([&] {
    second->pump_output();
    auto got = ack->try_recv();
    if (got) result = *got;
    return result.has_value();
  });
  ASSERT_TRUE(result);
  EXPECT_TRUE(*result);
  EXPECT_TRUE(sshtest::wait_until([&] { return slurp(marker) == "delivered\n"; }));
  second.reset();

  // The server's key is replaced: blocked, pins unchanged, then forgotten.
  sshd.replace_host_key("ecdsa");
  const std::string new_fp = sshd.host_fingerprint();
  const std::string pins_before = slurp(client.pins);
  auto third = start(client.password_params(port));
  ASSERT_TRUE(third);
  EXPECT_EQ(final_status(*third),
            SessionStatus::failed("SSH host key changed for " + target + ". Expected ssh-ed25519 " + host_fp +
                                  "; received ecdsa-sha2-nistp256 " + new_fp + ". Connection blocked."));
  EXPECT_EQ(third->host_key_observation(),
            (HostKeyObservation{ChangedHostKey{{"ssh-ed25519", host_fp}, {"ecdsa-sha2-nistp256", new_fp}}}));
  EXPECT_EQ(slurp(client.pins), pins_before);
  EXPECT_EQ(KnownHosts::forget(client.pins, "127.0.0.1", port), true);

  auto fourth = start(client.password_params(port));
  ASSERT_TRUE(fourth);
  EXPECT_EQ(final_status(*fourth).message,
            "SSH host key for " + target + " needs explicit trust: ecdsa-sha2-nistp256 " + new_fp);
}

TEST_F(SshPeer, AuthenticationMethods) {
  sshtest::Sshd sshd;
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  const auto keys = client.tmp.path();
  sshtest::make_key(keys / "ed", "ed25519");
  sshtest::make_key(keys / "ec", "ecdsa");
  sshtest::make_key(keys / "locked", "ed25519", "open sesame");
  sshtest::make_key(keys / "stranger", "ed25519");
  for (const char* name : {"ed", "ec", "locked"}) sshd.authorize(keys / (std::string(name) + ".pub"));

  struct Case {
    const char* label;
    SshCredentials credentials;
    SessionStatus expected;  // for Failed, the message's beginning
  };
  const std::string locked = (keys / "locked").string();
  const std::string missing = (keys / "missing").string();
  const Case cases[] = {
      {"password", PasswordCredentials{client.user.password}, SessionStatus::connected()},
      {"wrong password", PasswordCredentials{"wrong"}, SessionStatus::failed("Authentication failed")},
      {"empty password", PasswordCredentials{""}, SessionStatus::failed("Authentication failed")},
      {"ed25519 key", KeyCredentials{keys / "ed", std::nullopt}, SessionStatus::connected()},
      {"ecdsa key", KeyCredentials{keys / "ec", std::nullopt}, SessionStatus::connected()},
      {"encrypted key", KeyCredentials{keys / "locked", "open sesame"}, SessionStatus::connected()},
      {"encrypted key, no passphrase", KeyCredentials{keys / "locked", std::nullopt},
       SessionStatus::failed("load key " + locked + ": ")},
      {"encrypted key, wrong passphrase", KeyCredentials{keys / "locked", "nope"},
       SessionStatus::failed("load key " + locked + ": ")},
      {"missing key file", KeyCredentials{keys / "missing", std::nullopt},
       SessionStatus::failed("load key " + missing + ": No such file or directory")},
      {"key the server does not know", KeyCredentials{keys / "stranger", std::nullopt},
       SessionStatus::failed("Authentication failed")},
  };
  for (const auto& c : cases) {
    auto session = start(client.params(sshd.port(), c.credentials));
    ASSERT_TRUE(session);
    auto status = settle(*session, Kind::Connecting);
    EXPECT_EQ(status.kind, c.expected.kind) << c.label << ": " << status.message;
    EXPECT_THAT(status.message, StartsWith(c.expected.message)) << c.label;
  }
}

TEST_F(SshPeer, ScriptedShellOutputReachesTheGridWhole) {
  // Output that ends with the command: nothing buffered ahead of the close is lost.
  sshtest::Sshd sshd({.force_command = "printf 'hello\\033[1;31m red\\033[0m\\r\\nsecond line\\r\\n'"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  EXPECT_EQ(final_status(*session), SessionStatus::ended());
  EXPECT_EQ(screen(session->terminal()), "hello red\nsecond line");
  EXPECT_TRUE(session->terminal().row(0)[6].bold);

  // After the end: nothing more arrives and every send is refused.
  EXPECT_FALSE(session->pump_output());
  EXPECT_EQ(session->send_input(bytes_of("x")),
            (std::expected<void, std::string>(std::unexpected("SSH session input channel is closed"))));
  auto ack = session->send_input_acknowledged(bytes_of("x"));
  ASSERT_FALSE(ack);
  EXPECT_EQ(ack.error(), "SSH session input channel is closed");
  EXPECT_EQ(session->status(), SessionStatus::ended());
}

TEST_F(SshPeer, RefusedPtyIsNotFatal) {
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "echo no-pty-here"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  EXPECT_EQ(final_status(*session), SessionStatus::ended());
  EXPECT_EQ(screen(session->terminal()), "no-pty-here");
}

TEST_F(SshPeer, StoreUnavailableAndRefusedConnect) {
  sshtest::Sshd sshd;
  Client client;
  {
    std::ofstream(client.pins) << "{\"entries\": [ }";
    ::chmod(client.pins.c_str(), 0600);
  }
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  auto status = final_status(*session);
  EXPECT_THAT(status.message, StartsWith("SSH host-key store is unavailable: "));
  EXPECT_THAT(status.message, HasSubstr("line 1 column"));
  ASSERT_TRUE(session->host_key_observation());
  EXPECT_TRUE(session->host_key_observation()->store_unavailable());

  // A port nobody listens on.
  auto refused = start(client.password_params(1));
  ASSERT_TRUE(refused);
  EXPECT_EQ(final_status(*refused), SessionStatus::failed("connect: Connection refused"));
  EXPECT_EQ(refused->host_key_observation(), std::nullopt);
}

TEST_F(SshPeer, InputLimitsAndBackPressure) {
  // No pty: the shell's stdin is a pipe, so `cat` writes every byte as sent.
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "cat > {out}/received"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());

  // A stopped server accepts the connection and never speaks: the worker
  // waits in the handshake and the input queue fills.
  sshd.pause();
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  using Result = std::expected<void, std::string>;
  EXPECT_EQ(session->send_input(std::vector<std::uint8_t>{}), Result(std::unexpected("SSH input cannot be empty")));
  EXPECT_EQ(session->send_input(std::vector<std::uint8_t>(65537, 'x')),
            Result(std::unexpected("SSH input exceeds the 64 KiB per-operation limit")));

  std::string expected;
  std::vector<std::uint8_t> big(65536, 'b');
  ASSERT_TRUE(session->send_input(big));
  expected.append(big.begin(), big.end());
  for (int i = 1; i < 255; ++i) {
    std::string line = "line " + std::to_string(i) + "\n";
    ASSERT_TRUE(session->send_input(bytes_of(line))) << i;
    expected += line;
  }
  auto last_ack = session->send_input_acknowledged(bytes_of("last\n"));
  ASSERT_TRUE(last_ack);
  expected += "last\n";
  const std::string busy = "SSH input is busy; wait for the remote session to catch up";
  EXPECT_EQ(session->send_input(bytes_of("one too many")), Result(std::unexpected(busy)));
  auto refused_ack = session->send_input_acknowledged(bytes_of("one too many"));
  ASSERT_FALSE(refused_ack);
  EXPECT_EQ(refused_ack.error(), busy);
  EXPECT_EQ(session->status(), SessionStatus::connecting());

  // The server wakes: all 256 items arrive, in order.
  sshd.resume();
  std::optional<AckResult> result;
  sshtest::wait_until([&] {
    session->pump_output();
    if (auto got = last_ack->try_recv()) result = *got;
    return result.has_value();
  });
  ASSERT_TRUE(result);
  EXPECT_TRUE(*result);
  EXPECT_EQ(session->status(), SessionStatus::connected());

  // cat writes what it reads, in order, while the session stays open.
  const auto received = sshd.out_dir() / "received";
  EXPECT_TRUE(sshtest::wait_until([&] {
    session->pump_output();
    return slurp(received).size() >= expected.size();
  })) << slurp(received).size()
      << " of " << expected.size();
  EXPECT_TRUE(slurp(received) == expected);
}

TEST_F(SshPeer, ConnectionBreakingDuringAWriteFailsTheSession) {
  // The command never reads, so the server's window closes and the worker
  // ends up waiting inside a write when the connection is cut.
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "exec sleep 600"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  ASSERT_EQ(settle(*session, Kind::Connecting), SessionStatus::connected());
  std::vector<sync::OneshotReceiver<AckResult>> acks;
  for (int i = 0; i < 64; ++i) {  // 4 MiB, twice the server's window
    auto ack = session->send_input_acknowledged(std::vector<std::uint8_t>(65536, 'z'));
    ASSERT_TRUE(ack) << ack.error();
    acks.push_back(std::move(*ack));
  }
  // The window shuts: the worker waits inside a write.
  std::vector<std::optional<AckResult>> results;
  ASSERT_TRUE(wait_until_stalled([&] { return count_acknowledged(acks, results); }));
  ASSERT_LT(count_acknowledged(acks, results), acks.size());

  sshd.kill_sessions();
  auto status = final_status(*session);
  ASSERT_EQ(status.kind, Kind::Failed);
  EXPECT_FALSE(status.message.empty());

  // Delivered items were acknowledged, the one being written got the error,
  // and the rest closed without a result.
  std::size_t i = 0;
  for (; i < acks.size(); ++i) {
    auto got = results[i];
    if (!got) {
      auto received = acks[i].try_recv();
      ASSERT_TRUE(received) << i;
      got = *received;
    }
    if (!*got) {
      EXPECT_EQ(got->error(), status.message);
      break;
    }
  }
  ASSERT_LT(i, acks.size());
  for (++i; i < acks.size(); ++i) EXPECT_EQ(acks[i].try_recv().error(), sync::RecvError::Closed) << i;
}

TEST_F(SshPeer, DroppingTheHandleEndsTheWorker) {
  sshtest::Sshd sshd;
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto started = SshWorkerEnds::start(client.password_params(sshd.port()));
  ASSERT_TRUE(started) << started.error();
  std::optional<SshWorkerEnds> ends(std::move(*started));
  auto status = ends->status;
  ASSERT_TRUE(sshtest::wait_until([&] {
    while (ends->output.try_recv()) {
    }
    return status->get()->kind != Kind::Connecting;
  }));
  ASSERT_EQ(*status->get(), SessionStatus::connected());
  ends.reset();  // closes both queues
  EXPECT_TRUE(sshtest::wait_until([&] { return status->get()->kind == Kind::Ended; }));
  // The goodbye reaches the server: reason 11, disconnected by application.
  const auto log = sshd.dir() / "sshd.log";
  EXPECT_TRUE(sshtest::wait_until([&] {
    return slurp(log).find("Received disconnect from 127.0.0.1") != std::string::npos;
  })) << slurp(log);
  EXPECT_THAT(slurp(log), ::testing::ContainsRegex("Received disconnect from 127\\.0\\.0\\.1 port [0-9]+:11:"));
}

TEST_F(SshPeer, OutputIsHeldBackNotLostWhileUndrained) {
  // About 6 MiB of numbered lines: more than the 128-chunk queue holds.
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "seq 1 800000"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto ends = SshWorkerEnds::start(client.password_params(sshd.port()));
  ASSERT_TRUE(ends);
  ASSERT_TRUE(sshtest::wait_until([&] { return ends->output.size() == kOutputQueueCapacity; }));
  ASSERT_TRUE(wait_until_stalled([&] { return ends->output.size(); }));
  EXPECT_EQ(ends->output.size(), kOutputQueueCapacity);  // the worker waits, nothing is dropped

  std::string received;
  sshtest::wait_until(
      [&] {
        while (auto chunk = ends->output.try_recv()) received.append(chunk->begin(), chunk->end());
        return ends->current_status().kind == Kind::Ended && ends->output.size() == 0;
      },
      std::chrono::seconds(60));
  while (auto chunk = ends->output.try_recv()) received.append(chunk->begin(), chunk->end());
  EXPECT_EQ(ends->current_status(), SessionStatus::ended());
  auto expected = sshtest::run_command("seq 1 800000");
  ASSERT_TRUE(expected);
  EXPECT_EQ(received.size(), expected->size());
  EXPECT_TRUE(received == *expected);

  // Rekeying is for a GiB or an hour, so a few MiB take one key exchange.
  const std::string log = slurp(sshd.dir() / "sshd.log");
  std::size_t exchanges = 0;
  for (auto at = log.find("SSH2_MSG_KEXINIT received"); at != std::string::npos;
       at = log.find("SSH2_MSG_KEXINIT received", at + 1)) {
    ++exchanges;
  }
  EXPECT_EQ(exchanges, 1u);
}

TEST_F(SshPeer, AcknowledgedInputCompletesWhileOutputIsDrainedEachFrame) {
  // A server that never stops talking: only a drained output queue lets the
  // worker reach the input queue.
  sshtest::Sshd sshd({.force_command = "yes flood"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  ASSERT_EQ(settle(*session, Kind::Connecting), SessionStatus::connected());

  // Undrained, the worker waits on the full output queue and the item stays
  // queued.
  const auto queued = [&] { return session->queued_output_chunks(); };
  ASSERT_TRUE(sshtest::wait_until([&] { return queued() == kOutputQueueCapacity; }, std::chrono::seconds(60)));
  auto ack = session->send_input_acknowledged(bytes_of("typed\n"));
  ASSERT_TRUE(ack);
  ASSERT_TRUE(wait_until_stalled(queued));
  EXPECT_EQ(queued(), kOutputQueueCapacity);
  EXPECT_EQ(ack->try_recv().error(), sync::RecvError::Empty);

  // Drained once per frame (each wait is about one), the acknowledgement arrives.
  std::optional<AckResult> result;
  sshtest::wait_until([&] {
    session->pump_output();
    if (auto got = ack->try_recv()) result = *got;
    return result.has_value();
  });
  ASSERT_TRUE(result);
  EXPECT_TRUE(*result);
  EXPECT_THAT(screen(session->terminal()), HasSubstr("flood"));
}

// CPU seconds spent so far by the live "remote-ssh" threads (user and system).
double worker_cpu_seconds() {
  double ticks = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (slurp(task.path() / "comm") != "remote-ssh\n") continue;
    const std::string stat = slurp(task.path() / "stat");
    const auto after_name = stat.rfind(')');
    if (after_name == std::string::npos) continue;
    std::istringstream fields(stat.substr(after_name + 2));
    std::string field;
    // From the state (field 3), utime and stime are fields 14 and 15.
    for (int i = 3; i < 14 && fields >> field; ++i) {
    }
    double utime = 0, stime = 0;
    if (fields >> utime >> stime) ticks += utime + stime;
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TEST_F(SshPeer, ServerThatHangsUpDuringTheHandshakeEndsTheSessionAtOnce) {
  struct Case {
    const char* label;
    int max_auth_tries;
    std::string extra_config;
    std::string password;
    std::string failure;  // the status text's beginning
  };
  const sshtest::TestUser user = sshtest::ensure_test_user();
  const std::vector<Case> cases = {
      // With one try allowed, sshd answers a wrong password by disconnecting.
      {"wrong password, one try", 1, "", "wrong", "Authentication failed: Too many authentication failures"},
      {"empty password, one try", 1, "", "", "Authentication failed: Too many authentication failures"},
      // No key exchange method in common: it ends during the key exchange.
      {"no common key exchange", 0, "KexAlgorithms diffie-hellman-group1-sha1\n", user.password, "connect: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    sshtest::SshdOptions options;
    options.max_auth_tries = c.max_auth_tries;
    options.extra_config = c.extra_config;
    sshtest::Sshd sshd(options);
    Client client;
    client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
    auto session = start(client.params(sshd.port(), PasswordCredentials{c.password}));
    ASSERT_TRUE(session);
    // The worker's CPU, read while it runs: a worker spinning on a closed
    // descriptor burns a whole core until the handshake limit.
    double cpu = 0;
    const bool settled = sshtest::wait_until(
        [&] {
          cpu = std::max(cpu, worker_cpu_seconds());
          return session->status().kind != Kind::Connecting;
        },
        std::chrono::seconds(kHandshakeTimeoutSeconds / 3));
    ASSERT_TRUE(settled) << "still connecting after " << kHandshakeTimeoutSeconds / 3 << " s";
    const auto status = session->status();
    EXPECT_EQ(status.kind, Kind::Failed);
    EXPECT_THAT(status.message, StartsWith(c.failure));
    EXPECT_LT(cpu, 0.1);
    sshtest::wait_until([] { return worker_threads() == 0; }, std::chrono::seconds(5));
  }
}

TEST_F(SshPeer, SilentPeerCannotHoldTheHandshake) {
  // Listens, and the kernel completes the TCP handshake, but nobody ever speaks.
  sshtest::SilentListener listener;
  Client client;
  auto session = start(client.password_params(listener.port()));
  ASSERT_TRUE(session);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(session->status(), SessionStatus::connecting());
  sshtest::wait_until([&] { return session->status().kind != Kind::Connecting; },
                      std::chrono::seconds(kHandshakeTimeoutSeconds + 15));
  auto status = session->status();
  EXPECT_EQ(status.kind, Kind::Failed);
  EXPECT_THAT(status.message, StartsWith("connect: "));
}

TEST_F(SshPeer, DropbearConnectAndRun) {
  sshtest::Dropbear dropbear;
  Client client;
  client.trust(dropbear.port(), "ssh-ed25519", dropbear.host_fingerprint());
  auto session = start(client.password_params(dropbear.port()));
  ASSERT_TRUE(session);
  ASSERT_EQ(settle(*session, Kind::Connecting), SessionStatus::connected());
  ASSERT_TRUE(session->send_input(bytes_of("echo sum=$((40+2))\n")));
  EXPECT_TRUE(wait_for_screen(*session, "sum=42"));
  ASSERT_TRUE(session->send_input(bytes_of("exit\n")));
  EXPECT_EQ(final_status(*session), SessionStatus::ended());
}

TEST_F(SshPeer, FloodingServerLeavesEveryFrameItsTime) {
  // A run of full-screen erases, as fast as sshd can send it: each costs a
  // whole grid, so applying everything queued would hold the frame for seconds.
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "exec yes \"$(printf '\\033[2J')\""});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  const int before = worker_threads();
  // The pump's clock steps 1 ms at every reading, so what one pump may do
  // is fixed, however fast the machine: a reading for the deadline, then one
  // after each slice until the budget is spent.
  using Clock = PumpTimings::Clock;
  Clock::time_point fake{};
  int readings = 0;
  const auto stepping = [&] {
    ++readings;
    return fake += std::chrono::milliseconds(1);
  };
  auto session = start(client.password_params(sshd.port()), {.budget = std::chrono::milliseconds(4), .now = stepping});
  ASSERT_TRUE(session);
  ASSERT_EQ(settle(*session, Kind::Connecting), SessionStatus::connected());

  struct Case {
    std::chrono::microseconds budget;
    int readings;  // per pump
  };
  const Case cases[] = {{std::chrono::milliseconds(4), 5}, {std::chrono::microseconds(0), 2}};
  for (const Case& c : cases) {
    session->set_pump_timings({.budget = c.budget, .now = stepping});
    for (int frame = 0; frame < 30; ++frame) {
      // The worker has refilled the queue: far more waits than a pump takes.
      ASSERT_TRUE(sshtest::wait_until([&] { return session->queued_output_chunks() == kOutputQueueCapacity; }))
          << frame;
      readings = 0;
      EXPECT_TRUE(session->pump_output());
      EXPECT_EQ(readings, c.readings) << frame;
      EXPECT_TRUE(session->output_pending());
    }
  }
  EXPECT_EQ(session->status(), SessionStatus::connected());

  // Disconnect: the handle goes at once (it waits for nothing, so it costs
  // little time of this thread and little more on the wall) and the worker
  // follows.
  const auto cpu0 = thread_cpu_time();
  const auto t0 = Clock::now();
  session.reset();
  EXPECT_LT(thread_cpu_time() - cpu0, std::chrono::milliseconds(33));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  EXPECT_TRUE(sshtest::wait_until([&] { return worker_threads() == before; }));
}

TEST_F(SshPeer, OutputSpreadOverFramesBuildsTheSameGrid) {
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "printf '\\033[31m'; seq 1 150000"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  // One slice per pump, of a size that cuts lines anywhere: the output
  // needs many pumps however fast the machine.
  auto session =
      start(client.password_params(sshd.port()), {.budget = std::chrono::microseconds(0), .slice_bytes = 4093});
  ASSERT_TRUE(session);
  int pumps = 0;
  ASSERT_TRUE(sshtest::wait_until(
      [&] {
        for (int frame = 0; frame < 16; ++frame) {
          if (session->pump_output()) ++pumps;
        }
        return session->status().kind == Kind::Ended && !session->output_pending();
      },
      std::chrono::seconds(60)));
  auto expected = sshtest::run_command("printf '\\033[31m'; seq 1 150000");
  ASSERT_TRUE(expected);
  remote::vt::Terminal whole(80, 24);
  whole.feed(*expected);
  EXPECT_EQ(screen(session->terminal()), screen(whole));
  EXPECT_EQ(session->terminal().visible_rows(), whole.visible_rows());
  EXPECT_GE(pumps, static_cast<int>(expected->size() / 4093));
}

TEST_F(SshPeer, DroppedHandleEndsAWorkerWaitingForTheWindow) {
  // The command never reads: the server's window shuts and the worker waits
  // with input still queued.
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "exec sleep 600"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  const int before = worker_threads();
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  ASSERT_EQ(settle(*session, Kind::Connecting), SessionStatus::connected());
  std::vector<sync::OneshotReceiver<AckResult>> acks;
  for (int i = 0; i < 200; ++i) {
    auto ack = session->send_input_acknowledged(std::vector<std::uint8_t>(65536, 'w'));
    ASSERT_TRUE(ack) << i;
    acks.push_back(std::move(*ack));
  }
  std::vector<std::optional<AckResult>> results;
  ASSERT_TRUE(wait_until_stalled([&] { return count_acknowledged(acks, results); }));
  ASSERT_LT(count_acknowledged(acks, results), acks.size());
  ASSERT_EQ(worker_threads(), before + 1);

  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  session.reset();
  ASSERT_TRUE(sshtest::wait_until([&] { return worker_threads() == before; }));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  EXPECT_LT(took, std::chrono::seconds(1));
  std::cout << "worker ended " << took.count() << " ms after the drop\n";
}

TEST_F(SshPeer, NothingQueuedIsWrittenAfterTheDrop) {
  sshtest::Sshd sshd({.permit_tty = false, .force_command = "cat > {out}/received"});
  Client client;
  client.trust(sshd.port(), "ssh-ed25519", sshd.host_fingerprint());
  auto session = start(client.password_params(sshd.port()));
  ASSERT_TRUE(session);
  ASSERT_EQ(settle(*session, Kind::Connecting), SessionStatus::connected());
  // The server stops reading: buffers and window fill, most items stay queued.
  sshd.pause_sessions();
  constexpr std::size_t kItem = 65536;
  std::vector<sync::OneshotReceiver<AckResult>> acks;
  for (int i = 0; i < 200; ++i) {
    auto ack = session->send_input_acknowledged(std::vector<std::uint8_t>(kItem, 'q'));
    ASSERT_TRUE(ack) << ack.error();
    acks.push_back(std::move(*ack));
  }
  std::vector<std::optional<AckResult>> results;
  ASSERT_TRUE(wait_until_stalled([&] { return count_acknowledged(acks, results); }));
  const std::size_t written = count_acknowledged(acks, results);
  ASSERT_LT(written, acks.size());
  session.reset();

  // The server wakes: it gets at most what was written before the drop.
  sshd.resume_sessions();
  ASSERT_TRUE(sshtest::wait_until([&] { return !sshd.has_sessions(); }, std::chrono::seconds(30)));
  const auto received = std::filesystem::file_size(sshd.out_dir() / "received");
  EXPECT_LE(received, (written + 1) * kItem) << written << " items acknowledged before the drop";
}

TEST_F(SshPeer, EveryDescriptorIsClosedOnce) {
  sshtest::Sshd sshd;
  Client client;
  const auto port = sshd.port();
  struct Case {
    const char* label;
    bool trusted;
    SshCredentials credentials;
    Kind end;
  };
  const Case cases[] = {
      {"host key refused", false, PasswordCredentials{client.user.password}, Kind::Failed},
      {"authentication failed", true, PasswordCredentials{"wrong"}, Kind::Failed},
      {"key file missing", true, KeyCredentials{client.tmp.path() / "missing", std::nullopt}, Kind::Failed},
      {"connected, then dropped", true, PasswordCredentials{client.user.password}, Kind::Connected},
  };
  const int before = worker_threads();
  for (const auto& c : cases) {
    if (c.trusted && !std::filesystem::exists(client.pins)) client.trust(port, "ssh-ed25519", sshd.host_fingerprint());
    g_worker_double_closes = 0;
    auto session = start(client.params(port, c.credentials));
    ASSERT_TRUE(session);
    EXPECT_EQ(settle(*session, Kind::Connecting).kind, c.end) << c.label << ": " << session->status().message;
    session.reset();
    ASSERT_TRUE(sshtest::wait_until([&] { return worker_threads() == before; })) << c.label;
    EXPECT_EQ(g_worker_double_closes.load(), 0) << c.label;
  }
}

// Runs `body` on a thread of its own whose eventfd() calls fail with `error`
// (a seccomp filter binds only the thread that installs it).
template <class F>
void run_with_eventfd_refused(int error, F&& body) {
  std::thread worker([&] {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_eventfd2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    ASSERT_EQ(::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0), 0);
    ASSERT_EQ(::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program), 0) << std::strerror(errno);
    body();
  });
  worker.join();
}

// Needs no server: both refusals come before any connection.
TEST(SshSessionStart, RefusalsBeforeConnecting) {
  sshtest::SilentListener listener(/*nonblocking=*/true);
  sshtest::TempDir tmp;
  SshSessionParams params{"127.0.0.1", "", tmp.path() / "pins.json", PasswordCredentials{"x"}, listener.port(), 80, 24};

  // USER set to the empty text: a sentence that names the problem.
  auto session = SshSession::start(params);
  ASSERT_TRUE(session) << session.error();
  sshtest::wait_until([&] { return (*session)->status().kind != Kind::Connecting; });
  EXPECT_EQ((*session)->status(),
            SessionStatus::failed("No user name for the SSH login: the profile names none and USER is empty"));
  EXPECT_LT(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC), 0) << "the worker connected";

  // The system refuses the input queue's wake-up eventfd: the start fails
  // with its message instead of starting a worker that would never wake.
  std::expected<sync::QueueReceiver<int>, std::string> queue;
  std::expected<std::unique_ptr<SshSession>, std::string> starved;
  params.user = "someone";
  run_with_eventfd_refused(EMFILE, [&] {
    auto made = sync::bounded_queue_with_wake<int>(4);
    if (made) {
      queue = std::move(made->second);
    } else {
      queue = std::unexpected(made.error());
    }
    starved = SshSession::start(params);
  });
  ASSERT_FALSE(queue);
  EXPECT_EQ(queue.error(), std::strerror(EMFILE));
  ASSERT_FALSE(starved);
  EXPECT_EQ(starved.error(), std::strerror(EMFILE));
  EXPECT_LT(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC), 0) << "the worker connected";
}

}  // namespace
