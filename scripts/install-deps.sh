#!/usr/bin/env bash
# Installs every Debian 12 package the project needs. Idempotent and quiet when
# everything is already there; run as root (or with sudo available).
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache clang
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # device link; arrival and removal (udev), disk eject (udisks2 over sd-bus)
  libhidapi-dev libudev-dev libsystemd-dev
  # JSON output of the command line
  nlohmann-json3-dev
  # online update: HTTP client, test server, and curl for the download benchmark
  libcurl4-openssl-dev libcpp-httplib-dev curl
  # update archives: the built-in extractor, and 7-Zip (an external archiver
  # the job prefers when installed; the unpacking benchmark compares the two)
  libarchive-dev 7zip
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
