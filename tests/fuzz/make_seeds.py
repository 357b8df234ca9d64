#!/usr/bin/env python3
"""Writes the seed corpora under corpus/<target>/: small, valid databases
and values in each target's input layout (see the comment at the top of each
fuzz_*.cpp), so that fuzzing starts from inputs that get past the first
checks. Run it again after changing a layout."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
KEYS = [b"secret", b"", "kéy".encode(), b"\x7f\x01"]  # as fuzz_open picks them


def i32(*values):
    return b"".join(struct.pack("<i", v) for v in values)


def schema(fields):
    out = i32(len(fields))
    for name, indexed in fields:
        out += bytes([1 if indexed else 0]) + i32(len(name)) + name
    return out


def encipher(value, key):
    k = key[::-1]
    if not k:
        return value
    return bytes((b + k[i % len(k)]) % 256 for i, b in enumerate(value))


def image(values, key):
    body = b"".join(i32(len(v)) + encipher(v, key) for v in values)
    return i32(4 + len(body)) + body


def database(records, key, deleted=()):
    data, positions = b"", []
    for values in records:
        positions.append(len(data))
        data += image(values, key)
    live = [p for i, p in enumerate(positions) if i not in deleted]
    index = i32(len(live), *live)
    return index, data


def open_input(flags, schema_bytes, index, data):
    return bytes([flags]) + struct.pack("<HH", len(schema_bytes), len(index)) + schema_bytes + index + data


def write(target, name, content):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(content)


PEOPLE = [[b"Ada", b"London", b"first programmer"], [b"Grace", b"New York", b"compilers"],
          [b"Alan", b"London", b""], ["Zoë".encode(), "Zürich".encode(), b"\xc0\x80 nul"]]
THREE = schema([(b"name", True), (b"city", True), (b"note", False)])

# fuzz_open
write("fuzz_open", "empty", open_input(0, b"", b"", b""))
write("fuzz_open", "defined-never-opened", open_input(1, THREE, b"", b""))
for k, key in enumerate(KEYS):
    index, data = database(PEOPLE, key)
    write("fuzz_open", f"people-key{k}", open_input(1 | (k << 1), THREE, index, data))
index, data = database(PEOPLE, KEYS[0], deleted={1})
write("fuzz_open", "after-delete", open_input(1, THREE, index + i32(0), data))
# A delete cut short: entries shifted, count not yet written (last entry doubled).
index, data = database(PEOPLE, KEYS[0])
positions = struct.unpack("<4i", index[4:20])
write("fuzz_open", "torn-delete", open_input(1, THREE, i32(4, positions[0], positions[2], positions[3], positions[3]), data))
index, data = database([[b"same", b"a", b"1"], [b"same", b"b", b"2"]], KEYS[0])
write("fuzz_open", "repeated-key", open_input(1, THREE, index, data))
index, data = database([[], [], []], KEYS[0])
write("fuzz_open", "no-fields", open_input(0, b"", index, data))
write("fuzz_open", "index-count-too-big", open_input(1, THREE, i32(9, 0), database(PEOPLE, KEYS[0])[1]))

# fuzz_read_record
index, data = database(PEOPLE, KEYS[0])
for n, position in enumerate(struct.unpack("<4i", index[4:20])):
    write("fuzz_read_record", f"people-record{n}", bytes([3, len(KEYS[0])]) + KEYS[0] + i32(position) + data)
write("fuzz_read_record", "inside-a-record", bytes([3, 6]) + KEYS[0] + i32(5) + data)
write("fuzz_read_record", "past-the-end", bytes([3, 6]) + KEYS[0] + i32(len(data) + 100) + data)
write("fuzz_read_record", "no-fields", bytes([0, 0]) + i32(4) + i32(4, 4, 4))
write("fuzz_read_record", "wrong-key", bytes([3, 3]) + b"xyz" + i32(0) + data)

# fuzz_modified_utf8
for name, text in [("ascii", b"plain text"), ("two-byte", "Zoë Zürich".encode()),
                   ("three-byte", "€ 中文".encode()), ("surrogates", b"\xed\xa0\xbd\xed\xb8\x80"),
                   ("nul", b"a\xc0\x80b"), ("invalid", b"\x00\x80\xbf\xf0\x9f\x98\x80\xff\xc3"),
                   ("every-byte", bytes(range(256)))]:
    write("fuzz_modified_utf8", name, text)
