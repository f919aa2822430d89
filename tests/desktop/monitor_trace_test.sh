#!/usr/bin/env bash
# The monitor as a technician starts it from the command line:
#   orvane-monitor --port COM1 --open --trace FILE
# against gateway-sim, offscreen (or under xvfb-run with ORVANE_TEST_XVFB=1).
# The trace file must show the Refresh request going out in order, stamped to
# the millisecond, the gateway's answers coming back, and no secret in clear.
#
#   monitor_trace_test.sh <orvane-monitor> <gateway-sim>
set -euo pipefail
monitor=$1 sim=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-trace-test.XXXXXX")
sim_pid= monitor_pid= xvfb_pid=
cleanup() {
  for pid in $monitor_pid $sim_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "monitor_trace_test: $*" >&2
  echo "--- trace:" >&2
  cat "$work/trace.log" >&2 || true
  echo "--- monitor:" >&2
  cat "$work/monitor.err" >&2 || true
  exit 1
}
wait_for() {  # pattern, limit in tenths of a second
  for _ in $(seq 1 "$2"); do
    grep -q -- "$1" "$work/trace.log" 2>/dev/null && return 0
    kill -0 "$monitor_pid" 2>/dev/null || fail "the monitor ended before '$1'"
    sleep 0.1
  done
  fail "no '$1' in the trace"
}

"$sim" --link "$work/com1" --param 5641=wifi-secret-42 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
[ -s "$work/sim.out" ] || fail "gateway-sim did not start: $(cat "$work/sim.err")"

export ORVANE_SETTINGS_DIR=$work/settings
mkdir -m 700 "$ORVANE_SETTINGS_DIR"
# The version check goes to a closed loopback port rather than the maker's host.
printf 'ORVANE SETTINGS HIVE 1\n\n[Software\\\\Qel\\\\Orvane Monitor\\\\Ports]\n"COM1"="%s"\n\n[Software\\\\Qel\\\\Orvane Monitor\\\\Endpoints]\n"Version host"="127.0.0.1:1"\n' \
  "$work/com1" >"$ORVANE_SETTINGS_DIR/settings.reg"

if [ "${ORVANE_TEST_XVFB:-0}" = 1 ]; then
  # The monitor's own pid, not xvfb-run's, is the one to kill below.
  xvfb-run -a bash -c 'echo $$ >"$1"; exec "$2" --port COM1 --open --trace "$3"' \
    - "$work/monitor.pid" "$monitor" "$work/trace.log" 2>"$work/monitor.err" &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -s "$work/monitor.pid" ] && break; sleep 0.1; done
  monitor_pid=$(cat "$work/monitor.pid")
else
  QT_QPA_PLATFORM=offscreen "$monitor" --port COM1 --open --trace "$work/trace.log" 2>"$work/monitor.err" &
  monitor_pid=$!
fi
wait_for '< :get 5641' 300
# Killed, not closed: every line written so far must be in the file.
kill -KILL "$monitor_pid"
wait "${xvfb_pid:-$monitor_pid}" 2>/dev/null || true
monitor_pid=

sent=$(sed -n 's/^[0-9-]\{10\} [0-9:]\{8\}\.[0-9]\{3\} > //p' "$work/trace.log" | awk '!seen[$0]++' | head -n 8 | paste -sd '|')
expected='%info|%show_off|%show_cell 1|%show_state 1|%show_io 5|%par_get 97|%par_get 5640|%par_get 5641'
[ "$sent" = "$expected" ] || fail "sent '$sent', expected '$expected'"
grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} < :info ' "$work/trace.log" || fail "no stamped :info line"
grep -q '< OK info' "$work/trace.log" || fail "no acknowledgement traced"
grep -q '< :get 5641 \*\*\*$' "$work/trace.log" || fail "the WiFi password is not masked"
grep -q 'wifi-secret-42' "$work/trace.log" && fail "the WiFi password is in the trace"
echo "monitor_trace_test: passed ($(wc -l <"$work/trace.log") trace lines)"
