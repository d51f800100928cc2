#!/usr/bin/env bash
# Installs a built .deb on this machine with dpkg, uses what it installed
# with nothing pointing at it (no GST_PLUGIN_PATH, the program from PATH),
# and removes it again with dpkg -r, also when a check fails or the script is
# interrupted: an installed plugin would stand in for the built one in the
# other tests. While it is installed, no other test may run on this machine.
#   install_deb.sh <.deb>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(realpath "$1")
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

name=$(dpkg-deb -f "$deb" Package)
installed_before() { dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q ' installed$'; }
if installed_before; then
  echo "$name is installed on this machine; this check installs and removes it itself:"
  echo "remove it first (dpkg -r $name)"
  exit 1
fi

work=$(mktemp -d)
installed=
cleanup() {
  if [ -n "$installed" ]; then
    $sudo dpkg -r "$name" >/dev/null || echo "FAIL: dpkg -r $name failed; remove it by hand"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A clean environment: the system's plugin folders only, a registry of the
# check's own, so that the user's registry cache is left alone.
clean=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work" LANG=C.UTF-8 GST_REGISTRY="$work/registry.bin")

installed=1
if ! $sudo dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log"
  exit 1
fi
files=$(dpkg -L "$name" | while read -r f; do [ -d "$f" ] || echo "$f"; done)
echo "installed $name $(dpkg-query -W -f='${Version}' "$name"): $(echo "$files" | wc -l) files"

plugins=$(pkg-config --variable=pluginsdir gstreamer-1.0)
plugin=$plugins/libgstquellfx.so
if inspect=$("${clean[@]}" gst-inspect-1.0 quellfx 2>&1); then
  # The file it names may be reached through /lib, a link to /usr/lib.
  found=$(echo "$inspect" | sed -n 's/^ *Filename *//p')
  echo "gst-inspect-1.0 quellfx: Filename $found"
  [ -n "$found" ] && [ "$(realpath "$found")" = "$(realpath "$plugin")" ] \
    || fail "gst-inspect-1.0 quellfx names '$found', not $plugin"
else
  fail "gst-inspect-1.0 quellfx does not find the element: $inspect"
fi

# The element in a plain pipeline, started where no data folder is: it takes
# every data file from the installed one.
if launch=$(cd "$work" && "${clean[@]}" GST_DEBUG=quellfx:2 GST_DEBUG_NO_COLOR=1 gst-launch-1.0 \
    videotestsrc num-buffers=5 ! videoconvert ! quellfx ! videoconvert ! fakesink 2>&1); then
  if echo "$launch" | grep -E 'WARN +.*quellfx'; then
    fail "the installed element does not find its installed data"
  fi
else
  fail "gst-launch-1.0 with quellfx failed: $launch"
fi

program=$("${clean[@]}" sh -c 'command -v capture') || true
[ "$program" = /usr/bin/capture ] || fail "capture on PATH is '$program'"
usage=$("${clean[@]}" QT_QPA_PLATFORM=offscreen capture --help 2>&1) || fail "capture --help failed: $usage"
echo "$usage" | grep -q '^usage: capture' || fail "capture --help prints: $usage"

"$here/run_installed.sh" /usr/bin/capture "$plugin" /usr/share/quellfx/data/astronaut.png || fail "the installed program"

# Removal leaves nothing behind, and GStreamer no longer finds the element.
installed=
if ! $sudo dpkg -r "$name" >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log"
  fail "dpkg -r $name failed"
fi
! installed_before || fail "$name is still installed after dpkg -r"
for f in $files /usr/share/quellfx /usr/bin/setup.ini /usr/bin/video; do
  [ ! -e "$f" ] || fail "$f is left after dpkg -r"
done
if "${clean[@]}" gst-inspect-1.0 quellfx >/dev/null 2>&1; then
  fail "gst-inspect-1.0 still finds quellfx after dpkg -r"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok: installed, used and removed"
