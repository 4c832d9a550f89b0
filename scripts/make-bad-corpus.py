#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes tests/data/bad/: containers derived from a good one (v05_text.ksw,
password "éèàç€ÿ", plaintext text.plain), each named after the outcome that
decrypting it must give: not-container--*, damaged--*, wrong-password--* or
ok--*. A broken file is "damaged" when it starts with the container magic and
"not a container" when it does not.
The fuzzer uses the same files as seeds."""
import glob
import os
import struct
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
good = open(os.path.join(root, "tests/data/vectors/v05_text.ksw"), "rb").read()
out_dir = os.path.join(root, "tests/data/bad")
K, S = struct.unpack_from("<ii", good, 8)
blob = good[16:16 + K]
sig = good[16 + K:16 + K + S]
ct = good[16 + K + S:]


def header(k, s, magic=b"KSW01001"):
    return magic + struct.pack("<ii", k, s)


def flip(data, index, mask=0x01):
    b = bytearray(data)
    b[index] ^= mask
    return bytes(b)


def put(data, offset, value):
    b = bytearray(data)
    b[offset:offset + len(value)] = value
    return bytes(b)


cases = {
    "not-container--empty": b"",
    "not-container--short-text": b"hello",
    "not-container--text": b"Dear diary, today I encrypted nothing at all.\n" * 20,
    "not-container--magic-and-key-length": put(good, 0, b"XXXXXXXX")[:8] + struct.pack("<ii", -1, S) + good[16:],
    "damaged--short-header": good[:15],
    "damaged--header-only": good[:16],
    "damaged--key-length-negative": header(-1, S) + good[16:],
    "damaged--signature-length-negative": header(K, -S) + good[16:],
    "damaged--key-length-zero": header(0, S) + good[16:],
    "damaged--signature-length-zero": header(K, 0) + good[16:],
    "damaged--key-past-end": header(100000, S) + good[16:],
    "damaged--lengths-overflow": header(0x7FFFFFFF, 0x7FFFFFFF) + good[16:],
    "damaged--blob-type": put(good, 16, b"\x07"),
    "damaged--blob-version": put(good, 17, b"\x01"),
    "damaged--blob-reserved": put(good, 18, b"\x01"),
    "damaged--blob-algorithm": put(good, 20, struct.pack("<I", 0x6602)),
    "damaged--blob-magic": put(good, 24, b"RSA2"),
    "damaged--blob-bits-not-bytes": put(good, 28, struct.pack("<I", 1020)),
    "damaged--blob-bits-past-blob": put(good, 28, struct.pack("<I", 2048)),
    "damaged--signature-wrong-size": header(K, S - 1) + blob + sig[:-1] + ct,
    "damaged--signature-not-below-modulus": header(K, S) + blob + b"\xff" * S + ct,
    "damaged--no-ciphertext": good[:16 + K + S],
    "damaged--ciphertext-cut": good[:-3],
    # The last plaintext block ends in padding byte 0x01; flipping bit 0x10 of
    # the byte above it in the previous ciphertext block makes it 0x11.
    "damaged--ciphertext-padding": flip(good, len(good) - 9, 0x10),
    "wrong-password--signature-changed": flip(good, 16 + K + 5),
    "wrong-password--modulus-changed": flip(good, 16 + 20 + 3),
    "ok--magic-changed": put(good, 0, b"XXXXXXXX"),
    "ok--exchange-key-algorithm": put(good, 20, struct.pack("<I", 0xA400)),
    "ok--blob-longer-than-key": header(K + 4, S) + blob + b"\0\0\0\0" + sig + ct,
}

os.makedirs(out_dir, exist_ok=True)
for old in glob.glob(os.path.join(out_dir, "*.ksw")):
    os.remove(old)
for name, data in cases.items():
    with open(os.path.join(out_dir, name + ".ksw"), "wb") as f:
        f.write(data)
print(f"{len(cases)} files in {out_dir}", file=sys.stderr)
