#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are present. As root it
# installs what is missing; otherwise it prints the install line and fails.
# The Windows cross build's packages are optional: see windows_packages.
set -euo pipefail

packages=(cmake ninja-build g++ make clang-14 libclang-rt-14-dev clang-format clang-tidy strace libgtest-dev libgmock-dev
  libbenchmark-dev libcli11-dev binutils pkgconf nlohmann-json3-dev)
# The device-server tests: a real device server and an RFC 2217 client apart from ours.
packages+=(ser2net python3-serial)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# The Windows build and its tests under wine (make windows, make test-windows).
# Nothing of the Linux build needs them, so when they cannot be had the
# build goes on: the marker file names what is missing and why, and the
# Windows test step reports "not run" for it.
windows_packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386)
windows_marker=build/windows-missing

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# Mirrors are sometimes mid-sync; a few tries of the package index usually
# get a consistent one.
update_index() {
  local try
  for try in 1 2 3; do
    apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3); retrying in 5 s" >&2
    sleep 5
  done
  return 1
}

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    update_index
    apt-get install -y -qq "${missing[@]}"
  else
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

windows_missing=()
for p in "${windows_packages[@]}"; do
  installed "$p" || windows_missing+=("$p")
done
why=""
# Every make target runs this script: after a failed try, the next one waits
# ten minutes rather than slowing down each build.
recent_try=""
if [ -f "$windows_marker" ] && [ -n "$(find "$windows_marker" -mmin -10 2>/dev/null)" ]; then
  recent_try=yes
fi
if [ ${#windows_missing[@]} -gt 0 ] && [ -n "$recent_try" ]; then
  exit 0
fi
if [ ${#windows_missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    why="apt-get could not install them (the package index may be mid-sync; try again later)"
    # A failed update may still leave most of the index usable.
    update_index || why="the package index could not be read in full (a mirror is mid-sync; try again later)"
    # One at a time, so a package the mirror cannot give now (wine32 while
    # the i386 index is out of step) does not keep out the rest.
    for p in "${windows_missing[@]}"; do
      apt-get install -y -qq "$p" >/dev/null 2>&1 || echo "cannot install $p now" >&2
    done
    still=()
    for p in "${windows_missing[@]}"; do
      installed "$p" || still+=("$p")
    done
    windows_missing=("${still[@]+"${still[@]}"}")
  else
    why="not root; install them with: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install -y ${windows_missing[*]}"
  fi
fi
mkdir -p build
if [ ${#windows_missing[@]} -gt 0 ]; then
  printf '%s\n%s\n' "${windows_missing[*]}" "$why" >"$windows_marker"
  echo "Windows build: missing ${windows_missing[*]}: $why" >&2
else
  rm -f "$windows_marker"
fi
exit 0
