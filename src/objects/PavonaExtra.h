// The engine's lists, text encodings (Unicode, PDF text strings,
// PDFDocEncoding), PDF dates, number and text helpers, page ranges, and
// files on UTF-16 paths.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/Classes.h"

// ---------------------------------------------------------------------------
// Lists

struct TPavonaStringItem {
  std::string text;
  void* object = nullptr;  // never owned
};

enum class TPavonaDuplicates : uint8_t { dupIgnore = 0, dupAccept = 1 };

// Ordered list of (byte string, object) pairs, optionally sorted (binary
// search); case-insensitive unless made case-sensitive.
class TPavonaStringList {
public:
  TPavonaStringList() = default;
  virtual ~TPavonaStringList() = default;

  int32_t Add(std::string_view s) { return AddObject(s, nullptr); }
  int32_t AddObject(std::string_view s, void* object);
  void Insert(int32_t index, std::string_view s) { InsertObject(index, s, nullptr); }
  void InsertObject(int32_t index, std::string_view s, void* object);
  void Delete(int32_t index);
  void Clear();
  // An empty string for an index out of range.
  const std::string& GetString(int32_t index) const;
  void SetString(int32_t index, std::string_view s);
  void* GetObject(int32_t index) const;
  void SetObject(int32_t index, void* object);
  int32_t GetCount() const { return static_cast<int32_t>(items_.size()); }
  int32_t GetCapacity() const { return capacity_; }
  void SetCapacity(int32_t n);
  bool GetSorted() const { return sorted_; }
  void SetSorted(bool sorted);
  TPavonaDuplicates GetDuplicates() const { return duplicates_; }
  void SetDuplicates(TPavonaDuplicates d) { duplicates_ = d; }
  bool GetCaseSensitive() const { return caseSensitive_; }
  void Sort();
  bool Find(std::string_view s, int32_t& index) const;
  int32_t IndexOf(std::string_view s) const;
  int32_t IndexOfName(std::string_view name) const;
  std::string GetValueOf(std::string_view name) const;
  int32_t IndexOfObject(const void* object) const;
  void AddStrings(const TPavonaStringList& other);
  void SaveToStream(TStream& stream) const;
  std::string GetText() const;
  void SetText(std::string_view text);

protected:
  int compare(std::string_view a, std::string_view b) const;
  bool caseSensitive_ = false;

private:
  void grow();
  std::vector<TPavonaStringItem> items_;
  int32_t capacity_ = 0;
  bool sorted_ = false;
  TPavonaDuplicates duplicates_ = TPavonaDuplicates::dupIgnore;
};

class TPavonaCaseSensitiveStringList : public TPavonaStringList {
public:
  TPavonaCaseSensitiveStringList() { caseSensitive_ = true; }
};

class TPavonaIntegerList {
public:
  void Add(int32_t value) { items_.push_back(value); }
  // 0 for an index out of range.
  int32_t Get(int32_t index) const {
    return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)] : 0;
  }
  int32_t GetCount() const { return static_cast<int32_t>(items_.size()); }
  int32_t IndexOf(int32_t value) const;
  void Sort();
  void Clear() { items_.clear(); }

private:
  std::vector<int32_t> items_;
};

class TSortedNumberList {
public:
  void Add(int32_t n) { list_.Add(n); }
  void Sort() { list_.Sort(); }
  // On a sorted list: the first number greater than n; the last when none is;
  // 0 when empty.
  int32_t Find(int32_t n) const;
  int32_t GetCount() const { return list_.GetCount(); }

private:
  TPavonaIntegerList list_;
};

// Set of unsigned 32-bit values (object numbers). Memory grows with the
// number of values added, not with their magnitude: small values (the object
// numbers of real documents) are bits in a bounded bitmap, larger ones go to
// a hash set.
class TPVLSortedUniqueIntegerList {
public:
  // Test-and-set: true when the value was not yet present.
  bool Add(uint32_t value);
  bool Contains(uint32_t value) const;
  void Clear();

private:
  static constexpr uint32_t kDenseLimit = 1u << 20;  // the bitmap is at most 128 KB
  std::vector<uint64_t> dense_;
  std::unordered_set<uint32_t> sparse_;
};

// ---------------------------------------------------------------------------
// Unicode and PDF text strings

extern const char16_t kReplacementChar;  // U+FFFD
extern const char16_t kByteOrderMark;    // U+FEFF

// Unicode converters. Forms, error policy and byte-order-mark modes as
// numbered in the converters' documentation (see PavonaExtraText.cpp).
bool UTF8ToUTF16(std::string_view bytes, std::u16string& out, int errorPolicy, int bomMode, int outputForm);
bool UTF16Recode(std::u16string_view text, std::u16string& out, int inputForm, int errorPolicy, int bomMode,
                 int outputForm);
bool UTF16ToUTF8(std::u16string_view text, std::string& out, int inputForm, int errorPolicy, int bomMode);

std::u16string UTF8ToWide(std::string_view bytes);
bool IsValidUTF8(std::string_view bytes);
std::string WideToUTF8(std::u16string_view text);
std::u16string PDFTextOrUTF8ToWide(std::string_view bytes);
std::u16string UnpackWideText(std::u16string_view text);

// The PDFDocEncoding table (256 UTF-16 units).
const char16_t* PDFDocEncodingTable();
std::string WideToPDFText(std::u16string_view text, bool forceUnicode = false);
std::u16string PDFTextToWide(std::string_view bytes);
// Code of a unit in PDFDocEncoding; -1 when none.
int32_t UnicodeToPDFDoc(char16_t unit);
std::string WideToPDFDocBytes(std::u16string_view text);
// PDF text string to single bytes for places that only take 8-bit text:
// PDFDocEncoding where possible, "?" for characters without a code.
std::string PDFTextToPlainBytes(std::string_view pdfText);
std::u16string AsciiToWide(std::string_view bytes);
std::u16string AnsiToWideBytes(std::string_view bytes);
// The ANSI code page here is Windows-1252.
std::string WideToAnsi(std::u16string_view text);

// ---------------------------------------------------------------------------
// PDF dates

std::string PDFDateNow();
std::string FormatPDFDate(TDateTime value, bool shift = false);
// The zone suffix for an offset in minutes east of UTC: "Z", "+05'30'", "-03'00'".
std::string FormatPDFZone(int offsetMinutes);

// ---------------------------------------------------------------------------
// Numbers and text

std::string FormatPDFNumber(int32_t digits, double value);
std::string FormatFloatPadded(int32_t width, int32_t digits, double value);
std::string ZeroPadInt(int64_t n, int32_t width);
double PDFTextToFloat(std::string_view text);
bool IsNumberText(std::string_view text);
std::string IntegerToString(int64_t value);
std::string IntToHexStr(int64_t value, int32_t digits);
std::string FloatToStrA(double value);
std::string FormatFloatA(std::string_view pattern, double value);
std::string FormatDateTimeA(std::string_view pattern, TDateTime value);
// Raise EConvertError on bad text; accept a sign and "$" for hexadecimal.
int32_t StringToInt(std::string_view text);
double StringToFloat(std::string_view text);
int32_t StringToIntDef(std::string_view text, int32_t def);
int64_t StringToInt64Def(std::string_view text, int64_t def);
std::string UpperCaseA(std::string_view text);
std::string LowerCaseA(std::string_view text);
std::string TrimStr(std::string_view text);
// 1-based start.
std::string MidStr(std::string_view text, int32_t start, int32_t count);
// 1-based position, 0 when absent.
int32_t PosStr(std::string_view part, std::string_view text);
std::string StringReplaceA(std::string_view text, std::string_view oldPart, std::string_view newPart,
                           bool all = true, bool ignoreCase = false);
std::string CopyString(std::string_view text);
std::string UniqueCopyString(std::string_view text);
int CompareTextA(std::string_view a, std::string_view b);
int CompareStrA(std::string_view a, std::string_view b);
std::u16string WideTrimSpaces(std::u16string_view text);
constexpr int32_t wsrReplaceAll = 1;
constexpr int32_t wsrIgnoreCase = 2;
std::u16string WideStringReplace(std::u16string_view text, std::u16string_view oldPart, std::u16string_view newPart,
                                 int32_t flags);
std::u16string WideInsert(std::u16string_view part, std::u16string_view text, int32_t position);
int32_t WidePos(std::u16string_view part, std::u16string_view text);
std::string BoolToTF(bool value);
bool IsTrueText(std::string_view text);
bool IsNaNSingle(uint32_t bits);
int64_t MillisecondsSince(TDateTime time, bool isUTC);

struct TPageRangeOptions {
  bool sort = false;
  bool acceptRepeats = false;
  bool failOnRepeat = false;
  bool strict = false;       // fail on characters other than digits, "," and "-"
  bool failOutOfRange = false;
};
// Pages named by text ("1,3-5"), limited to lowest..highest. False (and an
// empty list) on failure.
bool ParsePageRanges(std::string_view text, int32_t lowest, int32_t highest, std::vector<int32_t>& pages,
                     const TPageRangeOptions& options = {});

// ---------------------------------------------------------------------------
// Files on UTF-16 paths

// UTF-16 path to the UTF-8 path the system takes.
std::string WidePathToNative(std::u16string_view path);
std::u16string NativePathToWide(std::string_view path);

using TPavonaFileHandle = int;
constexpr TPavonaFileHandle kInvalidFileHandle = -1;

// File stream on a UTF-16 path. Modes as the class library's (fmCreate,
// access | sharing). Sharing is advisory here (flock): it holds between the
// engine's own streams.
class TPavonaWideFileStream : public TFileStream {
public:
  // Adopts an open handle (closed by the destructor); path is the native
  // path, used in error messages.
  explicit TPavonaWideFileStream(TPavonaFileHandle handle, std::string path = {});
  int64_t Read(void* buffer, int64_t count) override;
  // Raises EWriteError with the path and the reason when not every byte is written.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Moves to newSize and ends the file there; raises EOSError on failure.
  void SetSize(int64_t newSize) override;
};

// Raises EFCreateError ("Error: <path>: <reason>") when the file cannot be opened or created.
std::unique_ptr<TPavonaWideFileStream> CreateWideFileStream(std::u16string_view path, uint16_t mode);
TPavonaFileHandle WideFileOpen(std::u16string_view path, uint16_t mode);
TPavonaFileHandle WideFileCreate(std::u16string_view path);
int32_t WideFileAge(std::u16string_view path);
bool WideFileExists(std::u16string_view path);
bool WideDirectoryExists(std::u16string_view path);
bool DeleteFileWide(std::u16string_view path);
std::u16string WideExtractFileName(std::u16string_view path);
std::u16string WideExtractFilePath(std::u16string_view path);
std::u16string WideExtractFileExt(std::u16string_view path);
void StreamInsertString(TMemoryStream& stream, std::string_view bytes, int64_t position);
