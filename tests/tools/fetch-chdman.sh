#!/bin/bash
# A chdman new enough to write Zstandard CHDs (cdzs, zstd), for the test CHDs: Debian's (mame-tools
# 0.251) predates them. MAME's chdman 0.289 as the npm registry carries it, built statically for
# Linux x86-64 (package @emmercm/chdman-linux-x64, GPL-3.0, a test tool only: nothing of it is
# linked or shipped). Fetched once into FOLDER, checked against its pinned SHA-256; prints the
# program's path.
#   tests/tools/fetch-chdman.sh FOLDER
set -euo pipefail
version=0.289.0
sha256=aafad6be5d6fe078de3bcba38d9923273c37e193b83bd5c222974d7900ea41ff
url=https://registry.npmjs.org/@emmercm/chdman-linux-x64/-/chdman-linux-x64-$version.tgz
dir=$1/chdman-$version
if [ ! -x "$dir/chdman" ]; then
  mkdir -p "$dir"
  curl -fsSL --retry 3 -o "$dir/package.tgz" "$url"
  if ! echo "$sha256  $dir/package.tgz" | sha256sum -c --status; then
    echo "fetch-chdman: $url is not the pinned package (SHA-256 differs)" >&2
    rm -f "$dir/package.tgz"
    exit 1
  fi
  tar -xzf "$dir/package.tgz" -C "$dir" package/dist/chdman
  mv "$dir/package/dist/chdman" "$dir/chdman"
  rm -rf "$dir/package" "$dir/package.tgz"
fi
echo "$dir/chdman"
