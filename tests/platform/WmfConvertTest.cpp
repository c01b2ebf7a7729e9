// Pictures recorded by our metafile writer come out of the Windows-metafile
// conversion with the pens, brushes and shapes they were drawn with.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EmfWriter.h"
#include "platform/Gdi.h"

namespace {

struct TWmfRecord {
  uint16_t function;
  std::string params;
};

// The records after the placeable and the memory-metafile headers.
std::vector<TWmfRecord> wmfRecords(const std::string& wmf) {
  auto u16 = [&](size_t at) { return uint32_t(uint8_t(wmf[at])) | uint32_t(uint8_t(wmf[at + 1])) << 8; };
  std::vector<TWmfRecord> out;
  for (size_t at = 22 + 18; at + 6 <= wmf.size();) {
    const size_t bytes = size_t(u16(at) | u16(at + 2) << 16) * 2;
    if (bytes < 6 || bytes > wmf.size() - at) break;
    out.push_back({uint16_t(u16(at + 4)), wmf.substr(at + 6, bytes - 6)});
    at += bytes;
  }
  return out;
}

uint32_t param16(const std::string& p, size_t word) {
  return uint32_t(uint8_t(p[word * 2])) | uint32_t(uint8_t(p[word * 2 + 1])) << 8;
}

TEST(WmfConvert, PensKeepStyleWidthAndColour) {
  constexpr uint16_t kCreatePen = 0x02FA;
  struct TCase {
    const char* name;
    DWORD style;
    double width;
    COLORREF color;
    uint32_t wantStyle, wantWidth;
  };
  const TCase cases[] = {
      {"solid red, 1 unit", PS_SOLID, 1, 0x0000FF, PS_SOLID, 1},
      {"dashed green, 3 units", PS_DASH, 3, 0x00FF00, PS_DASH, 3},
      {"dotted blue, 2 units", PS_DOT, 2, 0xFF0000, PS_DOT, 2},
      {"null pen", PS_NULL, 1, 0x123456, PS_NULL, 1},
  };
  for (const TCase& c : cases) {
    TEmfWriter writer(100, 100, 96);
    writer.SelectPen(1, c.style, c.width, c.color, {});
    writer.MoveTo(10, 10);
    writer.LineTo(90, 90);
    const std::string wmf = ConvertEmfToWmf(writer.Finish(), 96);
    const std::vector<TWmfRecord> records = wmfRecords(wmf);
    const TWmfRecord* pen = nullptr;
    for (const TWmfRecord& r : records)
      if (r.function == kCreatePen) pen = &r;
    ASSERT_NE(pen, nullptr) << c.name;
    ASSERT_GE(pen->params.size(), 10u) << c.name;
    EXPECT_EQ(param16(pen->params, 0) & PS_STYLE_MASK, c.wantStyle) << c.name;
    EXPECT_EQ(param16(pen->params, 1), c.wantWidth) << c.name;
    if (c.wantStyle != PS_NULL) {
      EXPECT_EQ(param16(pen->params, 3) | param16(pen->params, 4) << 16, c.color & 0xFFFFFF) << c.name;
    }
  }
}

}  // namespace
