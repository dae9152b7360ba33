#!/bin/sh
# Command-line round trip: random BGRA pictures through layerdeck-mbcenc (lossless RGB
# with alpha) and back out of layerdeck-dump must be byte-identical; --help works and bad
# arguments fail with one line on stderr.
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
"$dump" info m.mbc | grep -q '"frameCount":7,"durationHundredNs":2800000'
if "$dump" info in.bgra 2> err.txt; then exit 1; fi
test "$(wc -l < err.txt)" -eq 1
if "$enc" --layout 5 -o x.mbc in.bgra 2> err.txt; then exit 1; fi
test "$(wc -l < err.txt)" -eq 1
echo ok
