#!/usr/bin/env bash
# orvane-monitor --provision end to end against gateway-sim and cloud-sim, one
# row per outcome: the exit status and the last line on standard output that a
# workshop's script would act on. The successful run's report is read back by
# independent readers (pdftotext, jq).
#
#   provision_test.sh <orvane-monitor> <gateway-sim> <cloud-sim> <orvane-account>
set -euo pipefail
monitor=$1 sim=$2 cloud_sim=$3 account_tool=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-provision-test.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ -n "${KEEP:-}" ] && { echo "kept $work"; return; }; rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "provision_test: $*" >&2
  failures=$((failures + 1))
}
key=T3J2YW5lRGVtb0tleTIwMjY=

# start_cloud NAME [options]: a cloud-sim whose host lands in $work/NAME.host.
start_cloud() {
  local name=$1
  shift
  # One certificate folder: the second simulator takes the first one's certificate.
  "$cloud_sim" --port 0 --cert-dir "$work/cert" --account "qel-demo:$key" "$@" \
    >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 1 100); do grep -q '^certificate ' "$work/$name.out" 2>/dev/null && break; sleep 0.1; done
  sed -n 's/^port /127.0.0.1:/p' "$work/$name.out" >"$work/$name.host"
  [ -s "$work/$name.host" ] || { echo "cloud-sim $name did not start: $(cat "$work/$name.err")" >&2; exit 1; }
}

# start_gateway COMn ID [options]: a gateway-sim mapped to COMn.
start_gateway() {
  local com=$1 id=$2
  shift 2
  "$sim" --link "$work/$com" --gateway-id "$id" --gnss-fix-ms 0 --seed 7 "$@" >"$work/$com.out" 2>"$work/$com.err" &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$work/$com.out" ] && break; sleep 0.1; done
  [ -s "$work/$com.out" ] || { echo "gateway-sim $com did not start: $(cat "$work/$com.err")" >&2; exit 1; }
}

# settings NAME CLOUD: a settings hive in $work/settings-NAME whose clouds are CLOUD,
# COM1-COM9 mapped to $work/COMn, the demo account stored and selected.
settings() {
  local folder=$work/settings-$1 host
  host=$(cat "$work/$2.host")
  mkdir -m 700 "$folder"
  {
    printf 'ORVANE SETTINGS HIVE 1\n\n[Software\\\\Qel\\\\Orvane Monitor\\\\Ports]\n'
    for n in $(seq 1 9); do printf '"COM%d"="%s/COM%d"\n' "$n" "$work" "$n"; done
    printf '\n[Software\\\\Qel\\\\Orvane Monitor\\\\Endpoints]\n'
    printf '"aws-prod-cloud"="%s"\n"Version host"="127.0.0.1:1"\n' "$host"
  } >"$folder/settings.reg"
  printf '%s' "$key" | ORVANE_SETTINGS_DIR=$folder \
    "$account_tool" --add-account qel-demo --title "Qel demo" --server aws-prod-cloud --select >/dev/null
}

mkdir "$work/states"
start_cloud cloud --state-dir "$work/states" --gateway other:QEL100000000000666:approved
start_cloud strict --manual-approval --state-dir "$work/states"
settings cloud cloud
settings strict strict
ORVANE_CA_FILE=$(sed -n 's/^certificate //p' "$work/cloud.out")
export ORVANE_CA_FILE

printf '0 @reboot\n' >"$work/deaf.script"
start_gateway COM1 QEL100000000000001 --cloud-state-dir "$work/states"
start_gateway COM2 QEL100000000000002 --script "$work/deaf.script" --reboot-ms 600000
start_gateway COM3 QEL100000000000666
start_gateway COM4 QEL100000000000004 --cloud-state-dir "$work/states"
start_gateway COM5 QEL100000000000005
start_gateway COM6 QEL100000000000006 --unanswered-param 97

# Rows: settings | expected status | expected last line (a grep -E pattern) | arguments
rows=(
  # Everything: a parameter written and read back, registered, state, record, report.
  "cloud|0|^result ok$|--port COM1 --set 1=qel-demo --set 97=workshop\\x20apn --report $work/gw1.pdf"
  # Usage: provisioning needs a port.
  "cloud|2||--provision-without-port"
  # A port that is not there.
  "cloud|3|^result failed at port: COM9 is not present$|--port COM9"
  # A gateway that never answers.
  "cloud|4|^result failed at gateway: no answer from the gateway within 3 s$|--port COM2 --timeout 3"
  # The ICCID comes from the SIM card: the gateway refuses to have it written.
  "cloud|5|^result failed at parameters: the gateway refused parameter 64$|--port COM5 --set 97=x --set 64=1234"
  # The write is taken, but the read that should confirm it never comes.
  "cloud|5|^result failed at parameters: parameter 97 did not read back$|--port COM6 --set 97=x"
  # The cloud holds the gateway for another account.
  "cloud|6|^result failed at registration: Register: Gateway QEL100000000000666 is registered to another account$|--port COM3"
  # Registered but never approved: the gateway stays "reg. pending".
  "strict|7|^result failed at state: not registered within 6 s \\(gateway: reg. pending, cloud: reg. pending\\)$|--port COM4 --timeout 6"
  # The report cannot be written where it is asked.
  "cloud|8|^result failed at report: $work/none/gw.pdf.json: |--port COM5 --report $work/none/gw.pdf"
)

for row in "${rows[@]}"; do
  IFS='|' read -r hive expected pattern arguments <<<"$row"
  if [ "$arguments" = --provision-without-port ]; then
    arguments=""
  fi
  status=0
  # shellcheck disable=SC2086  # the arguments are split as written in the row
  ORVANE_SETTINGS_DIR=$work/settings-$hive "$monitor" --provision $arguments >"$work/out" 2>"$work/err" || status=$?
  last=$(tail -n 1 "$work/out")
  if [ "$status" != "$expected" ]; then
    fail "[$arguments] exit $status, expected $expected; output:"
    sed 's/^/    /' "$work/out" "$work/err" >&2
  elif [ -n "$pattern" ] && ! grep -Eq -- "$pattern" <<<"$last"; then
    fail "[$arguments] last line '$last' does not match '$pattern'"
  fi
  # Every step line has the stable form.
  if grep -v '^result ' "$work/out" | grep -Evq '^step [0-9]+/[0-9]+ [a-z]+: .* (ok|failed)$'; then
    fail "[$arguments] a line out of form: $(cat "$work/out")"
  fi
  if [ "$expected" = 0 ]; then cp "$work/out" "$work/ok.out"; fi
done

# The successful run: seven steps, the parameters as written, the report beside its JSON.
grep -q '^step 3/7 parameters: 1=qel-demo 97=workshop\\x20apn ok$' "$work/ok.out" ||
  fail "parameters line: $(grep parameters "$work/ok.out")"
grep -q '^step 5/7 state: ' "$work/ok.out" || fail "no state step"
[ -s "$work/gw1.pdf" ] && [ -s "$work/gw1.pdf.json" ] || fail "no report files"
if [ -s "$work/gw1.pdf.json" ]; then
  values=$(jq -r '[.gateway.id, .gateway.apn, .cloudRecord.status, (.gnss.valid|tostring), (if .connectivity.network == "Searching for network..." then .connectivity.signalDbm == null
        else (.connectivity.signalDbm|type) == "number" end | tostring)] | join("|")' "$work/gw1.pdf.json")
  # A level is a number once the gateway is on the cellular network, and not read before.
  [ "$values" = "QEL100000000000001|workshop apn|approved|true|true" ] || fail "JSON holds '$values'"
  text=$(pdftotext "$work/gw1.pdf" -)
  for expect in QEL100000000000001 "workshop apn" 3.8.12 "$(jq -r .gnss.location "$work/gw1.pdf.json")"; do
    grep -qF -- "$expect" <<<"$text" || fail "the PDF text lacks '$expect'"
  done
fi
# The report alone: read, record, report; no parameter, no registration.
status=0
ORVANE_SETTINGS_DIR=$work/settings-cloud "$monitor" --report "$work/alone.pdf" --port COM5 >"$work/out" 2>&1 || status=$?
[ "$status" = 0 ] && [ "$(grep -c '^step [0-9]/4 ' "$work/out")" = 4 ] && [ "$(tail -n 1 "$work/out")" = "result ok" ] ||
  fail "report alone: exit $status: $(cat "$work/out")"
[ "$(jq -r '.gateway.id' "$work/alone.pdf.json" 2>/dev/null)" = QEL100000000000005 ] || fail "report alone: no JSON"

# No temporary report file is left behind by the failed write.
[ -z "$(ls "$work" | grep -E '^gw.*\.(tmp|[A-Za-z0-9]{6})$' || true)" ] || fail "a temporary file was left"

if [ "$failures" -gt 0 ]; then
  echo "provision_test: $failures failure(s)" >&2
  exit 1
fi
echo "provision_test: passed (${#rows[@]} rows)"
