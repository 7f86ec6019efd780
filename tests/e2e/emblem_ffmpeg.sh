#!/bin/bash
# emblem.exe against ffmpeg's FLI/FLC and IFF decoders (see emblem_ffmpeg.py).
set -euo pipefail
exec python3 "$(dirname "$0")/emblem_ffmpeg.py"
