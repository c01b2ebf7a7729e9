// The document commands as a person runs them (the dialogs' answers given in
// place of the user), each result checked by a peer tool on the saved file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "MakePdf.h"
#include "TestSupport.h"
#include "app/Main.h"
#include "document/Pavona0813.h"

using apptest::Answers;
using apptest::Open;
using apptest::Output;
using apptest::Pages;
using apptest::SetNoteOptions;

namespace {
QStringList gMessages;
void collectMessage(QtMsgType, const QMessageLogContext&, const QString& text) { gMessages << text; }
}  // namespace

TEST(Commands, TextWatermarkAndNoteAreSavedOnEveryPage) {
  for (const char* tool : {"pdftotext", "qpdf"}) ASSERT_TRUE(pvltest::HaveTool(tool)) << tool;
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  f.SetOption("wmText", "CONFIDENTIAL");
  f.SetOption("wmFontName", "0");
  f.SetOption("wmFontSize", "14");
  f.SetOption("wmPosHor", "1");
  f.SetOption("wmPosVer", "1");
  f.SetOption("wmStrokeOpacity", "100");
  f.SetOption("wmFontStyleBold", "1");
  f.AddTextWatermark();
  SetNoteOptions(f, "Reviewer", "Check this page", 100, 100, 300, 200);
  f.AddTextAnnotation();
  f.MSaveClick();
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
  for (int p = 1; p <= 4; ++p) {
    const std::string text = Output({"pdftotext", "-f", std::to_string(p), "-l", std::to_string(p), o->file, "-"});
    EXPECT_NE(text.find("CONFIDENTIAL"), std::string::npos) << "page " << p;
  }
  const std::string json = Output({"qpdf", "--json", o->file});
  EXPECT_NE(json.find("Check this page"), std::string::npos);
}

TEST(Commands, InformationAndEncryptionRoundTrip) {
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  auto o = Open("samples/minimal-document.pdf");
  TForm1& f = *o->form;
  f.InfoHook = [](QLineEdit** edits) {
    edits[1]->setText("Ада Лавлейс");
    edits[2]->setText("Notes on the engine");
  };
  f.MChangeInfoClick();
  const std::string info = Output({"pdfinfo", o->file});
  EXPECT_NE(info.find("Notes on the engine"), std::string::npos) << info;
  EXPECT_NE(info.find("Ада Лавлейс"), std::string::npos) << info;

  f.InputHook = Answers({"owner-secret", "user-secret"});
  f.MEncryptClick();
  EXPECT_NE(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0) << "a password is needed now";
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--password=user-secret", "--check", o->file}).exitCode, 0);
  f.MDecryptClick();
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
  EXPECT_NE(Output({"qpdf", "--show-encryption", o->file}).find("not encrypted"), std::string::npos);
}

TEST(Commands, BlankPagesMergingAndSplitting) {
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  f.InputHook = Answers({"2"});
  f.MInsertBlankClick();
  EXPECT_EQ(f.ViewPDF()->PageCount(), 5);
  EXPECT_EQ(f.CurrentPage(), 2);
  f.InputHook = Answers({"abc"});
  f.MInsertBlankClick();
  EXPECT_EQ(f.ViewPDF()->PageCount(), 5) << "a position that is no number inserts nothing";

  f.OpenFilesHook = [](const QString&) {
    return QStringList{QString::fromStdString(pvltest::CorpusPath("samples/minimal-document.pdf"))};
  };
  f.MMergeClick();
  EXPECT_EQ(f.ViewPDF()->PageCount(), 6);
  EXPECT_EQ(f.ViewPDF()->DocumentCount(), 2) << "the merged file leaves the facade's list";
  f.MSaveClick();
  EXPECT_EQ(Pages(o->file), 6);

  // Split pages 2 to 3 of what is on disk: base + page number + ".pdf".
  const std::string base = o->dir.File("part.pdf");
  f.SaveFileHook = [&](const QString&) { return QString::fromStdString(base); };
  f.InputHook = Answers({"2", "3"});
  f.MSplitPagesClick();
  EXPECT_EQ(Pages(base + "2.pdf"), 1);
  EXPECT_EQ(Pages(base + "3.pdf"), 1);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(base + "4.pdf")));
}

// Each merge into a new file holds the files chosen for it, and only those:
// a second merge does not take in the files of the first.
TEST(Commands, MergingFilesIntoNewOnesTakesOnlyTheFilesChosen) {
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  const std::string one = pvltest::CorpusPath("samples/minimal-document.pdf");
  const struct {
    std::vector<std::string> files;
    int pages;
  } merges[] = {{{o->file, one}, 5}, {{one, one}, 2}, {{one, o->file, one}, 6}};
  int n = 0;
  for (const auto& m : merges) {
    const std::string output = o->dir.File("merged" + std::to_string(++n) + ".pdf");
    f.OpenFilesHook = [&](const QString&) {
      QStringList files;
      for (const std::string& file : m.files) files << QString::fromStdString(file);
      return files;
    };
    f.SaveFileHook = [&](const QString&) { return QString::fromStdString(output); };
    f.MMergeFilesClick();
    EXPECT_EQ(Pages(output), m.pages) << output;
  }
  EXPECT_EQ(Pages(o->file), 4) << "the open document's file is an input, not the output";
}

TEST(Commands, TextExtractionAndPrintingToAFile) {
  ASSERT_TRUE(pvltest::HaveTool("pdftotext"));
  auto o = Open("samples/pdflatex-4-pages.pdf");
  TForm1& f = *o->form;
  const std::string text = o->dir.File("doc.txt");
  f.SaveFileHook = [&](const QString&) { return QString::fromStdString(text); };
  f.MExtractTextClick();
  const std::string ours = pvltest::ReadFile(text);
  const std::string theirs = Output({"pdftotext", o->file, "-"});
  // The same characters in the same order; spacing may differ.
  auto squeeze = [](std::string t) {
    std::erase_if(t, [](unsigned char c) { return std::isspace(c); });
    return t;
  };
  const std::string start = squeeze(theirs).substr(0, 40);
  ASSERT_GE(start.size(), 20u);
  EXPECT_NE(squeeze(ours).find(start), std::string::npos) << ours.substr(0, 200);

  const std::string printed = o->dir.File("printed.pdf");
  f.ViewPDF()->SetPrintOutputFile(QString::fromStdString(printed).toStdU16String());
  f.MPrintClick();
  EXPECT_EQ(Pages(printed), 4);
  EXPECT_EQ(f.ViewPDF()->SelectedPage(), f.CurrentPage());
}

// A text note goes into the file it was added to at once: a peer reads it
// without any save command.
TEST(Commands, ANoteIsWrittenIntoTheFileAtOnce) {
  ASSERT_TRUE(pvltest::HaveTool("qpdf"));
  auto o = Open("samples/minimal-document.pdf");
  TForm1& f = *o->form;
  SetNoteOptions(f, "Reviewer", "Written at once", 100, 100, 300, 200);
  f.AddTextAnnotation();
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", o->file}).exitCode, 0);
  EXPECT_NE(Output({"qpdf", "--json", o->file}).find("Written at once"), std::string::npos);
}

// Extracting text: a document whose pages give no text says so and writes
// nothing; one whose only text is drawn by a form (no font among the page's
// own resources) still gives it.
TEST(Commands, TextExtractionSaysWhenThereIsNoText) {
  ASSERT_TRUE(pvltest::HaveTool("pdftotext"));
  struct TCase {
    const char* name;
    std::vector<std::string> objects;
    bool hasText;
  } cases[] = {
      {"a page of line art alone",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
        "STREAM:0 0 1 rg 20 20 100 100 re f"},
       false},
      {"text drawn by a form",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R"
        " /Resources << /XObject << /X1 5 0 R >> >> >>",
        "STREAM:/X1 Do",
        "<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Length 37"
        " /Resources << /Font << /F1 6 0 R >> >> >>\nstream\nBT /F1 12 Tf 20 100 Td (Formed) Tj ET\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    pvltest::TempDir dir;
    const std::string pdf = dir.File("doc.pdf"), text = dir.File("doc.txt");
    pvltest::WriteFile(pdf, pvltest::MakePdf(c.objects));
    auto form = apptest::NewWindow();
    form->OpenFiles({QString::fromStdString(pdf)});
    ASSERT_EQ(form->ViewPDF()->PageCount(), 1);
    form->SaveFileHook = [&](const QString&) { return QString::fromStdString(text); };
    gMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
    form->MExtractTextClick();
    qInstallMessageHandler(previous);
    EXPECT_EQ(gMessages.contains("No text found!"), !c.hasText) << gMessages.join("|").toStdString();
    EXPECT_EQ(QFileInfo::exists(QString::fromStdString(text)), c.hasText);
    if (c.hasText) EXPECT_NE(pvltest::ReadFile(text).find("Formed"), std::string::npos);
  }
}
