#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/). The seeds are checked
in; run this again only when a target's input layout changes."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def frame(kind, flags, opcode, slots, handle=0xFFFFFFFF, status=2001):
    lengths = [len(s) for s in slots] + [0] * (16 - len(slots))
    offsets, at = [], 0
    for s in slots:
        offsets.append(at)
        at += len(s)
    offsets += [0] * (16 - len(slots))
    head = b"ZDBServer" + bytes([kind, flags]) + struct.pack("<H", 3) + bytes([0, 0x20, 0])
    head += struct.pack("<I", opcode) + struct.pack("<b", len(slots))
    head += struct.pack("<16I", *lengths) + struct.pack("<16I", *offsets)
    head += struct.pack("<IIi", 161 + at, handle, status)
    assert len(head) == 161
    return head + b"".join(slots)


def text(s):
    return s.encode() + b"\0"


def record(data):
    return struct.pack("<i", len(data)) + data


END = record(b"\x03\x04")


def file_block(data):
    head = bytearray(64)
    head[16] = 0x10
    head[24:28] = struct.pack("<i", len(data))
    return bytes(head) + data


def status(s):
    return struct.pack("<i", s)


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def field_defs(defs):
    out = bytearray(12900)
    for i, (name, t, st, w) in enumerate(defs):
        rec = ("%-32s" % name).encode() + b"\0" + t.encode() + st.encode() + struct.pack("<I", w)
        out[i * 43:i * 43 + len(rec)] = rec
    return bytes(out)


# ---- record stream: a split seed, then the stream --------------------------------------------
write("fuzz_record_stream", "plain", b"\x05" + record(b"hello") + record(b"") + END + status(1000))
write("fuzz_record_stream", "long", b"\x11" + record(bytes(range(256)) * 28) + END)
write("fuzz_record_stream", "negative", b"\x01" + record(b"ab") + struct.pack("<i", -5))
write("fuzz_record_stream", "two_bytes", b"\x02" + record(b"\x03\x05") + record(b"\x04") + END)
write("fuzz_record_stream", "cut", b"\x03" + record(b"abc")[:5])

# ---- trace parser: chunks of (direction bit | length) and bytes -----------------------------


def chunks(direction, data):
    out = b""
    while data:
        piece, data = data[:127], data[127:]
        out += bytes([direction | len(piece)]) + piece
    return out


login = frame(1, 0, 0, [text("user"), text("pw")])
login_reply = frame(1, 0, 0, [text("user"), text("pw")], handle=0x1234, status=1000)
put = frame(1, 0x80, 28, [text("NOTE"), b"abc\0", struct.pack("<I", 4)], handle=0x1234)
script = frame(2, 0xD0, 0, [text("/tmp/con1"), text("out.txt"), struct.pack("<i", 0)], 0x1234)
export = frame(1, 0xA0, 88, [text("sales"), text("full"), text("/tmp/x")], 0x1234)
write("fuzz_trace_parser", "login", chunks(0, login) + chunks(0x80, login_reply))
write("fuzz_trace_parser", "status", chunks(0, put) + chunks(0x80, status(3003)))
write("fuzz_trace_parser", "script",
      chunks(0, script + file_block(b"#select 1\0")) +
      chunks(0x80, record(b"row 1") + record(b"") + END + status(1000)))
write("fuzz_trace_parser", "export",
      chunks(0, export) + chunks(0x80, file_block(bytes(300)) + status(1000)))

# ---- zdbd: what a client sends on one connection (even handle byte: the live session) ------
H = 0x1234  # replaced by the live handle
session = [
    frame(1, 0, 2, [bytes(4)], H),
    frame(1, 0x80, 86, [text("SHOP"), text(""), text(""), bytes(2), text("")], H),
    frame(1, 0x80, 3, [text("SHOP")], H),
    frame(1, 0x80, 5, [text("SHOP")], H),
    frame(1, 0, 70, [text("ITEMS"), text("NAME C 12; QTY I; PRICE N"), text("items"),
                     bytes(113)], H),
    frame(1, 0x80, 10, [text("ITEMS"), text(""), text("")], H),
    frame(1, 0x80, 12, [text("ITEMS"), text("")], H),
    frame(1, 0x80, 24, [], H),
    frame(1, 0x80, 28, [text("NAME"), b"bolt\0", struct.pack("<I", 5)], H),
    frame(1, 0, 27, [text("NAME"), bytes(12), struct.pack("<I", 12)], H),
    frame(1, 0, 63, [text("*"), bytes(12900)], H),
    frame(1, 0, 30, [field_defs([("NAME", "C", " ", 12), ("QTY", "I", " ", 6)]), bytes(20)], H),
]
write("fuzz_zdbd", "session", b"".join(session))
write("fuzz_zdbd", "login", frame(1, 0, 0, [text(""), text("")]) + frame(1, 0, 2, [bytes(4)], H))
write("fuzz_zdbd", "script",
      b"".join(session[1:4]) +
      frame(2, 0xD0, 0, [text("/tmp/con1"), text("out.txt"), struct.pack("<i", 0)], H) +
      file_block(b"#create table t(a); insert into t values(1); select * from t;\0"))
write("fuzz_zdbd", "error_text", frame(1, 0, 120, [struct.pack("<I", 4001), bytes(129)], H))
write("fuzz_zdbd", "logout", frame(1, 0, 1, [], H))

# ---- library replies: the call, then (mode, length, bytes) per request ----------------------


def answer(mode, data):
    return bytes([mode]) + struct.pack("<H", len(data)) + data


over_ok = struct.pack("<Ii", 0x1234, 1000)  # laid over the request: handle and status
write("fuzz_library_replies", "get_field", b"\x00" + answer(1, over_ok))
write("fuzz_library_replies", "status", b"\x01" + answer(0, status(1805)))
write("fuzz_library_replies", "export",
      b"\x02" + answer(0, file_block(bytes(range(200))) + status(1000)))
write("fuzz_library_replies", "script",
      b"\x03" + answer(0, record(b"hello") + record(b"") + END + status(1000)))
defs = field_defs([("A", "C", " ", 5), ("B", "N", " ", 8), ("C", "C", "M", 10)])
write("fuzz_library_replies", "records",
      b"\x04" + answer(1, over_ok + b"*\0" + defs) + answer(1, over_ok))
write("fuzz_library_replies", "login",
      b"\x05" + answer(1, over_ok) + answer(1, over_ok + struct.pack("<I", 0x1234)))
