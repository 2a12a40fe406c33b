#pragma once
// The application in a headless window, shared by the view tests.

#include <cstdint>
#include <memory>
#include <utility>

#include "apps/remote/src/app/remote_app.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"

namespace apptest {

// A headless host of the given size, painted once; stub text metrics unless
// real text is asked for.
inline std::unique_ptr<vesk_ui::headless::HeadlessHost> host_for(std::unique_ptr<remote::app::RemoteApp> app,
                                                                 std::uint32_t width = 1280, std::uint32_t height = 800,
                                                                 bool stub_text = true) {
  vesk_ui::headless::HeadlessOptions options;
  options.width = width;
  options.height = height;
  options.stub_text = stub_text;
  auto host = std::make_unique<vesk_ui::headless::HeadlessHost>(std::move(app), options);
  host->paint();
  return host;
}

}  // namespace apptest
