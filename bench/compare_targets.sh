#!/usr/bin/env bash
# Checks that two zuvexport binaries write the same new-layout targets: every
# filter the new-layout tests use, on samples of several shapes (loops,
# nested loops, sparse ids, an orphan table). Byte-identical files pass; for
# files that differ, the tables are compared row by row and the first
# difference is shown.
#
# Usage: bench/compare_targets.sh OLD_ZUVEXPORT NEW_ZUVEXPORT ZUVSAMPLE [WORK_DIR]
set -euo pipefail

old=${1:?usage: $0 OLD_ZUVEXPORT NEW_ZUVEXPORT ZUVSAMPLE [WORK_DIR]}
new=${2:?}
sample=${3:?}
work=${4:-$(mktemp -d)}
survey=7
mkdir -p "$work"

samples=(
  "basic:--interviews 400 --questions 40 --loops 2 --tables 3"
  "nested:--interviews 300 --questions 50 --loops 3 --nested-loops 1 --tables 2 --split-share 0.5"
  "sparse:--interviews 300 --questions 30 --sparse-ids --orphan-table --tables 3 --split-share 0.5"
  "bench:--interviews 2000 --questions 100 --multiple-share 0.2 --numeric-share 0.15 --open-share 0.15 --loops 5 --tables 3 --split-share 0.25 --semi-open 5"
)
# completion|min|max, as the tests' cases.
filters=("||" "COMPLETE|01/03/2014|01/09/2014" "INCOMPLETE||" "INCOMPLETE||01/09/2014"
         "|01/03/2014|")

export_with() {  # binary dir completion min max target
  local args=(--source "$2/survey.zuv" --format NEW
              --connectstring "Driver=SQLite3;Database=$2/source.db;StepAPI=1" --id $survey
              --target "$6" --endpause UNPAUSE)
  [ -n "$3" ] && args+=(--completion "$3")
  [ -n "$4" ] && args+=(--minstartdate "$4")
  [ -n "$5" ] && args+=(--maxstartdate "$5")
  "$1" "${args[@]}" > "$6.log" 2>&1
}

# Every table's rows in one order, for files that are not byte-identical.
dump_tables() {  # zuv
  local table
  sqlite3 "$1" "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name" |
    while read -r table; do
      echo "== $table"
      sqlite3 "$1" "SELECT * FROM \"$table\" ORDER BY 1, 2, 3"
    done
}

# Progress figures depend on timing; the messages do not.
messages() { grep -v -e "The export took" -e "^[0-9]*$" "$1" | sort; }

failures=0
for entry in "${samples[@]}"; do
  name=${entry%%:*}
  read -r -a options <<< "${entry#*:}"
  dir=$work/$name
  [ -f "$dir/source.db" ] ||
    "$sample" --out-dir "$dir" --survey-id $survey --layout new "${options[@]}" > /dev/null
  for filter in "${filters[@]}"; do
    IFS='|' read -r completion min max <<< "$filter"
    label="$name completion=${completion:-none} min=${min:-none} max=${max:-none}"
    export_with "$old" "$dir" "$completion" "$min" "$max" "$work/old.zuv" || true
    export_with "$new" "$dir" "$completion" "$min" "$max" "$work/new.zuv" || true
    # The two threads' messages interleave freely: the logs are compared sorted.
    if ! diff <(messages "$work/old.zuv.log") <(messages "$work/new.zuv.log") > "$work/diff"; then
      echo "DIFFERENT LOG  $label"
      head -5 "$work/diff" || true
      failures=$((failures + 1))
    elif cmp -s "$work/old.zuv" "$work/new.zuv"; then
      echo "identical      $label"
    elif diff <(dump_tables "$work/old.zuv") <(dump_tables "$work/new.zuv") > "$work/diff"; then
      echo "same tables    $label (bytes differ)"
    else
      echo "DIFFERENT      $label"
      head -5 "$work/diff" || true
      failures=$((failures + 1))
    fi
  done
done
echo "$failures difference(s)"
[ "$failures" -eq 0 ]
