// The interactive form of a document: the catalogue's AcroForm dictionary,
// its fields as a flat list, the form's font resources and the
// NeedAppearances switch; field values and the appearance streams that make
// a field's value visible.
//
// The form reads and edits objects of its document's pool; it owns the
// TPDFField objects, never the PDF objects. Field trees come from files and
// are untrusted: every walk over /Kids and /Parent is guarded against cycles
// and bounded in depth.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

class TPDFStructure;
class TPDFObject;
class TPDFArray;
class TPDFDictionary;
class TPDFStream;
class TPDFIndRef;
class TPDFFont;
class TPDFPainter;
class TPDFForm;

// Field kinds.
constexpr uint8_t pdffkUnknown = 0;
constexpr uint8_t pdffkText = 1;
constexpr uint8_t pdffkPushButton = 2;
constexpr uint8_t pdffkCheckBox = 3;
constexpr uint8_t pdffkRadioGroup = 4;
constexpr uint8_t pdffkChoice = 5;
constexpr uint8_t pdffkSignature = 6;
constexpr uint8_t pdffkParent = 7;

// Deepest field tree (and longest /Parent chain) that is followed.
constexpr int32_t kMaxFieldDepth = 64;
// Most fields a form loads; a hostile /Kids fan-out stops here.
constexpr int32_t kMaxFormFields = 100000;

// The resource names of the standard form fonts, indexed like the
// document's standard-font table (0 Courier ... 12 Symbol, 13 ZapfDingbats).
extern const char* const kFormFontNames[14];

class TPDFField {
public:
  TPDFField();
  ~TPDFField();
  TPDFField(const TPDFField&) = delete;
  TPDFField& operator=(const TPDFField&) = delete;

  void Load(TPDFDictionary* dict);

  // The value of key in dict, else along the /Parent chain (cycle-safe);
  // nullptr when no level has it.
  TPDFObject* GetInheritedValue(TPDFDictionary* dict, std::string_view key);
  uint8_t GetFieldKind();
  int32_t GetFlags();
  int32_t GetMaxLen();
  // Field flag n (1-based bit) set and honoured for this kind.
  bool HasFieldFlag(int32_t n);
  void SetBounds(double left, double top, double width, double height);
  // Kid n (1-based) of /Kids as a field the caller owns; nullptr when none.
  std::unique_ptr<TPDFField> GetKid(int32_t n);
  void SetPage(int32_t pageNumber, TPDFIndRef* pageRef);
  // The kid index stored with option index (0-based); -2 out of range.
  int32_t GetOption(int32_t index);
  int32_t GetOptionCount();
  std::string GetOptionName(int32_t index);
  void LoadOptions();
  TPDFObject* ResolveObject(TPDFObject* obj);
  // The fully qualified name: the /T of every ancestor joined with ".".
  std::u16string GetFullName();

  // ---- Values
  std::u16string GetValue();
  std::u16string GetValueText(TPDFObject* value);
  // Sets /V and rebuilds what shows it. False when the value cannot be
  // taken (a choice that is not among the options, a kind without values).
  bool SetValue(std::u16string_view text);
  bool SetValueByKey(std::u16string_view text, std::string_view key);
  void SetAlignment(int32_t q);
  void SetFont(int32_t n);
  void SetFontSize(double size);
  std::string GetDefaultAppearance();
  double GetFontSize();
  std::string GetFontName();
  TPDFIndRef* GetFontRef();
  std::string GetColorSpace();
  double GetColorComponent(int32_t n);
  std::u16string GetCaption();

  // ---- Appearances
  void RefreshAppearance();
  void RemoveAppearance();
  // True when a new /AP /N was written (or the field kind keeps its own).
  bool BuildAppearance();

  TPDFStructure* Pool = nullptr;
  TPDFDictionary* Dict = nullptr;
  double Left = 0, Top = 0, Width = 0, Height = 0;
  std::u16string Name;
  int32_t PageIndex = -1;
  bool OptionsLoaded = false;
  uint8_t Kind = 0;
  std::function<TPDFObject*(TPDFIndRef*)> OnResolve;
  bool IsKid = false;
  TPDFForm* Form = nullptr;
  TPDFField* Parent = nullptr;
  bool HasKids = false;
  TPDFIndRef* Ref = nullptr;

private:
  // (state or option name, kid index or -1)
  std::vector<std::pair<std::string, int32_t>> options_;
  int32_t findOption(std::string_view name) const;
  void addOption(std::string name, int32_t index);
  void collectAppearanceStates(TPDFDictionary* ap, int32_t index);
  TPDFArray* kidsArray();
  void setKidStates(const std::string& state);
  void writeDefaultAppearance(const std::string& da);
  std::string formatNumber(double v) const;
  bool buildWidgetAppearance(TPDFDictionary* widget);
  double writeBorderAndBackground(TPDFPainter& painter, TPDFDictionary* widget, int32_t combCells, double h, double w);
  // The value or caption inside the border, in the /DA colour, aligned by
  // /Q and sized to fit when /DA gives size 0.
  void writeFieldText(TPDFPainter& painter, TPDFFont& font, const std::u16string& text, int32_t q, double w,
                      double h, double inset, bool comb, int32_t maxLen);
  // The content as the widget's normal appearance stream, with the font it
  // uses as its resources.
  bool storeAppearance(TPDFDictionary* widget, const std::string& painted, const std::string& fontName,
                       TPDFIndRef* fontRef);
};

class TPDFForm {
public:
  using TAddObjectCallback = std::function<void(void* sender, TPDFObject* obj, int32_t& number, int32_t& generation)>;
  using TStandardFontCallback = std::function<TPDFIndRef*(int32_t index)>;
  using TResolveCallback = std::function<TPDFObject*(TPDFIndRef* ref)>;

  TPDFForm();
  ~TPDFForm();
  TPDFForm(const TPDFForm&) = delete;
  TPDFForm& operator=(const TPDFForm&) = delete;

  // Reads the fields; changes nothing in the file. A kid without a name
  // (/T) and without kids of its own is a widget of its field, not a field.
  void Load(TPDFDictionary* acroForm);
  // True after Load when /Fields is there (not null) but is not an array,
  // or holds an item that is no field dictionary: the list may miss fields.
  bool FieldsDamaged() const { return fieldsDamaged_; }
  // Fields found through widget annotations (of the pages) that the field
  // tree did not reach: the field a widget belongs to (its nearest named
  // ancestor, or the widget itself) becomes a field of the list.
  void AddFieldsOfWidgets(const std::vector<TPDFIndRef*>& widgets);
  int32_t GetFieldCount() const { return static_cast<int32_t>(fields_.size()); }
  TPDFField* GetField(int32_t index) const;
  TPDFField* FindFieldByRef(const TPDFIndRef* ref) const;
  // 0-based index of a field by its fully qualified name; -1 when none.
  int32_t FindFieldByName(std::u16string_view fullName) const;

  std::string GetNeedAppearances() const;
  void SetNeedAppearances(bool flag);
  int32_t GetFontCount();
  std::string GetFontName(int32_t n);
  std::string GetFirstFontName();
  int32_t AddFont(TPDFFont* font);
  TPDFIndRef* FindFontRef(std::string_view name);
  // The /DR dictionary, made (empty) when it is missing and create is set.
  TPDFDictionary* GetDR(bool create);
  TPDFIndRef* NewIndirectRef(TPDFObject* obj);
  TPDFObject* ResolveObject(TPDFObject* obj);
  TPDFField* NewField(std::u16string_view name, uint8_t kind, TPDFIndRef* ref);

  // Whether the stream with that object number was made by this form for a
  // rebuilt appearance (only such streams are written over).
  bool OwnsAppearance(int32_t objectNumber) const { return ownAppearances_.count(objectNumber) != 0; }
  void NoteOwnAppearance(int32_t objectNumber) { ownAppearances_.insert(objectNumber); }

  TPDFStructure* Pool = nullptr;
  TPDFDictionary* Dict = nullptr;
  TPDFArray* FieldsArray = nullptr;
  TPDFArray* COArray = nullptr;
  TPDFDictionary* DRDict = nullptr;
  TAddObjectCallback OnAddObject;
  TStandardFontCallback OnStandardFont;
  TResolveCallback OnResolve;

private:
  void loadField(TPDFField* parent, TPDFIndRef* ref, int32_t depth, std::unordered_set<int32_t>& visited);

  std::vector<std::unique_ptr<TPDFField>> fields_;
  bool fieldsDamaged_ = false;
  std::unordered_set<int32_t> ownAppearances_;
};
