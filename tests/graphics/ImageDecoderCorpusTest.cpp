// Every image XObject of the corpus decoded to RGB and alpha and compared with
// the pictures pdfimages writes for the same objects. Differences are listed
// with their reason; only the listed kinds of difference are accepted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "graphics/PavonaImageDecoder.h"

namespace {

// Writes every object of a PDF (decrypted, stream data as stored) into a
// simple bundle: "num gen O len\n<syntax>" or "num gen S dictlen datalen\n<dict><data>".
const char* kBundleScript = R"PY(
import base64, concurrent.futures, json, os, re, subprocess, sys
outdir, pdfs = sys.argv[1], sys.argv[2:]
ref = re.compile(r"^(\d+) \d+ R$")
def refs(v, found):
    if isinstance(v, str):
        m = ref.match(v)
        if m: found.add(int(m.group(1)))
    elif isinstance(v, list):
        for x in v: refs(x, found)
    elif isinstance(v, dict):
        for x in v.values(): refs(x, found)
def enc(v):
    if v is None: return "null"
    if v is True: return "true"
    if v is False: return "false"
    if isinstance(v, int): return str(v)
    if isinstance(v, float): return ("%.10f" % v).rstrip("0").rstrip(".") or "0"
    if isinstance(v, str):
        if v.startswith("n:"): return v[2:]
        if v.startswith("b:"): return "<" + v[2:] + ">"
        if v.startswith("u:"):
            t = v[2:]
            try: b = t.encode("latin-1")
            except UnicodeEncodeError: b = b"\xfe\xff" + t.encode("utf-16-be")
            return "<" + b.hex() + ">"
        return v
    if isinstance(v, list): return "[" + " ".join(enc(x) for x in v) + "]"
    if isinstance(v, dict): return "<<" + " ".join(k + " " + enc(x) for k, x in v.items()) + ">>"
    return "null"
def work(index):
    pdf = pdfs[index]
    out = os.path.join(outdir, str(index))
    os.makedirs(out, exist_ok=True)
    lst = subprocess.run(["pdfimages", "-list", pdf], capture_output=True).stdout.decode("latin-1")
    with open(os.path.join(out, "list.txt"), "w") as f: f.write(lst)
    wanted = set()
    for line in lst.splitlines()[2:]:
        fields = line.split()
        if len(fields) > 10 and fields[2] == "image" and fields[10] != "[inline]": wanted.add(int(fields[10]))
    if not wanted: return
    subprocess.run(["pdfimages", pdf, os.path.join(out, "img")], capture_output=True)
    objs, done = {}, set()
    # The image objects and everything they reach, a few rounds deep.
    for _ in range(6):
        todo = sorted(wanted - done)
        if not todo: break
        args = ["qpdf", "--json=2", "--json-key=qpdf", "--json-stream-data=inline", "--decode-level=none"]
        args += ["--json-object=%d" % n for n in todo]
        r = subprocess.run(args + [pdf], capture_output=True)
        if r.returncode not in (0, 3): return
        got = json.loads(r.stdout)["qpdf"][1]
        done.update(todo)
        found = set()
        for key, o in got.items():
            objs[key] = o
            refs(o.get("stream", {}).get("dict", o.get("value")), found)
        wanted = found - done
    with open(os.path.join(out, "bundle.bin"), "wb") as f:
        for key, o in objs.items():
            if not key.startswith("obj:"): continue
            num, gen = key[4:].split()[:2]
            if "stream" in o:
                d = enc(o["stream"]["dict"]).encode("latin-1", "replace")
                data = base64.b64decode(o["stream"].get("data", ""))
                f.write(b"%s %s S %d %d\n" % (num.encode(), gen.encode(), len(d), len(data)) + d + data)
            elif "value" in o:
                t = enc(o["value"]).encode("latin-1", "replace")
                f.write(b"%s %s O %d\n" % (num.encode(), gen.encode(), len(t)) + t)
with concurrent.futures.ThreadPoolExecutor(4) as pool:
    list(pool.map(work, range(len(pdfs))))
)PY";

struct TBundle {
  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
};

// Reads the bundle the script wrote for one file.
bool LoadBundle(const std::string& path, TBundle& bundle) {
  if (!std::filesystem::exists(path)) return false;
  std::string bytes = pvltest::ReadFile(path);
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    if (nl == std::string::npos) return false;
    std::istringstream head(bytes.substr(pos, nl - pos));
    int32_t num = 0, gen = 0;
    char kind = 0;
    size_t len = 0, dataLen = 0;
    head >> num >> gen >> kind >> len;
    if (kind == 'S') head >> dataLen;
    pos = nl + 1;
    TPDFObject* obj = nullptr;
    if (kind == 'S') {
      TPDFDictionary* d = PDFAsDictionary(bundle.pool.ParseObject(std::string_view(bytes).substr(pos, len)));
      if (!d) d = bundle.pool.NewDictionary();
      obj = bundle.pool.NewStreamWith(bytes.substr(pos + len, dataLen), d);
      pos += len + dataLen;
    } else {
      obj = bundle.pool.ParseObject(std::string_view(bytes).substr(pos, len));
      pos += len;
    }
    obj->SetIndirect(num, gen);
    bundle.objects[num] = obj;
  }
  bundle.pool.OnLookupObject = [&bundle](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
    auto it = bundle.objects.find(number);
    return it == bundle.objects.end() ? nullptr : it->second;
  };
  return true;
}

// One row of pdfimages -list.
struct TListed {
  std::string type;  // image, smask, mask, stencil
  std::string enc;   // image, jpeg, jpx, jbig2, ccitt
  std::string color;
  int object = -1;  // -1 for inline images
};

std::vector<TListed> ListImages(const std::string& listing) {
  std::vector<TListed> rows;
  std::istringstream in(listing);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    if (n++ < 2) continue;
    std::istringstream f(line);
    std::vector<std::string> fields;
    for (std::string s; f >> s;) fields.push_back(s);
    if (fields.size() < 11) continue;
    TListed row;
    row.type = fields[2];
    row.color = fields[5];
    row.enc = fields[8];
    row.object = fields[10] == "[inline]" ? -1 : std::atoi(fields[10].c_str());
    rows.push_back(row);
  }
  return rows;
}

// Pixels of a pdfimages picture as RGB (grey and bi-level expanded).
bool PnmRgb(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb) {
  codectest::TPnm p;
  try {
    p = codectest::ReadPnm(pvltest::ReadFile(path));
  } catch (const std::exception&) {
    return false;
  }
  w = p.width, h = p.height;
  rgb.assign(size_t(w) * h * 3, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* d = &rgb[(size_t(y) * w + x) * 3];
      if (p.kind == '4') {
        size_t at = size_t(y) * ((w + 7) / 8) + x / 8;
        bool black = at < p.data.size() && ((uint8_t(p.data[at]) >> (7 - x % 8)) & 1);
        d[0] = d[1] = d[2] = black ? 0 : 255;
      } else if (p.kind == '5') {
        size_t at = size_t(y) * w + x;
        d[0] = d[1] = d[2] = at < p.data.size() ? uint8_t(p.data[at]) : 0;
      } else {
        size_t at = (size_t(y) * w + x) * 3;
        for (int k = 0; k < 3; ++k) d[k] = at + k < p.data.size() ? uint8_t(p.data[at + k]) : 0;
      }
    }
  return true;
}

struct TDiff {
  double mean = 0;
  int worst = 0;
};

TDiff CompareRgb(const TBitmap& ours, const std::vector<uint8_t>& theirs) {
  TDiff d;
  double sum = 0;
  for (int y = 0; y < ours.Height(); ++y) {
    const uint8_t* p = ours.ScanLine(y);
    for (int x = 0; x < ours.Width(); ++x) {
      const uint8_t* t = &theirs[(size_t(y) * ours.Width() + x) * 3];
      for (int k = 0; k < 3; ++k) {
        int diff = std::abs(int(p[3 * x + 2 - k]) - int(t[k]));
        sum += diff;
        d.worst = std::max(d.worst, diff);
      }
    }
  }
  d.mean = sum / (3.0 * ours.Width() * ours.Height());
  return d;
}

TDiff CompareAlpha(const TBitmap& alpha, const std::vector<uint8_t>& theirs) {
  TDiff d;
  double sum = 0;
  for (int y = 0; y < alpha.Height(); ++y)
    for (int x = 0; x < alpha.Width(); ++x) {
      int diff = std::abs(int(alpha.ScanLine(y)[x]) - int(theirs[(size_t(y) * alpha.Width() + x) * 3]));
      sum += diff;
      d.worst = std::max(d.worst, diff);
    }
  d.mean = sum / (double(alpha.Width()) * alpha.Height());
  return d;
}

// How close a picture must be: exact codecs to rounding, lossy codecs and
// colour conversions within a small tolerance. CMYK goes through the same
// multilinear table as poppler's, so it needs no tolerance of its own.
bool Acceptable(const TDiff& d, const std::string& enc, const std::string& color) {
  // Profiles go through LittleCMS on both sides, Lab through each one's own conversion.
  if (color == "icc" || color == "lab") return d.mean <= 4 && d.worst <= 64;
  if (enc == "jpeg" || enc == "jpx") return d.mean <= 2 && d.worst <= 48;
  return d.mean <= 0.5 && d.worst <= 2;
}

// JBIG2 images on which poppler goes wrong are checked against jbig2dec's
// decode of the same stream and globals instead. Where jbig2dec goes wrong as
// well, these pdf.js files all draw the picture of bitmap-symbol.pdf, which
// both peers decode alike: that picture is the reference.
struct TJbig2Oracle {
  const char* file;
  bool bitmapSymbolPicture;  // else jbig2dec on the stream
  const char* reason;
};
const TJbig2Oracle kJbig2Oracles[] = {
    {"bitmap-composite-and-xnor-halftone.pdf", false, "poppler combines the XNOR halftone region wrongly"},
    {"bitmap-halftone-composite.pdf", true, "both peers combine the composite halftone regions wrongly"},
    {"bitmap-halftone-skip-dummy.pdf", false, "poppler rejects the pattern dictionary (\"Bad pattern bitmap\")"},
    {"bitmap-halftone-skip-grid.pdf", false, "poppler rejects the pattern dictionary (\"Bad pattern bitmap\")"},
    {"bitmap-halftone-skip-grid-template1.pdf", false, "poppler rejects the pattern dictionary"},
    {"bitmap-halftone-skip-grid-template2.pdf", false, "poppler rejects the pattern dictionary"},
    {"bitmap-halftone-skip-grid-template3.pdf", false, "poppler rejects the pattern dictionary"},
    {"bitmap-refine-customat-tpgron.pdf", true, "poppler garbles typical-prediction refinement; jbig2dec stops"},
    {"bitmap-refine-template1-tpgron.pdf", true, "poppler garbles typical-prediction refinement; jbig2dec stops"},
    {"bitmap-refine-tpgron.pdf", true, "poppler garbles typical-prediction refinement; jbig2dec stops"},
    {"bitmap-symbol-context-reuse.pdf", true, "neither peer keeps the retained symbol-dictionary contexts"},
    {"bitmap-symbol-symhuff-texthuff.pdf", false, "poppler differs in 21 pixels of the Huffman-coded text region"},
    {"bitmap-symbol-symhuff-texthuffB10B13.pdf", false, "poppler differs in 21 pixels of the Huffman-coded text region"},
    {"bitmap-symbol-symhuffB5B3-texthuffB7B9B12.pdf", false, "poppler fails on the symbol dictionary (\"readSymbolDictSeg reports syntax error\")"},
    {"bitmap-symbol-symhuffcustom-texthuffcustom.pdf", false, "poppler differs in 21 pixels of the Huffman-coded text region"},
    {"bitmap-symbol-symhuffrefine-textrefine.pdf", true, "poppler differs in 21 pixels of the refined Huffman symbols; jbig2dec stops"},
    {"bitmap-symbol-symhuffrefineseveral.pdf", true, "poppler differs in 21 pixels of the refined Huffman symbols; jbig2dec stops"},
    {"bitmap-symbol-symhuffuncompressed-texthuff.pdf", false, "poppler misreads the uncompressed symbol bitmaps (\"extraneous bytes after segment\")"},
    {"jbig2_file_header.pdf", false, "the stream starts with a JBIG2 file header, which poppler reads as a segment header"},
};

const TJbig2Oracle* Jbig2Oracle(const std::string& file) {
  for (const TJbig2Oracle& o : kJbig2Oracles)
    if (file == o.file) return &o;
  return nullptr;
}

// jbig2dec's picture (RGB, black 0) of JBIG2 data with optional globals; empty when it fails.
std::vector<uint8_t> Jbig2decRgb(const std::string& data, const std::string& globals, int& w, int& h) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("page"), data);
  std::vector<std::string> argv = {"jbig2dec", "-t", "pbm", "-o", dir.File("out.pbm")};
  if (data.rfind("\x97JB2\r\n\x1a\n", 0) != 0) argv.push_back("-e");
  if (!globals.empty()) {
    pvltest::WriteFile(dir.File("globals"), globals);
    argv.push_back(dir.File("globals"));
  }
  argv.push_back(dir.File("page"));
  auto r = pvltest::RunCommand(argv);
  std::vector<uint8_t> rgb;
  if (r.exitCode != 0 || r.err.find("FATAL") != std::string::npos || r.err.find("unable") != std::string::npos ||
      !PnmRgb(dir.File("out.pbm"), w, h, rgb))
    return {};
  return rgb;
}

// The JBIG2 data and globals of an image stream, generic filters undone.
void Jbig2Data(TPDFStream* stream, std::string& data, std::string& globals) {
  data = stream->GetDecodedData();
  globals.clear();
  TPDFObject* parms = stream->GetDictionary()->GetValue("DecodeParms");
  if (TPDFIndRef* r = PDFAsIndRef(parms)) parms = r->Resolve();
  if (TPDFArray* a = PDFAsArray(parms)) parms = a->GetCount() ? a->GetItem(a->GetCount() - 1) : nullptr;
  if (TPDFIndRef* r = PDFAsIndRef(parms)) parms = r->Resolve();
  if (TPDFDictionary* d = PDFAsDictionary(parms))
    if (TPDFIndRef* g = PDFAsIndRef(d->GetValue("JBIG2Globals")))
      if (TPDFStream* gs = PDFAsStream(g->Resolve())) globals = gs->GetDecodedData();
}

// What pdfimages writes for a JPEG 2000 image with /SMaskInData: poppler keeps
// the opacity channel in the sample stream but pdfimages writes three samples
// per pixel, so its picture is our R, G, B, A bytes (colours blended with the
// /Matte colour again for /SMaskInData 2) taken three at a time.
std::vector<uint8_t> SMaskInDataAsPdfimages(const TPDFImageDecoder& dec, TPDFDictionary* dict) {
  const TBitmap* bmp = dec.GetImageBitmap();
  const TBitmap* alpha = dec.GetMaskBitmap();
  const bool blended = dict->GetInteger("SMaskInData", 0) == 2;
  double matte[3] = {0, 0, 0};
  if (TPDFArray* m = PDFAsArray(dict->GetValue("Matte")))
    for (int k = 0; k < 3 && k < m->GetCount(); ++k)
      if (TPDFNumeric* n = PDFAsNumeric(m->GetItem(k))) matte[k] = n->GetValue() * 255;
  std::vector<uint8_t> rgba;
  for (int y = 0; y < bmp->Height(); ++y)
    for (int x = 0; x < bmp->Width(); ++x) {
      const int a = alpha->ScanLine(y)[x];
      for (int k = 0; k < 3; ++k) {
        double c = bmp->ScanLine(y)[3 * x + 2 - k];
        if (blended && a > 0) c = matte[k] + (c - matte[k]) * a / 255.0;
        rgba.push_back(static_cast<uint8_t>(std::lround(c)));
      }
      rgba.push_back(static_cast<uint8_t>(a));
    }
  rgba.resize(size_t(bmp->Width()) * bmp->Height() * 3);
  return rgba;
}

TEST(ImageDecoderCorpus, EveryImageMatchesPdfimages) {
  if (!pvltest::HaveTool("pdfimages") || !pvltest::HaveTool("qpdf") || !pvltest::HaveTool("python3"))
    GTEST_SKIP() << "pdfimages, qpdf or python3 missing";
  int compared = 0, matched = 0, accepted = 0;
  const bool haveJbig2dec = pvltest::HaveTool("jbig2dec");
  std::vector<uint8_t> bitmapSymbol;
  int symW = 0, symH = 0;
  std::ostringstream report;
  // Image XObject dictionaries are never inside object streams: files without
  // "/Image" in their bytes hold none.
  std::vector<std::string> pdfs;
  for (const std::string& pdf : pvltest::CorpusPdfFiles()) {
    std::string bytes = pvltest::ReadFile(pdf);
    for (size_t at = bytes.find("/Image"); at != std::string::npos; at = bytes.find("/Image", at + 1))
      if (at + 6 < bytes.size() && !std::isalnum(static_cast<unsigned char>(bytes[at + 6]))) {
        pdfs.push_back(pdf);
        break;
      }
  }
  pvltest::TempDir work;
  pvltest::WriteFile(work.File("bundle.py"), kBundleScript);
  std::vector<std::string> argv = {"python3", work.File("bundle.py"), work.Path()};
  argv.insert(argv.end(), pdfs.begin(), pdfs.end());
  auto run = pvltest::RunCommand(argv);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (size_t index = 0; index < pdfs.size(); ++index) {
    const std::string& pdf = pdfs[index];
    const std::string dir = work.File(std::to_string(index));
    std::vector<TListed> rows = ListImages(pvltest::ReadFile(dir + "/list.txt"));
    TBundle bundle;
    if (!LoadBundle(dir + "/bundle.bin", bundle)) continue;  // no image XObjects, or qpdf cannot read it
    std::vector<std::string> files;
    for (auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().filename().string().rfind("img-", 0) == 0) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    if (files.size() != rows.size()) continue;
    const std::string name = std::filesystem::path(pdf).filename().string();
    std::map<int, bool> seen;
    for (size_t i = 0; i < rows.size(); ++i) {
      const TListed& row = rows[i];
      if (row.type != "image" || row.object < 0 || seen[row.object]) continue;
      seen[row.object] = true;
      TPDFStream* stream = PDFAsStream(bundle.objects[row.object]);
      if (!stream) continue;
      ++compared;
      std::string where = name + " object " + std::to_string(row.object) + " (" + row.enc + ", " + row.color + ")";
      TPDFImageDecoder dec;
      try {
        dec.SetImage(stream);
      } catch (const std::exception& e) {
        ADD_FAILURE() << where << ": raised " << e.what();
        continue;
      }
      int w = 0, h = 0;
      std::vector<uint8_t> theirs;
      if (!PnmRgb(files[i], w, h, theirs)) continue;
      if (!dec.IsReady()) {
        ADD_FAILURE() << where << ": not decoded: " << dec.GetErrorText();
        continue;
      }
      const TBitmap* bmp = dec.GetImageBitmap();
      if (bmp->Width() != w || bmp->Height() != h) {
        ADD_FAILURE() << where << ": size " << bmp->Width() << "x" << bmp->Height() << ", pdfimages " << w << "x" << h;
        continue;
      }
      TDiff d = CompareRgb(*bmp, theirs);
      bool ok = Acceptable(d, row.enc, row.color);
      // The soft mask or mask that pdfimages lists next.
      if (i + 1 < rows.size() && (rows[i + 1].type == "smask" || rows[i + 1].type == "mask") && dec.GetMaskBitmap()) {
        int mw = 0, mh = 0;
        std::vector<uint8_t> alpha;
        const TBitmap* mask = dec.GetMaskBitmap();
        if (PnmRgb(files[i + 1], mw, mh, alpha) && mw == mask->Width() && mh == mask->Height()) {
          TDiff a = CompareAlpha(*mask, alpha);
          if (rows[i + 1].type == "mask") {
            // pdfimages writes the explicit mask's samples: 1 (black in the file) is masked out.
            for (auto& v : alpha) v = 255 - v;
            a = CompareAlpha(*mask, alpha);
          }
          if (!Acceptable(a, rows[i + 1].enc, "gray")) {
            ok = false;
            report << "  " << where << ": alpha differs, mean " << a.mean << " worst " << a.worst << "\n";
          }
        }
      }
      const TJbig2Oracle* oracle = row.enc == "jbig2" && haveJbig2dec ? Jbig2Oracle(name) : nullptr;
      const bool smaskInData = row.enc == "jpx" && stream->GetDictionary()->GetInteger("SMaskInData", 0) != 0;
      if (smaskInData) {
        std::vector<uint8_t> expected;
        if (dec.GetMaskBitmap()) expected = SMaskInDataAsPdfimages(dec, stream->GetDictionary());
        int worst = expected.size() == theirs.size() ? 0 : 255;
        for (size_t k = 0; k < expected.size() && worst < 255; ++k)
          worst = std::max(worst, std::abs(int(expected[k]) - int(theirs[k])));
        if (worst > 2) {
          ADD_FAILURE() << where << ": /SMaskInData picture differs from pdfimages' RGBA-as-RGB by " << worst;
        } else {
          ++accepted;
          report << "  " << where << ": differs (mean " << d.mean << "); pdfimages writes the RGBA samples of "
                 << "/SMaskInData images as RGB triples, which our RGBA equals\n";
        }
      } else if (ok && oracle) {
        ADD_FAILURE() << where << ": matches pdfimages now; drop it from the JBIG2 oracle list";
      } else if (oracle) {
        // poppler goes wrong here: the JBIG2 peer decides, to the pixel.
        int jw = 0, jh = 0;
        std::vector<uint8_t> ref;
        if (oracle->bitmapSymbolPicture) {
          if (bitmapSymbol.empty()) {
            auto sym = codectest::PdfImages(pvltest::CorpusPath("pdfjs/bitmap-symbol.pdf"), "JBIG2Decode");
            if (sym.size() == 1) bitmapSymbol = Jbig2decRgb(sym[0].data, sym[0].globals, symW, symH);
          }
          ref = bitmapSymbol, jw = symW, jh = symH;
        } else {
          std::string data, globals;
          Jbig2Data(stream, data, globals);
          ref = Jbig2decRgb(data, globals, jw, jh);
        }
        TDiff j;
        if (!ref.empty() && jw == w && jh == h) j = CompareRgb(*bmp, ref);
        if (ref.empty() || jw != w || jh != h || j.worst != 0) {
          ADD_FAILURE() << where << ": differs from pdfimages (mean " << d.mean << ") and from "
                        << (oracle->bitmapSymbolPicture ? "bitmap-symbol.pdf by jbig2dec" : "jbig2dec")
                        << (ref.empty() ? " (no picture)" : "") << " (mean " << j.mean << ")";
        } else {
          ++accepted;
          report << "  " << where << ": differs from pdfimages (mean " << d.mean << "), equals "
                 << (oracle->bitmapSymbolPicture ? "bitmap-symbol.pdf by jbig2dec" : "jbig2dec") << ": "
                 << oracle->reason << "\n";
        }
      } else if (ok) {
        ++matched;
        if (d.mean > 0.5)
          report << "  " << where << ": within tolerance, mean " << d.mean << " worst " << d.worst << "\n";
      } else {
        ADD_FAILURE() << where << ": pixels differ, mean " << d.mean << " worst " << d.worst;
      }
    }
  }
  std::cout << "Corpus images: " << compared << " compared, " << matched << " match pdfimages, " << accepted
            << " listed differences\n"
            << report.str();
  EXPECT_GT(matched, 100);
}

}  // namespace
