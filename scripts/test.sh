#!/usr/bin/env bash
# Builds and runs the whole test suite three ways: Debug; AddressSanitizer with
# UndefinedBehaviorSanitizer; ThreadSanitizer. Warnings are errors. Then a
# Release build is installed and packaged, and both must give a working
# zuvexport with its manual page; the formatting is checked; last, the
# Windows programs are cross-built and tested under Wine (docs/windows.md).
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=2

bash scripts/install-deps.sh

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DZUVEXPORT_WERROR=ON "$@"
  cmake --build "$dir" -j"$JOBS"
}

echo "== Debug"
build build/ci-debug
ctest --test-dir build/ci-debug --output-on-failure -j"$JOBS"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build/ci-asan -DZUVEXPORT_SANITIZE=address,undefined
ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/ci-asan --output-on-failure -j"$JOBS"

echo "== ThreadSanitizer"
build build/ci-tsan -DZUVEXPORT_SANITIZE=thread
# ThreadSanitizer cannot map its shadow memory under the high address
# randomisation of recent kernels; setarch -R turns randomisation off.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  setarch "$(uname -m)" -R \
  ctest --test-dir build/ci-tsan --output-on-failure -j"$JOBS"

echo "== Install and Debian package"
cmake -S . -B build/ci-release -DCMAKE_BUILD_TYPE=Release -DZUVEXPORT_WERROR=ON \
  -DZUVEXPORT_BUILD_TESTS=OFF
cmake --build build/ci-release -j"$JOBS"
VERSION=$(sed -n 's/^project(zuvexport VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
STAGING=$(mktemp -d)
trap 'rm -rf "$STAGING"' EXIT

# A tree with bin/ and share/man/ must hold the three programs and their pages.
check_installed() {
  local root=$1
  test "$("$root/bin/zuvexport" --version < /dev/null)" = "zuvexport $VERSION"
  for tool in zuvsample zuvwatch; do
    test "$("$root/bin/$tool" --version)" = "$tool $VERSION"
  done
  MANPAGER=cat man -M "$root/share/man" zuvexport | grep -q -e '--minstartdate'
  MANPAGER=cat man -M "$root/share/man" zuvsample | grep -q -e '--out-dir'
  MANPAGER=cat man -M "$root/share/man" zuvwatch | grep -q -e '--idle-exit'
  echo "$root: zuvexport $VERSION, the two tools and their manual pages"
}

cmake --install build/ci-release --prefix "$STAGING/install"
check_installed "$STAGING/install"

rm -f build/ci-release/zuvexport_*.deb
(cd build/ci-release && cpack -G DEB)
DEB=$(echo build/ci-release/zuvexport_*.deb)
dpkg-deb -f "$DEB" Depends | grep -q 'unixodbc, libsqliteodbc, tdsodbc'
dpkg-deb -x "$DEB" "$STAGING/deb"
check_installed "$STAGING/deb/usr"
# Debian's own checks of a package: any error or warning fails the run.
lintian --allow-root --fail-on error,warning "$DEB"
echo "$DEB: lintian reports no error or warning"

echo "== Formatting"
bash scripts/check-format.sh

echo "== Windows build, tests under Wine, .zip"
# Compared with the Release build above; one build type, the libraries cached.
# ZUVEXPORT_WINDOWS=0 leaves it out, on a machine that cannot take Wine.
if [ "${ZUVEXPORT_WINDOWS:-1}" = 1 ]; then
  ZUVEXPORT_LINUX_BUILD=build/ci-release bash scripts/windows.sh
else
  echo "Skipped: ZUVEXPORT_WINDOWS=0"
fi
