#!/usr/bin/env bash
# Installs what is missing, builds, and opens the tool. With no port given
# (VELLORAN_COM1 unset) COM 1 is our simulated modem with a sample load file.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bash "$repo/scripts/deps.sh" fonts-liberation2
build="$repo/build-run"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target velloran velloran-sim

# The tool keeps VELLORAN.CFG and looks for MYFILE.ROM in its start-up folder.
work=${VELLORAN_WORKDIR:-$repo/run}
mkdir -p "$work"
cd "$work"

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT

# A sample load file, for the simulated modem here or a rack of them.
[ -f MYFILE.ROM ] || "$build/sim/velloran-sim" --make-rom MYFILE.ROM --records 400
if [ -z "${VELLORAN_COM1:-}" ]; then
    link="$work/com1"
    "$build/sim/velloran-sim" --link "$link" "$@" &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    export VELLORAN_COM1="$link"
    echo "COM 1 is the simulated modem at $link (load file: $work/MYFILE.ROM)"
fi
"$build/velloran"
