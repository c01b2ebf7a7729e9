#include "render/PavonaType3.h"

#include <cmath>

#include "objects/PavonaContentLexer.h"
#include "objects/PavonaCharClass.h"

// ---------------------------------------------------------------------------
// Loading

TPDFObject* TPDFType3Rasterizer::resolve(TPDFObject* obj) const {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) {
    if (OnLookupObject) return OnLookupObject(ref, ref->GetRefNumber(), ref->GetRefGeneration());
    return ref->Resolve();
  }
  return obj;
}

std::string TPDFType3Rasterizer::streamText(TPDFObject* value) const {
  TPDFIndRef* ref = PDFAsIndRef(value);
  if (!ref) return std::string();  // a direct value gives an empty procedure
  TPDFStream* stream = PDFAsStream(resolve(ref));
  if (!stream) return std::string();
  if (OnDecryptStream) OnDecryptStream(stream, ref);
  std::string text = stream->GetDecodedData();
  if (OnEncryptStream) OnEncryptStream(stream, ref);
  return text;
}

void TPDFType3Rasterizer::Load(TPDFDictionary* fontDictionary) {
  FontDictionary = fontDictionary;
  if (!fontDictionary) return;
  if (TPDFArray* fm = PDFAsArray(resolve(fontDictionary->GetValue("FontMatrix"))); fm && fm->GetCount() == 6) {
    for (int32_t i = 0; i < 6; ++i)
      if (TPDFNumeric* n = PDFAsNumeric(fm->GetItem(i))) FontMatrix[static_cast<size_t>(i)] = n->GetValue();
  }
  TPDFDictionary* procs = PDFAsDictionary(resolve(fontDictionary->GetValue("CharProcs")));
  if (!procs) return;
  for (const TPDFDictEntry& e : procs->Entries()) {
    if (!e.key) continue;
    CharNames.Add(e.key->GetValue());
    CharProcs.Add(streamText(e.value));
  }
}

std::string TPDFType3Rasterizer::GetCharProc(std::string_view glyphName) const {
  for (int32_t i = 0; i < CharNames.GetCount(); ++i)
    if (CharNames.GetString(i) == glyphName) return CharProcs.GetString(i);
  return std::string();
}

TPDFType3Rasterizer::TNestingGuard::TNestingGuard(int32_t& depth) : depth_(depth) {
  if (depth_ >= kType3MaxNesting)
    throw EPDFType3Error("Type 3 glyph procedures nest deeper than " + std::to_string(kType3MaxNesting) + " levels");
  ++depth_;
}

TPDFType3Rasterizer::TNestingGuard::~TNestingGuard() { --depth_; }

size_t TPDFType3Rasterizer::GetInlineImageEnd(std::string_view glyphName, size_t biPosition) const {
  auto it = InlineImages.find({std::string(glyphName), biPosition});
  return it == InlineImages.end() ? 0 : it->second;
}

// ---------------------------------------------------------------------------
// Inline images

namespace {

inline bool isWhite(unsigned char c) { return PDFIsWhite(c); }

}  // namespace

size_t FindInlineImageEnd(std::string_view text, size_t from) {
  // "ID" as a token of its own, after the image dictionary.
  size_t id = from;
  for (;;) {
    id = text.find("ID", id);
    if (id == std::string_view::npos) return std::string_view::npos;
    bool before = id == 0 || isWhite(static_cast<unsigned char>(text[id - 1])) || text[id - 1] == '>' ||
                  text[id - 1] == ']' || text[id - 1] == ')';
    bool after = id + 2 >= text.size() || isWhite(static_cast<unsigned char>(text[id + 2]));
    if (before && after) break;
    id += 2;
  }
  size_t data = id + 3;  // one white-space byte separates ID from the data
  for (size_t p = data; p + 1 < text.size(); ++p) {
    if (text[p] != 'E' || text[p + 1] != 'I') continue;
    bool before = p > data && isWhite(static_cast<unsigned char>(text[p - 1]));
    bool after = p + 2 >= text.size() || isWhite(static_cast<unsigned char>(text[p + 2]));
    if (before && after) return p + 2;
  }
  return std::string_view::npos;
}

// ---------------------------------------------------------------------------
// Drawing

namespace {

// Glyph procedures are read with the shared content token reader.
struct TProcReader {
  std::string_view t;
  size_t pos = 0;
  std::string_view next() { return NextContentToken(t, pos); }
};

}  // namespace

bool TPDFType3Rasterizer::DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey,
                                    double x, double y) {
  int32_t index = -1;
  for (int32_t i = 0; i < CharNames.GetCount() && index < 0; ++i)
    if (CharNames.GetString(i) == glyphKey) index = i;
  if (index < 0) return false;
  TPDFMatrix W;
  MatrixMultiply(W, TPDFMatrix{1, 0, 0, 1, x, y}, matrix);
  if (canvas) canvas->BeginPath();
  const std::string& text = CharProcs.GetString(index);
  TProcReader rd{text};
  std::vector<std::string_view> operands;
  auto num = [&]() -> double {
    if (operands.empty()) return 0;
    double v = PDFTextToFloat(operands.back());
    operands.pop_back();
    return std::isfinite(v) ? v : 0;
  };
  auto map = [&](double px, double py) {
    TPDFPoint p;
    MatrixTransformPoint(W, TPDFPoint{px, py}, p);
    return p;
  };
  for (;;) {
    std::string_view tok = rd.next();
    if (tok.empty()) break;
    if (tok == "m" || tok == "l") {
      double py = num(), px = num();
      TPDFPoint p = map(px, py);
      if (canvas) {
        if (tok == "m")
          canvas->MoveTo(p.x, p.y);
        else
          canvas->LineTo(p.x, p.y);
      }
    } else if (tok == "c") {
      double y3 = num(), x3 = num(), y2 = num(), x2 = num(), y1 = num(), x1 = num();
      TPDFPoint a = map(x1, y1), b = map(x2, y2), c = map(x3, y3);
      if (canvas) canvas->CurveTo(a.x, a.y, b.x, b.y, c.x, c.y);
    } else if (tok == "h") {
      if (canvas) canvas->ClosePath();
    } else if (tok == "f") {
      if (canvas) canvas->FillPath();
    } else if (tok == "cm") {
      double f = num(), e = num(), d = num(), c = num(), b = num(), a = num();
      MatrixMultiply(W, TPDFMatrix{a, b, c, d, e, f}, W);
    } else if (tok == "BI") {
      // The image is read once per position; drawing it waits for the image
      // decoder. The reader only ever moves forward.
      size_t bi = rd.pos;
      auto key = std::make_pair(std::string(glyphKey), bi);
      auto it = InlineImages.find(key);
      size_t end = it != InlineImages.end() ? it->second : FindInlineImageEnd(text, bi);
      if (end == std::string_view::npos) continue;  // unreadable image: skipped, nothing cached
      if (it == InlineImages.end()) InlineImages.emplace(key, end);
      if (end > rd.pos) rd.pos = end;
    } else {
      operands.push_back(tok);
    }
  }
  return true;
}
