#!/usr/bin/env python3
"""Reads every corpus PDF with `pvl` and with qpdf and reports every difference.

For each file that qpdf reads without finding damage:
  - `pvl xref` lists the same in-use entries as `qpdf --show-xref`;
  - every object that qpdf sees as non-null parses (`pvl dump`);
  - every stream that both decode gives the same bytes as qpdf's filtered
    data (qpdf --json with inline stream data; in every eighth file one
    stream also through `pvl stream` and `pvl object` against
    `qpdf --show-object=N --filtered-stream-data`).
Damaged, fuzzed and unreadable files must end with status 0, 1 or 2 (no
crash, no hang); their differences from qpdf's own repair are listed only.

Exit status 1 when a difference is found in an undamaged file or a run
crashes or hangs.
"""
import argparse
import base64
import concurrent.futures
import json
import os
import re
import subprocess
import sys

PASSWORDS = {
    "libreoffice-writer-password.pdf": ("openpassword", "openpassword"),
    "issue6010_1.pdf": ("abc", "abc"),
    "issue6010_2.pdf": ("\u00e6\u00f8\u00e5", "\u00e6\u00f8\u00e5"),
    # qpdf does not prepare passwords: it is given the prepared form.
    "saslprep-r6.pdf": ("S\u00aaSL\u00adprep", "SaSLprep"),
    "issue15893_reduced.pdf": ("test", "test"),
}
# Filters our engine decodes; streams with others are compared raw only by qpdf.
DECODED = {"FlateDecode", "Fl", "LZWDecode", "LZW", "ASCII85Decode", "A85", "ASCIIHexDecode", "AHx"}
HANG_SECONDS = 300  # a hang guard for loaded machines under sanitizers, not a timing


# The driver's leaks are checked in-process by the unit suite; here a leak
# check at each of hundreds of exits would only cost time.
ENV = dict(os.environ)
ENV["ASAN_OPTIONS"] = (ENV.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")


def run(argv, timeout=HANG_SECONDS):
    try:
        p = subprocess.run(argv, capture_output=True, timeout=timeout, env=ENV)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return "timeout", b"", b""


def qpdf_xref(path, pw):
    code, out, err = run(["qpdf", "--show-xref"] + (["--password=" + pw] if pw else []) + [path])
    entries = {}
    for line in out.decode("latin-1").splitlines():
        m = re.match(r"(\d+)/(\d+): uncompressed; offset = (\d+)", line)
        if m:
            entries[int(m.group(1))] = "%s %s n %s" % m.groups()
            continue
        m = re.match(r"(\d+)/(\d+): compressed; stream = (\d+), index = (\d+)", line)
        if m:
            entries[int(m.group(1))] = "%s %s o %s %s" % m.groups()
    return code, entries, err.decode("latin-1", "replace")


def parse_dump(data):
    objects = {}
    pos = 0
    while pos < len(data):
        eol = data.index(b"\n", pos)
        num, gen, kind, status, filters, length = data[pos:eol].decode("latin-1").split(" ")
        start = eol + 1
        end = start + int(length)
        objects[int(num)] = (kind, status, filters, data[start:end])
        pos = end + 1
    return objects


def check_file(pvl, path, spot_check):
    name = os.path.basename(path)
    ours_pw, qpdf_pw = PASSWORDS.get(name, ("", ""))
    pw_args = ["--password", ours_pw] if ours_pw else []
    problems, notes = [], []

    # qpdf says on standard error when it had to repair the cross-reference data.
    xref_code, theirs, xref_err = qpdf_xref(path, qpdf_pw)
    damaged = xref_code not in (0, 3) or "file is damaged" in xref_err or "xref not found" in xref_err

    code, out, err = run([pvl, "xref", path] + pw_args)
    if code not in (0, 1, 2):
        return [f"{name}: pvl xref ended with {code}: {err[-300:]!r}"], notes
    dump_code, dump, dump_err = run([pvl, "dump", path] + pw_args)
    if dump_code not in (0, 1, 2):
        return [f"{name}: pvl dump ended with {dump_code}: {dump_err[-300:]!r}"], notes
    if damaged:
        notes.append(f"{name}: damaged (qpdf --show-xref {xref_code}); pvl xref {code}, dump {dump_code}")
        return problems, notes
    if code != 0:
        return [f"{name}: pvl xref failed ({code}): {err.decode('latin-1').strip()}"], notes

    ours = {}
    for line in out.decode("latin-1").splitlines():
        parts = line.split(" ")
        if parts[2] in ("n", "o"):
            ours[int(parts[0])] = line
    for num in sorted(set(ours) | set(theirs)):
        if ours.get(num) != theirs.get(num):
            problems.append(f"{name}: xref {num}: pvl {ours.get(num)!r}, qpdf {theirs.get(num)!r}")

    objects = parse_dump(dump)
    jcode, jout, jerr = run(["qpdf", "--json=2", "--json-key=qpdf", "--json-stream-data=inline",
                          "--decode-level=generalized"] + (["--password=" + qpdf_pw] if qpdf_pw else []) + [path])
    if jcode not in (0, 3) or b"file is damaged" in jerr:
        # qpdf found the damage only while reading objects: its repair is not
        # an oracle for ours.
        notes.append(f"{name}: damaged or unreadable for qpdf --json ({jcode})")
        return [], notes
    qobjects = json.loads(jout)["qpdf"][1]
    compared = []
    for key, value in qobjects.items():
        m = re.match(r"obj:(\d+) (\d+) R", key)
        if not m:
            continue
        num = int(m.group(1))
        ours_obj = objects.get(num)
        if ours_obj is None:
            # qpdf lists referenced objects that the file lacks, as null.
            if value.get("value") is not None or "stream" in value:
                problems.append(f"{name}: object {num} missing from pvl dump")
            continue
        kind, status, filters, payload = ours_obj
        if "stream" in value:
            if kind != "stream":
                problems.append(f"{name}: object {num} is a stream for qpdf, {kind} for pvl")
                continue
            qdict = value["stream"]["dict"]
            if "/Filter" in qdict or "data" not in value["stream"]:
                continue  # qpdf could not decode it
            if filters != "-" and not set(filters.split(",")) <= DECODED:
                continue
            expected = base64.b64decode(value["stream"]["data"])
            if status != "ok" or payload != expected:
                problems.append(f"{name}: stream {num} ({filters}) differs: pvl {status} {len(payload)} bytes, "
                                f"qpdf {len(expected)} bytes")
            else:
                compared.append(num)
        elif value.get("value") is not None and kind == "null":
            problems.append(f"{name}: object {num} does not parse")
    # Some streams through the single-object commands as well.
    for num in compared[:1] if spot_check else []:
        c1, ours_bytes, _ = run([pvl, "stream", path, str(num)] + pw_args)
        c2, qpdf_bytes, _ = run(["qpdf", f"--show-object={num}", "--filtered-stream-data"] +
                                (["--password=" + qpdf_pw] if qpdf_pw else []) + [path])
        if c1 != 0 or c2 not in (0, 3) or ours_bytes != qpdf_bytes:
            problems.append(f"{name}: pvl stream {num} ({c1}) differs from qpdf --show-object ({c2})")
        c3, text, _ = run([pvl, "object", path, str(num)] + pw_args)
        if c3 != 0 or not text:
            problems.append(f"{name}: pvl object {num} failed ({c3})")
    return problems, notes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pvl", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()
    files = sorted(os.path.join(root, f) for root, _, names in os.walk(args.corpus)
                   for f in names if f.endswith(".pdf"))
    problems, notes = [], []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 2)) as pool:
        for p, n in pool.map(lambda i: check_file(args.pvl, files[i], i % 8 == 0), range(len(files))):
            problems += p
            notes += n
    if args.verbose:
        for n in notes:
            print("note:", n)
    for p in problems:
        print("DIFFERENCE:", p)
    print(f"{len(files)} files, {len(problems)} differences, {len(notes)} damaged or skipped")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
