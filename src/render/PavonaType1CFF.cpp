// CFF font programs (bare, CID-keyed, or inside an OpenType "CFF " table):
// INDEXes, DICTs translated into PDF dictionaries, charset, encoding,
// FDSelect and the subroutine lists.
#include <charconv>
#include <cmath>
#include <cstring>

#include "render/PavonaType1.h"
#include "render/PavonaType1Internal.h"

using namespace pvltype1;

namespace pvltype1 {

namespace {

const char* const kStandardStrings[391] = {
    ".notdef", "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quoteright",
    "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash", "zero", "one", "two",
    "three", "four", "five", "six", "seven", "eight", "nine", "colon", "semicolon", "less", "equal", "greater",
    "question", "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S",
    "T", "U", "V", "W", "X", "Y", "Z", "bracketleft", "backslash", "bracketright", "asciicircum", "underscore",
    "quoteleft", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t",
    "u", "v", "w", "x", "y", "z", "braceleft", "bar", "braceright", "asciitilde", "exclamdown", "cent", "sterling",
    "fraction", "yen", "florin", "section", "currency", "quotesingle", "quotedblleft", "guillemotleft",
    "guilsinglleft", "guilsinglright", "fi", "fl", "endash", "dagger", "daggerdbl", "periodcentered", "paragraph",
    "bullet", "quotesinglbase", "quotedblbase", "quotedblright", "guillemotright", "ellipsis", "perthousand",
    "questiondown", "grave", "acute", "circumflex", "tilde", "macron", "breve", "dotaccent", "dieresis", "ring",
    "cedilla", "hungarumlaut", "ogonek", "caron", "emdash", "AE", "ordfeminine", "Lslash", "Oslash", "OE",
    "ordmasculine", "ae", "dotlessi", "lslash", "oslash", "oe", "germandbls", "onesuperior", "logicalnot", "mu",
    "trademark", "Eth", "onehalf", "plusminus", "Thorn", "onequarter", "divide", "brokenbar", "degree", "thorn",
    "threequarters", "twosuperior", "registered", "minus", "eth", "multiply", "threesuperior", "copyright",
    "Aacute", "Acircumflex", "Adieresis", "Agrave", "Aring", "Atilde", "Ccedilla", "Eacute", "Ecircumflex",
    "Edieresis", "Egrave", "Iacute", "Icircumflex", "Idieresis", "Igrave", "Ntilde", "Oacute", "Ocircumflex",
    "Odieresis", "Ograve", "Otilde", "Scaron", "Uacute", "Ucircumflex", "Udieresis", "Ugrave", "Yacute",
    "Ydieresis", "Zcaron", "aacute", "acircumflex", "adieresis", "agrave", "aring", "atilde", "ccedilla", "eacute",
    "ecircumflex", "edieresis", "egrave", "iacute", "icircumflex", "idieresis", "igrave", "ntilde", "oacute",
    "ocircumflex", "odieresis", "ograve", "otilde", "scaron", "uacute", "ucircumflex", "udieresis", "ugrave",
    "yacute", "ydieresis", "zcaron", "exclamsmall", "Hungarumlautsmall", "dollaroldstyle", "dollarsuperior",
    "ampersandsmall", "Acutesmall", "parenleftsuperior", "parenrightsuperior", "twodotenleader", "onedotenleader",
    "zerooldstyle", "oneoldstyle", "twooldstyle", "threeoldstyle", "fouroldstyle", "fiveoldstyle", "sixoldstyle",
    "sevenoldstyle", "eightoldstyle", "nineoldstyle", "commasuperior", "threequartersemdash", "periodsuperior",
    "questionsmall", "asuperior", "bsuperior", "centsuperior", "dsuperior", "esuperior", "isuperior", "lsuperior",
    "msuperior", "nsuperior", "osuperior", "rsuperior", "ssuperior", "tsuperior", "ff", "ffi", "ffl",
    "parenleftinferior", "parenrightinferior", "Circumflexsmall", "hyphensuperior", "Gravesmall", "Asmall",
    "Bsmall", "Csmall", "Dsmall", "Esmall", "Fsmall", "Gsmall", "Hsmall", "Ismall", "Jsmall", "Ksmall", "Lsmall",
    "Msmall", "Nsmall", "Osmall", "Psmall", "Qsmall", "Rsmall", "Ssmall", "Tsmall", "Usmall", "Vsmall", "Wsmall",
    "Xsmall", "Ysmall", "Zsmall", "colonmonetary", "onefitted", "rupiah", "Tildesmall", "exclamdownsmall",
    "centoldstyle", "Lslashsmall", "Scaronsmall", "Zcaronsmall", "Dieresissmall", "Brevesmall", "Caronsmall",
    "Dotaccentsmall", "Macronsmall", "figuredash", "hypheninferior", "Ogoneksmall", "Ringsmall", "Cedillasmall",
    "questiondownsmall", "oneeighth", "threeeighths", "fiveeighths", "seveneighths", "onethird", "twothirds",
    "zerosuperior", "foursuperior", "fivesuperior", "sixsuperior", "sevensuperior", "eightsuperior",
    "ninesuperior", "zeroinferior", "oneinferior", "twoinferior", "threeinferior", "fourinferior", "fiveinferior",
    "sixinferior", "seveninferior", "eightinferior", "nineinferior", "centinferior", "dollarinferior",
    "periodinferior", "commainferior", "Agravesmall", "Aacutesmall", "Acircumflexsmall", "Atildesmall",
    "Adieresissmall", "Aringsmall", "AEsmall", "Ccedillasmall", "Egravesmall", "Eacutesmall", "Ecircumflexsmall",
    "Edieresissmall", "Igravesmall", "Iacutesmall", "Icircumflexsmall", "Idieresissmall", "Ethsmall",
    "Ntildesmall", "Ogravesmall", "Oacutesmall", "Ocircumflexsmall", "Otildesmall", "Odieresissmall", "OEsmall",
    "Oslashsmall", "Ugravesmall", "Uacutesmall", "Ucircumflexsmall", "Udieresissmall", "Yacutesmall",
    "Thornsmall", "Ydieresissmall", "001.000", "001.001", "001.002", "001.003", "Black", "Bold", "Book", "Light",
    "Medium", "Regular", "Roman", "Semibold"};

}  // namespace

std::string_view CFFStandardString(int32_t sid) {
  return sid >= 0 && sid < 391 ? std::string_view(kStandardStrings[sid]) : std::string_view();
}

}  // namespace pvltype1

// ---------------------------------------------------------------------------
// Reading

struct TPDFType1Decoder::TCFFLoad {
  std::string_view d;  // the whole data from the stream position
  int64_t base = 0;
  TPavonaStringList names, topDicts, strings;
  TPavonaStringList charStrings;

  uint32_t u8(int64_t p) const {
    return p >= 0 && p < static_cast<int64_t>(d.size()) ? static_cast<uint8_t>(d[static_cast<size_t>(p)]) : 0;
  }
  uint32_t u16(int64_t p) const { return (u8(p) << 8) | u8(p + 1); }
  uint32_t u32(int64_t p) const { return (u16(p) << 16) | u16(p + 2); }
  uint32_t uN(int64_t p, uint32_t size) const {
    uint32_t v = 0;
    for (uint32_t k = 0; k < size; ++k) v = (v << 8) | u8(p + k);
    return v;
  }
  bool inside(int64_t p) const { return p >= 0 && p < static_cast<int64_t>(d.size()); }

  // Reads an INDEX at p into list; returns the position after it. Offsets
  // are checked: entries stop at the first offset that goes backwards, and
  // entries are cut at the end of the data.
  int64_t readIndex(int64_t p, TPavonaStringList& list) const {
    list.Clear();
    uint32_t count = u16(p);
    if (count == 0) return p + 2;
    uint32_t offSize = u8(p + 2);
    if (offSize < 1 || offSize > 4) return p + 3;
    int64_t offsets = p + 3;
    int64_t dataStart = offsets + static_cast<int64_t>(count + 1) * offSize;
    int64_t size = static_cast<int64_t>(d.size());
    if (dataStart > size) return size;
    int64_t at = dataStart;
    uint32_t prev = uN(offsets, offSize);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t next = uN(offsets + static_cast<int64_t>(i + 1) * offSize, offSize);
      if (next < prev) break;
      int64_t len = next - prev;
      if (at + len > size) {
        list.Add(d.substr(static_cast<size_t>(at)));
        return size;
      }
      list.Add(d.substr(static_cast<size_t>(at), static_cast<size_t>(len)));
      at += len;
      prev = next;
    }
    return at;
  }

  std::string sidText(int64_t sid) const {
    if (sid < 0) return std::string();
    if (sid < 391) return std::string(CFFStandardString(static_cast<int32_t>(sid)));
    if (sid - 391 < strings.GetCount()) return strings.GetString(static_cast<int32_t>(sid - 391));
    return std::string();
  }
};

namespace {

// A DICT string as PDF literal-string text; "(", ")" and "\" are escaped so
// that a Notice or copyright text cannot end the string early.
std::string pdfLiteral(std::string_view s) {
  std::string out = "(";
  for (char c : s) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += c;
  }
  out += ')';
  return out;
}

std::string realText(std::string_view nibbles) {
  // The nibble text ("1.5E-3") as a plain decimal number, which is what the
  // object parser reads.
  std::string t(nibbles);
  double v = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), v);
  if (res.ec != std::errc() || !std::isfinite(v)) return "0";
  if (v == std::trunc(v) && std::fabs(v) < 1e15) return IntText(static_cast<int64_t>(v));
  std::string s = FormatPDFNumber(12, v);
  return s.empty() ? "0" : s;
}

enum TEntryKind { ekString, ekTop, ekAll, ekArrayAll, ekBracketAll, ekPrivate };
struct TDictOp {
  int code;  // escape codes as 1200 + sub-code
  const char* key;
  TEntryKind kind;
};

const TDictOp kTopOps[] = {
    {0, "version", ekString},       {1, "Notice", ekString},         {2, "FullName", ekString},
    {3, "FamilyName", ekString},    {4, "Weight", ekString},         {5, "FontBBox", ekArrayAll},
    {1200, "Copyright", ekString},  {1201, "isFixedPitch", ekTop},   {1202, "italicAngle", ekTop},
    {1203, "UnderlinePosition", ekTop}, {1204, "UnderlineThickness", ekTop}, {1205, "PaintType", ekTop},
    {1206, "CharstringType", ekTop}, {1207, "FontMatrix", ekArrayAll}, {1208, "StrokeWidth", ekTop},
    {1220, "SyntheticBase", ekTop}, {1221, "PostScript", ekString},  {1222, "BaseFontName", ekString},
    {1223, "BaseFontBlend", ekBracketAll}, {1230, "ROS", ekBracketAll}, {1231, "CIDFontVersion", ekTop},
    {1232, "CIDFontRevision", ekTop}, {1233, "CIDFontType", ekTop},  {1234, "CIDCount", ekTop},
    {1235, "UIDBase", ekTop},       {1236, "FDArray", ekTop},        {1237, "FDSelect", ekTop},
    {1238, "FontName", ekString},   {13, "UniqueID", ekTop},         {14, "XUID", ekArrayAll},
    {15, "charset", ekTop},         {16, "Encoding", ekTop},         {17, "CharStrings", ekTop},
    {18, "Private", ekPrivate},
};

const TDictOp kPrivateOps[] = {
    {6, "BlueValues", ekArrayAll},  {7, "OtherBlues", ekArrayAll},   {8, "FamilyBlues", ekArrayAll},
    {9, "FamilyOtherBlues", ekArrayAll}, {10, "StdHW", ekTop},       {11, "StdVW", ekTop},
    {1209, "BlueScale", ekTop},     {1210, "BlueShift", ekTop},      {1211, "BlueFuzz", ekTop},
    {1212, "StemSnapH", ekArrayAll}, {1213, "StemSnapV", ekArrayAll}, {1214, "ForceBold", ekTop},
    {1217, "LanguageGroup", ekTop}, {1218, "ExpansionFactor", ekTop}, {1219, "initialRandomSeed", ekTop},
    {19, "Subrs", ekTop},           {20, "defaultWidthX", ekTop},    {21, "nominalWidthX", ekTop},
};

template <size_t N>
const TDictOp* findOp(const TDictOp (&table)[N], int code) {
  for (const TDictOp& op : table)
    if (op.code == code) return &op;
  return nullptr;
}

// Translates DICT bytes into PDF dictionary syntax.
template <size_t N>
std::string translateDict(std::string_view b, const TDictOp (&table)[N], const std::function<std::string(int64_t)>& sid) {
  std::vector<std::string> operands;
  std::string out = "<< ";
  size_t i = 0;
  const size_t n = b.size();
  auto byte = [&](size_t p) -> uint32_t { return p < n ? static_cast<uint8_t>(b[p]) : 0; };
  while (i < n) {
    uint32_t v = byte(i++);
    if (v >= 32 && v <= 246) {
      operands.push_back(IntText(static_cast<int64_t>(v) - 139));
    } else if (v >= 247 && v <= 250) {
      operands.push_back(IntText((v - 247) * 256 + byte(i) + 108));
      ++i;
    } else if (v >= 251 && v <= 254) {
      operands.push_back(IntText(-static_cast<int64_t>((v - 251) * 256) - byte(i) - 108));
      ++i;
    } else if (v == 28) {
      operands.push_back(IntText(static_cast<int16_t>((byte(i) << 8) | byte(i + 1))));
      i += 2;
    } else if (v == 29) {
      operands.push_back(
          IntText(static_cast<int32_t>((byte(i) << 24) | (byte(i + 1) << 16) | (byte(i + 2) << 8) | byte(i + 3))));
      i += 4;
    } else if (v == 30) {
      std::string t;
      bool done = false;
      while (i < n && !done) {
        uint32_t bb = byte(i++);
        for (uint32_t nib : {bb >> 4, bb & 15u}) {
          if (done) break;
          if (nib <= 9)
            t += static_cast<char>('0' + nib);
          else if (nib == 10)
            t += '.';
          else if (nib == 11)
            t += 'E';
          else if (nib == 12)
            t += "E-";
          else if (nib == 14)
            t += '-';
          else if (nib == 15)
            done = true;
        }
      }
      operands.push_back(realText(t));
    } else if (v <= 21) {
      int code = static_cast<int>(v);
      if (v == 12) code = 1200 + static_cast<int>(byte(i++));
      const TDictOp* op = findOp(table, code);
      // Every operator consumes its operands, so that an operator's values
      // never reach the next one (a FontBBox after a Notice would otherwise
      // take the Notice's SID as its first number).
      if (!op) {
        operands.clear();
        continue;
      }
      std::string key = "/";
      key += op->key;
      switch (op->kind) {
        case ekString:
          if (operands.empty()) break;
          {
            // A string id from the file may be any real number: only 0..65535 names a string.
            const double v = NumOf(operands.back());
            out += key + " " + pdfLiteral(sid(v >= 0 && v < 65536 ? static_cast<int64_t>(v) : -1)) + " ";
          }
          break;
        case ekTop:
          if (operands.empty()) break;
          out += key + " " + operands.back() + " ";
          break;
        case ekArrayAll:
        case ekBracketAll:
        case ekAll: {
          std::string all;
          for (size_t k = 0; k < operands.size(); ++k) {
            if (k) all += ' ';
            all += operands[k];
          }
          if (op->kind == ekArrayAll)
            out += key + " [ " + all + " ] ";
          else if (op->kind == ekBracketAll)
            out += key + " [" + all + "] ";
          else
            out += key + " " + all + " ";
          operands.clear();
          break;
        }
        case ekPrivate:
          if (operands.size() < 2) break;
          out += key + " [ " + operands[operands.size() - 1] + " " + operands[operands.size() - 2] + " ] ";
          break;
      }
      operands.clear();
    }
    // 22..27, 31 and 255 are passed over.
  }
  out += ">>";
  return out;
}

}  // namespace

bool TPDFType1Decoder::LoadCFFStream(TPDFStream* stream) {
  if (!stream) return false;
  std::string data = stream->GetDecodedData();
  return LoadCFFData(data);
}

bool TPDFType1Decoder::LoadCFF(TStream& stream) {
  std::string data = stream.ReadAll();
  return LoadCFFData(data);
}

bool TPDFType1Decoder::LoadCFFData(std::string_view data) {
  TCFFLoad ld;
  ld.d = data;
  ld.base = 0;
  if (data.substr(0, 4) == "OTTO") {
    // OpenType: find the "CFF " table in the table directory.
    uint32_t numTables = ld.u16(4);
    int64_t cffOffset = 0;
    for (uint32_t t = 0; t < numTables; ++t) {
      int64_t rec = 12 + static_cast<int64_t>(t) * 16;
      if (!ld.inside(rec + 15)) break;
      if (data.substr(static_cast<size_t>(rec), 4) == "CFF ") {
        cffOffset = ld.u32(rec + 8);
        break;
      }
    }
    if (cffOffset > 0 && ld.inside(cffOffset)) ld.base = cffOffset;
    if (data.substr(static_cast<size_t>(ld.base), 4) == "OTTO") return false;
  }
  auto sid = [&ld](int64_t s) { return ld.sidText(s); };
  int64_t pos = ld.base + 4;
  uint32_t hdrSize = ld.u8(ld.base + 2);
  if (hdrSize > 4) pos = ld.base + hdrSize;
  pos = ld.readIndex(pos, ld.names);
  pos = ld.readIndex(pos, ld.topDicts);
  pos = ld.readIndex(pos, ld.strings);
  pos = ld.readIndex(pos, globalSubrs_);

  outlineCache_.Clear();
  cachedOutlines_.clear();
  missingGlyphs_.clear();

  // Offsets in DICTs are from the base; one outside the data counts as absent.
  auto offsetOf = [&](TPDFDictionary* dict, std::string_view key, int64_t& at) {
    TPDFNumeric* num = PDFAsNumeric(dict->GetValue(key));
    if (!num) return false;
    int64_t off = num->AsInteger();
    if (off < 0 || !ld.inside(ld.base + off)) return false;
    at = ld.base + off;
    return true;
  };

  for (int32_t t = 0; t < ld.topDicts.GetCount(); ++t) {
    std::string text = translateDict(ld.topDicts.GetString(t), kTopOps, sid);
    TPDFDictionary* top = PDFAsDictionary(pool_->ParseObject(text));
    if (!top) continue;
    fontDictionary_ = top;
    cidKeyed_ = top->GetValue("ROS") != nullptr;
    // The Top DICT's own matrix, 0 when it gives none.
    double topA = 0;
    if (TPDFArray* fm = PDFAsArray(top->GetValue("FontMatrix"))) {
      if (TPDFNumeric* a = PDFAsNumeric(fm->GetItem(0))) {
        if (std::isfinite(a->GetValue())) topA = a->GetValue();
        glyphScale_ = a->GetValue() * 1000;
        if (glyphScale_ == 0 || !std::isfinite(glyphScale_)) glyphScale_ = 1.0;
        // CID-keyed fonts commonly carry an identity Top DICT matrix and the
        // real one in each Font DICT; identity there must not scale by 1000.
        if (cidKeyed_ && a->GetValue() == 1) glyphScale_ = 1.0;
      }
    }
    fontBBox_ = PDFAsArray(top->GetValue("FontBBox"));
    int64_t at = 0;
    ld.charStrings.Clear();
    if (offsetOf(top, "CharStrings", at)) ld.readIndex(at, ld.charStrings);
    if (ld.charStrings.GetCount() > 0) {
      int64_t charset = 0;
      if (TPDFNumeric* cs = PDFAsNumeric(top->GetValue("charset"))) charset = cs->AsInteger();
      cffReadCharset(ld, charset, ld.charStrings.GetCount());
      int64_t enc = 0;
      if (TPDFNumeric* e = PDFAsNumeric(top->GetValue("Encoding"))) enc = e->AsInteger();
      cffReadEncoding(ld, enc);
    }
    charStringType_ = 2;
    fdSubrs_.clear();
    fdWidths_.clear();
    fdScales_.clear();
    fdSelect_.clear();
    if (cidKeyed_) {
      if (offsetOf(top, "FDSelect", at)) cffReadFDSelect(ld, at);
      TPavonaStringList fdArray;
      if (offsetOf(top, "FDArray", at)) ld.readIndex(at, fdArray);
      for (int32_t f = 0; f < fdArray.GetCount(); ++f) {
        auto subrs = std::make_unique<TPavonaStringList>();
        double dw = 0, nw = 0;
        TPDFDictionary* fd = PDFAsDictionary(pool_->ParseObject(translateDict(fdArray.GetString(f), kTopOps, sid)));
        // A glyph is drawn through the Font DICT's matrix times the Top
        // DICT's: writers put the 1/1000 in either one and leave the other
        // at identity, or give it in the Top DICT only. fdScale is what the
        // product adds to the Top DICT's glyph scale.
        double effective = topA != 0 ? topA : 0.001;
        if (fd) {
          cffReadPrivate(ld, fd, *subrs, dw, nw);
          TPDFArray* fm = PDFAsArray(fd->GetValue("FontMatrix"));
          TPDFNumeric* a = fm ? PDFAsNumeric(fm->GetItem(0)) : nullptr;
          if (a && std::isfinite(a->GetValue()) && a->GetValue() != 0)
            effective = (topA != 0 ? topA : 1.0) * a->GetValue();
        }
        double fdScale = effective * 1000 / glyphScale_;
        if (!std::isfinite(fdScale) || fdScale == 0) fdScale = 1.0;
        fdScales_.push_back(fdScale);
        fdSubrs_.push_back(std::move(subrs));
        fdWidths_.emplace_back(dw, nw);
      }
    }
    localSubrs_.Clear();
    defaultWidthX_ = nominalWidthX_ = 0;
    cffReadPrivate(ld, top, localSubrs_, defaultWidthX_, nominalWidthX_);
  }
  return true;
}

TPDFDictionary* TPDFType1Decoder::cffReadPrivate(TCFFLoad& ld, TPDFDictionary* fontDict, TPavonaStringList& subrs,
                                                 double& defaultWidth, double& nominalWidth) {
  TPDFArray* priv = PDFAsArray(fontDict->GetValue("Private"));
  if (!priv || priv->GetCount() != 2) return nullptr;
  TPDFNumeric* off = PDFAsNumeric(priv->GetItem(0));
  TPDFNumeric* size = PDFAsNumeric(priv->GetItem(1));
  if (!off || !size) return nullptr;
  int64_t o = off->AsInteger(), sz = size->AsInteger();
  if (sz <= 0 || o < 0 || !ld.inside(ld.base + o)) return nullptr;
  int64_t start = ld.base + o;
  int64_t avail = static_cast<int64_t>(ld.d.size()) - start;
  std::string_view bytes = ld.d.substr(static_cast<size_t>(start), static_cast<size_t>(std::min(sz, avail)));
  auto sid = [&ld](int64_t s) { return ld.sidText(s); };
  TPDFDictionary* dict = PDFAsDictionary(pool_->ParseObject(translateDict(bytes, kPrivateOps, sid)));
  if (!dict) return nullptr;
  defaultWidth = dict->GetNumber("defaultWidthX", 0);
  nominalWidth = dict->GetNumber("nominalWidthX", 0);
  if (TPDFNumeric* s = PDFAsNumeric(dict->GetValue("Subrs"))) {
    int64_t at = start + s->AsInteger();
    if (s->AsInteger() >= 0 && ld.inside(at)) ld.readIndex(at, subrs);
  }
  return dict;
}

void TPDFType1Decoder::cffReadCharset(TCFFLoad& ld, int64_t charsetOffset, int32_t glyphCount) {
  clearGlyphs();
  std::vector<int64_t> sids(static_cast<size_t>(glyphCount), 0);
  bool named = true;
  if (charsetOffset < 3) {
    // Every predefined charset is read as ISOAdobe.
    for (int32_t g = 0; g < glyphCount; ++g) sids[static_cast<size_t>(g)] = g;
  } else {
    int64_t p = ld.base + charsetOffset;
    uint32_t format = ld.inside(p) ? ld.u8(p) : 0xFF;
    ++p;
    if (format == 0) {
      for (int32_t g = 1; g < glyphCount; ++g, p += 2) sids[static_cast<size_t>(g)] = ld.u16(p);
    } else if (format == 1 || format == 2) {
      int32_t g = 1;
      // Each range names at least one glyph, so this ends after at most
      // glyphCount ranges even on data that has run out.
      while (g < glyphCount) {
        uint32_t first = ld.u16(p);
        uint32_t left = format == 1 ? ld.u8(p + 2) : ld.u16(p + 2);
        p += format == 1 ? 3 : 4;
        for (uint32_t k = 0; k <= left && g < glyphCount; ++k, ++g) sids[static_cast<size_t>(g)] = first + k;
      }
    } else {
      named = false;
    }
  }
  glyphNames_.SetCapacity(glyphCount);
  charStrings_.SetCapacity(glyphCount);
  for (int32_t g = 0; g < glyphCount; ++g) {
    std::string name;
    if (named || g == 0) {
      int64_t s = sids[static_cast<size_t>(g)];
      name = cidKeyed_ ? "CID:" + IntText(s) : ld.sidText(s);
    }
    glyphNames_.Add(name);
    charStrings_.Add(ld.charStrings.GetString(g));
  }
  indexGlyphNames();
}

void TPDFType1Decoder::cffReadEncoding(TCFFLoad& ld, int64_t encodingOffset) {
  if (encodingOffset == 0) {
    BuildEncodingVector(pdfekStandard, encoding_);
    return;
  }
  if (encodingOffset == 1) return;
  encoding_.fill(".notdef");
  int64_t p = ld.base + encodingOffset;
  if (encodingOffset < 0 || !ld.inside(p)) return;
  const uint32_t formatByte = ld.u8(p++);
  // The high bit says that supplements follow the codes: further codes for
  // glyphs already encoded (a glyph under two codes), read after them.
  const uint32_t format = formatByte & 0x7F;
  const int32_t glyphs = glyphNames_.GetCount();
  if (format == 0) {
    uint32_t count = ld.u8(p++);
    for (uint32_t j = 1; j <= count; ++j) {
      uint32_t code = ld.u8(p++);
      if (code <= 255 && static_cast<int32_t>(j) < glyphs) encoding_[code] = glyphNames_.GetString(static_cast<int32_t>(j));
    }
  } else if (format == 1) {
    uint32_t ranges = ld.u8(p++);
    int32_t g = 1;
    for (uint32_t r = 0; r < ranges; ++r) {
      uint32_t first = ld.u8(p), left = ld.u8(p + 1);
      p += 2;
      for (uint32_t k = 0; k <= left; ++k, ++g) {
        uint32_t code = first + k;
        if (code <= 255 && g < glyphs) encoding_[code] = glyphNames_.GetString(g);
      }
    }
  }
  if (format > 1 || !(formatByte & 0x80)) return;
  // p stands after the codes or ranges.
  const uint32_t supplements = ld.u8(p++);
  for (uint32_t k = 0; k < supplements; ++k, p += 3) {
    const uint32_t code = ld.u8(p);
    std::string name = ld.sidText(ld.u16(p + 1));
    if (!name.empty()) encoding_[code] = std::move(name);
  }
}

void TPDFType1Decoder::cffReadFDSelect(TCFFLoad& ld, int64_t at) {
  const int32_t glyphs = glyphNames_.GetCount();
  fdSelect_.assign(static_cast<size_t>(glyphs), 0);
  uint32_t format = ld.u8(at);
  if (format == 0) {
    for (int32_t g = 0; g < glyphs; ++g) fdSelect_[static_cast<size_t>(g)] = static_cast<int32_t>(ld.u8(at + 1 + g));
  } else if (format == 3) {
    uint32_t ranges = ld.u16(at + 1);
    int64_t p = at + 3;
    for (uint32_t r = 0; r < ranges; ++r, p += 3) {
      uint32_t first = ld.u16(p), fd = ld.u8(p + 2), next = ld.u16(p + 3);
      uint32_t end = std::min<uint32_t>(next, static_cast<uint32_t>(glyphs));
      for (uint32_t g = first; g < end; ++g) fdSelect_[g] = static_cast<int32_t>(fd);
    }
  }
}
