#include <gtest/gtest.h>

#include <set>

#include "TestSupport.h"
#include "objects/PavonaDigest.h"

namespace {

std::string hexOf(const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kHex[p[i] >> 4]);
    s.push_back(kHex[p[i] & 15]);
  }
  return s;
}

// Bytes that python can rebuild: byte i = (i * 7) mod 251.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7) % 251);
  return s;
}

// Digests of pattern(n) by python's hashlib, one line per (algorithm, n).
std::vector<std::string> pythonDigests(const std::vector<std::pair<std::string, size_t>>& requests) {
  std::vector<std::string> argv = {
      "python3", "-c",
      "import hashlib,sys\n"
      "a=sys.argv[1:]\n"
      "for i in range(0,len(a),2):\n"
      "  n=int(a[i+1]); print(hashlib.new(a[i], bytes(j*7%251 for j in range(n))).hexdigest())"};
  for (const auto& [algo, n] : requests) {
    argv.push_back(algo);
    argv.push_back(std::to_string(n));
  }
  auto r = pvltest::RunCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = r.out.find('\n', start)) != std::string::npos; start = pos + 1)
    lines.push_back(r.out.substr(start, pos - start));
  lines.resize(requests.size());
  return lines;
}

}  // namespace

TEST(Digest, MD5KnownValues) {
  EXPECT_EQ(MD5DigestToHex(MD5OfString("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MD5DigestToHex(MD5OfString("abc")), "900150983cd24fb0d6963f7d28e17f72");
  TMD5Digest d = MD5OfString("abc");
  std::string bytes = MD5DigestToBytes(d);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(hexOf(reinterpret_cast<const uint8_t*>(bytes.data()), 16), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Digest, MD5OverChunkBoundariesMatchesPython) {
  if (!pvltest::HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  // 8000 bytes are one feed, 8001 two; 100000 many, ending in a short one.
  const std::vector<size_t> sizes = {1, 7999, 8000, 8001, 100000};
  std::vector<std::pair<std::string, size_t>> requests;
  for (size_t n : sizes) requests.emplace_back("md5", n);
  std::vector<std::string> expected = pythonDigests(requests);
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string data = pattern(sizes[i]);
    EXPECT_EQ(MD5DigestToHex(MD5OfString(data)), expected[i]) << sizes[i];
    // The stream form hashes the whole stream whatever its position.
    TMemoryStream s(data);
    s.SetPosition(static_cast<int64_t>(sizes[i] / 2));
    std::string raw = MD5OfStream(s);
    ASSERT_EQ(raw.size(), 16u);
    EXPECT_EQ(hexOf(reinterpret_cast<const uint8_t*>(raw.data()), 16), expected[i]) << sizes[i];
  }
}

TEST(Digest, SHA2KnownValuesAndPython) {
  uint8_t d[64];
  SHA256OfBuffer("abc", 3, d);
  EXPECT_EQ(hexOf(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  SHA384OfBuffer("abc", 3, d);
  EXPECT_EQ(hexOf(d, 48),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
  SHA512OfBuffer("abc", 3, d);
  EXPECT_EQ(hexOf(d, 64),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
  SHA256OfBuffer(nullptr, 0, d);  // empty input is a valid digest
  EXPECT_EQ(hexOf(d, 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  if (pvltest::HaveTool("python3")) {
    std::string data = pattern(70001);
    auto expected = pythonDigests({{"sha256", data.size()}, {"sha384", data.size()}, {"sha512", data.size()}});
    SHA256OfBuffer(data.data(), data.size(), d);
    EXPECT_EQ(hexOf(d, 32), expected[0]);
    SHA384OfBuffer(data.data(), data.size(), d);
    EXPECT_EQ(hexOf(d, 48), expected[1]);
    SHA512OfBuffer(data.data(), data.size(), d);
    EXPECT_EQ(hexOf(d, 64), expected[2]);
  }
}

TEST(Digest, UncomputableDigestRaisesInsteadOfGivingAnEmptyKey) {
  uint8_t d[64];
  EXPECT_THROW(SHA256OfBuffer(nullptr, 5, d), EDigestError);
  EXPECT_THROW(SHA512OfBuffer("abc", 3, nullptr), EDigestError);
}

TEST(Digest, ResourceTagsAreEightHexDigitsAndFresh) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string tag = NewResourceTag();
    ASSERT_EQ(tag.size(), 8u);
    EXPECT_EQ(tag.find_first_not_of("0123456789abcdef"), std::string::npos) << tag;
    seen.insert(tag);
  }
  EXPECT_EQ(seen.size(), 50u);
}
