#!/usr/bin/env bash
# An installed capture program used as a user uses it: on a virtual X
# display, with the installed demo picture as its camera, recording through
# its menu with xdotool (録画(R) → 開始(S), 録画(R) → 停止(E), ファイル(F) →
# 終了(X)). It must load the plugin installed with it, find the installed
# data files (no data warnings), and keep setup.ini and the recording where
# an installed copy keeps them: beside the program when its folder is
# writable for the user, else in $XDG_CONFIG_HOME/quellvisor/ and the XDG
# videos folder's Quellvisor/. Run by root, the program runs as nobody, a
# user who cannot write the program folder. The environment is emptied
# (no GST_PLUGIN_PATH), HOME is a scratch folder. The display numbers start
# at 200, away from those of the other tests on a virtual display, which
# xvfb-run -a picks from 99 up: two picking at once could take the same.
#   run_installed.sh <installed capture> <installed plugin module> <installed picture>
#   run_installed.sh --from-build <build folder> <scratch prefix>
#     installs the build under the scratch prefix first
set -euo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

if [ "${1:-}" = --from-build ]; then
  build=$2 prefix=$3
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  prefix=$(cd "$prefix" && pwd -P)
  # The plugin folder sits below the prefix as GStreamer's own sits below /usr.
  plugins=$(pkg-config --variable=pluginsdir gstreamer-1.0)
  plugins=${plugins#"$(pkg-config --variable=prefix gstreamer-1.0)"}
  exec "$self" "$prefix/bin/capture" "$prefix$plugins/libgstquellfx.so" "$prefix/share/quellfx/data/astronaut.png"
fi

program=$1 plugin=$(realpath -m "$2") picture=$3

# Outside: a scratch home, the user, an empty environment.
if [ -z "${QUELL_RUN_INSIDE:-}" ]; then
  home=$(mktemp -d)
  as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  rc=0
  "${as_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" LANG=C.UTF-8 QUELL_RUN_INSIDE=1 \
    xvfb-run -n 200 -a -s "-screen 0 1024x768x24" "$self" "$@" || rc=$?
  rm -rf "$home"
  exit $rc
fi

# Inside: as the user, on the virtual display.
log=$HOME/capture.log
app=
cleanup() {
  # A modal question (a failed start) can keep it from ending on SIGTERM.
  if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
    kill "$app"
    timeout 5 tail --pid="$app" -f /dev/null || kill -9 "$app"
    wait "$app" || true
  fi
}
fail() {
  echo "FAIL: $1"
  echo "--- capture's output:"; cat "$log"
  exit 1
}
trap cleanup EXIT

folder=$(dirname "$program")
if [ -w "$folder" ]; then
  settings=$folder/setup.ini videos=$folder/video
else
  settings=$HOME/.config/quellvisor/setup.ini videos=$HOME/Videos/Quellvisor
fi
echo "running $program as $(id -un); settings $settings, recordings $videos"
# A later start: the saved camera (the picture) and no sound are reused, so
# no choice dialog or format page stands in the way.
mkdir -p "$(dirname "$settings")"
printf '[DEVICE]\nCAM_SELECT=ファイル: %s\nAUDIO_SELECT=録音なし\n' "${picture##*/}" >"$settings"
export GST_REGISTRY=$HOME/registry.bin GST_DEBUG=quellfx:2 GST_DEBUG_NO_COLOR=1 QT_QPA_PLATFORM=xcb

"$program" --source "$picture" >"$log" 2>&1 &
app=$!
window=$(timeout 60 xdotool search --sync --name '^Quellvisor - ' | head -1) || true
[ -n "$window" ] || fail "the main window did not get its caption within 60 s"
grep -qF " $plugin" "/proc/$app/maps" || fail "the program has not loaded $plugin: $(grep -F libgstquellfx /proc/$app/maps | head -1)"
echo "loaded: $plugin"

xdotool windowfocus --sync "$window"
xdotool key alt+r; sleep 0.5; xdotool key s
sleep 3
case "$(xdotool getwindowname "$window")" in *録画中) ;; *) fail "not recording: $(xdotool getwindowname "$window")" ;; esac
xdotool key alt+r; sleep 0.5; xdotool key e
sleep 1
xdotool key alt+f; sleep 0.5; xdotool key x
timeout 20 tail --pid="$app" -f /dev/null || fail "the program did not end within 20 s of 終了"
rc=0
wait "$app" || rc=$?
app=
[ "$rc" -eq 0 ] || fail "the program ended with $rc"

if grep -E 'WARN +.*quellfx' "$log"; then
  fail "the element reported problems (its data files?)"
fi
grep -q '^WIDTH=' "$settings" || fail "setup.ini was not saved in $settings"
files=("$videos"/*.avi)
[ -f "${files[0]}" ] || fail "no recording in $videos"
[ ${#files[@]} -eq 1 ] || fail "expected one recording in $videos, found ${#files[@]}"
gst-launch-1.0 -q filesrc location="${files[0]}" ! avidemux ! fakesink >/dev/null \
  || fail "the recording does not play to its end"
if [ ! -w "$folder" ] && [ -e "$folder/setup.ini" ]; then
  fail "setup.ini beside the program, in a folder the user cannot write"
fi
echo "ok: settings in $settings, recording ${files[0]##*/} in $videos"
