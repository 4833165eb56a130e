#!/bin/sh
# Legacy-layout export against its floors, on one generated survey of 4
# tables x 10,000 rows x about 150 columns:
#   (a) zuvexport --format LEGACY, end to end;
#   (b) the ODBC read alone of the same tables (bench_odbc_tables);
#   (c) the sqlite3 CLI copying the same tables (ATTACH + INSERT ... SELECT
#       with the columns renamed), no ODBC, no pipeline.
# Usage: bench/legacy_export.sh BUILD_DIR   (a Release build with
#        -DZUVEXPORT_BUILD_BENCH=ON; targets zuvexport zuvsample bench_odbc_tables)
set -eu
build=${1:?usage: $0 BUILD_DIR}
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

start=$(now_ms)
"$build/src/zuvexport" --source "$work/survey.zuv" --format LEGACY --connectstring "$connect" \
  --id $survey --target "$work/target.zuv" --endpause UNPAUSE >"$work/export.log"
export_ms=$(( $(now_ms) - start ))
grep -q "Recompacting Zuv File" "$work/export.log"

start=$(now_ms)
ZUV_BENCH_CONNECT="$connect" ZUV_BENCH_SURVEY=$survey ZUV_BENCH_TABLES=4 \
  "$build/bench/bench_odbc_tables" >/dev/null 2>&1
read_ms=$(( $(now_ms) - start ))

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

echo "(a) zuvexport --format LEGACY : ${export_ms} ms"
echo "(b) ODBC read alone           : ${read_ms} ms"
echo "(c) sqlite3 CLI copy + VACUUM : ${cli_ms} ms"
awk -v a="$export_ms" -v b="$read_ms" -v c="$cli_ms" 'BEGIN {
  printf "export / ODBC read = %.2f (aim <= 2)\nexport / sqlite3 copy = %.2f\n", a / b, a / c }'
