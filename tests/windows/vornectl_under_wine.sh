#!/usr/bin/env bash
# The Windows vornectl.exe and vorne.dll under wine, against the native Linux
# camera simulator: for every serial type a pseudo-terminal becomes COM2 of
# the wine prefix (a dosdevices link, which wine reads at each open), the
# camera pans, tilts and zooms, and every frame must be understood with a
# right checksum and the camera be stopped at the end. The vendor types
# load the stand-in DLLs (decorated exports from .def files) from beside
# the module.
#
# Devices servers that cannot take a frame must fail the run: one that
# never reads, the wrong scheme either way (misbehaving servers of the Linux
# build's vorne-hostile-server), and a ser2net line another client holds.
#
# Usage: vornectl_under_wine.sh WINE BIN_DIR CAMSIM HOSTILE   (WINEPREFIX set)
set -u
wine=$1
bin=$2
camsim=$3
hostile=${4:-}
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

# A camera on a device server, reached through Winsock: the simulator
# serves its line on loopback, raw and as RFC 2217 (where each 0xFF of a
# Pelco-D frame is doubled on the way and must arrive single).
for scheme in tcp rfc2217; do
  out=$work/net-$scheme.out
  "$camsim" --type PELCO_D --pty --strict --listen "$scheme://127.0.0.1:0" >"$out" 2>"$out.err" &
  camera=$!
  url=""
  for _ in $(seq 100); do
    url=$(sed -n 's/^VORNE_COM[0-9]*=//p' "$out" | head -1)
    [ -n "$url" ] && break
    sleep 0.05
  done
  VORNE_COM2="$url?connect_timeout_ms=2000" "$wine" "$bin/vornectl.exe" move --type PELCO_D \
    --port 2 left sleep 100 stop up sleep 100 stop >"$work/net-$scheme.log" 2>&1
  host=$?
  sleep 0.3
  kill -TERM "$camera"
  wait "$camera"
  simulator=$?
  frames=$(grep -c ' rx ' "$out")
  last=$(grep ' rx ' "$out" | tail -1)
  state=${last##*|}
  if [ -z "$url" ]; then
    fail "$scheme" "the simulator gave no URL: $(cat "$out.err")"
  elif [ "$host" -ne 0 ]; then
    fail "$scheme" "vornectl.exe exited $host: $(cat "$work/net-$scheme.log")"
  elif [ "$simulator" -ne 0 ]; then
    fail "$scheme" "a frame was not understood: $(cat "$out" "$out.err")"
  elif [ "$frames" -lt 4 ]; then
    fail "$scheme" "only $frames frames reached the camera: $(cat "$out")"
  elif [[ "$state" == *"("* ]]; then
    fail "$scheme" "the camera still moves: $last"
  else
    echo "ok   PELCO_D over $scheme://: $frames frames understood, camera stopped"
  fi
done

# Servers that cannot take the frame: vornectl.exe exits 1 and says why.
refused() {  # NAME URL EXPECTED-TEXT
  "$wine" "$bin/vornectl.exe" move --type PELCO_D --device "$2" left sleep 50 stop \
    >"$work/$1.log" 2>&1
  local host=$?
  if [ "$host" -ne 1 ]; then
    fail "$1" "vornectl.exe exited $host, not 1: $(cat "$work/$1.log")"
  elif ! grep -qF "$3" "$work/$1.log"; then
    fail "$1" "no '$3' in: $(cat "$work/$1.log")"
  else
    echo "ok   $1: refused, '$3'"
  fi
}
if [ -x "$hostile" ]; then
  for mode in never-reads:tcp:"did not end the session" telnet:tcp:"use rfc2217://" \
              polite:rfc2217:"use tcp://"; do
    IFS=: read -r name scheme expect <<<"$mode"
    "$hostile" "$name" "$scheme" >"$work/$name.url" < <(sleep 120) &
    server=$!
    for _ in $(seq 100); do [ -s "$work/$name.url" ] && break; sleep 0.05; done
    refused "$name-as-$scheme" "$(head -1 "$work/$name.url")" "$expect"
    kill "$server"
    wait "$server" 2>/dev/null
  done
else
  echo "not run: hostile device servers under wine, because vorne-hostile-server is missing"
fi
if command -v ser2net >/dev/null || [ -x /usr/sbin/ser2net ]; then
  ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
  link=$work/held-line
  "$camsim" --type PELCO_D --pty --link "$link" >"$work/held.out" 2>&1 &
  camera=$!
  for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.05; done
  port=$(( 20000 + RANDOM % 20000 ))
  printf 'connection: &held\n  accepter: tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$port" "$(readlink -f "$link")" >"$work/ser2net.yaml"
  "$ser2net" -n -d -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
  server=$!
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
  exec {holder}<>"/dev/tcp/127.0.0.1/$port"
  sleep 0.3
  refused ser2net-line-held "tcp://127.0.0.1:$port" "Open com port"
  exec {holder}>&-
  kill -TERM "$server" "$camera"
  wait "$server" "$camera" 2>/dev/null
  if grep -q ' rx ' "$work/held.out"; then fail ser2net-line-held "a frame reached the camera"; fi
else
  echo "not run: a held ser2net line under wine, because ser2net is not installed"
fi

# The vendor types: the module loads the library from its own folder; the
# RC20 library once more with the names of a 64-bit build (GetCamName as
# ?GetCamName@@YA_NHPEAD@Z only), which the module finds too.
for run in RC20 RC20-64bit-names SU_320; do
  folder=$work/$run
  type=${run%%-*}
  mkdir -p "$folder"
  cp "$bin/vorne.dll" "$bin/vornectl.exe" "$folder/"
  case $run in
    RC20) cp "$bin/standins/CDLL_301P.dll" "$folder/"; expect='MotoRight()' ;;  # the module pans left through MotoRight
    RC20-64bit-names) cp "$bin/standins/64bit-names/CDLL_301P.dll" "$folder/"; expect='GetCamName(0,buffer)' ;;
    SU_320) cp "$bin/standins/CDll.dll" "$folder/"; expect='ZX_Control(2,0)' ;;
  esac
  VORNE_STANDIN_LOG="$folder/calls.txt" "$wine" "$folder/vornectl.exe" move --type "$type" \
    left sleep 100 stop >"$folder/log" 2>&1
  host=$?
  if [ "$host" -ne 0 ]; then
    fail "$run" "vornectl.exe exited $host: $(cat "$folder/log")"
  elif ! grep -qF "$expect" "$folder/calls.txt" 2>/dev/null; then
    fail "$run" "the library never saw $expect: $(cat "$folder/calls.txt" 2>/dev/null)"
  else
    echo "ok   $run: the stand-in library saw $expect"
  fi
done
exit $failed
