#!/usr/bin/env bash
# The main job: installs what is missing, builds the plug-in bundle and the render host, writes a
# demo model catalogue into a temporary resource folder and plays a plucked chord through the
# built bundle at 48 kHz and at 96 kHz, printing what it loaded and the levels, and leaving one
# WAV file per rate in ./demo-output/ (or the folder given as the first argument), together with
# editor.png, a picture of the plug-in window drawn in-process.
#   bash tools/main.sh [OUT_DIR]
# FERROWICK_JOBS limits the build's parallel jobs (default: one per core).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
out="$(mkdir -p "${1:-demo-output}" && cd "${1:-demo-output}" && pwd)"
jobs="${FERROWICK_JOBS:-$(nproc)}"

bash tools/install-deps.sh

# Everything the plug-in writes (its settings, the demo catalogue) goes into a temporary HOME.
export HOME="$(mktemp -d /tmp/ferrowick-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT

echo "== build: plug-in bundle, render host and window pictures"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target Ferrowick_VST3 ferrowick_render ferrowick_snapshot
bundle="build/plugin/Ferrowick_artefacts/Release/VST3/Ferrowick.vst3"
render="build/tools/render/ferrowick_render_artefacts/Release/ferrowick_render"
snapshot="build/tools/snapshot/ferrowick_snapshot_artefacts/Release/ferrowick_snapshot"

echo "== demo catalogue"
resources="$HOME/.config/Quorvex/Ferrowick"
# --demo: without the snapshots that are test fixtures (no model file, a refused one).
python3 tools/make_catalogue.py "$resources" --demo
ls "$resources/Models"
# The plug-in starts with the last chosen model of its settings file: the WaveNet capture.
cat >"$resources/Settings.json" <<'JSON'
{
  "UiScaling": 100,
  "LastSelectedModelId": "WaveHigh",
  "LastSelectedModelIdx": 0
}
JSON

echo "== render: a strummed chord through the bundle, input gain +10 dB, output gain 0 dB"
"$render" "$bundle" --out "$out" --rates 48000,96000 --seconds 3 --gain-in 10 --gain-out 0

echo "== the plug-in window with the same catalogue and settings: editor.png"
pictures="$HOME/pictures"
"$snapshot" "$pictures"
cp "$pictures/editor.png" "$out/editor.png"

echo "== demo output: $out"
ls -l "$out"
