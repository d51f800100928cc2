#!/usr/bin/env bash
# The real capture program on a virtual X display, driven like a user with
# xdotool: 録画(R) → 開始(S), a few seconds, 録画(R) → 停止(E), ファイル(F) →
# 終了(X). The recording must exist, play to its end and last about as long
# as it was recorded.
#   record_through_menu.sh <build output folder>
set -euo pipefail
out=$1
work=$(mktemp -d)
app=
cleanup() {
  if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then kill "$app"; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A program folder of its own (the program keeps setup.ini and video/ there).
cp "$out/capture" "$work/"
ln -s "$out/data" "$work/data"
ln -s "$out/libgstquellfx.so" "$work/libgstquellfx.so"
export XDG_CONFIG_HOME="$work/config" GST_REGISTRY="$work/registry.bin" QT_QPA_PLATFORM=xcb

"$work/capture" --source "$out/data/astronaut.png" >"$work/capture.log" 2>&1 &
app=$!
window=$(timeout 30 xdotool search --sync --name '^Quellvisor - ' | head -1)
title() { xdotool getwindowname "$window"; }
xdotool windowfocus --sync "$window"
echo "started: $(title)"

xdotool key alt+r; sleep 0.5; xdotool key s
sleep 4
case "$(title)" in *録画中) echo "recording: $(title)" ;; *) echo "not recording: $(title)"; exit 1 ;; esac
xdotool key alt+r; sleep 0.5; xdotool key e
sleep 1
case "$(title)" in *録画中) echo "still recording: $(title)"; exit 1 ;; esac
xdotool key alt+f; sleep 0.5; xdotool key x
timeout 20 tail --pid="$app" -f /dev/null
app=

files=("$work"/video/*.avi)
[ -f "${files[0]}" ] || { echo "no recording in $work/video"; cat "$work/capture.log"; exit 1; }
[ ${#files[@]} -eq 1 ] || { echo "expected one recording, found ${#files[@]}"; exit 1; }
report=$(gst-discoverer-1.0 "${files[0]}")
echo "$report"
seconds=$(echo "$report" | sed -n 's/^ *Duration: 0:00:\([0-9]*\)\..*/\1/p' | head -1)
[ -n "$seconds" ] && [ "$seconds" -ge 3 ] && [ "$seconds" -le 8 ] || { echo "unexpected duration"; exit 1; }
echo "$report" | grep -q "Uncompressed" || { echo "not an uncompressed video stream"; exit 1; }
# Plays to its end: every frame demuxes without an error.
gst-launch-1.0 -q filesrc location="${files[0]}" ! avidemux ! fakesink
[ -f "$work/setup.ini" ] || { echo "setup.ini was not written"; exit 1; }
echo "ok: ${files[0]##*/}"
