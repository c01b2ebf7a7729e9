// Direct-access reader and writer. The reader walks the cross-reference chain
// with the engine's cross-reference reader and keeps its own table: the
// first definition of a number wins, free entries included, and object
// lengths come from the sorted list of object offsets.
#include "document/PavonaSmartAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/PavonaXRef.h"
#include "objects/PavonaDigest.h"
#include "objects/PavonaExtra.h"

namespace {

// Object numbers beyond this are not taken from a file (PDF's own limit),
// nor beyond a few per byte of the file.
constexpr int64_t kMaxObjectNumber = 8388607;
constexpr int32_t kMaxResolveDepth = 16;

bool IsVersionChar(char c) {
  return (c >= '0' && c <= '9') || c == '.';
}

// The version after a "%PDF-": the longest run of digits and dots within 10
// characters; it counts when it is a number.
std::string VersionAt(std::string_view head, size_t at) {
  std::string v;
  for (size_t i = at; i < head.size() && i < at + 10 && IsVersionChar(head[i]); ++i) v += head[i];
  if (v.empty() || std::count(v.begin(), v.end(), '.') > 1 || v == ".") return std::string();
  return v;
}

}  // namespace

TSmartPDFReader::TSmartPDFReader(TStream& stream) : pool_(std::make_unique<TPDFStructure>()) {
  pool_->OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) { return GetCachedObject(number); };
  bytes_ = std::make_unique<TStreamBytes>(stream);
  text_ = bytes_->View();
  if (!readHeader()) {
    state_ = 1;
    return;
  }
  if (!readChain() || trailers_.empty()) {
    state_ = 2;
    return;
  }
  encrypted_ = GetTrailer()->GetValue("Encrypt") != nullptr;
}

TSmartPDFReader::~TSmartPDFReader() {
  // Cached objects live in the pool; drop the references first.
  cache_.clear();
  trailers_.clear();
}

bool TSmartPDFReader::readHeader() {
  const std::string_view head = text_.substr(0, 1024);
  if (size_t at = head.find("%PDF-"); at != std::string_view::npos) {
    version_ = VersionAt(head, at + 5);
  } else if (size_t ps = head.find("%!PS-Adobe-"); ps != std::string_view::npos) {
    const std::string_view after = head.substr(ps + 11, 20);
    if (size_t pdf = after.find("PDF-"); pdf != std::string_view::npos) version_ = VersionAt(head, ps + 11 + pdf + 4);
  }
  return !version_.empty();
}

bool TSmartPDFReader::readChain() {
  TPDFXRefReader reader(text_);
  const int64_t limit = std::min<int64_t>(kMaxObjectNumber, std::max<int64_t>(int64_t(1) << 20, int64_t(text_.size())));
  reader.OnSection = [this](int64_t offset) {
    if (offset > 0) offsets_.push_back(offset);
  };
  reader.OnEntry = [this, limit](int32_t number, int64_t second, char kind, int32_t third) {
    if (number <= 0 || number > limit || (kind != 'n' && kind != 'c' && kind != 'f')) return;
    if (kind == 'n') offsets_.push_back(second);
    if (size_t(number) >= entries_.size()) entries_.resize(size_t(number) + 1);
    TEntry& e = entries_[size_t(number)];
    if (e.kind) return;  // the newest section is read first: its definition stands
    e = TEntry{second, third, kind};
  };
  reader.OnTrailer = [this](const std::string& text) {
    TPDFDictionary* dict = PDFAsDictionary(pool_->ParseObject(text));
    if (!dict) return;
    if (dict->GetNameValue("Type") == "XRef") xrefStream_ = true;
    trailers_.push_back(dict);
  };
  startXRef_ = reader.FindStartXRef();
  if (startXRef_ <= 0) return false;
  if (!reader.ReadSection(startXRef_)) return false;
  if (entries_.empty()) entries_.resize(1);
  fixNumberedFromOne();
  std::sort(offsets_.begin(), offsets_.end());
  offsets_.erase(std::unique(offsets_.begin(), offsets_.end()), offsets_.end());
  return true;
}

// A table whose only subsection was numbered from 1 with the free head first
// gives object 1 the head's entry: when entry 2's offset holds "1 0 obj",
// every entry moves down by one.
void TSmartPDFReader::fixNumberedFromOne() {
  if (entries_.size() < 3) return;
  const TEntry& one = entries_[1];
  const TEntry& two = entries_[2];
  if (one.second != 0 || one.third != 65535 || two.kind != 'n') return;
  if (two.second < 0 || size_t(two.second) >= text_.size()) return;
  if (text_.substr(size_t(two.second), 7) != "1 0 obj") return;
  entries_.erase(entries_.begin() + 1);
}

int32_t TSmartPDFReader::GetGeneration(int32_t number) const {
  if (number < 1 || size_t(number) >= entries_.size()) return 0;
  const TEntry& e = entries_[size_t(number)];
  return e.kind == 'c' ? 0 : e.third;
}

bool TSmartPDFReader::IsInObjectStream(int32_t number) const {
  return number >= 1 && size_t(number) < entries_.size() && entries_[size_t(number)].kind == 'c';
}

TSmartPDFReader::TObjectStream* TSmartPDFReader::objectStream(int32_t number) {
  for (auto& [n, s] : objectStreams_)
    if (n == number) return s.get();
  if (IsInObjectStream(number)) return nullptr;  // an object stream cannot sit in another
  TPDFStream* stream = PDFAsStream(GetCachedObject(number));
  if (!stream) return nullptr;
  TPDFDictionary* dict = stream->GetDictionary();
  if (!dict || dict->GetNameValue("Type") != "ObjStm") return nullptr;
  if (encrypted_ && OnObjectStream) OnObjectStream(number, stream);
  auto result = std::make_unique<TObjectStream>();
  result->data = stream->GetDecodedData();
  const int64_t n = dict->GetInteger("N", -1);
  result->first = dict->GetInteger("First", -1);
  if (n < 0 || result->first < 0 || size_t(result->first) > result->data.size()) return nullptr;
  TPDFStructure scratch;
  TPDFArray* head = PDFAsArray(scratch.ParseObject("[ " + result->data.substr(0, size_t(result->first)) + " ]"));
  if (!head || head->GetCount() < 2 * n) return nullptr;
  auto number_at = [&](int32_t i) {
    TPDFNumeric* num = PDFAsNumeric(head->GetItem(i));
    return num ? num->GetValue() : 0.0;
  };
  for (int32_t i = 0; i < n; ++i) {
    const double objNumber = number_at(2 * i), offset = number_at(2 * i + 1);
    result->pairs.emplace_back(static_cast<int32_t>(std::clamp(objNumber, -1.0, 2147483647.0)),
                               static_cast<int64_t>(std::clamp(offset, 0.0, 1e15)));
  }
  objectStreams_.emplace_back(number, std::move(result));
  return objectStreams_.back().second.get();
}

std::string_view TSmartPDFReader::objectTextView(int32_t number) {
  if (number <= 0 || size_t(number) >= entries_.size()) return {};
  const TEntry& e = entries_[size_t(number)];
  if (e.kind == 'c') {
    if (e.second <= 0 || e.second > INT32_MAX) return {};
    TObjectStream* os = objectStream(static_cast<int32_t>(e.second));
    if (!os || e.third < 0 || size_t(e.third) >= os->pairs.size()) return {};
    if (os->pairs[size_t(e.third)].first != number) return {};
    const uint64_t start = uint64_t(os->first) + uint64_t(os->pairs[size_t(e.third)].second);
    uint64_t end = os->data.size();
    if (size_t(e.third) + 1 < os->pairs.size())
      end = uint64_t(os->first) + uint64_t(os->pairs[size_t(e.third) + 1].second);
    end = std::min<uint64_t>(end, os->data.size());
    if (start >= end) return {};
    return std::string_view(os->data).substr(size_t(start), size_t(end - start));
  }
  if (e.kind != 'n' || e.second < 0 || size_t(e.second) >= text_.size()) return {};
  auto next = std::upper_bound(offsets_.begin(), offsets_.end(), e.second);
  const size_t end = next == offsets_.end() ? text_.size() : std::min<size_t>(size_t(*next), text_.size());
  std::string_view text = text_.substr(size_t(e.second), end - size_t(e.second));
  const size_t obj = text.find("obj");
  if (obj == std::string_view::npos) return {};
  return text.substr(obj + 3);
}

std::string TSmartPDFReader::GetObjectText(int32_t number) {
  return std::string(objectTextView(number));
}

TPDFObject* TSmartPDFReader::resolve(TPDFObject* obj) {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) return GetCachedObject(ref->GetRefNumber());
  return obj;
}

TPDFObject* TSmartPDFReader::parse(std::string_view text, TPDFStructure* pool) {
  size_t consumed = 0;
  TPDFObject* obj = pool->ParseObjectEx(text, consumed);
  TPDFDictionary* dict = PDFAsDictionary(obj);
  if (!dict || consumed == 0 || text.find("stream", consumed) == std::string_view::npos) return obj;
  if (text.size() - consumed < 13) return obj;
  const size_t start = SkipStreamKeyword(text, consumed);
  if (start == std::string_view::npos || start > text.size()) return obj;
  double lengthValue = -1;
  if (TPDFNumeric* len = PDFAsNumeric(resolve(dict->GetValue("Length")))) lengthValue = len->GetValue();
  const std::string_view rest = text.substr(start);
  size_t length = std::string_view::npos;
  if (lengthValue >= 0 && lengthValue <= double(rest.size())) {
    const auto n = static_cast<size_t>(std::nearbyint(lengthValue));
    size_t after = std::min(n, rest.size());
    while (after < rest.size() && (rest[after] == ' ' || rest[after] == '\t' || rest[after] == '\0')) ++after;
    if (after < rest.size() && rest[after] == '\r') ++after;
    if (after < rest.size() && rest[after] == '\n') ++after;
    if (rest.substr(after).starts_with("endstream")) length = std::min(n, rest.size());
  }
  if (length == std::string_view::npos) {
    // A wrong or missing length: the body runs to the next "endstream".
    const size_t end = rest.find("endstream");
    if (end == std::string_view::npos) return obj;
    length = end;
    if (length > 0 && rest[length - 1] == '\n') --length;
    if (length > 0 && rest[length - 1] == '\r') --length;
  }
  return pool->NewStreamWith(std::string(rest.substr(0, length)), dict);
}

TPDFObject* TSmartPDFReader::ReadObject(int32_t number, TPDFStructure* pool) {
  if (resolveDepth_ >= kMaxResolveDepth) return nullptr;
  ++resolveDepth_;
  TPDFObject* result = nullptr;
  try {
    const std::string_view text = objectTextView(number);
    if (!text.empty()) result = parse(text, pool ? pool : pool_.get());
  } catch (const std::exception&) {
    result = nullptr;  // an unreadable object is none
  }
  --resolveDepth_;
  return result;
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
  for (TPDFDictionary* t : trailers_)
    if (TPDFObject* v = t->GetValue(name)) return PDFAsDictionary(resolve(v));
  return nullptr;
}

TPDFIndRef* TSmartPDFReader::GetTrailerRef(std::string_view name) {
  for (TPDFDictionary* t : trailers_)
    if (TPDFObject* v = t->GetValue(name)) return PDFAsIndRef(v);
  return nullptr;
}

void TSmartPDFReader::RebuildTrailer() {
  TPDFDictionary* trailer = GetTrailer();
  if (!trailer) return;
  trailer->SetValue("Size", pool_->NewNumeric(GetMaxObjectNumber() + 1));
  for (const char* key : {"Info", "Root"}) {
    if (trailer->GetValue(key)) continue;
    for (size_t i = 1; i < trailers_.size(); ++i)
      if (TPDFIndRef* ref = PDFAsIndRef(trailers_[i]->GetValue(key))) {
        trailer->SetValue(key, pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
        break;
      }
  }
  const std::string id = MD5DigestToBytes(MD5OfString(NewResourceTag()));
  TPDFArray* ids = PDFAsArray(resolve(trailer->GetValue("ID")));
  if (ids && ids->GetCount() >= 2 && PDFAsString(ids->GetItem(1))) {
    ids->ReplaceItem(1, pool_->NewString(id, psmHex));
  } else {
    trailer->SetValue("ID", pool_->NewArrayOf({pool_->NewString(id, psmHex), pool_->NewString(id, psmHex)}));
    if (OnIdentifierCreated) OnIdentifierCreated(*this);
  }
  for (const char* key : {"Prev", "XRefStm", "DecodeParms", "Filter", "Length", "Type", "W", "Index"})
    trailer->DeleteKey(key);
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
