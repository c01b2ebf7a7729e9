#include "render/PavonaCMap.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "platform/Classes.h"
#include "render/PavonaResources.h"
#include "objects/PavonaCharClass.h"

// ---------------------------------------------------------------------------
// Values of codes inside a range

std::string OffsetCMapValue(std::string_view value, uint32_t offset, bool numeric) {
  std::string out(value);
  if (offset == 0 || value.empty()) return out;
  if (value.size() == 1) {
    uint32_t v = static_cast<uint8_t>(value[0]) + offset;
    if (v <= 0xFF) return std::string(1, static_cast<char>(v));
    v = std::min<uint32_t>(v, 0xFFFF);
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
  }
  if (value.size() % 2 == 0 && !numeric) {
    std::u16string units(value.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>((uint8_t(value[2 * i]) << 8) | uint8_t(value[2 * i + 1]));
    units = OffsetUnicodeText(units, offset);
    out.resize(units.size() * 2);
    for (size_t i = 0; i < units.size(); ++i) {
      out[2 * i] = static_cast<char>(units[i] >> 8);
      out[2 * i + 1] = static_cast<char>(units[i] & 0xFF);
    }
    return out;
  }
  // Numbers: big-endian, carried across bytes and held at their largest value
  // rather than wrapping.
  uint64_t carry = offset;
  for (size_t i = out.size(); i-- > 0 && carry;) {
    uint64_t v = uint8_t(out[i]) + carry;
    out[i] = static_cast<char>(v & 0xFF);
    carry = v >> 8;
  }
  if (carry) std::fill(out.begin(), out.end(), '\xFF');
  return out;
}

std::u16string OffsetUnicodeText(std::u16string_view text, uint32_t offset) {
  std::u16string out(text);
  if (out.empty() || offset == 0) return out;
  size_t n = out.size();
  uint32_t cp;
  size_t start;
  if (n >= 2 && out[n - 2] >= 0xD800 && out[n - 2] < 0xDC00 && out[n - 1] >= 0xDC00 && out[n - 1] < 0xE000) {
    cp = 0x10000 + ((uint32_t(out[n - 2]) - 0xD800) << 10) + (uint32_t(out[n - 1]) - 0xDC00);
    start = n - 2;
  } else {
    cp = out[n - 1];
    start = n - 1;
  }
  uint64_t moved = uint64_t(cp) + offset;
  if (moved > 0x10FFFF) moved = 0x10FFFF;
  out.resize(start);
  if (moved >= 0x10000) {
    moved -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (moved >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (moved & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(moved));
  }
  return out;
}

// ---------------------------------------------------------------------------
// TPavonaCMapSection

void TPavonaCMapSection::InsertRange(uint32_t first, uint32_t last, std::string_view value, bool numeric) {
  if (last < first) return;
  if (!ranges_.empty() && first < ranges_.back().first) sorted_ = false;
  ranges_.push_back({first, last, static_cast<uint32_t>(ranges_.size()), numeric, std::string(value)});
  if (sorted_) maxLast_.push_back(std::max(last, maxLast_.empty() ? 0u : maxLast_.back()));
}

void TPavonaCMapSection::prepare() const {
  if (sorted_) return;
  std::stable_sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  maxLast_.resize(ranges_.size());
  uint32_t m = 0;
  for (size_t i = 0; i < ranges_.size(); ++i) maxLast_[i] = m = std::max(m, ranges_[i].last);
  sorted_ = true;
}

const TPavonaCMapSection::Range* TPavonaCMapSection::find(uint32_t code) const {
  prepare();
  // Ranges with first <= code end before hi; walk back while one of them can still reach code.
  size_t hi = static_cast<size_t>(
      std::upper_bound(ranges_.begin(), ranges_.end(), code, [](uint32_t c, const Range& r) { return c < r.first; }) -
      ranges_.begin());
  const Range* best = nullptr;
  for (size_t i = hi; i-- > 0;) {
    if (maxLast_[i] < code) break;
    const Range& r = ranges_[i];
    if (r.last >= code && (!best || r.order < best->order)) best = &r;
  }
  return best;
}

bool TPavonaCMapSection::Contains(uint32_t code) const { return find(code) != nullptr; }

std::string TPavonaCMapSection::GetValue(uint32_t code) const {
  const Range* r = find(code);
  if (!r) return {};
  return OffsetCMapValue(r->value, code - r->first, r->numeric);
}

std::u16string TPavonaCMapSection::GetUnicode(uint32_t code) const {
  std::string v = GetValue(code);
  if (v.size() == 1) return std::u16string(1, static_cast<char16_t>(static_cast<uint8_t>(v[0])));
  std::u16string out;
  out.reserve((v.size() + 1) / 2);
  for (size_t i = 0; i < v.size(); i += 2) {
    uint16_t unit = static_cast<uint16_t>(uint8_t(v[i]) << 8);
    if (i + 1 < v.size()) unit |= uint8_t(v[i + 1]);
    out.push_back(static_cast<char16_t>(unit));
  }
  return out;
}

uint16_t TPavonaCMapSection::GetCode16(uint32_t code) const {
  std::string v = GetValue(code);
  if (v.size() == 1) return static_cast<uint8_t>(v[0]);
  if (v.size() == 2) return static_cast<uint16_t>((uint8_t(v[0]) << 8) | uint8_t(v[1]));
  return 0;
}

// ---------------------------------------------------------------------------
// TPavonaCMap

TPavonaCMapSection* TPavonaCMap::section(uint32_t codeLength, uint32_t valueSize) {
  for (auto& s : Sections)
    if (s->CodeLength == codeLength && s->ValueSize == valueSize) return s.get();
  Sections.push_back(std::make_unique<TPavonaCMapSection>(codeLength, valueSize));
  return Sections.back().get();
}

void TPavonaCMap::AddRangeMapping(uint32_t codeLength, uint32_t first, uint32_t last, std::string_view value,
                                  bool numeric) {
  if (last < first) return;
  section(codeLength, static_cast<uint32_t>(value.size()))->InsertRange(first, last, value, numeric);
}

void TPavonaCMap::AddCodespaceRange(uint32_t first, uint32_t last, uint32_t codeLength) {
  CodespaceRanges.push_back({first, last, codeLength});
}

std::u16string TPavonaCMap::LookupUnicode(uint32_t codeLength, uint32_t code) const {
  for (const auto& s : Sections)
    if (s->CodeLength == codeLength && s->Contains(code)) return s->GetUnicode(code);
  return {};
}

uint16_t TPavonaCMap::LookupCID(uint32_t codeLength, uint32_t code) const {
  for (const auto& s : Sections)
    if ((codeLength == 0 || s->CodeLength == codeLength) && s->Contains(code)) return s->GetCode16(code);
  return 0;
}

bool TPavonaCMap::HasCode(uint32_t codeLength, uint32_t code) const {
  if (IsIdentity) return true;
  for (const auto& s : Sections)
    if (s->CodeLength == codeLength && s->Contains(code)) return true;
  return false;
}

bool TPavonaCMap::EncodeCode(uint32_t codeLength, uint32_t key, std::string& value) const {
  value.clear();
  if (IsIdentity) {
    if (codeLength != 2) return false;
    value = {static_cast<char>((key >> 8) & 0xFF), static_cast<char>(key & 0xFF)};
    return true;
  }
  for (const auto& s : Sections) {
    if (s->CodeLength != codeLength) continue;
    if (s->Contains(key)) {
      value = s->GetValue(key);
      return true;
    }
    if (s->Contains(32)) {
      value = s->GetValue(32);
      return true;
    }
  }
  return false;
}

void TPavonaCMap::Clear() {
  Sections.clear();
  CodespaceRanges.clear();
}

void TPavonaCMap::LoadFromString(std::string_view data) {
  Clear();
  size_t pos = 0;
  auto readLE = [&](size_t bytes, uint32_t& v) {
    if (data.size() - pos < bytes) return false;
    v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= uint32_t(uint8_t(data[pos + i])) << (8 * i);
    pos += bytes;
    return true;
  };
  uint32_t count = 0;
  if (!readLE(4, count)) return;
  for (uint32_t s = 0; s < count; ++s) {
    uint32_t codeLength = 0, valueSize = 0, n = 0;
    if (!readLE(4, codeLength) || !readLE(4, valueSize) || !readLE(4, n)) return;
    if (codeLength > 4 || valueSize > 64 || n > 0xFFFF) return;  // its data cannot be skipped safely
    size_t keyBytes = codeLength == 1 ? 1 : codeLength == 2 ? 2 : 4;
    if ((data.size() - pos) / (keyBytes + valueSize) < n) return;  // cut short
    std::vector<uint32_t> keys(n);
    uint32_t key = 0;
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t delta = 0;
      readLE(keyBytes, delta);
      key += delta;
      keys[i] = key;
    }
    auto target = std::make_unique<TPavonaCMapSection>(codeLength, valueSize);
    for (uint32_t i = 0; i < n; ++i) {
      target->Insert(keys[i], data.substr(pos, valueSize));
      pos += valueSize;
    }
    Sections.push_back(std::move(target));
  }
}

void TPavonaCMap::LoadFromStream(TStream& stream) {
  std::string data;
  char chunk[65536];
  for (int64_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) data.append(chunk, static_cast<size_t>(n));
  LoadFromString(data);
}

// ---------------------------------------------------------------------------
// TPavonaCMapParser

namespace {

constexpr std::string_view kWhiteSpace("\0\t\f \n\r", 6);
constexpr std::string_view kDelimiters("\0\t\f \n\r%[]", 9);

// Hex digits of a hex string token ("<" digits and white space ">").
bool hexDigits(std::string_view t, std::string& digits) {
  digits.clear();
  if (t.size() < 2 || t.front() != '<' || t.back() != '>') return false;
  for (char c : t.substr(1, t.size() - 2)) {
    if (PDFHexValue(c) >= 0)
      digits.push_back(c);
    else if (!PDFIsWhite(c))
      return false;
  }
  return true;
}

// Code of a hex token (at most 8 digits); false when it does not fit.
bool hexCode(std::string_view t, uint32_t& code, uint32_t& byteLength) {
  std::string digits;
  if (!hexDigits(t, digits)) return false;
  if (digits.empty() || digits.size() > 8) return false;
  code = 0;
  for (char c : digits) code = code * 16 + static_cast<uint32_t>(PDFHexValue(c));
  byteLength = static_cast<uint32_t>((digits.size() + 1) / 2);
  return true;
}

bool decimal(std::string_view t, uint64_t& value) {
  if (t.empty() || t.size() > 10) return false;
  value = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// Destination bytes: a hex string, or a decimal number in 1, 2 or 4 bytes
// (sized to hold the largest value of the range); empty when neither.
std::string destinationBytes(std::string_view t, uint32_t span) {
  std::string out;
  std::string digits;
  if (hexDigits(t, digits)) {
    for (size_t i = 0; i < digits.size(); i += 2) {
      auto nibble = [](char c) {
        return PDFHexValue(c);
      };
      int hi = nibble(digits[i]);
      int lo = i + 1 < digits.size() ? nibble(digits[i + 1]) : 0;
      out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
  }
  uint64_t v = 0;
  if (!decimal(t, v) || v > 0xFFFFFFFFull) return out;
  uint64_t top = v + span;
  if (top < 256) return std::string(1, static_cast<char>(v));
  if (top <= 0xFFFF) return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
  return std::string{static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>(v & 0xFF)};
}

}  // namespace

std::string_view TPavonaCMapParser::nextToken() {
  size_t start = text_.find_first_not_of(kWhiteSpace, pos_);
  if (start == std::string_view::npos) {
    pos_ = text_.size();
    return {};
  }
  char c = text_[start];
  size_t end;
  if (c == '%') {
    end = text_.find_first_of("\n\r", start);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return {};
    }
  } else if (c == '[' || c == ']') {
    end = start + 1;
  } else if (c != '<') {
    end = text_.find_first_of(kDelimiters, start);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return {};
    }
  } else {
    size_t close = text_.find('>', start);
    if (close == std::string_view::npos) {
      pos_ = text_.size();
      return {};
    }
    end = close + 1;
    if (start + 1 < text_.size() && text_[start + 1] == '<') end = std::min(end + 1, text_.size());
  }
  pos_ = end;
  return text_.substr(start, end - start);
}

void TPavonaCMapParser::rangeMapping(std::string_view low, std::string_view high, std::string_view destination,
                                     bool numeric) {
  uint32_t lo = 0, hi = 0, loLength = 0, hiLength = 0;
  if (!hexCode(low, lo, loLength) || !hexCode(high, hi, hiLength) || loLength != hiLength || hi < lo) return;
  std::string value = destinationBytes(destination, hi - lo);
  if (value.empty()) return;
  map_->AddRangeMapping(loLength, lo, hi, value, numeric);
}

std::unique_ptr<TPavonaCMap> TPavonaCMapParser::Parse(std::string_view text) {
  // States: outside the map, inside it, or inside one of its blocks.
  enum State { sNone, sCMap, sCodespace, sBfChar, sBfRange, sCidChar, sCidRange };
  auto map = std::make_unique<TPavonaCMap>();
  map_ = map.get();
  text_ = text;
  pos_ = 0;
  std::string_view window[2];  // T1, T2
  State state = sNone;
  uint64_t remaining = 0;
  int position = 0;
  for (;;) {
    std::string_view t = nextToken();
    if (t.empty()) break;
    if (t == "begincmap") {
      state = sCMap;
    } else if (state == sCMap) {
      State block = t == "begincodespacerange" ? sCodespace
                    : t == "beginbfchar"       ? sBfChar
                    : t == "beginbfrange"      ? sBfRange
                    : t == "begincidchar"      ? sCidChar
                    : t == "begincidrange"     ? sCidRange
                                               : sCMap;
      if (block != sCMap) {
        state = block;
        uint64_t n = 0;
        remaining = decimal(window[0], n) ? n : 0;
        position = 0;
      }
    } else if (state != sNone) {
      if (t == "endcodespacerange" || t == "endbfchar" || t == "endbfrange" || t == "endcidchar" ||
          t == "endcidrange") {
        state = sCMap;
        remaining = 0;
      } else if (remaining > 0) {
        ++position;
        if (state == sCodespace && position == 2) {
          uint32_t lo = 0, hi = 0, loLength = 0, hiLength = 0;
          if (hexCode(window[0], lo, loLength) && hexCode(t, hi, hiLength)) map_->AddCodespaceRange(lo, hi, loLength);
          position = 0;
          --remaining;
        } else if ((state == sBfChar || state == sCidChar) && position == 2) {
          rangeMapping(window[0], window[0], t, state == sCidChar);
          position = 0;
          --remaining;
        } else if (state == sBfRange && position == 3) {
          if (t != "[") {
            rangeMapping(window[1], window[0], t, false);
          } else {
            // One destination per code, as many as the array holds (never more
            // than the range), each code keeping the length of the range's codes.
            uint32_t lo = 0, hi = 0, loLength = 0, hiLength = 0;
            bool valid = hexCode(window[1], lo, loLength) && hexCode(window[0], hi, hiLength) &&
                         loLength == hiLength && lo <= hi;
            uint64_t code = lo;
            for (std::string_view item = nextToken(); !item.empty() && item != "]"; item = nextToken()) {
              if (valid && code <= hi) {
                std::string value = destinationBytes(item, 0);
                if (!value.empty()) map_->AddMapping(loLength, static_cast<uint32_t>(code), value);
                ++code;
              }
            }
            t = "]";
          }
          position = 0;
          --remaining;
        } else if (state == sCidRange && position == 3) {
          if (t != "[") {
            rangeMapping(window[1], window[0], t, true);
            position = 0;
            --remaining;
          } else {
            remaining = 0;
          }
        }
      }
    }
    window[1] = window[0];
    window[0] = t;
    if (t == "endcmap") break;
  }
  map_ = nullptr;
  return map;
}

// ---------------------------------------------------------------------------
// Predefined CMaps

std::unique_ptr<TPavonaCMap> LoadPredefinedCMap(int32_t resourceId) {
  auto map = std::make_unique<TPavonaCMap>();
  std::string data = InflateProgramResource(resourceId);
  if (!data.empty()) map->LoadFromString(data);
  return map;
}

namespace {

const TPavonaCMap* predefined(int32_t id) {
  static std::once_flag once[3];
  static std::unique_ptr<TPavonaCMap> maps[3];
  int slot = id - kResourceCMapJapan1ToUnicode;
  if (slot < 0 || slot > 2) return nullptr;
  std::call_once(once[slot], [&] { maps[slot] = LoadPredefinedCMap(id); });
  return maps[slot].get();
}

int32_t shiftJISResource(std::string_view name) {
  if (name == "90msp-RKSJ-H") return kResourceCMap90mspRKSJH;
  if (name == "90ms-RKSJ-H") return kResourceCMap90msRKSJH;
  return 0;
}

bool isIdentityName(std::string_view name) {
  return name == "Identity-H" || name == "Identity-V" || name == "UniJIS-UCS2-H";
}

}  // namespace

std::u16string PredefinedCMapToUnicode(std::string_view cmapName, std::string_view registryOrdering, uint32_t code) {
  uint32_t cid;
  if (isIdentityName(cmapName)) {
    cid = code;
  } else if (int32_t id = shiftJISResource(cmapName)) {
    cid = predefined(id)->LookupCID(0, code);
  } else {
    return {};
  }
  if (registryOrdering.substr(0, 13) == "Adobe-Japan1-") return predefined(kResourceCMapJapan1ToUnicode)->LookupUnicode(2, cid);
  if (registryOrdering.substr(0, 15) == "Adobe-Identity-") return std::u16string(1, static_cast<char16_t>(code));
  return {};
}

bool PredefinedCMapEncode(std::string_view cmapName, std::string_view /*registryOrdering*/, std::string_view bytes,
                          std::vector<uint16_t>& codes) {
  codes.clear();
  if (isIdentityName(cmapName)) {
    codes.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      codes.push_back(static_cast<uint16_t>((uint8_t(bytes[i]) << 8) | uint8_t(bytes[i + 1])));
    return true;
  }
  int32_t id = shiftJISResource(cmapName);
  if (!id) return false;
  const TPavonaCMap* map = predefined(id);
  if (map->Sections.empty()) return false;
  size_t pos = 0;
  uint32_t length = 1;
  while (pos < bytes.size()) {
    uint32_t code = uint8_t(bytes[pos]);
    if (length == 2 && pos + 1 < bytes.size()) code = (code << 8) | uint8_t(bytes[pos + 1]);
    if (map->HasCode(length, code)) {
      codes.push_back(static_cast<uint16_t>(code));
      pos += length;
      length = 1;
    } else if (length == 1) {
      length = 2;
    } else {
      pos += 2;
    }
  }
  return true;
}
