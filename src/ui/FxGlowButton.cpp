#include "ui/FxGlowButton.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/FxWinVersion.h"

// ---- colour arithmetic

namespace {
int Channel(TColor c, int shift) { return (c >> shift) & 0xFF; }
TColor Rgb(int r, int g, int b) { return r | (g << 8) | (b << 16); }
int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

int ScaleChannel(int c, int percent) {
  if (c == 0) return std::max(0, percent);
  return std::clamp(RoundEven(c * std::min(100, 100 + percent) / 100.0), 0, 255);
}
}  // namespace

TColor ChangeColorRGB(TColor color, int redPercent, int greenPercent, int bluePercent) {
  TColor c = ColorToRGB(color);
  return Rgb(std::min(255, ScaleChannel(Channel(c, 0), redPercent)),
             std::min(255, ScaleChannel(Channel(c, 8), greenPercent)),
             std::min(255, ScaleChannel(Channel(c, 16), bluePercent)));
}

TColor ChangeColor(TColor color, int percent) { return ChangeColorRGB(color, percent, percent, percent); }

TColor BlendColor(TColor first, TColor second, int percent) {
  if (percent >= 100) return first;
  if (percent <= 0) return second;
  TColor a = ColorToRGB(first), b = ColorToRGB(second);
  double x = percent / 100.0;
  auto mix = [&](int shift) {
    return std::min(255, RoundEven(x * Channel(a, shift) + (1 - x) * Channel(b, shift)));
  };
  return Rgb(mix(0), mix(8), mix(16));
}

// ---- appearance

TGlowButtonAppearance::TGlowButtonAppearance() {
  SetBorderColor(0xC0C0C0);
  SetBorderColorHot(0xFF0000);
  SetBorderColorDown(0x800000);
  SetBorderColorChecked(0xFF0000);
  SetBorderColorDisabled(0x808080);
  SetColor(0xFFFFFF);
  SetColorTo(0xFFFFFF);
  SetColorMirror(0xC0C0C0);
  SetColorMirrorTo(0xFFFFFF);
  SetColorHot(0xF5F0E1);
  SetColorHotTo(0xF9D2B2);
  SetColorMirrorHot(0xF5C8AD);
  SetColorMirrorHotTo(0xFFF8F4);
  // Down and checked: the hot colours with red and green darkened by 10 %.
  SetColorDown(ChangeColorRGB(fColorHot_, -10, -10, 0));
  SetColorDownTo(ChangeColorRGB(fColorHotTo_, -10, -10, 0));
  SetColorMirrorDown(ChangeColorRGB(fColorMirrorHot_, -10, -10, 0));
  SetColorMirrorDownTo(ChangeColorRGB(fColorMirrorHotTo_, -10, -10, 0));
  SetColorChecked(fColorDown_);
  SetColorCheckedTo(fColorDownTo_);
  SetColorMirrorChecked(fColorMirrorDown_);
  SetColorMirrorCheckedTo(fColorMirrorDownTo_);
  SetColorDisabled(ChangeColor(0xFFFFFF, -5));
  SetColorDisabledTo(ChangeColor(0xFFFFFF, -5));
  SetColorMirrorDisabled(ChangeColor(0xC0C0C0, -5));
  SetColorMirrorDisabledTo(ChangeColor(0xFFFFFF, -5));
  SetGradient(ggVertical);
  SetGradientMirror(ggVertical);
  SetGradientHot(ggRadial);
  SetGradientMirrorHot(ggRadial);
  SetGradientDown(ggRadial);
  SetGradientMirrorDown(ggRadial);
  SetGradientChecked(ggRadial);
  SetGradientMirrorChecked(ggVertical);
  SetGradientDisabled(ggRadial);
  SetGradientMirrorDisabled(ggRadial);
  SetSystemFont(true);
}

void TGlowButtonAppearance::Assign(const TGlowButtonAppearance& s) {
  if (&s == this) return;
  SetColor(s.fColor_), SetColorTo(s.fColorTo_), SetColorMirror(s.fColorMirror_), SetColorMirrorTo(s.fColorMirrorTo_);
  SetColorHot(s.fColorHot_), SetColorHotTo(s.fColorHotTo_), SetColorMirrorHot(s.fColorMirrorHot_);
  SetColorMirrorHotTo(s.fColorMirrorHotTo_);
  SetColorDown(s.fColorDown_), SetColorDownTo(s.fColorDownTo_), SetColorMirrorDown(s.fColorMirrorDown_);
  SetColorMirrorDownTo(s.fColorMirrorDownTo_);
  SetColorChecked(s.fColorChecked_), SetColorCheckedTo(s.fColorCheckedTo_);
  SetColorMirrorChecked(s.fColorMirrorChecked_), SetColorMirrorCheckedTo(s.fColorMirrorCheckedTo_);
  SetColorDisabled(s.fColorDisabled_), SetColorDisabledTo(s.fColorDisabledTo_);
  SetColorMirrorDisabled(s.fColorMirrorDisabled_), SetColorMirrorDisabledTo(s.fColorMirrorDisabledTo_);
  SetBorderColor(s.fBorderColor_), SetBorderColorHot(s.fBorderColorHot_), SetBorderColorDown(s.fBorderColorDown_);
  SetBorderColorChecked(s.fBorderColorChecked_), SetBorderColorDisabled(s.fBorderColorDisabled_);
  SetGradient(s.fGradient_), SetGradientMirror(s.fGradientMirror_), SetGradientHot(s.fGradientHot_);
  SetGradientMirrorHot(s.fGradientMirrorHot_), SetGradientDown(s.fGradientDown_);
  SetGradientMirrorDown(s.fGradientMirrorDown_), SetGradientChecked(s.fGradientChecked_);
  SetGradientMirrorChecked(s.fGradientMirrorChecked_), SetGradientDisabled(s.fGradientDisabled_);
  SetGradientMirrorDisabled(s.fGradientMirrorDisabled_);
  SetSystemFont(s.fSystemFont_);
}

// ---- drawing helpers

namespace {

struct TRectI {
  int left, top, right, bottom;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

void DrawGDIPGradient(TGPGraphics& g, const TRectI& r, TColor c1, TColor c2, TGDIPGradient kind, bool upper) {
  ARGB a1 = ColorToARGB(c1), a2 = ColorToARGB(c2);
  TGPSolidBrush solid(upper ? a1 : a2);
  g.FillRectangle(&solid, r.left, r.top, r.width(), r.height());
  if (kind == ggRadial) {
    // The ellipse and the fill take the right and bottom edges as their size,
    // which lets the glow spill past the half it lights.
    TGPGraphicsPath path;
    int top = upper ? r.top - r.height() / 2 + 2 : r.top;
    path.AddEllipse(r.left, top, r.right, r.bottom);
    TGPPathGradientBrush brush(path);
    brush.SetCenterPoint(MakeGPPoint(r.left + r.width() / 2, upper ? r.top : r.bottom));
    brush.SetCenterColor(upper ? a2 : a1);
    ARGB surround = upper ? a1 : a2;
    int count = 1;
    brush.SetSurroundColors(&surround, count);
    g.FillRectangle(&brush, r.left, r.top, r.right, r.bottom);
    return;
  }
  int mode = kind == ggVertical ? 1 : kind == ggDiagonalForward ? 2 : 3;
  TGPRect rect = MakeGPRect(r.left, r.top, r.width(), r.height());
  TGPLinearGradientBrush brush(rect, a1, a2, mode);
  g.FillRectangle(&brush, rect);
}

void AddRoundRect(TGPGraphicsPath& path, float x, float y, float w, float h, float radius) {
  float d = radius * 2;
  path.AddLine(x + radius, y, x + w - d, y);
  path.AddArc(x + w - d, y, d, d, 270, 90);
  path.AddLine(x + w, y + radius, x + w, y + h - d);
  path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
  path.AddLine(x + w - d, y + h, x + radius, y + h);
  path.AddArc(x, y + h - d, d, d, 90, 90);
  path.AddLine(x, y + h - d, x, y + radius);
  path.AddArc(x, y, d, d, 180, 90);
  path.CloseFigure();
}

void DrawButtonFrame(TGPGraphics& g, float x, float y, float w, float h, TColor color, int radius) {
  TGPPen pen(ColorToARGB(color), 1);
  if (radius == 0) {
    g.DrawRectangle(pen, x, y, w, h);
    return;
  }
  TGPGraphicsPath path;
  AddRoundRect(path, x, y, w, h, radius);
  g.DrawPath(&pen, &path);
}

// Joined buttons: rounded outer corners, straight joints; the joint edge in a
// slightly darker border colour.
void DrawJoinedFrame(TGPGraphics& g, TButtonPosition position, float x, float y, float w, float h, TColor color,
                     int radius, bool hotOrDown) {
  TGPPen pen(ColorToARGB(color), 1);
  TGPPen inner(ColorToARGB(ChangeColor(color, -5)), 1);
  float d = radius * 2;
  TGPGraphicsPath outer;
  if (position == bpLeft) {
    outer.AddLine(x + w, y, x + radius, y);
    if (radius) outer.AddArc(x, y, d, d, 270, -90);
    outer.AddLine(x, y + radius, x, y + h - radius);
    if (radius) outer.AddArc(x, y + h - d, d, d, 180, -90);
    outer.AddLine(x + radius, y + h, x + w, y + h);
  } else if (position == bpRight) {
    outer.AddLine(x, y, x + w - radius, y);
    if (radius) outer.AddArc(x + w - d, y, d, d, 270, 90);
    outer.AddLine(x + w, y + radius, x + w, y + h - radius);
    if (radius) outer.AddArc(x + w - d, y + h - d, d, d, 0, 90);
    outer.AddLine(x + w - radius, y + h, x, y + h);
  } else {
    outer.AddLine(x, y, x + w, y);
    outer.AddLine(x + w, y + h, x, y + h);
  }
  g.DrawPath(&pen, &outer);
  if (position == bpLeft) {
    TGPGraphicsPath joint;
    joint.AddLine(x + w, y, x + w, y + h);
    g.DrawPath(&inner, &joint);
  } else {
    // The left joint: lighter and shortened when the button rests.
    TGPPen light(ColorToARGB(0xE6E6E6), 1);
    TGPGraphicsPath joint;
    if (hotOrDown)
      joint.AddLine(x, y, x, y + h);
    else
      joint.AddLine(x, y + 2, x, y + h - 2);
    g.DrawPath(hotOrDown ? &inner : &light, &joint);
    if (position == bpMiddle) {
      TGPGraphicsPath right;
      right.AddLine(x + w, y, x + w, y + h);
      g.DrawPath(&inner, &right);
    }
  }
}

void DrawGlyphPicture(TGPGraphics& g, QImage& canvas, QPoint at, TFxPicture& picture) {
  TGPImage image(picture.Data());
  if (image.GetFormat() == ifBMP) {
    DrawKeyedBitmap(canvas, picture.Data(), at.x(), at.y());
    return;
  }
  g.DrawImage(&image, at.x(), at.y(), static_cast<int>(image.GetWidth()), static_cast<int>(image.GetHeight()));
}

}  // namespace

// ---- the button

TFxCustomGlowButton::TFxCustomGlowButton(QWidget* parent)
    : QWidget(parent),
      appearance_(std::make_unique<TGlowButtonAppearance>()),
      picture_(std::make_unique<TFxPicture>()),
      hotPicture_(std::make_unique<TFxPicture>()),
      disabledPicture_(std::make_unique<TFxPicture>()),
      officeHint_(std::make_unique<TFxHintInfo>()) {
  resize(100, 41);
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  appearance_->OnChange = [this] { Repaint(); };
  glowTimer_ = std::make_unique<QTimer>();
  QObject::connect(glowTimer_.get(), &QTimer::timeout, this, [this] { GlowTimer(); });
  picture_->OnChange = [this](TFxPicture*) { Repaint(); };
  disabledPicture_->OnChange = [this](TFxPicture*) { Repaint(); };
}

TFxCustomGlowButton::~TFxCustomGlowButton() = default;

void TFxCustomGlowButton::SetAppearance(const TGlowButtonAppearance& value) { appearance_->Assign(value); }

#define FX_REPAINTING_SETTER(name, field) \
  void TFxCustomGlowButton::name(decltype(field) value) { \
    if (field == value) return;                           \
    field = value;                                        \
    Repaint();                                            \
  }
FX_REPAINTING_SETTER(SetShowDisabled, showDisabled_)
FX_REPAINTING_SETTER(SetRounded, rounded_)
FX_REPAINTING_SETTER(SetAntiAlias, antiAlias_)
FX_REPAINTING_SETTER(SetBorderStyle, borderStyle_)
FX_REPAINTING_SETTER(SetPosition, position_)
FX_REPAINTING_SETTER(SetLayout, layout_)
FX_REPAINTING_SETTER(SetFocusType, focusType_)
FX_REPAINTING_SETTER(SetSpacing, spacing_)
FX_REPAINTING_SETTER(SetShowCaption, showCaption_)
#undef FX_REPAINTING_SETTER

void TFxCustomGlowButton::SetCaption(const QString& value) {
  if (caption_ == value) return;
  caption_ = value;
  Repaint();
}

void TFxCustomGlowButton::SetTabStop(bool value) {
  tabStop_ = value;
  setFocusPolicy(value ? Qt::StrongFocus : Qt::NoFocus);
}

void TFxCustomGlowButton::SetDown(bool value) {
  if (groupIndex_ == 0 && style_ == bsButton) value = false;
  if (style_ == bsCheck) {
    down_ = value;
    state_ = value ? rsDown : rsUp;
    Repaint();
    return;
  }
  if (value == down_ || (down_ && !allowAllUp_ && !value)) return;
  down_ = value;
  if (value) {
    state_ = rsExclusive;
  } else {
    state_ = rsUp;
  }
  Repaint();
  if (value) UpdateExclusive();
}

void TFxCustomGlowButton::SetGroupIndex(int value) {
  if (groupIndex_ == value) return;
  groupIndex_ = value;
  UpdateExclusive();
}

void TFxCustomGlowButton::SetAllowAllUp(bool value) {
  if (allowAllUp_ == value) return;
  allowAllUp_ = value;
  UpdateExclusive();
}

void TFxCustomGlowButton::UpdateExclusive() {
  if (groupIndex_ == 0 || !parentWidget()) return;
  for (QWidget* child : parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (auto* sibling = dynamic_cast<TFxCustomGlowButton*>(child); sibling && sibling != this)
      sibling->ButtonPressed(groupIndex_, this);
}

void TFxCustomGlowButton::ButtonPressed(int groupIndex, TFxCustomGlowButton* sender) {
  if (groupIndex != groupIndex_ || !sender->down_ || !down_) return;
  down_ = false;
  state_ = rsUp;
  Repaint();
}

void TFxCustomGlowButton::Click() {
  if (OnClick) OnClick(this);
}

// ---- animation

void TFxCustomGlowButton::StartGlowTimer() {
  if (glowTimer_->isActive()) return;
  glowTimer_->start(30);
}

void TFxCustomGlowButton::GlowTimer() {
  if (animated_ == abNone) return;
  int& blend = animated_ == abDown ? downBlend_ : hotBlend_;
  blend += step_;
  bool within = (blend >= 0 && blend <= 100) || (step_ > 0 && blend < 0) || (step_ < 0 && blend > 100);
  if (within) {
    Repaint();
    return;
  }
  blend = std::clamp(blend, 0, 100);
  if (animated_ == abDown && step_ < 0) {
    mousePressed_ = false;
    releasePending_ = false;
  }
  animated_ = abNone;
  // The timer object is kept for the next fade; stopped it counts as gone.
  glowTimer_->stop();
  Repaint();
}

void TFxCustomGlowButton::RepeatTimerExpired() {
  if (repeatTimer_) repeatTimer_->setInterval(repeatPause_);
  if (mousePressed_ && captured_) {
    try {
      Click();
    } catch (...) {
      if (repeatTimer_) repeatTimer_->stop();
      throw;
    }
  }
}

// ---- input

void TFxCustomGlowButton::DoMouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
  if (mouseInside_) return;
  hot_ = true;
  if (releasePending_) mousePressed_ = true;
  StartGlowTimer();
  if (!mousePressed_ && animated_ != abDown) {
    step_ = 20;
    animated_ = abHot;
  }
  Repaint();
  tracking_ = true;
  mouseInside_ = true;
}

void TFxCustomGlowButton::DoMouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
  if (!mouseInside_) return;
  mouseInside_ = tracking_ = hot_ = false;
  if (mousePressed_ && captured_) {
    mousePressed_ = false;
    step_ = -20;
    animated_ = abHot;
    releasePending_ = true;
  } else {
    mousePressed_ = false;
    hotBlend_ = 100;
    step_ = -20;
    animated_ = abHot;
  }
  Repaint();
  StartGlowTimer();
}

void TFxCustomGlowButton::enterEvent(QEnterEvent*) { DoMouseEnter(); }
void TFxCustomGlowButton::leaveEvent(QEvent*) { DoMouseLeave(); }

void TFxCustomGlowButton::UpdateTracking(const QPoint& pos) {
  if (!isEnabled()) return;
  bool over = rect().contains(pos);
  if (over == tracking_) return;
  if (over)
    DoMouseEnter();
  else
    DoMouseLeave();
}

void TFxCustomGlowButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (repeatClick_) {
    if (!repeatTimer_) {
      repeatTimer_ = std::make_unique<QTimer>();
      QObject::connect(repeatTimer_.get(), &QTimer::timeout, this, [this] { RepeatTimerExpired(); });
    }
    repeatTimer_->start(initRepeatPause_);
  }
  mousePressed_ = captured_ = true;
  if (tabStop_) setFocus(Qt::MouseFocusReason);
  StartGlowTimer();
  step_ = 20;
  animated_ = abDown;
  if (style_ == bsCheck) SetDown(!down_);
  if (!down_) {
    state_ = rsDown;
    Repaint();
  }
  if (style_ == bsCheck) state_ = rsDown;
  pressPending_ = true;
}

void TFxCustomGlowButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (repeatTimer_) repeatTimer_->stop();
  step_ = -20;
  animated_ = abDown;
  captured_ = releasePending_ = false;
  StartGlowTimer();
  if (!pressPending_) return;
  pressPending_ = false;
  QPoint p = e->position().toPoint();
  // Inside means on a pixel of the button.
  bool inside = rect().contains(p);
  if (groupIndex_ != 0) {
    if (inside) {
      SetDown(!down_);
    } else if (down_) {
      state_ = rsExclusive;
      Repaint();
    }
  } else {
    state_ = rsUp;
    tracking_ = false;
    if (style_ == bsCheck && !inside && down_) SetDown(false);
    Repaint();
  }
  UpdateTracking(p);
  if (inside) Click();
  Repaint();
}

void TFxCustomGlowButton::mouseMoveEvent(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  UpdateTracking(p);
  if (!pressPending_) return;
  bool inside = rect().contains(p);
  int state = inside ? (down_ ? rsExclusive : rsDown) : (down_ ? rsExclusive : rsUp);
  if (style_ == bsCheck && down_) state = rsDown;
  if (state != state_) {
    state_ = state;
    Repaint();
  }
}

void TFxCustomGlowButton::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !e->isAutoRepeat()) {
    mousePressed_ = true;
    state_ = rsDown;
    repaint();
    Click();
    return;
  }
  QWidget::keyPressEvent(e);
}

void TFxCustomGlowButton::keyReleaseEvent(QKeyEvent* e) {
  if (e->isAutoRepeat()) return;
  mousePressed_ = false;
  state_ = rsUp;
  Repaint();
  QWidget::keyReleaseEvent(e);
}

void TFxCustomGlowButton::focusInEvent(QFocusEvent*) {
  focused_ = true;
  Repaint();
}

void TFxCustomGlowButton::focusOutEvent(QFocusEvent*) {
  mousePressed_ = false;
  state_ = rsUp;
  focused_ = false;
  Repaint();
}

void TFxCustomGlowButton::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) Repaint();
  QWidget::changeEvent(e);
}

// ---- looks

TFxCustomGlowButton::Look TFxCustomGlowButton::NormalLook() const {
  const auto& a = *appearance_;
  return {a.GetColor(), a.GetColorTo(), a.GetColorMirror(), a.GetColorMirrorTo(), a.GetBorderColor(),
          a.GetGradient(), a.GetGradientMirror()};
}
TFxCustomGlowButton::Look TFxCustomGlowButton::HotLook() const {
  const auto& a = *appearance_;
  return {a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(), a.GetBorderColorHot(),
          a.GetGradientHot(), a.GetGradientMirrorHot()};
}
TFxCustomGlowButton::Look TFxCustomGlowButton::DownLook() const {
  const auto& a = *appearance_;
  return {a.GetColorDown(), a.GetColorDownTo(), a.GetColorMirrorDown(), a.GetColorMirrorDownTo(),
          a.GetBorderColorDown(), a.GetGradientDown(), a.GetGradientMirrorDown()};
}
TFxCustomGlowButton::Look TFxCustomGlowButton::CheckedLook() const {
  const auto& a = *appearance_;
  return {a.GetColorChecked(), a.GetColorCheckedTo(), a.GetColorMirrorChecked(), a.GetColorMirrorCheckedTo(),
          a.GetBorderColorChecked(), a.GetGradientChecked(), a.GetGradientMirrorChecked()};
}
TFxCustomGlowButton::Look TFxCustomGlowButton::DisabledLook() const {
  const auto& a = *appearance_;
  return {a.GetColorDisabled(), a.GetColorDisabledTo(), a.GetColorMirrorDisabled(), a.GetColorMirrorDisabledTo(),
          a.GetBorderColorDisabled(), a.GetGradientDisabled(), a.GetGradientMirrorDisabled()};
}

namespace {
void BlendFill(auto& out, const auto& a, const auto& b, int percent, bool border) {
  out.color = BlendColor(a.color, b.color, percent);
  out.colorTo = BlendColor(a.colorTo, b.colorTo, percent);
  out.mirror = BlendColor(a.mirror, b.mirror, percent);
  out.mirrorTo = BlendColor(a.mirrorTo, b.mirrorTo, percent);
  if (border) out.border = BlendColor(a.border, b.border, percent);
}
}  // namespace

void TFxCustomGlowButton::Paint(QImage& canvas) {
  if (painting_) return;
  painting_ = true;
  bool enabled = isEnabled();
  if (!enabled) {
    state_ = rsDisabled;
    pressPending_ = false;
  } else if (state_ == rsDisabled) {
    state_ = down_ && groupIndex_ > 0 ? rsExclusive : rsUp;
  }
  if (style_ == bsCheck && down_) state_ = rsDown;

  Look look;
  if (enabled || !showDisabled_) {
    if (state_ == rsDown && style_ == bsButton) {
      look = DownLook();
    } else if (state_ == rsExclusive || (state_ == rsDown && style_ == bsCheck)) {
      look = CheckedLook();
      if (glowTimer_->isActive() && (tracking_ || (style_ == bsButton && (groupIndex_ == 0 || down_))))
        BlendFill(look, CheckedLook(), DownLook(), downBlend_, false);
    } else if (hot_) {
      look = HotLook();
    } else {
      look = NormalLook();
    }
  } else {
    look = DisabledLook();
  }
  if (glowTimer_->isActive() && (enabled || !showDisabled_)) {
    if (mousePressed_ || transparent_ || state_ == rsExclusive || (style_ == bsCheck && down_)) {
      if (style_ == bsCheck && mousePressed_)
        BlendFill(look, DownLook(), CheckedLook(), downBlend_, false);
      else if (mousePressed_ && state_ != rsExclusive)
        BlendFill(look, DownLook(), HotLook(), downBlend_, true);
    } else {
      BlendFill(look, HotLook(), NormalLook(), hotBlend_, true);
    }
  }
  if (position_ != bpStandalone && mousePressed_) look.border = appearance_->GetBorderColor();
  if (!enabled && showDisabled_) look = DisabledLook();
  if (focused_ && (focusType_ == ftHot || focusType_ == ftHotBorder) && !mousePressed_) look = HotLook();
  bool focusFrame = focused_ && (focusType_ == ftBorder || focusType_ == ftHotBorder);

  DrawGlowButton(canvas, look, enabled, focusFrame);
  if (OnDrawButton)
    OnDrawButton(this, canvas, rect(), state_ == rsDown ? gsDown : mouseInside_ ? gsHot : gsNormal);
  painting_ = false;
}

void TFxCustomGlowButton::DrawGlowButton(QImage& canvas, const Look& look, bool enabled, bool focusFrame) {
  TGPGraphics g(canvas);
  const int w = canvas.width(), h = canvas.height(), m = h / 2;
  // Background: the lower ("mirror") half first, then the upper half over it.
  DrawGDIPGradient(g, {0, m - 1, w, h}, look.mirrorTo, look.mirror, look.gradientMirror, false);
  DrawGDIPGradient(g, {0, 0, w, h - m}, look.color, look.colorTo, look.gradient, true);

  g.SetSmoothingMode(gdip::SmoothingModeAntiAlias);
  int radius = rounded_ ? 3 : 0;
  if (borderStyle_ == bsSingle) {
    if (position_ == bpStandalone)
      DrawButtonFrame(g, 0, 0, w - 1, h - 1, look.border, radius);
    else
      DrawJoinedFrame(g, position_, 0, 0, w - 1, h - 1, look.border, radius, hot_ || state_ == rsDown);
  }
  if (focusFrame) {
    DrawButtonFrame(g, 1, 1, w - 3, h - 3, 0xE4AD89, radius);
    TGPPen dotted(ColorToARGB(0x808080), 1);
    dotted.SetDashStyle(2);
    TGPGraphicsPath path;
    AddRoundRect(path, 2, 2, w - 5, h - 5, radius);
    g.DrawPath(&dotted, &path);
  }

  // Glyph: the disabled or hot picture where one applies.
  TFxPicture* glyph = picture_.get();
  if (!enabled && !disabledPicture_->GetEmpty())
    glyph = disabledPicture_.get();
  else if (hot_ && !hotPicture_->GetEmpty())
    glyph = hotPicture_.get();
  int gw = 0, gh = 0;
  if (!glyph->GetEmpty() && glyph->MeasureImage()) gw = glyph->GetWidth(), gh = glyph->GetHeight();
  QString text = showCaption_ ? caption_ : QString();
  text.replace("\\n", "\n");
  if (text.isEmpty()) {
    if (gw > 0) DrawGlyphPicture(g, canvas, QPoint(std::max(0, (w - gw) / 2), std::max(0, (h - gh) / 2)), *glyph);
    return;
  }
  int glyphSpace = gw > 0 ? gw + spacing_ : 0;

  QFont qfont = font();
  QString family = qfont.family();
  if (appearance_->GetSystemFont() && !testAttribute(Qt::WA_SetFont)) family = DefaultUIFontName();
  std::u16string wideFamily = family.toStdU16String();
  TGPFontFamily fontFamily(wideFamily);
  std::unique_ptr<TGPFontFamily> arial;
  const TGPFontFamily* fam = &fontFamily;
  if (fontFamily.GetLastStatus() == FontFamilyNotFound || fontFamily.GetLastStatus() == FontStyleNotFound) {
    arial = std::make_unique<TGPFontFamily>(u"Arial");
    fam = arial.get();
  }
  int style = (qfont.bold() ? 1 : 0) | (qfont.italic() ? 2 : 0) | (qfont.underline() ? 4 : 0);
  float size = qfont.pointSizeF() > 0 ? static_cast<float>(qfont.pointSizeF()) : 8.0f;
  TGPFont gpFont(fam, size, style, 3);
  TGPStringFormat format(0x1000);
  format.SetAlignment(1);
  format.SetLineAlignment(1);
  format.SetHotkeyPrefix(1);
  if (antiAlias_ == aaClearType) g.SetTextRenderingHint(5);
  if (antiAlias_ == aaAntiAlias) g.SetTextRenderingHint(4);
  std::u16string wide = text.toStdU16String();
  TGPRect whole = MakeGPRect(0, 0, w, h);
  TGPRect bounds{};
  g.MeasureString(wide, -1, &gpFont, whole, &format, bounds);
  TGPRect box = MakeGPRect(glyphSpace + 2, 0, w - glyphSpace - 2, h);
  TGPSolidBrush textBrush(enabled ? ColorToARGB(FontColor()) : ColorToARGB(0x808080));
  g.DrawString(wide, -1, &gpFont, box, &format, &textBrush);
  if (gw > 0) {
    int gx = std::max(2, static_cast<int>(bounds.X) - gw / 2);
    DrawGlyphPicture(g, canvas, QPoint(gx, std::max(0, (h - gh) / 2)), *glyph);
  }
}

TColor TFxCustomGlowButton::FontColor() const {
  QColor c = palette().color(QPalette::ButtonText);
  return Rgb(c.red(), c.green(), c.blue());
}

QImage TFxCustomGlowButton::RenderButton(QRgb background) {
  QImage canvas(std::max(1, width()), std::max(1, height()), QImage::Format_ARGB32_Premultiplied);
  canvas.fill(background);
  Paint(canvas);
  return canvas;
}

void TFxCustomGlowButton::paintEvent(QPaintEvent*) {
  QWidget* host = parentWidget() ? parentWidget() : this;
  QImage canvas = RenderButton(host->palette().color(host->backgroundRole()).rgb());
  QPainter painter(this);
  painter.drawImage(0, 0, canvas);
}
