# The environment of every Windows program we run: sourced by wine-run.sh, and read by the install
# benchmark (tools/bench), which starts wine itself to measure it.
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko installers, no menu entries or .desktop files in $HOME, and no debugger: a crash
# ends the program at once instead of waiting in winedbg until the test times out.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d}"
