#!/usr/bin/env bash
# Builds the layer playback benchmark (RelWithDebInfo) and runs it; the options go to the
# benchmark (--sizes, --formats, --max-layers, --seconds, --media, --all-n, --no-ffmpeg,
# --no-gstreamer). Usage: bench/layer-playback.sh [options...]
# LAYERDECK_BENCH_DIR picks the build tree (default build-bench). GStreamer is compared
# only when installed: ./scripts/install-deps.sh bench
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${LAYERDECK_BENCH_DIR:-build-bench}
./scripts/build.sh "$dir" RelWithDebInfo bench_layer_playback
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$dir/bench/bench_layer_playback" "$@"
