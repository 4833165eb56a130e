#!/usr/bin/env bash
# Builds and runs the whole test suite three ways: Debug; AddressSanitizer with
# UndefinedBehaviorSanitizer; ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=2

bash scripts/install-deps.sh

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@"
  cmake --build "$dir" -j"$JOBS"
}

echo "== Debug"
build build/ci-debug
ctest --test-dir build/ci-debug --output-on-failure -j"$JOBS"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build/ci-asan -DZUVEXPORT_SANITIZE=address,undefined
ASAN_OPTIONS=abort_on_error=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/ci-asan --output-on-failure -j"$JOBS"

echo "== ThreadSanitizer"
build build/ci-tsan -DZUVEXPORT_SANITIZE=thread
# ThreadSanitizer cannot map its shadow memory under the high address
# randomisation of recent kernels; setarch -R turns randomisation off.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  setarch "$(uname -m)" -R \
  ctest --test-dir build/ci-tsan --output-on-failure -j"$JOBS"
