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

# A demo catalogue in the plug-in's resource folder under the temporary HOME; play its Linear model.
resources="$HOME/.config/Quorvex/Ferrowick"
python3 tools/make_catalogue.py "$resources"
model="$resources/Models/LinearClean/models/000.kep"
./build/bench/kep_run_model "$model" 2.0 256
