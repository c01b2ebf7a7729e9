#!/usr/bin/env bash
# Seeds: small installed OpenType CFF fonts and their bare "CFF " tables.
out=$1
for f in /usr/share/fonts/opentype/urw-base35/StandardSymbolsPS.otf /usr/share/fonts/opentype/urw-base35/D050000L.otf; do
  [ -f "$f" ] || continue
  cp "$f" "$out/"
  python3 - "$f" "$out/$(basename "$f").cff" <<'P'
import struct, sys
d = open(sys.argv[1], 'rb').read()
for t in range(struct.unpack('>H', d[4:6])[0]):
    rec = d[12 + 16 * t: 28 + 16 * t]
    if rec[:4] == b'CFF ':
        off, ln = struct.unpack('>II', rec[8:16])
        open(sys.argv[2], 'wb').write(d[off:off + ln])
P
done
