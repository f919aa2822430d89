#!/usr/bin/env bash
# The Debian package as a user gets it: built with CPack from this build, its
# contents and dependencies checked, unpacked into a temporary root (dpkg -x)
# and the monitor started from there, offscreen, with --version.
#
#   package_test.sh <build dir> <version> <application id>
# Leaves the package and its listing in <build dir>/package/ for CI to show.
set -euo pipefail
build=$1 version=$2 app_id=$3
out=$build/package
root=$(mktemp -d "${TMPDIR:-/tmp}/orvane-pkg-root.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; fail "cpack failed"; }
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $out"
deb=${debs[0]}
dpkg-deb -c "$deb" >"$out/contents.txt"

expected=(
  ./usr/bin/orvane-monitor
  ./usr/bin/orvane-account
  ./usr/bin/gateway-sim
  ./usr/bin/cloud-sim
  ./usr/bin/tile-sim
  "./usr/share/applications/$app_id.desktop"
  "./usr/share/metainfo/$app_id.metainfo.xml"
  ./usr/share/doc/qel-orvane-monitor/copyright
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for path in "${expected[@]}"; do
  grep -q " $path\$" "$out/contents.txt" || fail "$path is not in the package"
done
# Programs only: no test, benchmark or build helper is shipped.
stray=$(awk '{print $6}' "$out/contents.txt" | grep '^\./usr/bin/.' | grep -Ev '/(orvane-monitor|orvane-account|[a-z]+-sim)$' || true)
[ -z "$stray" ] || fail "unexpected programs in the package: $stray"
grep -Ev ' \./usr(/|$)| \./$' "$out/contents.txt" && fail "files outside /usr"

# Dependencies found from the shared libraries, and the two loaded by name.
depends=$(dpkg-deb -f "$deb" Depends)
names=" $(tr ',' '\n' <<<"$depends" | awk '{print $1}' | paste -sd ' ') "
for package in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libsqlite3-0 qt6-qpa-plugins; do
  [[ $names == *" $package "* ]] || fail "Depends lacks $package: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"

dpkg -x "$deb" "$root"
file "$root/usr/share/icons/hicolor/256x256/apps/$app_id.png" | grep -q '256 x 256' || fail "the 256 px icon is not 256 x 256"
shown=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/orvane-monitor" --version)
[ "$shown" = "Qel Orvane Monitor $version" ] || fail "--version printed '$shown'"
status=0
QT_QPA_PLATFORM=offscreen "$root/usr/bin/orvane-monitor" --no-such-option 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "an unknown option gave exit status $status, not 2"
"$root/usr/bin/gateway-sim" --help >/dev/null || fail "the installed gateway-sim does not start"
# Without a display: a clear word and exit status 1, not Qt's abort.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/orvane-monitor" >/dev/null 2>"$root/no-display.err" || status=$?
[ "$status" -eq 1 ] || fail "without a display the monitor ended with status $status, not 1: $(cat "$root/no-display.err")"
grep -q 'neither DISPLAY nor WAYLAND_DISPLAY is set' "$root/no-display.err" && grep -q 'xvfb-run' "$root/no-display.err" ||
  fail "without a display the monitor said: $(cat "$root/no-display.err")"
echo "package_test: $(basename "$deb") passed ($(wc -l <"$out/contents.txt") entries)"
