// Direct-access reader and writer. The reader opens a file the way a
// document is opened (one reading path, with its repairs and decryption) and
// hands out copies of single objects; the writer writes a file object by
// object with a classic cross-reference table.
#include "document/PavonaSmartAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/PavonaDocument.h"
#include "objects/PavonaDigest.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageTree.h"

TPDFObject* SmartCopyObject(TPDFObject* obj, TPDFStructure* pool) {
  auto copy = [pool](auto&& self, TPDFObject* o, int depth) -> TPDFObject* {
    if (!o || depth > kMaxObjectDepth) return pool->NewNull();
    switch (o->GetKind()) {
      case pdfkBoolean:
        return pool->NewBoolean(o->AsBoolean()->GetValue());
      case pdfkNumeric:
        return pool->NewNumeric(o->AsNumeric()->GetValue());
      case pdfkString:
        return pool->NewString(o->AsString()->GetValue(), o->AsString()->GetMode());
      case pdfkName:
        return pool->NewName(o->AsName()->GetValue());
      case pdfkIndRef:
        return pool->NewIndRef(o->AsIndRef()->GetRefNumber(), o->AsIndRef()->GetRefGeneration());
      case pdfkArray: {
        TPDFArray* out = pool->NewArray();
        for (TPDFObject* item : o->AsArray()->Items()) out->Add(self(self, item, depth + 1));
        return out;
      }
      case pdfkDictionary: {
        TPDFDictionary* out = pool->NewDictionary();
        for (const TPDFDictEntry& e : o->AsDictionary()->Entries())
          out->SetValue(e.key->GetValue(), self(self, e.value, depth + 1));
        return out;
      }
      case pdfkStream: {
        TPDFStream* s = o->AsStream();
        TPDFDictionary* dict =
            s->GetDictionary() ? PDFAsDictionary(self(self, s->GetDictionary(), depth + 1)) : nullptr;
        return pool->NewStreamWith(s->GetData(), dict);
      }
      default:
        return pool->NewNull();
    }
  };
  return copy(copy, obj, 0);
}

TSmartPDFReader::TSmartPDFReader(TStream& stream, std::u16string_view password)
    : pool_(std::make_unique<TPDFStructure>()) {
  pool_->SetPrecision(kExactNumberDigits);
  pool_->OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) { return GetCachedObject(number); };
  std::string bytes;
  try {
    stream.SetPosition(0);
    bytes = stream.ReadAll();
  } catch (const std::exception&) {
    state_ = 1;
    return;
  }
  // The header window (and the few bytes a version after it may take).
  TPDFDocument probe;
  probe.SetFileText(bytes.substr(0, 1100));
  document_ = std::make_unique<TPDFDocument>();
  int32_t result = document_->LoadFromString(bytes, password);
  if (result == TPDFDocument::kLoadWrongPassword) {
    // Encrypted, and the password does not open it: the table and the
    // trailer are read all the same (the facts and the security queries
    // need them), the objects stay as stored.
    document_->SetFileText(std::move(bytes));
    result = document_->Open(password);
    plain_ = false;
  } else {
    plain_ = result == TPDFDocument::kLoadOk;
  }
  if (result == TPDFDocument::kLoadUnreadable || !document_->GetTrailer()) {
    state_ = probe.ReadHeader() ? 2 : 1;
    document_.reset();
    plain_ = false;
    return;
  }
  keepObjectsAsRead();
  version_ = document_->GetPDFVersion();
  trailer_ = PDFAsDictionary(SmartCopyObject(document_->GetTrailer(), pool_.get()));
  encrypted_ = trailer_->GetValue("Encrypt") != nullptr;
  if (encrypted_ && plain_) encryptNumber_ = document_->GetEncryption().EncryptObjectNumber;
}

TSmartPDFReader::~TSmartPDFReader() {
  // Cached objects live in the pool; drop the references first.
  cache_.clear();
  trailer_ = nullptr;
}

// What is merged or split must be the file's objects, not those opening
// prepared for drawing: the document gives them back as stored. Of the
// objects opening added, the streams for drawing are none of the reader's;
// a Pages node made for a lone page stays, it makes that page a tree.
void TSmartPDFReader::keepObjectsAsRead() {
  for (int32_t number : document_->KeepObjectsAsStored()) {
    TPDFIndObj* record = document_->FindObject(number);
    TPDFStream* stream = record ? PDFAsStream(record->Object) : nullptr;
    TPDFDictionary* dict = stream ? stream->GetDictionary() : nullptr;
    TPDFName* marker = dict ? PDFAsName(dict->GetValue(kContentMarkerKey)) : nullptr;
    if (marker && marker->GetValue() == kContentMarkerValue && stream->GetData().empty()) added_.push_back(number);
  }
  maxNumber_ = document_->GetHighestNumber();
  while (maxNumber_ > 0 && std::binary_search(added_.begin(), added_.end(), maxNumber_)) --maxNumber_;
}

int32_t TSmartPDFReader::GetMaxObjectNumber() const {
  return maxNumber_;
}

TPDFObject* TSmartPDFReader::fileObject(int32_t number) {
  if (!document_ || number <= 0 || std::binary_search(added_.begin(), added_.end(), number)) return nullptr;
  TPDFObject* obj = nullptr;
  try {
    obj = document_->LookupObject(number);
  } catch (const std::exception&) {
    obj = nullptr;  // an unreadable object is none
  }
  return obj && obj->GetKind() != pdfkNull ? obj : nullptr;
}

int32_t TSmartPDFReader::GetGeneration(int32_t number) const {
  const TPDFIndObj* record = document_ && number >= 1 ? document_->FindObject(number) : nullptr;
  return record && !record->Compressed ? record->Generation : 0;
}

bool TSmartPDFReader::IsInObjectStream(int32_t number) const {
  const TPDFIndObj* record = document_ && number >= 1 ? document_->FindObject(number) : nullptr;
  return record && record->Compressed;
}

std::string TSmartPDFReader::GetObjectText(int32_t number) {
  TPDFIndObj* record = document_ && number >= 1 ? document_->FindObject(number) : nullptr;
  if (!record) return std::string();
  const std::string text = document_->GetObjectText(record);
  const size_t obj = text.find("obj");
  return obj == std::string::npos ? std::string() : text.substr(obj + 3);
}

TPDFObject* TSmartPDFReader::resolve(TPDFObject* obj) {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) return GetCachedObject(ref->GetRefNumber());
  return obj;
}

TPDFObject* TSmartPDFReader::ReadObject(int32_t number, TPDFStructure* pool) {
  TPDFObject* obj = fileObject(number);
  return obj ? SmartCopyObject(obj, pool ? pool : pool_.get()) : nullptr;
}

TPDFObject* TSmartPDFReader::GetCachedObject(int32_t number) {
  for (const auto& [n, obj] : cache_)
    if (n == number) return obj;
  TPDFObject* obj = ReadObject(number, nullptr);
  if (!obj) return nullptr;
  if (cache_.size() >= kObjectCacheSize) cache_.erase(cache_.begin());
  cache_.emplace_back(number, obj);
  return obj;
}

TPDFDictionary* TSmartPDFReader::GetTrailerDict(std::string_view name) {
  TPDFObject* v = trailer_ ? trailer_->GetValue(name) : nullptr;
  return v ? PDFAsDictionary(resolve(v)) : nullptr;
}

TPDFIndRef* TSmartPDFReader::GetTrailerRef(std::string_view name) {
  return trailer_ ? PDFAsIndRef(trailer_->GetValue(name)) : nullptr;
}

void TSmartPDFReader::RebuildTrailer() {
  TPDFDictionary* trailer = GetTrailer();
  if (!trailer) return;
  trailer->SetValue("Size", pool_->NewNumeric(GetMaxObjectNumber() + 1));
  const std::string id = MD5DigestToBytes(MD5OfString(NewResourceTag()));
  TPDFArray* ids = PDFAsArray(resolve(trailer->GetValue("ID")));
  if (ids && ids->GetCount() >= 2 && PDFAsString(ids->GetItem(1))) {
    ids = PDFAsArray(SmartCopyObject(ids, pool_.get()));
    ids->ReplaceItem(1, pool_->NewString(id, psmHex));
    trailer->SetValue("ID", ids);
  } else {
    trailer->SetValue("ID", pool_->NewArrayOf({pool_->NewString(id, psmHex), pool_->NewString(id, psmHex)}));
    if (OnIdentifierCreated) OnIdentifierCreated(*this);
  }
  for (const char* key : {"Prev", "XRefStm", "DecodeParms", "Filter", "Length", "Type", "W", "Index"})
    trailer->DeleteKey(key);
  if (plain_) trailer->DeleteKey("Encrypt");
}

// ---------------------------------------------------------------------------
// Writer

void TSmartPDFWriter::WriteHeader(std::string_view version) {
  output_.WriteString("%PDF-");
  output_.WriteString(version);
  output_.WriteString("\n%\xE2\xE3\xCF\xD3\n");
}

void TSmartPDFWriter::WriteObject(int32_t number, int32_t generation, std::string_view text) {
  TWritten w{number, generation, output_.GetPosition(), 0};
  output_.WriteString(std::to_string(number) + " " + std::to_string(generation) + " obj\n");
  output_.WriteString(text);
  if (text.empty() || text.back() != '\n') output_.WriteString("\n");
  output_.WriteString("endobj\n");
  w.length = output_.GetPosition() - w.position;
  written_.push_back(w);
}

void TSmartPDFWriter::WriteXRefAndTrailer(TPDFDictionary* trailer, int64_t offset, bool singleSection) {
  const int64_t startXRef = output_.GetPosition() + offset;
  int32_t maxNumber = 0;
  for (const TWritten& w : written_) maxNumber = std::max(maxNumber, w.number);
  // Number -> the last write of it.
  std::vector<const TWritten*> byNumber(size_t(maxNumber) + 1, nullptr);
  for (const TWritten& w : written_)
    if (w.number >= 0) byNumber[size_t(w.number)] = &w;
  auto entry = [](int64_t first, int64_t second, char kind) {
    char line[32];
    std::snprintf(line, sizeof line, "%010lld %05lld %c \n", static_cast<long long>(first),
                  static_cast<long long>(second), kind);
    return std::string(line);
  };
  auto inUse = [&](int32_t i) {
    return entry(byNumber[size_t(i)]->position + offset, byNumber[size_t(i)]->generation, 'n');
  };
  std::string out = "xref\n";
  if (singleSection) {
    out += "0 " + std::to_string(maxNumber + 1) + "\n";
    for (int32_t i = 0; i <= maxNumber; ++i) {
      if (i > 0 && byNumber[size_t(i)]) {
        out += inUse(i);
        continue;
      }
      int32_t next = 0;
      for (int32_t k = i + 1; k < maxNumber; ++k)
        if (!byNumber[size_t(k)]) {
          next = k;
          break;
        }
      out += entry(next, i == 0 ? 65535 : 1, 'f');
    }
    if (trailer) trailer->SetValue("Size", trailer->GetOwner()->NewNumeric(maxNumber + 1));
  } else {
    int32_t i = 0;
    while (i <= maxNumber) {
      int32_t end = i;
      while (end + 1 <= maxNumber && byNumber[size_t(end) + 1]) ++end;
      out += std::to_string(i) + " " + std::to_string(end - i + 1) + "\n";
      for (int32_t k = i; k <= end; ++k) out += k == 0 ? entry(0, 65535, 'f') : inUse(k);
      i = end + 1;
      while (i <= maxNumber && !byNumber[size_t(i)]) ++i;
    }
  }
  out += "trailer\n";
  if (trailer) {
    std::string t = trailer->WriteText();
    out += t;
    if (t.empty() || t.back() != '\n') out += "\n";
  }
  out += "startxref\n" + std::to_string(startXRef) + "\n%%EOF\n";
  output_.WriteString(out);
}
