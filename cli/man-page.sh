#!/bin/sh
# Writes the man page of velloran-cli, in roff, from what its --help prints:
#   sh cli/man-page.sh build/cli/velloran-cli > velloran-cli.1
# The help's layout carries the structure: the "Usage:" block is the
# synopsis, the paragraph after it the description, an unindented line
# ending in ":" after a blank line a section, "  TERM  text" an entry whose
# text goes on in lines indented further, any other unindented line text.
set -eu
program=${1:?usage: $0 VELLORAN_CLI}
version=$("$program" --version)
"$program" --help | awk -v version="$version" '
function roff(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (substr(s, 1, 1) == "." || substr(s, 1, 1) == "\047")
        s = "\\&" s
    return s
}
BEGIN {
    print ".TH VELLORAN-CLI 1 \"\" \"" version "\" \"User Commands\""
    print ".SH NAME"
    print "velloran-cli \\- reprogram the flash of modem boards through their serial boot loader"
    print ".SH SYNOPSIS"
    print ".nf"
    part = "synopsis"
}
part == "synopsis" {
    if ($0 == "") {
        print ".fi"
        print ".SH DESCRIPTION"
        part = "text"
        next
    }
    sub(/^Usage: /, "")
    sub(/^ +/, "")
    print roff($0)
    next
}
/^$/ { blank = 1; next }
/^[^ ].*:$/ && blank {
    print ".SH " toupper(substr($0, 1, length($0) - 1))
    blank = 0
    part = "text"
    next
}
/^  [^ ]/ {
    line = substr($0, 3)
    gap = index(line, "  ")
    term = gap ? substr(line, 1, gap - 1) : line
    text = gap ? substr(line, gap) : ""
    sub(/^ +/, "", text)
    print ".TP"
    print "\\fB" roff(term) "\\fR"
    if (text != "")
        print roff(text)
    blank = 0
    part = "entry"
    next
}
{
    text = $0
    if (text !~ /^ / && (blank || part == "entry")) {
        print ".PP"
        part = "text"
    }
    sub(/^ +/, "", text)
    print roff(text)
    blank = 0
}
'
