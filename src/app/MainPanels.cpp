// The main window's document panels (bookmarks tree, attachments list), the
// rotation commands and saving, with the question before unsaved edits go.
#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTreeWidget>
#include <QUrl>
#include <cmath>

#include "app/FormCommon.h"
#include "app/Main.h"
#include "app/MainPager.h"
#include "document/Pavona0813.h"

namespace {

QString text16(const std::u16string& s) { return QString::fromStdU16String(s); }
std::u16string u16(const QString& s) { return s.toStdU16String(); }

// "D:YYYYMMDDHHmmSS" shown as DD:MM:YYYY HH:mm:SS; shorter texts give what
// they hold.
QString attachmentDate(const QString& pdf) {
  auto part = [&](int from, int count) { return pdf.mid(from - 1, count); };
  if (!pdf.startsWith("D:")) return pdf;
  return part(9, 2) + ":" + part(7, 2) + ":" + part(3, 4) + " " + part(11, 2) + ":" + part(13, 2) + ":" + part(15, 2);
}

constexpr int kHandleRole = Qt::UserRole + 1;

}  // namespace

int TForm1::Ask(const QString& text, QMessageBox::StandardButtons buttons) {
  if (QuestionHook) return QuestionHook(text);
  if (QApplication::platformName() == "offscreen") return QMessageBox::Cancel;
  return QMessageBox::question(this, windowTitle(), text, buttons);
}

void TForm1::SetModified(bool modified) {
  const int i = pager_->GetActivePageIndex();
  if (i < 0 || i >= static_cast<int>(docInfos_.size()) || i >= pager_->GetPageCount()) return;
  docInfos_[static_cast<size_t>(i)].Modified = modified;
  const QString caption = docInfos_[static_cast<size_t>(i)].FileName;
  pager_->GetPage(i)->SetCaption(modified ? caption + " *" : caption);
}

// ---------------------------------------------------------------------------
// Bookmarks

void TForm1::LoadBookmarks() {
  treeViewBookmarks_->clear();
  if (docInfos_.empty()) return;
  for (int32_t h = viewPDF_->GetFirstOutline(); h != 0; h = viewPDF_->GetNextOutline(h))
    AddBookmarkChildren(nullptr, h, 0);
}

void TForm1::AddBookmarkChildren(QTreeWidgetItem* parent, int32_t item, int depth) {
  // Outlines come from the file: a deep or looping chain is cut off.
  constexpr int kMaxDepth = 64;
  constexpr int kMaxItems = 100000;
  if (depth > kMaxDepth || treeViewBookmarks_->topLevelItemCount() > kMaxItems) return;
  std::u16string title;
  viewPDF_->GetOutlineTitle(item, title);
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(treeViewBookmarks_);
  node->setText(0, text16(title));
  node->setData(0, kHandleRole, item);
  const QColor color(int(std::lround(viewPDF_->GetOutlineColor(item, 0) * 255)),
                     int(std::lround(viewPDF_->GetOutlineColor(item, 1) * 255)),
                     int(std::lround(viewPDF_->GetOutlineColor(item, 2) * 255)));
  node->setForeground(0, color);
  int count = 0;
  for (int32_t child = viewPDF_->GetFirstChildOutline(item); child != 0 && count < kMaxItems;
       child = viewPDF_->GetNextOutline(child), ++count)
    AddBookmarkChildren(node, child, depth + 1);
}

void TForm1::TreeViewBookmarksChange(QTreeWidgetItem* node) {
  if (!node || docInfos_.empty()) return;
  const int32_t item = node->data(0, kHandleRole).toInt();
  std::u16string action;
  viewPDF_->GetOutlineAction(item, action);
  if (!action.empty()) {
    // Only web and mail addresses go to the desktop, and the program stays.
    const QUrl url(text16(action));
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https" && scheme != "mailto")) return;
    if (Ask(Message("StringDoYouWantToOpen") + ":\n" + text16(action), QMessageBox::Yes | QMessageBox::No) ==
        QMessageBox::Yes)
      QDesktopServices::openUrl(url);
    return;
  }
  const int32_t page = viewPDF_->GetOutlinePage(item);
  if (page >= 1) GoToPage(page);
}

void TForm1::AddBookmark(const QString& title, const QString& link, int32_t page, int32_t kind,
                         const QString& colorText) {
  if (docInfos_.empty()) return;
  const QColor color = ColorFromText(colorText);
  int32_t item = 0;
  if (kind == 0) {
    item = viewPDF_->NewOutline(0, u16(title), page, viewPDF_->PageHeight());
  } else {
    item = viewPDF_->NewChildOutline(0, u16(title));
    if (item) viewPDF_->SetOutlineWebLink(item, u16(link));
  }
  if (!item) {
    reportFailure(title);
    return;
  }
  viewPDF_->SetOutlineColor(item, color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0);
  viewPDF_->SetPageMode(1);
  SetModified(true);
  LoadBookmarks();
  GoToPage(currentPage_);
}

void TForm1::PMBookmarksDeleteClick() {
  QTreeWidgetItem* node = treeViewBookmarks_->currentItem();
  if (!node || docInfos_.empty()) return;
  if (viewPDF_->RemoveOutline(node->data(0, kHandleRole).toInt())) SetModified(true);
  LoadBookmarks();
}

void TForm1::MBookmarksRemoveAllClick() {
  if (docInfos_.empty()) return;
  bool removed = false;
  // Each pass removes the first top-level item with everything under it.
  for (int32_t guard = viewPDF_->OutlineCount(); guard >= 0; --guard) {
    const int32_t first = viewPDF_->GetFirstOutline();
    if (first == 0 || !viewPDF_->RemoveOutline(first)) break;
    removed = true;
  }
  if (removed) SetModified(true);
  LoadBookmarks();
  GoToPage(currentPage_);
}

// ---------------------------------------------------------------------------
// Attachments

void TForm1::LoadAttachments() {
  listViewAttach_->clear();
  if (docInfos_.empty()) return;
  const int32_t count = viewPDF_->EmbeddedFileCount();
  for (int32_t i = 1; i <= count; ++i) {
    std::u16string s[8];
    for (int32_t key : {1, 2, 3, 4, 5, 7}) viewPDF_->GetEmbeddedFileString(i, key, s[key]);
    auto* row = new QTreeWidgetItem(listViewAttach_);
    row->setText(0, QFileInfo(text16(s[1])).fileName());
    row->setText(1, text16(s[2]));
    row->setText(2, attachmentDate(text16(s[3])));
    row->setText(3, attachmentDate(text16(s[4])));
    row->setText(4, text16(s[5]));
    row->setText(5, text16(s[7]));
    // The size the file states (/Params /Size); a file that states none
    // (or 0) has the length of its data.
    int64_t size = viewPDF_->GetEmbeddedFileInt(i, 6);
    if (size <= 0) {
      std::string content;
      viewPDF_->GetEmbeddedFileContent(i, content);
      size = static_cast<int64_t>(content.size());
    }
    row->setText(6, QString::number(size));
  }
  for (QPushButton* b : panelAttach_->findChildren<QPushButton*>()) b->setEnabled(true);
}

void TForm1::AttachFiles(const QStringList& files) {
  if (docInfos_.empty()) return;
  bool any = false;
  for (const QString& file : files) {
    const QString title = "Attachement " + QString::number(viewPDF_->EmbeddedFileCount());
    // The facade says nothing of a file that is not there: its last error
    // could be an earlier command's.
    viewPDF_->SetLastErrorCode(0);
    if (viewPDF_->EmbedFile(u16(title), u16(file), u"") == 0) {
      if (viewPDF_->LastErrorCode() == 0 && !QFileInfo(file).isFile()) viewPDF_->SetLastErrorCode(pvlErrUnreadable);
      reportFailure(file);
    } else
      any = true;
  }
  if (any) SetModified(true);
  LoadAttachments();
}

void TForm1::MAttachFilesClick() {
  AttachFiles(QFileDialog::getOpenFileNames(this, QString(), QString(), "All Files (*)"));
}

void TForm1::RemoveAttachments(bool all) {
  if (docInfos_.empty()) return;
  bool removed = false;
  for (int k = listViewAttach_->topLevelItemCount(); k >= 1; --k)
    if (all || listViewAttach_->topLevelItem(k - 1)->isSelected())
      removed = viewPDF_->RemoveEmbeddedFile(k) != 0 || removed;
  if (removed) SetModified(true);
  LoadAttachments();
}

void TForm1::MSaveAttachClick() {
  for (int i = 1; i <= listViewAttach_->topLevelItemCount(); ++i) {
    if (!listViewAttach_->topLevelItem(i - 1)->isSelected()) continue;
    const QString path =
        SaveFileHook ? SaveFileHook(listViewAttach_->topLevelItem(i - 1)->text(0))
                     : QFileDialog::getSaveFileName(this, QString(), listViewAttach_->topLevelItem(i - 1)->text(0));
    if (path.isEmpty()) continue;  // this file only
    if (viewPDF_->SaveEmbeddedFileToFile(i, u16(path)) == 0) reportFailure(path);
  }
}

// ---------------------------------------------------------------------------
// Rotation

void TForm1::MRotateClick() {
  if (docInfos_.empty()) return;
  viewPDF_->SelectPage(currentPage_);
  if (viewPDF_->RotatePage((viewPDF_->PageRotation() + 90) % 360) == 0) return;
  SetModified(true);
  ShowPage(currentPage_);
}

void TForm1::MResetRotationClick() {
  if (docInfos_.empty()) return;
  viewPDF_->SelectPage(currentPage_);
  if (viewPDF_->PageRotation() == 0) return;
  if (viewPDF_->RotatePage(0)) SetModified(true);
  ShowPage(currentPage_);
}

// ---------------------------------------------------------------------------
// Saving

bool TForm1::SaveDocument(const QString& fileName) {
  const std::u16string product = QString(ProductName).toStdU16String();
  viewPDF_->SetInformation(5, product);
  viewPDF_->SetInformation(6, product);
  if (viewPDF_->SaveToFile(u16(fileName)) == 0) {
    showError(fileName + ": " + Message("StringCantSaveFile") + failureCause(*viewPDF_));
    return false;
  }
  // The saved document is the selected one, which need not be the active tab's.
  for (int i = 0; i < static_cast<int>(docInfos_.size()); ++i)
    if (viewPDF_->GetDocumentHandle(i + 2) == viewPDF_->SelectedDocument()) {
      docInfos_[static_cast<size_t>(i)].Modified = false;
      if (i < pager_->GetPageCount()) pager_->GetPage(i)->SetCaption(docInfos_[static_cast<size_t>(i)].FileName);
    }
  return true;
}

void TForm1::MSaveClick() {
  if (docInfos_.empty()) return;
  std::u16string name;
  viewPDF_->LoadedFileName(name);
  SaveDocument(text16(name));
}

void TForm1::MSaveAsClick() {
  if (docInfos_.empty()) return;
  std::u16string name;
  viewPDF_->LoadedFileName(name);
  const QString path = SaveFileHook ? SaveFileHook(text16(name))
                                    : QFileDialog::getSaveFileName(this, QString(), text16(name),
                                                                   "Adobe PDF File (*.pdf)");
  if (!path.isEmpty()) SaveDocument(path.endsWith(".pdf", Qt::CaseInsensitive) ? path : path + ".pdf");
}

bool TForm1::ConfirmClose(int index) {
  if (index < 0 || index >= static_cast<int>(docInfos_.size())) return true;
  if (!docInfos_[static_cast<size_t>(index)].Modified) return true;
  const int answer = Ask(docInfos_[static_cast<size_t>(index)].FileName + ": " + Message("StringSaveChanges"),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  if (answer == QMessageBox::Discard) return true;
  if (answer != QMessageBox::Save) return false;
  viewPDF_->SelectDocument(viewPDF_->GetDocumentHandle(index + 2));
  std::u16string name;
  viewPDF_->LoadedFileName(name);
  return SaveDocument(text16(name));
}
