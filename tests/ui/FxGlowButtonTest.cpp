#include <gtest/gtest.h>

#include <QBuffer>
#include <QEnterEvent>
#include <QTest>
#include <functional>

#include "platform/Classes.h"
#include "ui/FxGlowButton.h"

namespace {

TEST(GlowColors, ChangeColorScalesChannels) {
  struct Case {
    TColor color;
    int r, g, b;
    TColor expected;
  } cases[] = {
      {0xF5F0E1, -10, -10, 0, 0xF5D8CA}, {0xFFFFFF, -5, -5, -5, 0xF2F2F2}, {0x000000, -5, -5, -5, 0x000000},
      {0x000000, 10, 10, 10, 0x0A0A0A},  {0x804020, 50, 50, 50, 0x804020}, {0x0A0A0A, -25, -25, -25, 0x080808},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChangeColorRGB(c.color, c.r, c.g, c.b), c.expected) << std::hex << c.color;
  EXPECT_EQ(ChangeColor(0xFFFFFF, -5), 0xF2F2F2);
}

TEST(GlowColors, BlendColorMixesByPercent) {
  EXPECT_EQ(BlendColor(0xFFFFFF, 0x000000, 50), 0x808080);  // 127.5 rounds to 128
  EXPECT_EQ(BlendColor(0x0000FF, 0xFF0000, 60), 0x660099);
  EXPECT_EQ(BlendColor(0x123456, 0x654321, 0), 0x654321);
  EXPECT_EQ(BlendColor(0x123456, 0x654321, -3), 0x654321);
  EXPECT_EQ(BlendColor(clHighlight, 0x000000, 100), clHighlight);  // unresolved
  EXPECT_EQ(BlendColor(clHighlight, 0x000000, 150), clHighlight);
  EXPECT_EQ(BlendColor(clHighlight, clHighlight, 50), ColorToRGB(clHighlight));
}

TEST(GlowAppearance, InitialColoursAreDerivedFromTheHotSet) {
  TGlowButtonAppearance a;
  EXPECT_EQ(a.GetColorDown(), 0xF5D8CA);
  EXPECT_EQ(a.GetColorDownTo(), 0xF9BDA0);
  EXPECT_EQ(a.GetColorMirrorDown(), 0xF5B49C);
  EXPECT_EQ(a.GetColorMirrorDownTo(), 0xFFDFDC);
  EXPECT_EQ(a.GetColorChecked(), 0xF5D8CA);
  EXPECT_EQ(a.GetColorMirrorCheckedTo(), 0xFFDFDC);
  EXPECT_EQ(a.GetColorDisabled(), 0xF2F2F2);
  EXPECT_EQ(a.GetColorMirrorDisabled(), 0xB6B6B6);
  EXPECT_EQ(a.GetBorderColorHot(), 0xFF0000);
  EXPECT_EQ(a.GetGradient(), ggVertical);
  EXPECT_EQ(a.GetGradientMirrorChecked(), ggVertical);
  EXPECT_EQ(a.GetGradientHot(), ggRadial);
  EXPECT_TRUE(a.GetSystemFont());
}

TEST(GlowAppearance, ChangeEventFiresOnlyForRealChanges) {
  TGlowButtonAppearance a, b;
  int changes = 0;
  a.OnChange = [&] { ++changes; };
  a.SetColor(a.GetColor());
  EXPECT_EQ(changes, 0);
  a.Assign(b);
  EXPECT_EQ(changes, 0);
  b.SetColorHot(0x123456);
  b.SetGradientDown(ggDiagonalBackward);
  b.SetSystemFont(false);
  a.Assign(b);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(a.GetColorHot(), 0x123456);
  EXPECT_EQ(a.GetGradientDown(), ggDiagonalBackward);
  EXPECT_FALSE(a.GetSystemFont());
}

// A button whose every state paints one flat colour, so that a pixel tells
// which colours were chosen.
void FlatColours(TGlowButtonAppearance& a) {
  auto set = [](auto setter1, auto setter2, auto setter3, auto setter4, TColor c) {
    setter1(c), setter2(c), setter3(c), setter4(c);
  };
  set([&](TColor c) { a.SetColor(c); }, [&](TColor c) { a.SetColorTo(c); }, [&](TColor c) { a.SetColorMirror(c); },
      [&](TColor c) { a.SetColorMirrorTo(c); }, 0x00FF00);
  set([&](TColor c) { a.SetColorHot(c); }, [&](TColor c) { a.SetColorHotTo(c); },
      [&](TColor c) { a.SetColorMirrorHot(c); }, [&](TColor c) { a.SetColorMirrorHotTo(c); }, 0xFF0000);
  set([&](TColor c) { a.SetColorDown(c); }, [&](TColor c) { a.SetColorDownTo(c); },
      [&](TColor c) { a.SetColorMirrorDown(c); }, [&](TColor c) { a.SetColorMirrorDownTo(c); }, 0x0000FF);
  set([&](TColor c) { a.SetColorChecked(c); }, [&](TColor c) { a.SetColorCheckedTo(c); },
      [&](TColor c) { a.SetColorMirrorChecked(c); }, [&](TColor c) { a.SetColorMirrorCheckedTo(c); }, 0xFF00FF);
  set([&](TColor c) { a.SetColorDisabled(c); }, [&](TColor c) { a.SetColorDisabledTo(c); },
      [&](TColor c) { a.SetColorMirrorDisabled(c); }, [&](TColor c) { a.SetColorMirrorDisabledTo(c); }, 0x00FFFF);
}

constexpr QRgb kNormal = 0xFF00FF00, kHot = 0xFF0000FF, kDown = 0xFFFF0000, kChecked = 0xFFFF00FF,
               kDisabled = 0xFFFFFF00;

class GlowButtonTest : public testing::Test {
protected:
  void SetUp() override {
    parent_ = std::make_unique<QWidget>();
    parent_->resize(300, 100);
    button_ = new TFxGlowButton(parent_.get());
    button_->move(10, 10);
    FlatColours(button_->Appearance());
    button_->OnClick = [this](TFxCustomGlowButton*) { ++clicks_; };
  }
  QRgb Centre() { return button_->grab().toImage().pixel(50, 20); }
  void Enter() {
    QEnterEvent e(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
    QApplication::sendEvent(button_, &e);
  }
  void Leave() {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(button_, &e);
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) button_->GlowTimer();
  }
  std::unique_ptr<QWidget> parent_;
  TFxGlowButton* button_ = nullptr;  // owned by parent_
  int clicks_ = 0;
};

TEST_F(GlowButtonTest, DefaultsOfANewButton) {
  EXPECT_EQ(button_->width(), 100);
  EXPECT_EQ(button_->height(), 41);
  EXPECT_EQ(button_->GetAntiAlias(), aaClearType);
  EXPECT_TRUE(button_->GetRounded());
  EXPECT_EQ(button_->GetSpacing(), 2);
  EXPECT_EQ(button_->GetInitRepeatPause(), 400);
  EXPECT_EQ(button_->GetRepeatPause(), 100);
  EXPECT_EQ(button_->Version(), "1.8.4.7");
  EXPECT_FALSE(button_->GlowTimerRunning());
}

TEST_F(GlowButtonTest, RestingButtonWithDefaultColours) {
  TFxGlowButton plain(parent_.get());
  QImage img = plain.grab().toImage();
  EXPECT_EQ(img.pixel(50, 5), 0xFFFFFFFFu);  // upper half white
  QRgb bottom = img.pixel(50, 39), middle = img.pixel(50, 21);
  EXPECT_NEAR(qRed(bottom), 0xC0, 12);        // lower half runs down to silver
  EXPECT_GT(qRed(middle), 0xF0);              // from white at the middle
}

TEST_F(GlowButtonTest, FadeInAndOutOnHover) {
  Enter();
  EXPECT_TRUE(button_->GlowTimerRunning());
  int expected[] = {20, 40, 60, 80, 100};
  for (int e : expected) {
    button_->GlowTimer();
    EXPECT_EQ(button_->HotBlend(), e);
    EXPECT_TRUE(button_->GlowTimerRunning());
  }
  button_->GlowTimer();
  EXPECT_EQ(button_->HotBlend(), 100);
  EXPECT_FALSE(button_->GlowTimerRunning());
  EXPECT_EQ(Centre(), kHot);

  Leave();
  EXPECT_EQ(button_->HotBlend(), 100);
  EXPECT_TRUE(button_->GlowTimerRunning());
  for (int e : {80, 60, 40, 20, 0}) {
    button_->GlowTimer();
    EXPECT_EQ(button_->HotBlend(), e);
  }
  button_->GlowTimer();
  EXPECT_FALSE(button_->GlowTimerRunning());
  EXPECT_EQ(Centre(), kNormal);
}

TEST_F(GlowButtonTest, HalfwayFadeBlendsHotOverNormal) {
  Enter();
  Ticks(3);  // hot blend 60
  EXPECT_EQ(Centre(), qRgb(0, 102, 153));  // 60 % blue over 40 % green
}

TEST_F(GlowButtonTest, PressFadesTowardsTheDownColours) {
  Enter();
  Ticks(6);
  QTest::mousePress(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsDown);
  EXPECT_EQ(Centre(), kHot);  // down blend 0: still hot
  Ticks(5);
  EXPECT_EQ(button_->DownBlend(), 100);
  EXPECT_EQ(Centre(), kDown);
  QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsUp);
  Ticks(6);
  EXPECT_EQ(button_->DownBlend(), 0);
  EXPECT_FALSE(button_->GlowTimerRunning());
  EXPECT_EQ(Centre(), kHot);
}

TEST_F(GlowButtonTest, DisabledColoursOnlyWithShowDisabled) {
  button_->setEnabled(false);
  EXPECT_EQ(Centre(), kDisabled);
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsDisabled);
  button_->SetShowDisabled(false);
  EXPECT_EQ(Centre(), kNormal);
  button_->setEnabled(true);
  EXPECT_EQ(Centre(), kNormal);
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsUp);
}

TEST_F(GlowButtonTest, ReleaseOutsideFiresNoClick) {
  QTest::mousePress(button_, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(150, 10));
  EXPECT_EQ(clicks_, 0);
  QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(10, 10));  // no press pending
  EXPECT_EQ(clicks_, 0);
  QTest::mouseClick(button_, Qt::LeftButton, {}, QPoint(99, 40));
  EXPECT_EQ(clicks_, 1);
  QTest::mouseClick(button_, Qt::RightButton, {}, QPoint(50, 20));
  EXPECT_EQ(clicks_, 1);
}

TEST_F(GlowButtonTest, CheckButtonTogglesAndPaintsChecked) {
  button_->SetStyle(bsCheck);
  QTest::mouseClick(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_TRUE(button_->GetDown());
  Ticks(12);  // let every fade end
  EXPECT_EQ(Centre(), kChecked);
  QTest::mouseClick(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_FALSE(button_->GetDown());
  EXPECT_EQ(clicks_, 2);
}

TEST_F(GlowButtonTest, DownNeedsAGroupOrACheckStyle) {
  button_->SetDown(true);
  EXPECT_FALSE(button_->GetDown());
}

TEST_F(GlowButtonTest, GroupedButtonsReleaseEachOther) {
  auto* other = new TFxGlowButton(parent_.get());
  FlatColours(other->Appearance());
  button_->SetGroupIndex(1);
  other->SetGroupIndex(1);
  button_->SetDown(true);
  EXPECT_TRUE(button_->GetDown());
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsExclusive);
  EXPECT_EQ(Centre(), kChecked);
  button_->SetDown(false);  // AllowAllUp off: stays down
  EXPECT_TRUE(button_->GetDown());
  other->SetDown(true);
  EXPECT_TRUE(other->GetDown());
  EXPECT_FALSE(button_->GetDown());
  EXPECT_EQ(Centre(), kNormal);
  // A click on the released one takes the group back.
  QTest::mouseClick(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_TRUE(button_->GetDown());
  EXPECT_FALSE(other->GetDown());
  other->SetAllowAllUp(true);
  button_->SetAllowAllUp(true);
  button_->SetDown(false);
  EXPECT_FALSE(button_->GetDown());
}

TEST_F(GlowButtonTest, RepeatClickWhileHeld) {
  button_->SetRepeatClick(true);
  QTest::mousePress(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_TRUE(button_->RepeatTimerRunning());
  EXPECT_EQ(button_->RepeatInterval(), 400);
  button_->RepeatTimerExpired();
  EXPECT_EQ(clicks_, 1);
  EXPECT_EQ(button_->RepeatInterval(), 100);
  button_->RepeatTimerExpired();
  EXPECT_EQ(clicks_, 2);
  QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(50, 20));
  EXPECT_FALSE(button_->RepeatTimerRunning());
  EXPECT_EQ(clicks_, 3);  // the release clicks as well
}

TEST_F(GlowButtonTest, KeyboardSpaceClicks) {
  QTest::keyPress(button_, Qt::Key_Space);
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsDown);
  EXPECT_EQ(clicks_, 1);
  QTest::keyRelease(button_, Qt::Key_Space);
  EXPECT_EQ(button_->ButtonState(), TFxCustomGlowButton::rsUp);
}

TEST_F(GlowButtonTest, BorderAndCorners) {
  button_->Appearance().SetBorderColor(0x000000);
  QImage rounded = button_->grab().toImage();
  EXPECT_LT(qGreen(rounded.pixel(0, 20)), 128);  // the left edge is drawn in the border colour
  EXPECT_GT(qGreen(rounded.pixel(0, 0)), 128);   // a rounded corner leaves the corner pixel
  button_->SetRounded(false);
  QImage square = button_->grab().toImage();
  EXPECT_LT(qGreen(square.pixel(0, 0)), 128);
  button_->SetBorderStyle(bsNone);
  EXPECT_EQ(button_->grab().toImage().pixel(0, 20), kNormal);
}

TEST_F(GlowButtonTest, PictureIsCentredWithoutCaption) {
  QImage red(8, 8, QImage::Format_RGB32);
  red.fill(qRgb(255, 0, 0));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  red.save(&buffer, "PNG");
  TMemoryStream stream(bytes.toStdString());
  button_->Picture().LoadFromStream(&stream);
  QImage img = button_->grab().toImage();
  EXPECT_EQ(img.pixel(50, 20), kDown);  // the red glyph at the centre
  EXPECT_EQ(img.pixel(20, 20), kNormal);
}

TEST_F(GlowButtonTest, CaptionIsDrawnGreyWhenDisabled) {
  button_->SetCaption("Open");
  auto darkPixels = [&](QRgb* sample) {
    QImage img = button_->grab().toImage();
    int n = 0;
    for (int y = 5; y < 36; ++y)
      for (int x = 20; x < 80; ++x)
        if (qGreen(img.pixel(x, y)) < 140) {
          ++n;
          if (sample) *sample = img.pixel(x, y);
        }
    return n;
  };
  EXPECT_GT(darkPixels(nullptr), 10);
  button_->setEnabled(false);
  button_->SetShowDisabled(false);
  QRgb sample = 0;
  EXPECT_GT(darkPixels(&sample), 10);
  EXPECT_GT(qRed(sample), 40);  // grey, not black
  button_->SetShowCaption(false);
  EXPECT_EQ(darkPixels(nullptr), 0);
}

// Where the ink of a colour class lies on the button.
QRect InkBox(const QImage& img, const std::function<bool(QRgb)>& is) {
  QRect box;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (is(img.pixel(x, y))) box |= QRect(x, y, 1, 1);
  return box;
}
bool IsBlackInk(QRgb p) {
  return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90;
}
bool IsRedInk(QRgb p) {
  return qRed(p) > 150 && qGreen(p) < 110 && qBlue(p) < 110;
}

TEST_F(GlowButtonTest, NotesFollowTheCaptionInTheirOwnFontAndColour) {
  button_->resize(200, 70);
  button_->SetCaption("Open");
  const QRect centred = InkBox(button_->grab().toImage(), IsBlackInk);
  ASSERT_TRUE(centred.isValid());
  EXPECT_GT(centred.left(), 60) << "without notes the caption is centred";

  QFont notesFont("DejaVu Sans", 7);
  button_->SetNotesFont(notesFont);
  button_->SetNotesFontColor(0x0000FF);  // red
  button_->SetNotes({"Opens a file", "from the disk"});
  EXPECT_EQ(button_->GetLayout(), blGlyphLeft) << "the layout is forced while drawing only";
  const QImage img = button_->grab().toImage();
  const QRect caption = InkBox(img, IsBlackInk), notes = InkBox(img, IsRedInk);
  ASSERT_TRUE(caption.isValid());
  ASSERT_TRUE(notes.isValid()) << "no notes in their colour";
  // Glyph-left adjusted: caption and notes start at the left edge.
  EXPECT_LT(caption.left(), 8);
  EXPECT_LT(notes.left(), 8);
  // The notes (two lines) under the caption; the block centred vertically.
  EXPECT_GE(notes.top(), caption.bottom() - 1);
  EXPECT_GT(notes.height(), caption.height());
  EXPECT_NEAR(caption.top(), img.height() - 1 - notes.bottom(), 6);
  // Their own, smaller font: the caption's letters are taller.
  button_->SetNotes({"Open"});
  const QRect sameWord = InkBox(button_->grab().toImage(), IsRedInk);
  EXPECT_LT(sameWord.width(), caption.width());

  // Disabled, the notes turn grey like the caption.
  button_->setEnabled(false);
  button_->SetShowDisabled(false);
  EXPECT_FALSE(InkBox(button_->grab().toImage(), IsRedInk).isValid());
}

TEST_F(GlowButtonTest, AutoSizeMakesRoomForTheNotes) {
  button_->SetCaption("Go");
  button_->SetAutoSize(true);
  const QSize plain = button_->size();
  button_->SetNotes({"A much longer line of notes than the caption"});
  button_->SetAutoSize(false);
  button_->SetAutoSize(true);
  EXPECT_GT(button_->width(), plain.width() + 50);
  EXPECT_GT(button_->height(), plain.height());
}

TEST_F(GlowButtonTest, AssignCopiesThePropertiesButNotTheLookOrTheEvents) {
  QAction action("Act");
  TCustomImageList images(16, 16);
  button_->resize(180, 50);
  button_->SetCaption("Source");
  button_->SetNotes({"first", "second"});
  QFont notesFont("DejaVu Sans", 9);
  notesFont.setBold(true);
  button_->SetNotesFont(notesFont);
  button_->SetNotesFontColor(0x123456);
  button_->SetSpacing(7);
  button_->SetRounded(false);
  button_->SetAntiAlias(aaAntiAlias);
  button_->SetPosition(bpLeft);
  button_->SetFocusType(ftHot);
  button_->SetMarginHorz(5);
  button_->SetMarginVert(3);
  button_->SetModalResult(2);
  button_->SetRepeatClick(true);
  button_->SetInitRepeatPause(250);
  button_->SetRepeatPause(60);
  button_->SetShowCaption(true);
  button_->SetShowDisabled(false);
  button_->SetWordWrap(false);
  button_->SetTransparent(true);
  button_->SetDefault(true);
  button_->SetCancel(true);
  button_->SetImages(&images);
  button_->SetImageIndex(0);
  button_->SetTabStop(true);
  button_->ShortCutHint = "S";
  button_->setProperty("DragMode", "dmAutomatic");
  button_->setProperty("DragKind", "dkDock");

  TFxGlowButton copy(parent_.get());
  const TColor ownColour = copy.Appearance().GetColor();
  int copyClicks = 0;
  copy.OnClick = [&](TFxCustomGlowButton*) { ++copyClicks; };
  copy.Assign(*button_);
  EXPECT_EQ(copy.Caption(), "Source");
  EXPECT_EQ(copy.GetNotes(), QStringList({"first", "second"}));
  EXPECT_EQ(copy.GetNotesFont(), notesFont);
  EXPECT_EQ(copy.GetNotesFontColor(), 0x123456u);
  EXPECT_EQ(copy.GetSpacing(), 7);
  EXPECT_FALSE(copy.GetRounded());
  EXPECT_EQ(copy.GetAntiAlias(), aaAntiAlias);
  EXPECT_EQ(copy.GetPosition(), bpLeft);
  EXPECT_EQ(copy.GetFocusType(), ftHot);
  EXPECT_EQ(copy.GetMarginHorz(), 5);
  EXPECT_EQ(copy.GetMarginVert(), 3);
  EXPECT_EQ(copy.GetModalResult(), 2);
  EXPECT_TRUE(copy.GetRepeatClick());
  EXPECT_EQ(copy.GetInitRepeatPause(), 250);
  EXPECT_EQ(copy.GetRepeatPause(), 60);
  EXPECT_FALSE(copy.GetShowDisabled());
  EXPECT_FALSE(copy.GetWordWrap());
  EXPECT_TRUE(copy.GetTransparent());
  EXPECT_TRUE(copy.GetDefault());
  EXPECT_TRUE(copy.GetCancel());
  EXPECT_EQ(copy.GetImages(), &images);
  EXPECT_EQ(copy.GetImageIndex(), 0);
  EXPECT_TRUE(copy.GetTabStop());
  EXPECT_EQ(copy.ShortCutHint, "S");
  EXPECT_EQ(copy.property("DragMode").toString(), "dmAutomatic");
  EXPECT_EQ(copy.property("DragKind").toString(), "dkDock");
  // Not the appearance, not the events.
  EXPECT_EQ(copy.Appearance().GetColor(), ownColour);
  EXPECT_NE(copy.Appearance().GetColor(), button_->Appearance().GetColor());
  button_->Click();
  EXPECT_EQ(copyClicks, 0);
  // With the same look and size the copy draws as the source does.
  copy.SetAppearance(button_->Appearance());
  copy.resize(button_->size());
  EXPECT_EQ(copy.grab().toImage(), button_->grab().toImage());
  // Assigning a button to itself changes nothing.
  copy.Assign(copy);
  EXPECT_EQ(copy.Caption(), "Source");
}

}  // namespace
