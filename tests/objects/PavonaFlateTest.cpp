#include <gtest/gtest.h>

#include <map>
#include <random>

#include "TestSupport.h"
#include "objects/PavonaFlate.h"

using DS = TPDFDecodeStatus;

namespace {

std::string randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// Text-like data that compresses well but not trivially.
std::string wordyBytes(size_t n, uint32_t seed) {
  static const char* words[] = {"stream ", "endobj ", "0 0 612 792 ", "BT /F1 12 Tf ", "q 1 0 0 1 ", "Q\n"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += words[rng() % 6];
  s.resize(n);
  return s;
}

// Restores the decoded-size limit when a test lowers it.
struct LimitGuard {
  uint64_t saved = GetMaxDecodedSize();
  ~LimitGuard() { SetMaxDecodedSize(saved); }
};

// Each input inflated by python's zlib.decompress (an independent inflater).
std::vector<std::string> pythonInflate(const std::vector<std::string>& inputs) {
  pvltest::TempDir dir;
  std::vector<std::string> argv = {
      "python3", "-c",
      "import sys,zlib\n"
      "for f in sys.argv[1:]: open(f+'.out','wb').write(zlib.decompress(open(f,'rb').read()))"};
  for (size_t i = 0; i < inputs.size(); ++i) {
    pvltest::WriteFile(dir.File(std::to_string(i)), inputs[i]);
    argv.push_back(dir.File(std::to_string(i)));
  }
  auto r = pvltest::RunCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> out;
  for (size_t i = 0; i < inputs.size(); ++i) out.push_back(pvltest::ReadFile(dir.File(std::to_string(i) + ".out")));
  return out;
}

// ---------------------------------------------------------------------------
// PNG row filtering (the encoder side), used to build predictor fixtures.

std::string pngFilterRows(const std::string& raw, size_t rowBytes, size_t bpp, const std::vector<int>& types) {
  std::string out;
  size_t rows = raw.size() / rowBytes;
  auto at = [&](size_t r, size_t i) -> int { return static_cast<uint8_t>(raw[r * rowBytes + i]); };
  for (size_t r = 0; r < rows; ++r) {
    int type = types[r % types.size()];
    out.push_back(static_cast<char>(type));
    for (size_t i = 0; i < rowBytes; ++i) {
      int x = at(r, i);
      int left = i >= bpp ? at(r, i - bpp) : 0;
      int up = r > 0 ? at(r - 1, i) : 0;
      int ul = (r > 0 && i >= bpp) ? at(r - 1, i - bpp) : 0;
      int pred = 0;
      switch (type) {
        case 1:
          pred = left;
          break;
        case 2:
          pred = up;
          break;
        case 3:
          pred = (left + up) / 2;
          break;
        case 4: {
          int p = left + up - ul, pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - ul);
          pred = (pa <= pb && pa <= pc) ? left : (pb <= pc ? up : ul);
          break;
        }
        default:
          break;
      }
      out.push_back(static_cast<char>((x - pred) & 0xFF));
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// LZW encoding (the encoder side) for decoder fixtures.

struct LzwOptions {
  bool msb = true;
  bool early = true;
  int initialSize = 9;
  bool clearWhenFull = true;  // false: keep coding with a full table (GIF's deferred clear)
  bool writeEnd = true;
};

class BitWriter {
public:
  explicit BitWriter(bool msb) : msb_(msb) {}
  void put(unsigned code, int bits) {
    if (msb_) {
      acc_ = (acc_ << bits) | code;
      n_ += bits;
      while (n_ >= 8) {
        out_.push_back(static_cast<char>(acc_ >> (n_ - 8)));
        n_ -= 8;
      }
    } else {
      acc_ |= uint64_t(code) << n_;
      n_ += bits;
      while (n_ >= 8) {
        out_.push_back(static_cast<char>(acc_ & 0xFF));
        acc_ >>= 8;
        n_ -= 8;
      }
    }
  }
  std::string finish() {
    if (n_ > 0) out_.push_back(static_cast<char>(msb_ ? acc_ << (8 - n_) : acc_));
    n_ = 0;
    return out_;
  }

private:
  bool msb_;
  uint64_t acc_ = 0;
  int n_ = 0;
  std::string out_;
};

std::string lzwEncode(const std::string& data, const LzwOptions& o) {
  const unsigned clear = 1u << (o.initialSize - 1), end = clear + 1;
  BitWriter w(o.msb);
  std::map<std::pair<int, int>, unsigned> dict;
  unsigned encNext = end + 1;
  // The width the decoder will use: it adds an entry for every code after
  // the first following a clear, and grows when its next code reaches the limit.
  int size = o.initialSize;
  unsigned decNext = end + 1;
  bool firstAfterClear = true;
  auto emit = [&](unsigned code) {
    w.put(code, size);
    if (code == clear) {
      size = o.initialSize;
      decNext = end + 1;
      firstAfterClear = true;
      return;
    }
    if (!firstAfterClear && decNext < 4096) {
      ++decNext;
      if (decNext + (o.early ? 1 : 0) >= (1u << size) && size < 12) ++size;
    }
    firstAfterClear = false;
  };
  emit(clear);
  int cur = -1;
  for (unsigned char c : data) {
    if (cur < 0) {
      cur = c;
      continue;
    }
    auto it = dict.find({cur, c});
    if (it != dict.end()) {
      cur = static_cast<int>(it->second);
      continue;
    }
    emit(static_cast<unsigned>(cur));
    if (encNext < 4096) dict[{cur, c}] = encNext++;
    if (encNext == 4096 && o.clearWhenFull) {
      emit(clear);
      dict.clear();
      encNext = end + 1;
    }
    cur = c;
  }
  if (cur >= 0) emit(static_cast<unsigned>(cur));
  if (o.writeEnd) emit(end);
  return w.finish();
}

std::string codes9(std::initializer_list<unsigned> codes) {
  BitWriter w(true);
  for (unsigned c : codes) w.put(c, 9);
  return w.finish();
}

}  // namespace

// ---------------------------------------------------------------------------
// Flate

TEST(Flate, CompressRoundTripsAndIsARealZlibStream) {
  struct Case {
    const char* what;
    std::string data;
  } cases[] = {
      {"one byte", "a"},
      {"text", wordyBytes(300000, 1)},
      {"random", randomBytes(70000, 2)},
      {"zeros", std::string(1 << 20, '\0')},
  };
  std::vector<std::string> compressed;
  for (const auto& c : cases) {
    std::string z = CompressString(c.data);
    ASSERT_FALSE(z.empty()) << c.what;
    EXPECT_EQ(static_cast<uint8_t>(z[0]), 0x78) << c.what;  // zlib header, 32K window
    DS st = DS::dsFailed;
    EXPECT_EQ(DecompressString(z, &st), c.data) << c.what;
    EXPECT_EQ(st, DS::dsOk) << c.what;
    compressed.push_back(z);
  }
  if (pvltest::HaveTool("python3")) {
    std::vector<std::string> theirs = pythonInflate(compressed);
    for (size_t i = 0; i < compressed.size(); ++i) EXPECT_EQ(theirs[i], cases[i].data) << cases[i].what;
  }
  // Empty input is the one case besides failure that gives "".
  EXPECT_EQ(CompressString(""), "");
  DS st = DS::dsFailed;
  EXPECT_EQ(DecompressString("", &st), "");
  EXPECT_EQ(st, DS::dsOk);
}

TEST(Flate, RealWorldDeviationsStillDecode) {
  const std::string data = wordyBytes(50000, 3);
  const std::string z = CompressString(data);
  const std::string raw = z.substr(2, z.size() - 6);  // deflate data alone
  std::string badSum = z;
  badSum.back() = static_cast<char>(badSum.back() ^ 0x55);
  struct Case {
    const char* what;
    std::string input;
    DS status;
  } cases[] = {
      {"raw deflate without zlib header", raw, DS::dsOk},
      {"missing checksum", z.substr(0, z.size() - 4), DS::dsOk},
      {"wrong checksum keeps the data", badSum, DS::dsDamaged},
      {"bytes after the stream (end-of-line before endstream)", z + "\r\n", DS::dsOk},
  };
  for (const auto& c : cases) {
    DS st = DS::dsFailed;
    EXPECT_EQ(DecompressString(c.input, &st), data) << c.what;
    EXPECT_EQ(st, c.status) << c.what;
  }
}

TEST(Flate, DamageKeepsTheBytesBeforeIt) {
  // A stored block "Hello" followed by a block of the reserved type 3.
  const std::string stored = std::string("\x00\x05\x00\xFA\xFF", 5) + "Hello" + "\x07";
  DS st = DS::dsOk;
  EXPECT_EQ(DecompressString(std::string("\x78\x9C", 2) + stored, &st), "Hello");
  EXPECT_EQ(st, DS::dsDamaged);
  EXPECT_EQ(DecompressString(stored, &st), "Hello");
  EXPECT_EQ(st, DS::dsDamaged);

  // A cut-off stream gives a prefix of the data.
  const std::string data = randomBytes(200000, 4);
  const std::string z = CompressString(data);
  std::string half = DecompressString(z.substr(0, z.size() / 2), &st);
  EXPECT_EQ(st, DS::dsDamaged);
  ASSERT_GT(half.size(), 10000u);
  EXPECT_EQ(half, data.substr(0, half.size()));

  // Nothing decodable at all.
  for (std::string junk : {std::string("not flate data at all"), std::string("\x78\x9C", 2), std::string("\xFF")}) {
    EXPECT_EQ(DecompressString(junk, &st), "") << junk;
    EXPECT_EQ(st, DS::dsFailed) << junk;
  }
}

TEST(Flate, DecompressionBombStopsAtTheLimit) {
  LimitGuard guard;
  const std::string zeros(16 << 20, '\0');
  const std::string bomb = CompressString(zeros);
  ASSERT_LT(bomb.size(), 100000u);
  SetMaxDecodedSize(1 << 20);
  DS st = DS::dsOk;
  EXPECT_EQ(DecompressString(bomb, &st), "");
  EXPECT_EQ(st, DS::dsTooLarge);
  EXPECT_EQ(FlateDecodeWithPredictor(bomb, {12, 1, 8, 4}, &st), "");
  EXPECT_EQ(st, DS::dsTooLarge);

  // Exactly at the limit is fine, one byte more is not.
  SetMaxDecodedSize(1000);
  EXPECT_EQ(DecompressString(CompressString(std::string(1000, 'x')), &st).size(), 1000u);
  EXPECT_EQ(st, DS::dsOk);
  EXPECT_EQ(DecompressString(CompressString(std::string(1001, 'x')), &st), "");
  EXPECT_EQ(st, DS::dsTooLarge);
}

TEST(Flate, PaethChoosesTheNearestNeighbour) {
  // (left, up, upper left) -> choice, with p = left + up - upper left.
  struct Case {
    uint8_t left, up, upperLeft, expect;
  } cases[] = {
      {10, 20, 10, 20},    // p = 20: up is exact
      {20, 10, 10, 20},    // p = 20: left is exact
      {10, 10, 20, 10},    // p = 0: left and up tie, left wins
      {100, 50, 60, 100},  // p = 90: pa 10, pb 40, pc 30
      {255, 255, 0, 255},  // p = 510 (no wrap): left and up tie
      {5, 200, 255, 5},    // p = -50 (no wrap): pa 55
      {200, 5, 180, 5},    // p = 25: pb 20 is smallest
      {50, 60, 55, 55},    // p = 55: pc 0
      {35, 20, 30, 20},    // p = 25: pb and pc tie at 5, up wins
      {0, 0, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PaethPredictor(c.left, c.up, c.upperLeft), c.expect)
        << int(c.left) << "," << int(c.up) << "," << int(c.upperLeft);
}

TEST(Flate, ExpectedSizeChangesNothingButTheFirstAllocation) {
  // Whatever size a caller expects (right, short, far too large as a hostile
  // image dictionary would claim), the output and status are those without it.
  LimitGuard guard;
  const std::string data = wordyBytes(300000, 7);
  const std::string packed = CompressString(data);
  std::string damaged = packed.substr(0, packed.size() / 2);
  const std::string rows = std::string("\x02\x01\x02\x03", 4) + std::string("\x02\x03\x03\x03", 4);
  const std::string predicted = CompressString(rows);
  for (size_t expected : {size_t(0), data.size(), data.size() - 1, data.size() + 1, size_t(1000), size_t(1) << 40}) {
    SCOPED_TRACE(expected);
    DS st = DS::dsFailed, plain = DS::dsFailed;
    EXPECT_EQ(DecompressString(packed, &st, expected), data);
    EXPECT_EQ(st, DS::dsOk);
    EXPECT_EQ(DecompressString(damaged, &st, expected), DecompressString(damaged, &plain));
    EXPECT_EQ(st, plain);
    EXPECT_EQ(FlateDecodeWithPredictor(predicted, {12, 1, 8, 3}, &st, expected), std::string("\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_EQ(st, DS::dsOk);
  }
  // The limit still holds.
  SetMaxDecodedSize(1000);
  DS st = DS::dsOk;
  EXPECT_EQ(DecompressString(CompressString(std::string(1001, 'x')), &st, 1001), "");
  EXPECT_EQ(st, DS::dsTooLarge);
}

TEST(Predictor, UpRowsWithPredictor12) {
  // Columns 3, one 8-bit colour: every 4-byte row starts with 2 (Up).
  std::string rows =
      std::string("\x02\x01\x02\x03", 4) + std::string("\x02\x03\x03\x03", 4) + std::string("\x02\xFF\x00\x01", 4);
  DS st = DS::dsFailed;
  EXPECT_EQ(FlateDecodeWithPredictor(CompressString(rows), {12, 1, 8, 3}, &st),
            std::string("\x01\x02\x03\x04\x05\x06\x03\x05\x07", 9));
  EXPECT_EQ(st, DS::dsOk);
}

TEST(Predictor, PngRowTypesForEveryPixelLayout) {
  struct Layout {
    int colors, bpc, columns;
    size_t rowBytes, bpp;
  } layouts[] = {
      {1, 8, 17, 17, 1}, {3, 8, 9, 27, 3}, {4, 8, 5, 20, 4}, {1, 16, 7, 14, 2}, {3, 16, 3, 18, 6},
      {1, 1, 21, 3, 1},  {1, 4, 5, 3, 1},  {3, 4, 5, 8, 2},  {2, 2, 3, 2, 1},   {32, 16, 1, 64, 64},
  };
  const std::vector<int> types = {0, 1, 2, 3, 4, 4, 3, 2, 1, 0};
  for (const auto& l : layouts) {
    std::string raw = randomBytes(l.rowBytes * 10, static_cast<uint32_t>(l.rowBytes));
    std::string filtered = pngFilterRows(raw, l.rowBytes, l.bpp, types);
    for (int predictor : {10, 11, 12, 13, 14, 15}) {
      DS st = DS::dsFailed;
      TPDFFlateParms p{predictor, l.colors, l.bpc, l.columns};
      EXPECT_EQ(FlateDecodeWithPredictor(CompressString(filtered), p, &st), raw)
          << l.colors << "x" << l.bpc << "x" << l.columns << " predictor " << predictor;
      EXPECT_EQ(st, DS::dsOk);
    }
  }
}

TEST(Predictor, UnknownRowTypeKeepsTheRowAndPartialRowsAreDropped) {
  std::string raw = randomBytes(12, 9);
  std::string filtered = pngFilterRows(raw, 4, 1, {1, 0, 4});
  filtered[5] = 7;  // second row: type 7
  DS st = DS::dsOk;
  std::string out = UndoPredictor(filtered, {15, 1, 8, 4}, &st);
  EXPECT_EQ(out.substr(0, 4), raw.substr(0, 4));
  EXPECT_EQ(out.substr(4, 4), filtered.substr(6, 4));  // as it stood
  EXPECT_EQ(st, DS::dsDamaged);

  // 2.5 rows: the last half row is not returned.
  std::string whole = pngFilterRows(raw, 4, 1, {2});
  out = UndoPredictor(whole.substr(0, 12), {12, 1, 8, 4}, &st);
  EXPECT_EQ(out, raw.substr(0, 8));
  EXPECT_EQ(st, DS::dsDamaged);
  out = UndoPredictor(whole, {12, 1, 8, 4}, &st);
  EXPECT_EQ(out, raw);
  EXPECT_EQ(st, DS::dsOk);
}

TEST(Predictor, TiffDifferencingPerComponent) {
  struct Case {
    const char* what;
    TPDFFlateParms parms;
    std::string encoded, decoded;
  } cases[] = {
      {"8-bit RGB",
       {2, 3, 8, 3},
       std::string("\x0A\x14\x1E\x01\x02\x03\xFF\x00\x01", 9),
       std::string("\x0A\x14\x1E\x0B\x16\x21\x0A\x16\x22", 9)},
      {"8-bit gray, two rows restart",
       {2, 1, 8, 2},
       std::string("\x05\x05\x07\x01", 4),
       std::string("\x05\x0A\x07\x08", 4)},
      {"16-bit carries into the high byte",
       {2, 1, 16, 3},
       std::string("\x00\xFF\x00\x01\xFF\xFF", 6),
       std::string("\x00\xFF\x01\x00\x00\xFF", 6)},
      {"16-bit two colours",
       {2, 2, 16, 2},
       std::string("\x12\x34\x00\x01\x00\x01\xFF\xFF", 8),
       std::string("\x12\x34\x00\x01\x12\x35\x00\x00", 8)},
      {"4-bit gray", {2, 1, 4, 4}, std::string("\x31\xF2", 2), std::string("\x34\x35", 2)},
      {"1-bit gray", {2, 1, 1, 8}, std::string("\x81", 1), std::string("\xFE", 1)},
      {"2-bit, 3 colours, partial last byte", {2, 3, 2, 2}, std::string("\x1B\x40", 2), std::string("\x1B\xA0", 2)},
      {"predictor 5 keeps the rows", {5, 1, 8, 2}, std::string("\x05\x05\x07", 3), std::string("\x05\x05", 2)},
  };
  for (const auto& c : cases) {
    DS st = DS::dsFailed;
    EXPECT_EQ(FlateDecodeWithPredictor(CompressString(c.encoded), c.parms, &st), c.decoded) << c.what;
  }
}

TEST(Predictor, AbsurdParametersFailWithoutUndefinedBehaviour) {
  const std::string data = CompressString(randomBytes(1000, 5));
  struct Case {
    TPDFFlateParms parms;
    DS status;
  } cases[] = {
      {{12, 0, 8, 10}, DS::dsFailed},
      {{12, 33, 8, 10}, DS::dsFailed},
      {{12, -1, 8, 10}, DS::dsFailed},
      {{12, 1, 0, 10}, DS::dsFailed},
      {{12, 1, 3, 10}, DS::dsFailed},
      {{2, 1, 32, 10}, DS::dsFailed},
      {{12, 1, 8, 0}, DS::dsFailed},
      {{2, 1, 8, -7}, DS::dsFailed},
      {{12, 32, 16, INT32_MAX}, DS::dsDamaged},  // rows far longer than the data: no rows
      {{2, 32, 16, INT32_MAX}, DS::dsDamaged},
  };
  for (const auto& c : cases) {
    DS st = DS::dsOk;
    EXPECT_EQ(FlateDecodeWithPredictor(data, c.parms, &st), "")
        << c.parms.Predictor << " " << c.parms.Colors << " " << c.parms.BitsPerComponent << " " << c.parms.Columns;
    EXPECT_EQ(st, c.status);
  }
  // Without a predictor the other values do not matter.
  DS st = DS::dsFailed;
  EXPECT_EQ(FlateDecodeWithPredictor(data, {1, 0, 0, 0}, &st).size(), 1000u);
  EXPECT_EQ(st, DS::dsOk);
}

// ---------------------------------------------------------------------------
// ASCII85 and ASCIIHex

TEST(ASCII85, DecodeCases) {
  struct Case {
    const char* what;
    std::string text, bytes;
    DS status;
  } cases[] = {
      {"plain", "87cURD]j7BEbo80~>", "Hello world!", DS::dsOk},
      {"white space and line breaks", " 87cU\r\nRD]j7\tBEb o80\n~>", "Hello world!", DS::dsOk},
      {"partial last group", "9jqo^Bla~>", "Man is", DS::dsOk},
      {"z", "z~>", std::string(4, '\0'), DS::dsOk},
      {"z between groups", "9jqo^zBla~>", std::string("Man ") + std::string(4, '\0') + "is", DS::dsOk},
      {"end only", "~>", "", DS::dsOk},
      {"text after the end is not data", "9jqo^~>Bla", "Man ", DS::dsOk},
      {"missing end keeps the bytes", "87cURD]j7BEbo80", "Hello world!", DS::dsDamaged},
      {"lone tilde", "9jqo^~", "Man ", DS::dsDamaged},
      {"group above 2^32-1 gives zeros", "s8W-\"~>", std::string(4, '\0'), DS::dsDamaged},
      {"byte outside the alphabet skipped", "9jq{o^~>", "Man ", DS::dsDamaged},
      {"single final digit carries nothing", "9jqo^B~>", "Man ", DS::dsDamaged},
  };
  for (const auto& c : cases) {
    DS st = DS::dsFailed;
    EXPECT_EQ(ASCII85DecodeString(c.text, &st), c.bytes) << c.what;
    EXPECT_EQ(st, c.status) << c.what;
  }
}

TEST(ASCII85, EncodeLinesZerosAndShortGroups) {
  EXPECT_EQ(ASCII85EncodeString(""), "~>");
  EXPECT_EQ(ASCII85EncodeString("Man is"), "9jqo^Bla~>");
  EXPECT_EQ(ASCII85EncodeString(std::string(4, '\0')), "z~>");
  EXPECT_EQ(ASCII85EncodeString(std::string(3, '\0')), "!!!!~>");  // a short group is never "z"
  std::string data = randomBytes(1000, 6);
  std::string text = ASCII85EncodeString(data);
  // Lines end with CR LF once they pass 70 characters.
  size_t start = 0, lines = 0;
  for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2, ++lines) {
    EXPECT_GT(pos - start, 70u);
    EXPECT_LE(pos - start, 75u);
  }
  EXPECT_GT(lines, 10u);
  DS st = DS::dsFailed;
  EXPECT_EQ(ASCII85DecodeString(text, &st), data);
  EXPECT_EQ(st, DS::dsOk);
}

TEST(ASCII85, AgreesWithPythonBothWays) {
  if (!pvltest::HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  pvltest::TempDir dir;
  // Our encoding decoded by python, python's encoding (other line length)
  // decoded by us.
  std::vector<std::string> argv = {"python3", "-c",
                                   "import sys,base64\n"
                                   "for f in sys.argv[1:]:\n"
                                   "  d=open(f,'rb').read(); o=open(f+'.ours','rb').read()\n"
                                   "  assert base64.a85decode(o, adobe=True) == d, f\n"
                                   "  open(f+'.theirs','wb').write(base64.a85encode(d, adobe=True, wrapcol=60)[2:])"};
  std::vector<std::string> inputs;
  for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(8), size_t(4099)}) {
    std::string data = randomBytes(n, static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; i += 13) data[i] = 0;
    if (n > 100) data.replace(100, 8, std::string(8, '\0'));  // zero groups
    std::string f = dir.File(std::to_string(n));
    pvltest::WriteFile(f, data);
    pvltest::WriteFile(f + ".ours", ASCII85EncodeString(data));
    argv.push_back(f);
    inputs.push_back(data);
  }
  auto r = pvltest::RunCommand(argv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (size_t i = 0; i < inputs.size(); ++i) {
    DS st = DS::dsFailed;
    EXPECT_EQ(ASCII85DecodeString(pvltest::ReadFile(argv[3 + i] + ".theirs"), &st), inputs[i]) << argv[3 + i];
    EXPECT_EQ(st, DS::dsOk);
  }
}

TEST(ASCIIHex, DecodeCases) {
  struct Case {
    const char* what;
    std::string text, bytes;
    DS status;
  } cases[] = {
      {"pairs with blanks", "41 42\n4>", "AB@", DS::dsOk},
      {"lower case", "6a6B>", "jk", DS::dsOk},
      {"empty", ">", "", DS::dsOk},
      {"stops at the end marker", "41>42", "A", DS::dsOk},
      {"letter beyond F gives 0", "4G41>", std::string("\0A", 2), DS::dsDamaged},
      {"missing end marker keeps the bytes", "4142", "AB", DS::dsDamaged},
  };
  for (const auto& c : cases) {
    DS st = DS::dsFailed;
    EXPECT_EQ(ASCIIHexDecodeString(c.text, &st), c.bytes) << c.what;
    EXPECT_EQ(st, c.status) << c.what;
  }
}

// ---------------------------------------------------------------------------
// LZW

TEST(LZW, ABABFromHandWrittenCodes) {
  TPDFLZWDecompressor lzw;
  DS st = DS::dsFailed;
  EXPECT_EQ(lzw.Decode(codes9({256, 65, 66, 258, 257}), &st), "ABAB");
  EXPECT_EQ(st, DS::dsOk);
  // Code 259 before it exists: damage, the bytes before it are kept.
  EXPECT_EQ(lzw.Decode(codes9({256, 65, 66, 260, 257}), &st), "AB");
  EXPECT_EQ(st, DS::dsDamaged);
  // The first code after a clear must be a single byte.
  EXPECT_EQ(lzw.Decode(codes9({256, 258, 257}), &st), "");
  EXPECT_EQ(st, DS::dsDamaged);
  // No end code: what was there is kept.
  EXPECT_EQ(lzw.Decode(codes9({65, 66, 258}), &st), "ABAB");
  EXPECT_EQ(st, DS::dsDamaged);
  // A code size beyond 12 bits cannot be decoded.
  lzw.InitialCodeSize = 13;
  EXPECT_EQ(lzw.Decode(codes9({256, 65, 257}), &st), "");
  EXPECT_EQ(st, DS::dsFailed);
}

TEST(LZW, RoundTripsAcrossCodeSizesClearsAndBitOrders) {
  struct Case {
    const char* what;
    LzwOptions options;
  } cases[] = {
      {"PDF, early change", {true, true, 9, true, true}},
      {"PDF, no early change", {true, false, 9, true, true}},
      {"full table without clear", {true, true, 9, false, true}},
      {"GIF order, 8-bit", {false, false, 9, true, true}},
      {"GIF order, 4-colour", {false, false, 3, true, true}},
      {"GIF order, full table", {false, false, 9, false, true}},
  };
  for (const auto& c : cases) {
    for (const std::string& data : {std::string("TOBEORNOTTOBEORTOBEORNOT"), wordyBytes(200000, 7),
                                    randomBytes(30000, 8), std::string(100000, 'a')}) {
      std::string input = data;
      if (c.options.initialSize < 9)
        for (auto& ch : input) ch = static_cast<char>(ch & ((1 << (c.options.initialSize - 1)) - 1));
      TPDFLZWDecompressor lzw;
      lzw.MSBFirst = c.options.msb;
      lzw.EarlyChange = c.options.early;
      lzw.InitialCodeSize = c.options.initialSize;
      DS st = DS::dsFailed;
      EXPECT_EQ(lzw.Decode(lzwEncode(input, c.options), &st), input) << c.what << " " << input.size();
      EXPECT_EQ(st, DS::dsOk) << c.what;
    }
  }
}

TEST(LZW, EarlyChangeMustMatchTheEncoder) {
  std::string data = wordyBytes(20000, 10);
  std::string late = lzwEncode(data, {true, false, 9, true, true});
  TPDFLZWDecompressor lzw;
  lzw.EarlyChange = true;
  DS st = DS::dsOk;
  EXPECT_NE(lzw.Decode(late, &st), data);
  lzw.EarlyChange = false;
  EXPECT_EQ(lzw.Decode(late, &st), data);
}

TEST(LZW, PredictorsAfterLZWAndOutputLimit) {
  std::string raw = randomBytes(20 * 9, 11);
  TPDFLZWDecompressor lzw;
  lzw.EarlyChange = true;
  DS st = DS::dsFailed;
  std::string png = pngFilterRows(raw, 9, 3, {4, 1, 2, 3});
  EXPECT_EQ(lzw.DecodeWithParms(lzwEncode(png, {}), {15, 3, 8, 3}, &st), raw);
  EXPECT_EQ(st, DS::dsOk);
  std::string tiff = std::string("\x0A\x14\x1E\x01\x02\x03", 6);
  EXPECT_EQ(lzw.DecodeWithParms(lzwEncode(tiff, {}), {2, 3, 8, 2}, &st), std::string("\x0A\x14\x1E\x0B\x16\x21", 6));
  EXPECT_EQ(lzw.DecodeWithParms(lzwEncode(tiff, {}), {1, 3, 8, 2}, &st), tiff);

  LimitGuard guard;
  std::string bomb = lzwEncode(std::string(4 << 20, 'x'), {});
  SetMaxDecodedSize(1 << 20);
  EXPECT_EQ(lzw.Decode(bomb, &st), "");
  EXPECT_EQ(st, DS::dsTooLarge);
}

TEST(LZW, DecodesGhostscriptsEncoder) {
  if (!pvltest::HaveTool("gs")) GTEST_SKIP() << "gs missing";
  pvltest::TempDir dir;
  std::string data = wordyBytes(60000, 12);
  pvltest::WriteFile(dir.File("in"), data);
  for (int early : {1, 0}) {
    std::string ps = "/src (" + dir.File("in") + ") (r) file def /dst (" + dir.File("out") +
                     ") (w) file << /EarlyChange " + std::to_string(early) +
                     " >> /LZWEncode filter def "
                     "{ src 4096 string readstring exch dst exch writestring not {exit} if } loop dst closefile quit";
    auto r = pvltest::RunCommand({"gs", "-q", "-dNOSAFER", "-dNODISPLAY", "-dBATCH", "-c", ps});
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    TPDFLZWDecompressor lzw;
    lzw.EarlyChange = early == 1;
    DS st = DS::dsFailed;
    EXPECT_EQ(lzw.Decode(pvltest::ReadFile(dir.File("out")), &st), data) << early;
    EXPECT_EQ(st, DS::dsOk) << early;
  }
}
