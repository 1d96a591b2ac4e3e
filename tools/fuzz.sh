#!/usr/bin/env bash
# Fuzzes the targets of tests/fuzz under AddressSanitizer and UndefinedBehaviorSanitizer:
#   bash tools/fuzz.sh [SECONDS] [TARGET...]
# SECONDS per target (default 60); TARGETs among model_file, host_state, catalogue, settings,
# wrapper_state, picture (default all). Builds build-fuzz (clang, libFuzzer) when needed. Each
# target starts from its committed seeds (tests/fuzz/corpus/<target>) and regression files
# (tests/fuzz/regressions/<target>), uses the dictionary tests/fuzz/<target>.dict, and keeps what
# it finds new in build-fuzz/fuzz-corpus/<target>, so that longer or repeated runs go on from there.
# An input that crashes, leaks, runs out of memory (-rss_limit_mb=2048) or takes over 600 s (the
# slowest model files the loader accepts take over 2 minutes in this build) is
# written to build-fuzz/fuzz-findings/<target>/ and fails the run. Runs as many targets at once as
# FERROWICK_JOBS (default: the number of cores) allows.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(model_file host_state catalogue settings wrapper_state picture)
jobs="${FERROWICK_JOBS:-$(nproc)}"

export HOME="${HOME:-/tmp}"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
  -DFERROWICK_BUILD_BENCH=OFF -DFERROWICK_SANITIZE=address,undefined -DFERROWICK_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_target() {
  local target="$1" corpus="build-fuzz/fuzz-corpus/$1" findings="build-fuzz/fuzz-findings/$1"
  mkdir -p "$corpus" "$findings"
  "build-fuzz/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=600 \
    -print_final_stats=1 -artifact_prefix="$findings/" -dict="tests/fuzz/$target.dict" \
    "$corpus" "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target" >"build-fuzz/fuzz-$target.log" 2>&1
}

declare -A pids
failed=0
wait_one() {
  local target="$1"
  if wait "${pids[$target]}"; then
    echo "fuzz $target: ${seconds} s, nothing found ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' \
      "build-fuzz/fuzz-$target.log" | grep -o '[0-9]*$') runs)"
  else
    echo "fuzz $target: FOUND A FAULT (input in build-fuzz/fuzz-findings/$target/):"
    tail -n 60 "build-fuzz/fuzz-$target.log"
    failed=1
  fi
}
running=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids[$target]=$!
  running+=("$target")
  if [ ${#running[@]} -ge "$jobs" ]; then
    wait_one "${running[0]}"
    running=("${running[@]:1}")
  fi
done
for target in "${running[@]}"; do
  wait_one "$target"
done
exit "$failed"
