#!/usr/bin/env bash
# Runs the VST3 host test with a fresh temporary HOME holding a generated model catalogue.
#   run_host_test.sh HOST_TEST_PROGRAM BUNDLE_DIR MAKE_CATALOGUE_PY
set -euo pipefail
program="$1"
bundle="$(cd "$2" && pwd)"
catalogue="$3"

# Headless: without a display name the framework would try ":0.0", which may be the virtual screen
# of the window test running alongside.
export DISPLAY=:headless
export HOME="$(mktemp -d /tmp/ferrowick-host-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT
resources="$HOME/.config/Quorvex/Ferrowick"
mkdir -p "$resources"
python3 "$catalogue" "$resources"

"$program" "$bundle" "$resources"
