#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ and runs each for a bounded time on
# a copy of its seed corpus. Fails when any target finds a crash, a leak, a
# hang or a wrong round trip, and prints the input that reproduces it.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# The default is 20 seconds for every target. The build lives in build/fuzz
# (clang, coverage and ASan+UBSan instrumentation, no Python module); each
# run's log, grown corpus and any reproducer go to build/fuzz/runs/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift $(($# > 0 ? 1 : 0))
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [seconds-per-target] [target...]" >&2
  exit 2
fi

CXX_FUZZ=${CXX_FUZZ:-clang++-16}
if ! command -v "$CXX_FUZZ" >/dev/null; then
  echo "fuzz: $CXX_FUZZ not found; scripts/setup.sh installs clang-16, libclang-rt-16-dev and lld-16" >&2
  exit 2
fi
linker=()
if command -v ld.lld-16 >/dev/null; then linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld-16); fi

export CCACHE_DIR=${CCACHE_DIR:-$PWD/build/ccache}
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$CXX_FUZZ" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTROVIK_BUILD_FUZZ=ON -DTROVIK_BUILD_MODULE=OFF -DTROVIK_BUILD_TESTS=OFF "${linker[@]}" >/dev/null
cmake --build "$build" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target fuzz_targets

if (($# == 0)); then
  set -- $(for source in fuzz/*.cpp; do basename "$source" .cpp; done)
fi

# Targets that touch files do so under a scratch directory of the build.
export TMPDIR=$PWD/$build/tmp
failed=()
for target in "$@"; do
  binary=$build/fuzz/fuzz_$target
  [[ -x $binary ]] || { echo "fuzz: no target $target" >&2; exit 2; }
  run=$build/runs/$target
  rm -rf "$run" "$TMPDIR"
  mkdir -p "$run/corpus" "$run/artifacts" "$TMPDIR"
  if [[ -d fuzz/corpus/$target ]]; then cp -R "fuzz/corpus/$target/." "$run/corpus/"; fi
  # Each target names its own options (-max_len above all) on a line of its source.
  read -r -a options <<<"$(sed -n 's|^// libFuzzer options: ||p' "fuzz/$target.cpp")"
  echo "fuzz: $target for ${seconds}s ${options[*]}"
  if "$binary" "$run/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$run/artifacts/" -print_final_stats=1 "${options[@]}" >"$run/log" 2>&1; then
    grep '^Done' "$run/log" || true
  else
    failed+=("$target")
    tail -n 40 "$run/log"
    for reproducer in "$run"/artifacts/*; do
      [[ -e $reproducer ]] && echo "fuzz: $target failed; reproduce with $binary $reproducer"
    done
  fi
done
rm -rf "$TMPDIR"

if ((${#failed[@]})); then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: $# targets ran ${seconds}s each without a finding"
