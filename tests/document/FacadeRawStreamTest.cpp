// The raw drawing stream (page format 8): the page recorded as an EMF+ dual
// metafile, read back by an independent reader (emf2svg) and by our own
// metafile converter, and refused without writing anything when its target
// cannot take it.
#include <gtest/gtest.h>

#include <filesystem>

#include "FacadePageOutput.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "platform/EmfReader.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"

namespace {

using pvltest::ExpectEmfLooksLikePeerPage;
using pvltest::ExpectMetafileDrawsLikeThePage;
using pvltest::kVectorOutputPages;

std::u16string W(const std::string& s) {
  return NativePathToWide(s);
}

uint32_t U32At(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

// The EMF+ records (type and flags, in file order) carried in the comments.
std::vector<std::pair<uint16_t, uint16_t>> EmfPlusRecords(const std::string& emf, std::vector<size_t>& positions) {
  std::vector<std::pair<uint16_t, uint16_t>> out;
  size_t at = 0, index = 0;
  while (at + 8 <= emf.size()) {
    const uint32_t type = U32At(emf, at), size = U32At(emf, at + 4);
    if (size < 8 || at + size > emf.size()) break;
    if (type == 70 && size >= 16 && U32At(emf, at + 12) == 0x2B464D45) {
      size_t p = at + 16;
      while (p + 12 <= at + size) {
        const uint32_t head = U32At(emf, p), recordSize = U32At(emf, p + 4);
        out.emplace_back(uint16_t(head & 0xFFFF), uint16_t(head >> 16));
        positions.push_back(index);
        if (recordSize < 12) break;
        p += recordSize;
      }
    }
    at += size;
    ++index;
  }
  return out;
}

TEST(FacadeRawStream, PagesAreEmfPlusDualMetafilesThatAnIndependentReaderDraws) {
  REQUIRE_TOOLS("emf2svg-conv", "rsvg-convert", "pdftoppm");
  pvltest::TempDir dir;
  for (const char* file : kVectorOutputPages) {
    SCOPED_TRACE(file);
    const std::string pdf = pvltest::CorpusPath(file);
    TPavona f;
    ASSERT_EQ(f.LoadFromFile(W(pdf), u""), 1);
    TMemoryStream raw;
    ASSERT_EQ(f.RenderPageToStream(72, 1, pofRaw, raw), 1) << f.LastRenderMessage();
    const std::string& emf = raw.Bytes();
    ASSERT_TRUE(IsEnhancedMetafile(emf));
    TEmfFile parsed(emf);  // raises on a broken frame or record chain
    EXPECT_EQ(U32At(emf, 48), emf.size()) << "the header counts every byte";
    EXPECT_EQ(U32At(emf, 52), parsed.Records().size()) << "the header counts every record";
    // An EMF+ header (dual) and GetDC right after the header, the EMF+ end
    // just before the end record.
    std::vector<size_t> at;
    const auto plus = EmfPlusRecords(emf, at);
    ASSERT_EQ(plus.size(), 3u);
    EXPECT_EQ(plus[0], (std::pair<uint16_t, uint16_t>{0x4001, 1}));
    EXPECT_EQ(plus[1].first, 0x4004);
    EXPECT_EQ(plus[2].first, 0x4002);
    EXPECT_EQ(at[0], 1u);
    EXPECT_EQ(at[2], parsed.Records().size() - 2);

    pvltest::WriteFile(dir.File("page.emf"), emf);
    ExpectEmfLooksLikePeerPage(dir.File("page.emf"), pdf, dir);
  }
}

TEST(FacadeRawStream, PagesComeBackThroughOurOwnMetafileConverter) {
  pvltest::TempDir dir;
  for (const char* file : {"samples/pdflatex-image.pdf", "samples/reportlab-overlay.pdf"}) {
    SCOPED_TRACE(file);
    TPavona f;
    ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(file)), u""), 1);
    ASSERT_EQ(f.RenderPagesToFile(72, 1, 1, pofRaw, W(dir.File("raw%p.emf"))), 1) << f.LastRenderMessage();
    ExpectMetafileDrawsLikeThePage(f, dir.File("raw1.emf"));
  }
}

// A stream that takes only its first bytes and then refuses to grow.
class TShortStream : public TMemoryStream {
public:
  explicit TShortStream(int64_t room) : room_(room) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t take = std::max<int64_t>(0, std::min(count, room_ - GetPosition()));
    return take > 0 ? TMemoryStream::Write(buffer, take) : 0;
  }

private:
  int64_t room_;
};

TEST(FacadeRawStream, ABadTargetFailsWithItsCodeAndWritesNothing) {
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath("samples/pdflatex-image.pdf")), u""), 1);
  {
    TShortStream full(0);
    EXPECT_EQ(f.RenderPageToStream(72, 1, pofRaw, full), 0);
    EXPECT_EQ(f.LastErrorCode(), pvlErrRenderFailed);
    EXPECT_FALSE(f.LastRenderMessage().empty());
    EXPECT_EQ(full.GetSize(), 0);
  }
  {
    // Room for part of the page only: what was written is taken back.
    TShortStream part(4096);
    EXPECT_EQ(f.RenderPageToStream(72, 1, pofRaw, part), 0);
    EXPECT_EQ(f.LastErrorCode(), pvlErrRenderFailed);
    EXPECT_EQ(part.GetSize(), 0);
  }
  const std::string missing = dir.File("no-such-folder/raw%p.emf");
  EXPECT_EQ(f.RenderPagesToFile(72, 1, 1, pofRaw, W(missing)), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrRenderFailed);
  EXPECT_FALSE(std::filesystem::exists(dir.File("no-such-folder")));
}

TEST(FacadeRawStream, TheRendererWithoutAStreamReportsTheFailure) {
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath("samples/minimal-document.pdf")), u""), 1);
  ASSERT_EQ(f.SelectPage(1), 1);
  TPDFFontCollection fonts;
  TPDFRenderer renderer(&fonts);
  renderer.OutputKind = rokRawStream;
  renderer.PageObject = f.GetSelectedDocumentObject()->GetPageTree()->GetSelectedPage();
  ASSERT_NE(renderer.PageObject, nullptr);
  renderer.RenderPage();
  EXPECT_NE(renderer.GetErrorText(), "");
}

}  // namespace
