#!/usr/bin/env bash
# Builds the Debian package: installs what the build needs and builds
# (scripts/setup.sh, skipped with ORVANE_SKIP_SETUP=1), then CPack makes
# build/package/qel-orvane-monitor_<version>_<arch>.deb. Install it with
#   sudo apt install ./build/package/qel-orvane-monitor_*.deb
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${ORVANE_BUILD_DIR:-$here/build}
export ORVANE_BUILD_DIR=$build_dir

if [ "${ORVANE_SKIP_SETUP:-0}" != 1 ]; then
  "$here/scripts/setup.sh"
fi
rm -rf "$build_dir/package"
cpack --config "$build_dir/CPackConfig.cmake" -B "$build_dir/package"
rm -rf "$build_dir/package/_CPack_Packages"
ls "$build_dir"/package/*.deb
