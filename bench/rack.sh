#!/usr/bin/env bash
# Several boards at once: a rack of 1, 4, 8 and 16 simulated modems
# (scripts/rack.sh, each on a pseudo-terminal of its own, the line paced at
# 115200 baud), reprogrammed with 2,000 records each, first in the station
# window on an X server of its own, then by velloran-cli. Prints each board's
# line use, the tool's CPU and peak memory, the window's longest event-loop
# stall and the wall time, with a target and a verdict for each; once with
# answers handed over whole, once a character at a time. A Release build;
# about six minutes; nothing here is part of the tests.
#
#   bench/rack.sh
#   RACKBENCH_BOARDS="1 4" RACKBENCH_RECORDS=500 bench/rack.sh     # a quicker look
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
records=${RACKBENCH_RECORDS:-2000}
read -ra counts <<<"${RACKBENCH_BOARDS:-1 4 8 16}"
baud=115200

bash "$repo/scripts/deps.sh" xvfb xauth
source "$repo/bench/rack-lib.sh"

# An X server on the first free display from :160, as the window would have.
for d in $(seq 160 199); do
    [ -e "/tmp/.X$d-lock" ] && continue
    Xvfb ":$d" -screen 0 1600x1200x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do
        [ -S "/tmp/.X11-unix/X$d" ] && kill -0 "$xvfb" 2>/dev/null && break
        sleep 0.1
    done
    if [ -S "/tmp/.X11-unix/X$d" ] && kill -0 "$xvfb" 2>/dev/null; then
        export DISPLAY=":$d"
        break
    fi
    xvfb="" # another took it meanwhile
done
[ -n "$xvfb" ] || { echo "no X server came up" >&2; exit 1; }

# One run: a rack of $3 boards answering as $2 says, the client $1 on it.
# Leaves key=value lines (the driver's, then line_use per board) in
# $work/$1-$2-$3.out.
run() {
    local client=$1 answers=$2 n=$3 pacing=--pace
    [ "$answers" = whole ] && pacing=--burst
    if [ "$client" = window ]; then
        rack_load "$client-$answers-$n" "$n" "$pacing" --delay=0 -- \
            env QT_QPA_PLATFORM=xcb "$driver" window --boards "$n" "$work/BENCH.ROM"
    else
        rack_load "$client-$answers-$n" "$n" "$pacing" --delay=0 -- \
            "$driver" cli "$cli" flash --ports "1-$n" --quiet "$work/BENCH.ROM"
    fi
}

# value FILE KEY: the first KEY=... in FILE.
value() { sed -n "s/^$2=\([^ ]*\).*/\1/p" "$1" | head -n1; }
# line_uses FILE: every board's line use, smallest first.
line_uses() { sed -n 's/^line_use=\([^ ]*\).*/\1/p' "$1" | sort -g; }
# turns FILE: every board's median turn, smallest first.
turns() { sed -n 's/.* turn_ms=\([^ ]*\).*/\1/p' "$1" | sort -g; }
# middle: the median of the numbers on stdin, one a line, sorted.
middle() { awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
machine
echo "Measuring ${counts[*]} boards, $records records each, answers whole then" \
    "a character at a time, in the window then on the command line..."
for answers in whole chars; do
    for client in window cli; do
        for n in "${counts[@]}"; do
            run "$client" "$answers" "$n"
        done
    done
done
echo "Load average (1 min) after measuring: $(cut -d' ' -f1 /proc/loadavg)"
echo

row() { printf '%-7s %6s %6s %6s %6s %6s %6s %6s %6s %5s  %5s %5s %6s %6s  %s\n' "$@"; }
for answers in whole chars; do
if [ "$answers" = whole ]; then
    echo "Answers handed over whole once their last character is out (--burst):"
else
    echo
    echo "Answers a character at a time (--pace):"
fi
row "" "" line use "" turn tool peak stall wall sims X kernel others ""
row client boards min median ratio ms cores MB ms s cores cores cores cores verdicts
for client in window cli; do
    single=""
    for n in "${counts[@]}"; do
        out=$work/$client-$answers-$n.out
        uses=$(line_uses "$out")
        min=$(head -n1 <<<"$uses")
        median=$(middle <<<"$uses")
        turn=$(turns "$out" | middle)
        [ "$n" = 1 ] && single=$median
        ratio=-
        [ -n "$single" ] && ratio=$(calc "$min / $single" "%.3f")
        seconds=$(value "$out" seconds)
        share() { calc "$(value "$out" "$1") / $seconds" "%.2f"; }
        cores=$(calc "$(value "$out" cpu_seconds) / $seconds" "%.3f")
        mb=$(calc "$(value "$out" peak_kb) / 1024" "%.1f")
        stall=- display=-
        if [ "$client" = window ]; then
            stall=$(calc "$(value "$out" stall_ms)" "%.1f")
            display=$(share display_cpu_seconds)
        fi
        verdicts="CPU $(verdict "$cores < 0.5"), memory $(verdict "$mb < 150")"
        [ "$ratio" = - ] || verdicts="line $(verdict "$ratio >= 0.95"), $verdicts"
        [ "$stall" = - ] || verdicts="$verdicts, stall $(verdict "$stall <= 50")"
        row "$client" "$n" "$(calc "$min" "%.3f")" "$(calc "$median" "%.3f")" \
            "$ratio" "$(calc "$turn" "%.2f")" "$cores" "$mb" "$stall" "$(calc "$seconds" "%.1f")" \
            "$(share sims_cpu_seconds)" "$display" "$(share kernel_cpu_seconds)" \
            "$(share others_cpu_seconds)" "$verdicts"
    done
done
done

cat <<EOF

Targets: line-use ratio >= 0.95, tool CPU < 0.5 cores, peak memory < 150 MB,
longest event-loop stall <= 50 ms. How each figure was taken:
- The rack: scripts/rack.sh starts one velloran-sim per board, each on a
  pseudo-terminal of its own (COM k leads to board k), with --delay=0 (an
  answer is due once the record has arrived: the line alone sets the pace)
  and both directions kept to the line speed, ten bits a character. Each
  board logs its line (--timing). The two tables differ only in how an
  answer reaches the tool: whole once its last character is out (--burst),
  as a USB adapter hands over what it received, or a character at a time
  (--pace), as a UART without a FIFO would. Either way the answer is
  complete at the same moment; a character at a time, each simulator wakes
  for every character of an answer rather than once, and the rack's
  wake-ups share the machine's CPUs with the tool (the "sims" column).
- Line use: per board, from its log, the characters on the line both ways
  x 10 / $baud against the time from the read that brought the first data
  record to the write that finished "\$BEND" (the protocol waits for each
  reply, so the two directions add up). "ratio": the smallest board's use
  over the single board's in the same client's 1-board run, answered alike. "turn": from
  the simulator's write of a reply's last character to its read of the next
  record (both hops of the pseudo-terminal, the tool's wake-up and its work;
  the line's own time is not in it), the median board's median.
- Tool cores: user + system seconds of the tool's process over the run,
  divided by the run's wall time. Peak MB: the process's resident high-water
  mark (VmHWM; for the command line its ru_maxrss, the same mark).
- The rest of the machine over the same time, from each process's own
  figures: the rack's simulators, the X server (window only), the kernel's
  threads (a pseudo-terminal hands each write over to one of them, so they
  grow with the rack) and every other program ("others": work the machine
  did for someone else; a figure well above 0 means the run was slowed by it).
- The window: velloran-rackbench is the tool's main window and its station
  (Advanced > Station...) with COM 1 to COM n added and every row in sight,
  on Xvfb ($DISPLAY, QT_QPA_PLATFORM=xcb). "Start All" starts the run; it
  ends when the station says every board has ended ("wall"). "stall": the
  longest gap between calls of a 5 ms precise timer on the window's thread
  over the run (5 ms: an event loop that never stalled).
- The command line: velloran-cli flash --ports 1-n --quiet, from its start to
  its exit with status 0 ("wall" includes its start).
EOF
