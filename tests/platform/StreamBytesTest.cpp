// Byte views of streams: a file is mapped, a memory stream used in place, an
// empty file gives an empty view.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/Classes.h"

TEST(StreamBytes, FilesMemoryAndEmptyStreams) {
  pvltest::TempDir dir;
  const std::string path = dir.File("bytes.bin");
  std::string content(100000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  pvltest::WriteFile(path, content);
  TFileStream file(path, fmOpenRead);
  file.SetPosition(500);
  TStreamBytes mapped(file);
  EXPECT_EQ(mapped.View(), content);  // from the start, whatever the position
  TMemoryStream memory(content);
  TStreamBytes inPlace(memory);
  EXPECT_EQ(inPlace.View().data(), memory.Bytes().data());
  pvltest::WriteFile(dir.File("empty"), "");
  TFileStream empty(dir.File("empty"), fmOpenRead);
  TStreamBytes none(empty);
  EXPECT_TRUE(none.View().empty());
}
