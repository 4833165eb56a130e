#!/usr/bin/env bash
# Builds zuvexport, writes a sample survey and exports it in both source
# layouts, then shows what the exports wrote. Output goes to out/.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
OUT=out
SURVEY_ID=7  # zuvsample's default survey id

bash scripts/install-deps.sh

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j2 --target zuvexport zuvsample zuvwatch

mkdir -p "$OUT"
# Writes $OUT/survey.zuv (the questionnaire) and $OUT/source.db (both layouts).
"$BUILD_DIR"/tools/zuvsample --out-dir "$OUT" --survey-id "$SURVEY_ID"

SOURCE_DB="$(pwd)/$OUT/source.db"
CONNECT="Driver=SQLite3;Database=$SOURCE_DB;StepAPI=1"
failed=0

export_layout() {
  local format=$1
  shift
  local target="$OUT/export-$format.zuv"
  echo
  echo "== zuvexport --format $format -> $target"
  rm -f "$target"
  "$@" "$BUILD_DIR"/src/zuvexport --source "$OUT/survey.zuv" --format "$format" \
    --connectstring "$CONNECT" --id "$SURVEY_ID" --target "$target" --endpause UNPAUSE \
    "${EXTRA_OPTIONS[@]}" || { echo "zuvexport ($format) exited with status $?"; failed=1; }
  if [ -f "$target" ]; then
    sqlite3 "$target" "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name" |
      while read -r table; do
        printf '  %-20s %s rows\n' "$table" "$(sqlite3 "$target" "SELECT COUNT(*) FROM \"$table\"")"
      done
  fi
}

# The legacy layout reports on the console.
EXTRA_OPTIONS=()
export_layout LEGACY

# The new layout reports through a message queue that zuvwatch creates and
# prints, as a controlling program would.
EXTRA_OPTIONS=(--progress BOOST_MQ --pipe zuvdemo)
export_layout NEW "$BUILD_DIR"/tools/zuvwatch --queue zuvdemo --

exit "$failed"
