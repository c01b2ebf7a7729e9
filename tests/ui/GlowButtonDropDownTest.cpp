// The glow button's drop-down part, sizing, glyph layouts, image lists,
// actions, dialog keys, transparency and the shortcut-hint window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "ui/FxGlowButton.h"

namespace {

QImage Solid(QColor c, int w = 16, int h = 16) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(c);
  return img;
}

class GlowExtras : public testing::Test {
protected:
  void SetUp() override {
    parent_ = std::make_unique<QWidget>();
    parent_->resize(300, 120);
    button_ = new TFxGlowButton(parent_.get());
    button_->move(10, 10);
    button_->OnClick = [this](TFxCustomGlowButton*) { ++clicks_; };
    button_->PopupMenuAt = [this](QMenu* menu, const QPoint& at) {
      popups_.push_back(at);
      lastMenu_ = menu;
    };
    parent_->show();
  }
  void Click(QPoint at) { QTest::mouseClick(button_, Qt::LeftButton, Qt::NoModifier, at); }
  std::unique_ptr<QWidget> parent_;
  TFxGlowButton* button_ = nullptr;
  int clicks_ = 0;
  std::vector<QPoint> popups_;
  QMenu* lastMenu_ = nullptr;
};

TEST_F(GlowExtras, SplitDropDownOpensOnlyFromItsPart) {
  QMenu menu;
  button_->SetDropDownButton(true);
  button_->SetDropDownMenu(&menu);
  int dropDowns = 0;
  button_->OnDropDown = [&](TFxCustomGlowButton*) { ++dropDowns; };
  const int w = button_->width();
  Click(QPoint(w - 13, 20));
  ASSERT_EQ(popups_.size(), 1u);
  EXPECT_EQ(lastMenu_, &menu);
  EXPECT_EQ(popups_[0], button_->mapToGlobal(QPoint(0, button_->height())));  // below the button
  EXPECT_EQ(dropDowns, 1);
  EXPECT_EQ(clicks_, 0);
  Click(QPoint(w - 14, 20));
  EXPECT_EQ(popups_.size(), 1u);
  EXPECT_EQ(clicks_, 1);
  // Opening to the right, and from the keyboard.
  button_->SetDropDownDirection(ddRight);
  QTest::keyClick(button_, Qt::Key_F4);
  ASSERT_EQ(popups_.size(), 2u);
  EXPECT_EQ(popups_[1], button_->mapToGlobal(QPoint(button_->width(), 0)));
  // Without the split the whole button opens the menu.
  button_->SetDropDownSplit(false);
  Click(QPoint(10, 20));
  EXPECT_EQ(popups_.size(), 3u);
  EXPECT_EQ(clicks_, 1);
}

TEST_F(GlowExtras, DropDownArrowIsDrawnInItsPart) {
  button_->SetDropDownButton(true);
  QImage img = button_->RenderButton(0xFFFFFFFF);
  // The arrow's 5-pixel top row, centred in the last 14 pixels.
  const int w = button_->width(), h = button_->height();
  const int ax = w - 14 + (14 - 5) / 2, ay = (h - 3) / 2 + 1;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(img.pixel(ax + i, ay), 0xFF000000u) << i;
  EXPECT_EQ(img.pixel(ax + 5, ay), 0xFFFFFFFFu);  // its white end
  EXPECT_EQ(img.pixel(ax + 2, ay + 2), 0xFF000000u);
  button_->setEnabled(false);
  img = button_->RenderButton(0xFFFFFFFF);
  EXPECT_EQ(img.pixel(ax + 2, ay + 2), 0xFF808080u);
}

TEST_F(GlowExtras, AutoSizeFollowsTheContent) {
  button_->SetCaption("A much longer caption than fits");
  button_->SetWordWrap(false);
  button_->SetAutoSize(true);
  const QSize content = button_->ContentSize();
  ASSERT_GT(content.width(), 60);
  EXPECT_EQ(button_->width(), 3 * 2 + content.width() + 2 * 1 + 2);
  EXPECT_EQ(button_->height(), 2 * 2 + content.height() + 2 * 1);
  const int before = button_->width();
  button_->SetDropDownButton(true);
  EXPECT_EQ(button_->width(), before + 14);
  button_->SetMarginHorz(5);
  EXPECT_EQ(button_->width(), before + 14 + 8);
}

TEST_F(GlowExtras, ImageListsPerState) {
  TImageList normal, hot, disabled;
  normal.Add(Solid(Qt::red));
  hot.Add(Solid(Qt::green));
  disabled.Add(Solid(Qt::blue));
  button_->SetImages(&normal);
  button_->SetHotImages(&hot);
  button_->SetImageIndex(0);
  button_->resize(60, 40);
  const QPoint centre(30, 20);  // a glyph without caption is centred
  EXPECT_EQ(button_->RenderButton(0xFFFFFFFF).pixel(centre), QColor(Qt::red).rgb());
  QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
  QApplication::sendEvent(button_, &enter);
  EXPECT_EQ(button_->RenderButton(0xFFFFFFFF).pixel(centre), QColor(Qt::green).rgb());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(button_, &leave);
  button_->setEnabled(false);
  QRgb grey = button_->RenderButton(0xFFFFFFFF).pixel(centre);
  EXPECT_EQ(qRed(grey), qGreen(grey));  // the normal image, greyed
  EXPECT_EQ(qGreen(grey), qBlue(grey));
  button_->SetDisabledImages(&disabled);
  EXPECT_EQ(button_->RenderButton(0xFFFFFFFF).pixel(centre), QColor(Qt::blue).rgb());
  // An index outside the list draws nothing.
  button_->setEnabled(true);
  button_->SetImageIndex(3);
  EXPECT_NE(button_->RenderButton(0xFFFFFFFF).pixel(centre), QColor(Qt::red).rgb());
}

TEST_F(GlowExtras, GlyphLayoutsPlaceTheGlyph) {
  TImageList list;
  list.Add(Solid(Qt::red));
  button_->SetImages(&list);
  button_->SetImageIndex(0);
  button_->SetCaption("Go");
  button_->resize(120, 60);
  auto redBox = [&] {
    QImage img = button_->RenderButton(0xFFFFFFFF);
    QRect box;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixel(x, y) == QColor(Qt::red).rgb()) box |= QRect(x, y, 1, 1);
    return box;
  };
  struct Case {
    TButtonLayout layout;
    std::function<bool(const QRect&)> where;
  } cases[] = {
      {blGlyphLeft, [](const QRect& r) { return r.left() < 50 && std::abs(r.center().y() - 30) <= 2; }},
      {blGlyphRight, [](const QRect& r) { return r.left() > 60 && std::abs(r.center().y() - 30) <= 2; }},
      {blGlyphTop, [](const QRect& r) { return r.top() < 25 && std::abs(r.center().x() - 60) <= 2; }},
      {blGlyphBottom, [](const QRect& r) { return r.top() > 25 && std::abs(r.center().x() - 60) <= 2; }},
      {blGlyphRightAdjusted, [](const QRect& r) { return r.right() >= 100; }},
      {blGlyphTopAdjusted, [](const QRect& r) { return r.top() <= 3; }},
  };
  for (const Case& c : cases) {
    button_->SetLayout(c.layout);
    QRect box = redBox();
    EXPECT_EQ(box.size(), QSize(16, 16)) << c.layout;
    EXPECT_TRUE(c.where(box)) << c.layout << " at " << box.x() << "," << box.y();
  }
}

TEST_F(GlowExtras, ActionDrivesTheButton) {
  QAction action("&Open");
  int triggered = 0;
  QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
  button_->OnClick = nullptr;
  button_->SetAction(&action);
  EXPECT_EQ(button_->Caption(), "&Open");
  action.setEnabled(false);
  EXPECT_FALSE(button_->isEnabled());
  action.setEnabled(true);
  Click(QPoint(20, 20));
  EXPECT_EQ(triggered, 1);
  action.setCheckable(true);
  action.setChecked(true);
  EXPECT_TRUE(button_->GetDown());
  // The accelerator of the caption clicks it.
  EXPECT_TRUE(button_->DialogChar('o'));
  EXPECT_FALSE(button_->DialogChar('x'));
}

TEST(GlowDialogKeys, EnterAndEscapeReachDefaultAndCancel) {
  QDialog dialog;
  auto* edit = new QLineEdit(&dialog);
  auto* ok = new TFxGlowButton(&dialog);
  auto* cancel = new TFxGlowButton(&dialog);
  ok->move(0, 40), cancel->move(110, 40);
  int oks = 0, cancels = 0;
  ok->OnClick = [&](TFxCustomGlowButton*) { ++oks; };
  cancel->OnClick = [&](TFxCustomGlowButton*) { ++cancels; };
  ok->SetDefault(true);
  cancel->SetCancel(true);
  cancel->SetModalResult(QDialog::Rejected);
  dialog.show();
  edit->setFocus();
  EXPECT_TRUE(ok->DefaultActive());
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_EQ(oks, 1);
  QTest::keyClick(&dialog, Qt::Key_Return, Qt::ShiftModifier);  // shifted: not a dialog key
  EXPECT_EQ(oks, 1);
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  // A non-default button holds the default role while it has the focus.
  ok->SetDefault(false);
  cancel->SetTabStop(true);
  cancel->setFocus();
  QApplication::setActiveWindow(&dialog);
  cancel->setFocus();
  if (QApplication::focusWidget() == cancel) EXPECT_FALSE(ok->DefaultActive());
}

TEST_F(GlowExtras, ParentShowsAtCornersAndThroughATransparentButton) {
  QPalette pal = parent_->palette();
  pal.setColor(QPalette::Window, QColor(200, 0, 0));
  parent_->setPalette(pal);
  parent_->setAutoFillBackground(true);
  const QRgb parentColour = QColor(200, 0, 0).rgb();
  QImage img = button_->RenderButton(0xFF0000FF);
  EXPECT_EQ(img.pixel(0, 0), parentColour);
  EXPECT_EQ(img.pixel(button_->width() - 1, button_->height() - 1), parentColour);
  EXPECT_EQ(img.pixel(50, 5), 0xFFFFFFFFu);  // the face itself
  button_->SetRounded(false);
  EXPECT_EQ(button_->RenderButton(0xFF0000FF).pixel(0, 0), QColor(0xC0, 0xC0, 0xC0).rgb());  // square border
  // At rest a transparent button draws no face: the parent shows through.
  button_->SetTransparent(true);
  EXPECT_EQ(button_->RenderButton(0xFF0000FF).pixel(50, 5), parentColour);
  QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
  QApplication::sendEvent(button_, &enter);
  EXPECT_NE(button_->RenderButton(0xFF0000FF).pixel(50, 5), parentColour);
}

TEST_F(GlowExtras, ShortCutHintWindowTakesTheStyleColours) {
  button_->ShortCutHint = "K";
  button_->ShowShortCutHint();
  TShortCutHintWindow* hint = button_->ShortCutHintWindow();
  ASSERT_TRUE(hint);
  EXPECT_EQ(hint->Caption(), "K");
  EXPECT_GE(hint->width(), QFontMetrics(hint->font()).horizontalAdvance("O") + 8);
  button_->SetComponentStyle(1);
  EXPECT_EQ(button_->Appearance().GetColor(), 0xE6E9E2);
  EXPECT_EQ(hint->ColorTo, 0xE6E9E2);
  QImage img = hint->Render();
  QRgb top = img.pixel(img.width() / 2, 1), bottom = img.pixel(img.width() / 2, img.height() - 2);
  EXPECT_GT(qRed(top), qRed(bottom) - 1);  // white at the top towards the style colour
  EXPECT_EQ(img.pixel(0, img.height() / 2), QColor(0x80, 0x80, 0x80).rgb());  // the frame
  button_->SetComponentStyle(8);  // custom: colours stay
  EXPECT_EQ(button_->Appearance().GetColor(), 0xE6E9E2);
  button_->HideShortCutHint();
  EXPECT_FALSE(hint->isVisible());
}

}  // namespace
