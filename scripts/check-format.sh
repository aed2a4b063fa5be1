#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what the project's
# .clang-format makes of it; lists the files. Fix them with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! out=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "Files not formatted with .clang-format:" >&2
  grep -o '^[^:]*:[0-9]*:[0-9]*: error' <<<"$out" | cut -d: -f1 | sort -u >&2
  exit 1
fi
