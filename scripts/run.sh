#!/usr/bin/env bash
# The README's run command: the monitor against a simulated gateway and a simulated cloud.
#
#   scripts/run.sh [gateway-sim options]      e.g. scripts/run.sh --bridges 12 --sim locked
#
# Installs and builds (scripts/setup.sh), starts gateway-sim on a pseudo-terminal and
# cloud-sim and tile-sim on free loopback ports, writes a temporary settings hive in which
# COM1 is the gateway simulator's link, every cloud server and the version host are the
# cloud simulator and the map's tiles come from tile-sim, stores the simulated cloud's demo
# account there (selected, so registration, summary and the cloud grids work without
# typing a key), and starts the monitor on it (trusting the cloud simulator's certificate)
# with --port COM1 --open, so the window shows a live gateway at once: under the user's
# display, under xvfb-run when there is none, or on Qt's offscreen platform when
# ORVANE_HEADLESS=1. The simulators and the temporary folder (xvfb-run's included) go when
# the monitor exits, on Ctrl-C and on TERM.
#
# Environment: ORVANE_BUILD_DIR (default build/), ORVANE_SKIP_SETUP=1 to reuse a build,
# ORVANE_HEADLESS=1 as above, ORVANE_TRACE=FILE to trace the gateway dialogue and the cloud
# requests to FILE, ORVANE_SCREENSHOTS=DIR to have the project's screenshot program
# (window_screenshots, with a GNSS fix) photograph every tab of the live window into DIR
# instead of showing it (scripts/screenshots.sh). The simulators' own messages are in the
# temporary folder's sim.err, cloud.err and tiles.err.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${ORVANE_BUILD_DIR:-$here/build}
export ORVANE_BUILD_DIR=$build_dir

if [ "${ORVANE_SKIP_SETUP:-0}" != 1 ]; then
  "$here/scripts/setup.sh"
fi

sim="$build_dir/tools/gateway-sim/gateway-sim"
cloud_sim="$build_dir/tools/cloud-sim/cloud-sim"
tile_sim="$build_dir/tools/tile-sim/tile-sim"
monitor="$build_dir/app/orvane-monitor"
account_tool="$build_dir/tools/account-tool/orvane-account"
for program in "$sim" "$cloud_sim" "$tile_sim" "$monitor" "$account_tool"; do
  if [ ! -x "$program" ]; then
    echo "run: $program was not built" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-demo.XXXXXX")
sim_pid=
cloud_pid=
tile_pid=
monitor_pid=
cleanup() {
  # The monitor runs as a job of its own: its whole group goes (xvfb-run and Xvfb too).
  if [ -n "$monitor_pid" ] && kill -0 "$monitor_pid" 2>/dev/null; then
    kill -TERM -- "-$monitor_pid" 2>/dev/null || kill -TERM "$monitor_pid" 2>/dev/null || true
    wait "$monitor_pid" 2>/dev/null || true
  fi
  for pid in "$sim_pid" "$cloud_pid" "$tile_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A simulator prints what the demo needs (its pty's path, its base URL, its port and
# certificate) once it is ready: waits up to ten seconds for <prefix>.out to have
# something, or a line matching the pattern when one is given; exits when the program died.
wait_until_ready() {
  local name=$1 pid=$2 prefix=$3 pattern=${4:-}
  for _ in $(seq 1 200); do
    if [ -n "$pattern" ]; then
      grep -q "$pattern" "$prefix.out" 2>/dev/null && return 0
    else
      [ -s "$prefix.out" ] && return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "run: $name did not start:" >&2
      cat "$prefix.err" >&2
      exit 1
    fi
    sleep 0.05
  done
}

# The simulator prints its pty's path once the link is in place.
link="$work/com1"
"$sim" --link "$link" "$@" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
wait_until_ready gateway-sim "$sim_pid" "$work/sim"
if [ ! -s "$work/sim.out" ]; then
  echo "run: gateway-sim did not publish $link" >&2
  exit 1
fi

# The cloud simulator prints its port and its certificate once it listens. It publishes a
# version other than the monitor's own, so the version lamp has something to show. The
# demo account's key is the simulator's public demo key (Base64 of the key bytes).
demo_account=qel-demo
demo_key=T3J2YW5lRGVtb0tleTIwMjY=
"$cloud_sim" --port 0 --cert-dir "$work/cloud-sim" --published-version "${ORVANE_DEMO_PUBLISHED_VERSION:-1.26.0.0}" \
  --account "$demo_account:$demo_key" >"$work/cloud.out" 2>"$work/cloud.err" &
cloud_pid=$!
wait_until_ready cloud-sim "$cloud_pid" "$work/cloud" '^certificate '
cloud_port=$(sed -n 's/^port //p' "$work/cloud.out")
cloud_certificate=$(sed -n 's/^certificate //p' "$work/cloud.out")
if [ -z "$cloud_port" ] || [ -z "$cloud_certificate" ]; then
  echo "run: cloud-sim did not publish its port" >&2
  exit 1
fi
export ORVANE_CA_FILE=$cloud_certificate
cloud_host="127.0.0.1:$cloud_port"

# Map tiles from tile-sim, which prints its base URL once it listens.
"$tile_sim" >"$work/tiles.out" 2>"$work/tiles.err" &
tile_pid=$!
wait_until_ready tile-sim "$tile_pid" "$work/tiles"
tile_url=$(head -n 1 "$work/tiles.out")
[ -n "$tile_url" ] || { echo "run: tile-sim did not print its address" >&2; exit 1; }
# Its tiles are cached in the demo's folder, not among the user's real ones.
export XDG_CACHE_HOME="$work/cache"

# A settings hive of its own, so the demo never touches the user's settings.
export ORVANE_SETTINGS_DIR="$work/settings"
mkdir -m 700 "$ORVANE_SETTINGS_DIR"
hive_link=${link//\\/\\\\}
hive_link=${hive_link//\"/\\\"}
(
  umask 077
  cat >"$ORVANE_SETTINGS_DIR/settings.reg" <<HIVE
ORVANE SETTINGS HIVE 1
; Demo settings written by scripts/run.sh: COM1 is the simulated gateway, every cloud
; server and the version host are the simulated cloud, the map's
; tiles come from tile-sim.

[Software\\Qel\\Orvane Monitor\\Ports]
"COM1"="$hive_link"

[Software\\Qel\\Orvane Monitor\\Endpoints]
"aws-prod-cloud"="$cloud_host"
"aws-test-cloud"="$cloud_host"
"aws-dev-cloud"="$cloud_host"
"Version host"="$cloud_host"
"Map tiles"="$tile_url"
HIVE
)
# Stored as the monitor's own "Add / Update" stores it: encrypted, never in clear.
printf '%s' "$demo_key" |
  "$account_tool" --add-account "$demo_account" --title "Qel demo" --server aws-prod-cloud --select >/dev/null

# Without a session's runtime folder Qt would make one of its own in /tmp and leave it there.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
monitor_args=(--port COM1 --open)
[ -n "${ORVANE_TRACE:-}" ] && monitor_args+=(--trace "$ORVANE_TRACE")
if [ -n "${ORVANE_SCREENSHOTS:-}" ]; then
  # The same window on the same settings; it opens the first listed port, COM 1.
  monitor="$build_dir/tests/app/window_screenshots"
  [ -x "$monitor" ] || { echo "run: $monitor was not built" >&2; exit 1; }
  monitor_args=("$ORVANE_SCREENSHOTS" open gnss)
fi

echo "run: simulated gateway on COM 1 ($link -> $(head -n 1 "$work/sim.out")); the window opens COM 1 by itself"
echo "run: map tiles from $tile_url; simulated cloud on https://$cloud_host, account $demo_account selected on the \"Orvane cloud\" tab"
echo "run: close the window, or press Ctrl-C here, to stop"

# Started in the background and waited for, so that INT and TERM reach the traps at once
# (bash holds traps back while a foreground child runs); job control gives it its own group.
set -m
if [ "${ORVANE_HEADLESS:-0}" = 1 ]; then
  QT_QPA_PLATFORM=offscreen "$monitor" "${monitor_args[@]}" &
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$monitor" "${monitor_args[@]}" &
else
  # xvfb-run cleans its folder only when it ends by itself, not when it is
  # signalled; made inside ours, the folder goes with ours.
  TMPDIR="$work" xvfb-run -a "$monitor" "${monitor_args[@]}" &
fi
monitor_pid=$!
set +m
status=0
wait "$monitor_pid" || status=$?
monitor_pid=
exit "$status"
