#!/usr/bin/env bash
# kep_run_model as the model-file page describes it: the test signal and the figures it prints,
# its defaults, and its exit codes (0 played, 1 refused or not finite, 2 usage).
#   run_model_test.sh KEP_RUN_MODEL
set -uo pipefail
program="$1"
dir="$(mktemp -d /tmp/kep-run-model.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
linear() { # linear FILE WEIGHTS...: a Linear model without bias, one tap per weight
  local weights="$(IFS=,; echo "${*:2}")"
  printf '{"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": %d, "bias": false},
    "weights": [%s], "metadata": {"loudness": -10}}\n' $(($# - 1)) "$weights" >"$1"
}

# Through a model that passes its input on, the figures are the test signal's own:
# 0.5 sin(2 pi 110 i / 48000) with the argument in 32-bit float, RMS and peak to six decimals.
linear "$dir/identity.kep" 1
expected() { # expected SAMPLES BLOCK
  python3 - "$@" <<'PY'
import math, struct, sys
f = lambda v: struct.unpack("f", struct.pack("f", v))[0]
n, block = int(sys.argv[1]), sys.argv[2]
y = [f(0.5 * f(math.sin(f(f(f(f(2.0 * f(3.14159265)) * 110.0) * f(i)) / 48000.0)))) for i in range(n)]
rms = math.sqrt(sum(v * v for v in y) / n) if n else 0.0
print("processed %d samples in blocks of %s: rms %.6f, peak %.6f, all finite"
      % (n, block, rms, max([abs(v) for v in y] + [0.0])))
PY
}
"$program" "$dir/identity.kep" >"$dir/out.txt" 2>&1
check "defaults (2 s in blocks of 256): exit 0" test $? -eq 0
check "  the signal's RMS and peak" grep -qxF "$(expected 96000 256)" "$dir/out.txt"
check "  names the file, its architecture, weights and loudness" \
  grep -qxF "model: $dir/identity.kep (Linear, 1 weights, loudness -10.00)" "$dir/out.txt"
"$program" "$dir/identity.kep" 0.01 7 >"$dir/out.txt" 2>&1
check "SECONDS 0.01 and BLOCK 7: exit 0, 480 samples" grep -qxF "$(expected 480 7)" "$dir/out.txt"

# Models that load but put out NaN or infinity on the signal (the warm-up refuses those that do
# so on silence); files that are refused.
linear "$dir/overflows.kep" 3e38 3e38 3e38
"$program" "$dir/overflows.kep" 0.1 >"$dir/out.txt" 2>&1
check "output that overflows: exit 1" test $? -eq 1
check "  reported" grep -q "NON-FINITE OUTPUT" "$dir/out.txt"
echo '{"version": "0.5.0", "architecture": "Linear"}' >"$dir/refused.kep"
"$program" "$dir/refused.kep" >"$dir/out.txt" 2>&1
check "a refused file: exit 1" test $? -eq 1
check "  with the reason" grep -q "^failed to load or run the model: Corrupted model file is missing weights." "$dir/out.txt"

# A long run holds a stretch of the signal at a time: 1000 s (48 million samples, 384 MB as one
# signal and as much again for the output) within 300 MB of address space.
(ulimit -v 300000 && "$program" "$dir/identity.kep" 1000) >"$dir/out.txt" 2>&1
check "SECONDS 1000 in 300 MB: exit 0" test $? -eq 0
check "  all 48000000 samples" grep -q "^processed 48000000 samples in blocks of 256: rms 0.353553, peak 0.500000, all finite$" "$dir/out.txt"

# Usage errors, among them a BLOCK of 0 that would never finish.
for args in "" "0.1 0" "0.1 -5" "0.1 abc" "-1" "abc" "0x10" "1e6" "0.1 256 extra"; do
  timeout 10 "$program" ${args:+"$dir/identity.kep"} $args >/dev/null 2>&1
  check "usage error for '${args:-no file}': exit 2" test $? -eq 2
done

echo "kep_run_model: $failures check(s) failed"
test "$failures" -eq 0
