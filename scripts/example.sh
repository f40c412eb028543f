#!/usr/bin/env bash
# Builds and installs trovik, then runs the example programs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
PY=${PYTHON:-python3}
for example in examples/*.py; do
  echo "== $example"
  "$PY" "$example"
done
