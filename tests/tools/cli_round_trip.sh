#!/bin/sh
# Command-line round trip: random BGRA pictures through layerdeck-mbcenc (lossless RGB
# with alpha) and back out of layerdeck-dump must be byte-identical, by the MBC reader and
# through the player's graph alike; frame ranges pick pictures by number; --help works and
# bad arguments and unreadable files fail with one line on stderr.
set -e
enc="$1"
dump="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$enc" --help | grep -q "usage: layerdeck-mbcenc"
"$dump" --help | grep -q "usage: layerdeck-dump"
head -c $((24 * 16 * 4 * 7)) /dev/urandom > in.bgra
"$enc" --raw 24x16 --layout 16 --alpha --transform 1 --gop IBBP --chunk 3 --rate 25 -o m.mbc in.bgra
"$dump" frames m.mbc out --raw
cat out/*.bgra | cmp - in.bgra
"$dump" frames m.mbc graph --raw --graph
cat graph/*.bgra | cmp - in.bgra
"$dump" frames m.mbc some --raw --first 1 --every 2 --count 2
test "$(ls some)" = "$(printf '00001.bgra\n00003.bgra')"
cmp some/00003.bgra out/00003.bgra
"$dump" info m.mbc | grep -q '"frameCount":7,"durationHundredNs":2800000'
"$dump" info m.mbc --graph | grep -q '"container":"MBC Media Splitter","width":24,"height":16,"frameCount":7,'
"$dump" info m.mbc --graph --decode | grep -q '"frameCount":7,"frameCountExact":true'
one_line_failure() {
    if "$@" > /dev/null 2> err.txt; then exit 1; fi
    test "$(wc -l < err.txt)" -eq 1
}
one_line_failure "$dump" info in.bgra
one_line_failure "$dump" info missing.mp4
one_line_failure "$dump" info "$(printf 'two\nlines.mp4')"
one_line_failure "$dump" frames m.mbc x --count 0
one_line_failure "$dump" frames m.mbc x --first 7
one_line_failure "$dump" audio in.bgra x.wav
one_line_failure "$enc" --layout 5 -o x.mbc in.bgra
echo ok
