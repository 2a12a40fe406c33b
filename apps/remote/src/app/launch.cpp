#include "apps/remote/src/app/launch.hpp"

#include "apps/remote/src/actions/dispatch.hpp"
#include "apps/remote/src/actions/registration.hpp"
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/samples.hpp"
#include "apps/remote/src/doc/text.hpp"
#include "platform/vesk_ui/document/persist.hpp"

namespace remote::app {

bool sample_mode_requested() {
  const auto value = text::env_var("VESK_REMOTE_SAMPLE");
  return value && *value == "1";
}

std::unique_ptr<RemoteApp> build_default_app() { return RemoteApp::empty(); }

std::unique_ptr<RemoteApp> build_app(std::string_view word) {
  auto app = RemoteApp::empty();
  app->apply_layout_word(word);
  return app;
}

std::unique_ptr<RemoteApp> build_sample_app(std::string_view word) {
  auto app = RemoteApp::with_sample_data();
  app->apply_layout_word(word);
  app->apply_review_state(word);
  return app;
}

std::expected<vesk_ui::launch::AppBox, std::string> build_app_for_scene(const vesk_ui::launch::LaunchContext& context) {
  const std::string word = context.scene.value_or(std::string());
  if (sample_mode_requested()) return vesk_ui::launch::AppBox(build_sample_app(word));
  return vesk_ui::launch::AppBox(build_app(word));
}

void register_actions(vesk_ui::launch::App& app) { actions::register_actions(app.action_registry_mut()); }

vesk_ui::launch::WindowSize default_window_size() { return {1280, 800}; }

bool descriptor_flag() { return true; }

vesk_ui::launch::LaunchDescriptor launch_descriptor() {
  vesk_ui::launch::LaunchDescriptor d;
  d.app_id = std::string(actions::kAppIdentifier);
  d.app_name = std::string(actions::kAppName);
  d.review_scenes.assign(kReviewScenes.begin(), kReviewScenes.end());
  d.build_default = [] { return vesk_ui::launch::AppBox(build_default_app()); };
  d.build_for_scene = build_app_for_scene;
  d.register_actions = register_actions;
  d.initial_window_size = default_window_size;
  d.wants_document = descriptor_flag;
  d.open_document = vesk_ui::persist::open;
  d.resizable = true;
  d.fullscreen = false;
  d.high_dpi = true;
  d.vsync = true;
  return d;
}

}  // namespace remote::app
