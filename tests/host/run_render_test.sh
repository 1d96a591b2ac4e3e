#!/usr/bin/env bash
# Runs ferrowick_render against the built bundle with a fresh temporary HOME holding a generated
# model catalogue, and checks its exit codes, its report and the WAV files it writes.
#   run_render_test.sh RENDER_PROGRAM BUNDLE_DIR MAKE_CATALOGUE_PY
set -uo pipefail
program="$1"
bundle="$(cd "$2" && pwd)"
catalogue="$3"

# Headless: without a display name the framework would try ":0.0", which may be the virtual screen
# of the window test running alongside.
export DISPLAY=:headless
export HOME="$(mktemp -d /tmp/ferrowick-render-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT
resources="$HOME/.config/Quorvex/Ferrowick"
mkdir -p "$resources"
python3 "$catalogue" "$resources"
out="$HOME/out"

failures=0
check() { # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

"$program" "$bundle" --out "$out" --model WaveHigh --snapshot 0 --rates 48000,96000,44100 --seconds 0.5 --block 300 \
  >"$HOME/report.txt" 2>&1
status=$?
cat "$HOME/report.txt"
check "renders at three rates, exit 0" test "$status" -eq 0
check "reports the plug-in" grep -q '^loaded: Ferrowick 1.0.5 by Quorvex' "$HOME/report.txt"
check "reports the chosen model" grep -q '^model: "WaveHigh", snapshot 0' "$HOME/report.txt"
check "reports finite output" test "$(grep -c 'every sample finite' "$HOME/report.txt")" -eq 3

# The WAV files: 32-bit float, stereo, at their rate, 0.5 s long, finite; loud at 48 and
# 96 kHz, silent at 44.1 kHz. Prints the peak found in each.
wav_check() { # wav_check FILE RATE EXPECT(loud|silent)
  python3 - "$@" <<'PY'
import math, struct, sys
path, rate, expect = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = open(path, "rb").read()
assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", "not a WAV file"
pos, fmt, samples = 12, None, None
while pos + 8 <= len(data):
    tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
    body = data[pos + 8:pos + 8 + size]
    if tag == b"fmt ":
        fmt = struct.unpack("<HHIIHH", body[:16])
        if fmt[0] == 0xFFFE:
            fmt = (struct.unpack("<H", body[24:26])[0],) + fmt[1:]
    elif tag == b"data":
        samples = struct.unpack("<%df" % (size // 4), body[:size // 4 * 4])
    pos += 8 + size + (size & 1)
assert fmt is not None and samples is not None, "fmt or data chunk missing"
assert fmt[0] == 3 and fmt[5] == 32, "not 32-bit float: %r" % (fmt,)
assert fmt[1] == 2 and fmt[2] == rate, "channels/rate: %r" % (fmt,)
assert len(samples) == 2 * round(rate * 0.5), "length %d" % len(samples)
assert all(math.isfinite(x) for x in samples), "non-finite sample"
peak = max(abs(x) for x in samples)
print("    %s: peak %.6f" % (path.rsplit("/", 1)[-1], peak))
assert (peak > 1e-4) if expect == "loud" else (peak == 0.0), "expected %s" % expect
PY
}
check "48 kHz WAV: float, stereo, audible" wav_check "$out/ferrowick-48000.wav" 48000 loud
check "96 kHz WAV: float, stereo, audible" wav_check "$out/ferrowick-96000.wav" 96000 loud
check "44.1 kHz WAV: silent" wav_check "$out/ferrowick-44100.wav" 44100 silent

# A WAV file as input; its rate differs from the render rate, which is reported, not fatal.
"$program" "$bundle" --out "$HOME/again" --in "$out/ferrowick-48000.wav" --rates 96000 >"$HOME/again.txt" 2>&1
status=$?
cat "$HOME/again.txt"
check "renders a WAV input, exit 0" test "$status" -eq 0
check "reports the input's other rate" grep -q 'is at 48000 Hz; played as is at 96000 Hz' "$HOME/again.txt"
check "mixes a stereo input down" grep -q '2 channels mixed down to mono' "$HOME/again.txt"
check "writes the output" test -s "$HOME/again/ferrowick-96000.wav"

# The latency the plug-in reports: none at 48 kHz, the resampling's 42 samples at 96 kHz.
check "reports latency 0 at 48 kHz" grep -q '^48000 Hz, block 300, 24000 samples, latency 0 samples:' "$HOME/report.txt"
check "reports latency 42 at 96 kHz" grep -q '^96000 Hz, block 300, 48000 samples, latency 42 samples:' "$HOME/report.txt"

# An input carrying NaN and infinities (a 32-bit float WAV): the output stays finite at both rates.
python3 - "$HOME/nan.wav" <<'PY'
import math, struct, sys
rate, n = 48000, 24000
x = [0.3 * math.sin(2 * math.pi * 220 * i / rate) for i in range(n)]
x[1000], x[5000], x[9000:9512] = float("nan"), float("inf"), [float("-inf")] * 512
data = struct.pack("<%df" % n, *x)
fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)
body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
open(sys.argv[1], "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
"$program" "$bundle" --out "$HOME/nan" --in "$HOME/nan.wav" --model LstmLead --rates 48000,96000 >"$HOME/nan.txt" 2>&1
status=$?
cat "$HOME/nan.txt"
check "an input with NaN and infinities renders, exit 0" test "$status" -eq 0
check "  is reported as such" test "$(grep -c 'NaN or infinity in the input' "$HOME/nan.txt")" -eq 2
check "  and gives finite output at both rates" test "$(grep -c 'every sample finite' "$HOME/nan.txt")" -eq 2

# Gains given in dB land in the plug-in's parameters.
"$program" "$bundle" --out "$HOME/gains" --rates 48000 --seconds 0.2 --gain-in 10 --gain-out -6 >"$HOME/gains.txt" 2>&1
check "gains given on the command line, exit 0" test $? -eq 0
check "  and reported as set" grep -q '^parameters: Gain In 10.0 dB, Gain Out -6.0 dB' "$HOME/gains.txt"

# Failures.
"$program" "$HOME/missing.vst3" --out "$HOME/x" >/dev/null 2>&1
check "a missing bundle exits 1" test $? -eq 1
"$program" "$bundle" --out "$HOME/x" --model NoSuchModel >"$HOME/nosuch.txt" 2>&1
check "a model not in the catalogue exits 1" test $? -eq 1
check "  and says so" grep -q 'did not take model "NoSuchModel"' "$HOME/nosuch.txt"
# Model files that load but answer silence with NaN or infinity are refused like any bad file.
unplayable="$resources/Models/Unplayable"
mkdir -p "$unplayable/models"
printf 'ModelId=Unplayable\n' >"$unplayable/metadata.txt"
printf 'Model,Fault\nConvNet,variance 0\nConvNet,variance below 0\nConvNet,scale overflows\nLSTM,overflows\nWaveNet,overflows\n' \
  >"$unplayable/settings.txt"
convnet='"architecture": "ConvNet", "config": {"channels": 1, "dilations": [1], "batchnorm": true, "activation": "Tanh"}'
lstm='"architecture": "LSTM", "config": {"num_layers": 1, "input_size": 1, "hidden_size": 1}, "sample_rate": 48000'
wavenet='"architecture": "WaveNet", "config": {"layers": [{"input_size": 1, "condition_size": 1, "head_size": 1,
  "channels": 1, "kernel_size": 1, "dilations": [1], "activation": "Tanh", "gated": false, "head_bias": true}],
  "head": null, "head_scale": 1}'
k=0
for model in "$convnet, \"weights\": [0, 1, 0, 0, 1, 0, 0, 1, 0]" \
    "$convnet, \"weights\": [0, 1, 0, 0.5, 1, 0, -1, 1, 0]" \
    "$convnet, \"weights\": [0, 1, 0, 1e-30, 3e38, 0, 0, 1, 0]" \
    "$lstm, \"weights\": [0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0, 8, 0, 1, 3e38, 3e38]" \
    "$wavenet, \"weights\": [1, 0, 0, 0, 1, 0, 1, 3e38, 3e38]"; do
  printf '{"version": "0.5.0", %s, "metadata": {"loudness": -10}}\n' "$model" >"$unplayable/models/00$k.kep"
  "$program" "$bundle" --out "$HOME/x" --model Unplayable --snapshot $k --rates 48000 >"$HOME/unplayable.txt" 2>&1
  check "unplayable model file $k is refused, exit 1" test $? -eq 1
  check "  and the choice did not take" grep -q "did not take model \"Unplayable\" snapshot $k" "$HOME/unplayable.txt"
  k=$((k + 1))
done

"$program" "$bundle" --rates 48000 >/dev/null 2>&1
check "no --out exits 2" test $? -eq 2
"$program" "$bundle" --out "$HOME/x" --rates 48k >/dev/null 2>&1
check "a malformed rate exits 2" test $? -eq 2
"$program" "$bundle" --out "$HOME/x" --gain-out 30 >/dev/null 2>&1
check "a gain beyond +20 dB exits 2" test $? -eq 2
"$program" "$bundle" --out "$HOME/x" --silence --in "$out/ferrowick-48000.wav" >/dev/null 2>&1
check "--silence with --in exits 2" test $? -eq 2

echo "render tool: $failures check(s) failed"
test "$failures" -eq 0
