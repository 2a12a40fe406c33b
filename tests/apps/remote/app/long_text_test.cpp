// Texts longer than their boxes, painted over the stub text metrics: every
// text stays inside its card, dialog, toast, row or header and inside the
// window; what the user must verify (a fingerprint, a host, the fixed line of
// a failure) is painted whole; the row's controls stay reachable.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/app/paint.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::scene::TextRun;
using Host = vesk_ui::headless::HeadlessHost;

constexpr std::uint32_t kHeight = 800;
constexpr const char* kFixedLine = "This is the real error \u2014 nothing is simulated.";

std::string repeat_to(std::string_view piece, std::size_t length) {
  std::string out;
  while (out.size() < length) out += piece;
  out.resize(length);
  return out;
}

// A fingerprint-like word without spaces, wider than any card at 360.
const std::string kFingerprint = "SHA256:" + repeat_to("Qx7+ZpL0/fWm9KcA2bRt", 83);
const std::string kFingerprint2 = "SHA256:" + repeat_to("u4Nd8Yh1Ee+Gs5Vj/Oq3", 83);
const std::string kReason = repeat_to("the server refused every offered method for reasons of its own; ", 2000);
const std::string kName = repeat_to("Render farm controller in the basement server room ", 300);
const std::string kHost = repeat_to("build-cluster-node.", 100) + "example.com";
const std::string kGroup = repeat_to("Operations and infrastructure ", 90);

RemoteApp& app_of(Host& host) { return host.widget_as<RemoteApp>(); }

std::vector<TextRun> text_runs(const vesk_ui::scene::Scene& scene) {
  std::vector<TextRun> runs;
  for (const auto& command : scene.commands()) {
    if (const auto* text = std::get_if<vesk_ui::scene::TextCmd>(&command)) runs.push_back(text->run);
  }
  return runs;
}

// The box a run's text occupies, wrapped at its own width.
Rect run_box(Host& host, const TextRun& run) {
  const auto size = host.text().measure_weighted(run.text, run.size, run.max_width, run.weight);
  return Rect{run.transform.e, run.transform.f, run.transform.e + size.width, run.transform.f + size.height};
}

bool inside(const Rect& inner, const Rect& outer) {
  constexpr double kSlack = 1e-6;
  return inner.x0 >= outer.x0 - kSlack && inner.y0 >= outer.y0 - kSlack && inner.x1 <= outer.x1 + kSlack &&
         inner.y1 <= outer.y1 + kSlack;
}

std::string describe(const Rect& r) {
  return "(" + std::to_string(r.x0) + ", " + std::to_string(r.y0) + ", " + std::to_string(r.x1) + ", " +
         std::to_string(r.y1) + ")";
}

// The rounded rectangle of the given corner radius filled last (or first).
std::optional<Rect> rounded_fill(const vesk_ui::scene::Scene& scene, double radius, bool last) {
  std::optional<Rect> found;
  for (const auto& command : scene.commands()) {
    const auto* fill = std::get_if<vesk_ui::scene::FillCmd>(&command);
    if (!fill) continue;
    const auto* shape = std::get_if<vesk_ui::scene::RoundedRect>(&fill->shape);
    if (!shape || std::abs(shape->radius - radius) > 1e-9) continue;
    found = shape->rect;
    if (!last) break;
  }
  return found;
}

std::string without_breaks(std::string s) {
  std::erase_if(s, [](char c) { return c == ' ' || c == '\n'; });
  return s;
}

SavedConnection long_profile(ConnectionKind kind) {
  SavedConnection c = kind == ConnectionKind::Vesk
                          ? device_conn(kName)
                          : conn(kName, kind, kHost, kind.default_port().value_or(22), AuthKind::Password, "operator");
  c.group = kGroup;
  return c;
}

std::unique_ptr<RemoteApp> app_with(SavedConnection c) {
  return std::make_unique<RemoteApp>(std::vector{std::move(c)}, std::vector<DiscoveredDevice>{});
}

std::unique_ptr<RemoteApp> failed_card(ConnectionKind kind, std::string message) {
  auto app = app_with(long_profile(kind));
  app->show_session_status(kind, SessionStatus::failed(std::move(message)));
  return app;
}

std::string changed_key_message() {
  return "SSH host key changed for " + kHost + ":22. Expected ssh-ed25519 " + kFingerprint + "; received ssh-ed25519 " +
         kFingerprint2 + ". Connection blocked.";
}

struct Painted {
  std::vector<TextRun> runs;
  Rect box;
};

struct Case {
  const char* name;
  std::function<std::unique_ptr<RemoteApp>()> build;
  // The box the case's texts belong in.
  std::function<std::optional<Rect>(Host&, const vesk_ui::scene::Scene&)> box;
  // The box's texts: from the first run starting with this on.
  std::string first;
  // Texts painted elsewhere after them (rail glyphs, button labels, ...).
  std::set<std::string> elsewhere;
  // Painted whole, if over several lines (spaces and breaks aside).
  std::vector<std::string> whole;
};

const std::set<std::string> kRail = {"\u2261", "+", "\u2039"};

std::vector<Case> cases() {
  const auto card = [](Host&, const vesk_ui::scene::Scene& scene) { return rounded_fill(scene, 16.0, false); };
  const auto panel = [](Host&, const vesk_ui::scene::Scene& scene) { return rounded_fill(scene, 14.0, true); };
  const auto toast = [](Host&, const vesk_ui::scene::Scene& scene) { return rounded_fill(scene, 10.0, false); };
  const auto row = [](Host& host, const vesk_ui::scene::Scene&) {
    const RemoteApp& a = app_of(host);
    return a.hit_rect(UiMessage::select_connection(a.state().connections.front().id));
  };
  // The header, up to the first button on the name's row.
  const auto header = [](Host& host, const vesk_ui::scene::Scene&) -> std::optional<Rect> {
    const RemoteApp& a = app_of(host);
    const auto disconnect = a.hit_rect(UiMessage::disconnect());
    if (!disconnect) return std::nullopt;
    double right = disconnect->x0;
    for (const UiMessage& m : {UiMessage::toggle_fullscreen(), UiMessage::toggle_scale()}) {
      if (auto r = a.hit_rect(m); r && r->y0 < disconnect->y1) right = std::min(right, r->x0);
    }
    const double left = a.state().narrow ? kRailWidth : kRailWidth * a.state().flap.reveal();
    return Rect{left, 0, right, 48};
  };
  const std::string target = long_profile(ConnectionKind::Ssh).target_label();
  const std::set<std::string> card_buttons = {"Retry", "Back to list", "Edit profile"};
  auto with_rail = [&](std::set<std::string> more) {
    more.insert(kRail.begin(), kRail.end());
    return more;
  };
  return {
      {"card with a 2,000-character reason",
       [] { return failed_card(ConnectionKind::Vnc, kReason); },
       card,
       "",
       kRail,
       {kFixedLine}},
      {"card with a changed key's fingerprints",
       [] { return failed_card(ConnectionKind::Ssh, changed_key_message()); },
       card,
       "",
       kRail,
       {kFingerprint, kFingerprint2, "Connection blocked.", kFixedLine}},
      {"card with a long name and host",
       [] { return failed_card(ConnectionKind::Ssh, "Connection refused"); },
       card,
       "",
       kRail,
       {target, kFixedLine}},
      {"trust dialog with a 90-character fingerprint",
       [] {
         auto app = app_with(long_profile(ConnectionKind::Ssh));
         const SavedConnection& c = app->state().connections.front();
         app->state_mut().confirmation =
             Confirmation::trust_ssh_host_key(connection_signature(c), {"ssh-ed25519", kFingerprint}, c.id);
         return app;
       },
       panel,
       "Trust SSH key for",
       {},
       {kFingerprint, target}},
      {"forget dialog with a 300-character name",
       [] {
         auto app = app_with(long_profile(ConnectionKind::Ssh));
         const SavedConnection& c = app->state().connections.front();
         app->state_mut().confirmation = Confirmation::forget_ssh_host_key(connection_signature(c), c.id);
         return app;
       },
       panel,
       "Forget SSH key for",
       {},
       {target}},
      {"connect dialog with a 300-character name",
       [] {
         auto app = app_with(long_profile(ConnectionKind::Vesk));
         app->request_connect(app->state().connections.front().id);
         return app;
       },
       panel,
       "Connect to",
       {},
       {}},
      {"notice with a 2,000-character reason",
       [] {
         auto app = app_with(long_profile(ConnectionKind::Ssh));
         app->state_mut().notice = kReason + " " + kFingerprint;
         return app;
       },
       toast,
       "Action needs review",
       kRail,
       {kFingerprint}},
      {"row with a 300-character name, host and group",
       [] { return app_with(long_profile(ConnectionKind::Ssh)); },
       row,
       kName.substr(0, 8),
       with_rail({"Connect", "Edit", "Needs access", "Not supported", "Fix profile"}),
       {}},
      {"connected header with a 300-character name",
       [] {
         auto app = app_with(long_profile(ConnectionKind::Vnc));
         app->show_session_status(ConnectionKind::Vnc, SessionStatus::connected());
         return app;
       },
       header,
       kName.substr(0, 8),
       with_rail({"Disconnect", "Fullscreen", "Scale: Fit",
                  "Connected \u2014 waiting for the first framebuffer update\u2026"}),
       {}},
  };
}

TEST(AppLongTexts, EveryTextStaysInsideItsBoxAndTheWindow) {
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::string("1"));  // rows of SSH profiles show Connect
  for (const Case& c : cases()) {
    for (std::uint32_t width : {1280u, 360u}) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(width));
      auto host = host_for(c.build(), width, kHeight);
      const auto& scene = host->paint();
      const Rect window{0, 0, static_cast<double>(width), kHeight};
      const auto box = c.box(*host, scene);
      ASSERT_TRUE(box);
      EXPECT_TRUE(inside(*box, window)) << describe(*box);
      const auto runs = text_runs(scene);
      const auto first =
          std::find_if(runs.begin(), runs.end(), [&](const TextRun& r) { return r.text.starts_with(c.first); });
      ASSERT_NE(first, runs.end());
      std::string painted;
      std::size_t checked = 0;
      for (auto it = first; it != runs.end(); ++it) {
        if (c.elsewhere.contains(it->text)) continue;
        const Rect r = run_box(*host, *it);
        EXPECT_TRUE(inside(r, *box)) << describe(r) << " outside " << describe(*box) << ": " << it->text;
        EXPECT_TRUE(inside(r, window)) << it->text;
        painted += it->text;
        ++checked;
      }
      EXPECT_GE(checked, 2u);
      for (const std::string& text : c.whole) {
        EXPECT_NE(without_breaks(painted).find(without_breaks(text)), std::string::npos) << text;
      }
      // Every control of the box is inside the window.
      for (const HitRegion& region : app_of(*host).state().hit_regions) {
        EXPECT_TRUE(inside(region.rect, window)) << describe(region.rect);
      }
    }
  }
}

// The star, Edit and Connect of a row whose texts are far too long, at every
// width down to the narrow layout's minimum: inside the row and the window,
// clear of the texts, and the star still toggles the favourite.
TEST(AppLongTexts, RowControlsStayInsideTheRowAtEveryWidth) {
  ScopedEnv live("REMOTE_LIVE_SESSIONS", std::string("1"));
  const SavedConnection ssh = long_profile(ConnectionKind::Ssh);
  SavedConnection rdp = long_profile(ConnectionKind::Rdp);
  rdp.name = "Z" + rdp.name;  // the second row
  for (std::uint32_t width = static_cast<std::uint32_t>(kNarrowMinWidth); width <= 1280; width += 37) {
    SCOPED_TRACE(width);
    auto host =
        host_for(std::make_unique<RemoteApp>(std::vector{ssh, rdp}, std::vector<DiscoveredDevice>{}), width, kHeight);
    RemoteApp& a = app_of(*host);
    const Rect window{0, 0, static_cast<double>(width), kHeight};
    const auto runs = text_runs(host->paint());
    for (const SavedConnection& c : {ssh, rdp}) {
      const auto row = a.hit_rect(UiMessage::select_connection(c.id));
      const auto star = a.hit_rect(UiMessage::toggle_favorite(c.id));
      const auto edit = a.hit_rect(UiMessage::edit_connection(c.id));
      ASSERT_TRUE(row && star && edit);
      std::vector<Rect> controls = {*star, *edit};
      if (c.kind == ConnectionKind::Ssh) {
        const auto connect = a.hit_rect(UiMessage::request_connect(c.id));
        ASSERT_TRUE(connect);
        controls.push_back(*connect);
      }
      for (const Rect& r : controls) {
        EXPECT_TRUE(inside(r, *row)) << describe(r) << " outside the row " << describe(*row);
        EXPECT_TRUE(inside(r, window)) << describe(r);
      }
      // The name ends before its star; the row's texts keep clear of Edit.
      for (const TextRun& run : runs) {
        const Rect r = run_box(*host, run);
        if (!inside(r, *row) || r.y0 < row->y0) continue;
        if (run.text.starts_with(c.name.substr(0, 10))) {
          EXPECT_TRUE(run.text.ends_with("\u2026")) << run.text;
          EXPECT_LE(r.x1, star->x0 + 1e-9);
        }
        const bool beside_edit = r.y1 > edit->y0 && r.y0 < edit->y1;
        if (beside_edit && run.text != "Edit" && run.text != "Connect" && run.text != "Needs access") {
          EXPECT_TRUE(r.x1 <= edit->x0 + 1e-9 || r.x0 >= edit->x1) << run.text;
        }
      }
    }
  }
  for (std::uint32_t width : {1280u, static_cast<std::uint32_t>(kNarrowMinWidth)}) {
    SCOPED_TRACE(width);
    auto host = host_for(app_with(ssh), width, kHeight);
    RemoteApp& a = app_of(*host);
    const auto star = a.hit_rect(UiMessage::toggle_favorite(ssh.id));
    ASSERT_TRUE(star);
    host->click(star->center().x, star->center().y);
    EXPECT_TRUE(a.state().connections.front().favorite);
  }
}

// The form's device-identity card and its problems line in a narrow column:
// each text inside its box, the problems clear of the buttons.
TEST(AppLongTexts, FormBoxesGrowWithTheirTexts) {
  for (std::uint32_t width : {static_cast<std::uint32_t>(kNarrowMinWidth), 400u, 560u, 1280u}) {
    for (ConnectionKind kind : {ConnectionKind::Vesk, ConnectionKind::Ssh}) {
      SCOPED_TRACE(std::to_string(width) + " " + std::string(kind.as_str()));
      auto host = host_for(RemoteApp::with_sample_data(), width, kHeight);
      RemoteApp& a = app_of(*host);
      Document scratch;
      a.apply_message(UiMessage::new_connection(), scratch);
      a.apply_message(UiMessage::set_kind(kind), scratch);
      a.apply_message(UiMessage::save_form(), scratch);  // every problem shown
      ASSERT_GE(a.shown_form_problems().size(), 2u);
      const auto runs = text_runs(host->paint());
      const auto save = a.hit_rect(UiMessage::save_form());
      const auto cancel = a.hit_rect(UiMessage::cancel_form());
      ASSERT_TRUE(save && cancel);
      const auto problems = std::find_if(runs.begin(), runs.end(), [&](const TextRun& r) {
        return r.text.starts_with(a.shown_form_problems().front());
      });
      ASSERT_NE(problems, runs.end());
      EXPECT_LE(run_box(*host, *problems).y1 + 8.0, save->y0);
      EXPECT_LE(run_box(*host, *problems).x1, static_cast<double>(width));
      if (kind != ConnectionKind::Vesk) continue;
      const Rect content{a.state().narrow ? kRailWidth : kRailWidth * a.state().flap.reveal(), 0,
                         static_cast<double>(width), kHeight};
      const FormGeometry g =
          form_geometry(host->text(), content, a.state().form, a.state().discovered_devices.size(), false);
      ASSERT_TRUE(g.vesk_card);
      const auto identity = std::find_if(runs.begin(), runs.end(), [](const TextRun& r) {
        return r.text.starts_with("Authenticated by Vesk device identity");
      });
      ASSERT_NE(identity, runs.end());
      EXPECT_TRUE(inside(run_box(*host, *identity), *g.vesk_card)) << describe(run_box(*host, *identity));
      EXPECT_LT(g.vesk_card->y1, problems->transform.f);
    }
  }
}

// The card cuts a failure's own text to the room the area leaves, never
// inside a kept text, and keeps the fixed line whole.
TEST(AppLongTexts, CardCutsOnlyWhatCannotFitAndNeverAKeptText) {
  vesk_ui::text::StubTextRenderer text;
  struct CardCase {
    const char* name;
    double height;
    std::string message;
    std::vector<std::string_view> keep;
    std::optional<bool> cut;  // none: depends on where the lines break
  };
  const std::string changed = changed_key_message();
  const std::vector<CardCase> cases = {
      {"short reason", 800, "Connection refused", {}, false},
      {"changed key in a tall window", 800, changed, {kHost, kFingerprint, kFingerprint2}, false},
      {"changed key in a short window", 420, changed, {kHost, kFingerprint, kFingerprint2}, std::nullopt},
      {"long reason", 800, kReason, {}, true},
      {"long reason, nothing kept in it", 420, kReason, {kFingerprint}, true},
  };
  for (const CardCase& c : cases) {
    for (double width : {1216.0, 296.0}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(width));
      const Rect area{64, 0, 64 + width, c.height};
      const SessionCardLines lines = session_card_lines(text, area, "target", {c.message, kFixedLine}, c.keep);
      const double wrap = std::min(width - 40.0, 460.0) - 48.0;
      std::string joined;
      for (const std::string& line : lines.lines) {
        EXPECT_LE(text.measure(line, 13.0f, std::nullopt).width, wrap) << line;
        joined += line;
      }
      // The fixed line closes the card, whole.
      EXPECT_TRUE(without_breaks(joined).ends_with(without_breaks(kFixedLine)));
      for (std::string_view kept : c.keep) {
        if (c.message.find(kept) == std::string::npos) continue;
        EXPECT_NE(without_breaks(joined).find(without_breaks(std::string(kept))), std::string::npos) << kept;
      }
      const bool cut = joined.find("\u2026") != std::string::npos;
      if (c.cut) {
        EXPECT_EQ(cut, *c.cut);
      }
      // Without a kept text the card takes the room there is (at least
      // one line of the reason beside the fixed line's), no more.
      const std::size_t budget = session_card_line_budget(area, lines.extra);
      const std::size_t fixed = wrap_block(text, kFixedLine, 13.0f, wrap).lines.size();
      const bool kept_something = std::any_of(
          c.keep.begin(), c.keep.end(), [&](std::string_view k) { return c.message.find(k) != std::string::npos; });
      if (!kept_something) {
        const std::size_t most = std::max(budget, fixed + 1);
        if (cut) {
          EXPECT_EQ(lines.lines.size(), most);
        } else {
          EXPECT_LE(lines.lines.size(), most);
        }
      }
    }
  }
}

TEST(AppLongTexts, WrapBlockBreaksWordsAndCutsWithAnEllipsis) {
  vesk_ui::text::StubTextRenderer text;  // size 10: 5 px a character
  struct BlockCase {
    std::string text;
    double width;
    std::size_t max_lines;
    std::size_t keep_whole;
    std::vector<std::string> lines;
    bool cut;
  };
  const std::vector<BlockCase> cases = {
      {"aaaa bbbb cccc", 45, SIZE_MAX, 0, {"aaaa bbbb", "cccc"}, false},
      {"abcdefghijklmnopqrst", 50, SIZE_MAX, 0, {"abcdefghij", "klmnopqrst"}, false},
      {"ab cdefghijklmnopqrstuv", 50, SIZE_MAX, 0, {"ab", "cdefghijkl", "mnopqrstuv"}, false},
      {"ab\ncd", 100, SIZE_MAX, 0, {"ab", "cd"}, false},
      {"  lead  and   gaps  ", 100, SIZE_MAX, 0, {"lead  and   gaps"}, false},
      {"\u00e9\u00e9\u00e9\u00e9\u00e9", 15, SIZE_MAX, 0, {"\u00e9\u00e9\u00e9", "\u00e9\u00e9"}, false},
      {"aaaa bbbb cccc", 45, 1, 0, {"aaaa bbb\u2026"}, true},
      {"aaaa bbbb cccc dddd eeee", 45, 1, 14, {"aaaa bbbb", "cccc ddd\u2026"}, true},
      {"aaaa bbbb cccc dddd", 45, 1, 14, {"aaaa bbbb", "cccc dddd"}, false},
      // The kept text fills its line: the ellipsis gets a line of its own.
      {"aaaa bbbbbbbbb cccc", 45, 1, 14, {"aaaa", "bbbbbbbbb", "\u2026"}, true},
      {"", 45, 3, 0, {""}, false},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.text);
    const TextBlock block = wrap_block(text, c.text, 10.0f, c.width, std::nullopt, c.max_lines, c.keep_whole);
    EXPECT_EQ(block.lines, c.lines);
    EXPECT_EQ(block.cut, c.cut);
  }
  EXPECT_EQ(fit_with_ellipsis(text, "abcdefghij", 10.0f, 30.0, std::nullopt, true, 8), "abcdefgh\u2026");
}

}  // namespace
