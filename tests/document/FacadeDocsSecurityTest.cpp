// Encryption and decryption, security answers of the direct-access handler,
// outlines, attachments and document information through the facade; qpdf,
// pdftotext, mutool and pdfdetach are the oracles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "document/PavonaSmartAccess.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"

namespace {

namespace fs = std::filesystem;
using pvltest::RunCommand;

std::u16string W(const std::string& s) { return NativePathToWide(s); }

std::string PvlPath() { return std::string(PVL_BINARY_DIR) + "/tools/pvl"; }

// qpdf's permission lines ("print high resolution: allowed") by name.
std::map<std::string, bool> QpdfPermissions(const std::string& out) {
  std::map<std::string, bool> result;
  std::regex re("([a-z ]+): (allowed|not allowed)");
  for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it)
    result[(*it)[1].str()] = (*it)[2].str() == "allowed";
  return result;
}

std::string Field(const std::string& out, const std::string& key) {
  std::regex re(key + " = ([^\n]*)");
  std::smatch m;
  return std::regex_search(out, m, re) ? m[1].str() : std::string();
}

}  // namespace

// ---------------------------------------------------------------------------
// Encryption

TEST(FacadeEncrypt, EveryStrengthAgreesWithQpdfAndDecryptsToTheSameText) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "peer tools missing";
  const std::string source = pvltest::CorpusPath("samples/pdflatex-4-pages.pdf");
  const std::string text = RunCommand({"pdftotext", source, "-"}).out;
  struct TCase {
    int32_t strength;
    std::string r, method;
    int32_t p[8];  // print, copy, modify, annotate, fill, accessibility, assemble, high-quality print
    std::map<std::string, bool> qpdf;
  };
  const std::vector<TCase> cases = {
      {0, "2", "RC4", {1, 0, 1, 1, 1, 1, 1, 1}, {{"extract for any purpose", false}, {"modify other", true}}},
      {1, "3", "RC4", {1, 1, 0, 1, 0, 1, 1, 0},
       {{"modify other", false}, {"modify forms", false}, {"print high resolution", false},
        {"print low resolution", true}}},
      {2, "4", "AESv2", {0, 1, 1, 0, 1, 0, 1, 1},
       {{"print low resolution", false}, {"modify annotations", false}, {"extract for accessibility", false}}},
      {3, "6", "AESv3", {1, 1, 1, 1, 1, 1, 0, 1}, {{"modify document assembly", false}, {"modify other", true}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.strength);
    pvltest::TempDir dir;
    TPavona facade;
    ASSERT_EQ(facade.LoadFromFile(W(source), u""), 1);
    const int32_t code = facade.EncodePermissions(c.p[0], c.p[1], c.p[2], c.p[3], c.p[4], c.p[5], c.p[6], c.p[7]);
    ASSERT_EQ(facade.Encrypt(u"owner pw", u"user pw", c.strength, code), 1) << facade.LastErrorCode();
    ASSERT_EQ(facade.SaveToFile(W(dir.File("e.pdf"))), 1);
    const auto shown = RunCommand({"qpdf", "--show-encryption", "--password=user pw", dir.File("e.pdf")});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(Field(shown.out, "R"), c.r);
    if (c.strength >= 2) EXPECT_NE(shown.out.find("stream encryption method: " + c.method), std::string::npos);
    const auto permissions = QpdfPermissions(shown.out);
    for (const auto& [name, allowed] : c.qpdf) EXPECT_EQ(permissions.at(name), allowed) << name;
    EXPECT_EQ(RunCommand({"qpdf", "--check", "--password=owner pw", dir.File("e.pdf")}).exitCode, 0);
    for (const char* password : {"user pw", "owner pw"}) {
      const std::string out = dir.File(std::string("d-") + password[0] + ".pdf");
      ASSERT_EQ(RunCommand({"qpdf", "--decrypt", std::string("--password=") + password, dir.File("e.pdf"), out}).exitCode, 0);
      EXPECT_EQ(RunCommand({"pdftotext", out, "-"}).out, text);
    }
    // And our own decryption, opened with the user password.
    TPavona again;
    ASSERT_EQ(again.LoadFromFile(W(dir.File("e.pdf")), u"user pw"), 1);
    EXPECT_EQ(again.IsEncrypted(), 1);
    ASSERT_EQ(again.Decrypt(), 1);
    EXPECT_EQ(again.IsEncrypted(), 0);
    ASSERT_EQ(again.SaveToFile(W(dir.File("plain.pdf"))), 1);
    EXPECT_EQ(RunCommand({"qpdf", "--check", dir.File("plain.pdf")}).exitCode, 0);
    EXPECT_NE(RunCommand({"qpdf", "--show-encryption", dir.File("plain.pdf")}).out.find("not encrypted"),
              std::string::npos);
    EXPECT_EQ(RunCommand({"pdftotext", dir.File("plain.pdf"), "-"}).out, text);
  }
}

TEST(FacadeEncrypt, PermissionCodesAndFailures) {
  TPavona facade;
  EXPECT_EQ(facade.EncodePermissions(1, 1, 1, 1, 1, 1, 1, 1), 0x3200FF);
  EXPECT_EQ(facade.EncodePermissions(0, 0, 0, 0, 0, 0, 0, 0), 0xCD0000);
  EXPECT_EQ(facade.EncodePermissions(2, 0, 0, 0, 0, 0, 0, 0), 0xCD0000);
  EXPECT_EQ(facade.EncodePermissions(0, 1, 0, 0, 0, 0, 0, 0), 0x00CF0002);
  struct TCase {
    std::u16string owner, user;
    int32_t strength, code, error;
  };
  const int32_t all = facade.EncodePermissions(1, 1, 1, 1, 1, 1, 1, 1);
  const std::vector<TCase> cases = {
      {u"o", u"u", 1, 0xFF, pvlErrPermissionCheck},
      {u"o", u"u", 4, all, pvlErrStrength},
      {u"o", u"u", -1, all, pvlErrStrength},
      // Characters that RC4 and AES-128 passwords cannot hold are refused,
      // not dropped.
      {u"o", u"\u5BC6\u7801", 1, all, pvlErrEncryptionSetup},
      {u"\u0416", u"u", 2, all, pvlErrEncryptionSetup},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.error);
    TPavona f;
    std::u16string before;
    f.GetInformation(0, before);
    EXPECT_EQ(f.Encrypt(c.owner, c.user, c.strength, c.code), 0);
    EXPECT_EQ(f.LastErrorCode(), c.error);
    EXPECT_EQ(f.IsEncrypted(), 0);
    std::u16string after;
    f.GetInformation(0, after);
    EXPECT_EQ(after, before);  // the version rises only with an encryption
  }
  // An encrypted document refuses first, whatever the other arguments.
  TPavona f;
  ASSERT_EQ(f.Encrypt(u"o", u"u", 2, all), 1);
  std::u16string version;
  f.GetInformation(0, version);
  EXPECT_EQ(version, u"1.6");
  pvltest::TempDir dir;
  ASSERT_EQ(f.SaveToFile(W(dir.File("e.pdf"))), 1);
  TPavona g;
  ASSERT_EQ(g.LoadFromFile(W(dir.File("e.pdf")), u"u"), 1);
  EXPECT_EQ(g.Encrypt(u"o", u"u", 9, 0xFF), 0);
  EXPECT_EQ(g.LastErrorCode(), pvlErrAlreadyEncrypted);
}

TEST(FacadeEncrypt, AES256PasswordsKeepTheirCharacters) {
  if (!pvltest::HaveTools({"qpdf"})) GTEST_SKIP() << "qpdf missing";
  pvltest::TempDir dir;
  TPavona facade;
  const std::u16string user = u"\u00E6\u00F8\u00E5-\u5BC6";
  ASSERT_EQ(facade.Encrypt(u"own\u00E9r", user, 3, facade.EncodePermissions(1, 1, 1, 1, 1, 1, 1, 1)), 1);
  ASSERT_EQ(facade.SaveToFile(W(dir.File("e.pdf"))), 1);
  const auto r = RunCommand({"qpdf", "--show-encryption", "--password=" + WideToUTF8(user), dir.File("e.pdf")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Supplied password is user password"), std::string::npos) << r.out;
  EXPECT_EQ(Field(r.out, "R"), "6");
}

// ---------------------------------------------------------------------------
// Security answers of the direct-access handler against qpdf's view

TEST(SmartAccessSecurity, AnswersAgreeWithQpdfAtEveryRevision) {
  if (!pvltest::HaveTools({"qpdf"})) GTEST_SKIP() << "qpdf missing";
  const std::string source = pvltest::CorpusPath("samples/pdflatex-4-pages.pdf");
  struct TCase {
    std::string name;
    std::vector<std::string> args;
    int32_t strength;  // expected answer to query 10
    bool rc4_40;
  };
  const std::vector<TCase> cases = {
      {"R2", {"40", "--print=n", "--modify=y", "--extract=n", "--annotate=y"}, 7, true},
      {"R3", {"128", "--use-aes=n", "--print=low", "--modify=none", "--extract=y", "--assemble=n"}, 8, false},
      {"R4", {"128", "--use-aes=y", "--print=full", "--modify=form", "--extract=n", "--accessibility=n"}, 12, false},
      {"R4 clear metadata", {"128", "--use-aes=y", "--cleartext-metadata", "--modify=annotate"}, 12, false},
      {"R5", {"256", "--force-R5", "--print=none", "--modify=assembly"}, 11, false},
      {"R6", {"256", "--print=low", "--form=n", "--assemble=n", "--extract=n"}, 11, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    pvltest::TempDir dir;
    const std::string file = dir.File("e.pdf");
    std::vector<std::string> argv = {"qpdf", "--allow-weak-crypto", "--encrypt", "usr", "own"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"--", source, file});
    const auto made = RunCommand(argv);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto shown = RunCommand({"qpdf", "--show-encryption", "--password=own", file});
    const auto q = QpdfPermissions(shown.out);

    TFileStream in(file, fmOpenRead);
    TSmartPDFReader reader(in);
    ASSERT_EQ(reader.GetState(), 0);
    TSmartPDFInfo info(reader, "");
    EXPECT_EQ(info.GetSecurityInfo(0), "1");
    EXPECT_EQ(info.GetSecurityInfo(1), "3");  // a user password is needed
    EXPECT_TRUE(info.CheckPassword("usr"));
    EXPECT_TRUE(info.CheckPassword("own"));
    EXPECT_FALSE(info.CheckPassword("nope"));
    info.SetPassword("own");
    EXPECT_EQ(info.GetSecurityInfo(2), "2");
    info.SetPassword("usr");
    EXPECT_EQ(info.GetSecurityInfo(2), "3");
    info.SetPassword("nope");
    EXPECT_FALSE(info.GetCrypt().IsAuthenticated());
    info.SetPassword("usr");
    EXPECT_TRUE(info.GetCrypt().IsAuthenticated());

    auto answer = [&](int32_t query) { return std::atoi(info.GetSecurityInfo(query).c_str()); };
    const int32_t print = q.at("print high resolution") ? 4 : q.at("print low resolution") ? 10 : 5;
    EXPECT_EQ(answer(3), c.rc4_40 && print == 10 ? 4 : print);
    EXPECT_EQ(answer(4), q.at("modify other") ? 6 : 5);
    EXPECT_EQ(answer(5), q.at("extract for any purpose") ? 6 : 5);
    EXPECT_EQ(answer(6), q.at("modify annotations") ? 6 : 5);
    if (!c.rc4_40) {
      EXPECT_EQ(answer(7), q.at("modify forms") ? 6 : 5);
      EXPECT_EQ(answer(8), q.at("extract for accessibility") ? 6 : 5);
      EXPECT_EQ(answer(9), q.at("modify document assembly") ? 6 : 5);
    } else {
      EXPECT_EQ(answer(7), 5);
    }
    EXPECT_EQ(answer(10), c.strength);
    EXPECT_EQ(answer(42), 11);
  }
}

TEST(SmartAccessSecurity, UnencryptedAndUnusableHandlers) {
  TMemoryStream plain(pvltest::ReadFile(pvltest::CorpusPath("samples/minimal-document.pdf")));
  TSmartPDFReader reader(plain);
  TSmartPDFInfo info(reader, "");
  const std::vector<std::string> expected = {"0", "2", "2", "4", "6", "6", "6", "6", "6", "6", "11"};
  for (int32_t q = 0; q <= 10; ++q) EXPECT_EQ(info.GetSecurityInfo(q), expected[size_t(q)]) << q;
  EXPECT_TRUE(info.CheckPassword(""));
  EXPECT_FALSE(info.CheckPassword("x"));

  // A V and R pair that does not belong together is a handler this system
  // cannot use (answer 9), not a usable one.
  const std::string text =
      pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
                        "<< /Filter /Standard /V 5 /R 3 /O <00> /U <00> /P -4 >>"},
                       " /Encrypt 3 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00>]");
  TMemoryStream odd(text);
  TSmartPDFReader oddReader(odd);
  ASSERT_EQ(oddReader.GetState(), 0);
  TSmartPDFInfo oddInfo(oddReader, "");
  EXPECT_EQ(oddInfo.GetEncryptionState(), 2);
  EXPECT_EQ(oddInfo.GetSecurityInfo(0), "9");
}

// AES-256 with Identity crypt filters for strings and streams (only
// embedded files are encrypted): the direct-access handler takes the file as
// the document does, checks its password, and leaves what the filters keep
// plain as it is.
TEST(SmartAccessSecurity, IdentityCryptFiltersAreUsedAsTheDocumentUsesThem) {
  const std::string path = pvltest::CorpusDir() + "/../repro/reading/r6-crypt-filter-pw-asdfqwer.pdf";
  if (!fs::exists(path)) GTEST_SKIP() << "no repro folder beside the corpus: " << path;
  TMemoryStream in(pvltest::ReadFile(path));
  TSmartPDFReader reader(in, u"asdfqwer");
  ASSERT_EQ(reader.GetState(), 0);
  ASSERT_TRUE(reader.ObjectsArePlain());
  TSmartPDFInfo info(reader, "");
  EXPECT_EQ(info.GetEncryptionState(), 1);
  EXPECT_EQ(info.GetSecurityInfo(0), "1");
  EXPECT_EQ(info.GetSecurityInfo(1), "3");  // the user password is not empty
  EXPECT_FALSE(info.CheckPassword("not it"));
  ASSERT_TRUE(info.CheckPassword("asdfqwer"));
  info.SetPassword("asdfqwer");
  ASSERT_TRUE(info.GetCrypt().IsAuthenticated());
  // qpdf --show-encryption: assembly not allowed, forms allowed; AES-256.
  EXPECT_EQ(info.GetSecurityInfo(9), "5");
  EXPECT_EQ(info.GetSecurityInfo(7), "6");
  EXPECT_EQ(info.GetSecurityInfo(10), "11");

  // The page's contents and the document information's strings are stored
  // plain: the handler leaves them as they are.
  TSmartPDFDocument pages(reader);
  TPDFIndRef* page = pages.FindPage(1);
  ASSERT_NE(page, nullptr);
  TPDFStructure pool;
  TPDFDictionary* dict = PDFAsDictionary(reader.ReadObject(page->GetRefNumber(), &pool));
  ASSERT_NE(dict, nullptr);
  TPDFIndRef* contents = PDFAsIndRef(dict->GetValue("Contents"));
  ASSERT_NE(contents, nullptr);
  const int32_t number = contents->GetRefNumber();
  TPDFStream* stream = PDFAsStream(reader.ReadObject(number, &pool));
  ASSERT_NE(stream, nullptr);
  ASSERT_NE(stream->GetDecodedData().find("(Potato) Tj"), std::string::npos);
  const std::string stored = stream->GetData();
  info.GetCrypt().DecryptObject(info.GetCrypt().GetObjectKey(number, reader.GetGeneration(number)), stream);
  EXPECT_EQ(stream->GetData(), stored);
  TPDFString* text = pool.NewString("plain", psmLiteral);
  info.GetCrypt().DecryptObject(info.GetCrypt().GetObjectKey(number, 0), text);
  EXPECT_EQ(text->GetValue(), "plain");
}

// ---------------------------------------------------------------------------
// Outlines

TEST(FacadeOutline, CorpusOutlineAgreesWithQpdfAndMutool) {
  if (!pvltest::HaveTools({"qpdf", "mutool"})) GTEST_SKIP() << "peer tools missing";
  for (const char* name : {"samples/pdflatex-outline.pdf", "samples/mistitled_outlines_example.pdf"}) {
    SCOPED_TRACE(name);
    const std::string path = pvltest::CorpusPath(name);
    // Titles from qpdf; pages from mutool, which also follows GoTo actions.
    const std::string json = RunCommand({"qpdf", "--json", "--json-key=outlines", path}).out;
    std::vector<std::string> titles;
    std::regex titleRe("\"title\": \"((?:[^\"\\\\]|\\\\.)*)\"");
    for (std::sregex_iterator it(json.begin(), json.end(), titleRe), end; it != end; ++it)
      titles.push_back((*it)[1].str());
    const std::string shown = RunCommand({"mutool", "show", path, "outline"}).out;
    std::vector<int32_t> pages;
    std::regex pageRe("#page=([0-9]+)");
    for (std::sregex_iterator it(shown.begin(), shown.end(), pageRe), end; it != end; ++it)
      pages.push_back(std::atoi((*it)[1].str().c_str()));
    ASSERT_FALSE(titles.empty());
    TPavona facade;
    ASSERT_EQ(facade.LoadFromFile(W(path), u""), 1);
    const std::string before = pvltest::ReadFile(path);
    ASSERT_EQ(facade.OutlineCount(), static_cast<int32_t>(titles.size()));
    std::multiset<std::string> ours, theirs(titles.begin(), titles.end());
    std::multiset<int32_t> ourPages, theirPages(pages.begin(), pages.end());
    for (int32_t i = 1; i <= facade.OutlineCount(); ++i) {
      const int32_t item = facade.GetOutlineHandle(i);
      std::u16string title;
      facade.GetOutlineTitle(item, title);
      ours.insert(WideToUTF8(title));
      ourPages.insert(facade.GetOutlinePage(item));
    }
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(ourPages, theirPages);
    // Reading changed nothing that a save would write differently.
    std::string first, second;
    facade.SaveToString(first);
    for (int32_t i = 1; i <= facade.OutlineCount(); ++i) facade.GetOutlinePage(facade.GetOutlineHandle(i));
    facade.SaveToString(second);
    EXPECT_EQ(first.size(), second.size());
  }
}

TEST(FacadeOutline, NumericDestinationsAreReadWithoutRewriting) {
  TPavona facade;
  // A five-page document with one bookmark whose destination is a page
  // number, as remote (GoToR) destinations are.
  std::vector<std::string> objs = {"<< /Type /Catalog /Pages 2 0 R /Outlines 8 0 R >>",
                                   "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 >>"};
  for (int k = 0; k < 5; ++k) objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
  objs.push_back("<< /Type /Outlines /First 9 0 R /Last 10 0 R /Count 2 >>");
  objs.push_back("<< /Title (Number) /Parent 8 0 R /Next 10 0 R /Dest [3 /XYZ 0 700 0] >>");
  objs.push_back("<< /Title (Remote) /Parent 8 0 R /Prev 9 0 R /A << /S /GoToR /F (other.pdf) /D [1 /Fit] >> >>");
  ASSERT_EQ(facade.LoadFromString(pvltest::MakePdf(objs), u""), 1);
  const int32_t number = facade.GetOutlineHandle(1), remote = facade.GetOutlineHandle(2);
  EXPECT_EQ(facade.GetOutlinePage(number), 4);
  EXPECT_EQ(facade.GetOutlinePage(remote), 2);
  TPDFDictionary* item = facade.GetDictionaryByHandle(facade.RegisterHandle(facade.GetIndRefByHandle(number)->Resolve()));
  ASSERT_TRUE(item);
  TPDFArray* dest = PDFAsArray(item->GetValue("Dest", true));
  ASSERT_TRUE(dest);
  EXPECT_TRUE(PDFAsNumeric(dest->GetItem(0))) << "the destination was rewritten";
  EXPECT_EQ(facade.GetDestinationPage(0), 0);
  EXPECT_EQ(facade.GetOutlinePage(12345), 0);
}

TEST(FacadeOutline, PvlOutlineListsTitlesAndPages) {
  if (!pvltest::HaveTools({"mutool"})) GTEST_SKIP() << "mutool missing";
  const std::string path = pvltest::CorpusPath("samples/pdflatex-outline.pdf");
  const auto ours = RunCommand({PvlPath(), "outline", path});
  ASSERT_EQ(ours.exitCode, 0) << ours.err;
  const auto theirs = RunCommand({"mutool", "show", path, "outline"});
  // mutool: indentation by tabs, then "+"/"-"/"|", the title in quotes and "#page=N..."
  std::regex re("\"([^\"]*)\"\\s+#page=([0-9]+)");
  std::string expected;
  const std::string& out = theirs.out;
  for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it)
    expected += (*it)[1].str() + "\t" + (*it)[2].str() + "\n";
  std::string got;
  for (size_t start = 0; start < ours.out.size();) {
    size_t end = ours.out.find('\n', start);
    if (end == std::string::npos) end = ours.out.size();
    std::string line = ours.out.substr(start, end - start);
    line.erase(0, line.find_first_not_of(' '));
    got += line + "\n";
    start = end + 1;
  }
  ASSERT_FALSE(expected.empty()) << theirs.out;
  EXPECT_EQ(got, expected);
}

// ---------------------------------------------------------------------------
// Attachments and information

TEST(FacadeAttachments, RoundTripByteForByte) {
  if (!pvltest::HaveTools({"pdfdetach", "qpdf"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  std::string payload;
  for (int i = 0; i < 70000; ++i) payload += static_cast<char>((i * 7919) >> 3);
  pvltest::WriteFile(dir.File("data.bin"), payload);
  pvltest::WriteFile(dir.File("empty.txt"), "");
  const std::string source = pvltest::CorpusPath("samples/pdflatex-4-pages.pdf");
  ASSERT_EQ(RunCommand({PvlPath(), "attach", source, dir.File("data.bin"), "--out", dir.File("a.pdf")}).exitCode, 0);
  ASSERT_EQ(RunCommand({PvlPath(), "attach", dir.File("a.pdf"), dir.File("empty.txt"), "--out", dir.File("b.pdf")})
                .exitCode,
            0);
  EXPECT_EQ(RunCommand({"qpdf", "--check", dir.File("b.pdf")}).exitCode, 0);
  const std::string list = RunCommand({"pdfdetach", "-list", dir.File("b.pdf")}).out;
  EXPECT_NE(list.find("2 embedded files"), std::string::npos) << list;
  EXPECT_NE(list.find("data.bin"), std::string::npos);
  EXPECT_NE(list.find("empty.txt"), std::string::npos);
  // pdfdetach numbers the files in the name tree's order: data.bin first.
  ASSERT_EQ(RunCommand({"pdfdetach", "-save", "1", "-o", dir.File("got.bin"), dir.File("b.pdf")}).exitCode, 0);
  EXPECT_EQ(pvltest::ReadFile(dir.File("got.bin")), payload);
  EXPECT_EQ(RunCommand({"qpdf", "--show-attachment=data.bin", dir.File("b.pdf")}).out, payload);
  // pvl detach by name and by number; an empty attachment gives an empty file.
  ASSERT_EQ(RunCommand({PvlPath(), "detach", dir.File("b.pdf"), "data.bin", "--out", dir.File("d1.bin")}).exitCode, 0);
  EXPECT_EQ(pvltest::ReadFile(dir.File("d1.bin")), payload);
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(W(dir.File("b.pdf")), u""), 1);
  ASSERT_EQ(facade.EmbeddedFileCount(), 2);
  for (int32_t n = 1; n <= 2; ++n) {
    std::u16string key;
    facade.GetEmbeddedFileString(n, 5, key);
    const bool empty = key == u"empty.txt";
    EXPECT_EQ(facade.GetEmbeddedFileInt(n, 5), empty ? 0 : static_cast<int64_t>(payload.size()));
    const std::string out = dir.File("n" + std::to_string(n));
    EXPECT_EQ(facade.SaveEmbeddedFileToFile(n, W(out)), empty ? 0 : 1);
    ASSERT_TRUE(fs::exists(out));
    EXPECT_EQ(pvltest::ReadFile(out), empty ? std::string() : payload);
  }
  // A name outside Latin-1 keeps its characters; a missing file or an empty
  // title embeds nothing.
  EXPECT_EQ(facade.EmbedFile(u"\u6570\u636E", W(dir.File("data.bin")), u"application/octet-stream"), 1);
  EXPECT_EQ(facade.EmbedFile(u"", W(dir.File("data.bin")), u""), 0);
  EXPECT_EQ(facade.EmbedFile(u"x", W(dir.File("missing.bin")), u""), 0);
  ASSERT_EQ(facade.EmbeddedFileCount(), 3);
  bool found = false;
  for (int32_t n = 1; n <= 3; ++n) {
    std::u16string key;
    facade.GetEmbeddedFileString(n, 5, key);
    found = found || key == u"\u6570\u636E";
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(facade.RemoveEmbeddedFile(1), 1);
  EXPECT_EQ(facade.EmbeddedFileCount(), 2);
}

TEST(FacadeInformation, EntriesVersionAndPageMode) {
  TPavona facade;
  struct TCase {
    int32_t index;
    std::u16string text;
    int32_t result, code;
  };
  const std::vector<TCase> cases = {
      {2, u"A title \u0416\u5BC6", 1, 0}, {1, u"Author", 1, 0},   {0, u"1.6", 1, 0},
      {0, u"1.8", 0, 0},                  {0, u"2.0", 0, 0},      {7, u"D:20200101", 0, pvlErrInformationIndex},
      {-1, u"x", 0, pvlErrInformationIndex},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(facade.SetInformation(c.index, c.text), c.result);
    EXPECT_EQ(facade.LastErrorCode(), c.code);
  }
  std::u16string out;
  facade.GetInformation(0, out);
  EXPECT_EQ(out, u"1.6");
  facade.GetInformation(2, out);
  EXPECT_EQ(out, u"A title \u0416\u5BC6");
  facade.GetInformation(9, out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(facade.SetPageMode(5), 1);
  EXPECT_EQ(facade.GetSelectedDocumentObject()->GetRoot()->GetNameValue("PageMode"), "UseAttachments");
  EXPECT_EQ(facade.SetPageMode(17), 0) << "an unknown mode is refused";
  EXPECT_EQ(facade.GetSelectedDocumentObject()->GetRoot()->GetNameValue("PageMode"), "UseAttachments");
}
