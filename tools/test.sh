#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. the full build (core, plug-in, tools) and its test suite;
#   2. with clang under AddressSanitizer and UndefinedBehaviorSanitizer: the model core, audio and
#      plug-in tests and the fuzz targets' seeds and regressions, then each fuzz target for 60 s;
#   3. under ThreadSanitizer: switching models, restoring state and opening the window while
#      audio runs.
# Tests write only into temporary folders (HOME is pointed at a fresh one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc)"

bash tools/install-deps.sh

export HOME="$(mktemp -d /tmp/ferrowick-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT

echo "== full build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== core, audio and plug-in tests under address and undefined-behaviour sanitizers (clang), then fuzzing"
# One clang build serves both: the tests and replays here, the libFuzzer programs in tools/fuzz.sh.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
  -DFERROWICK_BUILD_BENCH=OFF -DFERROWICK_SANITIZE=address,undefined -DFERROWICK_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target kep_core_tests ferrowick_audio_tests ferrowick_plugin_tests \
  model_file_replay host_state_replay catalogue_replay settings_replay wrapper_state_replay picture_replay
(cd build-fuzz && ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" -LE exhaustive -E '_NOT_BUILT$|^ferrowick_(vst3_host|vst3_host_audio|vst3_host_state|vst3_window|render_tool|demo_catalogue)$')
FERROWICK_JOBS="$jobs" bash tools/fuzz.sh 60

echo "== model switching while audio runs, under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROWICK_BUILD_BENCH=OFF \
  -DFERROWICK_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target ferrowick_audio_tests ferrowick_plugin_tests ferrowick_editor_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -R '^(ModelSlots|EntryExchange|Exchange|Concurrency|RealTime|EditorConcurrency)\.')
