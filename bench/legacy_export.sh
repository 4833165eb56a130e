#!/bin/sh
# Legacy-layout export against its floors, on one generated survey of 4
# tables x 10,000 rows x about 150 columns:
#   (a) zuvexport --format LEGACY, end to end;
#   (b) the ODBC read alone of the same tables through our recordset
#       (bench_odbc_tables);
#   (f) the driver floor: the same tables read with the ODBC API alone,
#       every column bound, 1,000-row block fetches (floor_read);
#   (c) the sqlite3 CLI copying the same tables (ATTACH + INSERT ... SELECT
#       with the columns renamed), no ODBC, no pipeline.
# (a), (b) and (f) run interleaved REPEATS times; export / floor is the min
# and median of the per-run ratios, of wall time and of CPU time (user + sys).
# Usage: [ZUVEXPORT_BIN=...] bench/legacy_export.sh BUILD_DIR [REPEATS]  (a Release build with
#        -DZUVEXPORT_BUILD_BENCH=ON; targets zuvexport zuvsample
#        bench_odbc_tables floor_read)
set -eu
build=${1:?usage: $0 BUILD_DIR [REPEATS]}
repeats=${2:-3}
export_bin=${ZUVEXPORT_BIN:-$build/src/zuvexport}  # another build's binary to compare
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
survey=7

now_ms() { date +%s%3N; }

"$build/tools/zuvsample" --out-dir "$work" --layout legacy --survey-id $survey \
  --interviews 10000 --tables 4 --loops 0 --questions 180 --split-share 0 >/dev/null
connect="Driver=SQLite3;Database=$work/source.db;StepAPI=1"
for t in 1 2 3 4; do
  printf 'table %s: %s rows x %s columns\n' $t \
    "$(sqlite3 "$work/source.db" "SELECT COUNT(*) FROM ORVResponse${survey}_$t")" \
    "$(sqlite3 "$work/source.db" "SELECT COUNT(*) FROM pragma_table_info('ORVResponse${survey}_$t')")"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minimum() { sort -n | head -1; }
runs() { tr '\n' ' ' <"$1"; }
# Appends the wall ms and CPU ms (user + sys) of a command to NAME.ms and NAME.cpu.
measured() {  # name command...
  name=$1; shift
  start=$(now_ms)
  /usr/bin/time -o "$work/time.txt" -f '%U %S' "$@" >"$work/$name.out" 2>/dev/null
  echo $(( $(now_ms) - start )) >>"$work/$name.ms"
  tail -1 "$work/time.txt" | awk '{ printf "%d\n", ($1 + $2) * 1000 }' >>"$work/$name.cpu"
}
ratios() {  # label file-a file-b
  paste "$2" "$3" | awk '{ print $1 / $2 }' >"$work/ratios"
  printf '%s: min %.2f, median %.2f\n' "$1" "$(minimum <"$work/ratios")" "$(median <"$work/ratios")"
}

for f in export read floor; do : >"$work/$f.ms"; : >"$work/$f.cpu"; done
for i in $(seq "$repeats"); do
  measured export "$export_bin" --source "$work/survey.zuv" --format LEGACY \
    --connectstring "$connect" --id $survey --target "$work/target.zuv" --endpause UNPAUSE
  grep -q "Recompacting Zuv File" "$work/export.out"
  ZUV_BENCH_CONNECT="$connect" ZUV_BENCH_SURVEY=$survey ZUV_BENCH_TABLES=4 \
    measured read "$build/bench/bench_odbc_tables"
  measured floor "$build/bench/floor_read" "$connect" "SELECT * FROM ORVResponse${survey}_1" \
    "SELECT * FROM ORVResponse${survey}_2" "SELECT * FROM ORVResponse${survey}_3" \
    "SELECT * FROM ORVResponse${survey}_4"
done
export_ms=$(median <"$work/export.ms")
read_ms=$(median <"$work/read.ms")
floor_ms=$(median <"$work/floor.ms")

# The same copy in SQL: a fresh copy of the target's empty tables, filled
# with the source rows under the target names ("Q12_3" -> "12;3").
cp "$work/target.zuv" "$work/cli.zuv"
script="$work/copy.sql"
echo "ATTACH '$work/source.db' AS src; BEGIN;" >"$script"
for t in 1 2 3 4; do
  echo "DELETE FROM \"ORV Reponse$t\";" >>"$script"
  cols=$(sqlite3 "$work/source.db" "SELECT name FROM pragma_table_info('ORVResponse${survey}_$t')")
  targets=$(sqlite3 "$work/cli.zuv" "SELECT name FROM pragma_table_info('ORV Reponse$t')")
  into=""; from=""
  for c in $cols; do
    case $c in
      Q[0-9]*_[0-9]*) name=$(echo "$c" | sed 's/^Q\([0-9]*\)_\([0-9]*\)$/\1;\2/') ;;
      *) name=$c ;;
    esac
    if printf '%s\n' "$targets" | grep -qx -- "$name"; then
      into="$into,\"$name\""; from="$from,\"$c\""
    fi
  done
  echo "INSERT INTO \"ORV Reponse$t\" (${into#,}) SELECT ${from#,} FROM src.\"ORVResponse${survey}_$t\";" >>"$script"
done
echo "COMMIT;" >>"$script"
start=$(now_ms)
sqlite3 "$work/cli.zuv" <"$script"
sqlite3 "$work/cli.zuv" "VACUUM"
cli_ms=$(( $(now_ms) - start ))

echo "(a) zuvexport --format LEGACY : ${export_ms} ms (runs: $(runs "$work/export.ms"); cpu: $(runs "$work/export.cpu"))"
echo "(b) ODBC read, our recordset  : ${read_ms} ms (runs: $(runs "$work/read.ms"))"
echo "(f) driver floor              : ${floor_ms} ms (runs: $(runs "$work/floor.ms"); cpu: $(runs "$work/floor.cpu"))"
echo "    floor rows values truncated: $(cut -d' ' -f1-3 "$work/floor.out")"
echo "(c) sqlite3 CLI copy + VACUUM : ${cli_ms} ms"
ratios "export / floor, wall (at most 1.2)" "$work/export.ms" "$work/floor.ms"
ratios "export / floor, cpu" "$work/export.cpu" "$work/floor.cpu"
awk -v a="$export_ms" -v b="$read_ms" -v c="$cli_ms" 'BEGIN {
  printf "export / ODBC read = %.2f\nexport / sqlite3 copy = %.2f\n", a / b, a / c }'
