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

stop
mkdir -p "$rack"
for k in $(seq "$count"); do
    options=()
    for o in "$@"; do
        if [[ $o =~ ^COM([0-9]+):(.+)$ ]]; then
            [ "${BASH_REMATCH[1]}" = "$k" ] && options+=("${BASH_REMATCH[2]}")
        else
            options+=("$o")
        fi
    done
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
done
echo "$count simulated boards on COM 1 to COM $count; stop them with: $0 stop" >&2
