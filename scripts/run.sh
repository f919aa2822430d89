#!/usr/bin/env bash
# The README's run command: the monitor against a simulated gateway.
#
#   scripts/run.sh [gateway-sim options]      e.g. scripts/run.sh --bridges 12 --sim locked
#
# Installs and builds (scripts/setup.sh), starts gateway-sim on a pseudo-terminal, writes
# a temporary settings hive in which COM1 is the simulator's link, and starts the monitor
# with --port COM1 --open, so the window shows a live gateway at once: under the user's
# display, under xvfb-run when there is none, or on Qt's offscreen platform when
# ORVANE_HEADLESS=1. The simulator and the temporary folder (xvfb-run's included) go when
# the monitor exits, on Ctrl-C and on TERM.
#
# Environment: ORVANE_BUILD_DIR (default build/), ORVANE_SKIP_SETUP=1 to reuse a build,
# ORVANE_HEADLESS=1 as above, ORVANE_TRACE=FILE to trace the gateway dialogue to FILE.
# The simulator's own messages are in its folder's sim.err.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${ORVANE_BUILD_DIR:-$here/build}
export ORVANE_BUILD_DIR=$build_dir

if [ "${ORVANE_SKIP_SETUP:-0}" != 1 ]; then
  "$here/scripts/setup.sh"
fi

sim="$build_dir/tools/gateway-sim/gateway-sim"
monitor="$build_dir/app/orvane-monitor"
for program in "$sim" "$monitor"; do
  if [ ! -x "$program" ]; then
    echo "run: $program was not built" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-demo.XXXXXX")
sim_pid=
monitor_pid=
cleanup() {
  # The monitor runs as a job of its own: its whole group goes (xvfb-run and Xvfb too).
  if [ -n "$monitor_pid" ] && kill -0 "$monitor_pid" 2>/dev/null; then
    kill -TERM -- "-$monitor_pid" 2>/dev/null || kill -TERM "$monitor_pid" 2>/dev/null || true
    wait "$monitor_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The simulator prints its pty's path once the link is in place.
link="$work/com1"
"$sim" --link "$link" "$@" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 200); do
  [ -s "$work/sim.out" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "run: gateway-sim did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -s "$work/sim.out" ]; then
  echo "run: gateway-sim did not publish $link" >&2
  exit 1
fi

# A settings hive of its own, so the demo never touches the user's settings.
export ORVANE_SETTINGS_DIR="$work/settings"
mkdir -m 700 "$ORVANE_SETTINGS_DIR"
hive_link=${link//\\/\\\\}
hive_link=${hive_link//\"/\\\"}
(
  umask 077
  cat >"$ORVANE_SETTINGS_DIR/settings.reg" <<HIVE
ORVANE SETTINGS HIVE 1
; Demo settings written by scripts/run.sh: COM1 is the simulated gateway.

[Software\\Qel\\Orvane Monitor\\Ports]
"COM1"="$hive_link"
HIVE
)

# Without a session's runtime folder Qt would make one of its own in /tmp and leave it there.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
monitor_args=(--port COM1 --open)
[ -n "${ORVANE_TRACE:-}" ] && monitor_args+=(--trace "$ORVANE_TRACE")

echo "run: simulated gateway on COM 1 ($link -> $(head -n 1 "$work/sim.out")); the window opens COM 1 by itself"
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
