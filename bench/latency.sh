#!/usr/bin/env bash
# What a USB adapter's latency timer costs a load, and what lowering it wins
# back: velloran-cli flash on one simulated board (scripts/rack.sh) paced at
# 115200 baud, each answer handed over whole (--burst), 2,000 records, (a)
# behind a 16 ms adapter the tool cannot tune, (b) behind one it tunes
# through VELLORAN_SYSFS, (c) with no adapter in the way; then a rack of 16
# boards on tuned adapters. Prints records per second and the mean record
# cycle of each, the ratios with their targets and verdicts, and what every
# adapter's timer reads once the tool has closed its port. A Release build;
# about two minutes; nothing here is part of the tests. Not pinned to CPUs,
# as bench/rack.sh, but ahead of other work where the user may.
#
#   bench/latency.sh
#   LATBENCH_RECORDS=500 LATBENCH_BOARDS=4 bench/latency.sh     # a quicker look
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
records=${LATBENCH_RECORDS:-2000}
boards=${LATBENCH_BOARDS:-16}
baud=115200
timer=16

unset VELLORAN_SYSFS # no sysfs stand-in but the one a run asks for
source "$repo/bench/rack-lib.sh"

# flash N [VARIABLE=VALUE...]: the load on COM 1..N with that environment,
# then what each board's latency file reads once the tool has let go of its
# port ("timer=-": no adapter).
flash() {
    local n=$1 k
    shift
    env "$@" "$cli" flash --ports "1-$n" --quiet "$work/BENCH.ROM" || return
    for k in $(seq "$n"); do
        echo "timer=$(cat "$VELLORAN_RACK/com$k.latency_timer" 2>/dev/null || echo -)"
    done
}

# rates NAME: every board's records per second, smallest first.
rates() {
    sed -n 's/^line_use=.* records=\([^ ]*\) seconds=\([^ ]*\).*/\1 \2/p' "$work/$1.out" |
        awk '{ printf "%.6g\n", $1 / $2 }' | sort -g
}
# timers NAME: what the boards' latency files read, each value once.
timers() { sed -n 's/^timer=//p' "$work/$1.out" | sort -u | paste -sd, -; }

# The figures turn on how soon the boards and the tool wake, which other
# work on a busy machine delays by milliseconds: where the user may, this
# and all it starts run before it (nice -10, as bench/run.sh).
priority="as started"
renice -n -10 -p $$ >/dev/null 2>&1 && priority="nice -10"

machine
echo "Priority: $priority; not pinned to CPUs"
echo "Measuring one board three ways, then $boards boards, $records records each..."
sysfs=VELLORAN_SYSFS=$VELLORAN_RACK/sys
rack_load untuned 1 --burst --delay=0 --latency-timer="$timer" -- flash 1
rack_load tuned 1 --burst --delay=0 --latency-timer="$timer" -- flash 1 "$sysfs"
rack_load bare 1 --burst --delay=0 -- flash 1
rack_load rack "$boards" --burst --delay=0 --latency-timer="$timer" -- flash "$boards" "$sysfs"
echo "Load average (1 min) after measuring: $(cut -d' ' -f1 /proc/loadavg)"
echo
a=$(rates untuned) b=$(rates tuned) c=$(rates bare)
row() { printf '%-50s %10s %9s %12s\n' "$@"; }
row "one board, $records records, $baud baud" records/s "cycle ms" "timer after"
row "(a) $timer ms adapter, not tuned (no VELLORAN_SYSFS)" "$(calc "$a" %.1f)" \
    "$(calc "1000 / $a" %.3f)" "$(timers untuned)"
row "(b) $timer ms adapter, tuned through VELLORAN_SYSFS" "$(calc "$b" %.1f)" \
    "$(calc "1000 / $b" %.3f)" "$(timers tuned)"
row "(c) no adapter model" "$(calc "$c" %.1f)" "$(calc "1000 / $c" %.3f)" "$(timers bare)"
echo
figure() { printf '%-50s %10s %9s  %s\n' "$@"; }
figure "figure" value target verdict
figure "(b) / (a), records/s" "$(calc "$b / $a" %.2f)" ">= 3" "$(verdict "$b / $a >= 3")"
figure "(b) / (c), records/s" "$(calc "$b / $c" %.3f)" ">= 0.85" \
    "$(verdict "$b / $c >= 0.85")"
# A 1 ms tick hands each answer over at a whole millisecond, so a tuned
# cycle is (c)'s rounded up to one: the ratio no tool could pass.
figure "  at most, (c)'s cycle over it rounded up to 1 ms" \
    "$(calc "1000 / $c / (int(1000 / $c) + (1000 / $c > int(1000 / $c)))" %.3f)" "" ""
figure "latency file after (b), ms" "$(timers tuned)" "$timer" \
    "$(verdict "\"$(timers tuned)\" == \"$timer\"")"
read -r worst <<<"$(rates rack)"
figure "$boards boards tuned: slowest board's records/s" "$(calc "$worst" %.1f)" "" ""
figure "  over (b)'s single board" "$(calc "$worst / $b" %.3f)" ">= 0.95" \
    "$(verdict "$worst / $b >= 0.95")"
figure "  latency files after, ms" "$(timers rack)" "$timer" \
    "$(verdict "\"$(timers rack)\" == \"$timer\"")"

cat <<EOF

How each figure was taken: scripts/rack.sh starts velloran-sim on a
pseudo-terminal per board, --burst --delay=0 (both directions kept to the line
speed, an answer handed over whole once its last character is out), and with
--latency-timer=$timer behind an adapter whose free-running $timer ms timer
holds each answer until it ticks; the timer's file is linked where sysfs would
show it under \$VELLORAN_RACK/sys. velloran-cli flash --ports 1-N --quiet runs
the load; in (b) and the rack VELLORAN_SYSFS points there, so the tool lowers
the timer to 1 ms while its port is open and puts it back at closing (the
"timer after" column: what each file reads once the tool has exited; "-": no
adapter). In (a) the tool finds no timer it may lower, as with an adapter
whose timer only root may change. Records/s and the mean cycle come from each
board's --timing log through velloran-rackbench lines: the records, the end
record included, over the time from the read that brought the first data
record to the write that finished "\$BEND". The lowered timer still ticks at
whole milliseconds and each record waits for its answer, so a tuned cycle is
(c)'s rounded up to a whole millisecond, or one more where the tool's turn
crosses a tick: "at most" is the (b)/(c) that the rounding alone leaves.
EOF
