#!/usr/bin/env bash
# Starts the real program under an X server with three files dropped at start: an .mbc
# made by the project's encoder (160x120, top layer), an .mp4 made by ffmpeg (320x240)
# and a one-colour .png (480x360, bottom layer). Turns loop on and starts playing through
# the menu keys, then checks in screenshots that all three layers show in their places
# and that both movie places change over time. The last screenshot stays in the work
# folder and its path is printed.
# Usage: ThreeLayerScreenshot.sh <layerdeck program> <layerdeck-mbcenc> <work folder>.
# Exit 77 = skipped.
set -u
program=$1
encoder=$2
work=$3

# A private X server where one can be had: screenshots of a shared display would catch
# other programs' windows (the test suite runs in parallel), and so would the window search.
if [ -z "${LAYERDECK_PRIVATE_DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  export LAYERDECK_PRIVATE_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "SKIPPED: no DISPLAY and no xvfb-run"
  exit 77
fi
for tool in xdotool import convert python3 ffmpeg; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed"
    exit 77
  fi
done

rm -rf "$work"
mkdir -p "$work/runtime" "$work/frames"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM

fail() {
  echo "FAILED: $*"
  [ -f "$work/shot.png" ] && echo "screenshot: $work/shot.png"
  if [ -f "$work/program.log" ]; then
    echo "--- program output ---"
    cat "$work/program.log"
  fi
  exit 1
}

# Four seconds of each movie, so that the checks rarely meet the loop's restart.
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=4 "$work/frames/%03d.png" || fail "ffmpeg made no pictures"
ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" -ac 2 -c:a pcm_s16le "$work/tone.wav" ||
  fail "ffmpeg made no tone"
"$encoder" --rate 25/1 --chunk 25 --wav "$work/tone.wav" -o "$work/top.mbc" "$work"/frames/*.png \
  >"$work/encoder.log" 2>&1 || { cat "$work/encoder.log"; fail "the encoder failed"; }
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=4 -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=4" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac "$work/middle.mp4" || fail "ffmpeg made no movie"
# Made in RGB, so that the colour is exact.
ff -f lavfi -i color=c=0x3050C0:s=480x360,format=rgb24 -frames:v 1 -pix_fmt rgb24 "$work/bottom.png" ||
  fail "ffmpeg made no picture"

# The checks: find the video area in the window by the picture's colour (its bounding box
# is the whole 480x360 area, since the bottom layer shows along the right and lower
# edges). Mode "layout": the bottom layer whole where it is uncovered, both movie places
# covered by something else. Mode "moved": besides, both movie places show pictures that
# differ from those of the earlier shot.
cat >"$work/check.py" <<'PYTHON'
import sys

mode, path = sys.argv[1], sys.argv[2]
earlier = sys.argv[3] if len(sys.argv) > 3 else None

def read(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos : pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    return data, pos + 1, int(fields[1]), int(fields[2])

data, base, width, height = read(path)
backdrop = bytes((0x30, 0x50, 0xC0))

def pixel(x, y, d=data, b=base, w=width):
    i = b + (y * w + x) * 3
    return d[i], d[i + 1], d[i + 2]

# The picture is drawn unscaled and opaque: its colour arrives exactly.
xs, ys = [], []
for y in range(height):
    row = data[base + y * width * 3 : base + (y + 1) * width * 3]
    first = last = None
    at = row.find(backdrop)
    while at >= 0:
        if at % 3 == 0:
            first = at // 3 if first is None else first
            last = at // 3
        at = row.find(backdrop, at + 1)
    if first is not None:
        xs += [first, last]
        ys.append(y)
if not xs:
    print("the picture's colour is nowhere in the window")
    sys.exit(2)
ox, oy = min(xs), min(ys)
size = (max(xs) + 1 - ox, max(ys) + 1 - oy)
print("video area at", ox, oy, "in the window; picture box", size)
problems = []
if size != (480, 360):
    problems.append("the bottom layer's box is %dx%d, not 480x360" % size)

def region(left, top, right, bottom, step=2, d=data, b=base, w=width):
    return [pixel(ox + x, oy + y, d, b, w) for y in range(top, bottom, step) for x in range(left, right, step)]

def near(p, q, slack):
    return all(abs(a - c) <= slack for a, c in zip(p, q))

uncovered = region(320, 0, 480, 360, 4) + region(0, 240, 320, 360, 4)
if not all(bytes(p) == backdrop for p in uncovered):
    problems.append("the bottom layer is not whole outside the movies")
top = region(0, 0, 160, 120)
middle = region(160, 0, 320, 240) + region(0, 120, 160, 240)
for name, pixels in (("top movie", top), ("middle movie", middle)):
    share = sum(near(p, backdrop, 24) for p in pixels) / len(pixels)
    if share > 0.2:
        problems.append("the %s place shows the bottom layer (%.0f%%)" % (name, share * 100))
    if mode == "moved" and len(set(pixels)) < 16:
        problems.append("the %s place is nearly flat: no picture" % name)
if mode == "moved" and earlier:
    old = read(earlier)
    if region(0, 0, 160, 120, 2, old[0], old[1], old[2]) == top:
        problems.append("the top movie did not change")
    if region(160, 0, 320, 240, 2, old[0], old[1], old[2]) + region(0, 120, 160, 240, 2, old[0], old[1], old[2]) == middle:
        problems.append("the middle movie did not change")
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("ok:", mode)
PYTHON

LAYERDECK_OPEN_FILES="$work/top.mbc;$work/middle.mp4;$work/bottom.png" SDL_AUDIODRIVER=dummy \
  "$program" >"$work/program.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null' EXIT

window=""
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || fail "the program ended early"
  window=$(xdotool search --onlyvisible --name '^Layerdeck$' 2>/dev/null | tail -1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window titled Layerdeck appeared"

geometry() { eval "$(xdotool getwindowgeometry --shell "$window")"; }
# shot <name>: a screenshot of the screen (PNG) and of the window alone (binary PPM).
shot() {
  import -window root "$work/$1.png" 2>/dev/null &&
    convert "$work/$1.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/$1.ppm" 2>/dev/null
}

# The three layers appear once the files are loaded.
laid_out=""
for _ in $(seq 1 60); do
  geometry
  if shot shot && python3 "$work/check.py" layout "$work/shot.ppm" >"$work/check.txt"; then
    laid_out=1
    break
  fi
  sleep 0.5
done
cat "$work/check.txt"
[ -n "$laid_out" ] || fail "the three layers did not show"

# Loop on, then play, through the menu keys.
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key --window "$window" alt+o
sleep 0.5
xdotool key l
sleep 0.5
xdotool key --window "$window" alt+o
sleep 0.5
xdotool key p
sleep 0.5
geometry
shot before || fail "no screenshot"

moved=""
for _ in $(seq 1 40); do
  sleep 0.25
  geometry
  if shot shot && python3 "$work/check.py" moved "$work/shot.ppm" "$work/before.ppm" >"$work/check.txt"; then
    moved=1
    break
  fi
done
cat "$work/check.txt"
[ -n "$moved" ] || fail "the movies did not play in their places"
echo "ok: three layers, both movies playing"

# A termination request ends the program while it plays (nothing may swallow SIGTERM).
kill -TERM "$pid"
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"
  fail "the program did not end on SIGTERM"
fi
trap - EXIT
echo "ok: SIGTERM ended the program"
echo "screenshot: $work/shot.png"
exit 0
