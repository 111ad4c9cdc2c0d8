#!/usr/bin/env bash
# Makes sure the Debian packages the build needs are present. As root it
# installs what is missing; otherwise it prints the install line and fails.
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
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
else
  echo "Missing packages. Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
