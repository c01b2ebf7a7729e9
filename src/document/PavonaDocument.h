// One PDF document: the whole file text, the cross-reference entries read
// from it, the lazy object table (objects are parsed and decrypted on first
// use), object streams, the trailer, and the standard security handler.
//
// The document keeps the file text in memory; every record of the object
// table names a slice of it (or a place in an object stream) and is parsed
// only when first asked for. The pool resolves every reference through
// LookupObject.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../objects/PavonaExtra.h"
#include "../objects/PavonaStructure.h"

class TPDFDocument;

// Raised by the document layer for failures that are not a matter of the
// file's contents (a digest or cipher that cannot be computed).
class EPDFDocumentError : public Exception {
public:
  using Exception::Exception;
};

// Highest object number accepted from a file; larger numbers in a
// cross-reference section are dropped (the implementation limit of the PDF
// format, and a bound on the memory a hostile table can ask for).
constexpr int32_t kMaxObjectNumber = 8388607;

// One accepted cross-reference entry.
struct TPDFXRefEntry {
  int32_t Number = 0;
  int32_t Generation = 0;  // 0 for compressed entries
  int64_t Offset = 0;      // of the object header; 0 for compressed entries
  bool Used = true;
  int32_t StreamNumber = 0;  // compressed: the object stream holding the object
  int32_t StreamIndex = 0;   // compressed: index within that stream
  bool Compressed = false;
};

// One record of the object table.
class TPDFIndObj {
public:
  explicit TPDFIndObj(TPDFDocument* document) : Document(document) {}

  // Loads on first use (a failed load is not retried), then decrypts once
  // when the document is encrypted and authenticated; a TPDFNull when the
  // slice could not be read.
  TPDFObject* GetObject();
  // The object as it is written into a file: "N G obj\n", its text, "endobj\n".
  std::string WriteText();

  TPDFDocument* Document;
  int32_t Number = 0;
  int32_t Generation = 0;
  bool Loaded = false;
  TPDFObject* Object = nullptr;  // owned by the document's pool
  int64_t Offset = 0;            // slice of the file text (0, 0 when made in memory)
  int64_t Length = 0;
  // Strings and streams are plain in memory (compressed objects, objects
  // made in memory, and decrypted ones).
  bool CryptDone = false;
  bool Compressed = false;
  int32_t StreamNumber = 0;
  int32_t StreamIndex = 0;
};

// The decoded data of one object stream and its parsed header.
class TPDFObjectStream {
public:
  int32_t Number = 0;
  TPDFStream* Stream =
      nullptr;       // nullptr when the object is not a usable object stream  // the stream object (pool-owned)
  std::string Data;  // decoded data
  TPDFArray* Header = nullptr;  // "[ N1 off1 N2 off2 ... ]" (pool-owned)
  int32_t First = 0;
  int32_t N = 0;
};

// Security-handler parameters of a document.
struct TPDFEncryption {
  bool Read = false;        // Encrypt parsed since the last change
  bool HasEncrypt = false;  // the trailer names an Encrypt dictionary
  int32_t Status = 0;       // 0 none, 1 handled, 2 not handled
  int32_t V = 0;
  int32_t R = 0;
  int32_t KeyLength = 0;  // bits
  std::string O, U, OE, UE, Perms;
  int32_t P = 0;
  bool EncryptMetadata = true;
  int32_t EncryptObjectNumber = -1;  // never encrypted nor decrypted; -1 when direct
  int32_t Cipher = 0;                // 0 RC4, 1 AES-128, 2 AES-256
  int32_t Strength = 0;              // 0 RC4 40-bit, 1 RC4 128-bit, 2 AES-128, 3 AES-256
  std::string FileKey;
  std::string AuthKey;
  bool UserAuthenticated = false;
  bool OwnerAuthenticated = false;
  std::u16string Password;
  // A new encryption: its passwords and permission sets. Set A: 1 print,
  // 2 copy and extract, 4 modify contents, 8 annotate. Set B: 1 fill in
  // forms, 2 extract for accessibility, 4 assemble, 8 high-quality print.
  std::u16string NewOwnerPassword;
  std::u16string NewUserPassword;
  uint8_t PermissionsA = 15;
  uint8_t PermissionsB = 15;
};

class TPDFDocument {
public:
  TPDFDocument();
  ~TPDFDocument();
  TPDFDocument(const TPDFDocument&) = delete;
  TPDFDocument& operator=(const TPDFDocument&) = delete;

  // Releases every object, the table, the entries, the object-stream caches,
  // the file text and the security state; a new empty trailer.
  void Clear();

  // The whole file text (objects are read from it lazily).
  void SetFileText(std::string text);
  const std::string& GetFileText() const { return fileText_; }
  TPDFStructure& GetPool() { return *pool_; }
  TPDFDictionary* GetTrailer() const { return trailer_; }

  // ---- Cross-reference data and the object table
  // Reads the cross-reference chain into the entry array (newest definition
  // of a number first). When the chain cannot be read, or gives no trailer,
  // the entries are rebuilt by scanning the file for objects. False when
  // neither gives a trailer.
  bool ReadXRef();
  // True when ReadXRef had to rebuild the entries by scanning.
  bool WasReconstructed() const { return reconstructed_; }
  void BuildObjectTable();
  // Callbacks of the cross-reference reader.
  void OnXRefEntry(int32_t number, int64_t second, char kind, int32_t third);
  void OnTrailer(const std::string& text);
  void OnXRefSection(int64_t offset);

  // The record of an object number (binary search), nullptr when none.
  TPDFIndObj* FindObject(int32_t number) const;
  // The pool's lookup: FindObject, then TPDFIndObj::GetObject; nullptr when none.
  TPDFObject* LookupObject(int32_t number);
  // Adds obj as a new indirect object (highest number + 1, generation 0).
  TPDFIndObj* AddObject(TPDFObject* obj);
  TPDFIndRef* AddIndirectRef(TPDFObject* obj);
  TPDFDictionary* NewIndirectDictionary();
  // The pool's numbering callback.
  void RegisterIndirect(TPDFStructure* sender, TPDFObject* obj, int32_t& number, int32_t& generation);
  // The raw text of a record ("N G obj ..." from the file or an object stream).
  std::string GetObjectText(TPDFIndObj* record);

  int32_t GetObjectCount() const { return static_cast<int32_t>(table_.size()); }
  // Records in table order (ascending file offset, compressed objects first,
  // new objects last).
  TPDFIndObj* GetIndObj(int32_t index) const;
  const std::vector<TPDFXRefEntry>& GetEntries() const { return entries_; }
  const std::vector<int64_t>& GetSectionOffsets() const { return sectionOffsets_; }
  int32_t GetHighestNumber() const { return highestNumber_; }

  // ---- Standard security handler
  // 0 no Encrypt, 1 a combination that is handled, 2 any other.
  int32_t GetEncryptionStatus();
  void ReadEncryption();
  // Tries the password as user password, then as owner password.
  bool Authenticate(std::u16string_view password);
  bool IsEncryptedAndAuthenticated();
  const TPDFEncryption& GetEncryption() const { return encryption_; }
  std::string ObjectKey(int32_t number, int32_t generation) const;
  // Decrypt / encrypt every string and stream of obj (dictionaries, arrays
  // and stream dictionaries, recursively) with the object key. All new
  // values are computed first and stored only when every one succeeded.
  void DecryptObject(std::string_view key, TPDFObject* obj);
  void CryptObject(std::string_view key, TPDFObject* obj);
  // A new encryption (strength 0 RC4 40, 1 RC4 128, 2 AES-128, 3 AES-256).
  bool SetEncryption(std::u16string_view ownerPassword, std::u16string_view userPassword, uint8_t setB, uint8_t setA,
                     int32_t strength);
  // Removes the encryption (only when authenticated).
  bool Decrypt();
  void SetPermissions(int32_t p);
  int32_t ComputeP() const;

private:
  friend class TPDFIndObj;
  void resetObjectState();
  void rebuildIndex();
  void loadRecord(TPDFIndObj* record);
  TPDFObjectStream* objectStreamOf(int32_t number);
  std::string_view recordSlice(const TPDFIndObj* record) const;
  TPDFObject* parseRecordText(TPDFIndObj* record, std::string_view text);
  void decryptRecord(TPDFIndObj* record);
  void transformObject(std::string_view key, TPDFObject* obj, bool decrypt);
  bool authenticateUser(const std::string& password);
  bool authenticateOwner(const std::string& password);
  bool authenticateAES256(const std::string& password);
  std::string firstID() const;
  std::string computeFileKey(const std::string& password) const;
  std::string computeU(const std::string& fileKey) const;

  std::unique_ptr<TPDFStructure> pool_;
  std::string fileText_;
  TPDFDictionary* trailer_ = nullptr;
  std::vector<TPDFXRefEntry> entries_;
  TPVLSortedUniqueIntegerList defined_;
  int32_t highestNumber_ = 0;
  std::vector<int64_t> sectionOffsets_;
  bool trailerSeen_ = false;
  bool reconstructed_ = false;
  std::vector<std::unique_ptr<TPDFIndObj>> table_;
  std::vector<int32_t> indexNumbers_;    // ascending object numbers
  std::vector<int32_t> indexPositions_;  // matching table positions
  std::vector<std::unique_ptr<TPDFObjectStream>> objectStreams_;
  std::unordered_map<int32_t, TPDFObjectStream*> objectStreamIndex_;
  int32_t loadDepth_ = 0;
  TPDFEncryption encryption_;
};

// RC4 (the same call encrypts and decrypts).
std::string RC4Crypt(std::string_view key, std::string_view data);
// A fresh random 16-byte vector, PKCS#7 padding, AES-CBC (16- or 32-byte
// key); the vector is prepended.
std::string AESEncryptCBC(std::string_view key, std::string_view data);
// The vector is the first 16 bytes; padding is removed when it is valid.
// Data shorter than one vector gives ""; a tail that is not a whole block is
// ignored.
std::string AESDecryptCBC(std::string_view key, std::string_view data);
// SASLprep (RFC 4013) of a password, as UTF-8; raises EPDFDocumentError for
// a password with prohibited characters.
std::string SASLPrepPassword(std::u16string_view password);
