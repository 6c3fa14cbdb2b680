#!/usr/bin/env python3
"""Writes the decoder fuzzer's seed corpus into fuzz/corpus/: valid datagrams
of every shape Velto meets, and broken ones at each edge the decoder guards.
The files are committed; run this again only to change them."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def pad(raw):
    return raw + b"\0" * (4 - len(raw) % 4)


def s(text):
    return pad(text.encode("ascii") if isinstance(text, str) else text)


def i(value):
    return struct.pack(">i", value)


def f(value):
    return struct.pack(">f", value)


def b(blob):
    return i(len(blob)) + pad(blob)


def message(address, tags="", *arguments):
    return s(address) + s("," + tags) + b"".join(arguments)


def led(x, y, state):
    return message("/monome/led", "iii", i(x), i(y), i(state))


TIME_TAG = bytes.fromhex("bdfa470080000000")  # 0.5 s after 2001-01-01


def bundle(*elements, tag=TIME_TAG):
    return s("#bundle") + tag + b"".join(i(len(e)) + e for e in elements)


def nested(depth, inner):
    for _ in range(depth):
        inner = bundle(inner)
    return inner


SEEDS = {
    # Valid.
    "press": message("/monome/press", "iii", i(2), i(5), i(1)),
    "led": led(3, 5, 1),
    "led_bundle": bundle(led(3, 5, 1)),
    "ping": message("/stagevue/ping"),
    "layer_number": message("/stagevue/layerNumber", "i", i(4)),
    "every_type": message("/x", "sifb", s("abcd"), i(-1), f(0.5), b(b"\x01\x02\x03\x04\x05")),
    "blobs_of_4_and_5": message("/b", "bb", b(b"\x01\x02\x03\x04"), b(b"\x01\x02\x03\x04\x05")),
    "opacity_and_leds": bundle(message("/stagevue/layer/opacity/1", "f", f(50.0)),
                               led(0, 7, 1), led(0, 6, 1), led(0, 5, 0)),
    "nested": bundle(led(0, 1, 1), bundle(led(2, 3, 0), led(4, 5, 1))),
    "nested_64": nested(64, led(1, 2, 3)),
    "bundle_head_only": bundle(),
    "empty_nested_bundle": bundle(led(1, 1, 1), bundle()),
    "immediate_time_tag": bundle(led(1, 1, 1), tag=bytes.fromhex("0000000000000001")),
    # Broken or tolerated.
    "blob_size_past_end": message("/b", "b") + i(100) + bytes(8),
    "blob_size_cut_short": message("/b", "b") + b"\0\0",
    "blob_size_negative": message("/b", "bi") + i(-4) + bytes(4) + i(7),
    "blob_starts_beyond_end": message("/b", "bb"),
    "zero_size_last_element": bundle(led(1, 1, 1)) + i(0),
    "zero_size_middle_element": bundle(led(1, 1, 1), b"", led(2, 2, 2)),
    "element_without_type_tags": bundle(led(1, 1, 1), s("/monome/led"), led(2, 2, 2)),
    "element_size_past_end": bundle(led(1, 1, 1))[:16] + i(36) + led(1, 1, 1),
    "element_size_negative": bundle(led(1, 1, 1))[:16] + i(-4) + led(1, 1, 1),
    "size_field_cut_short": bundle(led(1, 1, 1)) + b"\0\0",
    "stray_byte_after_bundle": bundle(led(1, 1, 1)) + b"\x07",
    "nested_bundle_too_short": bundle(led(1, 1, 1), b"#bundle\0\0\0\0\0"),
    "unterminated_address": b"/abc",
    "unterminated_type_tags": s("/a") + b",iii",
    "unterminated_string_argument": message("/s", "s") + b"abcd",
    "type_tags_without_comma": s("/a") + s("iii") + i(1) + i(2) + i(3),
    "empty_type_tags": s("/a") + bytes(4),
    "unknown_tag_d": message("/a", "d") + bytes(8),
    "unknown_tag_T": message("/a", "T"),
    "unknown_tag_in_second_element": bundle(led(1, 1, 1), message("/a", "h") + bytes(8), led(2, 2, 2)),
    "float_cut_short": message("/f", "f") + b"\x3f\x00",
    "int_cut_short": led(3, 5, 1)[:30],
    "non_ascii_address": s(b"/\xe9") + s(","),
    "non_ascii_string": message("/s", "s") + s(b"a\x80"),
    "hash_alone": b"#",
    "hash_bundle_8": b"#bundle\0",
    "hash_15": bundle(led(1, 1, 1))[:15],
    "deep_fault": nested(8, bundle(led(1, 1, 1), led(3, 5, 1)[:30])),
}


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(CORPUS, name + ".osc"), "wb") as out:
            out.write(data)
    print(f"{len(SEEDS)} seeds in {CORPUS}")


if __name__ == "__main__":
    main()
