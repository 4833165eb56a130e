#!/usr/bin/env bash
# New-layout export benchmark: a zuvsample survey exported through the SQLite
# ODBC driver, against two references on the same data: the ODBC read alone of
# the rows it exports (one pass, the data columns) and the sqlite3 CLI doing
# the same pivot in SQL. Runs are interleaved and repeated (medians), the
# machine being shared. Then the export's time and peak RSS at 1x, 2x and 4x
# the interviews.
#
# Usage: bench/new_export.sh BUILD_DIR [WORK_DIR] [REPEATS]
#   BUILD_DIR holds a Release build with benchmarks (-DZUVEXPORT_BUILD_BENCH=ON).
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [WORK_DIR]}
work=${2:-$(mktemp -d)}
repeats=${3:-3}
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

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Time in ms and peak RSS in KiB of one export: "ms kib".
timed_export() {  # dir target
  local start kb
  start=$(now_ms)
  kb=$( { /usr/bin/time -v "$export_bin" --source "$1/survey.zuv" --format NEW \
      --connectstring "Driver=SQLite3;Database=$1/source.db;StepAPI=1" --id $survey \
      --target "$2" --endpause UNPAUSE > "$2.log"; } 2>&1 | awk '/Maximum resident/ {print $6}')
  grep -q "Recompacting Zuv File" "$2.log"
  echo "$(( $(now_ms) - start )) $kb"
}

odbc_read() {  # dir
  ZUV_BENCH_DB=$1/source.db ZUV_BENCH_SURVEY=$survey "$read_bin" --benchmark_format=csv \
    2>/dev/null | awk -F, '/BM_Read/ {printf "%d", $3}'
}

echo "== data"
for n in 1 2 4; do
  [ -f "$work/x$n/source.db" ] || make_sample "$work/x$n" $((n * 10000)) > /dev/null
done
base=$work/x1
rows=$(sqlite3 "$base/source.db" "SELECT count(*) FROM Orvix$(printf %04d $survey)Data")
echo "source rows: $rows"

# The reference target: an exported file's structure, emptied.
timed_export "$base" "$work/out1.zuv" > /dev/null
cp "$work/out1.zuv" "$work/empty.zuv"
sqlite3 "$work/empty.zuv" "$(sqlite3 "$work/empty.zuv" "SELECT 'DELETE FROM [' || name || '];' FROM sqlite_master WHERE type='table' AND name LIKE 'ORV Reponse%'")"
sqlite3 "$work/empty.zuv" "VACUUM"
pivot=$(pivot_sql "$work/empty.zuv")

echo "== interleaved: export / odbc read / sql pivot, $repeats runs"
: > "$work/export.ms"; : > "$work/read.ms"; : > "$work/pivot.ms"
for i in $(seq "$repeats"); do
  timed_export "$base" "$work/out1.zuv" | awk '{print $1}' >> "$work/export.ms"
  odbc_read "$base" >> "$work/read.ms"; echo >> "$work/read.ms"
  cp "$work/empty.zuv" "$work/ref.zuv"
  start=$(now_ms)
  sqlite3 "$work/ref.zuv" "ATTACH '$base/source.db' AS src; BEGIN; $pivot COMMIT; VACUUM;"
  echo $(( $(now_ms) - start )) >> "$work/pivot.ms"
done
export_ms=$(median < "$work/export.ms")
read_ms=$(median < "$work/read.ms")
pivot_ms=$(median < "$work/pivot.ms")
echo "export:    ${export_ms} ms  (runs: $(tr '\n' ' ' < "$work/export.ms"))"
echo "odbc read: ${read_ms} ms  (runs: $(tr '\n' ' ' < "$work/read.ms"))"
echo "sql pivot: ${pivot_ms} ms  (runs: $(tr '\n' ' ' < "$work/pivot.ms"))"
awk -v e="$export_ms" -v p="$pivot_ms" -v r="$read_ms" 'BEGIN {
  printf "export / odbc read: %.2f (aim <= 1.5)\nexport / sql pivot: %.2f (aim <= 0.5)\n", e / r, e / p }'

echo "== 1x / 2x / 4x interviews"
: > "$work/sizes"
for n in 1 2 4; do
  r=$(sqlite3 "$work/x$n/source.db" "SELECT count(*) FROM Orvix$(printf %04d $survey)Data")
  read -r ms kb < <(timed_export "$work/x$n" "$work/lin$n.zuv")
  echo "$n $r $ms $kb" >> "$work/sizes"
  awk -v n=$n -v ms=$ms -v r=$r -v kb=$kb 'BEGIN {
    printf "%dx: %d rows, %d ms, %.2f us/row, peak RSS %.1f MiB\n", n, r, ms, ms * 1000 / r, kb / 1024 }'
done
awk '$1 == 1 { one = $4 } $1 == 4 { four = $4 } END {
  printf "peak RSS 4x / 1x: %.2f (aim <= 1.1)\n", four / one }' "$work/sizes"
rm -f "$work/sizes"
