#!/usr/bin/env python3
"""Writes a test model catalogue into a plug-in resource folder.

    python3 tools/make_catalogue.py RESOURCE_DIR [--only ID]

creates RESOURCE_DIR/Models/<id>/ with "metadata.txt", "settings.txt", "models/NNN.kep" and
"images/NNN.jpg" for several model folders covering every architecture (Linear, ConvNet, LSTM,
WaveNet), the tone-filter flags, GainAdjust, ScaleSettings, a snapshot without a model file and a
broken model file. Weights come from a fixed seed and are scaled so that outputs stay small.
Standard library only; writes nothing outside RESOURCE_DIR.

Which folder the file system lists first cannot be chosen: tests read the directory order back.
"--only ID" writes just that folder (a catalogue with exactly one model).
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
    """A fixed-seed source of small weights."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.values = []

    def take(self, count, scale):
        self.values.extend(round(self.rng.uniform(-scale, scale), 6) for _ in range(count))

    def put(self, values):
        self.values.extend(values)


def model_file(architecture, config, weights, loudness, sample_rate=48000):
    return {
        "version": VERSION,
        "architecture": architecture,
        "config": config,
        "weights": weights,
        "metadata": {"loudness": loudness},
        "sample_rate": sample_rate,
    }


def linear_model(seed, taps=16, loudness=-18.0):
    w = Weights(seed)
    # A decaying, mostly low-pass FIR: weights[0] multiplies the current sample.
    w.put([round(math.exp(-j / 4.0) * (0.5 + 0.5 * w.rng.random()) / 3.0, 6) for j in range(taps)])
    w.put([0.0])  # bias
    return model_file("Linear", {"receptive_field": taps, "bias": True}, w.values, loudness)


def convnet_weight_count(channels, dilations, batchnorm):
    n = len(dilations)
    per_block = 4 * channels + 1 if batchnorm else channels
    return 2 * channels + (n - 1) * 2 * channels * channels + n * per_block + channels + 1


def convnet_model(seed, channels=3, dilations=(1, 2, 4), batchnorm=False, loudness=-14.0):
    w = Weights(seed)
    for i, _ in enumerate(dilations):
        in_channels = 1 if i == 0 else channels
        w.take(2 * channels * in_channels, 0.5 / math.sqrt(2 * in_channels))
        if batchnorm:
            w.take(channels, 0.05)                      # running means
            w.put([1.0] * channels)                     # running variances
            w.put([1.0] * channels)                     # weights
            w.take(channels, 0.05)                      # biases
            w.put([1e-5])                               # epsilon
        else:
            w.take(channels, 0.05)                      # convolution bias
    w.take(channels, 0.5 / math.sqrt(channels))         # head weights
    w.put([0.0])                                        # head bias
    assert len(w.values) == convnet_weight_count(channels, dilations, batchnorm)
    config = {"channels": channels, "batchnorm": batchnorm, "dilations": list(dilations), "activation": "Tanh"}
    return model_file("ConvNet", config, w.values, loudness)


def lstm_weight_count(layers, input_size, hidden):
    if layers <= 0:
        return hidden + 1
    return 4 * hidden * (input_size + hidden) + 6 * hidden + (layers - 1) * (8 * hidden * hidden + 6 * hidden) \
        + hidden + 1


def lstm_model(seed, layers=2, hidden=3, loudness=-12.0):
    w = Weights(seed)
    for layer in range(layers):
        width = 1 if layer == 0 else hidden
        w.take(4 * hidden * (width + hidden), 0.6 / math.sqrt(width + hidden))  # gate weights
        w.take(4 * hidden, 0.1)                                                # gate biases
        w.put([0.0] * hidden)                                                  # initial hidden state
        w.put([0.0] * hidden)                                                  # initial cell state
    w.take(hidden, 0.5 / math.sqrt(hidden))                                    # head weights
    w.put([0.0])                                                               # head bias
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


def wavenet_model(seed, loudness=-16.0):
    arrays = [
        {"input_size": 1, "condition_size": 1, "head_size": 2, "channels": 3, "kernel_size": 3,
         "dilations": [1, 2, 4], "activation": "Tanh", "gated": True, "head_bias": False},
        {"input_size": 3, "condition_size": 1, "head_size": 1, "channels": 2, "kernel_size": 2,
         "dilations": [1, 8], "activation": "Tanh", "gated": False, "head_bias": True},
    ]
    w = Weights(seed)
    for a in arrays:
        c, i, s, h, k = a["channels"], a["input_size"], a["condition_size"], a["head_size"], a["kernel_size"]
        g = 2 * c if a["gated"] else c
        w.take(c * i, 0.8 / math.sqrt(i))                  # input projection
        for _ in a["dilations"]:
            w.take(g * c * k, 0.5 / math.sqrt(c * k))     # dilated convolution taps
            w.take(g, 0.05)                                # its bias
            w.take(g * s, 0.3)                             # condition mixer
            w.take(c * c, 0.4 / math.sqrt(c))             # output mixer
            w.take(c, 0.05)                                # its bias
        w.take(h * c, 0.5 / math.sqrt(c))                 # head projection
        if a["head_bias"]:
            w.take(h, 0.05)
    w.put([0.5])                                           # head scale
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


def model_folder(models_dir, folder, metadata, table, snapshots):
    """snapshots: list (one per table row) of a model dict, a text (written as is) or None (no file)."""
    base = os.path.join(models_dir, folder)
    write(os.path.join(base, "metadata.txt"), "".join("%s=%s\n" % kv for kv in metadata))
    write(os.path.join(base, "settings.txt"), "".join(",".join(row) + "\n" for row in table))
    for index, model in enumerate(snapshots):
        if model is not None:
            text = model if isinstance(model, str) else json.dumps(model)
            write(os.path.join(base, "models", nnn(index) + ".kep"), text)
        write(os.path.join(base, "images", nnn(index) + ".jpg"), picture(index))


FOLDERS = {
    "LinearClean": lambda d: model_folder(
        d, "LinearClean",
        [("ModelId", "LinearClean"), ("DeviceName", "Linear Clean"), ("DeviceUrl", "https://example.com/linear"),
         ("GainAdjust", "-3.5")],
        [("Setting", "Gain", "Tone"), ("Soft", "2", "5"), ("Bright", "4", "8")],
        [linear_model(1, loudness=-10.0), linear_model(2, taps=8, loudness=-16.0)]),
    "ConvCrunch": lambda d: model_folder(
        d, "ConvCrunch",
        [("ModelId", "ConvCrunch"), ("DeviceName", "Conv Crunch"), ("DeviceUrl", "https://example.com/conv"),
         ("ScaleSettings", "true"), ("GainAdjust", "2"), ("Lowpass", "TRUE")],
        [("Setting", "Gain", "Bass", "Treble"), ("Rhythm", "3", "5", "7"), ("Lead", "9", "1", "5")],
        [convnet_model(3, batchnorm=False), convnet_model(4, batchnorm=True)]),
    "LstmLead": lambda d: model_folder(
        d, "LstmLead",
        [("ModelId", "LstmLead"), ("DeviceName", "LSTM Lead"), ("DeviceUrl", "https://example.com/lstm"),
         ("BassBoost", "True"), ("BassCut", "false")],
        [("Setting", "Drive"), ("Edge", "6")],
        [lstm_model(5)]),
    "WaveHigh": lambda d: model_folder(
        d, "WaveHigh",
        [("ModelId", "WaveHigh"), ("DeviceName", "WaveNet High Gain"), ("DeviceUrl", "https://example.com/wave"),
         ("ScaleSettings", "false"), ("BassCut", "true"), ("Lowpass", "true")],
        [("Setting", "Gain", "Presence"), ("Crunch", "5", "5"), ("Missing", "7", "3"), ("Broken", "9", "9")],
        # Row 1 has no model file; row 2 has one that the model core refuses.
        [wavenet_model(6), None, '{"version": "0.5.0", "architecture": "Linear"}']),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("resource_dir")
    parser.add_argument("--only", choices=sorted(FOLDERS), help="write only this folder")
    args = parser.parse_args()

    models_dir = os.path.join(args.resource_dir, "Models")
    names = [args.only] if args.only else list(FOLDERS)
    for name in names:
        FOLDERS[name](models_dir)


if __name__ == "__main__":
    main()
