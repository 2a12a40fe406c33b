#!/usr/bin/env bash
# Installs what is missing, builds every test under AddressSanitizer and
# UndefinedBehaviorSanitizer with warnings as errors, and runs them; then
# builds the fuzz targets with clang and runs each for a bounded time.
# The tests start their own peers (sshd, dropbear, Xvnc, x11vnc, Xvfb) on
# 127.0.0.1 and stop them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/deps.sh

jobs=$(nproc)
build=${REMOTE_TEST_BUILD:-$root/build/test}
fuzz_build=${REMOTE_FUZZ_BUILD:-$root/build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DREMOTE_SANITIZE=ON -DREMOTE_WERROR=ON -DREMOTE_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0

# Fuzz targets first, so that the main suite's summary is the last thing printed.
if [ "${REMOTE_SKIP_FUZZ:-0}" != 1 ]; then
  CC=clang-19 CXX=clang++-19 cmake -S . -B "$fuzz_build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREMOTE_FUZZ=ON >/dev/null
  cmake --build "$fuzz_build" -j "$jobs" --target fuzz_all
  fuzz_list=$(ctest --test-dir "$fuzz_build" -N -L fuzz)
  if grep -qE 'Test +#' <<<"$fuzz_list"; then
    ctest --test-dir "$fuzz_build" -j "$jobs" --output-on-failure -L fuzz || status=$?
  fi
fi

ctest --test-dir "$build" -j "$jobs" --output-on-failure --label-exclude fuzz || status=$?

exit $status
