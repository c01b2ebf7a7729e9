// The document's cross-reference entries, the lazy object table, object
// streams and new indirect objects.
#include <algorithm>
#include <limits>

#include "objects/PavonaCharClass.h"
#include "objects/PavonaFlate.h"
#include "document/PavonaDocument.h"
#include "document/PavonaXRef.h"

namespace {

// Nested loads (a stream whose Length is another object, an object inside an
// object stream) deeper than this read as missing, so that a hostile chain
// cannot exhaust the stack.
constexpr int32_t kMaxLoadDepth = 64;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isWhite(char c) {
  return PDFIsWhite(c);
}
bool isDelimiter(char c) {
  return PDFIsDelimiter(c);
}

// Skips bytes that are neither digits nor "." and reads the run of digits
// and "." that follows; false when it is not a plain integer.
bool readObjectHeaderNumber(std::string_view text, size_t& p, int64_t& value) {
  while (p < text.size() && !isDigit(text[p]) && text[p] != '.') ++p;
  size_t start = p;
  while (p < text.size() && (isDigit(text[p]) || text[p] == '.')) ++p;
  std::string_view run = text.substr(start, p - start);
  if (run.empty() || run.size() > 10) return false;
  value = 0;
  for (char c : run) {
    if (!isDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// True when text starts with "N G obj" for this number and generation
// (after blanks only: a header found behind other bytes means the offset
// is wrong and the slice cut to it is likely short).
bool startsWithHeader(std::string_view text, int32_t number, int32_t generation) {
  size_t p = 0;
  while (p < text.size() && isWhite(text[p])) ++p;
  if (p >= text.size() || !isDigit(text[p])) return false;
  int64_t n = 0, g = 0;
  if (!readObjectHeaderNumber(text, p, n) || n != number) return false;
  if (!readObjectHeaderNumber(text, p, g) || g != generation) return false;
  while (p < text.size() && isWhite(text[p])) ++p;
  return text.compare(p, 3, "obj") == 0;
}

// Removes one end of line (CR LF, LF or CR) before end.
size_t stripEOL(std::string_view text, size_t start, size_t end) {
  if (end > start && text[end - 1] == '\n') --end;
  if (end > start && text[end - 1] == '\r') --end;
  return end;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and reset

TPDFDocument::TPDFDocument() : pool_(std::make_unique<TPDFStructure>()) {
  pool_->OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) { return LookupObject(number); };
  pool_->OnGetObjectNumber = [this](TPDFStructure* sender, TPDFObject* obj, int32_t& number, int32_t& generation) {
    RegisterIndirect(sender, obj, number, generation);
  };
  Clear();
}

TPDFDocument::~TPDFDocument() {
  // Records and caches point into the pool: drop them before it.
  table_.clear();
  objectStreams_.clear();
}

void TPDFDocument::resetObjectState() {
  pendingInfo_.clear();
  table_.clear();
  storedObjectCount_ = 0;
  indexNumbers_.clear();
  indexPositions_.clear();
  objectStreams_.clear();
  objectStreamIndex_.clear();
  entries_.clear();
  defined_.Clear();
  highestNumber_ = 0;
  sectionOffsets_.clear();
  trailerSeen_ = false;
  reconstructed_ = false;
  fullyReconstructed_ = false;
  loadDepth_ = 0;
  scanned_.clear();
  scannedMade_ = false;
  warnings_.clear();
}

void TPDFDocument::warn(std::string message) {
  if (warnings_.size() < kMaxWarnings) warnings_.push_back(std::move(message));
}

std::string TPDFDocument::objectPlace(const TPDFIndObj* record, int64_t offsetInRecord) const {
  std::string place = "object " + std::to_string(record->Number) + " " + std::to_string(record->Generation);
  if (record->Compressed) return place + " in object stream " + std::to_string(record->StreamNumber);
  return place + " at offset " + std::to_string(record->Offset + offsetInRecord);
}

void TPDFDocument::Clear() {
  pageTree_.reset();  // these point into the pool
  form_.reset();
  formLoaded_ = false;
  embeddedTree_.reset();
  fonts_.clear();
  images_.clear();
  resetObjectState();
  pool_->Reset();
  trailer_ = pool_->NewDictionary();
  newIDSeed_.clear();
  fileText_.clear();
  encryption_ = TPDFEncryption();
  password_.clear();
  openedWithoutPassword_ = false;
  linearized_ = false;
  newPageTree(nullptr);
}

void TPDFDocument::SetFileText(std::string text) {
  fileText_ = std::move(text);
}

TPDFIndObj* TPDFDocument::GetIndObj(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(table_.size())) return nullptr;
  return table_[static_cast<size_t>(index)].get();
}

// ---------------------------------------------------------------------------
// Cross-reference callbacks

void TPDFDocument::OnXRefEntry(int32_t number, int64_t second, char kind, int32_t third) {
  if (number < 0 || number > kMaxObjectNumber) return;
  highestNumber_ = std::max(highestNumber_, number);
  TPDFXRefEntry entry;
  entry.Number = number;
  switch (kind) {
    case 'n':
      if (!defined_.Add(static_cast<uint32_t>(number))) return;
      entry.Offset = second;
      entry.Generation = third;
      break;
    case 'c':
      if (!defined_.Add(static_cast<uint32_t>(number))) return;
      if (second < 0 || second > kMaxObjectNumber) return;
      entry.Compressed = true;
      entry.StreamNumber = static_cast<int32_t>(second);
      entry.StreamIndex = third;
      break;
    case 'f':
      // A free entry of a newer section hides every older definition: a
      // deleted object must not come back. It is kept (unused) for listing.
      if (!defined_.Add(static_cast<uint32_t>(number))) return;
      entry.Used = false;
      entry.Generation = third;
      entry.Offset = second;
      break;
    default:
      return;
  }
  if (entries_.capacity() - entries_.size() < 10) entries_.reserve(std::max<size_t>(1000, entries_.capacity() * 2));
  entries_.push_back(entry);
}

void TPDFDocument::OnTrailer(const std::string& text) {
  if (trailerSeen_) return;  // only the newest trailer counts; older keys are never merged in
  trailerSeen_ = true;
  TPDFDictionary* dict = PDFAsDictionary(pool_->ParseObject(text));
  if (!dict) return;
  // Keys of a cross-reference stream, not of the trailer.
  for (const char* key : {"Prev", "Type", "W", "Index", "Length", "Filter", "DecodeParms"}) dict->FreeKey(key);
  trailer_ = dict;
}

void TPDFDocument::OnXRefSection(int64_t offset) {
  if (offset > 0) {
    sectionOffsets_.push_back(offset);
  } else if (offset < 0) {
    for (int64_t& o : sectionOffsets_) {
      if (o == -offset) o = 0;
    }
  }
}

void TPDFDocument::startXRefRead(TPDFXRefReader& reader) {
  resetObjectState();
  trailer_ = nullptr;
  newIDSeed_.clear();
  entries_.reserve(1000);
  reader.OnEntry = [this](int32_t n, int64_t second, char kind, int32_t third) { OnXRefEntry(n, second, kind, third); };
  reader.OnTrailer = [this](const std::string& text) { OnTrailer(text); };
  reader.OnSection = [this](int64_t offset) { OnXRefSection(offset); };
}

void TPDFDocument::finishXRef() {
  entries_.shrink_to_fit();
  if (!trailer_) trailer_ = pool_->NewDictionary();
}

bool TPDFDocument::ReadXRef() {
  TPDFXRefReader reader{std::string_view(fileText_)};
  startXRefRead(reader);
  bool ok = reader.ReadSection(reader.FindStartXRef());
  if (ok && trailer_ && reader.HasObjectsAfterEnd()) {
    // A later update was cut off with its cross-reference data: the chain
    // describes an older version, so the whole file is scanned instead and
    // its last definitions count.
    const bool rebuilt = RebuildXRef();
    warn("objects follow the last end-of-file marker: the file is read by scanning its objects");
    return rebuilt;
  }
  if (ok && trailer_) {
    // A table whose numbering starts one too high ("1 0 obj" listed as 2).
    const TPDFXRefEntry* firstUsed = nullptr;
    size_t used = 0;
    for (const TPDFXRefEntry& e : entries_) {
      if (!e.Used) continue;
      if (!firstUsed) firstUsed = &e;
      ++used;
    }
    TPDFNumeric* size = PDFAsNumeric(trailer_->GetValue("Size"));
    if (firstUsed && !firstUsed->Compressed && firstUsed->Number == 2 && size &&
        size->GetValue() == static_cast<double>(used) + 1 && firstUsed->Offset >= 0 &&
        std::string_view(fileText_).substr(std::min<size_t>(fileText_.size(), static_cast<size_t>(firstUsed->Offset)),
                                           7) == "1 0 obj") {
      for (TPDFXRefEntry& e : entries_) {
        if (e.Used) --e.Number;
      }
    }
  } else {
    // The chain cannot be read: rebuild the entries from the objects found
    // in the file. Entries that the chain delivered before it broke are the
    // newest ones and stay first; the scan fills the gaps.
    if (!trailer_) {
      entries_.clear();
      defined_.Clear();
      highestNumber_ = 0;
      fullyReconstructed_ = true;
    } else {
      // Scanned definitions must not be hidden by free entries of a chain
      // that is known to be damaged.
      entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](const TPDFXRefEntry& e) { return !e.Used; }),
                     entries_.end());
      defined_.Clear();
      for (const TPDFXRefEntry& e : entries_) defined_.Add(static_cast<uint32_t>(e.Number));
    }
    reconstructed_ = true;
    reader.Reconstruct();
    ok = trailer_ != nullptr;
  }
  finishXRef();
  return ok;
}

bool TPDFDocument::RebuildXRef() {
  TPDFXRefReader reader{std::string_view(fileText_)};
  startXRefRead(reader);
  reconstructed_ = true;
  fullyReconstructed_ = true;
  reader.Reconstruct();
  const bool ok = trailer_ != nullptr;
  finishXRef();
  return ok;
}

// ---------------------------------------------------------------------------
// The object table

void TPDFDocument::BuildObjectTable() {
  struct Key {
    int64_t offset;
    bool section;
    size_t entry;
  };
  std::vector<Key> keys;
  keys.reserve(sectionOffsets_.size() + entries_.size());
  for (int64_t o : sectionOffsets_) keys.push_back({o, true, 0});
  for (size_t i = 0; i < entries_.size(); ++i) {
    const TPDFXRefEntry& e = entries_[i];
    if (!e.Used) continue;
    keys.push_back({e.Compressed ? 0 : e.Offset, false, i});
  }
  std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.offset < b.offset; });
  for (size_t i = 0; i + 1 < keys.size(); ++i) {
    if (keys[i].offset == keys[i + 1].offset && !keys[i].section && !keys[i + 1].section &&
        entries_[keys[i + 1].entry].Number < entries_[keys[i].entry].Number) {
      std::swap(keys[i], keys[i + 1]);
    }
  }
  table_.clear();
  table_.reserve(entries_.size());
  const int64_t fileLength = static_cast<int64_t>(fileText_.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].section) continue;
    const TPDFXRefEntry& e = entries_[keys[i].entry];
    if (e.Generation < 0) continue;
    auto record = std::make_unique<TPDFIndObj>(this);
    record->Number = e.Number;
    record->Generation = e.Compressed ? 0 : e.Generation;
    record->Compressed = e.Compressed;
    record->StreamNumber = e.StreamNumber;
    record->StreamIndex = e.StreamIndex;
    if (!e.Compressed && e.Offset >= 0 && e.Offset < fileLength) {
      // The slice reaches to the next boundary (object or section), or to
      // the end of the file for the last one.
      int64_t end = fileLength;
      for (size_t j = i + 1; j < keys.size(); ++j) {
        if (keys[j].offset > e.Offset) {
          end = std::min(end, keys[j].offset);
          break;
        }
        if (keys[j].offset == e.Offset) {
          end = e.Offset;  // two entries at one offset: the first gets nothing
          break;
        }
      }
      record->Offset = e.Offset;
      record->Length = end - e.Offset;
    }
    table_.push_back(std::move(record));
  }
  storedObjectCount_ = table_.size();
  rebuildIndex();
}

void TPDFDocument::rebuildIndex() {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  pairs.reserve(table_.size());
  for (size_t i = 0; i < table_.size(); ++i) pairs.emplace_back(table_[i]->Number, static_cast<int32_t>(i));
  std::sort(pairs.begin(), pairs.end());
  indexNumbers_.resize(pairs.size());
  indexPositions_.resize(pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i) {
    indexNumbers_[i] = pairs[i].first;
    indexPositions_[i] = pairs[i].second;
  }
}

TPDFIndObj* TPDFDocument::FindObject(int32_t number) const {
  auto it = std::lower_bound(indexNumbers_.begin(), indexNumbers_.end(), number);
  if (it == indexNumbers_.end() || *it != number) return nullptr;
  return table_[static_cast<size_t>(indexPositions_[static_cast<size_t>(it - indexNumbers_.begin())])].get();
}

TPDFObject* TPDFDocument::LookupObject(int32_t number) {
  TPDFIndObj* record = FindObject(number);
  return record ? record->GetObject() : nullptr;
}

std::string_view TPDFDocument::recordSlice(const TPDFIndObj* record) const {
  const int64_t size = static_cast<int64_t>(fileText_.size());
  if (record->Offset < 0 || record->Offset >= size || record->Length <= 0) return {};
  int64_t length = std::min(record->Length, size - record->Offset);
  return std::string_view(fileText_).substr(static_cast<size_t>(record->Offset), static_cast<size_t>(length));
}

TPDFObjectStream* TPDFDocument::objectStreamOf(int32_t number) {
  auto found = objectStreamIndex_.find(number);
  if (found != objectStreamIndex_.end()) return found->second;
  // An object stream of an encrypted file can be read only once the key is
  // known; nothing is cached before.
  if (GetEncryptionStatus() == esHandled && !IsEncryptedAndAuthenticated()) return nullptr;
  auto cache = std::make_unique<TPDFObjectStream>();
  cache->Number = number;
  TPDFObjectStream* result = cache.get();
  objectStreams_.push_back(std::move(cache));
  objectStreamIndex_[number] = result;
  // The stream is loaded (and decrypted, once) through its own record.
  TPDFIndObj* record = FindObject(number);
  TPDFStream* stream = record ? PDFAsStream(record->GetObject()) : nullptr;
  if (!stream || !stream->GetDictionary()) {
    warn("object stream " + std::to_string(number) + " is not a stream");
    return result;
  }
  TPDFDictionary* dict = stream->GetDictionary();
  TPDFNumeric* first = PDFAsNumeric(dict->GetValue("First", true));
  TPDFNumeric* n = PDFAsNumeric(dict->GetValue("N", true));
  // A stream with another Type is still read when it has the object
  // stream's keys (other readers do): entries name it as one.
  if (dict->GetNameValue("Type") != "ObjStm" && (!first || !n)) {
    warn("object stream " + std::to_string(number) + " has Type /" + dict->GetNameValue("Type") + " and no N or First");
    return result;
  }
  int64_t firstValue = first ? first->AsInteger() : 0;
  int64_t nValue = n ? n->AsInteger() : 0;
  result->Stream = stream;
  result->First = static_cast<int32_t>(std::clamp<int64_t>(firstValue, 0, std::numeric_limits<int32_t>::max()));
  result->N = static_cast<int32_t>(std::clamp<int64_t>(nValue, 0, std::numeric_limits<int32_t>::max()));
  result->Data = stream->GetDecodedData();
  size_t headerLength = std::min<size_t>(static_cast<size_t>(result->First), result->Data.size());
  std::string header = "[ ";
  header.append(result->Data, 0, headerLength);
  header += " ]";
  result->Header = PDFAsArray(pool_->ParseObject(header));
  if (result->Header) {
    const int32_t pairs = std::min<int32_t>(result->N, result->Header->GetCount() / 2);
    result->Slots.reserve(static_cast<size_t>(pairs));
    for (int32_t i = 0; i < pairs; ++i) {
      TPDFNumeric* listed = PDFAsNumeric(result->Header->GetItem(2 * i));
      if (!listed || listed->GetValue() < 0 || listed->GetValue() > kMaxObjectNumber) continue;
      result->Slots.emplace(static_cast<int32_t>(listed->AsInteger()), i);
    }
  }
  return result;
}

std::string TPDFDocument::GetObjectText(TPDFIndObj* record) {
  if (!record->Compressed) return std::string(recordSlice(record));
  std::string text = std::to_string(record->Number) + " " + std::to_string(record->Generation) + " obj\rnull\rendobj";
  TPDFObjectStream* os = objectStreamOf(record->StreamNumber);
  if (!os || !os->Stream || !os->Header) return text;
  int64_t index = record->StreamIndex;
  const int64_t count = os->Header->GetCount();
  if (os->First <= 0 || os->N <= 0 || count < 2) return text;
  const int64_t pairs = std::min<int64_t>(os->N, count / 2);
  auto listedAt = [&](int64_t i) {
    if (i < 0 || i >= pairs) return false;
    TPDFNumeric* listed = PDFAsNumeric(os->Header->GetItem(static_cast<int32_t>(2 * i)));
    return listed && listed->GetValue() == static_cast<double>(record->Number);
  };
  if (!listedAt(index)) {
    // The entry's index does not lead to the object (an index wrapped at
    // the width of its field, a stream that lists other objects first):
    // the object is found by its number, as the stream's header lists it.
    auto slot = os->Slots.find(record->Number);
    if (slot == os->Slots.end()) {
      warn(objectPlace(record) + ": not listed in its object stream");
      return text;
    }
    index = slot->second;
  }
  TPDFNumeric* offset = PDFAsNumeric(os->Header->GetItem(static_cast<int32_t>(2 * index + 1)));
  if (!offset) return text;
  const int64_t dataLength = static_cast<int64_t>(os->Data.size());
  int64_t start = offset->AsInteger();
  int64_t end = dataLength - os->First;
  if (index + 1 < pairs) {
    // The next object's offset ends this one when it lies behind it; the
    // parser stops at the object's end anyway.
    if (TPDFNumeric* next = PDFAsNumeric(os->Header->GetItem(static_cast<int32_t>(2 * index + 3))))
      if (next->AsInteger() > offset->AsInteger()) end = next->AsInteger();
  }
  // Offsets are relative to First; nothing outside the data is read.
  end = std::min(end, dataLength - os->First);
  if (start < 0 || end < start) return text;
  text = std::to_string(record->Number) + " " + std::to_string(record->Generation) + " obj\r";
  text.append(os->Data, static_cast<size_t>(os->First + start), static_cast<size_t>(end - start));
  return text;
}

TPDFObject* TPDFIndObj::GetObject() {
  if (!Loaded) {
    Document->loadRecord(this);
    if (!Loaded) return nullptr;  // nesting too deep, or not readable yet
  }
  if (!CryptDone && Object && Document->IsEncryptedAndAuthenticated()) Document->decryptRecord(this);
  return Object;
}

void TPDFDocument::loadRecord(TPDFIndObj* record) {
  if (loadDepth_ >= kMaxLoadDepth) return;
  if (record->Compressed && GetEncryptionStatus() == esHandled && !IsEncryptedAndAuthenticated() &&
      !objectStreamIndex_.count(record->StreamNumber)) {
    return;  // the object stream cannot be decrypted yet; try again later
  }
  struct DepthGuard {
    int32_t& depth;
    explicit DepthGuard(int32_t& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
  } guard(loadDepth_);
  record->Loaded = true;  // a failed load is not retried
  if (record->Object) {
    pool_->FreeObject(record->Object);
    record->Object = nullptr;
  }
  if (record->Compressed) record->CryptDone = true;  // the object stream was decrypted as a whole
  TPDFObject* obj;
  if (record->Compressed) {
    std::string text = GetObjectText(record);
    obj = parseRecordText(record, text);
  } else {
    std::string_view slice = recordSlice(record);
    if (!startsWithHeader(slice, record->Number, record->Generation)) {
      // Not at its entry's offset (a damaged or outdated table): the
      // object's own definition is looked up in the file.
      std::string_view found = scannedSlice(record);
      if (!found.empty()) {
        warn(objectPlace(record) + ": not at its table offset; found by scanning the file");
        slice = found;
      }
    }
    obj = parseRecordText(record, slice);
  }
  if (!obj) obj = pool_->NewNull();
  obj->SetIndirect(record->Number, record->Generation);
  record->Object = obj;
}

std::string_view TPDFDocument::scannedSlice(TPDFIndObj* record) {
  if (!scannedMade_) {
    scannedMade_ = true;
    struct At {
      int64_t offset;
      int32_t number;
      int32_t generation;
    };
    std::vector<At> all;
    TPDFXRefReader reader{std::string_view(fileText_)};
    reader.OnEntry = [&](int32_t n, int64_t offset, char kind, int32_t generation) {
      if (kind == 'n') all.push_back({offset, n, generation});
    };
    reader.Reconstruct();
    std::vector<int64_t> starts;
    starts.reserve(all.size());
    for (const At& a : all) starts.push_back(a.offset);
    std::sort(starts.begin(), starts.end());
    // The newest definition is delivered first and kept.
    for (const At& a : all) {
      if (scanned_.count(a.number)) continue;
      auto next = std::upper_bound(starts.begin(), starts.end(), a.offset);
      const int64_t end = next == starts.end() ? static_cast<int64_t>(fileText_.size()) : *next;
      scanned_[a.number] = {a.offset, end - a.offset, a.generation};
    }
  }
  auto it = scanned_.find(record->Number);
  if (it == scanned_.end() || it->second.Generation != record->Generation || it->second.Offset == record->Offset)
    return {};
  reconstructed_ = true;
  return std::string_view(fileText_).substr(static_cast<size_t>(it->second.Offset),
                                            static_cast<size_t>(it->second.Length));
}

TPDFObject* TPDFDocument::parseRecordText(TPDFIndObj* record, std::string_view text) {
  size_t p = 0;
  int64_t number = 0, generation = 0;
  const std::string header = std::to_string(record->Number) + " " + std::to_string(record->Generation) + " obj";
  if (!record->Compressed && text.empty()) {
    warn(objectPlace(record) + ": offset outside the file");
    return nullptr;
  }
  auto badHeader = [&] {
    warn(objectPlace(record) + ": expected '" + header + "'");
    return nullptr;
  };
  if (!readObjectHeaderNumber(text, p, number) || number != record->Number) return badHeader();
  if (!readObjectHeaderNumber(text, p, generation) || generation != record->Generation) return badHeader();
  while (p < text.size() && isWhite(text[p])) ++p;
  if (text.compare(p, 3, "obj") != 0) return badHeader();
  p += 3;
  if (p < text.size() && !isWhite(text[p]) && !isDelimiter(text[p])) return badHeader();
  const std::string_view body = text.substr(p);
  // Offsets in messages count from the record's start (compressed records
  // have only their object stream to name).
  const int64_t bodyOffset = static_cast<int64_t>(p);
  size_t consumed = 0;
  TPDFObject* obj = pool_->ParseObjectEx(body, consumed);
  if (consumed == 0) {
    size_t at = 0;
    while (at < body.size() && isWhite(body[at])) ++at;
    warn(objectPlace(record, bodyOffset + static_cast<int64_t>(at)) + ": expected an object after 'obj'");
    return obj;
  }
  // What follows the object: "endobj", or "stream" after a dictionary.
  // Objects of object streams have no "endobj".
  size_t after = std::min(consumed, body.size());
  for (;;) {
    while (after < body.size() && isWhite(body[after])) ++after;
    if (after >= body.size() || body[after] != '%') break;
    while (after < body.size() && body[after] != '\r' && body[after] != '\n') ++after;
  }
  const bool endsWithEndobj = body.compare(after, 6, "endobj") == 0;
  TPDFDictionary* dict = PDFAsDictionary(obj);
  if (!endsWithEndobj && !record->Compressed && !(dict && body.compare(after, 6, "stream") == 0))
    warn(objectPlace(record, bodyOffset + static_cast<int64_t>(after)) + ": expected 'endobj'");
  if (!dict || body.size() - std::min(consumed, body.size()) < 13) return obj;

  // Stream data: "stream", one end of line, Length bytes, "endstream".
  const std::string_view rest = body;
  const size_t start = SkipStreamKeyword(rest, consumed);
  if (start == std::string_view::npos) return obj;
  const int64_t available = static_cast<int64_t>(rest.size() - start);
  int64_t length = -1;
  TPDFObject* lengthValue = dict->GetValue("Length");
  if (TPDFIndRef* ref = PDFAsIndRef(lengthValue)) {
    TPDFIndObj* lengthRecord = FindObject(ref->GetRefNumber());
    lengthValue = lengthRecord && lengthRecord != record ? lengthRecord->GetObject() : nullptr;
  }
  if (TPDFNumeric* n = PDFAsNumeric(lengthValue)) {
    double v = n->GetValue();
    if (v >= 0 && v <= 9.0e15) length = n->AsInteger();
  }
  if (length > available) {
    // Length runs past the slice: the data end where the last "endstream"
    // within the slice's final 20 bytes begins.
    length = -1;
    const size_t low = std::max(start, rest.size() > 20 ? rest.size() - 20 : size_t{0});
    for (size_t k = rest.size() >= 9 ? rest.size() - 8 : 0; k-- > low;) {
      if (rest.compare(k, 9, "endstream") == 0) {
        length = static_cast<int64_t>(k - start);
        break;
      }
    }
  }
  if (length >= 0) {
    size_t e = start + static_cast<size_t>(length);
    if (e < rest.size() && rest[e] == ' ') ++e;
    if (rest.compare(e, 2, "\r\n") == 0) {
      e += 2;
    } else if (e < rest.size() && (rest[e] == '\r' || rest[e] == '\n')) {
      ++e;
    }
    if (rest.compare(e, 9, "endstream") != 0) {
      // Length too small: the data reach up to "endstream".
      size_t found = rest.find("endstream", start + static_cast<size_t>(length));
      length = found == std::string_view::npos ? -1 : static_cast<int64_t>(stripEOL(rest, start, found) - start);
    }
  }
  if (length < 0) {
    // No usable Length: the data end at the first "endstream".
    size_t found = rest.find("endstream", start);
    if (found == std::string_view::npos) {
      warn(objectPlace(record, bodyOffset + static_cast<int64_t>(start)) +
           ": expected 'endstream' (the stream's data are left out)");
      return obj;
    }
    length = static_cast<int64_t>(stripEOL(rest, start, found) - start);
  }
  TPDFStream* stream = pool_->NewStreamWith(std::string(rest.substr(start, static_cast<size_t>(length))), dict);
  dict->SetValue("Length", pool_->NewNumeric(static_cast<double>(length)));
  return stream;
}

std::string TPDFIndObj::WriteText() {
  TPDFObject* obj = GetObject();
  std::string text = std::to_string(Number) + " " + std::to_string(Generation) + " obj\n";
  if (obj) {
    text += obj->WriteText();
  } else {
    text += "null";
  }
  if (text.empty() || text.back() != '\n') text += '\n';
  text += "endobj\n";
  return text;
}

// ---------------------------------------------------------------------------
// New objects

TPDFIndObj* TPDFDocument::AddObject(TPDFObject* obj) {
  if (!PDFAsNumeric(trailer_->GetValue("Size"))) trailer_->SetValue("Size", pool_->NewNumeric(1));
  int32_t number = (indexNumbers_.empty() ? 0 : indexNumbers_.back()) + 1;
  auto record = std::make_unique<TPDFIndObj>(this);
  record->Number = number;
  record->Generation = 0;
  record->Loaded = true;
  record->CryptDone = true;
  record->Object = obj;
  obj->SetIndirect(number, 0);
  TPDFIndObj* result = record.get();
  table_.push_back(std::move(record));
  // The new number is above every other one: the index stays sorted.
  indexNumbers_.push_back(number);
  indexPositions_.push_back(static_cast<int32_t>(table_.size() - 1));
  highestNumber_ = std::max(highestNumber_, number);
  trailer_->SetValue("Size", pool_->NewNumeric(static_cast<double>(number) + 1));
  if (pageTree_) pageTree_->SetPageLimit(std::max<int64_t>(GetObjectCount(), 1));
  return result;
}

TPDFIndRef* TPDFDocument::AddIndirectRef(TPDFObject* obj) {
  TPDFIndObj* record = AddObject(obj);
  return pool_->NewIndRef(record->Number, record->Generation);
}

TPDFDictionary* TPDFDocument::NewIndirectDictionary() {
  TPDFDictionary* dict = pool_->NewDictionary();
  AddObject(dict);
  return dict;
}

void TPDFDocument::RegisterIndirect(TPDFStructure*, TPDFObject* obj, int32_t& number, int32_t& generation) {
  TPDFIndObj* record = AddObject(obj);
  number = record->Number;
  generation = record->Generation;
}
