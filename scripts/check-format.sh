#!/usr/bin/env bash
# Checks that every C++ file of src/, tests/, tools/ and bench/ is formatted as
# .clang-format says, with Debian 12's clang-format (14). Lists the files that
# are not and exits 1; `scripts/check-format.sh --fix` formats them in place.
set -euo pipefail
cd "$(dirname "$0")/.."

FORMAT=${CLANG_FORMAT:-}
if [ -z "$FORMAT" ]; then
  for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" > /dev/null; then FORMAT=$candidate; break; fi
  done
fi
if [ -z "$FORMAT" ]; then
  echo "check-format: clang-format not found (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

mapfile -d '' FILES < <(find src tests tools bench -type f \
  \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.cc' \) -print0 | sort -z)

if [ "${1:-}" = "--fix" ]; then
  "$FORMAT" -i --style=file "${FILES[@]}"
  exit 0
fi

bad=()
for file in "${FILES[@]}"; do
  if ! "$FORMAT" --style=file --dry-run --Werror "$file" > /dev/null 2>&1; then bad+=("$file"); fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: ${#bad[@]} of ${#FILES[@]} files are not formatted ($("$FORMAT" --version)):"
  printf '  %s\n' "${bad[@]}"
  echo "run scripts/check-format.sh --fix"
  exit 1
fi
echo "check-format: ${#FILES[@]} files formatted"
