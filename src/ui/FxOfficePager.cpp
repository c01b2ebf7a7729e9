// The pager's model (pages, active page, closing, styler link), its pages,
// its buttons and its mouse and keyboard handling.
#include "ui/FxOfficePager.h"

#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QToolTip>

#include "ui/FxOfficePagerStylers.h"

// ---- the page

TFxOfficePage::TFxOfficePage(QWidget* owner)
    : QWidget(owner),
      picture_(std::make_unique<TFxPicture>()),
      disabledPicture_(std::make_unique<TFxPicture>()),
      officeHint_(std::make_unique<TFxHintInfo>()),
      pageAppearance_(std::make_unique<TVistaBackground>()),
      tabAppearance_(std::make_unique<TTabAppearance>()) {
  picture_->OnChange = [this](TFxPicture*) { PictureChanged(); };
  disabledPicture_->OnChange = [this](TFxPicture*) { PictureChanged(); };
  tabAppearance_->OnChange = [this] {
    if (pager_) pager_->update();
    update();
  };
  tabAppearance_->OnFontChange = [this] { TabFontChanged(); };
  pageAppearance_->OnChange = [this] {
    bodyValid_ = false;
    update();
  };
}

TFxOfficePage::~TFxOfficePage() {
  if (pager_) pager_->RemovePage(this);
  FreeGlowTimer();
  if (shortCutHintWindow_) delete shortCutHintWindow_.data();
}

void TFxOfficePage::FreeGlowTimer() {
  if (!glowTimer_) return;
  glowTimer_->stop();
  delete glowTimer_;
  glowTimer_ = nullptr;
}

void TFxOfficePage::SetFxOfficePager(TFxOfficePager* pager) {
  if (pager == pager_) return;
  if (pager_) pager_->RemovePage(this);
  if (pager) {
    setParent(pager);
    pager->AddPage(this);
  }
  TabFontChanged();
}

void TFxOfficePage::Relayout(bool repaintPage) {
  textCache_.valid = false;
  if (repaintPage) update();
  if (!pager_) return;
  pager_->update();
  if (pager_->GetCloseOnTab() && pager_->GetActivePage() == this) pager_->UpdateButtons();
  pager_->UpdateTabScroller();
}

void TFxOfficePage::SetCaption(const QString& value) {
  if (caption_ == value) return;
  caption_ = value;
  Relayout();
}

void TFxOfficePage::SetWideCaption(const QString& value) {
  if (wideCaption_ == value) return;
  wideCaption_ = value;
  // The wide caption shows only while Caption is empty.
  if (caption_.isEmpty())
    Relayout();
  else
    update();
}

void TFxOfficePage::SetImageIndex(int value) {
  imageIndex_ = value;
  if (pager_) pager_->update();
}

void TFxOfficePage::SetUsePageAppearance(bool value) {
  if (usePageAppearance_ == value) return;
  usePageAppearance_ = value;
  bodyValid_ = false;
  update();
}

void TFxOfficePage::SetUseTabAppearance(bool value) {
  if (useTabAppearance_ == value) return;
  useTabAppearance_ = value;
  Relayout();
}

void TFxOfficePage::TabFontChanged() {
  if (!useTabAppearance_) return;
  Relayout();
}

void TFxOfficePage::PictureChanged() {
  if (!pager_) {
    update();
    return;
  }
  Relayout();
}

void TFxOfficePage::SetTabVisible(bool value) {
  if (tabVisible_ == value) return;
  tabVisible_ = value;
  if (pager_) {
    if (pager_->GetCloseOnTab()) pager_->UpdateButtons();
    if (auto* active = pager_->GetActivePage()) active->update();
    pager_->update();
    pager_->UpdateTabScroller();
  }
  update();
}

void TFxOfficePage::SetTabEnabled(bool value) {
  if (tabEnabled_ == value) return;
  tabEnabled_ = value;
  update();
  if (pager_) pager_->update();
}

void TFxOfficePage::SetShowClose(bool value) {
  if (showClose_ == value) return;
  showClose_ = value;
  textCache_.valid = false;
  if (!value && closeButton_) {
    closeButton_->hide();
    closeButton_->deleteLater();
    closeButton_ = nullptr;
  }
  if (pager_) {
    pager_->UpdateTabScroller();
    pager_->update();
  }
}

void TFxOfficePage::SetShowCheckBox(bool value) {
  if (showCheckBox_ == value) return;
  showCheckBox_ = value;
  if (pager_) {
    pager_->UpdateTabScroller();
    pager_->update();
  }
}

void TFxOfficePage::SetChecked(bool value) {
  if (checked_ == value) return;
  checked_ = value;
  update();
  if (pager_) pager_->update();
}

int TFxOfficePage::GetPageIndex() const { return pager_ ? pager_->IndexOfPage(this) : -1; }

void TFxOfficePage::SetPageIndex(int value) {
  if (!pager_ || value < 0 || value >= pager_->GetPageCount()) return;
  pager_->MoveTab(GetPageIndex(), value);
  update();
}

void TFxOfficePage::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  emit OnShow(this);
}

void TFxOfficePage::GlowTimerTick() {
  if (!pager_) return;
  if (glowMode_ == 0) {
    hoverGlow_ += glowStep_;
    bool crossed = false;
    if (hoverGlow_ > 100 && glowStep_ > 0) {
      hoverGlow_ = 120;
      QPoint cursor = pager_->mapFromGlobal(QCursor::pos());
      if (!pager_->GetPageTabRect(this).contains(cursor)) {
        glowStep_ = -20;
        pager_->hotIndex_ = -1;
        return;
      }
      crossed = true;
    } else if (hoverGlow_ < 0 && glowStep_ < 0) {
      FreeGlowTimer();
      glowMode_ = 2;
      pager_->update(pager_->GetTabsRect());
      crossed = true;
    }
    if (crossed) {
      clickGlow_ = 0;
      hoverGlow_ = hoverGlow_ > 100 ? 120 : hoverGlow_ < 0 ? -20 : hoverGlow_;
    } else {
      pager_->update(pager_->GetTabsRect());
    }
  } else if (glowMode_ == 1) {
    clickGlow_ += glowStep_;
    if ((clickGlow_ > 100 && glowStep_ > 0) || (clickGlow_ < 0 && glowStep_ < 0)) {
      FreeGlowTimer();
      glowMode_ = 2;
      clickGlow_ = 0;
    } else {
      pager_->update(pager_->GetTabsRect());
    }
  }
}

// ---- the pager: creation and pages

TFxOfficePager::TFxOfficePager(QWidget* parent)
    : QWidget(parent),
      tabSettings_(std::make_unique<TPagerTabSettings>()),
      buttonSettings_(std::make_unique<TPageButtonSettings>()),
      officeHint_(std::make_unique<TFxHintInfo>()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  internalStyler_ = new TCustomFxOfficePagerStyler(this);
  internalStyler_->setObjectName("InternalStyler");
  internalStyler_->AddPager(this);
  tabSettings_->OnChange = [this] { TabSettingsChanged(); };
  buttonSettings_->OnChange = [this] { ButtonSettingsChanged(); };
  resize(400, 200);
  {
    // Without a styler of its own the pager shows the 2007 blue scheme.
    TFxOfficePagerOfficeStyler luna;
    luna.SetStyle(psOffice2007Luna);
    internalStyler_->Assign(luna);
  }
  if (parent) SetReady();
}

TFxOfficePager::~TFxOfficePager() {
  destroying_ = true;
  UnhookForm();
  if (attachedStyler_) attachedStyler_->RemovePager(this);
  internalStyler_->RemovePager(this);
  delete internalStyler_;
  internalStyler_ = nullptr;
  // Pages are child widgets and go with the pager; they must not call back.
  for (int i = 0; i < pages_.Count(); ++i) {
    TFxOfficePage* page = pages_.Get(i);
    page->pager_ = nullptr;
    page->FreeGlowTimer();
  }
  pages_.Clear();
}

void TFxOfficePager::SetReady() {
  if (ready_) return;
  ready_ = true;
  UpdateButtons();
}

TCustomFxOfficePagerStyler* TFxOfficePager::CurrentStyler() const {
  return attachedStyler_ ? attachedStyler_.data() : internalStyler_;
}

int TFxOfficePager::GetVisTabCount() const {
  int n = 0;
  for (int i = 0; i < pages_.Count(); ++i) n += pages_.Get(i)->GetTabVisible() ? 1 : 0;
  return n;
}

bool TFxOfficePager::IsTabVisible(int index) const {
  return index >= 0 && index < pages_.Count() && pages_.Get(index)->GetTabVisible();
}

int TFxOfficePager::AddPage(TFxOfficePage* page) {
  if (!page) return -1;
  // A page lives in one pager only.
  if (page->pager_ && page->pager_ != this) page->pager_->RemovePage(page);
  int index = pages_.IndexOf(page);
  if (index < 0) index = pages_.Add(page);
  if (page->parentWidget() != this) page->setParent(this);
  page->pager_ = this;
  page->textCache_.valid = false;
  SetPagePosition(page);
  if (index != activeIndex_) page->hide();
  update();
  if (auto* active = GetActivePage()) {
    active->raise();
    active->update();
  }
  UpdateTabScroller();
  return index;
}

TFxOfficePage* TFxOfficePager::NextSelectablePage(int from, bool forward) const {
  const int n = pages_.Count();
  if (n == 0) return nullptr;
  int i = from;
  for (int k = 0; k < n; ++k) {
    i = forward ? (i + 1) % n : (i - 1 + n) % n;
    if (i == from) continue;
    TFxOfficePage* p = pages_.Get(i);
    if (p->GetTabVisible() && p->GetTabEnabled()) return p;
  }
  return nullptr;
}

void TFxOfficePager::SettleAfterRemoval(TFxOfficePage* wasActive, int oldActiveIndex, TFxOfficePage* next) {
  // The active page is chosen by object, so indices that shifted do not
  // matter; the owner hears of the change once, with the final index.
  TFxOfficePage* target = next;
  activeIndex_ = target ? pages_.IndexOf(target) : -1;
  if (target) {
    SetPagePosition(target);
    target->show();
    target->raise();
  }
  if (wasActive && wasActive != target && pages_.IndexOf(wasActive) >= 0) {
    wasActive->hide();
    emit wasActive->OnHide(wasActive);
  }
  if (!destroying_) {
    UpdateButtons();
    UpdateTabScroller();
  }
  update();
  if (target) target->update();
  if (!destroying_ && (target != wasActive || activeIndex_ != oldActiveIndex)) emit OnChange(this);
}

void TFxOfficePager::RemovePage(TFxOfficePage* page) {
  const int i = pages_.IndexOf(page);
  if (i < 0) return;
  TFxOfficePage* active = GetActivePage();
  const int oldActive = activeIndex_;
  TFxOfficePage* next = active;
  if (page == active) next = NextSelectablePage(i, true);
  pages_.Delete(i);
  page->pager_ = nullptr;
  if (page->closeButton_) {
    page->closeButton_->hide();
    page->closeButton_->deleteLater();
    page->closeButton_ = nullptr;
  }
  if (hotIndex_ >= pages_.Count()) hotIndex_ = -1;
  if (pressedIndex_ >= pages_.Count()) pressedIndex_ = -1;
  if (page == active && !closing_) {
    page->hide();
    emit page->OnHide(page);
  }
  if (settling_) {
    activeIndex_ = next ? pages_.IndexOf(next) : -1;
    return;
  }
  SettleAfterRemoval(page == active ? nullptr : active, oldActive, next);
}

void TFxOfficePager::MoveTab(int from, int to) {
  const int n = pages_.Count();
  if (from < 0 || from >= n || to < 0 || to >= n) return;
  TFxOfficePage* active = GetActivePage();
  pages_.Move(from, to);
  // Re-select the same page at its new position without a switch.
  activeIndex_ = active ? pages_.IndexOf(active) : -1;
  UpdateButtons();
  UpdateTabScroller();
  update();
  emit OnTabMoved(this, from, to);
}

void TFxOfficePager::SetActivePageIndex(int index) {
  if (index >= 0 && index < pages_.Count() && GetTabRect(index).left() == -1) {
    int before = 0;
    for (int i = 0; i < index; ++i) before += pages_.Get(i)->GetTabVisible() ? 1 : 0;
    scroller_.Position = std::min(before, scroller_.Max);
  }
  ChangeActivePage(index);
  update(GetTabsRect());
}

void TFxOfficePager::SetActivePage(TFxOfficePage* page) {
  int i = pages_.IndexOf(page);
  if (i >= 0) SetActivePageIndex(i);
}

void TFxOfficePager::ChangeActivePage(int index) {
  if (index < 0 || index >= pages_.Count()) return;
  if (index == activeIndex_ && pages_.Count() > 1) return;
  if (hintsShown_) HideShortCutHints();
  bool allow = true;
  if (ready_ && !destroying_ && OnChanging) OnChanging(this, activeIndex_, index, allow);
  if (!allow) return;
  if (activeIndex_ >= 0 && activeIndex_ < pages_.Count()) {
    TFxOfficePage* old = pages_.Get(activeIndex_);
    old->hide();
    emit old->OnHide(old);
  }
  activeIndex_ = index;
  TFxOfficePage* page = pages_.Get(index);
  SetPagePosition(page);
  page->show();
  page->raise();
  if (!destroying_) emit OnChange(this);
  UpdateButtons();
  update();
}

void TFxOfficePager::SelectNextPage(bool forward) {
  if (activeIndex_ < 0) return;
  if (TFxOfficePage* p = NextSelectablePage(activeIndex_, forward)) SetActivePageIndex(pages_.IndexOf(p));
}

void TFxOfficePager::ClosePage(QObject* sender) {
  int index = activeIndex_;
  if (closeOnTab_)
    if (auto* button = dynamic_cast<TFxGlowButton*>(sender)) index = button->GetTag();
  if (index < 0 || index >= pages_.Count() || closing_) return;
  bool allow = true;
  closing_ = true;
  if (OnClosePage) OnClosePage(this, index, allow);
  if (allow && index < pages_.Count()) {
    TFxOfficePage* page = pages_.Get(index);
    page->FreeGlowTimer();
    TFxOfficePage* active = GetActivePage();
    const int oldActive = activeIndex_;
    // The page to show afterwards, remembered by object: it survives the
    // shift of indices and never dangles.
    QPointer<TFxOfficePage> next = active;
    if (page == active) next = NextSelectablePage(index, true);
    update(GetTabsRect());
    if (FreeOnClose) {
      // The button whose click runs this must outlive its handler.
      if (page->closeButton_) {
        page->closeButton_->hide();
        page->closeButton_->deleteLater();
        page->closeButton_ = nullptr;
      }
      settling_ = true;
      delete page;
      settling_ = false;
    } else {
      page->tabVisible_ = false;
      page->hide();
      if (closeOnTab_ && page->closeButton_) page->closeButton_->hide();
      if (page == active) {
        activeIndex_ = next ? pages_.IndexOf(next) : -1;
        emit page->OnHide(page);
      }
    }
    TFxOfficePage* target = next.data();
    activeIndex_ = target ? pages_.IndexOf(target) : -1;
    if (target) {
      SetPagePosition(target);
      target->show();
      target->raise();
    }
    UpdateTabScroller();
    UpdateButtons();
    update();
    // The owner first drops its entry for the closed index, then hears
    // which page is active now.
    emit OnClosedPage(this, index);
    if (target != active || activeIndex_ != oldActive) emit OnChange(this);
  }
  closing_ = false;
}

bool TFxOfficePager::CloseActivePage() {
  TFxOfficePage* before = GetActivePage();
  if (!before) return true;
  QPointer<TFxOfficePage> guard = before;
  ClosePage(this);
  return !guard || GetActivePage() != before || !before->GetTabVisible();
}

// ---- styler link

void TFxOfficePager::SetFxOfficePagerStyler(TCustomFxOfficePagerStyler* styler) {
  SetPagesFlag(false);
  if (styler && styler == attachedStyler_) return;
  if (attachedStyler_) attachedStyler_->RemovePager(this);
  attachedStyler_ = styler;
  if (styler) styler->AddPager(this);
  if (!destroying_)
    for (int i = 0; i < pages_.Count(); ++i) pages_.Get(i)->update();
  UpdateMe(0);
}

void TFxOfficePager::UpdateMe(int kind) {
  if (destroying_) return;
  SetPagesFlag(false);
  update();
  if (auto* active = GetActivePage()) active->update();
  if (kind == 0 || kind == 2 || kind == 4) UpdateButtons();
  if (kind == 0 || kind == 5) TabSettingsChanged();
}

void TFxOfficePager::SetPagesFlag(bool value) {
  for (int i = 0; i < pages_.Count(); ++i) pages_.Get(i)->bodyValid_ = value;
}

// ---- properties

void TFxOfficePager::Relayout() {
  for (int i = 0; i < pages_.Count(); ++i) pages_.Get(i)->textCache_.valid = false;
  UpdateTabScroller();
  update();
}

void TFxOfficePager::SetAntiAlias(TAntiAlias value) {
  if (antiAlias_ == value) return;
  antiAlias_ = value;
  Relayout();
}

void TFxOfficePager::SetImages(TCustomImageList* value) {
  images_ = value;
  Relayout();
}

void TFxOfficePager::SetDisabledImages(TCustomImageList* value) {
  disabledImages_ = value;
  Relayout();
}

void TFxOfficePager::SetCloseOnTab(bool value) {
  if (closeOnTab_ == value) return;
  closeOnTab_ = value;
  Relayout();
}

void TFxOfficePager::SetCloseOnTabPosition(TCloseOnTabPos value) {
  closeOnTabPosition_ = value;
  UpdateButtons();
  update();
}

void TFxOfficePager::SetPageMargin(int value) {
  if (pageMargin_ == value) return;
  pageMargin_ = value;
  SetAllPagesPosition();
  Relayout();
}

void TFxOfficePager::SetRotateTabLeftRight(bool value) {
  if (rotateTabLeftRight_ == value) return;
  rotateTabLeftRight_ = value;
  Relayout();
}

void TFxOfficePager::SetShowCloseOnNonSelectedTabs(bool value) {
  if (showCloseOnNonSelectedTabs_ == value) return;
  showCloseOnNonSelectedTabs_ = value;
  Relayout();
}

void TFxOfficePager::SetShowNonSelectedTabs(bool value) {
  showNonSelectedTabs_ = value;
  update(GetTabsRect());
}

void TFxOfficePager::SetTabPosition(TTabPosition value) {
  if (tabPosition_ == value) return;
  tabPosition_ = value;
  SetPagesFlag(false);
  SetAllPagesPosition();
  Relayout();
}

void TFxOfficePager::TabSettingsChanged() {
  SetPagesFlag(false);
  for (int i = 0; i < pages_.Count(); ++i) pages_.Get(i)->textCache_.valid = false;
  SetAllPagesPosition();
  UpdateButtons();
  UpdateTabScroller();
  update();
  if (auto* active = GetActivePage()) active->update();
}

void TFxOfficePager::ButtonSettingsChanged() {
  UpdateTabScroller();
  update();
  if (auto* active = GetActivePage()) active->update();
}

void TFxOfficePager::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  SetAllPagesPosition();
  UpdateTabScroller();
  SetPagesFlag(false);
}

// ---- buttons

bool TFxOfficePager::HasCloseButton() const {
  TFxOfficePage* active = GetActivePage();
  return (buttonSettings_->GetCloseButton() && (!active || active->GetShowClose())) ||
         (showCloseOnNonSelectedTabs_ && pages_.Count() > 0);
}

TFxGlowButton* TFxOfficePager::NewButton(void (TFxOfficePager::*handler)(TFxGlowButton*)) {
  auto* button = new TFxGlowButton(this);
  button->OnClick = [this, handler](TFxCustomGlowButton* b) { (this->*handler)(static_cast<TFxGlowButton*>(b)); };
  button->show();
  return button;
}

void TFxOfficePager::ConfigureButton(TFxGlowButton* button, const QRect& rect, TFxPicture& picture,
                                     const QString& hint) {
  button->setGeometry(rect.isValid() ? rect : QRect(rect.topLeft(), QSize(0, 0)));
  button->Appearance().Assign(CurrentStyler()->GlowButtonAppearance());
  button->Picture().Assign(&picture);
  button->SetHint(hint);
  button->SetShowHint(true);
}

void TFxOfficePager::UpdateButtons() {
  if (!ready_ || destroying_) return;
  const bool anyVisible = GetVisTabCount() > 0;
  TPageButtonSettings& bs = *buttonSettings_;
  // Close buttons.
  if (!bs.GetCloseButton()) {
    for (int i = 0; i < pages_.Count(); ++i) {
      TFxOfficePage* page = pages_.Get(i);
      if (page->closeButton_) {
        page->closeButton_->hide();
        page->closeButton_->deleteLater();
        page->closeButton_ = nullptr;
      }
    }
    if (closeButton_) closeButton_->hide();
  } else if (closeOnTab_) {
    if (closeButton_) closeButton_->resize(0, closeButton_->height());
    for (int i = 0; i < pages_.Count(); ++i) {
      TFxOfficePage* page = pages_.Get(i);
      if (!page->GetShowClose()) {
        if (page->closeButton_) page->closeButton_->hide();
        continue;
      }
      if (!page->closeButton_) {
        auto* b = new TFxGlowButton(this);
        b->OnClick = [this](TFxCustomGlowButton* sender) { ClosePage(sender); };
        page->closeButton_ = b;
      }
      TFxGlowButton* b = page->closeButton_;
      QRect r = GetCloseButtonRect(i);
      ConfigureButton(b, r, bs.CloseButtonPicture(), bs.CloseButtonHint);
      b->SetTag(i);
      b->setEnabled(anyVisible);
      bool visible = page->GetTabVisible() && (showCloseOnNonSelectedTabs_ || i == activeIndex_) && r.left() >= 0;
      b->setVisible(visible);
      if (!visible) b->resize(0, b->height());
      if (visible) b->raise();
    }
  } else {
    for (int i = 0; i < pages_.Count(); ++i)
      if (auto* b = pages_.Get(i)->closeButton_.data()) b->resize(0, b->height());
    if (!closeButton_) closeButton_ = NewButton(&TFxOfficePager::CloseButtonClick);
    ConfigureButton(closeButton_, GetCloseButtonRect(-1), bs.CloseButtonPicture(), bs.CloseButtonHint);
    closeButton_->setEnabled(anyVisible && HasCloseButton());
    closeButton_->show();
  }
  // Page list.
  if (bs.GetPageListButton()) {
    if (!pageListButton_) pageListButton_ = NewButton(&TFxOfficePager::PageListButtonClick);
    ConfigureButton(pageListButton_, GetPageListButtonRect(), bs.PageListButtonPicture(), bs.PageListButtonHint);
    pageListButton_->setEnabled(anyVisible);
  } else if (pageListButton_) {
    delete pageListButton_.data();
  }
  // Scroll buttons.
  if (!scroller_.Visible) {
    for (auto* b : {&prevButton_, &nextButton_, &firstButton_, &lastButton_})
      if (*b) delete b->data();
    return;
  }
  const bool side = tabPosition_ == tpLeft || tabPosition_ == tpRight;
  struct Spec {
    QPointer<TFxGlowButton>* field;
    int which;
    QRect rect;
    TFxPicture* picture;
    QString hint;
    bool enabled, visible;
  } specs[4] = {
      {&firstButton_, 0, GetFirstButtonRect(),
       side && !bs.FirstPictureChanged ? &bs.ScrollButtonUpFirstPicture() : &bs.ScrollButtonFirstPicture(),
       bs.ScrollButtonFirstHint, scroller_.CanGoBack(), bs.GetFirstButton()},
      {&prevButton_, 1, GetPrevButtonRect(),
       side && !bs.PrevPictureChanged ? &bs.ScrollButtonUpPicture() : &bs.ScrollButtonPrevPicture(),
       bs.ScrollButtonPrevHint, scroller_.CanGoBack(), true},
      {&nextButton_, 2, GetNextButtonRect(),
       side && !bs.NextPictureChanged ? &bs.ScrollButtonDownPicture() : &bs.ScrollButtonNextPicture(),
       bs.ScrollButtonNextHint, scroller_.CanGoForward(), true},
      {&lastButton_, 3, GetLastButtonRect(),
       side && !bs.LastPictureChanged ? &bs.ScrollButtonDownLastPicture() : &bs.ScrollButtonLastPicture(),
       bs.ScrollButtonLastHint, scroller_.CanGoForward(), bs.GetLastButton()},
  };
  for (Spec& s : specs) {
    if (!*s.field) {
      auto* b = new TFxGlowButton(this);
      int which = s.which;
      b->OnClick = [this, which](TFxCustomGlowButton* sender) {
        ScrollClick(static_cast<TFxGlowButton*>(sender), which);
      };
      *s.field = b;
    }
    TFxGlowButton* b = *s.field;
    ConfigureButton(b, s.rect, *s.picture, s.hint);
    b->SetRepeatClick(true);
    b->setEnabled(s.enabled);
    b->setVisible(s.visible);
    if (!s.visible) b->resize(0, b->height());
  }
}

void TFxOfficePager::CloseButtonClick(TFxGlowButton* sender) { ClosePage(sender); }
void TFxOfficePager::PageListButtonClick(TFxGlowButton*) { ShowPageListMenu(); }

void TFxOfficePager::ScrollClick(TFxGlowButton* sender, int which) {
  switch (which) {
    case 0: emit OnFirstClick(sender), ScrollFirst(); break;
    case 1: emit OnPrevClick(sender), ScrollPrev(); break;
    case 2: emit OnNextClick(sender), ScrollNext(); break;
    default: emit OnLastClick(sender), ScrollLast(); break;
  }
  UpdateButtons();
}

void TFxOfficePager::ShowPageListMenu() {
  if (!PageListMenu || !buttonSettings_->GetPageListButton()) return;
  QMenu* menu = PageListMenu;
  menu->clear();
  auto* group = new QActionGroup(menu);
  for (int i = 0; i < pages_.Count(); ++i) {
    TFxOfficePage* page = pages_.Get(i);
    if (!page->GetTabVisible()) continue;
    QAction* item = menu->addAction(page->TabCaption());
    item->setCheckable(true);
    item->setChecked(i == activeIndex_);
    item->setData(i);
    group->addAction(item);
    connect(item, &QAction::triggered, this, [this, item] { PageListItemClick(item); });
  }
  if (!pageListButton_) return;
  QRect r = pageListButton_->geometry();
  QPoint at;
  switch (tabPosition_) {
    case tpTop: at = r.bottomLeft() + QPoint(0, 1); break;
    case tpBottom: {
      at = r.bottomLeft() + QPoint(0, 1);
      const int itemHeight = menu->fontMetrics().height() + 6, count = static_cast<int>(menu->actions().size());
      QPoint global = mapToGlobal(at);
      QScreen* screen = QGuiApplication::screenAt(global);
      int bottom = screen ? screen->availableGeometry().bottom() : 1 << 30;
      if (bottom < global.y() + itemHeight * count + 10) at.ry() -= itemHeight * count + r.height() + 4;
      break;
    }
    default: at = r.topRight() + QPoint(1, 0); break;
  }
  QPoint global = mapToGlobal(at);
  if (receivers(SIGNAL(OnPageListClick(TFxOfficePager*, int, int))) > 0)
    emit OnPageListClick(this, global.x(), global.y());
  else
    menu->popup(global);
}

void TFxOfficePager::PageListItemClick(QAction* item) {
  bool ok = false;
  int index = item ? item->data().toInt(&ok) : -1;
  if (ok && index >= 0 && index < pages_.Count()) SetActivePageIndex(index);
}

// ---- mouse

int TFxOfficePager::PtOnTab(int x, int y) const {
  for (int i = 0; i < pages_.Count(); ++i) {
    QRect r = GetTabRect(i);
    if (r.left() >= 0 && r.contains(x, y)) return i;
  }
  return -1;
}

bool TFxOfficePager::PtOnCheckBox(int index, int x, int y) const {
  if (index < 0 || index >= pages_.Count() || !pages_.Get(index)->GetShowCheckBox()) return false;
  return GetCheckBoxRect(index).contains(x, y);
}

void TFxOfficePager::StartGlow(TFxOfficePage* page, int step, int mode) {
  if (!page->glowTimer_ && Glow) {
    page->glowTimer_ = new QTimer(this);
    connect(page->glowTimer_, &QTimer::timeout, page, [page] { page->GlowTimerTick(); });
    page->glowTimer_->start(50);
  }
  page->glowStep_ = step;
  page->glowMode_ = mode;
}

void TFxOfficePager::mousePressEvent(QMouseEvent* e) {
  QWidget::mousePressEvent(e);
  pressedIndex_ = -1;
  const QPoint p = e->position().toPoint();
  if (!GetTabsRect().contains(p)) return;
  const int tab = PtOnTab(p.x(), p.y());
  if (tab < 0) return;
  if (e->button() == Qt::LeftButton) emit OnTabClick(this, tab);
  if (e->button() == Qt::RightButton) emit OnTabRightClick(this, tab);
  if (tab >= pages_.Count()) return;
  TFxOfficePage* page = pages_.Get(tab);
  if (e->button() != Qt::MiddleButton && tab != activeIndex_ && page->GetTabEnabled()) {
    ChangeActivePage(tab);
    if (activeIndex_ == tab) StartGlow(page, 20, 1);
    update();
  } else {
    pressedIndex_ = tab;
    update(GetTabsRect());
  }
  if (e->button() == Qt::LeftButton && page->GetTabEnabled() && TabReorder) {
    dragPending_ = true;
    dragStart_ = p;
  }
  // A docked control that drags to dock starts its drag once the mouse has
  // moved the system's distance.
  if (e->button() == Qt::LeftButton) {
    QWidget* client = GetDockClientAt(p);
    if (client && client->property("DragMode").toString() == "dmAutomatic" &&
        client->property("DragKind").toString() == "dkDock") {
      dockDrag_ = client;
      dockDragStart_ = p;
    }
  }
}

void TFxOfficePager::mouseMoveEvent(QMouseEvent* e) {
  QWidget::mouseMoveEvent(e);
  const QPoint p = e->position().toPoint();
  if (dragPending_ && (p - dragStart_).manhattanLength() >= 4) dragging_ = true;
  if (dockDrag_ && !dockDragging_ && (p - dockDragStart_).manhattanLength() >= QApplication::startDragDistance())
    dockDragging_ = true;
  if (!GetTabsRect().contains(p)) return;
  const int t = PtOnTab(p.x(), p.y());
  if (t >= 0 && t != hotIndex_) {
    if (pressedIndex_ >= 0) pressedIndex_ = -1;
    if (hotIndex_ >= 0 && hotIndex_ < pages_.Count()) StartGlow(pages_.Get(hotIndex_), -20, 0);
    hotIndex_ = -1;
    if (pages_.Get(t)->GetTabEnabled()) {
      hotIndex_ = t;
      StartGlow(pages_.Get(t), 20, 0);
    }
    update();
    if (t != hintIndex_) {
      hintIndex_ = t;
      QToolTip::hideText();
    }
  } else if (t < 0) {
    if (hotIndex_ >= 0) {
      pressedIndex_ = -1;
      if (hotIndex_ < pages_.Count()) StartGlow(pages_.Get(hotIndex_), -20, 0);
      hotIndex_ = -1;
      update(GetTabsRect());
    }
    if (hintIndex_ != -1) QToolTip::hideText();
    hintIndex_ = -1;
  }
}

void TFxOfficePager::mouseReleaseEvent(QMouseEvent* e) {
  QWidget::mouseReleaseEvent(e);
  const QPoint p = e->position().toPoint();
  if (pressedIndex_ >= 0) {
    pressedIndex_ = -1;
    update(GetTabsRect());
  }
  if (dockDragging_ && dockDrag_) {
    // Dropped over the pager it stays docked (its page goes to the end);
    // anywhere else it floats there.
    QWidget* client = dockDrag_;
    dockDrag_ = nullptr;
    dockDragging_ = dragging_ = dragPending_ = false;
    const QPoint global = e->globalPosition().toPoint();
    QRect dockRect;
    if (DockOver(client, global, dockRect))
      DockClient(client);
    else
      UndockClient(client, global);
    return;
  }
  dockDrag_ = nullptr;
  dockDragging_ = false;
  if (dragging_) DragDrop(this, p);
  dragging_ = dragPending_ = false;
  if (!GetTabsRect().contains(p)) return;
  const int t = PtOnTab(p.x(), p.y());
  if (t >= 0 && PtOnCheckBox(t, p.x(), p.y())) {
    TFxOfficePage* page = pages_.Get(t);
    page->SetChecked(!page->GetChecked());
    emit OnTabCheckBoxClick(this, t);
    InvalidateTab(t);
  }
}

void TFxOfficePager::mouseDoubleClickEvent(QMouseEvent* e) {
  QWidget::mouseDoubleClickEvent(e);
  const QPoint p = e->position().toPoint();
  // A docked control floats where it is.
  if (QWidget* client = GetDockClientAt(p)) UndockClient(client, client->mapToGlobal(QPoint(0, 0)));
  if (!GetTabsRect().contains(p)) return;
  const int t = PtOnTab(p.x(), p.y());
  if (t >= 0) emit OnTabDblClick(this, t);
}

void TFxOfficePager::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  hintIndex_ = -1;
  QRect area = GetTabsArea();
  switch (tabPosition_) {
    case tpTop: area.setBottom(area.bottom() - 4); break;
    case tpBottom: area.setTop(area.top() + 4); break;
    case tpLeft: area.setRight(area.right() - 4); break;
    case tpRight: area.setLeft(area.left() + 4); break;
  }
  // Onto a child inside the strip, such as a close button: the tab stays hot.
  if (area.contains(mapFromGlobal(QCursor::pos()))) return;
  if (hotIndex_ >= 0 && hotIndex_ == activeIndex_) {
    hotIndex_ = -1;
    update();
  } else if (hotIndex_ >= 0 && hotIndex_ < pages_.Count()) {
    StartGlow(pages_.Get(hotIndex_), -20, 0);
    hotIndex_ = -1;
    update(GetTabsRect());
  }
}

// ---- keyboard, accelerators and shortcut hints

void TFxOfficePager::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Tab:
      focusNextChild();
      return;
    case Qt::Key_Escape:
      HideShortCutHints();
      return;
    case Qt::Key_Left:
    case Qt::Key_Up:
      HideShortCutHints();
      SelectNextPage(false);
      return;
    case Qt::Key_Right:
    case Qt::Key_Down:
      HideShortCutHints();
      SelectNextPage(true);
      return;
    default: break;
  }
  if ((e->modifiers() & Qt::AltModifier) && !e->text().isEmpty() && DialogChar(e->text().at(0))) return;
  if (hintsShown_ && !e->text().isEmpty()) {
    typedPrefix_ += e->text().toUpper();
    bool match = false;
    for (int i = 0; i < pages_.Count(); ++i) {
      TFxOfficePage* page = pages_.Get(i);
      if (page->ShortCutHint.compare(typedPrefix_, Qt::CaseInsensitive) == 0) {
        HideShortCutHints();
        SetActivePageIndex(i);
        match = true;
        break;
      }
      if (!page->ShortCutHint.isEmpty() && !page->ShortCutHint.startsWith(typedPrefix_, Qt::CaseInsensitive)) {
        if (page->shortCutHintWindow_) {
          delete page->shortCutHintWindow_.data();
          page->shortCutHintWindow_ = nullptr;
        }
      } else {
        match = true;
      }
    }
    int shown = 0;
    for (int i = 0; i < pages_.Count(); ++i)
      if (auto* w = pages_.Get(i)->shortCutHintWindow_.data(); w && w->isVisible()) ++shown;
    if (shown == 0) hintsShown_ = false;
    if (!match) QApplication::beep();
    return;
  }
  QWidget::keyPressEvent(e);
}

bool TFxOfficePager::DialogChar(QChar ch) {
  if (!isEnabled() || !isVisible()) return false;
  for (int i = 0; i < pages_.Count(); ++i) {
    const QString text = pages_.Get(i)->TabCaption();
    for (int k = 0; k + 1 < text.size(); ++k) {
      if (text[k] != '&') continue;
      if (text[k + 1] == '&') {
        ++k;
        continue;
      }
      if (text[k + 1].toUpper() == ch.toUpper() && IsTabVisible(i)) {
        SetActivePageIndex(i);
        return true;
      }
      break;
    }
  }
  return false;
}

void TFxOfficePager::ShowShortCutHintsNow() {
  if (!ShowShortCutHints) return;
  for (int i = 0; i < pages_.Count(); ++i) {
    TFxOfficePage* page = pages_.Get(i);
    if (!page->shortCutHintWindow_) page->shortCutHintWindow_ = new TShortCutHintWindow(this);
    TShortCutHintWindow* w = page->shortCutHintWindow_;
    w->hide();
    w->SetCaption(page->ShortCutHint);
    QRect t = GetTabRect(i);
    QPoint p = mapToGlobal(t.topLeft());
    switch (page->ShortCutHintPos) {
      case shpLeft: w->move(p.x() - w->width() / 2, p.y() + (t.height() - w->height()) / 2); break;
      case shpTop: w->move(p.x() + (t.width() - w->width()) / 2, p.y() - w->height() / 2); break;
      case shpRight: w->move(p.x() + t.width() - w->width() / 2, p.y() + (t.height() - w->height()) / 2); break;
      case shpBottom: w->move(p.x() + (t.width() - w->width()) / 2, p.y() + t.height() - w->height() / 2); break;
      default: break;
    }
    w->show();
  }
  hintsShown_ = true;
  typedPrefix_.clear();
  // Moving, resizing or clicking the window hides the hints: watch it
  // without taking its events from anybody else.
  if (!hookedForm_ && window() != this) {
    hookedForm_ = window();
    hookedForm_->installEventFilter(this);
  }
}

void TFxOfficePager::HideShortCutHints() {
  for (int i = 0; i < pages_.Count(); ++i) {
    TFxOfficePage* page = pages_.Get(i);
    if (page->shortCutHintWindow_) {
      delete page->shortCutHintWindow_.data();
      page->shortCutHintWindow_ = nullptr;
    }
  }
  hintsShown_ = false;
  UnhookForm();
}

void TFxOfficePager::UnhookForm() {
  // Removing our own filter leaves any other filter of the window in place.
  if (hookedForm_) hookedForm_->removeEventFilter(this);
  hookedForm_ = nullptr;
}

bool TFxOfficePager::eventFilter(QObject* watched, QEvent* event) {
  if (watched != hookedForm_ && DockNotification(watched, event)) return true;
  if (watched == hookedForm_) {
    switch (event->type()) {
      case QEvent::Resize:
      case QEvent::Move:
      case QEvent::MouseButtonPress:
      case QEvent::WindowStateChange:
        // Let the window handle it first, then drop the hints.
        QMetaObject::invokeMethod(this, [this] { HideShortCutHints(); }, Qt::QueuedConnection);
        break;
      default: break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFxOfficePager::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  ShowShortCutHintsNow();
  update(GetTabsRect());
}

void TFxOfficePager::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  if (hintsShown_) HideShortCutHints();
  update(GetTabsRect());
}

bool TFxOfficePager::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    if (ShowTabHint && hintIndex_ >= 0 && hintIndex_ < pages_.Count()) {
      auto* help = static_cast<QHelpEvent*>(e);
      QToolTip::showText(help->globalPos(), pages_.Get(hintIndex_)->TabHint, this);
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  if (e->type() == QEvent::ParentChange && parentWidget()) SetReady();
  return QWidget::event(e);
}
