#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test. Then builds
# again with clang under AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole suite there, each fuzz target for a short while included.
# The output ends with CTest's summary of the last suite run.
#
#   VELLORAN_QUICK=1          the normal build and suite only
#   VELLORAN_FUZZ_SECONDS=N   how long each fuzz target runs (default 30; 0 only
#                             replays the corpus)
#   BUILD_DIR, SANITIZE_DIR   build folders (default build, build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
quick=${VELLORAN_QUICK:-0}
if [ "$quick" = 1 ]; then
    bash scripts/deps.sh
else
    bash scripts/deps.sh clang-14 libclang-rt-14-dev
fi
jobs=$(nproc)

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVELLORAN_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs"
(cd "$build" && ctest --output-on-failure -j"$jobs")
[ "$quick" = 1 ] && exit 0

sanitize=${SANITIZE_DIR:-build-asan}
# Without precompiled headers here: a source that forgets an include of its
# own, which the shared header hides in the first build, fails to compile.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$sanitize" -DCMAKE_BUILD_TYPE=Debug \
    -DVELLORAN_WERROR=ON -DVELLORAN_SANITIZE=ON -DVELLORAN_FUZZ=ON -DVELLORAN_PCH=OFF \
    -DVELLORAN_FUZZ_SECONDS="${VELLORAN_FUZZ_SECONDS:-30}" >/dev/null
cmake --build "$sanitize" -j"$jobs"
cd "$sanitize"
# The package holds the same files either way: the first suite checked it.
ctest --output-on-failure -j"$jobs" -E '^package$'
