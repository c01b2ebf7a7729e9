// The form and its field model: loading the field tree, field kinds, new
// fields, bounds, kids and option lists.
#include "pages/PavonaForm.h"

#include <algorithm>
#include <cmath>

#include "pages/PavonaFont.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaAnnots.h"

const char* const kFormFontNames[14] = {"Cour", "CoBo", "CoBO", "CoOb", "Helv", "HeBo", "HeBO",
                                        "HeOb", "Time", "TiBo", "TiIt", "TiBI", "Symb", "ZaDb"};

namespace {

// Field flags the appearance writer honours per kind, as 1-based bits.
bool flagHonoured(uint8_t kind, int32_t bit) {
  static const std::vector<int32_t> text = {13, 14, 21, 23, 24, 25, 28};
  static const std::vector<int32_t> button = {16, 17, 26};
  static const std::vector<int32_t> choice = {18, 19, 20, 22, 23, 27};
  const std::vector<int32_t>* table = nullptr;
  switch (kind) {
    case pdffkText:
      table = &text;
      break;
    case pdffkPushButton:
    case pdffkCheckBox:
    case pdffkRadioGroup:
      table = &button;
      break;
    case pdffkChoice:
      table = &choice;
      break;
    default:
      return false;
  }
  return std::find(table->begin(), table->end(), bit) != table->end();
}

double numberOf(TPDFObject* obj) {
  TPDFNumeric* n = PDFAsNumeric(obj);
  return n ? n->GetValue() : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPDFForm

TPDFForm::TPDFForm() = default;
TPDFForm::~TPDFForm() = default;

TPDFObject* TPDFForm::ResolveObject(TPDFObject* obj) {
  TPDFIndRef* ref = PDFAsIndRef(obj);
  if (!ref) return obj;
  if (OnResolve) return OnResolve(ref);
  return ref->Resolve();
}

void TPDFForm::Load(TPDFDictionary* acroForm) {
  fields_.clear();
  Dict = acroForm;
  Pool = acroForm ? acroForm->GetOwner() : nullptr;
  FieldsArray = nullptr;
  COArray = nullptr;
  DRDict = nullptr;
  fieldsDamaged_ = false;
  if (!acroForm) return;
  // Reading leaves the file as it is: a missing /CO or /DR is made only when
  // an edit needs it.
  // A /Fields that leads nowhere (null) counts as absent: the document
  // says it has no fields.
  TPDFObject* fields = ResolveObject(acroForm->GetValue("Fields"));
  FieldsArray = PDFAsArray(fields);
  fieldsDamaged_ = fields && !PDFIsKind(fields, pdfkNull) && !FieldsArray;
  if (FieldsArray) {
    std::unordered_set<int32_t> visited;
    for (TPDFObject* item : FieldsArray->Items()) {
      TPDFIndRef* ref = PDFAsIndRef(item);
      if (!ref || !PDFAsDictionary(ResolveObject(ref))) fieldsDamaged_ = true;
      if (ref) loadField(nullptr, ref, 0, visited);
    }
  }
  COArray = PDFAsArray(ResolveObject(acroForm->GetValue("CO")));
  DRDict = PDFAsDictionary(ResolveObject(acroForm->GetValue("DR")));
}

void TPDFForm::loadField(TPDFField* parent, TPDFIndRef* ref, int32_t depth, std::unordered_set<int32_t>& visited) {
  // A field tree that loops (a kid naming an ancestor, one field listed
  // twice) ends here instead of recursing without end.
  if (depth > kMaxFieldDepth || GetFieldCount() >= kMaxFormFields) return;
  if (!visited.insert(ref->GetRefNumber()).second) return;
  TPDFDictionary* dict = PDFAsDictionary(ResolveObject(ref));
  if (!dict) return;
  auto owned = std::make_unique<TPDFField>();
  TPDFField* field = owned.get();
  field->OnResolve = OnResolve;
  field->Form = this;
  field->Ref = ref;
  field->Load(dict);
  field->Parent = parent;
  field->Kind = 0;
  field->GetFieldKind();  // again, now that the parent chain is known
  fields_.push_back(std::move(owned));
  const uint8_t kind = field->GetFieldKind();
  TPDFArray* kids = PDFAsArray(ResolveObject(dict->GetValue("Kids")));
  if (!kids) return;
  // The kids of check boxes and radio groups are their widgets, not fields;
  // so is a kid of any field that has neither a name nor kids of its own.
  // A field shown only through such widgets is where its first one is.
  const bool buttons = kind == pdffkCheckBox || kind == pdffkRadioGroup;
  if (!buttons) field->HasKids = true;
  for (TPDFObject* item : kids->Items()) {
    TPDFIndRef* kid = PDFAsIndRef(item);
    if (!kid) continue;
    TPDFDictionary* kidDict = PDFAsDictionary(ResolveObject(kid));
    const bool widget = buttons || (kidDict && !kidDict->GetValue("T") && !kidDict->GetValue("Kids"));
    if (!widget) {
      loadField(field, kid, depth + 1, visited);
      continue;
    }
    if (kidDict && field->Width <= 0 && field->Height <= 0 && !dict->GetValue("Rect")) {
      TPDFField shown;
      shown.OnResolve = OnResolve;
      shown.Load(kidDict);
      field->Left = shown.Left;
      field->Top = shown.Top;
      field->Width = shown.Width;
      field->Height = shown.Height;
    }
  }
}

void TPDFForm::AddFieldsOfWidgets(const std::vector<TPDFIndRef*>& widgets) {
  std::unordered_set<int32_t> visited;
  for (const auto& f : fields_)
    if (f->Ref) visited.insert(f->Ref->GetRefNumber());
  for (TPDFIndRef* widget : widgets) {
    if (!widget || GetFieldCount() >= kMaxFormFields) continue;
    // Up from a nameless widget to the field it shows.
    TPDFIndRef* node = widget;
    TPDFDictionary* dict = PDFAsDictionary(ResolveObject(node));
    for (int32_t depth = 0; dict && !dict->GetValue("T") && depth < kMaxFieldDepth; ++depth) {
      TPDFIndRef* parent = PDFAsIndRef(dict->GetValue("Parent"));
      TPDFDictionary* parentDict = parent ? PDFAsDictionary(ResolveObject(parent)) : nullptr;
      if (!parentDict) break;
      node = parent;
      dict = parentDict;
    }
    if (dict && !visited.count(node->GetRefNumber())) loadField(nullptr, node, 0, visited);
  }
}

TPDFField* TPDFForm::GetField(int32_t index) const {
  if (index < 0 || index >= GetFieldCount()) return nullptr;
  return fields_[static_cast<size_t>(index)].get();
}

TPDFField* TPDFForm::FindFieldByRef(const TPDFIndRef* ref) const {
  if (!ref) return nullptr;
  // Number and generation, which is what the reference's text says.
  for (const auto& f : fields_) {
    if (f->Ref && f->Ref->GetRefNumber() == ref->GetRefNumber() &&
        f->Ref->GetRefGeneration() == ref->GetRefGeneration())
      return f.get();
  }
  return nullptr;
}

int32_t TPDFForm::FindFieldByName(std::u16string_view fullName) const {
  for (int32_t i = 0; i < GetFieldCount(); ++i) {
    if (fields_[static_cast<size_t>(i)]->GetFullName() == fullName) return i;
  }
  return -1;
}

std::string TPDFForm::GetNeedAppearances() const {
  if (!Dict) return {};
  TPDFObject* v = PDFResolve(Dict->GetValue("NeedAppearances"));
  if (!v) return {};
  if (TPDFBoolean* b = PDFAsBoolean(v)) return b->GetValue() ? "true" : "false";
  return v->WriteText();
}

void TPDFForm::SetNeedAppearances(bool flag) {
  if (!Dict || !Pool) return;
  Dict->DeleteKey("NeedAppearances");
  Dict->SetValue("NeedAppearances", Pool->NewBoolean(flag));
}

TPDFDictionary* TPDFForm::GetDR(bool create) {
  if (!Dict) return nullptr;
  DRDict = PDFAsDictionary(ResolveObject(Dict->GetValue("DR")));
  if (!DRDict && create && Pool) {
    DRDict = Pool->NewDictionary();
    Dict->SetValue("DR", DRDict);
  }
  return DRDict;
}

int32_t TPDFForm::GetFontCount() {
  TPDFDictionary* dr = GetDR(false);
  TPDFDictionary* fonts = dr ? PDFAsDictionary(ResolveObject(dr->GetValue("Font"))) : nullptr;
  return fonts ? fonts->GetCount() : 0;
}

std::string TPDFForm::GetFontName(int32_t n) {
  TPDFDictionary* dr = GetDR(false);
  TPDFDictionary* fonts = dr ? PDFAsDictionary(ResolveObject(dr->GetValue("Font"))) : nullptr;
  if (!fonts || n < 1 || n > fonts->GetCount()) return {};
  TPDFDictEntry e = fonts->GetEntry(n - 1);
  return e.key ? e.key->GetValue() : std::string();
}

std::string TPDFForm::GetFirstFontName() {
  return GetFontCount() > 0 ? GetFontName(1) : std::string();
}

int32_t TPDFForm::AddFont(TPDFFont* font) {
  if (!font || !Dict || !Pool) return 0;
  font->SetResourceName(font->GetResourceName());
  TPDFDictionary* dr = GetDR(true);
  TPDFDictionary* fonts = PDFAsDictionary(ResolveObject(dr->GetValue("Font")));
  if (!fonts) {
    fonts = Pool->NewDictionary();
    dr->SetValue("Font", fonts);
  }
  if (TPDFIndRef* ref = font->GetReference()) {
    fonts->SetValue(font->GetResourceName(), Pool->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
  }
  if (!Dict->GetValue("DA")) Dict->SetValue("DA", Pool->NewString("/" + font->GetResourceName() + " 0 Tf 0 0 0 rg"));
  return fonts->GetCount();
}

TPDFIndRef* TPDFForm::FindFontRef(std::string_view name) {
  if (name.empty()) return nullptr;
  TPDFDictionary* dr = GetDR(false);
  TPDFDictionary* fonts = dr ? PDFAsDictionary(ResolveObject(dr->GetValue("Font"))) : nullptr;
  if (fonts) {
    if (TPDFIndRef* ref = PDFAsIndRef(fonts->GetValue(name))) return ref;
  }
  for (int32_t i = 0; i < 13; ++i) {
    if (name == kFormFontNames[i] && OnStandardFont) return OnStandardFont(i);
  }
  return nullptr;
}

TPDFIndRef* TPDFForm::NewIndirectRef(TPDFObject* obj) {
  if (!Pool) return nullptr;
  int32_t number = 0, generation = 0;
  if (OnAddObject) {
    OnAddObject(this, obj, number, generation);
  } else if (Pool->OnGetObjectNumber) {
    Pool->OnGetObjectNumber(Pool, obj, number, generation);
  } else {
    return nullptr;
  }
  return Pool->NewIndRef(number, generation);
}

TPDFField* TPDFForm::NewField(std::u16string_view name, uint8_t kind, TPDFIndRef* ref) {
  if (!Dict || !Pool || !ref) return nullptr;
  std::u16string clean(name);
  clean.erase(std::remove(clean.begin(), clean.end(), u'.'), clean.end());
  auto owned = std::make_unique<TPDFField>();
  TPDFField* field = owned.get();
  field->OnResolve = OnResolve;
  field->Form = this;
  TPDFDictionary* dict = PDFAsDictionary(ResolveObject(ref));
  if (dict) field->Load(dict);
  fields_.push_back(std::move(owned));
  FieldsArray = PDFAsArray(ResolveObject(Dict->GetValue("Fields")));
  if (!FieldsArray) {
    FieldsArray = Pool->NewArray();
    Dict->SetValue("Fields", FieldsArray);
  }
  FieldsArray->Add(Pool->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
  field->Ref = ref;
  field->Name = clean;
  field->HasKids = false;
  field->Parent = nullptr;
  if (!dict) return field;

  auto num = [&](double v) { return Pool->NewNumeric(v); };
  auto name_ = [&](std::string_view v) { return Pool->NewName(v); };
  if (kind != pdffkRadioGroup && kind != pdffkParent) {
    dict->SetValue("Type", name_("Annot"));
    dict->SetValue("Subtype", name_("Widget"));
  }
  switch (kind) {
    case pdffkText:
      dict->SetValue("FT", name_("Tx"));
      dict->SetValue("F", num(pdfafPrint));
      dict->SetValue("T", Pool->NewTextString(clean));
      break;
    case pdffkPushButton:
      dict->SetValue("FT", name_("Btn"));
      dict->SetValue("Ff", num(65536));
      dict->SetValue("F", num(pdfafPrint));
      dict->SetValue("T", Pool->NewTextString(clean));
      break;
    case pdffkCheckBox: {
      dict->SetValue("FT", name_("Btn"));
      dict->SetValue("Ff", num(0));
      dict->SetValue("F", num(pdfafPrint));
      dict->SetValue("T", Pool->NewTextString(clean));
      dict->SetValue("AS", name_("Off"));
      dict->SetValue("V", name_("Off"));
      // Both states draw something a viewer can show without rebuilding
      // them: a box, and in the on state a check mark. The box is a unit
      // that a viewer scales into the widget rectangle.
      auto stateStream = [&](bool on) {
        std::string content = "q 0 0 0 RG 1 w 0.5 0.5 19 19 re S";
        if (on) content += " 0 0 0 rg 4 10.5 m 8 5 l 16 15.5 l 14.6 16.6 l 8 8 l 5.4 12 l h f";
        content += " Q\n";
        TPDFStream* s = Pool->NewStream(content, false);
        TPDFDictionary* sd = s->GetDictionary();
        sd->SetValue("Type", name_("XObject"));
        sd->SetValue("Subtype", name_("Form"));
        const double box[4] = {0, 0, 20, 20};
        sd->SetValue("BBox", Pool->NewRealArray(box));
        sd->SetValue("Resources", Pool->NewDictionary());
        return NewIndirectRef(s);
      };
      TPDFDictionary* ap = Pool->NewDictionary();
      TPDFDictionary* n = Pool->NewDictionary();
      if (TPDFIndRef* yes = stateStream(true)) n->SetValue("Yes", yes);
      if (TPDFIndRef* off = stateStream(false)) n->SetValue("Off", off);
      ap->SetValue("N", n);
      dict->SetValue("AP", ap);
      break;
    }
    case pdffkRadioGroup:
      dict->SetValue("FT", name_("Btn"));
      dict->SetValue("Ff", num(32768));
      dict->SetValue("T", Pool->NewTextString(clean));
      dict->SetValue("AS", name_("Off"));
      dict->SetValue("V", name_("Off"));
      dict->SetValue("Kids", Pool->NewArray());
      break;
    case pdffkChoice:
      dict->SetValue("FT", name_("Ch"));
      dict->SetValue("T", Pool->NewTextString(clean));
      dict->SetValue("Opt", Pool->NewArray());
      dict->SetValue("F", num(pdfafPrint));
      dict->SetValue("Ff", num(131072));
      break;
    case pdffkSignature:
      Dict->SetValue("SigFlags", num(3));
      dict->SetValue("FT", name_("Sig"));
      dict->SetValue("T", Pool->NewTextString(clean));
      dict->SetValue("F", num(pdfafPrint));
      break;
    case pdffkParent:
      dict->SetValue("T", Pool->NewTextString(clean));
      break;
    default:
      break;
  }
  field->Kind = 0;
  field->GetFieldKind();
  return field;
}

// ---------------------------------------------------------------------------
// TPDFField: model

TPDFField::TPDFField() = default;
TPDFField::~TPDFField() = default;

TPDFObject* TPDFField::ResolveObject(TPDFObject* obj) {
  TPDFIndRef* ref = PDFAsIndRef(obj);
  if (!ref) return obj;
  if (OnResolve) return OnResolve(ref);
  return ref->Resolve();
}

void TPDFField::Load(TPDFDictionary* dict) {
  Parent = nullptr;
  HasKids = false;
  PageIndex = -1;
  Dict = dict;
  Pool = dict ? dict->GetOwner() : nullptr;
  OptionsLoaded = false;
  options_.clear();
  Kind = 0;
  Left = Top = Width = Height = 0;
  Name.clear();
  if (!dict) return;
  GetFieldKind();
  if (TPDFArray* rect = PDFAsArray(ResolveObject(dict->GetValue("Rect")))) {
    double x1 = numberOf(PDFResolve(rect->GetItem(0))), y1 = numberOf(PDFResolve(rect->GetItem(1)));
    double x2 = numberOf(PDFResolve(rect->GetItem(2))), y2 = numberOf(PDFResolve(rect->GetItem(3)));
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    Left = x1;
    Width = x2 - x1;
    Height = y2 - y1;
    Top = y1 + Height;
  }
  if (TPDFString* t = PDFAsString(ResolveObject(dict->GetValue("T")))) Name = t->GetText();
}

TPDFObject* TPDFField::GetInheritedValue(TPDFDictionary* dict, std::string_view key) {
  std::unordered_set<const TPDFObject*> seen;
  for (int32_t depth = 0; dict && depth <= kMaxFieldDepth; ++depth) {
    if (!seen.insert(dict).second) return nullptr;  // a /Parent loop
    if (TPDFObject* v = dict->GetValue(key)) return v;
    dict = PDFAsDictionary(ResolveObject(dict->GetValue("Parent")));
  }
  return nullptr;
}

int32_t TPDFField::GetFlags() {
  TPDFNumeric* n = PDFAsNumeric(ResolveObject(GetInheritedValue(Dict, "Ff")));
  if (!n || !std::isfinite(n->GetValue())) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(
      static_cast<int64_t>(std::llround(std::clamp(n->GetValue(), -4294967295.0, 4294967295.0)))));
}

int32_t TPDFField::GetMaxLen() {
  TPDFNumeric* n = PDFAsNumeric(ResolveObject(GetInheritedValue(Dict, "MaxLen")));
  if (!n || !std::isfinite(n->GetValue())) return 0;
  return static_cast<int32_t>(
      std::clamp(std::llround(std::clamp(n->GetValue(), -1e9, 1e9)), -1000000000LL, 1000000000LL));
}

bool TPDFField::HasFieldFlag(int32_t n) {
  if (n < 1 || n > 32 || !flagHonoured(GetFieldKind(), n)) return false;
  return (static_cast<uint32_t>(GetFlags()) >> (n - 1)) & 1u;
}

uint8_t TPDFField::GetFieldKind() {
  if (Kind == 0 && Dict) {
    TPDFName* ft = PDFAsName(ResolveObject(GetInheritedValue(Dict, "FT")));
    if (ft) {
      const std::string& v = ft->GetValue();
      if (v == "Tx") {
        Kind = pdffkText;
      } else if (v == "Ch") {
        Kind = pdffkChoice;
      } else if (v == "Sig") {
        Kind = pdffkSignature;
      } else if (v == "Btn") {
        const uint32_t flags = static_cast<uint32_t>(GetFlags());
        if (flags & 0x10000u) {
          Kind = pdffkPushButton;
        } else if (flags & 0x8000u) {
          Kind = pdffkRadioGroup;
        } else {
          // A check box may have several widgets (/Kids); it stays a check
          // box: only the radio flag makes a radio group.
          Kind = pdffkCheckBox;
          if (Dict->GetValue("Kids")) HasKids = true;
        }
      }
    }
  }
  if (Kind == 0 && HasKids) return pdffkParent;
  if (Kind == 0 && Dict && !PDFAsName(ResolveObject(GetInheritedValue(Dict, "FT"))) &&
      PDFAsArray(ResolveObject(Dict->GetValue("Kids"))))
    return pdffkParent;
  return Kind;
}

void TPDFField::SetBounds(double left, double top, double width, double height) {
  if (!Dict || !Pool) return;
  TPDFArray* rect = PDFAsArray(ResolveObject(Dict->GetValue("Rect")));
  if (!rect || rect->GetCount() != 4) {
    Dict->DeleteKey("Rect");
    const double zero[4] = {0, 0, 0, 0};
    rect = Pool->NewRealArray(zero);
    Dict->SetValue("Rect", rect);
  }
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  const double values[4] = {left, top - height, left + width, top};
  for (int32_t i = 0; i < 4; ++i) {
    if (TPDFNumeric* n = PDFAsNumeric(rect->GetItem(i))) {
      n->SetValue(values[i]);
    } else {
      rect->ReplaceItem(i, Pool->NewNumeric(values[i]));
    }
  }
  RefreshAppearance();
}

TPDFArray* TPDFField::kidsArray() {
  return Dict ? PDFAsArray(ResolveObject(Dict->GetValue("Kids"))) : nullptr;
}

std::unique_ptr<TPDFField> TPDFField::GetKid(int32_t n) {
  TPDFArray* kids = kidsArray();
  if (!kids || n < 1 || n > kids->GetCount()) return nullptr;
  TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(n - 1));
  if (!ref) return nullptr;
  TPDFDictionary* dict = PDFAsDictionary(ResolveObject(ref));
  if (!dict) return nullptr;
  auto kid = std::make_unique<TPDFField>();
  kid->OnResolve = OnResolve;
  kid->Load(dict);
  kid->Parent = this;
  kid->IsKid = true;
  kid->Ref = ref;
  kid->Form = Form;
  return kid;
}

void TPDFField::SetPage(int32_t pageNumber, TPDFIndRef* pageRef) {
  if (!Dict || !Pool || !pageRef) return;
  Dict->SetValue("P", Pool->NewIndRef(pageRef->GetRefNumber(), pageRef->GetRefGeneration()));
  PageIndex = pageNumber;
}

std::u16string TPDFField::GetFullName() {
  std::u16string full = Name;
  std::unordered_set<const TPDFObject*> seen{Dict};
  TPDFDictionary* d = Dict ? PDFAsDictionary(ResolveObject(Dict->GetValue("Parent"))) : nullptr;
  for (int32_t depth = 0; d && depth < kMaxFieldDepth && seen.insert(d).second; ++depth) {
    if (TPDFString* t = PDFAsString(ResolveObject(d->GetValue("T")))) {
      std::u16string part = t->GetText();
      if (!part.empty()) full = full.empty() ? part : part + u"." + full;
    }
    d = PDFAsDictionary(ResolveObject(d->GetValue("Parent")));
  }
  return full;
}

// ---- Options

int32_t TPDFField::findOption(std::string_view name) const {
  for (size_t i = 0; i < options_.size(); ++i) {
    if (CompareTextA(options_[i].first, name) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

void TPDFField::addOption(std::string name, int32_t index) {
  if (findOption(name) < 0) options_.emplace_back(std::move(name), index);
}

void TPDFField::collectAppearanceStates(TPDFDictionary* ap, int32_t index) {
  for (const char* key : {"N", "R", "D"}) {
    TPDFDictionary* states = PDFAsDictionary(ResolveObject(ap->GetValue(key)));
    if (!states) continue;
    for (const TPDFDictEntry& e : states->Entries()) {
      if (!e.key) continue;
      std::string state = e.key->GetValue();
      if (!IsValidUTF8(state)) state = WideToUTF8(PDFTextToWide(state));
      addOption(state, state == "Off" ? -1 : index);
    }
  }
}

void TPDFField::LoadOptions() {
  OptionsLoaded = true;
  options_.clear();
  if (!Dict) return;
  const uint8_t kind = GetFieldKind();
  if (kind == pdffkCheckBox || kind == pdffkRadioGroup) {
    addOption("Off", -1);
    if (TPDFDictionary* ap = PDFAsDictionary(ResolveObject(Dict->GetValue("AP")))) collectAppearanceStates(ap, -1);
    // The widgets of a group (or of a check box shown in several places)
    // carry the states.
    if (TPDFArray* kids = kidsArray()) {
      for (int32_t i = 0; i < kids->GetCount(); ++i) {
        TPDFDictionary* kid = PDFAsDictionary(ResolveObject(PDFAsIndRef(kids->GetItem(i))));
        if (!kid) continue;
        if (TPDFDictionary* ap = PDFAsDictionary(ResolveObject(kid->GetValue("AP")))) collectAppearanceStates(ap, i);
      }
    }
  } else if (kind == pdffkChoice) {
    TPDFArray* opt = PDFAsArray(ResolveObject(GetInheritedValue(Dict, "Opt")));
    if (!opt) return;
    for (TPDFObject* item : opt->Items()) {
      TPDFObject* v = ResolveObject(item);
      if (TPDFArray* pair = PDFAsArray(v)) v = ResolveObject(pair->GetItem(0));
      if (TPDFString* s = PDFAsString(v)) options_.emplace_back(WideToUTF8(s->GetText()), -1);
    }
  }
}

int32_t TPDFField::GetOptionCount() {
  if (!OptionsLoaded) LoadOptions();
  return static_cast<int32_t>(options_.size());
}

int32_t TPDFField::GetOption(int32_t index) {
  if (!OptionsLoaded) LoadOptions();
  if (index < 0 || index >= static_cast<int32_t>(options_.size())) return -2;
  return options_[static_cast<size_t>(index)].second;
}

std::string TPDFField::GetOptionName(int32_t index) {
  if (!OptionsLoaded) LoadOptions();
  if (index < 0 || index >= static_cast<int32_t>(options_.size())) return {};
  return options_[static_cast<size_t>(index)].first;
}
