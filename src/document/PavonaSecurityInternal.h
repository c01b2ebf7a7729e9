// What the document's standard security handler shares with the
// direct-access reader's. Private to src/document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The password cut to 32 bytes and filled up with the standard handler's
// padding (the padding alone for an empty password).
std::string PadPassword(std::string_view password);
// The password hash of AES-256 files: SHA-256 of password, salt and user
// data for revision 5, the iterated hash for revision 6 (32 bytes).
std::string HashAES256(int32_t revision, std::string_view password, std::string_view salt,
                       std::string_view userData);
