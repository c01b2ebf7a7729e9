#include "document/PavonaXRef.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "objects/PavonaCharClass.h"
#include "objects/PavonaStructure.h"

namespace {

// Hybrid files nest at most one XRefStm below a table; more than this is a
// hostile chain.
constexpr int kMaxXRefStmDepth = 8;
constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();
// How far around a section offset that misses its section the section is
// looked for, and how many candidates there are read at most.
// Blanks after the offset are skipped whatever their number; beyond them
// only this many bytes either side count (a section further away is not
// taken for the one meant: a table whose offsets belong to another version
// of the file must not win over a reconstruction).
constexpr int64_t kNearbyWindow = 64;
constexpr int64_t kMaxSkippedBlanks = 4096;
constexpr int kMaxNearbyTries = 16;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a run of at most maxDigits decimal digits at p; false when there is
// none or it is longer.
bool readNumber(std::string_view text, size_t& p, int maxDigits, int64_t& value) {
  size_t start = p;
  value = 0;
  while (p < text.size() && isDigit(text[p])) {
    if (static_cast<int>(p - start) >= maxDigits) return false;
    value = value * 10 + (text[p] - '0');
    ++p;
  }
  return p > start;
}

void skipWhite(std::string_view text, size_t& p) {
  while (p < text.size() && PDFIsWhite(text[p])) ++p;
}

// Big-endian unsigned field of width bytes (0..8).
uint64_t readField(const unsigned char* data, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | data[i];
  return v;
}

int32_t clampInt32(uint64_t v) {
  return v > static_cast<uint64_t>(kMaxInt32) ? -1 : static_cast<int32_t>(v);
}

// Trims blanks (space, tab, CR, LF).
std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && PDFIsWhite(s.front())) s.remove_prefix(1);
  while (!s.empty() && PDFIsWhite(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

TPDFXRefReader::TPDFXRefReader(TStream& stream) {
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    text_ = memory->Bytes();
  } else {
    stream.SetPosition(0);
    owned_ = stream.ReadAll();
    text_ = owned_;
  }
}

TPDFXRefReader::TPDFXRefReader(std::string_view bytes) : text_(bytes) {}

std::string_view TPDFXRefReader::readRange(int64_t offset, int64_t count) const {
  if (offset < 0) offset = 0;
  int64_t size = static_cast<int64_t>(text_.size());
  if (count <= 0 || offset >= size) return {};
  if (count > size - offset) count = size - offset;
  return text_.substr(static_cast<size_t>(offset), static_cast<size_t>(count));
}

int64_t TPDFXRefReader::FindStartXRef() {
  const int64_t size = static_cast<int64_t>(text_.size());
  if (size == 0) return 0;
  size_t endMark = std::string_view::npos;
  std::string_view tail = readRange(size - 10, 10);
  size_t e = tail.find("%%E");
  if (e != std::string_view::npos) {
    size_t at = static_cast<size_t>(std::max<int64_t>(0, size - 10)) + e;
    if (text_.substr(at, 5) != "%%EOF") {
      // The file was cut inside the marker: the last "%%E" counts.
      for (int64_t p = size - 3; p >= 0; --p) {
        if (text_.compare(static_cast<size_t>(p), 3, "%%E") == 0) {
          endMark = static_cast<size_t>(p);
          break;
        }
      }
    }
  }
  if (endMark == std::string_view::npos) {
    endMark = text_.rfind("%%EOF");
    if (endMark == std::string_view::npos) return 0;
  }
  endMark_ = endMark;
  size_t sx = text_.substr(0, endMark).rfind("startxref");
  if (sx == std::string_view::npos) return 0;
  std::string_view between = text_.substr(sx + 9, endMark - (sx + 9));
  int64_t result = 0;
  while (!between.empty()) {
    size_t eol = between.find_first_of("\r\n");
    std::string_view line = between.substr(0, eol);
    between = eol == std::string_view::npos ? std::string_view() : between.substr(eol + 1);
    line = trimBlanks(line);
    size_t pct = line.find('%');
    if (pct != std::string_view::npos) line = trimBlanks(line.substr(0, pct));
    if (line.empty() || line.size() > 18) continue;
    int64_t value = 0;
    bool number = true;
    for (char c : line) {
      if (!isDigit(c)) {
        number = false;
        break;
      }
      value = value * 10 + (c - '0');
    }
    if (number && value > 0) result = value;
  }
  return result;
}

bool TPDFXRefReader::ReadSection(int64_t offset) {
  visited_.clear();
  return readSectionAt(offset, 0);
}

bool TPDFXRefReader::readSectionAt(int64_t offset, int depth) {
  // Iterative over Prev so that a long chain costs no stack; each offset is
  // read at most once, so a loop ends the chain.
  for (;;) {
    if (visited_.count(offset)) return true;
    int64_t prev = 0;
    if (!readOneSection(offset, depth, prev)) return false;
    if (prev <= 0) return true;
    offset = prev;
  }
}

bool TPDFXRefReader::readOneSection(int64_t offset, int depth, int64_t& prev) {
  if (OnSection) OnSection(offset);
  visited_.insert(offset);
  bool ok = false;
  prev = 0;
  if (offset >= 0 && offset < static_cast<int64_t>(text_.size())) {
    try {
      int64_t start = std::max<int64_t>(0, offset - 10);
      std::string_view window = readRange(start, 40);
      size_t xref = std::string_view::npos;
      for (size_t p = window.find("xref"); p != std::string_view::npos; p = window.find("xref", p + 1)) {
        size_t abs = static_cast<size_t>(start) + p;
        if (abs >= 5 && text_.compare(abs - 5, 5, "start") == 0) continue;  // tail of "startxref"
        xref = p;
        break;
      }
      size_t obj = window.find(" obj");
      if (xref == std::string_view::npos) {
        if (obj != std::string_view::npos) ok = readXRefStream(start + static_cast<int64_t>(obj) + 4, prev);
      } else if (obj == std::string_view::npos || obj > xref) {
        ok = readXRefTable(start + static_cast<int64_t>(xref) + 4, depth, prev);
      }
    } catch (const std::exception&) {
      ok = false;
    }
    // A common writer slip: the offset points into the blanks before the
    // section, or a little past its start. The section nearest to the
    // offset within a small window is read instead, as other readers do.
    if (!ok) ok = readNearbySection(offset, depth, prev);
  }
  if (!ok) {
    prev = 0;
    if (OnSection) OnSection(-offset);
  }
  return ok;
}

bool TPDFXRefReader::readNearbySection(int64_t offset, int depth, int64_t& prev) {
  // An offset inside a run of blanks stands for what follows the run.
  size_t after = static_cast<size_t>(offset);
  while (after < text_.size() && PDFIsWhite(text_[after]) && after - static_cast<size_t>(offset) < kMaxSkippedBlanks)
    ++after;
  const int64_t low = std::max<int64_t>(0, offset - kNearbyWindow);
  const int64_t high = static_cast<int64_t>(after) + kNearbyWindow;
  const std::string_view window = readRange(low, high - low);
  // Candidates: a table ("xref" followed by a subsection header, so that a
  // failed attempt delivers no entries) or an "N G obj" header; nearest
  // first. A stream candidate delivers nothing unless it is an XRef stream.
  struct Candidate {
    int64_t distance;
    bool table;
    int64_t position;  // just behind "xref" or "obj"
  };
  std::vector<Candidate> candidates;
  auto distanceTo = [&](int64_t at) {
    if (at < offset) return offset - at;
    return at <= static_cast<int64_t>(after) ? 0 : at - static_cast<int64_t>(after);
  };
  for (size_t p = window.find("xref"); p != std::string_view::npos; p = window.find("xref", p + 1)) {
    const size_t abs = static_cast<size_t>(low) + p;
    if (abs >= 5 && text_.compare(abs - 5, 5, "start") == 0) continue;
    size_t q = abs + 4;
    skipWhite(text_, q);
    if (q >= text_.size() || !isDigit(text_[q])) continue;
    candidates.push_back({distanceTo(static_cast<int64_t>(abs)), true, static_cast<int64_t>(abs) + 4});
  }
  for (size_t p = window.find("obj"); p != std::string_view::npos; p = window.find("obj", p + 1)) {
    const size_t abs = static_cast<size_t>(low) + p;
    if (abs + 3 < text_.size() && !PDFIsWhite(text_[abs + 3]) && !PDFIsDelimiter(text_[abs + 3])) continue;
    // "N G" before it, the number starting a line or after blanks.
    size_t q = abs;
    while (q > 0 && PDFIsWhite(text_[q - 1])) --q;
    const size_t genEnd = q;
    while (q > 0 && isDigit(text_[q - 1])) --q;
    if (q == genEnd || q == 0 || !PDFIsWhite(text_[q - 1])) continue;
    while (q > 0 && PDFIsWhite(text_[q - 1])) --q;
    const size_t numEnd = q;
    while (q > 0 && isDigit(text_[q - 1])) --q;
    if (q == numEnd || (q > 0 && !PDFIsWhite(text_[q - 1]) && !PDFIsDelimiter(text_[q - 1]))) continue;
    candidates.push_back({distanceTo(static_cast<int64_t>(q)), false, static_cast<int64_t>(abs) + 3});
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
  int tries = 0;
  for (const Candidate& c : candidates) {
    if (++tries > kMaxNearbyTries) break;
    try {
      prev = 0;
      if (c.table ? readXRefTable(c.position, depth, prev) : readXRefStream(c.position, prev)) return true;
    } catch (const std::exception&) {
    }
  }
  prev = 0;
  return false;
}

int64_t TPDFXRefReader::offsetValue(TPDFDictionary* dict, std::string_view key) const {
  TPDFNumeric* n = PDFAsNumeric(dict->GetValue(key));
  if (!n) return -1;
  double v = n->GetValue();
  if (!(v >= 0) || v > 9.0e15) return std::numeric_limits<int64_t>::max();
  return n->AsInteger();
}

bool TPDFXRefReader::readXRefTable(int64_t position, int depth, int64_t& prev) {
  size_t p = static_cast<size_t>(position);
  const std::string_view text = text_;
  // Free entries are delivered after the section's XRefStm stream: in a
  // hybrid file the table lists the objects of object streams as free, and
  // the stream's definitions must win over them (they hide older sections).
  struct FreeEntry {
    int32_t number;
    int64_t next;
    int32_t generation;
  };
  std::vector<FreeEntry> frees;
  for (;;) {
    std::string_view head = readRange(static_cast<int64_t>(p), 20);
    if (head.substr(0, 3).find('%') != std::string_view::npos || head.find("trailer") != std::string_view::npos) break;
    size_t q = p;
    skipWhite(text, q);
    int64_t first = 0, count = 0;
    if (!readNumber(text, q, 10, first)) break;
    while (q < text.size() && (text[q] == ' ' || text[q] == '\t')) ++q;
    if (!readNumber(text, q, 10, count)) break;
    if (count < 1) break;
    if (first > kMaxInt32 || count - 1 > kMaxInt32 - first) return false;
    skipWhite(text, q);
    for (int64_t i = 0; i < count; ++i) {
      // "oooooooooo ggggg k" with any blank between the fields; the line end
      // may be one or two bytes, or stray blanks.
      int64_t offset = 0, generation = 0;
      if (!readNumber(text, q, 10, offset)) return false;
      size_t blanks = q;
      while (q < text.size() && (text[q] == ' ' || text[q] == '\t')) ++q;
      if (q == blanks || !readNumber(text, q, 5, generation)) return false;
      blanks = q;
      while (q < text.size() && (text[q] == ' ' || text[q] == '\t')) ++q;
      if (q == blanks || q >= text.size() || (text[q] != 'n' && text[q] != 'f')) return false;
      char kind = text[q++];
      if (kind == 'f') {
        frees.push_back({static_cast<int32_t>(first + i), offset, static_cast<int32_t>(generation)});
      } else if (OnEntry) {
        OnEntry(static_cast<int32_t>(first + i), offset, kind, static_cast<int32_t>(generation));
      }
      while (q < text.size() && (text[q] == '\r' || text[q] == '\n' || text[q] == ' ')) ++q;
    }
    p = q;
  }
  size_t t = text.find("trailer", p);
  if (t == std::string_view::npos) return false;
  TPDFStructure pool;
  pool.OnLookupObject = [](TPDFIndRef*, int32_t, int32_t) -> TPDFObject* { return nullptr; };
  size_t consumed = 0;
  TPDFDictionary* trailer = PDFAsDictionary(pool.ParseObjectEx(text.substr(t + 7), consumed));
  if (!trailer) return false;
  if (OnTrailer) OnTrailer(trailer->WriteText());
  int64_t xrefStm = offsetValue(trailer, "XRefStm");
  if (xrefStm >= 0) {
    HasXRefStm = true;
    // Only the stream itself: its own Prev (if any) is not followed, the
    // table's Prev continues the chain.
    int64_t ignored = 0;
    if (depth < kMaxXRefStmDepth && !visited_.count(xrefStm)) (void)readOneSection(xrefStm, depth + 1, ignored);
  }
  if (OnEntry) {
    for (const FreeEntry& f : frees) OnEntry(f.number, f.next, 'f', f.generation);
  }
  int64_t prevValue = offsetValue(trailer, "Prev");
  prev = prevValue > 0 ? prevValue : 0;
  return true;
}

bool TPDFXRefReader::readXRefStream(int64_t position, int64_t& prev) {
  const std::string_view text = text_;
  if (position < 0 || position >= static_cast<int64_t>(text.size())) return false;
  TPDFStructure pool;
  pool.OnLookupObject = [](TPDFIndRef*, int32_t, int32_t) -> TPDFObject* { return nullptr; };
  size_t consumed = 0;
  TPDFDictionary* dict = PDFAsDictionary(pool.ParseObjectEx(text.substr(static_cast<size_t>(position)), consumed));
  if (!dict || dict->GetNameValue("Type") != "XRef") return false;
  TPDFNumeric* sizeValue = PDFAsNumeric(dict->GetValue("Size"));
  if (!sizeValue) return false;

  // Subsections (first, count).
  std::vector<std::pair<int64_t, int64_t>> pairs;
  if (TPDFArray* index = PDFAsArray(dict->GetValue("Index"))) {
    for (int32_t i = 0; i + 1 < index->GetCount(); i += 2) {
      TPDFNumeric* a = PDFAsNumeric(index->GetItem(i));
      TPDFNumeric* b = PDFAsNumeric(index->GetItem(i + 1));
      int64_t first = a ? a->AsInteger() : 0, count = b ? b->AsInteger() : 0;
      if (first < 0 || count < 0 || first > kMaxInt32 || count > kMaxInt32 + 1 - first) return false;
      pairs.emplace_back(first, count);
    }
  } else {
    int64_t size = sizeValue->AsInteger();
    if (size < 0 || size > kMaxInt32) return false;
    pairs.emplace_back(0, size);
  }
  int w[3] = {0, 0, 0};
  TPDFArray* widths = PDFAsArray(dict->GetValue("W"));
  if (!widths || widths->GetCount() <= 2) return false;
  for (int i = 0; i < 3; ++i) {
    TPDFNumeric* n = PDFAsNumeric(widths->GetItem(i));
    int64_t v = n ? n->AsInteger() : -1;
    if (v < 0 || v > 8) return false;
    w[i] = static_cast<int>(v);
  }
  const size_t entryWidth = static_cast<size_t>(w[0] + w[1] + w[2]);
  if (entryWidth == 0) return false;

  // The data: behind the dictionary (stray ">>" tolerated) comes "stream"
  // and one end of line.
  size_t p = static_cast<size_t>(position) + consumed;
  skipWhite(text, p);
  while (text.compare(p, 2, ">>") == 0) {
    p += 2;
    skipWhite(text, p);
  }
  const size_t dataStart = SkipStreamKeyword(text, p);
  if (dataStart == std::string_view::npos) return false;
  size_t length = std::string_view::npos;
  if (TPDFNumeric* len = PDFAsNumeric(dict->GetValue("Length"))) {
    int64_t v = len->AsInteger();
    if (v >= 0 && static_cast<uint64_t>(v) <= text.size() - dataStart) {
      size_t after = dataStart + static_cast<size_t>(v);
      skipWhite(text, after);
      if (text.compare(after, 9, "endstream") == 0) length = static_cast<size_t>(v);
    }
  }
  if (length == std::string_view::npos) {
    // Indirect or wrong Length: the data end where "endstream" begins.
    size_t end = text.find("endstream", dataStart);
    if (end == std::string_view::npos) return false;
    if (end > dataStart && text[end - 1] == '\n') --end;
    if (end > dataStart && text[end - 1] == '\r') --end;
    length = end - dataStart;
  }
  TPDFStream* stream = pool.NewStreamWith(std::string(text.substr(dataStart, length)), dict);
  TPDFDecodeStatus status = TPDFDecodeStatus::dsOk;
  const std::string data = stream->GetDecodedData(&status);
  if (status == TPDFDecodeStatus::dsFailed || status == TPDFDecodeStatus::dsTooLarge) return false;

  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  size_t at = 0;
  for (const auto& [first, count] : pairs) {
    for (int64_t i = 0; i < count; ++i) {
      if (data.size() - at < entryWidth) break;  // the data ended early
      const unsigned char* e = bytes + at;
      at += entryWidth;
      uint64_t type = w[0] ? readField(e, w[0]) : 1;
      uint64_t f2 = readField(e + w[0], w[1]);
      uint64_t f3 = readField(e + w[0] + w[1], w[2]);
      int32_t number = static_cast<int32_t>(first + i);
      if (!OnEntry) continue;
      switch (type) {
        case 0:
          OnEntry(number, static_cast<int64_t>(f2 & 0x7fffffffffffffffULL), 'f', clampInt32(f3));
          break;
        case 1:
          OnEntry(number,
                  f2 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? -1 : static_cast<int64_t>(f2), 'n',
                  w[2] ? clampInt32(f3) : 0);
          break;
        case 2:
          if (f2 > static_cast<uint64_t>(kMaxInt32)) {
            OnEntry(number, 0, ' ', 0);
          } else {
            OnEntry(number, static_cast<int64_t>(f2), 'c', clampInt32(f3));
          }
          break;
        default:
          OnEntry(number, 0, ' ', 0);
          break;
      }
    }
  }
  if (OnTrailer) OnTrailer(dict->WriteText());
  int64_t prevValue = offsetValue(dict, "Prev");
  prev = prevValue >= 1 ? prevValue : 0;
  return true;
}

namespace {

// Calls f(number, generation, offset, body) for every "N G obj" at or after
// from that starts a line (or follows "endobj"); body is the offset just
// behind "obj". f returns false to stop.
template <typename F>
void forEachObjectHeader(std::string_view text, size_t from, F f) {
  for (size_t p = text.find("obj", from); p != std::string_view::npos; p = text.find("obj", p + 3)) {
    if (p + 3 < text.size() && !PDFIsWhite(text[p + 3]) && !PDFIsDelimiter(text[p + 3])) continue;
    // Backwards: blanks, generation, blanks, number, then a line start or "endobj".
    size_t q = p;
    while (q > 0 && PDFIsWhite(text[q - 1])) --q;
    size_t genEnd = q;
    while (q > 0 && isDigit(text[q - 1]) && genEnd - q < 6) --q;
    if (q == genEnd || (q > 0 && isDigit(text[q - 1]))) continue;
    size_t genStart = q;
    while (q > 0 && (text[q - 1] == ' ' || text[q - 1] == '\t' || text[q - 1] == '\r' || text[q - 1] == '\n')) --q;
    if (q == genStart) continue;
    size_t numEnd = q;
    while (q > 0 && isDigit(text[q - 1]) && numEnd - q < 11) --q;
    if (q == numEnd || (q > 0 && isDigit(text[q - 1]))) continue;
    size_t numStart = q;
    while (q > 0 && (text[q - 1] == ' ' || text[q - 1] == '\t')) --q;
    bool lineStart = q == 0 || text[q - 1] == '\r' || text[q - 1] == '\n';
    if (!lineStart) {
      size_t r = q;
      while (r > 0 && PDFIsWhite(text[r - 1])) --r;
      lineStart = r >= 6 && text.compare(r - 6, 6, "endobj") == 0 && r < numStart;
    }
    if (!lineStart) continue;
    int64_t number = 0, generation = 0;
    size_t a = numStart, b = genStart;
    if (!readNumber(text, a, 10, number) || !readNumber(text, b, 5, generation)) continue;
    if (number < 1 || number > kMaxInt32 || generation > 65535) continue;
    if (!f(static_cast<int32_t>(number), static_cast<int32_t>(generation), numStart, p + 3)) return;
  }
}

}  // namespace

bool TPDFXRefReader::HasObjectsAfterEnd() const {
  if (endMark_ == std::string_view::npos || endMark_ >= text_.size()) return false;
  bool any = false;
  forEachObjectHeader(text_, endMark_, [&](int32_t, int32_t, size_t, size_t) {
    any = true;
    return false;
  });
  return any;
}

bool TPDFXRefReader::Reconstruct() {
  const std::string_view text = text_;
  struct Found {
    int32_t number;
    int32_t generation;
    size_t offset;
    size_t body;  // just behind "obj"
  };
  std::vector<Found> found;
  forEachObjectHeader(text, 0, [&](int32_t number, int32_t generation, size_t at, size_t body) {
    found.push_back({number, generation, at, body});
    return true;
  });
  if (found.empty()) return false;
  // The last definition of a number is the newest one: deliver it first.
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    if (OnEntry) OnEntry(it->number, static_cast<int64_t>(it->offset), 'n', it->generation);
  }

  // The newest trailer with Root: classic trailers and cross-reference
  // stream dictionaries, whichever stands last.
  TPDFStructure pool;
  pool.OnLookupObject = [](TPDFIndRef*, int32_t, int32_t) -> TPDFObject* { return nullptr; };
  std::string best;
  size_t bestAt = 0;
  auto consider = [&](size_t at, TPDFDictionary* dict) {
    if (!dict || !dict->GetValue("Root")) return;
    if (best.empty() || at >= bestAt) {
      best = dict->WriteText();
      bestAt = at;
    }
  };
  for (size_t t = text.find("trailer"); t != std::string_view::npos; t = text.find("trailer", t + 7)) {
    size_t consumed = 0;
    try {
      consider(t, PDFAsDictionary(pool.ParseObjectEx(text.substr(t + 7), consumed)));
    } catch (const std::exception&) {
    }
  }
  const Found* catalog = nullptr;
  for (const Found& f : found) {
    // Only dictionaries that name XRef or Catalog near their start are parsed.
    std::string_view head = text.substr(f.body, 4096);
    bool xrefStream = head.find("/XRef") != std::string_view::npos;
    bool maybeCatalog = head.find("/Catalog") != std::string_view::npos;
    if (!xrefStream && !maybeCatalog) continue;
    size_t consumed = 0;
    try {
      TPDFDictionary* dict = PDFAsDictionary(pool.ParseObjectEx(text.substr(f.body), consumed));
      if (!dict) continue;
      std::string type = dict->GetNameValue("Type");
      if (type == "XRef") consider(f.offset, dict);
      if (type == "Catalog") catalog = &f;
    } catch (const std::exception&) {
    }
  }
  if (best.empty() && catalog) {
    int32_t highest = 0;
    for (const Found& f : found) highest = std::max(highest, f.number);
    TPDFDictionary* made = pool.NewDictionary();
    made->SetValue("Size", pool.NewNumeric(static_cast<double>(highest) + 1));
    made->SetValue("Root", pool.NewIndRef(catalog->number, catalog->generation));
    best = made->WriteText();
  }
  if (!best.empty() && OnTrailer) OnTrailer(best);
  return true;
}

size_t SkipStreamKeyword(std::string_view text, size_t pos) {
  size_t p = pos;
  skipWhite(text, p);
  if (text.compare(std::min(p, text.size()), 6, "stream") != 0) return std::string_view::npos;
  p += 6;
  // White space other than an end of line may stand before the end of line.
  while (p < text.size() && PDFIsWhite(text[p]) && text[p] != '\r' && text[p] != '\n') ++p;
  if (p + 1 < text.size() && text[p] == '\r' && text[p + 1] == '\n') return p + 2;
  if (p < text.size() && (text[p] == '\r' || text[p] == '\n')) return p + 1;
  return std::string_view::npos;
}
