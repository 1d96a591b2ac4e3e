#!/usr/bin/env bash
# The main job: installs what is missing, builds, writes a demo model into a temporary folder
# and runs audio through it, reporting what it did.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh

export HOME="$(mktemp -d /tmp/ferrowick-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target kep_run_model

model="$HOME/demo-linear.kep"
python3 - "$model" <<'PY'
import json, math, sys
taps = [math.exp(-i / 6.0) * math.cos(i / 3.0) / 4.0 for i in range(32)]
json.dump({"version": "0.5.0", "architecture": "Linear",
           "config": {"receptive_field": len(taps), "bias": True},
           "weights": taps + [0.0], "metadata": {"loudness": -18.0}, "sample_rate": 48000},
          open(sys.argv[1], "w"))
PY
./build/bench/kep_run_model "$model" 2.0 256
