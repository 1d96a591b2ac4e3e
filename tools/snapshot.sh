#!/usr/bin/env bash
# Writes pictures of the plug-in window (editor.png, editor-model-dialog.png, editor-about.png)
# into OUT_DIR, with the test catalogue in a temporary HOME and the ConvNet capture chosen.
#   bash tools/snapshot.sh SNAPSHOT_PROGRAM OUT_DIR
# SNAPSHOT_PROGRAM is the built ferrowick_snapshot
# (build/tools/snapshot/ferrowick_snapshot_artefacts/Release/ferrowick_snapshot).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
out="$(mkdir -p "$2" && cd "$2" && pwd)"

export HOME="$(mktemp -d /tmp/ferrowick-snapshot-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT
resources="$HOME/.config/Quorvex/Ferrowick"
python3 "$root/tools/make_catalogue.py" "$resources"
cat >"$resources/Settings.json" <<'JSON'
{
  "UiScaling": 100,
  "LastSelectedModelId": "ConvCrunch",
  "LastSelectedModelIdx": 0
}
JSON
"$program" "$out"
