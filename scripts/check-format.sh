#!/usr/bin/env bash
# Checks (or with --fix, applies) the project's clang-format style on every C++ file.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=check
[ "${1:-}" = "--fix" ] && mode=fix
files=$(git ls-files '*.h' '*.cpp' '*.c')
[ -z "$files" ] && exit 0
if [ "$mode" = fix ]; then
  echo "$files" | xargs clang-format -i
  exit 0
fi
bad=0
for f in $files; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "needs formatting: $f"
    bad=1
  fi
done
exit $bad
