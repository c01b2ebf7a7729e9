// The pager demo in a real X server: its screenshot agrees with a picture of
// the same rectangles and scheme colours drawn by plain QPainter fills, so a
// blank, shifted or garbled window fails.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdlib>
#include <map>

#include "TestSupport.h"
#include "ui/FxOfficePagerStylers.h"

// xkbcommon hands strndup a length past the end of a string that ends
// earlier, which strict string checks report; the window's process runs
// without them (the rest of the sanitizers stay on).
constexpr const char* kGuiAsanOptions = "export ASAN_OPTIONS=\"${ASAN_OPTIONS}:strict_string_checks=0\"; ";

namespace {

QColor Q(TColor c) {
  c = ColorToRGB(c);
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Two halves across the rectangle: the first colours from the top edge to the
// middle, the mirror colours from the middle to the bottom.
void TwoPart(QPainter& p, const QRect& r, TColor c1, TColor c2, TColor m1, TColor m2) {
  const int e = r.height() / 2;
  QLinearGradient upper(0, r.top(), 0, r.top() + e), lower(0, r.top() + e, 0, r.bottom());
  upper.setColorAt(0, Q(c1)), upper.setColorAt(1, Q(c2));
  lower.setColorAt(0, Q(m1)), lower.setColorAt(1, Q(m2));
  p.fillRect(QRect(r.left(), r.top(), r.width(), e), upper);
  p.fillRect(QRect(r.left(), r.top() + e, r.width(), r.height() - e), lower);
}

double MeanDifference(const QImage& a, const QImage& b, const QRect& region) {
  double sum = 0;
  int n = 0;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x) {
      QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q))) / 3.0;
      ++n;
    }
  return n ? sum / n : 255;
}

TEST(PagerDemo, ScreenshotUnderXvfbMatchesTheSchemeRectangles) {
  for (const char* tool : {"xvfb-run", "import"}) {
    if (!pvltest::HaveTool(tool)) {
      if (std::getenv("CI")) FAIL() << tool << " is missing";
      GTEST_SKIP() << tool << " is missing";
    }
  }
  pvltest::TempDir dir;
  // The demo writes its layout once it has drawn; the shot waits for that,
  // however loaded the machine is.
  const std::string shot = dir.File("shot.png"), layout = dir.File("layout.txt");
  const std::string script = std::string(kGuiAsanOptions) + "unset QT_QPA_PLATFORM; \"" + PVL_PAGER_DEMO + "\" --layout \"" + layout +
                             "\" --quit-after 60000 & pid=$!; for i in $(seq 240); do [ -s \"" + layout +
                             "\" ] && break; sleep 0.5; done; sleep 1; import -window root -crop 900x300+0+0 \"" +
                             shot + "\"; kill $pid; wait $pid; true";
  auto r = pvltest::RunCommand({"xvfb-run", "-a", "-n", "170", "-s", "-screen 0 1024x768x24", "sh", "-c", script});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  QImage screen(QString::fromStdString(shot));
  ASSERT_FALSE(screen.isNull()) << r.err;
  screen = screen.convertToFormat(QImage::Format_RGB32);

  // The demo's rectangles.
  std::map<std::string, QRect> rects;
  QRect activeTab;
  {
    QFile file(QString::fromStdString(layout));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << r.err;
    for (const QByteArray& line : file.readAll().split('\n')) {
      QList<QByteArray> f = line.split(' ');
      if (f.size() == 5) rects[f[0].toStdString()] = QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt());
      if (f.size() == 7 && f[0] == "tab" && f[2] == "1")
        activeTab = QRect(f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt());
    }
  }
  ASSERT_EQ(rects.count("strip"), 1u);
  ASSERT_EQ(rects.count("page"), 1u);
  ASSERT_TRUE(activeTab.isValid());
  ASSERT_EQ(screen.size(), QSize(900, 300));

  // The second route: the scheme's colours over the same rectangles.
  TFxOfficePagerOfficeStyler scheme;
  scheme.SetStyle(psOffice2007Silver);
  const TTabAppearance& t = scheme.TabAppearance();
  const TVistaBackground& pa = scheme.PageAppearance();
  QImage reference(screen.size(), QImage::Format_RGB32);
  {
    QPainter p(&reference);
    p.fillRect(reference.rect(), Q(t.BackGround().GetColor()));  // a solid strip: no second colour
    TwoPart(p, activeTab, t.GetColorSelected(), t.GetColorSelectedTo(), t.GetColorMirrorSelected(),
            t.GetColorMirrorSelectedTo());
    TwoPart(p, rects["page"], pa.GetColor(), pa.GetColorTo(), pa.GetColorMirror(), pa.GetColorMirrorTo());
  }
  const QString artefacts = QString(PVL_BINARY_DIR) + "/artefacts";
  QDir().mkpath(artefacts);
  screen.save(artefacts + "/pager_demo_screenshot.png");
  reference.save(artefacts + "/pager_demo_reference.png");

  // Region by region: the strip beside the tabs, the active tab's face (its
  // caption and close button aside), the page body inside its border.
  const QRect strip = rects["strip"];
  const QRect stripRest(strip.left(), strip.top(), rects["buttons"].left() - 1, 3);
  const QRect tabFace(activeTab.left() + 3, activeTab.top() + 4, 40, activeTab.height() - 6);
  const QRect tabLabelFree(activeTab.left() + 100, activeTab.top() + 4, 20, activeTab.height() - 6);
  const QRect body = rects["page"].adjusted(4, 4, -4, -4);
  EXPECT_LT(MeanDifference(screen, reference, stripRest), 4) << "strip";
  EXPECT_LT(MeanDifference(screen, reference, tabLabelFree), 8) << "active tab";
  EXPECT_LT(MeanDifference(screen, reference, tabFace), 30) << "active tab with its caption";
  EXPECT_LT(MeanDifference(screen, reference, body), 5) << "page body";
  // The other tabs show only their captions on the strip: dark text there.
  int dark = 0;
  for (int x = 5; x < activeTab.left() - 5; ++x)
    for (int y = 8; y < 24; ++y) dark += qGray(screen.pixel(x, y)) < 140;
  EXPECT_GT(dark, 15) << "no caption on the first tab";
}

}  // namespace
