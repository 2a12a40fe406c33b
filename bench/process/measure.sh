#!/usr/bin/env bash
# Whole-process figures of the application under its own Xvfb:
#   first_ms  first frame visible after exec (the screen's centre stops being black)
#   rss_mb    resident memory after settling (/proc/PID/status VmRSS)
#   cpu_pct   CPU over IDLE_SECONDS of idling, in % of one core (/proc/PID/stat)
#   exit_ms   from asking the window to close to the process's exit
#   max_mb    peak resident memory (/usr/bin/time -v)
#   gl        whether a GL/LLVM library was mapped (/proc/PID/maps)
# Cases, all with the sample data (VESK_REMOTE_SAMPLE=1):
#   list      the connection list, untouched
#   device    a connected device session (the simulated device streams)
#   ssh       a connected, idle SSH session to an OpenSSH sshd this script
#             starts on 127.0.0.1 (root only: it logs in as root with a
#             throw-away key; skipped otherwise or without /usr/sbin/sshd)
#
# usage: bench/process/measure.sh [BINARY]
#   BINARY          default build/release/apps/remote/remote
#   DISPLAY_NUMBER  the Xvfb display to start (default 66)
#   IDLE_SECONDS    length of the CPU sample (default 10)
#   CASES           which cases, default "list device ssh"
#   THREADS=1       also print each thread's share of the CPU sample
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-$here/../../build/release/apps/remote/remote}")
num=${DISPLAY_NUMBER:-66}
secs=${IDLE_SECONDS:-10}
cases=${CASES:-list device ssh}
work=$(mktemp -d)
xvfb=""
sshd=""

cleanup() {
  [[ -n $sshd ]] && kill "$sshd" 2>/dev/null || true
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -o "$work/xprobe" "$here/xprobe.c" -lX11
Xvfb ":$num" -screen 0 1600x1000x24 -br -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$num"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# "tid ticks name" per thread, sorted by tid (for join).
thread_ticks() {
  for t in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${t##*/}" "$(awk '{print $14 + $15}' "$t/stat" 2>/dev/null || echo 0)" "$(cat "$t/comm" 2>/dev/null | tr ' ' '_')"
  done | sort -k1,1
}

# The window is 1280x800, centred on the 1600x1000 screen: logical (x, y) is
# screen (x + 160, y + 100).
click() { xdotool mousemove $(($1 + 160)) $(($2 + 100)) click 1; }

drive_list() { :; }
drive_device() {
  click 1183 248 # Connect on "Studio Node", the first device profile
  sleep 0.5
  xdotool key Return # confirm
}
drive_ssh() {
  xdotool key Return # connect the selected (only) profile
  sleep 0.5
  xdotool key Return # confirm
}

# Starts sshd on 127.0.0.1 with a fresh host key and a key for root; writes
# the pin file and sets SSH_PORT.
start_sshd() {
  local d="$work/sshd"
  mkdir -p "$d" /run/sshd
  chmod 700 "$d" # the pin file's folder must be private
  ssh-keygen -q -t ed25519 -N '' -f "$d/host" -C host
  ssh-keygen -q -t ed25519 -N '' -f "$d/client" -C client
  cp "$d/client.pub" "$d/authorized_keys"
  SSH_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat >"$d/config" <<CONF
ListenAddress 127.0.0.1:$SSH_PORT
HostKey $d/host
AuthorizedKeysFile $d/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
StrictModes no
UsePAM no
PidFile $d/pid
CONF
  /usr/sbin/sshd -D -e -f "$d/config" 2>"$d/log" &
  sshd=$!
  local fp
  fp=$(ssh-keygen -lf "$d/host.pub" | awk '{print $2}')
  printf '{"entries":[{"host":"127.0.0.1","port":%s,"identity":{"algorithm":"ssh-ed25519","fingerprint":"%s"}}]}' \
    "$SSH_PORT" "$fp" >"$d/pins.json"
  chmod 600 "$d/pins.json"
  sleep 0.3
}

printf '%-8s %9s %7s %8s %8s %7s %3s\n' case first_ms rss_mb cpu_pct exit_ms max_mb gl
for name in $cases; do
  data="$work/$name"
  mkdir -p "$data"
  env_extra=()
  if [[ $name == ssh ]]; then
    if [[ $(id -u) != 0 || ! -x /usr/sbin/sshd ]]; then
      echo "ssh      skipped (needs root and /usr/sbin/sshd)"
      continue
    fi
    [[ -z $sshd ]] && start_sshd
    # One saved SSH profile: typed into the new-connection form by the first run.
    env_extra=(REMOTE_LIVE_SESSIONS=1 REMOTE_SSH_KEY="$work/sshd/client"
      REMOTE_SSH_KNOWN_HOSTS="$work/sshd/pins.json" VESK_REMOTE_SAMPLE=0)
  else
    env_extra=(VESK_REMOTE_SAMPLE=1)
  fi
  mkfifo "$work/$name.in"
  env XDG_DATA_HOME="$data" XDG_STATE_HOME="$data" "${env_extra[@]}" \
    /usr/bin/time -v -o "$work/$name.time" "$work/xprobe" "$bin" <"$work/$name.in" >"$work/$name.out" 2>&1 &
  probe=$!
  exec 7>"$work/$name.in"
  for _ in $(seq 400); do grep -q first_frame_ms "$work/$name.out" && break; sleep 0.05; done
  pid=$(awk '$1 == "pid" {print $2}' "$work/$name.out")
  first=$(awk '$1 == "first_frame_ms" {print $2}' "$work/$name.out")
  sleep 2
  if [[ $name == ssh ]]; then
    "$here/new_ssh_profile.sh" "$SSH_PORT" root
    sleep 1
  fi
  "drive_$name"
  sleep 3
  a=$(cpu_ticks "$pid")
  [[ ${THREADS:-} == 1 ]] && thread_ticks "$pid" >"$work/$name.threads0"
  sleep "$secs"
  b=$(cpu_ticks "$pid")
  if [[ ${THREADS:-} == 1 ]]; then
    thread_ticks "$pid" >"$work/$name.threads1"
    join "$work/$name.threads0" "$work/$name.threads1" |
      awk -v t="$ticks" -v s="$secs" '{d = $4 - $2; if (d > 0) printf "  thread %s %s: %.1f%%\n", $1, $3, d * 100 / t / s}'
  fi
  cpu=$(awk -v a="$a" -v b="$b" -v t="$ticks" -v s="$secs" 'BEGIN {printf "%.1f", (b - a) * 100 / t / s}')
  rss=$(awk '/VmRSS/ {printf "%.0f", $2 / 1024}' "/proc/$pid/status")
  gl=$(grep -c -E 'libGL|libEGL|libLLVM|_dri\.so' "/proc/$pid/maps" || true)
  [[ $name == ssh ]] && import -window root "$work/ssh.png" 2>/dev/null && cp "$work/ssh.png" /tmp/measure-ssh.png
  echo close >&7
  for _ in $(seq 400); do grep -q '^status' "$work/$name.out" && break; sleep 0.05; done
  exec 7>&-
  wait "$probe" || true
  exit_ms=$(awk '$1 == "exit_ms" {print $2}' "$work/$name.out")
  max=$(awk -F: '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$work/$name.time")
  printf '%-8s %9s %7s %8s %8s %7s %3s\n' "$name" "$first" "$rss" "$cpu" "$exit_ms" "$max" "$([[ $gl -gt 0 ]] && echo yes || echo no)"
done
