#!/usr/bin/env python3
"""Prints the terminal fields of a PDF's form as qpdf sees them, one line per
field (a field with several widgets once), sorted:

    fully qualified name <TAB> kind <TAB> value <TAB> field flags

kind is text, button, checkbox, radio, choice or signature; values are
decoded the way the engine reports them (names without the slash, strings
as text, several selections joined with a carriage return, a button without
a value as Off). Tabs, line breaks and backslashes are escaped as \\t, \\n,
\\r and \\\\. Exit status 2 when qpdf cannot read the file.
"""
import json
import subprocess
import sys


def escape(text):
    return (text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r"))


def value_text(value):
    if value is None:
        return ""
    if isinstance(value, list):
        return "\r".join(value_text(v) for v in value if isinstance(v, str) and v.startswith("u:"))
    if isinstance(value, str):
        if value.startswith("u:"):
            return value[2:]
        if value.startswith("/"):
            return value[1:]
        return ""
    return ""


def main():
    args = ["qpdf", "--json=2", "--json-key=acroform"]
    if len(sys.argv) > 2:
        args.append("--password=" + sys.argv[2])
    result = subprocess.run(args + [sys.argv[1]], capture_output=True)
    if result.returncode not in (0, 3) or not result.stdout:
        sys.exit(2)
    form = json.loads(result.stdout)["acroform"]
    lines = set()
    for f in form.get("fields", []):
        kind = {"/Tx": "text", "/Ch": "choice", "/Sig": "signature"}.get(f["fieldtype"])
        value = value_text(f.get("value"))
        if f["fieldtype"] == "/Btn":
            if f.get("isradiobutton"):
                kind = "radio"
            elif f.get("ischeckbox"):
                kind = "checkbox"
            else:
                kind = "button"
            if kind != "button" and not value:
                value = "Off"
        if kind is None:
            continue
        lines.add("\t".join([escape(f["fullname"]), kind, escape(value), str(f["fieldflags"] & 0xFFFFFFFF)]))
    for line in sorted(lines):
        print(line)


if __name__ == "__main__":
    main()
