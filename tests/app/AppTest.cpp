// The program as a person uses it: files opened into tabs, the page view
// with its shadow, navigation and zoom, thumbnails, closing tabs, languages,
// dropped files, settings and the file association (in a temporary XDG
// tree), and the real window under Xvfb compared with the engine's render.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QScrollArea>
#include <QTreeWidget>
#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Guarded.h"
#include "app/Main.h"
#include "app/MainPager.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"
#include "platform/IniFile.h"

// xkbcommon hands strndup a length past the end of a string that ends
// earlier, which strict string checks report; the window's process runs
// without them (the rest of the sanitizers stay on).
constexpr const char* kGuiAsanOptions = "export ASAN_OPTIONS=\"${ASAN_OPTIONS}:strict_string_checks=0\"; ";

namespace {

// One application on the off-screen platform, with the XDG folders in a
// temporary tree so that no test touches the user's own settings.
class TAppEnvironment : public testing::Environment {
public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    home_ = std::make_unique<pvltest::TempDir>();
    setenv("XDG_CONFIG_HOME", home_->File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", home_->File("data").c_str(), 1);
    setenv("XDG_CACHE_HOME", home_->File("cache").c_str(), 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override {
    app_.reset();
    home_.reset();
  }

private:
  int argc_ = 1;
  char name_[10] = "app_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<pvltest::TempDir> home_;
};

[[maybe_unused]] testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new TAppEnvironment);

QString Corpus(const char* file) { return QString::fromStdString(pvltest::CorpusPath(file)); }

const char* const kFourPages = "samples/pdflatex-4-pages.pdf";
const char* const kFourteenPages = "pdfjs/tracemonkey.pdf";
const char* const kOnePage = "samples/minimal-document.pdf";

std::unique_ptr<TForm1> NewWindow() {
  auto form = std::make_unique<TForm1>();
  form->resize(1000, 800);
  form->show();
  QApplication::processEvents();
  return form;
}

bool HasInk(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage();
  int dark = 0;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) dark += qGray(image.pixel(x, y)) < 128;
  return dark > 50;
}

TEST(Program, TheViewingRoad) {
  auto form = NewWindow();
  form->OpenFiles({Corpus(kFourPages), Corpus(kFourteenPages)});
  QApplication::processEvents();
  ASSERT_EQ(form->DocumentTabCount(), 2);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 3) << "the empty document stays document 1";
  EXPECT_EQ(form->ThumbPDF()->DocumentCount(), 3);
  EXPECT_EQ(form->ActiveTab(), 1) << "the last file opened is shown";
  EXPECT_EQ(form->CurrentDocInfo()->FileName, "tracemonkey.pdf");
  EXPECT_EQ(form->ViewPDF()->PageCount(), 14);

  // Page 1 at Fit Page, with a black shadow 4 pixels right and below.
  ASSERT_TRUE(form->PageImage());
  const QRect page = form->PageImage()->geometry();
  const int viewHeight = form->ScrollBoxView()->viewport()->height();
  const double fit = std::nearbyint((viewHeight - 25) * 100.0 / 792);
  EXPECT_DOUBLE_EQ(form->Zoom(), fit);
  EXPECT_NEAR(page.height(), 792 * fit / 100, 1.5);
  EXPECT_TRUE(HasInk(form->PageImage()->pixmap()));
  EXPECT_EQ(form->PageShadow()->geometry(), page.translated(4, 4));
  EXPECT_EQ(form->PageShadow()->palette().color(QPalette::Window), QColor(Qt::black));

  // Navigation.
  form->MNextPageClick();
  EXPECT_EQ(form->CurrentPage(), 2);
  form->MLastPageClick();
  EXPECT_EQ(form->CurrentPage(), 14);
  form->MNextPageClick();
  EXPECT_EQ(form->CurrentPage(), 14) << "Page Down on the last page does nothing";
  form->MPrevPageClick();
  EXPECT_EQ(form->CurrentPage(), 13);
  form->MFirstPageClick();
  form->MPrevPageClick();
  EXPECT_EQ(form->CurrentPage(), 1);

  // Zoom presets, typed values (decimals accepted, bounds kept), fitting.
  form->SetZoom(110);
  form->MZoomInClick();
  EXPECT_EQ(form->Zoom(), 125);
  form->SetZoom(110);
  form->MZoomOutClick();
  EXPECT_EQ(form->Zoom(), 100);
  form->SetZoom(500);
  form->MZoomInClick();
  EXPECT_EQ(form->Zoom(), 500);
  form->SetZoom(12.5);
  EXPECT_EQ(form->Zoom(), 12.5);
  form->SetZoom(100000);
  EXPECT_EQ(form->Zoom(), TForm1::MaxZoom);
  form->SetZoom(-3);
  EXPECT_EQ(form->Zoom(), TForm1::MinZoom);
  form->MActualSizeClick();
  EXPECT_EQ(form->PageImage()->width(), 612);
  form->MFitWidthClick();
  EXPECT_EQ(form->Zoom(), std::nearbyint((form->ScrollBoxView()->viewport()->width() * 100.0 - 4800) / 612));

  // Thumbnails: one sixth of the page in points.
  form->MPreviewClick();
  QApplication::processEvents();
  for (int i = 0; i < 50 && form->ThumbnailCount() == 0; ++i) QApplication::processEvents();
  EXPECT_EQ(form->ThumbnailCount(), 14);
  auto* thumb = form->ScrollBoxPreview()->findChild<QLabel*>("ImagePreview1");
  ASSERT_TRUE(thumb);
  EXPECT_EQ(thumb->pixmap().size(), QSize(102, 132));

  // Each tab keeps its own page and zoom.
  form->GoToPage(5);
  form->Pager()->SetActivePageIndex(0);
  EXPECT_EQ(form->ViewPDF()->PageCount(), 4);
  EXPECT_EQ(form->CurrentPage(), 1);
  form->Pager()->SetActivePageIndex(1);
  EXPECT_EQ(form->CurrentPage(), 5);
}

TEST(Program, ClosingTheMiddleTabKeepsEveryOtherDocumentInStep) {
  auto form = NewWindow();
  form->OpenFiles({Corpus(kFourPages), Corpus(kFourteenPages), Corpus(kOnePage)});
  ASSERT_EQ(form->DocumentTabCount(), 3);
  form->Pager()->SetActivePageIndex(1);
  form->CloseTab(1);
  ASSERT_EQ(form->DocumentTabCount(), 2);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 3);
  EXPECT_EQ(form->ThumbPDF()->DocumentCount(), 3);
  // Whatever tab is active now, the facade shows that tab's document.
  for (int tab : {0, 1}) {
    form->Pager()->SetActivePageIndex(tab);
    std::u16string name;
    form->ViewPDF()->LoadedFileName(name);
    EXPECT_EQ(QFileInfo(QString::fromStdU16String(name)).fileName(), form->CurrentDocInfo()->FileName);
    EXPECT_TRUE(HasInk(form->PageImage()->pixmap()));
  }
  form->MCloseAllClick();
  EXPECT_EQ(form->DocumentTabCount(), 0);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 1);
  EXPECT_EQ(form->CurrentDocInfo(), nullptr);
  EXPECT_FALSE(form->ActionByName("tbNextPage")->isEnabled()) << "commands that need a document are off";
  form->MNextPageClick();  // harmless without documents
  form->MFitPageClick();
}

TEST(Program, DamagedFilesAreSkippedAndTheRestOpen) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("broken.pdf"), "%PDF-1.4\nnothing here\n");
  auto form = NewWindow();
  form->OpenFiles({QString::fromStdString(dir.File("broken.pdf")), QString::fromStdString(dir.File("missing.pdf")),
                   Corpus(kOnePage)});
  EXPECT_EQ(form->DocumentTabCount(), 1);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 2);
}

QStringList gWarnings;
void collectWarning(QtMsgType, const QMessageLogContext&, const QString& text) { gWarnings << text; }

// A slot that fails with an exception ends there: Qt's signal delivery is
// never unwound, the main window shows what failed, and the next command
// runs. A slot is given the first of the signal's arguments it takes.
TEST(Program, FailingCommandsReportAndTheProgramGoesOn) {
  auto form = NewWindow();
  gWarnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(collectWarning);
  QAction action;
  int calls = 0;
  QObject::connect(&action, &QAction::triggered, form.get(), Guarded(*form, form.get(), [&] {
                     if (++calls == 1) throw std::runtime_error("the disk is full");
                     throw 42;
                   }));
  EXPECT_NO_THROW(action.trigger());
  EXPECT_NO_THROW(action.trigger());
  // A member function, given the first argument of a two-argument signal.
  QTreeWidget tree;
  auto* first = new QTreeWidgetItem(&tree, QStringList{"first"});
  auto* second = new QTreeWidgetItem(&tree, QStringList{"second"});
  QTreeWidgetItem* seen = nullptr;
  QObject::connect(&tree, &QTreeWidget::currentItemChanged, form.get(),
                   Guarded(*form, form.get(), [&](QTreeWidgetItem* current) { seen = current; }));
  tree.setCurrentItem(first);
  tree.setCurrentItem(second);
  qInstallMessageHandler(previous);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(seen, second);
  ASSERT_EQ(gWarnings.size(), 2) << gWarnings.join("|").toStdString();
  EXPECT_TRUE(gWarnings[0].contains("could not be completed")) << gWarnings[0].toStdString();
  EXPECT_TRUE(gWarnings[0].contains("the disk is full")) << gWarnings[0].toStdString();
  EXPECT_TRUE(gWarnings[1].contains("could not be completed")) << gWarnings[1].toStdString();
  // The window still works after the failures.
  form->OpenFiles({Corpus(kOnePage)});
  EXPECT_EQ(form->DocumentTabCount(), 1);
}

TEST(Program, LanguagesChangeCaptionsAndMessages) {
  auto form = NewWindow();
  struct TCase {
    const char* language;
    const char* file;
    const char* nextPage;
  } cases[] = {{"Russian", "&Файл", "Следующая страница"},
               {"SimplifiedChinese", "文件(&F)", "下一页"},
               {"German", "&Datei", "Nächste Seite"},
               {"English", "&File", "Next Page"}};
  for (const TCase& c : cases) {
    form->LoadLanguage(c.language);
    EXPECT_EQ(form->ActionByName("MFile")->text(), QString::fromUtf8(c.file)) << c.language;
    EXPECT_EQ(form->ActionByName("MNextPage")->text(), QString::fromUtf8(c.nextPage)) << c.language;
    EXPECT_EQ(form->ActionByName("tbNextPage")->toolTip(), QString::fromUtf8(c.nextPage)) << c.language;
    EXPECT_FALSE(form->Message("StringWrongPassword").isEmpty()) << c.language;
  }
  form->LoadLanguage("Russian");
  const QString russian = form->Message("StringWrongPassword");
  form->LoadLanguage("English");
  EXPECT_NE(form->Message("StringWrongPassword"), russian);
  EXPECT_TRUE(form->ActionByName("MLangEnglish")->isChecked());
  EXPECT_FALSE(form->ActionByName("MLangRussian")->isChecked());
}

TEST(Program, EveryLanguageFileHoldsEveryKey) {
  const std::string folder = TForm1::LanguageFolder().toStdString();
  const TIniFile english(folder + "/English.ini");
  for (const char* language : {"Russian", "German", "SimplifiedChinese"}) {
    const TIniFile other(folder + "/" + language + ".ini");
    const std::string text = pvltest::ReadFile(folder + "/English.ini");
    size_t pos = 0;
    int keys = 0;
    while ((pos = text.find('\n', pos)) != std::string::npos) {
      const size_t start = ++pos;
      const size_t eq = text.find('=', start);
      const size_t end = text.find('\n', start);
      if (eq == std::string::npos || eq > end) continue;
      const std::string key = text.substr(start, eq - start);
      ++keys;
      EXPECT_TRUE(other.ValueExists("Interface", key)) << language << ": " << key;
    }
    EXPECT_GT(keys, 150);
  }
}

TEST(Program, DroppedFilesOpenInNewTabsWithTheirNames) {
  pvltest::TempDir dir;
  // A name with non-ASCII letters and blanks, in a deep folder.
  std::string deep = dir.Path();
  for (int i = 0; i < 12; ++i) deep += "/folder with a rather long name " + std::to_string(i);
  std::filesystem::create_directories(deep);
  const std::string first = deep + "/Übersicht – café.pdf";
  const std::string second = dir.File("second.pdf");
  std::filesystem::copy_file(pvltest::CorpusPath(kFourPages), first);
  std::filesystem::copy_file(pvltest::CorpusPath(kOnePage), second);

  auto form = NewWindow();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second)),
                QUrl("https://example.invalid/not-a-file.pdf")});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &drop);
  ASSERT_EQ(form->DocumentTabCount(), 2);
  EXPECT_EQ(form->DocInfos()[0].FileName, QString::fromUtf8("Übersicht – café.pdf"));
  EXPECT_EQ(form->Pager()->GetPage(0)->GetCaption(), QString::fromUtf8("Übersicht – café.pdf"));
  EXPECT_EQ(form->DocInfos()[1].FileName, "second.pdf");
}

TEST(Program, SettingsAndAssociationStayInTheXdgTree) {
  {
    auto form = NewWindow();
    form->LoadLanguage("German");
    form->ActionByName("MLangGerman")->trigger();
    form->close();
  }
  const QString settings = TForm1::SettingsFileName();
  ASSERT_TRUE(settings.startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
  const TIniFile ini(settings.toStdString());
  EXPECT_EQ(ini.ReadString("Options", "Language", ""), "German");
  EXPECT_EQ(ini.ReadString("Options", "wmText", ""), "Corvane PDF Reader 1.2");
  EXPECT_EQ(ini.ReadInteger("Options", "wmFontSize", 0), 14);
  EXPECT_EQ(ini.ReadString("Options", "anColor", ""), "clBlue");
  {
    // The next start reads the language back; other keys survive unchanged.
    auto form = NewWindow();
    EXPECT_EQ(form->LanguageName(), "German");
    EXPECT_EQ(form->ActionByName("MFile")->text(), "&Datei");
    form->LoadLanguage("English");
    form->ActionByName("MLangEnglish")->trigger();
    form->close();
  }

  const QString program = "/opt/odd $dir/with \"quotes\"/corvane-pdf-reader";
  QString error;
  ASSERT_TRUE(TForm1::RegisterFileAssociation(program, &error)) << error.toStdString();
  const std::string data = qgetenv("XDG_DATA_HOME").toStdString();
  const std::string entry = pvltest::ReadFile(data + "/applications/corvane-pdf-reader.desktop");
  EXPECT_NE(entry.find("Exec=\"/opt/odd \\$dir/with \\\"quotes\\\"/corvane-pdf-reader\" %F\n"), std::string::npos)
      << entry;
  EXPECT_NE(entry.find("MimeType=application/pdf;"), std::string::npos);
  const TIniFile mime(qgetenv("XDG_CONFIG_HOME").toStdString() + "/mimeapps.list");
  EXPECT_EQ(mime.ReadString("Default Applications", "application/pdf", ""), "corvane-pdf-reader.desktop");
}

// The real program in a real X server: the page area of a screenshot
// agrees with the engine's own render of the page at the size shown.
TEST(ProgramWindow, ShowsThePageUnderXvfb) {
  for (const char* tool : {"xvfb-run", "import"}) {
    if (!pvltest::HaveTool(tool)) {
      if (std::getenv("CI")) FAIL() << tool << " is missing";
      GTEST_SKIP() << tool << " is missing";
    }
  }
  pvltest::TempDir dir;
  const std::string shot = dir.File("shot.png");
  // The suite itself runs off-screen; the program gets the X server (its
  // own display numbers, so that another screenshot test beside it never
  // takes the same one). The sanitizer build on a loaded machine takes its
  // time: shots are taken until the grey page view crosses the middle row,
  // then once more after the page has had time to draw.
  const std::string script =
      std::string(kGuiAsanOptions) + "unset QT_QPA_PLATFORM; \"" + PVL_PROGRAM + "\" \"" + pvltest::CorpusPath(kOnePage) + "\" \"" +
      pvltest::CorpusPath(kFourPages) + "\" & pid=$!; for i in $(seq 60); do sleep 3; import -window root \"" + shot +
      "\"; n=$(convert \"" + shot + "\" -crop 1280x1+0+512 txt:- | grep -c '#808080'); [ \"$n\" -gt 100 ] && break; done; " +
      "sleep 5; import -window root \"" + shot + "\"; kill $pid; wait $pid 2>/dev/null; true";
  auto r = pvltest::RunCommand({"xvfb-run", "-a", "-n", "150", "-s", "-screen 0 1280x1024x24", "sh", "-c", script});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  QImage screen(QString::fromStdString(shot));
  ASSERT_FALSE(screen.isNull()) << r.err;
  screen = screen.convertToFormat(QImage::Format_RGB32);

  // The page lies on the grey view with a black shadow at its right and
  // bottom: walk out from the middle of the screen to its edges.
  const QRgb grey = qRgb(128, 128, 128);
  auto isGrey = [&](int x, int y) { return screen.pixel(x, y) == grey; };
  const int midY = screen.height() / 2;
  int x = 0;
  for (int run = 0; x < screen.width() && run < 30; ++x) run = isGrey(x, midY) ? run + 1 : 0;
  while (x < screen.width() && isGrey(x, midY)) ++x;
  const int left = x;
  while (x < screen.width() && !isGrey(x, midY)) ++x;
  const int right = x - 4;  // less the shadow
  ASSERT_GT(right - left, 200) << "no page in the view";
  const int column = left + 5;
  int y = midY;
  while (y > 0 && !isGrey(column, y - 1)) --y;
  const int top = y;
  y = midY;
  while (y < screen.height() && screen.pixel(column, y) != qRgb(0, 0, 0) && !isGrey(column, y)) ++y;
  const QRect page(left, top, right - left, y - top);
  ASSERT_GT(page.height(), 200) << "no page in the view";

  // The same page of the same file through the facade at the zoom shown
  // (a whole percent near the page's shown height): the closest agrees.
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(NativePathToWide(pvltest::CorpusPath(kFourPages)), u""), 1);
  const double estimate = page.height() * 100.0 / facade.PageHeight();
  double best = 255;
  int64_t bestDark = 0;
  for (int zoom = int(estimate) - 2; zoom <= int(estimate) + 2; ++zoom) {
    facade.SetRenderScale(zoom / 100.0);
    TMemoryStream bmp;
    ASSERT_EQ(facade.RenderPageToStream(72, 1, pofBMP, bmp), 1);
    QImage reference;
    ASSERT_TRUE(reference.loadFromData(reinterpret_cast<const uchar*>(bmp.Bytes().data()),
                                       static_cast<qsizetype>(bmp.Bytes().size()), "BMP"));
    if (std::abs(reference.width() - page.width()) > 2) continue;
    int64_t sum = 0, dark = 0, n = 0;
    for (int py = 0; py < std::min(page.height(), reference.height()); ++py)
      for (int px = 0; px < std::min(page.width(), reference.width()); ++px) {
        const QRgb a = screen.pixel(page.left() + px, page.top() + py), b = reference.pixel(px, py);
        sum += std::abs(qGray(a) - qGray(b));
        dark += qGray(a) < 128;
        ++n;
      }
    if (n > 0 && double(sum) / double(n) < best) {
      best = double(sum) / double(n);
      bestDark = dark;
    }
  }
  EXPECT_LT(best, 1.0) << "mean grey difference from the engine's render";
  EXPECT_GT(bestDark, 1000) << "the page shown has text";
}

// The real program in each of its four languages under Xvfb: every shot
// shows the page, and the menu bar reads differently in each language. The
// shots are kept under artefacts/ in the build folder for a person to look at.
TEST(ProgramWindow, ShowsADocumentInEveryLanguage) {
  for (const char* tool : {"xvfb-run", "import"}) {
    if (!pvltest::HaveTool(tool)) {
      if (std::getenv("CI")) FAIL() << tool << " is missing";
      GTEST_SKIP() << tool << " is missing";
    }
  }
  pvltest::TempDir dir;
  const std::vector<std::string> languages = {"English", "German", "Russian", "SimplifiedChinese"};
  std::string script = std::string(kGuiAsanOptions) + "unset QT_QPA_PLATFORM; ";
  for (const std::string& language : languages) {
    const std::string config = dir.File("config-" + language);
    std::filesystem::create_directories(config + "/corvane-pdf-reader");
    pvltest::WriteFile(config + "/corvane-pdf-reader/corvane-pdf-reader.ini", "[Options]\nLanguage=" + language + "\n");
    const std::string shot = dir.File(language + ".png");
    // As in the test above: shots until the grey view crosses the middle
    // row, then one more once the page has had time to draw.
    script += "XDG_CONFIG_HOME=\"" + config + "\" \"" + PVL_PROGRAM + "\" \"" + pvltest::CorpusPath(kFourPages) +
              "\" & pid=$!; for i in $(seq 60); do sleep 2; import -window root \"" + shot + "\"; n=$(convert \"" +
              shot + "\" -crop 1280x1+0+512 txt:- | grep -c '#808080'); [ \"$n\" -gt 100 ] && break; " +
              "done; sleep 4; import -window root \"" + shot + "\"; kill $pid; wait $pid 2>/dev/null; ";
  }
  script += "true";
  auto r = pvltest::RunCommand({"xvfb-run", "-a", "-n", "160", "-s", "-screen 0 1280x1024x24", "sh", "-c", script});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const QString artefacts = QString(PVL_BINARY_DIR) + "/artefacts";
  QDir().mkpath(artefacts);
  std::vector<QImage> menuBars;
  for (const std::string& language : languages) {
    SCOPED_TRACE(language);
    QImage screen(QString::fromStdString(dir.File(language + ".png")));
    ASSERT_FALSE(screen.isNull()) << r.err;
    screen = screen.convertToFormat(QImage::Format_RGB32);
    screen.save(artefacts + "/window-" + QString::fromStdString(language) + ".png");
    // The page: white with dark text on the grey view along the middle row.
    int grey = 0, ink = 0;
    for (int x = 0; x < screen.width(); ++x) grey += screen.pixel(x, screen.height() / 2) == qRgb(128, 128, 128);
    for (int y = screen.height() / 4; y < screen.height() * 3 / 4; ++y)
      for (int x = 0; x < screen.width(); x += 2) ink += qGray(screen.pixel(x, y)) < 60;
    EXPECT_GT(grey, 100) << "no page view";
    EXPECT_GT(ink, 200) << "no text on the page";
    menuBars.push_back(screen.copy(0, 0, 400, 24));
  }
  for (size_t i = 0; i < menuBars.size(); ++i)
    for (size_t j = i + 1; j < menuBars.size(); ++j)
      EXPECT_NE(menuBars[i], menuBars[j]) << languages[i] << " and " << languages[j] << " read the same";
}

}  // namespace
