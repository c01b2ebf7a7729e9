// Direct access to PDF files without loading them: a reader that parses
// single objects on demand from the file, and a writer that writes a file
// object by object, for merging, splitting and page text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/PavonaStructure.h"
#include "platform/Classes.h"

class TPDFDocument;

// A structural copy of obj in pool: numbers keep their values, streams their
// stored bytes, references their numbers; nesting beyond kMaxObjectDepth
// becomes null.
TPDFObject* SmartCopyObject(TPDFObject* obj, TPDFStructure* pool);

// Single objects of a file for merging, splitting and page text. The file is
// opened by the document's own reading path (header, cross-reference chain,
// repair by scanning, object streams, decryption), so that these operations
// read every file that opens as a document; objects are handed out as copies
// in the reader's pool or the caller's.
class TSmartPDFReader {
public:
  // Opens the stream's bytes; an encrypted file is decrypted when the
  // password (empty: the empty user password) opens it. The stream is not
  // owned and is only read here.
  explicit TSmartPDFReader(TStream& stream, std::u16string_view password = u"");
  ~TSmartPDFReader();
  TSmartPDFReader(const TSmartPDFReader&) = delete;
  TSmartPDFReader& operator=(const TSmartPDFReader&) = delete;

  // 0 sound, 1 no header in the first 1024 bytes, 2 no cross-reference data or trailer.
  int32_t GetState() const { return state_; }
  const std::string& GetVersion() const { return version_; }
  // The trailer names an Encrypt dictionary.
  bool IsEncrypted() const { return encrypted_; }
  // Objects come plain: the file is not encrypted, or its password opened it
  // and every object read is decrypted.
  bool ObjectsArePlain() const { return plain_; }
  // The number of the Encrypt dictionary of a file whose objects come plain
  // (no object of what is written from them); -1 otherwise.
  int32_t GetEncryptNumber() const { return encryptNumber_; }

  int32_t GetMaxObjectNumber() const;
  // The object's text (without "N G obj"); empty when it cannot be read.
  std::string GetObjectText(int32_t number);
  // A new copy of the object in pool (the reader's own when nullptr);
  // nullptr when it cannot be read.
  TPDFObject* ReadObject(int32_t number, TPDFStructure* pool);
  // The object through the cache of the last 100 objects read.
  TPDFObject* GetCachedObject(int32_t number);
  TPDFObject* GetObject(int32_t number, TPDFStructure* pool) {
    return pool ? ReadObject(number, pool) : GetCachedObject(number);
  }
  int32_t GetGeneration(int32_t number) const;
  bool IsInObjectStream(int32_t number) const;

  TPDFDictionary* GetTrailer() const { return trailer_; }
  // The trailer's dictionary value for name (an indirect value resolved
  // through the cache).
  TPDFDictionary* GetTrailerDict(std::string_view name);
  TPDFIndRef* GetTrailerRef(std::string_view name);
  // Size filled in, a new second identifier (or a new ID pair), the keys of
  // cross-reference streams and chains removed, and Encrypt removed when the
  // objects are read plain (what is written from them is not encrypted).
  void RebuildTrailer();

  TPDFStructure& GetPool() { return *pool_; }

  // Called when RebuildTrailer made a new ID pair.
  std::function<void(TSmartPDFReader& reader)> OnIdentifierCreated;

  // Most objects kept by the object cache.
  static constexpr size_t kObjectCacheSize = 100;

private:
  void keepObjectsAsRead();
  TPDFObject* fileObject(int32_t number);
  TPDFObject* resolve(TPDFObject* obj);

  std::unique_ptr<TPDFDocument> document_;
  std::unique_ptr<TPDFStructure> pool_;
  int32_t state_ = 0;
  std::string version_;
  TPDFDictionary* trailer_ = nullptr;
  bool encrypted_ = false;
  bool plain_ = false;
  int32_t encryptNumber_ = -1;
  int32_t maxNumber_ = 0;
  std::vector<int32_t> added_;  // sorted; objects the opening made, not the file
  std::vector<std::pair<int32_t, TPDFObject*>> cache_;
};

class TSmartPDFWriter {
public:
  explicit TSmartPDFWriter(TStream& output) : output_(output) {}

  void WriteHeader(std::string_view version);
  void WriteObject(int32_t number, int32_t generation, std::string_view text);
  // A classic table (one section from 0 when singleSection, else subsections
  // of consecutive numbers), the trailer, startxref and the end marker.
  // offset is added to every position written.
  void WriteXRefAndTrailer(TPDFDictionary* trailer, int64_t offset, bool singleSection);

private:
  struct TWritten {
    int32_t number;
    int32_t generation;
    int64_t position;
    int64_t length;
  };
  TStream& output_;
  std::vector<TWritten> written_;
};

// ---------------------------------------------------------------------------
// Document facts, the direct-access security handler, and the page-tree view
// of a file opened by TSmartPDFReader (merging, splitting and page text).

// The parameters read from a file's Encrypt dictionary.
struct TSmartPDFEncryption {
  int32_t KeyLength = 0;  // 40..128 bits for RC4 and AES-128; 32 (bytes) for AES-256
  int32_t R = 0;
  int32_t V = 0;
  std::string O;
  std::string U;
  int32_t P = 0;
  int32_t AES = 0;  // 1: AES
  std::string OE;
  std::string UE;
  std::string Perms;
  bool EncryptMetadata = true;
  // Identity crypt filters: strings, streams or embedded files left plain.
  bool PlainStrings = false;
  bool PlainStreams = false;
  bool PlainFiles = false;
};

// The standard security handler of a direct-access file: password checks,
// security answers and object keys. Passwords are handed in as UTF-8; they
// become SASLprep'd UTF-8 for AES-256 and PDFDocEncoding bytes (with the
// UTF-8 bytes as a second try) for the older revisions.
class TSmartPDFCrypt {
public:
  // state: 0 not encrypted, 1 a handled combination, 2 anything else.
  TSmartPDFCrypt(const TSmartPDFEncryption& encryption, std::string firstID, int32_t state);

  void SetFirstID(std::string id) { firstID_ = std::move(id); }
  // Keeps "!" + password when it is a user or owner password, else clears it.
  void SetPassword(std::string_view password);
  bool CheckUserPassword(std::string_view password);
  bool CheckOwnerPassword(std::string_view password);
  // True once a password (the empty one included) opened the file.
  bool IsAuthenticated() const { return !password_.empty(); }
  const std::string& GetPassword() const { return password_; }
  int32_t GetState() const { return state_; }
  // 0 RC4 40-bit, 1 RC4 with a longer key, 2 AES-128, 3 AES-256.
  int32_t GetCipherKind() const { return cipherKind_; }

  std::string GetObjectKey(int32_t number, int32_t generation) const;
  // Every string and stream of obj (recursively), in place. Streams that are
  // never encrypted (cross-reference streams, and metadata when the file says
  // so) stay as they are.
  void DecryptObject(std::string_view key, TPDFObject* obj);
  void EncryptObject(std::string_view key, TPDFObject* obj);

  // Answer code of a security query (see TSmartPDFInfo::GetSecurityInfo).
  int32_t GetSecurityAnswer(int32_t query);

private:
  // The file key a password gives (user or owner); empty when it gives none.
  std::string userKey(const std::string& password) const;
  std::string ownerKey(const std::string& password) const;
  std::string legacyFileKey(const std::string& paddedPassword) const;
  std::string aes256Key(const std::string& password, bool owner) const;
  std::vector<std::string> candidates(std::string_view password) const;
  void updateCipherKind();
  void readPerms();
  void transform(std::string_view key, TPDFObject* obj, bool decrypt, int depth);

  TSmartPDFEncryption e_;
  std::string firstID_;
  int32_t state_ = 0;
  std::string password_;
  std::string fileKey_;
  int32_t cipherKind_ = 0;
  int32_t permissions_ = 0;
};

// The facts of a direct-access file: catalog, information dictionary, page
// tree root, form and encryption.
class TSmartPDFInfo {
public:
  // Sets the reader's identifier hook (cleared again by
  // the destructor).
  TSmartPDFInfo(TSmartPDFReader& reader, std::string_view password);
  ~TSmartPDFInfo();
  TSmartPDFInfo(const TSmartPDFInfo&) = delete;
  TSmartPDFInfo& operator=(const TSmartPDFInfo&) = delete;

  bool CheckPassword(std::string_view password);
  void SetPassword(std::string_view password);
  // Decimal text of the answer code of query 0..10:
  //   0 encryption (0 none, 1 standard handler, 9 a handler we cannot use),
  //   1 user password and 2 owner password (2 not needed or correct, 3 needed),
  //   3 printing (4 allowed, 5 not, 10 low quality only),
  //   4 modify, 5 copy, 6 annotations, 7 fill forms, 8 accessibility,
  //   9 assemble (6 allowed, 5 not), 10 strength (7 RC4 40, 8 RC4 128,
  //   12 AES-128, 11 other); 11 for any other query.
  std::string GetSecurityInfo(int32_t query);

  // 0 no Encrypt, 1 Encrypt with a combination this handler uses, 2 other.
  int32_t GetEncryptionState() const { return state_; }
  const TSmartPDFEncryption& GetEncryption() const { return encryption_; }
  TSmartPDFCrypt& GetCrypt() { return *crypt_; }
  const std::string& GetVersion() const { return version_; }
  TPDFDictionary* GetCatalog() const { return catalog_; }
  TPDFDictionary* GetInformation() const { return info_; }
  TPDFDictionary* GetPagesRoot() const { return pagesRoot_; }
  // The root's Count when it is a sound number, else 0.
  int32_t GetPageCount() const { return pageCount_; }
  TPDFDictionary* GetAcroForm() const { return acroForm_; }
  int32_t GetFieldCount() const { return fieldCount_; }

private:
  void readEncryption();
  void readFacts();

  TSmartPDFReader& reader_;
  std::string version_;
  TPDFDictionary* catalog_ = nullptr;
  TPDFDictionary* info_ = nullptr;
  TPDFDictionary* pagesRoot_ = nullptr;
  int32_t pageCount_ = 0;
  TPDFDictionary* acroForm_ = nullptr;
  int32_t fieldCount_ = 0;
  int32_t state_ = 0;
  TSmartPDFEncryption encryption_;
  std::string password_;
  std::unique_ptr<TSmartPDFCrypt> crypt_;
};

// Options of page text by direct access (the facade's text options).
struct TSmartPDFTextOptions {
  double GapSetting = 0.7;
  bool UseRegion = false;
  double Left = 0, Top = 0, Width = 0, Height = 0;
};

// The page tree and objects of a direct-access file. Objects it changes or
// creates are kept as replaced objects in its own pool and take precedence
// over the file's. Every walk of the page tree and the outline is guarded
// against cycles and depth.
class TSmartPDFDocument {
public:
  explicit TSmartPDFDocument(TSmartPDFReader& reader);
  ~TSmartPDFDocument();
  TSmartPDFDocument(const TSmartPDFDocument&) = delete;
  TSmartPDFDocument& operator=(const TSmartPDFDocument&) = delete;

  // The replaced object of that number, else the reader's (parsed into pool
  // when given, else through the reader's cache). With a pool, a replaced
  // object comes as a copy in that pool, so the caller may change it.
  TPDFObject* GetObject(int32_t number, TPDFStructure* pool);
  int32_t GetGeneration(int32_t number) const { return reader_.GetGeneration(number); }
  int32_t GetMaxObjectNumber() const;
  // Pages counted in the tree (the root's Count is not trusted).
  int32_t GetPageCount();
  // Reference (in the document's pool) of page n, nullptr when none.
  TPDFIndRef* FindPage(int32_t n);
  int32_t GetCatalogNumber() const { return catalogNumber_; }
  int32_t GetRootNumber() const { return rootNumber_; }
  int32_t GetRootGeneration() const { return reader_.GetGeneration(rootNumber_); }
  int32_t GetInfoNumber() const { return infoNumber_; }

  // Keeps only the listed pages (in list order) under the root and collects
  // the objects the result needs, starting from the catalog, then the
  // information dictionary. Pages that are not listed are left out together
  // with everything only they use.
  void SelectPages(const std::vector<int32_t>& pages);
  int32_t GetUsedObjectCount() const { return static_cast<int32_t>(used_.size()); }
  int32_t GetUsedObjectNumber(int32_t i) const;
  // After SelectPages: references to pages that were left out become null.
  void DropExcludedPageRefs(TPDFObject* obj) const;

  // Every page carries its MediaBox, CropBox, Rotate and Resources itself,
  // so that a new parent cannot change them.
  void PushDownPageAttributes();
  void SetPagesParent(int32_t number, int32_t generation);
  void AppendPageTree(int32_t number, int32_t generation, int32_t pageCount);

  bool HasAcroForm() const { return acroFormNumber_ > 0; }
  void CreateAcroForm();
  TPDFArray* GetFormFields();
  TPDFArray* GetFormCalcOrder();
  bool GetNeedAppearances();
  void MergeFormFields(TPDFArray* otherFields, TPDFArray* otherCalcOrder, bool otherNeedAppearances, int32_t shift);
  // The other form's default resources join this form's (names this form
  // has already keep their value).
  void MergeFormResources(TSmartPDFDocument& other, int32_t shift);
  // The other document's named destinations (catalog Dests and the Dests
  // name tree) join this document's; names this document has keep theirs.
  void MergeNamedDestinations(TSmartPDFDocument& other, int32_t shift);
  // The other document's embedded files (the EmbeddedFiles name tree) join
  // this document's; a name both have is kept for each file, the other's
  // with a number added.
  void MergeEmbeddedFiles(TSmartPDFDocument& other, int32_t shift);
  // Top-level fields of the other form whose names this form has too are
  // renamed (a number added), so that the two fields stay apart and each
  // keeps its value.
  void RenameClashingFields(TSmartPDFDocument& other);

  bool HasOutlines();
  TPDFIndRef* GetOutlinesRef();
  void SetOutlinesRef(TPDFIndRef* ref, int32_t shift);
  void MergeOutlines(TSmartPDFDocument& other, int32_t shift);

  // Text of a page (modes 0..8 as the facade's page text; 1 counts as 2).
  void ExtractPageText(TPDFIndRef* page, int32_t mode, std::u16string& out, const TSmartPDFTextOptions& options);
  // The facts object of an encrypted file (not owned): its handler decrypts
  // what page text reads.
  void SetInfo(TSmartPDFInfo* info) { info_ = info; }

  std::function<void(int32_t percent)> OnProgress;

  // Most pages, tree nodes and outline items a walk follows.
  static constexpr int32_t kMaxTreeDepth = 256;

private:
  struct TPageEntry {
    int32_t number;
    int32_t generation;
  };
  TPDFDictionary* dictOf(int32_t number);
  TPDFObject* resolve(TPDFObject* obj);
  // The replaced object of that number, made from the file's when needed.
  TPDFObject* editable(int32_t number);
  TPDFDictionary* editableDict(int32_t number);
  int32_t addNew(TPDFObject* obj);
  TPDFObject* copyIn(TPDFObject* obj, TPDFStructure* pool, int32_t shift = 0);
  const std::vector<TPageEntry>& pageList();
  void separateRepeatedPages();
  void mergeNameTree(TSmartPDFDocument& other, int32_t shift, std::string_view key, bool keepBoth);
  void walkPages(const std::function<void(const TPageEntry&, TPDFDictionary* page,
                                          TPDFObject* const inherited[4])>& visit);
  void pushDown(const std::vector<bool>* only);
  TPDFDictionary* acroForm();
  TPDFArray* formArray(std::string_view key);
  std::vector<int32_t> outlineTopLevel(int32_t outlinesNumber);
  void progress(int32_t percent);

  TSmartPDFReader& reader_;
  std::unique_ptr<TPDFStructure> pool_;
  std::vector<std::pair<int32_t, TPDFObject*>> replaced_;  // sorted by number
  int32_t catalogNumber_ = 0;
  int32_t rootNumber_ = 0;
  int32_t infoNumber_ = 0;
  int32_t acroFormNumber_ = 0;
  int32_t maxReplaced_ = 0;
  bool pagesKnown_ = false;
  std::vector<TPageEntry> pages_;
  std::vector<int32_t> used_;
  std::vector<int32_t> excludedPages_;  // sorted
  TSmartPDFInfo* info_ = nullptr;
};
