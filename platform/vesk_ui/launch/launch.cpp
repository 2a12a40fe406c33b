#include "platform/vesk_ui/launch/launch.hpp"

#include <SDL.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/vesk_actions/executor.hpp"
#include "platform/vesk_ui/accessibility/publisher.hpp"
#include "platform/vesk_ui/device_link/link.hpp"
#include "platform/vesk_ui/device_link/simulated_device.hpp"
#include "platform/vesk_ui/document/autosave.hpp"
#include "platform/vesk_ui/document/watch.hpp"
#include "platform/vesk_ui/headless/widget_host.hpp"
#include "platform/vesk_ui/launch/action_bus.hpp"
#include "platform/vesk_ui/launch/glib_loop.hpp"
#include "platform/vesk_ui/launch/present.hpp"
#include "platform/vesk_ui/launch/sdl_events.hpp"
#include "platform/vesk_ui/render/cairo_renderer.hpp"
#include "platform/vesk_ui/text/pango_text.hpp"

namespace vesk_ui::launch {

namespace {

// Longest idle wait; also bounds how late a signal is noticed.
constexpr int kIdleWaitMs = 250;
// Frame interval while animating.
constexpr int kFrameIntervalMs = 16;
// Events taken from SDL per loop turn, so painting keeps up; a key press at
// the limit still brings the text it typed along (poll_batch).
constexpr std::size_t kMaxEventsPerTurn = 512;

volatile std::sig_atomic_t g_quit_signal = 0;
extern "C" void on_quit_signal(int) { g_quit_signal = 1; }

[[noreturn]] void fail(const std::string& reason) {
  std::fprintf(stderr, "%s: %s\n", "vesk_ui", reason.c_str());
  std::fflush(stderr);
  std::exit(1);
}

std::vector<std::string> command_line() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  if (!args.empty()) args.erase(args.begin());
  return args;
}

class SdlClipboard final : public widget::Clipboard {
 public:
  std::optional<std::string> get_text() override {
    if (!SDL_HasClipboardText()) return std::nullopt;
    char* raw = SDL_GetClipboardText();
    if (!raw) return std::nullopt;
    std::string out = text::sanitize_utf8(raw);
    SDL_free(raw);
    return out;
  }
  void set_text(std::string_view t) override { SDL_SetClipboardText(std::string(t).c_str()); }
};

struct SdlSession {
  SDL_Window* window = nullptr;
  ~SdlSession() {
    if (window) SDL_DestroyWindow(window);
    SDL_Quit();
  }
};

// A number from the environment within [lo, hi], else none.
std::optional<double> env_number(const char* name, double lo, double hi) {
  const char* s = std::getenv(name);
  if (!s || !*s) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s, &end);
  if (end == s || *end != '\0' || !(v >= lo && v <= hi)) return std::nullopt;
  return v;
}

// The system's own words at the end of a failure ("write {path}: No space
// left on device" gives "No space left on device"): the window has no use for
// the temporary file's name, which changes at every attempt. The log has it all.
std::string system_reason(const std::string& reason) {
  const std::size_t at = reason.rfind(": ");
  if (at == std::string::npos || at + 2 >= reason.size()) return reason;
  return reason.substr(at + 2);
}

// What the changes were, by the labels their provenance carries.
std::string change_labels(const std::vector<std::string>& messages) {
  std::string out;
  for (const std::string& m : messages) {
    const auto provenance = vesk_actions::parse_provenance(m);
    const std::string label = provenance && provenance->context && !provenance->context->label.empty()
                                  ? provenance->context->label
                                  : "an unlabelled change";
    if (!out.empty()) out += ", ";
    out += label;
  }
  return out;
}

std::optional<double> forced_scale() { return env_number("VESK_UI_SCALE", 0.25, 8.0); }

}  // namespace

std::optional<std::string> scene_word(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a.rfind("--", 0) == 0) continue;
    return text::sanitize_utf8(a);
  }
  return std::nullopt;
}

std::expected<AppBox, std::string> build_app(const LaunchDescriptor& d, const LaunchContext& context, App& app) {
  if (d.register_actions) d.register_actions(app);
  AppBox box;
  if (d.build_for_scene) {
    auto built = d.build_for_scene(context);
    if (!built) return std::unexpected("the application could not be built: " + built.error());
    box = std::move(*built);
  } else if (d.build_default) {
    box = d.build_default();
  }
  if (!box) return std::unexpected(std::string("the launch description builds no application"));
  return box;
}

int run_or_exit(const LaunchDescriptor& d) {
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = on_quit_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  LaunchContext context{scene_word(command_line()), d.app_id};
  App app;
  auto built = build_app(d, context, app);
  if (!built) fail(built.error());
  AppBox widget = std::move(*built);

  std::optional<persist::PersistedDocument> persisted;
  const bool wants_document = d.wants_document ? d.wants_document() : true;
  if (wants_document && d.open_document) {
    auto opened = d.open_document(d.app_id);
    if (!opened) fail("could not open the document: " + opened.error().message);
    persisted.emplace(std::move(*opened));
  }
  // Another instance's saves are merged in and reach sync_document at the next tick.
  std::optional<persist::DocumentWatch> watch;
  if (persisted) watch.emplace(persisted->directory());
  std::optional<persist::AutoSave> autosave;
  if (persisted) autosave.emplace(*persisted, persist::AutoSave::Clock::now());
  // What the window is told about the file: every failed attempt (so the
  // notice comes back), the recovery once, and each damaged file set aside.
  std::optional<std::filesystem::path> reported_set_aside;
  auto report_set_aside = [&] {
    if (!persisted || persisted->set_aside_path() == reported_set_aside) return;
    reported_set_aside = persisted->set_aside_path();
    widget->storage_report(
        {widget::StorageReport::Kind::SetAside, persisted->set_aside_reason(), reported_set_aside->string()});
  };
  auto report_attempt = [&](const persist::AutoSave::Attempt& a) {
    using Kind = widget::StorageReport::Kind;
    switch (a.state) {
      case persist::AutoSave::State::Stored:
        if (a.recovered) widget->storage_report({Kind::SavedAgain, {}, {}});
        break;
      case persist::AutoSave::State::Failing:
        widget->storage_report({Kind::SaveFailed, system_reason(a.reason), {}});
        break;
      case persist::AutoSave::State::Unreadable: widget->storage_report({Kind::Unreadable, a.reason, {}}); break;
    }
  };
  report_set_aside();
  if (autosave && autosave->state() == persist::AutoSave::State::Unreadable) {
    widget->storage_report({widget::StorageReport::Kind::Unreadable, autosave->reason(), {}});
  }

  // The signals are ours; SDL must not turn them into its own quit handling.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  prefer_window_surface();
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) fail(std::string("could not start the window system: ") + SDL_GetError());
  SdlSession sdl;
  const WindowSize size = d.initial_window_size ? d.initial_window_size() : WindowSize{};
  Uint32 flags = SDL_WINDOW_SHOWN;
  if (d.resizable) flags |= SDL_WINDOW_RESIZABLE;
  if (d.high_dpi) flags |= SDL_WINDOW_ALLOW_HIGHDPI;
  if (d.fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  const int w = static_cast<int>(std::clamp<std::uint32_t>(size.width, 64, 16384));
  const int h = static_cast<int>(std::clamp<std::uint32_t>(size.height, 64, 16384));
  const std::string id_text = d.app_id.empty() ? std::string("vesk") : text::sanitize_utf8(d.app_id);
  // Desktops list windows by title, so it is the name, not the identifier.
  const std::string title = d.app_name.empty() ? id_text : text::sanitize_utf8(d.app_name);
  sdl.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, flags);
  if (!sdl.window) fail(std::string("could not open a window: ") + SDL_GetError());
  WindowPresenter presenter(sdl.window);
  if (!presenter.refresh()) fail(std::string("could not draw into the window: ") + SDL_GetError());
  SDL_StartTextInput();
  GlibLoop glib(sdl.window);

  text::PangoTextRenderer text;
  if (auto k = env_number("VESK_UI_TEXT_SCALE", 0.5, 4.0)) text.set_scale_factor(*k);
  if (const char* rm = std::getenv("VESK_UI_REDUCED_MOTION"); rm && std::string_view(rm) == "1") {
    widget->set_reduced_motion(true);
  }
  render::CairoRenderer renderer(text);
  host::WidgetHost host(*widget, text);
  if (persisted) host.set_document(&persisted->document());
  SdlClipboard clipboard;

  // Device link: wakes the loop through an SDL user event when events arrive.
  std::optional<device_link::DeviceLink> link;
  const Uint32 wake_event = SDL_RegisterEvents(1);
  if (device_link::DeviceLinkHost* link_host = widget->as_device_link_host()) {
    (void)link_host;
    auto device = device_link::SimulatedDevice::start();
    if (!device) fail("could not start the device link: " + device.error());
    (*device)->set_event_notifier([wake_event, &glib] {
      if (wake_event != static_cast<Uint32>(-1)) {
        SDL_Event e{};
        e.type = wake_event;
        SDL_PushEvent(&e);
      }
      glib.wake();
    });
    link.emplace(*device);
    host.set_device_link(&*link);
  }

  // Physical pixels: the drawable size (or the window size times a forced scale).
  double scale = 1.0;
  double physical_per_window = 1.0;
  auto relayout = [&] {
    int ww = 0, wh = 0;
    SDL_GetWindowSize(sdl.window, &ww, &wh);
    presenter.refresh();
    ww = std::max(ww, 1);
    const int pw = presenter.width(), ph = presenter.height();
    physical_per_window = static_cast<double>(pw) / ww;
    scale = forced_scale().value_or(physical_per_window);
    host.layout(pw / scale, ph / scale);
  };
  relayout();

  // A client's change is stored before it is answered.
  auto save_now = [&]() -> std::optional<std::string> {
    if (!autosave) return std::nullopt;
    const persist::AutoSave::Attempt a = autosave->save_now(persist::AutoSave::Clock::now());
    report_attempt(a);
    report_set_aside();
    if (a.state == persist::AutoSave::State::Stored) return std::nullopt;
    return a.reason;
  };
  std::unique_ptr<ActionBus> action_bus = ActionBus::start(glib.owns_context(), d.app_id, host, app.action_registry(),
                                                           persisted ? &persisted->document() : nullptr, save_now);

  // The accessibility tree on the desktop accessibility bus, when there is one.
  accessibility::Publisher a11y(id_text);
  a11y.attach(*widget, host.document());
  a11y.enable_bridge();

  bool quit = false;
  bool painted_once = false;
  bool exposed = false;
  bool focused = true;
  std::vector<SDL_Event> batch;
  widget::Instant last_present = widget::Clock::now();
  while (!quit) {
    // Frames are paced to about 60 a second (the window surface has no
    // vsync to do it); input is taken as soon as it comes; with nothing to
    // paint the loop sleeps until something happens. A frame whose display
    // list did not change is not rasterised or presented.
    auto since_present = [&] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(widget::Clock::now() - last_present).count();
    };
    int wait_ms = kIdleWaitMs;
    if (!painted_once || exposed || host.wants_frame()) {
      wait_ms = painted_once ? std::max(0, static_cast<int>(kFrameIntervalMs - since_present())) : 0;
    } else if (host.operations_in_flight() > 0) {
      wait_ms = kFrameIntervalMs;
    }
    if (a11y.publication_pending()) wait_ms = std::min(wait_ms, accessibility::kBridgeIdleWaitMs);
    glib.wait(wait_ms);
    poll_batch(batch, kMaxEventsPerTurn, [](SDL_Event& next) { return SDL_PollEvent(&next) != 0; });
    if (g_quit_signal) quit = true;

    const event::Modifiers mods = modifiers_from(static_cast<Uint16>(SDL_GetModState()));
    for (std::size_t i = 0; i < batch.size() && !quit; ++i) {
      const SDL_Event& ev = batch[i];
      if (ev.type == SDL_QUIT) {
        quit = true;
        break;
      }
      if (ev.type == SDL_WINDOWEVENT) {
        switch (ev.window.event) {
          case SDL_WINDOWEVENT_CLOSE: quit = true; continue;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_RESIZED:
            relayout();
            exposed = true;
            break;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN: exposed = true; break;
          case SDL_WINDOWEVENT_FOCUS_GAINED: focused = true; break;
          case SDL_WINDOWEVENT_FOCUS_LOST: focused = false; break;
          default: break;
        }
      }
      bool consumed_next = false;
      const SDL_Event* next = i + 1 < batch.size() ? &batch[i + 1] : nullptr;
      if (auto translated = translate(ev, next, consumed_next, physical_per_window)) {
        // Keys carry the modifiers of their own moment; other events take the current state.
        const bool is_key = ev.type == SDL_KEYDOWN || ev.type == SDL_KEYUP;
        host.dispatch(*translated, is_key ? modifiers_from(ev.key.keysym.mod) : mods, scale, widget::Clock::now(),
                      &clipboard);
      }
      if (consumed_next) ++i;
    }
    if (quit) break;

    if (watch) {
      watch->poll(*persisted);
      report_set_aside();
    }
    host.tick();
    // Accessibility: the wait above dispatched atk-bridge's bus traffic (and
    // ran its requests); a changed tree is published.
    if (a11y.bridge_wanted()) {
      int wx = 0, wy = 0;
      SDL_GetWindowPosition(sdl.window, &wx, &wy);
      a11y.turn({double(wx), double(wy), scale / physical_per_window}, widget::Clock::now());
    }
    if (autosave) {
      if (auto attempt = autosave->turn(persist::AutoSave::Clock::now())) {
        report_attempt(*attempt);
        report_set_aside();
      }
    }

    const bool due = !painted_once || since_present() >= kFrameIntervalMs;
    if (due && (!painted_once || exposed || host.wants_frame())) {
      const scene::Scene& s = host.paint(widget::Clock::now(), scale, focused);
      const bool shown = presenter.present(s, renderer, text, scale, exposed);
      // The tree follows the state, which also changes where nothing new is
      // drawn (a row scrolled out of view renamed); an animation step that
      // draws the same picture leaves it as it was.
      if (shown || host.last_frame_requested()) a11y.frame_painted();
      last_present = widget::Clock::now();
      painted_once = true;
      exposed = false;
      if (action_bus) action_bus->after_frame();
    }
  }

  // One last attempt; what it cannot store is named, since it is lost now.
  if (autosave && (persisted->dirty() || autosave->state() != persist::AutoSave::State::Stored)) {
    const persist::AutoSave::Attempt last = autosave->save_now(persist::AutoSave::Clock::now());
    const std::vector<std::string> lost = persisted->unsaved_change_messages();
    if (last.state != persist::AutoSave::State::Stored && !lost.empty()) {
      std::fprintf(stderr, "vesk_ui: quitting without saving %zu change(s) to %s (%s): %s\n", lost.size(),
                   persisted->file_path().c_str(), change_labels(lost).c_str(), last.reason.c_str());
      std::fflush(stderr);
    }
  }
  // The window goes at once; what follows only releases memory and threads.
  SDL_HideWindow(sdl.window);
  SDL_PumpEvents();
  if (const char* dump = std::getenv("VESK_UI_DUMP_SCENE"); dump && *dump) {
    // What the window shows at the end, also when the last change came after
    // the last frame.
    if (host.wants_frame()) host.paint(widget::Clock::now(), scale, focused);
    std::ofstream out(dump, std::ios::binary | std::ios::trunc);
    out << host.scene().dump();
  }
  // The widget goes before the window system it may still refer to.
  action_bus.reset();
  a11y.detach();
  host.set_device_link(nullptr);
  link.reset();
  widget.reset();
  return 0;
}

}  // namespace vesk_ui::launch
