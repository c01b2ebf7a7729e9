// What the document's standard security handler shares with the
// direct-access reader's. Private to src/document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TPDFDictionary;
class TPDFStream;
struct TPDFEncryption;

// The password cut to 32 bytes and filled up with the standard handler's
// padding (the padding alone for an empty password).
std::string PadPassword(std::string_view password);
// The password hash of AES-256 files: SHA-256 of password, salt and user
// data for revision 5, the iterated hash for revision 6 (32 bytes).
std::string HashAES256(int32_t revision, std::string_view password, std::string_view salt,
                       std::string_view userData);

// Reads an Encrypt dictionary of the standard handler into e: V, R, O, U,
// OE, UE, Perms, P, EncryptMetadata, the key length, cipher and strength,
// and which crypt filters are Identity (strings, streams or embedded files
// left plain). True when the combination is one this system decrypts; the
// document and the direct-access reader both take this answer.
bool ReadStandardEncryption(TPDFDictionary* dict, TPDFEncryption& e);
// True when a stream's data is not encrypted: cross-reference streams,
// metadata when the file does not encrypt it, streams naming the Identity
// crypt filter, and the kinds (streams, embedded files) whose crypt filter
// is Identity.
bool StreamStaysPlain(TPDFStream* stream, bool encryptMetadata, bool plainStreams, bool plainFiles);
