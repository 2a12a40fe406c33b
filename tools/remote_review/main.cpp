// remote_review OUT_DIR [WORD...]
// Paints each review scene of the sample data at 1280 × 800, at a narrow
// 560 × 800 and at the narrowest 360 × 800, and writes
// OUT_DIR/{word}-wide.png, -narrow.png and -min.png with the accessibility
// tree next to each as .json. With no word: every
// scene word of the launch description, and the tool's own words for screens
// no scene word reaches: "list" (the plain list), "empty" (no saved
// connections, no sample data), "notice", "form-rdp",
// "form-problems", "live-ssh", "live-vnc", "live-vnc-fullscreen" and
// "live-vesk" (connected screens over a made-up picture or terminal; no
// network is touched), and texts too long for their boxes:
// "session-long-failure" (a 4 KiB server reason and a long name),
// "confirm-long-title", "notice-long" and "form-long-text" (a long endpoint
// id in an unfocused field), "session-changed-key" (a changed host key's
// message), "session-long-host" (a 300-character name and a long host),
// "confirm-trust-long" (a 90-character fingerprint), "notice-2000" (a
// 2,000-character notice), "list-long-text" (a row with a 300-character name,
// host and group), "live-long-name" (a connected header with that name) and
// "form-vesk-problems" (a device form with its problems shown).
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/remote/src/app/launch.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/samples.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"

namespace {

using remote::ConnectionKind;
using remote::app::RemoteApp;
using remote::app::SessionStatus;
using remote::app::UiMessage;

constexpr std::array<std::string_view, 20> kToolWords = {"list",
                                                         "empty",
                                                         "notice",
                                                         "form-rdp",
                                                         "form-problems",
                                                         "live-ssh",
                                                         "live-vnc",
                                                         "live-vnc-fullscreen",
                                                         "live-vesk",
                                                         "session-long-failure",
                                                         "confirm-long-title",
                                                         "notice-long",
                                                         "form-long-text",
                                                         "session-changed-key",
                                                         "session-long-host",
                                                         "confirm-trust-long",
                                                         "notice-2000",
                                                         "list-long-text",
                                                         "live-long-name",
                                                         "form-vesk-problems"};

std::string repeat_to(std::string_view piece, std::size_t length) {
  std::string out;
  while (out.size() < length) out += piece;
  out.resize(length);
  return out;
}

const std::string kLongName = repeat_to("Render farm controller in the basement server room ", 300);
const std::string kLongHost = repeat_to("build-cluster-node.", 100) + "example.com";
const std::string kLongFingerprint = "SHA256:" + repeat_to("Qx7+ZpL0/fWm9KcA2bRt", 83);

// The first connection of the kind, given the long name (and host, and group).
remote::SavedConnection* make_long(RemoteApp& app, ConnectionKind kind, bool host) {
  auto id = app.first_connection_of_kind(kind);
  auto* c = id ? remote::app::find_connection(app.state_mut().connections, *id) : nullptr;
  if (!c) return nullptr;
  c->name = kLongName;
  if (host) {
    c->host = kLongHost;
    c->group = repeat_to("Operations and infrastructure ", 90);
  }
  return c;
}

// A desktop-like test picture: a gradient with a few windows on it.
vesk_ui::scene::Image sample_picture(std::uint32_t w, std::uint32_t h) {
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(w) * h * 4);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* px = pixels->data() + (static_cast<std::size_t>(y) * w + x) * 4;
      px[0] = static_cast<std::uint8_t>(30 + 60 * x / w);
      px[1] = static_cast<std::uint8_t>(60 + 90 * y / h);
      px[2] = static_cast<std::uint8_t>(120 + 100 * x / w);
      px[3] = 255;
      const bool window = (x > w / 10 && x < w / 2 && y > h / 8 && y < h / 2) ||
                          (x > w / 2 && x < w * 9 / 10 && y > h * 2 / 5 && y < h * 4 / 5);
      if (window) px[0] = px[1] = px[2] = (y % 40 < 3) ? 200 : 235;
      if (y > h - h / 20) px[0] = px[1] = px[2] = 20;  // a task bar
    }
  }
  return vesk_ui::scene::Image::from_rgba(pixels, w, h);
}

std::unique_ptr<RemoteApp> build(const std::string& word) {
  if (word == "list") return remote::app::build_sample_app("");
  if (word == "empty") return RemoteApp::empty();
  auto app = remote::app::build_sample_app(word);
  auto& state = app->state_mut();
  remote::app::Document scratch;
  if (word == "notice") {
    app->apply_message(UiMessage::request_connect(*app->first_connection_of_kind(ConnectionKind::Vesk)), scratch);
    app->apply_message(UiMessage::cancel_confirmation(), scratch);
  } else if (word == "form-rdp") {
    app->apply_message(UiMessage::edit_connection(*app->first_connection_of_kind(ConnectionKind::Rdp)), scratch);
  } else if (word == "form-problems") {
    app->apply_message(UiMessage::new_connection(), scratch);
    app->apply_message(UiMessage::save_form(), scratch);
  } else if (word == "session-long-failure") {
    std::string reason;
    while (reason.size() < 4096) reason += "the server closed the connection after rejecting the offered methods; ";
    app->show_session_status(ConnectionKind::Vnc, SessionStatus::failed(reason));
    if (auto* c = remote::app::find_connection(state.connections, state.screen.id)) {
      c->name = "Render farm controller in the basement server room";
    }
  } else if (word == "confirm-long-title") {
    const auto id = *app->first_connection_of_kind(ConnectionKind::Vesk);
    remote::app::find_connection(state.connections, id)->name =
        "Workshop bench device with a rather long descriptive name";
    app->request_connect(id);
  } else if (word == "notice-long") {
    state.notice = std::string(remote::app::notice::kForgot) + " " + remote::app::notice::kTrustStale + " " +
                   remote::app::notice::kNoKeyToTrust;
  } else if (word == "form-long-text") {
    app->apply_message(UiMessage::new_connection(), scratch);
    app->apply_message(UiMessage::set_kind(ConnectionKind::Vesk), scratch);
    app->apply_message(UiMessage::choose_discovered_device(0), scratch);
  } else if (word == "session-changed-key") {
    app->show_session_status(
        ConnectionKind::Ssh,
        SessionStatus::failed("SSH host key changed for 127.0.0.1:2222. Expected ssh-ed25519 "
                              "SHA256:FJCGq1o2XzT3b4N5c6V7d8M9e0L1f2K3g4J5h6H7FQo; received ssh-ed25519 "
                              "SHA256:GCMAX8VEu5Wr4Tq3Yp2Zo1Xn0Cm9Bl8Ak7Sj6Dh5FgWM. Connection blocked."));
  } else if (word == "session-long-host") {
    app->show_session_status(ConnectionKind::Ssh, SessionStatus::failed("Connection refused"));
    make_long(*app, ConnectionKind::Ssh, true);
  } else if (word == "confirm-trust-long") {
    if (auto* c = make_long(*app, ConnectionKind::Ssh, true)) {
      state.confirmation = remote::app::Confirmation::trust_ssh_host_key(remote::app::connection_signature(*c),
                                                                         {"ssh-ed25519", kLongFingerprint}, c->id);
    }
  } else if (word == "notice-2000") {
    state.notice =
        repeat_to("The server refused every offered method for reasons of its own. ", 2000) + " " + kLongFingerprint;
  } else if (word == "list-long-text") {
    make_long(*app, ConnectionKind::Ssh, true);
    make_long(*app, ConnectionKind::Rdp, true);
  } else if (word == "live-long-name") {
    make_long(*app, ConnectionKind::Vnc, true);
    app->show_session_status(ConnectionKind::Vnc, SessionStatus::connected());
    state.session_picture = sample_picture(1600, 1000);
  } else if (word == "form-vesk-problems") {
    app->apply_message(UiMessage::new_connection(), scratch);
    app->apply_message(UiMessage::set_kind(ConnectionKind::Vesk), scratch);
    app->apply_message(UiMessage::save_form(), scratch);
  } else if (word == "live-ssh") {
    app->show_session_status(ConnectionKind::Ssh, SessionStatus::connected());
    remote::vt::Terminal terminal(remote::app::kTerminalColumns, remote::app::kTerminalRows);
    terminal.feed(
        "\x1b[1;32mdev@build\x1b[0m:\x1b[1;34m~\x1b[0m$ uname -a\r\n"
        "Linux build 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC x86_64 GNU/Linux\r\n"
        "\x1b[1;32mdev@build\x1b[0m:\x1b[1;34m~\x1b[0m$ ls\r\n"
        "\x1b[1;34mprojects\x1b[0m  \x1b[1;34mscripts\x1b[0m  notes.txt  \x1b[31mcore.dump\x1b[0m\r\n"
        "\x1b[1;32mdev@build\x1b[0m:\x1b[1;34m~\x1b[0m$ ");
    state.review_terminal = std::move(terminal);
  } else if (word.starts_with("live-vnc")) {
    app->show_session_status(ConnectionKind::Vnc, SessionStatus::connected());
    state.session_picture = sample_picture(1600, 1000);
    state.fullscreen = word == "live-vnc-fullscreen";
  } else if (word == "live-vesk") {
    app->show_session_status(ConnectionKind::Vesk, SessionStatus::connected());
    state.session_picture = sample_picture(1080, 1920);
  }
  return app;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR [WORD...]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "cannot create %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  std::vector<std::string> words(argv + 2, argv + argc);
  if (words.empty()) {
    for (std::string_view word : remote::app::kReviewScenes) words.emplace_back(word);
    for (std::string_view word : kToolWords) words.emplace_back(word);
  }
  struct Size {
    const char* name;
    std::uint32_t width, height;
  };
  int failures = 0;
  for (const std::string& word : words) {
    for (const Size size : {Size{"wide", 1280, 800}, Size{"narrow", 560, 800}, Size{"min", 360, 800}}) {
      vesk_ui::headless::HeadlessOptions options;
      options.width = size.width;
      options.height = size.height;
      const std::string stem = (out / (word + "-" + size.name)).string();
      auto app = build(word);
      auto written = vesk_ui::headless::render_widget_png(std::move(app), options, stem + ".png", 20, stem + ".json");
      if (!written) {
        std::fprintf(stderr, "%s: %s\n", stem.c_str(), written.error().c_str());
        ++failures;
      } else {
        std::printf("%s.png\n", stem.c_str());
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
