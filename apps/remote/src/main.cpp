#include "apps/remote/src/app/launch.hpp"

// The framework owns the process from here: window, event loop, document.
int main() {
  const vesk_ui::launch::LaunchDescriptor descriptor = remote::app::launch_descriptor();
  (void)vesk_ui::launch::run_or_exit(descriptor);
  return 0;
}
