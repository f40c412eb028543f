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

source scripts/ccache.sh
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$CXX_FUZZ" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTROVIK_BUILD_FUZZ=ON -DTROVIK_BUILD_MODULE=OFF -DTROVIK_BUILD_TESTS=OFF "${linker[@]}" >/dev/null
cmake --build "$build" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target fuzz_targets

if (($# == 0)); then
  set -- $(for source in fuzz/*.cpp; do basename "$source" .cpp; done)
fi

# Runs one target; its log, grown corpus and any reproducer stay in its run
# directory. Targets that touch files do so under a scratch directory there.
run_target() {
  local target=$1 binary=$build/fuzz/fuzz_$1 run=$build/runs/$1
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts" "$run/tmp"
  if [[ -d fuzz/corpus/$target ]]; then cp -R "fuzz/corpus/$target/." "$run/corpus/"; fi
  # Each target names its own options (-max_len above all) on a line of its source.
  local options
  read -r -a options <<<"$(sed -n 's|^// libFuzzer options: ||p' "fuzz/$target.cpp")"
  if TMPDIR=$PWD/$run/tmp "$binary" "$run/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$run/artifacts/" -print_final_stats=1 "${options[@]}" >"$run/log" 2>&1; then
    echo "fuzz: $target for ${seconds}s ${options[*]}: $(grep '^Done' "$run/log" || true)"
  else
    echo "fuzz: $target failed"
    tail -n 40 "$run/log"
    for reproducer in "$run"/artifacts/*; do
      [[ -e $reproducer ]] && echo "fuzz: reproduce with $binary $reproducer"
    done
    touch "$run/failed"
  fi
  rm -rf "$run/tmp"
}

for target in "$@"; do
  [[ -x $build/fuzz/fuzz_$target ]] || { echo "fuzz: no target $target" >&2; exit 2; }
done
# As many targets at a time as there are processors.
slots=$(nproc)
for target in "$@"; do
  while (($(jobs -rp | wc -l) >= slots)); do wait -n || true; done
  run_target "$target" &
done
wait

failed=()
for target in "$@"; do
  [[ -e $build/runs/$target/failed ]] && failed+=("$target")
done
if ((${#failed[@]})); then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: $# targets ran ${seconds}s each without a finding"
