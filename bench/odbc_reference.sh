#!/bin/sh
# The reference for bench_odbc_read: the sqlite3 CLI on the same machine and
# the same table, reading every row to /dev/null and copying the table into
# another database with INSERT ... SELECT. Run bench_odbc_read once first: it
# creates the table.
set -eu
db=${1:-${TMPDIR:-/tmp}/zuvexport-bench/odbc_read.db}
[ -f "$db" ] || { echo "no $db: run bench_odbc_read first" >&2; exit 1; }
rows=$(sqlite3 "$db" "SELECT COUNT(*) FROM t")
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT

seconds() {  # the elapsed seconds of the command given
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
}

read_s=$(seconds sqlite3 "$db" "SELECT * FROM t")
copy_s=$(seconds sqlite3 "$copy/copy.db" "ATTACH '$db' AS src;
  CREATE TABLE t AS SELECT * FROM src.t WHERE 0; INSERT INTO t SELECT * FROM src.t;")
report() {
  awk -v what="$1" -v n="$rows" -v s="$2" \
    'BEGIN { printf "sqlite3 CLI %-5s: %d rows in %.3f s, %.0f rows/s\n", what, n, s, n / s }'
}
report read "$read_s"
report copy "$copy_s"
