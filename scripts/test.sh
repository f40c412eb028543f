#!/usr/bin/env bash
# Builds everything and runs every check CI runs: the formatting, the C++
# component tests (built with warnings as errors), the Python test suite
# against the installed module, the sanitizer pass and the fuzz targets.
# Arguments are handed to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/format.sh --check

export CCACHE_DIR=${CCACHE_DIR:-$PWD/build/ccache}
cmake -S . -B build/cpp -G Ninja -DTROVIK_BUILD_MODULE=OFF -DTROVIK_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cpp -j "$(nproc)"
ctest --test-dir build/cpp --output-on-failure

PY=${PYTHON:-python3}
"$PY" -m pytest -q "$@"

bash scripts/sanitize.sh
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
