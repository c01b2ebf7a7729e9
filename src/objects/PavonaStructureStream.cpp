// Stream data: decoding through the /Filter chain and storing new data.
#include <algorithm>

#include "objects/PavonaExtra.h"
#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"

namespace {
// Real files chain at most a few filters; a hostile chain of thousands of
// pass-through names would copy the data once per name.
constexpr size_t kMaxFilterChain = 64;
}  // namespace

std::string TPDFStream::GetDecodedData(TPDFDecodeStatus* status) const {
  if (status) *status = TPDFDecodeStatus::dsOk;
  if (!dictionary_) return data_;

  // Names point into name objects of the pool, which outlive this call.
  std::vector<std::string_view> filters;
  TPDFObject* filter = dictionary_->GetValue("Filter", true);
  if (TPDFName* name = PDFAsName(filter)) {
    filters.push_back(name->GetValue());
  } else if (TPDFArray* list = PDFAsArray(filter)) {
    for (TPDFObject* item : list->Items())
      if (TPDFName* n = PDFAsName(item)) filters.push_back(n->GetValue());
  }
  if (filters.empty()) return data_;
  if (filters.size() > kMaxFilterChain) {
    if (status) *status = TPDFDecodeStatus::dsFailed;
    return {};
  }

  std::vector<const TPDFDictionary*> parms(filters.size(), nullptr);
  TPDFObject* decodeParms = dictionary_->GetValue("DecodeParms", true);
  if (!decodeParms) decodeParms = dictionary_->GetValue("DP", true);
  if (TPDFDictionary* d = PDFAsDictionary(decodeParms)) {
    parms[0] = d;
  } else if (TPDFArray* list = PDFAsArray(decodeParms)) {
    // Items are taken as they stand: a reference inside the array is not followed.
    const size_t count = std::min(filters.size(), static_cast<size_t>(list->GetCount()));
    for (size_t i = 0; i < count; ++i) parms[i] = PDFAsDictionary(list->GetItem(static_cast<int32_t>(i)));
  }

  TPDFDecodeStatus worst = TPDFDecodeStatus::dsOk;
  std::string data;
  for (size_t i = 0; i < filters.size(); ++i) {
    TPDFDecodeStatus step = TPDFDecodeStatus::dsOk;
    std::string_view input = i == 0 ? std::string_view(data_) : std::string_view(data);
    std::string output = DecodeFilter(filters[i], input, parms[i], &step);
    data = std::move(output);
    worst = std::max(worst, step);
    if (step == TPDFDecodeStatus::dsTooLarge || step == TPDFDecodeStatus::dsFailed) {
      // Nothing usable is left for the following filters.
      data.clear();
      break;
    }
  }
  if (status) *status = worst;
  return data;
}

std::u16string TPDFStream::GetDecodedText() const {
  return PDFTextToWide(GetDecodedData());
}

void TPDFStream::SetRawData(std::string bytes) {
  data_ = std::move(bytes);
  if (!owner_) return;
  if (!dictionary_) SetDictionary(owner_->NewDictionary());
  // A new direct number, also where /Length was a reference.
  dictionary_->SetValue("Length", owner_->NewNumeric(static_cast<double>(data_.size())));
}

void TPDFStream::SetData(std::string_view bytes, bool compress) {
  if (!owner_) {
    data_ = bytes;
    return;
  }
  if (!dictionary_) SetDictionary(owner_->NewDictionary());
  std::string stored;
  bool flate = false;
  if (compress && !bytes.empty()) {
    stored = CompressString(bytes);
    // A failed compression keeps the data as they are rather than storing an
    // empty stream that claims to be Flate data.
    flate = !stored.empty();
  }
  if (!flate) stored.assign(bytes);
  dictionary_->FreeKey("Filter");
  if (flate) dictionary_->SetValue("Filter", owner_->NewName("FlateDecode"));
  // Parameters of the old filters would be applied to the new data.
  dictionary_->FreeKey("DecodeParms");
  dictionary_->FreeKey("DP");
  SetRawData(std::move(stored));
}

void TPDFStream::LoadFromFile(TPavonaWideFileStream& file, bool compress) {
  file.SetPosition(0);
  std::string bytes = file.ReadAll();
  if (bytes.empty()) {
    SetRawData({});
    return;
  }
  SetData(bytes, compress);
}

void TPDFStream::LoadFromFile(std::u16string_view path, bool compress) {
  std::unique_ptr<TPavonaWideFileStream> file = CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite);
  LoadFromFile(*file, compress);
}
