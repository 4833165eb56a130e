#!/bin/sh
# The reference for bench_zuv_write: the sqlite3 CLI writes the same 100-field
# rows (Cle1 + 99 fields, INTEGER/REAL/TEXT by field number) with one
# INSERT INTO ... SELECT over a recursive CTE, same journal and sync settings.
# Usage: bench/zuv_reference.sh [rows]   (default 50000)
set -eu
rows=${1:-50000}
dir=$(mktemp -d /tmp/zuvref.XXXXXX)
trap 'rm -rf "$dir"' EXIT
db="$dir/ref.zuv"

columns="Cle1 INTEGER NOT NULL"
values="n"
f=1
while [ "$f" -le 99 ]; do
  name="[$((1000 + f));1]"
  case $((f % 3)) in
    0) columns="$columns, $name INTEGER"; values="$values, n * 7 + $f" ;;
    1) columns="$columns, $name REAL"; values="$values, n + $f * 0.5" ;;
    2) columns="$columns, $name TEXT"; values="$values, 'answer ' || (n % 97)" ;;
  esac
  f=$((f + 1))
done
sqlite3 "$db" "CREATE TABLE [ORV Reponse1] ($columns);
  CREATE UNIQUE INDEX [ORV Reponse1 Keys] ON [ORV Reponse1] (Cle1);"

start=$(date +%s.%N)
sqlite3 "$db" "PRAGMA journal_mode=DELETE; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-20000;
  WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < $rows)
  INSERT INTO [ORV Reponse1] SELECT $values FROM s;" > /dev/null
end=$(date +%s.%N)

count=$(sqlite3 "$db" "SELECT count(*) FROM [ORV Reponse1]")
awk -v s="$start" -v e="$end" -v r="$count" \
  'BEGIN { t = e - s; printf "sqlite3 CLI: %d rows in %.3f s = %.0f rows/s\n", r, t, r / t }'
