#pragma once
// Real VNC servers for tests and benchmarks: TigerVNC's Xvnc on a display and
// a port of its own, with our X client drawing a known picture.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/remote/rfb/process.hpp"

namespace rfb_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "rfb-peer-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return fs::path(path_) / name; }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 15s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

struct Xvnc {
  Process process;
  int display = -1;
  std::uint16_t port = 0;

  // Starts on a free display (the server picks it) and a free port.
  static std::optional<Xvnc> start(const std::vector<std::string>& security, std::uint16_t width = 320,
                                   std::uint16_t height = 240) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      Xvnc x;
      x.port = rfb_test::free_port();
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
      std::vector<std::string> argv{"Xvnc",
                                    "-displayfd",
                                    "3",
                                    "-rfbport",
                                    std::to_string(x.port),
                                    "-interface",
                                    "127.0.0.1",
                                    "-geometry",
                                    std::to_string(width) + "x" + std::to_string(height),
                                    "-depth",
                                    "24",
                                    "-UseBlacklist=0",
                                    "-nolisten",
                                    "tcp",
                                    "-desktop",
                                    "rfb-test"};
      argv.insert(argv.end(), security.begin(), security.end());
      Process::Options opt;
      opt.extra_fd_as_3 = fds[1];
      auto p = Process::start(argv, opt);
      ::close(fds[1]);
      if (!p) {
        ::close(fds[0]);
        return std::nullopt;
      }
      x.process = std::move(*p);
      std::string line;
      pollfd pfd{fds[0], POLLIN, 0};
      while (::poll(&pfd, 1, 20'000) > 0) {
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
        line.push_back(c);
      }
      ::close(fds[0]);
      if (line.empty()) continue;
      x.display = std::stoi(line);
      if (eventually([&] { return rfb_test::port_accepts(x.port); }, 10s)) return x;
    }
    return std::nullopt;
  }

  std::string display_name() const {
    std::string name = std::to_string(display);
    name.insert(name.begin(), ':');  // not ":" + …, which GCC 12 -O3 misreads under -Wrestrict
    return name;
  }

  std::optional<Process> draw_pattern() const {
    Process::Options opt;
    opt.pipe_stdin = true;
    opt.pipe_stdout = true;
    std::string display_env = "DISPLAY=";
    display_env += display_name();
    opt.env = {display_env};
    auto p = Process::start({RFB_X_PATTERN}, opt);
    if (!p || p->read_line() != "drawn") return std::nullopt;
    return p;
  }

  // The server's own picture of its screen, as RGB bytes.
  std::vector<std::uint8_t> screenshot(const TempDir& dir) const {
    const auto xwd = dir / "screen.xwd";
    const auto rgb = dir / "screen.rgb";
    if (!run("xwd -root -silent -display " + display_name() + " > " + xwd.string() + " && convert " + xwd.string() +
             " -depth 8 rgb:" + rgb.string())) {
      return {};
    }
    return read_file(rgb);
  }
};

}  // namespace rfb_test
