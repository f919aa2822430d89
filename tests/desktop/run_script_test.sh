#!/usr/bin/env bash
# scripts/run.sh as a newcomer uses it, with no display (so through xvfb-run):
# the window opens COM 1 by itself, and stopping the script with Ctrl-C (INT to
# its process group, as a terminal sends it) or with TERM leaves nothing behind
# in the temporary folder, xvfb-run's folder included.
#
#   run_script_test.sh <source dir> <build dir>
set -euo pipefail
source_dir=$1 build_dir=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orvane-run-test.XXXXXX")
script_pid=
cleanup() {
  # TERM first: the script's own trap then takes the monitor's group down too.
  if [ -n "$script_pid" ]; then
    kill -TERM -- "-$script_pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$script_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$script_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "run_script_test: $*" >&2; cat "$tmp/out" >&2 2>/dev/null || true; exit 1; }

for signal in INT TERM; do
  mkdir "$tmp/tmp"
  # Job control gives it a process group of its own, as a terminal's foreground
  # job has, and leaves INT to it (without it a background job ignores INT).
  set -m
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR TMPDIR="$tmp/tmp" ORVANE_SKIP_SETUP=1 \
    ORVANE_BUILD_DIR="$build_dir" ORVANE_TRACE="$tmp/trace.log" \
    "$source_dir/scripts/run.sh" >"$tmp/out" 2>&1 &
  script_pid=$!
  set +m
  for _ in $(seq 1 300); do
    grep -q '< :info' "$tmp/trace.log" 2>/dev/null && break
    kill -0 "$script_pid" 2>/dev/null || fail "run.sh ended early"
    sleep 0.1
  done
  grep -q '< :info' "$tmp/trace.log" || fail "the window did not open COM 1 and hear the gateway"
  grep -q 'on COM 1 ' "$tmp/out" || fail "the message does not name the port as the window lists it"

  kill "-$signal" -- "-$script_pid"
  for _ in $(seq 1 100); do kill -0 "$script_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$script_pid" 2>/dev/null && fail "run.sh did not stop on $signal"
  wait "$script_pid" 2>/dev/null || true
  script_pid=
  # Xvfb and the simulator may take a moment after the script.
  for _ in $(seq 1 50); do [ -z "$(ls -A "$tmp/tmp")" ] && break; sleep 0.1; done
  [ -z "$(ls -A "$tmp/tmp")" ] || fail "left behind after $signal: $(ls -A "$tmp/tmp")"
  rmdir "$tmp/tmp"
  rm -f "$tmp/trace.log"
done
echo "run_script_test: passed"
