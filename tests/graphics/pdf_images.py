#!/usr/bin/env python3
"""Lists the image streams of a PDF that use a given filter, for the codec tests.

Usage: pdf_images.py FILE.pdf FILTER OUTDIR
For every image stream whose only filter is FILTER writes OUTDIR/<obj>.bin
(the raw stream data) and prints one line per image:
  <obj> <Width> <Height> key=value ... (DecodeParms of that filter, ints/bools)
/JBIG2Globals are written as OUTDIR/<obj>.globals with the key globals=1.
"""
import base64, json, subprocess, sys


def main():
    pdf, wanted, outdir = sys.argv[1], sys.argv[2], sys.argv[3]
    raw = subprocess.run(["qpdf", "--json=2", "--json-stream-data=inline", "--decode-level=none", pdf],
                         capture_output=True, check=False).stdout
    doc = json.loads(raw)
    objects = doc["qpdf"][1]
    def resolve(v):
        if isinstance(v, str) and v.endswith(" R"):
            o = objects.get("obj:" + v)
            if o is None:
                return None
            return o.get("value", o.get("stream", {}).get("dict"))
        return v
    for key, obj in objects.items():
        if not key.startswith("obj:") or "stream" not in obj:
            continue
        d = obj["stream"]["dict"]
        if d.get("/Subtype") != "/Image":
            continue
        filters = resolve(d.get("/Filter"))
        if isinstance(filters, str):
            filters = [filters]
        if not filters or filters[-1] != "/" + wanted:
            continue
        num = key.split()[0][4:]
        parms = resolve(d.get("/DecodeParms"))
        if isinstance(parms, list):
            parms = resolve(parms[-1])
        parms = parms or {}
        if len(filters) > 1:
            continue  # chained filters: none in the corpus for these codecs
        data = base64.b64decode(obj["stream"].get("data", ""))
        with open(f"{outdir}/{num}.bin", "wb") as f:
            f.write(data)
        fields = [num, str(resolve(d.get("/Width"))), str(resolve(d.get("/Height")))]
        for k, v in parms.items():
            v = resolve(v)
            if k == "/JBIG2Globals":
                ref = parms[k]
                gnum = ref.split()[0]
                g = subprocess.run(["qpdf", "--show-object=" + gnum, "--filtered-stream-data", pdf],
                                   capture_output=True)
                if g.returncode in (0, 3):
                    with open(f"{outdir}/{num}.globals", "wb") as f:
                        f.write(g.stdout)
                    fields.append("globals=1")
                continue
            if isinstance(v, bool):
                v = int(v)
            if isinstance(v, (int, float)):
                fields.append(f"{k[1:]}={int(v)}")
        print(" ".join(fields))


main()
