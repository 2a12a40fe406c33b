// The demo widget in a real SDL window on an Xvfb server of the test's own:
// injected click and key (xdotool), screenshot (ImageMagick import), colours
// at known points, the same display list as the headless host, and a quit by
// SIGTERM that saves the document and exits 0.

// GCC 12 at -O3 misreads `"literal" + std::string` as an overlapping copy.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/vesk_ui/document/persist.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/platform/vesk_ui/support/demo_widget.hpp"
#include "tests/platform/vesk_ui/support/test_env.hpp"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using vesk_ui_test::DemoLayout;
using Clock = std::chrono::steady_clock;

// A child process with extra environment; stopped by pid when dropped.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& o) noexcept : pid_(std::exchange(o.pid_, -1)) {}
  Child& operator=(Child&& o) noexcept {
    if (this != &o) {
      stop();
      pid_ = std::exchange(o.pid_, -1);
    }
    return *this;
  }
  ~Child() { stop(); }

  static Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env, int keep_fd = -1,
                     const std::string& log = "/dev/null") {
    std::vector<std::string> env_store;
    for (char** e = environ; *e; ++e) {
      const std::string kv = *e;
      bool overridden = false;
      for (const std::string& x : extra_env) {
        if (kv.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) overridden = true;
      }
      if (!overridden) env_store.push_back(kv);
    }
    for (const std::string& x : extra_env) env_store.push_back(x);
    std::vector<char*> envp, args;
    for (std::string& s : env_store) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_store = argv;
    for (std::string& s : argv_store) args.push_back(s.data());
    args.push_back(nullptr);
    Child c;
    c.pid_ = fork();
    if (c.pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
      }
      for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keep_fd) close(fd);
      }
      execvpe(args[0], args.data(), envp.data());
      _exit(127);
    }
    return c;
  }

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

  // Waits for the exit; the status, or nullopt on timeout.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!wait_exit(5s)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

std::string run(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

struct Shot {
  std::uint32_t r, g, b;
};

class Screenshot {
 public:
  explicit Screenshot(const std::string& path) : s_(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Screenshot() { cairo_surface_destroy(s_); }
  bool ok() const { return cairo_surface_status(s_) == CAIRO_STATUS_SUCCESS; }
  Shot at(int x, int y) const {
    cairo_surface_flush(s_);
    const int w = cairo_image_surface_get_width(s_), h = cairo_image_surface_get_height(s_);
    if (x < 0 || y < 0 || x >= w || y >= h) return {0, 0, 0};
    const std::uint8_t* d = cairo_image_surface_get_data(s_);
    std::uint32_t v;
    std::memcpy(&v, d + y * cairo_image_surface_get_stride(s_) + x * 4, 4);
    return {(v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF};
  }

 private:
  cairo_surface_t* s_;
};

bool near(Shot s, std::uint32_t hex) {
  auto d = [](std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; };
  return d(s.r, (hex >> 16) & 0xFF) <= 3 && d(s.g, (hex >> 8) & 0xFF) <= 3 && d(s.b, hex & 0xFF) <= 3;
}

std::string hex(Shot s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02x%02x%02x", s.r, s.g, s.b);
  return buf;
}

std::string strip_image_ids(std::string s) {
  for (std::size_t at = s.find("image#"); at != std::string::npos; at = s.find("image#", at + 6)) {
    std::size_t end = at + 6;
    while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]))) ++end;
    s.erase(at + 6, end - (at + 6));
  }
  return s;
}

class RealWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) / ("vesk_ui_window_" + std::to_string(getpid()) + "_" +
                                                          std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
    // Xvfb picks a free display itself and writes its number to the pipe,
    // so parallel tests never race for one.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb_ = Child::spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "800x600x24", "-noreset"},
        {}, fds[1], (dir_ / "xvfb.log").string());
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = Clock::now() + 15s;
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
      if (poll(&p, 1, 200) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1) break;
        number += c;
      }
    }
    close(fds[0]);
    ASSERT_NE(number.find('\n'), std::string::npos) << "Xvfb did not report a display";
    display_ = ":" + number.substr(0, number.find('\n'));
    setenv("DISPLAY", display_.c_str(), 1);
  }

  void TearDown() override {
    app_.stop();
    xvfb_.stop();
    std::error_code ec;
    if (!HasFailure()) std::filesystem::remove_all(dir_, ec);
  }

  std::optional<Screenshot> shot_when(const std::function<bool(const Screenshot&)>& ready, std::chrono::seconds limit) {
    const std::string path = (dir_ / "shot.png").string();
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      run("import -display " + display_ + " -window root png:" + path + " 2>/dev/null");
      Screenshot s(path);
      if (s.ok() && ready(s)) return std::optional<Screenshot>(std::in_place, path);
      std::this_thread::sleep_for(100ms);
    }
    return std::nullopt;
  }

  std::filesystem::path dir_;
  std::string display_;
  Child xvfb_;
  Child app_;
};

TEST_F(RealWindow, DrawsTakesAClickAndAKeyAndQuitsCleanly) {
  const std::string dump = (dir_ / "scene.txt").string();
  const std::string data = (dir_ / "doc").string();
  app_ = Child::spawn({VESK_UI_DEMO_APP},
                      {"DISPLAY=" + display_, "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                       "SDL_RENDER_DRIVER=software", std::string("FONTCONFIG_FILE=") + vesk_ui_test::fonts_conf(),
                       "VESK_UI_DUMP_SCENE=" + dump, "VESK_UI_DEMO_DATA=" + data},
                      -1, (dir_ / "app.log").string());

  const std::string wid_text =
      run("timeout 20 xdotool search --sync --onlyvisible --name '^org\\.vesk\\.demo$' 2>/dev/null");
  ASSERT_FALSE(wid_text.empty()) << "no window appeared";
  const std::string wid = wid_text.substr(0, wid_text.find('\n'));
  int wx = 0, wy = 0;
  std::istringstream geo(run("xdotool getwindowgeometry --shell " + wid));
  for (std::string line; std::getline(geo, line);) {
    if (line.rfind("X=", 0) == 0) wx = std::stoi(line.substr(2));
    if (line.rfind("Y=", 0) == 0) wy = std::stoi(line.substr(2));
  }
  auto at = [&](const Screenshot& s, double x, double y) {
    return s.at(wx + static_cast<int>(x), wy + static_cast<int>(y));
  };

  // The first frame.
  auto first = shot_when([&](const Screenshot& s) { return near(at(s, 70, 70), 0xff0000); }, 20s);
  ASSERT_TRUE(first.has_value()) << "the window never showed its first frame";
  struct Probe {
    double x, y;
    std::uint32_t rgb;
    const char* what;
  } probes[] = {
      {5, 5, vesk_ui_test::kBackground, "background"},
      {190, 70, 0x00ff00, "rounded rectangle"},
      {142, 22, vesk_ui_test::kBackground, "corner"},
      {310, 70, 0x0000ff, "circle"},
      {430, 50, 0xff0000, "image red"},
      {500, 50, 0x00ff00, "image green"},
      {430, 120, 0x0000ff, "image blue"},
      {500, 120, 0xffffff, "image white"},
      {70, 320, 0xff00ff, "clip inside"},
      {200, 320, vesk_ui_test::kBackground, "clip outside"},
      {450, 240, vesk_ui_test::kIdle, "click target before"},
      {570, 240, vesk_ui_test::kIdle, "key target before"},
  };
  for (const Probe& p : probes)
    EXPECT_TRUE(near(at(*first, p.x, p.y), p.rgb)) << p.what << ": " << hex(at(*first, p.x, p.y));
  for (int w = 0; w < 4; ++w) {
    int lit = 0;
    const double y0 = DemoLayout::kTextY + DemoLayout::kTextStep * w;
    for (int y = 0; y < 24; ++y) {
      for (int x = 20; x < 220; ++x) lit += at(*first, x, y0 + y).r > 200;
    }
    EXPECT_GT(lit, 150) << "text of weight " << w;
  }

  // A click on the target and the key "k".
  run("xdotool mousemove --window " + wid + " 450 240 click 1");
  run("xdotool windowfocus --sync " + wid + " 2>/dev/null; xdotool key --clearmodifiers k");
  auto after = shot_when(
      [&](const Screenshot& s) {
        return near(at(s, 450, 240), vesk_ui_test::kClicked) && near(at(s, 570, 240), vesk_ui_test::kKeyed);
      },
      20s);
  ASSERT_TRUE(after.has_value()) << "the click or the key did not arrive";
  EXPECT_TRUE(near(at(*after, 70, 70), 0xff0000));

  // SIGTERM quits, saves and exits 0.
  kill(app_.pid(), SIGTERM);
  const std::optional<int> status = app_.wait_exit(30s);
  ASSERT_TRUE(status.has_value()) << "the application did not quit";
  EXPECT_EQ(*status, 0);

  // The same drawing through the headless host gives the same display list.
  vesk_ui::headless::HeadlessHost headless(std::make_unique<vesk_ui_test::DemoWidget>(), {640, 480, 1.0, false});
  headless.click(450, 240);
  headless.key_char("k", "KeyK");
  std::ifstream in(dump);
  std::stringstream window_list;
  window_list << in.rdbuf();
  EXPECT_EQ(strip_image_ids(window_list.str()), strip_image_ids(headless.paint().dump()));

  auto reopened = vesk_ui::persist::open_directory(data);
  ASSERT_TRUE(reopened.has_value());
  auto clicks = reopened->document().get(vesk_ui::doc::ObjId::root(), "demo.clicks");
  ASSERT_TRUE(clicks.has_value() && clicks->has_value());
  EXPECT_EQ(*(*clicks)->as_scalar(), vesk_ui::doc::Scalar::int_(1));
}

TEST_F(RealWindow, ForcedScaleDrawsLogicalPixelsAtTwicePhysical) {
  app_ = Child::spawn({VESK_UI_DEMO_APP},
                      {"DISPLAY=" + display_, "SDL_VIDEODRIVER=x11", "SDL_RENDER_DRIVER=software",
                       std::string("FONTCONFIG_FILE=") + vesk_ui_test::fonts_conf(), "VESK_UI_SCALE=2"},
                      -1, (dir_ / "app2.log").string());
  const std::string wid_text =
      run("timeout 20 xdotool search --sync --onlyvisible --name '^org\\.vesk\\.demo$' 2>/dev/null");
  ASSERT_FALSE(wid_text.empty()) << "no window appeared";
  int wx = 0, wy = 0;
  std::istringstream geo(run("xdotool getwindowgeometry --shell " + wid_text.substr(0, wid_text.find('\n'))));
  for (std::string line; std::getline(geo, line);) {
    if (line.rfind("X=", 0) == 0) wx = std::stoi(line.substr(2));
    if (line.rfind("Y=", 0) == 0) wy = std::stoi(line.substr(2));
  }
  // Logical (70, 70) is the red square; at scale 2 it lands on physical (140, 140).
  auto shot = shot_when([&](const Screenshot& s) { return near(s.at(wx + 140, wy + 140), 0xff0000); }, 20s);
  ASSERT_TRUE(shot.has_value()) << "the scaled frame never appeared";
  EXPECT_TRUE(near(shot->at(wx + 380, wy + 140), 0x00ff00)) << hex(shot->at(wx + 380, wy + 140));
  EXPECT_TRUE(near(shot->at(wx + 620, wy + 140), 0x0000ff)) << hex(shot->at(wx + 620, wy + 140));
  EXPECT_TRUE(near(shot->at(wx + 30, wy + 30), vesk_ui_test::kBackground));
  kill(app_.pid(), SIGINT);
  const std::optional<int> status = app_.wait_exit(30s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);
}

TEST_F(RealWindow, StartupFailureExitsWithStatusOne) {
  // A display that does not exist.
  Child app =
      Child::spawn({VESK_UI_DEMO_APP}, {"DISPLAY=:999999", "SDL_VIDEODRIVER=x11"}, -1, (dir_ / "fail.log").string());
  const std::optional<int> status = app.wait_exit(30s);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 1);
  std::ifstream log(dir_ / "fail.log");
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("could not start the window system"), std::string::npos) << text.str();
}

}  // namespace
