// The form model and appearance writer on small field trees built in a pool:
// kinds, hostile trees (cycles, references to /Kids arrays), new fields,
// values of every kind, /DA editing and the appearance streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/PavonaStructure.h"
#include "pages/PavonaForm.h"

namespace {

// Operator text with every run of white space made one space and none
// inside the brackets of an array, so that expectations read like PDF.
std::string norm(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (space) {
      if (!out.empty() && out.back() != ' ' && out.back() != '[') out.push_back(' ');
    } else {
      if (c == ']' && !out.empty() && out.back() == ' ') out.pop_back();
      out.push_back(c);
    }
  }
  return out;
}

// A pool whose objects are numbered 1, 2, ... and found again by number.
class TFormPool {
public:
  TFormPool() {
    pool.OnGetObjectNumber = [this](TPDFStructure*, TPDFObject* obj, int32_t& number, int32_t& generation) {
      objects.push_back(obj);
      obj->SetIndirect(static_cast<int32_t>(objects.size()), 0);
      number = static_cast<int32_t>(objects.size());
      generation = 0;
    };
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      return number >= 1 && number <= static_cast<int32_t>(objects.size()) ? objects[size_t(number - 1)] : nullptr;
    };
  }
  // Registers the object parsed from text; its number.
  int32_t Add(const std::string& text) {
    TPDFObject* obj = pool.ParseObject(text);
    int32_t n = 0, g = 0;
    pool.OnGetObjectNumber(&pool, obj, n, g);
    return n;
  }
  // Replaces object n (to build trees that point forward or loop).
  void Set(int32_t n, const std::string& text) {
    objects[size_t(n - 1)] = pool.ParseObject(text);
    objects[size_t(n - 1)]->SetIndirect(n, 0);
  }
  TPDFDictionary* Dict(int32_t n) { return PDFAsDictionary(objects[size_t(n - 1)]); }
  TPDFIndRef* Ref(int32_t n) { return pool.NewIndRef(n, 0); }
  std::string Text(int32_t n) { return norm(objects[size_t(n - 1)]->WriteText()); }
  // A form over an AcroForm dictionary given as text.
  std::unique_ptr<TPDFForm> LoadForm(const std::string& acroForm) {
    const int32_t n = Add(acroForm);
    auto form = std::make_unique<TPDFForm>();
    form->Load(Dict(n));
    acroFormNumber = n;
    return form;
  }
  TPDFStructure pool;
  std::vector<TPDFObject*> objects;
  int32_t acroFormNumber = 0;
};

std::string streamData(TFormPool& p, TPDFDictionary* widget) {
  TPDFDictionary* ap = PDFAsDictionary(PDFResolve(widget->GetValue("AP")));
  TPDFStream* n = ap ? PDFAsStream(PDFResolve(ap->GetValue("N"))) : nullptr;
  (void)p;
  return n ? norm(n->GetDecodedData()) : std::string();
}

TEST(FormModel, KindsFollowTypeAndFlags) {
  struct Case {
    const char* dict;
    uint8_t kind;
  } cases[] = {
      {"<< /FT /Tx /T (a) >>", pdffkText},
      {"<< /FT /Ch /T (a) >>", pdffkChoice},
      {"<< /FT /Sig /T (a) >>", pdffkSignature},
      {"<< /FT /Btn /Ff 49152 /T (a) >>", pdffkRadioGroup},
      {"<< /FT /Btn /Ff 98304 /T (a) >>", pdffkPushButton},
      {"<< /FT /Btn /T (a) >>", pdffkCheckBox},
      {"<< /FT /Xx /T (a) >>", pdffkUnknown},
      {"<< /T (a) >>", pdffkUnknown},
      {"<< /T (a) /Kids [] >>", pdffkParent},
  };
  for (const Case& c : cases) {
    TFormPool p;
    const int32_t f = p.Add(c.dict);
    auto form = p.LoadForm("<< /Fields [" + std::to_string(f) + " 0 R] >>");
    ASSERT_EQ(form->GetFieldCount(), 1) << c.dict;
    EXPECT_EQ(form->GetField(0)->GetFieldKind(), c.kind) << c.dict;
  }
}

TEST(FormModel, CheckBoxWithSeveralWidgetsStaysACheckBox) {
  TFormPool p;
  const int32_t box = p.Add("<< >>");
  const int32_t w1 = p.Add("<< /Rect [0 0 10 10] /AP << /N << /Yes 1 0 R /Off 1 0 R >> >> /AS /Off >>");
  const int32_t w2 = p.Add("<< /Rect [20 0 30 10] /AP << /N << /Yes 1 0 R /Off 1 0 R >> >> /AS /Off >>");
  p.Set(box, "<< /FT /Btn /T (agree) /V /Off /Kids [" + std::to_string(w1) + " 0 R " + std::to_string(w2) + " 0 R] >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(box) + " 0 R] >>");
  ASSERT_EQ(form->GetFieldCount(), 1);  // the widgets are not fields
  TPDFField* f = form->GetField(0);
  EXPECT_EQ(f->GetFieldKind(), pdffkCheckBox);
  EXPECT_TRUE(f->HasKids);
  ASSERT_TRUE(f->SetValue(u"Yes"));
  EXPECT_EQ(f->GetValue(), u"Yes");
  // Both widgets show the checked state.
  EXPECT_EQ(p.Dict(w1)->GetNameValue("AS"), "Yes");
  EXPECT_EQ(p.Dict(w2)->GetNameValue("AS"), "Yes");
  // A state no widget can show is refused and changes nothing.
  EXPECT_FALSE(f->SetValue(u"Maybe"));
  EXPECT_EQ(f->GetValue(), u"Yes");
}

TEST(FormModel, CyclesEndTheWalkAndReferencedKidsArraysAreFollowed) {
  TFormPool p;
  const int32_t a = p.Add("<< >>");
  const int32_t b = p.Add("<< >>");
  const int32_t kids = p.Add("[" + std::to_string(b) + " 0 R]");
  // a's kids (through a reference) hold b; b's kids hold a again; b's
  // parent is b itself.
  p.Set(a, "<< /T (a) /Kids " + std::to_string(kids) + " 0 R >>");
  p.Set(b, "<< /T (b) /FT /Tx /Parent " + std::to_string(b) + " 0 R /Kids [" + std::to_string(a) + " 0 R] >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(a) + " 0 R " + std::to_string(a) + " 0 R] >>");
  ASSERT_EQ(form->GetFieldCount(), 2);
  EXPECT_EQ(form->GetField(0)->GetFieldKind(), pdffkParent);
  TPDFField* fb = form->GetField(1);
  EXPECT_EQ(fb->Parent, form->GetField(0));
  EXPECT_EQ(fb->GetInheritedValue(fb->Dict, "Missing"), nullptr);
  EXPECT_EQ(fb->GetFullName(), u"b");
  EXPECT_EQ(fb->GetDefaultAppearance(), "");
}

TEST(FormModel, DeepTreesAreCutOff) {
  TFormPool p;
  const int32_t first = p.Add("<< /T (f0) >>");
  int32_t previous = first;
  for (int32_t i = 1; i < 5000; ++i) {
    const int32_t next = p.Add("<< /T (f) /FT /Tx >>");
    p.Set(previous, "<< /T (f) /Kids [" + std::to_string(next) + " 0 R] /Parent " + std::to_string(next) + " 0 R >>");
    previous = next;
  }
  auto form = p.LoadForm("<< /Fields [" + std::to_string(first) + " 0 R] >>");
  EXPECT_LE(form->GetFieldCount(), kMaxFieldDepth + 1);
  EXPECT_GT(form->GetFieldCount(), 10);
  TPDFField* last = form->GetField(form->GetFieldCount() - 1);
  EXPECT_EQ(last->GetInheritedValue(last->Dict, "Q"), nullptr);
}

TEST(FormModel, LoadingChangesNothingAndRectanglesAreNormalised) {
  TFormPool p;
  const int32_t f = p.Add("<< /FT /Tx /T (name) /Rect [200 700 100 650] >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(f) + " 0 R] >>");
  const std::string before = p.Text(p.acroFormNumber);
  EXPECT_EQ(before.find("/CO"), std::string::npos);
  EXPECT_EQ(before.find("/DR"), std::string::npos);
  TPDFField* field = form->GetField(0);
  EXPECT_DOUBLE_EQ(field->Left, 100);
  EXPECT_DOUBLE_EQ(field->Width, 100);
  EXPECT_DOUBLE_EQ(field->Height, 50);
  EXPECT_DOUBLE_EQ(field->Top, 700);
  EXPECT_EQ(form->GetField(-1), nullptr);
  EXPECT_EQ(form->GetField(1), nullptr);
  EXPECT_EQ(form->GetNeedAppearances(), "");
}

TEST(FormModel, NewFieldsCarryTheEntriesOfTheirKind) {
  TFormPool p;
  auto form = p.LoadForm("<< /Fields [] >>");
  const int32_t n = p.Add("<< >>");
  TPDFField* text = form->NewField(u"a.b.c", pdffkText, p.Ref(n));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Name, u"abc");
  EXPECT_NE(p.Text(n).find("/FT /Tx"), std::string::npos);
  EXPECT_NE(p.Text(n).find("/T (abc)"), std::string::npos);
  text->SetBounds(100, 700, 100, 50);
  EXPECT_NE(p.Text(n).find("/Rect [100 650 200 700]"), std::string::npos) << p.Text(n);

  // A new check box draws in both states: the on state has more to draw.
  const int32_t c = p.Add("<< >>");
  TPDFField* box = form->NewField(u"agree", pdffkCheckBox, p.Ref(c));
  EXPECT_EQ(box->GetFieldKind(), pdffkCheckBox);
  TPDFDictionary* states = p.Dict(c)->GetDictionary("AP")->GetDictionary("N");
  ASSERT_NE(states, nullptr);
  TPDFStream* yes = states->GetStream("Yes");
  TPDFStream* off = states->GetStream("Off");
  ASSERT_TRUE(yes && off);
  EXPECT_NE(yes->GetDecodedData().find(" f"), std::string::npos);
  EXPECT_NE(off->GetDecodedData().find(" S"), std::string::npos);
  EXPECT_GT(yes->GetDecodedData().size(), off->GetDecodedData().size());
  EXPECT_NE(yes->GetDictionary()->GetValue("BBox"), nullptr);
  EXPECT_TRUE(box->SetValue(u"Yes"));
  EXPECT_EQ(p.Dict(c)->GetNameValue("AS"), "Yes");

  const int32_t r = p.Add("<< >>");
  form->NewField(u"group", pdffkRadioGroup, p.Ref(r));
  EXPECT_EQ(p.Text(r).find("/Subtype"), std::string::npos);
  EXPECT_NE(p.Text(r).find("/Ff 32768"), std::string::npos);
  const int32_t s = p.Add("<< >>");
  form->NewField(u"sig", pdffkSignature, p.Ref(s));
  EXPECT_NE(p.Text(p.acroFormNumber).find("/SigFlags 3"), std::string::npos);
  EXPECT_EQ(form->GetFieldCount(), 4);
  EXPECT_EQ(PDFAsArray(p.Dict(p.acroFormNumber)->GetValue("Fields"))->GetCount(), 4);
}

TEST(FormModel, DefaultAppearanceReadsTheOperatorsThemselves) {
  struct Case {
    const char* da;
    double size;
    const char* font;
    const char* space;
    double c1, c2, c3;
  } cases[] = {
      {"/Calligraph 10 Tf 0.5 g", 10, "Calligraph", "DeviceGray", 0.5, 0, 0},
      {"/Helv 0 Tf 0.1 0.2 0.3 rg", 0, "Helv", "DeviceRGB", 0.1, 0.2, 0.3},
      {"/Gk 12 Tf 0 0 0 1 k", 12, "Gk", "DeviceCMYK", 0, 0, 0},
      {"0 g", 0, "", "DeviceGray", 0, 0, 0},
      {"/Helv 9 Tf /CS0 cs 0.25 scn", 9, "Helv", "Separation: /CS0", 0.25, 0, 0},
  };
  for (const Case& c : cases) {
    TFormPool p;
    const int32_t f = p.Add(std::string("<< /FT /Tx /T (x) /DA (") + c.da + ") >>");
    auto form = p.LoadForm("<< /Fields [" + std::to_string(f) + " 0 R] >>");
    TPDFField* field = form->GetField(0);
    EXPECT_DOUBLE_EQ(field->GetFontSize(), c.size) << c.da;
    EXPECT_EQ(field->GetFontName(), c.font) << c.da;
    EXPECT_EQ(field->GetColorSpace(), c.space) << c.da;
    EXPECT_DOUBLE_EQ(field->GetColorComponent(1), c.c1) << c.da;
    EXPECT_DOUBLE_EQ(field->GetColorComponent(2), c.c2) << c.da;
    EXPECT_DOUBLE_EQ(field->GetColorComponent(3), c.c3) << c.da;
  }
}

TEST(FormModel, FontAndSizeEditsKeepTheRestOfTheDefaultAppearance) {
  TFormPool p;
  const int32_t font = p.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  const int32_t f1 = p.Add("<< /FT /Tx /T (a) /DA (/Helv 0 Tf 0 g) >>");
  const int32_t f2 = p.Add("<< /FT /Tx /T (b) /DA (0 g) >>");
  const int32_t f3 = p.Add("<< /FT /Tx /T (c) >>");
  auto form =
      p.LoadForm("<< /Fields [" + std::to_string(f1) + " 0 R " + std::to_string(f2) + " 0 R " + std::to_string(f3) +
                 " 0 R] /DR << /Font << /Helv " + std::to_string(font) + " 0 R /Cour 1 0 R >> >> >>");
  form->GetField(0)->SetFontSize(10.5);
  EXPECT_EQ(p.Dict(f1)->GetString("DA")->GetValue(), "/Helv 10.5 Tf 0 g");
  form->GetField(1)->SetFontSize(12);
  EXPECT_EQ(p.Dict(f2)->GetString("DA")->GetValue(), "0 g /Helv 12 Tf");
  form->GetField(2)->SetFont(2);
  EXPECT_EQ(p.Dict(f3)->GetString("DA")->GetValue(), "/Cour 0 Tf 0 0 0 rg");
  form->GetField(0)->SetFont(2);
  EXPECT_EQ(p.Dict(f1)->GetString("DA")->GetValue(), "/Cour 10.5 Tf 0 g");
}

TEST(FormModel, ChoiceValuesKeepWhatTheyWereNotAskedToChange) {
  TFormPool p;
  const int32_t combo = p.Add("<< /FT /Ch /T (c) /Ff 131072 /Opt [(A) (B)] /V (A) /I [0] >>");
  const int32_t edit = p.Add("<< /FT /Ch /T (e) /Ff 393216 /Opt [(A) (B)] >>");
  const int32_t multi = p.Add("<< /FT /Ch /T (m) /Ff 2097152 /Opt [[(a) (A)] [(b) (B)] [(c) (C)]] /V (c) /I [2] >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(combo) + " 0 R " + std::to_string(edit) + " 0 R " +
                         std::to_string(multi) + " 0 R] >>");
  TPDFField* c = form->GetField(0);
  EXPECT_TRUE(c->SetValue(u"B"));
  EXPECT_EQ(c->GetValue(), u"B");
  EXPECT_NE(p.Text(combo).find("/I [1]"), std::string::npos);
  EXPECT_FALSE(c->SetValue(u"C"));  // not an option: B stays
  EXPECT_EQ(c->GetValue(), u"B");
  EXPECT_NE(p.Text(combo).find("/I [1]"), std::string::npos);

  TPDFField* e = form->GetField(1);
  EXPECT_TRUE(e->SetValue(u"Typed"));
  EXPECT_EQ(e->GetValue(), u"Typed");

  TPDFField* m = form->GetField(2);
  EXPECT_TRUE(m->SetValue(u"a"));
  EXPECT_TRUE(m->SetValue(u"a"));  // again: no duplicate
  EXPECT_EQ(m->GetValue(), u"c\ra");
  EXPECT_NE(p.Text(multi).find("/I [0 2]"), std::string::npos) << p.Text(multi);
}

TEST(FormModel, RadioGroupSwitchesItsWidgets) {
  TFormPool p;
  const int32_t group = p.Add("<< >>");
  std::vector<int32_t> kids;
  for (int32_t i = 1; i <= 3; ++i) {
    kids.push_back(p.Add("<< /Rect [0 0 10 10] /Parent " + std::to_string(group) + " 0 R /AS /Off /AP << /N << /On" +
                         std::to_string(i) + " 1 0 R /Off 1 0 R >> >> >>"));
  }
  p.Set(group, "<< /FT /Btn /Ff 49152 /T (r) /V /Off /Kids [" + std::to_string(kids[0]) + " 0 R " +
                   std::to_string(kids[1]) + " 0 R " + std::to_string(kids[2]) + " 0 R] >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(group) + " 0 R] >>");
  ASSERT_EQ(form->GetFieldCount(), 1);
  TPDFField* r = form->GetField(0);
  EXPECT_EQ(r->GetOptionCount(), 4);
  EXPECT_EQ(r->GetOption(2), 1);  // On2 is the second kid
  ASSERT_TRUE(r->SetValue(u"On2"));
  EXPECT_EQ(p.Dict(kids[0])->GetNameValue("AS"), "Off");
  EXPECT_EQ(p.Dict(kids[1])->GetNameValue("AS"), "On2");
  EXPECT_EQ(p.Dict(kids[2])->GetNameValue("AS"), "Off");
  EXPECT_EQ(r->GetValue(), u"On2");
  auto kid = r->GetKid(2);
  ASSERT_NE(kid, nullptr);
  EXPECT_TRUE(kid->IsKid);
  EXPECT_EQ(kid->Parent, r);
}

// A text field with a Helvetica /DR font, for the appearance tests.
struct TTextFieldForm {
  TFormPool p;
  int32_t field = 0;
  std::unique_ptr<TPDFForm> form;
  explicit TTextFieldForm(const std::string& extra, const std::string& rect = "[0 0 100 20]") {
    const int32_t font = p.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    field = p.Add("<< /FT /Tx /T (t) /DA (/Helv 0 Tf 0 g) /Rect " + rect + " " + extra + " >>");
    form = p.LoadForm("<< /Fields [" + std::to_string(field) + " 0 R] /NeedAppearances false /DR << /Font << /Helv " +
                      std::to_string(font) + " 0 R >> >> >>");
  }
  TPDFField* Field() { return form->GetField(0); }
  std::string Appearance() { return streamData(p, p.Dict(field)); }
};

TEST(FormAppearance, TextValueIsDrawnInAMarkedStream) {
  TTextFieldForm t("");
  ASSERT_TRUE(t.Field()->SetValue(u"Hello"));
  const std::string ap = t.Appearance();
  EXPECT_EQ(ap.rfind("/Tx BMC q", 0), 0u) << ap;
  EXPECT_NE(ap.find("Q EMC"), std::string::npos) << ap;
  EXPECT_NE(ap.find("/Helv 16 Tf"), std::string::npos) << ap;  // 20 - 4
  EXPECT_NE(ap.find("0 g"), std::string::npos);
  EXPECT_NE(ap.find("(Hello)Tj"), std::string::npos) << ap;
  // The stream has its own resources naming the font, and a box the size of the field.
  TPDFStream* n = PDFAsStream(PDFResolve(t.p.Dict(t.field)->GetDictionary("AP")->GetValue("N")));
  EXPECT_EQ(norm(n->GetDictionary()->GetValue("BBox")->WriteText()), "[0 0 100 20]");
  EXPECT_NE(n->GetDictionary()->GetDictionary("Resources")->GetDictionary("Font")->GetValue("Helv"), nullptr);
  EXPECT_NE(n->GetDictionary()->GetDictionary("Resources"), t.form->GetDR(false));
  // A long value shrinks the automatic size.
  ASSERT_TRUE(t.Field()->SetValue(u"A rather long value that cannot fit at sixteen points"));
  EXPECT_EQ(t.Appearance().find("/Helv 16 Tf"), std::string::npos);
  // /NeedAppearances stays as the file had it: every field could be drawn.
  EXPECT_EQ(t.form->GetNeedAppearances(), "false");
}

TEST(FormAppearance, EditsDoNotOverwriteSharedStreams) {
  TFormPool p;
  const int32_t font = p.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  const int32_t shared = p.Add("<< /Length 0 >>");
  p.objects[size_t(shared - 1)] = p.pool.NewStream("0 g (old)Tj", false);
  p.objects[size_t(shared - 1)]->SetIndirect(shared, 0);
  const std::string ap = "/AP << /N " + std::to_string(shared) + " 0 R >>";
  const int32_t a = p.Add("<< /FT /Tx /T (a) /DA (/Helv 0 Tf 0 g) /Rect [0 0 50 20] " + ap + " >>");
  const int32_t b = p.Add("<< /FT /Tx /T (b) /DA (/Helv 0 Tf 0 g) /Rect [0 30 50 50] " + ap + " >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(a) + " 0 R " + std::to_string(b) +
                         " 0 R] /DR << /Font << /Helv " + std::to_string(font) + " 0 R >> >> >>");
  ASSERT_TRUE(form->GetField(0)->SetValue(u"new"));
  EXPECT_EQ(PDFAsStream(p.objects[size_t(shared - 1)])->GetDecodedData(), "0 g (old)Tj");
  EXPECT_EQ(streamData(p, p.Dict(b)), "0 g (old)Tj");
  EXPECT_NE(streamData(p, p.Dict(a)).find("(new)Tj"), std::string::npos);
  // A second edit writes over the stream the first one made, not a third one.
  const size_t count = p.objects.size();
  ASSERT_TRUE(form->GetField(0)->SetValue(u"newer"));
  EXPECT_EQ(p.objects.size(), count);
  EXPECT_NE(streamData(p, p.Dict(a)).find("(newer)Tj"), std::string::npos);
  // Removing an appearance leaves the shared stream alive for the other field.
  form->GetField(1)->RemoveAppearance();
  EXPECT_EQ(p.Dict(b)->GetValue("AP"), nullptr);
  EXPECT_EQ(PDFAsStream(p.objects[size_t(shared - 1)])->GetDecodedData(), "0 g (old)Tj");
}

TEST(FormAppearance, BordersFollowMK) {
  struct Case {
    const char* extra;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } cases[] = {
      // Empty colour arrays are transparent.
      {"/MK << /BC [] /BG [] >>", {}, {" re", "RG"}},
      {"/MK << /BC [1 0 0] /BG [0 0 1] >>", {"1 0 0 RG", "0 0 1 rg", "re f"}, {}},
      {"/MK << /BC [0] >> /BS << /S /D /D [3 2] >>", {"[3 2] 0 d"}, {}},
      // The bevel's shade of a CMYK background darkens: more black, inks kept.
      {"/MK << /BC [0 0 0 1] /BG [0.2 0.4 0.6 0] >> /BS << /S /B /W 1 >>", {"0.2 0.4 0.6 0.3 k"}, {"0.1 0.2 0.3 0 k"}},
      {"/MK << /BC [0 0 0] /BG [1 1 0] >> /BS << /S /B /W 1 >>", {"0.7 0.7 0 rg"}, {}},
  };
  for (const Case& c : cases) {
    TTextFieldForm t(c.extra);
    ASSERT_TRUE(t.Field()->SetValue(u"x")) << c.extra;
    const std::string ap = t.Appearance();
    for (const std::string& s : c.present) EXPECT_NE(ap.find(s), std::string::npos) << c.extra << "\n" << ap;
    for (const std::string& s : c.absent) EXPECT_EQ(ap.find(s), std::string::npos) << c.extra << "\n" << ap;
  }
}

TEST(FormAppearance, RotationCombAndAlignment) {
  {
    TTextFieldForm t("/MK << /R 90 >>");
    ASSERT_TRUE(t.Field()->SetValue(u"x"));
    EXPECT_NE(t.Appearance().find("0 1 -1 0 100 0 cm"), std::string::npos) << t.Appearance();
    TPDFStream* n = PDFAsStream(PDFResolve(t.p.Dict(t.field)->GetDictionary("AP")->GetValue("N")));
    EXPECT_EQ(norm(n->GetDictionary()->GetValue("BBox")->WriteText()), "[0 0 100 20]");
  }
  {
    // Comb: one character per cell, in the /DA colour (not a fixed red).
    TTextFieldForm t("/Ff 16777216 /MaxLen 5 /MK << /BC [0] >>");
    ASSERT_TRUE(t.Field()->SetValue(u"abc"));
    const std::string ap = t.Appearance();
    EXPECT_NE(ap.find("(a)Tj"), std::string::npos) << ap;
    EXPECT_NE(ap.find("(c)Tj"), std::string::npos) << ap;
    EXPECT_EQ(ap.find("1 0 0 rg"), std::string::npos) << ap;
  }
  {
    TTextFieldForm t("/Q 2");
    ASSERT_TRUE(t.Field()->SetValue(u"right"));
    const std::string ap = t.Appearance();
    const size_t tm = ap.find(" Tm");
    ASSERT_NE(tm, std::string::npos);
    // Right-aligned: the text starts well to the right of the left edge.
    const size_t start = ap.rfind("1 0 0 1 ", tm);
    EXPECT_GT(std::stod(ap.substr(start + 8)), 50) << ap;
  }
}

TEST(FormAppearance, ButtonsKeepTheirIconsAndSignaturesTheirLook) {
  TFormPool p;
  const int32_t font = p.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  const int32_t icon = p.Add("<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] >>");
  const int32_t button = p.Add("<< /FT /Btn /Ff 65536 /T (b) /DA (/Helv 0 Tf 0 g) /Rect [0 0 40 20] /MK << /I " +
                               std::to_string(icon) + " 0 R >> /AP << /N " + std::to_string(icon) + " 0 R >> >>");
  const int32_t sig = p.Add("<< /FT /Sig /T (s) /DA (/Helv 0 Tf 0 g) /Rect [0 0 40 20] /AP << /N " +
                            std::to_string(icon) + " 0 R >> >>");
  const int32_t caption =
      p.Add("<< /FT /Btn /Ff 65536 /T (c) /DA (/Helv 0 Tf 0 g) /Rect [0 0 40 20] /MK << /CA (Go) >> >>");
  auto form =
      p.LoadForm("<< /Fields [" + std::to_string(button) + " 0 R " + std::to_string(sig) + " 0 R " +
                 std::to_string(caption) + " 0 R] /DR << /Font << /Helv " + std::to_string(font) + " 0 R >> >> >>");
  for (int32_t i = 0; i < 2; ++i) {
    form->GetField(i)->SetBounds(0, 30, 50, 30);
    EXPECT_EQ(norm(form->GetField(i)->Dict->GetDictionary("AP")->GetValue("N")->WriteText()),
              std::to_string(icon) + " 0 R");
  }
  // A captioned button draws its caption, centred.
  form->GetField(2)->SetAlignment(0);
  EXPECT_NE(streamData(p, p.Dict(caption)).find("(Go)Tj"), std::string::npos);
}

TEST(FormAppearance, FieldWithoutUsableFontKeepsItsAppearanceAndAsksViewers) {
  TFormPool p;
  const int32_t f = p.Add("<< /FT /Tx /T (t) /DA (/Nope 0 Tf 0 g) /Rect [0 0 100 20] /AP << /N 1 0 R >> >>");
  auto form = p.LoadForm("<< /Fields [" + std::to_string(f) + " 0 R] >>");
  ASSERT_TRUE(form->GetField(0)->SetValue(u"v"));
  EXPECT_EQ(p.Dict(f)->GetDictionary("AP")->GetValue("N")->WriteText(), "1 0 R");
  EXPECT_EQ(form->GetNeedAppearances(), "true");
  // A zero-sized field gets no appearance and no error.
  form->GetField(0)->SetBounds(0, 0, 0, 0);
}

}  // namespace
