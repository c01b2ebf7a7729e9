// Direct-access document facts and the direct-access standard security
// handler: which file this is (catalog, information, page tree root, form)
// and whether and how it is encrypted, with password checks for every
// revision of the standard handler (RC4 40 and 128 bits, AES-128, AES-256
// of revisions 5 and 6).
#include <algorithm>
#include <array>
#include <cstring>

#include "document/PavonaDocument.h"
#include "document/PavonaSecurityInternal.h"
#include "document/PavonaSmartAccess.h"
#include "objects/PavonaDigest.h"
#include "objects/PavonaExtra.h"

namespace {

std::string md5(std::string_view data) {
  return MD5DigestToBytes(MD5OfString(data));
}

// AES-CBC without padding over whole blocks (the key derivations of AES-256
// files); empty when the cipher cannot run.
std::string aesNoPadding(std::string_view key, std::string_view iv, std::string_view data, bool encrypt) {
  if (data.empty() || data.size() % 16 != 0) return std::string();
  try {
    return AESCBC(key, iv, data, encrypt, false);
  } catch (const EDigestError&) {
    return std::string();
  }
}

const std::string kZeroIV(16, '\0');

std::string littleEndian(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// TSmartPDFCrypt

TSmartPDFCrypt::TSmartPDFCrypt(const TSmartPDFEncryption& encryption, std::string firstID, int32_t state)
    : e_(encryption), firstID_(std::move(firstID)), state_(state) {
  permissions_ = e_.P;
  updateCipherKind();
}

void TSmartPDFCrypt::updateCipherKind() {
  cipherKind_ = e_.KeyLength == 40 ? 0 : 1;
  if (e_.AES) cipherKind_ = e_.KeyLength == 32 ? 3 : 2;
}

std::vector<std::string> TSmartPDFCrypt::candidates(std::string_view password) const {
  const std::u16string wide = UTF8ToWide(password);
  std::vector<std::string> out;
  if (e_.R >= 5) {
    try {
      out.push_back(SASLPrepPassword(wide).substr(0, 127));
    } catch (const std::exception&) {
    }
    std::string raw(password.substr(0, 127));
    if (out.empty() || out.front() != raw) out.push_back(raw);
    return out;
  }
  std::string doc;
  bool complete = true;
  for (char16_t unit : wide) {
    const int32_t code = UnicodeToPDFDoc(unit);
    if (code < 0) {
      complete = false;
      break;
    }
    doc += static_cast<char>(code);
  }
  if (complete) out.push_back(doc);
  if (out.empty() || out.front() != password) out.emplace_back(password);
  return out;
}

std::string TSmartPDFCrypt::legacyFileKey(const std::string& paddedPassword) const {
  const size_t n = e_.R == 2 ? 5 : static_cast<size_t>(std::clamp(e_.KeyLength / 8, 5, 16));
  std::string input = PadPassword(paddedPassword) + e_.O.substr(0, 32) + littleEndian(static_cast<uint32_t>(e_.P), 4) +
                      firstID_;
  if (e_.R >= 4 && !e_.EncryptMetadata) input.append(4, '\xFF');
  std::string key = md5(input);
  if (e_.R >= 3)
    for (int i = 0; i < 50; ++i) key = md5(key.substr(0, n));
  return key.substr(0, n);
}

std::string TSmartPDFCrypt::aes256Key(const std::string& password, bool owner) const {
  if (e_.U.size() < 48 || e_.O.size() < 48) return std::string();
  const std::string_view u48 = std::string_view(e_.U).substr(0, 48);
  const std::string& hashHolder = owner ? e_.O : e_.U;
  const std::string userData = owner ? std::string(u48) : std::string();
  if (HashAES256(e_.R, password, std::string_view(hashHolder).substr(32, 8), userData) != hashHolder.substr(0, 32))
    return std::string();
  const std::string& wrapped = owner ? e_.OE : e_.UE;
  if (wrapped.size() < 32) return std::string();
  const std::string key = HashAES256(e_.R, password, std::string_view(hashHolder).substr(40, 8), userData);
  return aesNoPadding(key, kZeroIV, std::string_view(wrapped).substr(0, 32), false);
}

std::string TSmartPDFCrypt::userKey(const std::string& password) const {
  if (state_ != 1) return std::string();
  if (e_.R >= 5) return aes256Key(password, false);
  if (e_.U.size() < 16) return std::string();
  const std::string key = legacyFileKey(password);
  std::string u;
  size_t compare = 16;
  if (e_.R == 2) {
    u = RC4Crypt(key, PadPassword({}));
    compare = 32;
  } else {
    u = RC4Passes(key, md5(PadPassword({}) + firstID_), false);
  }
  if (e_.U.size() < compare || u.compare(0, compare, e_.U, 0, compare) != 0) return std::string();
  return key;
}

std::string TSmartPDFCrypt::ownerKey(const std::string& password) const {
  if (state_ != 1) return std::string();
  if (e_.R >= 5) return aes256Key(password, true);
  if (e_.O.size() < 32) return std::string();
  const size_t n = e_.R == 2 ? 5 : static_cast<size_t>(std::clamp(e_.KeyLength / 8, 5, 16));
  std::string key = md5(PadPassword(password));
  if (e_.R >= 3)
    for (int i = 0; i < 50; ++i) key = md5(key);
  key.resize(n);
  const std::string o = e_.O.substr(0, 32);
  return userKey(e_.R == 2 ? RC4Crypt(key, o) : RC4Passes(key, o, true));
}

bool TSmartPDFCrypt::CheckUserPassword(std::string_view password) {
  if (state_ == 0) return password.empty();
  for (const std::string& c : candidates(password))
    if (!userKey(c).empty()) return true;
  return false;
}

bool TSmartPDFCrypt::CheckOwnerPassword(std::string_view password) {
  if (state_ == 0) return password.empty();
  for (const std::string& c : candidates(password))
    if (!ownerKey(c).empty()) return true;
  return false;
}

void TSmartPDFCrypt::SetPassword(std::string_view password) {
  password_.clear();
  fileKey_.clear();
  permissions_ = e_.P;
  updateCipherKind();
  if (state_ == 0) {
    if (password.empty()) password_ = "!";
    return;
  }
  for (const std::string& c : candidates(password)) {
    std::string key = userKey(c);
    if (key.empty()) key = ownerKey(c);
    if (key.empty()) continue;
    fileKey_ = key;
    password_ = "!" + std::string(password);
    readPerms();
    return;
  }
}

// AES-256 files repeat their permissions in /Perms, encrypted with the file
// key; those are the ones that count when they check out.
void TSmartPDFCrypt::readPerms() {
  if (e_.R < 5 || fileKey_.size() != 32 || e_.Perms.size() < 16) return;
  const std::string plain = aesNoPadding(fileKey_, kZeroIV, std::string_view(e_.Perms).substr(0, 16), false);
  if (plain.size() == 16 && plain.compare(9, 3, "adb") == 0) {
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i) p |= uint32_t(static_cast<uint8_t>(plain[size_t(i)])) << (8 * i);
    permissions_ = static_cast<int32_t>(p);
  }
}

std::string TSmartPDFCrypt::GetObjectKey(int32_t number, int32_t generation) const {
  if (cipherKind_ == 3) return fileKey_;
  std::string input = fileKey_ + littleEndian(static_cast<uint32_t>(number), 3) +
                      littleEndian(static_cast<uint32_t>(generation), 2);
  if (cipherKind_ == 2) input += "sAlT";
  return md5(input).substr(0, std::min<size_t>(fileKey_.size() + 5, 16));
}

void TSmartPDFCrypt::transform(std::string_view key, TPDFObject* obj, bool decrypt, int depth) {
  if (!obj || depth > kMaxObjectDepth) return;
  auto crypt = [&](std::string_view data) {
    if (e_.AES) return decrypt ? AESDecryptCBC(key, data) : AESEncryptCBC(key, data);
    return RC4Crypt(key, data);
  };
  switch (obj->GetKind()) {
    case 's': {
      if (e_.PlainStrings) break;
      TPDFString* s = obj->AsString();
      s->SetValue(crypt(s->GetValue()));
      break;
    }
    case 'A':
      for (TPDFObject* item : obj->AsArray()->Items()) transform(key, item, decrypt, depth + 1);
      break;
    case 'D':
      for (const TPDFDictEntry& entry : obj->AsDictionary()->Entries()) transform(key, entry.value, decrypt, depth + 1);
      break;
    case 'S': {
      TPDFStream* s = obj->AsStream();
      TPDFDictionary* dict = s->GetDictionary();
      if (dict && dict->GetNameValue("Type") == "XRef") break;
      if (dict) transform(key, dict, decrypt, depth + 1);
      if (StreamStaysPlain(s, e_.EncryptMetadata, e_.PlainStreams, e_.PlainFiles)) break;
      s->SetRawData(crypt(s->GetData()));
      break;
    }
    default:
      break;
  }
}

void TSmartPDFCrypt::DecryptObject(std::string_view key, TPDFObject* obj) {
  transform(key, obj, true, 0);
}

void TSmartPDFCrypt::EncryptObject(std::string_view key, TPDFObject* obj) {
  transform(key, obj, false, 0);
}

int32_t TSmartPDFCrypt::GetSecurityAnswer(int32_t query) {
  if (state_ == 2) return 9;
  if (state_ == 0) {
    switch (query) {
      case 0: return 0;
      case 1:
      case 2: return 2;
      case 3: return 4;
      default: return query >= 4 && query <= 9 ? 6 : 11;
    }
  }
  auto bit = [&](int n) { return (static_cast<uint32_t>(permissions_) >> (n - 1)) & 1u; };
  switch (query) {
    case 0: return 1;
    case 1: return CheckUserPassword("") ? 2 : 3;
    case 2: {
      if (CheckOwnerPassword("")) return 2;
      if (password_.size() > 1 && CheckOwnerPassword(std::string_view(password_).substr(1))) return 2;
      return 3;
    }
    case 3:
      if (!bit(3)) return 5;
      return cipherKind_ == 0 || bit(12) ? 4 : 10;
    case 4: return bit(4) ? 6 : 5;
    case 5: return bit(5) ? 6 : 5;
    case 6: return bit(6) ? 6 : 5;
    // Bits 9 to 12 exist from revision 3 on, for every cipher that has them.
    case 7: return cipherKind_ != 0 && bit(9) ? 6 : 5;
    case 8: return cipherKind_ != 0 && bit(10) ? 6 : 5;
    case 9: return cipherKind_ != 0 && bit(11) ? 6 : 5;
    case 10: return cipherKind_ == 0 ? 7 : cipherKind_ == 1 ? 8 : cipherKind_ == 2 ? 12 : 11;
    default: return 11;
  }
}

// ---------------------------------------------------------------------------
// TSmartPDFInfo

TSmartPDFInfo::TSmartPDFInfo(TSmartPDFReader& reader, std::string_view password) : reader_(reader) {
  version_ = reader.GetVersion();
  readEncryption();
  std::string firstID;
  if (TPDFDictionary* trailer = reader.GetTrailer())
    if (TPDFArray* ids = PDFAsArray(PDFResolve(trailer->GetValue("ID"))); ids && ids->GetCount() > 0)
      if (TPDFString* s = PDFAsString(PDFResolve(ids->GetItem(0)))) firstID = s->GetValue();
  crypt_ = std::make_unique<TSmartPDFCrypt>(encryption_, firstID, state_);
  reader.OnIdentifierCreated = [this](TSmartPDFReader& r) {
    if (TPDFDictionary* trailer = r.GetTrailer())
      if (TPDFArray* ids = PDFAsArray(trailer->GetValue("ID")); ids && ids->GetCount() > 0)
        if (TPDFString* s = PDFAsString(ids->GetItem(0))) crypt_->SetFirstID(s->GetValue());
  };
  password_ = std::string(password);
  crypt_->SetPassword(password);
  readFacts();
}

TSmartPDFInfo::~TSmartPDFInfo() {
  reader_.OnIdentifierCreated = nullptr;
}

void TSmartPDFInfo::readEncryption() {
  TPDFDictionary* trailer = reader_.GetTrailer();
  TPDFObject* entry = trailer ? trailer->GetValue("Encrypt") : nullptr;
  if (!entry) return;
  TPDFDictionary* dict = nullptr;
  if (TPDFIndRef* ref = PDFAsIndRef(entry)) dict = PDFAsDictionary(reader_.GetCachedObject(ref->GetRefNumber()));
  else dict = PDFAsDictionary(entry);
  // An Encrypt entry that cannot be read still means the strings are not
  // plain: such a file is one this handler cannot use.
  state_ = 2;
  if (!dict) return;
  // The document's reading of the dictionary, so that both take the same
  // files (crypt filters included) as ones they decrypt.
  TPDFEncryption read;
  if (!ReadStandardEncryption(dict, read)) return;
  TSmartPDFEncryption e;
  e.V = read.V;
  e.R = read.R;
  e.O = read.O;
  e.U = read.U;
  e.P = read.P;
  e.OE = read.OE;
  e.UE = read.UE;
  e.Perms = read.Perms;
  e.EncryptMetadata = read.EncryptMetadata;
  e.AES = read.Cipher == pcRC4 ? 0 : 1;
  e.KeyLength = read.Cipher == pcAES256 ? 32 : read.KeyLength;
  e.PlainStrings = read.PlainStrings;
  e.PlainStreams = read.PlainStreams;
  e.PlainFiles = read.PlainFiles;
  encryption_ = e;
  state_ = 1;
}

void TSmartPDFInfo::readFacts() {
  catalog_ = reader_.GetTrailerDict("Root");
  info_ = reader_.GetTrailerDict("Info");
  pagesRoot_ = nullptr;
  pageCount_ = 0;
  acroForm_ = nullptr;
  fieldCount_ = 0;
  if (!catalog_) return;
  auto resolve = [&](TPDFObject* obj) -> TPDFObject* {
    if (TPDFIndRef* ref = PDFAsIndRef(obj)) return reader_.GetCachedObject(ref->GetRefNumber());
    return obj;
  };
  pagesRoot_ = PDFAsDictionary(resolve(catalog_->GetValue("Pages")));
  if (pagesRoot_)
    if (TPDFNumeric* count = PDFAsNumeric(resolve(pagesRoot_->GetValue("Count"))))
      if (count->GetValue() >= 0 && count->GetValue() <= kMaxObjectNumber)
        pageCount_ = static_cast<int32_t>(count->GetValue());
  acroForm_ = PDFAsDictionary(resolve(catalog_->GetValue("AcroForm")));
  if (acroForm_)
    if (TPDFArray* fields = PDFAsArray(resolve(acroForm_->GetValue("Fields")))) fieldCount_ = fields->GetCount();
}

bool TSmartPDFInfo::CheckPassword(std::string_view password) {
  return crypt_->CheckUserPassword(password) || crypt_->CheckOwnerPassword(password);
}

void TSmartPDFInfo::SetPassword(std::string_view password) {
  password_ = std::string(password);
  crypt_->SetPassword(password);
  readFacts();
}

std::string TSmartPDFInfo::GetSecurityInfo(int32_t query) {
  return std::to_string(crypt_->GetSecurityAnswer(query));
}
