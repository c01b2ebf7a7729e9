// The main window's document commands: watermarks and notes, document
// information, encryption, blank pages, text from files, merging, splitting,
// extraction and printing. Each works on the active tab's document.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <algorithm>
#include <optional>
#include <cmath>

#include "app/FormCommon.h"
#include "app/Main.h"
#include "app/Watermark.h"
#include "document/Pavona0813.h"
#include "platform/Classes.h"

namespace {

std::u16string u16(const QString& s) { return s.toStdU16String(); }
QString text16(const std::u16string& s) { return QString::fromStdU16String(s); }

const int kFontSizes[] = {8, 9, 10, 11, 12, 13, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72, 96};

}  // namespace

std::optional<QString> TForm1::InputQuery(const QString& caption, const QString& prompt, const QString& start,
                                          bool secret) {
  if (InputHook) return InputHook(caption, prompt, start);
  bool ok = false;
  const QString value =
      QInputDialog::getText(this, caption, prompt, secret ? QLineEdit::Password : QLineEdit::Normal, start, &ok);
  if (!ok) return std::nullopt;
  return value;
}

QStringList TForm1::ChooseFiles(const QString& filter) {
  if (OpenFilesHook) return OpenFilesHook(filter);
  return QFileDialog::getOpenFileNames(this, QString(), QString(), filter);
}

QString TForm1::ChooseSaveFile(const QString& start, const QString& filter) {
  if (SaveFileHook) return SaveFileHook(start);
  return QFileDialog::getSaveFileName(this, QString(), start, filter);
}

QString TForm1::loadedFileName() const {
  std::u16string name;
  viewPDF_->LoadedFileName(name);
  return text16(name);
}

// The reason of a failed command in words: the user reads what went wrong,
// never the engine's error number.
static QString failureReason(int32_t code) {
  switch (code) {
    case pvlErrStrength: return "this encryption strength is not available";
    case pvlErrPermissionCheck: return "the permissions are not valid";
    case pvlErrAlreadyEncrypted: return "the document is already encrypted";
    case pvlErrEncryptionSetup: return "encryption could not be set up";
    case pvlErrInformationIndex: return "this document information entry does not exist";
    case pvlErrUnreadable: return "the file cannot be read";
    case pvlErrCannotDelete: return "the existing file cannot be replaced";
    case pvlErrCannotWrite: return "the file cannot be written";
    case pvlErrWrongPassword: return "wrong password";
    case pvlErrNoXRef: return "the file is not a PDF document";
    case pvlErrEncryptedInput: return "encrypted documents cannot be merged this way";
    case pvlErrNoPages: return "no pages were selected";
    case pvlErrRenderFailed: return "the page could not be drawn";
    case pvlErrBadArgument: return "the request is outside what the command accepts";
    case pvlErrSaveFailed: return "the document could not be saved";
    case TPavona::pvlErrMetafileWMF:
      return "the Windows metafile (WMF) could not be converted";
    case TPavona::pvlErrUnencodableText: return "the text has characters the font cannot show";
    case TPavona::pvlErrNoPageTree: return "the document has no pages";
    default: return "the operation failed";
  }
}

QString TForm1::failureCause(const TPavona& source) {
  // A code set without a cause carries its own meaning as the message: the
  // fixed words already say that much.
  const std::string& cause = source.LastErrorMessage();
  if (cause.empty() || cause == FacadeErrorText(source.LastErrorCode())) return {};
  return "\n" + QString::fromStdString(cause);
}

QString TForm1::failureText(const TPavona& source) {
  return failureReason(source.LastErrorCode()) + failureCause(source);
}

void TForm1::reportFailure(const QString& what, const TPavona* source) {
  showError(what + ": " + failureText(source ? *source : *viewPDF_));
}

void TForm1::reportLeftOut(const QString& what) {
  const std::string& warnings = viewPDF_->LastRenderWarnings();
  if (!warnings.empty())
    showError(what + ": " + QString("some pictures could not be drawn and were left out") + "\n" +
              QString::fromStdString(warnings));
}

// ---------------------------------------------------------------------------
// Watermarks and notes

int32_t TForm1::watermarkEveryPage(const std::function<int32_t()>& drawPage) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QProgressBar* progress = formWatermark_->Progress();
  const int32_t count = viewPDF_->PageCount();
  int32_t failed = 0;
  for (int32_t n = 1; n <= count; ++n) {
    viewPDF_->SelectPage(n);
    viewPDF_->SetOrigin(1);
    failed += drawPage();
    progress->setValue(progress->maximum() * n / count);
    formWatermark_->PageCounter()->setText(QString("%1/%2").arg(n).arg(count));
    QApplication::processEvents();
  }
  progress->setValue(0);
  formWatermark_->PageCounter()->clear();
  QApplication::restoreOverrideCursor();
  return failed;
}

void TForm1::AddTextWatermark() {
  if (docInfos_.empty()) return;
  if (Option("wmText").isEmpty()) {
    showError(LanguageText("FormWatermark.LabelText.Caption", "Text:") + " " + QString("nothing to draw"));
    return;
  }
  const QStringList families = QFontDatabase::families();
  bool numeric = false;
  const int fontIndex = Option("wmFontName").toInt(&numeric);
  if (!numeric || fontIndex < 0 || fontIndex >= families.size()) {
    // No font of that number on this system: say so and change nothing.
    showError(LanguageText("FormWatermark.LabelFontName.Caption", "Font Name:") + " " + Option("wmFontName") +
              ": " + QString("no such font (%1 installed)").arg(families.size()));
    return;
  }
  QString family = families[fontIndex];
  // The style buttons choose the face of the family.
  const bool bold = Option("wmFontStyleBold") == "1", italic = Option("wmFontStyleItalic") == "1";
  if (bold || italic) family += QString(" [") + (bold ? "Bold" : "") + (italic ? "Italic" : "") + "]";
  const int32_t font = viewPDF_->AddTrueTypeFont(u16(family), 1);
  if (font == 0) {
    reportFailure(LanguageText("FormWatermark.LabelFontName.Caption", "Font:") + " " + family);
    return;
  }
  viewPDF_->SelectFont(font);
  const bool underline = Option("wmFontStyleUnder") == "1";
  const int sizeIndex = Option("wmFontSize").toInt();
  const QColor color = ColorFromText(Option("wmFontColor"));
  const int posHor = Option("wmPosHor").toInt(), posVer = Option("wmPosVer").toInt();
  const double angle = Option("wmAngle").toDouble();
  const std::u16string text = u16(Option("wmText"));
  const int32_t failed = watermarkEveryPage([&] {
    int32_t failures = 0;
    viewPDF_->SetTextMode(Option("wmRenderMode").toInt());
    if (sizeIndex >= 0 && sizeIndex < 18) viewPDF_->SetTextSize(kFontSizes[sizeIndex]);
    viewPDF_->SetTextColor(color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0);
    viewPDF_->SetTransparency(100 - Option("wmStrokeOpacity").toInt());
    if (posHor >= 0 && posHor <= 2) viewPDF_->SetTextAlign(posHor);
    // The underline goes with the text: same colour, opacity and turn.
    viewPDF_->SetTextDecoration(underline ? 1 : 0);
    const double w = std::nearbyint(viewPDF_->PageWidth()), h = std::nearbyint(viewPDF_->PageHeight());
    const int32_t placement = posVer == 0 ? 1 : posVer == 1 ? 0 : 2;
    if (posVer >= 0 && posVer <= 2 && viewPDF_->DrawTextBox(text, placement, 0, 0, w, h, angle) == 0) ++failures;
    if (posHor == 3 || posVer == 3) {
      const double x = Option("wmPosX").toDouble(), y = Option("wmPosY").toDouble();
      if (viewPDF_->DrawRotatedText(text, x, y, angle) == 0) ++failures;
    }
    // Later text on the page (text from a file, say) is not underlined.
    viewPDF_->SetTextDecoration(0);
    return failures;
  });
  SetModified(true);
  // One redraw at the end shows every page's change.
  viewPDF_->SelectPage(currentPage_);
  ShowPage(currentPage_);
  if (failed > 0)
    showError(LanguageText("FormWatermark.Caption", "Add Watermark") + ": " +
              QString("the text did not fit or could not be drawn %1 time(s)").arg(failed));
}

void TForm1::AddImageWatermark() {
  if (docInfos_.empty()) return;
  const QString path = Option("wmImage");
  // Loading selects the image; a failed load must not leave an earlier
  // image to be drawn in its place.
  if (viewPDF_->AddImageFromFile(u16(path), 0) == 0) {
    showError(path + ": " + QString("not an image file that can be read") + failureCause(*viewPDF_));
    return;
  }
  const double iw = viewPDF_->ImageWidth(), ih = viewPDF_->ImageHeight();
  const int posHor = Option("wmPosHor").toInt(), posVer = Option("wmPosVer").toInt();
  const int posX = Option("wmPosX").toInt(), posY = Option("wmPosY").toInt();
  const int32_t count = viewPDF_->PageCount();
  const int32_t failed = watermarkEveryPage([&] {
    const int w = static_cast<int>(std::lround(viewPDF_->PageWidth()));
    const int h = static_cast<int>(std::lround(viewPDF_->PageHeight()));
    // Integer division truncates toward zero, as the settings expect.
    const int x = posHor == 0 ? 0 : posHor == 1 ? (w - posX) / 2 : posHor == 2 ? w - posX : posX;
    const int y = posVer == 0 ? 0 : posVer == 1 ? (h - posY) / 2 : posVer == 2 ? h - posY : posY;
    return viewPDF_->DrawImage(x, y, iw, ih) == 0 ? 1 : 0;
  });
  if (failed < count) SetModified(true);
  viewPDF_->SelectPage(currentPage_);
  ShowPage(currentPage_);
  if (failed > 0) reportFailure(path + QString(": not drawn on %1 of %2 pages").arg(failed).arg(count));
}

void TForm1::MThumbnailsClick() {
  if (docInfos_.empty()) return;
  const QStringList files = ChooseFiles("All Files (*)");
  if (files.isEmpty()) return;
  viewPDF_->SelectPage(currentPage_);
  // Only the image just chosen may become the thumbnail: when it cannot be
  // read, the page keeps what it had.
  if (viewPDF_->AddImageFromFile(u16(files[0]), 0) == 0) {
    showError(files[0] + ": " + QString("not an image file that can be read") + failureCause(*viewPDF_));
    return;
  }
  if (viewPDF_->SetPageThumbnail() == 0) {
    reportFailure(actions_["MThumbnails"]->text());
    return;
  }
  SetModified(true);
  GoToPage(currentPage_);
}

void TForm1::AddTextAnnotation() {
  if (docInfos_.empty()) return;
  const QColor color = ColorFromText(Option("anColor"));
  viewPDF_->SelectPage(currentPage_);
  viewPDF_->SetOrigin(1);
  const double left = Option("anLeft").toDouble(), right = Option("anRight").toDouble();
  const double top = Option("anTop").toDouble(), bottom = Option("anBottom").toDouble();
  if (viewPDF_->AddAnnotation(1, u16(Option("anTitle")), Option("anAnchorLeft").toDouble(),
                              Option("anAnchorRight").toDouble(), left, top, right - left, bottom - top,
                              u16(Option("anContents")), color.red() / 255.0, color.green() / 255.0,
                              color.blue() / 255.0, AnnotationOpen ? 1 : 0) == 0) {
    reportFailure(LanguageText("FormAnnotation.Caption", "Text Annotation"));
    return;
  }
  // The note goes into the file at once (through a temporary file and a
  // rename); a document that came from no file stays marked as edited.
  const QString file = loadedFileName();
  if (file.isEmpty() || !SaveDocument(file)) SetModified(true);
  ShowPage(currentPage_);
}

// ---------------------------------------------------------------------------
// Document information

void TForm1::MChangeInfoClick() {
  if (docInfos_.empty()) return;
  LoadLanguage(languageName_);
  QDialog dialog(this);
  dialog.setObjectName("FormInfo");
  dialog.setWindowTitle(LanguageText("FormInfo.Caption", "Document Info"));
  auto* form = new QFormLayout(&dialog);
  const char* const names[] = {"Version", "Author", "Title", "Subject", "Keywords",
                               "Creator", "Producer", "DateCreate", "DateModify"};
  const char* const captions[] = {"PDF Version:", "Author:",   "Title:",        "Subject:",    "Keywords:",
                                  "Creator:",     "Producer:", "Date Created:", "Date Modify:"};
  QLineEdit* edits[9];
  for (int i = 0; i < 9; ++i) {
    std::u16string value;
    viewPDF_->GetInformation(i, value);
    edits[i] = new QLineEdit(text16(value), &dialog);
    edits[i]->setObjectName(QString("Edit") + names[i]);
    edits[i]->setReadOnly(i >= 7);  // the dates are the file's own
    form->addRow(LanguageText(QString("FormInfo.Label") + names[i] + ".Caption", captions[i]), edits[i]);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (InfoHook) {
    InfoHook(edits);
  } else if (dialog.exec() != QDialog::Accepted) {
    return;
  }
  for (int i = 0; i <= 6; ++i)
    if (viewPDF_->SetInformation(i, u16(edits[i]->text())) == 0 && i == 0) {
      reportFailure(LanguageText("FormInfo.LabelVersion.Caption", "PDF Version:"));
      return;
    }
  // The document keeps the Creator and Producer as typed.
  QString name = loadedFileName();
  if (name.isEmpty()) name = ChooseSaveFile(QString(), "Adobe PDF File (*.pdf)");
  if (name.isEmpty()) return;
  if (viewPDF_->SaveToFile(u16(name)) == 0) reportFailure(name);
  else SetModified(false);
}

// ---------------------------------------------------------------------------
// Security

void TForm1::MEncryptClick() {
  if (docInfos_.empty()) return;
  // Passwords are masked, start empty and are never offered to a later
  // query: a text typed into one query must not show up in another.
  const auto owner = InputQuery(Message("StringEncryptFile"), Message("StringEnterOwnerPassword"), QString(), true);
  if (!owner) return;
  const auto user = InputQuery(Message("StringEncryptFile"), Message("StringEnterUserPassword"), QString(), true);
  if (!user) return;
  const int32_t permissions = viewPDF_->EncodePermissions(1, 1, 1, 1, 1, 1, 1, 1);
  if (viewPDF_->Encrypt(u16(*owner), u16(*user), 1, permissions) == 0) {
    reportFailure(Message("StringEncryptFile"));
    return;
  }
  SaveDocument(loadedFileName());
}

void TForm1::MDecryptClick() {
  if (docInfos_.empty()) return;
  if (viewPDF_->Decrypt() == 0) {
    reportFailure(actions_["MDecrypt"]->text());
    return;
  }
  SaveDocument(loadedFileName());
}

// ---------------------------------------------------------------------------
// Pages

void TForm1::MInsertBlankClick() {
  if (docInfos_.empty()) return;
  const auto answer = InputQuery(Message("StringInsertBlankPage"), Message("StringInsertAtPosition"),
                                 QString::number(viewPDF_->PageCount() + 1));
  if (!answer) return;
  bool ok = false;
  const int32_t position = answer->trimmed().toInt(&ok);
  viewPDF_->SelectPage(currentPage_);
  if (!ok || viewPDF_->InsertPages(position, 1) == 0) {
    reportFailure(Message("StringInsertBlankPage"));
    return;
  }
  SetModified(true);
  FillPageList();
  GoToPage(std::clamp(position, 1, viewPDF_->PageCount()));
}

void TForm1::MInsertTextClick() {
  if (docInfos_.empty()) return;
  const QStringList files =
      ChooseFiles("Text Files (*.txt);;HTML Files (*.htm *.html);;All Files (*)");
  if (files.isEmpty()) return;
  const QString ext = QFileInfo(files[0]).suffix().toLower();
  QFile file(files[0]);
  if (!file.open(QIODevice::ReadOnly)) {
    showError(files[0] + ": " + file.errorString());
    return;
  }
  // A text file is a few pages' worth; more would only be drawn off the page.
  const QStringList lines = QString::fromUtf8(file.read(4 << 20)).split(QRegularExpression("\\r?\\n"));
  viewPDF_->SelectPage(currentPage_);
  viewPDF_->SetOrigin(1);
  bool drawn = false;
  for (int k = 0; k < lines.size(); ++k) {
    const double y = 30.0 * k + 30;
    if (ext == "txt") drawn = viewPDF_->DrawText(u16(lines[k]), 30, y) != 0 || drawn;
    else if (ext == "htm" || ext == "html")
      drawn = viewPDF_->DrawHTMLText(u16(lines[k]), 30, y, viewPDF_->PageWidth()) != 0 || drawn;
  }
  if (drawn) SetModified(true);
  GoToPage(currentPage_);
}

// ---------------------------------------------------------------------------
// Merging, splitting and extraction

void TForm1::MMergeClick() {
  if (docInfos_.empty()) return;
  const QStringList files = ChooseFiles("Adobe PDF Files (*.pdf)");
  // The pages go to the document on screen.
  const int32_t target = viewPDF_->SelectedDocument();
  bool merged = false;
  for (const QString& file : files) {
    if (viewPDF_->LoadFromFile(u16(file), u"") != 1) {
      viewPDF_->SelectDocument(target);
      showError(Message("StringFileIsDamaged") + "\n" + file + failureCause(*viewPDF_));
      continue;
    }
    const int32_t added = viewPDF_->SelectedDocument();
    viewPDF_->SelectDocument(target);
    if (viewPDF_->MergeDocument(added) == 0) {
      viewPDF_->RemoveDocument(added);
      viewPDF_->SelectDocument(target);
      reportFailure(file);
      continue;
    }
    merged = true;
  }
  if (!merged) return;
  SetModified(true);
  FillPageList();
  GoToPage(1);
}

void TForm1::MMergeFilesClick() {
  const QStringList files = ChooseFiles("Adobe PDF Files (*.pdf)");
  if (files.isEmpty()) return;
  // The output first: a cancelled merge leaves nothing in the list.
  const QString output = ChooseSaveFile(docInfos_.empty() ? QString() : loadedFileName(), "Adobe PDF File (*.pdf)");
  if (output.isEmpty()) return;
  // The facade keeps its named lists for its lifetime and has no way to
  // empty one: each merge gets a list of its own, so that no file of an
  // earlier merge goes into this one.
  const std::u16string list = u16(QString("FilesToMerge%1").arg(++mergeCount_));
  for (const QString& file : files) viewPDF_->AddToFileList(list, u16(file));
  if (viewPDF_->MergeFileList(list, u16(output)) != static_cast<int32_t>(files.size())) reportFailure(output);
}

bool TForm1::askOutputAndPageRange(QString& output, int32_t& first, int32_t& last) {
  if (docInfos_.empty()) return false;
  output = ChooseSaveFile(loadedFileName(), "Adobe PDF File (*.pdf)");
  if (output.isEmpty()) return false;
  const int32_t count = viewPDF_->PageCount();
  const auto start = InputQuery(Message("StringExtractPages"), Message("StringEnterStartPage"), "1");
  if (!start) return false;
  const auto end = InputQuery(Message("StringExtractPages"), Message("StringEnterEndPage"), QString::number(count));
  if (!end) return false;
  first = start->trimmed().toInt();
  last = end->trimmed().toInt();
  if (first < 1 || last < first || first > count) {
    showError(Message("StringExtractPages") + QString(": %1-%2 (1-%3)").arg(first).arg(last).arg(count));
    return false;
  }
  return true;
}

void TForm1::MSplitPagesClick() {
  QString base;
  int32_t first = 0, last = 0;
  if (!askOutputAndPageRange(base, first, last)) return;
  // Each page is copied from the document as it is on screen (edits and
  // all, decrypted when it was opened with a password), not from the file.
  const int32_t source = viewPDF_->SelectedDocument();
  for (int32_t p = first; p <= std::min(last, viewPDF_->PageCount()); ++p) {
    const QString name = base + QString::number(p) + ".pdf";
    bool saved = false;
    if (viewPDF_->ExtractPages(p, 1) == 1 && viewPDF_->SelectedDocument() != source) {
      const int32_t copy = viewPDF_->SelectedDocument();
      saved = viewPDF_->SaveToFile(u16(name)) == 1;
      viewPDF_->RemoveDocument(copy);
    }
    viewPDF_->SelectDocument(source);
    if (!saved) {
      reportFailure(name);
      break;
    }
  }
  viewPDF_->SelectPage(currentPage_);
}

QStringList TForm1::pageTexts() {
  QStringList pages;
  const int32_t count = viewPDF_->PageCount();
  for (int32_t p = 1; p <= count; ++p) {
    viewPDF_->SelectPage(p);
    std::u16string text;
    viewPDF_->GetPageText(8, text);
    pages << text16(text);
  }
  viewPDF_->SelectPage(currentPage_);
  return pages;
}

void TForm1::MExtractTextClick() {
  if (docInfos_.empty()) return;
  // Pages without fonts of their own may still show text through forms they
  // draw: only a document whose pages give no text at all has none.
  QStringList pages;
  if (viewPDF_->HasFontResources() != 1) {
    pages = pageTexts();
    if (pages.join(QString()).trimmed().isEmpty()) {
      ShowMessage("No text found!");
      return;
    }
  }
  const QString output = ChooseSaveFile(QFileInfo(loadedFileName()).completeBaseName() + ".txt",
                                        "Text File (*.txt)");
  if (output.isEmpty()) return;
  if (pages.isEmpty()) pages = pageTexts();
  try {
    WriteFileBytesAtomic(output.toUtf8().toStdString(), pages.join("\n").toUtf8().toStdString());
  } catch (const std::exception& e) {
    showError(output + ": " + QString::fromUtf8(e.what()));
  }
}

void TForm1::MExtractPagesClick() {
  QString output;
  int32_t first = 0, last = 0;
  if (!askOutputAndPageRange(output, first, last)) return;
  const int32_t count = viewPDF_->PageCount();
  // The copy is made from the document as it is on screen (edits and all,
  // decrypted when it was opened with a password), saved, and dropped again
  // so that the tabs keep their documents.
  const int32_t source = viewPDF_->SelectedDocument();
  if (viewPDF_->ExtractPages(first, std::min(last, count) - first + 1) == 0) {
    viewPDF_->SelectDocument(source);
    reportFailure(Message("StringExtractPages"));
    return;
  }
  const int32_t copy = viewPDF_->SelectedDocument();
  if (copy != source) {
    SaveDocument(output);
    viewPDF_->RemoveDocument(copy);
  }
  viewPDF_->SelectDocument(source);
  viewPDF_->SelectPage(currentPage_);
}

void TForm1::MExtractImagesClick() {
  if (docInfos_.empty()) return;
  const QString base = loadedFileName();
  // The search appends its entries after the images the document already
  // lists (a watermark image, an earlier search): count those first.
  int32_t before = 0;
  while (viewPDF_->GetImageHandle(before + 1) != 0) ++before;
  const int32_t found = viewPDF_->FindImages();
  int32_t written = 0;
  QStringList failures;
  QString ext = ".bmp";
  for (int32_t i = 1; i <= found; ++i) {
    viewPDF_->SelectImage(viewPDF_->GetImageHandle(before + i));
    const int32_t kind = viewPDF_->ImageType();
    if (kind <= 0) {
      failures << QString("%1 (%2)").arg(i).arg(failureReason(viewPDF_->LastErrorCode()));
      continue;
    }
    ext = kind == 1 ? ".jpg" : kind == 2 ? ".bmp" : kind == 3 ? ".tiff" : kind == 4 ? ".png" : ext;
    const QString name = base + " - Image " + QString::number(i) + ext;
    if (viewPDF_->SaveImageToFile(u16(name)) == 0) failures << name;
    else ++written;
  }
  if (!failures.isEmpty())
    showError(actions_["MExtractImages"]->text() + QString(": %1 of %2 written; not written: ").arg(written).arg(found) +
              failures.join(", "));
  else if (found == 0)
    showError(actions_["MExtractImages"]->text() + ": " + QString("the document has no images"));
}

void TForm1::MConvertImageClick() {
  const QStringList files = ChooseFiles("All Files (*)");
  if (files.isEmpty()) return;
  // A facade of its own: the new document never mixes with the open ones
  // (of the page view or of the thumbnails).
  TPavona converter;
  for (int i = 0; i < files.size(); ++i) {
    if (i > 0 && converter.NewPage() == 0) {
      reportFailure(files[i], &converter);
      return;
    }
    converter.SelectPage(i + 1);
    if (converter.AddImageFromFile(u16(files[i]), 0) == 0) {
      showError(files[i] + ": " + QString("not an image file that can be read") + failureCause(converter));
      return;
    }
    const double w = converter.ImageWidth(), h = converter.ImageHeight();
    converter.SetOrigin(1);
    if (converter.SetPageDimensions(w, h) == 0 || converter.DrawImage(0, 0, w, h) == 0) {
      reportFailure(files[i], &converter);
      return;
    }
  }
  const QString output = ChooseSaveFile("pdf_from_images.pdf", "Adobe PDF File (*.pdf)");
  if (output.isEmpty()) return;
  if (converter.SaveToFile(u16(output)) == 0)
    showError(output + ": " + Message("StringCantSaveFile") + failureCause(converter));
}

// ---------------------------------------------------------------------------
// Printing

void TForm1::MPrintClick() {
  if (docInfos_.empty()) return;
  const int32_t options = viewPDF_->PrintOptions(0, 0, u"Print document");
  std::u16string printer;
  viewPDF_->GetDefaultPrinterName(printer);
  if (viewPDF_->PrintDocument(printer, 1, viewPDF_->PageCount(), options) == 0)
    reportFailure(actions_["MPrint"]->text());
  else
    reportLeftOut(actions_["MPrint"]->text());
  viewPDF_->SelectPage(currentPage_);
}
