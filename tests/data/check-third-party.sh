#!/bin/bash
# Checks that the third-party test inputs are all there and byte-identical to what was brought in.
# A checkout that lost a file, or holds Git LFS pointers instead of the files, stops the test run here.
set -euo pipefail
dir=$(cd "$(dirname "$0")/third_party" && pwd)
cd "$dir"
if ! sha256sum --check --strict --quiet SHA256SUMS; then
  echo "the third-party test inputs in $dir do not match their SHA256SUMS" >&2
  exit 1
fi
# Every file is listed: a new input without a checksum would go unchecked.
unlisted=$(find . -type f ! -name SHA256SUMS ! -name README.md | sed 's|^\./||' | sort |
  comm -23 - <(awk '{print $2}' SHA256SUMS | sort))
if [ -n "$unlisted" ]; then
  echo "files in $dir without a checksum in SHA256SUMS:" >&2
  echo "$unlisted" >&2
  exit 1
fi
echo "third-party test inputs: $(wc -l < SHA256SUMS) files match SHA256SUMS"
