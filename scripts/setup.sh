#!/usr/bin/env bash
# Installs every Debian package the monitor, its simulators, tests and benchmarks
# need, then configures and builds. Safe to run again: installed packages are skipped.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${ORVANE_BUILD_DIR:-$here/build}

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libxkbcommon-dev
  libsqlite3-0 libsqlite3-dev
  libcurl4-openssl-dev libssl-dev
  libpng-dev zlib1g-dev
  libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils openssl
  desktop-file-utils appstream file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # sudo resets the environment, so the front end is set on the far side of it;
  # without it debconf falls back to asking questions on the terminal.
  apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
  [ "$(id -u)" -ne 0 ] && apt=(sudo "${apt[@]}")
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${ORVANE_BUILD_TYPE:-RelWithDebInfo} ${ORVANE_CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$(nproc)"
