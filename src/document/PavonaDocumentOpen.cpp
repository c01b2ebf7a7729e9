// Opening a document: the whole-file load with its result codes, the header
// check, authentication, the page tree and the detection of linearized
// files; and the making of a fresh one-page document.
#include <algorithm>
#include <cmath>

#include "objects/PavonaCharClass.h"
#include "objects/PavonaDigest.h"
#include "document/PavonaDocument.h"

namespace {

constexpr size_t kHeaderWindow = 1024;
// The version of a file without a header (and of a new document).
constexpr const char* kDefaultVersion = "1.4";

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The leading run of digits and "." of the 10 bytes at pos, when it is a number.
std::string versionAt(std::string_view text, size_t pos) {
  std::string_view window = text.substr(std::min(pos, text.size()), 10);
  size_t n = 0;
  while (n < window.size() && (isDigit(window[n]) || window[n] == '.')) ++n;
  std::string run(window.substr(0, n));
  return !run.empty() && IsNumberText(run) ? run : std::string();
}

// True when text starts, after blanks and % comment lines, with "N G obj".
bool startsWithObject(std::string_view text) {
  size_t p = 0;
  for (;;) {
    while (p < text.size() && PDFIsWhite(text[p])) ++p;
    if (p >= text.size() || text[p] != '%') break;
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
  }
  auto digits = [&](size_t& q) {
    const size_t start = q;
    while (q < text.size() && isDigit(text[q]) && q - start < 10) ++q;
    return q > start;
  };
  auto blanks = [&](size_t& q) {
    const size_t start = q;
    while (q < text.size() && (text[q] == ' ' || text[q] == '\t' || text[q] == '\r' || text[q] == '\n')) ++q;
    return q > start;
  };
  return digits(p) && blanks(p) && digits(p) && blanks(p) && text.compare(p, 3, "obj") == 0;
}

// A node that is a page: Type Page, or no Type and no Kids.
bool isPageNode(TPDFDictionary* node) {
  TPDFName* type = PDFAsName(node->GetValue("Type", true));
  if (type) return type->GetValue() == "Page";
  return !node->GetValue("Type") && !node->GetValue("Kids");
}

}  // namespace

void TPDFDocument::newPageTree(TPDFDictionary* pages) {
  pageTree_.reset();
  // A page is an object of its own, so no document has more pages than
  // objects; the bound keeps a hostile Count from sizing the page cache.
  const int64_t limit = std::max<int64_t>(GetObjectCount(), 1);
  pageTree_ = std::make_unique<TPDFPageTree>(pages, limit, [this](TPDFIndRef* page) { return PageIndexOf(page); });
  // Page deletion keeps whatever the rest of the document still reaches.
  pageTree_->OnDocumentTrailer = [this]() -> TPDFObject* { return GetTrailer(); };
  // A tree that reaches no page gets the page objects that survive.
  pageTree_->OnOrphanPages = [this]() {
    std::vector<TPDFIndRef*> pages;
    const std::vector<int32_t> numbers = indexNumbers_;  // loading may add objects
    for (int32_t number : numbers) {
      TPDFIndObj* record = FindObject(number);
      TPDFDictionary* dict = record ? PDFAsDictionary(record->GetObject()) : nullptr;
      TPDFName* type = dict ? PDFAsName(dict->GetValue("Type", true)) : nullptr;
      if (type && type->GetValue() == "Page") pages.push_back(pool_->NewIndRef(number, record->Generation));
    }
    return pages;
  };
  // Walked again with the callbacks in place (the first walk ran inside
  // the constructor).
  if (pages) {
    pageTree_->SetPageLimit(limit);
    pageTree_->SelectPage(1);
  }
}

int32_t TPDFDocument::LoadFromStream(TStream& stream, std::u16string_view password) {
  std::string data;
  try {
    stream.SetPosition(0);
    data = stream.ReadAll();
  } catch (const std::exception& e) {
    Clear();
    return failLoad(kLoadUnreadable, std::string("the file cannot be read: ") + e.what());
  }
  return LoadFromString(std::move(data), password);
}

int32_t TPDFDocument::failLoad(int32_t code, std::string why) {
  failure_ = std::move(why);
  return code;
}

int32_t TPDFDocument::LoadFromString(std::string data, std::u16string_view password) {
  int32_t result = kLoadUnreadable;
  failure_.clear();
  try {
    Clear();
    fileText_ = std::move(data);
    result = Open(password);
    // Junk before the header: the offsets may count from the header, so the
    // file is tried again without it. A table rebuilt by scanning is also
    // tried again, and kept only when the second attempt does no better.
    const size_t header = fileText_.find("%PDF-");
    if (header != std::string::npos && header > 0 && header < kHeaderWindow &&
        (result == kLoadUnreadable || (result == kLoadOk && WasReconstructed()))) {
      std::string whole = fileText_;
      const int32_t first = result;
      Clear();
      fileText_ = whole.substr(header);
      result = Open(password);
      if (first == kLoadOk && (result != kLoadOk || WasReconstructed())) {
        Clear();
        fileText_ = std::move(whole);
        result = Open(password);
      }
    }
  } catch (const std::exception& e) {
    result = failLoad(kLoadUnreadable, e.what());
  }
  // A failed load leaves the document cleared and tells why; a retry that
  // opened the file forgets the failure of the attempt before it.
  if (result != kLoadOk) {
    Clear();
    if (result == kLoadWrongPassword && failure_.empty()) failure_ = "wrong password";
  } else {
    failure_.clear();
  }
  return result;
}

bool TPDFDocument::ReadHeader() {
  const std::string_view head = std::string_view(fileText_).substr(0, kHeaderWindow);
  size_t pdf = head.find("%PDF-");
  size_t ps = head.find("%!PS-Adobe-");
  std::string version;
  if (pdf != std::string_view::npos) {
    version = versionAt(fileText_, pdf + 5);
  } else if (ps != std::string_view::npos) {
    const size_t from = ps + 11;
    const size_t found = std::string_view(fileText_).substr(from, 20).find("PDF-");
    if (found != std::string_view::npos) version = versionAt(fileText_, from + found + 4);
  }
  if (version.empty()) {
    // No header at all, but the file starts (after comment lines) with an
    // object: other readers open such files by reconstruction, so this one
    // does too, with the version a new document gets.
    if (pdf != std::string_view::npos || ps != std::string_view::npos || !startsWithObject(head)) return false;
    version = kDefaultVersion;
  }
  version_ = version;
  versionChanged_ = false;
  return true;
}

int32_t TPDFDocument::Open(std::u16string_view password) {
  fileSize_ = static_cast<int64_t>(fileText_.size());
  if (fileText_.empty()) return failLoad(kLoadUnreadable, "the file is empty");
  if (!ReadHeader())
    return failLoad(kLoadUnreadable,
                    "no %PDF- header in the first 1024 bytes, and the file does not start with an object");
  if (!ReadXRef())
    return failLoad(kLoadUnreadable, "no cross-reference data can be read and no object was found in the file");
  BuildObjectTable();

  TPDFDictionary* pages = nullptr;
  for (int attempt = 0;; ++attempt) {
    if (trailer_->GetValue("Encrypt")) {
      openedWithoutPassword_ = Authenticate(u"");
      if (!password.empty()) Authenticate(password);
      if (!encryption_.UserAuthenticated && !encryption_.OwnerAuthenticated)
        return failLoad(kLoadWrongPassword, password.empty() ? "the document needs a password" : "wrong password");
      password_ = encryption_.Password;
    }
    TPDFDictionary* root = PDFAsDictionary(trailer_->GetValue("Root", true));
    pages = root ? PDFAsDictionary(root->GetValue("Pages", true)) : nullptr;
    if (pages) {
      // A Pages entry that is itself a page (some writers of one-page
      // files): it gets a Pages node of its own, so it shows as one page
      // and a saved copy has an ordinary tree.
      if (isPageNode(pages)) pages = adoptLonePage(root, pages);
      // Kids written as one reference to a node instead of an array of
      // them: that node is the one kid.
      if (pages) {
        if (TPDFIndRef* kid = PDFAsIndRef(pages->GetValue("Kids")); kid && PDFAsDictionary(kid->Resolve())) {
          pages->SetValue("Kids", pool_->NewArrayOf({pool_->NewIndRef(kid->GetRefNumber(), kid->GetRefGeneration())}));
        }
      }
      if (pages) break;
    }
    // A chain that reads but whose offsets miss the objects (a file shifted
    // by bytes before its header, a damaged table), or whose sections lost
    // the catalogue or its pages: the objects are found by scanning the
    // whole file, once. A chain that broke and was completed by a scan is
    // scanned again whole, since its newest entries may be the damaged ones.
    if (attempt > 0 || fullyReconstructed_) return failLoad(kLoadUnreadable, missingPagesReason());
    encryption_ = TPDFEncryption();
    openedWithoutPassword_ = false;
    password_.clear();
    if (!RebuildXRef())
      return failLoad(kLoadUnreadable,
                      "the cross-reference data lead to no catalogue, and no object was found by scanning the file");
    BuildObjectTable();
  }
  newPageTree(pages);
  detectLinearization();
  return kLoadOk;
}

std::vector<int32_t> TPDFDocument::KeepObjectsAsStored() {
  // A record read again: a compressed object comes plain from its object
  // stream, one of the file's own is decrypted again after parsing.
  auto reread = [](TPDFIndObj* record) {
    if (!record || !(record->Compressed || record->Length > 0)) return;
    record->Loaded = false;
    record->CryptDone = record->Compressed;
  };
  TPDFPageTree* tree = GetPageTree();
  TPDFIndRef* first = tree && tree->GetPageCount() > 0 ? tree->GetPageRef(1) : nullptr;
  if (TPDFIndObj* page = first ? FindObject(first->GetRefNumber()) : nullptr) {
    reread(page);
    // Contents given as a reference to an array: that array got the new
    // stream appended in place.
    TPDFDictionary* stored = nullptr;
    try {
      stored = PDFAsDictionary(page->GetObject());
    } catch (const std::exception&) {
      stored = nullptr;  // read (and fail) again by whoever asks for it
    }
    TPDFIndRef* contents = stored ? PDFAsIndRef(stored->GetValue("Contents")) : nullptr;
    if (contents && contents->GetRefNumber() != page->Number) reread(FindObject(contents->GetRefNumber()));
  }
  std::vector<int32_t> added;
  for (size_t i = storedObjectCount_; i < table_.size(); ++i) added.push_back(table_[i]->Number);
  std::sort(added.begin(), added.end());
  return added;
}

std::string TPDFDocument::missingPagesReason() {
  // Names the link that breaks: Root, the catalogue, or its Pages, with the
  // object and where the table says it is.
  auto place = [&](TPDFIndRef* ref) {
    if (!ref) return std::string("(written directly)");
    std::string text = "object " + std::to_string(ref->GetRefNumber()) + " " + std::to_string(ref->GetRefGeneration());
    TPDFIndObj* record = FindObject(ref->GetRefNumber());
    if (!record) return text + " (not in the cross-reference table)";
    if (record->Compressed) return text + " (in object stream " + std::to_string(record->StreamNumber) + ")";
    return text + " (at offset " + std::to_string(record->Offset) + ")";
  };
  TPDFObject* rootValue = trailer_ ? trailer_->GetValue("Root") : nullptr;
  if (!rootValue) return "the trailer has no Root entry";
  TPDFDictionary* root = PDFAsDictionary(trailer_->GetValue("Root", true));
  if (!root) return "the catalogue " + place(PDFAsIndRef(rootValue)) + " is not a dictionary";
  TPDFObject* pagesValue = root->GetValue("Pages");
  if (!pagesValue) return "the catalogue " + place(PDFAsIndRef(rootValue)) + " has no Pages entry";
  return "the page tree root " + place(PDFAsIndRef(pagesValue)) + " is not a dictionary";
}

TPDFDictionary* TPDFDocument::adoptLonePage(TPDFDictionary* root, TPDFDictionary* page) {
  TPDFIndRef* pageRef = PDFAsIndRef(root->GetValue("Pages"));
  if (!pageRef) {
    // A direct page dictionary: moved into an object of its own.
    TPDFObject* moved = pool_->ParseObject(page->WriteText());
    if (!PDFAsDictionary(moved)) return nullptr;
    pageRef = AddIndirectRef(moved);
    page = PDFAsDictionary(moved);
  } else {
    pageRef = pool_->NewIndRef(pageRef->GetRefNumber(), pageRef->GetRefGeneration());
  }
  TPDFDictionary* pages = pool_->NewDictionary();
  pages->SetValue("Type", pool_->KeyName("Pages"));
  pages->SetValue("Kids", pool_->NewArrayOf({pageRef}));
  pages->SetValue("Count", pool_->NewNumeric(1));
  TPDFIndRef* pagesRef = AddIndirectRef(pages);
  page->SetValue("Type", pool_->KeyName("Page"));
  page->SetValue("Parent", pool_->NewIndRef(pagesRef->GetRefNumber(), pagesRef->GetRefGeneration()));
  root->SetValue("Pages", pagesRef);
  return pages;
}

void TPDFDocument::detectLinearization() {
  linearized_ = false;
  const std::string_view head = std::string_view(fileText_).substr(0, kHeaderWindow);
  if (head.find("/Linearized") == std::string_view::npos) return;
  const size_t obj = head.find(" obj");
  if (obj == std::string_view::npos) return;
  // "N G obj": the generation ends just before " obj", the number before it.
  size_t p = obj;
  while (p > 0 && isDigit(head[p - 1])) --p;
  if (p == obj) return;
  while (p > 0 && (head[p - 1] == ' ' || head[p - 1] == '\r' || head[p - 1] == '\n')) --p;
  const size_t end = p;
  while (p > 0 && isDigit(head[p - 1])) --p;
  if (p == end || end - p > 9) return;
  int32_t number = 0;
  for (size_t i = p; i < end; ++i) number = number * 10 + (head[i] - '0');
  TPDFDictionary* dict = PDFAsDictionary(LookupObject(number));
  if (!dict || !dict->GetValue("Linearized")) return;
  linearized_ = true;
  // The rewritten file is not linearized: its parameters would be wrong.
  dict->Clear();
}

int32_t TPDFDocument::PageIndexOf(TPDFIndRef* page) {
  if (!page || !pageTree_) return 0;
  TPDFPageTree& tree = *pageTree_;
  const int32_t count = tree.GetPageCount();
  int32_t result = 0;
  for (int32_t n = 1; n <= count && !result; ++n) {
    if (!tree.FindPage(n)) continue;
    TPDFIndRef* ref = tree.GetFoundRef();
    if (ref && ref->GetRefNumber() == page->GetRefNumber() && ref->GetRefGeneration() == page->GetRefGeneration())
      result = n;
  }
  // The lookup record belongs to the selected page.
  if (tree.GetSelectedPageNumber() >= 1) tree.FindPage(tree.GetSelectedPageNumber());
  return result;
}

TPDFDictionary* TPDFDocument::GetRoot() {
  if (TPDFDictionary* root = PDFAsDictionary(trailer_->GetValue("Root", true))) return root;
  TPDFDictionary* root = pool_->NewDictionary();
  trailer_->SetValue("Root", AddIndirectRef(root));
  return root;
}

TPDFDictionary* TPDFDocument::GetPages() {
  TPDFDictionary* root = PDFAsDictionary(trailer_->GetValue("Root", true));
  return root ? PDFAsDictionary(root->GetValue("Pages", true)) : nullptr;
}

TPDFDictionary* TPDFDocument::GetInfoDictionary() {
  if (TPDFDictionary* info = PDFAsDictionary(trailer_->GetValue("Info", true))) return info;
  TPDFDictionary* info = pool_->NewDictionary();
  trailer_->SetValue("Info", AddIndirectRef(info));
  return info;
}

void TPDFDocument::SetPDFVersion(std::string_view version) {
  version_ = version;
  versionChanged_ = true;
}

void TPDFDocument::RaisePDFVersion(std::string_view version) {
  if (version.size() != 3 || version[1] != '.' || !isDigit(version[0]) || !isDigit(version[2])) return;
  const int32_t wanted = (version[0] - '0') * 10 + (version[2] - '0');
  int32_t current = 0;
  if (version_.size() >= 3 && isDigit(version_[0]) && isDigit(version_[2]))
    current = (version_[0] - '0') * 10 + (version_[2] - '0');
  if (wanted > 0 && wanted > current) SetPDFVersion(version);
}

void TPDFDocument::InitNewDocument() {
  Clear();
  version_ = "1.4";
  versionChanged_ = false;
  TPDFDictionary* pages = pool_->NewDictionary();
  TPDFDictionary* page = pool_->NewDictionary();
  TPDFDictionary* catalog = pool_->NewDictionary();
  TPDFDictionary* info = pool_->NewDictionary();
  TPDFIndRef* pagesRef = AddIndirectRef(pages);
  TPDFIndRef* pageRef = AddIndirectRef(page);
  TPDFIndRef* catalogRef = AddIndirectRef(catalog);
  TPDFIndRef* infoRef = AddIndirectRef(info);

  page->SetValue("Type", pool_->KeyName("Page"));
  page->SetValue("Parent", pagesRef);
  page->SetValue("MediaBox", pool_->ParseObject("[ 0 0 612 792 ]"));
  page->SetValue("CropBox", pool_->ParseObject("[ 0 0 612 792 ]"));
  page->SetValue("Resources", pool_->ParseObject("<< /ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ] >>"));
  pages->SetValue("Type", pool_->KeyName("Pages"));
  pages->SetValue("Count", pool_->NewNumeric(1));
  pages->SetValue("Kids", pool_->NewArrayOf({pageRef}));
  catalog->SetValue("Type", pool_->KeyName("Catalog"));
  catalog->SetValue("Pages", pool_->NewIndRef(pagesRef->GetRefNumber(), pagesRef->GetRefGeneration()));

  trailer_->SetValue("Root", catalogRef);
  trailer_->SetValue("Info", infoRef);
  // The identifier: the digest of the current date-time as a day number,
  // made when first needed (settleNewID).
  newIDSeed_ = FloatToStrA(Now());
  newPageTree(pages);
}

void TPDFDocument::settleNewID() const {
  if (newIDSeed_.empty() || !trailer_) return;
  const std::string seed = std::move(newIDSeed_);
  newIDSeed_.clear();
  if (trailer_->GetValue("ID", true)) return;
  // Without libcrypto the new document has none (what needs one then fails
  // naming the library); everything else about it works.
  try {
    const std::string id = MD5DigestToBytes(MD5OfString(seed));
    trailer_->SetValue("ID", pool_->NewArrayOf({pool_->NewString(id, psmHex), pool_->NewString(id, psmHex)}));
  } catch (const EDigestError&) {
  }
}
