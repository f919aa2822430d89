#!/usr/bin/env bash
# The installed monitor on settings it cannot use, under a virtual X display:
#   1. a settings file with a hand-edited line that does not read;
#   2. a settings folder the user cannot write, left by an earlier run under
#      sudo (as root the program is run as the user nobody; otherwise the
#      folder is made read-only).
# Each time the window must come up with one message box about the file, the
# message on stderr must name the file, and the file must stay byte for byte
# as it was.
#
#   settings_problem_test.sh <orvane-monitor>
set -euo pipefail
monitor=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-settings-test.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
# Reachable by the user the program may run as; the settings folder is not.
chmod 755 "$work"
fail() { echo "settings_problem_test: $*" >&2; exit 1; }

# Runs the monitor on a display of its own until its window is up, lists the
# display's windows into $work/windows and stops it. Arguments: the settings
# folder, then the user to run as (empty: this one).
show_window() {
  local settings=$1 user=${2:-} become=()
  rm -rf "$work/windows" "$work/monitor.err" "$work/runtime"
  # Written by the program's user; a runtime folder of its own, so that Qt
  # leaves no /tmp/runtime-<user> behind.
  touch "$work/windows" "$work/monitor.err"
  mkdir -m 700 "$work/runtime"
  if [ -n "$user" ]; then
    chown "$user" "$work/windows" "$work/monitor.err" "$work/runtime"
    become=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups --reset-env)
  fi
  # shellcheck disable=SC2016
  "${become[@]}" env XDG_RUNTIME_DIR="$work/runtime" ORVANE_SETTINGS_DIR="$settings" QT_QPA_PLATFORM=xcb \
    xvfb-run -a bash -c '
      "$1" 2>"$2/monitor.err" & pid=$!
      for _ in $(seq 1 150); do
        kill -0 $pid 2>/dev/null || exit 3
        xwininfo -root -tree 2>/dev/null | grep -q "\"Settings\": (" && break
        sleep 0.1
      done
      xwininfo -root -tree >"$2/windows" 2>&1
      kill -TERM $pid; wait $pid 2>/dev/null || true' - "$monitor" "$work" >/dev/null 2>&1 \
    || fail "the monitor ended before its window came up: $(cat "$work/monitor.err" 2>/dev/null)"
}

check() {  # what, settings file, its copy
  local what=$1 file=$2 copy=$3
  grep -q '"Qel Orvane Monitor v' "$work/windows" || fail "$what: no main window: $(cat "$work/monitor.err")"
  [ "$(grep -c '"Settings": (' "$work/windows")" -eq 1 ] || fail "$what: not one message box about the settings"
  grep -qF "$file" "$work/monitor.err" || fail "$what: stderr does not name $file: $(cat "$work/monitor.err")"
  cmp -s "$file" "$copy" || fail "$what: the settings file was changed"
  echo "settings_problem_test: $what: passed ($(grep -F "$file" "$work/monitor.err" | head -n 1))"
}

header='ORVANE SETTINGS HIVE 1
[Software\Qel\Orvane Monitor\Endpoints]
"Version host"="127.0.0.1:1"'

# 1. A hand edit: a Windows path in quotes, whose backslash starts no escape.
mkdir -m 700 "$work/edited"
printf '%s\n"X"="C:\\dir"\n' "$header" >"$work/edited/settings.reg"
cp "$work/edited/settings.reg" "$work/edited.copy"
show_window "$work/edited"
check "bad line" "$work/edited/settings.reg" "$work/edited.copy"

# 2. A folder and file as sudo leaves them: the user can neither write the
# folder nor, as root made them private, read the file.
mkdir -m 700 "$work/sudo"
printf '%s\n' "$header" >"$work/sudo/settings.reg"
chmod 600 "$work/sudo/settings.reg"
cp "$work/sudo/settings.reg" "$work/sudo.copy"
if [ "$(id -u)" -eq 0 ]; then
  show_window "$work/sudo" nobody
else
  chmod 500 "$work/sudo"
  show_window "$work/sudo"
fi
check "folder the user cannot write" "$work/sudo/settings.reg" "$work/sudo.copy"
