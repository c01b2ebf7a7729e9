#include "objects/PavonaDigest.h"

// The plain MD5 functions are marked deprecated in favour of EVP, whose
// set-up is what they spare us here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/md5.h>
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

// MD5 of file identifiers and of the standard security handler's keys, by
// libcrypto's plain MD5 functions: the EVP layer would set the whole library
// up (configuration, providers: megabytes of memory) in every process that
// opens or creates a document, encrypted or not.
class TMD5 {
public:
  TMD5() { MD5_Init(&ctx_); }
  void Update(const void* data, size_t n) { MD5_Update(&ctx_, data, n); }
  TMD5Digest Final() {
    TMD5Digest d{};
    MD5_Final(d.data(), &ctx_);
    return d;
  }

private:
  MD5_CTX ctx_;
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
