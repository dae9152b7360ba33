#!/usr/bin/env bash
# Installs what is missing, builds the Release tree and starts the player.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh build-release Release
if [ -x build-release/app/layerdeck ]; then
  exec build-release/app/layerdeck
fi
echo "Built the Release tree in build-release/ (libraries, tools, tests, benchmarks)."
echo "The player program itself is not part of the tree yet."
