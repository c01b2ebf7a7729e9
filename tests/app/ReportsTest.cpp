// What the window tells the user: a damaged file it repaired (a note in the
// status bar, every page that survived shown) and the engine's own cause
// beside the fixed words of a failed command.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStringList>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "MakePdf.h"
#include "TestSupport.h"
#include "app/Main.h"
#include "app/MainPager.h"
#include "document/Pavona0813.h"

namespace {

QStringList gReports;
void collectReport(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtWarningMsg) gReports << text;
}

// Collects the window's messages (warnings on the off-screen platform)
// while it lives.
class TReports {
public:
  TReports() {
    gReports.clear();
    previous_ = qInstallMessageHandler(collectReport);
  }
  ~TReports() { qInstallMessageHandler(previous_); }
  QString Joined() const { return gReports.join(" | "); }

private:
  QtMessageHandler previous_ = nullptr;
};

// pdfinfo's page count of a file; -1 when it cannot read it.
int PdfinfoPages(const std::string& file) {
  const std::string out = pvltest::RunCommand({"pdfinfo", file}).out;
  const size_t at = out.find("\nPages:");
  return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 7);
}

// The page count the toolbar's page list offers.
int ListedPages(const TForm1& form) {
  return form.findChild<QComboBox*>("ComboBoxPage")->count();
}

// The status bar's note, "" while the bar is hidden.
QString StatusText(TForm1& form) {
  auto* bar = form.findChild<QStatusBar*>();
  auto* note = form.findChild<QLabel*>("LabelFileRepaired");
  return bar && note && bar->isVisible() ? note->text() : QString();
}

}  // namespace

// A file whose cross-reference data is damaged opens with every page that
// survived (as many as poppler finds in the same file), and the status bar
// says that it was repaired while its tab is shown.
TEST(Reports, RepairedFilesAreShownWithANote) {
  if (!pvltest::HaveTool("pdfinfo")) GTEST_SKIP() << "pdfinfo is not installed";
  const std::string sound = pvltest::ReadFile(pvltest::CorpusPath("samples/imagemagick-images.pdf"));
  const size_t table = sound.find("\nxref") + 1;
  const size_t startxref = sound.rfind("startxref");
  ASSERT_NE(table, std::string::npos);
  ASSERT_NE(startxref, std::string::npos);
  struct TCase {
    const char* damage;
    std::string bytes;
  } cases[] = {
      {"rows of the table overwritten",
       sound.substr(0, table + 40) + std::string(200, 'x') + sound.substr(table + 240)},
      {"startxref inside the first object", sound.substr(0, startxref) + "startxref\n100\n%%EOF\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.damage);
    pvltest::TempDir dir;
    const std::string damaged = dir.File("damaged.pdf");
    pvltest::WriteFile(damaged, c.bytes);
    const int expected = PdfinfoPages(damaged);
    ASSERT_GT(expected, 1);
    auto form = apptest::NewWindow();
    form->OpenFiles({QString::fromStdString(damaged)});
    ASSERT_EQ(form->DocumentTabCount(), 1);
    EXPECT_EQ(ListedPages(*form), expected);
    EXPECT_EQ(form->ViewPDF()->PageCount(), expected);
    EXPECT_EQ(form->ThumbPDF()->PageCount(), expected);
    const QString note = form->Message("StringFileWasRepaired");
    ASSERT_FALSE(note.isEmpty());
    EXPECT_TRUE(StatusText(*form).contains(note)) << StatusText(*form).toStdString();
    EXPECT_TRUE(StatusText(*form).contains("damaged.pdf")) << StatusText(*form).toStdString();
    // A menu's tip passing over the status bar leaves the note in place.
    QStatusTipEvent tip("Open a file");
    QApplication::sendEvent(form.get(), &tip);
    QStatusTipEvent noTip("");
    QApplication::sendEvent(form.get(), &noTip);
    EXPECT_TRUE(StatusText(*form).contains(note)) << StatusText(*form).toStdString();
    // The note follows the language.
    form->LoadLanguage("German");
    EXPECT_TRUE(StatusText(*form).contains(form->Message("StringFileWasRepaired"))) << StatusText(*form).toStdString();
    form->LoadLanguage("English");

    // A sound file's tab shows no note; the repaired one's shows it again.
    const std::string other = dir.File("sound.pdf");
    pvltest::WriteFile(other, sound);
    form->OpenFiles({QString::fromStdString(other)});
    EXPECT_FALSE(StatusText(*form).contains(note)) << StatusText(*form).toStdString();
    form->Pager()->SetActivePageIndex(0);
    EXPECT_TRUE(StatusText(*form).contains(note)) << StatusText(*form).toStdString();
    form->MCloseAllClick();
    EXPECT_TRUE(StatusText(*form).isEmpty()) << StatusText(*form).toStdString();
  }
}

// Every language has its own words for the note and for a failed command
// (a text missing from the program's list reads the same in all of them).
TEST(Reports, NotesComeFromTheLanguageFiles) {
  auto form = apptest::NewWindow();
  for (const char* key : {"StringFileWasRepaired", "StringCommandFailed"}) {
    std::set<QString> texts;
    for (const char* language : {"English", "German", "Russian", "SimplifiedChinese"}) {
      form->LoadLanguage(language);
      EXPECT_FALSE(form->Message(key).isEmpty()) << key << " " << language;
      texts.insert(form->Message(key));
    }
    EXPECT_EQ(texts.size(), 4u) << key;
  }
  form->LoadLanguage("English");
}

// A command that fails shows the engine's cause after the fixed words, and
// no earlier render's text in its place.
TEST(Reports, FailuresShowTheEnginesCause) {
  auto o = apptest::Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  ASSERT_EQ(f.DocumentTabCount(), 1);
  pvltest::WriteFile(o->dir.File("notes.png"), std::string("\x89PNG\r\n\x1a\n", 8) + "cut short");
  pvltest::WriteFile(o->dir.File("letter.pdf"), "Dear reader,\nthis is no PDF document.\n");
  const QString notes = QString::fromStdString(o->dir.File("notes.png"));
  const QString letter = QString::fromStdString(o->dir.File("letter.pdf"));
  const QString missing = QString::fromStdString(o->dir.File("missing.txt"));

  const std::string merged = o->dir.File("merged.pdf");
  const std::string nowhere = o->dir.File("no such folder/saved.pdf");

  // causeSaysMore: the engine knows more than the error code's meaning.
  struct TCase {
    const char* command;
    bool causeSaysMore;
    std::function<void()> run;
  } cases[] = {
      {"open a file that is no PDF document", true, [&] { f.OpenFiles({letter}); }},
      {"merge a file that is no PDF document", true,
       [&] {
         f.OpenFilesHook = [&](const QString&) { return QStringList{letter}; };
         f.MMergeClick();
       }},
      {"merge files into a new one, one of them no PDF document", false,
       [&] {
         f.OpenFilesHook = [&](const QString&) { return QStringList{QString::fromStdString(o->file), letter}; };
         f.SaveFileHook = [&](const QString&) { return QString::fromStdString(merged); };
         f.MMergeFilesClick();
       }},
      {"save into a folder that is not there", true,
       [&] {
         f.SaveFileHook = [&](const QString&) { return QString::fromStdString(nowhere); };
         f.MSaveAsClick();
       }},
      {"an image watermark from a damaged image", false,
       [&] {
         f.SetOption("wmImage", notes);
         f.AddImageWatermark();
       }},
      {"a thumbnail from a damaged image", false,
       [&] {
         f.OpenFilesHook = [&](const QString&) { return QStringList{notes}; };
         f.MThumbnailsClick();
       }},
      {"attach a file that is not there", false, [&] { f.AttachFiles({missing}); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.command);
    // A failed page-image export first: its text must not stand in for the
    // next failure's cause.
    f.SavePagesAsImages(9, 12, 5);
    TReports reports;
    c.run();
    const std::string cause = f.ViewPDF()->LastErrorMessage();
    ASSERT_FALSE(cause.empty());
    ASSERT_EQ(gReports.size(), 1) << reports.Joined().toStdString();
    const QString& report = gReports[0];
    if (c.causeSaysMore) {
      EXPECT_NE(cause, FacadeErrorText(f.ViewPDF()->LastErrorCode()));
      EXPECT_TRUE(report.contains(QString::fromStdString(cause))) << report.toStdString();
    }
    EXPECT_FALSE(report.contains("page range")) << report.toStdString();
    EXPECT_FALSE(report.contains(QRegularExpression("\\(\\d+\\)"))) << "no error number: " << report.toStdString();
    EXPECT_FALSE(report.trimmed().endsWith(':')) << "the words of the failure are there: " << report.toStdString();
  }
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(merged)));

  // A print that would write over the document's own file is refused with
  // the renderer's reason; the file stays as it was.
  const std::string before = pvltest::ReadFile(o->file);
  f.ViewPDF()->SetPrintOutputFile(QString::fromStdString(o->file).toStdU16String());
  {
    TReports reports;
    f.MPrintClick();
    const std::string reason = f.ViewPDF()->LastRenderMessage();
    ASSERT_FALSE(reason.empty());
    ASSERT_EQ(gReports.size(), 1) << reports.Joined().toStdString();
    EXPECT_TRUE(gReports[0].contains(QString::fromStdString(reason))) << gReports[0].toStdString();
  }
  f.ViewPDF()->SetPrintOutputFile(u"");
  EXPECT_EQ(pvltest::ReadFile(o->file), before);
  EXPECT_EQ(f.DocumentTabCount(), 1);
  EXPECT_FALSE(f.CurrentDocInfo()->Modified);
}

// A page image saved or a page printed without a picture that cannot be
// decoded is still made, and the user learns which picture was left out.
TEST(Reports, PicturesLeftOutOfOutputAreNamed) {
  pvltest::TempDir dir;
  const std::string jpeg = "this is not a JPEG stream at all";
  const std::string file = dir.File("broken-picture.pdf");
  pvltest::WriteFile(file,
                     pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] "
                                       "/Resources << /XObject << /Im 5 0 R >> >> /Contents 4 0 R >>",
                                       "STREAM:0 0 1 rg 5 5 30 30 re f q 40 0 0 40 50 50 cm /Im Do Q",
                                       "<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceRGB "
                                       "/BitsPerComponent 8 /Filter /DCTDecode /Length " +
                                           std::to_string(jpeg.size()) + " >>\nstream\n" + jpeg + "\nendstream"}));
  auto form = apptest::NewWindow();
  form->OpenFiles({QString::fromStdString(file)});
  ASSERT_EQ(form->DocumentTabCount(), 1);
  const std::string printed = dir.File("printed.pdf");
  struct TCase {
    const char* command;
    std::string output;
    std::function<void()> run;
  } cases[] = {
      {"save the page as PNG", dir.File("broken-picture1.png"), [&] { form->SavePagesAsImages(1, 1, 5); }},
      {"print into a file", printed,
       [&] {
         form->ViewPDF()->SetPrintOutputFile(QString::fromStdString(printed).toStdU16String());
         form->MPrintClick();
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.command);
    TReports reports;
    c.run();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(c.output)).size() > 0) << c.output;
    ASSERT_EQ(gReports.size(), 1) << reports.Joined().toStdString();
    EXPECT_TRUE(gReports[0].contains("page 1: image 5 0 R left out")) << gReports[0].toStdString();
  }
}
