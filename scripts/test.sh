#!/usr/bin/env bash
# Installs what is missing, builds every test under AddressSanitizer and
# UndefinedBehaviorSanitizer with warnings as errors, and again as an
# optimised Release build (warnings as errors, no sanitizers), and runs the
# whole suite in both: timing that holds in one may not in the other. The
# fuzz targets are built with clang and each runs for a bounded time. Any
# failure fails the script; the sanitizer suite's summary is printed last.
# The tests start their own peers (sshd, dropbear, Xvnc, x11vnc, Xvfb) on
# 127.0.0.1 and stop them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/deps.sh

jobs=$(nproc)
build=${REMOTE_TEST_BUILD:-$root/build/test}
release_build=${REMOTE_RELEASE_BUILD:-$root/build/test-release}
fuzz_build=${REMOTE_FUZZ_BUILD:-$root/build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DREMOTE_SANITIZE=ON -DREMOTE_WERROR=ON -DREMOTE_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs"
cmake -S . -B "$release_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DREMOTE_SANITIZE=OFF -DREMOTE_WERROR=ON -DREMOTE_BENCH=ON >/dev/null
cmake --build "$release_build" -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0

# Fuzz targets and the Release suite first, so that the main suite's
# summary is the last thing printed.
if [ "${REMOTE_SKIP_FUZZ:-0}" != 1 ]; then
  CC=clang-19 CXX=clang++-19 cmake -S . -B "$fuzz_build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREMOTE_FUZZ=ON >/dev/null
  cmake --build "$fuzz_build" -j "$jobs" --target fuzz_all
  fuzz_list=$(ctest --test-dir "$fuzz_build" -N -L fuzz)
  if grep -qE 'Test +#' <<<"$fuzz_list"; then
    ctest --test-dir "$fuzz_build" -j "$jobs" --output-on-failure -L fuzz || status=$?
  fi
fi

echo "== Release suite"
ctest --test-dir "$release_build" -j "$jobs" --output-on-failure --label-exclude fuzz || status=$?

echo "== AddressSanitizer and UndefinedBehaviorSanitizer suite"
ctest --test-dir "$build" -j "$jobs" --output-on-failure --label-exclude fuzz || status=$?

exit $status
