#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what it would put on
# a machine: the programs, the man page, the desktop entry, the icon, the
# example udev rule and the copyright in their places (the rule not active),
# the libraries it declares, and programs that still run once packed.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

passed=0
failed=0
check() { # check WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what"
    fi
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    echo "0 passed, 1 failed"
    exit 1
fi
debs=("$out"/*.deb)
deb=${debs[0]}
echo "built $(basename "$deb")"

contents=$(dpkg -c "$deb")
has() { # has MODE PATH: the package holds PATH, with a mode that starts so
    grep -Eq "^$1.* \./$2\$" <<<"$contents"
}
check "the tool in usr/bin" has '-rwxr-xr-x' usr/bin/velloran
check "the simulator in usr/bin" has '-rwxr-xr-x' usr/bin/velloran-sim
check "the command line in usr/bin" has '-rwxr-xr-x' usr/bin/velloran-cli
check "its man page" has '-rw-r--r--' usr/share/man/man1/velloran-cli.1.gz
check "the desktop entry" has '-rw-r--r--' usr/share/applications/velloran.desktop
check "the icon" has '-rw-r--r--' usr/share/icons/hicolor/scalable/apps/velloran.svg
check "the example udev rule" has '-rw-r--r--' usr/share/doc/velloran/examples/60-velloran.rules
check "the copyright" has '-rw-r--r--' usr/share/doc/velloran/copyright
check "no udev rule activated" test -z "$(grep 'udev/rules\.d' <<<"$contents" || true)"
check "nothing outside usr" test -z "$(awk '{print $6}' <<<"$contents" | grep -Ev '^\./(usr(/.*)?)?$')"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6sql6 \
    libqt6sql6-sqlite libqt6keychain1; do
    check "depends on $lib (Depends: $depends)" grep -Eq "(^|, )$lib( |,|\$)" <<<"$depends"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
check "recommends libqt6sql6-psql (Recommends: $recommends)" grep -Eq "(^|, )libqt6sql6-psql( |,|\$)" <<<"$recommends"
check "package name" test "$(dpkg-deb -f "$deb" Package)" = velloran

dpkg-deb -x "$deb" "$out/root"
entry="$out/root/usr/share/applications/velloran.desktop"
check "entry name" grep -qx 'Name=Quorvel Velloran' "$entry"
check "entry runs the tool" grep -qx 'Exec=velloran' "$entry"
check "entry names the icon" grep -qx 'Icon=velloran' "$entry"
if command -v desktop-file-validate >/dev/null; then
    check "entry is valid" desktop-file-validate "$entry"
fi
# Debian's machine-readable form: its Format line first, every file covered.
copyright="$out/root/usr/share/doc/velloran/copyright"
check "copyright is machine-readable" grep -q '^Format: .*/copyright-format/1\.0/$' \
    <(head -n 1 "$copyright")
check "copyright covers every file" grep -qx 'Files: \*' "$copyright"
check "icon is SVG" grep -q '<svg' "$out/root/usr/share/icons/hicolor/scalable/apps/velloran.svg"

# The packed simulator works on its own: it writes a sample load file.
check "packed simulator runs" "$out/root/usr/bin/velloran-sim" --make-rom "$out/sample.rom" --records 3
check "sample load file starts with %" test "$(head -c 1 "$out/sample.rom" 2>/dev/null)" = "%"

# The packed command line runs, and its man page reads as a man page.
check "packed command line runs" "$out/root/usr/bin/velloran-cli" --version
check "man page has its sections" test "$(zcat "$out/root/usr/share/man/man1/velloran-cli.1.gz" |
    grep -c -e '^\.SH SYNOPSIS' -e '^\.SH EXIT STATUS')" = 2

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
