#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the fuzz runs need, only those
# that are missing. Runs as root (or through sudo when available).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libcrypto++-dev libjwt-dev libssl-dev
  mosquitto mosquitto-clients libmosquitto-dev python3-paho-mqtt
  qt6-base-dev fonts-dejavu-core xvfb xauth
  chromium nginx-light openssl
  python3 python3-venv
  libpqxx-dev libpq-dev postgresql-15 python3-psycopg
)
# Node and npm count as present when their commands are (a Node build of another origin
# brings its own npm, which Debian's npm package would conflict with).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then PACKAGES+=(nodejs npm); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then SUDO=sudo; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
