// The document panels as a person uses them: the bookmarks tree (filled from
// the outline, jumping to pages, adding, deleting, links kept to the web),
// the attachments list (attach, save, remove), rotation, and the question
// before unsaved edits are lost; saved files checked with qpdf and mutool.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "TestSupport.h"
#include "app/Main.h"
#include "app/MainPager.h"
#include "document/Pavona0813.h"

namespace {

std::unique_ptr<TForm1> OpenCopy(const pvltest::TempDir& dir, const char* corpusFile, const char* name) {
  const std::string copy = dir.File(name);
  pvltest::WriteFile(copy, pvltest::ReadFile(pvltest::CorpusPath(corpusFile)));
  auto form = std::make_unique<TForm1>();
  form->resize(900, 700);
  form->show();
  QApplication::processEvents();
  form->OpenFiles({QString::fromStdString(copy)});
  return form;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    if (end > start) out.push_back(text.substr(start, end - start));
  return out;
}

// Clicks the close button that the pager puts on the tab, where the pager
// placed it, and lets the button go as the pager schedules it.
void ClickTabClose(TFxOfficePager* pager, int index) {
  QApplication::processEvents();
  ASSERT_LT(index, pager->GetPageCount());
  TFxGlowButton* button = pager->GetPage(index)->CloseButton();
  ASSERT_TRUE(button) << "tab " << index << " has no close button";
  ASSERT_TRUE(button->isVisible());
  EXPECT_EQ(button->geometry(), pager->GetCloseButtonRect(index));
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

TEST(Panels, BookmarksFollowTheOutlineAndEditsAreSaved) {
  ASSERT_TRUE(pvltest::HaveTool("mutool"));
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  pvltest::TempDir dir;
  auto form = OpenCopy(dir, "samples/pdflatex-outline.pdf", "outline.pdf");
  // The tree shows what mutool reads, in order; the titles repeat, so each
  // node must lead to its own item, not to the first of its name.
  const auto outline = Lines(pvltest::RunCommand({"mutool", "show", dir.File("outline.pdf"), "outline"}).out);
  QTreeWidget* tree = form->TreeViewBookmarks();
  ASSERT_EQ(tree->topLevelItemCount(), static_cast<int>(outline.size()));
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    const std::string& line = outline[static_cast<size_t>(i)];
    const std::string title = line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1);
    EXPECT_EQ(tree->topLevelItem(i)->text(0).toStdString(), title);
    const int page = std::stoi(line.substr(line.find("#page=") + 6));
    tree->setCurrentItem(tree->topLevelItem(i));
    EXPECT_EQ(form->CurrentPage(), page) << "node " << i;
  }

  // Add one to a page and one to the web, delete the first; the tab says
  // the document is edited until it is saved.
  form->GoToPage(1);
  form->AddBookmark("Summary", "", 4, 0, "clRed");
  form->AddBookmark("Web", "https://example.org/a b", 0, 1, "$00FF0000");
  EXPECT_TRUE(form->Pager()->GetPage(0)->GetCaption().endsWith("*"));
  tree->setCurrentItem(tree->topLevelItem(0));
  form->PMBookmarksDeleteClick();
  ASSERT_EQ(tree->topLevelItemCount(), static_cast<int>(outline.size()) + 1);
  EXPECT_EQ(tree->topLevelItem(tree->topLevelItemCount() - 2)->text(0), "Summary");
  EXPECT_EQ(tree->topLevelItem(tree->topLevelItemCount() - 2)->foreground(0).color(), QColor(255, 0, 0));
  EXPECT_EQ(tree->topLevelItem(tree->topLevelItemCount() - 1)->foreground(0).color(), QColor(0, 0, 255));
  form->SaveFileHook = [&](const QString&) { return QString::fromStdString(dir.File("edited.pdf")); };
  form->MSaveAsClick();
  EXPECT_FALSE(form->Pager()->GetPage(0)->GetCaption().endsWith("*"));
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", dir.File("edited.pdf")}).exitCode, 0);
  const auto saved = Lines(pvltest::RunCommand({"mutool", "show", dir.File("edited.pdf"), "outline"}).out);
  ASSERT_EQ(saved.size(), outline.size() + 1);
  EXPECT_EQ(saved[0], outline[1]);
  EXPECT_NE(saved[saved.size() - 2].find("\"Summary\"\t#page=4"), std::string::npos) << saved[saved.size() - 2];
  EXPECT_NE(saved.back().find("example.org"), std::string::npos) << saved.back();
  const std::string info = pvltest::RunCommand({"pdfinfo", dir.File("edited.pdf")}).out;
  EXPECT_NE(info.find("Corvane PDF Reader"), std::string::npos) << "creator and producer are the program";

  form->MBookmarksRemoveAllClick();
  EXPECT_EQ(tree->topLevelItemCount(), 0);
  EXPECT_EQ(form->ViewPDF()->OutlineCount(), 0);
}

TEST(Panels, TheCloseButtonOnATabClosesItsDocumentUnlessTheUserKeepsTheEdit) {
  pvltest::TempDir dir;
  for (const char* name : {"first.pdf", "second.pdf"})
    pvltest::WriteFile(dir.File(name), pvltest::ReadFile(pvltest::CorpusPath("samples/pdflatex-4-pages.pdf")));
  auto form = std::make_unique<TForm1>();
  form->resize(900, 700);
  form->show();
  QApplication::processEvents();
  form->OpenFiles({QString::fromStdString(dir.File("first.pdf")), QString::fromStdString(dir.File("second.pdf"))});
  TFxOfficePager* pager = form->Pager();
  ASSERT_EQ(pager->GetPageCount(), 2);
  ASSERT_EQ(pager->GetActivePageIndex(), 1);
  EXPECT_TRUE(pager->isVisible());

  // An edit is pending on the second document: Cancel keeps tab and document.
  form->MRotateClick();
  EXPECT_EQ(pager->GetPage(1)->GetCaption(), "second.pdf *");
  QStringList asked;
  int answer = QMessageBox::Cancel;
  form->QuestionHook = [&](const QString& text) {
    asked << text;
    return answer;
  };
  ClickTabClose(pager, 1);
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].startsWith("second.pdf")) << asked[0].toStdString();
  ASSERT_EQ(pager->GetPageCount(), 2);
  EXPECT_EQ(form->DocumentTabCount(), 2);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 3);
  EXPECT_EQ(form->ThumbPDF()->DocumentCount(), 3);
  EXPECT_EQ(pager->GetActivePageIndex(), 1);
  EXPECT_EQ(pager->GetPage(1)->GetCaption(), "second.pdf *");
  EXPECT_EQ(form->ViewPDF()->PageRotation(), 90) << "the kept edit is still there";

  // Discard: that document goes from both instances; the other one is shown.
  answer = QMessageBox::Discard;
  ClickTabClose(pager, 1);
  EXPECT_EQ(asked.size(), 2);
  ASSERT_EQ(pager->GetPageCount(), 1);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 2);
  EXPECT_EQ(form->ThumbPDF()->DocumentCount(), 2);
  EXPECT_EQ(pager->GetActivePageIndex(), 0);
  EXPECT_EQ(pager->GetPage(0)->GetCaption(), "first.pdf");
  ASSERT_TRUE(form->CurrentDocInfo());
  EXPECT_EQ(form->CurrentDocInfo()->FileName, "first.pdf");
  std::u16string name;
  form->ViewPDF()->LoadedFileName(name);
  EXPECT_EQ(QFileInfo(QString::fromStdU16String(name)).fileName(), "first.pdf");
  EXPECT_EQ(form->ViewPDF()->PageRotation(), 0);

  // The last tab, unedited: nothing to ask, and the pager goes away.
  ClickTabClose(pager, 0);
  EXPECT_EQ(asked.size(), 2);
  EXPECT_EQ(pager->GetPageCount(), 0);
  EXPECT_EQ(form->DocumentTabCount(), 0);
  EXPECT_EQ(form->ViewPDF()->DocumentCount(), 1);
  EXPECT_EQ(form->CurrentDocInfo(), nullptr);
  EXPECT_FALSE(pager->isVisible());
}

TEST(Panels, BookmarkLinksGoOnlyToTheWebAndTheProgramStays) {
  pvltest::TempDir dir;
  auto form = OpenCopy(dir, "samples/minimal-document.pdf", "doc.pdf");
  QStringList asked;
  form->QuestionHook = [&](const QString& text) {
    asked << text;
    return int(QMessageBox::No);
  };
  form->AddBookmark("Local", "file:///etc/passwd", 0, 1, "clBlack");
  form->AddBookmark("Shell", "javascript:alert(1)", 0, 1, "clBlack");
  form->AddBookmark("Site", "https://example.org/", 0, 1, "clBlack");
  QTreeWidget* tree = form->TreeViewBookmarks();
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  for (int i = 0; i < 3; ++i) tree->setCurrentItem(tree->topLevelItem(i));
  ASSERT_EQ(asked.size(), 1) << "only the web address is offered";
  EXPECT_TRUE(asked[0].contains("https://example.org/"));
  EXPECT_TRUE(form->isVisible());
}

TEST(Panels, AttachmentsAreListedSavedAndRemoved) {
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  pvltest::TempDir dir;
  auto form = OpenCopy(dir, "samples/minimal-document.pdf", "doc.pdf");
  const std::string first = dir.File("Übersicht данные.txt");
  const std::string second = dir.File("table.csv");
  pvltest::WriteFile(first, "first attachment\n");
  pvltest::WriteFile(second, std::string(5000, 'x'));
  form->AttachFiles({QString::fromStdString(first), QString::fromStdString(second)});
  QTreeWidget* list = form->ListViewAttach();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QFileInfo(QString::fromStdString(first)).fileName());
  EXPECT_EQ(list->topLevelItem(0)->text(4), "Attachement 0");
  EXPECT_EQ(list->topLevelItem(1)->text(4), "Attachement 1");
  EXPECT_EQ(list->topLevelItem(1)->text(6), "5000");
  EXPECT_TRUE(list->topLevelItem(0)->text(2).isEmpty() || list->topLevelItem(0)->text(2).count(':') == 4);

  // Save the second one out; a cancelled dialog skips only its own file.
  list->topLevelItem(0)->setSelected(true);
  list->topLevelItem(1)->setSelected(true);
  int asked = 0;
  form->SaveFileHook = [&](const QString&) {
    return ++asked == 1 ? QString() : QString::fromStdString(dir.File("out.csv"));
  };
  form->MSaveAttachClick();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(pvltest::ReadFile(dir.File("out.csv")), std::string(5000, 'x'));

  // Saved, qpdf lists both; then remove the selected first one, then all.
  form->SaveFileHook = [&](const QString&) { return QString::fromStdString(dir.File("attached.pdf")); };
  form->MSaveAsClick();
  const std::string listed = pvltest::RunCommand({"qpdf", "--list-attachments", dir.File("attached.pdf")}).out;
  EXPECT_NE(listed.find("Attachement 1"), std::string::npos) << listed;
  list->clearSelection();
  list->topLevelItem(0)->setSelected(true);
  form->RemoveAttachments(false);
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "table.csv");
  form->RemoveAttachments(true);
  EXPECT_EQ(list->topLevelItemCount(), 0);
}

TEST(Panels, RotationTurnsThePageAndUnsavedEditsAreAskedFor) {
  pvltest::TempDir dir;
  auto form = OpenCopy(dir, "samples/pdflatex-4-pages.pdf", "paper.pdf");
  form->MActualSizeClick();
  const QSize upright = form->PageImage()->size();
  form->MRotateClick();
  EXPECT_EQ(form->ViewPDF()->PageRotation(), 90);
  EXPECT_EQ(form->PageImage()->size(), upright.transposed());
  form->MResetRotationClick();
  EXPECT_EQ(form->ViewPDF()->PageRotation(), 0);
  EXPECT_EQ(form->PageImage()->size(), upright);

  // The edit is pending: Cancel keeps the tab, Save writes the file first.
  form->MRotateClick();
  form->QuestionHook = [](const QString&) { return int(QMessageBox::Cancel); };
  EXPECT_FALSE(form->CloseTab(0));
  EXPECT_EQ(form->DocumentTabCount(), 1);
  EXPECT_FALSE(form->close()) << "the window stays while the user keeps the edit";
  form->QuestionHook = [](const QString&) { return int(QMessageBox::Save); };
  EXPECT_TRUE(form->CloseTab(0));
  EXPECT_EQ(form->DocumentTabCount(), 0);
  const std::string info = pvltest::RunCommand({"pdfinfo", "-f", "1", "-l", "1", dir.File("paper.pdf")}).out;
  EXPECT_TRUE(QString::fromStdString(info).contains(QRegularExpression("Page +1 rot: +90"))) << info;
}
