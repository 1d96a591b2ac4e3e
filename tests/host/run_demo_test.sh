#!/usr/bin/env bash
# The main job's demo catalogue through the built bundle: writes the catalogue as tools/main.sh
# does and, with the render host at 0 dB gains, plays the demo chord and then silence through
# every snapshot at 48 and 96 kHz, each in a fresh instance. Every snapshot must answer the chord
# (peak -6 dBFS) at an RMS between -30 and -6 dBFS, follow it as it decays, answer silence with
# less than -90 dBFS from the first sample on, and the snapshots of one folder must sound
# different from each other. A folder made from the README's example beside them plays too, and so
# does every whole model file shown in the README and docs/model-file.md, which one weight short
# is refused.
#   run_demo_test.sh RENDER_PROGRAM BUNDLE_DIR MAKE_CATALOGUE_PY
set -uo pipefail
program="$1"
bundle="$(cd "$2" && pwd)"
catalogue="$3"

# Headless: without a display name the framework would try ":0.0", which may be the virtual screen
# of the window test running alongside.
export DISPLAY=:headless
export HOME="$(mktemp -d /tmp/ferrowick-demo-home.XXXXXX)"
trap 'rm -rf "$HOME"' EXIT
resources="$HOME/.config/Quorvex/Ferrowick"
mkdir -p "$resources"
python3 "$catalogue" "$resources" --demo
renders="$HOME/renders"
mkdir -p "$renders"
failures=0

# From the documents' own code blocks: a folder of the user's own, made from the README's example
# (two demo captures go under its id below); and every whole model file shown in the README and the
# model-file page, each the only snapshot of a folder of its own, with the same file one weight short
# kept aside, to be refused at the end. Prints the user's folder, then the documented folders' ids.
made="$(python3 - "$(dirname "$catalogue")/.." "$resources/Models" "$HOME/short" <<'PY'
import json, os, re, sys
root, models, short = sys.argv[1:]

def blocks(page, language="[a-z]*"):
    text = open(os.path.join(root, page)).read()
    return re.findall(r"^```%s\n(.*?)^```$" % language, text, re.S | re.M)

readme = blocks("README.md")
metadata = next(b for b in readme if b.startswith("ModelId="))
user = os.path.join(models, re.match(r"ModelId=(.*)", metadata).group(1))
os.makedirs(os.path.join(user, "models"))
os.makedirs(os.path.join(user, "images"))
open(os.path.join(user, "metadata.txt"), "w").write(metadata)
open(os.path.join(user, "settings.txt"), "w").write(next(b for b in readme if b.startswith("Setting,")))
print(user)

os.makedirs(short)
found = [(page, k, block, json.loads(block))
         for page in ("README.md", "docs/model-file.md")
         for k, block in enumerate(blocks(page, "json"))
         if '"architecture"' in block and '"weights"' in block]
architectures = {doc["architecture"] for page, _, _, doc in found if page.startswith("docs/")}
if architectures != {"Linear", "ConvNet", "LSTM", "WaveNet"} or not any(f[0] == "README.md" for f in found):
    sys.exit("expected a whole model file in the README and one of each architecture on the page, found %s"
             % [(f[0], f[3]["architecture"]) for f in found])
for n, (page, k, block, doc) in enumerate(found):
    folder = os.path.join(models, "Documented%d" % n)
    os.makedirs(os.path.join(folder, "models"))
    open(os.path.join(folder, "metadata.txt"), "w").write("ModelId=Documented%d\nDeviceName=%s\n" % (n, page))
    open(os.path.join(folder, "settings.txt"), "w").write("Page,Block,Architecture\n%s,%d,%s\n"
                                                          % (page, k, doc["architecture"]))
    open(os.path.join(folder, "models", "000.kep"), "w").write(block)
    doc["weights"].pop()
    json.dump(doc, open(os.path.join(short, "Documented%d.kep" % n), "w"))
    print("Documented%d" % n)
PY
)" || { echo "FAIL the README's catalogue example or the documents' model files could not be read"; exit 1; }
user="$(head -n1 <<<"$made")"
documented="$(tail -n +2 <<<"$made")"
# The demo catalogue installed again as the README says: every existing folder stays as it was.
cp "$resources/Models/LinearClean/models/000.kep" "$user/models/000.kep"
cp "$resources/Models/WaveHigh/models/000.kep" "$user/models/001.kep"
cp "$resources/Models/ConvCrunch/images/000.jpg" "$user/images/000.jpg"
echo "DeviceName=Edited by the user" >>"$resources/Models/LstmLead/metadata.txt"
catalogue_files() { (cd "$resources/Models" && find . -type f -exec md5sum {} + | sort); }
before="$(catalogue_files)"
python3 "$catalogue" "$resources" --demo --keep-existing >/dev/null
if [ "$(catalogue_files)" != "$before" ]; then
  echo "FAIL installing the demo catalogue again with --keep-existing changed existing folders"
  failures=$((failures + 1))
fi
for folder in "$resources"/Models/*/; do
  id="$(basename "$folder")"
  rows=$(($(wc -l <"$folder/settings.txt") - 1))
  for ((k = 0; k < rows; k++)); do
    for signal in chord silence; do
      out="$renders/$id/$k/$signal"
      mkdir -p "$out"
      extra=()
      [ "$signal" = silence ] && extra=(--silence --seconds 1)
      if ! "$program" "$bundle" --out "$out" --model "$id" --snapshot "$k" --rates 48000,96000 \
          --gain-in 0 --gain-out 0 "${extra[@]}" >"$out.txt" 2>&1; then
        cat "$out.txt"
        echo "FAIL $id/$k: rendering the $signal exits with an error"
        failures=$((failures + 1))
      fi
    done
  done
done

# A documented file one weight short is refused: the host's choice of it does not take.
for id in $documented; do
  cp "$HOME/short/$id.kep" "$resources/Models/$id/models/000.kep"
  out="$HOME/short/$id.txt"
  if "$program" "$bundle" --out "$HOME/short/$id" --model "$id" --snapshot 0 --rates 48000 >"$out" 2>&1 \
      || ! grep -q "did not take" "$out"; then
    cat "$out"
    echo "FAIL $id: the documented model file one weight short was not refused"
    failures=$((failures + 1))
  fi
done

python3 - "$renders" <<'PY' || failures=$((failures + 1))
import math, os, struct, sys

def channel0(path):
    data = open(path, "rb").read()
    pos, channels, samples = 12, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            channels = struct.unpack("<H", data[pos + 10:pos + 12])[0]
        elif tag == b"data":
            samples = struct.unpack("<%df" % (size // 4), data[pos + 8:pos + 8 + size // 4 * 4])
        pos += 8 + size + (size & 1)
    return samples[::channels]

def rms(x):
    return math.sqrt(sum(v * v for v in x) / len(x)) if x else 0.0

def db(level):
    return 20 * math.log10(level) if level > 0 else -math.inf

failures = 0
def check(ok, what):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    failures += 0 if ok else 1

root = sys.argv[1]
for rate in (48000, 96000):
    half = rate // 2
    for folder in sorted(os.listdir(root)):
        outputs = []
        for k in sorted(os.listdir(os.path.join(root, folder)), key=int):
            name = "%s/%s at %d Hz" % (folder, k, rate)
            paths = [os.path.join(root, folder, k, signal, "ferrowick-%d.wav" % rate) for signal in ("chord", "silence")]
            if not all(os.path.exists(path) for path in paths):
                continue  # its render failed, and was counted
            chord, silence = (channel0(path) for path in paths)
            level, peak = db(rms(chord)), db(max(abs(v) for v in chord))
            first, last = db(rms(chord[:half])), db(rms(chord[-half:]))
            quiet = db(max(abs(v) for v in silence))
            check(-30 <= level <= -6 and peak < 0,
                  "%s: the chord plays at RMS %.1f dBFS (-30 to -6), peak %.1f dBFS (below 0)" % (name, level, peak))
            check(last < first - 12, "%s: follows the chord's decay: the last 0.5 s at %.1f dBFS, the first at %.1f"
                  % (name, last, first))
            check(quiet < -90, "%s: silence in, silence out: peak %.1f dBFS over %d samples (below -90)"
                  % (name, quiet, len(silence)))
            outputs.append((k, chord))
        # Level-matched, two snapshots of one device still differ in tone or drive.
        for i in range(len(outputs)):
            for j in range(i + 1, len(outputs)):
                (k_a, a), (k_b, b) = outputs[i], outputs[j]
                ra, rb = rms(a) or 1.0, rms(b) or 1.0
                difference = rms([x / ra - y / rb for x, y in zip(a, b)])
                check(difference > 0.25, "%s/%s and %s/%s at %d Hz sound different: level-matched difference %.2f "
                      "(above 0.25)" % (folder, k_a, folder, k_b, rate, difference))
sys.exit(1 if failures else 0)
PY

test "$failures" -eq 0 && echo "demo catalogue: every check passed" || echo "demo catalogue: checks failed"
test "$failures" -eq 0
