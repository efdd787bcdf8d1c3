#!/usr/bin/env bash
# Installs the Debian packages that building, testing and packaging need,
# only when some are missing. Needs root (or sudo) for apt-get.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libpcap-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  iproute2 libcap2-bin python3 python3-aiosmtpd
  dpkg-dev file man-db
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
