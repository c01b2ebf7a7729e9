// Type 1 font programs: splitting the FontFile data, the program tokenizer,
// the clear-text and eexec-encrypted parts, and Type 1 charstrings into the
// glyph op list.
#include "render/PavonaType1.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

#include "render/PavonaType1Internal.h"
#include "objects/PavonaCharClass.h"

using namespace pvltype1;

// ---------------------------------------------------------------------------
// Shared helpers of the translators

namespace pvltype1 {

std::string NumText(double v) {
  if (!std::isfinite(v)) return "0";
  if (v == std::trunc(v) && std::fabs(v) < 1e15) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v));
    return std::string(buf, res.ptr);
  }
  return FormatPDFNumber(6, v);
}

std::string IntText(int64_t v) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

double NumOf(std::string_view text) {
  if (text.empty()) return 0;
  // Fast path for the plain integers that make up nearly every operand.
  size_t i = 0;
  bool neg = false;
  if (text[0] == '-') {
    neg = true;
    i = 1;
  }
  if (i < text.size() && text.size() - i <= 15) {
    int64_t v = 0;
    size_t j = i;
    for (; j < text.size(); ++j) {
      char c = text[j];
      if (c < '0' || c > '9') break;
      v = v * 10 + (c - '0');
    }
    if (j == text.size()) return neg ? -static_cast<double>(v) : static_cast<double>(v);
  }
  return PDFTextToFloat(text);
}

std::string PopOp(TPavonaStringList& list) {
  int32_t n = list.GetCount();
  if (n == 0) return std::string();
  std::string s = list.GetString(n - 1);
  // Operands are number texts; an operator already written stays where it
  // is, so a charstring short of operands never splices op texts together
  // (which also made each op as long as all before it).
  const char c = s.empty() ? 'x' : s[0];
  if (!(c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9'))) return std::string();
  list.Delete(n - 1);
  return s;
}

}  // namespace pvltype1

// ---------------------------------------------------------------------------
// Decoder object

TPDFType1Decoder::TPDFType1Decoder() : pool_(std::make_unique<TPDFStructure>()) {
  fontDictionary_ = pool_->NewDictionary();
  outlineCache_.SetSorted(true);
  BuildEncodingVector(pdfekStandard, encoding_);
}

TPDFType1Decoder::~TPDFType1Decoder() = default;

TPDFObject* TPDFType1Decoder::resolve(TPDFObject* obj) const {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) {
    // The font collection's lookup when it gave one; else the reference's own pool.
    if (OnLookupObject) return OnLookupObject(ref, ref->GetRefNumber(), ref->GetRefGeneration());
    return ref->Resolve();
  }
  return obj;
}

void TPDFType1Decoder::clearGlyphs() {
  glyphNames_.Clear();
  charStrings_.Clear();
  glyphIndex_.clear();
}

void TPDFType1Decoder::indexGlyphNames() {
  glyphIndex_.clear();
  glyphIndex_.reserve(static_cast<size_t>(glyphNames_.GetCount()));
  for (int32_t i = 0; i < glyphNames_.GetCount(); ++i) glyphIndex_.emplace(glyphNames_.GetString(i), i);
}

int32_t TPDFType1Decoder::glyphIndexOf(std::string_view name) const {
  auto it = glyphIndex_.find(std::string(name));
  return it == glyphIndex_.end() ? -1 : it->second;
}

// ---------------------------------------------------------------------------
// Splitting the font file

bool TPDFType1Decoder::SplitFontFile(TPDFStream* stream) {
  if (!stream || !stream->GetDictionary()) return false;
  TPDFDictionary* dict = stream->GetDictionary();
  auto length = [&](std::string_view key) -> int64_t {
    TPDFNumeric* n = PDFAsNumeric(resolve(dict->GetValue(key)));
    return n ? n->AsInteger() : 0;
  };
  int64_t l1 = length("Length1"), l2 = length("Length2"), l3 = length("Length3");
  if (l1 <= 0 || l2 <= 0) return false;
  std::string data = stream->GetDecodedData();
  return SplitFontData(data, l1, l2, l3);
}

bool TPDFType1Decoder::SplitFontData(std::string_view data, int64_t length1, int64_t length2, int64_t length3) {
  if (length1 <= 0 || length2 <= 0) return false;
  if (length3 < 0) length3 = 0;
  // Lengths come from the file: every part is cut to the data there is.
  auto take = [&](size_t& pos, int64_t len, std::string& out) {
    size_t avail = data.size() - pos;
    size_t n = static_cast<uint64_t>(len) > avail ? avail : static_cast<size_t>(len);
    out.assign(data.substr(pos, n));
    pos += n;
    return static_cast<int64_t>(n) == len;
  };
  size_t pos = 0;
  bool ok = take(pos, length1, clearText_);
  ok = take(pos, length2, encryptedText_) && ok;
  ok = take(pos, length3, trailerText_) && ok;
  return ok;
}

// ---------------------------------------------------------------------------
// eexec

std::string EexecDecrypt(uint16_t key, int32_t leadCount, std::string_view data) {
  size_t start = 0;
  // "eexec" counts only in a clear-text lead-in: binary cipher text may hold
  // those five bytes by chance.
  size_t k = data.find("eexec");
  if (k != std::string_view::npos) {
    bool clear = true;
    for (size_t i = 0; i < k && clear; ++i) {
      auto c = static_cast<unsigned char>(data[i]);
      clear = (c >= 32 && c < 127) || c == 9 || c == 10 || c == 13 || c == 12;
    }
    if (clear) start = std::min(data.size(), k + 6);
  }
  if (leadCount < 0) leadCount = 0;
  std::string out;
  size_t n = data.size() - start;
  if (n <= static_cast<size_t>(leadCount)) return out;
  out.resize(n - static_cast<size_t>(leadCount));
  uint16_t r = key;
  size_t o = 0;
  for (size_t i = start; i < data.size(); ++i) {
    auto c = static_cast<uint8_t>(data[i]);
    auto p = static_cast<uint8_t>(c ^ (r >> 8));
    r = static_cast<uint16_t>((c + r) * 52845u + 22719u);
    if (i - start >= static_cast<size_t>(leadCount)) out[o++] = static_cast<char>(p);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Tokenizer

namespace {

inline bool isWhite(unsigned char c) {
  return PDFIsWhite(c);
}
inline bool isDelim(unsigned char c) {
  return PDFIsDelimiter(c);
}
inline bool isLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

struct TTokenReader {
  std::string_view d;
  size_t pos = 0;

  void skipWhiteAndComments() {
    for (;;) {
      while (pos < d.size() && isWhite(static_cast<unsigned char>(d[pos]))) ++pos;
      if (pos < d.size() && d[pos] == '%') {
        while (pos < d.size() && d[pos] != '\r' && d[pos] != '\n') ++pos;
        continue;
      }
      return;
    }
  }

  bool atName(const std::string& name) const {
    if (name.empty() || d.substr(pos, name.size()) != name) return false;
    size_t e = pos + name.size();
    return e >= d.size() || isWhite(static_cast<unsigned char>(d[e])) || isDelim(static_cast<unsigned char>(d[e]));
  }

  size_t nameEnd(size_t from) const {
    while (from < d.size() && !isWhite(static_cast<unsigned char>(d[from])) &&
           !isDelim(static_cast<unsigned char>(d[from])))
      ++from;
    return from;
  }

  std::string next(const std::string& rd, const std::string& nd, const std::string& np) {
    skipWhiteAndComments();
    if (pos >= d.size()) return std::string();
    auto c = static_cast<unsigned char>(d[pos]);
    if (c == '[' || c == ']' || c == '{' || c == '}') {
      ++pos;
      return std::string(1, static_cast<char>(c));
    }
    for (const std::string* nm : {&rd, &nd, &np}) {
      if (atName(*nm)) {
        pos += nm->size();
        return *nm;
      }
    }
    if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
      size_t s = pos++;
      bool dot = c == '.';
      while (pos < d.size()) {
        char ch = d[pos];
        if (ch >= '0' && ch <= '9') {
          ++pos;
        } else if (ch == '.' && !dot) {
          dot = true;
          ++pos;
        } else {
          break;
        }
      }
      return std::string(d.substr(s, pos - s));
    }
    if (c == '(') {
      size_t s = pos++;
      int depth = 1;
      while (pos < d.size()) {
        char ch = d[pos];
        if (ch == '\\') {
          pos += 2;
          continue;
        }
        if (ch == '(') ++depth;
        if (ch == ')' && --depth == 0) {
          ++pos;
          return std::string(d.substr(s, pos - s));
        }
        ++pos;
      }
      pos = d.size();
      return std::string();  // unterminated
    }
    if (c == '<') {
      size_t e = d.find('>', pos + 1);
      if (e == std::string_view::npos) {
        pos = d.size();
        return std::string();
      }
      std::string t(d.substr(pos + 1, e - pos - 1));
      pos = e + 1;
      return t;
    }
    if (c == '/') {
      size_t e = nameEnd(pos + 1);
      std::string t(d.substr(pos, e - pos));
      pos = e;
      return t;
    }
    if (isLetter(c)) {
      size_t e = nameEnd(pos);
      std::string t = "/ps:";
      t.append(d.substr(pos, e - pos));
      pos = e;
      return t;
    }
    return std::string();
  }
};

bool isRDToken(std::string_view t, const std::string& rd) {
  return t == "-|" || t == "/-|" || t == "RD" || t == "/RD" || t == "/ps:RD" || t == rd;
}
bool isNDToken(std::string_view t, const std::string& nd) {
  return t == "|-" || t == "/|-" || t == "ND" || t == "/ND" || t == "/ps:ND" || t == nd;
}

bool intOf(std::string_view t, int64_t& v) {
  if (t.empty()) return false;
  auto res = std::from_chars(t.data(), t.data() + t.size(), v);
  return res.ec == std::errc() && res.ptr == t.data() + t.size();
}

}  // namespace

void TPDFType1Decoder::Tokenize(std::string_view data, TPavonaStringList& tokens) {
  TTokenReader rd{data};
  bool watchPrivate = false, inBraces = false;
  int braceDepth = 0;
  std::string lastLiteral;
  bool subrsMode = false, charStringsMode = false;
  bool expectSubrsCount = false, expectDupIndex = false;
  int64_t subrsDeclared = 0, subrsCollected = 0;
  std::string keptIndex;
  std::string prev;
  for (;;) {
    std::string tok = rd.next(rdName_, ndName_, npName_);
    if (tok.empty()) break;

    if (watchPrivate) {
      if (tok == "{") {
        ++braceDepth;
        inBraces = true;
      } else if (tok == "}") {
        if (braceDepth > 0 && --braceDepth == 0) inBraces = false;
      } else if (inBraces) {
        if (tok == "/ps:readstring") {
          rdName_ = lastLiteral;
        } else if (tok == "/ps:def") {
          ndName_ = lastLiteral;
        } else if (tok == "/ps:put") {
          npName_ = lastLiteral;
          watchPrivate = false;
        }
      } else if (tok.size() > 1 && tok[0] == '/' && tok.compare(0, 4, "/ps:") != 0) {
        lastLiteral = tok.substr(1);
      }
    }
    if (tok == "/Private") watchPrivate = true;

    if (expectSubrsCount) {
      expectSubrsCount = false;
      int64_t n = 0;
      subrsDeclared = intOf(tok, n) && n > 0 ? n : 0;
      subrsCollected = 0;
      subrsMode = subrsDeclared > 0;
    } else if (tok == "/Subrs") {
      expectSubrsCount = true;
      charStringsMode = false;
    } else if (tok == "/CharStrings") {
      charStringsMode = true;
      subrsMode = false;
    }

    bool rdTok = (subrsMode || charStringsMode) && isRDToken(tok, rdName_);
    if (subrsMode && expectDupIndex) {
      keptIndex = tok;
      expectDupIndex = false;
    } else if (subrsMode && tok == "/ps:dup") {
      expectDupIndex = true;
    }

    if (rdTok) {
      tokens.Add(tok);
      int64_t n = 0;
      if (!intOf(prev, n) || n < 0) n = 0;
      size_t start = std::min(data.size(), rd.pos + 1);  // one separator byte
      size_t avail = data.size() - start;
      size_t len = static_cast<uint64_t>(n) > avail ? avail : static_cast<size_t>(n);
      std::string_view raw = data.substr(start, len);
      rd.pos = start + len;
      if (subrsMode) {
        int64_t idx = 0;
        if (!intOf(keptIndex, idx) || idx < INT32_MIN || idx > INT32_MAX) idx = localSubrs_.GetCount();
        localSubrs_.AddObject(raw, reinterpret_cast<void*>(static_cast<intptr_t>(idx)));
        subrIndexBuilt_ = false;
        keptIndex.clear();
        if (++subrsCollected >= subrsDeclared) subrsMode = false;
      } else {
        tokens.Add(raw);
      }
      prev = tok;
      continue;
    }
    if (subrsMode && isNDToken(tok, ndName_)) subrsMode = false;
    tokens.Add(tok);
    prev = std::move(tok);
  }
}

// ---------------------------------------------------------------------------
// Clear-text part

bool TPDFType1Decoder::ParseCleartext() {
  BuildEncodingVector(pdfekStandard, encoding_);
  TPavonaStringList list;
  Tokenize(clearText_, list);
  std::vector<std::string> t(static_cast<size_t>(list.GetCount()));
  for (int32_t i = 0; i < list.GetCount(); ++i) t[static_cast<size_t>(i)] = list.GetString(i);
  const size_t n = t.size();
  bool dictSeen = false;
  for (size_t i = 0; i < n; ++i) {
    std::string& s = t[i];
    if (s == "/ps:FontDirectory") {
      size_t j = i;
      while (j < n && t[j] != "/ps:dict") t[j++].clear();
      i = j - 1;
      continue;
    }
    if (s == "/ps:readonly" || s == "/ps:def" || s == "/ps:currentdict" || s == "/ps:currentfile" || s == "/ps:dup" ||
        s == "/ps:put") {
      s.clear();
    } else if (s == "/ps:end") {
      s = ">>";
    } else if (s == "{") {
      s = "[";
    } else if (s == "}") {
      s = "]";
    } else if (s == "/ps:dict") {
      s.clear();
      if (i > 0) t[i - 1].clear();
      dictSeen = true;
    } else if (s == "/ps:begin" && dictSeen) {
      s = "<<";
      dictSeen = false;
    } else if (s == "/Encoding" && i + 2 < n) {
      if (t[i + 1] == "/ps:StandardEncoding") {
        t[i + 1] = "/StandardEncoding";
      } else if (t[i + 2] == "/ps:array") {
        t[i + 1] = "[";
        size_t j = i + 2;
        while (j < n && t[j] != "/ps:dup") t[j++].clear();
        for (; j < n; ++j) {
          if (t[j] == "/ps:def" || t[j] == "/ps:readonly") {
            t[j] = "]";
            break;
          }
        }
        // Visit the tokens after "[" normally (dup/put are blanked there).
        i = i + 1;
      }
    }
  }
  std::string text;
  for (const std::string& s : t) {
    if (s.empty()) continue;
    text += ' ';
    text += s;
  }
  TPDFObject* obj = pool_->ParseObject(text);
  TPDFDictionary* dict = PDFAsDictionary(obj);
  if (!dict) return false;
  fontDictionary_ = dict;
  fontBBox_ = PDFAsArray(dict->GetValue("FontBBox"));
  // Programs drawn on a grid other than 1000 units per em (2048 is common)
  // say so in their FontMatrix; their charstrings and widths are in those units.
  takeFontMatrix(PDFAsArray(dict->GetValue("FontMatrix")));
  if (TPDFArray* enc = PDFAsArray(dict->GetValue("Encoding"))) {
    int64_t code = 0;
    for (TPDFObject* item : enc->Items()) {
      if (TPDFNumeric* num = PDFAsNumeric(item)) {
        code = num->AsInteger();
      } else if (TPDFName* name = PDFAsName(item)) {
        if (code >= 0 && code <= 255) encoding_[static_cast<size_t>(code)] = name->GetValue();
      }
    }
  }
  return true;
}

void TPDFType1Decoder::takeFontMatrix(TPDFArray* fm) {
  if (!fm || fm->GetCount() != 6) return;
  double v[6];
  for (int32_t i = 0; i < 6; ++i) {
    TPDFNumeric* n = PDFAsNumeric(fm->GetItem(i));
    if (!n || !std::isfinite(n->GetValue())) return;
    v[i] = n->GetValue() * 1000;
  }
  // A matrix that maps nothing (or almost) draws nothing sensible: keep 1/1000 em.
  if (std::fabs(v[0] * v[3] - v[1] * v[2]) < 1e-9 || v[0] == 0) return;
  glyphScale_ = v[0];
  shapedMatrix_ = v[1] != 0 || v[2] != 0 || v[3] != v[0] || v[4] != 0 || v[5] != 0;
  fontMatrix_ = TPDFMatrix{v[0], v[1], v[2], v[3], v[4], v[5]};
}

// ---------------------------------------------------------------------------
// Private part

bool TPDFType1Decoder::ParsePrivate() {
  std::string plain = EexecDecrypt(55665, 4, encryptedText_);
  TPavonaStringList tokens;
  localSubrs_.Clear();
  subrIndexBuilt_ = false;
  Tokenize(plain, tokens);
  const int32_t count = tokens.GetCount();
  lenIV_ = 4;
  int32_t charStringsAt = -1;
  for (int32_t i = 0; i < count; ++i) {
    const std::string& s = tokens.GetString(i);
    if (s == "/lenIV" && i + 1 < count) {
      int64_t v = 0;
      lenIV_ = intOf(tokens.GetString(i + 1), v) && v >= -1 && v <= 65535 ? static_cast<int32_t>(v) : 4;
    } else if (s == "/CharStrings" && i > 0 && charStringsAt < 0) {
      charStringsAt = i;
    }
  }
  if (charStringsAt > 0) {
    clearGlyphs();
    int64_t left = 0;
    if (charStringsAt + 1 < count) intOf(tokens.GetString(charStringsAt + 1), left);
    for (int32_t i = charStringsAt + 1; i + 2 < count && left > 0; ++i) {
      if (!isRDToken(tokens.GetString(i + 1), rdName_)) continue;
      std::string_view name = tokens.GetString(i - 1);
      if (!name.empty()) name.remove_prefix(1);
      glyphNames_.Add(name);
      charStrings_.Add(tokens.GetString(i + 2));
      --left;
      i += 2;
    }
    indexGlyphNames();
  }
  outlineCache_.Clear();
  cachedOutlines_.clear();
  missingGlyphs_.clear();
  return true;
}

std::string TPDFType1Decoder::GetType1Subr(int32_t index) {
  if (!subrIndexBuilt_) {
    subrIndex_.clear();
    for (int32_t i = 0; i < localSubrs_.GetCount(); ++i) {
      auto declared = static_cast<int32_t>(reinterpret_cast<intptr_t>(localSubrs_.GetObject(i)));
      subrIndex_.emplace(declared, i);
    }
    subrIndexBuilt_ = true;
  }
  auto it = subrIndex_.find(index);
  if (it == subrIndex_.end()) return std::string();
  const std::string& raw = localSubrs_.GetString(it->second);
  return lenIV_ < 0 ? raw : EexecDecrypt(4330, lenIV_, raw);
}

// ---------------------------------------------------------------------------
// Type 1 charstrings into the op list

struct TPDFType1Decoder::TType1State {
  std::vector<std::string> psStack;  // the PostScript result stack
  bool flexMode = false;
  int32_t flexCount = 0;
  std::array<std::pair<std::string, std::string>, 7> flexPoints;
  std::array<std::string, 33> transient;
};

bool TPDFType1Decoder::Type1CharStringToOps(std::string_view glyphName) {
  opList_.Clear();
  std::string cs = FindCharString(glyphName);
  std::string plain = lenIV_ < 0 ? cs : EexecDecrypt(4330, lenIV_, cs);
  if (plain.empty()) {
    opList_.Add("hsbw(0,0)");
    return false;
  }
  TType1State st;
  stepsLeft_ = kCharStringMaxSteps;
  interpretType1(plain, st, 0);
  return true;
}

void TPDFType1Decoder::interpretType1(std::string_view code, TType1State& st, int32_t depth) {
  if (depth >= kType1MaxDepth) return;
  TPavonaStringList& ops = opList_;
  auto pop = [&]() { return PopOp(ops); };
  const size_t n = code.size();
  size_t i = 0;
  while (i < n && --stepsLeft_ >= 0) {
    auto v = static_cast<uint8_t>(code[i++]);
    if (v >= 32) {
      if (v <= 246) {
        ops.Add(IntText(static_cast<int64_t>(v) - 139));
      } else if (v <= 250) {
        if (i >= n) break;
        ops.Add(IntText((v - 247) * 256 + static_cast<uint8_t>(code[i++]) + 108));
      } else if (v <= 254) {
        if (i >= n) break;
        ops.Add(IntText(-(v - 251) * 256 - static_cast<uint8_t>(code[i++]) - 108));
      } else {
        if (i + 4 > n) break;
        uint32_t u = (static_cast<uint32_t>(static_cast<uint8_t>(code[i])) << 24) |
                     (static_cast<uint32_t>(static_cast<uint8_t>(code[i + 1])) << 16) |
                     (static_cast<uint32_t>(static_cast<uint8_t>(code[i + 2])) << 8) |
                     static_cast<uint32_t>(static_cast<uint8_t>(code[i + 3]));
        i += 4;
        ops.Add(IntText(static_cast<int32_t>(u)));
      }
      continue;
    }
    switch (v) {
      case 10: {
        double num = NumOf(pop());
        if (num >= INT32_MIN && num <= INT32_MAX) {
          std::string sub = GetType1Subr(static_cast<int32_t>(num));
          if (!sub.empty()) interpretType1(sub, st, depth + 1);
        }
        break;
      }
      case 11:
        break;
      case 12: {
        if (i >= n) return;
        auto e = static_cast<uint8_t>(code[i++]);
        type1Escape(e, st, depth);
        break;
      }
      default:
        type1Op(v, st);
        break;
    }
  }
}

// One-byte operators: hints, moves, lines, curves, width and endchar.
void TPDFType1Decoder::type1Op(uint8_t v, TType1State& st) {
  TPavonaStringList& ops = opList_;
  auto pop = [&]() { return PopOp(ops); };
  switch (v) {
    case 1:
    case 3: {
      std::string d = pop(), p = pop();
      ops.Add((v == 1 ? "hstem(" : "vstem(") + p + "," + d + ")");
      break;
    }
    case 4:
    case 21:
    case 22:
      type1Moveto(v, st);
      break;
    case 5: {
      std::string dy = pop(), dx = pop();
      ops.Add("rlineto(" + dx + "," + dy + ")");
      break;
    }
    case 6:
      ops.Add("rlineto(" + pop() + ",0)");
      break;
    case 7:
      ops.Add("rlineto(0," + pop() + ")");
      break;
    case 8: {
      std::string a[6];
      for (int k = 5; k >= 0; --k) a[k] = pop();
      ops.Add("rrcurveto(" + a[0] + "," + a[1] + "," + a[2] + "," + a[3] + "," + a[4] + "," + a[5] + ") rr");
      break;
    }
    case 9:
      ops.Add("closepath");
      break;
    case 13: {
      std::string wx = pop(), sbx = pop();
      ops.Add("hsbw(" + sbx + "," + wx + ")");
      break;
    }
    case 14:
      ops.Add("endchar");
      break;
    case 30: {
      std::string a[4];
      for (int k = 3; k >= 0; --k) a[k] = pop();
      ops.Add("rrcurveto(0," + a[0] + "," + a[1] + "," + a[2] + "," + a[3] + ",0) vh");
      break;
    }
    case 31: {
      std::string a[4];
      for (int k = 3; k >= 0; --k) a[k] = pop();
      ops.Add("rrcurveto(" + a[0] + ",0," + a[1] + "," + a[2] + ",0," + a[3] + ") hv");
      break;
    }
    default:
      break;
  }
}

// rmoveto (21), hmoveto (22), vmoveto (4); inside a flex the points are
// gathered for the flex op instead of moving.
void TPDFType1Decoder::type1Moveto(uint8_t v, TType1State& st) {
  TPavonaStringList& ops = opList_;
  auto pop = [&]() { return PopOp(ops); };
  std::string dx, dy;
  if (v == 21) {
    dy = pop();
    dx = pop();
  } else if (v == 22) {
    dx = pop();
    dy = "0";
  } else {
    dy = pop();
    dx = "0";
  }
  if (st.flexMode && st.flexCount >= 0 && st.flexCount <= 6) {
    st.flexPoints[static_cast<size_t>(st.flexCount)] = {dx, dy};
  } else {
    ops.Add("rmoveto(" + dx + "," + dy + ")");
  }
}

// Escaped (12 e) operators other than arithmetic.
void TPDFType1Decoder::type1Escape(uint8_t e, TType1State& st, int32_t depth) {
  TPavonaStringList& ops = opList_;
  auto pop = [&]() { return PopOp(ops); };
  switch (e) {
    case 0:
      ops.Add("dotsection");
      break;
    case 1:
      ops.Add("vstem3");
      break;
    case 2:
      ops.Add("hstem3");
      break;
    case 6:
      type1Seac(st, depth);
      break;
    case 7: {
      std::string wy = pop(), wx = pop(), sby = pop(), sbx = pop();
      ops.Add("sbw(" + sbx + "," + sby + "," + wx + "," + wy + ")");
      break;
    }
    case 16:
      type1OtherSubr(st);
      break;
    case 17:
      if (st.psStack.empty()) {
        ops.Add("0");
      } else {
        ops.Add(st.psStack.back());
        st.psStack.pop_back();
      }
      break;
    case 33: {
      std::string y = pop(), x = pop();
      ops.Add("setcurrentpoint(" + x + "," + y + ")");
      break;
    }
    default:
      type1Arithmetic(e, st);
      break;
  }
}

// callothersubr: the flex protocol (othersubrs 0, 1, 2) and hint
// replacement (3); results go to the PostScript stack for pop (12 17).
void TPDFType1Decoder::type1OtherSubr(TType1State& st) {
  TPavonaStringList& ops = opList_;
  auto pop = [&]() { return PopOp(ops); };
  double other = NumOf(pop());
  double argc = NumOf(pop());
  (void)argc;
  if (other == 1) {
    st.flexMode = true;
    st.flexCount = 0;
  } else if (other == 2) {
    ++st.flexCount;
  } else if (other == 0) {
    std::string y = pop(), x = pop();
    pop();  // flex height
    if (st.flexMode && st.flexCount == 7) {
      std::string e2 = "flex(";
      for (size_t k = 0; k < 7; ++k) {
        if (k) e2 += ',';
        e2 += st.flexPoints[k].first + "," + st.flexPoints[k].second;
      }
      ops.Add(e2 + ")");
    }
    st.flexMode = false;
    st.flexCount = 0;
    st.psStack.push_back(y);
    st.psStack.push_back(x);
  } else if (other == 3) {
    st.psStack.push_back("3");
  }
}

// Escaped arithmetic, logic, stack and transient-array operators.
void TPDFType1Decoder::type1Arithmetic(uint8_t e, TType1State& st) {
  TPavonaStringList& ops = opList_;
  auto pop = [&]() { return PopOp(ops); };
  auto arith = [&](double v) { ops.Add(NumText(v)); };
  switch (e) {
    case 3: {
      double b = NumOf(pop()), a = NumOf(pop());
      ops.Add(a != 0 && b != 0 ? "1" : "0");
      break;
    }
    case 4: {
      double b = NumOf(pop()), a = NumOf(pop());
      ops.Add(a != 0 || b != 0 ? "1" : "0");
      break;
    }
    case 5:
      ops.Add(NumOf(pop()) == 0 ? "1" : "0");
      break;
    case 9:
      arith(std::fabs(NumOf(pop())));
      break;
    case 10: {
      double b = NumOf(pop()), a = NumOf(pop());
      arith(a + b);
      break;
    }
    case 11: {
      double b = NumOf(pop()), a = NumOf(pop());
      arith(a - b);
      break;
    }
    case 12: {
      double b = NumOf(pop()), a = NumOf(pop());
      ops.Add(b == 0 ? std::string("0") : FormatPDFNumber(6, a / b));
      break;
    }
    case 14:
      arith(-NumOf(pop()));
      break;
    case 15: {
      double b = NumOf(pop()), a = NumOf(pop());
      ops.Add(a == b ? "1" : "0");
      break;
    }
    case 18:
      pop();
      break;
    case 20: {
      double idx = NumOf(pop());
      std::string val = pop();
      if (idx >= 0 && idx <= 32) st.transient[static_cast<size_t>(idx)] = val;
      break;
    }
    case 21: {
      double idx = NumOf(pop());
      if (idx >= 0 && idx <= 32) ops.Add(st.transient[static_cast<size_t>(idx)]);
      break;
    }
    case 22: {
      double t2 = NumOf(pop()), t1 = NumOf(pop());
      std::string s2 = pop(), s1 = pop();
      ops.Add(t1 <= t2 ? s1 : s2);
      break;
    }
    case 23: {
      static thread_local std::mt19937 gen(12345);
      double r = std::uniform_real_distribution<double>(0.0, 1.0)(gen);
      arith(r == 0 ? 1 : r);
      break;
    }
    case 24: {
      double b = NumOf(pop()), a = NumOf(pop());
      arith(a * b);
      break;
    }
    case 26: {
      double a = NumOf(pop());
      arith(a < 0 ? 0 : std::sqrt(a));
      break;
    }
    case 27: {
      int32_t c = ops.GetCount();
      ops.Add(c ? std::string(ops.GetString(c - 1)) : std::string());
      break;
    }
    case 28: {
      std::string b = pop(), a = pop();
      ops.Add(b);
      ops.Add(a);
      break;
    }
    case 29: {
      double k = NumOf(pop());
      int32_t c = ops.GetCount();
      if (c == 0) {
        ops.Add("");
      } else if (k < 0 || k >= c) {
        ops.Add(k < 0 ? std::string(ops.GetString(c - 1)) : std::string());
      } else {
        ops.Add(std::string(ops.GetString(c - 1 - static_cast<int32_t>(k))));
      }
      break;
    }
    case 30: {
      double jv = NumOf(pop()), nv = NumOf(pop());
      int32_t c = ops.GetCount();
      if (nv > 0 && nv <= c && std::fabs(jv) < 1e9) {
        auto N = static_cast<int32_t>(nv);
        auto J = static_cast<int64_t>(jv);
        std::vector<std::string> top(static_cast<size_t>(N));
        for (int32_t k = 0; k < N; ++k) top[static_cast<size_t>(k)] = ops.GetString(c - N + k);
        int64_t shift = ((J % N) + N) % N;
        for (int32_t k = 0; k < N; ++k)
          ops.SetString(c - N + static_cast<int32_t>((k + shift) % N), top[static_cast<size_t>(k)]);
      }
      break;
    }
    default:
      break;
  }
}

void TPDFType1Decoder::type1Seac(TType1State& st, int32_t depth) {
  (void)st;
  std::string achar = PopOp(opList_), bchar = PopOp(opList_), ady = PopOp(opList_), adx = PopOp(opList_),
              asb = PopOp(opList_);
  static const TPDFGlyphNames standard = [] {
    TPDFGlyphNames names;
    BuildEncodingVector(pdfekStandard, names);
    return names;
  }();
  double b = NumOf(bchar), a = NumOf(achar);
  if (b < 0 || b > 255 || a < 0 || a > 255) return;
  const std::string& bname = standard[static_cast<size_t>(b)];
  const std::string& aname = standard[static_cast<size_t>(a)];
  if (bname.empty() || aname.empty() || bname == ".notdef" || aname == ".notdef") return;
  std::string bcs = FindCharString(bname), acs = FindCharString(aname);
  auto plain = [&](const std::string& cs) { return lenIV_ < 0 ? cs : EexecDecrypt(4330, lenIV_, cs); };
  TType1State baseState;
  interpretType1(plain(bcs), baseState, depth + 1);
  opList_.Add("seac(" + asb + "," + adx + "," + ady + ")");
  TType1State accentState;
  interpretType1(plain(acs), accentState, depth + 1);
}
