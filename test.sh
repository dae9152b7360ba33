#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through CTest.
#   LAYERDECK_SANITIZE=address,undefined ./test.sh    ASan + UBSan build (build-asan/)
#   LAYERDECK_SANITIZE=thread ./test.sh               TSan build (build-tsan/)
#   ./test.sh -L framework                            extra arguments go to ctest
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

case "${LAYERDECK_SANITIZE:-}" in
  "") dir=build ;;
  thread) dir=build-tsan ;;
  *) dir=build-asan ;;
esac
./scripts/build.sh "$dir" RelWithDebInfo

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

ctest_args=(--test-dir "$dir" --output-on-failure -j "$(nproc)" "$@")
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  # The GUI and OpenGL tests need an X server; everything else ignores it.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest "${ctest_args[@]}"
fi
exec ctest "${ctest_args[@]}"
