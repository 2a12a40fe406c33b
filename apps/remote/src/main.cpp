#include <cstdio>

// Start-up lands here once the application core and the window layer exist.
int main() {
  std::puts("Remote: the window is not built yet; run scripts/test.sh to exercise what exists.");
  return 0;
}
