// The metafile converter's frame: state, coordinate mapping, object
// selection, fonts, text placement and the per-record commit.
#include "pages/PavonaMetafile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaMetafileInternal.h"
#include "pages/PavonaPainter.h"
#include "platform/EmfReader.h"
#include "platform/Fonts.h"

TEmfXForm TEmfXForm::Then(const TEmfXForm& n) const {
  TEmfXForm r;
  r.M11 = M11 * n.M11 + M12 * n.M21;
  r.M12 = M11 * n.M12 + M12 * n.M22;
  r.M21 = M21 * n.M11 + M22 * n.M21;
  r.M22 = M21 * n.M12 + M22 * n.M22;
  r.Dx = Dx * n.M11 + Dy * n.M21 + n.Dx;
  r.Dy = Dx * n.M12 + Dy * n.M22 + n.Dy;
  return r;
}

bool TEmfXForm::Finite() const {
  return std::isfinite(M11) && std::isfinite(M12) && std::isfinite(M21) && std::isfinite(M22) && std::isfinite(Dx) &&
         std::isfinite(Dy);
}

namespace {

// Coordinates far outside any picture are cut so the content stays readable.
double finiteOrZero(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -1e9, 1e9);
}

}  // namespace

TPDFMetafile::TPDFMetafile(TPDFStructure* pool, TPDFMetafileLists& lists, const std::vector<std::string>* faces)
    : pool_(pool), lists_(lists), painter_(std::make_unique<TPDFPainter>()), state_(std::make_unique<TState>()) {
  painter_->SetPrecision(4);
  faces_ = faces ? *faces : EnumFontFamilies(1);
  for (std::string& face : faces_) face = LowerCaseA(face);
  std::sort(faces_.begin(), faces_.end());
}

TPDFMetafile::~TPDFMetafile() = default;

std::string TPDFMetafile::newTag() {
  static uint32_t counter = 0;
  char text[16];
  std::snprintf(text, sizeof text, "%08X", ++counter);
  return text;
}

double TPDFMetafile::MapX(double x, double y) const { return finiteOrZero(x * full_.M11 + y * full_.M21 + full_.Dx); }
double TPDFMetafile::MapY(double x, double y) const { return finiteOrZero(x * full_.M12 + y * full_.M22 + full_.Dy); }
double TPDFMetafile::ScaleX(double l) const { return finiteOrZero(l * full_.M11); }
double TPDFMetafile::ScaleY(double l) const { return finiteOrZero(-l * full_.M22); }

void TPDFMetafile::SetMapMode(int32_t mode) {
  TState& s = *state_;
  // Window extents in logical units per reference-device millimetre size,
  // so one logical unit is the unit the mode names.
  const double mx = refMillimeters_[0], my = refMillimeters_[1], px = refPixels_[0], py = refPixels_[1];
  double unitMm = 0;
  switch (mode) {
    case 1:
      s.WinExt[0] = s.WinExt[1] = s.VpExt[0] = s.VpExt[1] = 1;
      break;
    case 2: unitMm = 0.1; break;           // 0.1 mm
    case 3: unitMm = 0.01; break;          // 0.01 mm
    case 4: unitMm = 0.254; break;         // 0.01 in
    case 5: unitMm = 0.0254; break;        // 0.001 in
    case 6: unitMm = 25.4 / 1440; break;   // twips
    case 7:
    case 8:
      break;
    default:
      return;
  }
  if (unitMm > 0) {
    s.WinExt[0] = mx / unitMm;
    s.WinExt[1] = my / unitMm;
    s.VpExt[0] = px;
    s.VpExt[1] = -py;
  }
  s.MapMode = mode;
}

void TPDFMetafile::UpdateTransform() {
  const TState& s = *state_;
  // A zero or unusable extent leaves the scale at 1 instead of dividing by it.
  auto ratio = [](double num, double den) {
    const double r = num / den;
    return std::isfinite(r) && r != 0 ? r : 1.0;
  };
  const double sx = ratio(s.VpExt[0], s.WinExt[0]), sy = ratio(s.VpExt[1], s.WinExt[1]);
  TEmfXForm page;
  page.M11 = sx;
  page.M22 = sy;
  page.Dx = s.VpOrg[0] - sx * s.WinOrg[0];
  page.Dy = s.VpOrg[1] - sy * s.WinOrg[1];
  TEmfXForm full = s.World.Then(page).Then(device_).Then(output_);
  if (!full.Finite()) full = device_.Then(output_);
  full_ = full;
  deviceMap_ = device_.Then(output_);
}

void TPDFMetafile::decodeColor(uint32_t c, uint8_t& r, uint8_t& g, uint8_t& b) {
  if ((c >> 24) == 1) {
    static const uint8_t kSystem[20][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                           {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                           {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                                           {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                                           {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    uint32_t i = c & 0xFF;
    if (i >= 246) i -= 236;
    if (i < 20) {
      r = kSystem[i][0], g = kSystem[i][1], b = kSystem[i][2];
      return;
    }
  }
  r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
}

// ---- Objects ---------------------------------------------------------------

void TPDFMetafile::applyPen() {
  const TState& s = *state_;
  uint8_t r, g, b;
  decodeColor(s.PenColor, r, g, b);
  painter_->SetLineColor(r / 255.0, g / 255.0, b / 255.0);
  painter_->SetLineWidth(std::fabs(ScaleY(s.PenWidth)));
  painter_->SetMiterLimit(s.MiterLimit);
  if (s.PenDashed) {
    const double d = std::fabs(ScaleX(3 * std::max(1.0, s.PenWidth)));
    painter_->SetLineDash(d, d);
  } else {
    painter_->SetLineDash(0, 0);
  }
}

void TPDFMetafile::applyBrush() {
  const TState& s = *state_;
  if (!s.BrushPattern.empty()) {
    painter_->SetFillPattern(s.BrushPattern);
    return;
  }
  uint8_t r, g, b;
  decodeColor(s.BrushColor, r, g, b);
  painter_->SetFillColor(r / 255.0, g / 255.0, b / 255.0);
}

void TPDFMetafile::selectObject(uint32_t index) {
  if (index & 0x80000000u) return selectStockObject(index & 0x7FFFFFFF);
  if (index >= objects_.size() || !objects_[index]) return;
  const TObjectEntry& e = *objects_[index];
  TState& s = *state_;
  switch (e.Kind) {
    case TObjectEntry::kBrush:
      s.BrushOn = !e.None;
      s.BrushColor = e.None ? 0xFFFFFF : e.Color;
      s.BrushPattern = e.None ? std::string() : e.Pattern;
      if (s.BrushOn) applyBrush();
      break;
    case TObjectEntry::kPen:
      s.PenOn = !e.None;
      if (!e.None) {
        s.PenColor = e.Color;
        s.PenWidth = e.Width;
        s.PenDashed = e.Dashed;
        applyPen();
      }
      break;
    case TObjectEntry::kFont:
      selectFontEntry(e);
      break;
  }
}

void TPDFMetafile::selectStockObject(uint32_t index) {
  TState& s = *state_;
  if (index <= 4) {
    static const uint32_t kGrey[5] = {255, 192, 128, 64, 0};
    s.BrushOn = true;
    s.BrushPattern.clear();
    s.BrushColor = kGrey[index] * 0x010101u;
    applyBrush();
  } else if (index == 5) {
    s.BrushOn = false;
    s.BrushColor = 0xFFFFFF;
  } else if (index == 6 || index == 7) {
    s.PenOn = true;
    s.PenColor = index == 6 ? 0xFFFFFF : 0;
    s.PenWidth = 0;
    s.PenDashed = false;
    applyPen();
  } else if (index == 8) {
    s.PenOn = false;
    s.PenColor = 0;
  } else if (index >= 10 && index <= 17 && index != 15) {
    TObjectEntry e;
    e.Kind = TObjectEntry::kFont;
    e.Face = index == 10 ? "MS Sans Serif" : index == 11 ? "Arial" : (index == 13 || index == 16) ? "System"
                                                                                                   : "Times New Roman";
    e.Height = 8;
    selectFontEntry(e);
  }
}

TPDFFont* TPDFMetafile::fontFor(const std::string& name, int32_t codePage) {
  const std::string full = codePage ? name + "{" + std::to_string(codePage) + "}" : name;
  for (const auto& [known, font] : fontsByName_)
    if (known == full) return font;
  auto font = std::make_unique<TPDFFont>(pool_, "PavonaF" + newTag());
  font->Compress = CompressFonts;
  const bool embed = EmbedFonts && NoEmbedText.find("<PVLNoEmbedFont>" + name + "</PVLNoEmbedFont>") == std::string::npos;
  try {
    if (!font->EmbedTrueTypeFont(full, embed, true, false)) return nullptr;
  } catch (const std::exception&) {
    return nullptr;
  }
  fontsByName_.emplace_back(full, font.get());
  lists_.Fonts.push_back(std::move(font));
  return lists_.Fonts.back().get();
}

TPDFFont* TPDFMetafile::wideFontFor(const std::string& name, std::u16string_view text) {
  // One composite font per face found; it takes on the characters of every
  // later record that face has.
  for (const auto& [known, font] : fontsByName_)
    if (known.starts_with("{Identity-H}") && font->IsTwoByte()) {
      font->UseCharacters(text);
      bool all = true;
      for (char16_t c : text) all = all && (c == u' ' || font->HasCode(c));
      if (all) return font;
    }
  auto font = std::make_unique<TPDFFont>(pool_, "PavonaF" + newTag());
  font->Compress = CompressFonts;
  try {
    if (!font->BuildType0Font(name, text)) return nullptr;
  } catch (const std::exception&) {
    return nullptr;
  }
  fontsByName_.emplace_back("{Identity-H}" + font->GetBaseName(), font.get());
  lists_.Fonts.push_back(std::move(font));
  return lists_.Fonts.back().get();
}

void TPDFMetafile::selectFontEntry(const TObjectEntry& e) {
  TPDFFont* font = fontFor(e.Face, 0);
  if (!font) return;  // a face that cannot be made leaves the current font
  TState& s = *state_;
  s.Font = font;
  s.FontName = e.Face;
  s.FontHeight = e.Height;
  s.Underline = e.Underline;
  s.Strikeout = e.Strikeout;
  s.Charset = e.Charset;
  s.Escapement = e.Escapement;
}

namespace {

// Code pages whose fonts are tried, in order, for text the font's own
// encoding cannot hold.
constexpr int32_t kFallbackCodePages[] = {1251, 1253, 1250, 1254, 1257, 1255, 1256, 1258, 874};

bool codePageHolds(int32_t codePage, std::u16string_view text) {
  const auto& table = CodePageToUnicode(codePage);
  for (char16_t c : text) {
    if (c == u' ') continue;
    if (std::find(table.begin() + 32, table.end(), c) == table.end()) return false;
  }
  return true;
}

}  // namespace

void TPDFMetafile::drawString(std::u16string text, double x, double y, const std::vector<double>& advances) {
  TState& s = *state_;
  if (text.empty()) return;
  if (!s.Font) {
    TObjectEntry e;
    e.Kind = TObjectEntry::kFont;
    e.Face = "MS Sans Serif";
    e.Height = 8;
    selectFontEntry(e);
    if (!s.Font) return;
  }
  TPDFFont* font = s.Font;
  bool all = true;
  for (char16_t c : text) all = all && (c == u' ' || font->HasCode(c));
  if (!all) {
    // Text outside the font's 8-bit encoding goes through the same face in
    // a code page that holds it, so it is drawn rather than lost.
    for (int32_t cp : kFallbackCodePages) {
      if (!codePageHolds(cp, text)) continue;
      if (TPDFFont* other = fontFor(s.FontName.empty() ? "Arial" : s.FontName, cp)) {
        font = other;
        break;
      }
    }
    // Text no 8-bit code page holds (Chinese, Japanese, Korean, ...) is
    // drawn in a composite font of a face that has its glyphs.
    if (font == s.Font) {
      const std::string face = s.FontName.empty() ? "Arial" : s.FontName;
      TPDFFont* wide = wideFontFor(face, text);
      if (!wide) {
        // No face has every character: one that has those the font lacks.
        std::u16string missing;
        for (char16_t c : text)
          if (c != u' ' && !font->HasCode(c)) missing += c;
        wide = wideFontFor(face, missing);
      }
      if (wide) font = wide;
    }
  }
  // Advances are per character; characters the font cannot encode are left
  // out together with their advance, which moves to the previous character.
  std::string bytes;
  std::vector<double> kept;
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string code = font->EncodeTextW(std::u16string_view(&text[i], 1));
    const double advance = i < advances.size() ? advances[i] : 0;
    if (code.size() == (font->IsTwoByte() ? 2u : 1u)) {
      bytes += code;
      kept.push_back(advance);
    } else if (!kept.empty()) {
      kept.back() += advance;
    }
  }
  if (bytes.empty()) return;
  if (advances.empty()) kept.clear();

  double height = std::fabs(ScaleY(s.FontHeight));
  if (s.FontHeight > 0 && font->GetAscent() - font->GetDescent() > 0)
    height = height * 1000.0 / (font->GetAscent() - font->GetDescent());  // cell height to em
  if (!(height > 0)) height = std::fabs(ScaleY(8));
  painter_->SetFont(font, height);
  uint8_t r, g, b;
  decodeColor(s.TextColor, r, g, b);
  painter_->SetTextColor(r / 255.0, g / 255.0, b / 255.0);
  if (s.BkMode == 2) {
    decodeColor(s.BkColor, r, g, b);
    painter_->SetTextBackgroundColor(r / 255.0, g / 255.0, b / 255.0);
    painter_->SetBackgroundKind(1);
  } else {
    painter_->SetBackgroundKind(0);
  }
  painter_->SetDecorationKind(s.Underline ? 1 : (s.Strikeout ? 3 : 0));
  painter_->SetTextScaling(100);

  if (s.TextAlign & 1) x = s.CurX, y = s.CurY;
  const uint32_t horizontal = s.TextAlign & 6;
  painter_->SetTextAlignment(horizontal == 6 ? 1 : horizontal == 2 ? 2 : 0);
  double px = MapX(x, y), py = MapY(x, y);
  const double angle = s.Escapement / 10.0 * M_PI / 180.0;
  double shift = 0;  // distance from the reference point down to the baseline
  if ((s.TextAlign & 24) == 24) {
    shift = 0;
  } else if (s.TextAlign & 8) {
    shift = font->GetDescent() / 1000.0 * height;  // bottom: the baseline lies above
  } else {
    shift = font->GetAscent() / 1000.0 * height;
  }
  px += shift * std::sin(angle);
  py -= shift * std::cos(angle);
  const double width = advances.empty() ? painter_->GetTextWidth(bytes) : [&] {
    double w = 0;
    for (double a : kept) w += a;
    return w;
  }();
  painter_->DrawTextRun(bytes, px, py, s.Escapement, kept);
  painter_->SetTextAlignment(0);
  painter_->SetDecorationKind(0);
  painter_->SetBackgroundKind(0);
  if (s.TextAlign & 1) {
    const double unit = ScaleX(1);
    if (unit != 0) s.CurX += static_cast<int32_t>(std::clamp(std::round(width / unit), -1e9, 1e9));
  }
  if (s.BrushOn) applyBrush();
}

// ---- Paths -------------------------------------------------------------------

void TPDFMetafile::pathMove(double x, double y, bool keep) {
  if (keep)
    painter_->MoveToKeepPath(MapX(x, y), MapY(x, y));
  else
    painter_->MoveTo(MapX(x, y), MapY(x, y));
}

void TPDFMetafile::pathLine(double x, double y) { painter_->LineTo(MapX(x, y), MapY(x, y)); }

void TPDFMetafile::pathCurve(double x1, double y1, double x2, double y2, double x3, double y3) {
  painter_->CurveTo(MapX(x1, y1), MapY(x1, y1), MapX(x2, y2), MapY(x2, y2), MapX(x3, y3), MapY(x3, y3));
}

// An elliptic arc of the box, angles in radians measured on the logical
// plane with y down (so increasing angles turn counter-clockwise on the
// device); cubic pieces of at most 90 degrees, exact under the affine map.
void TPDFMetafile::pathArc(double l, double t, double r, double b, double a0, double a1, bool connect) {
  const double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
  auto point = [&](double a, double& x, double& y) {
    x = cx + rx * std::cos(a);
    y = cy - ry * std::sin(a);
  };
  double x, y;
  point(a0, x, y);
  if (connect)
    pathLine(x, y);
  else
    pathMove(x, y);
  const double sweep = a1 - a0;
  const int pieces = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / (M_PI / 2) - 1e-9)), 1, 8);
  const double step = sweep / pieces, k = 4.0 / 3.0 * std::tan(step / 4);
  for (int i = 0; i < pieces; ++i) {
    const double s0 = a0 + step * i, s1 = s0 + step;
    double x0, y0, x3, y3;
    point(s0, x0, y0);
    point(s1, x3, y3);
    pathCurve(x0 - k * rx * std::sin(s0), y0 - k * ry * std::cos(s0), x3 + k * rx * std::sin(s1),
              y3 + k * ry * std::cos(s1), x3, y3);
  }
}

void TPDFMetafile::paint(bool fill, bool stroke) {
  const TState& s = *state_;
  fill = fill && s.BrushOn;
  stroke = stroke && s.PenOn;
  if (s.PolyFillMode == 1)
    painter_->PaintPathEvenOdd(fill, stroke);
  else
    painter_->PaintPath(fill, stroke);
}

void TPDFMetafile::closeClipLevels() {
  TState& s = *state_;
  if (s.ClipDepth <= 0) return;
  const std::string text = painter_->SaveTextState();
  while (s.ClipDepth > 0) {
    painter_->WriteOp("Q");
    --s.ClipDepth;
    --totalDepth_;
  }
  restorePainterState(text);
}

TPDFFont* TPDFMetafile::fontByNumber(int32_t number) const {
  for (const auto& f : lists_.Fonts)
    if (f->GetObjectNumber() == number) return f.get();
  return nullptr;
}

// ---- Conversion ------------------------------------------------------------------

std::string TPDFMetafile::ConvertMetafile(const TEmfFile& emf) {
  const TEmfHeader& h = emf.Header();
  const double w = emf.FrameWidth(), ht = emf.FrameHeight();
  if (!(w > 0) || !(ht > 0)) throw EEmfError("the metafile has an empty frame");
  *state_ = TState();
  saves_.clear();
  totalDepth_ = 0;
  FailedRecords = 0;
  painter_->Reset();
  painter_->SetPrecision(4);
  painter_->SetFillColor(1, 1, 1);
  painter_->SetLineColor(0, 0, 0);
  painter_->SetLineWidth(0);
  painter_->SetMiterLimit(10);
  // The picture lands in a box whose shorter side is 1000 units (scaled by
  // 0.001 below), y growing upwards.
  output_ = TEmfXForm();
  if (ht > w) {
    output_.M11 = 500, output_.M22 = -500, output_.Dy = 1000 * ht / w;
  } else {
    output_.M11 = 500 * w / ht, output_.M22 = -500 * w / ht, output_.Dy = 1000;
  }
  // Reference device: pixels and millimetres (a missing size counts as a
  // 96 dpi screen so the ratios stay finite).
  for (int i = 0; i < 2; ++i) {
    refPixels_[i] = h.DevicePixels[i] > 0 ? h.DevicePixels[i] : 1;
    refMillimeters_[i] = h.DeviceMillimeters[i] > 0 ? h.DeviceMillimeters[i] : refPixels_[i] * 25.4 / 96;
  }
  // Device pixels to a box two units wide: x and y each through their own
  // millimetres per pixel, both against the frame's width so the aspect is kept.
  device_ = TEmfXForm();
  device_.M11 = 200.0 / w * (refMillimeters_[0] / refPixels_[0]);
  device_.M22 = 200.0 / w * (refMillimeters_[1] / refPixels_[1]);
  device_.Dx = -200.0 * h.Frame[0] / w;
  device_.Dy = -200.0 * h.Frame[1] / w;
  if (!device_.Finite()) device_ = TEmfXForm();
  SetMapMode(1);
  UpdateTransform();
  painter_->WriteOp("q");
  painter_->Scale(0.001);
  for (const TEmfRecord& record : emf.Records()) {
    // Each record is written whole or not at all.
    const size_t before = painter_->Content().size();
    TState keepState = *state_;
    const size_t keepSaves = saves_.size();
    const int32_t keepDepth = totalDepth_;
    try {
      dispatch(record);
    } catch (const std::exception&) {
      ++FailedRecords;
      painter_->SetContent(painter_->Content().substr(0, before));
      painter_->MarkAllDirty();
      *state_ = keepState;
      if (saves_.size() > keepSaves) saves_.resize(keepSaves);
      totalDepth_ = keepDepth;
      UpdateTransform();
    }
  }
  // Levels left open by the metafile are closed so the form stays balanced.
  if (painter_->IsPathOpen()) painter_->PaintPath(false, false);
  while (totalDepth_ > 0) {
    painter_->WriteOp("Q");
    --totalDepth_;
  }
  painter_->WriteOp("Q");
  return painter_->GetContent();
}
