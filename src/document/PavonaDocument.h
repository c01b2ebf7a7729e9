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
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaForm.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPageTree.h"

class TPDFDocument;
class TPDFXRefReader;

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

// Decimals for numbers that come from a file (saving, merging, copying pages):
// each is written in its shortest exact form, so that font matrices, widths
// and positions keep every digit read. A pool's default of four decimals is
// for numbers the painter computes.
constexpr int32_t kExactNumberDigits = 15;

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
  // Object number -> its pair in Header (the first one listed), for entries
  // whose index is wrong: writers wrap indexes past the width of the field,
  // or count from another start.
  std::unordered_map<int32_t, int32_t> Slots;
};

// Security-handler parameters of a document.
// Whether a document is encrypted in a way this engine can decrypt.
enum TPDFEncryptionStatus : int32_t {
  esNotEncrypted = 0,  // the trailer names no Encrypt dictionary
  esHandled = 1,       // the standard handler in a combination that is decrypted
  esNotHandled = 2     // another handler or combination: nothing is decrypted
};

// The cipher of the standard handler.
enum TPDFCipher : int32_t { pcRC4 = 0, pcAES128 = 1, pcAES256 = 2 };

struct TPDFEncryption {
  bool Read = false;        // Encrypt parsed since the last change
  bool HasEncrypt = false;  // the trailer names an Encrypt dictionary
  TPDFEncryptionStatus Status = esNotEncrypted;
  int32_t V = 0;
  int32_t R = 0;
  int32_t KeyLength = 0;  // bits
  std::string O, U, OE, UE, Perms;
  int32_t P = 0;
  bool EncryptMetadata = true;
  int32_t EncryptObjectNumber = -1;  // never encrypted nor decrypted; -1 when direct
  TPDFCipher Cipher = pcRC4;
  int32_t Strength = 0;              // 0 RC4 40-bit, 1 RC4 128-bit, 2 AES-128, 3 AES-256
  // Identity crypt filters: strings (StrF), streams (StmF) and embedded
  // files (EFF) that stay plain although the document is encrypted.
  bool PlainStrings = false;
  bool PlainStreams = false;
  bool PlainFiles = false;
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
  // the file text and the security state; a new empty trailer and an empty
  // page tree.
  void Clear();

  // ---- Opening
  // Result codes of a load.
  static constexpr int32_t kLoadOk = 0;
  static constexpr int32_t kLoadWrongPassword = 1;
  static constexpr int32_t kLoadUnreadable = 2;
  // Reads the whole stream (or takes the bytes) and opens the document:
  // 0 open, 1 encrypted and the password is wrong, 2 unreadable. Never
  // raises; a failed load leaves the document cleared.
  int32_t LoadFromStream(TStream& stream, std::u16string_view password);
  int32_t LoadFromString(std::string data, std::u16string_view password);
  // Why the last load, save or image import failed, in words ("" after a
  // load or save that went well); Clear keeps it, so that a failed load can
  // still tell its cause.
  const std::string& GetFailure() const { return failure_; }
  // The work of both loads on the file text already in memory.
  int32_t Open(std::u16string_view password);
  // Finds "%PDF-" (or "%!PS-Adobe-" ... "PDF-") within the first 1024
  // bytes and takes the version written after it.
  bool ReadHeader();
  // A new document of one empty 612 x 792 page.
  void InitNewDocument();

  // The catalogue (a new empty one is added when Root is not a dictionary).
  TPDFDictionary* GetRoot();
  // The catalogue's Pages dictionary, nullptr when there is none.
  TPDFDictionary* GetPages();
  // The information dictionary (added when missing).
  TPDFDictionary* GetInfoDictionary();
  TPDFPageTree* GetPageTree() const { return pageTree_.get(); }
  // 1-based number of the page a reference names, 0 when none.
  int32_t PageIndexOf(TPDFIndRef* page);

  const std::string& GetPDFVersion() const { return version_; }
  bool GetVersionChanged() const { return versionChanged_; }
  void SetPDFVersion(std::string_view version);
  // Raises the version to a text "d.d" when that is higher than the current one.
  void RaisePDFVersion(std::string_view version);
  bool IsLinearized() const { return linearized_; }
  bool OpenedWithoutPassword() const { return openedWithoutPassword_; }
  const std::u16string& GetPassword() const { return password_; }
  const std::string& GetLineSeparator() const { return lineSeparator_; }
  int64_t GetFileSize() const { return fileSize_; }

  // ---- Document information, mirrored into the XMP metadata packet
  // The Info value of key as text (a string, or a stream's decoded data).
  std::u16string GetInfo(std::string_view key);
  // Sets the Info value and the matching XMP property (the packet is stored
  // again for any key; never for an encrypted document, nor over a packet
  // that cannot be read). The packet is brought up to date when it is next
  // read, saved or encrypted, so that documents never saved do no XML work.
  void SetInfo(std::string_view key, std::u16string_view text);
  // The catalogue's metadata packet (Type Metadata, Subtype XML), decoded.
  std::string GetMetadata();
  // Replaces the packet (information set before and not yet mirrored is
  // dropped with the packet it would have gone into).
  void SetMetadata(std::string_view bytes);

  // ---- Outlines and destinations (items are references to their dictionaries)
  TPDFIndRef* GetOutlineRoot();
  int32_t GetOutlineCount();
  // The n-th item (from 1) in depth-first order.
  TPDFIndRef* GetOutlineItem(int32_t n);
  TPDFIndRef* GetFirstOutline();
  TPDFIndRef* GetFirstChildOutline(TPDFIndRef* item);
  TPDFIndRef* GetNextOutline(TPDFIndRef* item);
  TPDFIndRef* GetParentOutline(TPDFIndRef* item);
  std::u16string GetOutlineTitle(TPDFIndRef* item);
  TPDFObject* GetOutlineDest(TPDFIndRef* item);
  TPDFDictionary* GetOutlineAction(TPDFIndRef* item);
  double GetOutlineColor(TPDFIndRef* item, int32_t component);
  void SetOutlineColor(TPDFIndRef* item, double red, double green, double blue);
  std::string GetOutlineWebLink(TPDFIndRef* item);
  void SetOutlineWebLink(TPDFIndRef* item, std::string_view address);
  // Adds an item at the end of parent's children (nullptr: the root), with a
  // destination [page /XYZ 0 top 0].
  TPDFIndRef* NewOutline(TPDFIndRef* parent, std::u16string_view title, double top, int32_t page);
  TPDFIndRef* NewChildOutline(TPDFIndRef* parent, std::u16string_view title);
  bool RemoveOutline(TPDFIndRef* item);
  TPDFObject* FindNamedDestination(std::string_view name);
  TPDFDictionary* GetNamesTree(std::string_view name);
  // 0-based index of a page in document order, counted through Parent.
  int32_t CountPagesBefore(TPDFIndRef* page);

  // ---- Embedded files (the EmbeddedFiles name tree; files counted from 1)
  // A /Filespec of the file's content and times; nullptr, with the reason
  // in GetFailure, when the file cannot be opened.
  TPDFIndRef* CreateEmbeddedFile(std::u16string_view path, std::string_view mimeType);
  // False without fileSpec or when the name is already taken.
  bool RegisterEmbeddedFile(std::string_view name, TPDFIndRef* fileSpec);
  int32_t GetEmbeddedFileCount();
  TPDFIndRef* GetEmbeddedFileSpec(int32_t n);
  // Kind 1 file name, 2 MIME type, 3 creation date, 4 modification date,
  // 5 name-tree key, 7 description.
  std::u16string GetEmbeddedFileString(int32_t n, int32_t kind);
  // Kinds 5 and 6: the embedded stream's Params Size.
  int64_t GetEmbeddedFileInt(int32_t n, int32_t kind);
  std::string GetEmbeddedFileContent(int32_t n);
  bool RemoveEmbeddedFile(int32_t n);

  // ---- What the facade keeps per document: its origin corner (0 bottom
  // left, 1 top left, 2 top right, 3 bottom right), the unit scale of the
  // caller's coordinates, the path it was loaded from, and the writer fonts
  // and imported images it owns (counted from 1 by the facade).
  int32_t OriginCorner = 0;
  double UnitScale = 1.0;
  std::u16string LoadedFileName;
  int32_t GetFontCount() const { return static_cast<int32_t>(fonts_.size()); }
  // Font i (0-based); nullptr outside the list.
  TPDFFont* GetFont(int32_t i) const;
  bool HasFont(const TPDFFont* font) const;
  TPDFFont* AddFont(std::unique_ptr<TPDFFont> font);
  int32_t GetImageCount() const { return static_cast<int32_t>(images_.size()); }
  TPDFImage* GetImage(int32_t i) const;
  bool HasImage(const TPDFImage* image) const;
  TPDFImage* AddImage(std::unique_ptr<TPDFImage> image);

  // ---- Saving: a full rewrite with one classic cross-reference table;
  // objects of an encrypted document are encrypted while they are written.
  // False (or an empty string) when the save failed.
  bool SaveToStream(TStream& stream);
  // Writes a temporary file beside the target and renames it over the
  // target, so a failed save leaves an existing file as it was.
  bool SaveToFile(std::u16string_view path);
  std::string SaveToString();

  // The whole file text (objects are read from it lazily).
  void SetFileText(std::string text);
  const std::string& GetFileText() const { return fileText_; }
  TPDFStructure& GetPool() { return *pool_; }
  TPDFDictionary* GetTrailer() const {
    settleNewID();
    return trailer_;
  }

  // ---- Cross-reference data and the object table
  // Reads the cross-reference chain into the entry array (newest definition
  // of a number first). When the chain cannot be read, or gives no trailer,
  // the entries are rebuilt by scanning the file for objects. False when
  // neither gives a trailer.
  bool ReadXRef();
  // Rebuilds the entries by scanning the file for objects (for a chain that
  // reads but names offsets where the objects are not). False without a trailer.
  bool RebuildXRef();
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
  // Opening prepares the first page for drawing (its contents become an
  // array ending in a new stream of this system's own) and may add objects
  // (that stream; a Pages node for a lone page). Readers of single objects
  // (direct access, the driver's listings) want the objects as the file
  // stores them: the first page, and an array of contents it names, are
  // read again from the file on next use. Returns the numbers of the objects
  // opening added, sorted.
  std::vector<int32_t> KeepObjectsAsStored();
  // Records in table order (ascending file offset, compressed objects first,
  // new objects last).
  TPDFIndObj* GetIndObj(int32_t index) const;
  const std::vector<TPDFXRefEntry>& GetEntries() const { return entries_; }
  const std::vector<int64_t>& GetSectionOffsets() const { return sectionOffsets_; }
  int32_t GetHighestNumber() const { return highestNumber_; }
  // Problems met while reading and decrypting objects, each naming the
  // object and where it stands ("object 12 0 at offset 3456: expected
  // 'endobj'"), in the order met; at most kMaxWarnings per load.
  const std::vector<std::string>& GetWarnings() const { return warnings_; }
  static constexpr size_t kMaxWarnings = 1000;

  // ---- Standard security handler
  // esNotEncrypted (0), esHandled (1) or esNotHandled (2).
  TPDFEncryptionStatus GetEncryptionStatus();
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

  // ---- Pages of another document
  // Copies the pages a range text names ("1,3-5"; a page may be named twice)
  // from source, with everything they reach, after this document's pages;
  // references to pages that are not copied become null. The one empty page
  // of a new document gives way to the copies. False when the range selects
  // no page.
  bool CopyPagesFrom(TPDFDocument& source, std::string_view rangeText);
  // Takes over every object of other (numbers shifted past this document's)
  // and hangs its page tree under this root; its form joins this one. 1.
  int32_t AppendDocument(TPDFDocument& other);

  // ---- Rich text and metafiles on the selected page
  // The four HTML fonts (Helvetica and its bold, oblique and bold-oblique
  // forms), made once per document and made resources of the selected page.
  void PrepareHTMLFonts(TPDFFont* fonts[4]);
  // An object as a resource of the selected page (group "Font", "XObject" ...).
  void AddPageResource(std::string_view group, std::string_view name, TPDFIndRef* ref);
  // ---- Interactive form (the catalogue's AcroForm; reading it changes nothing)
  // Loads the form once; true when the document has one.
  bool LoadForm();
  void ReloadForm();
  // Adds << /Fields [ ] >> as the catalogue's AcroForm when it has none.
  void CreateAcroForm();
  // The loaded form, nullptr when the document has none.
  TPDFForm* GetForm();
  // Standard font index (0..13; others mean Helvetica) as a font of the
  // document and of the form's /DR under its form name ("Helv" ...).
  TPDFIndRef* AddFormFont(int32_t index);

  // ---- Catalogue and page features of the facade's page operations
  // Page mode 0 UseNone, 1 UseOutlines, 2 UseThumbs, 3 FullScreen, 4 UseOC,
  // 5 UseAttachments; false (nothing changed) for any other mode.
  bool SetPageMode(int32_t mode);
  // Writer fonts made and added to the font list, named "PavonaF" + tag.
  // A standard font by its index 0..13 (Courier ... ZapfDingbats).
  TPDFFont* AddStandardFont(int32_t index);
  // A TrueType font of the installed fonts; nullptr when it cannot be made.
  TPDFFont* AddTrueTypeFont(std::string_view name, bool embed, bool kerning, bool ignoreRestriction);
  // A Type 3 font holding exactly the given characters, drawn from an
  // installed font's outlines; nullptr when it cannot be made.
  TPDFFont* AddType3Font(std::string_view face, std::u16string_view characters, bool unitMatrix);
  // True when some page's Resources hold a Font dictionary.
  bool HasFontResources();
  // Rotate of the selected page: 0 (unchanged) for an angle that is not a
  // multiple of 90 or without a selected page, else 1.
  int32_t SetPageRotation(int32_t angle);
  // The selected page's rotation (inherited), 0 when none.
  int32_t GetPageRotation();
  int32_t GetPageCount();
  // The catalogue's Pages when it is a reference.
  TPDFIndRef* GetPagesRef();
  // Every page gets its inherited attributes as its own.
  void CopyAllInheritedAttributes();
  // A transparency graphics state (alpha = percent / 100) as a resource of
  // the selected page, set through the page's painter; one state per
  // percent and document.
  void SetTransparency(int32_t percent);
  // An image file read into a new image of the image list; nullptr when
  // the file is not a usable image, with the reason in GetFailure.
  // ELibraryUnavailable when a library its decoding needs cannot be loaded.
  TPDFImage* AddImageFromStream(TStream& stream, int32_t index);
  // Image XObjects of the document as entries of the image list (each
  // object once); the number of entries made.
  int32_t FindImagesByPages(int32_t option);
  int32_t FindImagesByObjects(int32_t option);

private:
  struct TTransparencyState {
    int32_t Percent = 0;
    std::string Name;
    TPDFIndRef* Reference = nullptr;
  };
  std::vector<TTransparencyState> transparencyStates_;
  int32_t addImageEntry(TPDFStream* stream, int32_t number, int32_t generation);

public:
private:
  friend class TPDFIndObj;
  void resetObjectState();
  // Reading the cross-reference afresh: the object state and trailer cleared
  // and the reader's entries, trailers and sections delivered to this
  // document; finishXRef gives a file without trailer an empty one.
  void startXRefRead(TPDFXRefReader& reader);
  void finishXRef();
  void rebuildIndex();
  void loadRecord(TPDFIndObj* record);
  TPDFObjectStream* objectStreamOf(int32_t number);
  std::string_view recordSlice(const TPDFIndObj* record) const;
  TPDFObject* parseRecordText(TPDFIndObj* record, std::string_view text);
  void decryptRecord(TPDFIndObj* record);
  // record names the object in messages about data that cannot be decrypted.
  void transformObject(std::string_view key, TPDFObject* obj, bool decrypt, const TPDFIndObj* record = nullptr);
  void warn(std::string message);
  // "object N G at offset O" (or "... in object stream S") for messages.
  std::string objectPlace(const TPDFIndObj* record, int64_t offsetInRecord = 0) const;
  bool authenticateUser(const std::string& password);
  bool authenticateOwner(const std::string& password);
  bool authenticateAES256(const std::string& password);
  std::string firstID() const;
  // A new document's identifier is the digest of its creation time, made
  // the first time the trailer is asked for or written (a blank document
  // that a file then replaces costs no digest, and no digest library).
  void settleNewID() const;
  std::string computeFileKey(const std::string& password) const;
  std::string computeU(const std::string& fileKey) const;
  void newPageTree(TPDFDictionary* pages);
  // Puts a page that the catalogue names as its Pages under a new Pages
  // node of one kid; returns that node (nullptr when it cannot be done).
  TPDFDictionary* adoptLonePage(TPDFDictionary* root, TPDFDictionary* page);
  void detectLinearization();
  // Mirrors the information set since the last time into the XMP packet.
  void syncMetadata();
  std::string readMetadata();
  void writeMetadata(std::string_view bytes);
  void writeBody(TStream& stream);
  void walkOutline(const std::function<bool(TPDFIndRef*)>& visit);
  TPDFIndRef* addOutline(TPDFIndRef* parent, std::u16string_view title, bool withDest, double top, int32_t page);
  TPDFNameTree* embeddedFilesTree(bool create);
  // Every page of the tree gets its MediaBox, CropBox, Rotate and Resources
  // as its own (a page without them inherits from its Pages nodes).
  void copyInheritedAttributes(TPDFPageTree* tree);
  TPDFStream* embeddedStream(int32_t n, TPDFDictionary** spec, std::string* key);
  // The widget annotations of every page, in page order.
  std::vector<TPDFIndRef*> pageWidgets();

  std::unique_ptr<TPDFStructure> pool_;
  std::string fileText_;
  TPDFDictionary* trailer_ = nullptr;
  mutable std::string newIDSeed_;  // creation time of a new document still without an identifier
  std::vector<TPDFXRefEntry> entries_;
  TPVLSortedUniqueIntegerList defined_;
  int32_t highestNumber_ = 0;
  std::vector<int64_t> sectionOffsets_;
  bool trailerSeen_ = false;
  bool reconstructed_ = false;
  // The entries come from a scan of the whole file alone (no chain entries).
  bool fullyReconstructed_ = false;
  std::string failure_;
  std::vector<std::unique_ptr<TPDFIndObj>> table_;
  // Records the cross-reference data gave; those after them were made in memory.
  size_t storedObjectCount_ = 0;
  std::vector<int32_t> indexNumbers_;    // ascending object numbers
  std::vector<int32_t> indexPositions_;  // matching table positions
  std::vector<std::unique_ptr<TPDFObjectStream>> objectStreams_;
  std::unordered_map<int32_t, TPDFObjectStream*> objectStreamIndex_;
  int32_t loadDepth_ = 0;
  // Where each object is found by scanning the file (offset and length of
  // its newest definition), made the first time an object is not at the
  // offset its entry gives.
  struct TScannedObject {
    int64_t Offset = 0;
    int64_t Length = 0;
    int32_t Generation = 0;
  };
  std::unordered_map<int32_t, TScannedObject> scanned_;
  bool scannedMade_ = false;
  // The slice of the object's newest scanned definition when it is not at
  // its entry's offset; empty when the scan has none either.
  std::string_view scannedSlice(TPDFIndObj* record);
  std::vector<std::string> warnings_;
  // Records why the load fails for GetFailure (what was missing or
  // unreadable, with the object number and offset where known) and returns
  // code.
  int32_t failLoad(int32_t code, std::string why);
  std::string missingPagesReason();
  TPDFEncryption encryption_;
  std::string version_ = "1.4";
  bool versionChanged_ = false;
  std::u16string password_;
  bool openedWithoutPassword_ = false;
  bool linearized_ = false;
  std::string lineSeparator_ = "\r\n";
  int64_t fileSize_ = 0;
  std::unique_ptr<TPDFNameTree> embeddedTree_;
  // Information keys set and not yet mirrored into the XMP packet, in the
  // order set (key, UTF-8 text).
  std::vector<std::pair<std::string, std::string>> pendingInfo_;
  std::vector<std::unique_ptr<TPDFFont>> fonts_;
  std::vector<std::unique_ptr<TPDFImage>> images_;
  std::unique_ptr<TPDFForm> form_;
  bool formLoaded_ = false;
  // Declared last: it points into the pool and goes first.
  std::unique_ptr<TPDFPageTree> pageTree_;
};

// RC4 (the same call encrypts and decrypts).
std::string RC4Crypt(std::string_view key, std::string_view data);
// The twenty RC4 passes of the 128-bit handler, each with the key's bytes
// XORed with the pass number: 0 up to 19 to wrap data, 19 down to 0 to unwrap
// what was wrapped so.
std::string RC4Passes(std::string_view key, std::string_view data, bool unwrap);
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
