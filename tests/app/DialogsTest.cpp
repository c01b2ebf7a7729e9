// The dialogs (settings read on showing and written on OK, the checks that
// keep a dialog open, clamped spin edits, colours as text), the update check
// against a server on the loopback, the word search and pages as images.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <memory>
#include <thread>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "app/About.h"
#include "app/Annotation.h"
#include "app/Bookmark.h"
#include "app/Main.h"
#include "app/MainPager.h"
#include "app/SplitPageImage.h"
#include "app/Update.h"
#include "app/Watermark.h"
#include "document/Pavona0813.h"
#include "platform/IniFile.h"

namespace {

QString Corpus(const char* file) { return QString::fromStdString(pvltest::CorpusPath(file)); }

using apptest::NewWindow;

template <class T>
T* Child(QWidget* parent, const char* name) {
  T* w = parent->findChild<T*>(name);
  EXPECT_TRUE(w) << name;
  return w;
}

// Serves one canned reply per connection on 127.0.0.1 until stopped.
class TReplyServer {
public:
  explicit TReplyServer(std::string reply) : reply_(std::move(reply)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 4);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int c = accept(fd_, nullptr, nullptr);
        if (c < 0 || stop_) {
          if (c >= 0) close(c);
          return;
        }
        char buffer[4096];
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos) {
          const ssize_t n = read(c, buffer, sizeof buffer);
          if (n <= 0) break;
          request.append(buffer, static_cast<size_t>(n));
        }
        lastRequest_ = request;
        const char* p = reply_.data();
        size_t left = reply_.size();
        while (left > 0) {
          const ssize_t n = write(c, p, left);
          if (n <= 0) break;
          p += n;
          left -= static_cast<size_t>(n);
        }
        close(c);
      }
    });
  }
  ~TReplyServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  QString Root() const { return QString("http://127.0.0.1:%1").arg(port_); }
  std::string LastRequest() const { return lastRequest_; }

private:
  std::string reply_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::string lastRequest_;
  std::thread thread_;
};

std::string HttpReply(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// A window whose settings point the update check at root.
std::unique_ptr<TForm1> WindowWithWebRoot(const QString& root) {
  QDir().mkpath(QFileInfo(TForm1::SettingsFileName()).absolutePath());
  TIniFile ini(TForm1::SettingsFileName().toStdString());
  ini.WriteString("Options", "WebRoot", root.toStdString());
  ini.UpdateFile();
  auto form = NewWindow();
  TIniFile restore(TForm1::SettingsFileName().toStdString());
  restore.WriteString("Options", "WebRoot", "https://corvane.example");
  restore.UpdateFile();
  return form;
}

}  // namespace

TEST(Dialogs, ColoursAsText) {
  struct {
    const char* text;
    QColor color;
    const char* written;
  } cases[] = {
      {"clBlue", QColor(0, 0, 255), "clBlue"},    {"clblack", QColor(0, 0, 0), "clBlack"},
      {"$000080FF", QColor(255, 128, 0), "$000080FF"}, {"255", QColor(255, 0, 0), "clRed"},
      {"$00123456", QColor(0x56, 0x34, 0x12), "$00123456"},
      // A system colour or words read as black rather than as garbage.
      {"$FF000005", QColor(0, 0, 0), "clBlack"}, {"blue-ish", QColor(0, 0, 0), "clBlack"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ColorFromText(c.text), c.color) << c.text;
    EXPECT_EQ(ColorToText(ColorFromText(c.text)), c.written) << c.text;
  }
}

TEST(Dialogs, WatermarkKeepsItsSettingsAndChecksTheImage) {
  auto form = NewWindow();
  TFormWatermark* dialog = form->FormWatermark();
  form->SetOption("wmFontStyleBold", "1");
  form->SetOption("wmPosHor", "3");
  form->SetOption("wmFontColor", "clRed");
  int textRuns = 0, imageRuns = 0;
  dialog->AddTextWatermark = [&] { ++textRuns; };
  dialog->AddImageWatermark = [&] { ++imageRuns; };

  dialog->SetKind("text");
  dialog->show();
  auto* bold = Child<QToolButton>(dialog, "SBBold");
  EXPECT_TRUE(bold->isChecked());
  EXPECT_TRUE(Child<QSpinBox>(dialog, "SpinEditPosX")->isEnabled()) << "custom horizontal position";
  EXPECT_FALSE(Child<QSpinBox>(dialog, "SpinEditPosY")->isEnabled());
  EXPECT_FALSE(Child<QLineEdit>(dialog, "EditImage")->isEnabled()) << "text mode";
  bold->click();
  // Typed values beyond the range are held to it.
  auto* angle = Child<QSpinBox>(dialog, "SpinEditAngle");
  angle->selectAll();
  QTest::keyClicks(angle, "999");
  angle->interpretText();
  auto* opacity = Child<QSpinBox>(dialog, "SpinEditStrokeOpacity");
  opacity->setValue(250);
  Child<QPushButton>(dialog, "ButtonOk")->click();
  EXPECT_EQ(textRuns, 1);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(form->Option("wmFontStyleBold"), "0");
  EXPECT_LE(form->Option("wmAngle").toInt(), 360);
  EXPECT_EQ(form->Option("wmStrokeOpacity"), "100");
  EXPECT_EQ(form->Option("wmFontColor"), "clRed");

  // Image mode without a path: nothing runs and the dialog stays open.
  form->SetOption("wmImage", "");
  dialog->SetKind("image");
  dialog->show();
  EXPECT_TRUE(Child<QLineEdit>(dialog, "EditImage")->isEnabled());
  Child<QPushButton>(dialog, "ButtonOk")->click();
  EXPECT_EQ(imageRuns, 0);
  EXPECT_TRUE(dialog->isVisible());
  Child<QLineEdit>(dialog, "EditImage")->setText("/tmp/picture.png");
  Child<QPushButton>(dialog, "ButtonOk")->click();
  EXPECT_EQ(imageRuns, 1);
  EXPECT_EQ(form->Option("wmImage"), "/tmp/picture.png");
  EXPECT_FALSE(dialog->isVisible());
}

TEST(Dialogs, AnnotationAndBookmarkHandTheirValuesOn) {
  auto form = NewWindow();
  form->OpenFiles({Corpus("samples/pdflatex-4-pages.pdf")});

  TFormAnnotation* annotation = form->FormAnnotation();
  form->SetOption("anTitle", "Review");
  bool ran = false;
  annotation->AddTextAnnotation = [&] { ran = true; };
  annotation->show();
  EXPECT_EQ(Child<QLineEdit>(annotation, "EditAnTitle")->text(), "Review");
  Child<QLineEdit>(annotation, "EditAnContents")->setText("Fix the figure");
  Child<QCheckBox>(annotation, "cbShow")->setChecked(true);
  Child<QSpinBox>(annotation, "SpinEditBottom")->setValue(5000);
  Child<QPushButton>(annotation, "ButtonOk")->click();
  EXPECT_TRUE(ran);
  EXPECT_EQ(form->Option("anContents"), "Fix the figure");
  EXPECT_EQ(form->Option("anBottom"), "1000");
  EXPECT_TRUE(form->AnnotationOpen);

  TFormBookmark* bookmark = form->FormBookmark();
  QString title, link, color;
  int32_t page = 0, kind = -1;
  bookmark->AddBookmark = [&](const QString& t, const QString& l, int32_t p, int32_t k, const QString& c) {
    title = t, link = l, page = p, kind = k, color = c;
  };
  bookmark->show();
  auto* pages = Child<QComboBox>(bookmark, "cmbBoPage");
  EXPECT_EQ(pages->count(), 4);
  EXPECT_TRUE(pages->isEnabled());
  EXPECT_FALSE(Child<QLineEdit>(bookmark, "EditBoLink")->isEnabled());
  pages->setCurrentIndex(2);
  Child<QLineEdit>(bookmark, "EditBoTitle")->setText("Results");
  Child<QPushButton>(bookmark, "ButtonOk")->click();
  EXPECT_EQ(title, "Results");
  EXPECT_EQ(page, 3);
  EXPECT_EQ(kind, 0);
  EXPECT_EQ(color, "clBlack");

  bookmark->show();
  const auto radios = Child<QGroupBox>(bookmark, "rgBoDest")->findChildren<QRadioButton*>();
  radios[1]->click();
  EXPECT_TRUE(Child<QLineEdit>(bookmark, "EditBoLink")->isEnabled());
  EXPECT_FALSE(pages->isEnabled());
  Child<QLineEdit>(bookmark, "EditBoLink")->setText("https://example.org/");
  Child<QPushButton>(bookmark, "ButtonOk")->click();
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(link, "https://example.org/");
}

TEST(Dialogs, CaptionsFollowTheLanguage) {
  auto form = NewWindow();
  form->LoadLanguage("German");
  EXPECT_EQ(form->FormSplitPageImage()->findChild<QPushButton*>("ButtonClose")->text(),
            QString::fromStdString(TIniFile(TForm1::LanguageFolder().toStdString() + "/German.ini")
                                       .ReadString("Interface", "FormSplitPageImage.ButtonClose.Caption", "")));
  EXPECT_NE(form->FormSplitPageImage()->findChild<QPushButton*>("ButtonClose")->text(), "Close");
  form->LoadLanguage("English");
  EXPECT_EQ(form->FormAbout()->findChild<QLabel*>("LabelSite")->text(), form->ProductPageURL());
}

TEST(Dialogs, PagesAsImagesSwapsAReversedRangeAndStaysOpen) {
  pvltest::TempDir dir;
  const std::string copy = dir.File("paper.pdf");
  pvltest::WriteFile(copy, pvltest::ReadFile(pvltest::CorpusPath("samples/pdflatex-4-pages.pdf")));
  auto form = NewWindow();
  form->OpenFiles({QString::fromStdString(copy)});
  TFormSplitPageImage* dialog = form->FormSplitPageImage();
  dialog->show();
  EXPECT_EQ(Child<QLineEdit>(dialog, "EditEnd")->text(), "4");
  Child<QLineEdit>(dialog, "EditStart")->setText("3");
  Child<QLineEdit>(dialog, "EditEnd")->setText("2");
  Child<QGroupBox>(dialog, "rgType")->findChildren<QRadioButton*>()[5]->setChecked(true);  // PNG
  Child<QPushButton>(dialog, "ButtonSplit")->click();
  EXPECT_TRUE(dialog->isVisible());
  const QStringList written = QDir(QString::fromStdString(dir.Path())).entryList({"*.png"}, QDir::Files, QDir::Name);
  ASSERT_EQ(written.size(), 2) << written.join(",").toStdString();
  for (const QString& name : written) {
    const QImage image(QString::fromStdString(dir.Path()) + "/" + name);
    EXPECT_FALSE(image.isNull()) << name.toStdString();
  }
}

TEST(Dialogs, UpdateCheckComparesVersionsAsNumbers) {
  struct {
    const char* name;
    int status;
    std::string body;
    const char* message;
    bool link;
  } cases[] = {
      {"newer", 200, "1.3\n", "StringNewVersionIsAvailable", true},
      {"ten above two", 200, "1.10\r\n", "StringNewVersionIsAvailable", true},
      {"older", 200, "1.1.9", "StringLastVersion", false},
      {"same", 200, "1.2", "StringLastVersion", false},
      {"empty", 200, "", "StringLastVersion", false},
      {"a page, not a version", 200, "<html>Moved</html>", "StringLastVersion", false},
      {"missing", 404, "9.9", "StringCantConnectToServer", false},
      {"far too large", 200, std::string(200000, '9'), "StringCantConnectToServer", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TReplyServer server(HttpReply(c.status, c.body));
    auto form = WindowWithWebRoot(server.Root());
    form->CheckForUpdate(false);
    EXPECT_TRUE(form->UpdateMessage.startsWith(form->Message(c.message))) << form->UpdateMessage.toStdString();
    EXPECT_EQ(form->UpdateLink.isEmpty(), !c.link);
    EXPECT_TRUE(form->UpdateShowResult);
    EXPECT_NE(server.LastRequest().find("GET /cgi-bin/check_update.cgi?title=Corvane+PDF+Reader "), std::string::npos)
        << server.LastRequest();
  }
  EXPECT_GT(CompareVersions("1.10", "1.2"), 0);
  EXPECT_EQ(CompareVersions("1.2.0", "1.2"), 0);
  EXPECT_LT(CompareVersions("abc", "0.1"), 0);
}

TEST(Dialogs, UpdateCheckFailuresEndWithAMessage) {
  {
    // Nothing listens on the port.
    int port = 0;
    { TReplyServer gone(""); port = gone.Root().section(':', 2).toInt(); }
    auto form = WindowWithWebRoot(QString("http://127.0.0.1:%1").arg(port));
    form->UpdateRunning = true;
    form->CheckForUpdate(true);
    EXPECT_EQ(form->UpdateMessage, form->Message("StringCantConnectToServer"));
    EXPECT_FALSE(form->UpdateRunning);
    EXPECT_FALSE(form->UpdateShowResult) << "a silent check shows only newer versions";
  }
  {
    // The cache folder cannot hold version.txt: say so instead of hanging.
    TReplyServer server(HttpReply(200, "1.3"));
    auto form = WindowWithWebRoot(server.Root());
    const QString folder = QFileInfo(TForm1::UpdateFileName()).absolutePath();
    QDir(folder).removeRecursively();
    QDir().mkpath(QFileInfo(folder).absolutePath());
    pvltest::WriteFile(folder.toStdString(), "a file where the folder should be");
    form->CheckForUpdate(false);
    EXPECT_TRUE(form->UpdateMessage.startsWith(form->Message("StringCantSaveVersionFile")))
        << form->UpdateMessage.toStdString();
    QFile::remove(folder);
  }
}

TEST(Dialogs, UpdateDialogRunsTheCheckOnAWorker) {
  TReplyServer server(HttpReply(200, "2.0\n"));
  auto form = WindowWithWebRoot(server.Root());
  TFormUpdate* dialog = form->FormUpdate();
  dialog->show();  // as the menu command shows it, without its modal loop
  QTRY_VERIFY_WITH_TIMEOUT(form->UpdateFinished, 20000);
  EXPECT_FALSE(form->UpdateRunning);
  EXPECT_TRUE(dialog->LabelText()->text().endsWith("2.0"));
  EXPECT_EQ(dialog->LabelLink()->text(), form->ProductPageURL());
  // "Check" again while the dialog is open updates it in place.
  form->UpdateFinished = false;
  dialog->ButtonCheckClick();
  QTRY_VERIFY_WITH_TIMEOUT(form->UpdateFinished, 20000);
  EXPECT_TRUE(dialog->isVisible());
  dialog->hide();
}

TEST(Search, FindsEveryOccurrenceAndWrapsBothWays) {
  auto form = NewWindow();
  const QString file = Corpus("pdfjs/TAMReview.pdf");
  form->OpenFiles({file});
  // The pages that hold the word, one entry per occurrence, from the
  // facade's word list; pdftotext must find the word on each of them.
  TPavona& pdf = *form->ViewPDF();
  const QString word = "Papers";
  std::vector<int32_t> expected;
  for (int32_t p = 1; p <= pdf.PageCount(); ++p) {
    pdf.SelectPage(p);
    std::u16string text;
    pdf.GetPageText(4, text);
    for (const QString& line : QString::fromStdU16String(text).split('\n'))
      if (line.section(',', 11).trimmed() == "\"" + word + "\"") expected.push_back(p);
  }
  ASSERT_TRUE(pvltest::HaveTool("pdftotext"));
  ASSERT_GE(expected.size(), 3u);
  ASSERT_NE(expected.front(), expected.back());
  for (int32_t p : expected) {
    const auto r = pvltest::RunCommand(
        {"pdftotext", "-f", std::to_string(p), "-l", std::to_string(p), file.toStdString(), "-"});
    EXPECT_NE(r.out.find(word.toStdString()), std::string::npos) << "page " << p;
  }

  form->EditSearchInput()->setText(word);
  QTest::keyClick(form->EditSearchInput(), Qt::Key_Return);
  ASSERT_EQ(form->SearchMatches().size(), static_cast<qsizetype>(expected.size()));
  EXPECT_EQ(form->CurrentPage(), expected[0]);
  for (size_t i = 1; i < expected.size(); ++i) {
    form->sbSearchNextClick();
    EXPECT_EQ(form->CurrentPage(), expected[i]);
  }
  form->sbSearchNextClick();
  EXPECT_EQ(form->CurrentPage(), expected[0]) << "Next wraps to the first match";
  form->sbSearchPreClick();
  EXPECT_EQ(form->CurrentPage(), expected.back()) << "Previous wraps to the last match";

  // Case matters, and a phrase never equals one word.
  for (const char* text : {"PAPERS", "Working Papers", "\"Papers\""}) {
    form->EditSearchInput()->setText(text);
    form->Search();
    EXPECT_TRUE(form->SearchMatches().isEmpty()) << text;
  }
  form->sbSearchNextClick();  // harmless without matches
}

TEST(Search, MatchesAreClearedOnATabSwitch) {
  auto form = NewWindow();
  form->OpenFiles({Corpus("pdfjs/TAMReview.pdf"), Corpus("samples/pdflatex-4-pages.pdf")});
  form->Pager()->SetActivePageIndex(0);
  form->EditSearchInput()->setText("Papers");
  form->Search();
  ASSERT_FALSE(form->SearchMatches().isEmpty());
  form->Pager()->SetActivePageIndex(1);
  EXPECT_TRUE(form->SearchMatches().isEmpty());
  form->sbSearchNextClick();
  EXPECT_EQ(form->CurrentPage(), 1);
}
