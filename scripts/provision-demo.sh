#!/usr/bin/env bash
# A provisioning line with the simulators: N simulated gateways on COM1...COMN and
# the simulated cloud; each gateway is provisioned in turn by
#   orvane-monitor --provision --port COMn --report <folder>/<n>.pdf [ARGS...]
# exactly as a workshop's own loop would run it, and a summary table follows
# (gateway ID, result, seconds).
#
#   scripts/provision-demo.sh N [orvane-monitor options...]
#   e.g. scripts/provision-demo.sh 5 --set 97=fleet.apn
#
# The reports stay in $ORVANE_REPORT_DIR (default ./provision-reports). Each gateway
# reports ":state" as the cloud sees it (cloud-sim --state-dir, gateway-sim
# --cloud-state-dir). Uses the build in $ORVANE_BUILD_DIR (default build/).
set -euo pipefail

count=${1:-}
if ! [[ "$count" =~ ^[0-9]+$ ]] || [ "$count" -lt 1 ] || [ "$count" -gt 99 ]; then
  echo "usage: $0 N [orvane-monitor options...]   (N = 1 to 99 gateways)" >&2
  exit 2
fi
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${ORVANE_BUILD_DIR:-$here/build}
reports=${ORVANE_REPORT_DIR:-$PWD/provision-reports}
sim="$build_dir/tools/gateway-sim/gateway-sim"
cloud_sim="$build_dir/tools/cloud-sim/cloud-sim"
monitor="$build_dir/app/orvane-monitor"
account_tool="$build_dir/tools/account-tool/orvane-account"
for program in "$sim" "$cloud_sim" "$monitor" "$account_tool"; do
  [ -x "$program" ] || { echo "provision-demo: $program was not built (scripts/setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-line.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The cloud, with the demo account, keeping each gateway's status where the gateways read it.
key=T3J2YW5lRGVtb0tleTIwMjY=
mkdir "$work/states"
"$cloud_sim" --port 0 --cert-dir "$work/cloud-sim" --account "qel-demo:$key" --state-dir "$work/states" \
  >"$work/cloud.out" 2>"$work/cloud.err" &
pids+=($!)
for _ in $(seq 1 200); do grep -q '^certificate ' "$work/cloud.out" 2>/dev/null && break; sleep 0.05; done
cloud_port=$(sed -n 's/^port //p' "$work/cloud.out")
ORVANE_CA_FILE=$(sed -n 's/^certificate //p' "$work/cloud.out")
[ -n "$cloud_port" ] && [ -n "$ORVANE_CA_FILE" ] || { echo "provision-demo: cloud-sim did not start" >&2; cat "$work/cloud.err" >&2; exit 1; }
export ORVANE_CA_FILE

# N gateways, each with its own ID, started together as a crate of them would be powered.
for n in $(seq 1 "$count"); do
  "$sim" --link "$work/com$n" --gateway-id "$(printf 'QEL1000000000%05d' "$n")" --cloud-state-dir "$work/states" \
    >"$work/sim$n.out" 2>"$work/sim$n.err" &
  pids+=($!)
done
for n in $(seq 1 "$count"); do
  for _ in $(seq 1 200); do [ -s "$work/sim$n.out" ] && break; sleep 0.05; done
  [ -s "$work/sim$n.out" ] || { echo "provision-demo: gateway-sim $n did not start" >&2; cat "$work/sim$n.err" >&2; exit 1; }
done

# Settings of the line's own: COMn are the simulated gateways, the clouds the simulated one.
export ORVANE_SETTINGS_DIR=$work/settings
mkdir -m 700 "$ORVANE_SETTINGS_DIR"
{
  printf 'ORVANE SETTINGS HIVE 1\n\n[Software\\\\Qel\\\\Orvane Monitor\\\\Ports]\n'
  for n in $(seq 1 "$count"); do printf '"COM%d"="%s/com%d"\n' "$n" "$work" "$n"; done
  printf '\n[Software\\\\Qel\\\\Orvane Monitor\\\\Endpoints]\n'
  for server in aws-prod-cloud aws-test-cloud aws-dev-cloud "Version host"; do
    printf '"%s"="127.0.0.1:%s"\n' "$server" "$cloud_port"
  done
} >"$ORVANE_SETTINGS_DIR/settings.reg"
printf '%s' "$key" | "$account_tool" --add-account qel-demo --title "Qel demo" --server aws-prod-cloud --select >/dev/null
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
mkdir -p "$reports"

# The line itself: one gateway after another, as a workshop's loop runs it.
summary=()
failed=0
for n in $(seq 1 "$count"); do
  echo "--- COM$n"
  start=$(date +%s.%N)
  set +e
  "$monitor" --provision --port "COM$n" --report "$reports/$n.pdf" "$@" | tee "$work/run$n.out"
  status=${PIPESTATUS[0]}
  set -e
  seconds=$(awk -v from="$start" -v to="$(date +%s.%N)" 'BEGIN { printf "%.2f", to - from }')
  id=$(sed -n 's/^step 2\/[0-9]* gateway: \([^ ]*\) .*/\1/p' "$work/run$n.out")
  result=$(tail -n 1 "$work/run$n.out")
  [ "$status" = 0 ] || failed=$((failed + 1))
  summary+=("$(printf '%-6s %-20s %-7s %s (exit %s)' "COM$n" "${id:--}" "$seconds" "$result" "$status")")
done

echo
printf '%-6s %-20s %-7s %s\n' port gateway seconds result
printf '%s\n' "${summary[@]}"
echo "reports in $reports; $((count - failed)) of $count gateways provisioned"
[ "$failed" = 0 ]
