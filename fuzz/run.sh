#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each in turn for the given seconds, starting from its corpus in
# fuzz/corpus/<target>/.
#
#   fuzz/run.sh [seconds] [target...]      default: 600 seconds, every target
#
# New inputs go to a scratch copy of the corpus in the build folder; with
# FUZZ_SAVE=1 those that reach new code are merged back into fuzz/corpus.
# A crash or a broken invariant leaves its input in <build>/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_config fuzz_records fuzz_download fuzz_checkboot)

bash scripts/deps.sh clang-14 libclang-rt-14-dev
build=${BUILD_DIR:-build-asan}
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVELLORAN_WERROR=ON \
    -DVELLORAN_SANITIZE=ON -DVELLORAN_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
failed=0
for t in "${targets[@]}"; do
    work="$build/fuzz/long/$t"
    findings="$build/fuzz/findings/$t"
    rm -rf "$work"
    mkdir -p "$work" "$findings"
    cp fuzz/corpus/"$t"/* "$work"/ 2>/dev/null || true
    echo "== $t for $seconds s"
    if ! "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" 2>"$build/fuzz/$t.log"; then
        failed=1
        echo "$t: FAULT FOUND, input in $findings"
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE' \
        "$build/fuzz/$t.log" || true
    if [ "${FUZZ_SAVE:-0}" = 1 ]; then
        "$build/fuzz/$t" -merge=1 fuzz/corpus/"$t" "$work" >/dev/null 2>&1
    fi
done
exit $failed
