#!/usr/bin/env bash
# The pictures of the README and of the AppStream metainfo, made from the demo:
# scripts/run.sh with the project's screenshot program in place of the window
# (a live simulated gateway, a GNSS fix and map tiles from tile-sim), under the
# user's display or xvfb-run. Writes docs/main-window.png (the "Gateway
# configuration" tab) and docs/gnss-map.png (the "GNSS" tab).
#
#   scripts/screenshots.sh        (ORVANE_SKIP_SETUP=1 reuses the build)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
shots=$(mktemp -d "${TMPDIR:-/tmp}/orvane-screenshots.XXXXXX")
trap 'rm -rf "$shots"' EXIT
ORVANE_SCREENSHOTS="$shots" "$here/scripts/run.sh" >/dev/null
mkdir -p "$here/docs"
cp "$shots/tab0-tCellular.png" "$here/docs/main-window.png"
cp "$shots/tab2-tGNSS.png" "$here/docs/gnss-map.png"
echo "screenshots: docs/main-window.png and docs/gnss-map.png written"
