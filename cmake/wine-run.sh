#!/bin/sh
# Runs a Windows program under Wine in an isolated, non-interactive prefix.
# The prefix is made on first use; concurrent first uses are serialised by flock.
set -e
: "${WINEPREFIX:?set WINEPREFIX}"
export WINEPREFIX
. "$(dirname "$0")/wine-env.sh"
if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
      /usr/bin/wineboot -i </dev/null >/dev/null 2>&1
      # Wine draws its own captions: without a window manager, hides then take 10 ms instead of 2 s.
      /usr/bin/wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
      /usr/bin/wineserver -w
      # Desktop, Documents, ... are links into $HOME: make them real folders of the prefix.
      for l in "$WINEPREFIX"/drive_c/users/*/*; do
        if [ -L "$l" ]; then rm "$l"; mkdir "$l"; fi
      done
      # Debian's Wine does not look in /usr/share/wine/fonts; without marlett the caption buttons are letters.
      cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
      touch "$WINEPREFIX/.prefix-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Start the session with stdio on /dev/null: wineserver and its services keep the pipes of whoever
# starts the session, and ctest would wait for them.
/usr/bin/wine rundll32.exe </dev/null >/dev/null 2>&1 || true
exec /usr/bin/wine "$@"
