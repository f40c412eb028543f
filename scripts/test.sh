#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the C++ component tests,
# then the Python tests against the installed module.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

export CCACHE_DIR=${CCACHE_DIR:-$PWD/build/ccache}
cmake -S . -B build/cpp -G Ninja -DTROVIK_BUILD_MODULE=OFF -DTROVIK_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cpp -j "$(nproc)"
ctest --test-dir build/cpp --output-on-failure

PY=${PYTHON:-python3}
exec "$PY" -m pytest -q "$@"
