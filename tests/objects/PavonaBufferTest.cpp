#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "objects/PavonaBuffer.h"
#include "platform/Classes.h"

namespace {

// A memory stream that hands out at most 100 bytes per read, as pipes and
// files may.
class TrickleStream : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  int64_t Read(void* buffer, int64_t count) override {
    return TMemoryStream::Read(buffer, std::min<int64_t>(count, 100));
  }
};

// 9000 bytes: "." everywhere except "x" at 5000 and "y" at 8000 .. 8003.
std::string sample() {
  std::string s(9000, '.');
  s[5000] = 'x';
  s.replace(8000, 4, "yyyy");
  return s;
}

struct Source {
  const char* name;
  std::function<void(TPVLBuffer&, const std::string&)> attach;
};

class BufferSources : public ::testing::TestWithParam<Source> {
protected:
  std::string data_ = sample();
};

const Source kSources[] = {
    {"string", [](TPVLBuffer& b, const std::string& d) { b.SetString(d); }},
    {"memory", [](TPVLBuffer& b, const std::string& d) { b.SetMemory(d.data(), static_cast<int64_t>(d.size())); }},
    {"bytes", [](TPVLBuffer& b, const std::string& d) { b.SetBytes(std::vector<uint8_t>(d.begin(), d.end())); }},
    {"owned stream",
     [](TPVLBuffer& b, const std::string& d) { b.SetStream(std::make_unique<TrickleStream>(d).release(), true); }},
};

}  // namespace

TEST_P(BufferSources, SearchesReadsAndPosition) {
  TPVLBuffer b;
  GetParam().attach(b, data_);
  ASSERT_EQ(b.GetLength(), 9000);
  EXPECT_EQ(b.FindByte('x'), 5000);  // past the first windows of a stream
  EXPECT_EQ(b.FindFirstOf("zyx"), 5000);
  EXPECT_EQ(b.FindFirstNotOf("."), 5000);
  EXPECT_EQ(b.FindByte('q'), -1);
  EXPECT_EQ(b.FindFirstOf(""), -1);
  EXPECT_EQ(b.FindFirstNotOf(".xy"), -1);
  EXPECT_EQ(b.GetPosition(), 0);  // searches do not move

  b.SetPosition(5001);
  EXPECT_EQ(b.FindByte('x'), -1);
  EXPECT_EQ(b.FindFirstOf("y"), 2999);
  EXPECT_EQ(b.FindFirstNotOf("."), 2999);
  b.SetPosition(8001);
  EXPECT_EQ(b.FindFirstNotOf("y"), 3);
  EXPECT_EQ(b.ReadBytes(5), "yyy..");
  EXPECT_EQ(b.GetPosition(), 8006);

  // Positions outside 0..length are ignored; the end itself is allowed.
  b.SetPosition(-1);
  b.SetPosition(9001);
  EXPECT_EQ(b.GetPosition(), 8006);
  b.SetPosition(8996);
  EXPECT_EQ(b.ReadString(10), "....");  // 4 left
  EXPECT_EQ(b.GetPosition(), 9000);
  EXPECT_EQ(b.ReadString(10), "");
  EXPECT_EQ(b.FindByte('.'), -1);
  b.SetPosition(0);
  EXPECT_EQ(b.ReadString(-5), "");
  EXPECT_EQ(b.ReadBytes(0), "");
  EXPECT_EQ(b.GetPosition(), 0);
  EXPECT_EQ(b.ReadBytes(9000), data_);
}

INSTANTIATE_TEST_SUITE_P(AllSources, BufferSources, ::testing::ValuesIn(kSources), [](const auto& info) {
  std::string n = info.param.name;
  std::replace(n.begin(), n.end(), ' ', '_');
  return n;
});

TEST(Buffer, ResetGivesAnEmptyByteArrayAndReleasesOwnedStreams) {
  TPVLBuffer b;
  EXPECT_EQ(b.GetLength(), 0);
  EXPECT_EQ(b.ReadBytes(1), "");
  EXPECT_EQ(b.FindByte(0), -1);

  TMemoryStream kept("abc");
  b.SetStream(&kept, false);
  EXPECT_EQ(b.ReadBytes(2), "ab");
  b.Reset();  // not owned: the stream stays usable
  EXPECT_EQ(kept.GetSize(), 3);
  EXPECT_EQ(b.GetLength(), 0);
  EXPECT_EQ(b.GetPosition(), 0);

  // An owned stream is freed by the next source (LeakSanitizer checks).
  b.SetStream(std::make_unique<TMemoryStream>("abc").release(), true);
  b.SetString("hello");
  EXPECT_EQ(b.ReadBytes(10), "hello");
  b.SetStream(std::make_unique<TMemoryStream>("abc").release(), true);
  b.SetMemory(nullptr, 10);  // no block: empty
  EXPECT_EQ(b.GetLength(), 0);
  b.SetStream(nullptr, true);
  EXPECT_EQ(b.GetLength(), 0);
  EXPECT_EQ(b.FindFirstNotOf("a"), -1);
}
