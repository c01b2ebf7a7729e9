// The standard security handler: reading the Encrypt dictionary, password
// authentication (revisions 2 to 6), file and object keys, decryption on
// load, encryption for saving, new encryption and its removal.
#include <unicode/usprep.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "document/PavonaDocument.h"
#include "document/PavonaSecurityInternal.h"
#include "objects/PavonaDigest.h"
#include "platform/RuntimeLibrary.h"

namespace {

// The 32-byte password padding of the standard security handler.
const unsigned char kPadding[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                    0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                    0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

std::string md5(std::string_view data) {
  return MD5DigestToBytes(MD5OfString(data));
}

std::string sha(int bits, std::string_view data) {
  uint8_t digest[64];
  switch (bits) {
    case 384:
      SHA384OfBuffer(data.data(), data.size(), digest);
      return std::string(reinterpret_cast<char*>(digest), 48);
    case 512:
      SHA512OfBuffer(data.data(), data.size(), digest);
      return std::string(reinterpret_cast<char*>(digest), 64);
    default:
      SHA256OfBuffer(data.data(), data.size(), digest);
      return std::string(reinterpret_cast<char*>(digest), 32);
  }
}

// The shared random generator and cipher, failing as the handler fails.
std::string randomBytes(size_t n) {
  try {
    return RandomBytes(n);
  } catch (const EDigestError& e) {
    throw EPDFDocumentError(e.what());
  }
}

std::string littleEndian32(int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// AES-CBC over whole blocks or with PKCS#7 padding; key of 16 or 32 bytes.
std::string aesCBC(std::string_view key, std::string_view iv, std::string_view data, bool encrypt, bool padding) {
  try {
    return AESCBC(key, iv, data, encrypt, padding);
  } catch (const EDigestError& e) {
    throw EPDFDocumentError(e.what());
  }
}

const std::string kZeroIV(16, '\0');

// Revision 6 password hash (ISO 32000-2, algorithm 2.B); revision 5 is plain SHA-256.
std::string hashR6(std::string_view password, std::string_view salt, std::string_view userData) {
  std::string input;
  input.append(password).append(salt).append(userData);
  std::string k = sha(256, input);
  for (int round = 1;; ++round) {
    std::string block;
    block.append(password).append(k).append(userData);
    std::string k1;
    k1.reserve(block.size() * 64);
    for (int i = 0; i < 64; ++i) k1 += block;
    std::string e = aesCBC(std::string_view(k).substr(0, 16), std::string_view(k).substr(16, 16), k1, true, false);
    // The first 16 bytes as a big-endian number modulo 3 (256 = 1 modulo 3).
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<unsigned char>(e[static_cast<size_t>(i)]);
    int next = sum % 3 == 0 ? 256 : sum % 3 == 1 ? 384 : 512;
    k = sha(next, e);
    if (round >= 64 && static_cast<unsigned char>(e.back()) <= round - 32) break;
  }
  return k.substr(0, 32);
}

// Password bytes for revisions 2 to 4: PDFDocEncoding (the same bytes on
// every machine). A password with characters outside it is also tried as
// UTF-8.
std::vector<std::string> legacyPasswordCandidates(std::u16string_view password) {
  std::string doc;
  bool complete = true;
  for (char16_t unit : password) {
    int32_t code = UnicodeToPDFDoc(unit);
    if (code < 0) {
      complete = false;
      continue;
    }
    doc += static_cast<char>(code);
  }
  std::vector<std::string> out{doc};
  if (!complete) out.push_back(WideToUTF8(password));
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Ciphers

std::string RC4Crypt(std::string_view key, std::string_view data) {
  std::string out(data);
  if (key.empty()) return out;
  std::array<uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + static_cast<uint8_t>(key[i % key.size()]));
    std::swap(s[i], s[j]);
  }
  uint8_t x = 0, y = 0;
  for (char& c : out) {
    x = static_cast<uint8_t>(x + 1);
    y = static_cast<uint8_t>(y + s[x]);
    std::swap(s[x], s[y]);
    c = static_cast<char>(static_cast<uint8_t>(c) ^ s[static_cast<uint8_t>(s[x] + s[y])]);
  }
  return out;
}

std::string PadPassword(std::string_view password) {
  std::string out(password.substr(0, 32));
  out.append(reinterpret_cast<const char*>(kPadding), 32 - out.size());
  return out;
}

std::string HashAES256(int32_t revision, std::string_view password, std::string_view salt,
                       std::string_view userData) {
  if (revision >= 6) return hashR6(password, salt, userData);
  std::string input;
  input.append(password).append(salt).append(userData);
  return sha(256, input);
}

std::string RC4Passes(std::string_view key, std::string_view data, bool unwrap) {
  std::string out(data), passKey(key);
  for (int pass = 0; pass < 20; ++pass) {
    const int i = unwrap ? 19 - pass : pass;
    for (size_t j = 0; j < passKey.size(); ++j) passKey[j] = static_cast<char>(key[j] ^ i);
    out = RC4Crypt(passKey, out);
  }
  return out;
}

std::string AESEncryptCBC(std::string_view key, std::string_view data) {
  std::string iv = randomBytes(16);
  return iv + aesCBC(key, iv, data, true, true);
}

namespace {
// AES-CBC decryption of "IV + data"; problem (when given) tells what was
// wrong with damaged data, which is decrypted as far as it goes.
std::string aesDecryptChecked(std::string_view key, std::string_view data, std::string* problem) {
  auto report = [&](std::string text) {
    if (problem && problem->empty()) *problem = std::move(text);
  };
  if (data.size() < 16) {
    // An empty string is often left plain by writers; anything else is damage.
    if (!data.empty()) report(std::to_string(data.size()) + " bytes, shorter than the AES initialisation vector");
    return {};
  }
  std::string_view iv = data.substr(0, 16);
  std::string_view body = data.substr(16);
  if (body.size() % 16 != 0) report(std::to_string(data.size()) + " bytes, not a whole number of AES blocks");
  body = body.substr(0, body.size() - body.size() % 16);
  if (body.empty()) return {};
  std::string out = aesCBC(key, iv, body, false, false);
  unsigned pad = static_cast<unsigned char>(out.back());
  if (pad >= 1 && pad <= 16 && pad <= out.size()) {
    out.resize(out.size() - pad);
  } else {
    report("bad padding (wrong key or damaged data)");
  }
  return out;
}
}  // namespace

std::string AESDecryptCBC(std::string_view key, std::string_view data) {
  return aesDecryptChecked(key, data, nullptr);
}

namespace {

// ICU's common library is loaded the first time a password is prepared, not
// at start. Its headers rename every function with the version
// (usprep_openByType_72), so the names looked up are the ones the macros
// give, and the library is the one of that version.
#define PVL_NAME_OF(name) PVL_NAME_OF_EXPANDED(name)
#define PVL_NAME_OF_EXPANDED(name) #name
constexpr const char* kIcuLibrary = "libicuuc.so." PVL_NAME_OF(U_ICU_VERSION_MAJOR_NUM);

struct TStringPrepLibrary {
  decltype(&::usprep_openByType) openByType = nullptr;
  decltype(&::usprep_prepare) prepare = nullptr;
  decltype(&::usprep_close) close = nullptr;
  // Empty when every entry point is bound.
  std::string error;
};

// Bound once, on first use (thread-safe as a function-local static).
const TStringPrepLibrary& StringPrep() {
  static const auto bound =
      BindRuntimeLibrary<TStringPrepLibrary>(kIcuLibrary, [](TRuntimeLibrary& lib, TStringPrepLibrary& t) {
        lib.Bind(PVL_NAME_OF(usprep_openByType), t.openByType);
        lib.Bind(PVL_NAME_OF(usprep_prepare), t.prepare);
        lib.Bind(PVL_NAME_OF(usprep_close), t.close);
      });
  return bound;
}

}  // namespace

std::string SASLPrepPassword(std::u16string_view password) {
  // Without ICU the password cannot be prepared: as when the profile is
  // missing, the caller decides (opening tries the password as given;
  // setting up encryption fails with this cause).
  const TStringPrepLibrary& icu = StringPrep();
  if (!icu.error.empty()) throw EPDFDocumentError("SASLprep is not available: " + icu.error);
  UErrorCode status = U_ZERO_ERROR;
  UStringPrepProfile* profile = icu.openByType(USPREP_RFC4013_SASLPREP, &status);
  if (U_FAILURE(status) || !profile) throw EPDFDocumentError("SASLprep is not available");
  std::u16string out(password.size() * 4 + 16, u'\0');
  UParseError parseError;
  auto prepare = [&] {
    return icu.prepare(profile, reinterpret_cast<const UChar*>(password.data()), static_cast<int32_t>(password.size()),
                       reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), USPREP_ALLOW_UNASSIGNED,
                       &parseError, &status);
  };
  int32_t length = prepare();
  // Normalisation can make the password many times longer (one ligature
  // becomes 18 characters): again with the length it needs.
  if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
    status = U_ZERO_ERROR;
    out.assign(static_cast<size_t>(length), u'\0');
    length = prepare();
  }
  icu.close(profile);
  if (U_FAILURE(status)) throw EPDFDocumentError("The password holds characters that are not allowed");
  out.resize(static_cast<size_t>(length));
  return WideToUTF8(out);
}

// ---------------------------------------------------------------------------
// Reading Encrypt

TPDFEncryptionStatus TPDFDocument::GetEncryptionStatus() {
  if (!encryption_.Read) ReadEncryption();
  return encryption_.Status;
}

bool ReadStandardEncryption(TPDFDictionary* dict, TPDFEncryption& e) {
  if (!dict || dict->GetNameValue("Filter") != "Standard") return false;
  auto stringOf = [&](const char* key) {
    TPDFString* s = dict->GetString(key);
    return s ? s->GetValue() : std::string();
  };
  e.V = static_cast<int32_t>(std::clamp<int64_t>(dict->GetInteger("V", 0), -1, 100));
  e.R = static_cast<int32_t>(std::clamp<int64_t>(dict->GetInteger("R", 0), -1, 100));
  int64_t length = dict->GetInteger("Length", 0);
  e.O = stringOf("O");
  e.U = stringOf("U");
  e.OE = stringOf("OE");
  e.UE = stringOf("UE");
  e.Perms = stringOf("Perms");
  // P is a 32-bit field; some writers store it unsigned.
  e.P = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(dict->GetInteger("P", 0))));
  if (TPDFBoolean* b = PDFAsBoolean(dict->GetValue("EncryptMetadata", true))) e.EncryptMetadata = b->GetValue();

  // The crypt filters of V 4 and 5: StrF, StmF and EFF each name a filter
  // of CF or Identity (plain; also when the key is missing, and EFF
  // defaults to StmF). Every filter that is used must have the same CFM,
  // which is returned; with Identity everywhere, the CFM the version
  // implies. Empty when a filter is missing or they differ.
  auto cryptFilter = [&](int64_t& filterLength) -> std::string {
    TPDFDictionary* cf = dict->GetDictionary("CF");
    const std::string stmF = dict->GetValue("StmF") ? dict->GetNameValue("StmF") : "Identity";
    const std::string strF = dict->GetValue("StrF") ? dict->GetNameValue("StrF") : "Identity";
    const std::string eff = dict->GetValue("EFF") ? dict->GetNameValue("EFF") : stmF;
    std::string method;
    bool usable = true;
    auto use = [&](const std::string& filter, bool& plain) {
      plain = filter == "Identity";
      if (plain) return;
      TPDFDictionary* f = cf ? cf->GetDictionary(filter) : nullptr;
      const std::string cfm = f ? f->GetNameValue("CFM") : std::string();
      if (cfm.empty() || (!method.empty() && cfm != method)) {
        usable = false;
        return;
      }
      method = cfm;
      filterLength = f->GetInteger("Length", 0);
    };
    use(strF, e.PlainStrings);
    use(stmF, e.PlainStreams);
    use(eff, e.PlainFiles);
    if (!usable) return {};
    if (method.empty()) method = e.V == 5 ? "AESV3" : "AESV2";
    return method;
  };
  if ((e.V == 1 || e.V == 2) && (e.R == 2 || e.R == 3)) {
    // RC4; every key length from 40 to 128 bits in steps of 8.
    int64_t bits = e.V == 2 && length != 0 ? length : 40;
    if (e.R == 2) bits = 40;
    if (bits < 40 || bits > 128 || bits % 8 != 0) return false;
    e.KeyLength = static_cast<int32_t>(bits);
    e.Cipher = pcRC4;
    e.Strength = bits == 40 ? 0 : 1;
  } else if (e.V == 4 && e.R == 4) {
    int64_t filterLength = 0;
    std::string cfm = cryptFilter(filterLength);
    // The filter's Length counts bytes; some writers give bits.
    int64_t bits = filterLength > 0 && filterLength <= 16 ? filterLength * 8 : filterLength;
    if (cfm == "AESV2") {
      e.KeyLength = 128;
      e.Cipher = pcAES128;
      e.Strength = 2;
    } else if (cfm == "V2") {
      if (bits == 0) bits = length != 0 ? length : 40;
      if (bits < 40 || bits > 128 || bits % 8 != 0) return false;
      e.KeyLength = static_cast<int32_t>(bits);
      e.Cipher = pcRC4;
      e.Strength = bits == 40 ? 0 : 1;
    } else {
      return false;
    }
  } else if (e.V == 5 && (e.R == 5 || e.R == 6)) {
    int64_t filterLength = 0;
    if (cryptFilter(filterLength) != "AESV3") return false;
    if (e.O.size() < 48 || e.U.size() < 48 || e.OE.size() < 32 || e.UE.size() < 32) return false;
    e.KeyLength = 256;
    e.Cipher = pcAES256;
    e.Strength = 3;
  } else {
    return false;
  }
  return true;
}

bool StreamStaysPlain(TPDFStream* stream, bool encryptMetadata, bool plainStreams, bool plainFiles) {
  TPDFDictionary* dict = stream->GetDictionary();
  const std::string type = dict ? dict->GetNameValue("Type") : std::string();
  if (type == "XRef") return true;
  if (type == "Metadata" && !encryptMetadata) return true;
  TPDFObject* filter = dict ? dict->GetValue("Filter", true) : nullptr;
  TPDFName* firstFilter = PDFAsName(filter);
  if (TPDFArray* filters = PDFAsArray(filter)) firstFilter = PDFAsName(PDFResolve(filters->GetItem(0)));
  if (firstFilter && firstFilter->GetValue() == "Crypt") {
    // The stream names its own crypt filter: that decides, whatever StmF or
    // EFF say.
    TPDFObject* parms = dict->GetValue("DecodeParms", true);
    if (TPDFArray* list = PDFAsArray(parms)) parms = PDFResolve(list->GetItem(0));
    TPDFDictionary* parmsDict = PDFAsDictionary(parms);
    const std::string cryptName = parmsDict ? parmsDict->GetNameValue("Name") : std::string();
    return cryptName.empty() || cryptName == "Identity";
  }
  return type == "EmbeddedFile" ? plainFiles : plainStreams;
}

void TPDFDocument::ReadEncryption() {
  TPDFEncryption& e = encryption_;
  // Marked first: resolving Encrypt may load objects that ask for the status.
  e.Read = true;
  e.Status = esNotEncrypted;
  e.V = e.R = e.KeyLength = 0;
  e.O.clear();
  e.U.clear();
  e.OE.clear();
  e.UE.clear();
  e.Perms.clear();
  e.P = 0;
  e.EncryptMetadata = true;
  e.EncryptObjectNumber = -1;
  e.Cipher = pcRC4;
  e.Strength = 0;
  e.PlainStrings = e.PlainStreams = e.PlainFiles = false;
  TPDFObject* value = trailer_ ? trailer_->GetValue("Encrypt") : nullptr;
  e.HasEncrypt = value && value->GetKind() != pdfkNull;
  if (!e.HasEncrypt) return;
  if (TPDFIndRef* ref = PDFAsIndRef(value)) {
    e.EncryptObjectNumber = ref->GetRefNumber();
    value = LookupObject(ref->GetRefNumber());
  }
  e.Status = esNotHandled;
  if (!ReadStandardEncryption(PDFAsDictionary(value), e)) return;
  e.Status = esHandled;
  SetPermissions(e.P);
}

// ---------------------------------------------------------------------------
// Keys and authentication

std::string TPDFDocument::firstID() const {
  settleNewID();
  // A file without ID is authenticated with an empty first element, as
  // other readers do; inventing one would give a wrong key.
  TPDFArray* id = trailer_ ? PDFAsArray(trailer_->GetValue("ID", true)) : nullptr;
  TPDFString* first = id ? PDFAsString(PDFResolve(id->GetItem(0))) : nullptr;
  return first ? first->GetValue() : std::string();
}

std::string TPDFDocument::computeFileKey(const std::string& password) const {
  const TPDFEncryption& e = encryption_;
  const size_t n = static_cast<size_t>(e.R == 2 ? 5 : e.KeyLength / 8);
  std::string input = PadPassword(password);
  input.append(e.O.substr(0, 32));
  input += littleEndian32(e.P);
  input += firstID();
  if (e.R >= 4 && !e.EncryptMetadata) input.append(4, '\xFF');
  std::string hash = md5(input);
  if (e.R >= 3) {
    for (int i = 0; i < 50; ++i) hash = md5(std::string_view(hash).substr(0, n));
  }
  return hash.substr(0, n);
}

std::string TPDFDocument::computeU(const std::string& fileKey) const {
  if (encryption_.R == 2) return RC4Crypt(fileKey, PadPassword({}));
  return RC4Passes(fileKey, md5(PadPassword({}) + firstID()), false) + std::string(16, '\0');
}

namespace {
// The RC4 key that encrypts O, from the owner password (algorithm 3).
std::string ownerKey(const std::string& ownerPassword, int32_t revision, int32_t keyLengthBits) {
  const size_t n = static_cast<size_t>(revision == 2 ? 5 : keyLengthBits / 8);
  std::string hash = md5(PadPassword(ownerPassword));
  if (revision >= 3) {
    // Each round hashes the first n bytes, as for the file key (the same
    // for 128-bit keys; other lengths open in other readers only this way).
    for (int i = 0; i < 50; ++i) hash = md5(std::string_view(hash).substr(0, n));
  }
  return hash.substr(0, n);
}
}  // namespace

bool TPDFDocument::authenticateUser(const std::string& password) {
  TPDFEncryption& e = encryption_;
  std::string key = computeFileKey(password);
  std::string u = computeU(key);
  size_t compare = e.R == 2 ? 32 : 16;
  if (e.U.size() < compare || u.compare(0, compare, e.U, 0, compare) != 0) return false;
  e.FileKey = key;
  e.AuthKey = key;
  return true;
}

bool TPDFDocument::authenticateOwner(const std::string& password) {
  TPDFEncryption& e = encryption_;
  if (e.O.size() < 32) return false;
  std::string key = ownerKey(password, e.R, e.KeyLength);
  const std::string o = e.O.substr(0, 32);
  return authenticateUser(e.R == 2 ? RC4Crypt(key, o) : RC4Passes(key, o, true));
}

bool TPDFDocument::authenticateAES256(const std::string& password) {
  TPDFEncryption& e = encryption_;
  const std::string_view pw = std::string_view(password).substr(0, 127);
  const std::string_view u = std::string_view(e.U).substr(0, 48);
  const std::string_view o = std::string_view(e.O).substr(0, 48);
  std::string fileKey;
  bool user = false, owner = false;
  if (HashAES256(e.R, pw, u.substr(32, 8), {}) == u.substr(0, 32)) {
    std::string key = HashAES256(e.R, pw, u.substr(40, 8), {});
    fileKey = aesCBC(key, kZeroIV, std::string_view(e.UE).substr(0, 32), false, false);
    user = true;
  } else if (HashAES256(e.R, pw, o.substr(32, 8), u) == o.substr(0, 32)) {
    std::string key = HashAES256(e.R, pw, o.substr(40, 8), u);
    fileKey = aesCBC(key, kZeroIV, std::string_view(e.OE).substr(0, 32), false, false);
    owner = true;
  } else {
    return false;
  }
  e.FileKey = fileKey;
  e.AuthKey = fileKey;
  e.UserAuthenticated = user;
  e.OwnerAuthenticated = owner;
  // Perms confirms P when it decrypts to "adb" at bytes 9 to 11.
  if (e.Perms.size() >= 16) {
    std::string perms = aesCBC(fileKey, kZeroIV, std::string_view(e.Perms).substr(0, 16), false, false);
    if (perms.compare(9, 3, "adb") == 0) {
      uint32_t p = 0;
      for (int i = 3; i >= 0; --i) p = (p << 8) | static_cast<unsigned char>(perms[static_cast<size_t>(i)]);
      e.P = static_cast<int32_t>(p);
      SetPermissions(e.P);
    }
  }
  return true;
}

bool TPDFDocument::Authenticate(std::u16string_view password) {
  TPDFEncryption& e = encryption_;
  const TPDFEncryptionStatus status = GetEncryptionStatus();
  e.UserAuthenticated = e.OwnerAuthenticated = false;
  e.FileKey.clear();
  e.AuthKey.clear();
  e.Password.clear();
  bool ok = false;
  if (status == esNotEncrypted) return true;
  if (status == esNotHandled) {
    // A handler we cannot use: only the empty password "opens" it, and
    // nothing is decrypted.
    ok = e.UserAuthenticated = password.empty();
  } else if (e.Cipher == pcAES256) {
    std::vector<std::string> candidates;
    try {
      candidates.push_back(SASLPrepPassword(password));
    } catch (const EPDFDocumentError&) {
    }
    std::string raw = WideToUTF8(password);
    if (candidates.empty() || candidates.front() != raw) candidates.push_back(raw);
    for (const std::string& c : candidates) {
      if ((ok = authenticateAES256(c))) break;
    }
  } else {
    for (const std::string& c : legacyPasswordCandidates(password)) {
      if (authenticateUser(c)) {
        ok = e.UserAuthenticated = true;
        break;
      }
      if (authenticateOwner(c)) {
        ok = e.OwnerAuthenticated = true;
        break;
      }
    }
  }
  if (ok) {
    e.Password = std::u16string(password);
  } else {
    e.UserAuthenticated = e.OwnerAuthenticated = false;
    e.FileKey.clear();
    e.AuthKey.clear();
  }
  return ok;
}

bool TPDFDocument::IsEncryptedAndAuthenticated() {
  return GetEncryptionStatus() == esHandled && (encryption_.UserAuthenticated || encryption_.OwnerAuthenticated);
}

std::string TPDFDocument::ObjectKey(int32_t number, int32_t generation) const {
  const TPDFEncryption& e = encryption_;
  if (number == e.EncryptObjectNumber) return {};
  if (e.Cipher == pcAES256) return e.FileKey;
  std::string input = e.FileKey;
  input += static_cast<char>(number & 0xFF);
  input += static_cast<char>((number >> 8) & 0xFF);
  input += static_cast<char>((number >> 16) & 0xFF);
  input += static_cast<char>(generation & 0xFF);
  input += static_cast<char>((generation >> 8) & 0xFF);
  if (e.Cipher == pcAES128) input += "sAlT";
  return md5(input).substr(0, std::min<size_t>(e.FileKey.size() + 5, 16));
}

// ---------------------------------------------------------------------------
// Decryption and encryption of objects

void TPDFDocument::transformObject(std::string_view key, TPDFObject* obj, bool decrypt, const TPDFIndObj* record) {
  const bool aes = encryption_.Cipher != pcRC4;
  // Messages name the object: "object 7 0: cannot decrypt string: ...".
  auto where = [&](const char* what) {
    std::string place = record ? "object " + std::to_string(record->Number) + " " +
                                     std::to_string(record->Generation) + ": "
                               : std::string();
    return place + "cannot " + (decrypt ? "decrypt " : "encrypt ") + what + ": ";
  };
  auto transform = [&](const std::string& data, const char* what) -> std::string {
    if (!aes) return RC4Crypt(key, data);
    try {
      if (!decrypt) return AESEncryptCBC(key, data);
      std::string problem;
      std::string out = aesDecryptChecked(key, data, &problem);
      if (!problem.empty() && record) warn(where(what) + problem);
      return out;
    } catch (const EPDFDocumentError& e) {
      throw EPDFDocumentError(where(what) + e.what());
    }
  };
  // Every new value is computed before any is stored, so that a failure
  // leaves the object as it was.
  std::vector<std::pair<TPDFString*, std::string>> strings;
  std::vector<std::pair<TPDFStream*, std::string>> streams;
  auto visit = [&](auto&& self, TPDFObject* o, int depth) -> void {
    if (!o || depth > kMaxObjectDepth) return;
    switch (o->GetKind()) {
      case pdfkString:
        if (encryption_.PlainStrings) break;
        strings.emplace_back(o->AsString(), transform(o->AsString()->GetValue(), "string"));
        break;
      case pdfkArray:
        for (TPDFObject* item : o->AsArray()->Items()) {
          if (item && !item->IsIndirect()) self(self, item, depth + 1);
        }
        break;
      case pdfkDictionary:
        for (const TPDFDictEntry& entry : o->AsDictionary()->Entries()) {
          if (entry.value && !entry.value->IsIndirect()) self(self, entry.value, depth + 1);
        }
        break;
      case pdfkStream: {
        TPDFStream* stream = o->AsStream();
        TPDFDictionary* dict = stream->GetDictionary();
        // Cross-reference streams are never encrypted, nor the strings of
        // their dictionary.
        if (dict && dict->GetNameValue("Type") == "XRef") break;
        if (dict) self(self, dict, depth + 1);
        if (StreamStaysPlain(stream, encryption_.EncryptMetadata, encryption_.PlainStreams, encryption_.PlainFiles))
          break;
        streams.emplace_back(stream, transform(stream->GetData(), "stream"));
        break;
      }
      default:
        break;
    }
  };
  visit(visit, obj, 0);
  for (auto& [s, value] : strings) s->SetValue(value);
  for (auto& [s, value] : streams) s->SetRawData(std::move(value));
}

void TPDFDocument::DecryptObject(std::string_view key, TPDFObject* obj) {
  transformObject(key, obj, true);
}

void TPDFDocument::CryptObject(std::string_view key, TPDFObject* obj) {
  transformObject(key, obj, false);
}

void TPDFDocument::decryptRecord(TPDFIndObj* record) {
  std::string key = ObjectKey(record->Number, record->Generation);
  if (!key.empty() && record->Object) transformObject(key, record->Object, true, record);
  record->CryptDone = true;  // only after success
}

// ---------------------------------------------------------------------------
// Permissions

void TPDFDocument::SetPermissions(int32_t p) {
  const uint32_t v = static_cast<uint32_t>(p);
  uint8_t a = 0, b = 0;
  if (v & 4) a |= 1;
  if (v & 8) a |= 4;
  if (v & 16) a |= 2;
  if (v & 32) a |= 8;
  if (v & 256) b |= 1;
  if (v & 512) b |= 2;
  if (v & 1024) b |= 4;
  if (v & 2048) b |= 8;
  encryption_.PermissionsA = a;
  encryption_.PermissionsB = b;
}

int32_t TPDFDocument::ComputeP() const {
  const TPDFEncryption& e = encryption_;
  uint32_t p = static_cast<uint32_t>(-4);
  if (!(e.PermissionsA & 1)) p &= ~4u;
  if (!(e.PermissionsA & 4)) p &= ~8u;
  if (!(e.PermissionsA & 2)) p &= ~16u;
  if (!(e.PermissionsA & 8)) p &= ~32u;
  if (e.Strength >= 1) {
    if (!(e.PermissionsB & 1)) p &= ~256u;
    if (!(e.PermissionsB & 2)) p &= ~512u;
    if (!(e.PermissionsB & 4)) p &= ~1024u;
    if (!(e.PermissionsB & 8)) p &= ~2048u;
  }
  return static_cast<int32_t>(p);
}

// ---------------------------------------------------------------------------
// New encryption and its removal

bool TPDFDocument::SetEncryption(std::u16string_view ownerPassword, std::u16string_view userPassword, uint8_t setB,
                                 uint8_t setA, int32_t strength) {
  // Information set so far reaches the packet first: once encrypted, the
  // document's packet is no longer rewritten.
  syncMetadata();
  strength = std::clamp(strength, 0, 3);
  // Objects still encrypted with the old key are decrypted first: once the
  // records are marked plain they would otherwise be taken as plain text.
  if (GetEncryptionStatus() == esHandled) {
    if (!IsEncryptedAndAuthenticated()) return false;
    for (auto& record : table_) record->GetObject();
  }
  TPDFEncryption& e = encryption_;
  e.NewOwnerPassword = std::u16string(ownerPassword);
  e.NewUserPassword = std::u16string(userPassword);
  e.PermissionsA = setA & 15;
  e.PermissionsB = setB & 15;
  e.Strength = strength;
  e.Cipher = strength == 3 ? pcAES256 : strength == 2 ? pcAES128 : pcRC4;
  e.V = strength == 0 ? 1 : strength == 1 ? 2 : strength == 2 ? 4 : 5;
  // New AES-256 encryption is revision 6 (revision 5 is deprecated).
  e.R = strength == 0 ? 2 : strength == 1 ? 3 : strength == 2 ? 4 : 6;
  e.KeyLength = strength == 0 ? 40 : strength == 3 ? 256 : 128;
  e.EncryptMetadata = true;
  e.PlainStrings = e.PlainStreams = e.PlainFiles = false;
  e.P = ComputeP();

  // The key depends on the first ID element: make one when there is none.
  settleNewID();
  if (!PDFAsArray(trailer_->GetValue("ID", true))) {
    std::string x = md5(PDFDateNow() + randomBytes(16));
    trailer_->SetValue("ID", pool_->NewArrayOf({pool_->NewString(x, psmHex), pool_->NewString(x, psmHex)}));
  }

  TPDFDictionary* dict = pool_->NewDictionary();
  auto hex = [&](const std::string& bytes) { return pool_->NewString(bytes, psmHex); };
  auto name = [&](const char* n) { return pool_->NewName(n); };
  auto number = [&](double v) { return pool_->NewNumeric(v); };
  dict->SetValue("Filter", name("Standard"));
  dict->SetValue("V", number(e.V));
  dict->SetValue("R", number(e.R));
  if (strength >= 1) dict->SetValue("Length", number(e.KeyLength));
  if (strength >= 2) {
    dict->SetValue("StrF", name("StdCF"));
    dict->SetValue("StmF", name("StdCF"));
    TPDFDictionary* stdcf = pool_->NewDictionary();
    stdcf->SetValue("AuthEvent", name("DocOpen"));
    stdcf->SetValue("Length", number(strength == 3 ? 32 : 16));
    stdcf->SetValue("CFM", name(strength == 3 ? "AESV3" : "AESV2"));
    TPDFDictionary* cf = pool_->NewDictionary();
    cf->SetValue("StdCF", stdcf);
    dict->SetValue("CF", cf);
  }
  if (strength <= 2) {
    std::vector<std::string> users = legacyPasswordCandidates(userPassword);
    std::vector<std::string> owners = legacyPasswordCandidates(ownerPassword);
    const std::string& user = users.front();
    const std::string& owner = ownerPassword.empty() ? user : owners.front();
    std::string key = ownerKey(owner, e.R, e.KeyLength);
    e.O = e.R >= 3 ? RC4Passes(key, PadPassword(user), false) : RC4Crypt(key, PadPassword(user));
    e.FileKey = computeFileKey(user);
    e.U = computeU(e.FileKey);
    dict->SetValue("O", hex(e.O));
    dict->SetValue("U", hex(e.U));
  } else {
    std::string user = SASLPrepPassword(userPassword).substr(0, 127);
    std::string owner = SASLPrepPassword(ownerPassword).substr(0, 127);
    e.FileKey = randomBytes(32);
    std::string userSalts = randomBytes(16);
    e.U = HashAES256(e.R, user, userSalts.substr(0, 8), {}) + userSalts;
    e.UE = aesCBC(HashAES256(e.R, user, userSalts.substr(8, 8), {}), kZeroIV, e.FileKey, true, false);
    std::string ownerSalts = randomBytes(16);
    e.O = HashAES256(e.R, owner, ownerSalts.substr(0, 8), e.U) + ownerSalts;
    e.OE = aesCBC(HashAES256(e.R, owner, ownerSalts.substr(8, 8), e.U), kZeroIV, e.FileKey, true, false);
    std::string perms = littleEndian32(e.P) + std::string(4, '\xFF') + "Tadb" + randomBytes(4);
    e.Perms = aesCBC(e.FileKey, kZeroIV, perms, true, false);
    dict->SetValue("O", hex(e.O));
    dict->SetValue("U", hex(e.U));
    dict->SetValue("OE", hex(e.OE));
    dict->SetValue("UE", hex(e.UE));
    dict->SetValue("Perms", hex(e.Perms));
  }
  dict->SetValue("P", number(e.P));
  e.AuthKey = e.FileKey;
  e.OwnerAuthenticated = true;
  e.UserAuthenticated = false;
  e.Password = std::u16string(ownerPassword);

  for (auto& record : table_) record->CryptDone = true;
  trailer_->DeleteKey("Encrypt");
  TPDFIndObj* record = AddObject(dict);
  trailer_->SetValue("Encrypt", pool_->NewIndRef(record->Number, record->Generation));
  // The dictionary is re-read lazily; the key and the authentication stay.
  e.Read = false;
  e.EncryptObjectNumber = record->Number;
  return true;
}

bool TPDFDocument::Decrypt() {
  if (GetEncryptionStatus() != esHandled || !IsEncryptedAndAuthenticated()) return false;
  // Everything is decrypted before the Encrypt entry goes, so that a
  // failure leaves a consistent encrypted document.
  for (auto& record : table_) {
    if (!record->Compressed) record->GetObject();
  }
  for (auto& record : table_) {
    if (record->Compressed) record->GetObject();
  }
  const int32_t encryptNumber = encryption_.EncryptObjectNumber;
  trailer_->DeleteKey("Encrypt");
  if (encryptNumber >= 0) {
    auto it = std::find_if(table_.begin(), table_.end(), [&](const auto& r) { return r->Number == encryptNumber; });
    if (it != table_.end()) table_.erase(it);
    rebuildIndex();
  }
  encryption_ = TPDFEncryption();
  return true;
}
