// The image commands as a person runs them: image and underlined text
// watermarks, page thumbnails, extraction of pages and images, and images
// into a new PDF file. The dialogs' answers are given in place of the user;
// every result is checked with a peer tool on the written files, and every
// refusal with the message the user gets and a document left unchanged.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cmath>
#include <memory>
#include <regex>
#include <sstream>

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "app/Main.h"
#include "app/Watermark.h"
#include "document/Pavona0813.h"

namespace {

// Messages shown to the user (on the log when there is no screen).
QStringList gMessages;
void collectMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtWarningMsg) gMessages << text;
}

using apptest::Open;
using apptest::Output;
using apptest::Pages;

std::string PageText(const std::string& file, int page) {
  return Output({"pdftotext", "-f", std::to_string(page), "-l", std::to_string(page), file, "-"});
}

// "Page size: W x H pts" of page p by pdfinfo.
QSizeF PageSize(const std::string& file, int page) {
  const std::string info = Output({"pdfinfo", "-f", std::to_string(page), "-l", std::to_string(page), file});
  std::smatch m;
  static const std::regex size("Page +[0-9]* *size: +([0-9.]+) x ([0-9.]+) pts");
  if (!std::regex_search(info, m, size)) return {};
  return {std::stod(m[1]), std::stod(m[2])};
}

// Page p rendered by pdftoppm at 72 dpi (one pixel per point).
QImage Rendered(const std::string& file, int page, const pvltest::TempDir& dir) {
  const std::string prefix = dir.File("page" + std::to_string(page));
  pvltest::RunCommand({"pdftoppm", "-r", "72", "-png", "-singlefile", "-f", std::to_string(page), "-l",
                       std::to_string(page), file, prefix});
  return QImage(QString::fromStdString(prefix + ".png"));
}

struct TListed {
  int Page = 0;
  std::string Type, Encoding;
  int Width = 0, Height = 0;
};
std::vector<TListed> ListImages(const std::string& file) {
  std::istringstream lines(Output({"pdfimages", "-list", file}));
  std::string line;
  std::vector<TListed> rows;
  for (int n = 0; std::getline(lines, line); ++n) {
    if (n < 2) continue;
    std::istringstream f(line);
    TListed r;
    int num = 0, comp = 0, bpc = 0;
    std::string color;
    if (f >> r.Page >> num >> r.Type >> r.Width >> r.Height >> color >> comp >> bpc >> r.Encoding) rows.push_back(r);
  }
  return rows;
}

// The dictionary text of each page object, in page order, by qpdf.
std::vector<std::string> PageObjects(const std::string& file) {
  const std::string json = Output({"qpdf", "--json", "--json-key=pages", file});
  std::vector<std::string> pages;
  static const std::regex object("\"object\": \"([0-9]+) 0 R\"");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), object); it != std::sregex_iterator(); ++it)
    pages.push_back(Output({"qpdf", "--show-object=" + (*it)[1].str(), file}));
  return pages;
}

QString WriteImage(const pvltest::TempDir& dir, const char* name, int w, int h, QColor color, const char* format) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(color);
  const QString path = QString::fromStdString(dir.File(name));
  EXPECT_TRUE(image.save(path, format)) << name;
  return path;
}

bool Near(QColor a, QColor b, int tolerance = 40) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

class CommandsImages : public testing::Test {
protected:
  void SetUp() override {
    for (const char* tool : {"qpdf", "pdftoppm", "pdftotext", "pdfimages", "pdfinfo"})
      ASSERT_TRUE(pvltest::HaveTool(tool)) << tool;
    gMessages.clear();
    previous_ = qInstallMessageHandler(collectMessage);
  }
  void TearDown() override { qInstallMessageHandler(previous_); }
  QtMessageHandler previous_ = nullptr;
};

}  // namespace

// The image lands on every page where the position settings put it, in its
// own colours, through the dialog's OK; the saved file is sound.
TEST_F(CommandsImages, ImageWatermarkOnEveryPage) {
  struct TCase {
    int posHor, posVer, posX, posY;
  } cases[] = {{3, 3, 50, 100}, {1, 2, 100, 60}, {0, 1, 0, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.posHor << "," << c.posVer);
    auto o = Open("samples/pdflatex-4-pages.pdf");
    TForm1& f = *o->form;
    const QString red = WriteImage(o->dir, "red.png", 60, 40, QColor(230, 20, 30), "PNG");
    f.SetOption("wmImage", red);
    f.SetOption("wmPosHor", QString::number(c.posHor));
    f.SetOption("wmPosVer", QString::number(c.posVer));
    f.SetOption("wmPosX", QString::number(c.posX));
    f.SetOption("wmPosY", QString::number(c.posY));
    f.FormWatermark()->SetKind("image");
    f.FormWatermark()->FormShow();
    f.FormWatermark()->ButtonOkClick();
    ASSERT_TRUE(f.CurrentDocInfo()->Modified);
    f.MSaveClick();
    EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
    const QSizeF size = PageSize(o->file, 1);
    const int w = static_cast<int>(std::lround(size.width())), h = static_cast<int>(std::lround(size.height()));
    const int x = c.posHor == 0 ? 0 : c.posHor == 1 ? (w - c.posX) / 2 : c.posX;
    const int y = c.posVer == 1 ? (h - c.posY) / 2 : c.posVer == 2 ? h - c.posY : c.posY;
    for (int p = 1; p <= 4; ++p) {
      const QImage page = Rendered(o->file, p, o->dir);
      ASSERT_FALSE(page.isNull()) << p;
      EXPECT_TRUE(Near(page.pixelColor(x + 30, y + 20), QColor(230, 20, 30))) << "page " << p;
      EXPECT_TRUE(Near(page.pixelColor(x + 3, y + 3), QColor(230, 20, 30))) << "page " << p;
      EXPECT_FALSE(Near(page.pixelColor(x + 70, y + 20), QColor(230, 20, 30))) << "page " << p << ": 60 wide";
      EXPECT_FALSE(Near(page.pixelColor(x + 30, y + 50), QColor(230, 20, 30))) << "page " << p << ": 40 high";
    }
  }
}

// An image that cannot be read is reported and changes nothing, also after
// an earlier image was loaded (which must not be drawn in its place).
TEST_F(CommandsImages, UnreadableImagesChangeNothing) {
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  pvltest::WriteFile(o->dir.File("notes.png"), "not a picture at all");
  const QString good = WriteImage(o->dir, "blue.bmp", 20, 20, QColor(0, 0, 255), "BMP");
  f.GoToPage(1);
  f.OpenFilesHook = [&](const QString&) { return QStringList{good}; };
  f.MThumbnailsClick();
  ASSERT_TRUE(f.CurrentDocInfo()->Modified);
  f.MSaveClick();

  gMessages.clear();
  f.SetOption("wmImage", QString::fromStdString(o->dir.File("notes.png")));
  f.AddImageWatermark();
  EXPECT_EQ(gMessages.size(), 1) << gMessages.join("\n").toStdString();
  f.GoToPage(3);
  f.OpenFilesHook = [&](const QString&) { return QStringList{QString::fromStdString(o->dir.File("notes.png"))}; };
  f.MThumbnailsClick();
  EXPECT_EQ(gMessages.size(), 2) << gMessages.join("\n").toStdString();
  f.SetOption("wmText", "");
  f.AddTextWatermark();
  f.SetOption("wmText", "DRAFT");
  f.SetOption("wmFontName", "100000");
  f.AddTextWatermark();
  EXPECT_EQ(gMessages.size(), 4) << gMessages.join("\n").toStdString();
  EXPECT_FALSE(f.CurrentDocInfo()->Modified);
  f.MSaveClick();
  const std::vector<std::string> pages = PageObjects(o->file);
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_NE(pages[0].find("/Thumb"), std::string::npos) << pages[0];
  for (int p = 1; p < 4; ++p) EXPECT_EQ(pages[p].find("/Thumb"), std::string::npos) << "page " << p + 1;
  EXPECT_EQ(ListImages(o->file).size(), 0u) << "no image drawn on any page";
}

// The thumbnail is the chosen image, set on the current page only.
TEST_F(CommandsImages, ThumbnailOfTheCurrentPage) {
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  const QString image = WriteImage(o->dir, "thumb.jpg", 24, 32, QColor(0, 160, 0), "JPEG");
  f.GoToPage(2);
  f.OpenFilesHook = [&](const QString&) { return QStringList{image}; };
  f.MThumbnailsClick();
  f.MSaveClick();
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
  const std::vector<std::string> pages = PageObjects(o->file);
  ASSERT_EQ(pages.size(), 4u);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(pages[p].find("/Thumb") != std::string::npos, p == 1) << "page " << p + 1;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(pages[1], m, std::regex("/Thumb ([0-9]+) 0 R")));
  const std::string thumb = Output({"qpdf", "--show-object=" + m[1].str(), o->file});
  EXPECT_NE(thumb.find("/Width 24"), std::string::npos) << thumb;
  EXPECT_NE(thumb.find("/Height 32"), std::string::npos) << thumb;
  EXPECT_NE(thumb.find("/DCTDecode"), std::string::npos) << thumb;
}

// An underlined watermark has a line under its text, in the text's colour;
// the same text without the underline has none.
TEST_F(CommandsImages, UnderlinedTextWatermark) {
  QImage pages[2];
  int textLeft = 0, textRight = 0;
  for (int under = 0; under <= 1; ++under) {
    auto o = Open("samples/minimal-document.pdf");
    TForm1& f = *o->form;
    f.SetOption("wmText", "HEMNI");
    f.SetOption("wmFontName", "0");
    f.SetOption("wmFontSize", "14");  // 36 points
    f.SetOption("wmPosHor", "3");
    f.SetOption("wmPosVer", "3");
    f.SetOption("wmPosX", "100");
    f.SetOption("wmPosY", "300");
    f.SetOption("wmAngle", "0");
    f.SetOption("wmStrokeOpacity", "100");
    f.SetOption("wmFontColor", "clRed");
    f.SetOption("wmFontStyleUnder", under ? "1" : "0");
    f.AddTextWatermark();
    f.MSaveClick();
    ASSERT_EQ(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
    pages[under] = Rendered(o->file, 1, o->dir);
    ASSERT_FALSE(pages[under].isNull());
    if (!under) {
      // The text's extent along its baseline.
      textLeft = 10000;
      for (int x = 0; x < pages[0].width(); ++x)
        for (int y = 280; y < 300; ++y)
          if (Near(pages[0].pixelColor(x, y), Qt::red, 60)) {
            textLeft = std::min(textLeft, x);
            textRight = std::max(textRight, x);
          }
      ASSERT_GT(textRight - textLeft, 60) << "the text is drawn at the custom place";
    }
  }
  // Red pixels in the rows just under the baseline, over most of the text's width.
  auto redColumns = [&](const QImage& page) {
    int columns = 0;
    for (int x = textLeft; x <= textRight; ++x)
      for (int y = 301; y <= 309; ++y)
        if (Near(page.pixelColor(x, y), Qt::red, 60)) {
          ++columns;
          break;
        }
    return columns;
  };
  const int width = textRight - textLeft + 1;
  EXPECT_GT(redColumns(pages[1]), width * 9 / 10);
  EXPECT_LT(redColumns(pages[0]), width / 10);
}

// Extract pages works on the document as edited, also an encrypted one,
// saves the range into its own file and leaves the tab's document selected.
TEST_F(CommandsImages, ExtractPagesOfTheEditedDocument) {
  for (const QString password : {QString(), QString("user-pw")}) {
    SCOPED_TRACE(password.toStdString());
    auto o = Open("samples/pdflatex-4-pages.pdf", password);
    TForm1& f = *o->form;
    ASSERT_EQ(f.DocumentTabCount(), 1);
    TPavona& view = *f.ViewPDF();
    const std::string firstPage = PageText(pvltest::CorpusPath("samples/pdflatex-4-pages.pdf"), 1);
    const std::string secondPage = PageText(pvltest::CorpusPath("samples/pdflatex-4-pages.pdf"), 2);
    ASSERT_GT(firstPage.size(), 20u);
    // A blank page in front: on disk the file still has four pages.
    f.InputHook = [](const QString&, const QString&, const QString&) -> std::optional<QString> { return "1"; };
    f.MInsertBlankClick();
    ASSERT_EQ(view.PageCount(), 5);
    const int32_t tabDocument = view.SelectedDocument();
    const int32_t documents = view.DocumentCount();

    const std::string out = o->dir.File("extract.pdf");
    f.SaveFileHook = [&](const QString&) { return QString::fromStdString(out); };
    std::vector<QString> answers{"1", "3"};
    f.InputHook = [&](const QString&, const QString&, const QString&) -> std::optional<QString> {
      const QString a = answers.front();
      answers.erase(answers.begin());
      return a;
    };
    f.MExtractPagesClick();
    ASSERT_EQ(Pages(out), 3);
    EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", out}).exitCode, 0);
    EXPECT_EQ(PageText(out, 1).find_first_not_of(" \n\f"), std::string::npos) << "the inserted blank page";
    EXPECT_EQ(PageText(out, 2).substr(0, 40), firstPage.substr(0, 40));
    EXPECT_EQ(PageText(out, 3).substr(0, 40), secondPage.substr(0, 40));
    EXPECT_EQ(view.SelectedDocument(), tabDocument);
    EXPECT_EQ(view.DocumentCount(), documents);
    EXPECT_EQ(view.PageCount(), 5);
    EXPECT_TRUE(f.CurrentDocInfo()->Modified) << "the tab's document is not the one saved";

    // Split works on the edited document as well.
    const std::string base = o->dir.File("part.pdf");
    f.SaveFileHook = [&](const QString&) { return QString::fromStdString(base); };
    answers = {"1", "2"};
    f.MSplitPagesClick();
    EXPECT_EQ(Pages(base + "1.pdf"), 1);
    EXPECT_EQ(PageText(base + "1.pdf", 1).find_first_not_of(" \n\f"), std::string::npos);
    EXPECT_EQ(PageText(base + "2.pdf", 1).substr(0, 40), firstPage.substr(0, 40));
    EXPECT_EQ(view.SelectedDocument(), tabDocument);
    EXPECT_EQ(view.DocumentCount(), documents);

    // A range beyond the document is refused with a message.
    gMessages.clear();
    answers = {"9", "12"};
    const std::string none = o->dir.File("none.pdf");
    f.SaveFileHook = [&](const QString&) { return QString::fromStdString(none); };
    f.MExtractPagesClick();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(none)));
    EXPECT_EQ(gMessages.size(), 1);
  }
}

// Every image of the document goes into a file beside it: as many files as
// pdfimages lists, of the sizes it lists, the kind by the search method
// (decoded pictures as BMP; JPEG data kept as stored with method 3), with
// the pixels pdfimages decodes.
TEST_F(CommandsImages, ExtractImagesBesideTheDocument) {
  for (int method : {1, 3}) {
    SCOPED_TRACE(method);
    auto o = Open("samples/imagemagick-images.pdf");
    TForm1& f = *o->form;
    ASSERT_EQ(f.ViewPDF()->SetImageSearchMethod(method), 1);
    f.MExtractImagesClick();
    const std::vector<TListed> rows = ListImages(o->file);
    ASSERT_EQ(rows.size(), 6u);
    ASSERT_EQ(pvltest::RunCommand({"pdfimages", "-png", o->file, o->dir.File("ref")}).exitCode, 0);
    for (size_t i = 0; i < rows.size(); ++i) {
      const bool jpeg = rows[i].Encoding == "jpeg" && method == 3;
      const QString name = QString::fromStdString(o->file) + " - Image " + QString::number(i + 1) +
                           (jpeg ? ".jpg" : ".bmp");
      ASSERT_TRUE(QFileInfo::exists(name)) << name.toStdString();
      const QImage ours(name);
      ASSERT_FALSE(ours.isNull()) << name.toStdString();
      EXPECT_EQ(ours.width(), rows[i].Width);
      EXPECT_EQ(ours.height(), rows[i].Height);
      char ref[32];
      std::snprintf(ref, sizeof ref, "ref-%03zu.png", i);
      const QImage theirs(QString::fromStdString(o->dir.File(ref)));
      ASSERT_EQ(theirs.size(), ours.size());
      long difference = 0;
      for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
          difference += std::abs(qGray(ours.pixel(x, y)) - qGray(theirs.pixel(x, y)));
      EXPECT_LT(difference / (ours.width() * ours.height()), 8) << name.toStdString();
    }
    EXPECT_EQ(QDir(QString::fromStdString(o->dir.Path())).entryList({"doc.pdf - Image *"}).size(), 6);
  }
  // No images: nothing written, and the user is told.
  auto o = Open("samples/minimal-document.pdf");
  gMessages.clear();
  o->form->MExtractImagesClick();
  EXPECT_EQ(QDir(QString::fromStdString(o->dir.Path())).entryList({"doc.pdf - Image *"}).size(), 0);
  EXPECT_EQ(gMessages.size(), 1);
}

// Image files become a new PDF file, one page per image of the image's pixel
// size; the open document stays as it was. An unreadable file writes nothing.
TEST_F(CommandsImages, ImagesToANewPdf) {
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  const QStringList images = {WriteImage(o->dir, "a.png", 40, 30, QColor(200, 0, 0), "PNG"),
                              WriteImage(o->dir, "b.jpg", 25, 50, QColor(0, 0, 200), "JPEG"),
                              WriteImage(o->dir, "c.bmp", 10, 12, QColor(0, 200, 0), "BMP")};
  const int32_t documents = f.ViewPDF()->DocumentCount(), thumbDocuments = f.ThumbPDF()->DocumentCount();
  const std::string out = o->dir.File("images.pdf");
  f.OpenFilesHook = [&](const QString&) { return images; };
  QString offered;
  f.SaveFileHook = [&](const QString& start) {
    offered = start;
    return QString::fromStdString(out);
  };
  f.MConvertImageClick();
  EXPECT_EQ(offered, "pdf_from_images.pdf");
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", out}).exitCode, 0);
  ASSERT_EQ(Pages(out), 3);
  const std::vector<TListed> rows = ListImages(out);
  ASSERT_EQ(rows.size(), 3u);
  const QSize sizes[] = {{40, 30}, {25, 50}, {10, 12}};
  const QColor colors[] = {QColor(200, 0, 0), QColor(0, 0, 200), QColor(0, 200, 0)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i].Page, i + 1);
    EXPECT_EQ(QSize(rows[i].Width, rows[i].Height), sizes[i]);
    EXPECT_EQ(PageSize(out, i + 1), QSizeF(sizes[i])) << "page " << i + 1;
    const QImage page = Rendered(out, i + 1, o->dir);
    EXPECT_TRUE(Near(page.pixelColor(sizes[i].width() / 2, sizes[i].height() / 2), colors[i])) << i;
  }
  EXPECT_EQ(rows[1].Encoding, "jpeg") << "JPEG data are kept";
  // The open document is untouched.
  EXPECT_EQ(f.ViewPDF()->DocumentCount(), documents);
  EXPECT_EQ(f.ThumbPDF()->DocumentCount(), thumbDocuments);
  EXPECT_EQ(f.ViewPDF()->PageCount(), 4);
  EXPECT_FALSE(f.CurrentDocInfo()->Modified);
  EXPECT_EQ(ListImages(o->file).size(), 0u);

  // One file that is no image: a message, no file.
  pvltest::WriteFile(o->dir.File("readme.txt"), "text");
  const std::string none = o->dir.File("none.pdf");
  f.OpenFilesHook = [&](const QString&) {
    return QStringList{images[0], QString::fromStdString(o->dir.File("readme.txt"))};
  };
  f.SaveFileHook = [&](const QString&) { return QString::fromStdString(none); };
  gMessages.clear();
  f.MConvertImageClick();
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(none)));
  EXPECT_EQ(gMessages.size(), 1);
}
