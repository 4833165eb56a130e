#!/usr/bin/env bash
# Installs the MinGW-w64 toolchain and Wine from Debian and builds, once, the
# libraries the Windows programs link, into a cache folder outside the source
# tree. Prints nothing but progress; the folder is given by ZUVEXPORT_MINGW_DEPS
# (default: ${XDG_CACHE_HOME:-$HOME/.cache}/zuvexport-mingw). A stamp names what
# was built: a change below (or of the Debian sources) builds anew.
set -euo pipefail

DEPS=${ZUVEXPORT_MINGW_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/zuvexport-mingw}
STAMP_TEXT="zuvexport-mingw 1: boost1.74 program_options, sqlite3, googletest, gcc-posix $(
  dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null || echo none)"
CXX=x86_64-w64-mingw32-g++-posix
CC=x86_64-w64-mingw32-gcc-posix
AR=x86_64-w64-mingw32-ar

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  as_root apt-get update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "${missing[@]}"
}

# The toolchain (posix threads: std::thread, std::filesystem), Wine for the
# tests, and what the build reads from the Linux side: Boost and fmt headers,
# GoogleTest's sources, and the tools to unpack Debian source packages.
need_packages g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 \
  libboost1.74-dev libfmt-dev googletest cmake make dpkg-dev tcl zip groff-base man-db \
  sqlite3 ca-certificates

if [ -f "$DEPS/stamp" ] && [ "$(cat "$DEPS/stamp")" = "$STAMP_TEXT" ]; then
  echo "MinGW dependencies: up to date in $DEPS"
  exit 0
fi

echo "== MinGW dependencies into $DEPS"
rm -rf "$DEPS"
mkdir -p "$DEPS"/{include,lib,src,boost-include,fmt-include}
WORK=$DEPS/src

# Source packages come from the same archive the machine installs from: its
# deb lines read as deb-src, in an apt state of our own, so the machine's
# sources and lists stay as they are.
APT=$WORK/apt
mkdir -p "$APT/lists/partial" "$APT/cache/archives/partial" "$APT/sources.list.d"
: > "$APT/sources.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]\+\(.*debian.*\)$/deb-src \1/p' "$f" >> "$APT/sources.list"
done
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  # Stanzas of a Debian archive, with their Types read as deb-src.
  awk 'BEGIN { RS = ""; ORS = "\n\n" } /URIs:[^\n]*debian/ {
         gsub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" \
    > "$APT/sources.list.d/$(basename "$f")"
done
APT_OPTS=(-o "Dir::Etc::SourceList=$APT/sources.list" -o "Dir::Etc::SourceParts=$APT/sources.list.d"
  -o "Dir::State::Lists=$APT/lists" -o "Dir::Cache=$APT/cache" -o "APT::Sandbox::User=$(id -un)")
apt-get "${APT_OPTS[@]}" update -qq
(cd "$WORK" && apt-get "${APT_OPTS[@]}" source -qq boost1.74 sqlite3 2> >(grep -v '^W: ' >&2))

# Headers through folders that hold only one link each: the whole system
# include folder would shadow mingw's own C library headers.
ln -s /usr/include/boost "$DEPS/boost-include/boost"
ln -s /usr/include/fmt "$DEPS/fmt-include/fmt"

echo "== Boost.Program_options"
BOOST_SRC=$(echo "$WORK"/boost1.74-*/libs/program_options/src)
mkdir -p "$WORK/obj-po"
for s in "$BOOST_SRC"/*.cpp; do
  "$CXX" -c -O2 -std=c++17 -DBOOST_PROGRAM_OPTIONS_STATIC_LINK -DBOOST_BIND_GLOBAL_PLACEHOLDERS -DNDEBUG \
    -I"$DEPS/boost-include" "$s" -o "$WORK/obj-po/$(basename "$s" .cpp).o" &
  # Two at a time: the machine's two cores.
  if (($(jobs -rp | wc -l) >= 2)); then wait -n; fi
done
wait
"$AR" rcs "$DEPS/lib/libboost_program_options.a" "$WORK"/obj-po/*.o

echo "== SQLite"
SQLITE_SRC=$(echo "$WORK"/sqlite3-*/)
# The amalgamation as Debian makes it, compiled with Debian's feature flags.
(cd "$SQLITE_SRC" && ./configure -q > /dev/null && make -s sqlite3.c > /dev/null)
# The -D flags of debian/rules' "export CFLAGS +=" block, continuation lines included.
SQLITE_FLAGS=$(awk '/^export CFLAGS/ { on = 1 } on { print; if ($0 !~ /\\$/) on = 0 }' \
  "$SQLITE_SRC/debian/rules" | tr ' \t\\' '\n\n\n' | grep '^-DSQLITE' | tr '\n' ' ' || true)
case "$SQLITE_FLAGS" in
  *SQLITE_ENABLE_COLUMN_METADATA*) ;;
  *) echo "debian/rules gave no SQLITE_ENABLE_COLUMN_METADATA: $SQLITE_FLAGS" >&2; exit 1 ;;
esac
echo "SQLite flags: $SQLITE_FLAGS"
# shellcheck disable=SC2086
"$CC" -c -O2 $SQLITE_FLAGS "$SQLITE_SRC/sqlite3.c" -o "$WORK/sqlite3.o"
"$AR" rcs "$DEPS/lib/libsqlite3.a" "$WORK/sqlite3.o"
cp "$SQLITE_SRC/sqlite3.h" "$SQLITE_SRC/sqlite3ext.h" "$DEPS/include/"

echo "== GoogleTest"
cmake -S /usr/src/googletest -B "$WORK/gtest" -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_C_COMPILER="$CC" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$DEPS" -Dgtest_disable_pthreads=OFF > /dev/null
cmake --build "$WORK/gtest" -j2 > /dev/null
cmake --install "$WORK/gtest" > /dev/null

# Only the results stay.
rm -rf "$WORK"
echo "$STAMP_TEXT" > "$DEPS/stamp"
echo "MinGW dependencies: built in $DEPS"
