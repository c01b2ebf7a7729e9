#include "objects/PavonaDigest.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
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

TMD5Digest MD5OfString(std::string_view bytes) {
  TMD5Digest d{};
  if (bytes.empty()) {
    static constexpr TMD5Digest kEmpty = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                          0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    return kEmpty;
  }
  TMemoryStream stream(bytes);
  std::string raw = MD5OfStream(stream);
  if (raw.size() != d.size()) throw EDigestError("MD5 digest could not be computed");
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(raw[i]);
  return d;
}

std::string MD5OfStream(TMemoryStream& stream) {
  uint8_t digest[EVP_MAX_MD_SIZE];
  stream.SetPosition(0);
  unsigned len = runDigest(EVP_md5(), "MD5", digest, [&](auto update) {
    char chunk[kFeedChunk];
    for (;;) {
      int64_t n = stream.Read(chunk, static_cast<int64_t>(sizeof chunk));
      if (n <= 0) return true;
      if (!update(chunk, static_cast<size_t>(n))) return false;
    }
  });
  if (len != 16) throw EDigestError("MD5 digest has the wrong length");
  return std::string(reinterpret_cast<const char*>(digest), len);
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
