#!/usr/bin/env bash
# New-layout export benchmark: a zuvsample survey exported through the SQLite
# ODBC driver, against two references on the same data: the sqlite3 CLI doing
# the same pivot in SQL, and the ODBC read of the rows alone. Then the export
# at 1x..4x sizes (linearity) and its peak memory at ~200,000 and ~2,000,000
# values.
#
# Usage: bench/new_export.sh BUILD_DIR [WORK_DIR]
#   BUILD_DIR holds a Release build with benchmarks (-DZUVEXPORT_BUILD_BENCH=ON).
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [WORK_DIR]}
work=${2:-$(mktemp -d)}
export_bin=$build/src/zuvexport
sample_bin=$build/tools/zuvsample
read_bin=$build/bench/bench_new_read
survey=7
mkdir -p "$work"

now_ms() { date +%s%3N; }

# 100 questions, 20% multiple choice, 10 of them in 5 loops (iterations drawn
# around 3), 10,000 interviews by default.
make_sample() {  # dir interviews
  "$sample_bin" --out-dir "$1" --survey-id $survey --interviews "$2" --questions 100 \
    --multiple-share 0.2 --numeric-share 0.15 --open-share 0.15 --loops 5 --tables 3 \
    --split-share 0.25 --semi-open 5 --layout new
}

run_export() {  # dir target
  "$export_bin" --source "$1/survey.zuv" --format NEW \
    --connectstring "Driver=SQLite3;Database=$1/source.db;StepAPI=1" --id $survey \
    --target "$2" --endpause UNPAUSE > "$2.log" 2>&1
}

# The same pivot in SQL: for every response table of an exported file, one
# INSERT ... SELECT ... GROUP BY interview and loop position with one
# MAX(CASE ...) per field. The SQL is generated from the table's own columns.
pivot_sql() {  # target-with-structure
  sqlite3 "$1" "
    SELECT 'INSERT INTO [' || m.name || '] (' ||
           group_concat('[' || p.name || ']', ',') || ') SELECT ' ||
           group_concat(
             CASE
               WHEN p.name = 'Cle1' THEN 'd.InterviewID'
               WHEN p.name = 'Cle2' THEN 'd.LoopID1'
               WHEN p.name = 'Cle3' THEN 'd.LoopID2'
               WHEN p.name = 'Ordre' THEN 'MAX(coalesce(d.LoopID2, d.LoopID1))'
               WHEN instr(p.name, ';') = 0 THEN
                 'MAX(i.[' || CASE p.name WHEN 'CodeEnqueteur' THEN 'AgentId'
                                          WHEN 'DebutInterview' THEN 'StartInterview'
                                          WHEN 'FinInterview' THEN 'EndInterview'
                                          ELSE p.name END || '])'
               WHEN substr(p.name, instr(p.name, ';') + 1) = '0' THEN
                 'MAX(CASE WHEN d.QuestionID = ' || substr(p.name, 1, instr(p.name, ';') - 1) ||
                 ' THEN d.Duration END)'
               ELSE
                 'MAX(CASE WHEN d.QuestionID = ' || substr(p.name, 1, instr(p.name, ';') - 1) ||
                 ' AND d.DataOrder = ' || substr(p.name, instr(p.name, ';') + 1) ||
                 ' THEN coalesce(d.ClosedData, d.NumericData, d.OpenData) END)'
             END, ',') ||
           ' FROM src.Orvix$(printf %04d $survey)Data d JOIN src.Orvix$(printf %04d $survey)Interview i' ||
           ' ON d.InterviewID = i.InterviewID WHERE d.QuestionID IN (' ||
           (SELECT group_concat(DISTINCT substr(q.name, 1, instr(q.name, ';') - 1))
              FROM pragma_table_info(m.name) q WHERE instr(q.name, ';') > 0) ||
           ') GROUP BY d.InterviewID, d.LoopID1, d.LoopID2;'
      FROM sqlite_master m, pragma_table_info(m.name) p
     WHERE m.type = 'table' AND m.name LIKE 'ORV Reponse%'
     GROUP BY m.name;"
}

echo "== data"
base=$work/x1
[ -f "$base/source.db" ] || make_sample "$base" 10000
rows=$(sqlite3 "$base/source.db" "SELECT count(*) FROM Orvix$(printf %04d $survey)Data")
echo "source rows: $rows"

echo "== export (NEW, SQLite ODBC)"
start=$(now_ms); run_export "$base" "$work/out1.zuv"; export_ms=$(( $(now_ms) - start ))
echo "export: ${export_ms} ms"

echo "== reference: the pivot in SQL (sqlite3 CLI)"
cp "$work/out1.zuv" "$work/ref.zuv"
sqlite3 "$work/ref.zuv" "$(sqlite3 "$work/ref.zuv" "SELECT 'DELETE FROM [' || name || '];' FROM sqlite_master WHERE type='table' AND name LIKE 'ORV Reponse%'")"
sqlite3 "$work/ref.zuv" "VACUUM"
pivot=$(pivot_sql "$work/ref.zuv")
start=$(now_ms)
sqlite3 "$work/ref.zuv" "ATTACH '$base/source.db' AS src; BEGIN; $pivot COMMIT; VACUUM;"
pivot_ms=$(( $(now_ms) - start ))
echo "sql pivot: ${pivot_ms} ms"

echo "== reference: the ODBC read alone"
read_ms=$(ZUV_BENCH_DB=$base/source.db ZUV_BENCH_SURVEY=$survey "$read_bin" \
  --benchmark_format=csv 2>/dev/null | awk -F, '/BM_Read/ {printf "%d", $3}')
echo "odbc read: ${read_ms} ms"
awk -v e="$export_ms" -v p="$pivot_ms" -v r="$read_ms" 'BEGIN {
  printf "export / sql pivot: %.2f\nexport / odbc read: %.2f\n", e / p, e / r }'

echo "== linearity"
for n in 1 2 3 4; do
  dir=$work/x$n
  [ -f "$dir/source.db" ] || make_sample "$dir" $((n * 10000)) > /dev/null
  start=$(now_ms); run_export "$dir" "$work/lin$n.zuv"; ms=$(( $(now_ms) - start ))
  r=$(sqlite3 "$dir/source.db" "SELECT count(*) FROM Orvix$(printf %04d $survey)Data")
  awk -v n=$n -v ms=$ms -v r=$r 'BEGIN { printf "%dx: %d rows, %d ms, %.2f us/row\n", n, r, ms, ms * 1000 / r }'
done

echo "== peak memory"
for n in 1300 13000; do
  dir=$work/m$n
  [ -f "$dir/source.db" ] || make_sample "$dir" $n > /dev/null
  r=$(sqlite3 "$dir/source.db" "SELECT count(*) FROM Orvix$(printf %04d $survey)Data")
  kb=$( { /usr/bin/time -v "$export_bin" --source "$dir/survey.zuv" --format NEW \
      --connectstring "Driver=SQLite3;Database=$dir/source.db;StepAPI=1" --id $survey \
      --target "$work/mem$n.zuv" --endpause UNPAUSE > /dev/null; } 2>&1 |
      awk '/Maximum resident/ {print $6}')
  echo "$r values: peak RSS ${kb} KiB"
done
