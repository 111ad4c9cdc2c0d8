#!/usr/bin/env bash
# The Windows vornectl.exe and vorne.dll under wine, against the native Linux
# camera simulator: for every serial type a pseudo-terminal becomes COM2 of
# the wine prefix (a dosdevices link, which wine reads at each open), the
# camera pans, tilts and zooms, and every frame must be understood with a
# right checksum and the camera be stopped at the end. The vendor types
# load the stand-in DLLs (decorated exports from .def files) from beside
# the module.
#
# Usage: vornectl_under_wine.sh WINE BIN_DIR CAMSIM   (WINEPREFIX set)
set -u
wine=$1
bin=$2
camsim=$3
prefix=${WINEPREFIX:?WINEPREFIX must name the wine prefix}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
  echo "FAIL $1: $2"
  failed=1
}

for type in EVI_D31 PELCO_D PELCO_P VIDEOTREC_PWT VC_C50i TAC; do
  link=$prefix/dosdevices/com2
  rm -f "$link"
  "$camsim" --type "$type" --pty --strict --link "$link" >"$work/$type.out" 2>"$work/$type.err" &
  camera=$!
  for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.05; done
  VORNE_TRACE="$work/$type.trace" "$wine" "$bin/vornectl.exe" move --type "$type" --port 2 \
    left sleep 100 stop up sleep 100 stop zoom-in sleep 100 stop >"$work/$type.log" 2>&1
  host=$?
  sleep 0.3  # the last frame's way through the simulator
  kill -TERM "$camera"
  wait "$camera"
  simulator=$?
  frames=$(grep -c ' rx ' "$work/$type.out")
  last=$(grep ' rx ' "$work/$type.out" | tail -1)
  state=${last##*|}
  if [ "$host" -ne 0 ]; then
    fail "$type" "vornectl.exe exited $host: $(cat "$work/$type.log")"
  elif [ "$simulator" -ne 0 ]; then
    fail "$type" "a frame was not understood: $(cat "$work/$type.out" "$work/$type.err")"
  elif [ "$frames" -lt 6 ]; then
    fail "$type" "only $frames frames reached the camera: $(cat "$work/$type.out")"
  elif [[ "$state" == *"("* ]]; then
    fail "$type" "the camera still moves: $last"
  elif grep -q $'\r' "$work/$type.trace"; then
    fail "$type" "the wire trace has CR LF line ends"
  else
    echo "ok   $type: $frames frames understood, camera stopped"
  fi
done

# The vendor types: the module loads the library from its own folder.
for type in RC20 SU_320; do
  folder=$work/$type
  mkdir -p "$folder"
  cp "$bin/vorne.dll" "$bin/vornectl.exe" "$folder/"
  case $type in
    RC20) cp "$bin/standins/CDLL_301P.dll" "$folder/"; expect='MotoRight()' ;;  # the module pans left through MotoRight
    SU_320) cp "$bin/standins/CDll.dll" "$folder/"; expect='ZX_Control(2,0)' ;;
  esac
  VORNE_STANDIN_LOG="$folder/calls.txt" "$wine" "$folder/vornectl.exe" move --type "$type" \
    left sleep 100 stop >"$folder/log" 2>&1
  host=$?
  if [ "$host" -ne 0 ]; then
    fail "$type" "vornectl.exe exited $host: $(cat "$folder/log")"
  elif ! grep -qF "$expect" "$folder/calls.txt" 2>/dev/null; then
    fail "$type" "the library never saw $expect: $(cat "$folder/calls.txt" 2>/dev/null)"
  else
    echo "ok   $type: the stand-in library saw $expect"
  fi
done
exit $failed
