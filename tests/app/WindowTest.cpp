// The shown window as a user meets it: the real dialogs of the commands,
// the page view right after an edit, the thumbnail column, the attachments
// list and the toolbar in another language.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRect>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "app/Main.h"
#include "app/MainPager.h"
#include "document/Pavona0813.h"
#include "platform/IniFile.h"

namespace {

// What one input query showed when it opened.
struct TQuerySeen {
  QString text;
  QLineEdit::EchoMode echo = QLineEdit::Normal;
};

// Answers the window's real input queries as a user does: each query, once
// it is shown, is recorded, the answer is typed into its edit and Enter is
// pressed. Answers run out: the query is cancelled.
class TQueryAnswerer {
public:
  explicit TQueryAnswerer(std::vector<QString> answers) : answers_(std::move(answers)) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }
  const std::vector<TQuerySeen>& Seen() const { return seen_; }

private:
  void poll() {
    auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible() || dialog == last_) return;
    last_ = dialog;
    auto* edit = dialog->findChild<QLineEdit*>();
    if (!edit) return;
    seen_.push_back({edit->text(), edit->echoMode()});
    if (next_ >= answers_.size()) {
      dialog->reject();
      return;
    }
    edit->selectAll();
    QTest::keyClicks(edit, answers_[next_++]);
    QTest::keyClick(edit, Qt::Key_Return);
  }

  QTimer timer_;
  std::vector<QString> answers_;
  size_t next_ = 0;
  std::vector<TQuerySeen> seen_;
  QInputDialog* last_ = nullptr;
};

TEST(Window, PasswordQueriesAreMaskedAndStartEmpty) {
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  auto o = apptest::Open("samples/minimal-document.pdf");
  TForm1& f = *o->form;
  {
    TQueryAnswerer user({"2"});
    f.MInsertBlankClick();
    ASSERT_EQ(user.Seen().size(), 1u);
    EXPECT_EQ(user.Seen()[0].echo, QLineEdit::Normal) << "a page number is no secret";
  }
  ASSERT_EQ(f.ViewPDF()->PageCount(), 2);
  {
    TQueryAnswerer user({"owner-typed", "user-typed"});
    f.MEncryptClick();
    ASSERT_EQ(user.Seen().size(), 2u);
    for (const TQuerySeen& query : user.Seen()) {
      EXPECT_EQ(query.echo, QLineEdit::Password);
      EXPECT_TRUE(query.text.isEmpty()) << "the query opened holding " << query.text.toStdString();
    }
  }
  // The passwords as typed secure the saved file.
  EXPECT_NE(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--password=user-typed", "--check", o->file}).exitCode, 0);
  EXPECT_EQ(apptest::Pages(o->file) /* no password: unreadable */, -1);
  {
    // A query after the passwords does not start with one of them.
    TQueryAnswerer user({});
    f.MEncryptClick();
    ASSERT_EQ(user.Seen().size(), 1u);
    EXPECT_TRUE(user.Seen()[0].text.isEmpty());
  }
}

TEST(Window, ANewNoteShowsOnThePageAtOnce) {
  auto o = apptest::Open("samples/minimal-document.pdf");
  TForm1& f = *o->form;
  QApplication::processEvents();
  ASSERT_NE(f.PageImage(), nullptr);
  const QImage before = f.PageImage()->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(before.isNull());
  apptest::SetNoteOptions(f, "Reviewer", "Look here", 200, 100, 400, 200);
  f.SetOption("anColor", "clRed");
  f.SetOption("anAnchorLeft", "100");
  f.SetOption("anAnchorRight", "100");
  f.AddTextAnnotation();
  const QImage after = f.PageImage()->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(after.size(), before.size());
  // The note's sheet, red, near its anchor (100, 100 points from the top
  // left, at the zoom shown); nothing else of the page changed.
  const double scale = after.width() / f.ViewPDF()->PageWidth();
  QRect changed;
  int red = 0;
  for (int y = 0; y < after.height(); ++y)
    for (int x = 0; x < after.width(); ++x) {
      if (after.pixel(x, y) == before.pixel(x, y)) continue;
      changed |= QRect(x, y, 1, 1);
      const QColor c(after.pixel(x, y));
      red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
    }
  ASSERT_FALSE(changed.isEmpty()) << "the page looks as before the note";
  EXPECT_GT(red, 50);
  EXPECT_NEAR(changed.left(), 100 * scale, 3);
  EXPECT_NEAR(changed.top(), 100 * scale, 3);
  EXPECT_LT(changed.width(), 40 * scale);
  EXPECT_LT(changed.height(), 40 * scale);
}

// Three pages, the middle one much larger than the others (a cover on a
// book of small pages).
std::string MixedSizes() {
  return pvltest::MakePdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 6 0 R >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 1200] /Contents 6 0 R >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 6 0 R >>",
      "STREAM:0 0 1 rg 20 20 100 100 re f",
  });
}

TEST(Window, ThumbnailsOfPagesOfDifferentSizesDoNotOverlap) {
  pvltest::TempDir dir;
  const std::string file = dir.File("mixed.pdf");
  pvltest::WriteFile(file, MixedSizes());
  auto f = apptest::NewWindow();
  f->OpenFiles({QString::fromStdString(file)});
  f->MPreviewClick();  // the build runs from the event loop
  auto thumbnail = [&](int n) { return f->ScrollBoxPreview()->findChild<QLabel*>(QString("ImagePreview%1").arg(n)); };
  for (int turn = 0; turn < 1000 && !(thumbnail(3) && !thumbnail(3)->pixmap().isNull()); ++turn) QTest::qWait(5);
  ASSERT_EQ(f->ThumbnailCount(), 3);
  std::vector<QRect> boxes;
  for (int n = 1; n <= 3; ++n) {
    ASSERT_NE(thumbnail(n), nullptr) << n;
    ASSERT_FALSE(thumbnail(n)->pixmap().isNull()) << n;
    boxes.push_back(thumbnail(n)->geometry());
  }
  // One sixth of each page's size in points, in pixels.
  EXPECT_NEAR(boxes[1].height(), 200, 1);
  EXPECT_NEAR(boxes[0].height(), 67, 1);
  for (size_t i = 1; i < boxes.size(); ++i) {
    EXPECT_FALSE(boxes[i].intersects(boxes[i - 1])) << "thumbnails " << i << " and " << i + 1;
    EXPECT_GT(boxes[i].top(), boxes[i - 1].bottom()) << "each below the one before";
  }
  EXPECT_GE(f->ScrollBoxPreview()->height(), boxes[2].bottom()) << "the column holds the last one";
}

// Keys and clicks run while thumbnails are built; closing the tab or
// switching documents in between ends the build safely.
TEST(Window, TabsCloseAndSwitchWhileThumbnailsAreBuilt) {
  auto f = apptest::NewWindow();
  f->OpenFiles({QString::fromStdString(pvltest::CorpusPath("pdfjs/tracemonkey.pdf")),
                QString::fromStdString(pvltest::CorpusPath("samples/pdflatex-4-pages.pdf"))});
  ASSERT_EQ(f->DocumentTabCount(), 2);
  f->MPreviewClick();
  f->Pager()->SetActivePageIndex(0);
  f->MLastPageClick();
  ASSERT_EQ(f->CurrentPage(), 14);
  // During the build: Home on the page view, then the other tab, then the
  // first tab is closed; each step once the build has drawn a few pages.
  int pageAfterHome = 0;
  std::vector<std::function<void()>> steps = {
      [&] {
        QTest::keyClick(f->ScrollBoxView(), Qt::Key_Home);
        pageAfterHome = f->CurrentPage();
      },
      [&] { f->Pager()->SetActivePageIndex(1); },
      [&] { f->CloseTab(0); },
  };
  size_t step = 0;
  int builds = 0;
  for (; step < steps.size(); ++builds) {
    ASSERT_LT(builds, 10);
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (step < steps.size() && f->ThumbnailCount() > 0 &&
          f->ScrollBoxPreview()->findChild<QLabel*>("ImagePreview2") &&
          !f->ScrollBoxPreview()->findChild<QLabel*>("ImagePreview2")->pixmap().isNull()) {
        steps[step++]();
        poll.stop();
      }
    });
    poll.start();
    f->BuildThumbnails();
    poll.stop();
    QApplication::processEvents();
  }
  EXPECT_EQ(pageAfterHome, 1);
  EXPECT_EQ(f->DocumentTabCount(), 1);
  EXPECT_EQ(f->DocInfos()[0].FileName, "pdflatex-4-pages.pdf");
  // The build that the close ended left nothing of the closed document; a
  // new one shows the four pages of the one that stayed.
  f->BuildThumbnails();
  EXPECT_EQ(f->ThumbnailCount(), 4);
  EXPECT_EQ(f->ThumbPDF()->PageCount(), 4);
}

// Home pressed while the thumbnails of a long document are drawn shows page
// 1 and keeps showing it; the build still draws every thumbnail.
TEST(Window, HomeDuringTheThumbnailBuildShowsPageOne) {
  auto f = apptest::NewWindow();
  f->OpenFiles({QString::fromStdString(pvltest::CorpusPath("pdfjs/tracemonkey.pdf"))});
  ASSERT_EQ(f->DocumentTabCount(), 1);
  f->MPreviewClick();
  f->MLastPageClick();
  ASSERT_EQ(f->CurrentPage(), 14);
  auto drawn = [&](int n) {
    auto* thumbnail = f->ScrollBoxPreview()->findChild<QLabel*>(QString("ImagePreview%1").arg(n));
    return thumbnail && !thumbnail->pixmap().isNull();
  };
  // The key goes in once the build has drawn its first thumbnail and
  // before it has drawn the last.
  bool pressed = false, duringBuild = false;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (pressed || !drawn(1)) return;
    pressed = true;
    duringBuild = !drawn(14);
    QTest::keyClick(f->ScrollBoxView(), Qt::Key_Home);
  });
  poll.start();
  f->BuildThumbnails();
  poll.stop();
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(duringBuild);
  QApplication::processEvents();
  EXPECT_EQ(f->CurrentPage(), 1);
  EXPECT_EQ(f->findChild<QComboBox*>("ComboBoxPage")->currentIndex(), 0);
  EXPECT_EQ(f->CurrentDocInfo()->Page, 1);
  for (int n = 1; n <= 14; ++n) EXPECT_TRUE(drawn(n)) << "thumbnail " << n;
}

TEST(Window, TheAttachmentsListShowsTheFileSize) {
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  struct TCase {
    const char* file;
    const char* name;
  };
  // A file whose stream states no size, and one that states it.
  for (const TCase& c : {TCase{"samples/with-attachment.pdf", "image.png"}, TCase{"pdfjs/attachment.pdf", "foo.txt"}}) {
    auto o = apptest::Open(c.file);
    QTreeWidget* list = o->form->ListViewAttach();
    ASSERT_EQ(list->topLevelItemCount(), 1) << c.file;
    const std::string data =
        pvltest::RunCommand({"qpdf", std::string("--show-attachment=") + c.name, pvltest::CorpusPath(c.file)}).out;
    ASSERT_FALSE(data.empty()) << c.file;
    EXPECT_EQ(list->topLevelItem(0)->text(6).toStdString(), std::to_string(data.size())) << c.file;
  }
}

// Every text the toolbar shows in German comes from the German language
// file; the buttons show pictures.
TEST(Window, TheToolbarShowsNoFixedEnglishText) {
  auto f = apptest::NewWindow();
  f->LoadLanguage("German");
  const std::string folder = TForm1::LanguageFolder().toStdString();
  const TIniFile german(folder + "/German.ini");
  const TIniFile english(folder + "/English.ini");
  auto* bar = f->findChild<QToolBar*>("ToolBar1");
  ASSERT_NE(bar, nullptr);
  int buttons = 0;
  for (QToolButton* b : bar->findChildren<QToolButton*>()) {
    if (!b->isVisible()) continue;  // the toolbar's own extension arrow
    QString name = b->objectName();
    if (b->defaultAction()) name = b->defaultAction()->objectName();
    SCOPED_TRACE(name.toStdString());
    ++buttons;
    EXPECT_FALSE(b->icon().isNull()) << "a button without a picture";
    EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonIconOnly);
    const std::string key = name.toStdString() + ".Hint";
    ASSERT_TRUE(german.ValueExists("Interface", key));
    const QString hint = QString::fromStdString(german.ReadString("Interface", key, ""));
    EXPECT_EQ(b->toolTip(), hint);
    EXPECT_NE(b->toolTip().toStdString(), english.ReadString("Interface", key, "")) << "still English";
    EXPECT_TRUE(b->text().isEmpty() || b->text() == hint) << b->text().toStdString();
  }
  EXPECT_EQ(buttons, 14);
  for (QLabel* label : bar->findChildren<QLabel*>()) {
    const std::string key = label->objectName().toStdString() + ".Caption";
    ASSERT_TRUE(german.ValueExists("Interface", key)) << key;
    EXPECT_EQ(label->text().toStdString(), german.ReadString("Interface", key, "")) << key;
  }
}

}  // namespace
