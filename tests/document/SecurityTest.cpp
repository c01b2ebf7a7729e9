// Standard security handler: ciphers, passwords, files encrypted by qpdf and
// Ghostscript in every revision, the corpus's encrypted files, and new
// encryption checked by qpdf.
#include <gtest/gtest.h>

#include <map>

#include "DocumentTestSupport.h"
#include "objects/PavonaExtra.h"

using pvldoc::Authenticated;
using pvldoc::ContentDigests;
using pvldoc::LoadFile;
using pvltest::CorpusPath;
using pvltest::RunCommand;
using pvltest::TempDir;

namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A file with object streams and an XMP metadata stream.
const char* kObjectStreamSource = "pdfjs/form_two_pages.pdf";
// A file with classic tables only.
const char* kPlainSource = "samples/002-trivial-libre-office-writer.pdf";

}  // namespace

TEST(SecurityTest, RC4KnownVectorsAndSymmetry) {
  EXPECT_EQ(Hex(RC4Crypt("Key", "Plaintext")), "BBF316E8D940AF0AD3");
  EXPECT_EQ(Hex(RC4Crypt("Wiki", "pedia")), "1021BF0420");
  EXPECT_EQ(Hex(RC4Crypt("Secret", "Attack at dawn")), "45A01F645FC35B383552544B9BF5");
  std::string data(1000, 'x');
  EXPECT_EQ(RC4Crypt("k", RC4Crypt("k", data)), data);
  EXPECT_EQ(RC4Crypt("k", ""), "");
}

TEST(SecurityTest, AESRoundTripFreshVectorsAndMalformedInput) {
  for (size_t keyLength : {16u, 32u}) {
    std::string key(keyLength, '\x42');
    for (size_t n : {0u, 1u, 15u, 16u, 17u, 1000u}) {
      std::string data(n, 'a');
      std::string once = AESEncryptCBC(key, data);
      EXPECT_EQ(once.size(), 16 + (n / 16 + 1) * 16);
      EXPECT_NE(once.substr(0, 16), AESEncryptCBC(key, data).substr(0, 16));  // a fresh vector each time
      EXPECT_EQ(AESDecryptCBC(key, once), data);
    }
    // Too short, not whole blocks, or bad padding: no crash, nothing read outside.
    EXPECT_EQ(AESDecryptCBC(key, "short"), "");
    EXPECT_EQ(AESDecryptCBC(key, std::string(16, 'v')), "");
    std::string odd = AESEncryptCBC(key, "hello world") + "xyz";
    EXPECT_EQ(AESDecryptCBC(key, odd), "hello world");
    std::string garbage(48, '\x07');
    EXPECT_LE(AESDecryptCBC(key, garbage).size(), 32u);
  }
}

TEST(SecurityTest, SASLprepMapsAndNormalises) {
  EXPECT_EQ(SASLPrepPassword(u"user"), "user");
  EXPECT_EQ(SASLPrepPassword(u"I\u00ADX"), "IX");                  // soft hyphen maps to nothing
  EXPECT_EQ(SASLPrepPassword(u"\u00AA"), "a");                     // compatibility form
  EXPECT_EQ(SASLPrepPassword(u"a\u00A0b"), "a b");                 // non-ASCII space
  EXPECT_THROW(SASLPrepPassword(u"a\u0007b"), EPDFDocumentError);  // control character
  // A ligature that normalises to 18 characters: the result can be many
  // times longer than the password.
  const std::string ligature =
      "\u0635\u0644\u0649 \u0627\u0644\u0644\u0647 \u0639\u0644\u064A\u0647 \u0648\u0633\u0644\u0645";
  EXPECT_EQ(SASLPrepPassword(u"\uFDFA\uFDFA"), ligature + ligature);
}

TEST(SecurityTest, PermissionSetsAndP) {
  TPDFDocument doc;
  doc.SetPermissions(-4);
  EXPECT_EQ(doc.GetEncryption().PermissionsA, 15);
  EXPECT_EQ(doc.GetEncryption().PermissionsB, 15);
  doc.SetPermissions(-4 & ~4 & ~512);
  EXPECT_EQ(doc.GetEncryption().PermissionsA, 14);
  EXPECT_EQ(doc.GetEncryption().PermissionsB, 13);
}

struct QpdfVariant {
  const char* name;
  std::vector<std::string> args;  // after "user owner"
  int32_t revision;
  bool cleartextMetadata;
};

class QpdfEncryptedTest : public ::testing::TestWithParam<QpdfVariant> {};

TEST_P(QpdfEncryptedTest, OpensWithBothPasswordsRefusesWrongOnesAndMatchesQpdfDecrypt) {
  if (!pvltest::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  const QpdfVariant& v = GetParam();
  TempDir dir;
  std::string enc = dir.File("enc.pdf"), dec = dir.File("dec.pdf");
  std::vector<std::string> argv = {"qpdf", "--allow-weak-crypto", "--encrypt", "user", "owner"};
  argv.insert(argv.end(), v.args.begin(), v.args.end());
  argv.insert(argv.end(), {"--", CorpusPath(kObjectStreamSource), enc});
  ASSERT_EQ(RunCommand(argv).exitCode, 0) << v.name;
  ASSERT_EQ(RunCommand({"qpdf", "--decrypt", "--password=user", "--object-streams=disable", "--preserve-unreferenced",
                        enc, dec})
                .exitCode,
            0);

  auto user = LoadFile(enc, u"user");
  ASSERT_TRUE(user);
  EXPECT_EQ(user->GetEncryptionStatus(), 1);
  EXPECT_EQ(user->GetEncryption().R, v.revision);
  EXPECT_TRUE(user->GetEncryption().UserAuthenticated);
  auto owner = LoadFile(enc, u"owner");
  EXPECT_TRUE(owner->GetEncryption().OwnerAuthenticated);
  auto wrong = LoadFile(enc, u"wrong");
  EXPECT_FALSE(Authenticated(*wrong));
  auto empty = LoadFile(enc);
  EXPECT_FALSE(Authenticated(*empty));

  auto plain = LoadFile(dec);
  std::vector<std::string> expected = ContentDigests(*plain);
  EXPECT_EQ(ContentDigests(*user), expected);
  EXPECT_EQ(ContentDigests(*owner), expected);
  EXPECT_FALSE(expected.empty());

  // The metadata stream is stored plain exactly when the file says so.
  TPDFDictionary* root = PDFAsDictionary(user->GetTrailer()->GetValue("Root", true));
  ASSERT_NE(root, nullptr);
  TPDFStream* metadata = root->GetStream("Metadata");
  ASSERT_NE(metadata, nullptr);
  EXPECT_NE(metadata->GetDecodedData().find("xmpmeta"), std::string::npos);
  std::string stored = pvltest::ReadFile(enc);
  EXPECT_EQ(stored.find("xmpmeta") != std::string::npos, v.cleartextMetadata);

  // The driver: exit 1 for a wrong password, 0 with the right one.
  auto bad = RunCommand({pvldoc::PvlPath(), "xref", enc, "--password", "nope"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("password"), std::string::npos);
  EXPECT_EQ(RunCommand({pvldoc::PvlPath(), "xref", enc, "--password", "owner"}).exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Revisions, QpdfEncryptedTest,
    ::testing::Values(QpdfVariant{"RC4_40_R2", {"40"}, 2, false},
                      QpdfVariant{"RC4_128_R3", {"128", "--use-aes=n"}, 3, false},
                      QpdfVariant{"AES128_R4", {"128", "--use-aes=y"}, 4, false},
                      QpdfVariant{"AES128_R4_ClearMetadata", {"128", "--use-aes=y", "--cleartext-metadata"}, 4, true},
                      QpdfVariant{"AES256_R5", {"256", "--force-R5"}, 5, false},
                      QpdfVariant{"AES256_R6", {"256"}, 6, false},
                      QpdfVariant{"AES256_R6_ClearMetadata", {"256", "--cleartext-metadata"}, 6, true}),
    [](const ::testing::TestParamInfo<QpdfVariant>& info) { return std::string(info.param.name); });

TEST(SecurityTest, RC4KeyLengthsBetween40And128Bits) {
  if (!pvltest::HaveTool("gs") || !pvltest::HaveTool("qpdf")) GTEST_SKIP() << "gs or qpdf missing";
  for (int bits : {48, 88, 120}) {
    TempDir dir;
    std::string enc = dir.File("enc.pdf"), dec = dir.File("dec.pdf");
    ASSERT_EQ(RunCommand({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", "-sOwnerPassword=owner",
                          "-sUserPassword=user", "-dEncryptionR=3", "-dKeyLength=" + std::to_string(bits),
                          "-sOutputFile=" + enc, CorpusPath(kPlainSource)})
                  .exitCode,
              0);
    ASSERT_EQ(RunCommand({"qpdf", "--decrypt", "--password=user", "--preserve-unreferenced", enc, dec}).exitCode, 0);
    auto user = LoadFile(enc, u"user");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->GetEncryption().KeyLength, bits);
    EXPECT_TRUE(user->GetEncryption().UserAuthenticated) << bits;
    auto owner = LoadFile(enc, u"owner");
    EXPECT_TRUE(owner->GetEncryption().OwnerAuthenticated) << bits;
    auto plain = LoadFile(dec);
    EXPECT_EQ(ContentDigests(*user), ContentDigests(*plain)) << bits;
  }
}

TEST(SecurityTest, CorpusEncryptedFilesOpenWithTheirPasswords) {
  struct Case {
    const char* file;
    std::u16string password;
    bool owner;
  };
  const std::vector<Case> cases = {
      {"samples/libreoffice-writer-password.pdf", u"openpassword", false},
      {"samples/libreoffice-writer-password.pdf", u"permissionpassword", true},
      {"pdfjs/issue6010_1.pdf", u"abc", false},
      {"pdfjs/issue6010_2.pdf", u"\u00E6\u00F8\u00E5", false},
      {"pdfjs/saslprep-r6.pdf", u"S\u00AASL\u00ADprep", false},
      {"pdfjs/issue15893_reduced.pdf", u"test", false},
  };
  for (const Case& c : cases) {
    auto doc = LoadFile(CorpusPath(c.file), c.password);
    ASSERT_TRUE(doc) << c.file;
    EXPECT_EQ(doc->GetEncryptionStatus(), 1) << c.file;
    EXPECT_TRUE(c.owner ? doc->GetEncryption().OwnerAuthenticated : doc->GetEncryption().UserAuthenticated) << c.file;
    auto wrong = LoadFile(CorpusPath(c.file), u"not the password");
    EXPECT_FALSE(Authenticated(*wrong)) << c.file;
    // Every object loads; the catalogue is readable after decryption.
    TPDFDictionary* root = PDFAsDictionary(doc->GetTrailer()->GetValue("Root", true));
    ASSERT_NE(root, nullptr) << c.file;
    EXPECT_NO_THROW(ContentDigests(*doc)) << c.file;
  }
  // The R6 file compared with qpdf, which accepts the prepared password.
  if (pvltest::HaveTool("qpdf")) {
    TempDir dir;
    std::string dec = dir.File("dec.pdf");
    ASSERT_EQ(RunCommand({"qpdf", "--decrypt", "--password=SaSLprep", "--preserve-unreferenced",
                          CorpusPath("pdfjs/saslprep-r6.pdf"), dec})
                  .exitCode,
              0);
    auto ours = LoadFile(CorpusPath("pdfjs/saslprep-r6.pdf"), u"S\u00AASL\u00ADprep");
    auto plain = LoadFile(dec);
    EXPECT_EQ(ContentDigests(*ours), ContentDigests(*plain));
  }
}

namespace {

// Writes the document as a full file (what the save does), encrypting each
// object with its key on the way out.
std::string WriteEncrypted(TPDFDocument& doc) {
  std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::map<int32_t, std::pair<size_t, int32_t>> offsets;
  int32_t highest = 0;
  const bool encrypted = doc.GetEncryptionStatus() == 1;
  for (int32_t i = 0; i < doc.GetObjectCount(); ++i) {
    TPDFIndObj* r = doc.GetIndObj(i);
    TPDFObject* obj = r->GetObject();
    std::string key = encrypted ? doc.ObjectKey(r->Number, r->Generation) : std::string();
    if (!key.empty()) doc.CryptObject(key, obj);
    offsets[r->Number] = {out.size(), r->Generation};
    out += r->WriteText();
    if (!key.empty()) doc.DecryptObject(key, obj);
    highest = std::max(highest, r->Number);
  }
  size_t table = out.size();
  out += "xref\n0 " + std::to_string(highest + 1) + "\n0000000000 65535 f \n";
  for (int32_t n = 1; n <= highest; ++n) {
    char line[32];
    auto it = offsets.find(n);
    if (it == offsets.end()) {
      std::snprintf(line, sizeof line, "0000000000 00000 f \n");
    } else {
      std::snprintf(line, sizeof line, "%010zu %05d n \n", it->second.first, it->second.second);
    }
    out += line;
  }
  out += "trailer\n" + doc.GetTrailer()->WriteText() + "\nstartxref\n" + std::to_string(table) + "\n%%EOF\n";
  return out;
}

}  // namespace

TEST(SecurityTest, NewEncryptionOfEveryStrengthIsReadByQpdfAndByUs) {
  if (!pvltest::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  const struct {
    int32_t strength;
    const char* r;
  } cases[] = {{0, "R = 2"}, {1, "R = 3"}, {2, "R = 4"}, {3, "R = 6"}};
  auto original = LoadFile(CorpusPath(kPlainSource));
  ASSERT_TRUE(original);
  const std::vector<std::string> expected = ContentDigests(*original);
  for (const auto& c : cases) {
    TempDir dir;
    auto doc = LoadFile(CorpusPath(kPlainSource));
    ASSERT_TRUE(doc->SetEncryption(u"owner pw", u"user pw", 15, 15, c.strength));
    EXPECT_EQ(doc->GetEncryptionStatus(), 1);
    std::string path = dir.File("new.pdf");
    pvltest::WriteFile(path, WriteEncrypted(*doc));
    // The document itself stays plain in memory after writing.
    EXPECT_EQ(ContentDigests(*doc), expected);

    auto show = RunCommand({"qpdf", "--show-encryption", "--password=user pw", path});
    EXPECT_EQ(show.exitCode, 0) << show.err;
    EXPECT_NE(show.out.find(c.r), std::string::npos) << show.out;
    auto check = RunCommand({"qpdf", "--check", "--password=owner pw", path});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    std::string dec = dir.File("dec.pdf");
    ASSERT_EQ(RunCommand({"qpdf", "--decrypt", "--password=user pw", "--preserve-unreferenced", path, dec}).exitCode,
              0);
    auto qpdfPlain = LoadFile(dec);
    EXPECT_EQ(ContentDigests(*qpdfPlain), expected) << c.strength;

    for (std::u16string pw : {u"user pw", u"owner pw"}) {
      auto again = LoadFile(path, pw);
      ASSERT_TRUE(again);
      EXPECT_TRUE(Authenticated(*again));
      EXPECT_EQ(ContentDigests(*again), expected) << c.strength;
    }
    EXPECT_FALSE(Authenticated(*LoadFile(path, u"other")));
  }
}

TEST(SecurityTest, DecryptRemovesTheEncryption) {
  if (!pvltest::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  TempDir dir;
  std::string enc = dir.File("enc.pdf");
  ASSERT_EQ(RunCommand({"qpdf", "--encrypt", "u", "o", "256", "--", CorpusPath(kObjectStreamSource), enc}).exitCode, 0);
  auto doc = LoadFile(enc, u"u");
  std::vector<std::string> before = ContentDigests(*doc);
  ASSERT_TRUE(doc->Decrypt());
  EXPECT_EQ(doc->GetEncryptionStatus(), 0);
  EXPECT_EQ(doc->GetTrailer()->GetValue("Encrypt"), nullptr);
  EXPECT_EQ(ContentDigests(*doc), before);
  // Not authenticated: nothing happens.
  auto locked = LoadFile(enc, u"x");
  EXPECT_FALSE(locked->Decrypt());
}

TEST(SecurityTest, FileWithoutIDAuthenticatesWithAnEmptyFirstElement) {
  // A file encrypted without ID: its key was made with an empty first
  // element. Inventing an ID on open would give a wrong key.
  auto doc = LoadFile(CorpusPath(kPlainSource));
  ASSERT_TRUE(doc);
  const std::vector<std::string> expected = ContentDigests(*doc);
  TPDFStructure& pool = doc->GetPool();
  doc->GetTrailer()->SetValue("ID", pool.NewArrayOf({pool.NewString(""), pool.NewString("")}));
  ASSERT_TRUE(doc->SetEncryption(u"o", u"u", 15, 15, 1));
  doc->GetTrailer()->DeleteKey("ID");
  TempDir dir;
  std::string path = dir.File("noid.pdf");
  pvltest::WriteFile(path, WriteEncrypted(*doc));
  for (std::u16string pw : {u"u", u"o"}) {
    auto again = LoadFile(path, pw);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetTrailer()->GetValue("ID"), nullptr);
    EXPECT_TRUE(Authenticated(*again));
    EXPECT_EQ(ContentDigests(*again), expected);
  }
  if (pvltest::HaveTool("qpdf")) {
    auto check = RunCommand({"qpdf", "--check", "--password=u", path});
    // qpdf warns about the missing ID but opens the file with the password.
    EXPECT_NE(check.exitCode, 2) << check.out << check.err;
    EXPECT_NE(check.out.find("Supplied password is user password"), std::string::npos) << check.out;
  }
}

TEST(SecurityTest, FailedDecryptionLeavesTheObjectAsItWas) {
  if (!pvltest::HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  TempDir dir;
  std::string enc = dir.File("enc.pdf");
  ASSERT_EQ(RunCommand({"qpdf", "--encrypt", "u", "o", "128", "--use-aes=y", "--", CorpusPath(kPlainSource), enc})
                .exitCode,
            0);
  auto doc = LoadFile(enc, u"u");
  ASSERT_TRUE(doc);
  // A dictionary with strings and a stream: AES with a key of a wrong size
  // fails part-way; nothing may have changed.
  TPDFObject* info = doc->GetTrailer()->GetValue("Info", true);
  ASSERT_NE(info, nullptr);
  TPDFStructure& pool = doc->GetPool();
  TPDFDictionary* dict = pool.NewDictionary();
  dict->SetValue("A", pool.NewString(std::string(32, 'a')));
  dict->SetValue("S", pool.NewStreamWith(std::string(48, 's'), pool.NewDictionary()));
  dict->SetValue("I", info);
  const std::string before = dict->WriteText();
  EXPECT_THROW(doc->DecryptObject("bad key", dict), EPDFDocumentError);
  EXPECT_EQ(dict->WriteText(), before);
  EXPECT_THROW(doc->CryptObject("bad key", dict), EPDFDocumentError);
  EXPECT_EQ(dict->WriteText(), before);
}
