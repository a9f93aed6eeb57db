#!/usr/bin/env bash
# What keeping the records costs a rack: sixteen paced simulated boards
# (scripts/rack.sh, 115200 baud, a character at a time), reprogrammed at once
# by velloran-cli with the same load file, so that they end within moments of
# each other and their records are finished together. Prints each board's
# line use with the history on SQLite and on a PostgreSQL server of its own
# (a cluster made with initdb, on a loopback port), and without records when
# HISTORYBENCH_BASELINE names a velloran-cli built before runs were recorded.
# Nothing here is part of the tests.
#
#   bench/history-rack.sh
#   HISTORYBENCH_BASELINE=/tmp/old/velloran-cli HISTORYBENCH_RECORDS=500 bench/history-rack.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$repo/build-bench}
records=${HISTORYBENCH_RECORDS:-2000}
# Each kind run this many times, in turn, so that the machine's other work
# falls on all of them alike.
rounds=${HISTORYBENCH_ROUNDS:-2}
boards=16
baud=115200

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=${BENCH_BUILD_TYPE:-Release} >/dev/null
cmake --build "$build" -j"$(nproc)" --target velloran-rackbench velloran-sim velloran-cli >/dev/null
driver=$build/bench/velloran-rackbench
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)

work=$(mktemp -d)
chmod 755 "$work" # the server's user reaches its cluster below
export VELLORAN_RACK=$work/rack VELLORAN_SIM=$build/sim/velloran-sim
# The spools (and a default history) in a folder of the run's own.
export XDG_DATA_HOME=$work/data
# The server refuses root: as root it runs as the user the package makes.
as_server() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
cleanup() {
    bash "$repo/scripts/rack.sh" stop || true
    [ ! -d "$work/pg" ] || as_server "$pgbin/pg_ctl" -D "$work/pg" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/cwd" "$work/pg" "$work/sock"
[ "$(id -u)" != 0 ] || chown postgres "$work/pg" "$work/sock"
"$VELLORAN_SIM" --make-rom "$work/BENCH.ROM" --records "$records"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
as_server "$pgbin/initdb" -D "$work/pg" -U velloran --auth=trust >/dev/null
as_server "$pgbin/pg_ctl" -D "$work/pg" -l "$work/sock/log" -w \
    -o "-p $port -k $work/sock -c listen_addresses=127.0.0.1 -c fsync=on" start >/dev/null
"$pgbin/createdb" -h 127.0.0.1 -p "$port" -U velloran history

# One run of the rack by $2 keeping its records at $3; line_use per board and
# the spread of the boards' endings in $work/$1.out.
run() {
    local name=$1 cli=$2 k logs=() timing=() exports
    for k in $(seq "$boards"); do
        logs+=("$work/$name-com$k.timing")
        timing+=("COM$k:--timing=${logs[-1]}")
    done
    exports=$(bash "$repo/scripts/rack.sh" start "$boards" --pace --delay=0 "${timing[@]}")
    eval "$exports"
    (cd "$work/cwd" && VELLORAN_HISTORY=$3 "$cli" flash --ports "1-$boards" --quiet --json \
        "$work/BENCH.ROM") >"$work/$name.json"
    bash "$repo/scripts/rack.sh" stop # the timing logs are whole once the boards have ended
    "$driver" lines --baud "$baud" "${logs[@]}" >"$work/$name.out"
    # The records' endings, where the command line tells them.
    sed -n 's/.*"ended":"[^"]*T\([0-9:.]*\)Z".*/\1/p' "$work/$name.json" |
        awk -F: '{ t = $2 * 60 + $3; if (NR == 1 || t < lo) lo = t; if (t > hi) hi = t }
                 END { if (NR) printf "endings_ms=%.0f\n", (hi - lo) * 1000 }' >>"$work/$name.out"
}

sql=$work/history.sqlite
pg=postgresql://velloran@127.0.0.1:$port/history
for round in $(seq "$rounds"); do
    [ -z "${HISTORYBENCH_BASELINE:-}" ] || run "none-$round" "$HISTORYBENCH_BASELINE" "$sql-unused"
    run "sqlite-$round" "$build/cli/velloran-cli" "$sql"
    run "postgresql-$round" "$build/cli/velloran-cli" "$pg"
done

calc() { awk "BEGIN { printf \"${2:-%.6g}\", $1 }"; }
echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
    "Linux $(uname -r), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$boards paced boards, $records records each, velloran-cli flash --ports 1-$boards," \
    "$rounds rounds (the figures are over every board of every round; endings: the widest)"
printf '%-11s %8s %8s %8s %10s %12s\n' history "min use" median "max use" "vs none" "endings ms"
# uses NAME: every line use of that kind's rounds, smallest first.
uses() { cat "$work/$1"-*.out 2>/dev/null | sed -n 's/^line_use=\([^ ]*\).*/\1/p' | sort -g; }
middle() { awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
base=$(uses none | middle)
for name in none sqlite postgresql; do
    uses=$(uses "$name")
    [ -n "$uses" ] || continue
    median=$(middle <<<"$uses")
    versus=-
    [ -z "$base" ] || versus=$(calc "($median / $base - 1) * 100" "%+.2f %%")
    endings=$(cat "$work/$name"-*.out | sed -n 's/^endings_ms=//p' | sort -g | tail -n1)
    printf '%-11s %8.4f %8.4f %8.4f %10s %12s\n' "$name" "$(head -n1 <<<"$uses")" "$median" \
        "$(tail -n1 <<<"$uses")" "$versus" "${endings:--}"
done
echo "Line use: a board's characters both ways x 10 / $baud over the time from its first"
echo "data record to its \$BEND (velloran-rackbench lines). Endings: the spread of the"
echo "records' end times, as each board's record gives it."
