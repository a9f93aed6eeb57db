#!/usr/bin/env bash
# Builds the tool in Release and prints its figures against the simulated boot
# loader (velloran-sim) on pseudo-terminals, with a target and a verdict for
# each. Takes about a minute; nothing here is part of the tests.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$repo/build-bench}
bash "$repo/scripts/deps.sh"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target velloran-bench velloran-sim >/dev/null
bench="$build/bench/velloran-bench"
export QT_QPA_PLATFORM=offscreen

# One run of the driver; its "key=value" lines land in r[<name>.<key>].
declare -A r
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
measure() {
    local name=$1 out key value
    shift
    if ! out=$("$bench" "$@" 2>"$errors"); then
        # Again, with the simulator telling what it did (kept in the driver's
        # memory, so never while measuring).
        echo "velloran-bench $* failed:" >&2
        "$bench" "$@" --verbose-sim >&2 || true
        exit 1
    fi
    while IFS='=' read -r key value; do
        r[$name.$key]=$value
    done <<<"$out"
}

# calc EXPRESSION: awk arithmetic, printed with the format given as $2.
calc() { awk "BEGIN { printf \"${2:-%.6g}\", $1 }"; }
holds() { awk "BEGIN { exit !($1) }"; }
verdict() { if holds "$1"; then echo PASS; else echo FAIL; fi; }

echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
    "Linux $(uname -r), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Measuring (about a minute)..."
started_load=$(cut -d' ' -f1 /proc/loadavg)

measure fast download --records 10000
measure turn download --records 10000 --timing --tool-side
measure idle idle --seconds 10 --busy-seconds 2
measure paced download --records 1000 --pace --tool-side
measure big download --records 100000

rate=${r[fast.records_per_second]}
turn=${r[turn.line_turn_median_ms]}
wait_cpu=${r[idle.wait_cpu_seconds]}
busy_cpu=${r[idle.busy_cpu_scaled_seconds]}
chars=$((${r[paced.chars_sent]%.*} + ${r[paced.chars_received]%.*}))
limit=$(calc "$chars * 10 / 115200")
actual=${r[paced.seconds]}
ratio=$(calc "$limit / $actual" "%.3f")
wire_per_record=$(calc "$limit * 1000 / (${r[paced.records]%.*} + 1)")
period=${r[paced.record_period_median_ms]}
rss10=$(calc "${r[fast.max_rss_kb]} / 1024" "%.1f")
rss100=$(calc "${r[big.max_rss_kb]} / 1024" "%.1f")

echo "Load average (1 min) before and after measuring: $started_load, $(cut -d' ' -f1 /proc/loadavg)"
echo
printf '%-52s %-14s %-18s %s\n' "figure" "measured" "target" "verdict"
printf '%-52s %-14s %-18s %s\n' "download, 10,000 records, simulator answers at once" \
    "$(calc "$rate" "%.0f") rec/s" "(figure only)" "-"
printf '%-52s %-14s %-18s %s\n' "reply's last byte to next record's first, median" \
    "$(calc "$turn" "%.3f") ms" "< 0.2 ms" "$(verdict "$turn < 0.2")"
printf '%-52s %-14s %-18s %s\n' "CPU while waiting 10 s for a silent boot loader" \
    "$(calc "$wait_cpu" "%.4f") s" "< 0.05 s" "$(verdict "$wait_cpu < 0.05")"
printf '%-52s %-14s %-18s %s\n' "  the same 10 s as a busy processEvents() loop" \
    "$(calc "$busy_cpu" "%.2f") s" "(comparison)" "-"
printf '%-52s %-14s %-18s %s\n' "download at 115200 paced: wire-time limit / actual" \
    "$ratio" ">= 0.95" "$(verdict "$ratio >= 0.95")"
printf '%-52s %-14s %-18s %s\n' "  the same, one record's wire time / median period" \
    "$(calc "$wire_per_record / $period" "%.3f")" "(steady state)" "-"
printf '%-52s %-14s %-18s %s\n' "peak memory, 10,000-record download" \
    "$rss10 MB" "< 100 MB" "$(verdict "$rss10 < 100")"
printf '%-52s %-14s %-18s %s\n' "peak memory, 100,000-record download" \
    "$rss100 MB" "< 100 MB, flat" "$(verdict "$rss100 < 100 && $rss100 <= $rss10 * 1.1")"

cat <<EOF

How each figure was taken (the tool's stages run headless in velloran-bench,
with the real serial port (QtSerialComm) and clock (SteadyClock), against
velloran-sim on a pseudo-terminal; boxes are answered Cancel/OK):
- Download rate: DownloadFile alone, from its call to its return, over
  ${r[fast.records]%.*} data records and the end record; the simulator answers at once
  (--delay 0) and does not pace the line.
- Turnaround: measured in the simulator (--timing): from just before its
  write() of "\$BOK\\r\\n" to the return of the read() that brought the next
  record, over ${r[turn.line_turns]%.*} records; 99th percentile $(calc "${r[turn.line_turn_p99_ms]}" "%.3f") ms. This takes in both
  pseudo-terminal hops, the tool waking up and its work, and the simulator's
  own wake-up. The tool's own share, timed in the driver by a recording MSComm
  from the Input() that took in the reply to the next record's setOutput(),
  has a median of $(calc "${r[turn.tool_turn_median_ms]}" "%.4f") ms.
- Waiting: getrusage (user + system) around WaitForReply(10 s, 5) on an open
  port whose boot loader never answers; it took $(calc "${r[idle.wait_seconds]}" "%.3f") s. The comparison
  is a loop that calls processEvents() without waiting, run for
  ${r[idle.busy_seconds]} s and scaled to 10 s ($(calc "${r[idle.busy_cpu_seconds]}" "%.2f") s measured).
- Line rate: the simulator keeps both directions to 115200 baud (--pace: ten
  bits a character, what the tool sends is heard once its last character would
  have arrived, an answer leaves a character at a time). The protocol is
  stop-and-wait: a record goes out only after the whole reply to the one
  before has come, so the two directions never overlap and the limit counts
  every character both ways: ${r[paced.chars_sent]%.*} sent (records and their CR) +
  ${r[paced.chars_received]%.*} received (replies with CR LF) = $chars characters x 10 / 115200 = $(calc "$limit" "%.3f") s,
  against $(calc "$actual" "%.3f") s for ${r[paced.records]%.*} data records and the end record.
  Its second line sets one record's share of the limit ($(calc "$wire_per_record" "%.3f") ms) against the
  median time from one record to the next ($(calc "$period" "%.3f") ms), which leaves out the
  records held up when the machine's other work took the CPU.
- Memory: ru_maxrss of the driver process (the tool's stages; the simulator,
  which also wrote the load file, is another process), each size in a fresh
  process.
EOF
