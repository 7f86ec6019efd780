#!/bin/bash
# Build, test and demonstrate the setup on Linux: mingw-w64 builds the Windows programs, Wine runs them.
#   ./run.sh build   programs in build/bin/
#   ./run.sh test    build, then every test (unit and end-to-end) under Wine and Xvfb
#   ./run.sh demo    make the sample game CD and show what the setup reads from it
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD
build=$top/build

packages=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build googletest
  wine wine64 fonts-wine xvfb xauth xdotool imagemagick icoutils
  python3 genisoimage xorriso libcdio-utils bchunk sox ffmpeg liblnk-utils libstb-dev
)

ensure_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

do_build() {
  ensure_packages
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
  fi
  cmake --build "$build"
}

stop_wine() {
  WINEPREFIX=$1 timeout 20 wineserver -w 2>/dev/null || WINEPREFIX=$1 wineserver -k 2>/dev/null || true
}

do_test() {
  do_build
  local rc=0
  # One display for the whole run: a Wine session takes its display from the process that starts it.
  (cd "$build" && xvfb-run -a -s "-screen 0 1024x768x24" ctest -j2 --output-on-failure "$@") || rc=$?
  stop_wine "$build/wineprefix"
  return $rc
}

do_demo() {
  do_build
  local out=$build/demo prefix=$build/demo/wineprefix
  mkdir -p "$out"
  bash "$top/tools/sample-cd/make-sample-cd.sh" "$out/cd"
  export WINEPREFIX=$prefix
  local run=$top/cmake/wine-run.sh
  for img in drovenhelm.iso drovenhelm.bin; do
    echo
    echo "== discinfo $img"
    "$run" "$build/bin/discinfo.exe" "Z:${out//\//\\}\\cd\\$img" | tr -d '\r'
  done
  stop_wine "$prefix"
  echo
  echo "The sample CD is in $out/cd; the Wine prefix of the demo is $prefix."
}

case "${1:-}" in
  build) do_build ;;
  test) shift; do_test "$@" ;;
  demo) do_demo ;;
  *) echo "usage: $0 build|test|demo" >&2; exit 2 ;;
esac
