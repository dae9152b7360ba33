#!/usr/bin/env bash
# Renders the demo composition without a screen: an MBC movie made by the project's
# encoder, an MP4 movie and a PNG picture made by ffmpeg, laid over each other with
# offsets, opacity and pan, written as PNG frames and a WAV of the mix.
# Usage: scripts/render-demo.sh [BUILD_DIR [OUT_DIR]]   (defaults: build-release, BUILD_DIR/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
out=${2:-$build/demo}
encoder=$build/tools/mbcenc/layerdeck-mbcenc
renderer=$build/tools/render/layerdeck-render
for tool in "$encoder" "$renderer"; do
  if [ ! -x "$tool" ]; then
    echo "render-demo: $tool is missing; build the tree first (scripts/build.sh $build Release)" >&2
    exit 1
  fi
done
if ! command -v ffmpeg >/dev/null 2>&1; then
  echo "render-demo: ffmpeg is needed to make the demo's MP4 and PNG (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

media=$out/media
rm -rf "$out"
mkdir -p "$media/frames"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

# The bottom layer: an MP4 with a 330 Hz tone, 4 s.
ff -f lavfi -i testsrc2=size=320x240:rate=30 -f lavfi -i sine=frequency=330:sample_rate=48000 \
   -t 4 -pix_fmt yuv420p -shortest "$media/clip.mp4"
# A picture on top: a Mandelbrot set.
ff -f lavfi -i mandelbrot=size=120x90 -frames:v 1 "$media/still.png"
# The MBC movie: 3 s of test pattern with a 660 Hz tone, through the project's encoder.
ff -f lavfi -i testsrc=size=160x112:rate=30 -t 3 "$media/frames/f%03d.png"
ff -f lavfi -i sine=frequency=660:sample_rate=48000 -t 3 -ac 2 -c:a pcm_s16le "$media/tone.wav"
"$encoder" -o "$media/movie.mbc" --wav "$media/tone.wav" "$media"/frames/f*.png
rm -rf "$media/frames"

cat >"$out/list.json" <<'LIST'
{
  "background": [0.05, 0.1, 0.2],
  "items": [
    {"path": "media/still.png", "dest": [190, 10, 310, 100], "opacity": 200, "offsetMs": 1000},
    {"path": "media/movie.mbc", "dest": [20, 110, 180, 222], "opacity": 230, "pan": 700, "offsetMs": 500},
    {"path": "media/clip.mp4", "opacity": 160, "volume": 600, "pan": -700}
  ]
}
LIST

"$renderer" "$out/list.json" --out "$out" --at 0,400,1200,2500,3900 --wav "$out/mix.wav" >/dev/null
echo "Rendered the demo composition headlessly with layerdeck-render ($out/list.json):"
for png in "$out"/frame_*.png; do echo "  picture: $png"; done
echo "  sound:   $out/mix.wav"
