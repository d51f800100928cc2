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
  if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then kill "$app"; wait "$app" || true; fi
  rm -rf "$work"
}
fail() {
  echo "$1"
  echo "--- windows:"; xdotool search --name . 2>/dev/null | while read -r id; do xdotool getwindowname "$id"; done | sort -u
  echo "--- capture's output:"; cat "$work/capture.log"
  exit 1
}
trap cleanup EXIT

# A program folder of its own (the program keeps setup.ini and video/ there).
cp "$out/capture" "$work/"
ln -s "$out/data" "$work/data"
ln -s "$out/libgstquellfx.so" "$work/libgstquellfx.so"
# A later start: the saved camera (the picture) and no sound are reused, so
# no choice dialog or format page stands in the way.
printf '[DEVICE]\nCAM_SELECT=ファイル: astronaut.png\nAUDIO_SELECT=録音なし\n' >"$work/setup.ini"
export XDG_CONFIG_HOME="$work/config" GST_REGISTRY="$work/registry.bin" QT_QPA_PLATFORM=xcb

"$work/capture" --source "$out/data/astronaut.png" >"$work/capture.log" 2>&1 &
app=$!
window=$(timeout 60 xdotool search --sync --name '^Quellvisor - ' | head -1) || true
[ -n "$window" ] || fail "the main window did not get its caption within 60 s"
title() { xdotool getwindowname "$window"; }
xdotool windowfocus --sync "$window"
echo "started: $(title)"

xdotool key alt+r; sleep 0.5; xdotool key s
sleep 4
case "$(title)" in *録画中) echo "recording: $(title)" ;; *) fail "not recording: $(title)" ;; esac
xdotool key alt+r; sleep 0.5; xdotool key e
sleep 1
case "$(title)" in *録画中) fail "still recording: $(title)" ;; esac
xdotool key alt+f; sleep 0.5; xdotool key x
timeout 20 tail --pid="$app" -f /dev/null
app=

files=("$work"/video/*.avi)
[ -f "${files[0]}" ] || fail "no recording in $work/video"
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
