#pragma once
// The launcher: one description of the application in, a window and its
// event loop out.

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/vesk_actions/registry.hpp"
#include "platform/vesk_ui/document/persist.hpp"
#include "platform/vesk_ui/widget/widget.hpp"

namespace vesk_ui::launch {

// What the launcher knows when it builds the application.
struct LaunchContext {
  std::optional<std::string> scene;  // the scene word from the command line
  std::string app_id;
};

// The framework's application, handed to the registration hook.
class App {
 public:
  vesk_actions::ActionRegistry& action_registry_mut() { return registry_; }
  const vesk_actions::ActionRegistry& action_registry() const { return registry_; }

 private:
  vesk_actions::ActionRegistry registry_;
};

struct WindowSize {
  std::uint32_t width = 1280;
  std::uint32_t height = 800;
};

using AppBox = std::unique_ptr<widget::Widget>;
using DocumentOpener = std::function<persist::Result<persist::PersistedDocument>(std::string app_folder)>;

struct LaunchDescriptor {
  // Reverse-domain identifier; also the bus name and the document's folder name.
  std::string app_id;
  // The name people see: the window title (the identifier when empty).
  std::string app_name;
  // Declared capabilities and integrations (unused by this launcher).
  std::vector<std::string> capabilities;
  std::vector<std::string> optional_capabilities;
  std::vector<std::string> url_schemes;
  std::vector<std::string> file_types;
  // Scene words the application understands (for --help and review tools).
  std::vector<std::string> review_scenes;
  // Builds the application when no scene builder is given.
  std::function<AppBox()> build_default;
  // Builds the application for the launch context; preferred when present.
  std::function<std::expected<AppBox, std::string>(const LaunchContext&)> build_for_scene;
  // Runs before any document is opened or any action decoded.
  std::function<void(App&)> register_actions;
  std::function<WindowSize()> initial_window_size;
  // Whether the application keeps a persisted document (default: yes).
  std::function<bool()> wants_document;
  // Opens the persisted document (normally vesk_ui::persist::open).
  DocumentOpener open_document;
  bool resizable = true;
  bool fullscreen = false;
  bool high_dpi = true;
  // The window surface has no vsync; frames are paced by the loop's own timer.
  bool vsync = true;
};

// Runs the application until it quits. Quitting (window closed, SIGTERM,
// SIGINT) saves the document and returns 0. A failure to start prints its
// reason to standard error and exits the process with status 1.
//
// The scene word is the first command-line argument that does not start with
// "--". Environment: VESK_UI_SCALE forces the physical/logical scale;
// VESK_UI_TEXT_SCALE enlarges text (the text renderer's scale factor);
// VESK_UI_REDUCED_MOTION=1 asks the widget for reduced motion;
// VESK_UI_DUMP_SCENE names a file that receives the display list of the
// window's final state (the last frame, painted once more when the widget
// changed since) when the loop ends. Quitting with changes that cannot be
// stored prints one line naming them.
int run_or_exit(const LaunchDescriptor& descriptor);

// The launcher's start-up without a window: builds the application exactly as
// run_or_exit does (registration hook, then the scene or default builder).
std::expected<AppBox, std::string> build_app(const LaunchDescriptor& descriptor, const LaunchContext& context,
                                             App& app);

// The scene word among the arguments (argv[0] excluded).
std::optional<std::string> scene_word(const std::vector<std::string>& args);

}  // namespace vesk_ui::launch
