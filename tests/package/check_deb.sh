#!/usr/bin/env bash
# Checks a built .deb without installing it: its files, unpacked with
# dpkg -x into a scratch root, are exactly the plugin in GStreamer's own
# plugin folder, the program in /usr/bin, the data files, the desktop entry
# and the icon; the binaries carry no path of the build; the control fields
# name the package, its version, maintainer, section and dependencies.
#   check_deb.sh <.deb> <the build's data folder> [version]
#   check_deb.sh --from-build <build folder> <scratch folder> [version]
#     packs the build folder with cpack into the scratch folder first
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --from-build ]; then
  build=$2 work=$3 version=${4:-}
  rm -rf "$work"
  mkdir -p "$work"
  log=$(cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" 2>&1) || { echo "$log"; exit 1; }
  deb=$(echo "$log" | sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p')
  [ -n "$deb" ] || { echo "$log"; echo "cpack made no .deb"; exit 1; }
  exec "$0" "$deb" "$build/out/data" $version
fi

deb=$1 data=$2
[ -f "$deb" ] || { echo "no such package: $deb"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

# GStreamer's own plugin folder, without the leading slash.
plugins=$(pkg-config --variable=pluginsdir gstreamer-1.0)
plugins=${plugins#/}
expected=("$plugins/libgstquellfx.so" usr/bin/capture
  usr/share/applications/quellvisor.desktop usr/share/icons/hicolor/scalable/apps/quellvisor.svg)
data_count=0
for f in "$data"/*; do
  expected+=("usr/share/quellfx/data/${f##*/}")
  data_count=$((data_count + 1))
done
[ "$data_count" -gt 0 ] || fail "the build's data folder $data is empty"
got=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$got" != "$want" ]; then
  fail "files in the package differ from the expected ones (< package, > expected):"
  diff <(echo "$got") <(echo "$want") || true
fi

# Every data file as the build made it.
for f in "$data"/*; do
  packed=$root/usr/share/quellfx/data/${f##*/}
  [ ! -f "$packed" ] || cmp -s "$f" "$packed" || fail "data file ${f##*/} differs from the build's"
done

# The binaries: stripped and with no search path into the build; the
# program executable, the plugin module not (a library, as Debian has it).
[ -x "$root/usr/bin/capture" ] || fail "usr/bin/capture is not executable"
[ ! -x "$root/$plugins/libgstquellfx.so" ] || fail "the plugin module is executable"
for bin in usr/bin/capture "$plugins/libgstquellfx.so"; do
  [ -f "$root/$bin" ] || continue
  if readelf -d "$root/$bin" | grep -Eq 'R(UN)?PATH'; then
    fail "$bin has a library search path: $(readelf -d "$root/$bin" | grep -E 'R(UN)?PATH')"
  fi
  if readelf -S "$root/$bin" | grep -q '\.debug_info'; then
    fail "$bin is not stripped"
  fi
done

# The desktop entry starts the program on PATH and names the installed icon.
desktop=$root/usr/share/applications/quellvisor.desktop
if [ -f "$desktop" ]; then
  grep -qx 'Exec=capture.*' "$desktop" || fail "the desktop entry does not start capture"
  grep -qx 'Icon=quellvisor' "$desktop" || fail "the desktop entry does not name the icon quellvisor"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
  fi
fi

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quellvisor ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
if [ -n "${3:-}" ]; then
  [ "$(field Version)" = "$3" ] || fail "Version is '$(field Version)', expected $3"
fi
[ -n "$(field Version)" ] || fail "no Version"
field Maintainer | grep -Eq '^[^<]+ <[^@ ]+@[^> ]+>$' || fail "Maintainer '$(field Maintainer)' is not 'name <e-mail>'"
[ "$(field Section)" = video ] || fail "Section is '$(field Section)'"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
[ -n "$depends" ] || fail "no Depends"
names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/ //g' | sed '/^$/d' | sort -u)
# The libraries the two binaries link, and the plugin sets whose elements
# the pipelines load by name.
for needed in libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  libqt6widgets6 libqt6svg6 'libopencv-core[0-9.]*' 'libopencv-objdetect[0-9.]*' libcairo2 'libpango-1.0-0' libstdc++6; do
  echo "$names" | grep -qx "$needed" || fail "Depends lacks $needed: $depends"
done
# Every dependency is a package this machine knows (it built the package).
for name in $names; do
  dpkg-query -W "$name" >/dev/null 2>&1 || apt-cache show "$name" >/dev/null 2>&1 \
    || fail "Depends names $name, which no package source knows"
done

echo "$(basename "$deb"): $(echo "$got" | wc -l) files; Depends: $depends"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok"
