// PDF objects, the object pool that owns them, the object syntax parser and
// name trees.
//
// Every PDF value is a TPDFObject made by one TPDFStructure (the pool). The
// pool owns its objects; objects point at each other without owning. Objects
// are never destroyed while the pool lives: FreeObject only detaches an
// object from the pool's live list (so it is no longer counted or visited),
// and the memory is returned on Reset or when the pool is destroyed. Pointers
// held by callers therefore stay valid until Reset.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Classes.h"

class TPDFStructure;
class TPDFNull;
class TPDFBoolean;
class TPDFNumeric;
class TPDFString;
class TPDFName;
class TPDFArray;
class TPDFDictionary;
class TPDFStream;
class TPDFIndRef;
class TPavonaWideFileStream;

// Error raised by the object layer (for example an object that cannot be
// written because it nests too deeply or contains itself).
class EPDFError : public Exception {
public:
  using Exception::Exception;
};

// Kind letters of the object classes.
constexpr char pdfkNull = '0';
constexpr char pdfkArray = 'A';
constexpr char pdfkBoolean = 'B';
constexpr char pdfkDictionary = 'D';
constexpr char pdfkIndRef = 'I';
constexpr char pdfkName = 'N';
constexpr char pdfkStream = 'S';
constexpr char pdfkNumeric = 'n';
constexpr char pdfkString = 's';

// Deepest nesting of arrays and dictionaries that is parsed, written or released.
constexpr int kMaxObjectDepth = 256;

class TPDFObject {
public:
  explicit TPDFObject(TPDFStructure* owner) : owner_(owner) {}
  virtual ~TPDFObject() = default;
  TPDFObject(const TPDFObject&) = delete;
  TPDFObject& operator=(const TPDFObject&) = delete;

  // The object as PDF syntax. Raises EPDFError when it cannot be written
  // (nesting deeper than kMaxObjectDepth, a container inside itself).
  std::string WriteText() const;
  // Appends the PDF syntax to out; depth is the current container depth.
  virtual void AppendText(std::string& out, int depth) const = 0;
  // Hands the object back to its pool: detached from the live objects unless
  // a live container still holds it.
  virtual void Release();
  // Adds delta to the object number of every reference below this object.
  virtual void ShiftObjectNumbers(int32_t delta);
  // True when obj is a direct child of this object.
  virtual bool HoldsObject(const TPDFObject* obj) const;

  void SetIndirect(int32_t number, int32_t generation);
  TPDFStructure* GetOwner() const { return owner_; }
  bool IsIndirect() const { return indirect_ != 0; }
  int32_t GetObjectNumber() const { return objectNumber_; }
  int32_t GetGeneration() const { return generation_; }
  char GetKind() const { return kind_; }

  // Checked down-casts by kind; nullptr when the object is of another kind
  // (also callable on a null pointer through the free functions below).
  TPDFBoolean* AsBoolean();
  TPDFNumeric* AsNumeric();
  TPDFString* AsString();
  TPDFName* AsName();
  TPDFArray* AsArray();
  TPDFDictionary* AsDictionary();
  TPDFStream* AsStream();
  TPDFIndRef* AsIndRef();

protected:
  // Raises EPDFError beyond kMaxObjectDepth (deep nesting or a container inside itself).
  virtual void ShiftAt(int32_t delta, int depth);
  friend class TPDFArray;
  friend class TPDFDictionary;
  friend class TPDFStream;
  friend class TPDFStructure;

  TPDFStructure* owner_;
  uint8_t indirect_ = 0;
  int32_t objectNumber_ = 0;
  int32_t generation_ = 0;
  char kind_ = 0;

  // Pool bookkeeping, so that freeing and name lookup need no scan of the
  // live objects: whether the object is in its pool's live list, how many
  // slots of live containers of the same pool hold it, and its place in
  // creation order (the order of the live list).
  uint8_t live_ = 0;
  int32_t heldBy_ = 0;
  uint32_t serial_ = 0;
};

// Null-safe kind tests and casts: PDFAsDictionary(obj) is nullptr when obj is
// nullptr or not a dictionary.
inline bool PDFIsKind(const TPDFObject* obj, char kind) {
  return obj && obj->GetKind() == kind;
}
TPDFBoolean* PDFAsBoolean(TPDFObject* obj);
TPDFNumeric* PDFAsNumeric(TPDFObject* obj);
TPDFString* PDFAsString(TPDFObject* obj);
TPDFName* PDFAsName(TPDFObject* obj);
TPDFArray* PDFAsArray(TPDFObject* obj);
TPDFDictionary* PDFAsDictionary(TPDFObject* obj);
TPDFStream* PDFAsStream(TPDFObject* obj);
TPDFIndRef* PDFAsIndRef(TPDFObject* obj);

class TPDFNull : public TPDFObject {
public:
  explicit TPDFNull(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
};

class TPDFBoolean : public TPDFObject {
public:
  explicit TPDFBoolean(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  bool GetValue() const { return value_ != 0; }
  void SetValue(bool value) { value_ = value ? 1 : 0; }

private:
  uint8_t value_ = 0;
};

class TPDFNumeric : public TPDFObject {
public:
  explicit TPDFNumeric(TPDFStructure* owner);
  // Fixed-point text at the pool's precision; never an exponent, NaN or infinity.
  void AppendText(std::string& out, int depth) const override;
  double GetValue() const { return value_; }
  void SetValue(double value) { value_ = value; }
  // Rounded to the nearest integer, halves to even; NaN gives 0 and values
  // beyond the 64-bit range saturate.
  int64_t AsInteger() const;

private:
  double value_ = 0;
};

// String modes.
constexpr uint8_t psmLiteral = 0;
constexpr uint8_t psmHex = 1;

class TPDFString : public TPDFObject {
public:
  explicit TPDFString(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  const std::string& GetValue() const { return value_; }
  void SetValue(std::string_view bytes) { value_ = bytes; }
  uint8_t GetMode() const { return mode_; }
  void SetMode(uint8_t mode) { mode_ = mode; }
  // The value decoded as a PDF text string.
  std::u16string GetText() const;
  // Value = PDF text string of the text, literal mode.
  void SetText(std::u16string_view text);

private:
  std::string value_;
  uint8_t mode_ = psmLiteral;
};

class TPDFName : public TPDFObject {
public:
  explicit TPDFName(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  const std::string& GetValue() const { return value_; }
  // Keeps the pool's name index (when it has one) in step.
  void SetValue(std::string_view name);
  bool IsSharedKey() const { return sharedKey_ != 0; }
  void SetSharedKey(bool shared) { sharedKey_ = shared ? 1 : 0; }

private:
  std::string value_;
  uint8_t sharedKey_ = 0;
};

class TPDFArray : public TPDFObject {
public:
  explicit TPDFArray(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  void Release() override;
  void ShiftObjectNumbers(int32_t delta) override;
  bool HoldsObject(const TPDFObject* obj) const override;

  int32_t GetCount() const { return static_cast<int32_t>(items_.size()); }
  // The item (never resolved); nullptr out of range.
  TPDFObject* GetItem(int32_t index) const;
  void Add(TPDFObject* obj);
  // 0 <= index <= count; other indexes do nothing.
  void Insert(int32_t index, TPDFObject* obj);
  // Offers the item to the pool's FreeObject and removes it.
  void Delete(int32_t index);
  void ReplaceItem(int32_t index, TPDFObject* obj);
  void RemoveObject(TPDFObject* obj, bool byText = false);
  bool ContainsText(std::string_view text) const;
  int32_t IndexOfRef(const TPDFIndRef* ref) const;
  bool IsAllNumeric() const;
  // Capacity for n more items.
  void Reserve(int32_t n);
  const std::vector<TPDFObject*>& Items() const { return items_; }

protected:
  void ShiftAt(int32_t delta, int depth) override;

private:
  friend struct TPDFSyntaxParser;
  std::vector<TPDFObject*> items_;
};

struct TPDFDictEntry {
  TPDFName* key = nullptr;
  TPDFObject* value = nullptr;
};

class TPDFDictionary : public TPDFObject {
public:
  explicit TPDFDictionary(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  void Release() override;
  void ShiftObjectNumbers(int32_t delta) override;
  bool HoldsObject(const TPDFObject* obj) const override;

  int32_t GetCount() const { return static_cast<int32_t>(entries_.size()); }
  // (nullptr, nullptr) out of range.
  TPDFDictEntry GetEntry(int32_t index) const;
  int32_t IndexOfKey(std::string_view name) const;
  // The value, nullptr when absent; with resolve, a reference is replaced by
  // the object it names (one level).
  TPDFObject* GetValue(std::string_view name, bool resolve = false) const;
  void SetValue(std::string_view name, TPDFObject* value);
  void SetEntry(TPDFName* key, TPDFObject* value);
  std::string GetTypeName() const;
  // The value (resolved) when numeric, rounded; else the default.
  int64_t GetInteger(std::string_view name, int64_t def) const;
  // Convenience typed lookups; each resolves one level and returns nullptr
  // when the value is missing or of another kind.
  TPDFDictionary* GetDictionary(std::string_view name) const;
  TPDFArray* GetArray(std::string_view name) const;
  TPDFName* GetName(std::string_view name) const;
  TPDFNumeric* GetNumeric(std::string_view name) const;
  TPDFStream* GetStream(std::string_view name) const;
  TPDFString* GetString(std::string_view name) const;
  // The resolved value as a number, else def.
  double GetNumber(std::string_view name, double def) const;
  // The /name value (resolved) as text, else empty.
  std::string GetNameValue(std::string_view name) const;
  void DeleteKey(std::string_view name);
  void FreeKey(std::string_view name);
  void Clear();
  void Assign(const TPDFDictionary* other);
  const std::vector<TPDFDictEntry>& Entries() const { return entries_; }

protected:
  void ShiftAt(int32_t delta, int depth) override;

private:
  friend struct TPDFSyntaxParser;
  std::vector<TPDFDictEntry> entries_;
};

// Outcome of decoding stream data.
enum class TPDFDecodeStatus : uint8_t {
  dsOk,        // every filter decoded its input completely
  dsDamaged,   // some data was damaged; the bytes decoded before the damage are kept
  dsTooLarge,  // the decoded size passed the limit; the result is empty
  dsFailed     // a filter could not decode at all; the result is empty
};

class TPDFStream : public TPDFObject {
public:
  explicit TPDFStream(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  void Release() override;
  void ShiftObjectNumbers(int32_t delta) override;
  bool HoldsObject(const TPDFObject* obj) const override;

  TPDFDictionary* GetDictionary() const { return dictionary_; }
  void SetDictionary(TPDFDictionary* dictionary);
  const std::string& GetData() const { return data_; }
  // The document layer's link (the object stream holding this one); nullptr at creation.
  TPDFObject* GetLinkedObject() const { return linked_; }
  void SetLinkedObject(TPDFObject* obj) { linked_ = obj; }

  // The data with the whole /Filter chain undone; status tells whether the
  // result is complete.
  std::string GetDecodedData(TPDFDecodeStatus* status = nullptr) const;
  std::u16string GetDecodedText() const;
  // Stores the bytes as they are; /Length follows.
  void SetRawData(std::string bytes);
  // With compress: Flate-compressed with /Filter /FlateDecode (uncompressed
  // without /Filter when compression fails); without: as they are, no
  // /Filter. A stale /DecodeParms is removed in both cases.
  void SetData(std::string_view bytes, bool compress);
  // The whole file (from position 0) as the data, compressed as SetData
  // does; an empty file leaves /Filter as it is.
  void LoadFromFile(TPavonaWideFileStream& file, bool compress);
  // The same for the file at a UTF-16 path; raises when it cannot be opened.
  void LoadFromFile(std::u16string_view path, bool compress);

protected:
  void ShiftAt(int32_t delta, int depth) override;

private:
  friend class TPDFStructure;
  TPDFDictionary* dictionary_ = nullptr;
  std::string data_;
  TPDFObject* linked_ = nullptr;
};

class TPDFIndRef : public TPDFObject {
public:
  explicit TPDFIndRef(TPDFStructure* owner);
  void AppendText(std::string& out, int depth) const override;
  void ShiftObjectNumbers(int32_t delta) override;
  int32_t GetRefNumber() const { return refNumber_; }
  int32_t GetRefGeneration() const { return refGeneration_; }
  void SetRef(int32_t number, int32_t generation) {
    refNumber_ = number;
    refGeneration_ = generation;
  }
  // The object named, through the pool's lookup callback; nullptr when none.
  TPDFObject* Resolve();

protected:
  void ShiftAt(int32_t delta, int depth) override;

private:
  int32_t refGeneration_ = 0;
  int32_t refNumber_ = 0;
};

// Resolves obj when it is a reference (one level); otherwise obj itself.
TPDFObject* PDFResolve(TPDFObject* obj);

// Object lookup: (asking reference, object number, generation) -> object or nullptr.
using TPDFLookupCallback = std::function<TPDFObject*(TPDFIndRef* sender, int32_t number, int32_t generation)>;
// A reader's lookup: the object an indirect reference names (set by the owner
// of a colour space or an image; without it references resolve through
// their pool).
using TPDFObjectLookup = std::function<TPDFObject*(TPDFIndRef* ref)>;
// Object numbering: makes obj a new indirect object of the document and
// returns its number and generation.
using TPDFNumberingCallback =
    std::function<void(TPDFStructure* sender, TPDFObject* obj, int32_t& number, int32_t& generation)>;

class TPDFStructure {
public:
  TPDFStructure();
  ~TPDFStructure();
  TPDFStructure(const TPDFStructure&) = delete;
  TPDFStructure& operator=(const TPDFStructure&) = delete;

  // Frees every object (all earlier pointers become invalid) and restores
  // the defaults: precision "0.0000" / 4 digits, multi-line dictionaries.
  void Reset();
  void Reserve(int32_t n);
  int32_t GetCount() const;
  TPDFObject* GetObject(int32_t index) const;

  TPDFNull* NewNull();
  TPDFBoolean* NewBoolean(bool value);
  TPDFNumeric* NewNumeric(double value);
  TPDFName* NewName(std::string_view name);
  TPDFName* KeyName(std::string_view name);
  TPDFString* NewString(std::string_view bytes, uint8_t mode = psmLiteral);
  TPDFString* NewTextString(std::u16string_view text);
  TPDFIndRef* NewIndRef(int32_t number, int32_t generation);
  TPDFArray* NewArray();
  TPDFArray* NewArrayOf(std::span<TPDFObject* const> objects);
  TPDFArray* NewArrayOf(std::initializer_list<TPDFObject*> objects);
  TPDFArray* NewIntegerArray(std::span<const int32_t> values);
  TPDFArray* NewRealArray(std::span<const double> values);
  TPDFDictionary* NewDictionary();
  TPDFStream* NewStream(std::string_view bytes, bool compress);
  TPDFStream* NewStreamWith(std::string rawBytes, TPDFDictionary* dictionary);

  TPDFName* FindName(std::string_view text) const;
  // Detaches obj from the live objects unless it is a shared key name or a
  // live object still holds it. Its memory is kept until Reset.
  void FreeObject(TPDFObject* obj);
  void ShiftReferences(int32_t delta, bool zeroGenerations);

  // Object syntax (parser). Never nullptr: a null object when nothing could
  // be read (also for nesting deeper than kMaxObjectDepth); consumed is 0
  // then. consumed counts leading white space and comments, not what follows.
  TPDFObject* ParseObject(std::string_view text);
  TPDFObject* ParseObjectEx(std::string_view text, size_t& consumed);
  std::string UnescapeLiteral(std::string_view text) const;
  std::string HexToBytes(std::string_view text) const;

  // Settings and callbacks.
  bool GetMultiLine() const { return multiLine_ != 0; }
  void SetMultiLine(bool on) { multiLine_ = on ? 1 : 0; }
  int32_t GetPrecisionDigits() const { return precisionDigits_; }
  const std::string& GetPrecisionText() const { return precisionText_; }
  // Sets the decimals written for numbers (0..15); the text follows ("0.0000").
  void SetPrecision(int32_t digits);
  TPDFLookupCallback OnLookupObject;
  TPDFNumberingCallback OnGetObjectNumber;

private:
  friend class TPDFObject;
  friend class TPDFName;
  friend class TPDFArray;
  friend class TPDFDictionary;
  friend class TPDFStream;
  friend struct TPDFSyntaxParser;

  template <class T>
  T* make();
  void destroyAll();
  // Drops freed objects from the live list (they are only marked when freed,
  // so that freeing is constant time); keeps the order of the others.
  void compactLive() const;
  // Holder bookkeeping: container (of this pool) gains or loses a slot that
  // holds child. Only live containers and children of this pool count.
  void noteHold(const TPDFObject* container, TPDFObject* child, int32_t delta);
  void noteEntry(const TPDFObject* container, const TPDFDictEntry& entry, int32_t delta);
  // The container leaves the live list: its children lose its holds.
  void dropHolds(TPDFObject* container);
  // A live stream whose dictionary is not live holds that dictionary's
  // entries itself; such streams are listed (rare) and asked directly.
  void trackStreamDictionary(TPDFStream* stream);
  // Name index (text -> names in creation order). It is brought up to date
  // by FindName (the names made since its last call are added then), so
  // that making names costs nothing extra; only renaming a name already in
  // the index updates it at once.
  void indexName(TPDFName* name);
  void unindexName(TPDFName* name);
  struct TTextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };

  mutable std::vector<TPDFObject*> live_;
  mutable size_t freedInLive_ = 0;
  uint32_t nextSerial_ = 0;
  std::vector<std::unique_ptr<TPDFObject>> owned_;
  mutable size_t nameIndexedUpTo_ = 0;  // objects (in creation order) already seen by the index
  mutable std::unordered_map<std::string, std::vector<TPDFName*>, TTextHash, std::equal_to<>> nameIndex_;
  std::unordered_set<TPDFStream*> streamsWithFreedDictionary_;
  // Interned common key names by their place in the common list (nullptr
  // until first asked for).
  std::vector<TPDFName*> commonKeys_;
  uint8_t multiLine_ = 1;
  std::string precisionText_ = "0.0000";
  int32_t precisionDigits_ = 4;
};

// Decodes a hex string with its "<" and ">"; empty when they are missing.
std::string HexStringToBytes(std::string_view text);

// A name tree: (string key, value) pairs in /Names arrays of its leaves. A
// root with /Names is a single-node tree; a root with /Kids is walked (with a
// depth cap and a guard against cycles) and its leaves are taken in tree
// order, which is key order in a well-formed tree. Keys compare as unsigned
// byte strings; a dangling key at the end of an odd-length /Names is ignored.
class TPDFNameTree {
public:
  TPDFNameTree(TPDFStructure* pool, TPDFDictionary* root);
  // Replaces the value of an existing key, else inserts the pair in sorted
  // position (in the leaf whose /Limits cover the name, or the nearest one,
  // whose /Limits then follow).
  void Add(std::string_view name, TPDFIndRef* ref);
  // The value of the last pair with that key whose value is a reference.
  TPDFIndRef* GetValue(std::string_view name) const;
  bool Delete(std::string_view name);
  bool Contains(std::string_view name) const;
  int32_t GetCount() const;
  // The n-th key (1-based); empty out of range.
  std::string GetName(int32_t n) const;
  bool IsSingleNode() const { return singleNode_; }

private:
  struct TLeaf {
    TPDFArray* names = nullptr;
    // The nodes from the root's child down to the leaf itself (their /Limits
    // follow an Add).
    std::vector<TPDFDictionary*> path;
  };
  void collectLeaves(TPDFDictionary* node, std::vector<TPDFDictionary*>& path,
                     std::unordered_set<const TPDFObject*>& visited, int depth);
  // Leaf and item index of the last pair with that key (and a reference
  // value when refOnly); false when none.
  bool findPair(std::string_view name, bool refOnly, size_t& leaf, int32_t& index) const;
  size_t chooseLeaf(std::string_view name) const;
  void widenLimits(const TLeaf& leaf, std::string_view name);

  TPDFStructure* pool_;
  TPDFDictionary* root_;
  bool singleNode_ = false;
  std::vector<TLeaf> leaves_;
};
