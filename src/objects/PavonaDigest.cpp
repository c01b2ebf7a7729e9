#include "objects/PavonaDigest.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

constexpr size_t kFeedChunk = 8000;

// One digest over a sequence of chunks; returns the digest length or raises.
template <class Feed>
unsigned runDigest(const EVP_MD* md, const char* what, uint8_t* digest, Feed&& feed) {
  if (!md) throw EDigestError(std::string(what) + " digest is not available");
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
    throw EDigestError(std::string(what) + " digest could not be started");
  if (!feed([&](const void* p, size_t n) { return EVP_DigestUpdate(ctx.get(), p, n) == 1; }))
    throw EDigestError(std::string(what) + " digest could not be computed");
  unsigned len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1)
    throw EDigestError(std::string(what) + " digest could not be finished");
  return len;
}

void oneShot(const EVP_MD* md, const char* what, const void* buffer, size_t length, uint8_t* digest,
             unsigned expected) {
  if (!digest || (!buffer && length > 0)) throw EDigestError(std::string(what) + ": no buffer");
  unsigned len = runDigest(md, what, digest, [&](auto update) { return update(buffer, length); });
  if (len != expected) throw EDigestError(std::string(what) + " digest has the wrong length");
}

}  // namespace

namespace {

// MD5 in our own code: the digest of file identifiers and of the standard
// security handler's keys. Going through libcrypto's EVP layer for it would
// set the whole library up (configuration, providers: megabytes of memory)
// in every process that opens or creates a document, encrypted or not.
class TMD5 {
public:
  void Update(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    length_ += n;
    if (used_ > 0) {
      const size_t take = std::min(n, sizeof block_ - used_);
      std::memcpy(block_ + used_, p, take);
      used_ += take, p += take, n -= take;
      if (used_ < sizeof block_) return;
      Compress(block_);
      used_ = 0;
    }
    for (; n >= sizeof block_; p += sizeof block_, n -= sizeof block_) Compress(p);
    std::memcpy(block_, p, n);
    used_ = n;
  }
  TMD5Digest Final() {
    const uint64_t bits = length_ * 8;
    static const uint8_t kPad[64] = {0x80};
    Update(kPad, used_ < 56 ? 56 - used_ : 120 - used_);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(tail, 8);
    TMD5Digest d{};
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) d[size_t(4 * i + j)] = static_cast<uint8_t>(state_[i] >> (8 * j));
    return d;
  }

private:
  static uint32_t Rotate(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }
  void Compress(const uint8_t* p) {
    static constexpr uint32_t kSine[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
      m[i] = uint32_t(p[4 * i]) | uint32_t(p[4 * i + 1]) << 8 | uint32_t(p[4 * i + 2]) << 16 |
             uint32_t(p[4 * i + 3]) << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
      const int round = i / 16;
      uint32_t f;
      int g;
      if (round == 0) {
        f = (b & c) | (~b & d), g = i;
      } else if (round == 1) {
        f = (d & b) | (~d & c), g = (5 * i + 1) & 15;
      } else if (round == 2) {
        f = b ^ c ^ d, g = (3 * i + 5) & 15;
      } else {
        f = c ^ (b | ~d), g = (7 * i) & 15;
      }
      const uint32_t next = b + Rotate(a + f + kSine[i] + m[g], kShift[round][i & 3]);
      a = d, d = c, c = b, b = next;
    }
    state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d;
  }

  uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  uint8_t block_[64] = {};
  size_t used_ = 0;
  uint64_t length_ = 0;
};

}  // namespace

TMD5Digest MD5OfString(std::string_view bytes) {
  TMD5 md5;
  md5.Update(bytes.data(), bytes.size());
  return md5.Final();
}

std::string MD5OfStream(TMemoryStream& stream) {
  TMD5 md5;
  stream.SetPosition(0);
  char chunk[kFeedChunk];
  for (;;) {
    const int64_t n = stream.Read(chunk, static_cast<int64_t>(sizeof chunk));
    if (n <= 0) break;
    md5.Update(chunk, static_cast<size_t>(n));
  }
  return MD5DigestToBytes(md5.Final());
}

std::string MD5DigestToHex(const TMD5Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(32);
  for (uint8_t b : digest) {
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 15]);
  }
  return s;
}

std::string MD5DigestToBytes(const TMD5Digest& digest) {
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string NewResourceTag() {
  // A random (version 4) GUID followed by the date-time as text.
  uint8_t guid[16];
  if (RAND_bytes(guid, sizeof guid) != 1) throw EDigestError("no random bytes for a resource tag");
  guid[6] = static_cast<uint8_t>((guid[6] & 0x0F) | 0x40);
  guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80);
  char when[64];
  int n = std::snprintf(when, sizeof when, "%.15g", Now());
  std::string bytes(reinterpret_cast<const char*>(guid), sizeof guid);
  if (n > 0) bytes.append(when, static_cast<size_t>(std::min(n, int(sizeof when) - 1)));
  return MD5DigestToHex(MD5OfString(bytes)).substr(0, 8);
}

void SHA256OfBuffer(const void* buffer, size_t length, uint8_t* digest) {
  oneShot(EVP_sha256(), "SHA-256", buffer, length, digest, 32);
}

void SHA384OfBuffer(const void* buffer, size_t length, uint8_t* digest) {
  oneShot(EVP_sha384(), "SHA-384", buffer, length, digest, 48);
}

void SHA512OfBuffer(const void* buffer, size_t length, uint8_t* digest) {
  oneShot(EVP_sha512(), "SHA-512", buffer, length, digest, 64);
}
