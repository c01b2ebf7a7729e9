// File streams and path routines on UTF-16 paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "objects/PavonaExtra.h"

namespace {

std::u16string wide(const std::string& utf8) { return UTF8ToWide(utf8); }

}  // namespace

TEST(WideFiles, NonAsciiPathRoundTrip) {
  pvltest::TempDir dir;
  std::u16string path = wide(dir.Path()) + u"/\u00C4rger \u4E2D\u6587 \U0001F600.pdf";
  {
    auto f = CreateWideFileStream(path, fmCreate);
    f->WriteString("%PDF-1.7\n");
    EXPECT_EQ(f->GetSize(), 9);
  }
  // The name on disk is the UTF-8 form of the UTF-16 path.
  std::string native = dir.Path() + "/\xC3\x84rger \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80.pdf";
  EXPECT_EQ(WidePathToNative(path), native);
  EXPECT_EQ(NativePathToWide(native), path);
  EXPECT_EQ(pvltest::ReadFile(native), "%PDF-1.7\n");
  EXPECT_TRUE(WideFileExists(path));
  EXPECT_NE(WideFileAge(path), -1);
  {
    auto f = CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(f->ReadAll(), "%PDF-1.7\n");
    EXPECT_EQ(f->Seek(-4, TSeekOrigin::soEnd), 5);
    char buf[8];
    EXPECT_EQ(f->Read(buf, 8), 4);
  }
}

TEST(WideFiles, WriteOnReadOnlyStreamRaises) {
  pvltest::TempDir dir;
  std::u16string path = wide(dir.File("r.bin"));
  pvltest::WriteFile(dir.File("r.bin"), "abc");
  auto f = CreateWideFileStream(path, fmOpenRead | fmShareDenyNone);
  try {
    f->Write("x", 1);
    FAIL() << "a write on a read-only file reported success";
  } catch (const EWriteError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.File("r.bin")), std::string::npos) << e.what();
  }
}

TEST(WideFiles, ShortWriteOnAFullDeviceRaisesWithPathAndReason) {
  struct stat st;
  if (::stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full";
  auto f = CreateWideFileStream(u"/dev/full", fmOpenWrite | fmShareDenyNone);
  try {
    f->WriteString("some bytes");
    FAIL() << "writing to a full device reported success";
  } catch (const EWriteError& e) {
    std::string m = e.what();
    EXPECT_NE(m.find("/dev/full"), std::string::npos) << m;
    EXPECT_NE(m.find("No space left on device"), std::string::npos) << m;
  }
}

TEST(WideFiles, OpenFailuresRaiseEFCreateError) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("a.txt"), "a");
  struct {
    std::string path;
    uint16_t mode;
    const char* reason;
  } cases[] = {
      {dir.File("missing.pdf"), fmOpenRead, "No such file or directory"},
      {dir.Path(), fmOpenRead, "Is a directory"},
      {dir.File("no/such/dir/x.pdf"), fmCreate, "No such file or directory"},
      {dir.File("a.txt"), 3, "invalid open mode"},
      {dir.File("a.txt"), 0x50, "invalid open mode"},
  };
  for (auto& c : cases) {
    try {
      CreateWideFileStream(wide(c.path), c.mode);
      FAIL() << "opened " << c.path;
    } catch (const EFCreateError& e) {
      std::string m = e.what();
      EXPECT_EQ(m.rfind("Error", 0), 0u) << m;
      EXPECT_NE(m.find(c.path), std::string::npos) << m;
      EXPECT_NE(m.find(c.reason), std::string::npos) << m;
    }
    EXPECT_EQ(WideFileOpen(wide(c.path), c.mode == fmCreate ? fmOpenRead : c.mode), kInvalidFileHandle);
  }
  EXPECT_EQ(WideFileOpen(wide(dir.File("a.txt")), 0x4F), kInvalidFileHandle);  // access 3
  EXPECT_EQ(WideFileOpen(wide(dir.File("a.txt")), fmCreate), kInvalidFileHandle);
  EXPECT_EQ(WideFileCreate(wide(dir.File("no/dir/x"))), kInvalidFileHandle);
}

// Sharing holds between the engine's own streams (advisory locks).
TEST(WideFiles, SharingModes) {
  pvltest::TempDir dir;
  std::string native = dir.File("shared.pdf");
  std::u16string path = wide(native);
  pvltest::WriteFile(native, "original");
  auto reader = CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite);
  // Another reader that lets others read gets in; an exclusive one does not.
  EXPECT_NO_THROW(CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite));
  EXPECT_THROW(CreateWideFileStream(path, fmOpenRead | fmShareExclusive), EFCreateError);
  EXPECT_THROW(CreateWideFileStream(path, fmCreate), EFCreateError);
  EXPECT_EQ(pvltest::ReadFile(native), "original");  // a refused create truncates nothing
  EXPECT_NO_THROW(CreateWideFileStream(path, fmOpenRead | fmShareDenyNone));
  reader.reset();
  {
    auto exclusive = CreateWideFileStream(path, fmOpenReadWrite | fmShareExclusive);
    EXPECT_THROW(CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite), EFCreateError);
    TPavonaFileHandle h = WideFileOpen(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(h, kInvalidFileHandle);
  }
  TPavonaFileHandle h = WideFileOpen(path, fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(h, kInvalidFileHandle);
  TPavonaWideFileStream adopted(h, native);  // closes the handle
  EXPECT_EQ(adopted.ReadAll(), "original");
}

TEST(WideFiles, CreateTruncatesAndSetSizeMovesThePosition) {
  pvltest::TempDir dir;
  std::u16string path = wide(dir.File("t.bin"));
  pvltest::WriteFile(dir.File("t.bin"), "0123456789");
  auto f = CreateWideFileStream(path, fmCreate);
  EXPECT_EQ(f->GetSize(), 0);
  f->WriteString("abcdef");
  f->SetSize(3);
  EXPECT_EQ(f->GetPosition(), 3);
  f->SetSize(8);
  EXPECT_EQ(f->GetPosition(), 8);
  EXPECT_EQ(f->GetSize(), 8);
  f.reset();
  EXPECT_EQ(pvltest::ReadFile(dir.File("t.bin")), std::string("abc\0\0\0\0\0", 8));
  TPavonaFileHandle h = WideFileCreate(path);
  ASSERT_NE(h, kInvalidFileHandle);
  TPavonaWideFileStream s(h, dir.File("t.bin"));
  EXPECT_EQ(s.GetSize(), 0);
  EXPECT_THROW(s.SetSize(-1), EOSError);
}

TEST(WideFiles, ExistenceAgeAndDelete) {
  pvltest::TempDir dir;
  std::u16string folder = wide(dir.Path());
  std::u16string file = wide(dir.File("f.txt"));
  EXPECT_FALSE(WideFileExists(folder));  // a folder is not a file
  EXPECT_EQ(WideFileAge(folder), -1);
  EXPECT_TRUE(WideDirectoryExists(folder));
  EXPECT_FALSE(WideFileExists(file));
  EXPECT_EQ(WideFileAge(file), -1);
  EXPECT_FALSE(DeleteFileWide(file));
  pvltest::WriteFile(dir.File("f.txt"), "x");
  EXPECT_TRUE(WideFileExists(file));
  EXPECT_FALSE(WideDirectoryExists(file));
  EXPECT_FALSE(DeleteFileWide(folder));
  // The DOS date-time of the file's local modification time.
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  uint32_t age = static_cast<uint32_t>(WideFileAge(file));
  EXPECT_EQ(static_cast<int>(age >> 25) + 1980, local.tm_year + 1900);
  EXPECT_EQ(static_cast<int>((age >> 21) & 15), local.tm_mon + 1);
  // A file older than DOS dates still counts as present.
  struct timespec times[2] = {{0, 0}, {0, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.File("f.txt").c_str(), times, 0), 0);
  EXPECT_TRUE(WideFileExists(file));
  EXPECT_NE(WideFileAge(file), -1);
  EXPECT_TRUE(DeleteFileWide(file));
  EXPECT_FALSE(WideFileExists(file));
}

TEST(WidePaths, ExtractNamePathAndExtension) {
  struct {
    std::u16string path, name, folder, ext;
  } cases[] = {
      {u"C:\\dir\\a.pdf", u"a.pdf", u"C:\\dir\\", u".pdf"},
      {u"C:a.pdf", u"a.pdf", u"C:", u".pdf"},
      {u"archive.tar.gz", u"archive.tar.gz", u"", u".gz"},
      {u"C:\\dir.x\\file", u"file", u"C:\\dir.x\\", u""},
      {u"/home/u/doc.pdf", u"doc.pdf", u"/home/u/", u".pdf"},
      {u"/home/u.v/doc", u"doc", u"/home/u.v/", u""},
      {u"/mix\\ed/a.b", u"a.b", u"/mix\\ed/", u".b"},
      {u"/tmp/Report 10:30.pdf", u"Report 10:30.pdf", u"/tmp/", u".pdf"},  // ":" is part of a name here
      {u"/tmp/dir/", u"", u"/tmp/dir/", u""},
      {u".hidden", u".hidden", u"", u".hidden"},
      {u"", u"", u"", u""},
      {u"\u00E9t\u00E9.PDF", u"\u00E9t\u00E9.PDF", u"", u".PDF"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(WideExtractFileName(c.path), c.name) << WideToUTF8(c.path);
    EXPECT_EQ(WideExtractFilePath(c.path), c.folder) << WideToUTF8(c.path);
    EXPECT_EQ(WideExtractFileExt(c.path), c.ext) << WideToUTF8(c.path);
  }
}

TEST(StreamInsertString, Cases) {
  struct {
    std::string initial;
    int64_t position, insertAt;
    std::string bytes, result;
    int64_t newPosition;
  } cases[] = {
      {"abcd", 3, 2, "XY", "abXYcd", 5},
      {"abcd", 1, 2, "XY", "abXYcd", 1},
      {"abcd", 2, 2, "XY", "abXYcd", 4},
      {"abcd", 0, 0, "XY", "XYabcd", 2},
      {"abcd", 4, 4, "XY", "abcdXY", 6},
      {"abcd", 3, 2, "", "abcd", 3},
      {"abcd", 1, 99, "XY", "abcdXY", 1},
      {"", 0, 0, "XY", "XY", 2},
  };
  for (auto& c : cases) {
    TMemoryStream s(c.initial);
    s.SetPosition(c.position);
    StreamInsertString(s, c.bytes, c.insertAt);
    EXPECT_EQ(s.Bytes(), c.result);
    EXPECT_EQ(s.GetPosition(), c.newPosition);
  }
  // Larger than one move chunk.
  std::string big(200000, 'a');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  TMemoryStream s(big);
  StreamInsertString(s, "INSERT", 70000);
  EXPECT_EQ(s.Bytes(), big.substr(0, 70000) + "INSERT" + big.substr(70000));
}
