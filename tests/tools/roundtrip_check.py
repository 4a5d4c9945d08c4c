"""Reads back, with Python's own csv and json modules, the values that zdb sql and zdb dump
wrote, and compares each with the value written through the library (expected.txt: record,
field, 'null' or 'x' and the bytes in hex). Usage: roundtrip_check.py WORKDIR"""
import csv
import json
import os
import struct
import sys

FIELDS = ["TXT", "DAY", "MEMO", "BIN", "DBL", "QTY"]


def expected_values(work):
    want = {}
    with open(os.path.join(work, "expected.txt"), encoding="ascii") as f:
        for line in f:
            record, field, value = line.split()
            want[(int(record), field)] = None if value == "null" else bytes.fromhex(value[1:])
    return want


def as_bytes(field, value, null_is_empty):
    """The bytes a value read back from text stands for (None for null)."""
    if value is None or (null_is_empty and value == "" and field in ("BIN", "DBL", "QTY")):
        return None
    if field == "DBL":
        return struct.pack("<d", float(value))
    if field == "QTY":
        return struct.pack("<h", int(value))
    if field == "BIN":
        if not value.startswith("\\x"):
            raise ValueError("binary value without \\x: %r" % value[:20])
        return bytes.fromhex(value[2:])
    return value.encode("utf-8", "surrogateescape")


def decode_tsv_field(text):
    if text == "\\N":
        return None
    if text.startswith("\\x"):
        return text
    out, i = [], 0
    escapes = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": "\0"}
    while i < len(text):
        if text[i] == "\\":
            out.append(escapes[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "surrogateescape")


def rows_of(form, work):
    if form == "sql csv":
        with open(os.path.join(work, "rows.csv"), newline="", encoding="utf-8",
                  errors="surrogateescape") as f:
            return list(csv.DictReader(f)), True
    if form == "dump csv":
        with open(os.path.join(work, "csv", "RT", "V.csv"), newline="", encoding="utf-8",
                  errors="surrogateescape") as f:
            return list(csv.DictReader(f)), True
    if form == "sql json":
        return json.loads(read_text(os.path.join(work, "rows.json"))), False
    lines = read_text(os.path.join(work, "rows.tsv")).split("\n")
    assert lines[-1] == "", "the tsv output ends with a newline"
    rows = []
    for line in lines[:-1]:
        values = [decode_tsv_field(v) for v in line.split("\t")]
        rows.append(dict(zip(["zdb_record"] + FIELDS, values)))
    return rows, False


def main():
    work = sys.argv[1]
    csv.field_size_limit(sys.maxsize)  # 1 MiB memos are single fields
    want = expected_values(work)
    records = max(r for r, _ in want)
    failures = 0
    forms = ["sql csv", "sql json", "sql tsv", "dump csv"]
    for form in forms:
        rows, null_is_empty = rows_of(form, work)
        if len(rows) != records:
            print("%s: %d rows for %d records" % (form, len(rows), records))
            failures += 1
            continue
        for row in rows:
            record = int(row["zdb_record"])
            for field in FIELDS:
                expected = want[(record, field)]
                if null_is_empty and expected is None and field not in ("BIN", "DBL", "QTY"):
                    expected = b""  # CSV has no null: an empty field stands for it
                got = as_bytes(field, row[field], null_is_empty)
                if got != expected:
                    failures += 1
                    if failures < 10:
                        print("%s: record %d field %s: %r, wanted %r" %
                              (form, record, field, (got or b"")[:40], (expected or b"")[:40]))
    if failures:
        print("%d values differ" % failures)
        return 1
    print("%d forms, %d values each, read back exactly" % (len(forms), len(want)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
