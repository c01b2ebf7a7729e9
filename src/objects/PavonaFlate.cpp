#include "objects/PavonaFlate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "platform/Classes.h"
#include "objects/PavonaCharClass.h"

namespace {

std::atomic<uint64_t> gMaxDecodedSize{uint64_t(1) << 30};

void setStatus(TPDFDecodeStatus* status, TPDFDecodeStatus value) {
  if (status) *status = value;
}

// Grows a decoder's output buffer geometrically, never beyond limit + 1 bytes
// (one byte past the limit is how a decoder notices that it overflowed).
// Returns false when the buffer already holds limit + 1 bytes.
bool growOutput(std::string& out, uint64_t limit) {
  uint64_t cap = limit + 1;
  if (out.size() >= cap) return false;
  uint64_t next = std::max<uint64_t>(uint64_t(out.size()) * 2, 4096);
  out.resize(static_cast<size_t>(std::min(next, cap)));
  return true;
}

// Outcome of one inflate pass.
struct InflateResult {
  enum Kind { ikEnd, ikTruncated, ikDamaged, ikTooLarge, ikFailed } kind = ikFailed;
  size_t produced = 0;
  size_t consumed = 0;  // input bytes used (up to the end of the deflate data)
};

// Inflates data as raw deflate (windowBits -15) or as a zlib stream (15).
// The output keeps every byte produced before an error. expected (0 when
// unknown) is reserved, not filled: pages are touched only as output
// arrives, so a size announced by a damaged or hostile file costs address
// space at most, and no more than deflate could inflate the data to (1032
// times its size). Past it the output grows geometrically.
InflateResult inflateInto(std::string_view data, int windowBits, std::string& out, uint64_t limit,
                          size_t expected) {
  InflateResult r;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit2(&zs, windowBits) != Z_OK) return r;
  out.clear();
  const uint64_t first = expected > 0 ? std::min<uint64_t>(uint64_t(expected) + 64, uint64_t(data.size()) * 1032 + 64)
                                      : uint64_t(data.size()) * 2 + 256;
  try {
    out.reserve(static_cast<size_t>(std::min<uint64_t>(first, limit + 1)));
  } catch (const std::exception&) {
    // Grown as the output comes instead.
  }
  const auto* in = reinterpret_cast<const Bytef*>(data.data());
  size_t inLeft = data.size();
  zs.next_in = const_cast<Bytef*>(in);
  Bytef buffer[1 << 16];
  for (;;) {
    if (zs.avail_in == 0 && inLeft > 0) {
      uInt chunk = static_cast<uInt>(std::min<size_t>(inLeft, UINT_MAX));
      zs.avail_in = chunk;
      inLeft -= chunk;
    }
    zs.next_out = buffer;
    zs.avail_out = sizeof buffer;
    const uInt inBefore = zs.avail_in;
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const size_t got = sizeof buffer - zs.avail_out;
    if (uint64_t(out.size()) + got > limit) {
      r.kind = InflateResult::ikTooLarge;
      break;
    }
    out.append(reinterpret_cast<const char*>(buffer), got);
    if (rc == Z_STREAM_END) {
      r.kind = InflateResult::ikEnd;
      break;
    }
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT) {
      r.kind = InflateResult::ikDamaged;
      break;
    }
    if (rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
      r.kind = InflateResult::ikFailed;
      break;
    }
    const bool progress = got != 0 || zs.avail_in != inBefore;
    if (zs.avail_in == 0 && inLeft == 0 && zs.avail_out != 0) {
      // All input used and inflate still wants more: the stream was cut short.
      r.kind = InflateResult::ikTruncated;
      break;
    }
    if (!progress && zs.avail_out != 0) {
      r.kind = InflateResult::ikTruncated;
      break;
    }
  }
  r.consumed = data.size() - inLeft - zs.avail_in;
  r.produced = out.size();
  inflateEnd(&zs);
  if (r.kind == InflateResult::ikTooLarge || r.kind == InflateResult::ikFailed) {
    out.clear();
    out.shrink_to_fit();
  }
  return r;
}

// A two-byte zlib header announcing deflate without a preset dictionary.
bool hasZlibHeader(std::string_view data) {
  if (data.size() < 2) return false;
  auto cmf = static_cast<uint8_t>(data[0]);
  auto flg = static_cast<uint8_t>(data[1]);
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0 && (flg & 0x20) == 0;
}

// Number of bits per row and validity of predictor parameters. Absurd values
// (which would otherwise divide by zero or overflow) make the predictor fail.
struct RowLayout {
  bool valid = false;
  uint64_t rowBytes = 0;    // packed bytes of one row, without a type byte
  uint64_t pixelBytes = 1;  // PNG "bpp": whole bytes per pixel, rounded up
};

RowLayout layoutOf(const TPDFFlateParms& p) {
  RowLayout l;
  int bpc = p.BitsPerComponent;
  if (p.Colors < 1 || p.Colors > 32) return l;
  if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) return l;
  if (p.Columns < 1) return l;
  uint64_t pixelBits = uint64_t(p.Colors) * uint64_t(bpc);
  l.rowBytes = (pixelBits * uint64_t(p.Columns) + 7) / 8;
  l.pixelBytes = (pixelBits + 7) / 8;
  l.valid = true;
  return l;
}

// Undoes TIFF predictor 2 on one row in place: each component is the sum of
// itself and the same component of the pixel before, modulo 2^bpc.
void undoTiffRow(uint8_t* row, const TPDFFlateParms& p) {
  int bpc = p.BitsPerComponent;
  uint64_t colors = uint64_t(p.Colors);
  uint64_t count = colors * uint64_t(p.Columns);
  if (bpc == 8) {
    for (uint64_t i = colors; i < count; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - colors]);
    return;
  }
  if (bpc == 16) {
    for (uint64_t i = colors; i < count; ++i) {
      uint8_t* cur = row + 2 * i;
      const uint8_t* prev = row + 2 * (i - colors);
      unsigned v = ((unsigned(cur[0]) << 8) | cur[1]) + ((unsigned(prev[0]) << 8) | prev[1]);
      cur[0] = static_cast<uint8_t>(v >> 8);
      cur[1] = static_cast<uint8_t>(v);
    }
    return;
  }
  // 1, 2 or 4 bits: components packed from the most significant bit.
  unsigned mask = (1u << bpc) - 1;
  auto get = [&](uint64_t i) {
    uint64_t bit = i * uint64_t(bpc);
    unsigned shift = 8 - unsigned(bit % 8) - unsigned(bpc);
    return (row[bit / 8] >> shift) & mask;
  };
  for (uint64_t i = colors; i < count; ++i) {
    unsigned v = (get(i) + get(i - colors)) & mask;
    uint64_t bit = i * uint64_t(bpc);
    unsigned shift = 8 - unsigned(bit % 8) - unsigned(bpc);
    uint8_t& b = row[bit / 8];
    b = static_cast<uint8_t>((b & ~(mask << shift)) | (v << shift));
  }
}

}  // namespace

uint64_t GetMaxDecodedSize() {
  return gMaxDecodedSize.load(std::memory_order_relaxed);
}

void SetMaxDecodedSize(uint64_t bytes) {
  gMaxDecodedSize.store(bytes, std::memory_order_relaxed);
}

std::string CompressString(std::string_view data) {
  if (data.empty()) return {};
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK) return {};
  std::string out;
  try {
    // deflateBound is exact enough for one pass; the loop still copes with
    // inputs beyond zlib's 32-bit counters.
    uLong bound = deflateBound(&zs, static_cast<uLong>(std::min<size_t>(data.size(), ULONG_MAX)));
    out.resize(std::max<size_t>(bound, 64));
    const auto* in = reinterpret_cast<const Bytef*>(data.data());
    size_t inLeft = data.size();
    size_t produced = 0;
    zs.next_in = const_cast<Bytef*>(in);
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
      if (zs.avail_in == 0 && inLeft > 0) {
        uInt chunk = static_cast<uInt>(std::min<size_t>(inLeft, UINT_MAX));
        zs.avail_in = chunk;
        inLeft -= chunk;
      }
      if (produced == out.size()) out.resize(out.size() + out.size() / 2 + 256);
      zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
      zs.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - produced, UINT_MAX));
      uInt before = zs.avail_out;
      rc = deflate(&zs, inLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
      produced += before - zs.avail_out;
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        deflateEnd(&zs);
        return {};
      }
    }
    out.resize(produced);
  } catch (const std::bad_alloc&) {
    deflateEnd(&zs);
    return {};
  }
  deflateEnd(&zs);
  return out;
}

std::string DecompressString(std::string_view data, TPDFDecodeStatus* status, size_t expectedSize) {
  setStatus(status, TPDFDecodeStatus::dsOk);
  if (data.empty()) return {};
  uint64_t limit = GetMaxDecodedSize();
  std::string out;
  // Inflate raw deflate data behind the two header bytes ourselves, so that a
  // wrong checksum (common in real files) still yields all the data; streams
  // without a zlib header are read as raw deflate from the first byte.
  bool header = hasZlibHeader(data);
  std::string_view body = header ? data.substr(2) : data;
  InflateResult r = inflateInto(body, -15, out, limit, expectedSize);
  if (r.kind != InflateResult::ikEnd && r.kind != InflateResult::ikTooLarge && r.produced == 0 && header) {
    // The "header" may have been the start of raw deflate data after all.
    std::string alt;
    InflateResult r2 = inflateInto(data, -15, alt, limit, expectedSize);
    if (r2.produced > 0 || r2.kind == InflateResult::ikEnd) {
      r = r2;
      out = std::move(alt);
      header = false;
      body = data;
    }
  }
  switch (r.kind) {
    case InflateResult::ikTooLarge:
      setStatus(status, TPDFDecodeStatus::dsTooLarge);
      return {};
    case InflateResult::ikFailed:
      setStatus(status, TPDFDecodeStatus::dsFailed);
      return {};
    case InflateResult::ikDamaged:
    case InflateResult::ikTruncated:
      setStatus(status, r.produced > 0 ? TPDFDecodeStatus::dsDamaged : TPDFDecodeStatus::dsFailed);
      return out;
    case InflateResult::ikEnd:
      break;
  }
  if (header) {
    // Check the Adler-32 trailer when it is there; a missing trailer loses
    // nothing (the deflate data ended properly), a wrong one means damage.
    std::string_view rest = body.substr(std::min(r.consumed, body.size()));
    if (rest.size() >= 4) {
      uint32_t expected = (uint32_t(uint8_t(rest[0])) << 24) | (uint32_t(uint8_t(rest[1])) << 16) |
                          (uint32_t(uint8_t(rest[2])) << 8) | uint32_t(uint8_t(rest[3]));
      uLong sum = adler32(0L, Z_NULL, 0);
      size_t done = 0;
      while (done < out.size()) {
        uInt chunk = static_cast<uInt>(std::min<size_t>(out.size() - done, 1u << 30));
        sum = adler32(sum, reinterpret_cast<const Bytef*>(out.data() + done), chunk);
        done += chunk;
      }
      if (uint32_t(sum) != expected) setStatus(status, TPDFDecodeStatus::dsDamaged);
    }
  }
  return out;
}

uint8_t PaethPredictor(uint8_t left, uint8_t up, uint8_t upperLeft) {
  int p = int(left) + int(up) - int(upperLeft);
  int pa = std::abs(p - int(left));
  int pb = std::abs(p - int(up));
  int pc = std::abs(p - int(upperLeft));
  if (pa <= pb && pa <= pc) return left;
  if (pb <= pc) return up;
  return upperLeft;
}

std::string UndoPredictor(std::string_view data, const TPDFFlateParms& parms, TPDFDecodeStatus* status) {
  setStatus(status, TPDFDecodeStatus::dsOk);
  if (parms.Predictor < 2) return std::string(data);
  RowLayout l = layoutOf(parms);
  if (!l.valid) {
    setStatus(status, TPDFDecodeStatus::dsFailed);
    return {};
  }
  bool png = parms.Predictor >= 10;
  uint64_t stride = l.rowBytes + (png ? 1 : 0);
  uint64_t rows = uint64_t(data.size()) / stride;
  bool damaged = uint64_t(data.size()) % stride != 0;  // a trailing partial row is dropped
  std::string out;
  out.resize(static_cast<size_t>(rows * l.rowBytes));
  auto* dst = reinterpret_cast<uint8_t*>(out.data());
  const auto* src = reinterpret_cast<const uint8_t*>(data.data());
  const size_t rowBytes = static_cast<size_t>(l.rowBytes);
  const size_t bpp = static_cast<size_t>(l.pixelBytes);
  for (uint64_t r = 0; r < rows; ++r) {
    const uint8_t* in = src + r * stride + (png ? 1 : 0);
    uint8_t* row = dst + r * rowBytes;
    const uint8_t* prior = r > 0 ? row - rowBytes : nullptr;
    std::memcpy(row, in, rowBytes);
    if (!png) {
      if (parms.Predictor == 2) undoTiffRow(row, parms);
      continue;
    }
    uint8_t type = src[r * stride];
    switch (type) {
      case 0:
        break;
      case 1:
        for (size_t i = bpp; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
        break;
      case 2:
        if (prior)
          for (size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
        break;
      case 3:
        for (size_t i = 0; i < rowBytes; ++i) {
          unsigned left = i >= bpp ? row[i - bpp] : 0;
          unsigned up = prior ? prior[i] : 0;
          row[i] = static_cast<uint8_t>(row[i] + (left + up) / 2);
        }
        break;
      case 4:
        for (size_t i = 0; i < rowBytes; ++i) {
          uint8_t left = i >= bpp ? row[i - bpp] : 0;
          uint8_t up = prior ? prior[i] : 0;
          uint8_t upperLeft = (prior && i >= bpp) ? prior[i - bpp] : 0;
          row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(left, up, upperLeft));
        }
        break;
      default:
        // Unknown row filter: the row is kept as it is.
        damaged = true;
        break;
    }
  }
  if (damaged) setStatus(status, TPDFDecodeStatus::dsDamaged);
  return out;
}

std::string FlateDecodeWithPredictor(std::string_view data, const TPDFFlateParms& parms, TPDFDecodeStatus* status,
                                     size_t expectedSize) {
  TPDFDecodeStatus inflated = TPDFDecodeStatus::dsOk;
  // PNG predictors add a type byte to every row.
  const RowLayout l = layoutOf(parms);
  const size_t inflatedSize =
      parms.Predictor >= 10 && l.valid && l.rowBytes > 0
          ? static_cast<size_t>(expectedSize + (uint64_t(expectedSize) + l.rowBytes - 1) / l.rowBytes)
          : expectedSize;
  std::string raw = DecompressString(data, &inflated, inflatedSize);
  if (inflated == TPDFDecodeStatus::dsTooLarge || inflated == TPDFDecodeStatus::dsFailed) {
    setStatus(status, inflated);
    return {};
  }
  TPDFDecodeStatus undone = TPDFDecodeStatus::dsOk;
  std::string out = UndoPredictor(raw, parms, &undone);
  setStatus(status, undone != TPDFDecodeStatus::dsOk ? undone : inflated);
  return out;
}

// ---------------------------------------------------------------------------
// ASCII85

std::string ASCII85DecodeString(std::string_view text, TPDFDecodeStatus* status) {
  setStatus(status, TPDFDecodeStatus::dsOk);
  uint64_t limit = GetMaxDecodedSize();
  bool damaged = false;
  bool ended = false;
  std::string out;
  out.reserve(std::min<uint64_t>(text.size() / 5 * 4 + 4, limit));
  uint32_t group[5];
  int count = 0;
  auto flush = [&](int n) {
    // n digits in group (1..5); a short group is padded with "u".
    for (int i = n; i < 5; ++i) group[i] = 84;
    uint64_t v = 0;
    for (int i = 0; i < 5; ++i) v = v * 85 + group[i];
    if (v > 0xFFFFFFFFull) {
      v = 0;
      damaged = true;
    }
    int bytes = n == 5 ? 4 : n - 1;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (24 - 8 * i)));
  };
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<uint8_t>(text[i]);
    if (c == '~') {
      // End of data: "~>"; anything after it is not part of the data.
      if (i + 1 >= text.size() || text[i + 1] != '>') damaged = true;
      ended = true;
      break;
    }
    if (c == 'z') {
      if (count != 0) damaged = true;  // "z" belongs between groups
      for (int k = 0; k < 5; ++k) {
        group[count++] = 0;
        if (count == 5) {
          flush(5);
          count = 0;
        }
      }
    } else if (c >= '!' && c <= 'u') {
      group[count++] = c - '!';
      if (count == 5) {
        flush(5);
        count = 0;
      }
    } else if (!PDFIsWhite(c)) {
      damaged = true;  // a byte outside the alphabet is skipped
    }
    if (out.size() > limit) {
      setStatus(status, TPDFDecodeStatus::dsTooLarge);
      return {};
    }
  }
  if (count == 1) damaged = true;  // a single digit carries no byte
  if (count > 0) flush(count);
  if (out.size() > limit) {
    setStatus(status, TPDFDecodeStatus::dsTooLarge);
    return {};
  }
  // Without "~>" the data may have been cut: keep what was decoded.
  if (!ended) damaged = true;
  if (damaged) setStatus(status, TPDFDecodeStatus::dsDamaged);
  return out;
}

void ASCII85EncodeStream(TStream& source, TStream& dest) {
  std::string line;
  line.reserve(80);
  char buf[65536];
  uint8_t group[4];
  int have = 0;
  auto emit = [&](int bytes) {
    for (int i = bytes; i < 4; ++i) group[i] = 0;
    uint32_t v = (uint32_t(group[0]) << 24) | (uint32_t(group[1]) << 16) | (uint32_t(group[2]) << 8) | group[3];
    if (bytes == 4 && v == 0) {
      line.push_back('z');
    } else {
      char digits[5];
      for (int i = 4; i >= 0; --i) {
        digits[i] = static_cast<char>('!' + v % 85);
        v /= 85;
      }
      line.append(digits, static_cast<size_t>(bytes + 1));
    }
    if (line.size() > 70) {
      line += "\r\n";
      dest.WriteString(line);
      line.clear();
    }
  };
  for (;;) {
    int64_t n = source.Read(buf, sizeof buf);
    if (n <= 0) break;
    for (int64_t i = 0; i < n; ++i) {
      group[have++] = static_cast<uint8_t>(buf[i]);
      if (have == 4) {
        emit(4);
        have = 0;
      }
    }
  }
  if (have > 0) emit(have);
  line += "~>";
  dest.WriteString(line);
}

std::string ASCII85EncodeString(std::string_view data) {
  TStringStream source(data);
  TMemoryStream dest;
  ASCII85EncodeStream(source, dest);
  return std::move(dest.Bytes());
}

// ---------------------------------------------------------------------------
// ASCIIHex

std::string ASCIIHexDecodeString(std::string_view text, TPDFDecodeStatus* status) {
  setStatus(status, TPDFDecodeStatus::dsOk);
  bool damaged = false;
  bool ended = false;
  std::string out;
  out.reserve(text.size() / 2 + 1);
  int digits[2];
  int count = 0;
  auto push = [&]() {
    // A pair holding a letter beyond "F" gives byte 0.
    if (digits[0] < 0 || digits[1] < 0) {
      out.push_back(0);
      damaged = true;
    } else {
      out.push_back(static_cast<char>(digits[0] * 16 + digits[1]));
    }
  };
  for (char ch : text) {
    auto c = static_cast<uint8_t>(ch);
    if (c == '>') {
      ended = true;
      break;
    }
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      int upper = c & ~0x20;
      d = upper <= 'F' ? upper - 'A' + 10 : -1;
    } else {
      if (!PDFIsWhite(c)) damaged = true;
      continue;
    }
    digits[count++] = d;
    if (count == 2) {
      push();
      count = 0;
    }
  }
  if (count == 1) {
    digits[1] = 0;  // an odd last digit is followed by an implied 0
    push();
  }
  if (!ended) damaged = true;
  if (out.size() > GetMaxDecodedSize()) {
    setStatus(status, TPDFDecodeStatus::dsTooLarge);
    return {};
  }
  if (damaged) setStatus(status, TPDFDecodeStatus::dsDamaged);
  return out;
}

// ---------------------------------------------------------------------------
// LZW

std::string TPDFLZWDecompressor::Decode(std::string_view data, TPDFDecodeStatus* status) {
  setStatus(status, TPDFDecodeStatus::dsOk);
  constexpr int kMaxCodeSize = 12;
  constexpr unsigned kTableSize = 1u << kMaxCodeSize;
  if (InitialCodeSize < 2 || InitialCodeSize > kMaxCodeSize) {
    setStatus(status, TPDFDecodeStatus::dsFailed);
    return {};
  }
  const uint64_t limit = GetMaxDecodedSize();
  const unsigned clearCode = 1u << (InitialCodeSize - 1);
  const unsigned endCode = clearCode + 1;
  const unsigned early = EarlyChange ? 1 : 0;

  // The table as (prefix code, last byte) pairs with each entry's length and
  // first byte, so that a code's string is written straight into the output.
  uint16_t prefix[kTableSize];
  uint8_t suffix[kTableSize];
  uint8_t first[kTableSize];
  uint32_t length[kTableSize];
  for (unsigned i = 0; i < clearCode; ++i) {
    prefix[i] = 0;
    suffix[i] = static_cast<uint8_t>(i);
    first[i] = static_cast<uint8_t>(i);
    length[i] = 1;
  }

  const auto* in = reinterpret_cast<const uint8_t*>(data.data());
  const uint64_t totalBits = uint64_t(data.size()) * 8;
  uint64_t bitPos = 0;
  int codeSize = InitialCodeSize;
  unsigned nextCode = endCode + 1;
  int previous = -1;  // none right after the start or a clear code
  bool damaged = false;
  bool sawEnd = false;

  std::string out;
  size_t produced = 0;

  auto readCode = [&](unsigned& code) -> bool {
    if (totalBits - bitPos < uint64_t(codeSize)) return false;
    uint64_t byte = bitPos / 8;
    unsigned shift = unsigned(bitPos % 8);
    uint32_t v = 0;
    for (int k = 0; k < 3; ++k) {
      uint32_t b = byte + k < data.size() ? in[byte + k] : 0;
      if (MSBFirst)
        v = (v << 8) | b;
      else
        v |= b << (8 * k);
    }
    unsigned mask = (1u << codeSize) - 1;
    code = MSBFirst ? (v >> (24 - shift - codeSize)) & mask : (v >> shift) & mask;
    bitPos += uint64_t(codeSize);
    return true;
  };
  // Makes room for n more bytes; false when the output would pass the limit.
  auto reserve = [&](uint64_t n) -> bool {
    if (uint64_t(produced) + n > limit) return false;
    while (out.size() - produced < n) growOutput(out, limit);
    return true;
  };
  auto writeEntry = [&](unsigned code) {
    uint32_t len = length[code];
    auto* dst = reinterpret_cast<uint8_t*>(out.data() + produced);
    for (uint32_t k = len; k > 0; --k) {
      dst[k - 1] = suffix[code];
      code = prefix[code];
    }
    produced += len;
  };

  for (;;) {
    unsigned code;
    if (!readCode(code)) break;
    if (code == clearCode) {
      codeSize = InitialCodeSize;
      nextCode = endCode + 1;
      previous = -1;
      continue;
    }
    if (code == endCode) {
      sawEnd = true;
      break;
    }
    if (previous < 0) {
      // The first code after a start or clear must be a single byte.
      if (code >= clearCode) {
        damaged = true;
        break;
      }
      if (!reserve(1)) {
        setStatus(status, TPDFDecodeStatus::dsTooLarge);
        return {};
      }
      writeEntry(code);
      previous = int(code);
      continue;
    }
    uint8_t firstByte;
    if (code < nextCode) {
      firstByte = first[code];
    } else if (code == nextCode && nextCode < kTableSize) {
      firstByte = first[previous];  // the string being defined: previous + its own first byte
    } else {
      damaged = true;  // a code the encoder cannot have sent yet
      break;
    }
    if (nextCode < kTableSize) {
      prefix[nextCode] = static_cast<uint16_t>(previous);
      suffix[nextCode] = firstByte;
      first[nextCode] = first[previous];
      length[nextCode] = length[previous] + 1;
      ++nextCode;
      if (nextCode + early >= (1u << codeSize) && codeSize < kMaxCodeSize) ++codeSize;
    }
    // A full table adds nothing until the next clear code.
    if (!reserve(length[code])) {
      setStatus(status, TPDFDecodeStatus::dsTooLarge);
      return {};
    }
    writeEntry(code);
    previous = int(code);
  }
  out.resize(produced);
  if (damaged || !sawEnd) setStatus(status, TPDFDecodeStatus::dsDamaged);
  return out;
}

std::string TPDFLZWDecompressor::DecodeWithParms(std::string_view data, const TPDFLZWParms& parms,
                                                 TPDFDecodeStatus* status) {
  TPDFDecodeStatus decoded = TPDFDecodeStatus::dsOk;
  std::string out = Decode(data, &decoded);
  if (decoded == TPDFDecodeStatus::dsTooLarge || decoded == TPDFDecodeStatus::dsFailed) {
    setStatus(status, decoded);
    return {};
  }
  // TIFF (2) and PNG (10 and above) predictors are undone as after Flate;
  // the other values mean no predictor here.
  if (parms.Predictor == 2 || parms.Predictor >= 10) {
    TPDFFlateParms p{parms.Predictor, parms.Colors, parms.BitsPerComponent, parms.Columns};
    TPDFDecodeStatus undone = TPDFDecodeStatus::dsOk;
    out = UndoPredictor(out, p, &undone);
    if (undone != TPDFDecodeStatus::dsOk) decoded = undone;
  }
  setStatus(status, decoded);
  return out;
}
