#!/usr/bin/env bash
# Builds the Windows suites (win32 and win64 presets) and runs them under
# wine with one wineserver for the whole run, prefix build/wineprefix. What
# cannot run here (no mingw-w64, no wine loader for a DLL's bitness) is
# named with the reason at the end; that alone does not fail the step.
set -uo pipefail
cd "$(dirname "$0")/.."

not_run=()
failed=()
marker=build/windows-missing
missing_why=""
[ -f "$marker" ] && missing_why="$(sed -n 2p "$marker") (missing: $(sed -n 1p "$marker"))"

export WINEPREFIX=$PWD/build/wineprefix
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

# A prefix made without the 32-bit loader cannot run 32-bit programs later:
# make it again when that changes.
# A loader that is installed may still not run: a kernel built without
# 32-bit support refuses it ("Exec format error").
runs() { [ -x "$1" ] && "$1" --version >/dev/null 2>&1; }
have_wine32=no
runs /usr/lib/wine/wine && have_wine32=yes
if [ -d "$WINEPREFIX" ] && [ "$(cat "$WINEPREFIX/.vorne-wine32" 2>/dev/null)" != "$have_wine32" ]; then
  rm -rf "$WINEPREFIX"
fi

wineserver_started=no
start_wine() {
  [ "$wineserver_started" = yes ] && return 0
  mkdir -p "$WINEPREFIX"
  # Persistent until told to stop: each program under wine then starts in
  # a fraction of a second instead of about three.
  wineserver -p >"build/wineserver.log" 2>&1
  if [ ! -f "$WINEPREFIX/.vorne-wine32" ]; then
    "$1" wineboot -i >/dev/null 2>&1
    echo "$have_wine32" >"$WINEPREFIX/.vorne-wine32"
  fi
  wineserver_started=yes
}
stop_wine() {
  [ "$wineserver_started" = yes ] && wineserver -k >/dev/null 2>&1
  wineserver_started=no
}
trap stop_wine EXIT

for preset in win32 win64; do
  case $preset in
    win32) compiler=i686-w64-mingw32-g++-posix; loader=/usr/lib/wine/wine; wine_pkg=wine32:i386 ;;
    win64) compiler=x86_64-w64-mingw32-g++-posix; loader=/usr/lib/wine/wine64; wine_pkg=wine64 ;;
  esac
  if ! command -v "$compiler" >/dev/null; then
    not_run+=("$preset suite (not built), because $compiler is missing${missing_why:+: $missing_why}")
    continue
  fi
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    failed+=("$preset build")
    continue
  fi
  if ! runs "$loader" || ! command -v wineserver >/dev/null; then
    # Still checked without wine: the exports and imports of vorne.dll.
    ctest --preset "$preset" -R module_exports_only_lumodll || failed+=("$preset exports")
    if [ -x "$loader" ]; then
      why="$loader ($wine_pkg) is installed but does not run on this kernel (no 32-bit programs)"
    else
      why="$loader ($wine_pkg) is missing${missing_why:+: $missing_why}"
    fi
    not_run+=("$preset suite under wine, because $why")
    continue
  fi
  start_wine "$loader"
  ctest --preset "$preset" || failed+=("$preset suite")
done
stop_wine

echo
for line in "${not_run[@]+"${not_run[@]}"}"; do echo "not run: ${line}"; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
echo "Windows suites: everything that could run passed"
