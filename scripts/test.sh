#!/usr/bin/env bash
# Builds meshplay with warnings as errors and runs every test, the end-to-end ones under Xvfb
# included; then builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test again, so that a sanitizer report from the real programs fails the run too; and runs
# each libFuzzer target of fuzz/ for a minute. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/release -DMESHPLAY_WERROR=ON -DMESHPLAY_TESTS=ON -DMESHPLAY_BENCH=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

# Each fuzz target for a minute on its corpus (clang, configuration build/fuzz): a crash, a hang or
# a disagreement with the reference reading fails the run.
for corpus in fuzz/corpus/*/; do
  bash fuzz/run.sh "$(basename "$corpus")" 60
done

# The sanitizer run comes last, so that its summary closes the output.
cmake -S . -B build/sanitize -DMESHPLAY_WERROR=ON -DMESHPLAY_SANITIZE=ON -DMESHPLAY_TESTS=ON \
  -DCMAKE_BUILD_TYPE=Debug
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
