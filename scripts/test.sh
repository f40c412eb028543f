#!/usr/bin/env bash
# Builds everything and runs every check CI runs: the formatting, the Python
# test suite against the installed module, the C++ component tests and the
# parsers' and protocol areas' Python tests under the sanitizers, and the fuzz
# targets. Arguments are handed to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/format.sh --check

source scripts/ccache.sh
PY=${PYTHON:-python3}
"$PY" -m pytest -q "$@"

bash scripts/sanitize.sh
bash scripts/fuzz.sh "${FUZZ_SECONDS:-15}"
