#include "ui/FxOfficePager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "ui/FxOfficePagerStylers.h"

namespace {

// A window with a pager of n pages captioned "Doc0", "Doc1", ... and a line
// edit after it in the focus chain.
class PagerTest : public testing::Test {
protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(640, 240);
    pager_ = new TFxOfficePager(window_.get());
    pager_->setGeometry(0, 0, 600, 200);
    next_ = new QLineEdit(window_.get());
    next_->setGeometry(0, 205, 100, 20);
    window_->show();
  }
  void AddPages(int n) {
    for (int i = 0; i < n; ++i) {
      auto* page = new TFxOfficePage(pager_);
      page->SetCaption(QString("Doc%1").arg(pages_.size()));
      pager_->AddPage(page);
      pages_.push_back(page);
    }
  }
  // Every notification in the order it came.
  void Record() {
    QObject::connect(pager_, &TFxOfficePager::OnChange, [this](TFxOfficePager* p) {
      log_.push_back("change " + std::to_string(p->GetActivePageIndex()));
    });
    QObject::connect(pager_, &TFxOfficePager::OnClosedPage,
                     [this](TFxOfficePager*, int i) { log_.push_back("closed " + std::to_string(i)); });
    pager_->OnChanging = [this](TFxOfficePager*, int from, int to, bool& allow) {
      log_.push_back("changing " + std::to_string(from) + ">" + std::to_string(to));
      allow = allowChange_;
    };
  }
  void ClickTab(int index, Qt::MouseButton button = Qt::LeftButton) {
    QRect r = pager_->GetTabRect(index);
    ASSERT_GE(r.left(), 0) << "tab " << index << " is not shown";
    QTest::mouseClick(pager_, button, Qt::NoModifier, r.center());
  }
  std::unique_ptr<QWidget> window_;
  TFxOfficePager* pager_ = nullptr;
  QLineEdit* next_ = nullptr;
  std::vector<QPointer<TFxOfficePage>> pages_;
  std::vector<std::string> log_;
  bool allowChange_ = true;
};

using Log = std::vector<std::string>;

TEST_F(PagerTest, NewPagerAndAddedPages) {
  EXPECT_EQ(pager_->GetPageCount(), 0);
  EXPECT_EQ(pager_->GetActivePageIndex(), -1);
  EXPECT_EQ(pager_->GetActivePage(), nullptr);
  EXPECT_EQ(pager_->Version(), "1.7.1.4");
  // Without a styler of its own the pager shows the 2007 blue scheme.
  EXPECT_EQ(pager_->CurrentStyler()->TabAppearance().BackGround().GetColor(), 0xFFDBBF);
  auto* page = new TFxOfficePage(pager_);
  EXPECT_TRUE(page->GetTabVisible());
  EXPECT_TRUE(page->GetTabEnabled());
  EXPECT_TRUE(page->GetShowClose());
  EXPECT_EQ(page->GetImageIndex(), -1);
  EXPECT_EQ(page->GetPageIndex(), -1);
  EXPECT_EQ(page->ShortCutHintPos, shpTop);
  delete page;

  Record();
  AddPages(3);
  for (auto& p : pages_) EXPECT_FALSE(p->isVisible());
  EXPECT_EQ(pager_->GetActivePageIndex(), -1);
  QSignalSpy changed(pager_, &TFxOfficePager::OnChange);
  pager_->SetActivePageIndex(2);
  EXPECT_EQ(log_, (Log{"changing -1>2", "change 2"}));
  EXPECT_EQ(changed.count(), 1);
  EXPECT_TRUE(pages_[2]->isVisible());
  EXPECT_EQ(pager_->GetActivePage(), pages_[2]);
  EXPECT_EQ(pages_[2]->geometry(), pager_->GetPageRect());
  EXPECT_THROW(pager_->GetPage(3), EListError);
}

TEST_F(PagerTest, APageMovesBetweenPagers) {
  AddPages(2);
  pager_->SetActivePageIndex(1);
  TFxOfficePager other(window_.get());
  pages_[1]->SetFxOfficePager(&other);
  EXPECT_EQ(pager_->GetPageCount(), 1);
  EXPECT_EQ(pager_->GetActivePage(), pages_[0]);
  EXPECT_EQ(other.GetPageCount(), 1);
  EXPECT_EQ(pages_[1]->parentWidget(), &other);
  EXPECT_EQ(pages_[1]->GetPageIndex(), 0);
  other.AddPage(pages_[0]);
  EXPECT_EQ(pager_->GetPageCount(), 0);
  EXPECT_EQ(pager_->GetActivePageIndex(), -1);
  EXPECT_EQ(other.GetPageCount(), 2);
}

TEST_F(PagerTest, ReselectingRunsAgainOnlyWithOnePage) {
  AddPages(1);
  pager_->SetActivePageIndex(0);
  Record();
  QSignalSpy hidden(pages_[0].data(), &TFxOfficePage::OnHide);
  pager_->SetActivePageIndex(0);
  EXPECT_EQ(log_, (Log{"changing 0>0", "change 0"}));
  EXPECT_EQ(hidden.count(), 1);
  AddPages(1);
  log_.clear();
  pager_->SetActivePageIndex(0);
  EXPECT_TRUE(log_.empty());
}

TEST_F(PagerTest, VetoKeepsTheOldPage) {
  AddPages(2);
  pager_->SetActivePageIndex(0);
  Record();
  allowChange_ = false;
  ClickTab(1);
  EXPECT_EQ(log_, (Log{"changing 0>1"}));
  EXPECT_EQ(pager_->GetActivePageIndex(), 0);
  EXPECT_TRUE(pages_[0]->isVisible());
  EXPECT_FALSE(pages_[1]->isVisible());
}

// The program's settings: close button on each tab, fixed-width tabs, pages
// freed on close.
class ClosingTest : public PagerTest {
protected:
  void SetUp() override {
    PagerTest::SetUp();
    pager_->ButtonSettings().SetCloseButton(true);
    pager_->SetCloseOnTab(true);
    pager_->TabSettings().SetWidth(120);
    pager_->FreeOnClose = true;
    AddPages(3);
  }
  TFxGlowButton* ActiveCloseButton() {
    TFxOfficePage* active = pager_->GetActivePage();
    return active ? active->CloseButton() : nullptr;
  }
};

TEST_F(ClosingTest, ClosingTheMiddleTabByItsButton) {
  pager_->SetActivePageIndex(1);
  Record();
  QPointer<TFxGlowButton> button = ActiveCloseButton();
  ASSERT_TRUE(button);
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(button->GetTag(), 1);
  EXPECT_EQ(button->geometry(), pager_->GetCloseButtonRect(1));
  // Only the active tab has a visible close button.
  EXPECT_FALSE(pages_[0]->CloseButton() && pages_[0]->CloseButton()->isVisible());
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
  // The owner hears of the closed index first, then of the page now active,
  // once, with its settled index.
  EXPECT_EQ(log_, (Log{"closed 1", "change 1"}));
  EXPECT_TRUE(pages_[1].isNull());
  EXPECT_EQ(pager_->GetPageCount(), 2);
  EXPECT_EQ(pager_->GetActivePage(), pages_[2]);
  EXPECT_EQ(pager_->GetActivePageIndex(), 1);
  EXPECT_TRUE(pages_[2]->isVisible());
  // The clicked button outlives its click handler and goes afterwards.
  ASSERT_FALSE(button.isNull());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(button.isNull());
  // The next active tab got its own button, tagged with its new index.
  ASSERT_TRUE(ActiveCloseButton());
  EXPECT_EQ(ActiveCloseButton()->GetTag(), 1);
}

TEST_F(ClosingTest, ClosingTheLastAndTheOnlyTab) {
  pager_->SetActivePageIndex(2);
  Record();
  EXPECT_TRUE(pager_->CloseActivePage());
  EXPECT_EQ(log_, (Log{"closed 2", "change 0"}));
  EXPECT_EQ(pager_->GetActivePage(), pages_[0]);
  EXPECT_TRUE(pager_->CloseActivePage());
  EXPECT_TRUE(pager_->CloseActivePage());
  EXPECT_EQ(pager_->GetPageCount(), 0);
  EXPECT_EQ(pager_->GetActivePageIndex(), -1);
  EXPECT_TRUE(pager_->CloseActivePage());  // nothing left to close
}

TEST_F(ClosingTest, RefusedCloseAndClosingWithoutFreeing) {
  pager_->SetActivePageIndex(0);
  Record();
  int asked = 0;
  pager_->OnClosePage = [&](TFxOfficePager*, int index, bool& allow) {
    ++asked;
    EXPECT_EQ(index, 0);
    allow = false;
  };
  EXPECT_FALSE(pager_->CloseActivePage());
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(pager_->GetPageCount(), 3);

  pager_->OnClosePage = nullptr;
  pager_->FreeOnClose = false;
  EXPECT_TRUE(pager_->CloseActivePage());
  EXPECT_EQ(pager_->GetPageCount(), 3);
  EXPECT_EQ(pager_->GetVisTabCount(), 2);
  EXPECT_FALSE(pages_[0]->GetTabVisible());
  EXPECT_EQ(pager_->GetActivePage(), pages_[1]);
  EXPECT_EQ(pager_->GetTabRect(0).left(), -1);
  EXPECT_EQ(log_, (Log{"closed 0", "change 1"}));
}

TEST_F(ClosingTest, FreeingAPageDirectlyAndSwitchingTheButtonOff) {
  pager_->SetActivePageIndex(2);
  Record();
  delete pages_[0].data();  // left of the active page: same page, new index
  EXPECT_EQ(pager_->GetActivePage(), pages_[2]);
  EXPECT_EQ(log_, (Log{"change 1"}));
  delete pages_[2].data();  // the active page itself: the neighbour takes over
  EXPECT_EQ(pager_->GetActivePage(), pages_[1]);
  QPointer<TFxGlowButton> button = ActiveCloseButton();
  ASSERT_TRUE(button);
  pager_->ButtonSettings().SetCloseButton(false);
  EXPECT_EQ(ActiveCloseButton(), nullptr);
  ASSERT_FALSE(button.isNull());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(button.isNull());
}

TEST_F(PagerTest, MovingTabs) {
  AddPages(3);
  pager_->SetActivePageIndex(0);
  QSignalSpy moved(pager_, &TFxOfficePager::OnTabMoved);
  pager_->MoveTab(0, 2);
  EXPECT_EQ(pager_->GetActivePage(), pages_[0]);
  EXPECT_EQ(pager_->GetActivePageIndex(), 2);
  ASSERT_EQ(moved.count(), 1);
  EXPECT_EQ(moved[0][1].toInt(), 0);
  EXPECT_EQ(moved[0][2].toInt(), 2);
  pages_[2]->SetPageIndex(5);  // outside the list: ignored
  EXPECT_EQ(moved.count(), 1);
  // pages_[2] sits at index 1 now; PageIndex 0 moves it to the front.
  pages_[2]->SetPageIndex(0);
  ASSERT_EQ(moved.count(), 2);
  EXPECT_EQ(moved[1][1].toInt(), 1);
  EXPECT_EQ(pager_->GetPage(0), pages_[2]);
}

TEST_F(PagerTest, DraggingATabReordersWhenAllowed) {
  AddPages(3);
  pager_->TabReorder = true;
  pager_->SetActivePageIndex(0);
  QSignalSpy moved(pager_, &TFxOfficePager::OnTabMoved);
  QPoint from = pager_->GetTabRect(0).center(), to = pager_->GetTabRect(2).center();
  QTest::mousePress(pager_, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(pager_, to);
  QTest::mouseRelease(pager_, Qt::LeftButton, Qt::NoModifier, to);
  ASSERT_EQ(moved.count(), 1);
  EXPECT_EQ(moved[0][2].toInt(), 2);
  EXPECT_EQ(pager_->GetPage(2), pages_[0]);
}

// Docking: a window docked into the pager becomes a page of its own that
// it fills; a double click on its tab or a drag of the tab off the pager
// floats it again.
class DockingTest : public PagerTest {
protected:
  void SetUp() override {
    PagerTest::SetUp();
    pager_->DockSite = true;
    AddPages(1);
    pager_->SetActivePageIndex(0);
    Record();
    QObject::connect(pager_, &TFxOfficePager::OnDockDrop,
                     [this](TFxOfficePager*, QWidget* c) { log_.push_back("dock " + c->windowTitle().toStdString()); });
    QObject::connect(pager_, &TFxOfficePager::OnUnDock, [this](TFxOfficePager*, QWidget* c) {
      log_.push_back("undock " + c->windowTitle().toStdString());
    });
    QObject::connect(pager_, &TFxOfficePager::OnTabDblClick,
                     [this](TFxOfficePager*, int i) { log_.push_back("dblclick " + std::to_string(i)); });
    form_ = new QWidget;
    form_->setWindowTitle("Tools");
    form_->setAutoFillBackground(true);
    QPalette red = form_->palette();
    red.setColor(QPalette::Window, Qt::red);
    form_->setPalette(red);
    form_->resize(150, 90);
    form_->show();
  }
  void TearDown() override {
    delete form_.data();  // floating, or already gone with its page
  }
  QRgb PageCentre() { return window_->grab().toImage().pixel(pager_->GetPageRect().center()); }
  QPointer<QWidget> form_;
};

TEST_F(DockingTest, ADockedWindowBecomesAPageThatItFills) {
  const QRgb empty = PageCentre();
  ASSERT_TRUE(pager_->DockClient(form_));
  EXPECT_EQ(log_, (Log{"changing 0>1", "change 1", "dock Tools"}));
  ASSERT_EQ(pager_->GetPageCount(), 2);
  TFxOfficePage* page = pager_->GetPage(1);
  EXPECT_EQ(page->GetCaption(), "Tools") << "a window's title becomes the caption";
  EXPECT_FALSE(form_->isWindow());
  EXPECT_EQ(form_->parentWidget(), page);
  EXPECT_EQ(form_->geometry(), page->rect());
  EXPECT_EQ(pager_->GetPageOfDockClient(form_), page);
  EXPECT_EQ(pager_->GetDockClientAt(pager_->GetTabRect(1).center()), form_.data());
  EXPECT_EQ(pager_->GetDockClientAt(pager_->GetTabRect(0).center()), nullptr);
  EXPECT_EQ(PageCentre(), QColor(Qt::red).rgb());
  EXPECT_NE(empty, PageCentre());
  // It keeps filling the page as the pager grows.
  pager_->resize(620, 230);
  EXPECT_EQ(form_->geometry(), page->rect());
  // Title and visibility follow the control.
  form_->setWindowTitle("Tool box");
  EXPECT_EQ(page->GetCaption(), "Tool box");
  form_->hide();
  EXPECT_FALSE(page->GetTabVisible());
  form_->show();
  EXPECT_TRUE(page->GetTabVisible());
  // Docking it again moves its page to the end.
  AddPages(1);
  log_.clear();
  ASSERT_TRUE(pager_->DockClient(form_));
  EXPECT_EQ(pager_->GetPage(2), page);
  EXPECT_EQ(pager_->GetPageCount(), 3);
  EXPECT_EQ(log_, (Log{"dock Tool box"}));
  // A pager that is no dock site takes nothing and shows no client.
  pager_->DockSite = false;
  EXPECT_EQ(pager_->GetDockClientAt(pager_->GetTabRect(2).center()), nullptr);
  QWidget other;
  EXPECT_FALSE(pager_->DockClient(&other));
  EXPECT_EQ(pager_->GetPageCount(), 3);
}

TEST_F(DockingTest, AControlThatIsNoWindowTakesItsTextCutAtALineBreak) {
  auto* edit = new QLineEdit(window_.get());
  edit->hide();
  ASSERT_TRUE(pager_->DockClient(edit));
  TFxOfficePage* page = pager_->GetPageOfDockClient(edit);
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(page->GetTabVisible()) << "a hidden control's tab is hidden";
  EXPECT_EQ(pager_->GetActivePageIndex(), 0) << "and it is not selected";
  EXPECT_TRUE(page->GetCaption().isEmpty());
  edit->setWindowTitle("First line\nSecond line");
  EXPECT_EQ(page->GetCaption(), "First line");
}

TEST_F(DockingTest, ADoubleClickOnTheTabFloatsTheControl) {
  ASSERT_TRUE(pager_->DockClient(form_));
  log_.clear();
  const QPoint tab = pager_->GetTabRect(1).center();
  QTest::mouseDClick(pager_, Qt::LeftButton, Qt::NoModifier, tab);
  EXPECT_EQ(log_, (Log{"changing 1>0", "change 0", "undock Tools"}));
  EXPECT_EQ(pager_->GetPageCount(), 1);
  ASSERT_FALSE(form_.isNull());
  EXPECT_TRUE(form_->isWindow());
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->size(), QSize(pager_->GetPageRect().size()));
  EXPECT_EQ(pager_->GetPageOfDockClient(form_), nullptr);
  EXPECT_NE(PageCentre(), QColor(Qt::red).rgb());
  // A double click on a tab without a docked control only reports itself.
  log_.clear();
  QTest::mouseDClick(pager_, Qt::LeftButton, Qt::NoModifier, pager_->GetTabRect(0).center());
  EXPECT_EQ(log_, (Log{"dblclick 0"}));
}

TEST_F(DockingTest, DraggingTheTabOffThePagerFloatsItThere) {
  ASSERT_TRUE(pager_->DockClient(form_));
  AddPages(1);
  const QPoint tab = pager_->GetTabRect(1).center();
  // Without the drag properties the tab does not drag the control.
  QTest::mousePress(pager_, Qt::LeftButton, Qt::NoModifier, tab);
  QTest::mouseMove(pager_, tab + QPoint(0, 400));
  EXPECT_EQ(pager_->DockDragClient(), nullptr);
  QTest::mouseRelease(pager_, Qt::LeftButton, Qt::NoModifier, tab + QPoint(0, 400));
  EXPECT_EQ(pager_->GetPageOfDockClient(form_), pager_->GetPage(1));

  form_->setProperty("DragMode", "dmAutomatic");
  form_->setProperty("DragKind", "dkDock");
  // Dropped on the pager it stays docked; its page goes to the end.
  QTest::mousePress(pager_, Qt::LeftButton, Qt::NoModifier, tab);
  QTest::mouseMove(pager_, tab + QPoint(1, 0));
  EXPECT_EQ(pager_->DockDragClient(), nullptr) << "not before the system's distance";
  QTest::mouseMove(pager_, tab + QPoint(0, 60));
  EXPECT_EQ(pager_->DockDragClient(), form_.data());
  QRect dockRect;
  EXPECT_TRUE(pager_->DockOver(form_, pager_->mapToGlobal(tab + QPoint(0, 60)), dockRect));
  EXPECT_EQ(dockRect, QRect(pager_->mapToGlobal(QPoint(0, 0)), pager_->size()));
  log_.clear();
  QTest::mouseRelease(pager_, Qt::LeftButton, Qt::NoModifier, tab + QPoint(0, 60));
  EXPECT_EQ(pager_->GetPage(2), pager_->GetPageOfDockClient(form_));
  EXPECT_EQ(log_, (Log{"dock Tools"}));

  // Dropped below the pager it floats with its corner at the drop point.
  const QPoint last = pager_->GetTabRect(2).center(), drop = last + QPoint(30, 300);
  QTest::mousePress(pager_, Qt::LeftButton, Qt::NoModifier, last);
  QTest::mouseMove(pager_, drop);
  EXPECT_FALSE(pager_->DockOver(form_, pager_->mapToGlobal(drop), dockRect));
  log_.clear();
  QTest::mouseRelease(pager_, Qt::LeftButton, Qt::NoModifier, drop);
  EXPECT_EQ(log_, (Log{"changing 2>0", "change 0", "undock Tools"}));
  ASSERT_FALSE(form_.isNull());
  EXPECT_TRUE(form_->isWindow());
  EXPECT_EQ(form_->pos(), pager_->mapToGlobal(drop));
  EXPECT_EQ(pager_->GetPageCount(), 2);
}

TEST_F(PagerTest, MouseButtonsOnTabs) {
  AddPages(3);
  pages_[2]->SetTabEnabled(false);
  pager_->SetActivePageIndex(0);
  QSignalSpy clicks(pager_, &TFxOfficePager::OnTabClick), rights(pager_, &TFxOfficePager::OnTabRightClick),
      changes(pager_, &TFxOfficePager::OnChange);
  // Middle click selects nothing but marks the tab pressed.
  QRect r = pager_->GetTabRect(1);
  QTest::mousePress(pager_, Qt::MiddleButton, Qt::NoModifier, r.center());
  EXPECT_EQ(pager_->PressedIndex(), 1);
  QTest::mouseRelease(pager_, Qt::MiddleButton, Qt::NoModifier, r.center());
  EXPECT_EQ(pager_->PressedIndex(), -1);
  EXPECT_EQ(pager_->GetActivePageIndex(), 0);
  // The active tab: no change.
  ClickTab(0);
  // A disabled tab reports the click but is not selected.
  ClickTab(2);
  EXPECT_EQ(pager_->GetActivePageIndex(), 0);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_EQ(changes.count(), 0);
  // A right click on another enabled tab selects it.
  ClickTab(1, Qt::RightButton);
  EXPECT_EQ(rights.count(), 1);
  EXPECT_EQ(pager_->GetActivePageIndex(), 1);
  EXPECT_EQ(changes.count(), 1);
  // Hovering marks the hot tab, also without animation.
  pager_->Glow = false;
  QTest::mouseMove(pager_, pager_->GetTabRect(0).center());
  EXPECT_EQ(pager_->HotIndex(), 0);
  EXPECT_FALSE(pages_[0]->GlowTimerRunning());
}

TEST_F(PagerTest, HoverAndClickGlowOfATab) {
  AddPages(2);
  pager_->SetActivePageIndex(0);
  QCursor::setPos(pager_->mapToGlobal(QPoint(300, 150)));  // the pointer rests off the tabs
  QMouseEvent move(QEvent::MouseMove, QPointF(pager_->GetTabRect(1).center()),
                   QPointF(pager_->mapToGlobal(pager_->GetTabRect(1).center())), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(pager_, &move);
  TFxOfficePage* page = pages_[1];
  ASSERT_TRUE(page->GlowTimerRunning());
  EXPECT_EQ(page->GlowMode(), 0);
  for (int expected : {20, 40, 60, 80, 100}) {
    page->GlowTimerTick();
    EXPECT_EQ(page->HoverGlow(), expected);
  }
  // Past full strength with the pointer elsewhere: the fade-out begins.
  page->GlowTimerTick();
  EXPECT_EQ(page->HoverGlow(), 120);
  EXPECT_EQ(pager_->HotIndex(), -1);
  for (int i = 0; i < 7 && page->GlowTimerRunning(); ++i) page->GlowTimerTick();
  EXPECT_FALSE(page->GlowTimerRunning());
  EXPECT_EQ(page->GlowMode(), 2);
  // A click selects the tab and flashes it for six ticks.
  ClickTab(1);
  ASSERT_TRUE(page->GlowTimerRunning());
  EXPECT_EQ(page->GlowMode(), 1);
  for (int i = 0; i < 5; ++i) page->GlowTimerTick();
  EXPECT_EQ(page->ClickGlow(), 100);
  page->GlowTimerTick();
  EXPECT_FALSE(page->GlowTimerRunning());
  EXPECT_EQ(page->ClickGlow(), 0);
}

TEST_F(PagerTest, CheckBoxOnATab) {
  AddPages(2);
  pager_->SetActivePageIndex(0);
  pages_[1]->SetShowCheckBox(true);
  QSignalSpy toggled(pager_, &TFxOfficePager::OnTabCheckBoxClick);
  QRect box = pager_->GetCheckBoxRect(1);
  QRect tab = pager_->GetTabRect(1);
  EXPECT_EQ(box.size(), QSize(15, 15));
  EXPECT_TRUE(tab.contains(box));
  QTest::mouseClick(pager_, Qt::LeftButton, Qt::NoModifier, box.center());
  EXPECT_EQ(toggled.count(), 1);
  EXPECT_TRUE(pages_[1]->GetChecked());
  // Elsewhere on the tab: no toggle.
  QTest::mouseClick(pager_, Qt::LeftButton, Qt::NoModifier, QPoint(tab.right() - 3, tab.center().y()));
  EXPECT_EQ(toggled.count(), 1);
}

TEST_F(PagerTest, KeyboardMovesBetweenTabsAndOn) {
  AddPages(4);
  pages_[2]->SetTabEnabled(false);
  pager_->SetActivePageIndex(0);
  pager_->setFocus();
  QSignalSpy changes(pager_, &TFxOfficePager::OnChange);
  QTest::keyClick(pager_, Qt::Key_Left);  // wraps to the last tab
  EXPECT_EQ(pager_->GetActivePageIndex(), 3);
  QTest::keyClick(pager_, Qt::Key_Up);  // skips the disabled tab
  EXPECT_EQ(pager_->GetActivePageIndex(), 1);
  QTest::keyClick(pager_, Qt::Key_Right);
  EXPECT_EQ(pager_->GetActivePageIndex(), 3);
  QTest::keyClick(pager_, Qt::Key_Down);  // wraps to the first
  EXPECT_EQ(pager_->GetActivePageIndex(), 0);
  EXPECT_EQ(changes.count(), 4);
  // Tab, with or without Ctrl, hands the focus on.
  window_->activateWindow();
  pager_->setFocus();
  QTest::keyClick(pager_, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(window_->focusWidget(), next_);
  pager_->setFocus();
  QTest::keyClick(pager_, Qt::Key_Tab);
  EXPECT_EQ(window_->focusWidget(), next_);
}

TEST_F(PagerTest, AcceleratorSelectsItsTab) {
  AddPages(3);
  pages_[1]->SetCaption("&Report");
  pages_[2]->SetCaption("R&&D");
  pager_->SetActivePageIndex(0);
  EXPECT_FALSE(pager_->DialogChar('D'));  // a doubled ampersand is no accelerator
  QTest::keyClick(pager_, Qt::Key_R, Qt::AltModifier);
  EXPECT_EQ(pager_->GetActivePageIndex(), 1);
  pages_[1]->SetTabVisible(false);
  pager_->SetActivePageIndex(0);
  EXPECT_FALSE(pager_->DialogChar('r'));
}

TEST_F(PagerTest, ShortCutHintsNarrowByTypedPrefix) {
  AddPages(3);
  pages_[0]->ShortCutHint = "A1";
  pages_[1]->ShortCutHint = "A2";
  pages_[2]->ShortCutHint = "B";
  pager_->ShowShortCutHints = true;
  pager_->SetActivePageIndex(0);
  // A filter of somebody else on the window, installed after ours.
  struct Counter : QObject {
    int resizes = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      resizes += e->type() == QEvent::Resize;
      return false;
    }
  } counter;
  pager_->ShowShortCutHintsNow();
  window_->installEventFilter(&counter);
  EXPECT_TRUE(pager_->ShortCutHintsShown());
  QTest::keyClick(pager_, Qt::Key_A);
  EXPECT_TRUE(pager_->ShortCutHintsShown());
  QTest::keyClick(pager_, Qt::Key_2);
  EXPECT_FALSE(pager_->ShortCutHintsShown());
  EXPECT_EQ(pager_->GetActivePageIndex(), 1);
  // Unhooking took only our filter off the window.
  window_->resize(650, 250);
  EXPECT_EQ(counter.resizes, 1);
}

TEST_F(PagerTest, LayoutOfTheStripAndThePage) {
  EXPECT_EQ(pager_->GetTabsArea().topLeft(), QPoint(5, 4));
  EXPECT_EQ(pager_->GetTabsArea().height(), 26);
  EXPECT_EQ(pager_->GetPageRect().top(), 26);
  EXPECT_EQ(pager_->GetPageRect().left(), 1);
  AddPages(3);
  pager_->TabSettings().SetWidth(200);
  QRect t0 = pager_->GetTabRect(0), t1 = pager_->GetTabRect(1);
  EXPECT_EQ(t0, QRect(5, 4, 200, 26));
  EXPECT_EQ(t1.left(), 5 + 200 + 4);
  pages_[1]->SetTabVisible(false);
  EXPECT_EQ(pager_->GetTabRect(1), QRect(QPoint(-1, -1), QPoint(-1, -1)));
  EXPECT_EQ(pager_->GetTabRect(2).left(), t1.left());
  // A tab sized to its caption: margins, caption and the close button.
  pager_->TabSettings().SetWidth(0);
  int plain = pager_->GetTabRect(0).width();
  pager_->ButtonSettings().SetCloseButton(true);
  pager_->SetCloseOnTab(true);
  EXPECT_EQ(pager_->GetTabRect(0).width(), plain + 22);
  pages_[0]->SetCaption(pages_[0]->GetCaption() + " with a longer caption");
  EXPECT_GT(pager_->GetTabRect(0).width(), plain + 22 + 40);
}

TEST_F(PagerTest, TabImagesFromTheImageLists) {
  AddPages(2);
  pager_->SetActivePageIndex(1);
  const int plain = pager_->GetTabRect(0).width();
  TImageList images(12, 12), disabled(12, 12);
  QImage red(12, 12, QImage::Format_ARGB32_Premultiplied), blue = red;
  red.fill(Qt::red), blue.fill(Qt::blue);
  images.Add(red);
  disabled.Add(blue);
  pager_->SetImages(&images);
  EXPECT_EQ(pager_->GetTabRect(0).width(), plain);  // no image index yet
  pages_[0]->SetImageIndex(0);
  pager_->SetImages(&images);
  EXPECT_EQ(pager_->GetTabRect(0).width(), plain + 12 + 2);
  EXPECT_EQ(pager_->GetTabImageSize(0), QSize(12, 12));
  const QRect tab = pager_->GetTabRect(0);
  const QPoint inImage(tab.left() + 4 + 6, tab.center().y());  // after the left margin
  EXPECT_EQ(pager_->RenderPager().pixel(inImage), QColor(Qt::red).rgb());
  pager_->SetDisabledImages(&disabled);
  pages_[0]->SetTabEnabled(false);
  EXPECT_EQ(pager_->RenderPager().pixel(inImage), QColor(Qt::blue).rgb());
}

TEST_F(PagerTest, RectanglesForEveryTabPosition) {
  // 600 x 200, height 26, margins 4, page margin 1, no buttons: the
  // button area's near end lies 6 pixels before the far edge less the margin.
  struct Row {
    TTabPosition position;
    QRect page, area;
    bool alongX;
  } rows[] = {
      {tpTop, QRect(QPoint(1, 26), QPoint(598, 197)), QRect(QPoint(5, 4), QPoint(592, 29)), true},
      {tpBottom, QRect(QPoint(1, 2), QPoint(598, 173)), QRect(QPoint(5, 170), QPoint(592, 195)), true},
      {tpLeft, QRect(QPoint(26, 2), QPoint(598, 197)), QRect(QPoint(4, 5), QPoint(29, 192)), false},
      {tpRight, QRect(QPoint(1, 2), QPoint(573, 197)), QRect(QPoint(570, 5), QPoint(595, 192)), false},
  };
  AddPages(2);
  pager_->TabSettings().SetWidth(60);
  pager_->SetActivePageIndex(1);
  for (const Row& r : rows) {
    pager_->SetTabPosition(r.position);
    SCOPED_TRACE(r.position);
    EXPECT_EQ(pager_->GetPageRect(), r.page);
    EXPECT_EQ(pager_->GetTabsArea(), r.area);
    EXPECT_EQ(pages_[1]->geometry(), r.page);
    QRect t1 = pager_->GetTabRect(1);
    if (r.alongX)
      EXPECT_EQ(t1, QRect(r.area.left() + 64, r.area.top(), 60, 26));
    else
      EXPECT_EQ(t1, QRect(r.area.left(), r.area.top() + 64, 26, 60));
    EXPECT_FALSE(pager_->TabScroller().Visible);
    EXPECT_EQ(pager_->PtOnTab(t1.center().x(), t1.center().y()), 1);
  }
}

TEST_F(PagerTest, ScrollerSwitchesOnForManyTabs) {
  pager_->resize(885, 200);
  pager_->TabSettings().SetWidth(200);
  AddPages(3);
  EXPECT_FALSE(pager_->TabScroller().Visible);
  QRect buttonsBefore = pager_->GetButtonsRect();
  AddPages(7);
  const TPagerTabScroller& s = pager_->TabScroller();
  EXPECT_TRUE(s.Visible);
  EXPECT_GT(s.Max, 0);
  // Two scroll buttons of 20 pixels each widen the button area.
  EXPECT_EQ(pager_->GetButtonsRect().left(), buttonsBefore.left() - 40);
  ASSERT_TRUE(pager_->PrevButton() && pager_->NextButton());
  EXPECT_FALSE(pager_->PrevButton()->isEnabled());
  EXPECT_TRUE(pager_->NextButton()->isEnabled());
  EXPECT_EQ(pager_->NextButton()->geometry(), pager_->GetNextButtonRect());
  // The tabs that fit, then the ones scrolled out.
  for (int i = 0; i < 10; ++i) {
    QRect r = pager_->GetTabRect(i);
    if (r.left() < 0) continue;
    EXPECT_LE(r.right(), pager_->GetButtonsRect().left()) << i;
  }
  EXPECT_EQ(pager_->GetTabRect(9).left(), -1);
  pager_->ScrollPrev();  // at Min: nothing
  EXPECT_EQ(s.Position, 0);
  // Clicking next scrolls by one tab and enables previous.
  QTest::mouseClick(pager_->NextButton(), Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
  EXPECT_EQ(s.Position, 1);
  EXPECT_EQ(pager_->GetTabRect(0).left(), -1);
  EXPECT_EQ(pager_->GetTabRect(1).left(), 5);
  EXPECT_TRUE(pager_->PrevButton()->isEnabled());
  pager_->ScrollLast();
  EXPECT_EQ(s.Position, s.Max);
  EXPECT_GE(pager_->GetTabRect(9).left(), 0);
  // Selecting a tab scrolled out brings it into view.
  pager_->SetActivePageIndex(0);
  EXPECT_EQ(pager_->GetTabRect(0).left(), 5);
  pager_->SetActivePageIndex(9);
  EXPECT_GE(pager_->GetTabRect(9).left(), 0);
}

TEST_F(PagerTest, ManyCaptionedTabsScrollToTheLast) {
  AddPages(300);
  const TPagerTabScroller& s = pager_->TabScroller();
  ASSERT_TRUE(s.Visible);
  pager_->ScrollLast();
  const QRect area = pager_->GetTabsArea();
  QRect last = pager_->GetTabRect(299);
  ASSERT_GE(last.left(), 0);
  EXPECT_LE(last.right(), area.right());
  // Shown from the tab at Position on, packed from the area's start: one
  // more tab would not have fitted.
  EXPECT_EQ(pager_->GetTabRect(s.Max - 1).left(), -1);
  EXPECT_EQ(pager_->GetTabRect(s.Max).left(), area.left());
  const int spare = area.right() - last.right();
  EXPECT_LT(spare, pager_->GetTabRect(s.Max - 1 + 1).width() + 8 + pager_->TabSettings().GetSpacing() + 40);
  // A longer caption of one tab is measured again and moves its neighbours.
  const int m = s.Max;
  QRect before, after;
  ASSERT_TRUE(pager_->LayoutTabs(m, m, before, false));
  pages_[m]->SetCaption(pages_[m]->GetCaption() + "-renamed");
  ASSERT_TRUE(pager_->LayoutTabs(m, m, after, false));
  EXPECT_GT(after.width(), before.width() + 20);
}

TEST_F(PagerTest, OneTabWiderThanTheStripIsStillLaidOut) {
  pager_->TabSettings().SetWidth(900);
  AddPages(1);
  EXPECT_EQ(pager_->TabScroller().Max, 0);
  EXPECT_EQ(pager_->GetTabRect(0).left(), 5);
}

TEST_F(PagerTest, PageListMenu) {
  AddPages(3);
  pages_[1]->SetTabVisible(false);
  pager_->SetActivePageIndex(2);
  pager_->ButtonSettings().SetPageListButton(true);
  ASSERT_TRUE(pager_->PageListButton());
  EXPECT_EQ(pager_->PageListButton()->geometry(), pager_->GetPageListButtonRect());
  // Without a menu the button does nothing.
  QSignalSpy listed(pager_, &TFxOfficePager::OnPageListClick);
  QTest::mouseClick(pager_->PageListButton(), Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
  EXPECT_EQ(listed.count(), 0);
  QMenu menu;
  pager_->PageListMenu = &menu;
  QTest::mouseClick(pager_->PageListButton(), Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
  ASSERT_EQ(listed.count(), 1);
  QPoint below = pager_->mapToGlobal(pager_->GetPageListButtonRect().bottomLeft() + QPoint(0, 1));
  EXPECT_EQ(QPoint(listed[0][1].toInt(), listed[0][2].toInt()), below);
  QList<QAction*> items = menu.actions();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(items[0]->text(), "Doc0");
  EXPECT_EQ(items[1]->text(), "Doc2");
  EXPECT_TRUE(items[1]->isChecked());
  EXPECT_FALSE(items[0]->isChecked());
  items[0]->trigger();
  EXPECT_EQ(pager_->GetActivePageIndex(), 0);
}

TEST_F(PagerTest, StylerLinkFallsBackWhenTheStylerGoes) {
  AddPages(1);
  auto styler = std::make_unique<TFxOfficePagerOfficeStyler>();
  pager_->SetFxOfficePagerStyler(styler.get());
  EXPECT_EQ(pager_->CurrentStyler(), styler.get());
  styler.reset();
  EXPECT_EQ(pager_->GetFxOfficePagerStyler(), nullptr);
  EXPECT_EQ(pager_->CurrentStyler(), pager_->InternalStyler());
}

TEST(PagerSettings, AssignCopiesEveryField) {
  TTabAppearance from, to;
  from.SetGradientSelected(ggRadial);
  from.SetGradientMirrorDisabled(ggDiagonalForward);
  from.SetTextColorSelected(0x112233);
  from.SetTextColorDisabled(0x445566);
  from.SetShadowColor(0x010203);
  from.BackGround().SetColor(0x0A0B0C);
  QFont f("DejaVu Sans");
  f.setPointSize(11);
  from.SetFont(f);
  int changes = 0, fonts = 0;
  to.OnChange = [&] { ++changes; };
  to.OnFontChange = [&] { ++fonts; };
  to.Assign(from);
  EXPECT_EQ(to.GetGradientSelected(), ggRadial);
  EXPECT_EQ(to.GetGradientMirrorDisabled(), ggDiagonalForward);
  EXPECT_EQ(to.GetTextColorSelected(), 0x112233);
  EXPECT_EQ(to.GetTextColorDisabled(), 0x445566);
  EXPECT_EQ(to.GetShadowColor(), 0x010203);
  EXPECT_EQ(to.BackGround().GetColor(), 0x0A0B0C);
  EXPECT_EQ(to.GetFont().pointSize(), 11);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(fonts, 1);
  to.Assign(from);
  EXPECT_EQ(changes, 1);

  TPagerTabSettings a, b;
  b.SetSpacing(9);
  b.SetRounding(3);
  int reports = 0;
  a.OnChange = [&] { ++reports; };
  a.Assign(b);
  EXPECT_EQ(a.GetSpacing(), 9);
  EXPECT_EQ(reports, 2);
  EXPECT_EQ(a.GetStartMargin(), 4);
  EXPECT_TRUE(TPagerTabSettings::IsStoredStartMargin(4));
  EXPECT_FALSE(TPagerTabSettings::IsStoredStartMargin(60));

  TVistaBackground v1, v2;
  int vr = 0;
  v1.OnChange = [&] { ++vr; };
  v1.SetColor(v1.GetColor());
  EXPECT_EQ(vr, 0);
  v2.SetColorMirror(0x123456);
  v1.Assign(v2);
  EXPECT_EQ(v1.GetColorMirror(), 0x123456);
  EXPECT_EQ(vr, 1);
  TGradientBackground g;
  int gr = 0;
  g.OnChange = [&] { ++gr; };
  g.SetColor(g.GetColor());
  g.SetColor(g.GetColor());
  EXPECT_EQ(gr, 2);
}

TEST(PagerSettings, ListAndScrollerBounds) {
  TDbgList<int> list;
  list.Add(1);
  try {
    list.Get(1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index out of bounds in list read access");
  }
  EXPECT_THROW(list.Put(1, 0), EListError);
  TPagerTabScroller s;
  s.SetMax(3);
  s.SetMin(2);
  s.SetMax(1);
  EXPECT_EQ(s.Max, 3);
  s.Position = 2;
  EXPECT_FALSE(s.CanGoBack());
  EXPECT_TRUE(s.CanGoForward());
}

TEST(PagerCaptions, TruncationKeepsWholeCharacters) {
  QFont font("DejaVu Sans");
  font.setPointSize(10);
  // Each unit: an astral character (two UTF-16 units) and a letter with a
  // combining accent.
  QString caption;
  for (int i = 0; i < 20; ++i) caption += QString::fromUtf8("\xF0\x9F\x93\x84" "e\xCC\x81");
  for (int width = 20; width < 200; width += 7) {
    QString cut = GetTruncatedCaptionW(caption, QRect(0, 0, width, 20), true, false, tpTop, true, font);
    ASSERT_TRUE(cut.endsWith("...")) << width;
    QString body = cut.chopped(3);
    // Only whole units survive: no lone surrogate, no accent without its letter.
    EXPECT_EQ(caption.left(body.size()), body);
    ASSERT_FALSE(body.isEmpty() && width > 60) << width;
    EXPECT_EQ(body.size() % 2, 0) << width << " " << body.size();
    if (!body.isEmpty()) {
      EXPECT_FALSE(body.back().isHighSurrogate());
    }
    EXPECT_LT(QFontMetrics(font).horizontalAdvance(cut), width);
  }
  EXPECT_EQ(GetTruncatedCaptionW(caption, QRect(0, 0, 10, 20), true, true, tpTop, true, font), caption);
}

TEST(PagerCaptions, DrawCaptionReportsFailure) {
  QImage none;
  QRect drawn;
  TStatus status = Ok;
  EXPECT_FALSE(DrawCaption(none, 0, QRect(0, 0, 100, 20), drawn, false, false, tpTop, aaAntiAlias, true, true,
                           QFont("DejaVu Sans"), 0, "Caption", &status));
  EXPECT_NE(status, Ok);
  QImage canvas(120, 30, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(0xFFFFFFFF);
  EXPECT_TRUE(DrawCaption(canvas, 0, QRect(0, 0, 120, 30), drawn, false, false, tpTop, aaAntiAlias, true, true,
                          QFont("DejaVu Sans"), 0x000000, "Caption"));
  EXPECT_GT(drawn.width(), 20);
  int dark = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x) dark += qGray(canvas.pixel(x, y)) < 128;
  EXPECT_GT(dark, 20);
}

}  // namespace
