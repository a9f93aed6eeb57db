# shellcheck shell=bash disable=SC2034,SC2154  # its names are the callers'
# Sourced by the benchmarks that load a simulated rack (bench/rack.sh,
# bench/latency.sh), so that they build, lay out and read their runs alike:
# the Release build of the simulator, the command line and the log reader;
# a folder of their own ($work) that goes at exit with the rack in it; and
# one load at a time on a rack started for it. Expects $repo, $baud and
# $records (the load file's data records, made as $work/BENCH.ROM).
build=${BENCH_BUILD_DIR:-$repo/build-bench}
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target velloran-rackbench velloran-sim velloran-cli >/dev/null
driver=$build/bench/velloran-rackbench
cli=$build/cli/velloran-cli

work=$(mktemp -d)
# A rack of its own (one started by hand elsewhere stays as it is), and a
# folder without VELLORAN.CFG for the tools to start in.
export VELLORAN_RACK=$work/rack VELLORAN_SIM=$build/sim/velloran-sim
xvfb="" # an X server the benchmark starts, if any
# Nothing a run started outlives the benchmark, however it ends.
cleanup() {
    bash "$repo/scripts/rack.sh" stop || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/cwd"
"$VELLORAN_SIM" --make-rom "$work/BENCH.ROM" --records "$records"

# rack_load NAME N [SIM-OPTION...] -- COMMAND...: a rack of N boards started
# with the options, each logging its line, and COMMAND run on it in
# $work/cwd. Leaves COMMAND's output, then the log reader's line per board
# (line_use=... records=... seconds=...), in $work/NAME.out; a failure ends
# the benchmark with what went wrong.
rack_load() {
    local name=$1 n=$2 out=$work/$1.out k logs=() options=() exports ok=0
    shift 2
    while [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    shift
    for k in $(seq "$n"); do
        logs+=("$work/$name-com$k.timing")
        options+=("COM$k:--timing=${logs[-1]}")
    done
    if ! exports=$(bash "$repo/scripts/rack.sh" start "$n" "${options[@]}" 2>"$work/err"); then
        cat "$work/err" >&2
        exit 1
    fi
    eval "$exports"
    (cd "$work/cwd" && "$@") >"$out" 2>"$work/err" || ok=$?
    bash "$repo/scripts/rack.sh" stop # the timing logs are whole once the boards have ended
    if [ "$ok" -ne 0 ] ||
        ! "$driver" lines --baud "$baud" "${logs[@]}" >>"$out" 2>>"$work/err"; then
        echo "$name failed:" >&2
        cat "$work/err" "$out" >&2
        exit 1
    fi
}

calc() { awk "BEGIN { printf \"${2:-%.6g}\", $1 }"; }
holds() { awk "BEGIN { exit !($1) }"; }
verdict() { if holds "$1"; then echo PASS; else echo FAIL; fi; }
# What the figures were taken on, and how busy it was.
machine() {
    local model
    model=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
    echo "Machine: $(nproc) CPUs, $model," \
        "Linux $(uname -r), load average $(cut -d' ' -f1-3 /proc/loadavg)"
}
