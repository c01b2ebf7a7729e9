// No output replaces an input: every pvl command and every facade operation
// that writes a file refuses an output naming one of its inputs, however it
// is spelled (the same path, "/./", a symbolic link), writes nothing and
// leaves the input as it was, byte for byte. The program's own save over the
// loaded file still works.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "DocumentTestSupport.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageFormats.h"

namespace {

namespace fs = std::filesystem;

// Two pages with text, an image, a text field "f" and an attachment "a.txt".
std::string fixture() {
  const std::string image =
      "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
      "/Length 1 >>\nstream\n\x80\nendstream";
  return pvltest::MakePdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /DA (/Helv 0 Tf 0 g) >> "
      "/Names << /EmbeddedFiles << /Names [(a.txt) 6 0 R] >> >> >>",
      "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 5 0 R /Annots [4 0 R] "
      "/Resources << /Font << /F1 8 0 R >> /XObject << /Im1 10 0 R >> >> >>",
      "<< /FT /Tx /T (f) /Type /Annot /Subtype /Widget /Rect [10 10 100 30] /P 3 0 R >>",
      "STREAM:BT /F1 12 Tf 20 150 Td (Hello) Tj ET q 10 0 0 10 20 60 cm /Im1 Do Q",
      "<< /Type /Filespec /F (a.txt) /UF (a.txt) /EF << /F 7 0 R >> >>",
      "STREAM:attached bytes",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 11 0 R /Resources << /Font << /F1 8 0 R >> >> >>",
      image,
      "STREAM:BT /F1 12 Tf 20 150 Td (Second) Tj ET",
  });
}

// Every file of a folder (links as links) with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink())
      out[name] = "-> " + fs::read_symlink(entry.path()).string();
    else
      out[name] = pvltest::ReadFile(entry.path().string());
  }
  return out;
}

// The spellings of one input as an output path.
std::vector<std::pair<std::string, std::string>> spellings(const pvltest::TempDir& dir, const std::string& name) {
  const std::string link = dir.File("link-to-" + name);
  if (!fs::is_symlink(link)) fs::create_symlink(name, link);
  return {{"same path", dir.File(name)}, {"with /./", dir.Path() + "/./" + name}, {"symbolic link", link}};
}

class OutputOverInput : public ::testing::Test {
protected:
  void SetUp() override {
    pvltest::WriteFile(dir.File("in.pdf"), fixture());
    pvltest::WriteFile(dir.File("other.pdf"), fixture());
    pvltest::WriteFile(dir.File("page1.pdf"), fixture());
    pvltest::WriteFile(dir.File("data.txt"), "attach me");
    // An encrypted copy for decrypt (owner password "o").
    auto r = pvltest::RunCommand({pvldoc::PvlPath(), "encrypt", dir.File("in.pdf"), "--user", "", "--owner", "o",
                                  "--strength", "2", "--out", dir.File("enc.pdf")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  pvltest::TempDir dir;
};

struct TCommandCase {
  const char* command;
  const char* input;  // the input the output names
  // The command line with OUT in place of the output path.
  std::vector<std::string> argv;
};

TEST_F(OutputOverInput, EveryPvlCommandRefusesToWriteOverAnInput) {
  const std::string in = dir.File("in.pdf"), other = dir.File("other.pdf"), data = dir.File("data.txt");
  const std::vector<TCommandCase> cases = {
      {"fill", "in.pdf", {"fill", in, "f=x", "--out", "OUT"}},
      {"encrypt", "in.pdf", {"encrypt", in, "--user", "u", "--owner", "o", "--out", "OUT"}},
      {"decrypt", "enc.pdf", {"decrypt", dir.File("enc.pdf"), "--password", "o", "--out", "OUT"}},
      {"insert", "in.pdf", {"insert", in, "1", "1", "--out", "OUT"}},
      {"delete", "in.pdf", {"delete", in, "1", "--out", "OUT"}},
      {"copy (source)", "in.pdf", {"copy", in, "1", other, "--out", "OUT"}},
      {"copy (target)", "other.pdf", {"copy", in, "1", other, "--out", "OUT"}},
      {"stamp", "in.pdf", {"stamp", in, "x", "--out", "OUT"}},
      {"attach (document)", "in.pdf", {"attach", in, data, "--out", "OUT"}},
      {"attach (attached file)", "data.txt", {"attach", in, data, "--out", "OUT"}},
      {"detach", "in.pdf", {"detach", in, "a.txt", "--out", "OUT"}},
      {"merge", "other.pdf", {"merge", in, other, "--out", "OUT"}},
      {"render", "in.pdf", {"render", in, "1", "--format", "png", "--out", "OUT"}},
      {"save", "in.pdf", {"save", in, "OUT"}},
      {"html2pdf", "data.txt", {"html2pdf", data, "--out", "OUT"}},
      {"print", "in.pdf", {"print", in, "1", "--to-file", "OUT"}},
  };
  for (const TCommandCase& c : cases) {
    for (const auto& [how, out] : spellings(dir, c.input)) {
      std::vector<std::string> argv{pvldoc::PvlPath()};
      for (const std::string& a : c.argv) argv.push_back(a == "OUT" ? out : a);
      const auto before = snapshot(dir.Path());
      const auto r = pvltest::RunCommand(argv);
      EXPECT_EQ(r.exitCode, 3) << c.command << " (" << how << "): " << r.err;
      EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << c.command << " (" << how << "): " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.command << ": " << r.err;
      EXPECT_TRUE(snapshot(dir.Path()) == before) << c.command << " (" << how << ") changed the folder";
    }
  }
  // split names its files after a pattern: page 1 of "page%p.pdf" is the input.
  const auto before = snapshot(dir.Path());
  for (const std::string& pattern : {dir.File("page%p.pdf"), dir.Path() + "/./page%p.pdf"}) {
    const auto r = pvltest::RunCommand({pvldoc::PvlPath(), "split", dir.File("page1.pdf"), "1", "--out", pattern});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(snapshot(dir.Path()) == before);
  // The same commands still write an output of another name.
  auto r = pvltest::RunCommand({pvldoc::PvlPath(), "detach", in, "a.txt", "--out", dir.File("a.txt")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(pvltest::ReadFile(dir.File("a.txt")), "attached bytes");
  r = pvltest::RunCommand({pvldoc::PvlPath(), "stamp", dir.File("link-to-in.pdf"), "x", "--out", dir.File("s.pdf")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

struct TFacadeCase {
  const char* operation;
  const char* input;
  // Runs the operation with the output path on a facade holding in.pdf.
  std::function<int32_t(TPavona&, const pvltest::TempDir&, const std::u16string&)> run;
};

TEST_F(OutputOverInput, EveryFacadeOperationRefusesToWriteOverAnInput) {
  auto W = [](const std::string& s) { return NativePathToWide(s); };
  const std::vector<TFacadeCase> cases = {
      {"MergeFiles", "in.pdf",
       [&](TPavona& f, const pvltest::TempDir& d, const std::u16string& out) {
         return f.MergeFiles(W(d.File("other.pdf")), W(d.File("in.pdf")), out);
       }},
      {"MergeFileList", "other.pdf",
       [&](TPavona& f, const pvltest::TempDir& d, const std::u16string& out) {
         f.AddToFileList(u"list", W(d.File("in.pdf")));
         f.AddToFileList(u"list", W(d.File("other.pdf")));
         return f.MergeFileList(u"list", out);
       }},
      {"ExtractPageRangesToFile", "in.pdf",
       [&](TPavona& f, const pvltest::TempDir& d, const std::u16string& out) {
         return f.ExtractPageRangesToFile(W(d.File("in.pdf")), u"1", out);
       }},
      {"CopyFile", "in.pdf",
       [&](TPavona& f, const pvltest::TempDir& d, const std::u16string& out) {
         return f.CopyFile(W(d.File("in.pdf")), out);
       }},
      {"SaveEmbeddedFileToFile", "in.pdf",
       [](TPavona& f, const pvltest::TempDir&, const std::u16string& out) { return f.SaveEmbeddedFileToFile(1, out); }},
      {"SaveImageToFile", "in.pdf",
       [](TPavona& f, const pvltest::TempDir&, const std::u16string& out) {
         if (f.FindImages() < 1 || !f.SelectImage(f.GetImageHandle(1))) return -1;
         return f.SaveImageToFile(out);
       }},
      {"RenderPagesToFile", "page1.pdf",
       [&](TPavona& f, const pvltest::TempDir& d, const std::u16string& out) {
         // Page images are named after a pattern: page 1 of "page%p.pdf".
         if (!f.LoadFromFile(W(d.File("page1.pdf")), u"")) return -1;
         std::u16string pattern = out;
         pattern.replace(pattern.rfind(u"1.pdf"), 1, u"%p");
         return f.RenderPagesToFile(72, 1, 1, pofPNG, pattern);
       }},
      {"PrintDocument to a file", "in.pdf",
       [](TPavona& f, const pvltest::TempDir&, const std::u16string& out) {
         f.SetPrintOutputFile(out);
         return f.PrintDocument(u"Print to file", 1, 1, f.PrintOptions(0, 0, u"t"));
       }},
  };
  for (const TFacadeCase& c : cases) {
    for (const auto& [how, out] : spellings(dir, c.input)) {
      TPavona facade;
      ASSERT_EQ(facade.LoadFromFile(W(dir.File("in.pdf")), u""), 1);
      const auto before = snapshot(dir.Path());
      EXPECT_EQ(c.run(facade, dir, W(out)), 0) << c.operation << " (" << how << ")";
      EXPECT_EQ(facade.LastErrorCode(), pvlErrBadArgument) << c.operation << " (" << how << ")";
      EXPECT_TRUE(snapshot(dir.Path()) == before) << c.operation << " (" << how << ") changed the folder";
    }
  }
}

TEST_F(OutputOverInput, SavingTheLoadedDocumentOverItsOwnFileStillWorks) {
  // The program's Save, Encrypt and Decrypt write the loaded document back
  // to its file (through a temporary file and a rename).
  const std::string path = dir.File("in.pdf");
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(NativePathToWide(path), u""), 1);
  ASSERT_EQ(facade.SetInformation(2, u"Saved in place"), 1);
  ASSERT_EQ(facade.Encrypt(u"o", u"", 2, facade.EncodePermissions(1, 1, 1, 1, 1, 1, 1, 1)), 1);
  ASSERT_EQ(facade.SaveToFile(NativePathToWide(path)), 1) << facade.LastErrorCode();
  TPavona again;
  ASSERT_EQ(again.LoadFromFile(NativePathToWide(path), u""), 1);
  EXPECT_EQ(again.IsEncrypted(), 1);
  EXPECT_EQ(again.PageCount(), 2);
  std::u16string title;
  again.GetInformation(2, title);
  EXPECT_EQ(title, u"Saved in place");
  ASSERT_EQ(again.Decrypt(), 1);
  ASSERT_EQ(again.SaveToFile(NativePathToWide(path)), 1);
  TPavona third;
  ASSERT_EQ(third.LoadFromFile(NativePathToWide(path), u""), 1);
  EXPECT_EQ(third.IsEncrypted(), 0);
  EXPECT_EQ(third.PageCount(), 2);
}

TEST_F(OutputOverInput, DeletingEveryPageIsRefused) {
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(NativePathToWide(dir.File("in.pdf")), u""), 1);
  for (const auto& [first, count] : std::vector<std::pair<int32_t, int32_t>>{{1, 2}, {1, 5}, {1, 1000000000}}) {
    EXPECT_EQ(facade.DeletePages(first, count), 0);
    EXPECT_EQ(facade.LastErrorCode(), TPavona::pvlErrEveryPage);
    EXPECT_EQ(facade.PageCount(), 2);
  }
  EXPECT_EQ(facade.DeletePages(2, 5), 1);
  EXPECT_EQ(facade.PageCount(), 1);
  EXPECT_EQ(facade.DeletePages(1, 1), 0);
  EXPECT_EQ(facade.LastErrorCode(), TPavona::pvlErrEveryPage);
  for (const char* range : {"1-", "1-2", "1-9"}) {
    const auto r =
        pvltest::RunCommand({pvldoc::PvlPath(), "delete", dir.File("in.pdf"), range, "--out", dir.File("none.pdf")});
    EXPECT_EQ(r.exitCode, 3) << range;
    EXPECT_NE(r.err.find("every page"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.File("none.pdf"))) << range;
  }
}

TEST_F(OutputOverInput, AttachedFilesAreNamedWithoutTheirFolders) {
  // Readers that save attachments use /F and /UF as the file name; a path
  // there also tells every reader of the document where the file was.
  fs::create_directories(dir.File("private/folder"));
  pvltest::WriteFile(dir.File("private/folder/report.txt"), "report");
  auto r = pvltest::RunCommand({pvldoc::PvlPath(), "attach", dir.File("other.pdf"),
                                dir.File("private/folder/report.txt"), "--out", dir.File("att.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(pvltest::ReadFile(dir.File("att.pdf")).find("private"), std::string::npos);
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(NativePathToWide(dir.File("att.pdf")), u""), 1);
  ASSERT_EQ(facade.EmbeddedFileCount(), 2);
  std::u16string name;
  facade.GetEmbeddedFileString(2, 1, name);
  EXPECT_EQ(name, u"report.txt");
  if (!pvltest::HaveTool("pdfdetach")) GTEST_SKIP() << "pdfdetach is missing";
  fs::create_directories(dir.File("saved"));
  r = pvltest::RunCommand({"pdfdetach", "-saveall", "-o", dir.File("saved"), dir.File("att.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(pvltest::ReadFile(dir.File("saved/report.txt")), "report");
  EXPECT_EQ(pvltest::ReadFile(dir.File("saved/a.txt")), "attached bytes");
}

}  // namespace
