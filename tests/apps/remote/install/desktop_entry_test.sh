#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the desktop entry found
# there: desktop-file-validate has nothing to say about it, it names the
# application "Remote", and it starts the executable installed beside it.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
entry=$prefix/share/applications/dev.vesk.remote.desktop
[ -f "$entry" ] || { echo "no desktop entry at $entry"; exit 1; }
report=$(desktop-file-validate "$entry" 2>&1) || { echo "$report"; exit 1; }
[ -z "$report" ] || { echo "$report"; exit 1; }
grep -qx 'Name=Remote' "$entry" || { echo "Name is not Remote"; exit 1; }
exe=$(sed -n 's/^Exec=//p' "$entry")
[ "$exe" = "$prefix/bin/remote" ] || { echo "Exec=$exe, expected $prefix/bin/remote"; exit 1; }
[ -x "$exe" ] || { echo "$exe is not executable"; exit 1; }
echo "valid: $entry"
