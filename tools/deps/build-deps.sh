#!/bin/bash
# The codec and compression libraries, cross-built as static libraries for x86_64-w64-mingw32 from
# Debian's source packages at the versions pinned in tools/deps/versions.
#   tools/deps/build-deps.sh [BUILD]              (BUILD defaults to build/ beside run.sh)
#   tools/deps/build-deps.sh --versions [BUILD]   the versions Debian has of each pinned package
# Everything lands in BUILD/deps: apt's private state and the fetched packages (apt/, src/), one log
# per library (log/), and the prefix the project links (prefix/lib, prefix/include, and
# prefix/licenses with each library's licence text). A library is fetched and built again only when
# its pin, its recipe below, the toolchain or a library it builds on changed; otherwise nothing
# is fetched and nothing is built.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
versions=0
[ "${1:-}" = --versions ] && { versions=1; shift; }
build=${1:-$top/build}
# Absolute: the builds below run in folders of their own.
mkdir -p "$build"
build=$(cd "$build" && pwd)
deps=$build/deps
prefix=$deps/prefix
tc=x86_64-w64-mingw32
cc=/usr/bin/$tc-gcc-posix
jobs=2
# No build path in what is compiled: the release is reproducible in any folder.
cflags="-O2 -ffile-prefix-map=$deps/work=deps"

declare -A pkg ver lic
order=()
while read -r name p v l; do
  case $name in ''|\#*) continue ;; esac
  pkg[$name]=$p ver[$name]=$v lic[$name]=$l
  order+=("$name")
done < "$here/versions"

# The libraries each one is compiled against: they are built first, and a new build of them
# makes this one again.
declare -A needs=([vorbis]=ogg [opusfile]="ogg opus")

mkdir -p "$deps"/{stamps,log,src,work} "$prefix"/{lib,include,licenses}
# Two builds sharing a folder wait for each other here.
exec 9>"$deps/.lock"
flock 9

# --- fetching ----------------------------------------------------------------------------------
# apt with a state of its own in BUILD/deps/apt: the deb-src entries of debian-src.sources, its
# own lists and cache, so the machine's apt setup is neither needed nor changed. apt checks every
# file it fetches against the signed index of the suite.
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$deps/apt/sources.list.d"
  -o Dir::State="$deps/apt/state" -o Dir::Cache="$deps/apt/cache" -o Dir::State::status=/var/lib/dpkg/status)
# As root apt fetches as the user _apt, who may not write into the build folder.
[ "$(id -u)" -eq 0 ] && apt_opts+=(-o APT::Sandbox::User=root)
apt_ready=0

apt_update() {
  [ $apt_ready -eq 1 ] && return 0
  mkdir -p "$deps/apt/sources.list.d" "$deps/apt/state/lists/partial" "$deps/apt/cache/archives/partial"
  cp "$here/debian-src.sources" "$deps/apt/sources.list.d/"
  echo "deps: apt-get update (deb-src, private state in $deps/apt)"
  apt-get "${apt_opts[@]}" -q update >"$deps/log/apt-update.log" 2>&1 || {
    cat "$deps/log/apt-update.log" >&2; return 1; }
  apt_ready=1
}

# Sets dsc to the .dsc of a pinned source package, fetching it (with its tarballs) only when it
# is not there yet.
fetch() {
  local name=$1 p=${pkg[$1]} v=${ver[$1]}
  dsc="$deps/src/${p}_${v#*:}.dsc"
  [ -f "$dsc" ] && return 0
  apt_update
  echo "deps: fetching $p $v"
  (cd "$deps/src" && apt-get "${apt_opts[@]}" -q source --download-only "$p=$v") \
    >"$deps/log/$name.fetch.log" 2>&1 || {
    cat "$deps/log/$name.fetch.log" >&2
    echo "deps: cannot fetch $p $v; if Debian no longer has it (tools/deps/build-deps.sh --versions)," \
      "pin a version it has in tools/deps/versions" >&2
    return 1
  }
}

if [ $versions -eq 1 ]; then
  apt_update
  for name in "${order[@]}"; do
    [ "$name" = zlib ] && continue
    echo "$name (${pkg[$name]}): $(apt-cache "${apt_opts[@]}" showsrc "${pkg[$name]}" |
      sed -n 's/^Version: //p' | sort -uV | sed "s/^${ver[$name]}\$/[&]/" | tr '\n' ' ')"
  done
  echo "zlib (${pkg[zlib]}): $(apt-cache policy "${pkg[zlib]}" | sed -n 's/ *Candidate: //p') in the machine's apt"
  exit 0
fi

# --- building ----------------------------------------------------------------------------------
cmake_lib() {  # cmake_lib SOURCE_FOLDER [CMAKE_ARGUMENTS...]: configure into _b
  local src=$1; shift
  cmake -S "$src" -B _b -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@"
}

configure_lib() {  # configure_lib [CONFIGURE_ARGUMENTS...]: an autotools build, static only
  # The documents they install anyway go into the source folder, which is deleted.
  ./configure --host=$tc --prefix="$prefix" --docdir="$PWD/_doc" --disable-shared --enable-static \
    --disable-dependency-tracking --disable-maintainer-mode CC="$cc" CFLAGS="$cflags" \
    PKG_CONFIG=pkg-config PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= "$@"
}

# One function a library, run in its unpacked source (Debian's patches applied) with the prefix
# holding what it needs. No programs, documentation, tests or shared libraries. Each step is
# chained with &&: the caller tests the function's status, and set -e does not stop it there.
build_ogg() {
  cmake_lib . -DINSTALL_DOCS=OFF && cmake --build _b -j$jobs && cmake --install _b
}

build_vorbis() {
  cmake_lib . -DOGG_INCLUDE_DIR="$prefix/include" -DOGG_LIBRARY="$prefix/lib/libogg.a" \
    -DINSTALL_CMAKE_PACKAGE_MODULE=OFF &&
    cmake --build _b -j$jobs && cmake --install _b
}

# opus 1.3.1's release tarball lacks a file its CMake build includes: autotools here. Its
# configure adds _FORTIFY_SOURCE unless it is set, and its stack protector; with mingw-w64 both
# need libssp in every program that links it (FLAC's alike, below).
build_opus() {
  configure_lib --disable-doc --disable-extra-programs --disable-stack-protector \
    CPPFLAGS=-D_FORTIFY_SOURCE=0 && make -j$jobs && make install
}

build_opusfile() {
  configure_lib --disable-http --disable-examples --disable-doc && make -j$jobs && make install
}

build_flac() {
  cmake_lib . -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF -DBUILD_CXXLIBS=OFF \
    -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF &&
    cmake --build _b -j$jobs && cmake --install _b
}

build_speexdsp() {
  configure_lib --disable-examples && make -j$jobs && make install
}

# Decompression only: the readers never compress, and the compressor is most of the library.
build_zstd() {
  make -C lib -j$jobs libzstd.a CC="$cc" AR=$tc-ar CFLAGS="$cflags" \
    ZSTD_LIB_COMPRESSION=0 ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_ASM=1 &&
    install -m 644 lib/libzstd.a "$prefix/lib/" &&
    install -m 644 lib/zstd.h lib/zstd_errors.h "$prefix/include/"
}

# The library alone; xz's CMake would build its programs too.
build_lzma() {
  cmake_lib . && cmake --build _b -j$jobs --target liblzma &&
    cmake --install _b --component liblzma_Development
}

# zlib comes built: Debian's package of it for mingw-w64, pinned like the sources. Its static
# library only (the package also has an import library for a DLL we do not ship).
build_zlib() {
  local have
  have=$(dpkg-query -W -f='${Version}' "${pkg[zlib]}" 2>/dev/null || true)
  if [ "$have" != "${ver[zlib]}" ]; then
    echo "deps: ${pkg[zlib]} is ${have:-not installed}, pinned ${ver[zlib]} (tools/deps/versions)" >&2
    return 1
  fi
  install -m 644 /usr/$tc/lib/libz.a "$prefix/lib/" &&
    install -m 644 /usr/$tc/include/zlib.h /usr/$tc/include/zconf.h "$prefix/include/"
}

# What a library's build depends on: its pin, its recipe and the shared ones, the flags, the
# toolchain's packages (compiler, binutils, C runtime headers), and the builds of the libraries
# it needs.
key_of() {
  local name=$1 d
  {
    echo "${pkg[$name]} ${ver[$name]} ${lic[$name]} $cflags"
    declare -f "build_$name" cmake_lib configure_lib
    cat "$here/toolchain.cmake" "$top/cmake/mingw-w64-x86_64.cmake"
    dpkg-query -W gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    for d in ${needs[$name]:-}; do cat "$deps/stamps/$d"; done
  } | sha1sum | cut -c1-16
}

build_one() {
  local name=$1 key
  key=$(key_of "$name")
  [ "$(cat "$deps/stamps/$name" 2>/dev/null)" = "$key" ] && return 0
  rm -f "$deps/stamps/$name"
  local log=$deps/log/$name.log start=$SECONDS
  echo "deps: building $name (${pkg[$name]} ${ver[$name]})"
  if [ "$name" = zlib ]; then
    build_zlib >"$log" 2>&1 || { cat "$log" >&2; return 1; }
    sed -n '1,/\*\//p' "${lic[zlib]}" > "$prefix/licenses/$name.txt"
  else
    local dsc work=$deps/work/$name
    fetch "$name"
    rm -rf "$work" && mkdir -p "$work"
    # dpkg-source checks the tarballs against the .dsc (apt checked the .dsc against the signed
    # index; the uploader's signature it cannot check without debian-keyring, and says so) and
    # applies Debian's patches. It leaves links to the tarballs beside the source: in $work.
    dpkg-source -x "$dsc" "$work/src" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
    (cd "$work/src" && "build_$name") >>"$log" 2>&1 || {
      tail -40 "$log" >&2
      echo "deps: building $name failed, the whole log is $log" >&2
      return 1
    }
    install -m 644 "$work/src/${lic[$name]}" "$prefix/licenses/$name.txt"
    rm -rf "$work"
  fi
  echo "$key" > "$deps/stamps/$name"
  echo "deps: $name done in $((SECONDS - start)) s"
}

for name in "${order[@]}"; do
  for d in ${needs[$name]:-}; do build_one "$d"; done
  build_one "$name"
done
