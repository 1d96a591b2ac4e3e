#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. the full build (core, plug-in, tools) and its test suite;
#   2. the model core once more under AddressSanitizer and UndefinedBehaviorSanitizer.
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

echo "== model core under address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFERROWICK_CORE_ONLY=ON -DFERROWICK_BUILD_BENCH=OFF \
  -DFERROWICK_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" -LE exhaustive)

echo "== model switching while audio runs, under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROWICK_BUILD_BENCH=OFF \
  -DFERROWICK_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target ferrowick_audio_tests ferrowick_plugin_tests ferrowick_editor_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --output-on-failure -j "$jobs" -R '^(ModelSlots|EntryExchange|Exchange|Concurrency|RealTime|EditorConcurrency)\.')
