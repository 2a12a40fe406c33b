#!/usr/bin/env bash
# The one list of Debian packages the build, the app, the tests and CI need.
# Idempotent: installs only what is missing. Needs root (or sudo).
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake g++ pkg-config ninja-build clang-19 libclang-rt-19-dev
  # libraries
  uuid-dev libicu-dev libgmp-dev libsodium-dev libspdlog-dev nlohmann-json3-dev
  libssh-dev libssl-dev nettle-dev libcairo2-dev libpango1.0-dev libsdl2-dev libopenh264-dev
  fonts-dejavu-core libx11-dev
  libglib2.0-dev libatk1.0-dev libatk-bridge2.0-dev libatspi2.0-dev libdbus-1-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libvterm-dev libvncserver-dev
  # real peers for the tests
  openssh-server openssh-client dropbear-bin
  tigervnc-standalone-server tigervnc-tools x11vnc xvfb xdotool imagemagick
  x11-apps x11-xserver-utils
  dbus at-spi2-core python3-pyatspi
  # the whole-process measurement (bench/process)
  x11-utils time
  # the session bus and its command-line client (gdbus)
  dbus-bin libglib2.0-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# sshd's and dropbear's own services are not wanted: the tests start their own.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
