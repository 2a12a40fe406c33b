#!/usr/bin/env bash
# Installs what is missing, builds the application in release mode and starts it.
# Extra arguments go to the application (for example a scene word: narrow, form, ...).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DREMOTE_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target remote remote-actions
exec "$build/apps/remote/remote" "$@"
