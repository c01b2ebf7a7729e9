#include "platform/Classes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream s;
  s.WriteString("hello");
  EXPECT_EQ(s.GetSize(), 5);
  s.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "ello");
  EXPECT_EQ(s.Read(buf, 8), 0);  // at the end
  s.Seek(-2, TSeekOrigin::soEnd);
  s.WriteString("XYZ");  // overwrites and extends
  EXPECT_EQ(s.Bytes(), "helXYZ");
  s.SetSize(2);
  EXPECT_EQ(s.GetPosition(), 2);
  EXPECT_EQ(s.Bytes(), "he");
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
}

TEST(FileStream, CreateReadAndErrorsNameThePath) {
  pvltest::TempDir dir;
  std::string path = dir.File("a.bin");
  {
    TFileStream f(path, fmCreate);
    f.WriteString("abcdef");
    f.SetSize(4);
  }
  TFileStream r(path, fmOpenRead);
  EXPECT_EQ(r.GetSize(), 4);
  EXPECT_EQ(r.ReadAll(), "abcd");
  try {
    TFileStream missing(dir.File("nope"), fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("nope"), std::string::npos);
  }
  EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);  // a folder is not a file
  EXPECT_THROW(TFileStream(path, 3), EFOpenError);                 // access 3 is invalid
}

TEST(AtomicWrite, ReplacesTheFileAndKeepsItOnFailure) {
  pvltest::TempDir dir;
  std::string path = dir.File("doc.pdf");
  WriteFileBytesAtomic(path, "first");
  chmod(path.c_str(), 0640);
  WriteFileBytesAtomic(path, "second");
  EXPECT_EQ(ReadFileBytes(path), "second");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // A target inside a missing folder fails with a message and touches nothing.
  EXPECT_THROW(WriteFileBytesAtomic(dir.File("missing/x.pdf"), "data"), EWriteError);
  EXPECT_EQ(ReadFileBytes(path), "second");
}

TEST(AtomicWrite, StreamReplacesTheTargetOnlyWhenCommitted) {
  pvltest::TempDir dir;
  const std::string path = dir.File("page.png");
  WriteFileBytesAtomic(path, "old");
  const auto entries = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
    return names;
  };
  {
    // Abandoned (a render that failed): the target stays, nothing is left behind.
    TAtomicFileStream file(path);
    file.WriteBuffer("half", 4);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(entries().size(), 2u);
  }
  EXPECT_EQ(ReadFileBytes(path), "old");
  EXPECT_EQ(entries(), std::vector<std::string>{"page.png"});
  {
    TAtomicFileStream file(path);
    file.WriteBuffer("new ", 4);
    file.WriteBuffer("bytes", 5);
    EXPECT_EQ(file.GetSize(), 9);
    file.Commit();
  }
  EXPECT_EQ(ReadFileBytes(path), "new bytes");
  EXPECT_EQ(entries(), std::vector<std::string>{"page.png"});
  EXPECT_THROW(TAtomicFileStream(dir.File("missing/page.png")), EWriteError);
}

TEST(DateTime, EncodeDecodeRoundTrip) {
  struct Case {
    int y, mo, d, h, mi, s, ms;
  } cases[] = {{1899, 12, 30, 0, 0, 0, 0}, {1970, 1, 1, 0, 0, 0, 0}, {2000, 2, 29, 23, 59, 59, 999},
               {2026, 12, 9, 11, 7, 53, 0}, {1600, 3, 1, 12, 0, 0, 0}};
  for (const auto& c : cases) {
    TDateTime v = EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
    TDateTimeParts p = DecodeDateTime(v);
    EXPECT_EQ(p.year, c.y);
    EXPECT_EQ(p.month, c.mo);
    EXPECT_EQ(p.day, c.d);
    EXPECT_EQ(p.hour, c.h);
    EXPECT_EQ(p.minute, c.mi);
    EXPECT_EQ(p.second, c.s);
    EXPECT_EQ(p.millisecond, c.ms);
  }
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1, 0, 0, 0, 0), 25569.0);
}

TEST(DateTime, UtcOffsetFollowsSummerTime) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  EXPECT_EQ(LocalUtcOffsetMinutes(EncodeDateTime(2026, 1, 15, 12, 0, 0, 0)), 60);
  EXPECT_EQ(LocalUtcOffsetMinutes(EncodeDateTime(2026, 7, 15, 12, 0, 0, 0)), 120);
  setenv("TZ", "Asia/Kolkata", 1);
  tzset();
  EXPECT_EQ(LocalUtcOffsetMinutes(EncodeDateTime(2026, 7, 15, 12, 0, 0, 0)), 330);
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
