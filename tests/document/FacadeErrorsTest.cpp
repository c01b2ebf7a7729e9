// A failing facade operation keeps its cause beside its last-error code:
// the code stays what callers test for, the message says why, and both are
// cleared together. pvl prints the cause.
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"

namespace {

const std::string kOnePage =
    pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"});

struct TLoadCase {
  const char* name;
  std::string bytes;
  int32_t code;
  const char* cause;  // a part of the message that names the cause
};

class FacadeLoadCause : public testing::TestWithParam<TLoadCase> {};

TEST_P(FacadeLoadCause, MessageNamesTheCauseBesideTheCode) {
  const TLoadCase& c = GetParam();
  TPavona f;
  ASSERT_EQ(f.LoadFromString(c.bytes, u""), 0);
  EXPECT_EQ(f.LastErrorCode(), c.code);
  EXPECT_NE(f.LastErrorMessage().find(c.cause), std::string::npos) << f.LastErrorMessage();
  // The next operation that clears the code clears its message with it.
  ASSERT_EQ(f.LoadFromString(kOnePage, u""), 1);
  EXPECT_EQ(f.LastErrorCode(), 0);
  EXPECT_EQ(f.LastErrorMessage(), "");
}

INSTANTIATE_TEST_SUITE_P(Damaged, FacadeLoadCause,
                         testing::Values(TLoadCase{"NoHeader", "this is a letter, not a PDF file\n", pvlErrUnreadable,
                                                   "no %PDF- header"},
                                         TLoadCase{"NothingAfterTheHeader", "%PDF-1.4\n%%EOF\n", pvlErrUnreadable,
                                                   "no cross-reference data"},
                                         TLoadCase{"CatalogueWithoutPages", pvltest::MakePdf({"<< /Type /Catalog >>"}),
                                                   pvlErrUnreadable, "has no Pages entry"}),
                         [](const testing::TestParamInfo<TLoadCase>& i) { return std::string(i.param.name); });

TEST(FacadeErrors, MissingFileIsNotFoundNotDamaged) {
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(NativePathToWide(dir.File("absent.pdf")), u""), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  EXPECT_EQ(f.LastErrorMessage(), "not found");
  ASSERT_EQ(f.LoadFromFile(NativePathToWide(dir.Path()), u""), 0);
  EXPECT_EQ(f.LastErrorMessage(), "not a file");
}

TEST(FacadeErrors, WrongPasswordKeepsItsCode) {
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(NativePathToWide(pvltest::CorpusPath("samples/libreoffice-writer-password.pdf")), u"nope"),
            0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrWrongPassword);
  EXPECT_EQ(f.LastErrorMessage(), "wrong password");
}

TEST(FacadeErrors, FailedSaveSaysWhyTheFileCannotBeWritten) {
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.SaveToFile(NativePathToWide(dir.File("no-such-folder/out.pdf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrSaveFailed);
  EXPECT_NE(f.LastErrorMessage().find("no-such-folder/out.pdf"), std::string::npos) << f.LastErrorMessage();
  EXPECT_NE(f.LastErrorMessage().find("No such file or directory"), std::string::npos) << f.LastErrorMessage();
}

TEST(FacadeErrors, CodeSetWithoutCauseCarriesItsMeaning) {
  TPavona f;
  EXPECT_EQ(f.InsertPages(1, 10000), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_FALSE(f.LastErrorMessage().empty());
  f.SetLastErrorCode(0);
  EXPECT_EQ(f.LastErrorMessage(), "");
}

// pvl prints the facade's cause after what it could not do.
TEST(FacadeErrors, PvlPrintsTheCause) {
  pvltest::TempDir dir;
  const std::string damaged = dir.File("letter.pdf");
  pvltest::WriteFile(damaged, "this is a letter, not a PDF file\n");
  const struct {
    std::string file;
    const char* cause;
  } cases[] = {{dir.File("absent.pdf"), "as a PDF file: not found"}, {damaged, "as a PDF file: no %PDF- header"}};
  for (const auto& c : cases) {
    const auto r = pvltest::RunCommand({pvldoc::PvlPath(), "info", c.file});
    EXPECT_EQ(r.exitCode, 2) << c.file;
    EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
  }
}

// A 100 x 100 page: a blue square at the bottom left and, to its right, an
// image whose data do not decode (as imageData gives them).
std::string pageWithImage(const std::string& imageEntries, const std::string& imageData) {
  return pvltest::MakePdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /XObject << /Im 5 0 R >> >> "
       "/Contents 4 0 R >>",
       "STREAM:0 0 1 rg 5 5 30 30 re f q 40 0 0 40 50 50 cm /Im Do Q",
       "<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 " +
           imageEntries + " /Length " + std::to_string(imageData.size()) + " >>\nstream\n" + imageData +
           "\nendstream"});
}

struct TBrokenImage {
  const char* name;
  std::string entries, data;
};

class FacadeBrokenImage : public testing::TestWithParam<TBrokenImage> {};

// The page is drawn and succeeds; the picture it could not draw is named
// in the render's warnings, and pvl render prints them.
TEST_P(FacadeBrokenImage, PageIsDrawnAndTheImageLeftOutIsNoted) {
  const std::string pdf = pageWithImage(GetParam().entries, GetParam().data);
  TPavona f;
  ASSERT_EQ(f.LoadFromString(pdf, u""), 1);
  TMemoryStream bmp;
  ASSERT_EQ(f.RenderPageToStream(72, 1, 0, bmp), 1) << f.LastRenderMessage();
  EXPECT_EQ(f.LastRenderMessage(), "");
  EXPECT_EQ(f.LastRenderWarnings().rfind("page 1: image 5 0 R left out: ", 0), 0) << f.LastRenderWarnings();
  TBitmap page;
  page.LoadFromBytes(bmp.Bytes());
  ASSERT_EQ(page.Width(), 100);
  EXPECT_EQ(page.Pixel(20, 80), TColor(0xFF0000)) << "the blue square (0x00BBGGRR) is drawn";
  EXPECT_EQ(page.Pixel(70, 30), TColor(0xFFFFFF)) << "the image's place stays white";

  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("in.pdf"), pdf);
  const auto r =
      pvltest::RunCommand({pvldoc::PvlPath(), "render", dir.File("in.pdf"), "1", "--out", dir.File("p.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("pvl: warning: page 1: image 5 0 R left out: "), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Images, FacadeBrokenImage,
    testing::Values(TBrokenImage{"JpegThatIsNot", "/Filter /DCTDecode", "this is not a JPEG stream at all"},
                    TBrokenImage{"FlateThatIsNot", "/Filter /FlateDecode", "neither is this a zlib stream"}),
    [](const testing::TestParamInfo<TBrokenImage>& i) { return std::string(i.param.name); });

}  // namespace
