#!/usr/bin/env bash
# Cross-builds the three Windows programs into build-windows/, runs their
# tests under Wine, and writes zuvexport-<version>-win64.zip. docs/windows.md
# says what runs where and what Wine cannot show.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=2
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}
export ZUVEXPORT_MINGW_DEPS=${ZUVEXPORT_MINGW_DEPS:-$CACHE/zuvexport-mingw}
BUILD=build-windows
VERSION=$(sed -n 's/^project(zuvexport VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

bash scripts/windows-deps.sh

echo "== Windows build"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZUVEXPORT_WERROR=ON -DZUVEXPORT_MINGW_DEPS="$ZUVEXPORT_MINGW_DEPS"
cmake --build "$BUILD" -j"$JOBS"
EXE=("$BUILD/src/zuvexport.exe" "$BUILD/tools/zuvsample.exe" "$BUILD/tools/zuvwatch.exe")
ls -l "${EXE[@]}"

# A prefix of our own, made once: Wine's first start builds it (about 700 MB).
# Boost's Windows message queue reads the boot id Windows keeps in the
# registry, which a fresh prefix lacks.
export WINEPREFIX=${ZUVEXPORT_WINEPREFIX:-$CACHE/zuvexport-wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.zuvexport-ready" ]; then
  echo "== Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  wineboot -i > /dev/null 2>&1
  wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management\PrefetchParameters' \
    /v BootId /t REG_DWORD /d 1 /f > /dev/null
  wineserver -w
  touch "$WINEPREFIX/.zuvexport-ready"
fi
# The tests start many programs: one server for all of them, and Wine's
# services started now, away from the pipes ctest reads (they would hold
# them open past the tests' end).
wineserver -p 2> /dev/null || true  # or the one already running
wine cmd /c exit < /dev/null > /dev/null 2>&1
trap 'wineserver -k 2> /dev/null || true' EXIT

echo "== Test suite under Wine"
# The tests' folders under the host's /tmp (drive Z: to Wine): the host's
# ODBC driver then reads the same paths as the Windows programs.
export TMPDIR=${TMPDIR:-/tmp}
ctest --test-dir "$BUILD" --output-on-failure

echo "== Programs under Wine against the Linux build"
bash scripts/windows-e2e.sh "$BUILD"

echo "== Package"
ZIP=zuvexport-$VERSION-win64.zip
STAGE=$BUILD/package/zuvexport-$VERSION-win64
rm -rf "$BUILD/package" "$ZIP"
mkdir -p "$STAGE"
cp "${EXE[@]}" "$STAGE/"
x86_64-w64-mingw32-strip "$STAGE"/*.exe
# Windows readers: CR LF line ends.
sed 's/$/\r/' docs/windows-readme.txt > "$STAGE/README.txt"
MANWIDTH=80 man -l docs/zuvexport.1 2> /dev/null | col -b | sed 's/$/\r/' > "$STAGE/zuvexport-manual.txt"
(cd "$BUILD/package" && zip -q -r -X "../../$ZIP" "zuvexport-$VERSION-win64")
unzip -l "$ZIP"
ls -l "$ZIP"
