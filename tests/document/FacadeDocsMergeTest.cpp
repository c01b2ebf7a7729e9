// Merging, splitting and page extraction through the facade, against qpdf,
// pdfinfo, pdftotext and pdftoppm as oracles, on corpus files and on small
// files built here (nested page trees with inherited attributes, outlines,
// forms, named destinations).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageTree.h"
#include "platform/Classes.h"

namespace {

namespace fs = std::filesystem;
using pvltest::RunCommand;

std::u16string W(const std::string& s) { return NativePathToWide(s); }

// pages pages under an intermediate node that holds MediaBox [0 0 300 400],
// Rotate 90 and the font resources; the root itself has Rotate 180, which
// the node overrides. Each page shows "<label> k". With outline, the
// document has one top-level bookmark per page; with a form, one text field
// and DR fonts; with dests, a named destination "<label>-first".
std::string NestedTree(int pages, const std::string& label, bool outline = false, bool form = false,
                       bool dests = false) {
  // 1 catalog, 2 root, 3 node, 4 font, then per page: page, content; then
  // outline root + items; then field; then names leaf.
  std::vector<std::string> objs(4);
  std::string kids;
  const int firstPage = 5;
  for (int k = 0; k < pages; ++k) {
    const int page = firstPage + 2 * k;
    kids += std::to_string(page) + " 0 R ";
    objs.push_back("<< /Type /Page /Parent 3 0 R /Contents " + std::to_string(page + 1) + " 0 R >>");
    objs.push_back("STREAM:BT /F1 24 Tf 40 200 Td (" + label + " " + std::to_string(k + 1) + ") Tj ET");
  }
  std::string catalog = "<< /Type /Catalog /Pages 2 0 R";
  if (outline) {
    const int root = static_cast<int>(objs.size()) + 1;
    const int first = root + 1, last = root + pages;
    objs.push_back("<< /Type /Outlines /First " + std::to_string(first) + " 0 R /Last " + std::to_string(last) +
                   " 0 R /Count " + std::to_string(pages) + " >>");
    for (int k = 0; k < pages; ++k) {
      const int n = first + k;
      std::string item = "<< /Title (" + label + " mark " + std::to_string(k + 1) + ") /Parent " +
                         std::to_string(root) + " 0 R /Dest [" + std::to_string(firstPage + 2 * k) +
                         " 0 R /XYZ 0 400 0]";
      if (k > 0) item += " /Prev " + std::to_string(n - 1) + " 0 R";
      if (k + 1 < pages) item += " /Next " + std::to_string(n + 1) + " 0 R";
      objs.push_back(item + " >>");
    }
    catalog += " /Outlines " + std::to_string(root) + " 0 R";
  }
  if (form) {
    const int field = static_cast<int>(objs.size()) + 1;
    objs.push_back("<< /FT /Tx /T (" + label + "field) /Type /Annot /Subtype /Widget /Rect [10 10 100 30] /P " +
                   std::to_string(firstPage) + " 0 R /DA (/" + label + "F 10 Tf 0 g) >>");
    catalog += " /AcroForm << /Fields [" + std::to_string(field) + " 0 R] /DR << /Font << /" + label +
               "F 4 0 R >> >> /DA (/" + label + "F 10 Tf 0 g) >>";
  }
  if (dests) {
    const int leaf = static_cast<int>(objs.size()) + 1;
    objs.push_back("<< /Names [(" + label + "-first) [" + std::to_string(firstPage) + " 0 R /Fit]] >>");
    catalog += " /Names << /Dests " + std::to_string(leaf) + " 0 R >>";
  }
  objs[0] = catalog + " >>";
  objs[1] = "<< /Type /Pages /Kids [3 0 R] /Count " + std::to_string(pages) + " /Rotate 180 >>";
  objs[2] = "<< /Type /Pages /Parent 2 0 R /Kids [" + kids + "] /Count " + std::to_string(pages) +
            " /MediaBox [0 0 300 400] /Rotate 90 /Resources << /Font << /F1 4 0 R >> >> >>";
  objs[3] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
  return pvltest::MakePdf(objs, " /Info << /Title (" + label + ") >>");
}

std::string Output(const std::vector<std::string>& argv) {
  return RunCommand(argv).out;
}

int QpdfPages(const std::string& file) {
  const auto r = RunCommand({"qpdf", "--show-npages", file});
  return r.exitCode == 0 ? std::atoi(r.out.c_str()) : -1;
}

// Page sizes and rotations as pdfinfo sees them, one line per page.
std::string PageSizes(const std::string& file) {
  const int n = QpdfPages(file);
  const std::string out = Output({"pdfinfo", "-f", "1", "-l", std::to_string(n), file});
  std::string lines;
  std::regex re("Page +[0-9]+ (size|rot): +(.*)");
  for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) lines += (*it)[2].str() + "\n";
  return lines;
}

int QpdfOutlineCount(const std::string& file) {
  const std::string json = Output({"qpdf", "--json", "--json-key=outlines", file});
  size_t count = 0;
  for (size_t at = json.find("\"title\""); at != std::string::npos; at = json.find("\"title\"", at + 1)) ++count;
  return static_cast<int>(count);
}

// Loaded page k's effective attributes through the engine's read-only view.
struct TPageFacts {
  std::array<double, 4> media{};
  int32_t rotate = 0;
  bool ownMedia = false, ownRotate = false, ownResources = false;
};
TPageFacts Facts(TPDFDocument& doc, int32_t k) {
  TPageFacts f;
  TPDFDictionary* page = doc.GetPageTree()->FindPage(k);
  if (!page) return f;
  if (auto box = TPDFPageTree::GetPageBox(page, "MediaBox")) f.media = *box;
  f.rotate = TPDFPageTree::GetPageRotate(page);
  f.ownMedia = page->GetValue("MediaBox") != nullptr;
  f.ownRotate = page->GetValue("Rotate") != nullptr;
  f.ownResources = page->GetValue("Resources") != nullptr;
  return f;
}

std::unique_ptr<TPDFDocument> Load(const std::string& path) {
  auto doc = std::make_unique<TPDFDocument>();
  if (doc->LoadFromString(pvltest::ReadFile(path), u"") != TPDFDocument::kLoadOk) return nullptr;
  return doc;
}

// Mean absolute difference of two PPM images of the same size; -1 when the
// sizes differ or a file is not a binary PPM.
double PpmDifference(const std::string& a, const std::string& b) {
  auto parse = [](const std::string& bytes, int& w, int& h, size_t& data) {
    int maxval = 0;
    char magic[3] = {0, 0, 0};
    int consumed = 0;
    if (std::sscanf(bytes.c_str(), "%2s %d %d %d%n", magic, &w, &h, &maxval, &consumed) != 4) return false;
    data = size_t(consumed) + 1;
    return std::string(magic) == "P6" && bytes.size() >= data + size_t(w) * size_t(h) * 3;
  };
  int wa, ha, wb, hb;
  size_t da, db;
  if (!parse(a, wa, ha, da) || !parse(b, wb, hb, db) || wa != wb || ha != hb) return -1;
  double sum = 0;
  const size_t n = size_t(wa) * size_t(ha) * 3;
  for (size_t i = 0; i < n; ++i)
    sum += std::abs(int(static_cast<uint8_t>(a[da + i])) - int(static_cast<uint8_t>(b[db + i])));
  return sum / double(n);
}

}  // namespace

// ---------------------------------------------------------------------------
// Merging

TEST(FacadeMerge, CorpusFilesAgreeWithQpdf) {
  if (!pvltest::HaveTools({"qpdf", "pdfinfo", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  const std::vector<std::vector<std::string>> cases = {
      {"samples/pdflatex-outline.pdf"},
      {"samples/pdflatex-4-pages.pdf", "samples/pdflatex-outline.pdf"},
      {"samples/pdflatex-outline.pdf", "samples/habibi-rotated.pdf", "samples/libreoffice-form.pdf"},
      {"samples/crazyones-pdfa.pdf", "samples/pdflatex-outline.pdf", "samples/pdflatex-outline.pdf"},
  };
  for (const auto& files : cases) {
    SCOPED_TRACE(files.size() == 1 ? files[0] : files[0] + " + " + files[1]);
    pvltest::TempDir dir;
    TPavona facade;
    std::vector<std::string> qpdf = {"qpdf", "--empty", "--pages"};
    int outlines = 0;
    for (const std::string& f : files) {
      facade.AddToFileList(u"Parts", W(pvltest::CorpusPath(f)));
      qpdf.push_back(pvltest::CorpusPath(f));
      outlines += QpdfOutlineCount(pvltest::CorpusPath(f));
    }
    qpdf.insert(qpdf.end(), {"--", dir.File("qpdf.pdf")});
    ASSERT_EQ(RunCommand(qpdf).exitCode, 0);
    // List names compare without case.
    ASSERT_EQ(facade.MergeFileList(u"parts", W(dir.File("ours.pdf"))), static_cast<int32_t>(files.size()))
        << facade.LastErrorCode();
    const std::string ours = dir.File("ours.pdf"), theirs = dir.File("qpdf.pdf");
    const auto check = RunCommand({"qpdf", "--check", ours});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(QpdfPages(ours), QpdfPages(theirs));
    EXPECT_EQ(PageSizes(ours), PageSizes(theirs));
    EXPECT_EQ(Output({"pdftotext", ours, "-"}), Output({"pdftotext", theirs, "-"}));
    EXPECT_EQ(QpdfOutlineCount(ours), outlines);
  }
}

TEST(FacadeMerge, SecondTreeKeepsItsAttributesFormsOutlinesAndNames) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("a.pdf"), NestedTree(2, "Alpha", true, true, true));
  pvltest::WriteFile(dir.File("b.pdf"), NestedTree(3, "Beta", true, true, true));
  TPavona facade;
  ASSERT_EQ(facade.MergeFiles(W(dir.File("a.pdf")), W(dir.File("b.pdf")), W(dir.File("m.pdf"))), 1)
      << facade.LastErrorCode();
  const auto check = RunCommand({"qpdf", "--check", dir.File("m.pdf")});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  auto doc = Load(dir.File("m.pdf"));
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->GetPageTree()->GetPageCount(), 5);
  for (int32_t k = 1; k <= 5; ++k) {
    SCOPED_TRACE(k);
    const TPageFacts f = Facts(*doc, k);
    EXPECT_EQ(f.media, (std::array<double, 4>{0, 0, 300, 400}));
    // The first root's Rotate 180 must not reach the second file's pages.
    EXPECT_EQ(f.rotate, 90);
    if (k > 2) {
      EXPECT_TRUE(f.ownMedia && f.ownRotate && f.ownResources);
    }
  }
  const std::string text = Output({"pdftotext", dir.File("m.pdf"), "-"});
  EXPECT_LT(text.find("Alpha 2"), text.find("Beta 1"));
  EXPECT_NE(text.find("Beta 3"), std::string::npos);
  // Outlines: the chain runs through both files' items in order.
  TPavona reader;
  ASSERT_EQ(reader.LoadFromFile(W(dir.File("m.pdf")), u""), 1);
  ASSERT_EQ(reader.OutlineCount(), 5);
  std::vector<std::string> titles;
  std::vector<int32_t> pages;
  for (int32_t item = reader.GetFirstOutline(); item && titles.size() < 10; item = reader.GetNextOutline(item)) {
    std::u16string title;
    reader.GetOutlineTitle(item, title);
    titles.push_back(WideToUTF8(title));
    pages.push_back(reader.GetOutlinePage(item));
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Alpha mark 1", "Alpha mark 2", "Beta mark 1", "Beta mark 2",
                                              "Beta mark 3"}));
  EXPECT_EQ(pages, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  // Forms: both fields, both fonts of the default resources.
  TPDFDictionary* form = PDFAsDictionary(doc->GetRoot()->GetValue("AcroForm", true));
  ASSERT_TRUE(form);
  TPDFArray* fields = PDFAsArray(form->GetValue("Fields", true));
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->GetCount(), 2);
  TPDFDictionary* dr = PDFAsDictionary(form->GetValue("DR", true));
  TPDFDictionary* fonts = dr ? PDFAsDictionary(dr->GetValue("Font", true)) : nullptr;
  ASSERT_TRUE(fonts);
  EXPECT_TRUE(fonts->GetValue("AlphaF") && fonts->GetValue("BetaF"));
  // Named destinations of both files, each leading to its own first page.
  for (const auto& [name, page] : {std::pair<std::string, int32_t>{"Alpha-first", 1}, {"Beta-first", 3}}) {
    TPDFArray* dest = PDFAsArray(PDFResolve(doc->FindNamedDestination(name)));
    ASSERT_TRUE(dest) << name;
    EXPECT_EQ(doc->PageIndexOf(PDFAsIndRef(dest->GetItem(0))), page) << name;
  }
  // Size covers every number written.
  EXPECT_EQ(doc->GetTrailer()->GetInteger("Size", 0), doc->GetHighestNumber() + 1);
}

TEST(FacadeMerge, VersionIsTheHighestOfTheInputs) {
  pvltest::TempDir dir;
  std::string a = NestedTree(1, "A"), b = NestedTree(1, "B");
  b.replace(0, 8, "%PDF-1.7");
  pvltest::WriteFile(dir.File("a.pdf"), a);
  pvltest::WriteFile(dir.File("b.pdf"), b);
  TPavona facade;
  ASSERT_EQ(facade.MergeFiles(W(dir.File("a.pdf")), W(dir.File("b.pdf")), W(dir.File("m.pdf"))), 1);
  EXPECT_EQ(pvltest::ReadFile(dir.File("m.pdf")).substr(0, 8), "%PDF-1.7");
}

TEST(FacadeMerge, FailuresAreReportedAndWriteNothing) {
  pvltest::TempDir dir;
  const std::string good = dir.File("good.pdf"), other = dir.File("other.pdf");
  pvltest::WriteFile(good, NestedTree(2, "G"));
  pvltest::WriteFile(other, NestedTree(1, "O"));
  pvltest::WriteFile(dir.File("junk.pdf"), "this is not a PDF file at all");
  std::string encrypted = dir.File("enc.pdf");
  const bool haveQpdf = pvltest::HaveTools({"qpdf"});
  if (haveQpdf) RunCommand({"qpdf", "--encrypt", "u", "o", "256", "--", good, encrypted});
  struct TCase {
    std::string first, second, output;
    int32_t code;
  };
  std::vector<TCase> cases = {
      {dir.File("missing.pdf"), good, dir.File("out1.pdf"), pvlErrUnreadable},
      {good, dir.File("junk.pdf"), dir.File("out2.pdf"), pvlErrNoXRef},
      {good, other, good, pvlErrBadArgument},
      {good, other, dir.File("./other.pdf"), pvlErrBadArgument},
  };
  if (haveQpdf) cases.push_back({good, encrypted, dir.File("out3.pdf"), pvlErrEncryptedInput});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.first + " + " + c.second + " -> " + c.output);
    const std::string before = fs::exists(c.output) ? pvltest::ReadFile(c.output) : std::string("(none)");
    TPavona facade;
    EXPECT_EQ(facade.MergeFiles(W(c.first), W(c.second), W(c.output)), 0);
    EXPECT_EQ(facade.LastErrorCode(), c.code);
    EXPECT_EQ(fs::exists(c.output) ? pvltest::ReadFile(c.output) : std::string("(none)"), before);
  }
  if (geteuid() != 0) {
    // A read-only output that cannot be replaced.
    pvltest::WriteFile(dir.File("ro.pdf"), "keep");
    fs::permissions(dir.File("ro.pdf"), fs::perms::owner_read);
    TPavona facade;
    EXPECT_EQ(facade.MergeFiles(W(good), W(other), W(dir.File("ro.pdf"))), 0);
    EXPECT_EQ(facade.LastErrorCode(), pvlErrCannotDelete);
  }
  // No temporary file is left in the output folder.
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

TEST(FacadeMergeFileList, CountsTheFilesOfTheLastSuccessfulMerge) {
  pvltest::TempDir dir;
  for (const char* name : {"a", "b", "c"}) pvltest::WriteFile(dir.File(std::string(name) + ".pdf"), NestedTree(1, name));
  pvltest::WriteFile(dir.File("junk.pdf"), "%PDF-1.4\nnothing else");
  struct TCase {
    std::vector<std::string> files;
    int32_t result;
    bool output;
  };
  const std::vector<TCase> cases = {
      {{}, 0, false},
      {{"a"}, 1, true},
      {{"a", "b", "c"}, 3, true},
      {{"a", "b", "junk"}, 2, false},
      {{"junk", "a"}, 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.files.size());
    TPavona facade;
    for (const std::string& f : c.files) facade.AddToFileList(u"L", W(dir.File(f + ".pdf")));
    const std::string out = dir.File("out.pdf");
    fs::remove(out);
    EXPECT_EQ(facade.MergeFileList(u"L", W(out)), c.result);
    EXPECT_EQ(fs::exists(out), c.output);
    if (c.output) {
      auto doc = Load(out);
      ASSERT_TRUE(doc);
      EXPECT_EQ(doc->GetPageTree()->GetPageCount(), static_cast<int32_t>(c.files.size()));
    }
  }
  TPavona facade;
  EXPECT_EQ(facade.MergeFileList(u"unknown", W(dir.File("x.pdf"))), 0);
}

// ---------------------------------------------------------------------------
// Splitting

TEST(FacadeSplit, EveryReadableCorpusFileSplitsIntoPagesThatRenderAlike) {
  if (!pvltest::HaveTools({"qpdf", "pdftoppm"})) GTEST_SKIP() << "peer tools missing";
  int files = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    // Broken on purpose (the name says so; the folder the checkout is in may say anything).
    if (fs::path(path).filename().string().find("fuzz") != std::string::npos) continue;
    if (fs::file_size(path) > 3'000'000) continue;
    const auto enc = RunCommand({"qpdf", "--show-encryption", path});
    if (enc.exitCode != 0 || enc.out.find("not encrypted") == std::string::npos) continue;
    const int n = QpdfPages(path);
    if (n < 1) continue;
    SCOPED_TRACE(path);
    ++files;
    pvltest::TempDir dir;
    std::vector<int> pages = {1};
    if (n > 1) pages.push_back(n);
    auto original = Load(path);
    for (int page : pages) {
      SCOPED_TRACE(page);
      const std::string out = dir.File("p" + std::to_string(page) + ".pdf");
      TPavona facade;
      ASSERT_EQ(facade.ExtractPageRangesToFile(W(path), AsciiToWide(std::to_string(page)), W(out)), 1)
          << facade.LastErrorCode();
      EXPECT_EQ(QpdfPages(out), 1);
      // The page carries what it inherited: boxes and rotation as before,
      // held by the page itself.
      auto split = Load(out);
      TPDFDictionary* before = original ? original->GetPageTree()->FindPage(page) : nullptr;
      TPDFDictionary* after = split ? split->GetPageTree()->FindPage(1) : nullptr;
      if (before && after) {
        EXPECT_TRUE(after->GetValue("MediaBox") && after->GetValue("Rotate") && after->GetValue("Resources"));
        EXPECT_EQ(TPDFPageTree::GetPageRotate(after), TPDFPageTree::GetPageRotate(before));
        // Numbers are written with the serialiser's four decimals.
        auto same = [](const std::optional<std::array<double, 4>>& a, const std::optional<std::array<double, 4>>& b) {
          if (!a || !b) return !a && !b;
          for (size_t i = 0; i < 4; ++i)
            if (std::abs((*a)[i] - (*b)[i]) > 1e-3) return false;
          return true;
        };
        EXPECT_TRUE(same(TPDFPageTree::GetPageBox(after, "MediaBox"), TPDFPageTree::GetPageBox(before, "MediaBox")));
        auto crop = [](TPDFDictionary* d) {
          auto box = TPDFPageTree::GetPageBox(d, "CropBox");
          return box ? box : TPDFPageTree::GetPageBox(d, "MediaBox");
        };
        EXPECT_TRUE(same(crop(after), crop(before)));
      }
      EXPECT_NE(RunCommand({"qpdf", "--check", out}).exitCode, 2);
      const auto a = RunCommand({"pdftoppm", "-r", "12", "-f", std::to_string(page), "-l", std::to_string(page),
                                 path});
      const auto b = RunCommand({"pdftoppm", "-r", "12", out});
      if (a.exitCode != 0 || a.out.empty()) continue;  // a page pdftoppm cannot draw
      const double diff = PpmDifference(a.out, b.out);
      EXPECT_GE(diff, 0) << "page sizes differ";
      EXPECT_LT(diff, 3.0);
    }
  }
  EXPECT_GT(files, 50);
}

TEST(FacadeSplit, PagesCarryWhatTheyInheritedAndNothingOfOtherPages) {
  pvltest::TempDir dir;
  const std::string in = dir.File("in.pdf");
  pvltest::WriteFile(in, NestedTree(3, "Gamma", true, true, false));
  TPavona facade;
  ASSERT_EQ(facade.ExtractPageRangesToFile(W(in), u"2", W(dir.File("two.pdf"))), 1) << facade.LastErrorCode();
  const std::string bytes = pvltest::ReadFile(dir.File("two.pdf"));
  EXPECT_NE(bytes.find("(Gamma 2)"), std::string::npos);
  EXPECT_EQ(bytes.find("(Gamma 1)"), std::string::npos);
  EXPECT_EQ(bytes.find("(Gamma 3)"), std::string::npos);
  auto doc = Load(dir.File("two.pdf"));
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->GetPageTree()->GetPageCount(), 1);
  const TPageFacts f = Facts(*doc, 1);
  EXPECT_TRUE(f.ownMedia && f.ownRotate && f.ownResources);
  EXPECT_EQ(f.media, (std::array<double, 4>{0, 0, 300, 400}));
  EXPECT_EQ(f.rotate, 90);
  // A bookmark of a page left out keeps no reference to it.
  TPavona reader;
  ASSERT_EQ(reader.LoadFromFile(W(dir.File("two.pdf")), u""), 1);
  EXPECT_EQ(reader.GetOutlinePage(reader.GetOutlineHandle(1)), 0);
  EXPECT_EQ(reader.GetOutlinePage(reader.GetOutlineHandle(2)), 1);
  if (pvltest::HaveTools({"qpdf"})) {
    EXPECT_EQ(RunCommand({"qpdf", "--check", dir.File("two.pdf")}).exitCode, 0);
  }

  // Ranges keep their order; pages named twice come once.
  ASSERT_EQ(facade.ExtractPageRangesToFile(W(in), u"3,1-2,3", W(dir.File("many.pdf"))), 1);
  auto many = Load(dir.File("many.pdf"));
  ASSERT_TRUE(many);
  EXPECT_EQ(many->GetPageTree()->GetPageCount(), 3);
}

TEST(FacadeSplit, FailuresAreReportedAndWriteNothing) {
  pvltest::TempDir dir;
  const std::string in = dir.File("in.pdf");
  pvltest::WriteFile(in, NestedTree(3, "D"));
  struct TCase {
    std::string input, range, output;
    int32_t code;
  };
  std::vector<TCase> cases = {
      {in, "0", dir.File("o1.pdf"), pvlErrNoPages},
      {in, "7-9", dir.File("o2.pdf"), pvlErrNoPages},
      {in, "", dir.File("o3.pdf"), pvlErrNoPages},
      {in, "1", in, pvlErrBadArgument},
      {dir.File("none.pdf"), "1", dir.File("o4.pdf"), pvlErrUnreadable},
  };
  if (pvltest::HaveTools({"qpdf"})) {
    // A file that needs its user password (one that opens without is split).
    RunCommand({"qpdf", "--encrypt", "u", "o", "256", "--", in, dir.File("enc.pdf")});
    cases.push_back({dir.File("enc.pdf"), "1", dir.File("o5.pdf"), pvlErrEncryptedInput});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.range + " " + c.output);
    const std::string before = pvltest::ReadFile(in);
    TPavona facade;
    EXPECT_EQ(facade.ExtractPageRangesToFile(W(c.input), AsciiToWide(c.range), W(c.output)), 0);
    EXPECT_EQ(facade.LastErrorCode(), c.code);
    if (c.output != in) {
      EXPECT_FALSE(fs::exists(c.output));
    }
    EXPECT_EQ(pvltest::ReadFile(in), before);
  }
}

// ---------------------------------------------------------------------------
// Pages and text

TEST(FacadeExtractPages, ClampsTheRangeAndSelectsTheNewDocument) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("six.pdf"), NestedTree(6, "Six"));
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(W(dir.File("six.pdf")), u""), 1);
  const int32_t documents = facade.DocumentCount();
  ASSERT_EQ(facade.ExtractPages(5, 10), 1) << facade.LastErrorCode();
  EXPECT_EQ(facade.DocumentCount(), documents + 1);
  ASSERT_EQ(facade.PageCount(), 2);
  std::u16string text;
  facade.SelectPage(1);
  facade.GetPageText(0, text);
  EXPECT_NE(WideToUTF8(text).find("Six 5"), std::string::npos) << WideToUTF8(text);
  facade.SelectPage(2);
  facade.GetPageText(0, text);
  EXPECT_NE(WideToUTF8(text).find("Six 6"), std::string::npos) << WideToUTF8(text);
  TPDFDocument* doc = facade.GetSelectedDocumentObject();
  EXPECT_EQ(TPDFPageTree::GetPageRotate(doc->GetPageTree()->FindPage(1)), 90);

  TPavona empty;
  EXPECT_EQ(empty.ExtractPages(1, 0), 0);
  EXPECT_EQ(empty.LastErrorCode(), pvlErrNoPages);
}

TEST(FacadeExtractPageTextFromFile, AgreesWithTheLoadedDocumentAlsoWhenEncrypted) {
  pvltest::TempDir dir;
  const std::string plain = dir.File("plain.pdf");
  pvltest::WriteFile(plain, NestedTree(3, "Text"));
  std::vector<std::pair<std::string, std::string>> files = {{plain, ""}};
  if (pvltest::HaveTools({"qpdf"})) {
    const std::vector<std::vector<std::string>> variants = {
        {"40", "--"}, {"128", "--use-aes=n", "--"}, {"128", "--use-aes=y", "--"}, {"256", "--"}};
    for (size_t i = 0; i < variants.size(); ++i) {
      // Half of them keep their objects in (encrypted) object streams.
      std::vector<std::string> argv = {"qpdf", "--allow-weak-crypto",
                                       i % 2 ? "--object-streams=generate" : "--object-streams=disable", "--encrypt",
                                       "usr", "own"};
      argv.insert(argv.end(), variants[i].begin(), variants[i].end());
      const std::string out = dir.File("enc" + std::to_string(i) + ".pdf");
      argv.insert(argv.end(), {plain, out});
      ASSERT_EQ(RunCommand(argv).exitCode, 0);
      files.push_back({out, "usr"});
      files.push_back({out, "own"});
    }
  }
  for (const auto& [file, password] : files) {
    SCOPED_TRACE(file + " / " + password);
    for (int32_t mode : {0, 1, 8}) {
      TPavona facade;
      std::u16string direct;
      facade.ExtractPageTextFromFile(W(file), AsciiToWide(password), 2, mode, direct);
      EXPECT_EQ(facade.LastErrorCode(), 0);
      EXPECT_NE(WideToUTF8(direct).find("Text 2"), std::string::npos) << mode << ": " << WideToUTF8(direct);
      ASSERT_EQ(facade.LoadFromFile(W(plain), u""), 1);
      facade.SelectPage(2);
      std::u16string loaded;
      facade.GetPageText(mode == 1 ? 2 : mode, loaded);
      EXPECT_EQ(direct, loaded) << mode;
    }
  }
  if (files.size() > 1) {
    TPavona facade;
    std::u16string text;
    facade.ExtractPageTextFromFile(W(files[1].first), u"wrong", 1, 0, text);
    EXPECT_EQ(facade.LastErrorCode(), pvlErrWrongPassword);
    EXPECT_TRUE(text.empty());
  }
}

// ---------------------------------------------------------------------------
// Merge, split and copy keep what the inputs hold

namespace {

std::string ReproPath(const std::string& name) {
  return pvltest::CorpusDir() + "/../repro/reading/" + name;
}

// The fields of a form as qpdf sees them (name, kind, value, flags), sorted.
std::vector<std::string> FormFields(const std::string& file) {
  const auto r = RunCommand({"python3", std::string(PVL_SOURCE_DIR) + "/tests/document/form_fields.py", file});
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(r.out.substr(start, end - start));
  return lines;
}

// The column of every field line (0 name, 2 value), sorted.
std::vector<std::string> FieldColumn(const std::vector<std::string>& lines, int column) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    size_t start = 0;
    for (int k = 0; k < column && start != std::string::npos; ++k) {
      start = line.find('\t', start);
      if (start != std::string::npos) ++start;
    }
    if (start == std::string::npos) continue;
    out.push_back(line.substr(start, line.find('\t', start) - start));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// What pvl copy does: the pages of source appended to target, saved as out.
bool CopyAllPages(const std::string& source, const std::string& target, const std::string& out) {
  TPavona facade;
  if (!facade.LoadFromFile(W(source), u"")) return false;
  const int32_t from = facade.SelectedDocument();
  const int32_t pages = facade.PageCount();
  if (!facade.LoadFromFile(W(target), u"")) return false;
  const int32_t to = facade.SelectedDocument();
  facade.SelectDocument(from);
  if (!facade.ExtractPages(1, pages)) return false;
  const int32_t part = facade.SelectedDocument();
  facade.SelectDocument(to);
  return facade.MergeDocument(part) && facade.SaveToFile(W(out));
}

// qpdf --check finds nothing at all (no warning either).
void ExpectQpdfClean(const std::string& file) {
  const auto check = RunCommand({"qpdf", "--check", file});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_EQ(check.err.find("WARNING"), std::string::npos) << check.err;
}

}  // namespace

TEST(FacadeMergeKeeps, NumbersOfCopiedObjectsKeepEveryDigit) {
  pvltest::TempDir dir;
  const std::string in = dir.File("fine.pdf");
  pvltest::WriteFile(
      in, pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200.123456 300] /Resources << /Font << /T3 5 "
                            "0 R >> >> /Contents 4 0 R >>",
                            "STREAM:BT /T3 100 Tf 20 100 Td (a) Tj ET",
                            "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.00048828125 0 0 "
                            "0.00048828125 0 0] /CharProcs << /a 6 0 R >> /Encoding << /Type /Encoding /Differences "
                            "[97 /a] >> /FirstChar 97 /LastChar 97 /Widths [1000] >>",
                            "STREAM:1000 0 0 0 1000 1000 d1 0 0 1000 1000 re f"}));
  const std::vector<std::pair<std::string, std::function<bool(const std::string&)>>> cases = {
      {"merge", [&](const std::string& out) { return TPavona().MergeFiles(W(in), W(in), W(out)) == 1; }},
      {"split", [&](const std::string& out) { return TPavona().ExtractPageRangesToFile(W(in), u"1", W(out)) == 1; }},
      {"copy", [&](const std::string& out) { return CopyAllPages(in, in, out); }},
  };
  for (const auto& [name, run] : cases) {
    SCOPED_TRACE(name);
    const std::string out = dir.File(name + ".pdf");
    ASSERT_TRUE(run(out));
    const std::string bytes = pvltest::ReadFile(out);
    EXPECT_NE(bytes.find("0.00048828125 0 0 0.00048828125"), std::string::npos);
    EXPECT_NE(bytes.find("200.123456"), std::string::npos);
    EXPECT_EQ(bytes.find("0.0005 "), std::string::npos);
  }
}

TEST(FacadeMergeKeeps, APageListedTwiceIsAPageAtEveryListing) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  for (const char* name : {"page-listed-twice.pdf", "page-listed-twice-2.pdf"}) {
    SCOPED_TRACE(name);
    const std::string in = ReproPath(name);
    const int n = QpdfPages(in);
    ASSERT_GT(n, 1);
    pvltest::TempDir dir;
    const std::string ref = dir.File("ref.pdf");
    ASSERT_NE(RunCommand({"qpdf", "--empty", "--pages", in, in, "--", ref}).exitCode, 2);
    const std::string merged = dir.File("merged.pdf"), copied = dir.File("copied.pdf");
    TPavona facade;
    ASSERT_EQ(facade.MergeFiles(W(in), W(in), W(merged)), 1) << facade.LastErrorCode();
    ASSERT_TRUE(CopyAllPages(in, in, copied));
    for (const std::string& out : {merged, copied}) {
      SCOPED_TRACE(out);
      EXPECT_EQ(QpdfPages(out), 2 * n);
      ExpectQpdfClean(out);
      EXPECT_EQ(Output({"pdftotext", out, "-"}), Output({"pdftotext", ref, "-"}));
    }
    for (int page = 1; page <= n; ++page) {
      const std::string out = dir.File("p" + std::to_string(page) + ".pdf");
      ASSERT_EQ(facade.ExtractPageRangesToFile(W(in), AsciiToWide(std::to_string(page)), W(out)), 1);
      EXPECT_EQ(QpdfPages(out), 1);
      ExpectQpdfClean(out);
      EXPECT_EQ(Output({"pdftotext", out, "-"}),
                Output({"pdftotext", "-f", std::to_string(page), "-l", std::to_string(page), in, "-"}));
    }
  }
}

// Merging and splitting read their inputs as opening a document does: what
// it opens (also by repairing), they take; what it refuses, they refuse.
TEST(FacadeMergeKeeps, InputsAreReadAsTheDocumentReadsThem) {
  pvltest::TempDir dir;
  const std::string sound = pvltest::MakePdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R /Resources << /Font "
       "<< /F1 5 0 R >> >> >>",
       "STREAM:BT /F1 20 Tf 10 100 Td (Mended) Tj ET", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
  std::string badStart = sound;
  badStart.replace(badStart.rfind("startxref\n") + 10, std::string::npos, "999999\n%%EOF\n");
  std::string noTable = sound.substr(0, sound.find("xref\n0 ")) + "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  std::string shifted = "%PDF-1.4\n%" + std::string(40, 'x') + "\n" + sound.substr(sound.find('\n') + 1);
  struct TCase {
    std::string name, bytes;
  };
  std::vector<TCase> cases = {
      {"bad-startxref", badStart}, {"no-table", noTable}, {"shifted", shifted}, {"junk", "%PDF-1.4\nnothing else"}};
  for (const char* repro : {"wrong-length-and-offsets.pdf", "xref-stream-no-length-no-header.pdf",
                            "xref-size-too-large.pdf", "dictionary-with-stray-tokens.pdf"})
    cases.push_back({repro, pvltest::ReadFile(ReproPath(repro))});
  const bool qpdf = pvltest::HaveTools({"qpdf"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = dir.File(c.name + ".in.pdf");
    pvltest::WriteFile(in, c.bytes);
    TPDFDocument document;
    const bool opens = document.LoadFromString(c.bytes, u"") == TPDFDocument::kLoadOk;
    const int32_t pages = opens ? document.GetPageTree()->GetPageCount() : 0;
    const std::string merged = dir.File(c.name + ".merged.pdf"), split = dir.File(c.name + ".split.pdf");
    TPavona facade;
    EXPECT_EQ(facade.MergeFiles(W(in), W(in), W(merged)), opens ? 1 : 0) << facade.LastErrorCode();
    EXPECT_EQ(facade.ExtractPageRangesToFile(W(in), u"1", W(split)), opens && pages > 0 ? 1 : 0)
        << facade.LastErrorCode();
    if (!opens) {
      EXPECT_EQ(facade.LastErrorCode(), pvlErrNoXRef);
      continue;
    }
    auto m = Load(merged);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->GetPageTree()->GetPageCount(), 2 * pages);
    if (pages > 0) {
      auto s = Load(split);
      ASSERT_TRUE(s);
      EXPECT_EQ(s->GetPageTree()->GetPageCount(), 1);
    }
    if (qpdf) {
      const auto check = RunCommand({"qpdf", "--check", merged});
      EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
      EXPECT_EQ(QpdfPages(merged), 2 * pages);
    }
  }
}

// Merging, splitting, copying and saving write the pages the tree lists as
// pages, also where the file's page dictionary lost its Type and Parent (the
// start of the headerless repro file's page is blanked out), and the first
// page's contents as the file has them, also where they are a referenced
// array (opening the document prepares that page for drawing).
TEST(FacadeMergeKeeps, PagesAreWrittenAsPagesWithTheirStoredContents) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  const std::string font = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
  const std::string resources = " /Resources << /Font << /F1 5 0 R >> >> >>";
  const std::vector<std::pair<std::string, std::vector<std::string>>> inputs = {
      {"lost type and parent",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /MediaBox [0 0 200 200] /Contents 4 0 R" + resources, "STREAM:BT /F1 20 Tf 10 100 Td (Stray) Tj ET", font}},
      {"contents array object",
       {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 6 0 R" + resources,
        "STREAM:BT /F1 20 Tf 10 100 Td (Stray) Tj ET", font, "[4 0 R]"}},
  };
  for (const auto& [label, objects] : inputs) {
    SCOPED_TRACE(label);
    pvltest::TempDir dir;
    const std::string in = dir.File("in.pdf");
    pvltest::WriteFile(in, pvltest::MakePdf(objects));
    const std::string merged = dir.File("merged.pdf"), split = dir.File("split.pdf"), copied = dir.File("copied.pdf"),
                      saved = dir.File("saved.pdf");
    ASSERT_EQ(TPavona().MergeFiles(W(in), W(in), W(merged)), 1);
    ASSERT_EQ(TPavona().ExtractPageRangesToFile(W(in), u"1", W(split)), 1);
    ASSERT_TRUE(CopyAllPages(in, in, copied));
    TPavona facade;
    ASSERT_EQ(facade.LoadFromFile(W(in), u""), 1);
    ASSERT_EQ(facade.SaveToFile(W(saved)), 1);
    const std::string text = Output({"pdftotext", in, "-"});
    ASSERT_NE(text.find("Stray"), std::string::npos);
    for (const auto& [out, pages] :
         {std::pair{merged, 2}, std::pair{split, 1}, std::pair{copied, 2}, std::pair{saved, 1}}) {
      SCOPED_TRACE(out);
      ExpectQpdfClean(out);
      EXPECT_EQ(QpdfPages(out), pages);
      EXPECT_EQ(Output({"pdftotext", out, "-"}), pages == 2 ? text + text : text);
    }
  }
}

TEST(FacadeMergeKeeps, EncryptedInputsThatOpenWithoutAPasswordAreWrittenPlain) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  const std::string plain = dir.File("plain.pdf");
  pvltest::WriteFile(plain, NestedTree(2, "Secret"));
  const std::vector<std::vector<std::string>> variants = {
      {"40", "--"}, {"128", "--use-aes=n", "--"}, {"128", "--use-aes=y", "--"}, {"256", "--"}};
  for (size_t i = 0; i < variants.size(); ++i) {
    for (const std::string& user : {std::string(), std::string("usr")}) {
      SCOPED_TRACE(variants[i][0] + " " + std::to_string(i) + " user '" + user + "'");
      // Half of them keep their objects in (encrypted) object streams.
      std::vector<std::string> argv = {"qpdf",
                                       "--allow-weak-crypto",
                                       i % 2 ? "--object-streams=generate" : "--object-streams=disable",
                                       "--encrypt",
                                       user,
                                       "own"};
      argv.insert(argv.end(), variants[i].begin(), variants[i].end());
      const std::string enc = dir.File("enc.pdf"), merged = dir.File("m.pdf"), split = dir.File("s.pdf");
      argv.insert(argv.end(), {plain, enc});
      ASSERT_EQ(RunCommand(argv).exitCode, 0);
      fs::remove(merged);
      TPavona facade;
      if (!user.empty()) {
        EXPECT_EQ(facade.MergeFiles(W(plain), W(enc), W(merged)), 0);
        EXPECT_EQ(facade.LastErrorCode(), pvlErrEncryptedInput);
        EXPECT_FALSE(fs::exists(merged));
        continue;
      }
      ASSERT_EQ(facade.MergeFiles(W(enc), W(plain), W(merged)), 1) << facade.LastErrorCode();
      ExpectQpdfClean(merged);
      EXPECT_NE(RunCommand({"qpdf", "--show-encryption", merged}).out.find("not encrypted"), std::string::npos);
      EXPECT_EQ(QpdfPages(merged), 4);
      const std::string text = Output({"pdftotext", merged, "-"});
      EXPECT_EQ(text, Output({"pdftotext", enc, "-"}) + Output({"pdftotext", plain, "-"}));
      ASSERT_EQ(facade.ExtractPageRangesToFile(W(enc), u"2", W(split)), 1) << facade.LastErrorCode();
      ExpectQpdfClean(split);
      EXPECT_NE(Output({"pdftotext", split, "-"}).find("Secret 2"), std::string::npos);
    }
  }
}

TEST(FacadeMergeKeeps, EmbeddedFilesOfBothInputs) {
  if (!pvltest::HaveTools({"qpdf"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  auto withFile = [](const std::string& content) {
    return pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R /Names << /EmbeddedFiles 5 0 R >> >>",
                             "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
                             "STREAM:", "<< /Names [(note.txt) 6 0 R] >>",
                             "<< /Type /Filespec /F (note.txt) /UF (note.txt) /EF << /F 7 0 R >> >>",
                             "STREAM:" + content});
  };
  pvltest::WriteFile(dir.File("a.pdf"), withFile("first note"));
  pvltest::WriteFile(dir.File("b.pdf"), withFile("second note"));
  pvltest::WriteFile(dir.File("none.pdf"), NestedTree(1, "None"));
  struct TCase {
    std::string first, second;
    std::vector<std::string> contents;
  };
  const std::vector<TCase> cases = {{"a", "b", {"first note", "second note"}},
                                    {"none", "b", {"second note"}},
                                    {"a", "none", {"first note"}},
                                    {"a", "a", {"first note", "first note"}}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.first + " + " + c.second);
    const std::string out = dir.File("m.pdf");
    TPavona facade;
    ASSERT_EQ(facade.MergeFiles(W(dir.File(c.first + ".pdf")), W(dir.File(c.second + ".pdf")), W(out)), 1);
    ExpectQpdfClean(out);
    const std::string listed = RunCommand({"qpdf", "--list-attachments", out}).out;
    std::vector<std::string> contents;
    std::regex keyRe("^(.*) -> [0-9]+,[0-9]+$", std::regex::multiline);
    for (std::sregex_iterator it(listed.begin(), listed.end(), keyRe), end; it != end; ++it)
      contents.push_back(RunCommand({"qpdf", "--show-attachment=" + (*it)[1].str(), out}).out);
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, c.contents) << listed;
  }
}

TEST(FacadeMergeKeeps, FieldsOfBothCopiesOfAFormWithTheirValues) {
  if (!pvltest::HaveTools({"qpdf", "python3"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  auto form = [](const std::string& value) {
    return pvltest::MakePdf(
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 7 0 R] /DA (/Helv 10 Tf 0 g) >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Annots [5 0 R 6 0 R] >>", "STREAM:",
         "<< /FT /Tx /T (name) /V (" + value + ") /Type /Annot /Subtype /Widget /Rect [10 10 200 30] /P 3 0 R >>",
         "<< /Parent 7 0 R /Type /Annot /Subtype /Widget /Rect [10 50 200 70] /P 3 0 R >>",
         "<< /FT /Tx /T (address) /V (" + value + " street) /Kids [6 0 R] >>"});
  };
  pvltest::WriteFile(dir.File("one.pdf"), form("one"));
  pvltest::WriteFile(dir.File("two.pdf"), form("two"));
  const std::string merged = dir.File("m.pdf"), copied = dir.File("c.pdf");
  TPavona facade;
  ASSERT_EQ(facade.MergeFiles(W(dir.File("one.pdf")), W(dir.File("two.pdf")), W(merged)), 1);
  // Copied pages bring their fields along into the form they join.
  ASSERT_TRUE(CopyAllPages(dir.File("two.pdf"), dir.File("one.pdf"), copied));
  for (const std::string& out : {merged, copied}) {
    SCOPED_TRACE(out);
    ExpectQpdfClean(out);
    const std::vector<std::string> fields = FormFields(out);
    ASSERT_EQ(fields.size(), 4u) << ::testing::PrintToString(fields);
    const std::vector<std::string> names = FieldColumn(fields, 0);
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << ::testing::PrintToString(names);
    EXPECT_EQ(FieldColumn(fields, 2), (std::vector<std::string>{"one", "one street", "two", "two street"}));
  }
}

// Every corpus file that qpdf reads, merged with itself: a sound file with
// twice the pages, the text qpdf's own merge gives (the file's text twice),
// and every form field twice with its value.
TEST(FacadeMergeKeeps, EveryCorpusFileMergedWithItself) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext", "python3"})) GTEST_SKIP() << "peer tools missing";
  int merged = 0, forms = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    // Broken on purpose (the name says so), or too large for a unit test.
    const std::string name = fs::path(path).filename().string();
    if (name.find("fuzz") != std::string::npos || fs::file_size(path) > 3'000'000) continue;
    // qpdf counts the pages without a warning (so it reads the file sound).
    const int n = QpdfPages(path);
    if (n < 1) continue;
    SCOPED_TRACE(path);
    pvltest::TempDir dir;
    const std::string ours = dir.File("ours.pdf");
    TPavona facade;
    ASSERT_EQ(facade.MergeFiles(W(path), W(path), W(ours)), 1) << facade.LastErrorCode();
    ++merged;
    const auto check = RunCommand({"qpdf", "--check", ours});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(QpdfPages(ours), 2 * n);
    // The text of "qpdf --empty --pages f f": f's text twice (pages end in a
    // form feed each), without a qpdf run per file.
    const std::string text = Output({"pdftotext", path, "-"});
    EXPECT_EQ(Output({"pdftotext", ours, "-"}), text + text);
    if (pvltest::ReadFile(path).find("AcroForm") == std::string::npos) continue;
    const std::vector<std::string> fields = FormFields(path);
    if (fields.empty()) continue;
    ++forms;
    const std::vector<std::string> after = FormFields(ours);
    EXPECT_EQ(after.size(), 2 * fields.size());
    std::vector<std::string> values = FieldColumn(fields, 2), twice = values;
    twice.insert(twice.end(), values.begin(), values.end());
    std::sort(twice.begin(), twice.end());
    EXPECT_EQ(FieldColumn(after, 2), twice);
  }
  std::printf("%d files merged with themselves, %d with forms\n", merged, forms);
  EXPECT_GT(merged, 100);
  EXPECT_GT(forms, 0);
}
