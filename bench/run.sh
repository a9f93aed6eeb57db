#!/usr/bin/env bash
# Builds the tool in Release and holds its main window, shown on an X server
# of its own, against a minimal client (bench/minimal-client.cpp), each
# loading files into the simulated boot loader (velloran-sim) on
# pseudo-terminals. Prints the figures with a target and a verdict each, then
# the same for the command-line tool when there is one. A few minutes;
# nothing here is part of the tests.
#
#   BENCH_ROUNDS=N    rounds of the timed loads, the programs taking turns (default 5)
#   BENCH_PIN=0       let the scheduler place the simulator and the programs
#   BENCH_BUILD_DIR   the Release build (default build-bench)
#   VELLORAN_CLI      the command-line tool to measure (default: the one this
#                     build makes, else build/cli/velloran-cli)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$repo/build-bench}
rounds=${BENCH_ROUNDS:-5}
# The window draws in the faces the operator's machine has (scripts/run.sh).
bash "$repo/scripts/deps.sh" xvfb fonts-liberation2
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target velloran-bench velloran-sim minimal-client >/dev/null
bench="$build/bench/velloran-bench"
minimal="$build/bench/minimal-client"

# --- the command-line tool, measured when it exists -----------------------
# It is asked for what an operator's script would do, with the same load
# file and simulator as the others: velloran-cli flash --device PATH --quiet FILE
cli=${VELLORAN_CLI:-}
if [ -z "$cli" ]; then
    if cmake --build "$build" --target help | grep 'velloran-cli$' >/dev/null; then
        cmake --build "$build" -j"$(nproc)" --target velloran-cli >/dev/null
    fi
    for candidate in "$build/cli/velloran-cli" "$repo/build/cli/velloran-cli"; do
        if [ -x "$candidate" ]; then
            cli=$candidate
            break
        fi
    done
fi
cli_command=()
if [ -n "$cli" ]; then cli_command=("$cli" flash --device '{device}' --quiet '{rom}'); fi

# --- where and how the programs run ----------------------------------------
# Left to itself, the scheduler runs the simulator and the program it talks
# to on one CPU in some loads (a turn of about 10 us) and on two in others
# (35-65 us), and flips between the two from one load to the next: that
# swamps the difference being measured. So the simulator, standing for a
# device, keeps to one CPU, and every program measured keeps to another with
# everything it needs (the window's X server too), so that its cost falls on
# itself and not on the device. Where the user may, all of it runs before
# other work on the machine (nice -10), which otherwise falls on the figures.
prio=()
[ "$(nice -n -10 nice 2>/dev/null)" = -10 ] && prio=(nice -n -10)
cpus=()
for part in $(grep Cpus_allowed_list /proc/self/status | cut -f2 | tr ',' ' '); do
    for ((c = ${part%-*}; c <= ${part#*-}; c++)); do cpus+=("$c"); done
done
pin=()
peer=()
placement="the scheduler's choice"
if [ "${BENCH_PIN:-1}" = 1 ] && [ ${#cpus[@]} -ge 2 ]; then
    pin=(taskset -c "${cpus[1]}")
    peer=(--peer-cpu "${cpus[0]}")
    placement="simulator on CPU ${cpus[0]}, programs measured on CPU ${cpus[1]}"
fi

# --- an X server of our own, on the first free display from :140 ----------
tmp=$(mktemp -d)
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
display=140
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
done
"${prio[@]}" "${pin[@]}" Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# One load (window or client, then its options); its "key=value" lines land
# in r[<name>.<key>].
declare -A r
measure() {
    local name=$1 out key value
    shift
    if ! out=$("${prio[@]}" "${pin[@]}" "$bench" "$1" "${peer[@]}" "${@:2}" 2>"$tmp/errors"); then
        echo "velloran-bench $* failed:" >&2
        cat "$tmp/errors" >&2
        exit 1
    fi
    while IFS='=' read -r key value; do
        r[$name.$key]=$value
    done <<<"$out"
}
window() {
    local name=$1
    shift
    measure "$name" window "$@"
}
client() {
    local name=$1
    shift
    measure "$name" client "$@" -- "$minimal" '{device}' '{rom}'
}
cli() {
    local name=$1
    shift
    measure "$name" client "$@" -- "${cli_command[@]}"
}

calc() { awk "BEGIN { printf \"${2:-%.6g}\", $1 }"; }
holds() { awk "BEGIN { exit !($1) }"; }
verdict() { if holds "$1"; then echo PASS; else echo FAIL; fi; }
# median KEY NAME...: the median over the rounds of r[NAME<i>.KEY].
median() {
    local key=$1 name i
    shift
    for name in "$@"; do
        for ((i = 1; i <= rounds; i++)); do echo "${r[$name$i.$key]}"; done
    done | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
    "Linux $(uname -r), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Placement: $placement; priority: ${prio[*]:-as started}"
echo "Measuring: $rounds rounds, then the long loads (a few minutes)..."
load_before=$(cut -d' ' -f1 /proc/loadavg)

# The programs take turns, so that what else the machine does falls on both.
for ((i = 1; i <= rounds; i++)); do
    client "fast.client$i" --records 10000
    window "fast.window$i" --records 10000
    if [ -n "$cli" ]; then cli "fast.cli$i" --records 10000; fi
    client "paced.client$i" --records 2000 --pace
    window "paced.window$i" --records 2000 --pace
    if [ -n "$cli" ]; then cli "paced.cli$i" --records 2000 --pace; fi
done
window idle.window --records 5 --silent-at 3
window big.window --records 100000
if [ -n "$cli" ]; then
    # The command line is timed as a whole process: the same load without
    # the silence is taken off.
    cli idle.cli --records 5 --silent-at 3
    cli idle.cli.base --records 5
    cli big.cli --records 100000
fi
echo "Load average (1 min) before and after measuring: $load_before, $(cut -d' ' -f1 /proc/loadavg)"

turn_c=$(median turn_median_us fast.client)
rate_c=$(median records_per_second fast.client)
use_c=$(median line_use paced.client)

# report LABEL NAME: the table for one program against the minimal client.
report() {
    local label=$1 name=$2 turn rate use wait_cpu wait_s rss10 rss100
    turn=$(median turn_median_us "fast.$name")
    rate=$(median records_per_second "fast.$name")
    use=$(median line_use "paced.$name")
    if [ "$name" = window ]; then
        wait_cpu=${r[idle.window.quiet_cpu_seconds]}
        wait_s=${r[idle.window.quiet_seconds]}
        rss10=$(calc "${r[fast.window1.max_rss_kb]} / 1024" "%.1f")
    else
        wait_cpu=$(calc "${r[idle.cli.cpu_seconds]} - ${r[idle.cli.base.cpu_seconds]}")
        wait_s=10
        rss10=$(calc "${r[fast.cli1.max_rss_kb]} / 1024" "%.1f")
    fi
    rss100=$(calc "${r[big.$name.max_rss_kb]} / 1024" "%.1f")
    # Nothing paints on the command line's path: it is held closer.
    local most=1.5
    [ "$name" = window ] || most=1.2
    local row='%-46s %12s %12s %8s %-10s %s\n'
    echo
    printf "$row" "figure" "$label" "minimal" "ratio" "target" "verdict"
    printf "$row" "per-record tool time, median (us)" "$(calc "$turn" %.1f)" \
        "$(calc "$turn_c" %.1f)" "$(calc "$turn / $turn_c" %.2f)" "<= $most" \
        "$(verdict "$turn / $turn_c <= $most")"
    printf "$row" "records/s, simulator answering at once" "$(calc "$rate" %.0f)" \
        "$(calc "$rate_c" %.0f)" "$(calc "$rate / $rate_c" %.2f)" "(figure)" "-"
    printf "$row" "line use, paced at 115200 baud" "$(calc "$use" %.3f)" \
        "$(calc "$use_c" %.3f)" "$(calc "$use / $use_c" %.3f)" ">= 0.98" \
        "$(verdict "$use / $use_c >= 0.98")"
    printf "$row" "CPU (s) while waiting $(calc "$wait_s" %.1f) s on a silent loader" \
        "$(calc "$wait_cpu" %.4f)" "" "" "< 0.05" "$(verdict "$wait_cpu < 0.05")"
    printf "$row" "peak memory (MB), 10,000-record load" "$rss10" "" "" "" ""
    printf "$row" "peak memory (MB), 100,000-record load" "$rss100" "" \
        "$(calc "$rss100 / $rss10" %.2f)" "flat <= 1.1" "$(verdict "$rss100 <= $rss10 * 1.1")"
    local turns="" uses=""
    for ((i = 1; i <= rounds; i++)); do
        turns+=" $(calc "${r[fast.$name$i.turn_median_us]} / ${r[fast.client$i.turn_median_us]}" %.2f)"
        uses+=" $(calc "${r[paced.$name$i.line_use]} / ${r[paced.client$i.line_use]}" %.3f)"
    done
    echo "  round by round, against the minimal client's load just before:"
    echo "  per-record time$turns; line use$uses"
}

report window window
if [ -n "$cli" ]; then
    report velloran-cli cli
    echo "(velloran-cli: $cli)"
else
    echo
    echo "velloran-cli not built"
fi

cat <<EOF

How each figure was taken. Every load runs against a fresh velloran-sim
--delay 0 on a pseudo-terminal, which logs when each of its reads returned and
each of its writes began (--timing); the times come from that log alone, so
every program is timed by one clock at the far end of the line. Placement:
$placement (see the top of bench/run.sh).
- window: the real main window (frmMain, Release) shown on Xvfb $DISPLAY under
  xcb, with its defaults (COM 1 at 115200 baud, mode 2, MYFILE.ROM), its
  "Reprogram Modem Now" pressed once; its session runs the whole sequence.
- minimal: bench/minimal-client.cpp, raw termios: wakes and logs on, then
  writes a record, polls for the reply's line end, and so on.
- Per-record tool time: from the write of a "\$BOK" reply's last byte to the
  read of the next record's first, over 10,000 records; the median of each
  load, then the median over the $rounds rounds. It takes in both hops of the
  pseudo-terminal and the simulator's own waking, the same for every program.
  Records/s: records over the time from the first record to "\$BEND".
- Line use: --pace keeps both directions to 115200 baud (ten bits a
  character); the characters of the download both ways x 10 / 115200, over the
  time from the first record's arrival to the last character of "\$BEND"
  (2,000 records; median over the rounds).
- Waiting: the loader lets record 3 go unanswered once, and the tool waits
  10 s before it sends it again. For the window, getrusage (all its threads)
  over the longest stretch between two pieces of news from its session; for
  velloran-cli, the whole process's CPU less that of the same load without the
  silence.
- Memory: ru_maxrss of the process that ran the load (the window's: the
  driver, the simulator being another process), each size in a fresh process.
EOF
