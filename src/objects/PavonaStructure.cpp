// PDF objects and the object pool: factories, accessors, key-name interning,
// freeing rules and the PDF syntax writer.
#include "objects/PavonaStructure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "objects/PavonaExtra.h"

namespace {

// Dictionary keys that one name object serves for every dictionary of a pool.
constexpr std::string_view kCommonKeyNames =
    "[MediaBox][Length][CropBox][Type][Subtype][Name][Pages][Page][Parent][Font][Contents][BaseFont][PDF][Text]"
    "[ImageB][ImageC][ImageI][Resources][ProcSet][ExtGState][Type1][TrueType][WinAnsiEncoding][Filter]"
    "[FlateDecode][Annot][URI][Goto][XYZ][iSPV][Pavona]";

constexpr size_t kCommonKeyCount = 31;

// Position of "[name]" in the common list, npos when the name is not common.
size_t commonKeyPosition(std::string_view name) {
  if (name.size() + 2 > kCommonKeyNames.size()) return std::string_view::npos;
  for (size_t pos = kCommonKeyNames.find(name); pos != std::string_view::npos;
       pos = kCommonKeyNames.find(name, pos + 1)) {
    if (pos > 0 && kCommonKeyNames[pos - 1] == '[' && pos + name.size() < kCommonKeyNames.size() &&
        kCommonKeyNames[pos + name.size()] == ']')
      return pos - 1;
  }
  return std::string_view::npos;
}

// Index of an exact common name in the list (for the intern cache); -1 when
// the name is not one of the listed names.
int commonKeyIndex(std::string_view name) {
  size_t pos = commonKeyPosition(name);
  if (pos == std::string_view::npos) return -1;
  // Only a match that is one whole list entry is cached; a name such as
  // "Type][Subtype" matches the list text too but spans two entries.
  if (name.find(']') != std::string_view::npos || name.find('[') != std::string_view::npos) return -1;
  const auto index = std::count(kCommonKeyNames.begin(), kCommonKeyNames.begin() + static_cast<ptrdiff_t>(pos), '[');
  return index < static_cast<ptrdiff_t>(kCommonKeyCount) ? static_cast<int>(index) : -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHexByte(std::string& out, uint8_t b) {
  out.push_back(kHexDigits[b >> 4]);
  out.push_back(kHexDigits[b & 15]);
}

[[noreturn]] void raiseTooDeep() {
  throw EPDFError("PDF object nests deeper than " + std::to_string(kMaxObjectDepth) + " levels or contains itself");
}

}  // namespace

// ---------------------------------------------------------------------------
// TPDFObject

std::string TPDFObject::WriteText() const {
  std::string out;
  AppendText(out, 0);
  return out;
}

// Children are always still held by their container when the container is
// released, so offering them to the pool would keep them anyway: only the
// object itself leaves the live list. No recursion is needed, which also
// makes nested and self-containing containers safe to release.
void TPDFObject::Release() {
  if (owner_) owner_->FreeObject(this);
}

void TPDFObject::ShiftObjectNumbers(int32_t delta) {
  ShiftAt(delta, 0);
}
void TPDFObject::ShiftAt(int32_t, int) {}
bool TPDFObject::HoldsObject(const TPDFObject*) const {
  return false;
}

void TPDFObject::SetIndirect(int32_t number, int32_t generation) {
  indirect_ = 1;
  objectNumber_ = number;
  generation_ = generation;
}

TPDFBoolean* TPDFObject::AsBoolean() {
  return kind_ == pdfkBoolean ? static_cast<TPDFBoolean*>(this) : nullptr;
}
TPDFNumeric* TPDFObject::AsNumeric() {
  return kind_ == pdfkNumeric ? static_cast<TPDFNumeric*>(this) : nullptr;
}
TPDFString* TPDFObject::AsString() {
  return kind_ == pdfkString ? static_cast<TPDFString*>(this) : nullptr;
}
TPDFName* TPDFObject::AsName() {
  return kind_ == pdfkName ? static_cast<TPDFName*>(this) : nullptr;
}
TPDFArray* TPDFObject::AsArray() {
  return kind_ == pdfkArray ? static_cast<TPDFArray*>(this) : nullptr;
}
TPDFDictionary* TPDFObject::AsDictionary() {
  return kind_ == pdfkDictionary ? static_cast<TPDFDictionary*>(this) : nullptr;
}
TPDFStream* TPDFObject::AsStream() {
  return kind_ == pdfkStream ? static_cast<TPDFStream*>(this) : nullptr;
}
TPDFIndRef* TPDFObject::AsIndRef() {
  return kind_ == pdfkIndRef ? static_cast<TPDFIndRef*>(this) : nullptr;
}

TPDFBoolean* PDFAsBoolean(TPDFObject* obj) {
  return obj ? obj->AsBoolean() : nullptr;
}
TPDFNumeric* PDFAsNumeric(TPDFObject* obj) {
  return obj ? obj->AsNumeric() : nullptr;
}
TPDFString* PDFAsString(TPDFObject* obj) {
  return obj ? obj->AsString() : nullptr;
}
TPDFName* PDFAsName(TPDFObject* obj) {
  return obj ? obj->AsName() : nullptr;
}
TPDFArray* PDFAsArray(TPDFObject* obj) {
  return obj ? obj->AsArray() : nullptr;
}
TPDFDictionary* PDFAsDictionary(TPDFObject* obj) {
  return obj ? obj->AsDictionary() : nullptr;
}
TPDFStream* PDFAsStream(TPDFObject* obj) {
  return obj ? obj->AsStream() : nullptr;
}
TPDFIndRef* PDFAsIndRef(TPDFObject* obj) {
  return obj ? obj->AsIndRef() : nullptr;
}

TPDFObject* PDFResolve(TPDFObject* obj) {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) return ref->Resolve();
  return obj;
}

// ---------------------------------------------------------------------------
// Scalars

TPDFNull::TPDFNull(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkNull;
}
void TPDFNull::AppendText(std::string& out, int) const {
  out += "null";
}

TPDFBoolean::TPDFBoolean(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkBoolean;
}
void TPDFBoolean::AppendText(std::string& out, int) const {
  out += value_ ? "true" : "false";
}

TPDFNumeric::TPDFNumeric(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkNumeric;
}

void TPDFNumeric::AppendText(std::string& out, int) const {
  // PDF has no syntax for NaN or infinities; a file holding one would not parse.
  if (!std::isfinite(value_)) {
    out += '0';
    return;
  }
  out += FormatPDFNumber(owner_ ? owner_->GetPrecisionDigits() : 4, value_);
}

int64_t TPDFNumeric::AsInteger() const {
  if (std::isnan(value_)) return 0;
  double r = std::nearbyint(value_);
  // 2^63 is exactly representable; anything at or beyond it saturates.
  if (r >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (r < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

TPDFString::TPDFString(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkString;
}

void TPDFString::AppendText(std::string& out, int) const {
  if (mode_ == psmLiteral) {
    out.reserve(out.size() + value_.size() + 2);
    out += '(';
    for (unsigned char c : value_) {
      switch (c) {
        case 8:
          out += "\\b";
          break;
        case 9:
          out += "\\t";
          break;
        case 10:
          out += "\\n";
          break;
        case 12:
          out += "\\f";
          break;
        case 13:
          out += "\\r";
          break;
        case '(':
          out += "\\(";
          break;
        case ')':
          out += "\\)";
          break;
        case '\\':
          out += "\\\\";
          break;
        default:
          out += static_cast<char>(c);
      }
    }
    out += ')';
  } else if (mode_ == psmHex) {
    out.reserve(out.size() + value_.size() * 2 + 2);
    out += '<';
    for (unsigned char c : value_) appendHexByte(out, c);
    out += '>';
  }
}

std::u16string TPDFString::GetText() const {
  return PDFTextToWide(value_);
}

void TPDFString::SetText(std::u16string_view text) {
  value_ = WideToPDFText(text);
  mode_ = psmLiteral;
}

TPDFName::TPDFName(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkName;
}

void TPDFName::SetValue(std::string_view name) {
  if (owner_ && serial_ < owner_->nameIndexedUpTo_ && value_ != name) {
    owner_->unindexName(this);
    value_ = name;
    owner_->indexName(this);
    return;
  }
  value_ = name;
}

void TPDFName::AppendText(std::string& out, int) const {
  out += '/';
  for (unsigned char c : value_) {
    bool escape = c <= 32 || c >= 127;
    switch (c) {
      case '#':
      case '%':
      case '(':
      case ')':
      case '/':
      case '<':
      case '>':
      case '[':
      case ']':
      case '{':
      case '}':
        escape = true;
        break;
      default:
        break;
    }
    if (escape) {
      out += '#';
      appendHexByte(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
}

TPDFIndRef::TPDFIndRef(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkIndRef;
}

void TPDFIndRef::AppendText(std::string& out, int) const {
  out += std::to_string(refNumber_);
  out += ' ';
  out += std::to_string(refGeneration_);
  out += " R";
}

void TPDFIndRef::ShiftObjectNumbers(int32_t delta) {
  ShiftAt(delta, 0);
}

void TPDFIndRef::ShiftAt(int32_t delta, int) {
  // Wraps like the 32-bit arithmetic of object numbers; no signed overflow.
  refNumber_ = static_cast<int32_t>(static_cast<uint32_t>(refNumber_) + static_cast<uint32_t>(delta));
}

TPDFObject* TPDFIndRef::Resolve() {
  if (!owner_ || !owner_->OnLookupObject) return nullptr;
  return owner_->OnLookupObject(this, refNumber_, refGeneration_);
}

// ---------------------------------------------------------------------------
// TPDFArray

TPDFArray::TPDFArray(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkArray;
}

void TPDFArray::AppendText(std::string& out, int depth) const {
  if (depth >= kMaxObjectDepth) raiseTooDeep();
  const size_t start = out.size();
  size_t mark = 0;
  out += "[ ";
  for (const TPDFObject* item : items_) {
    if (item) item->AppendText(out, depth + 1);
    if (out.back() != '\n') out += ' ';
    if (out.size() - start > mark + 80) {
      out += '\n';
      mark = out.size() - start;
    }
  }
  out += ']';
}

void TPDFArray::Release() {
  TPDFObject::Release();
}

void TPDFArray::ShiftObjectNumbers(int32_t delta) {
  ShiftAt(delta, 0);
}

void TPDFArray::ShiftAt(int32_t delta, int depth) {
  if (depth >= kMaxObjectDepth) raiseTooDeep();
  for (TPDFObject* item : items_)
    if (item) item->ShiftAt(delta, depth + 1);
}

bool TPDFArray::HoldsObject(const TPDFObject* obj) const {
  return std::find(items_.begin(), items_.end(), obj) != items_.end();
}

TPDFObject* TPDFArray::GetItem(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

void TPDFArray::Add(TPDFObject* obj) {
  items_.push_back(obj);
  if (owner_) owner_->noteHold(this, obj, 1);
}

void TPDFArray::Insert(int32_t index, TPDFObject* obj) {
  if (index < 0 || index > GetCount()) return;
  items_.insert(items_.begin() + index, obj);
  if (owner_) owner_->noteHold(this, obj, 1);
}

// The item is offered to the pool while this array still holds it, so a
// live array keeps it live (it may be held elsewhere under the same pointer).
void TPDFArray::Delete(int32_t index) {
  if (index < 0 || index >= GetCount()) return;
  TPDFObject* item = items_[static_cast<size_t>(index)];
  if (owner_ && item) owner_->FreeObject(item);
  items_.erase(items_.begin() + index);
  if (owner_) owner_->noteHold(this, item, -1);
}

void TPDFArray::ReplaceItem(int32_t index, TPDFObject* obj) {
  if (index < 0 || index >= GetCount()) return;
  TPDFObject* item = items_[static_cast<size_t>(index)];
  if (owner_ && item) owner_->FreeObject(item);
  items_[static_cast<size_t>(index)] = obj;
  if (owner_) {
    owner_->noteHold(this, item, -1);
    owner_->noteHold(this, obj, 1);
  }
}

namespace {
// Whether an object of that kind can write as text starting with first: the
// first character of an object's text tells its kind apart from most
// others, so containers are written out only when they could match.
bool kindCanStartWith(char kind, char first) {
  switch (kind) {
    case pdfkNull:
      return first == 'n';
    case pdfkBoolean:
      return first == 't' || first == 'f';
    case pdfkName:
      return first == '/';
    case pdfkString:
      return first == '(' || first == '<';
    case pdfkArray:
      return first == '[';
    case pdfkDictionary:
    case pdfkStream:
      return first == '<';
    case pdfkNumeric:
    case pdfkIndRef:
      return first == '-' || first == '.' || (first >= '0' && first <= '9');
    default:
      return true;
  }
}

// A reference written as "n g R" without building a string per item.
bool refWritesAs(const TPDFIndRef* ref, std::string_view text) {
  char buffer[32];
  const int n = std::snprintf(buffer, sizeof buffer, "%d %d R", static_cast<int>(ref->GetRefNumber()),
                              static_cast<int>(ref->GetRefGeneration()));
  return n > 0 && std::string_view(buffer, static_cast<size_t>(n)) == text;
}

// An item that cannot be written (it contains itself) equals no text.
bool writesAs(const TPDFObject* item, std::string_view text) {
  if (!item || text.empty() || !kindCanStartWith(item->GetKind(), text.front())) return false;
  if (item->GetKind() == pdfkIndRef) return refWritesAs(static_cast<const TPDFIndRef*>(item), text);
  try {
    return item->WriteText() == text;
  } catch (const EPDFError&) {
    return false;
  }
}
}  // namespace

void TPDFArray::RemoveObject(TPDFObject* obj, bool byText) {
  if (!obj) return;
  if (!byText) {
    auto it = std::find(items_.begin(), items_.end(), obj);
    if (it != items_.end()) Delete(static_cast<int32_t>(it - items_.begin()));
    return;
  }
  const std::string text = obj->WriteText();
  for (int32_t i = 0; i < GetCount(); ++i) {
    if (writesAs(items_[static_cast<size_t>(i)], text)) {
      Delete(i);
      return;
    }
  }
}

bool TPDFArray::ContainsText(std::string_view text) const {
  return std::any_of(items_.begin(), items_.end(), [&](const TPDFObject* item) { return writesAs(item, text); });
}

int32_t TPDFArray::IndexOfRef(const TPDFIndRef* ref) const {
  if (!ref) return -1;
  // Two references are the same when they name the same number and generation.
  for (size_t i = 0; i < items_.size(); ++i) {
    if (!items_[i] || items_[i]->GetKind() != pdfkIndRef) continue;
    const auto* item = static_cast<const TPDFIndRef*>(items_[i]);
    if (item->GetRefNumber() == ref->GetRefNumber() && item->GetRefGeneration() == ref->GetRefGeneration())
      return static_cast<int32_t>(i);
  }
  return -1;
}

bool TPDFArray::IsAllNumeric() const {
  return std::all_of(items_.begin(), items_.end(),
                     [](const TPDFObject* item) { return item && item->GetKind() == pdfkNumeric; });
}

void TPDFArray::Reserve(int32_t n) {
  if (n <= 0) return;
  items_.reserve(items_.size() + static_cast<size_t>(n));
}

// ---------------------------------------------------------------------------
// TPDFDictionary

TPDFDictionary::TPDFDictionary(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkDictionary;
}

void TPDFDictionary::AppendText(std::string& out, int depth) const {
  if (depth >= kMaxObjectDepth) raiseTooDeep();
  const size_t n = entries_.size();
  const bool lines = n > 1 || (owner_ ? owner_->GetMultiLine() : true);
  out += "<<";
  out += lines ? '\n' : ' ';
  // A failing entry raises: writing a file without it would lose data silently.
  for (const TPDFDictEntry& e : entries_) {
    if (e.key) e.key->AppendText(out, depth + 1);
    out += ' ';
    if (e.value) e.value->AppendText(out, depth + 1);
    if (lines && out.back() != '\n') out += '\n';
  }
  if (n == 1 && !lines) out += ' ';
  out += ">>\n";
}

void TPDFDictionary::Release() {
  TPDFObject::Release();
}

void TPDFDictionary::ShiftObjectNumbers(int32_t delta) {
  ShiftAt(delta, 0);
}

void TPDFDictionary::ShiftAt(int32_t delta, int depth) {
  if (depth >= kMaxObjectDepth) raiseTooDeep();
  for (const TPDFDictEntry& e : entries_)
    if (e.value) e.value->ShiftAt(delta, depth + 1);
}

bool TPDFDictionary::HoldsObject(const TPDFObject* obj) const {
  if (!obj) return false;
  for (const TPDFDictEntry& e : entries_)
    if (e.key == obj || e.value == obj) return true;
  return false;
}

TPDFDictEntry TPDFDictionary::GetEntry(int32_t index) const {
  if (index < 0 || index >= GetCount()) return {};
  return entries_[static_cast<size_t>(index)];
}

int32_t TPDFDictionary::IndexOfKey(std::string_view name) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].key && entries_[i].key->GetValue() == name) return static_cast<int32_t>(i);
  return -1;
}

TPDFObject* TPDFDictionary::GetValue(std::string_view name, bool resolve) const {
  int32_t i = IndexOfKey(name);
  if (i < 0) return nullptr;
  TPDFObject* value = entries_[static_cast<size_t>(i)].value;
  return resolve ? PDFResolve(value) : value;
}

void TPDFDictionary::SetValue(std::string_view name, TPDFObject* value) {
  if (value == this) return;
  TPDFName* key = owner_ ? owner_->KeyName(name) : nullptr;
  if (!key) return;
  SetEntry(key, value);
}

void TPDFDictionary::SetEntry(TPDFName* key, TPDFObject* value) {
  if (!key) return;
  int32_t i = IndexOfKey(key->GetValue());
  const TPDFDictEntry entry{key, value};
  if (i >= 0) {
    if (owner_) owner_->noteEntry(this, entries_[static_cast<size_t>(i)], -1);
    entries_[static_cast<size_t>(i)] = entry;
  } else {
    entries_.push_back(entry);
  }
  if (owner_) owner_->noteEntry(this, entry, 1);
}

std::string TPDFDictionary::GetTypeName() const {
  TPDFName* type = PDFAsName(GetValue("Type"));
  return type ? type->GetValue() : std::string();
}

int64_t TPDFDictionary::GetInteger(std::string_view name, int64_t def) const {
  TPDFNumeric* n = PDFAsNumeric(GetValue(name, true));
  return n ? n->AsInteger() : def;
}

TPDFDictionary* TPDFDictionary::GetDictionary(std::string_view name) const {
  return PDFAsDictionary(GetValue(name, true));
}
TPDFArray* TPDFDictionary::GetArray(std::string_view name) const {
  return PDFAsArray(GetValue(name, true));
}
TPDFName* TPDFDictionary::GetName(std::string_view name) const {
  return PDFAsName(GetValue(name, true));
}
TPDFNumeric* TPDFDictionary::GetNumeric(std::string_view name) const {
  return PDFAsNumeric(GetValue(name, true));
}
TPDFStream* TPDFDictionary::GetStream(std::string_view name) const {
  return PDFAsStream(GetValue(name, true));
}
TPDFString* TPDFDictionary::GetString(std::string_view name) const {
  return PDFAsString(GetValue(name, true));
}

double TPDFDictionary::GetNumber(std::string_view name, double def) const {
  TPDFNumeric* n = GetNumeric(name);
  return n ? n->GetValue() : def;
}

std::string TPDFDictionary::GetNameValue(std::string_view name) const {
  TPDFName* n = GetName(name);
  return n ? n->GetValue() : std::string();
}

void TPDFDictionary::DeleteKey(std::string_view name) {
  int32_t i = IndexOfKey(name);
  if (i < 0) return;
  if (owner_) owner_->noteEntry(this, entries_[static_cast<size_t>(i)], -1);
  entries_.erase(entries_.begin() + i);
}

void TPDFDictionary::FreeKey(std::string_view name) {
  int32_t i = IndexOfKey(name);
  if (i < 0) return;
  TPDFDictEntry e = entries_[static_cast<size_t>(i)];
  if (e.value && (e.value->GetKind() == pdfkDictionary || e.value->GetKind() == pdfkArray)) e.value->Release();
  if (owner_ && e.key && commonKeyPosition(e.key->GetValue()) == std::string_view::npos) owner_->FreeObject(e.key);
  // The release may not have changed the entries, but look the key up again
  // rather than trust the index.
  i = IndexOfKey(name);
  if (i < 0) return;
  if (owner_) owner_->noteEntry(this, entries_[static_cast<size_t>(i)], -1);
  entries_.erase(entries_.begin() + i);
}

void TPDFDictionary::Clear() {
  if (owner_) {
    for (const TPDFDictEntry& e : std::vector<TPDFDictEntry>(entries_)) {
      if (e.key) owner_->FreeObject(e.key);
      if (e.value) owner_->FreeObject(e.value);
    }
    for (const TPDFDictEntry& e : entries_) owner_->noteEntry(this, e, -1);
  }
  entries_.clear();
}

void TPDFDictionary::Assign(const TPDFDictionary* other) {
  if (!other || other == this) return;
  const TPDFDictionary* source = other;
  if (other->owner_ != owner_) {
    if (!owner_) return;
    source = PDFAsDictionary(owner_->ParseObject(other->WriteText()));
    if (!source) return;
  }
  if (owner_)
    for (const TPDFDictEntry& e : entries_) owner_->noteEntry(this, e, -1);
  entries_ = source->entries_;
  if (owner_)
    for (const TPDFDictEntry& e : entries_) owner_->noteEntry(this, e, 1);
}

// ---------------------------------------------------------------------------
// TPDFStream (object part; data handling lives in PavonaStructureStream.cpp)

TPDFStream::TPDFStream(TPDFStructure* owner) : TPDFObject(owner) {
  kind_ = pdfkStream;
}

void TPDFStream::AppendText(std::string& out, int depth) const {
  if (depth >= kMaxObjectDepth) raiseTooDeep();
  if (dictionary_) {
    // The stream and its dictionary are one level of nesting.
    dictionary_->AppendText(out, depth);
  } else {
    out += owner_ && !owner_->GetMultiLine() ? "<< >>\n" : "<<\n>>\n";
  }
  out += "stream\n";
  out += data_;
  out += "\nendstream";
}

void TPDFStream::Release() {
  // The stream leaves first so that it no longer holds its dictionary; the
  // dictionary then leaves too unless another live object holds it.
  TPDFObject::Release();
  if (dictionary_) dictionary_->Release();
}

void TPDFStream::ShiftObjectNumbers(int32_t delta) {
  ShiftAt(delta, 0);
}

void TPDFStream::ShiftAt(int32_t delta, int depth) {
  if (depth >= kMaxObjectDepth) raiseTooDeep();
  if (dictionary_) static_cast<TPDFObject*>(dictionary_)->ShiftAt(delta, depth);
}

// The dictionary itself counts as held: the stream uses it for as long as it lives.
bool TPDFStream::HoldsObject(const TPDFObject* obj) const {
  if (!obj || !dictionary_) return false;
  return obj == dictionary_ || dictionary_->HoldsObject(obj);
}

void TPDFStream::SetDictionary(TPDFDictionary* dictionary) {
  TPDFDictionary* old = dictionary_;
  dictionary_ = dictionary;
  if (!owner_) return;
  owner_->noteHold(this, old, -1);
  owner_->noteHold(this, dictionary, 1);
  owner_->trackStreamDictionary(this);
  if (old && old != dictionary) owner_->FreeObject(old);
}

// ---------------------------------------------------------------------------
// TPDFStructure

TPDFStructure::TPDFStructure() {
  Reset();
}

TPDFStructure::~TPDFStructure() {
  destroyAll();
}

void TPDFStructure::destroyAll() {
  live_.clear();
  freedInLive_ = 0;
  nextSerial_ = 0;
  nameIndex_.clear();
  nameIndexedUpTo_ = 0;
  streamsWithFreedDictionary_.clear();
  commonKeys_.clear();
  // Destroying an object runs no code that could fail (containers do not
  // own their children), so nothing needs to be swallowed here.
  owned_.clear();
}

void TPDFStructure::Reset() {
  destroyAll();
  live_.shrink_to_fit();
  owned_.shrink_to_fit();
  precisionText_ = "0.0000";
  precisionDigits_ = 4;
  multiLine_ = 1;
}

void TPDFStructure::Reserve(int32_t n) {
  if (n <= 0) return;
  live_.reserve(live_.size() + static_cast<size_t>(n));
  owned_.reserve(owned_.size() + static_cast<size_t>(n));
}

int32_t TPDFStructure::GetCount() const {
  compactLive();
  return static_cast<int32_t>(live_.size());
}

TPDFObject* TPDFStructure::GetObject(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return live_[static_cast<size_t>(index)];
}

void TPDFStructure::compactLive() const {
  if (freedInLive_ == 0) return;
  std::erase_if(live_, [](const TPDFObject* obj) { return !obj->live_; });
  freedInLive_ = 0;
}

void TPDFStructure::noteHold(const TPDFObject* container, TPDFObject* child, int32_t delta) {
  if (!child || !container->live_ || container->owner_ != this || child->owner_ != this) return;
  child->heldBy_ += delta;
}

void TPDFStructure::noteEntry(const TPDFObject* container, const TPDFDictEntry& entry, int32_t delta) {
  noteHold(container, entry.key, delta);
  noteHold(container, entry.value, delta);
}

void TPDFStructure::dropHolds(TPDFObject* container) {
  switch (container->GetKind()) {
    case pdfkArray:
      for (TPDFObject* item : static_cast<TPDFArray*>(container)->Items()) noteHold(container, item, -1);
      break;
    case pdfkDictionary:
      for (const TPDFDictEntry& e : static_cast<TPDFDictionary*>(container)->Entries()) noteEntry(container, e, -1);
      break;
    case pdfkStream: {
      auto* stream = static_cast<TPDFStream*>(container);
      noteHold(container, stream->dictionary_, -1);
      streamsWithFreedDictionary_.erase(stream);
      break;
    }
    default:
      break;
  }
}

void TPDFStructure::trackStreamDictionary(TPDFStream* stream) {
  const TPDFDictionary* d = stream->dictionary_;
  if (stream->live_ && stream->owner_ == this && d && (d->owner_ != this || !d->live_))
    streamsWithFreedDictionary_.insert(stream);
  else
    streamsWithFreedDictionary_.erase(stream);
}

void TPDFStructure::indexName(TPDFName* name) {
  auto it = nameIndex_.find(std::string_view(name->GetValue()));
  if (it == nameIndex_.end()) it = nameIndex_.emplace(name->GetValue(), std::vector<TPDFName*>()).first;
  std::vector<TPDFName*>& names = it->second;
  // Mostly the newest name: appended; otherwise kept in creation order.
  auto at = std::upper_bound(names.begin(), names.end(), name->serial_,
                             [](uint32_t serial, const TPDFName* n) { return serial < n->serial_; });
  names.insert(at, name);
}

void TPDFStructure::unindexName(TPDFName* name) {
  auto it = nameIndex_.find(std::string_view(name->GetValue()));
  if (it == nameIndex_.end()) return;
  std::vector<TPDFName*>& names = it->second;
  // Searched from the back: renaming happens mostly right after creation.
  auto found = std::find(names.rbegin(), names.rend(), name);
  if (found != names.rend()) names.erase(std::next(found).base());
  if (names.empty()) nameIndex_.erase(it);
}

template <class T>
T* TPDFStructure::make() {
  // The vectors grow geometrically, so creating objects is amortised
  // constant time even for pools of millions of objects.
  auto obj = std::make_unique<T>(this);
  T* raw = obj.get();
  owned_.push_back(std::move(obj));
  live_.push_back(raw);
  raw->live_ = 1;
  raw->serial_ = nextSerial_++;
  return raw;
}

TPDFNull* TPDFStructure::NewNull() {
  return make<TPDFNull>();
}

TPDFBoolean* TPDFStructure::NewBoolean(bool value) {
  TPDFBoolean* b = make<TPDFBoolean>();
  b->SetValue(value);
  return b;
}

TPDFNumeric* TPDFStructure::NewNumeric(double value) {
  TPDFNumeric* n = make<TPDFNumeric>();
  n->SetValue(value);
  return n;
}

TPDFName* TPDFStructure::NewName(std::string_view name) {
  TPDFName* n = make<TPDFName>();
  n->SetValue(name);
  return n;
}

TPDFName* TPDFStructure::KeyName(std::string_view name) {
  TPDFName* key = nullptr;
  if (commonKeyPosition(name) != std::string_view::npos) {
    // The first live name of that text is found once and then remembered:
    // it becomes shared, so it stays live and first until Reset.
    int index = commonKeyIndex(name);
    if (index >= 0) {
      if (commonKeys_.size() < kCommonKeyCount) commonKeys_.resize(kCommonKeyCount, nullptr);
      key = commonKeys_[static_cast<size_t>(index)];
      if (!key) key = commonKeys_[static_cast<size_t>(index)] = FindName(name);
    } else {
      key = FindName(name);
    }
  }
  if (!key) {
    key = NewName(name);
    int index = commonKeyIndex(name);
    if (index >= 0) commonKeys_[static_cast<size_t>(index)] = key;
  }
  key->SetSharedKey(true);
  return key;
}

TPDFString* TPDFStructure::NewString(std::string_view bytes, uint8_t mode) {
  TPDFString* s = make<TPDFString>();
  s->SetValue(bytes);
  s->SetMode(mode);
  return s;
}

TPDFString* TPDFStructure::NewTextString(std::u16string_view text) {
  TPDFString* s = make<TPDFString>();
  s->SetText(text);
  return s;
}

TPDFIndRef* TPDFStructure::NewIndRef(int32_t number, int32_t generation) {
  TPDFIndRef* r = make<TPDFIndRef>();
  r->SetRef(number, generation);
  return r;
}

TPDFArray* TPDFStructure::NewArray() {
  return make<TPDFArray>();
}

TPDFArray* TPDFStructure::NewArrayOf(std::span<TPDFObject* const> objects) {
  TPDFArray* a = make<TPDFArray>();
  a->Reserve(static_cast<int32_t>(objects.size()));
  for (TPDFObject* obj : objects) a->Add(obj);
  return a;
}

TPDFArray* TPDFStructure::NewArrayOf(std::initializer_list<TPDFObject*> objects) {
  return NewArrayOf(std::span<TPDFObject* const>(objects.begin(), objects.size()));
}

TPDFArray* TPDFStructure::NewIntegerArray(std::span<const int32_t> values) {
  TPDFArray* a = make<TPDFArray>();
  a->Reserve(static_cast<int32_t>(values.size()));
  for (int32_t v : values) a->Add(NewNumeric(v));
  return a;
}

TPDFArray* TPDFStructure::NewRealArray(std::span<const double> values) {
  TPDFArray* a = make<TPDFArray>();
  a->Reserve(static_cast<int32_t>(values.size()));
  for (double v : values) a->Add(NewNumeric(v));
  return a;
}

TPDFDictionary* TPDFStructure::NewDictionary() {
  return make<TPDFDictionary>();
}

TPDFStream* TPDFStructure::NewStream(std::string_view bytes, bool compress) {
  TPDFDictionary* d = NewDictionary();
  TPDFStream* s = make<TPDFStream>();
  s->SetDictionary(d);
  s->SetData(bytes, compress);
  return s;
}

TPDFStream* TPDFStructure::NewStreamWith(std::string rawBytes, TPDFDictionary* dictionary) {
  if (!dictionary) dictionary = NewDictionary();
  TPDFStream* s = make<TPDFStream>();
  s->SetDictionary(dictionary);
  // The bytes as they are; /Length stays as the caller's dictionary has it.
  s->data_ = std::move(rawBytes);
  return s;
}

TPDFName* TPDFStructure::FindName(std::string_view text) const {
  // The names made since the last lookup join the index (creation order is
  // the order of owned_); freed ones are left out.
  auto* self = const_cast<TPDFStructure*>(this);
  for (; nameIndexedUpTo_ < owned_.size(); ++nameIndexedUpTo_) {
    TPDFObject* obj = owned_[nameIndexedUpTo_].get();
    if (obj->GetKind() == pdfkName && obj->live_) self->indexName(static_cast<TPDFName*>(obj));
  }
  auto it = nameIndex_.find(text);
  if (it == nameIndex_.end()) return nullptr;
  // Freed names are dropped here rather than when they are freed.
  std::vector<TPDFName*>& names = it->second;
  auto firstLive = std::find_if(names.begin(), names.end(), [](const TPDFName* n) { return n->live_ != 0; });
  names.erase(names.begin(), firstLive);
  if (names.empty()) {
    nameIndex_.erase(it);
    return nullptr;
  }
  return names.front();
}

void TPDFStructure::FreeObject(TPDFObject* obj) {
  if (!obj || obj->owner_ != this || !obj->live_) return;
  if (obj->GetKind() == pdfkName && static_cast<TPDFName*>(obj)->IsSharedKey()) return;
  // Held by a slot of a live container of this pool.
  if (obj->heldBy_ > 0) return;
  for (const TPDFStream* stream : streamsWithFreedDictionary_)
    if (stream->HoldsObject(obj)) return;
  // Only detached: callers may still hold the pointer, so the memory stays
  // with the pool until Reset or destruction.
  dropHolds(obj);
  obj->live_ = 0;
  ++freedInLive_;
}

void TPDFStructure::ShiftReferences(int32_t delta, bool zeroGenerations) {
  compactLive();
  for (TPDFObject* obj : live_) {
    if (obj->GetKind() != pdfkIndRef) continue;
    auto* ref = static_cast<TPDFIndRef*>(obj);
    obj->ShiftAt(delta, 0);
    if (zeroGenerations) ref->SetRef(ref->GetRefNumber(), 0);
  }
}

void TPDFStructure::SetPrecision(int32_t digits) {
  precisionDigits_ = std::clamp(digits, 0, 15);
  precisionText_ = precisionDigits_ > 0 ? "0." + std::string(static_cast<size_t>(precisionDigits_), '0') : "0";
}
