#!/usr/bin/env python3
"""Writes a test model catalogue into a plug-in resource folder.

    python3 tools/make_catalogue.py RESOURCE_DIR [--only ID] [--demo] [--keep-existing]

creates RESOURCE_DIR/Models/<id>/ with "metadata.txt", "settings.txt", "models/NNN.kep" and
"images/NNN.jpg" for several model folders covering every architecture (Linear, ConvNet, LSTM,
WaveNet), the tone-filter flags, GainAdjust, ScaleSettings, a snapshot without a model file and a
broken model file. The models are small, fixed-seed captures of made-up devices (a clean channel
and drive stages with their tone shaping) that play the demo chord at a sensible level and answer
silence with silence. Standard library only; writes nothing outside RESOURCE_DIR.

Which folder the file system lists first cannot be chosen: tests read the directory order back.
"--only ID" writes just that folder (a catalogue with exactly one model). "--demo" leaves out the
snapshots that are test fixtures without a playable model (the main job's demo catalogue).
"--keep-existing" leaves a model folder that is already there as it is, so that the demo catalogue
can go into a user's own resource folder.
"""
import argparse
import json
import math
import os
import random
import struct

VERSION = "0.5.0"


# ---------------------------------------------------------------------------------------------
# Model files


class Weights:
    """A fixed-seed source of weights, rounded to six decimals as a capture file stores them."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.values = []

    def uniform(self, low, high):
        return self.rng.uniform(low, high)

    def take(self, count, scale):
        self.values.extend(round(self.rng.uniform(-scale, scale), 6) for _ in range(count))

    def put(self, values):
        self.values.extend(round(v, 6) for v in values)


def model_file(architecture, config, weights, loudness, sample_rate=48000):
    return {
        "version": VERSION,
        "architecture": architecture,
        "config": config,
        "weights": weights,
        "metadata": {"loudness": loudness},
        "sample_rate": sample_rate,
    }


# Every model below answers silence with exact silence from its first sample: for zero input and
# zero state every signal on the way to the output is 0 (its biases are 0, tanh gives 0 for 0, and
# a sigmoid gate, whatever its bias, only scales such a signal), so the state stays zero, also
# through the warm-up. The "loudness" of a snapshot is the level of its capture: with the
# plug-in's loudness gain, 10^((-10 - loudness) / 20), the demo chord at 0 dB gains plays at about
# -20 dBFS RMS through the driven captures and near its own level (-27 dBFS) through the clean ones.


def one_pole_taps(taps, cutoff, rate=48000):
    """The impulse response of a one-pole low-pass at cutoff Hz, cut after taps samples and
    scaled to unity gain at DC."""
    a = math.exp(-2 * math.pi * cutoff / rate)
    h = [a ** j for j in range(taps)]
    total = sum(h)
    return [v / total for v in h]


def linear_model(taps, cutoff, treble, gain, loudness):
    """A clean channel: a low-pass at cutoff Hz with the treble above it lifted by the factor
    1 + treble, at a gain of `gain` at DC. weights[0] multiplies the current sample."""
    low = one_pole_taps(taps, cutoff)
    fir = [round(gain * ((1 + treble if j == 0 else 0.0) - treble * v), 6) for j, v in enumerate(low)]
    return model_file("Linear", {"receptive_field": taps, "bias": True}, fir + [0.0], loudness)  # bias 0


def convnet_weight_count(channels, dilations, batchnorm):
    n = len(dilations)
    per_block = 4 * channels + 1 if batchnorm else channels
    return 2 * channels + (n - 1) * 2 * channels * channels + n * per_block + channels + 1


def two_taps(gain, tone):
    """The taps (oldest first) of a two-tap tone filter with DC gain `gain`: tone 0 averages two
    samples (dark), 0.5 passes the signal, 1 lifts the treble."""
    return [gain * (0.5 - tone), gain * (0.5 + tone)]


def convnet_model(seed, drive, tone, batchnorm, loudness, channels=3, dilations=(1, 2, 4)):
    """A drive stage and two tone-shaping stages: each block is a two-tap dilated filter into
    tanh. The first block scales the input by about `drive` into the nonlinearity, differently
    voiced per channel; the later blocks mix the channels and add a little more saturation."""
    w = Weights(seed)
    stage_gains = [1.0, 1.6, 1.3]
    for b, _ in enumerate(dilations):
        gain = stage_gains[b % len(stage_gains)]
        # With batch normalisation the stage gain is its scale, gains / sqrt(variances + epsilon);
        # its shift is 0, since the means and biases are. Without, it goes into the taps.
        tap_gain = 1.0 if batchnorm else gain
        if b == 0:
            for c in range(channels):
                voice = c / max(1, channels - 1)
                voiced_tone = min(1.0, max(0.0, tone + 0.3 * (voice - 0.5)))
                w.put(two_taps(tap_gain * drive * (0.6 + 0.8 * voice), voiced_tone))
        else:
            for i in range(channels):
                for j in range(channels):
                    mix = (1.0 if i == j else 0.0) + w.uniform(-0.35, 0.35)
                    w.put(two_taps(tap_gain * mix, 0.35))
        if batchnorm:
            w.put([0.0] * channels)                     # running means
            w.put([1.0] * channels)                     # running variances
            w.put([gain] * channels)                    # weights
            w.put([0.0] * channels)                     # biases
            w.put([1e-5])                               # epsilon
        else:
            w.put([0.0] * channels)                     # convolution bias
    w.put([0.6 - 0.15 * c for c in range(channels)])    # head weights
    w.put([0.0])                                        # head bias
    assert len(w.values) == convnet_weight_count(channels, dilations, batchnorm)
    config = {"channels": channels, "batchnorm": batchnorm, "dilations": list(dilations), "activation": "Tanh"}
    return model_file("ConvNet", config, w.values, loudness)


def lstm_weight_count(layers, input_size, hidden):
    if layers <= 0:
        return hidden + 1
    return 4 * hidden * (input_size + hidden) + 6 * hidden + (layers - 1) * (8 * hidden * hidden + 6 * hidden) \
        + hidden + 1


def lstm_model(seed, drive, loudness, layers=2, hidden=3):
    """LSTM layers voiced as drive stages. In the first, each cell candidate is tanh of the input
    times about `drive`, and the input also opens and closes the input gates a little, which
    makes the saturation asymmetric; each further layer drives the previous one's hidden state
    into its candidates again. Each cell integrates its candidate with its own forget gate (a
    leaky memory of 2 to 35 samples, so a low-pass of its own) and saturates it once more.
    Recurrent weights are small, so the memory fades within milliseconds."""
    w = Weights(seed)
    for layer in range(layers):
        width = 1 if layer == 0 else hidden
        # Rows per gate (input, forget, candidate, output): input weights, then recurrent ones.
        for gate in range(4):
            for k in range(hidden):
                if gate == 2 and layer == 0:
                    inputs = [drive * (0.5 + k / hidden) * (1 if k % 2 == 0 else -1)]
                elif gate == 2:
                    inputs = [(2.0 if j == k else 0.0) + w.uniform(-0.6, 0.6) for j in range(width)]
                elif gate == 0 and layer == 0:
                    inputs = [w.uniform(-2.0, 2.0)]
                else:
                    inputs = [w.uniform(-0.5, 0.5) for _ in range(width)]
                w.put(inputs + [w.uniform(-0.25, 0.25) for _ in range(hidden)])
        w.put([0.0] * hidden)                                             # input gate biases: half open
        w.put([3.5 * k / max(1, hidden - 1) for k in range(hidden)])      # forget gate biases
        w.put([0.0] * hidden)                                             # candidate biases: silence stays silence
        w.put([1.0] * hidden)                                             # output gate biases
        w.put([0.0] * hidden)                                             # initial hidden state
        w.put([0.0] * hidden)                                             # initial cell state
    w.put([(0.12 + 0.03 * k) * (1 if k % 2 == 0 else -1) for k in range(hidden)])  # head weights
    w.put([0.0])                                                          # head bias
    assert len(w.values) == lstm_weight_count(layers, 1, hidden)
    config = {"num_layers": layers, "input_size": 1, "hidden_size": hidden}
    return model_file("LSTM", config, w.values, loudness)


def wavenet_weight_count(arrays):
    total = 1
    for a in arrays:
        c, i, s, h, k = a["channels"], a["input_size"], a["condition_size"], a["head_size"], a["kernel_size"]
        g = 2 * c if a["gated"] else c
        layers = len(a["dilations"])
        total += c * i + layers * (g * c * k + g + g * s + c * c + c) + h * c + (h if a["head_bias"] else 0)
    return total


def wavenet_model(seed, drive, loudness):
    """Two layer arrays. In the first (gated) the condition mixer drives the input by about
    `drive` into each layer's tanh, whose gate opens with the signal's polarity (asymmetric
    clipping); the dilated taps shape the tone. The second array saturates the first one's
    output again, more gently. Every bias is 0."""
    arrays = [
        {"input_size": 1, "condition_size": 1, "head_size": 2, "channels": 3, "kernel_size": 3,
         "dilations": [1, 2, 4], "activation": "Tanh", "gated": True, "head_bias": False},
        {"input_size": 3, "condition_size": 1, "head_size": 1, "channels": 2, "kernel_size": 2,
         "dilations": [1, 8], "activation": "Tanh", "gated": False, "head_bias": True},
    ]
    w = Weights(seed)
    for n, a in enumerate(arrays):
        c, i, s, h, k = a["channels"], a["input_size"], a["condition_size"], a["head_size"], a["kernel_size"]
        g = 2 * c if a["gated"] else c
        array_drive = drive if n == 0 else drive / 8
        w.take(c * i, 1.0 / math.sqrt(i))                # input projection
        for _ in a["dilations"]:
            w.take(g * c * k, 1.5 / math.sqrt(c * k))   # dilated convolution taps
            w.put([0.0] * g)                             # their bias
            for r in range(g):                           # condition mixer: drive, then gate
                sign = 1 if r % 2 == 0 else -1
                w.put([sign * array_drive * w.uniform(0.5, 1.0) if r < c else w.uniform(-3.0, 3.0)])
            w.take(c * c, 0.6 / math.sqrt(c))           # output mixer
            w.put([0.0] * c)                             # its bias
        w.take(h * c, 0.8 / math.sqrt(c))               # head projection
        if a["head_bias"]:
            w.put([0.0] * h)
    w.put([0.5])                                         # head scale
    assert len(w.values) == wavenet_weight_count(arrays)
    config = {"layers": arrays, "head": None, "head_scale": 0.5}
    return model_file("WaveNet", config, w.values, loudness)


# ---------------------------------------------------------------------------------------------
# Pictures: tiny baseline JPEG files (YCbCr, 8x8 blocks, DC coefficients only)


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.bits = 0

    def write(self, value, length):
        for shift in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> shift) & 1)
            self.bits += 1
            if self.bits == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0x00)  # byte stuffing
                self.acc = 0
                self.bits = 0

    def flush(self):
        while self.bits:
            self.write(1, 1)
        return bytes(self.out)


def segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def jpeg(width_blocks, height_blocks, colour_of_block):
    """colour_of_block(bx, by) -> (r, g, b); each 8x8 block is flat."""
    width, height = 8 * width_blocks, 8 * height_blocks
    # DC table: categories 0..11, each with a 4-bit code 0000..1011. AC table: EOB only, code "0".
    dc_counts = bytes([0, 0, 0, 12] + [0] * 12)
    ac_counts = bytes([1] + [0] * 15)
    data = b"\xFF\xD8"
    data += segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    data += segment(0xDB, b"\x00" + bytes([1] * 64))
    data += segment(0xC0, struct.pack(">BHHB", 8, height, width, 3)
                    + bytes([1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0]))
    data += segment(0xC4, b"\x00" + dc_counts + bytes(range(12)))
    data += segment(0xC4, b"\x10" + ac_counts + b"\x00")
    data += segment(0xDA, bytes([3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0]))
    bits = BitWriter()
    previous = [0, 0, 0]
    for by in range(height_blocks):
        for bx in range(width_blocks):
            r, g, b = colour_of_block(bx, by)
            ycc = (0.299 * r + 0.587 * g + 0.114 * b,
                   128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
                   128 + 0.5 * r - 0.418688 * g - 0.081312 * b)
            for component in range(3):
                dc = int(round((ycc[component] - 128) * 8))
                diff = dc - previous[component]
                previous[component] = dc
                category = abs(diff).bit_length()
                bits.write(category, 4)
                if category:
                    bits.write(diff if diff > 0 else (diff - 1) & ((1 << category) - 1), category)
                bits.write(0, 1)  # end of block: no AC coefficients
    data += bits.flush()
    data += b"\xFF\xD9"
    return data


def picture(index):
    hue = (index * 0.23) % 1.0

    def colour(bx, by):
        shade = 0.35 + 0.65 * (bx + by) / 10.0
        r = 0.5 + 0.5 * math.cos(2 * math.pi * hue)
        g = 0.5 + 0.5 * math.cos(2 * math.pi * (hue - 1 / 3))
        b = 0.5 + 0.5 * math.cos(2 * math.pi * (hue - 2 / 3))
        return tuple(max(0, min(255, 255 * shade * c)) for c in (r, g, b))

    return jpeg(6, 4, colour)


# ---------------------------------------------------------------------------------------------
# Catalogue


def nnn(index):
    return "%03d" % index


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode, **({} if mode == "wb" else {"newline": ""})) as out:
        out.write(data)


def model_folder(models_dir, folder, metadata, table, snapshots, demo=False):
    """table: the header row, then one row per snapshot. snapshots: one per row, a model dict, a
    text (written as is) or None (no file). demo leaves out the rows without a playable model."""
    rows = list(zip(table[1:], snapshots))
    if demo:
        rows = [(row, model) for row, model in rows if isinstance(model, dict)]
    base = os.path.join(models_dir, folder)
    write(os.path.join(base, "metadata.txt"), "".join("%s=%s\n" % kv for kv in metadata))
    write(os.path.join(base, "settings.txt"), "".join(",".join(row) + "\n" for row in [table[0]] + [r for r, _ in rows]))
    for index, (_, model) in enumerate(rows):
        if model is not None:
            text = model if isinstance(model, str) else json.dumps(model)
            write(os.path.join(base, "models", nnn(index) + ".kep"), text)
        write(os.path.join(base, "images", nnn(index) + ".jpg"), picture(index))


FOLDERS = {
    "LinearClean": lambda d, demo=False: model_folder(
        d, "LinearClean",
        [("ModelId", "LinearClean"), ("DeviceName", "Linear Clean"), ("DeviceUrl", "https://example.com/linear"),
         ("GainAdjust", "-3.5")],
        [("Setting", "Gain", "Tone"), ("Soft", "2", "5"), ("Bright", "4", "8")],
        [linear_model(16, cutoff=600.0, treble=0.0, gain=1.8, loudness=-10.0),
         linear_model(8, cutoff=1200.0, treble=2.0, gain=0.45, loudness=-16.0)], demo),
    "ConvCrunch": lambda d, demo=False: model_folder(
        d, "ConvCrunch",
        [("ModelId", "ConvCrunch"), ("DeviceName", "Conv Crunch"), ("DeviceUrl", "https://example.com/conv"),
         ("ScaleSettings", "true"), ("GainAdjust", "2"), ("Lowpass", "TRUE")],
        [("Setting", "Gain", "Bass", "Treble"), ("Rhythm", "3", "5", "7"), ("Lead", "9", "1", "5")],
        [convnet_model(3, drive=2.0, tone=0.8, batchnorm=False, loudness=-5.0),
         convnet_model(4, drive=24.0, tone=0.15, batchnorm=True, loudness=-4.0)], demo),
    "LstmLead": lambda d, demo=False: model_folder(
        d, "LstmLead",
        [("ModelId", "LstmLead"), ("DeviceName", "LSTM Lead"), ("DeviceUrl", "https://example.com/lstm"),
         ("BassBoost", "True"), ("BassCut", "false")],
        [("Setting", "Drive"), ("Edge", "6")],
        [lstm_model(5, drive=8.0, loudness=-7.0)], demo),
    "WaveHigh": lambda d, demo=False: model_folder(
        d, "WaveHigh",
        [("ModelId", "WaveHigh"), ("DeviceName", "WaveNet High Gain"), ("DeviceUrl", "https://example.com/wave"),
         ("ScaleSettings", "false"), ("BassCut", "true"), ("Lowpass", "true")],
        [("Setting", "Gain", "Presence"), ("Crunch", "5", "5"), ("Missing", "7", "3"), ("Broken", "9", "9")],
        # Row 1 has no model file; row 2 has one that the model core refuses (both left out by --demo).
        [wavenet_model(6, drive=20.0, loudness=-16.0), None, '{"version": "0.5.0", "architecture": "Linear"}'],
        demo),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("resource_dir")
    parser.add_argument("--only", choices=sorted(FOLDERS), help="write only this folder")
    parser.add_argument("--demo", action="store_true",
                        help="leave out the snapshots without a playable model (the test fixtures)")
    parser.add_argument("--keep-existing", action="store_true", help="leave folders that exist as they are")
    args = parser.parse_args()

    models_dir = os.path.join(args.resource_dir, "Models")
    names = [args.only] if args.only else list(FOLDERS)
    for name in names:
        if args.keep_existing and os.path.lexists(os.path.join(models_dir, name)):
            print("kept the existing folder %s" % name)
            continue
        FOLDERS[name](models_dir, args.demo)


if __name__ == "__main__":
    main()
