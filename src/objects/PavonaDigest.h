// MD5 and SHA-2 digests (libcrypto) and the resource-name tag.
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
