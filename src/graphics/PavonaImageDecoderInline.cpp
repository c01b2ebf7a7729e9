// Inline images: the BI ... ID dictionary with its abbreviations, where the
// data end, and decoding through the same paths as image XObjects.
#include <algorithm>
#include <cstring>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaImageDecoderInternal.h"
#include "objects/PavonaFlate.h"
#include "objects/PavonaCharClass.h"

namespace {

constexpr int kMaxEndCandidates = 64;
constexpr int kMaxInlineKeys = 64;

bool IsWhite(char c) {
  return PDFIsWhite(c);
}
bool IsDelimiter(char c) {
  return PDFIsDelimiter(c);
}

// Abbreviated names become full names, each exactly once.
void ExpandNames(TPDFObject* obj, const std::vector<std::pair<std::string_view, std::string_view>>& table, int depth) {
  if (!obj || depth > 8) return;
  if (TPDFName* n = PDFAsName(obj)) {
    for (auto& [from, to] : table)
      if (n->GetValue() == from) {
        n->SetValue(to);
        break;
      }
  } else if (TPDFArray* a = PDFAsArray(obj)) {
    for (TPDFObject* item : a->Items()) ExpandNames(item, table, depth + 1);
  }
}

const std::vector<std::pair<std::string_view, std::string_view>> kColorNames = {
    {"G", "DeviceGray"}, {"RGB", "DeviceRGB"}, {"CMYK", "DeviceCMYK"}, {"I", "Indexed"}};
const std::vector<std::pair<std::string_view, std::string_view>> kFilterNames = {
    {"AHx", "ASCIIHexDecode"}, {"A85", "ASCII85Decode"},  {"LZW", "LZWDecode"}, {"Fl", "FlateDecode"},
    {"RL", "RunLengthDecode"}, {"CCF", "CCITTFaxDecode"}, {"DCT", "DCTDecode"}};

// "EI" at pos, ending the data: followed by white space, a delimiter or the end.
bool IsEndAt(std::string_view text, size_t pos) {
  if (pos + 2 > text.size() || text[pos] != 'E' || text[pos + 1] != 'I') return false;
  return pos + 2 == text.size() || IsWhite(text[pos + 2]) || IsDelimiter(text[pos + 2]);
}

// End of JPEG data: the marker segments walked up to the end-of-image marker.
size_t JpegEnd(std::string_view text, size_t start) {
  size_t p = start;
  while (p + 1 < text.size() && !(uint8_t(text[p]) == 0xFF && uint8_t(text[p + 1]) == 0xD8)) ++p;
  if (p + 1 >= text.size()) return std::string_view::npos;
  p += 2;
  while (p + 1 < text.size()) {
    if (uint8_t(text[p]) != 0xFF) {
      ++p;
      continue;
    }
    uint8_t marker = uint8_t(text[p + 1]);
    if (marker == 0xD9) return p + 2;
    if (marker == 0xFF || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      p += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (p + 3 >= text.size()) break;
    size_t len = (size_t(uint8_t(text[p + 2])) << 8) | uint8_t(text[p + 3]);
    p += 2 + len;
    if (marker == 0xDA) {
      // Entropy-coded data: up to the next marker that is not stuffing or a restart.
      while (p + 1 < text.size() && !(uint8_t(text[p]) == 0xFF && uint8_t(text[p + 1]) != 0 &&
                                      !(uint8_t(text[p + 1]) >= 0xD0 && uint8_t(text[p + 1]) <= 0xD7)))
        ++p;
    }
  }
  return std::string_view::npos;
}

bool DecodesCleanly(TPDFArray* filters, TPDFArray* parms, std::string data) {
  for (int32_t i = 0; filters && i < filters->GetCount(); ++i) {
    TPDFName* n = PDFAsName(filters->GetItem(i));
    if (!n) continue;
    TPDFDecodeStatus st = TPDFDecodeStatus::dsOk;
    const std::string& name = n->GetValue();
    if (name == "DCTDecode" || name == "CCITTFaxDecode" || name == "JBIG2Decode" || name == "JPXDecode") return true;
    TPDFDictionary* p = parms ? PDFAsDictionary(parms->GetItem(i)) : nullptr;
    data = name == "RunLengthDecode" ? RunLengthDecodeString(data, &st) : DecodeFilter(name, data, p, &st);
    if (st != TPDFDecodeStatus::dsOk) return false;
  }
  return true;
}

}  // namespace

bool ParseInlineImage(std::string_view content, size_t& position, TPDFInlineImage& image,
                      const TPDFObjectLookup& lookup, TPDFDictionary* resources) {
  image = TPDFInlineImage();
  TPDFStructure pool;
  size_t pos = position;
  TPDFObject *cs = nullptr, *filter = nullptr, *parms = nullptr;
  auto resolve = [&](TPDFObject* o) -> TPDFObject* {
    TPDFIndRef* r = PDFAsIndRef(o);
    if (!r) return o;
    return lookup ? lookup(r) : r->Resolve();
  };
  bool foundID = false;
  for (int keys = 0; keys <= kMaxInlineKeys; ++keys) {
    while (pos < content.size() && IsWhite(content[pos])) ++pos;
    if (pos + 1 < content.size() && content[pos] == 'I' && content[pos + 1] == 'D' &&
        (pos + 2 == content.size() || IsWhite(content[pos + 2]))) {
      foundID = true;
      pos += 2;
      break;
    }
    size_t used = 0;
    TPDFName* key = PDFAsName(pool.ParseObjectEx(content.substr(pos), used));
    if (!key || used == 0) return false;
    pos += used;
    TPDFObject* value = pool.ParseObjectEx(content.substr(pos), used);
    if (used == 0) return false;
    pos += used;
    const std::string& k = key->GetValue();
    auto integer = [&](TPDFObject* v) {
      TPDFNumeric* n = PDFAsNumeric(v);
      return n && n->GetValue() > -2147483648.0 && n->GetValue() < 2147483647.0 ? static_cast<int32_t>(n->AsInteger())
                                                                                : 0;
    };
    if (k == "W" || k == "Width")
      image.Width = integer(value);
    else if (k == "H" || k == "Height")
      image.Height = integer(value);
    else if (k == "BPC" || k == "BitsPerComponent")
      image.BitsPerComponent = integer(value);
    else if (k == "IM" || k == "ImageMask")
      image.ImageMask = PDFAsBoolean(value) && PDFAsBoolean(value)->GetValue();
    else if (k == "CS" || k == "ColorSpace")
      cs = value;
    else if (k == "F" || k == "Filter")
      filter = value;
    else if (k == "DP" || k == "DecodeParms")
      parms = value;
    else if (k == "D" || k == "Decode")
      image.Decode = PDFAsArray(value) ? TextOf(value) : std::string();
  }
  if (!foundID) return false;

  ExpandNames(cs, kColorNames, 0);
  ExpandNames(filter, kFilterNames, 0);
  if (image.ImageMask) {
    image.ColorSpace = "/DeviceGray";
  } else if (cs) {
    image.ColorSpace = TextOf(cs);
    TPDFName* name = PDFAsName(cs);
    if (name && name->GetValue() != "DeviceGray" && name->GetValue() != "DeviceRGB" &&
        name->GetValue() != "DeviceCMYK" && resources) {
      // A named colour space of the page resources.
      TPDFDictionary* spaces = PDFAsDictionary(resolve(resources->GetValue("ColorSpace")));
      if (spaces) image.ColorSpaceObject = resolve(spaces->GetValue(name->GetValue()));
    }
  }
  TPDFArray* filters = PDFAsArray(filter);
  if (!filters && filter) filters = pool.NewArrayOf({filter});
  image.Filter = filter ? TextOf(filter) : std::string();
  TPDFArray* parmList = PDFAsArray(parms);
  if (!parmList && PDFAsDictionary(parms)) parmList = pool.NewArrayOf({parms});
  image.DecodeParms = parmList ? TextOf(parmList) : std::string();

  // One white-space byte separates ID from the data.
  if (pos < content.size() && IsWhite(content[pos])) ++pos;
  const size_t start = pos;
  std::string lastFilter;
  if (filters && filters->GetCount() > 0)
    if (TPDFName* n = PDFAsName(filters->GetItem(filters->GetCount() - 1))) lastFilter = n->GetValue();

  size_t end = std::string_view::npos, eiPos = std::string_view::npos;
  auto eiAfter = [&](size_t from) -> size_t {
    size_t p = from;
    while (p < content.size() && IsWhite(content[p])) ++p;
    return IsEndAt(content, p) ? p : std::string_view::npos;
  };
  if (lastFilter == "DCTDecode") {
    size_t e = JpegEnd(content, start);
    if (e != std::string_view::npos && (eiPos = eiAfter(e)) != std::string_view::npos) end = e;
  } else if (!filters || filters->GetCount() == 0) {
    int components = 1;
    if (!image.ImageMask) {
      if (image.ColorSpace == "/DeviceRGB") components = 3;
      if (image.ColorSpace == "/DeviceCMYK") components = 4;
    }
    const int bpc = image.ImageMask && image.BitsPerComponent == 0 ? 1 : image.BitsPerComponent;
    if (image.Width > 0 && image.Height > 0 && bpc > 0 && bpc <= 16) {
      uint64_t size = (uint64_t(image.Width) * components * bpc + 7) / 8 * uint64_t(image.Height);
      if (size <= content.size() - start && (eiPos = eiAfter(start + size)) != std::string_view::npos)
        end = start + size;
    }
  }
  if (end == std::string_view::npos) {
    // White space, "EI", then white space or the end; for filtered data the
    // first such place where the filters decode cleanly.
    size_t first = std::string_view::npos;
    int tries = 0;
    for (size_t p = start; p + 1 < content.size(); ++p) {
      if (!IsEndAt(content, p) || (p > start && !IsWhite(content[p - 1]))) continue;
      if (first == std::string_view::npos) first = p;
      if (!filters || tries++ >= kMaxEndCandidates ||
          DecodesCleanly(filters, parmList, std::string(content.substr(start, p - start)))) {
        end = p, eiPos = p;
        break;
      }
    }
    if (end == std::string_view::npos && first != std::string_view::npos) end = eiPos = first;
    if (end == std::string_view::npos) {
      // No EI at all: the data runs to the end of the content; what is
      // there is drawn (short data is padded by the decoder) and nothing
      // after it is read as operators.
      image.Data = std::string(content.substr(start));
      image.DataStart = static_cast<int32_t>(std::min<size_t>(start + 1, INT32_MAX));
      image.DataEnd = static_cast<int32_t>(std::min<size_t>(content.size(), INT32_MAX));
      position = content.size();
      return true;
    }
    // The white space before EI is not data.
    if (end > start && IsWhite(content[end - 1])) --end;
  }
  image.Data = std::string(content.substr(start, end - start));
  image.DataStart = static_cast<int32_t>(std::min<size_t>(start + 1, INT32_MAX));
  image.DataEnd = static_cast<int32_t>(std::min<size_t>(end, INT32_MAX));
  position = eiPos + 2;
  return true;
}

void TPDFImageDecoder::ExpandInlineImage(const TPDFInlineImage& image, TPDFStructure* owner) {
  owner_ = owner;
  filterPool_ = std::make_unique<TPDFStructure>();
  if (owner) filterPool_->OnLookupObject = owner->OnLookupObject;
  try {
    width_ = image.Width;
    height_ = image.Height;
    bpc_ = image.BitsPerComponent;
    data_ = image.Data;
    filterText_ = image.Filter;
    decodeParmsText_ = image.DecodeParms;
    decodeText_ = image.Decode;
    decode_.clear();
    if (TPDFArray* d = PDFAsArray(filterPool_->ParseObject(image.Decode)))
      for (TPDFObject* item : d->Items()) {
        TPDFNumeric* n = PDFAsNumeric(item);
        decode_.push_back(n ? n->GetValue() : 0.0);
      }
    if (image.ImageMask && (bpc_ == 0 || bpc_ == 1)) {
      bpc_ = 1;
      imageMaskFlag_ = true;
      maskKind_ = isMaskDecoder_ ? imkNone : imkStencil;
      colorSpaceName_ = "DeviceGray";
      colorSpace_ = std::make_unique<TPDFImageColorSpace>();
      colorSpace_->Family = TPDFImageColorSpace::cfGray;
      colorSpace_->Components = 1;
    } else {
      TPDFObject* cs = image.ColorSpaceObject;
      if (!cs && !image.ColorSpace.empty()) {
        cs = filterPool_->ParseObject(image.ColorSpace);
        ExpandNames(cs, kColorNames, 0);
      }
      colorSpaceName_ = ParseColorSpace(cs);
    }
    TPDFObject* filter = image.Filter.empty() ? nullptr : filterPool_->ParseObject(image.Filter);
    ExpandNames(filter, kFilterNames, 0);
    if (filter) filterText_ = TextOf(filter);
    TPDFObject* parms = image.DecodeParms.empty() ? nullptr : filterPool_->ParseObject(image.DecodeParms);
    ApplyFilters(filter, parms);
  } catch (const ECCITTError&) {
    throw;
  } catch (const std::exception& e) {
    Fail(std::string("inline image could not be decoded: ") + e.what());
  }
}
