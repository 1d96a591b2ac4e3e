#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

    python3 tools/make_fuzz_seeds.py [CORPUS_DIR]

Seeds come from the test catalogue of make_catalogue.py: its model files (model_file), the
"metadata.txt" and "settings.txt" of each folder joined by a zero byte (catalogue), settings
files in the plug-in's format (settings) and host state blocks naming its models and
snapshots (host_state) and, for the framework's VST3 wrapper (wrapper_state), such blocks with the
trailer that the wrapper appends, behind the byte that picks how the host's stream reads, and
snapshot pictures in each format that the framework decodes (picture). CORPUS_DIR defaults to
tests/fuzz/corpus. Standard library only.
"""
import os
import struct
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_catalogue  # noqa: E402


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def settings_json(scaling, first_use, model_id, index):
    lines = ['{', '  "UiScaling": %s,' % scaling, '  "FirstUseDate": "%s",' % first_use,
             '  "LastSelectedModelId": "%s",' % model_id, '  "LastSelectedModelIdx": %s' % index, '}']
    return "\r\n".join(lines).encode()


def state_block(model_id, index, gain_in="0.6667", gain_out="0.6667"):
    xml = ('<?xml version="1.0" encoding="UTF-8"?> <Ferrowick><PARAM id="GainIn" value="%s"/>'
           '<PARAM id="GainOut" value="%s"/><ModelId>%s</ModelId><ProgramIndex>%s</ProgramIndex></Ferrowick>'
           % (gain_in, gain_out, model_id, index)).encode()
    return b"VC2!" + struct.pack("<I", len(xml) + 1) + xml + b"\0"


def framework_tree(bypass):
    """The wrapper's private tree: its type, one property "Bypass" (a boolean), no children."""
    return (b"JUCEPrivateData\0" + b"\x01\x01" + b"Bypass\0" + b"\x01\x01" + (b"\x02" if bypass else b"\x03")
            + b"\x00")


def with_trailer(block, tree):
    return block + struct.pack("<q", 0) + tree + struct.pack("<q", len(tree)) + b"JUCEPrivateData"


def png(width, height, palette=False):
    """An 8-bit RGBA picture, or a paletted one whose first colour is transparent."""
    def chunk(kind, payload):
        return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload))
    if palette:
        header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)
        extra = chunk(b"PLTE", bytes([0, 0, 0, 200, 40, 40, 40, 200, 40])) + chunk(b"tRNS", b"\x00")
        rows = b"".join(b"\x00" + bytes((x + y) % 3 for x in range(width)) for y in range(height))
    else:
        header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
        extra = b""
        rows = b"".join(b"\x00" + bytes(v for x in range(width) for v in (40 * x, 60 * y, 90, 255 - 20 * x))
                        for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def gif(width, height, transparent=False, interlaced=False):
    """Four colours; the image data in 3-bit codes, a clear code before every two pixels so that
    the code size never grows."""
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0)
    data += bytes([0, 0, 0, 230, 60, 20, 20, 160, 60, 250, 250, 250])
    if transparent:
        data += b"\x21\xF9\x04\x01\x00\x00\x03\x00"
    data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0x40 if interlaced else 0)
    pixels = [(x + 2 * y) % 4 for y in range(height) for x in range(width)]
    codes = []
    for i in range(0, len(pixels), 2):
        codes += [4] + pixels[i:i + 2]
    codes.append(5)
    value = bits = 0
    packed = bytearray()
    for code in codes:
        value |= code << bits
        bits += 3
        while bits >= 8:
            packed.append(value & 0xFF)
            value >>= 8
            bits -= 8
    if bits:
        packed.append(value)
    data += b"\x02"
    for i in range(0, len(packed), 255):
        block = packed[i:i + 255]
        data += bytes([len(block)]) + block
    return data + b"\x00\x3B"


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "tests", "fuzz", "corpus")
    with tempfile.TemporaryDirectory() as tmp:
        models = os.path.join(tmp, "Models")
        for name in make_catalogue.FOLDERS:
            make_catalogue.FOLDERS[name](models)
        for name in sorted(make_catalogue.FOLDERS):
            base = os.path.join(models, name)
            with open(os.path.join(base, "metadata.txt"), "rb") as f:
                metadata = f.read()
            with open(os.path.join(base, "settings.txt"), "rb") as f:
                table = f.read()
            write(os.path.join(corpus, "catalogue", name), metadata + b"\0" + table)
            model_dir = os.path.join(base, "models")
            for kep in sorted(os.listdir(model_dir)):
                with open(os.path.join(model_dir, kep), "rb") as f:
                    write(os.path.join(corpus, "model_file", name + "-" + kep), f.read())

    write(os.path.join(corpus, "settings", "defaults"), settings_json(100, "20240131T142305.123+0100", "", 0))
    write(os.path.join(corpus, "settings", "chosen"), settings_json(150, "20240131T132305.123Z", "WaveHigh", 2))
    write(os.path.join(corpus, "settings", "converted"),
          settings_json('"125"', "", "LstmLead", 120.7))

    # The host_state target's catalogue holds the folders LinearClean and WaveHigh only.
    states = {"linear-1": ("LinearClean", 1), "linear-no-snapshot": ("LinearClean", -1),
              "wave-0": ("WaveHigh", 0, "1", "0"), "wave-missing-file": ("WaveHigh", 1),
              "wave-broken-file": ("WaveHigh", 2), "unknown-id": ("LstmLead", "0abc", "0.25", "0.9")}
    for name, args in states.items():
        write(os.path.join(corpus, "host_state", name), state_block(*args))

    # The wrapper_state target's catalogue holds LinearClean only. The first byte: bit 0, the
    # stream tells its size; bits 1-2, how many bytes a read returns (all, 1, 7, 4096).
    linear = state_block("LinearClean", 1)
    wrapper_states = {"bypass-on": (0x01, with_trailer(linear, framework_tree(True))),
                      "bypass-off-bytewise": (0x02, with_trailer(linear, framework_tree(False))),
                      "no-trailer": (0x01, linear),
                      "empty-tree-chunked": (0x07, with_trailer(linear, b""))}
    for name, (mode, state) in wrapper_states.items():
        write(os.path.join(corpus, "wrapper_state", name), bytes([mode]) + state)

    # Snapshot pictures: the catalogue's JPEG, and PNG and GIF pictures under the same name.
    pictures = {"catalogue.jpg": make_catalogue.picture(1), "rgba.png": png(6, 4),
                "palette.png": png(5, 3, palette=True), "plain.gif": gif(6, 4),
                "transparent-interlaced.gif": gif(5, 9, transparent=True, interlaced=True)}
    for name, data in pictures.items():
        write(os.path.join(corpus, "picture", name), data)

if __name__ == "__main__":
    main()
