#!/usr/bin/env bash
# Runs the Windows programs of build folder $1 under Wine (WINEPREFIX ready,
# see scripts/windows.sh) side by side with the Linux build, and fails on any
# difference: the sample survey, LEGACY and NEW exports table by table, the
# help, option errors and exit statuses, the /name and -name option forms, and
# progress through a message queue to a Windows reader.
set -euo pipefail
cd "$(dirname "$0")/.."

WINBUILD=$1
# The Linux programs to compare with: ZUVEXPORT_LINUX_BUILD, else a lean
# Release build of our own.
LINUX=${ZUVEXPORT_LINUX_BUILD:-$WINBUILD/linux}
if [ ! -x "$LINUX/src/zuvexport" ] || [ -z "${ZUVEXPORT_LINUX_BUILD:-}" ]; then
  cmake -S . -B "$LINUX" -DCMAKE_BUILD_TYPE=Release -DZUVEXPORT_BUILD_TESTS=OFF > /dev/null
  cmake --build "$LINUX" -j2 --target zuvexport zuvsample > /dev/null
fi
WIN_EXPORT=$(realpath "$WINBUILD/src/zuvexport.exe")
WIN_SAMPLE=$(realpath "$WINBUILD/tools/zuvsample.exe")
WIN_WATCH=$(realpath -e "$WINBUILD/tools/zuvwatch.exe" 2> /dev/null || true)
LIN_EXPORT=$(realpath "$LINUX/src/zuvexport")
LIN_SAMPLE=$(realpath "$LINUX/tools/zuvsample")

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
passes=0
check() {  # NAME, then a command that fails on a difference
  local name=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
    echo "ok   $name"
  else
    failures=$((failures + 1))
    echo "FAIL $name"
  fi
}

# Every table's rows, in one order, as SQL text: equal files, equal targets.
dump() {
  sqlite3 -batch "$1" "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name" |
    while IFS= read -r table; do
      echo "-- $table"
      sqlite3 -batch "$1" "SELECT sql FROM sqlite_master WHERE name = '$table'"
      sqlite3 -batch -quote "$1" "SELECT * FROM \"$table\" ORDER BY 1, 2, 3"
    done
}
same_files() { cmp -s <(dump "$1") <(dump "$2") || { diff <(dump "$1") <(dump "$2") | head -20; return 1; }; }

# The sample survey, written by each build.
mkdir -p "$WORK"/{lin,win}
"$LIN_SAMPLE" --out-dir "$WORK/lin" > /dev/null
(cd "$WORK/win" && wine "$WIN_SAMPLE" --out-dir . > /dev/null)
check "zuvsample.exe: survey.zuv as on Linux" same_files "$WORK/lin/survey.zuv" "$WORK/win/survey.zuv"
check "zuvsample.exe: source.db as on Linux" same_files "$WORK/lin/source.db" "$WORK/win/source.db"

# Both exporters read the same source through an ODBC SQLite driver: under
# Wine, odbc32 reaches the host's unixODBC driver, which takes a host path.
CONNECT="Driver=SQLite3;Database=$WORK/lin/source.db;StepAPI=1"
for format in LEGACY NEW; do
  "$LIN_EXPORT" --source "$WORK/lin/survey.zuv" --format "$format" --connectstring "$CONNECT" \
    --id 7 --target "$WORK/lin/$format.zuv" --endpause UNPAUSE > "$WORK/lin/$format.out"
  (cd "$WORK/win" && wine "$WIN_EXPORT" --source ../lin/survey.zuv --format "$format" \
    --connectstring "$CONNECT" --id 7 --target "$format.zuv" --endpause UNPAUSE > "$format.out")
  check "zuvexport.exe $format: target as on Linux, table by table" \
    same_files "$WORK/lin/$format.zuv" "$WORK/win/$format.zuv"
  # The read and write threads' lines interleave as they run, and which
  # percentages are reported on the way depends on timing: the same distinct
  # message lines, and both reach 100.
  check "zuvexport.exe $format: the console's lines as on Linux" \
    cmp -s <(grep -v -E "^The export took|^[0-9]+$" "$WORK/lin/$format.out" | sort -u; grep -x 100 "$WORK/lin/$format.out" | sort -u) \
    <(tr -d '\r' < "$WORK/win/$format.out" | grep -v -E "^The export took|^[0-9]+$" | sort -u; tr -d '\r' < "$WORK/win/$format.out" | grep -x 100 | sort -u)
done

# The option forms of the original platform.
(cd "$WORK/win" && wine "$WIN_EXPORT" /source ../lin/survey.zuv -format NEW /connectstring "$CONNECT" \
  -id 7 /target slash.zuv -endpause UNPAUSE > /dev/null)
check "zuvexport.exe /name and -name options" same_files "$WORK/lin/NEW.zuv" "$WORK/win/slash.zuv"

# Help, option errors and exit statuses: the same bytes (less CR) and status.
same_run() {
  local lin_status=0 win_status=0
  (cd "$WORK/win" && "$LIN_EXPORT" "$@" < /dev/null > "$WORK/l.out" 2> "$WORK/l.err") || lin_status=$?
  (cd "$WORK/win" && wine "$WIN_EXPORT" "$@" < /dev/null > "$WORK/w.out" 2> "$WORK/w.err") || win_status=$?
  # The usage line names the program as started; system error texts are each
  # system's own (strerror, FormatMessageW).
  sed -i -e 's/^Error: No such file or directory$/Error: (no such file)/' "$WORK/l.out" "$WORK/l.err"
  sed -i -e 's/^Error: \(File not found\.\?\|No such file or directory\)\r\?$/Error: (no such file)/' \
    "$WORK/w.out" "$WORK/w.err"
  sed -i -e "s|$LIN_EXPORT|zuvexport|" -e "/^The export took/d" "$WORK/l.out" "$WORK/l.err"
  sed -i -e 's|Z:[^ ]*zuvexport\.exe|zuvexport|' -e "/^The export took/d" "$WORK/w.out" "$WORK/w.err"
  [ "$lin_status" = "$win_status" ] || { echo "  status $lin_status on Linux, $win_status under Wine"; return 1; }
  cmp -s "$WORK/l.out" <(tr -d '\r' < "$WORK/w.out") &&
    cmp -s "$WORK/l.err" <(tr -d '\r' < "$WORK/w.err") ||
    { diff "$WORK/l.out" <(tr -d '\r' < "$WORK/w.out"); diff "$WORK/l.err" <(tr -d '\r' < "$WORK/w.err"); return 1; }
}
check "--help" same_run --help --endpause UNPAUSE
check "/?" same_run '/?'
check "no options" same_run
check "an unknown option" same_run --bogus 1 --endpause UNPAUSE
check "a wrong format" same_run --source s.zuv --format legacy --connectstring x --id 7 --target t.zuv --endpause UNPAUSE
check "a missing source" same_run --source missing.zuv --format NEW --connectstring "$CONNECT" --id 7 --target t.zuv --endpause UNPAUSE
check "a driver that is not there" same_run --source ../lin/survey.zuv --format NEW --connectstring "Driver=NoSuchDriver" --id 7 --target t.zuv --endpause UNPAUSE

# Progress through a Boost message queue to a Windows reader, which creates it.
if [ -n "$WIN_WATCH" ]; then
  # A name of this run's: under Wine a removed queue's file stays (docs/windows.md).
  QUEUE=zuvwine$$
  progress_by_queue() {
    (cd "$WORK/win" && wine "$WIN_WATCH" --queue "$QUEUE" -- "$WIN_EXPORT" --source ../lin/survey.zuv \
      --format NEW --connectstring "$CONNECT" --id 7 --target mq.zuv --progress BOOST_MQ --pipe "$QUEUE" \
      --endpause UNPAUSE > mq.out) &&
      same_files "$WORK/lin/NEW.zuv" "$WORK/win/mq.zuv" &&
      tr -d '\r' < "$WORK/win/mq.out" | grep -qx '100' &&
      tr -d '\r' < "$WORK/win/mq.out" | grep -q '^Info: '
  }
  check "BOOST_MQ progress to zuvwatch.exe" progress_by_queue
  # The same through the named pipe \\.\pipe\NAME, zuvwatch.exe listening.
  progress_by_pipe() {
    (cd "$WORK/win" && wine "$WIN_WATCH" --pipe zuvwinepipe -- "$WIN_EXPORT" --source ../lin/survey.zuv \
      --format NEW --connectstring "$CONNECT" --id 7 --target pipe.zuv --progress NAMED_PIPE \
      --pipe zuvwinepipe --endpause UNPAUSE > pipe.out) &&
      same_files "$WORK/lin/NEW.zuv" "$WORK/win/pipe.zuv" &&
      tr -d '\r' < "$WORK/win/pipe.out" | grep -qx '100' &&
      tr -d '\r' < "$WORK/win/pipe.out" | grep -q '^Info: '
  }
  check "NAMED_PIPE progress to zuvwatch.exe" progress_by_pipe
else
  echo "skip BOOST_MQ and NAMED_PIPE progress: no zuvwatch.exe in this build"
fi

echo "$passes passed, $failures failed"
[ "$failures" = 0 ]
