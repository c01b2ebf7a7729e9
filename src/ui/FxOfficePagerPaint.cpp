// Painting of the pager (strip background, tabs in their state colours, the
// button-area frame) and of the page bodies. Everything goes into one QImage
// back buffer first; pages read their corner colours back from it.
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include "ui/FxOfficePager.h"

namespace {
QColor Q(TColor c) {
  TColor rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}
TColor FromQ(QRgb c) { return qRed(c) | (qGreen(c) << 8) | (qBlue(c) << 16); }
int R(const QRect& r) { return r.left() + r.width(); }
int B(const QRect& r) { return r.top() + r.height(); }

// GDI-style lines: from the first point up to, not including, the second.
void Line(QPainter& p, TColor color, int x1, int y1, int x2, int y2) {
  if (color == clNone) return;
  p.setPen(Q(color));
  if (x1 == x2 && y1 == y2) return;
  int dx = (x2 > x1) - (x2 < x1), dy = (y2 > y1) - (y2 < y1);
  p.drawLine(x1, y1, x2 - dx, y2 - dy);
}

QRgb PixelAt(const QImage& img, int x, int y, QRgb fallback) {
  return img.valid(x, y) ? img.pixel(x, y) : fallback;
}

}  // namespace

struct TFxOfficePager::TTabColors {
  TVistaColors face{clNone, clNone, clNone, clNone, clNone, ggRadial, ggRadial};
  TColor text = clBlack, highLight = clNone;
  bool faceDrawn = true, focused = false;
};

QImage TFxOfficePager::RenderPager() {
  QImage canvas(std::max(1, width()), std::max(1, height()), QImage::Format_ARGB32_Premultiplied);
  QWidget* host = parentWidget() ? parentWidget() : this;
  canvas.fill(host->palette().color(QPalette::Window).rgb());
  DrawAllTabs(canvas);
  if (scroller_.Visible || buttonSettings_->GetPageListButton() ||
      (buttonSettings_->GetCloseButton() && !closeOnTab_)) {
    TColor border = CurrentStyler()->PageAppearance().GetBorderColor();
    if (border != clNone) {
      QPainter p(&canvas);
      p.setPen(Q(border));
      p.setBrush(Qt::NoBrush);
      QRect b = GetButtonsRect();
      p.drawRoundedRect(QRectF(b.left(), b.top(), b.width() - 1, b.height() - 1), 2.5, 2.5);
    }
  }
  backBuffer_ = canvas;
  return canvas;
}

void TFxOfficePager::paintEvent(QPaintEvent*) {
  QImage canvas = RenderPager();
  QPainter(this).drawImage(0, 0, canvas);
  // Page corners follow the freshly painted background.
  if (auto* active = GetActivePage()) active->update();
}

void TFxOfficePager::DrawAllTabs(QImage& canvas) {
  QRect strip = GetTabsRect();
  switch (tabPosition_) {
    case tpTop: strip.setBottom(height() - 1); break;
    case tpBottom: strip.setTop(0); break;
    case tpLeft: strip.setRight(width() - 1); break;
    case tpRight: strip.setLeft(0); break;
  }
  const TGradientBackground& bg = CurrentStyler()->TabAppearance().BackGround();
  if (bg.GetColor() != clNone && bg.GetColorTo() != clNone) {
    DrawGradient(canvas, bg.GetColor(), bg.GetColorTo(), bg.GetDirection() == gdHorizontal, strip, bg.GetSteps());
  } else if (bg.GetColor() != clNone) {
    QPainter(&canvas).fillRect(strip, Q(bg.GetColor()));
  }
  if (scroller_.Visible || buttonSettings_->GetPageListButton() ||
      (buttonSettings_->GetCloseButton() && !closeOnTab_))
    buttonAreaBackground_ = canvas.copy(GetButtonsRect());
  else
    buttonAreaBackground_ = QImage();
  for (int i = 0; i < pages_.Count(); ++i) DrawTab(canvas, i);
}

void TFxOfficePager::DrawTab(QImage& canvas, int i) {
  if (i < 0 || i >= pages_.Count() || tabSettings_->GetHeight() <= 0) return;
  const QRect tr = GetTabRect(i);
  if (tr.left() < 0 && R(tr) < 0) return;
  TFxOfficePage* page = pages_.Get(i);
  const TTabColors c = TabColorsOf(i);
  if (c.faceDrawn && c.face.Color != clNone) DrawTabFace(canvas, i, tr, c);
  if (page->GetShowCheckBox()) DrawTabCheckBox(canvas, i);
  if (OnDrawTab) {
    OnDrawTab(this, i, tr, canvas);
  } else {
    QRect content = TabContentRect(i, tr);
    DrawTabPicture(canvas, page, content);
    DrawTabCaption(canvas, i, content, c.text);
  }
  KeepButtonAreaClear(canvas, tr);
  // The active tab lies over its neighbours.
  if (i != activeIndex_ && ActiveNeighbourSide(i) != 0) DrawTab(canvas, activeIndex_);
}

// The face, border, text and highlight colours of a tab in its state:
// selected, hot, normal, hidden or disabled, fading while it glows, and
// the hot look for the focused selected tab.
TFxOfficePager::TTabColors TFxOfficePager::TabColorsOf(int i) {
  TFxOfficePage* page = pages_.Get(i);
  const TTabAppearance& a = AppearanceOf(page);
  const TGradientBackground& bg = CurrentStyler()->TabAppearance().BackGround();
  const bool active = i == activeIndex_, hot = i == hotIndex_, pressed = i == pressedIndex_;
  const bool glowing = page->GlowTimerRunning();
  const int hover = page->HoverGlow(), click = page->ClickGlow();
  TTabColors c;
  c.highLight = a.GetHighLightColor();
  auto set = [&](TColor c1, TColor c2, TColor c3, TColor c4, TColor border) {
    c.face.Color = c1, c.face.ColorTo = c2, c.face.ColorMirror = c3, c.face.ColorMirrorTo = c4;
    c.face.BorderColor = border;
  };
  auto blend = [&](int p, TColor x1, TColor x2, TColor x3, TColor x4, TColor xb, TColor y1, TColor y2, TColor y3,
                   TColor y4, TColor yb) {
    auto b = [p](TColor x, TColor y) { return x == clNone || y == clNone ? (p >= 50 ? x : y) : BlendColor(x, y, p); };
    set(b(x1, y1), b(x2, y2), b(x3, y3), b(x4, y4), b(xb, yb));
  };
  const TColor fadeBase = bg.GetColor();
  const TColor fadeBaseTo = bg.GetColorTo() != clNone ? bg.GetColorTo() : bg.GetColor();
  if (page->GetTabEnabled() || !showNonSelectedTabs_) {
    if (active) {
      set(a.GetColorSelected(), a.GetColorSelectedTo(), a.GetColorMirrorSelected(), a.GetColorMirrorSelectedTo(),
          a.GetBorderColorSelected());
      if (hot) c.face.BorderColor = a.GetBorderColorSelectedHot();
      if (glowing && page->GlowMode() == 1)
        blend(click, a.GetColorSelected(), a.GetColorSelectedTo(), a.GetColorMirrorSelected(),
              a.GetColorMirrorSelectedTo(), hot ? a.GetBorderColorHot() : a.GetBorderColorSelected(), a.GetColorHot(),
              a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(), a.GetBorderColorHot());
      else if (glowing && page->GlowMode() == 0 && a.GetBorderColorSelectedHot() != clNone &&
               a.GetBorderColorSelected() != clNone)
        c.face.BorderColor = BlendColor(a.GetBorderColorSelectedHot(), a.GetBorderColorSelected(), hover);
      if (pressed && a.GetBorderColorDown() != clNone) c.face.BorderColor = a.GetBorderColorDown();
      c.face.Gradient = a.GetGradientSelected(), c.face.GradientMirror = a.GetGradientMirrorSelected();
      c.text = a.GetTextColorSelected();
      c.highLight = pressed ? a.GetHighLightColorDown() : hot ? a.GetHighLightColorSelectedHot() : a.GetHighLightColor();
    } else if (hot) {
      set(a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(), a.GetBorderColorHot());
      if (glowing && page->GlowMode() == 0) {
        if (showNonSelectedTabs_)
          blend(hover, a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(),
                a.GetBorderColorHot(), a.GetColor(), a.GetColorTo(), a.GetColorMirror(), a.GetColorMirrorTo(),
                a.GetBorderColor());
        else
          blend(hover, a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(),
                a.GetBorderColorHot(), fadeBase, fadeBaseTo, fadeBase, fadeBaseTo, clNone);
      }
      c.face.Gradient = a.GetGradientHot(), c.face.GradientMirror = a.GetGradientMirrorHot();
      c.text = a.GetTextColorHot();
      c.highLight = a.GetHighLightColorHot();
    } else if (showNonSelectedTabs_) {
      set(a.GetColor(), a.GetColorTo(), a.GetColorMirror(), a.GetColorMirrorTo(), a.GetBorderColor());
      if (glowing && page->GlowMode() == 0)
        blend(hover, a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(),
              a.GetBorderColorHot(), a.GetColor(), a.GetColorTo(), a.GetColorMirror(), a.GetColorMirrorTo(),
              a.GetBorderColor());
      c.face.Gradient = a.GetGradient(), c.face.GradientMirror = a.GetGradientMirror();
      c.text = a.GetTextColor();
    } else {
      c.faceDrawn = false;
      if (glowing && page->GlowMode() == 0) {
        blend(hover, a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(),
              a.GetBorderColorHot(), fadeBase, fadeBaseTo, fadeBase, fadeBaseTo, clNone);
        c.faceDrawn = true;
      }
      c.face.Gradient = a.GetGradientHot(), c.face.GradientMirror = a.GetGradientMirrorHot();
      c.text = page->GetTabEnabled() ? a.GetTextColor() : a.GetTextColorDisabled();
    }
  } else {
    set(a.GetColorDisabled(), a.GetColorDisabledTo(), a.GetColorMirrorDisabled(), a.GetColorMirrorDisabledTo(),
        a.GetBorderColorDisabled());
    c.face.Gradient = a.GetGradientDisabled(), c.face.GradientMirror = a.GetGradientMirrorDisabled();
    c.text = a.GetTextColorDisabled();
  }
  if (hasFocus() && active) {
    set(a.GetColorHot(), a.GetColorHotTo(), a.GetColorMirrorHot(), a.GetColorMirrorHotTo(),
        a.GetBorderColorSelectedHot());
    c.face.Gradient = a.GetGradientHot(), c.face.GradientMirror = a.GetGradientMirrorHot();
    c.text = a.GetTextColorHot();
    c.highLight = a.GetHighLightColorSelected();
    c.focused = true;
  }

  return c;
}

// The tab's background: a glassy gradient with light, shadow and highlight
// lines for rounded tabs, the tab shape otherwise.
void TFxOfficePager::DrawTabFace(QImage& canvas, int i, const QRect& tr, const TTabColors& c) {
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  TTabPosition facePos = tabPosition_;
  bool rotated = true;
  TFxTabShape shape = tabSettings_->GetShape();
  if (side && !rotateTabLeftRight_) facePos = tpTop, rotated = false, shape = tsRectangle;
  if (IsRoundedTabs()) {
    DrawVistaGradient(canvas, tr, c.face, facePos, rotated, true);
    DrawRoundedTabDetails(canvas, i, tr, c);
    return;
  }
  QRect shrunk = tr;
  switch (tabPosition_) {
    case tpTop: shrunk.setBottom(shrunk.bottom() - 3); break;
    case tpBottom: shrunk.setTop(shrunk.top() + 2); break;
    case tpLeft: shrunk.setRight(shrunk.right() - 3); break;
    case tpRight: shrunk.setLeft(shrunk.left() + 2); break;
  }
  DrawTabBackground(canvas, shrunk, c.face, facePos, rotated, tabSettings_->GetRounding(), shape);
}

// Light, shadow and highlight details of a rounded tab, and its corners
// given the colours around them.
void TFxOfficePager::DrawRoundedTabDetails(QImage& canvas, int i, const QRect& tr, const TTabColors& c) {
  TFxOfficePage* page = pages_.Get(i);
  const TTabAppearance& a = AppearanceOf(page);
  const TGradientBackground& bg = CurrentStyler()->TabAppearance().BackGround();
  const bool glowing = page->GlowTimerRunning();
  const int L = tr.left(), T = tr.top(), Rr = R(tr), Bb = B(tr);
  QPainter p(&canvas);
  QRgb outside = canvas.pixel(std::max(0, std::min(canvas.width() - 1, L)), 0);
  auto px = [&](int x, int y) { return FromQ(PixelAt(canvas, x, y, outside)); };
  auto put = [&](int x, int y, TColor col) {
    if (canvas.valid(x, y)) {
      p.setPen(Q(col));
      p.drawPoint(x, y);
    }
  };
  const bool fading = glowing && page->GlowMode() == 0;
  const TColor light = BlendColor(0xFFFFFF, c.face.Color, c.focused || fading ? 20 : 50);
  const TColor shadow = a.GetShadowColor();
  const TColor shadow2 = shadow != clNone && bg.GetColor() != clNone ? BlendColor(shadow, bg.GetColor(), 40) : clNone;
  const TColor edge = c.face.BorderColor != clNone ? BlendColor(c.face.Color, c.face.BorderColor, 80) : clNone;
  switch (tabPosition_) {
    case tpTop: {
      TColor c1 = px(L - 1, T - 1), c2 = px(L + 1, T - 1), c3 = px(L - 1, T), c4 = px(Rr + 1, T);
      put(L, T, c1), put(L + 1, T, c2), put(L, T + 1, c3);
      put(Rr - 1, T, c4), put(Rr - 2, T, c4), put(Rr - 1, T + 1, c4);
      Line(p, light, L + 3, T + 3, Rr - 3, T + 3);
      if (shadow != clNone) {
        Line(p, shadow, Rr, T + 3, Rr, Bb - 4);
        Line(p, shadow2, Rr + 1, T + 4, Rr + 1, Bb - 4);
      }
      if (c.highLight != clNone) {
        Line(p, edge, L + 3, T + 1, Rr - 3, T + 1);
        Line(p, c.highLight, L + 1, T + 3, L + 1, Bb - 5);
        Line(p, c.highLight, Rr - 2, T + 3, Rr - 2, Bb - 5);
      }
      break;
    }
    case tpBottom: {
      TColor c1 = px(L - 1, Bb - 1), c4 = px(Rr + 1, Bb);
      put(L, Bb - 2, c1), put(L + 1, Bb - 1, c1), put(L, Bb - 1, c1);
      put(Rr - 1, Bb - 1, c4), put(Rr - 2, Bb - 1, c4), put(Rr - 1, Bb - 2, c4);
      Line(p, light, L + 3, Bb - 3, Rr - 3, Bb - 3);
      if (shadow != clNone) {
        Line(p, shadow, Rr, T + 4, Rr, Bb - 2);
        Line(p, shadow2, Rr + 1, T + 4, Rr + 1, Bb - 3);
      }
      if (c.highLight != clNone) {
        Line(p, edge, L + 3, Bb - 2, Rr - 3, Bb - 2);
        Line(p, c.highLight, L + 1, Bb - 3, L + 1, T + 5);
        Line(p, c.highLight, Rr - 2, Bb - 3, Rr - 2, T + 5);
      }
      break;
    }
    case tpLeft: {
      TColor c1 = px(L - 1, T - 1), c2 = px(L + 1, T - 1), c3 = px(L - 1, T), c4 = px(L - 1, Bb);
      put(L, T, c1), put(L + 1, T, c2), put(L, T + 1, c3);
      put(L, Bb - 1, c4), put(L + 1, Bb - 1, c4), put(L, Bb - 2, c4);
      if (rotateTabLeftRight_)
        Line(p, light, L + 3, T + 3, L + 3, Bb - 3);
      else
        Line(p, light, L + 3, T + 3, Rr - 5, T + 3);
      if (shadow != clNone) {
        if (rotateTabLeftRight_) {
          Line(p, shadow, L + 3, T - 1, Rr, T - 1);
          Line(p, shadow2, L + 4, T - 2, Rr, T - 2);
        } else {
          Line(p, shadow, L + 3, Bb, Rr, Bb);
          Line(p, shadow2, L + 4, Bb + 1, Rr, Bb + 1);
        }
      }
      if (c.highLight != clNone) {
        Line(p, edge, L + 1, T + 3, L + 1, Bb - 3);
        Line(p, c.highLight, L + 3, T + 1, Rr - 5, T + 1);
        Line(p, c.highLight, L + 3, Bb - 2, Rr - 5, Bb - 2);
      }
      break;
    }
    case tpRight: {
      TColor c1 = px(Rr + 1, T - 1), c3 = px(Rr + 1, T), c4 = px(Rr + 1, Bb);
      put(Rr, T, c1), put(Rr - 1, T, c1), put(Rr, T + 1, c3);
      put(Rr, Bb - 1, c4), put(Rr - 1, Bb - 1, c4), put(Rr, Bb - 2, c4);
      if (rotateTabLeftRight_)
        Line(p, light, Rr - 3, T + 3, Rr - 3, Bb - 3);
      else
        Line(p, light, L + 5, T + 3, Rr - 3, T + 3);
      if (shadow != clNone) {
        Line(p, shadow, L + 3, Bb, Rr - 3, Bb);
        Line(p, shadow2, L + 4, Bb + 1, Rr - 4, Bb + 1);
      }
      if (c.highLight != clNone) {
        Line(p, edge, Rr - 2, T + 3, Rr - 2, Bb - 3);
        Line(p, c.highLight, L + 5, T + 1, Rr - 3, T + 1);
        Line(p, c.highLight, L + 5, Bb - 2, Rr - 3, Bb - 2);
      }
      break;
    }
  }
}

void TFxOfficePager::DrawTabCheckBox(QImage& canvas, int i) {
  TFxOfficePage* page = pages_.Get(i);
  // No visual-style library here: the platform style draws the box.
  QRect box = GetCheckBoxRect(i);
  QStyleOptionButton option;
  option.rect = box;
  option.state = (page->GetChecked() ? QStyle::State_On : QStyle::State_Off) |
                 (page->GetTabEnabled() ? QStyle::State_Enabled : QStyle::State_None);
  QPainter p(&canvas);
  style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &p, this);
}

// What is left of the tab for the picture and the caption after the
// margins, the check box and the close button.
QRect TFxOfficePager::TabContentRect(int i, const QRect& tr) {
  TFxOfficePage* page = pages_.Get(i);
  const bool active = i == activeIndex_;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const bool rounded = IsRoundedTabs();
  QRect content = tr;
  if (!rounded) {
    int extra = GetLeftShapeExtra();
    if (!side) content.setLeft(content.left() + extra);
  }
  const bool closeShown = closeOnTab_ && buttonSettings_->GetCloseButton() && page->GetShowClose() &&
                          (showCloseOnNonSelectedTabs_ || active);
  if (!side || !rotateTabLeftRight_) {
    content.setLeft(content.left() + tabSettings_->GetLeftMargin());
    if (closeShown && closeOnTabPosition_ == cpLeft && tabSettings_->GetAlignment() != taCenter)
      content.setLeft(content.left() + 22);
    if (page->GetShowCheckBox()) content.setLeft(content.left() + 20);
    if (closeShown && closeOnTabPosition_ == cpRight) content.setRight(content.right() - 22);
  } else if (tabPosition_ == tpLeft) {
    content.setBottom(content.bottom() - tabSettings_->GetLeftMargin() - (closeShown ? 22 : 0) -
                      (page->GetShowCheckBox() ? 25 : 0));
  } else {
    content.setTop(content.top() + tabSettings_->GetLeftMargin() + (closeShown ? 22 : 0) +
                   (page->GetShowCheckBox() ? 20 : 0));
  }
  return content;
}

// The tab's picture, or its image-list image when it has none; content
// gives up the room the picture takes.
void TFxOfficePager::DrawTabPicture(QImage& canvas, TFxOfficePage* page, QRect& content) {
  TFxPicture* pic = !page->GetTabEnabled() && !page->DisabledPicture().GetEmpty() ? &page->DisabledPicture()
                                                                                   : &page->Picture();
  // An image-list image when the tab has no picture.
  TCustomImageList* list = nullptr;
  bool listEnabled = page->GetTabEnabled();
  const bool hasPicture = !pic->GetEmpty() && pic->MeasureImage();
  if (!hasPicture && (images_ || disabledImages_) && page->GetImageIndex() >= 0) {
    if (page->GetTabEnabled())
      list = images_;
    else if (disabledImages_)
      list = disabledImages_, listEnabled = true;
    else
      list = images_;
  }
  if (hasPicture || list) {
    const int w = hasPicture ? pic->GetWidth() : list->Width(), h = hasPicture ? pic->GetHeight() : list->Height();
    int x = content.left(), y = content.top() + (content.height() - h) / 2;
    switch (tabSettings_->GetImagePosition()) {
      case ipLeft: content.setLeft(content.left() + w + 2); break;
      case ipRight:
        x = R(content) - w - tabSettings_->GetRightMargin();
        content.setRight(x - 2 - 1);
        break;
      case ipTop:
        x = content.left() + (content.width() - w) / 2, y = content.top();
        content.setTop(content.top() + h);
        break;
      case ipBottom:
        x = content.left() + (content.width() - w) / 2, y = B(content) - h;
        content.setBottom(content.bottom() - h);
        break;
    }
    if (hasPicture)
      pic->Draw(canvas, QRect(x, y, w, h));
    else
      list->Draw(canvas, x, y, page->GetImageIndex(), listEnabled);
  }
}

void TFxOfficePager::DrawTabCaption(QImage& canvas, int i, QRect content, TColor textColor) {
  TFxOfficePage* page = pages_.Get(i);
  const TTabAppearance& a = AppearanceOf(page);
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const QString caption = page->TabCaption();
  if (caption.isEmpty()) return;
  QFont font = a.GetFont();
  const bool rotatedText = side && rotateTabLeftRight_;
  if (!rotatedText) {
    int alignment = 0;
    if (tabSettings_->GetWidth() != 0) {
      if (tabSettings_->GetAlignment() == taRightJustify) alignment = 1;
      if (tabSettings_->GetAlignment() == taCenter) {
        QRect cr, ir, txt;
        GetTabContentRects(i, cr, ir, txt);
        if (txt.isValid()) content.setLeft(txt.left());
      }
    } else if (tabSettings_->GetImagePosition() == ipTop || tabSettings_->GetImagePosition() == ipBottom) {
      alignment = 2;
    }
    const bool ellipsis = tabSettings_->GetWidth() >= 1 && !tabSettings_->GetWordWrap();
    QString text = GetTruncatedCaptionW(caption, content, antiAlias_ != aaNone, tabSettings_->GetWordWrap(),
                                        tpTop, ellipsis, font);
    QRect layout = content;
    layout.setRight(layout.right() + 10);
    QRect drawn;
    DrawCaption(canvas, alignment, layout, drawn, tabSettings_->GetWordWrap(), false, tpTop, antiAlias_, true,
                page->GetTabEnabled() || !showNonSelectedTabs_, font, textColor, text);
  } else {
    // Text along the strip: turned a quarter.
    QString text = GetTruncatedCaptionW(caption, content, false, tabSettings_->GetWordWrap(), tabPosition_,
                                        tabSettings_->GetWidth() >= 1 && !tabSettings_->GetWordWrap(), font);
    QPainter p(&canvas);
    p.setFont(font);
    p.setPen(Q(textColor));
    const int g = QFontMetrics(font).height();
    if (tabPosition_ == tpRight) {
      p.translate(R(content) - (content.width() - g) / 2, content.top());
      p.rotate(90);
    } else {
      p.translate(content.left() + (content.width() - g) / 2, B(content));
      p.rotate(-90);
    }
    p.drawText(QRect(0, 0, std::max(1, content.height()), g), Qt::AlignLeft | Qt::AlignVCenter, text);
  }
}

// The buttons' background stays clear of tabs that reach under them.
void TFxOfficePager::KeepButtonAreaClear(QImage& canvas, const QRect& tr) {
  if (buttonAreaBackground_.isNull()) return;
  const QRect b = GetButtonsRect();
  const QRect overlap = b.intersected(tr);
  if (overlap.isEmpty()) return;
  QPainter p(&canvas);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(overlap.topLeft(), buttonAreaBackground_, overlap.translated(-b.topLeft()));
}

// ---- page body

void TFxOfficePage::paintEvent(QPaintEvent*) {
  if (!pager_) return;
  TCustomFxOfficePagerStyler* styler = pager_->CurrentStyler();
  if (!styler) return;
  const TVistaBackground& a = usePageAppearance_ ? *pageAppearance_ : styler->PageAppearance();
  QImage canvas(std::max(1, width()), std::max(1, height()), QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Q(a.GetColor()).rgb());
  const bool roundedCorners = styler->GetRoundedCorners();
  TVistaColors colors{a.GetColor(),       a.GetColorTo(),  a.GetColorMirror(),       a.GetColorMirrorTo(),
                      a.GetBorderColor(), a.GetGradient(), a.GetGradientMirror()};
  const TTabPosition pos = pager_->GetTabPosition();
  DrawVistaGradient(canvas, canvas.rect(), colors, pos, true, roundedCorners);
  const int L = 0, T = 0, Rr = width(), Bb = height(), c = roundedCorners ? 3 : 2;
  QPainter p(&canvas);
  if (a.GetBorderColor() != clNone) {
    const TColor pen = BlendColor(0xFFFFFF, a.GetBorderColor(), styler->BorderBlend);
    switch (pos) {
      case tpTop:
        Line(p, pen, L + 1, T + c, L + 1, Bb - 2), Line(p, pen, Rr - 2, T + c, Rr - 2, Bb - 2);
        Line(p, pen, L + 3, Bb - 2, Rr - 2, Bb - 2);
        break;
      case tpBottom:
        Line(p, pen, L + 1, T + 2, L + 1, Bb - c), Line(p, pen, Rr - 2, T + 2, Rr - 2, Bb - c);
        Line(p, pen, L + 3, T + 1, Rr - 2, T + 1);
        break;
      case tpLeft:
        Line(p, pen, L + c, T + 1, Rr - 2, T + 1), Line(p, pen, L + c, Bb - 2, Rr - 2, Bb - 2);
        Line(p, pen, Rr - 2, T + 3, Rr - 2, Bb - 2);
        break;
      case tpRight:
        Line(p, pen, L + 2, T + 1, Rr - c, T + 1), Line(p, pen, L + 2, Bb - 2, Rr - c, Bb - 2);
        Line(p, pen, L + 1, T + 3, L + 1, Bb - 2);
        break;
    }
  }
  // Open the edge under the active tab.
  if (pager_->GetActivePage() == this && pager_->TabSettings().GetHeight() > 0) {
    const QRect tab = pager_->GetPageTabRect(this);
    const QRect buttons = pager_->GetButtonsRect();
    const int m = pager_->GetPageMargin();
    if (tab.left() >= 0) {
      int start, end;
      const bool side = pos == tpLeft || pos == tpRight;
      if (!side) {
        start = tab.left() - m, end = std::min(R(tab) - m, buttons.left());
      } else {
        start = tab.top() - m, end = std::min(B(tab) - m, buttons.top());
      }
      if (!pager_->IsRoundedTabs()) {
        const int r = pager_->TabSettings().GetRounding() / 2;
        switch (pager_->TabSettings().GetShape()) {
          case tsRectangle: start += 1; break;
          case tsLeftRamp: start += r / 2 + 2; break;
          case tsRightRamp: start += 1, end -= r / 2 + 1; break;
          case tsLeftRightRamp: start += r / 2 + 2, end -= r / 2 + 1; break;
        }
      }
      switch (pos) {
        case tpTop: Line(p, a.GetColor(), start, 0, end, 0); break;
        case tpBottom: Line(p, a.GetColor(), start, Bb - 1, end, Bb - 1); break;
        case tpLeft: Line(p, a.GetColor(), 0, start - 1, 0, end - 1); break;
        case tpRight: Line(p, a.GetColor(), Rr - 1, start - 1, Rr - 1, end - 1); break;
      }
    }
  }
  // Corners take the pager's colours just outside the page, so they look
  // rounded against its background.
  const QImage& back = pager_->BackBuffer();
  if (roundedCorners && pager_->GetPageMargin() > 0 && !back.isNull()) {
    const int x = geometry().x(), y = geometry().y(), w = width(), h = height();
    auto copy = [&](int tx, int ty, int sx, int sy) {
      if (back.valid(sx, sy)) canvas.setPixel(tx, ty, back.pixel(sx, sy));
    };
    p.end();
    copy(L, T, x - 1, y - 1), copy(L + 1, T, x + 1, y - 1), copy(L, T + 1, x - 1, y);
    copy(L, Bb - 1, x - 1, y + h), copy(L + 1, Bb - 1, x - 1, y + h), copy(L, Bb - 2, x - 1, y + h);
    copy(Rr - 1, T, x + w, y), copy(Rr - 2, T, x + w, y), copy(Rr - 1, T + 1, x + w, y);
    copy(Rr - 1, Bb - 1, x + w, y + h), copy(Rr - 2, Bb - 1, x + w, y + h), copy(Rr - 1, Bb - 2, x + w, y + h);
  }
  if (p.isActive()) p.end();
  bodyValid_ = true;
  QPainter(this).drawImage(0, 0, canvas);
}
