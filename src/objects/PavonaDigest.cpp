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

#include "platform/RuntimeLibrary.h"

namespace {

// libcrypto is loaded the first time a digest, a cipher or random bytes are
// needed: linked, it would cost every run at start, and most runs never
// need it.
#define PVL_CRYPTO_ENTRIES(X)   \
  X(MD5_Init)                   \
  X(MD5_Update)                 \
  X(MD5_Final)                  \
  X(EVP_MD_CTX_new)             \
  X(EVP_MD_CTX_free)            \
  X(EVP_DigestInit_ex)          \
  X(EVP_DigestUpdate)           \
  X(EVP_DigestFinal_ex)         \
  X(EVP_sha256)                 \
  X(EVP_sha384)                 \
  X(EVP_sha512)                 \
  X(EVP_CIPHER_CTX_new)         \
  X(EVP_CIPHER_CTX_free)        \
  X(EVP_CIPHER_CTX_set_padding) \
  X(EVP_CipherInit_ex)          \
  X(EVP_CipherUpdate)           \
  X(EVP_CipherFinal_ex)         \
  X(EVP_aes_128_cbc)            \
  X(EVP_aes_256_cbc)            \
  X(RAND_bytes)
constexpr const char* kCryptoLibrary = "libcrypto.so.3";

struct TCryptoLibrary {
#define PVL_CRYPTO_SLOT(name) decltype(&::name) name = nullptr;
  PVL_CRYPTO_ENTRIES(PVL_CRYPTO_SLOT)
#undef PVL_CRYPTO_SLOT
  // Empty when every entry point is bound.
  std::string error;
};

// Bound once, on first use (thread-safe as a function-local static); raises
// EDigestError naming the library when it cannot be loaded.
const TCryptoLibrary& Crypto(const char* what) {
  static const auto bound =
      BindRuntimeLibrary<TCryptoLibrary>(kCryptoLibrary, [](TRuntimeLibrary& lib, TCryptoLibrary& t) {
#define PVL_CRYPTO_BIND(name) lib.Bind(#name, t.name);
        PVL_CRYPTO_ENTRIES(PVL_CRYPTO_BIND)
#undef PVL_CRYPTO_BIND
      });
  if (!bound.error.empty()) throw EDigestError(std::string(what) + " is not available: " + bound.error);
  return bound;
}

constexpr size_t kFeedChunk = 8000;

// One digest over a sequence of chunks; returns the digest length or raises.
template <class Feed>
unsigned runDigest(const char* what, const EVP_MD* (*algorithm)(const TCryptoLibrary&), uint8_t* digest, Feed&& feed) {
  const TCryptoLibrary& crypto = Crypto(what);
  const EVP_MD* md = algorithm(crypto);
  if (!md) throw EDigestError(std::string(what) + " digest is not available");
  std::unique_ptr<EVP_MD_CTX, decltype(crypto.EVP_MD_CTX_free)> ctx(crypto.EVP_MD_CTX_new(), crypto.EVP_MD_CTX_free);
  if (!ctx || crypto.EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
    throw EDigestError(std::string(what) + " digest could not be started");
  if (!feed([&](const void* p, size_t n) { return crypto.EVP_DigestUpdate(ctx.get(), p, n) == 1; }))
    throw EDigestError(std::string(what) + " digest could not be computed");
  unsigned len = 0;
  if (crypto.EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1)
    throw EDigestError(std::string(what) + " digest could not be finished");
  return len;
}

void oneShot(const char* what, const EVP_MD* (*algorithm)(const TCryptoLibrary&), const void* buffer, size_t length,
             uint8_t* digest, unsigned expected) {
  if (!digest || (!buffer && length > 0)) throw EDigestError(std::string(what) + ": no buffer");
  unsigned len = runDigest(what, algorithm, digest, [&](auto update) { return update(buffer, length); });
  if (len != expected) throw EDigestError(std::string(what) + " digest has the wrong length");
}

// MD5 of file identifiers and of the standard security handler's keys, by
// libcrypto's plain MD5 functions: the EVP layer would set the whole library
// up (configuration, providers: megabytes of memory) in every process that
// opens or creates a document, encrypted or not.
class TMD5 {
public:
  TMD5() : crypto_(Crypto("MD5")) { crypto_.MD5_Init(&ctx_); }
  void Update(const void* data, size_t n) { crypto_.MD5_Update(&ctx_, data, n); }
  TMD5Digest Final() {
    TMD5Digest d{};
    crypto_.MD5_Final(d.data(), &ctx_);
    return d;
  }

private:
  const TCryptoLibrary& crypto_;
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
  std::string guid = RandomBytes(16);
  guid[6] = static_cast<char>((static_cast<uint8_t>(guid[6]) & 0x0F) | 0x40);
  guid[8] = static_cast<char>((static_cast<uint8_t>(guid[8]) & 0x3F) | 0x80);
  char when[64];
  int n = std::snprintf(when, sizeof when, "%.15g", Now());
  if (n > 0) guid.append(when, static_cast<size_t>(std::min(n, int(sizeof when) - 1)));
  return MD5DigestToHex(MD5OfString(guid)).substr(0, 8);
}

void SHA256OfBuffer(const void* buffer, size_t length, uint8_t* digest) {
  oneShot(
      "SHA-256", [](const TCryptoLibrary& c) { return c.EVP_sha256(); }, buffer, length, digest, 32);
}

void SHA384OfBuffer(const void* buffer, size_t length, uint8_t* digest) {
  oneShot(
      "SHA-384", [](const TCryptoLibrary& c) { return c.EVP_sha384(); }, buffer, length, digest, 48);
}

void SHA512OfBuffer(const void* buffer, size_t length, uint8_t* digest) {
  oneShot(
      "SHA-512", [](const TCryptoLibrary& c) { return c.EVP_sha512(); }, buffer, length, digest, 64);
}

std::string RandomBytes(size_t n) {
  std::string out(n, '\0');
  if (n == 0) return out;
  const TCryptoLibrary& crypto = Crypto("The random generator");
  if (n > size_t(INT32_MAX) ||
      crypto.RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n)) != 1)
    throw EDigestError("The random generator failed");
  return out;
}

std::string AESCBC(std::string_view key, std::string_view iv, std::string_view data, bool encrypt, bool padding) {
  if ((key.size() != 16 && key.size() != 32) || iv.size() != 16) throw EDigestError("Invalid AES key or vector");
  if (!padding && data.size() % 16 != 0) throw EDigestError("AES without padding needs whole blocks");
  if (data.size() > size_t(INT32_MAX) - 32) throw EDigestError("AES input too long");
  const TCryptoLibrary& crypto = Crypto("AES");
  const EVP_CIPHER* cipher = key.size() == 32 ? crypto.EVP_aes_256_cbc() : crypto.EVP_aes_128_cbc();
  std::unique_ptr<EVP_CIPHER_CTX, decltype(crypto.EVP_CIPHER_CTX_free)> ctx(crypto.EVP_CIPHER_CTX_new(),
                                                                            crypto.EVP_CIPHER_CTX_free);
  if (!ctx) throw EDigestError("Cannot create a cipher context");
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
  if (!cipher || crypto.EVP_CipherInit_ex(ctx.get(), cipher, nullptr, k, v, encrypt ? 1 : 0) != 1 ||
      crypto.EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) != 1)
    throw EDigestError("AES set-up failed");
  std::string out(data.size() + 32, '\0');
  int written = 0, final = 0;
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  if (crypto.EVP_CipherUpdate(ctx.get(), o, &written, reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<int>(data.size())) != 1 ||
      crypto.EVP_CipherFinal_ex(ctx.get(), o + written, &final) != 1) {
    throw EDigestError("AES failed");
  }
  out.resize(static_cast<size_t>(written + final));
  return out;
}
