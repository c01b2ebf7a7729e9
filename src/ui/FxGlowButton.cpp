#include "ui/FxGlowButton.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QToolTip>
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
  if (modalResult_ != 0)
    if (auto* dialog = qobject_cast<QDialog*>(window())) dialog->done(modalResult_);
  if (OnClick)
    OnClick(this);
  else if (action_)
    action_->trigger();
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
  mouseInside_ = tracking_ = hot_ = dropDownHover_ = false;
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
  QPoint p = e->position().toPoint();
  bool opens = dropDownButton_ && ((InDropDownZone(p, 14) && dropDownSplit_) ||
                                   (!dropDownSplit_ && style_ == bsButton && groupIndex_ <= 0));
  if (opens || ForceDropDown()) {
    tracking_ = false;
    if (OnDropDown) OnDropDown(this);
    if (dropDownMenu_) {
      mousePressed_ = hot_ = false;
      captured_ = false;
      dropDownOpen_ = mouseInside_ = true;
      Repaint();
      QPoint at = DropDownPoint();
      if (PopupMenuAt)
        PopupMenuAt(dropDownMenu_, at);
      else
        dropDownMenu_->exec(at);
      dropDownOpen_ = false;
      if (!rect().contains(mapFromGlobal(QCursor::pos()))) mouseInside_ = tracking_ = hot_ = dropDownHover_ = false;
      Repaint();
    }
    return;
  }
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
  bool hover = InDropDownZone(p, 12);
  if (hover != dropDownHover_) {
    dropDownHover_ = hover;
    Repaint();
  }
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
  if (e->key() == Qt::Key_F4) {
    DoDropDown();
    return;
  }
  if ((e->modifiers() & Qt::AltModifier) && !e->text().isEmpty() && DialogChar(e->text().at(0))) return;
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
  if (transparent_ && !mouseInside_) PaintParentBackground(canvas);
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

  if (measurePending_ && autoSize_) {
    measurePending_ = false;
    DrawGlowButton(canvas, look, enabled, focusFrame, true);
    int nw = 3 * spacing_ + contentSize_.width() + 2 * marginHorz_ + 2;
    int nh = 2 * spacing_ + contentSize_.height() + 2 * marginVert_;
    if (dropDownButton_) (dropDownPosition_ == dpRight ? nw : nh) += 14;
    if (nw != width() || nh != height()) {
      resize(std::max(1, nw), std::max(1, nh));
      canvas = QImage(std::max(1, width()), std::max(1, height()), QImage::Format_ARGB32_Premultiplied);
      canvas.fill(0);
      if (transparent_ && !mouseInside_) PaintParentBackground(canvas);
    }
  }
  DrawGlowButton(canvas, look, enabled, focusFrame, false);
  // Rounded corners: the corner pixels take the parent's background.
  if (parentWidget() && rounded_ && (!transparent_ || mouseInside_ || state_ == rsDown || hot_) &&
      position_ != bpMiddle) {
    QImage under(canvas.size(), QImage::Format_ARGB32_Premultiplied);
    under.fill(0);
    PaintParentBackground(under);
    const int w = canvas.width() - 1, h = canvas.height() - 1;
    std::vector<QPoint> corners;
    if (position_ == bpStandalone || position_ == bpLeft) corners.insert(corners.end(), {{0, 0}, {0, h}});
    if (position_ == bpStandalone || position_ == bpRight) corners.insert(corners.end(), {{w, 0}, {w, h}});
    for (QPoint c : corners) canvas.setPixel(c, under.pixel(c));
  }
  if (OnDrawButton)
    OnDrawButton(this, canvas, rect(), state_ == rsDown ? gsDown : mouseInside_ ? gsHot : gsNormal);
  painting_ = false;
}

namespace {
// The drop-down arrow: rows of 5, 3 and 1 pixels with white ends.
void DrawDropDownArrow(QImage& canvas, QPoint at, TColor color, bool pointsDown) {
  QPainter p(&canvas);
  QColor c(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  for (int row = 0; row < 3; ++row) {
    int len = 5 - 2 * row;
    for (int i = 0; i < len; ++i) {
      QPoint px = pointsDown ? QPoint(at.x() + row + i, at.y() + row) : QPoint(at.x() + row, at.y() + row + i);
      p.setPen(c);
      p.drawPoint(px);
    }
    // Highlight just past each row's end.
    QPoint end = pointsDown ? QPoint(at.x() + row + len, at.y() + row) : QPoint(at.x() + row, at.y() + row + len);
    p.setPen(Qt::white);
    p.drawPoint(end);
  }
}
}  // namespace

bool TFxCustomGlowButton::InDropDownZone(const QPoint& p, int zone) const {
  if (!dropDownButton_) return false;
  return dropDownPosition_ == dpRight ? p.x() > width() - zone : p.y() > height() - zone;
}

void TFxCustomGlowButton::DrawGlowButton(QImage& canvas, const Look& look, bool enabled, bool focusFrame,
                                         bool measureOnly) {
  const int w = canvas.width(), h = canvas.height(), m = h / 2;
  const bool pressedOrHot = state_ == rsDown || hot_ || mouseInside_;
  int contentRight = w, contentBottom = h;
  if (dropDownButton_) (dropDownPosition_ == dpRight ? contentRight : contentBottom) -= 14;
  // A transparent button at rest shows its parent instead of a face.
  const bool skipBackground = transparent_ && !mouseInside_ && !hot_ && state_ != rsDown && state_ != rsExclusive;
  if (!measureOnly && !skipBackground) {
    TGPGraphics g(canvas);
    if (dropDownButton_ && pressedOrHot && dropDownSplit_) {
      // Main part and a 12-pixel drop-down part, the part the cursor is not
      // over darkened by 10 %.
      bool overPart = dropDownHover_;
      auto shade = [](const Look& l, bool dark) {
        Look d = l;
        if (dark) {
          d.color = ChangeColor(l.color, -10), d.colorTo = ChangeColor(l.colorTo, -10);
          d.mirror = ChangeColor(l.mirror, -10), d.mirrorTo = ChangeColor(l.mirrorTo, -10);
        }
        return d;
      };
      Look main = shade(look, !overPart), part = shade(look, overPart);
      TRectI mainRect = dropDownPosition_ == dpRight ? TRectI{0, 0, w - 12, h} : TRectI{0, 0, w, h - 12};
      TRectI partRect = dropDownPosition_ == dpRight ? TRectI{w - 12, 0, w, h} : TRectI{0, h - 12, w, h};
      int mm = mainRect.height() / 2;
      DrawGDIPGradient(g, {mainRect.left, mm - 1, mainRect.right, mainRect.bottom}, main.mirrorTo, main.mirror,
                       main.gradientMirror, false);
      DrawGDIPGradient(g, {mainRect.left, 0, mainRect.right, mainRect.bottom - mm}, main.color, main.colorTo,
                       main.gradient, true);
      if (dropDownPosition_ == dpRight) {
        int pm = partRect.height() / 2;
        DrawGDIPGradient(g, {partRect.left, pm - 1, partRect.right, partRect.bottom}, part.mirrorTo, part.mirror,
                         part.gradientMirror, false);
        DrawGDIPGradient(g, {partRect.left, 0, partRect.right, partRect.bottom - pm}, part.color, part.colorTo,
                         ggRadial, true);
      } else {
        DrawGDIPGradient(g, partRect, part.color, part.colorTo, ggRadial, true);
      }
    } else {
      // The lower ("mirror") half first, then the upper half over it.
      DrawGDIPGradient(g, {0, m - 1, w, h}, look.mirrorTo, look.mirror, look.gradientMirror, false);
      DrawGDIPGradient(g, {0, 0, w, h - m}, look.color, look.colorTo, look.gradient, true);
    }
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
  }
  DrawGlyphAndCaption(canvas, enabled, measureOnly, contentRight, contentBottom);
  if (dropDownButton_ && !measureOnly) {
    QRect part = dropDownPosition_ == dpRight ? QRect(w - 14, 0, 14, h) : QRect(0, h - 14, w, 14);
    if (pressedOrHot && dropDownSplit_ && look.border != clNone) {
      QPainter p(&canvas);
      TColor b = ColorToRGB(look.border);
      p.setPen(QColor(b & 0xFF, (b >> 8) & 0xFF, (b >> 16) & 0xFF));
      if (dropDownPosition_ == dpRight)
        p.drawLine(part.left(), 1, part.left(), h - 2);
      else
        p.drawLine(1, part.top(), w - 2, part.top());
    }
    int ax = part.left() + (part.width() - 5) / 2;
    int ay = part.top() + (part.height() - 3) / 2 + 1;
    DrawDropDownArrow(canvas, QPoint(ax, ay), enabled ? 0x000000 : 0x808080, dropDownDirection_ == ddDown);
  }
}

void TFxCustomGlowButton::DrawGlyphAndCaption(QImage& canvas, bool enabled, bool measureOnly, int W, int H) {
  // Glyph: the disabled or hot picture where one applies, else an image of
  // the image lists.
  TFxPicture* glyph = picture_.get();
  if (!enabled && !disabledPicture_->GetEmpty())
    glyph = disabledPicture_.get();
  else if (hot_ && !hotPicture_->GetEmpty())
    glyph = hotPicture_.get();
  TCustomImageList* list = nullptr;
  bool listEnabled = enabled;
  int index = imageIndex_;
  if (enabled || !disabledImages_) {
    list = hot_ && hotImages_ ? hotImages_ : images_;
  } else {
    list = disabledImages_;
    listEnabled = true;
  }
  bool fixed16 = autoSize_ && (sizeState_ == bsGlyph || sizeState_ == bsLabel);
  int gw = 0, gh = 0;
  bool usePicture = !glyph->GetEmpty() && glyph->MeasureImage();
  if (fixed16 && usePicture && list && index >= 0) usePicture = false;
  bool useList = !usePicture && list && index >= 0 && index < list->Count();
  if (usePicture)
    gw = glyph->GetWidth(), gh = glyph->GetHeight();
  else if (useList)
    gw = list->Width(), gh = list->Height();
  if (fixed16 && (usePicture || useList)) gw = gh = 16;
  QString text = showCaption_ && !(autoSize_ && sizeState_ == bsGlyph) ? caption_ : QString();
  text.replace("\\n", fixed16 ? " " : "\n");

  auto drawGlyph = [&](int x, int y) {
    if (measureOnly) return;
    if (usePicture) {
      if (fixed16 && (glyph->GetWidth() != 16 || glyph->GetHeight() != 16))
        DrawKeyedBitmap(canvas, glyph->Data(), 0, 0, QRect(x, y, 16, 16));
      else {
        TGPGraphics g(canvas);
        DrawGlyphPicture(g, canvas, QPoint(x, y), *glyph);
      }
    } else if (useList) {
      list->Draw(canvas, x, y, index, listEnabled);
    }
  };

  if (text.isEmpty()) {
    contentSize_ = QSize(gw, gh);
    if (gw > 0) drawGlyph(std::max(0, (W - gw) / 2), std::max(0, (H - gh) / 2));
    return;
  }
  const QString notes = notes_.join('\n');
  TButtonLayout layout = notes.isEmpty() ? layout_ : blGlyphLeftAdjusted;
  const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight || layout == blGlyphLeftAdjusted ||
                          layout == blGlyphRightAdjusted;
  if (gw > 0) {
    if (horizontal)
      gw += spacing_;
    else if (layout == blGlyphTop || layout == blGlyphTopAdjusted)
      gh += spacing_;
  }

  // A family GDI+ does not know is drawn with Arial.
  struct TTextFont {
    std::unique_ptr<TGPFontFamily> family;
    std::unique_ptr<TGPFont> font;
  };
  auto makeFont = [](const QFont& qfont, const QString& familyName) {
    TTextFont f;
    f.family = std::make_unique<TGPFontFamily>(familyName.toStdU16String());
    if (f.family->GetLastStatus() == FontFamilyNotFound || f.family->GetLastStatus() == FontStyleNotFound)
      f.family = std::make_unique<TGPFontFamily>(u"Arial");
    const int style = (qfont.bold() ? 1 : 0) | (qfont.italic() ? 2 : 0) | (qfont.underline() ? 4 : 0);
    const float size = qfont.pointSizeF() > 0 ? static_cast<float>(qfont.pointSizeF()) : 8.0f;
    f.font = std::make_unique<TGPFont>(f.family.get(), size, style, 3);
    return f;
  };
  QString family = font().family();
  if (appearance_->GetSystemFont() && !testAttribute(Qt::WA_SetFont)) family = DefaultUIFontName();
  const TTextFont captionFont = makeFont(font(), family);
  TGPFont& gpFont = *captionFont.font;
  TGPStringFormat format(wordWrap_ ? 0 : 0x1000);
  int hAlign = layout == blGlyphLeftAdjusted ? 0 : layout == blGlyphRightAdjusted ? 2 : 1;
  int vAlign = layout == blGlyphTopAdjusted ? 0 : layout == blGlyphBottomAdjusted ? 2 : 1;
  format.SetAlignment(hAlign);
  format.SetLineAlignment(vAlign);
  format.SetHotkeyPrefix(1);
  QImage scratch;
  QImage& target = measureOnly ? (scratch = QImage(1, 1, QImage::Format_ARGB32_Premultiplied)) : canvas;
  TGPGraphics g(target);
  if (antiAlias_ == aaClearType) g.SetTextRenderingHint(5);
  if (antiAlias_ == aaAntiAlias) g.SetTextRenderingHint(4);
  std::u16string wide = text.toStdU16String();
  TGPRect whole = measureOnly ? MakeGPRect(0, 0, 4096, 4096) : MakeGPRect(0, 0, W, H);
  TGPRect bounds{};
  g.MeasureString(wide, -1, &gpFont, whole, &format, bounds);
  const int cw = static_cast<int>(std::ceil(bounds.Width)), ch = static_cast<int>(std::ceil(bounds.Height));
  TGPRect box{};
  int gx = 0, gy = 0;
  switch (layout) {
    case blGlyphLeft:
    case blGlyphLeftAdjusted:
      box = MakeGPRect(gw + 2, 0, W - gw - 2, H);
      gx = std::max(2, static_cast<int>(bounds.X) - gw / 2);
      if (layout == blGlyphLeftAdjusted) gx = 2;
      gy = std::max(0, (H - gh) / 2);
      break;
    case blGlyphRight:
      box = MakeGPRect(2, 0, W - gw - 4, H);
      gx = std::min(std::max(0, (static_cast<int>(box.Width) - cw) / 2) + cw + 4, W - gw - 2) + spacing_;
      gy = std::max(0, (H - gh) / 2);
      break;
    case blGlyphRightAdjusted:
      box = MakeGPRect(2, 0, W - gw - 4, H);
      gx = W - gw - 2 + spacing_;
      gy = std::max(0, (H - gh) / 2);
      break;
    case blGlyphTop:
    case blGlyphTopAdjusted: {
      gx = std::max(0, (W - gw) / 2);
      int together = gh + ch;
      gy = layout == blGlyphTop ? std::max(2, (H - together) / 2) : 2;
      box = layout == blGlyphTop ? MakeGPRect(0, gy + gh, W, std::max(0, H - gy - gh - 2))
                                 : MakeGPRect(0, gh, W, std::max(0, H - gh - 2));
      if (layout == blGlyphTop) format.SetLineAlignment(0);
      break;
    }
    case blGlyphBottom:
    case blGlyphBottomAdjusted: {
      box = MakeGPRect(0, 2, W, std::max(0, H - gh - 2));
      gx = std::max(0, (W - gw) / 2);
      if (layout == blGlyphBottom) {
        int captionTop = 2 + std::max(0, (static_cast<int>(box.Height) - ch) / 2);
        gy = std::min(captionTop + ch + 2, H - gh - 2);
      } else {
        gy = std::min(H / 2 + ch + 2, H - gh - 2);
      }
      break;
    }
  }
  if (!notes.isEmpty()) {
    // The notes, measured with word breaks in their own font beside the
    // glyph; caption and notes together are centred vertically, the notes
    // one caption height below the caption.
    const TTextFont notesFont = makeFont(notesFont_, notesFont_.family());
    TGPStringFormat notesFormat(0);
    notesFormat.SetAlignment(0);
    notesFormat.SetLineAlignment(0);
    const std::u16string notesText = notes.toStdU16String();
    const float boxWidth = measureOnly ? 4096.0f : std::max(0.0f, static_cast<float>(W - gw - 2));
    TGPRect notesBounds{};
    g.MeasureString(notesText, -1, notesFont.font.get(), MakeGPRect(0, 0, static_cast<int>(boxWidth), 4096),
                    &notesFormat, notesBounds);
    const int nw = static_cast<int>(std::ceil(notesBounds.Width)), nh = static_cast<int>(std::ceil(notesBounds.Height));
    contentSize_ = QSize(gw + std::max(cw, nw), std::max(ch + nh, gh));
    if (measureOnly) return;
    const int shift = std::max(0, (H - ch - nh) / 2);
    format.SetLineAlignment(0);
    const TGPRect captionBox = MakeGPRect(gw + 2 - 1, shift, std::max(0, W - gw - 2), std::max(0, H - shift));
    const TGPRect notesBox = MakeGPRect(gw + 2 - 1, shift + ch, std::max(0, W - gw - 2), std::max(0, H - shift - ch));
    TGPSolidBrush textBrush(enabled ? ColorToARGB(FontColor()) : ColorToARGB(0x808080));
    TGPSolidBrush notesBrush(enabled ? ColorToARGB(notesFontColor_) : ColorToARGB(0x808080));
    g.DrawString(wide, -1, &gpFont, captionBox, &format, &textBrush);
    g.DrawString(notesText, -1, notesFont.font.get(), notesBox, &notesFormat, &notesBrush);
    if (gw > 0) drawGlyph(gx, gy);
    return;
  }
  if (horizontal)
    contentSize_ = QSize(gw + cw, std::max(ch, gh));
  else
    contentSize_ = QSize(std::max(cw, gw), gh + ch);
  if (measureOnly) return;
  TGPSolidBrush textBrush(enabled ? ColorToARGB(FontColor()) : ColorToARGB(0x808080));
  g.DrawString(wide, -1, &gpFont, box, &format, &textBrush);
  if (gw > 0) drawGlyph(gx, gy);
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

// ---- image lists and the hint window

int TCustomImageList::Add(const QImage& image) {
  images_.push_back(image.scaled(width_, height_).convertToFormat(QImage::Format_ARGB32_Premultiplied));
  return Count() - 1;
}

bool TCustomImageList::Draw(QImage& canvas, int x, int y, int index, bool enabled) const {
  if (index < 0 || index >= Count()) return false;
  QImage image = images_[static_cast<size_t>(index)];
  if (!enabled) {
    // The disabled look: grey levels, lightened.
    for (int row = 0; row < image.height(); ++row) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
      for (int col = 0; col < image.width(); ++col) {
        int a = qAlpha(line[col]);
        int grey = std::min(255, qGray(line[col]) / 2 + a / 2);
        line[col] = qRgba(grey, grey, grey, a);
      }
    }
  }
  QPainter p(&canvas);
  p.drawImage(x, y, image);
  return true;
}

TShortCutHintWindow::TShortCutHintWindow(QWidget* parent) : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_ShowWithoutActivating);
}

void TShortCutHintWindow::SetCaption(const QString& text) {
  caption_ = text;
  QFontMetrics fm(font());
  resize(std::max(fm.horizontalAdvance(caption_) + 8, fm.horizontalAdvance("O") + 8), fm.height() + 4);
  update();
}

QImage TShortCutHintWindow::Render() {
  QImage canvas(std::max(1, width()), std::max(1, height()), QImage::Format_ARGB32_Premultiplied);
  canvas.fill(0xFFFFFFFF);
  TColor from = ColorToRGB(Color), to = ColorToRGB(ColorTo);
  QPainter p(&canvas);
  const int steps = 16;
  const double band = (canvas.height() - 1) / static_cast<double>(steps);
  for (int i = 0; i < steps; ++i) {
    auto ch = [&](int shift) {
      int a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
      return a + static_cast<int>(std::nearbyint(i * (b - a) / static_cast<double>(steps)));
    };
    QColor c(ch(0), ch(8), ch(16));
    int y = static_cast<int>(std::nearbyint(i * band));
    p.fillRect(QRect(0, y, canvas.width(), static_cast<int>(std::nearbyint(band)) + 1), c);
  }
  p.setPen(Qt::black);
  p.drawText(canvas.rect(), Qt::AlignCenter | Qt::TextSingleLine, caption_);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(0.5, 0.5, canvas.width() - 1, canvas.height() - 1), 1.5, 1.5);
  return canvas;
}

void TShortCutHintWindow::paintEvent(QPaintEvent*) {
  QImage canvas = Render();
  QPainter(this).drawImage(0, 0, canvas);
}

// ---- hints, drop-down, sizing, images, actions and dialog keys

void TFxCustomGlowButton::SetHint(const QString& value) {
  hint_ = value;
  setToolTip(showHint_ ? hint_ : QString());
}

void TFxCustomGlowButton::SetShowHint(bool value) {
  showHint_ = value;
  setToolTip(showHint_ ? hint_ : QString());
}

void TFxCustomGlowButton::SetDropDownButton(bool value) {
  if (dropDownButton_ == value) return;
  dropDownButton_ = value;
  UpdateSize();
}

void TFxCustomGlowButton::SetDropDownPosition(TDropDownPosition value) {
  if (dropDownPosition_ == value) return;
  dropDownPosition_ = value;
  if (dropDownButton_) UpdateSize();
}

void TFxCustomGlowButton::SetDropDownDirection(TDropDownDirection value) {
  if (dropDownDirection_ == value) return;
  dropDownDirection_ = value;
  Repaint();
}

void TFxCustomGlowButton::SetDropDownSplit(bool value) {
  if (dropDownSplit_ == value) return;
  dropDownSplit_ = value;
  Repaint();
}

QPoint TFxCustomGlowButton::DropDownPoint() const {
  return mapToGlobal(dropDownDirection_ == ddDown ? QPoint(0, height()) : QPoint(width(), 0));
}

void TFxCustomGlowButton::DoDropDown() {
  if (!dropDownMenu_ && !ForceDropDown()) return;
  state_ = rsDown;
  if (OnDropDown) OnDropDown(this);
  Repaint();
  if (dropDownMenu_) {
    if (PopupMenuAt)
      PopupMenuAt(dropDownMenu_, DropDownPoint());
    else
      dropDownMenu_->exec(DropDownPoint());
  }
  state_ = rsUp;
  Repaint();
}

void TFxCustomGlowButton::DoClickAction() {
  bool actsAsDropDown =
      ForceDropDown() || (dropDownButton_ && style_ == bsButton && groupIndex_ <= 0 && !dropDownSplit_);
  if (actsAsDropDown) {
    if (dropDownMenu_)
      DoDropDown();
    else
      Click();
    return;
  }
  if (style_ == bsCheck) SetDown(!down_);
  if (!down_) {
    state_ = rsDown;
    Repaint();
  }
  if (style_ == bsCheck) {
    state_ = rsDown;
    Repaint();
  }
  Click();
}

void TFxCustomGlowButton::UpdateSize() {
  if (!autoSize_) {
    Repaint();
    return;
  }
  measurePending_ = true;
  Repaint();
  // Measure at once so the new size is there before the next layout.
  if (parentWidget()) RenderButton(0);
}

void TFxCustomGlowButton::SetAutoSize(bool value) {
  if (autoSize_ == value) return;
  autoSize_ = value;
  UpdateSize();
}
void TFxCustomGlowButton::SetMarginHorz(int value) {
  if (marginHorz_ == value) return;
  marginHorz_ = value;
  UpdateSize();
}
void TFxCustomGlowButton::SetMarginVert(int value) {
  if (marginVert_ == value) return;
  marginVert_ = value;
  UpdateSize();
}
void TFxCustomGlowButton::SetImageIndex(int value) {
  if (imageIndex_ == value) return;
  imageIndex_ = value;
  UpdateSize();
}
void TFxCustomGlowButton::SetImages(TCustomImageList* value) {
  images_ = value;
  Repaint();
}
void TFxCustomGlowButton::SetHotImages(TCustomImageList* value) { hotImages_ = value; }
void TFxCustomGlowButton::SetDisabledImages(TCustomImageList* value) {
  disabledImages_ = value;
  Repaint();
}
void TFxCustomGlowButton::SetWordWrap(bool value) {
  if (wordWrap_ == value) return;
  wordWrap_ = value;
  Repaint();
}

void TFxCustomGlowButton::SetNotes(const QStringList& value) {
  if (notes_ == value) return;
  notes_ = value;
  Repaint();
}
void TFxCustomGlowButton::SetNotesFont(const QFont& value) {
  if (notesFont_ == value) return;
  notesFont_ = value;
  Repaint();
}
void TFxCustomGlowButton::SetNotesFontColor(TColor value) {
  if (notesFontColor_ == value) return;
  notesFontColor_ = value;
  Repaint();
}

void TFxCustomGlowButton::Assign(const TFxCustomGlowButton& source) {
  if (&source == this) return;
  // In the order the properties are published; what the toolkit keeps
  // itself (alignment, anchors, constraints) goes through the widget.
  setSizePolicy(source.sizePolicy());
  SetAction(source.GetAction());
  setMinimumSize(source.minimumSize());
  setMaximumSize(source.maximumSize());
  SetAntiAlias(source.antiAlias_);
  SetAutoSize(source.autoSize_);
  SetBorderStyle(source.borderStyle_);
  SetCancel(source.cancel_);
  SetCaption(source.caption_);
  SetDefault(source.default_);
  setFont(source.font());
  SetImageIndex(source.imageIndex_);
  SetImages(source.images_);
  SetDisabledImages(source.disabledImages_);
  disabledPicture_->Assign(source.disabledPicture_.get());
  setProperty("DragMode", source.property("DragMode"));
  setProperty("DragKind", source.property("DragKind"));
  SetFocusType(source.focusType_);
  SetHotImages(source.hotImages_);
  hotPicture_->Assign(source.hotPicture_.get());
  SetMarginVert(source.marginVert_);
  SetMarginHorz(source.marginHorz_);
  SetModalResult(source.modalResult_);
  SetNotes(source.notes_);
  SetNotesFont(source.notesFont_);
  SetNotesFontColor(source.notesFontColor_);
  officeHint_->Assign(source.officeHint_.get());
  // A button that takes its parent's font goes back to it.
  if (!source.testAttribute(Qt::WA_SetFont)) {
    setFont(QFont());
    setAttribute(Qt::WA_SetFont, false);
  }
  picture_->Assign(source.picture_.get());
  setContextMenuPolicy(source.contextMenuPolicy());
  SetPosition(source.position_);
  SetInitRepeatPause(source.initRepeatPause_);
  SetRepeatPause(source.repeatPause_);
  SetRepeatClick(source.repeatClick_);
  SetRounded(source.rounded_);
  ShortCutHint = source.ShortCutHint;
  SetShowCaption(source.showCaption_);
  SetShowDisabled(source.showDisabled_);
  SetSpacing(source.spacing_);
  SetTransparent(source.transparent_);
  SetWordWrap(source.wordWrap_);
  SetShowHint(source.showHint_);
  SetTabStop(source.tabStop_);
  // A button without a parent would become a window of its own if shown.
  if (parentWidget() || source.isHidden()) setVisible(!source.isHidden());
}

void TFxCustomGlowButton::SetButtonSizeState(TButtonSizeState value) {
  if (value == sizeState_) return;
  if (sizeState_ == bsLarge) savedLayout_ = layout_, savedDropDownPosition_ = dropDownPosition_;
  sizeState_ = value;
  if (autoSize_) {
    if (value == bsLarge)
      layout_ = savedLayout_, dropDownPosition_ = savedDropDownPosition_;
    else
      layout_ = blGlyphLeft, dropDownPosition_ = dpRight;
  }
  measurePending_ = true;
  Repaint();
  if (parentWidget()) RenderButton(0);
}

void TFxCustomGlowButton::SetAction(QAction* action) {
  if (action_ == action) return;
  if (actionConnection_) QObject::disconnect(actionConnection_);
  action_ = action;
  if (action_) {
    actionConnection_ = QObject::connect(action_, &QAction::changed, this, [this] { ActionChanged(); });
    ActionChanged();
  }
}

void TFxCustomGlowButton::ActionChanged() {
  if (!action_) return;
  SetCaption(action_->text());
  setEnabled(action_->isEnabled());
  setVisible(action_->isVisible());
  SetHint(action_->toolTip());
  if (action_->isCheckable()) {
    // A checkable action drives the button's down state.
    if (style_ == bsButton && groupIndex_ == 0) style_ = bsCheck;
    if (action_->isChecked() != down_) SetDown(action_->isChecked());
  }
}

void TFxCustomGlowButton::HookWindow() {
  QWidget* w = window();
  if (w == hookedWindow_) return;
  if (hookedWindow_) hookedWindow_->removeEventFilter(this);
  hookedWindow_ = w;
  // Only keys nobody else took reach the window: those are the dialog keys.
  if (w && w != this) w->installEventFilter(this);
  if (!focusConnection_)
    focusConnection_ = QObject::connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
      if (auto* glow = dynamic_cast<TFxCustomGlowButton*>(now))
        defaultActive_ = glow == this;
      else
        defaultActive_ = default_;
    });
}

void TFxCustomGlowButton::SetDefault(bool value) {
  default_ = value;
  defaultActive_ = value;
  HookWindow();
}

void TFxCustomGlowButton::SetCancel(bool value) {
  cancel_ = value;
  HookWindow();
}

bool TFxCustomGlowButton::DialogChar(QChar ch) {
  QString text = caption_.isEmpty() && action_ ? action_->text() : caption_;
  if (!isEnabled() || !isVisible()) return false;
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    if (text[i + 1].toUpper() != ch.toUpper()) return false;
    if (ForceDropDown() || dropDownMenu_)
      DoDropDown();
    else
      Click();
    return true;
  }
  return false;
}

bool TFxCustomGlowButton::eventFilter(QObject* watched, QEvent* event) {
  if (watched == hookedWindow_ && event->type() == QEvent::KeyPress && isEnabled() && isVisible()) {
    auto* key = static_cast<QKeyEvent*>(event);
    bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (plain && ((enter && defaultActive_) || (key->key() == Qt::Key_Escape && cancel_))) {
      DoClickAction();
      state_ = rsUp;
      Repaint();
      return true;
    }
    if ((key->modifiers() & Qt::AltModifier) && !key->text().isEmpty() && DialogChar(key->text().at(0))) return true;
  }
  return QWidget::eventFilter(watched, event);
}

bool TFxCustomGlowButton::event(QEvent* e) {
  if (e->type() == QEvent::ParentChange && (default_ || cancel_)) HookWindow();
  return QWidget::event(e);
}

void TFxCustomGlowButton::ShowShortCutHint() {
  if (!hintWindow_) {
    hintWindow_ = new TShortCutHintWindow(this);
    hintWindow_->Color = 0xFFFFFF;
    hintWindow_->ColorTo = appearance_->GetColor();
  }
  hintWindow_->SetCaption(ShortCutHint);
  hintWindow_->move(mapToGlobal(QPoint((width() - hintWindow_->width()) / 2, -hintWindow_->height() / 2)));
  hintWindow_->show();
}

void TFxCustomGlowButton::HideShortCutHint() {
  if (hintWindow_) hintWindow_->hide();
}

void TFxCustomGlowButton::SetComponentStyle(int style) {
  struct Scheme {
    TColor color, colorTo, mirror, mirrorTo, border;
  };
  static const Scheme schemes[10] = {
      {0xEEDBC8, 0xF6DDC9, 0xEDD4C0, 0xF7E1D0, 0xE0B99B}, {0xE6E9E2, 0xE6D8D8, 0xE6E9E2, 0xC8B2B3, 0x927476},
      {0xCFF0EA, 0xCFF0EA, 0xCFF0EA, 0x8CC0B1, 0x8CC0B1}, {0xFFFFFF, 0xC9D1D5, 0xFFFFFF, 0xC9D1D5, 0x000000},
      {0xEEDBC8, 0xF6DDC9, 0xEDD4C0, 0xF7E1D0, 0xE0B99B}, {0xDFDED6, 0xE4E2DB, 0xD7D5CE, 0xE7E5E0, 0xC0BCB2},
      {0xFFFFFF, 0xB9D8DC, 0xB9D8DC, 0xB9D8DC, 0xB9D8DC}, {0xFFFFFF, 0xDFEDF0, 0xDFEDF0, 0xDFEDF0, 0x99A8AC},
      {0, 0, 0, 0, 0},                                    {0xF3F3F1, 0xF5F5F3, 0xEEEAE7, 0xF8F7F6, 0xCCCAC9}};
  TGlowButtonAppearance& a = *appearance_;
  if (style >= 0 && style <= 9 && style != 8) {
    const Scheme& s = schemes[style];
    a.SetColor(s.color), a.SetColorTo(s.colorTo), a.SetColorMirror(s.mirror), a.SetColorMirrorTo(s.mirrorTo);
    a.SetBorderColor(s.border), a.SetGradient(ggVertical), a.SetGradientMirror(ggVertical);
    if (style == 6) {
      for (auto set : {&TGlowButtonAppearance::SetColorHot, &TGlowButtonAppearance::SetColorHotTo,
                       &TGlowButtonAppearance::SetColorMirrorHot, &TGlowButtonAppearance::SetColorMirrorHotTo})
        (a.*set)(0xEFD3C6);
      for (auto set : {&TGlowButtonAppearance::SetColorDown, &TGlowButtonAppearance::SetColorDownTo,
                       &TGlowButtonAppearance::SetColorMirrorDown, &TGlowButtonAppearance::SetColorMirrorDownTo})
        (a.*set)(0xB59284);
      for (auto set :
           {&TGlowButtonAppearance::SetColorChecked, &TGlowButtonAppearance::SetColorCheckedTo,
            &TGlowButtonAppearance::SetColorMirrorChecked, &TGlowButtonAppearance::SetColorMirrorCheckedTo})
        (a.*set)(0xB9D8DC);
      a.SetBorderColorHot(clHighlight), a.SetBorderColorDown(clHighlight), a.SetBorderColorChecked(0x000000);
    } else {
      a.SetColorHot(0xEBFDFF), a.SetColorHotTo(0xACECFF), a.SetColorMirrorHot(0x59DAFF);
      a.SetColorMirrorHotTo(0xA4E9FF), a.SetBorderColorHot(0x99CEDB), a.SetColorDown(0x76AFF1);
      a.SetColorDownTo(0x4190F3), a.SetColorMirrorDown(0x0E72F1), a.SetColorMirrorDownTo(0x4C9FFD);
      a.SetBorderColorDown(0x45667B), a.SetColorChecked(0xB5DBFB), a.SetColorCheckedTo(0x78C7FE);
      a.SetColorMirrorChecked(0x9FEBFD), a.SetColorMirrorCheckedTo(0x56B4FE);
      if (style == 4 || style == 5 || style == 9) a.SetBorderColorChecked(0x45667B);
    }
    a.SetGradientHot(ggVertical), a.SetGradientMirrorHot(ggVertical), a.SetGradientDown(ggVertical);
    a.SetGradientMirrorDown(ggVertical), a.SetGradientChecked(ggVertical), a.SetGradientMirrorChecked(ggVertical);
  }
  Repaint();
  if (hintWindow_) {
    hintWindow_->Color = 0xFFFFFF;
    hintWindow_->ColorTo = a.GetColor();
    hintWindow_->update();
  }
}

void TFxCustomGlowButton::PaintParentBackground(QImage& canvas) {
  QWidget* parent = parentWidget();
  if (!parent) return;
  // The parent's own background (not its other children) under the button.
  QImage under(canvas.size(), QImage::Format_ARGB32_Premultiplied);
  under.fill(parent->palette().color(parent->backgroundRole()).rgb());
  parent->render(&under, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
  QPainter p(&canvas);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, under);
}

