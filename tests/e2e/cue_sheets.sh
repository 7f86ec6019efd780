#!/bin/bash
# Cue sheets against libcdio's cd-info, and a sheet against its BIN (see cue_sheets.py).
exec python3 "$(dirname "$0")/cue_sheets.py" "$@"
