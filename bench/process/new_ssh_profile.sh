#!/usr/bin/env bash
# Types a new SSH profile (127.0.0.1:PORT, USER, public key) into the running
# window's new-connection form and saves it. The window is 1280x800 centred
# on a 1600x1000 screen, as measure.sh starts it.
# usage: new_ssh_profile.sh PORT USER
set -euo pipefail
port=$1
user=$2
xdotool key ctrl+n
sleep 0.4
xdotool type --delay 5 "Loopback"
xdotool key Tab
xdotool type --delay 5 "127.0.0.1"
xdotool key Tab End BackSpace BackSpace BackSpace BackSpace BackSpace
xdotool type --delay 5 "$port"
xdotool key Tab
xdotool type --delay 5 "$user"
xdotool mousemove 971 505 click 1 # "Public key"
sleep 0.2
xdotool key Return # save
