#!/usr/bin/env bash
# Starts the real program under an X server (Xvfb through xvfb-run when there is no
# display), waits for its window, checks the window's layout (a 640x480 video area between
# the menu bar and the 32-pixel control strip) and that a picture opened at start appears
# in the video area pixel for pixel. Screenshots stay in the work folder on failure.
# Usage: SmokeTest.sh <layerdeck program> <work folder>. Exit 77 = skipped.
set -u
program=$1
work=$2

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
for tool in xdotool import convert python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed"
    exit 77
  fi
done

rm -rf "$work"
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM

# 640x480: the top half red, the bottom half blue.
convert -size 640x240 xc:'#ff0000' -size 640x240 xc:'#0000ff' -append "PNG24:$work/picture.png"

LAYERDECK_OPEN_FILE="$work/picture.png" SDL_AUDIODRIVER=dummy "$program" >"$work/program.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null' EXIT

fail() {
  echo "FAILED: $*"
  [ -f "$work/shot.png" ] && echo "screenshot: $work/shot.png"
  echo "--- program output ---"
  cat "$work/program.log"
  exit 1
}

window=""
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || fail "the program ended early"
  window=$(xdotool search --onlyvisible --name '^Layerdeck$' 2>/dev/null | tail -1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window titled Layerdeck appeared"

# Polls screenshots until the picture shows (or gives up) and checks the layout.
for _ in $(seq 1 40); do
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root "$work/shot.png" 2>/dev/null && convert "$work/shot.png" "$work/shot.ppm" 2>/dev/null
  if python3 - "$work/shot.ppm" "$X" "$Y" "$WIDTH" "$HEIGHT" >"$work/check.txt" <<'EOF'
import sys

path, wx, wy, ww, wh = sys.argv[1], *map(int, sys.argv[2:6])
data = open(path, "rb").read()
# Binary PPM: magic, width, height, maximum, then RGB bytes.
fields, pos = [], 0
while len(fields) < 4:
    while data[pos : pos + 1].isspace():
        pos += 1
    start = pos
    while not data[pos : pos + 1].isspace():
        pos += 1
    fields.append(data[start:pos])
pos += 1
width, height = int(fields[1]), int(fields[2])

def pixel(x, y):
    i = pos + (y * width + x) * 3
    return data[i], data[i + 1], data[i + 2]

def near(p, q):
    return all(abs(a - b) <= 8 for a, b in zip(p, q))

def box(colour):
    xs, ys, count = [], [], 0
    for y in range(max(wy, 0), min(wy + wh, height)):
        for x in range(max(wx, 0), min(wx + ww, width)):
            if near(pixel(x, y), colour):
                xs.append(x)
                ys.append(y)
                count += 1
    if not count:
        return None
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1, count

red, blue = box((255, 0, 0)), box((0, 0, 255))
print("window", wx, wy, ww, wh, "red", red, "blue", blue)
if not red or not blue:
    sys.exit(2)
problems = []
if red[2] - red[0] != 640 or red[3] - red[1] != 240 or red[4] != 640 * 240:
    problems.append("the red half is not 640x240")
if blue[2] - blue[0] != 640 or blue[3] - blue[1] != 240 or blue[4] != 640 * 240:
    problems.append("the blue half is not 640x240")
if (blue[0], blue[1]) != (red[0], red[3]):
    problems.append("the halves are not stacked")
if ww != 640 or red[0] != wx:
    problems.append("the video area is not the window's full 640-pixel width")
menu_bar = red[1] - wy
strip = wy + wh - blue[3]
if menu_bar < 10:
    problems.append("no menu bar above the video area (%d px)" % menu_bar)
if strip != 32:
    problems.append("the control strip is %d px high, not 32" % strip)
else:
    band = [pixel(x, y) for y in range(blue[3], blue[3] + 32) for x in range(wx, wx + 640, 4)]
    if all(p == (0, 0, 0) for p in band) or len(set(band)) < 3:
        problems.append("the control strip shows nothing")
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("ok: video area 640x480, menu bar %d px, strip 32 px" % menu_bar)
EOF
  then
    cat "$work/check.txt"
    # Leaving through the menu asks first; Yes ends the program normally.
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --window "$window" alt+f
    sleep 0.5
    xdotool key x
    sleep 1
    xdotool key Return
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "the program did not end after the confirmed exit"
    wait "$pid"
    code=$?
    trap - EXIT
    [ "$code" = 0 ] || fail "the program ended with $code after the confirmed exit"
    echo "ok: confirmed exit ended the program with 0"
    exit 0
  fi
  sleep 0.5
done
cat "$work/check.txt"
fail "the opened picture did not appear in a 640x480 video area between menu bar and strip"
