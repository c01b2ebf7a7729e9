#!/usr/bin/env python3
"""Lists the embedded Type 1 / CFF font programs of PDF files, one line each:
file<TAB>object number<TAB>kind (FontFile, FontFile3/Type1C, FontFile3/CIDFontType0C,
FontFile3/OpenType)<TAB>Length1<TAB>Length2<TAB>Length3.
Reads the files through qpdf's JSON output (qpdf is the oracle; nothing of
ours is involved)."""
import json
import subprocess
import sys


def ref_number(v):
    if isinstance(v, str) and v.endswith(" R"):
        return int(v.split()[0])
    return None


def main():
    for path in sys.argv[1:]:
        try:
            out = subprocess.run(["qpdf", "--json=2", "--json-stream-data=none", path],
                                 capture_output=True, timeout=60).stdout
            doc = json.loads(out)
        except Exception:
            continue
        objects = {}
        for entry in doc.get("qpdf", [None, {}])[1:]:
            for key, val in entry.items():
                if key.startswith("obj:"):
                    objects[int(key.split()[0][4:])] = val
        seen = set()
        for num, obj in objects.items():
            value = obj.get("value")
            if not isinstance(value, dict):
                continue
            for key in ("/FontFile", "/FontFile3"):
                n = ref_number(value.get(key))
                if n is None or n in seen or n not in objects:
                    continue
                stream = objects[n].get("stream")
                if not stream:
                    continue
                sd = stream.get("dict", {})
                def num_of(k):
                    v = sd.get(k)
                    if isinstance(v, (int, float)):
                        return int(v)
                    r = ref_number(v)
                    if r is not None:
                        rv = objects.get(r, {}).get("value")
                        if isinstance(rv, (int, float)):
                            return int(rv)
                    return 0
                kind = "FontFile" if key == "/FontFile" else "FontFile3/" + str(sd.get("/Subtype", "")).lstrip("/")
                seen.add(n)
                print(f"{path}\t{n}\t{kind}\t{num_of('/Length1')}\t{num_of('/Length2')}\t{num_of('/Length3')}")


if __name__ == "__main__":
    main()
