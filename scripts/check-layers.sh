#!/usr/bin/env bash
# Every folder includes only from below itself: the order runs from core up
# to the windows and the command line, and folders of one rank stay out of
# each other. The simulator and the benchmarks stand beside the order: they
# may use what it holds, nothing in it uses them. The engine (core to
# station) includes no window header nor Qt Gui or Widgets, and its library
# is not built against them. Nor do files include each other round in a
# circle, within a folder or across: a source file and its header count as
# one. Prints each include that runs back up, and each circle, and fails.
# Usage: scripts/check-layers.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=${1:?usage: $0 SOURCE_DIR BUILD_DIR}
build=${2:?usage: $0 SOURCE_DIR BUILD_DIR}

# Lowest first; the folders of one line share a rank.
order=(
    "core"
    "port loadfile"
    "protocol history"
    "session"
    "station"
    "look"
    "dialogs"
    "ui cli"
)
beside=(sim bench)
engine=(core port loadfile protocol history session station)

# "core < port, loadfile < protocol, history < ..."
described=$(for r in "${order[@]}"; do echo "${r// /, }"; done | sed ':a;N;s/\n/ < /;ba')

declare -A rank
for r in "${!order[@]}"; do
    for folder in ${order[r]}; do
        rank[$folder]=$r
    done
done
for folder in "${beside[@]}"; do
    rank[$folder]=beside
done

build=$(cd "$build" 2>/dev/null && pwd || echo "$build") # before leaving for $src
cd "$src"
present() { for f in "$@"; do [ -d "$f" ] && echo "$f"; done; return 0; }

failed=0
# file:line:#include "folder/..."
while IFS= read -r hit; do
    file=${hit%%:*}
    from=${file%%/*}
    to=$(sed -E 's/.*#include *"([^/"]+)\/.*/\1/' <<<"$hit")
    [ -n "${rank[$to]:-}" ] || continue # tests/, Qt's, anything outside the order
    [ "$from" = "$to" ] && continue
    [ "${rank[$from]}" = beside ] && continue
    if [ "${rank[$to]}" = beside ] || [ "${rank[$to]}" -ge "${rank[$from]}" ]; then
        [ $failed = 1 ] || echo "Includes that run back up the order ($described):"
        failed=1
        echo "  $hit"
    fi
done < <(grep -rnE '#include *"[a-z_]+/' $(present "${!rank[@]}") || true)

# The includes between files as "from to", a file named without its
# extension so that a source file and its header are one; then each circle
# a walk along them finds, as "a -> b -> a".
circles=$(
    grep -roE '#include *"[^"]+"' --include='*.cpp' --include='*.h' \
        $(present "${!rank[@]}" tests) |
        while IFS= read -r hit; do
            file=${hit%%:*}
            to=${hit#*\"}
            to=${to%\"}
            [ -f "$to" ] || continue
            echo "${file%.*} ${to%.*}"
        done | sort -u |
        awk '$1 != $2 { if (!($1 in out)) order[++n] = $1; out[$1] = out[$1] " " $2 }
            function walk(u,    i, k, next_, j, line) {
                state[u] = 1; path[++depth] = u
                k = split(out[u], next_, " ")
                for (i = 1; i <= k; i++) {
                    if (state[next_[i]] == 1) {
                        for (j = depth; path[j] != next_[i]; j--) {}
                        for (line = ""; j <= depth; j++) line = line path[j] " -> "
                        print line next_[i]
                    } else if (!state[next_[i]]) {
                        walk(next_[i])
                    }
                }
                depth--; state[u] = 2
            }
            END { for (i = 1; i <= n; i++) if (!state[order[i]]) walk(order[i]) }'
)
if [ -n "$circles" ]; then
    echo "Files that include each other in a circle (a file and its header as one):"
    sed 's/^/  /' <<<"$circles"
    failed=1
fi

bad=$(grep -nE '#include *["<](QtGui|QtWidgets|Q(Widget|Label|Application|GuiApplication|Color|Font|Palette|Pixmap|Painter)\b)' \
    -r $(present "${engine[@]}") || true)
if [ -n "$bad" ]; then
    echo "Engine sources include Qt Gui or Widgets headers:"
    echo "$bad"
    failed=1
fi

# The headers the engine is compiled against, as the build recorded them:
# a Qt Gui or Widgets folder there means it links them.
flags="$build/CMakeFiles/velloran_engine.dir/flags.make"
if [ ! -f "$flags" ]; then
    echo "no $flags: build first"
    failed=1
elif links=$(grep -oE 'Qt(Gui|Widgets)' "$flags"); then
    echo "The engine library is built against: $(echo "$links" | sort -u | tr '\n' ' ')"
    failed=1
fi

[ $failed = 0 ] || exit 1
asides="${beside[*]}"
echo "layers: $described, with ${asides// / and } beside: no include runs back up, none runs in a circle"
