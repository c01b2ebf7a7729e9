// Interactive forms through the facade and pvl, checked by peers: the fields
// of every corpus form as qpdf lists them, filled fields that qpdf reads
// back, pdftotext finds and pdftoppm draws as our renderer does, new fields
// of every kind, and text appearances that look like qpdf's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "CorpusPages.h"
#include "DocumentTestSupport.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaForm.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"

namespace {

std::u16string W(const std::string& s) {
  return NativePathToWide(s);
}

std::string scriptPath() {
  return std::string(PVL_SOURCE_DIR) + "/tests/document/form_fields.py";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    cells.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  cells.push_back(line.substr(start));
  return cells;
}

// Our terminal fields in the script's form: name, kind, value, flags; a
// field with several widgets once; signature values left out on both sides.
std::vector<std::string> ourFields(const std::string& path) {
  auto r = pvltest::RunCommand({pvldoc::PvlPath(), "fields", path});
  std::set<std::string> unique;
  for (const std::string& line : lines(r.out)) {
    std::vector<std::string> c = split(line);
    if (c.size() < 4 || c[1] == "parent" || c[1] == "unknown") continue;
    if (c[1] == "signature") c[2].clear();
    unique.insert(c[0] + "\t" + c[1] + "\t" + c[2] + "\t" + c[3]);
  }
  return {unique.begin(), unique.end()};
}

std::vector<std::string> qpdfFields(const std::string& path, int* status = nullptr) {
  auto r = pvltest::RunCommand({"python3", scriptPath(), path});
  if (status) *status = r.exitCode;
  std::vector<std::string> out;
  for (std::string line : lines(r.out)) {
    std::vector<std::string> c = split(line);
    if (c.size() == 4 && c[1] == "signature") line = c[0] + "\tsignature\t\t" + c[3];
    out.push_back(line);
  }
  return out;
}

TEST(FacadeForms, EveryCorpusFormListsTheFieldsQpdfLists) {
  if (!pvltest::HaveTools({"qpdf", "python3"})) GTEST_SKIP() << "a peer tool is missing";
  int forms = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    const std::string bytes = pvltest::ReadFile(path);
    if (bytes.find("AcroForm") == std::string::npos && bytes.find("/ObjStm") == std::string::npos) continue;
    int status = 0;
    const std::vector<std::string> theirs = qpdfFields(path, &status);
    if (status != 0) continue;  // qpdf cannot read it: nothing to compare with
    const std::vector<std::string> ours = ourFields(path);
    EXPECT_EQ(ours, theirs) << path;
    if (!theirs.empty()) ++forms;
  }
  // The corpus holds forms of every producer kind named in its README.
  EXPECT_GE(forms, 5);
}

struct TFill {
  const char* file;
  std::vector<std::pair<std::string, std::string>> values;
  double allowance;  // fraction of pixels that may differ from pdftoppm
};

// Filling text, combo, list, check box and radio fields of real forms.
const TFill kFills[] = {
    {"pdfjs/annotation-text-widget.pdf",
     {{"formulier1[0].#subform[0].Tekstveld1[0]", "Zebulon Quixote"},
      {"formulier1[0].#subform[0].Tekstveld5[0]", "Filled five"},
      {"formulier1[0].#subform[0].Tekstveld6[0]", "combtext"}},
     0.021},
    {"pdfjs/annotation-choice-widget.pdf",
     {{"formulier1[0].#subform[0].Vervolgkeuzelijst1[0]", "Ipsum"},
      {"formulier1[0].#subform[0].Keuzelijst1[0]", "Amet"}},
     0.021},
    {"pdfjs/annotation-button-widget.pdf",
     {{"formulier1[0].#subform[0].Selectievakje1[0]", "1"},
      {"formulier1[0].#subform[0].LijstKeuzerondje[0]", "Off"},
      {"formulier1[0].#subform[0].LijstKeuzerondje[1]", "0"}},
     0.008},
};

TEST(FacadeForms, FilledFieldsReadBackAndDrawLikePdftoppm) {
  if (!pvltest::HaveTools({"qpdf", "python3", "pdftoppm", "pdftotext"})) GTEST_SKIP() << "a peer tool is missing";
  for (const TFill& fill : kFills) {
    pvltest::TempDir dir;
    const std::string out = dir.File("filled.pdf");
    std::vector<std::string> argv = {pvldoc::PvlPath(), "fill", pvltest::CorpusPath(fill.file)};
    for (const auto& [name, value] : fill.values) argv.push_back(name + "=" + value);
    argv.insert(argv.end(), {"--out", out});
    auto r = pvltest::RunCommand(argv);
    ASSERT_EQ(r.exitCode, 0) << fill.file << ": " << r.err;
    EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", out}).exitCode, 0) << fill.file;
    // qpdf reads the new values.
    const std::vector<std::string> theirs = qpdfFields(out);
    for (const auto& [name, value] : fill.values) {
      const bool found = std::any_of(theirs.begin(), theirs.end(), [&](const std::string& line) {
        std::vector<std::string> c = split(line);
        return c.size() == 4 && c[0] == name && c[2] == value;
      });
      EXPECT_TRUE(found) << fill.file << ": " << name << " = " << value;
    }
    EXPECT_EQ(ourFields(out), theirs) << fill.file;
    // Text values are on the page for pdftotext (drawn through /AP).
    const std::string text = pvltest::RunCommand({"pdftotext", out, "-"}).out;
    for (const auto& [name, value] : fill.values) {
      if (value.size() > 3 && value != "combtext") {
        EXPECT_NE(text.find(value), std::string::npos) << fill.file << value;
      }
    }
    // Our renderer and pdftoppm draw the filled page alike.
    pvltest::TReference ref;
    ASSERT_TRUE(pvltest::RenderReference(out, dir, ref));
    TPavona facade;
    ASSERT_EQ(facade.LoadFromFile(W(out), u""), 1);
    TMemoryStream bmp;
    ASSERT_EQ(facade.RenderPageToStream(72, 1, pofBMP, bmp), 1);
    TBitmap image;
    image.LoadFromBytes(bmp.Bytes());
    EXPECT_LE(pvltest::DifferingFraction(image, ref), fill.allowance) << fill.file;
    // The filled page differs from the unfilled one where the values went.
    pvltest::TReference before;
    pvltest::TempDir dir2;
    ASSERT_TRUE(pvltest::RenderReference(pvltest::CorpusPath(fill.file), dir2, before));
    EXPECT_NE(before.pixels, ref.pixels) << fill.file;
  }
}

TEST(FacadeForms, FillRefusesUnknownFieldsAndValues) {
  pvltest::TempDir dir;
  const std::string file = pvltest::CorpusPath("pdfjs/annotation-choice-widget.pdf");
  auto unknown = pvltest::RunCommand({pvldoc::PvlPath(), "fill", file, "nope=1", "--out", dir.File("a.pdf")});
  EXPECT_EQ(unknown.exitCode, 3);
  EXPECT_NE(unknown.err.find("nope"), std::string::npos);
  // A combo box that is not editable takes only its options; the old value stays.
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(file), u""), 1);
  const int32_t index = f.FindFormField(u"formulier1[0].#subform[0].Vervolgkeuzelijst1[0]");
  ASSERT_GT(index, 0);
  EXPECT_EQ(f.SetFormFieldValue(index, u"Not an option"), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.GetFormField(index).Field->GetValue(), u"Dolor");
  EXPECT_EQ(f.SetFormFieldValue(0, u"x"), 0);
  EXPECT_EQ(f.SetFormFieldValue(10000, u"x"), 0);
  EXPECT_FALSE(f.GetFormField(pvlFieldKidBase + 3 * 256 + 9));
  // A sub-field number names the widget that shows a state of a radio group.
  TPavona buttons;
  ASSERT_EQ(buttons.LoadFromFile(W(pvltest::CorpusPath("pdfjs/annotation-button-widget.pdf")), u""), 1);
  const int32_t group = buttons.FindFormField(u"formulier1[0].#subform[0].LijstKeuzerondje[0]");
  ASSERT_GT(group, 0);
  TPDFField* radio = buttons.GetFormField(group).Field;
  ASSERT_GE(radio->GetOptionCount(), 2);
  EXPECT_EQ(radio->GetOptionName(0), "Off");
  TPavona::TFormFieldLookup kid = buttons.GetFormField(pvlFieldKidBase + group * 256 + 2);
  ASSERT_TRUE(kid);
  EXPECT_TRUE(kid.Field->IsKid);
  EXPECT_EQ(kid.Field->Parent, radio);
  EXPECT_GT(kid.Field->Width, 0);
  // Loading and saving without edits keeps the form as it was.
  const std::string saved = dir.File("same.pdf");
  ASSERT_EQ(f.SaveToFile(W(saved)), 1);
  EXPECT_EQ(qpdfFields(saved), qpdfFields(file));
  const std::string json = pvltest::RunCommand({"qpdf", "--json", saved}).out;
  EXPECT_EQ(json.find("\"/CO\": []"), std::string::npos);
}

// A new document with a field of every kind, made through the facade.
std::string makeNewForm(const pvltest::TempDir& dir, TPavona& f) {
  f.NewDocument();
  f.SelectPage(1);
  EXPECT_EQ(f.NewFormField(u"x", 0), 0);
  EXPECT_EQ(f.NewFormField(u"x", 8), 0);
  const int32_t text = f.NewFormField(u"name", 1);
  const int32_t button = f.NewFormField(u"press", 2);
  const int32_t box = f.NewFormField(u"agree", 3);
  const int32_t group = f.NewFormField(u"group", 4);
  const int32_t choice = f.NewFormField(u"pick", 5);
  const int32_t sig = f.NewFormField(u"sig", 6);
  const int32_t parent = f.NewFormField(u"parent", 7);
  EXPECT_EQ(std::vector<int32_t>({text, button, box, group, choice, sig, parent}),
            std::vector<int32_t>({1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(f.SetFormFieldBounds(text, 72, 100, 200, 24), 1);
  EXPECT_EQ(f.SetFormFieldBounds(box, 72, 150, 20, 20), 1);
  EXPECT_EQ(f.SetFormFieldBounds(choice, 72, 200, 200, 24), 1);
  EXPECT_EQ(f.SetFormFieldBounds(button, 300, 100, 80, 24), 1);
  EXPECT_EQ(f.SetFormFieldValue(text, u"Hello Forms"), 1);
  EXPECT_EQ(f.SetFormFieldValue(box, u"Yes"), 1);
  EXPECT_EQ(f.SetFormFieldOption(text, 4), 0);
  EXPECT_EQ(f.SetFormFieldFont(text, f.FormFontCount() + 1), 0);
  EXPECT_GE(f.FormFontCount(), 1);
  EXPECT_EQ(f.SetFormFieldFont(text, 1), 1);
  // A combo box with options written into /Opt takes one of them.
  TPDFField* pick = f.GetFormField(choice).Field;
  TPDFStructure& pool = f.GetSelectedDocumentObject()->GetPool();
  PDFAsArray(pick->Dict->GetValue("Opt"))->Add(pool.NewTextString(u"Apples"));
  PDFAsArray(pick->Dict->GetValue("Opt"))->Add(pool.NewTextString(u"Pears"));
  EXPECT_EQ(f.SetFormFieldValue(choice, u"Pears"), 1);
  const std::string path = dir.File("new.pdf");
  EXPECT_EQ(f.SaveToFile(W(path)), 1);
  return path;
}

TEST(FacadeForms, NewFieldsOfEveryKindSaveAndDraw) {
  if (!pvltest::HaveTools({"qpdf", "python3", "pdftoppm", "pdftotext"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TPavona f;
  const std::string path = makeNewForm(dir, f);
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", path}).exitCode, 0);
  const std::vector<std::string> theirs = qpdfFields(path);
  auto has = [&](const std::string& line) { return std::find(theirs.begin(), theirs.end(), line) != theirs.end(); };
  EXPECT_TRUE(has("name\ttext\tHello Forms\t0")) << ::testing::PrintToString(theirs);
  EXPECT_TRUE(has("agree\tcheckbox\tYes\t0")) << ::testing::PrintToString(theirs);
  EXPECT_TRUE(has("pick\tchoice\tPears\t131072")) << ::testing::PrintToString(theirs);
  EXPECT_TRUE(has("press\tbutton\t\t65536")) << ::testing::PrintToString(theirs);
  // qpdf lists fields through their widgets: the radio group has none yet.
  std::vector<std::string> ours = ourFields(path);
  EXPECT_NE(std::find(ours.begin(), ours.end(), "group\tradio\tOff\t32768"), ours.end());
  ours.erase(std::remove(ours.begin(), ours.end(), "group\tradio\tOff\t32768"), ours.end());
  EXPECT_EQ(ours, theirs);
  // The group and the parent stay off the page's annotations; the five widgets are on it.
  TPDFDictionary* page = f.GetSelectedDocumentObject()->GetPageTree()->GetSelectedPage();
  ASSERT_NE(page, nullptr);
  ASSERT_NE(page->GetArray("Annots"), nullptr);
  EXPECT_EQ(page->GetArray("Annots")->GetCount(), 5);
  const std::string text = pvltest::RunCommand({"pdftotext", path, "-"}).out;
  EXPECT_NE(text.find("Hello Forms"), std::string::npos) << text;
  EXPECT_NE(text.find("Pears"), std::string::npos) << text;
  // The checked box draws a mark: darker than the same box unchecked.
  auto boxInk = [&](const std::string& file) {
    pvltest::TempDir d;
    pvltest::TReference ref;
    EXPECT_TRUE(pvltest::RenderReference(file, d, ref));
    int64_t ink = 0;
    for (int y = 792 - 150; y < 792 - 130 && y < ref.height; ++y)
      for (int x = 72; x < 92; ++x) ink += 255 - static_cast<uint8_t>(ref.pixels[size_t(y * ref.width + x) * 3]);
    return ink;
  };
  const int64_t checked = boxInk(path);
  // Our renderer draws the new fields (the check mark, the text, the choice) as pdftoppm does.
  {
    pvltest::TempDir d;
    pvltest::TReference ref;
    ASSERT_TRUE(pvltest::RenderReference(path, d, ref));
    TPavona viewer;
    ASSERT_EQ(viewer.LoadFromFile(W(path), u""), 1);
    TMemoryStream bmp;
    ASSERT_EQ(viewer.RenderPageToStream(72, 1, pofBMP, bmp), 1);
    TBitmap image;
    image.LoadFromBytes(bmp.Bytes());
    EXPECT_LE(pvltest::DifferingFraction(image, ref), 0.003);
  }
  EXPECT_EQ(f.SetFormFieldValue(3, u"Off"), 1);
  const std::string off = dir.File("off.pdf");
  ASSERT_EQ(f.SaveToFile(W(off)), 1);
  const int64_t unchecked = boxInk(off);
  EXPECT_GT(unchecked, 0);  // the box itself
  EXPECT_GT(checked, unchecked + 255 * 20);
}

TEST(FacadeForms, TextAppearanceLooksLikeQpdfs) {
  if (!pvltest::HaveTools({"qpdf", "pdftoppm"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TPavona f;
  f.NewDocument();
  f.SelectPage(1);
  const int32_t text = f.NewFormField(u"name", 1);
  ASSERT_EQ(f.SetFormFieldBounds(text, 72, 100, 300, 24), 1);
  ASSERT_EQ(f.SetFormFieldValue(text, u"Appearance Sample 123"), 1);
  const std::string ours = dir.File("ours.pdf");
  ASSERT_EQ(f.SaveToFile(W(ours)), 1);
  // The same field without our appearance, drawn by qpdf instead.
  f.GetFormField(text).Field->Dict->DeleteKey("AP");
  f.SetNeedAppearances(1);
  const std::string bare = dir.File("bare.pdf");
  ASSERT_EQ(f.SaveToFile(W(bare)), 1);
  const std::string theirs = dir.File("theirs.pdf");
  ASSERT_EQ(pvltest::RunCommand({"qpdf", "--generate-appearances", bare, theirs}).exitCode, 0);
  pvltest::TReference a, b;
  pvltest::TempDir da, db;
  ASSERT_TRUE(pvltest::RenderReference(ours, da, a));
  ASSERT_TRUE(pvltest::RenderReference(theirs, db, b));
  ASSERT_EQ(a.width, b.width);
  // The ink of the text: its bounding box and amount agree within a few points.
  auto inkBox = [](const pvltest::TReference& r, int box[4], int64_t& ink) {
    box[0] = r.width, box[1] = r.height, box[2] = -1, box[3] = -1;
    ink = 0;
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x) {
        const int v = static_cast<uint8_t>(r.pixels[size_t(y * r.width + x) * 3]);
        if (v > 128) continue;
        ink += 255 - v;
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
      }
  };
  int boxA[4], boxB[4];
  int64_t inkA = 0, inkB = 0;
  inkBox(a, boxA, inkA);
  inkBox(b, boxB, inkB);
  ASSERT_GT(inkA, 0);
  ASSERT_GT(inkB, 0);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(boxA[i], boxB[i], 6) << i;
  EXPECT_NEAR(static_cast<double>(inkA) / static_cast<double>(inkB), 1.0, 0.25);
}

// A form of one page: catalog (1), pages (2), page (3) with the given
// annotations, Helvetica (4), then the objects given (numbers from 5).
std::string formPdf(const std::string& acroForm, const std::string& annots, const std::vector<std::string>& objects) {
  std::vector<std::string> all = {"<< /Type /Catalog /Pages 2 0 R /AcroForm " + acroForm + " >>",
                                  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [" + annots + "] >>",
                                  "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"};
  all.insert(all.end(), objects.begin(), objects.end());
  return pvltest::MakePdf(all);
}

const char* const kDR = "/DA (/Helv 10 Tf 0 g) /DR << /Font << /Helv 4 0 R >> >>";

TEST(FacadeForms, NamelessKidsAreWidgetsOfTheirField) {
  if (!pvltest::HaveTools({"qpdf", "python3", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  const std::string file = dir.File("kids.pdf");
  pvltest::WriteFile(file,
                     formPdf(std::string("<< /Fields [5 0 R] ") + kDR + " >>", "6 0 R 7 0 R",
                             {"<< /FT /Tx /T (name) /V (val) /Kids [6 0 R 7 0 R] >>",
                              "<< /Type /Annot /Subtype /Widget /Parent 5 0 R /P 3 0 R /Rect [10 700 110 720] >>",
                              "<< /Type /Annot /Subtype /Widget /Parent 5 0 R /P 3 0 R /Rect [10 600 110 620] >>"}));
  // One field, where its first widget is; its widgets are no fields.
  auto r = pvltest::RunCommand({pvldoc::PvlPath(), "fields", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "name\ttext\tval\t0\t10 700 110 720\n");
  EXPECT_EQ(ourFields(file), qpdfFields(file));
  // Filling it shows the value in both widgets.
  r = pvltest::RunCommand({pvldoc::PvlPath(), "fill", file, "name=Zanzibar", "--out", dir.File("filled.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto text = pvltest::RunCommand({"pdftotext", dir.File("filled.pdf"), "-"}).out;
  size_t shown = 0;
  for (size_t at = text.find("Zanzibar"); at != std::string::npos; at = text.find("Zanzibar", at + 1)) ++shown;
  EXPECT_EQ(shown, 2u) << text;
  EXPECT_EQ(qpdfFields(dir.File("filled.pdf")), (std::vector<std::string>{"name\ttext\tZanzibar\t0"}));
}

TEST(FacadeForms, DamagedFieldListIsFoundAgainThroughThePageWidgets) {
  if (!pvltest::HaveTools({"qpdf", "python3"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  const std::vector<std::string> objects = {
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (a) /V (one) /P 3 0 R /Rect [10 700 110 720] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Btn /T (b) /V /Yes /AS /Yes /P 3 0 R /Rect [10 600 30 620] "
      "/AP << /N << /Yes 9 0 R /Off 9 0 R >> >> >>",
      "<< /Type /Annot /Subtype /Widget /Parent 8 0 R /P 3 0 R /Rect [10 500 110 520] >>",
      "<< /FT /Tx /T (c) /V (three) /Kids [7 0 R] >>",
      "STREAM:",
  };
  // /Fields not there as an array: a dictionary, a string, an array of
  // references that lead nowhere.
  for (const std::string fields : {"/Fields << /Kids [5 0 R] >>", "/Fields (broken)", "/Fields [98 0 R 97 0 R]"}) {
    SCOPED_TRACE(fields);
    const std::string file = dir.File("damaged.pdf");
    pvltest::WriteFile(file, formPdf("<< " + fields + " " + kDR + " >>", "5 0 R 6 0 R 7 0 R", objects));
    const std::vector<std::string> theirs = qpdfFields(file);
    EXPECT_EQ(theirs.size(), 3u);
    EXPECT_EQ(ourFields(file), theirs);
    TPavona facade;
    ASSERT_EQ(facade.LoadFromFile(W(file), u""), 1);
    EXPECT_EQ(facade.FormFieldCount(), 3);
    EXPECT_GT(facade.FindFormField(u"c"), 0);
  }
}

TEST(FacadeForms, SignatureValuesAreListedAsReferences) {
  pvltest::TempDir dir;
  const std::string file = dir.File("sig.pdf");
  pvltest::WriteFile(file, formPdf("<< /Fields [5 0 R] /SigFlags 3 >>", "5 0 R",
                                   {"<< /Type /Annot /Subtype /Widget /FT /Sig /T (signed) /V 6 0 R /P 3 0 R "
                                    "/Rect [0 0 0 0] >>",
                                    "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached "
                                    "/ByteRange [0 10 20 30] /Contents <0102030405> /Name (Someone) >>"}));
  const auto r = pvltest::RunCommand({pvldoc::PvlPath(), "fields", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "signed\tsignature\t6 0 R\t0\t\n");
}

}  // namespace
