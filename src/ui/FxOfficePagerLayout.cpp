// Geometry of the pager: the strip, the tabs, the button area, the page body
// and the tab scroller.
#include "ui/FxOfficePager.h"

namespace {
const QRect kNone(QPoint(-1, -1), QPoint(-1, -1));
// Rectangles here are kept as left, top, right, bottom with the right and
// bottom edges exclusive, as the layout rules count them.
QRect Ltrb(int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r - 1, b - 1)); }
int R(const QRect& r) { return r.left() + r.width(); }
int B(const QRect& r) { return r.top() + r.height(); }
bool IsNone(const QRect& r) { return r.left() == -1 && r.top() == -1 && r.width() == 1 && r.height() == 1; }
}  // namespace

const TTabAppearance& TFxOfficePager::AppearanceOf(TFxOfficePage* page) const {
  if (page && page->GetUseTabAppearance()) return page->TabAppearance();
  return CurrentStyler()->TabAppearance();
}

QRect TFxOfficePager::GetTabsRect() const {
  const int h = tabSettings_->GetHeight();
  const int w = width(), ht = height();
  switch (tabPosition_) {
    case tpTop: return Ltrb(0, 0, w, h);
    case tpBottom: return Ltrb(0, ht - h, w, ht);
    case tpLeft: return Ltrb(0, 0, h, ht);
    case tpRight: return Ltrb(w - h, 0, w, ht);
  }
  return kNone;
}

QRect TFxOfficePager::GetButtonsRect() const {
  const int h = tabSettings_->GetHeight(), m = pageMargin_;
  const int n = 2 + (buttonSettings_->GetFirstButton() ? 1 : 0) + (buttonSettings_->GetLastButton() ? 1 : 0);
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const int e = (side ? height() : width()) - tabSettings_->GetEndMargin() - m;
  int farEnd = e - 3, nearEnd = e - 6;
  if (scroller_.Visible) nearEnd = e - 6 - 20 * n;
  if (buttonSettings_->GetPageListButton()) nearEnd -= 21;
  if (buttonSettings_->GetCloseButton() && !closeOnTab_) nearEnd -= 21;
  switch (tabPosition_) {
    case tpTop: return Ltrb(nearEnd, 4 + h - 26, farEnd, 4 + h);
    case tpBottom: return Ltrb(nearEnd, height() - h - 4, farEnd, height() - h - 4 + 26);
    case tpLeft: return Ltrb(4 + h - 26, nearEnd, 4 + h, farEnd);
    case tpRight: return Ltrb(width() - h - 4, nearEnd, width() - h - 4 + 26, farEnd);
  }
  return kNone;
}

QRect TFxOfficePager::GetTabsArea() const {
  const int h = tabSettings_->GetHeight(), start = tabSettings_->GetStartMargin() + pageMargin_;
  const QRect b = GetButtonsRect();
  switch (tabPosition_) {
    case tpTop: return Ltrb(start, 4, b.left(), 4 + h);
    case tpBottom: return Ltrb(start, height() - h - 4, b.left(), height() - 4);
    case tpLeft: return Ltrb(4, start, 4 + h, b.top());
    case tpRight: return Ltrb(width() - h - 4, start, width() - 4, b.top());
  }
  return kNone;
}

QRect TFxOfficePager::GetPageRect() const {
  const int m = pageMargin_, h = tabSettings_->GetHeight(), w = width(), ht = height();
  switch (tabPosition_) {
    case tpTop: return Ltrb(m, h, w - m, ht - (m + 1));
    case tpBottom: return Ltrb(m, m + 1, w - m, ht - h);
    case tpLeft: return Ltrb(h, m + 1, w - m, ht - (m + 1));
    case tpRight: return Ltrb(m, m + 1, w - h, ht - (m + 1));
  }
  return kNone;
}

void TFxOfficePager::SetPagePosition(TFxOfficePage* page) {
  if (pages_.IndexOf(page) >= 0) page->setGeometry(GetPageRect());
}

void TFxOfficePager::SetAllPagesPosition() {
  for (int i = 0; i < pages_.Count(); ++i) SetPagePosition(pages_.Get(i));
}

QRect TFxOfficePager::TextExtent(TFxOfficePage* page, bool side) const {
  // Measured once per caption, font and measuring setting: laying out n tabs
  // then costs n look-ups, not n measurements per tab.
  const QString text = page->TabCaption();
  const QFont& font = AppearanceOf(page).GetFont();
  auto& c = page->textCache_;
  if (c.valid && c.text == text && c.font == font && c.antiAlias == antiAlias_ &&
      c.wordWrap == tabSettings_->GetWordWrap() && c.side == side)
    return c.extent;
  QRect extent(0, 0, 0, 0);
  if (!text.isEmpty()) {
    if (side) {
      QRect r = QFontMetrics(font).boundingRect(QRect(0, 0, 1000, 100), Qt::TextSingleLine, text);
      extent = Ltrb(0, 0, r.width(), r.height());
    } else {
      QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
      QRect drawn;
      if (!DrawCaption(scratch, 0, QRect(0, 0, 1000, 100), drawn, tabSettings_->GetWordWrap(), false, tpTop,
                       antiAlias_, false, page->GetTabEnabled(), font, 0, text)) {
        // Measuring through GDI+ failed: fall back to the font's metrics.
        QRect r = QFontMetrics(font).boundingRect(text);
        drawn = QRect(0, 0, r.width(), r.height());
      }
      // The caption's right edge less the 5 the tab length adds back.
      extent = QRect(QPoint(0, 0), QPoint(R(drawn) - 5 - 1, B(drawn) - 1));
    }
  }
  c = {true, text, font, antiAlias_, tabSettings_->GetWordWrap(), side, extent};
  return extent;
}

QSize TFxOfficePager::GetTabImageSize(int index) const {
  if (index < 0 || index >= pages_.Count()) return {0, 0};
  TFxOfficePage* page = pages_.Get(index);
  TFxPicture* pic = !page->GetTabEnabled() && !page->DisabledPicture().GetEmpty() ? &page->DisabledPicture()
                                                                                   : &page->Picture();
  if (!pic->GetEmpty() && pic->MeasureImage()) return {pic->GetWidth(), pic->GetHeight()};
  if ((images_ || disabledImages_) && page->GetImageIndex() >= 0) {
    TCustomImageList* list = !page->GetTabEnabled() && disabledImages_ ? disabledImages_ : images_;
    if (list) return {list->Width(), list->Height()};
  }
  return {0, 0};
}

QSize TFxOfficePager::GetTabTextSize(int index) const {
  if (index < 0 || index >= pages_.Count()) return {0, 0};
  TFxOfficePage* page = pages_.Get(index);
  const QString text = page->TabCaption();
  if (text.isEmpty()) return {0, 0};
  QRect r = QFontMetrics(CurrentStyler()->TabAppearance().GetFont())
                .boundingRect(QRect(0, 0, 1000, 100), Qt::TextSingleLine, text);
  int w = r.width();
  if (antiAlias_ == aaNone || antiAlias_ == aaClearType)
    w += page->GetCaption().isEmpty() ? static_cast<int>(text.size()) : static_cast<int>(text.size()) / 3;
  return {w, r.height()};
}

int TFxOfficePager::TabLength(int index) const {
  TFxOfficePage* page = pages_.Get(index);
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const TPagerTabSettings& ts = *tabSettings_;
  if (ts.GetWidth() > 0) return ts.GetWidth();
  const QRect caption = TextExtent(page, side);
  const QSize image = GetTabImageSize(index);
  const bool closeOnThis = buttonSettings_->GetCloseButton() && closeOnTab_ && page->GetShowClose();
  const int extras = (closeOnThis ? 22 : 0) + (page->GetShowCheckBox() ? 20 : 0);
  if (!side) {
    int w = GetLeftShapeExtra() + ts.GetLeftMargin() + R(caption) + 5 + ts.GetRightMargin() + GetRightShapeExtra() + 3;
    if (ts.GetImagePosition() == ipLeft || ts.GetImagePosition() == ipRight)
      w += image.width() + (image.width() > 0 ? 2 : 0);
    return w + extras;
  }
  int w = ts.GetLeftMargin() + R(caption) + 5 + ts.GetRightMargin();
  int t = B(caption);
  if (ts.GetImagePosition() == ipTop || ts.GetImagePosition() == ipBottom) t += image.height() + 2;
  if (ts.GetImagePosition() == ipLeft || ts.GetImagePosition() == ipRight) {
    w += image.width() + 2;
    t = std::max(t, image.height());
  }
  t += 12;
  return rotateTabLeftRight_ ? w + GetLeftShapeExtra() + GetRightShapeExtra() + extras : t;
}

bool TFxOfficePager::LayoutTabs(int start, int index, QRect& result, bool useScroller) const {
  result = kNone;
  if (index < 0 || index >= pages_.Count() || !pages_.Get(index)->GetTabVisible() || start > index) return false;
  if (start < 0) start = 0;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  QRect area = GetTabsArea();
  int nearEdge = side ? area.top() : area.left();
  int farEdge = side ? B(area) : R(area);
  if (fullWidth_) farEdge = side ? height() : width();
  int k = 0;
  for (int i = start; i <= index; ++i) {
    if (!pages_.Get(i)->GetTabVisible()) continue;
    const bool skipped = useScroller && scroller_.Visible && k < scroller_.Position;
    if (!skipped) {
      const int L = TabLength(i);
      if (nearEdge + L > farEdge - pageMargin_) {
        if (!useScroller) return false;
        if (scroller_.Visible && i == index && scroller_.Position != index) return false;
      }
      if (i == index) {
        result = side ? Ltrb(area.left(), nearEdge, R(area), nearEdge + L)
                      : Ltrb(nearEdge, area.top(), nearEdge + L, B(area));
        return true;
      }
      nearEdge += L + tabSettings_->GetSpacing();
    }
    ++k;
  }
  return false;
}

QRect TFxOfficePager::GetTabRect(int index) const {
  QRect r;
  LayoutTabs(0, index, r, true);
  return r;
}

QRect TFxOfficePager::GetCheckBoxRect(int i) const {
  QRect t = GetTabRect(i);
  if (IsNone(t)) return kNone;
  QSize c(0, 0);
  if (closeOnTab_ && closeOnTabPosition_ == cpLeft && (showCloseOnNonSelectedTabs_ || i == activeIndex_)) {
    QRect cr = GetCloseButtonRect(i);
    if (!IsNone(cr)) c = cr.size();
  }
  switch (tabPosition_) {
    case tpTop:
    case tpBottom: return QRect(t.left() + c.width() + 5, t.top() + (t.height() - 15) / 2, 15, 15);
    case tpLeft: return QRect(t.left() + (t.width() - 15) / 2, B(t) - c.height() - 20, 15, 15);
    case tpRight: return QRect(t.left() + (t.width() - 15) / 2, t.top() + 5 + c.height(), 15, 15);
  }
  return kNone;
}

void TFxOfficePager::InvalidateTab(int index) {
  if (index < 0 || index >= pages_.Count()) {
    update(GetTabsRect());
    return;
  }
  QRect r = GetTabRect(index);
  update(IsNone(r) ? GetTabsRect() : r.adjusted(-2, -2, 2, 2));
}

int TFxOfficePager::ComputeScrollMax(bool& fitting) {
  fitting = false;
  int p = -1;
  for (int i = pages_.Count() - 1; i >= 0; --i)
    if (pages_.Get(i)->GetTabVisible()) {
      p = i;
      break;
    }
  if (p <= 0) return 0;
  QRect r;
  if (LayoutTabs(0, p, r, false) && r.left() >= 0 && r.right() >= 0) {
    fitting = true;
    return 0;
  }
  // Starting later than the first tab: the scroll buttons take room from
  // the tabs. The last tab fits from start s when the tabs from s to it fit
  // together, so walk back from it once instead of laying out from every s.
  scroller_.Visible = true;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const QRect area = GetTabsArea();
  const int nearEdge = side ? area.top() : area.left();
  const int farEdge = (fullWidth_ ? (side ? height() : width()) : (side ? B(area) : R(area))) - pageMargin_;
  int used = 0, firstFitting = -1;
  for (int i = p; i >= 1; --i) {
    if (!pages_.Get(i)->GetTabVisible()) continue;
    const int next = used + (used > 0 ? tabSettings_->GetSpacing() : 0) + TabLength(i);
    if (nearEdge + next > farEdge) break;
    used = next;
    firstFitting = i;
  }
  if (firstFitting < 0) return 0;
  fitting = true;
  int before = 0;
  for (int i = 0; i < firstFitting; ++i) before += pages_.Get(i)->GetTabVisible() ? 1 : 0;
  return before;
}

void TFxOfficePager::UpdateTabScroller() {
  fullWidth_ = false;
  if (!buttonSettings_->GetScrollButtonsAlways()) scroller_.Visible = false;
  scroller_.Min = 0;
  bool fitting = false;
  scroller_.Max = std::max(0, ComputeScrollMax(fitting));
  if (scroller_.Max == 0 && !fitting) {
    fullWidth_ = true;
    scroller_.Max = ComputeScrollMax(fitting);
    if (scroller_.Max == 0) scroller_.Max = std::max(0, GetVisTabCount() - 1);
    if (GetVisTabCount() <= 1) scroller_.Max = 0;
  } else if (fitting) {
    if (scroller_.Position > scroller_.Max) scroller_.Position = scroller_.Max;
    if (scroller_.Position > 0 && GetTabRect(scroller_.Position).right() == -1) {
      fullWidth_ = true;
      scroller_.Max = ComputeScrollMax(fitting);
      if (scroller_.Max == 0) fullWidth_ = false;
    }
  }
  scroller_.Visible = scroller_.Min < scroller_.Max || buttonSettings_->GetScrollButtonsAlways();
  if (scroller_.Position > scroller_.Max) scroller_.Position = scroller_.Max;
  if (scroller_.Position < 0) scroller_.Position = 0;
  UpdateButtons();
}

void TFxOfficePager::ScrollFirst() {
  if (!scroller_.Visible || !scroller_.CanGoBack()) return;
  scroller_.Position = scroller_.Min;
  update();
}
void TFxOfficePager::ScrollPrev() {
  if (!scroller_.Visible || !scroller_.CanGoBack()) return;
  --scroller_.Position;
  update();
}
void TFxOfficePager::ScrollNext() {
  if (!scroller_.Visible || !scroller_.CanGoForward()) return;
  ++scroller_.Position;
  update();
}
void TFxOfficePager::ScrollLast() {
  if (!scroller_.Visible || !scroller_.CanGoForward()) return;
  scroller_.Position = scroller_.Max;
  update();
}

bool TFxOfficePager::IsRoundedTabs() const {
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  return (tabSettings_->GetShape() == tsRectangle && tabSettings_->GetRounding() == 1) ||
         (side && !rotateTabLeftRight_ && tabSettings_->GetRounding() == 1);
}

int TFxOfficePager::GetLeftShapeExtra() const {
  const TFxTabShape s = tabSettings_->GetShape();
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  if ((s == tsLeftRamp || s == tsLeftRightRamp) && !IsRoundedTabs() && !(side && !rotateTabLeftRight_))
    return tabSettings_->GetRounding() * 2 + 5;
  return 0;
}

int TFxOfficePager::GetRightShapeExtra() const {
  const TFxTabShape s = tabSettings_->GetShape();
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  if ((s == tsRightRamp || s == tsLeftRightRamp) && !IsRoundedTabs() && !(side && !rotateTabLeftRight_))
    return tabSettings_->GetRounding() * 2 + 5;
  return 0;
}

int TFxOfficePager::ActiveNeighbourSide(int index) const {
  if (index < 0 || index >= pages_.Count() || activeIndex_ < 0 || index == activeIndex_) return 0;
  for (int i = activeIndex_ - 1; i >= 0; --i)
    if (pages_.Get(i)->GetTabVisible()) {
      if (i == index) return -1;
      break;
    }
  for (int i = activeIndex_ + 1; i < pages_.Count(); ++i)
    if (pages_.Get(i)->GetTabVisible()) return i == index ? 1 : 0;
  return 0;
}

void TFxOfficePager::GetTabContentRects(int index, QRect& closeRect, QRect& imageRect, QRect& textRect) const {
  if (tabSettings_->GetHeight() <= 0 || tabSettings_->GetWidth() <= 0) return;
  QRect t = GetTabRect(index);
  if (IsNone(t) || R(t) < 0 || tabSettings_->GetAlignment() != taCenter) return;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  if (side && rotateTabLeftRight_) return;  // only strip-direction tabs are centred here
  const bool active = index == activeIndex_;
  const int c = closeOnTab_ ? 18 : 0;
  QSize img = GetTabImageSize(index);
  int iw = tabSettings_->GetImagePosition() == ipTop || tabSettings_->GetImagePosition() == ipBottom ? 0
                                                                                                    : img.width();
  int tw = GetTabTextSize(index).width();
  int L = t.left(), Rr = R(t);
  int s = Rr - L;
  const TFxTabShape shape = tabSettings_->GetShape();
  if (shape == tsRightRamp || shape == tsLeftRightRamp) Rr -= tabSettings_->GetRounding();
  if (c > 0 && active) s -= c + 4;
  if (iw > 0) s -= iw + 2;
  s -= tw;
  int x = std::max(L + s / 2, L);
  if (active && closeOnTab_ && closeOnTabPosition_ == cpLeft) {
    closeRect = Ltrb(x, t.top(), x + 18, B(t));
    x += 22;
  }
  if (tabSettings_->GetImagePosition() == ipLeft && iw > 0) {
    imageRect = QRect(x, t.top(), iw, t.height());
    x += iw + 2;
  }
  if (tw > 0) {
    textRect = Ltrb(x, t.top(), x + tw, B(t));
    x = std::min(x + tw, Rr);
  }
  if (tabSettings_->GetImagePosition() == ipRight && iw > 0) {
    imageRect = QRect(x + 2, t.top(), iw, t.height());
    x += iw + 2;
  }
  if (active && closeOnTab_ && closeOnTabPosition_ == cpRight) closeRect = Ltrb(x + 4, t.top(), x + 22, B(t));
}

// ---- button rectangles

QRect TFxOfficePager::GetScrollButtonsRect() const {
  if (!scroller_.Visible) return kNone;
  const QRect b = GetButtonsRect();
  const int n = 2 + (buttonSettings_->GetFirstButton() ? 1 : 0) + (buttonSettings_->GetLastButton() ? 1 : 0);
  switch (tabPosition_) {
    case tpTop: return Ltrb(b.left(), B(b) - 23, b.left() + n * 18 + 8, B(b) - 5);
    case tpBottom: return Ltrb(b.left(), b.top() + 5, b.left() + n * 18 + 8, b.top() + 23);
    case tpLeft: return Ltrb(R(b) - 23, b.top(), R(b) - 5, b.top() + n * 18 + 8);
    case tpRight: return Ltrb(b.left() + 5, b.top(), b.left() + 23, b.top() + n * 18 + 8);
  }
  return kNone;
}

namespace {
// A rectangle of the button band from `from` to `to` along the strip.
QRect Along(const QRect& band, bool side, int from, int to) {
  return side ? Ltrb(band.left(), from, R(band), to) : Ltrb(from, band.top(), to, B(band));
}
int Start(const QRect& r, bool side) { return side ? r.top() : r.left(); }
int End(const QRect& r, bool side) { return side ? B(r) : R(r); }
}  // namespace

QRect TFxOfficePager::GetFirstButtonRect() const {
  QRect s = GetScrollButtonsRect();
  if (IsNone(s)) return kNone;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  return Along(s, side, Start(s, side) + 3, Start(s, side) + 21);
}

QRect TFxOfficePager::GetPrevButtonRect() const {
  QRect s = GetScrollButtonsRect();
  if (IsNone(s)) return kNone;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  if (buttonSettings_->GetFirstButton()) {
    int e = End(GetFirstButtonRect(), side);
    return side ? Along(s, side, e + 3, e + 21) : Along(s, side, e + 2, e + 20);
  }
  int st = Start(s, side);
  return side ? Along(s, side, st + 3, st + 21) : Along(s, side, st + 2, st + 20);
}

QRect TFxOfficePager::GetNextButtonRect() const {
  QRect p = GetPrevButtonRect();
  if (IsNone(p)) return kNone;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  int e = End(p, side);
  return Along(GetScrollButtonsRect(), side, e + 2, e + 20);
}

QRect TFxOfficePager::GetLastButtonRect() const {
  QRect n = GetNextButtonRect();
  if (IsNone(n) || !buttonSettings_->GetLastButton()) return n;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  int e = End(n, side);
  return Along(GetScrollButtonsRect(), side, e + 2, e + 20);
}

namespace {
QRect Band(const QRect& b, TTabPosition pos) {
  switch (pos) {
    case tpTop: return Ltrb(b.left(), B(b) - 23, R(b), B(b) - 5);
    case tpBottom: return Ltrb(b.left(), b.top() + 5, R(b), b.top() + 23);
    case tpLeft: return Ltrb(R(b) - 23, b.top(), R(b) - 5, B(b));
    case tpRight: return Ltrb(b.left() + 5, b.top(), b.left() + 23, B(b));
  }
  return b;
}
}  // namespace

QRect TFxOfficePager::GetPageListButtonRect() const {
  if (!buttonSettings_->GetPageListButton()) return kNone;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const QRect band = Band(GetButtonsRect(), tabPosition_);
  int st = scroller_.Visible ? End(GetLastButtonRect(), side) : Start(GetButtonsRect(), side);
  return Along(band, side, st + 3, st + 21);
}

QRect TFxOfficePager::GetCloseButtonRect(int index) const {
  if (!buttonSettings_->GetCloseButton()) return kNone;
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  const bool onTab = closeOnTab_ && index >= 0 && index < pages_.Count() &&
                     (showCloseOnNonSelectedTabs_ || index == activeIndex_);
  if (!onTab) {
    if (closeOnTab_ && index >= 0) return kNone;
    const QRect band = Band(GetButtonsRect(), tabPosition_);
    if (buttonSettings_->GetPageListButton()) {
      int e = End(GetPageListButtonRect(), side);
      return Along(band, side, e + 2, e + 20);
    }
    if (!scroller_.Visible) {
      int st = Start(GetButtonsRect(), side);
      return Along(band, side, st + 3, st + 21);
    }
    int e = End(GetLastButtonRect(), side);
    return Along(band, side, e + 3, e + 21);
  }
  QRect t = GetTabRect(index);
  if (IsNone(t)) return kNone;
  const int le = GetLeftShapeExtra(), re = GetRightShapeExtra();
  const bool centred = tabSettings_->GetWidth() > 0 && tabSettings_->GetAlignment() == taCenter;
  QRect closeRect = kNone, imageRect, textRect;
  if (centred) GetTabContentRects(index, closeRect, imageRect, textRect);
  if (!side) {
    int x = !IsNone(closeRect) ? closeRect.left()
            : closeOnTabPosition_ == cpLeft ? t.left() + le + 4
                                            : R(t) - re - 22;
    return tabPosition_ == tpTop ? Ltrb(x, B(t) - 23, x + 18, B(t) - 5) : Ltrb(x, t.top() + 5, x + 18, t.top() + 23);
  }
  if (rotateTabLeftRight_) {
    int l = tabPosition_ == tpLeft ? R(t) - 23 : t.left() + 5;
    int top;
    if (tabPosition_ == tpLeft)
      top = closeOnTabPosition_ == cpLeft ? B(t) - le - 22 : t.top() + re + 4;
    else
      top = closeOnTabPosition_ == cpLeft ? t.top() + le + 22 - 18 : B(t) - (re + 4) - 18;
    return QRect(l, top, 18, 18);
  }
  int top = t.top() + (t.height() - 18) / 2;
  int x = !IsNone(closeRect) ? closeRect.left()
          : closeOnTabPosition_ == cpLeft ? t.left() + (tabPosition_ == tpLeft ? 4 : 5)
                                          : R(t) - (tabPosition_ == tpLeft ? 23 : 21);
  return QRect(x, top, 18, 18);
}
