// MD5 and SHA-2 digests, AES-CBC and random bytes (libcrypto, loaded the
// first time one of them is needed) and the resource-name tag. Each raises
// EDigestError, naming the library, when libcrypto cannot be loaded.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Classes.h"

class EDigestError : public Exception {
public:
  using Exception::Exception;
};

using TMD5Digest = std::array<uint8_t, 16>;

// Raises EDigestError when the digest cannot be computed (never an empty key).
TMD5Digest MD5OfString(std::string_view bytes);
// The 16 digest bytes of the whole stream (fed from position 0 in chunks of
// 8000 bytes); raises EDigestError when the digest cannot be computed.
std::string MD5OfStream(TMemoryStream& stream);
std::string MD5DigestToHex(const TMD5Digest& digest);
std::string MD5DigestToBytes(const TMD5Digest& digest);
// 8 lower-case hex digits, fresh each call (random GUID bytes + date-time).
std::string NewResourceTag();

// One-shot SHA-2 into digest (32, 48, 64 bytes); raise EDigestError on failure.
void SHA256OfBuffer(const void* buffer, size_t length, uint8_t* digest);
void SHA384OfBuffer(const void* buffer, size_t length, uint8_t* digest);
void SHA512OfBuffer(const void* buffer, size_t length, uint8_t* digest);

// n bytes from the cryptographic random generator; raises EDigestError.
std::string RandomBytes(size_t n);
// AES-CBC with a key of 16 (AES-128) or 32 bytes (AES-256) and a 16-byte
// vector, encrypting or decrypting; with PKCS#7 padding, or over whole
// blocks without it. Raises EDigestError when the cipher cannot run (key or
// vector of another length, partial blocks without padding, bad padding).
std::string AESCBC(std::string_view key, std::string_view iv, std::string_view data, bool encrypt, bool padding);
