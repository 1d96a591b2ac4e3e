#!/usr/bin/env bash
# Runs the real-window host test: a virtual X screen (1920 x 1440, 24-bit) with a window manager
# (openbox; without one the framework's windows fail on a bare X server), a fresh temporary HOME
# holding a generated model catalogue, then the test program. Fails when the program fails or
# when the framework's leak detector reports leaked objects.
#   run_window_test.sh WINDOW_TEST_PROGRAM BUNDLE_DIR MAKE_CATALOGUE_PY BACKGROUND_PNG
set -euo pipefail
program="$1"
bundle="$(cd "$2" && pwd)"
catalogue="$3"
background="$4"

for tool in Xvfb openbox xwd xwdtopnm pnmtopng xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "missing $tool (run tools/install-deps.sh)"; exit 1; }
done

export HOME="$(mktemp -d /tmp/ferrowick-window-home.XXXXXX)"
xvfb_pid=""
wm_pid=""
cleanup_screen() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  wm_pid=""
  xvfb_pid=""
}
cleanup() {
  cleanup_screen
  rm -rf "$HOME"
}
trap cleanup EXIT

wm_running() {
  # Read the whole answer first: with pipefail, "xprop | grep -q" can fail on a closed pipe.
  local answer
  answer="$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null || true)"
  [[ "$answer" == *"window id"* ]]
}

# Starts Xvfb (it picks a free display number and writes it to the given descriptor) and openbox
# on it; false when either does not come up.
start_screen() {
  rm -f "$HOME/display"
  Xvfb -displayfd 3 -screen 0 1920x1440x24 -nolisten tcp 3>"$HOME/display" >"$HOME/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$HOME/display" ] && break; sleep 0.1; done
  [ -s "$HOME/display" ] || return 1
  export DISPLAY=":$(head -n1 "$HOME/display")"
  openbox >"$HOME/openbox.log" 2>&1 &
  wm_pid=$!
  for _ in $(seq 100); do wm_running && return 0; kill -0 "$wm_pid" 2>/dev/null || return 1; sleep 0.1; done
  return 1
}

started=0
for attempt in 1 2 3; do
  if start_screen; then started=1; break; fi
  echo "virtual screen, attempt $attempt: Xvfb or openbox did not start"
  cat "$HOME/xvfb.log" "$HOME/openbox.log" 2>/dev/null || true
  cleanup_screen
done
[ "$started" = 1 ] || exit 1

resources="$HOME/.config/Quorvex/Ferrowick"
mkdir -p "$resources"
python3 "$catalogue" "$resources"

status=0
"$program" "$bundle" "$resources" "$background" "$HOME/scratch" 2>&1 | tee "$HOME/output.txt" || status=$?
if grep -q "Leaked objects" "$HOME/output.txt"; then
  echo "FAIL the leak detector reported leaked objects"
  status=1
fi
exit "$status"
