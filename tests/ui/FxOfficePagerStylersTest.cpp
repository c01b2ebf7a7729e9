#include "ui/FxOfficePagerStylers.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

TColor At(const QImage& img, QPoint p) {
  QRgb c = img.pixel(p);
  return qRed(c) | (qGreen(c) << 8) | (qBlue(c) << 16);
}

int Distance(TColor a, TColor b) {
  a = ColorToRGB(a), b = ColorToRGB(b);
  int d = 0;
  for (int s : {0, 8, 16}) d = std::max(d, std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)));
  return d;
}

#define EXPECT_COLOR_NEAR(actual, expected, tolerance)                                              \
  EXPECT_LE(Distance((actual), (expected)), (tolerance))                                            \
      << std::hex << "got 0x" << (actual) << " expected 0x" << (expected)

TEST(OfficeStyler, NewStylerLoadsTheDefaultScheme) {
  TFxOfficePagerOfficeStyler s;
  EXPECT_EQ(s.GetStyle(), psOffice2003Blue);
  EXPECT_EQ(s.TabAppearance().BackGround().GetColor(), 0xE4AE88);
  EXPECT_EQ(s.TabAppearance().GetColorSelected(), 0xFCDCC4);
  EXPECT_EQ(s.PageAppearance().GetColor(), 0xFDEADA);
  EXPECT_EQ(s.GlowButtonAppearance().GetBorderColor(), 0xE0B99B);
  EXPECT_EQ(s.TabAppearance().GetShadowColor(), 0xA3673F);
  EXPECT_TRUE(s.GetRoundedCorners());
  EXPECT_EQ(s.BorderBlend, 50);
}

TEST(OfficeStyler, StylesSetTheirTellingValues) {
  struct Row {
    TOfficePagerStyle style;
    bool rounded;
    TColor background, text, selected, pageColor, glowBorder;
    int borderBlend;
  } rows[] = {
      {psOffice2003Silver, true, 0xE6D8D8, 0x000000, 0x927476, 0xF7F3F3, 0x927476, 50},
      {psOffice2003Olive, true, 0x8CC0B1, 0x000000, 0x8CC0B1, 0xCFF0EA, 0x8CC0B1, 50},
      {psOffice2003Classic, true, 0xC9D1D5, 0x000000, 0xC9D1D5, 0xFFFFFF, 0x000000, 80},
      {psOffice2007Luna, true, 0xFFDBBF, 0x8B4215, 0xFEF6F0, 0xFAF1E9, 0xE0B99B, 50},
      {psOffice2007Obsidian, true, 0x535353, 0xFFFFFF, 0xEFEEED, 0xCFC6C1, 0xC0BCB2, 50},
      {psWindowsXP, false, clBtnFace, 0x000000, 0xEFD3C6, clBtnFace, 0xB9D8DC, 50},
      {psWhidbey, true, 0x859D9D, 0xFFFFFF, 0xADC4C4, 0xFFFFFF, 0x99A8AC, 50},
      {psOffice2007Silver, true, 0xDDD4D0, 0x5C534C, 0xF8F8F4, 0xF9F5F3, 0xCCCAC9, 50},
  };
  for (const Row& r : rows) {
    TFxOfficePagerOfficeStyler s;
    s.SetStyle(r.style);
    SCOPED_TRACE(r.style);
    EXPECT_EQ(s.GetRoundedCorners(), r.rounded);
    EXPECT_EQ(s.TabAppearance().BackGround().GetColor(), r.background);
    EXPECT_EQ(s.TabAppearance().GetTextColor(), r.text);
    EXPECT_EQ(s.TabAppearance().GetColorSelected(), r.selected);
    EXPECT_EQ(s.PageAppearance().GetColor(), r.pageColor);
    EXPECT_EQ(s.GlowButtonAppearance().GetBorderColor(), r.glowBorder);
    EXPECT_EQ(s.BorderBlend, r.borderBlend);
    EXPECT_EQ(s.TabAppearance().GetBorderColor(), clNone);
    EXPECT_EQ(s.TabAppearance().GetTextColorDisabled(), 0x808080);
  }
  TFxOfficePagerOfficeStyler silver;
  silver.SetStyle(psOffice2007Silver);
  EXPECT_EQ(silver.TabAppearance().BackGround().GetColorTo(), clNone);
  EXPECT_EQ(silver.TabAppearance().GetGradientHot(), ggRadial);
  EXPECT_EQ(silver.TabAppearance().GetBorderColorSelectedHot(), 0x5FCAFA);
  EXPECT_EQ(silver.GlowButtonAppearance().GetBorderColorChecked(), 0x45667B);
}

TEST(OfficeStyler, CustomStyleKeepsColoursButBroadcasts) {
  TFxOfficePagerOfficeStyler s;
  QWidget host;
  TFxOfficePager pager(&host);
  pager.SetFxOfficePagerStyler(&s);
  s.SetStyle(psOffice2003Classic);
  EXPECT_EQ(s.BorderBlend, 80);
  s.TabAppearance().SetColorHot(0x123456);
  s.SetStyle(psCustom);
  EXPECT_EQ(s.BorderBlend, 50);
  EXPECT_EQ(s.TabAppearance().GetColorHot(), 0x123456);
  // Setting the current style again changes nothing.
  s.SetStyle(psCustom);
  EXPECT_EQ(s.TabAppearance().GetColorHot(), 0x123456);
  pager.SetFxOfficePagerStyler(nullptr);
}

TEST(OfficeStyler, ThemeChangeFollowsTheDesktopOnlyWhenAsked) {
  QWidget host;
  TFxOfficePagerOfficeStyler s(&host);
  EXPECT_EQ(s.Notifier()->parentWidget(), &host);
  QEvent theme(QEvent::ThemeChange);
  QApplication::sendEvent(s.Notifier(), &theme);
  EXPECT_EQ(s.GetStyle(), psOffice2003Blue);
  // No visual-style library here: the desktop scheme reads as none, which
  // selects the system-colour look.
  s.AutoThemeAdapt = true;
  EXPECT_EQ(CurrentXPThemeScheme(), 0);
  QApplication::sendEvent(s.Notifier(), &theme);
  EXPECT_EQ(s.GetStyle(), psWindowsXP);
  EXPECT_FALSE(s.GetRoundedCorners());
}

// A pager of three tabs on top: the first active, the second hot, the third
// disabled, painted with every non-selected tab shown.
class PagerPixels : public testing::TestWithParam<TOfficePagerStyle> {
protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(500, 160);
    styler_ = new TFxOfficePagerOfficeStyler(window_.get());
    styler_->SetStyle(GetParam());
    pager_ = new TFxOfficePager(window_.get());
    pager_->setGeometry(0, 0, 500, 160);
    pager_->SetFxOfficePagerStyler(styler_);
    pager_->Glow = false;
    pager_->TabSettings().SetWidth(120);
    pager_->SetShowNonSelectedTabs(true);
    for (int i = 0; i < 3; ++i) {
      auto* page = new TFxOfficePage(pager_);
      page->SetCaption(QString("T%1").arg(i));
      pager_->AddPage(page);
    }
    pager_->GetPage(2)->SetTabEnabled(false);
    pager_->SetActivePageIndex(0);
    window_->show();
    // Without the focus: a focused pager shows its active tab in hot colours.
    pager_->clearFocus();
    QPointF at = pager_->GetTabRect(1).center();
    QMouseEvent move(QEvent::MouseMove, at, pager_->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pager_, &move);
  }
  // A point in the upper half of tab i, clear of caption and details.
  QPoint Upper(int i) {
    QRect r = pager_->GetTabRect(i);
    return QPoint(r.right() - 8, r.top() + 5);
  }
  // A point in the lower half, 8 pixels below the split.
  QPoint Lower(int i) {
    QRect r = pager_->GetTabRect(i);
    return QPoint(r.right() - 8, r.top() + r.height() / 2 + 8);
  }
  std::unique_ptr<QWidget> window_;
  TFxOfficePagerOfficeStyler* styler_ = nullptr;
  TFxOfficePager* pager_ = nullptr;
};

TEST_P(PagerPixels, TabColoursOfTheScheme) {
  ASSERT_EQ(pager_->HotIndex(), 1);
  QImage img = pager_->RenderPager();
  if (qEnvironmentVariableIsSet("PVL_KEEP_RENDER")) img.save(QString("/tmp/pager-%1.png").arg(GetParam()));
  const TTabAppearance& a = styler_->TabAppearance();
  const TGradientBackground& bg = a.BackGround();
  // The strip at its start: the background's first colour.
  EXPECT_COLOR_NEAR(At(img, QPoint(0, 2)), bg.GetColor(), 2);
  // Upper halves run from the first colour at the outer edge towards the
  // second at the middle; lower halves end at the mirror's second colour.
  auto between = [](TColor a1, TColor a2, int percent) { return BlendColor(a2, a1, percent); };
  const int h = pager_->TabSettings().GetHeight(), e = h / 2;
  const int upperShare = 100 * 5 / e, lowerShare = 100 * 8 / (h - e);
  EXPECT_COLOR_NEAR(At(img, Upper(0)), between(a.GetColorSelected(), a.GetColorSelectedTo(), upperShare), 12);
  EXPECT_COLOR_NEAR(At(img, Lower(0)),
                    between(a.GetColorMirrorSelected(), a.GetColorMirrorSelectedTo(), lowerShare), 12);
  if (a.GetGradientHot() == ggVertical)
    EXPECT_COLOR_NEAR(At(img, Upper(1)), between(a.GetColorHot(), a.GetColorHotTo(), upperShare), 12);
  else  // a radial glow leaves the upper corners in the first colour
    EXPECT_COLOR_NEAR(At(img, QPoint(pager_->GetTabRect(1).left() + 5, pager_->GetTabRect(1).top() + 2)),
                      a.GetColorHot(), 14);
  EXPECT_COLOR_NEAR(At(img, Lower(1)), between(a.GetColorMirrorHot(), a.GetColorMirrorHotTo(), lowerShare), 12);
  EXPECT_COLOR_NEAR(At(img, Upper(2)), between(a.GetColorDisabled(), a.GetColorDisabledTo(), upperShare), 14);
  EXPECT_COLOR_NEAR(At(img, Lower(2)),
                    between(a.GetColorMirrorDisabled(), a.GetColorMirrorDisabledTo(), lowerShare), 12);
  // The page body under the strip and its open edge under the active tab.
  TFxOfficePage* page = pager_->GetActivePage();
  QImage body = page->grab().toImage();
  EXPECT_COLOR_NEAR(At(body, QPoint(body.width() / 2, 6)), styler_->PageAppearance().GetColor(), 14);
  // No border along the strip, but one in the blended border colour on
  // the sides; under the active tab the edge is open in the body colour.
  const TColor borderPen = BlendColor(0xFFFFFF, styler_->PageAppearance().GetBorderColor(), styler_->BorderBlend);
  EXPECT_COLOR_NEAR(At(body, QPoint(1, body.height() / 2)), borderPen, 2);
  const int underTab = pager_->GetTabRect(0).center().x() - page->x();
  EXPECT_COLOR_NEAR(At(body, QPoint(underTab, 0)), styler_->PageAppearance().GetColor(), 2);
}

INSTANTIATE_TEST_SUITE_P(Schemes, PagerPixels, testing::Values(psOffice2003Blue, psOffice2007Silver));

TEST(PagerPixels, StyleChangeRepaintsWithTheNewScheme) {
  QWidget window;
  window.resize(400, 120);
  TFxOfficePagerOfficeStyler styler(&window);
  TFxOfficePager pager(&window);
  pager.setGeometry(0, 0, 400, 120);
  pager.SetFxOfficePagerStyler(&styler);
  EXPECT_COLOR_NEAR(At(pager.RenderPager(), QPoint(0, 2)), 0xE4AE88, 2);
  styler.SetStyle(psOffice2007Obsidian);
  EXPECT_COLOR_NEAR(At(pager.RenderPager(), QPoint(0, 2)), 0x535353, 2);
  pager.SetFxOfficePagerStyler(nullptr);
}

}  // namespace
