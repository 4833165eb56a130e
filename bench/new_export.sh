#!/usr/bin/env bash
# New-layout export benchmark: a zuvsample survey exported through the SQLite
# ODBC driver, against references on the same data:
#   floor:     the driver alone (bench/floor_read: the data columns in one
#              pass, every column bound, 1,000-row block fetches);
#   odbc read: the same rows through our recordset and a JOIN (bench_new_read);
#   sql pivot: the sqlite3 CLI doing the same pivot in SQL.
# Runs are interleaved and repeated, the machine being shared; export / floor
# is given as the min and median of the per-run ratios, of wall time and of
# CPU time (user + sys, less disturbed by other load). Then the export's time
# and peak RSS at each of SCALES times the interviews (default "1 2 4").
#
# Usage: [SCALES="1 2 10"] [ZUVEXPORT_BIN=...] bench/new_export.sh BUILD_DIR [WORK_DIR] [REPEATS]
#   BUILD_DIR holds a Release build with benchmarks (-DZUVEXPORT_BUILD_BENCH=ON).
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [WORK_DIR] [REPEATS]}
work=${2:-$(mktemp -d)}
repeats=${3:-3}
scales=${SCALES:-1 2 4}
export_bin=${ZUVEXPORT_BIN:-$build/src/zuvexport}  # another build's binary to compare
sample_bin=$build/tools/zuvsample
read_bin=$build/bench/bench_new_read
floor_bin=$build/bench/floor_read
survey=7
data_table=Orvix$(printf %04d $survey)Data
mkdir -p "$work"

now_ms() { date +%s%3N; }

# 100 questions, 20% multiple choice, 10 of them in 5 loops (iterations drawn
# around 3), 10,000 interviews by default.
make_sample() {  # dir interviews
  "$sample_bin" --out-dir "$1" --survey-id $survey --interviews "$2" --questions 100 \
    --multiple-share 0.2 --numeric-share 0.15 --open-share 0.15 --loops 5 --tables 3 \
    --split-share 0.25 --semi-open 5 --layout new
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
minimum() { sort -n | head -1; }
runs() { tr '\n' ' ' < "$1"; }

# Wall ms, CPU ms (user + sys) and peak RSS in KiB of a command: "wall cpu kib".
# Its output goes to $work/measured.out.
measured() {  # command...
  local start stats
  start=$(now_ms)
  /usr/bin/time -o "$work/time.txt" -f '%U %S %M' "$@" > "$work/measured.out"
  stats=$(tail -1 "$work/time.txt")
  echo "$(( $(now_ms) - start )) $(echo "$stats" | awk '{ printf "%d %d", ($1 + $2) * 1000, $3 }')"
}

# One export: "wall cpu kib"; its log beside the target.
timed_export() {  # dir target
  measured "$export_bin" --source "$1/survey.zuv" --format NEW \
    --connectstring "Driver=SQLite3;Database=$1/source.db;StepAPI=1" --id $survey \
    --target "$2" --endpause UNPAUSE
  cp "$work/measured.out" "$2.log"
  grep -q "Recompacting Zuv File" "$2.log"
}

# The driver floor on the same data: "wall cpu kib".
floor_read() {  # dir
  measured "$floor_bin" "Driver=SQLite3;Database=$1/source.db;StepAPI=1" \
    "SELECT InterviewID, QuestionID, DataOrder, LoopID1, LoopID2, ClosedData, NumericData, OpenData, Duration FROM $data_table"
  cp "$work/measured.out" "$work/floor.out"
}

odbc_read() {  # dir
  ZUV_BENCH_DB=$1/source.db ZUV_BENCH_SURVEY=$survey "$read_bin" --benchmark_format=csv \
    2>/dev/null | awk -F, '/BM_Read/ {printf "%d", $3}'
}

# Min and median of the per-run ratios of two files of figures.
ratios() {  # label file-a file-b
  paste "$2" "$3" | awk '{ print $1 / $2 }' > "$work/ratios"
  printf '%s: min %.2f, median %.2f\n' "$1" "$(minimum < "$work/ratios")" "$(median < "$work/ratios")"
}

echo "== data"
for n in $scales; do
  [ -f "$work/x$n/source.db" ] || make_sample "$work/x$n" $((n * 10000)) > /dev/null
done
base=$work/x1
[ -f "$base/source.db" ] || make_sample "$base" 10000 > /dev/null
rows=$(sqlite3 "$base/source.db" "SELECT count(*) FROM $data_table")
echo "source rows: $rows"

# The reference target: an exported file's structure, emptied.
timed_export "$base" "$work/out1.zuv" > /dev/null
cp "$work/out1.zuv" "$work/empty.zuv"
sqlite3 "$work/empty.zuv" "$(sqlite3 "$work/empty.zuv" "SELECT 'DELETE FROM [' || name || '];' FROM sqlite_master WHERE type='table' AND name LIKE 'ORV Reponse%'")"
sqlite3 "$work/empty.zuv" "VACUUM"
pivot=$(pivot_sql "$work/empty.zuv")

echo "== interleaved: export / floor / odbc read / sql pivot, $repeats runs"
for f in export.ms export.cpu floor.ms floor.cpu read.ms pivot.ms; do : > "$work/$f"; done
for i in $(seq "$repeats"); do
  read -r ms cpu kb < <(timed_export "$base" "$work/out1.zuv")
  echo "$ms" >> "$work/export.ms"; echo "$cpu" >> "$work/export.cpu"
  read -r ms cpu kb < <(floor_read "$base")
  echo "$ms" >> "$work/floor.ms"; echo "$cpu" >> "$work/floor.cpu"
  odbc_read "$base" >> "$work/read.ms"; echo >> "$work/read.ms"
  cp "$work/empty.zuv" "$work/ref.zuv"
  start=$(now_ms)
  sqlite3 "$work/ref.zuv" "ATTACH '$base/source.db' AS src; BEGIN; $pivot COMMIT; VACUUM;"
  echo $(( $(now_ms) - start )) >> "$work/pivot.ms"
done
export_ms=$(median < "$work/export.ms")
read_ms=$(median < "$work/read.ms")
pivot_ms=$(median < "$work/pivot.ms")
echo "export:    ${export_ms} ms  (runs: $(runs "$work/export.ms"); cpu: $(runs "$work/export.cpu"))"
echo "floor:     $(median < "$work/floor.ms") ms  (runs: $(runs "$work/floor.ms"); cpu: $(runs "$work/floor.cpu"))"
echo "floor rows, values, texts cut: $(cut -d' ' -f1-3 "$work/floor.out")"
echo "odbc read: ${read_ms} ms  (runs: $(runs "$work/read.ms"))"
echo "sql pivot: ${pivot_ms} ms  (runs: $(runs "$work/pivot.ms"))"
ratios "export / floor, wall (at most 1.5, aim 1.2)" "$work/export.ms" "$work/floor.ms"
ratios "export / floor, cpu" "$work/export.cpu" "$work/floor.cpu"
awk -v e="$export_ms" -v p="$pivot_ms" -v r="$read_ms" 'BEGIN {
  printf "export / odbc read: %.2f\nexport / sql pivot: %.2f (aim <= 0.5)\n", e / r, e / p }'

echo "== $scales times the interviews"
: > "$work/sizes"
for n in $scales; do
  r=$(sqlite3 "$work/x$n/source.db" "SELECT count(*) FROM $data_table")
  read -r ms cpu kb < <(timed_export "$work/x$n" "$work/lin$n.zuv")
  echo "$n $r $ms $kb $cpu" >> "$work/sizes"
  awk -v n="$n" -v ms="$ms" -v cpu="$cpu" -v r="$r" -v kb="$kb" 'BEGIN {
    printf "%dx: %d rows, %d ms (cpu %d ms), %.2f us/row, peak RSS %.1f MiB\n", n, r, ms, cpu,
      ms * 1000 / r, kb / 1024 }'
done
awk 'NR == 1 { n1 = $1; ms1 = $3; kb1 = $4; cpu1 = $5 } { n = $1; ms = $3; kb = $4; cpu = $5 }
  END { printf "%dx / %dx: time %.2f of linear (cpu %.2f), peak RSS %.2f (aim: 0.9-1.1, <= 1.1)\n",
          n, n1, ms / ms1 * n1 / n, cpu / cpu1 * n1 / n, kb / kb1 }' "$work/sizes"
rm -f "$work/sizes" "$work/ratios" "$work/measured.out" "$work/time.txt"
