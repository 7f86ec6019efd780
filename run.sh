#!/bin/bash
# Build, test and demonstrate the setup on Linux: mingw-w64 builds the Windows programs, Wine runs them.
#   ./run.sh build   programs in build/bin/ (first the libraries of tools/deps, in build/deps/)
#   ./run.sh test    build, then every test (unit and end-to-end) under Wine and Xvfb, and each
#                    fuzz target for 20 seconds
#   ./run.sh test CTEST_ARGS...
#                    build, then only the tests that ctest selects (-R REGEX, -L LABEL), without
#                    the fuzz build and the fuzz targets
#   ./run.sh fuzz [SECONDS [TARGET...]]
#                    each fuzz target (iso cue nrg copier emblem icon audio chd) for SECONDS (default 60), two at a
#                    time (FUZZ_JOBS), on its corpus in build/fuzz/corpus; crashes in build/fuzz/artifacts
#   ./run.sh demo    make the sample game CD and show what the setup reads from it
#   ./run.sh bench   build, then time silent installs under Wine against native copies (tools/bench)
#   ./run.sh dist [--sign KEY.pfx [--pass-file FILE] [--timestamp URL]]
#                    a release from a clean build: dist/ with the setup, its README, the licence,
#                    the licences of the libraries (LICENSE-NAME.txt) and SHA256SUMS; --sign signs
#                    the setup (the key's password comes from FILE or from DROVENHELM_SIGN_PASSWORD)
#   ./run.sh dist-check
#                    a signed release with a throw-away key, checked against the unsigned one and
#                    installed under Wine (tests/release)
set -euo pipefail
# Paths given on the command line are the caller's, not this folder's.
caller=$PWD
cd "$(dirname "$0")"
top=$PWD
build=$top/build

packages=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build googletest
  wine wine64 fonts-wine xvfb xauth xdotool imagemagick icoutils
  python3 genisoimage xorriso libcdio-utils bchunk sox ffmpeg liblnk-utils libstb-dev iat mdf2iso
  clang libclang-rt-14-dev
  # The native codec libraries of the CHD fuzz target.
  zlib1g-dev liblzma-dev libzstd-dev libflac-dev
  # The codec and compression libraries (tools/deps): fetching and unpacking Debian's source
  # packages, their builds, Debian's zlib for mingw-w64; the encoders and packers of their checks.
  dpkg-dev debian-archive-keyring make pkgconf libz-mingw-w64-dev
  flac vorbis-tools opus-tools lame zstd xz-utils
  # CHD images of the game CD (createcd, extractcd) for the CHD reader's checks, and the fetch of a
  # newer chdman for its Zstandard ones (tests/tools/fetch-chdman.sh).
  mame-tools curl ca-certificates
)
# The benchmark's native baselines (bsdtar, 7z) and its peak memory figures (GNU time).
bench_packages=(libarchive-tools p7zip-full time)
# The release's Authenticode signature; the check of a signed release makes its key with openssl.
dist_packages=(osslsigncode)
dist_check_packages=(openssl)

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
  bash "$top/tools/deps/build-deps.sh" "$build"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
  fi
  cmake --build "$build"
}

# --- fuzzing: native clang builds of the format parsers with libFuzzer, ASan and UBSan ---------
fuzz=$build/fuzz
fuzz_targets=(iso cue nrg copier emblem icon audio chd)
third_party=$top/tests/data/third_party

do_fuzz_build() {
  ensure_packages
  if [ ! -f "$fuzz/build.ninja" ]; then
    CXX=clang++ cmake -S "$top/fuzz" -B "$fuzz" -G Ninja
  fi
  cmake --build "$fuzz"
  bash "$top/tests/make-testdata.sh" "$build/testdata"
  bash "$top/tests/data/check-third-party.sh"
  python3 "$top/fuzz/make-seeds.py" "$fuzz/seeds" "$build/testdata" "$third_party"
}

# One target for a number of seconds on a corpus folder and its seeds (the seeds include the
# inputs of faults found before). Prints one summary line; the whole log is build/fuzz/TARGET.log.
fuzz_run() {
  local t=$1 secs=$2 corpus=$3
  local bin=$fuzz/fuzz_$t log=$fuzz/$t.log art=$fuzz/artifacts/$t
  local args=(-max_total_time="$secs" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$art/")
  [ -f "$top/fuzz/dict/$t.dict" ] && args+=(-dict="$top/fuzz/dict/$t.dict")
  # The icon's work grows with its canvas, and the hit counts of its loops would make each larger
  # canvas look new: there edges alone decide what the corpus keeps (54 runs a second, not 6).
  [ "$t" = icon ] && args+=(-use_counters=0)
  mkdir -p "$corpus" "$art"
  local rc=0
  "$bin" "${args[@]}" "$corpus" "$fuzz/seeds/$t" >"$log" 2>&1 || rc=$?
  local last stats
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  stats=$(sed -n 's/^stat::\(number_of_executed_units\|average_exec_per_sec\|peak_rss_mb\): *\([0-9]*\)/\1=\2/p' "$log" | tr '\n' ' ')
  echo "fuzz $t: ${last#\#} | $stats| corpus $(ls "$corpus" | wc -l) files"
  if [ $rc -ne 0 ]; then
    echo "fuzz $t: FOUND A FAULT (exit $rc); the input is in build/fuzz/artifacts/$t, the report:"
    grep -v '^#[0-9]' "$log" | tail -60
  fi
  return $rc
}

# Targets with FUZZ_JOBS (default 2) running at once; 1 when any of them found a fault.
fuzz_all() {
  local secs=$1 corpora=$2; shift 2
  local jobs=${FUZZ_JOBS:-2} pids=() rc=0 t
  for t in "$@"; do
    [ -x "$fuzz/fuzz_$t" ] || { echo "no fuzz target $t (targets: ${fuzz_targets[*]})" >&2; return 2; }
  done
  for t in "$@"; do
    fuzz_run "$t" "$secs" "$corpora/$t" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$jobs" ]; then
      wait "${pids[0]}" || rc=1
      pids=("${pids[@]:1}")
    fi
  done
  for t in "${pids[@]}"; do wait "$t" || rc=1; done
  return $rc
}

# Keeps of a corpus only the inputs that add coverage (libFuzzer's merge): libFuzzer writes every
# input it reduces as a new file, and a small corpus can be run whole under Wine
# (HOSTILE_SAMPLE=0 ctest -R hostile_inputs).
fuzz_minimize() {
  local t=$1 corpus=$fuzz/corpus/$1
  rm -rf "$corpus.min" && mkdir -p "$corpus.min"
  if "$fuzz/fuzz_$t" -merge=1 "$corpus.min" "$corpus" >"$fuzz/$t.merge.log" 2>&1; then
    rm -rf "$corpus" && mv "$corpus.min" "$corpus"
  else
    rm -rf "$corpus.min"
    echo "fuzz $t: the corpus could not be merged, see build/fuzz/$t.merge.log" >&2
  fi
}

do_fuzz() {
  local secs=${1:-60}
  [ $# -gt 0 ] && shift
  local targets=("$@") rc=0 t
  [ ${#targets[@]} -eq 0 ] && targets=("${fuzz_targets[@]}")
  do_fuzz_build
  fuzz_all "$secs" "$fuzz/corpus" "${targets[@]}" || rc=1
  for t in "${targets[@]}"; do fuzz_minimize "$t"; done
  return $rc
}

# In the test run: each target briefly from its seeds alone, so that a regression shows at once.
fuzz_smoke() {
  rm -rf "$fuzz/smoke"
  fuzz_all 20 "$fuzz/smoke" "${fuzz_targets[@]}"
}

stop_wine() {
  WINEPREFIX=$1 timeout 20 wineserver -w 2>/dev/null || WINEPREFIX=$1 wineserver -k 2>/dev/null || true
}

# With arguments (a selection such as -R REGEX or -L LABEL) only the tests ctest selects run: the
# fuzz build and its smoke run belong to the whole run. e2e.hostile_inputs then takes the fuzz
# inputs that an earlier run left in build/fuzz.
do_test() {
  local rc=0
  do_build
  [ $# -gt 0 ] || do_fuzz_build
  # One display for the whole run: a Wine session takes its display from the process that starts it.
  (cd "$build" && xvfb-run -a -s "-screen 0 1024x768x24" ctest -j2 --output-on-failure "$@") || rc=$?
  stop_wine "$build/wineprefix"
  if [ $# -eq 0 ]; then
    fuzz_smoke || rc=1
  fi
  return $rc
}

do_demo() {
  do_build
  local out=$build/demo
  local prefix=$out/wineprefix run=$top/cmake/wine-run.sh
  bash "$top/tools/sample-cd/make-sample-cd.sh" "$out/cd"
  export WINEPREFIX=$prefix
  local cue="Z:${out//\//\\}\\cd\\drovenhelm.cue" dir='C:\Games\Drovenhelm PC'
  echo "== What the setup reads from the sample CD (discinfo)"
  "$run" "$build/bin/discinfo.exe" "$cue" | tr -d '\r' | sed -n '1,12p'
  echo
  echo "== Silent install: drovenhelm_setup.exe /silent /cd $cue /dir \"$dir\""
  local rc=0
  "$run" "$build/bin/drovenhelm_setup.exe" /silent /cd "$cue" /dir "$dir" || rc=$?
  echo "exit code $rc"
  local installed="$prefix/drive_c/Games/Drovenhelm PC"
  local user
  user=$(ls -d "$prefix"/drive_c/users/*/Temp | grep -v Public | head -1)
  user=${user%/Temp}
  echo
  echo "== The log: ${user}/Temp/drovenhelm_setup.log"
  tr -d '\r' < "$user/Temp/drovenhelm_setup.log"
  echo
  echo "== The installed tree: $installed"
  (cd "$installed" && find . -type f -printf '%10s  %p\n' | sort -k2)
  echo
  echo "== The registry entry"
  "$run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Drovenhelm_Vessik' | tr -d '\r'
  echo "== The shortcuts"
  local link
  for link in "$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Drovenhelm.lnk" \
              "$user/Desktop/Drovenhelm.lnk"; do
    echo "$link"
    lnkinfo "$link" 2>/dev/null | grep -E 'Local path|Working directory|Description|Icon location' || true
  done
  echo
  echo "== The game's icon"
  mkdir -p "$out/icon"
  rm -f "$out/icon"/*.png
  rm -f "$out/icon/drovenhelm.ico"
  wrestool -x -t14 -o "$out/icon/drovenhelm.ico" "$installed/drovenhelm.exe" 2>/dev/null || true
  if [ -s "$out/icon/drovenhelm.ico" ] && icotool -x -o "$out/icon" "$out/icon/drovenhelm.ico"; then
    ls "$out/icon"/*.png
  else
    echo "drovenhelm.exe carries no icon"
  fi
  stop_wine "$prefix"
  echo
  echo "The sample CD is in $out/cd, the demo's Wine prefix in $prefix."
  return $rc
}

# A release: a clean build of its own (build/dist, never the developer's build), the programs as
# the tests run them (stripped, without time stamps or build paths), so that two builds of one
# commit give the same bytes. A dist that fails leaves no dist/: what is there is a whole release.
do_dist() {
  local key="" pass_file="" timestamp=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --sign|--pass-file|--timestamp)
        [ $# -ge 2 ] || { echo "dist: $1 needs a value" >&2; return 2; }
        case "$1" in
          --sign) key=$(caller_path "$2") ;;
          --pass-file) pass_file=$(caller_path "$2") ;;
          --timestamp) timestamp=$2 ;;
        esac
        shift 2 ;;
      *) echo "usage: $0 dist [--sign KEY.pfx [--pass-file FILE] [--timestamp URL]]" >&2; return 2 ;;
    esac
  done
  if [ -z "$key" ] && [ -n "$pass_file$timestamp" ]; then
    echo "dist: --pass-file and --timestamp go with --sign KEY.pfx" >&2
    return 2
  fi
  packages+=("${dist_packages[@]}")
  ensure_packages
  local out=$top/dist dbuild=$build/dist
  export SOURCE_DATE_EPOCH
  SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null || echo 0)
  # The developer build's libraries serve: they are pinned, and built without build paths.
  bash "$top/tools/deps/build-deps.sh" "$build"
  rm -rf "$dbuild" "$out"
  # Before the build, so that a missing key or password costs no build.
  [ -z "$key" ] || sign_ready "$key" "$pass_file" || return 1
  cmake -S "$top" -B "$dbuild" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DDEPS_PREFIX="$build/deps/prefix" >/dev/null
  cmake --build "$dbuild" --target drovenhelm_setup
  local setup=$dbuild/bin/drovenhelm_setup.exe signed=$dbuild/drovenhelm_setup.signed.exe
  if [ -n "$key" ]; then
    sign_setup "$setup" "$signed" "$key" "$pass_file" "$timestamp" || return 1
    mkdir -p "$out"
    mv "$signed" "$out/drovenhelm_setup.exe"
  else
    mkdir -p "$out"
    cp "$setup" "$out/"
  fi
  cp "$top/res/PLAYERS.txt" "$out/README.txt"
  cp "$top/LICENSE" "$out/LICENSE.txt"
  # Each library's own licence text, as its source package has it.
  local lic
  for lic in "$build/deps/prefix/licenses"/*.txt; do
    cp "$lic" "$out/LICENSE-$(basename "$lic")"
  done
  (cd "$out" && sha256sum drovenhelm_setup.exe README.txt LICENSE*.txt > SHA256SUMS)
  # The build that anyone can make again from the commit; a comment, since sha256sum -c would
  # fail on a line naming a file that is not shipped.
  if [ -n "$key" ]; then
    echo "# $(sha256sum < "$setup" | cut -d' ' -f1)  drovenhelm_setup.exe without its signature" \
         "(osslsigncode remove-signature)" >> "$out/SHA256SUMS"
  fi
  echo "release in $out:"
  (cd "$out" && ls -l && cat SHA256SUMS)
}

caller_path() {
  case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$caller/$1" ;;
  esac
}

# What signing needs: the key, and its password from a file or from the environment (never on a
# command line, which every user of the machine can read).
sign_ready() {
  local key=$1 pass_file=$2
  if [ ! -f "$key" ] || [ ! -r "$key" ]; then
    echo "dist: the signing key $key does not exist or cannot be read" >&2
    return 1
  fi
  if [ -n "$pass_file" ]; then
    if [ ! -f "$pass_file" ] || [ ! -r "$pass_file" ]; then
      echo "dist: the password file $pass_file does not exist or cannot be read" >&2
      return 1
    fi
  elif [ -z "${DROVENHELM_SIGN_PASSWORD+set}" ]; then
    echo "dist: --sign needs the key's password, in DROVENHELM_SIGN_PASSWORD or in a file given with --pass-file" >&2
    return 1
  fi
}

# Authenticode (SHA-256) into a file beside the build, never into dist/: a failure leaves no
# half-signed setup. The signed file is kept only when removing its signature gives back the
# unsigned build byte for byte, the check that anyone can make of the download.
sign_setup() {
  local setup=$1 signed=$2 key=$3 pass_file=$4 timestamp=$5 said rc=0
  local args=(sign -pkcs12 "$key" -h sha256 -n "Drovenhelm - Vessik Setup" -in "$setup" -out "$signed")
  [ -z "$timestamp" ] || args+=(-ts "$timestamp")
  rm -f "$signed" "$signed.unsigned"
  if [ -n "$pass_file" ]; then
    said=$(osslsigncode "${args[@]}" -readpass "$pass_file" 2>&1) || rc=$?
  else
    # printf is a shell builtin: the password reaches osslsigncode through a pipe and appears
    # in no process's command line.
    said=$(osslsigncode "${args[@]}" -readpass <(printf '%s' "$DROVENHELM_SIGN_PASSWORD") 2>&1) || rc=$?
  fi
  if [ $rc -ne 0 ]; then
    rm -f "$signed"
    echo "dist: cannot sign with $key: a wrong password, or not a PKCS#12 file with a code-signing key and its certificate${timestamp:+, or no time stamp from $timestamp}. osslsigncode said:" >&2
    printf '%s\n' "$said" | sed 's/^/  /' >&2
    return 1
  fi
  rc=0
  said=$(osslsigncode remove-signature -in "$signed" -out "$signed.unsigned" 2>&1) || rc=$?
  [ $rc -ne 0 ] || said=$(cmp "$setup" "$signed.unsigned" 2>&1) || rc=$?
  if [ $rc -ne 0 ]; then
    rm -f "$signed" "$signed.unsigned"
    echo "dist: osslsigncode remove-signature of the signed setup does not give back the unsigned build; nothing released:" >&2
    printf '%s\n' "$said" | sed 's/^/  /' >&2
    return 1
  fi
  rm -f "$signed.unsigned"
  chmod --reference="$setup" "$signed"
}

# A signed release with a throw-away key, checked against the unsigned release of the same
# commit and installed under Wine in a prefix of its own; several clean builds, so never part of
# ./run.sh test. It leaves dist/ as ./run.sh dist makes it.
do_dist_check() {
  packages+=("${dist_packages[@]}" "${dist_check_packages[@]}")
  ensure_packages
  bash "$top/tests/make-testdata.sh" "$build/testdata"
  local work=$build/distcheck rc=0
  mkdir -p "$work"
  WINEPREFIX=$work/wineprefix WINE_RUN=$top/cmake/wine-run.sh TESTDATA=$build/testdata \
    BIN=$build/dist/bin TEST_BIN=$build/tests FIXTURES=$third_party TOOLS=$top/tests/tools \
    python3 "$top/tests/release/signed_release.py" "$top" "$work" || rc=$?
  stop_wine "$work/wineprefix"
  return $rc
}

do_bench() {
  packages+=("${bench_packages[@]}")
  do_build
  python3 "$top/tools/bench/bench.py" --top "$top" --build "$build" "$@"
}

case "${1:-}" in
  build) do_build ;;
  test) shift; do_test "$@" ;;
  fuzz) shift; do_fuzz "$@" ;;
  demo) do_demo ;;
  bench) shift; do_bench "$@" ;;
  dist) shift; do_dist "$@" ;;
  dist-check) do_dist_check ;;
  *) echo "usage: $0 build|test [ctest arguments]|fuzz [seconds [target...]]|demo|bench|dist [--sign KEY.pfx ...]|dist-check" >&2; exit 2 ;;
esac
