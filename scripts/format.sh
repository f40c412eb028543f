#!/usr/bin/env bash
# Formats our C++ sources with .clang-format; with --check, only reports
# (and fails on) what is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
FORMAT=${CLANG_FORMAT:-clang-format-16}
mapfile -t files < <(git ls-files '*.cpp' '*.hpp')
if [[ "${1:-}" == "--check" ]]; then
  "$FORMAT" --dry-run --Werror "${files[@]}"
else
  "$FORMAT" -i "${files[@]}"
fi
