// Settings objects of the pager, its button settings, the styler base and the
// drawing routines that tabs and pages share.
#include <QPainter>
#include <QTextBoundaryFinder>
#include <cmath>

#include "ui/FxOfficePager.h"

// ---- settings

void TPagerTabSettings::Assign(const TPagerTabSettings& s) {
  if (&s == this) return;
  SetLeftMargin(s.fLeftMargin_), SetRightMargin(s.fRightMargin_), SetHeight(s.fHeight_);
  SetStartMargin(s.fStartMargin_), SetEndMargin(s.fEndMargin_), SetWidth(s.fWidth_), SetWordWrap(s.fWordWrap_);
  SetImagePosition(s.fImagePosition_), SetShape(s.fShape_), SetRounding(s.fRounding_), SetAlignment(s.fAlignment_);
  SetSpacing(s.fSpacing_);
}

void TGradientBackground::Assign(const TGradientBackground& s) {
  color_ = s.color_, colorTo_ = s.colorTo_, direction_ = s.direction_, steps_ = s.steps_;
}

void TVistaBackground::Assign(const TVistaBackground& s) {
  if (&s == this) return;
  bool changed = fSteps_ != s.fSteps_ || fColor_ != s.fColor_ || fColorTo_ != s.fColorTo_ ||
                 fColorMirror_ != s.fColorMirror_ || fColorMirrorTo_ != s.fColorMirrorTo_ ||
                 fBorderColor_ != s.fBorderColor_;
  fSteps_ = s.fSteps_, fColor_ = s.fColor_, fColorTo_ = s.fColorTo_, fColorMirror_ = s.fColorMirror_;
  fColorMirrorTo_ = s.fColorMirrorTo_, fBorderColor_ = s.fBorderColor_;
  // The gradients report through their setters; report the colours when
  // they alone changed, so an owner never misses a copied scheme.
  bool gradients = fGradient_ != s.fGradient_ || fGradientMirror_ != s.fGradientMirror_;
  SetGradient(s.fGradient_), SetGradientMirror(s.fGradientMirror_);
  if (changed && !gradients && OnChange) OnChange();
}

TCustomTabAppearance::TCustomTabAppearance() : background_(std::make_unique<TGradientBackground>()) {
  font_ = QFont("Tahoma");
  font_.setPointSize(8);
  background_->OnChange = [this] {
    if (OnChange) OnChange();
  };
}

void TCustomTabAppearance::SetFont(const QFont& value) {
  if (font_ == value) return;
  font_ = value;
  if (OnFontChange) OnFontChange();
}

void TCustomTabAppearance::Assign(const TCustomTabAppearance& s) {
  if (&s == this) return;
  bool changed = false;
#define FX_COPY(type, name, init)        \
  if (f##name##_ != s.f##name##_) {      \
    f##name##_ = s.f##name##_;           \
    changed = true;                      \
  }
  FX_TAB_NOTIFYING(FX_COPY)
#undef FX_COPY
#define FX_COPY(type, name, init) f##name##_ = s.f##name##_;
  FX_TAB_SILENT(FX_COPY)
#undef FX_COPY
  const TGradientBackground& b = s.BackGround();
  if (b.GetColor() != background_->GetColor() || b.GetColorTo() != background_->GetColorTo() ||
      b.GetDirection() != background_->GetDirection() || b.GetSteps() != background_->GetSteps())
    changed = true;
  background_->Assign(b);
  SetFont(s.font_);
  if (changed && OnChange) OnChange();
}

// ---- button settings

TPageButtonSettings::TPageButtonSettings() {
  static const char* const names[10] = {"KVXAOCLOSE", "KVXAOLIST", "KVXAOPREV", "KVXAONEXT",     "KVXAOFIRST",
                                        "KVXAOLAST",  "KVXAOUP",   "KVXAODOWN", "KVXAOUPFIRST", "KVXAODOWNLAST"};
  for (int i = 0; i < 10; ++i) {
    pictures_[i] = std::make_unique<TFxPicture>();
    pictures_[i]->LoadFromResourceName(names[i]);
  }
  // Only the published six report changes; loading did not count.
  for (int i = 0; i < 6; ++i) pictures_[i]->OnChange = [this](TFxPicture* p) { PictureChanged(p); };
}

void TPageButtonSettings::PictureChanged(TFxPicture* picture) {
  if (picture == pictures_[3].get()) NextPictureChanged = true;
  if (picture == pictures_[2].get()) PrevPictureChanged = true;
  if (picture == pictures_[5].get()) LastPictureChanged = true;
  if (picture == pictures_[4].get()) FirstPictureChanged = true;
  Changed();
}

void TPageButtonSettings::Assign(const TPageButtonSettings& s) {
  if (&s == this) return;
  pageListButton_ = s.pageListButton_, closeButton_ = s.closeButton_;
  for (int i : {3, 2, 1, 0}) pictures_[i]->Assign(s.pictures_[i].get());
  scrollButtonsAlways_ = s.scrollButtonsAlways_;
  pictures_[4]->Assign(s.pictures_[4].get());
  pictures_[5]->Assign(s.pictures_[5].get());
  Changed();
}

// ---- styler base

TCustomFxOfficePagerStyler::TCustomFxOfficePagerStyler(QObject* owner)
    : QObject(owner),
      tabAppearance_(std::make_unique<TTabAppearance>()),
      pageAppearance_(std::make_unique<TVistaBackground>()),
      glowButtonAppearance_(std::make_unique<TGlowButtonAppearance>()) {
  tabAppearance_->OnChange = [this] { Change(1); };
  pageAppearance_->OnChange = [this] { Change(2); };
  glowButtonAppearance_->OnChange = [this] { Change(4); };
  tabAppearance_->OnFontChange = [this] { Change(5); };
}

TCustomFxOfficePagerStyler::~TCustomFxOfficePagerStyler() {
  destroying_ = true;
  // Attached pagers learn of the end through the QPointer they hold; they
  // fall back to their internal styler.
  for (int i = pagers_.Count() - 1; i >= 0; --i) {
    TFxOfficePager* pager = pagers_.Get(i);
    if (pager->GetFxOfficePagerStyler() == this) pager->SetFxOfficePagerStyler(nullptr);
  }
}

void TCustomFxOfficePagerStyler::SetRoundedCorners(bool value) {
  roundedCorners_ = value;
  Change(3);
}

void TCustomFxOfficePagerStyler::Change(int kind) {
  if (destroying_) return;
  for (int i = 0; i < pagers_.Count(); ++i) pagers_.Get(i)->UpdateMe(kind);
}

void TCustomFxOfficePagerStyler::Assign(const TCustomFxOfficePagerStyler& s) {
  if (&s == this) return;
  tabAppearance_->Assign(*s.tabAppearance_);
  pageAppearance_->Assign(*s.pageAppearance_);
  glowButtonAppearance_->Assign(*s.glowButtonAppearance_);
  BorderBlend = s.BorderBlend;
  SetRoundedCorners(s.roundedCorners_);
}

// ---- drawing routines

namespace {
QColor Q(TColor c) {
  TColor rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// One half of a two-part face: solid first colour, then its gradient running
// from `from` at the edge named by fromEdge to `to` at the opposite edge.
void FillHalf(TGPGraphics& g, const QRectF& half, TColor from, TColor to, TGDIPGradient kind, bool vertical,
              bool fromStart, const QRectF& ellipse, QPointF centre) {
  if (from == clNone) return;
  TGPSolidBrush solid(ColorToARGB(from));
  g.FillRectangle(&solid, half.x(), half.y(), half.width(), half.height());
  if (to == clNone || half.width() <= 0 || half.height() <= 0) return;
  if (kind == ggRadial) {
    TGPGraphicsPath path;
    path.AddEllipse(ellipse.x(), ellipse.y(), ellipse.width(), ellipse.height());
    TGPPathGradientBrush brush(path);
    brush.SetCenterColor(ColorToARGB(to));
    ARGB surround = ColorToARGB(from);
    int count = 1;
    brush.SetSurroundColors(&surround, count);
    brush.SetCenterPoint(MakeGPPoint(static_cast<int>(centre.x()), static_cast<int>(centre.y())));
    g.FillRectangle(&brush, half.x(), half.y(), half.width(), half.height());
    return;
  }
  int mode = kind == ggVertical ? (vertical ? 1 : 0) : kind == ggDiagonalForward ? 2 : 3;
  ARGB a = ColorToARGB(fromStart ? from : to), b = ColorToARGB(fromStart ? to : from);
  TGPRect r = MakeGPRect(half.x(), half.y(), half.width(), half.height() + (vertical ? 1 : 0));
  TGPLinearGradientBrush brush(r, a, b, mode);
  g.FillRectangle(&brush, half.x(), half.y(), half.width(), half.height());
}

void FillTwoPart(TGPGraphics& g, const QRect& rect, const TVistaColors& c, TTabPosition position) {
  const double L = rect.left(), T = rect.top(), W = rect.width(), H = rect.height();
  const double E = rect.height() / 2, F = rect.width() / 2;
  QRectF main, mirror;
  bool vertical = position == tpTop || position == tpBottom;
  switch (position) {
    case tpTop: main = {L, T, W, E}, mirror = {L, T + E, W, H - E}; break;
    case tpBottom: mirror = {L, T, W, H - E}, main = {L, T + H - E, W, E}; break;
    case tpLeft: main = {L, T, F, H}, mirror = {L + F, T, W - F, H}; break;
    case tpRight: mirror = {L, T, W - F, H}, main = {L + W - F, T, F, H}; break;
  }
  // Main half runs from Color at the outer edge to ColorTo at the split;
  // the mirror half from ColorMirror at the split to ColorMirrorTo at the
  // page edge.
  bool outerAtStart = position == tpTop || position == tpLeft;
  auto farEdgeMid = [&](const QRectF& r, bool start) {
    return vertical ? QPointF(r.center().x(), start ? r.top() : r.bottom())
                    : QPointF(start ? r.left() : r.right(), r.center().y());
  };
  QRectF ellipseMain = vertical ? QRectF(L, (outerAtStart ? T : T + H) - E, W, H)
                                : QRectF((outerAtStart ? L : L + W) - F, T, W, H);
  QRectF ellipseMirror = vertical ? QRectF(L, (outerAtStart ? T + H : T) - E, W, H)
                                  : QRectF((outerAtStart ? L + W : L) - F, T, W, H);
  FillHalf(g, mirror, c.ColorMirror, c.ColorMirrorTo, c.GradientMirror, vertical, outerAtStart, ellipseMirror,
           farEdgeMid(mirror, !outerAtStart));
  FillHalf(g, main, c.Color, c.ColorTo, c.Gradient, vertical, outerAtStart, ellipseMain,
           farEdgeMid(main, outerAtStart));
}
}  // namespace

void DrawGradient(QImage& canvas, TColor from, TColor to, bool horizontal, const QRect& rect, int steps) {
  if (steps <= 0) steps = 1;
  TColor a = ColorToRGB(from), b = ColorToRGB(to);
  const double band = ((horizontal ? rect.width() : rect.height()) - 1) / static_cast<double>(steps);
  QPainter p(&canvas);
  for (int n = 0; n < steps; ++n) {
    auto ch = [&](int shift) {
      int x = (a >> shift) & 0xFF, y = (b >> shift) & 0xFF;
      return x + static_cast<int>(std::nearbyint(n * (y - x) / static_cast<double>(steps)));
    };
    QColor c(ch(0), ch(8), ch(16));
    int start = static_cast<int>(std::nearbyint(n * band));
    int len = static_cast<int>(std::nearbyint(band)) + 1;
    if (horizontal)
      p.fillRect(QRect(rect.left() + start, rect.top(), len, rect.height()), c);
    else
      p.fillRect(QRect(rect.left(), rect.top() + start, rect.width(), len), c);
  }
}

void DrawRoundRectPath(TGPGraphics& g, const TGPPen& pen, float x, float y, float w, float h, float r) {
  TGPGraphicsPath path;
  AddRoundRect(path, x, y, w, h, r);
  g.DrawPath(&pen, &path);
}

void DrawRectPath(TGPGraphics& g, const TGPPen& pen, float x, float y, float w, float h) {
  TGPGraphicsPath path;
  path.AddLine(x, y, x + w, y);
  path.AddLine(x + w, y, x + w, y + h);
  path.AddLine(x + w, y + h, x, y + h);
  path.CloseFigure();
  g.DrawPath(&pen, &path);
}

void DrawVistaGradient(QImage& canvas, const QRect& rect, const TVistaColors& c, TTabPosition position, bool,
                       bool rounded) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  TGPGraphics g(canvas);
  FillTwoPart(g, rect, c, position);
  if (c.BorderColor == clNone) return;
  g.SetSmoothingMode(gdip::SmoothingModeAntiAlias);
  TGPPen pen(ColorToARGB(c.BorderColor), 1);
  if (rounded)
    DrawRoundRectPath(g, pen, rect.left(), rect.top(), rect.width() - 1, rect.height() - 1, 3);
  else
    DrawRectPath(g, pen, rect.left(), rect.top(), rect.width() - 1, rect.height() - 1);
}

std::unique_ptr<TGPGraphicsPath> CreateTabShapePath(const QRect& rect, TFxTabShape shape, int a,
                                                    TTabPosition position, bool rotate) {
  // Built for tabs on top in a frame where "up" is the outer edge, then
  // mapped to the real position.
  const bool side = position == tpLeft || position == tpRight;
  const int len = side ? rect.height() : rect.width(), thick = side ? rect.width() : rect.height();
  const int N = std::max(0, a / 2);
  const int D = a + (side && rotate ? rect.width() : rect.height()) / 3;
  auto map = [&](double u, double v) -> QPointF {
    // u along the tab from its start, v from the outer edge inwards.
    switch (position) {
      case tpTop: return {rect.left() + u, rect.top() + v};
      case tpBottom: return {rect.left() + u, rect.top() + thick - v};
      case tpLeft: return {rect.left() + v, rect.top() + len - u};
      case tpRight: return {rect.left() + thick - v, rect.top() + u};
    }
    return {};
  };
  auto path = std::make_unique<TGPGraphicsPath>();
  auto curve = [&](QPointF p1, QPointF p2, QPointF p3) {
    TGPPoint pts[3] = {MakeGPPoint(static_cast<int>(p1.x()), static_cast<int>(p1.y())),
                       MakeGPPoint(static_cast<int>(p2.x()), static_cast<int>(p2.y())),
                       MakeGPPoint(static_cast<int>(p3.x()), static_cast<int>(p3.y()))};
    path->AddCurve(pts, 3, 0.8f);
  };
  auto line = [&](QPointF p, QPointF q) { path->AddLine(p.x(), p.y(), q.x(), q.y()); };
  const double R = len, B = thick;
  bool leftRamp = shape == tsLeftRamp || shape == tsLeftRightRamp;
  bool rightRamp = shape == tsRightRamp || shape == tsLeftRightRamp;
  if (shape == tsRectangle) {
    line(map(0, B), map(0, 3 * a));
    curve(map(0, 3 * a), map(a, a), map(3 * a, 0));
    line(map(3 * a, 0), map(R - 3 * a, 0));
    curve(map(R - 3 * a, 0), map(R - a, a), map(R, 3 * a));
    line(map(R, 3 * a), map(R, B));
  } else {
    QPointF startTop;
    if (leftRamp) {
      QPointF p0 = map(0, B), c1 = map(3 * a, B - a), c2 = map(D - a, a), p3 = map(D + 2 * a, 0);
      path->AddBezier(p0.x(), p0.y(), c1.x(), c1.y(), c2.x(), c2.y(), p3.x(), p3.y());
      startTop = p3;
    } else {
      line(map(0, B), map(0, 3 * N));
      curve(map(0, 3 * N), map(N, N), map(3 * N, 0));
      startTop = map(3 * N, 0);
    }
    QPointF endTop = rightRamp ? map(R - D - 2 * a, 0) : map(R - 3 * N, 0);
    line(startTop, endTop);
    if (rightRamp) {
      QPointF c1 = map(R - D + a, a), c2 = map(R - 3 * a, B - a), p3 = map(R, B);
      path->AddBezier(endTop.x(), endTop.y(), c1.x(), c1.y(), c2.x(), c2.y(), p3.x(), p3.y());
    } else {
      curve(endTop, map(R - N, N), map(R, 3 * N));
      line(map(R, 3 * N), map(R, B));
    }
  }
  path->CloseFigure();
  return path;
}

void DrawTabBackground(QImage& canvas, const QRect& rect, const TVistaColors& c, TTabPosition position, bool rotate,
                       int rounding, TFxTabShape shape) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  auto path = CreateTabShapePath(rect, shape, rounding, position, rotate);
  TGPGraphics g(canvas);
  {
    TGPRegion region(*path);
    g.SetClip(&region, 0);
    bool side = position == tpLeft || position == tpRight;
    FillTwoPart(g, rect, c, side && !rotate ? tpTop : position);
    g.ResetClip();
  }
  if (c.BorderColor == clNone) return;
  g.SetSmoothingMode(gdip::SmoothingModeAntiAlias);
  TGPPen pen(ColorToARGB(c.BorderColor), 1.6f);
  g.DrawPath(&pen, path.get());
}

int WideTextWidth(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }

QString GetTruncatedCaptionW(const QString& caption, const QRect& rect, bool, bool noTruncation,
                             TTabPosition position, bool ellipsis, const QFont& font) {
  if (noTruncation) return caption;
  const int available = position == tpLeft || position == tpRight ? rect.height() : rect.width();
  const QString dots = ellipsis ? QStringLiteral("...") : QString();
  QFontMetricsF fm(font);
  if (fm.horizontalAdvance(caption) <= available - 2) return caption;
  // Cut at grapheme boundaries, so no character (nor a surrogate pair or a
  // combining sequence) is ever split.
  QString text = caption;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  finder.toEnd();
  while (!text.isEmpty()) {
    if (fm.horizontalAdvance(text + dots) < available - 2) break;
    qsizetype cut = finder.toPreviousBoundary();
    if (cut < 0) cut = 0;
    text.truncate(cut);
  }
  return text + dots;
}

bool DrawCaption(QImage& canvas, int alignment, const QRect& layout, QRect& drawn, bool wordWrap, bool ellipsis,
                 TTabPosition direction, TAntiAlias antiAlias, bool draw, bool enabled, const QFont& font,
                 TColor fontColor, const QString& caption, TStatus* lastStatus) {
  if (caption.isEmpty()) {
    drawn = QRect(layout.topLeft(), QSize(0, 0));
    return true;
  }
  if (antiAlias != aaNone) {
    TGPGraphics g(canvas);
    if (g.GetLastStatus() != Ok) {
      if (lastStatus) *lastStatus = g.GetLastStatus();
      return false;
    }
    TGPFontFamily family(font.family().toStdU16String());
    std::unique_ptr<TGPFontFamily> arial;
    const TGPFontFamily* fam = &family;
    if (family.GetLastStatus() == FontFamilyNotFound || family.GetLastStatus() == FontStyleNotFound) {
      arial = std::make_unique<TGPFontFamily>(u"Arial");
      fam = arial.get();
    }
    int style = (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0);
    float size = font.pointSizeF() > 0 ? static_cast<float>(font.pointSizeF()) : 8.0f;
    TGPFont gpFont(fam, size, style, 3);
    if (gpFont.GetLastStatus() != Ok) {
      if (lastStatus) *lastStatus = gpFont.GetLastStatus();
      return false;
    }
    g.SetSmoothingMode(gdip::SmoothingModeAntiAlias);
    TGPStringFormat format(direction == tpRight ? 0x2 : 0);
    format.SetAlignment(alignment == 0 ? 0 : alignment == 1 ? 2 : 1);
    format.SetLineAlignment(1);
    format.SetHotkeyPrefix(1);
    g.SetTextRenderingHint(antiAlias == aaClearType ? 5 : 4);
    QString text = ellipsis ? GetTruncatedCaptionW(caption, layout, true, false, direction, true, font) : caption;
    std::u16string wide = text.toStdU16String();
    TGPRect box = MakeGPRect(layout.x(), layout.y(), layout.width(), layout.height());
    TGPRect bounds{};
    TStatus st = g.MeasureString(wide, -1, &gpFont, box, &format, bounds);
    if (st != Ok) {
      if (lastStatus) *lastStatus = st;
      return false;
    }
    drawn = QRect(static_cast<int>(std::lround(bounds.X)), static_cast<int>(std::lround(bounds.Y)),
                  static_cast<int>(std::lround(bounds.Width)), static_cast<int>(std::lround(bounds.Height)));
    if (draw) {
      TGPSolidBrush brush(ColorToARGB(enabled ? fontColor : 0x808080));
      st = g.DrawString(wide, -1, &gpFont, box, &format, &brush);
      if (st != Ok) {
        if (lastStatus) *lastStatus = st;
        return false;
      }
    }
    return true;
  }
  // Plain text: measured from the layout's top-left, drawn 3 pixels in.
  QString text = ellipsis ? GetTruncatedCaptionW(caption, layout, false, false, direction, true, font) : caption;
  QFontMetrics fm(font);
  QRect calc = fm.boundingRect(QRect(layout.left(), layout.top(), 65535, layout.height()),
                               wordWrap ? Qt::TextWordWrap : Qt::TextSingleLine, text);
  const int top = layout.top() + std::max(0, (layout.height() - calc.height()) / 2);
  drawn = QRect(layout.left(), top, calc.width(), calc.height());
  if (draw) {
    QPainter p(&canvas);
    p.setFont(font);
    p.setPen(Q(enabled ? fontColor : 0x808080));
    int flags = Qt::TextSingleLine | Qt::AlignVCenter | Qt::TextShowMnemonic |
                (alignment == 1 ? Qt::AlignRight : alignment == 2 ? Qt::AlignHCenter : Qt::AlignLeft);
    p.drawText(QRect(layout.left() + 3, layout.top(), layout.width(), layout.height()), flags, text);
  }
  return true;
}
