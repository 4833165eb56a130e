#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests and the demo use.
# Runs as root or through sudo.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libboost-program-options-dev libboost-dev
  unixodbc unixodbc-dev tdsodbc libsqliteodbc
  python3
  libsqlite3-dev sqlite3
  libfmt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format man-db lintian
)

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update
"${SUDO[@]}" apt-get install -y --no-install-recommends "${PACKAGES[@]}"
