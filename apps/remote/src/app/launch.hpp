#pragma once
// Start-up: the launch description and the builder hooks the framework calls.

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "platform/vesk_ui/launch/launch.hpp"

namespace remote::app {

class RemoteApp;

// Exactly "1" (set and valid UTF-8) turns sample mode on.
bool sample_mode_requested();

std::unique_ptr<RemoteApp> build_default_app();
// Empty, with the launch mode of the word applied.
std::unique_ptr<RemoteApp> build_app(std::string_view word);
// Sample data, the launch mode and the review scene of the word.
std::unique_ptr<RemoteApp> build_sample_app(std::string_view word);
// Never fails.
std::expected<vesk_ui::launch::AppBox, std::string> build_app_for_scene(const vesk_ui::launch::LaunchContext& context);
void register_actions(vesk_ui::launch::App& app);
vesk_ui::launch::WindowSize default_window_size();
bool descriptor_flag();

vesk_ui::launch::LaunchDescriptor launch_descriptor();

}  // namespace remote::app
