#!/usr/bin/env python3
"""Raw and decoded stream data of PDF files, as qpdf sees them.

usage: qpdf_streams.py OUTDIR FILE...

For every stream whose /Filter chain qpdf decodes completely, writes the raw
and the decoded bytes to OUTDIR and prints one manifest line:
  raw-path <TAB> decoded-path <TAB> file:object <TAB> filter;filter...
where each filter is Name,Predictor,Colors,BitsPerComponent,Columns,EarlyChange
(an empty field: the parameter is absent or not a number). Encrypted files
are skipped.
"""
import concurrent.futures
import json
import os
import subprocess
import sys

OURS = {"/FlateDecode", "/Fl", "/ASCII85Decode", "/A85", "/ASCIIHexDecode", "/AHx", "/LZWDecode", "/LZW"}
KEYS = ["/Predictor", "/Colors", "/BitsPerComponent", "/Columns", "/EarlyChange"]
PER_FILE = 40


def qpdf_json(path, prefix, level):
    out = subprocess.run(["qpdf", "--json", "--json-stream-data=file", "--json-stream-prefix=" + prefix,
                          "--decode-level=" + level, path, "-"], capture_output=True, timeout=120)
    if out.returncode not in (0, 3):  # 3: warnings
        return None
    return json.loads(out.stdout)


def resolve(objs, value):
    if isinstance(value, str) and value.endswith(" R"):
        v = objs.get("obj:" + value)
        return v.get("value") if isinstance(v, dict) else None
    return value


def main():
    outdir = sys.argv[1]
    files = sys.argv[2:]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        raws = pool.map(lambda n: qpdf_json(files[n], os.path.join(outdir, "%d-raw" % n), "none"), range(len(files)))
        decs = pool.map(lambda n: qpdf_json(files[n], os.path.join(outdir, "%d-dec" % n), "generalized"),
                        range(len(files)))
        raws, decs = list(raws), list(decs)
    for path, raw, flt in zip(files, raws, decs):
        if raw is None or flt is None or raw.get("encrypt", {}).get("encrypted"):
            continue
        robjs, fobjs = raw["qpdf"][1], flt["qpdf"][1]
        picked = []
        for key, v in robjs.items():
            if not isinstance(v, dict) or "stream" not in v:
                continue
            d = v["stream"]["dict"]
            filters = resolve(robjs, d.get("/Filter"))
            if isinstance(filters, str):
                filters = [filters]
            if not filters or any(f not in OURS for f in filters):
                continue
            fv = fobjs.get(key)
            if not isinstance(fv, dict) or "/Filter" in fv["stream"]["dict"]:
                continue  # qpdf did not decode it
            if "datafile" not in v["stream"] or "datafile" not in fv["stream"]:
                continue
            parms = resolve(robjs, d.get("/DecodeParms", d.get("/DP")))
            if isinstance(parms, dict):
                parms = [parms] + [None] * (len(filters) - 1)
            elif not isinstance(parms, list):
                parms = [None] * len(filters)
            items = []
            for i, f in enumerate(filters):
                p = resolve(robjs, parms[i]) if i < len(parms) else None
                fields = [f[1:]]
                for k in KEYS:
                    x = resolve(robjs, p.get(k)) if isinstance(p, dict) else None
                    fields.append(str(int(x)) if isinstance(x, (int, float)) and not isinstance(x, bool) else "")
                items.append(",".join(fields))
            interesting = any(x.split(",")[1] for x in items) or len(filters) > 1 or filters[0] not in ("/FlateDecode", "/Fl")
            picked.append((not interesting, key, v["stream"]["datafile"], fv["stream"]["datafile"], items))
        picked.sort()
        for _, key, rawfile, decfile, items in picked[:PER_FILE]:
            print("%s\t%s\t%s:%s\t%s" % (rawfile, decfile, os.path.basename(path), key, ";".join(items)))


if __name__ == "__main__":
    main()
