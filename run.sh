#!/usr/bin/env bash
# Installs what is missing, builds the Release tree and starts the player; without a
# display it renders the demo composition headlessly instead (scripts/render-demo.sh).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh build-release Release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Built the Release tree in build-release/ (the player, libraries, tools, tests, benchmarks)."
  echo "There is no display to show the player's window on: start build-release/app/layerdeck"
  echo "from a desktop session (or under xvfb-run to try it without one)."
  echo
  exec ./scripts/render-demo.sh build-release build-release/demo
fi
exec build-release/app/layerdeck
