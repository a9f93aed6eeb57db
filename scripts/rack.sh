#!/usr/bin/env bash
# A rack of simulated modems: copies of velloran-sim side by side, each on a
# pseudo-terminal of its own, each its own board with its own faults.
#
#   eval "$(scripts/rack.sh start 4 --pace COM3:--fault=4=BDLE*all)"
#   scripts/run.sh                 # Advanced > Station..., add COM 1 to COM 4
#   scripts/rack.sh stop
#
# Options after the count go to every board; COMk:OPTION goes to board k
# alone (give the value after "=": COM2:--board=q70). The output is the
# exports that make COM 1..N lead to the boards; the links, each board's log
# and the process ids are kept in $VELLORAN_RACK (default /tmp/velloran-rack).
# A rack still running there is stopped first.
#
# --latency-timer=MS (or COMk:--latency-timer=MS) puts a board behind a USB
# adapter with a latency timer of MS milliseconds, in a file of the board's
# own, $VELLORAN_RACK/comK.latency_timer. The files are also laid out as
# sysfs would show them, under $VELLORAN_RACK/sys: with VELLORAN_SYSFS set
# there, the tool may lower the timers as it would a real adapter's.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
rack=${VELLORAN_RACK:-/tmp/velloran-rack}
sim=${VELLORAN_SIM:-$repo/build-run/sim/velloran-sim}

usage() {
    echo "usage: $0 start N [SIM-OPTION | COMk:SIM-OPTION]...  (N from 1 to 16)" >&2
    echo "       $0 stop" >&2
    exit 2
}

# Ends the boards this script started (each removes its link), and no other
# process that has come to wear one of their numbers since.
stop() {
    [ -f "$rack/pids" ] || return 0
    local pid
    while read -r pid; do
        if grep -qs velloran-sim "/proc/$pid/cmdline"; then
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        fi
    done <"$rack/pids"
    rm -f "$rack/pids"
}

case "${1:-}" in
stop) stop; exit 0 ;;
start) shift ;;
*) usage ;;
esac
count=${1:-}
[[ $count =~ ^[0-9]+$ ]] && ((count >= 1 && count <= 16)) || usage
shift

if [ ! -x "$sim" ]; then
    bash "$repo/scripts/deps.sh" >&2
    cmake -S "$repo" -B "$repo/build-run" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$repo/build-run" -j"$(nproc)" --target velloran-sim >&2
fi

# Board k's options; a latency timer in milliseconds becomes its own file.
board_options() {
    local k=$1 o
    shift
    options=()
    for o in "$@"; do
        if [[ $o =~ ^COM([0-9]+):(.+)$ ]]; then
            [ "${BASH_REMATCH[1]}" = "$k" ] || continue
            o=${BASH_REMATCH[2]}
        fi
        if [[ $o =~ ^--latency-timer=([0-9]+)$ ]]; then
            echo "${BASH_REMATCH[1]}" >"$rack/com$k.latency_timer"
            o=--latency-timer=$rack/com$k.latency_timer
        fi
        options+=("$o")
    done
}

stop
rm -rf "$rack/sys" "$rack"/com*.latency_timer
mkdir -p "$rack"
for k in $(seq "$count"); do
    board_options "$k" "$@"
    # A session of its own: a Ctrl-C in the shell that started the rack
    # does not reach the boards.
    setsid "$sim" --link "$rack/com$k" "${options[@]}" >"$rack/com$k.log" 2>&1 </dev/null &
    echo $! >>"$rack/pids"
done

for k in $(seq "$count"); do
    for _ in $(seq 50); do [ -e "$rack/com$k" ] && break; sleep 0.1; done
    if [ ! -e "$rack/com$k" ]; then
        echo "board $k did not come up:" >&2
        tail -n 5 "$rack/com$k.log" >&2
        stop
        exit 1
    fi
done
for k in $(seq "$count"); do
    echo "export VELLORAN_COM$k=$rack/com$k"
    # Where sysfs would have the adapter's timer: the device's path after /dev/.
    if [ -f "$rack/com$k.latency_timer" ]; then
        device=$(readlink -f "$rack/com$k")
        mkdir -p "$rack/sys/class/tty/${device#/dev/}/device"
        ln -sf "$rack/com$k.latency_timer" "$rack/sys/class/tty/${device#/dev/}/device/latency_timer"
    fi
done
if [ -d "$rack/sys" ]; then
    echo "latency timers: VELLORAN_SYSFS=$rack/sys lets the tool lower them" >&2
fi
echo "$count simulated boards on COM 1 to COM $count; stop them with: $0 stop" >&2
