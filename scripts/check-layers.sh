#!/usr/bin/env bash
# The engine may not reach up to the windows: no engine source includes a
# window header, a Qt Gui or Widgets header, and the engine library's link
# interface names neither. Usage: scripts/check-layers.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=${1:?usage: $0 SOURCE_DIR BUILD_DIR}
build=${2:?usage: $0 SOURCE_DIR BUILD_DIR}
engine=(core link download bootcheck history session)
bad=$(cd "$src" && grep -nE '#include *["<](ui/|dialogs/|QtGui|QtWidgets|Q(Widget|Label|Application|GuiApplication|Color|Font|Palette|Pixmap|Painter)\b)' \
    -r "${engine[@]}" || true)
if [ -n "$bad" ]; then
    echo "Engine sources include window headers:"
    echo "$bad"
    exit 1
fi
# The history sits beside the download and the boot check: it may use what
# lies below them, and the sessions call it, never the other way round.
bad=$(cd "$src" && grep -nE '#include *"(download|bootcheck|session|cli|sim)/' -r history || true)
if [ -n "$bad" ]; then
    echo "The history includes what lies beside or above it:"
    echo "$bad"
    exit 1
fi
# The headers the engine is compiled against, as the build recorded them:
# a Qt Gui or Widgets folder there means it links them.
flags="$build/CMakeFiles/velloran_engine.dir/flags.make"
[ -f "$flags" ] || { echo "no $flags: build first"; exit 1; }
links=$(grep -oE 'Qt(Gui|Widgets)' "$flags" || true)
if [ -n "$links" ]; then
    echo "The engine library is built against: $(echo "$links" | sort -u | tr '\n' ' ')"
    exit 1
fi
echo "engine layer: ${engine[*]} include and link no window code"
