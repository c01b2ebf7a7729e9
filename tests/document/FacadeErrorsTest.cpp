// A failing facade operation keeps its cause beside its last-error code:
// the code stays what callers test for, the message says why, and both are
// cleared together. pvl prints the cause.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "DocumentTestSupport.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageFormats.h"
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

std::string le16(uint16_t v) {
  return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string le32(uint32_t v) {
  return le16(uint16_t(v & 0xFFFF)) + le16(uint16_t(v >> 16));
}

// A grey TIFF (uncompressed unless said otherwise) that says it is width x
// height pixels; its one strip holds a single byte.
std::string greyTiff(uint32_t width, uint32_t height, uint16_t compression = 1) {
  std::string ifd = le16(8);
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    ifd += le16(tag) + le16(type) + le32(1) + (type == 3 ? le16(uint16_t(value)) + le16(0) : le32(value));
  };
  const uint32_t stripAt = 8 + 2 + 8 * 12 + 4;
  entry(256, 4, width);
  entry(257, 4, height);
  entry(258, 3, 8);  // bits per sample
  entry(259, 3, compression);
  entry(262, 3, 1);  // black is zero
  entry(273, 4, stripAt);
  entry(278, 4, height);  // rows per strip
  entry(279, 4, 1);       // strip byte count
  return "II*" + std::string(1, '\0') + le32(8) + ifd + le32(0) + "\x80";
}

// A placeable WMF whose only record is damaged: its size is beyond the file.
std::string wmfWithADamagedRecord() {
  std::string placeable =
      le32(0x9AC6CDD7u) + le16(0) + le16(0) + le16(0) + le16(100) + le16(100) + le16(1440) + le32(0);
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum ^= uint16_t(uint8_t(placeable[i]) | uint8_t(placeable[i + 1]) << 8);
  placeable += le16(sum);
  // Header: type 1, 9 words, version 0x300, size, 0 objects, max record, 0.
  const std::string header = le16(1) + le16(9) + le16(0x300) + le32(9 + 3) + le16(0) + le32(0x7FFFFFFF) + le16(0);
  return placeable + header + le32(0x7FFFFFFF) + le16(0x0213);
}

struct TImageFile {
  const char* name;
  enum { Missing, Folder, File } kind;
  std::string bytes;
  const char* cause;  // the start of the message
};

class FacadeImageFileCause : public testing::TestWithParam<TImageFile> {};

// An image file that cannot be added says which of the causes it was, in
// the decoder's own words where it has them; the selected image stays.
TEST_P(FacadeImageFileCause, MessageSaysWhyTheFileGivesNoImage) {
  const TImageFile& c = GetParam();
  pvltest::TempDir dir;
  const std::string path = dir.File(std::string(c.name) + ".img");
  if (c.kind == TImageFile::File) pvltest::WriteFile(path, c.bytes);
  if (c.kind == TImageFile::Folder) std::filesystem::create_directory(path);
  TPavona f;
  EXPECT_EQ(f.AddImageFromFile(NativePathToWide(path), 0), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  EXPECT_EQ(f.LastErrorMessage().rfind(c.cause, 0), 0u) << f.LastErrorMessage();
  EXPECT_EQ(f.ImageWidth(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FacadeImageFileCause,
    testing::Values(TImageFile{"Missing", TImageFile::Missing, "", "not found"},
                    TImageFile{"Folder", TImageFile::Folder, "", "not a file"},
                    TImageFile{"Empty", TImageFile::File, "", "the file is empty"},
                    TImageFile{"Letter", TImageFile::File, "Dear reader, this is not a picture.",
                               "not an image file of a known format"},
                    TImageFile{"PngWithoutHeader", TImageFile::File, std::string("\x89PNG\r\n\x1a\n", 8),
                               "the PNG image cannot be read: PNG file without a header"},
                    TImageFile{"JpegWithoutFrame", TImageFile::File, "\xFF\xD8\xFF\xD9 and nothing else",
                               "the JPEG image is damaged"},
                    TImageFile{"GifWithoutSize", TImageFile::File, std::string("GIF89a\0\0\0\0\0\0\0;", 14),
                               "the GIF image is damaged"},
                    TImageFile{"TiffTooLargeToDecode", TImageFile::File, greyTiff(40000, 40000),
                               "the TIFF page cannot be decoded: the TIFF page is 40000 x 40000 pixels"},
                    TImageFile{"TiffOfAnUnknownCompression", TImageFile::File, greyTiff(4, 4, 33333),
                               "the TIFF page cannot be decoded: its compression (33333) is not one libtiff decodes"},
                    TImageFile{"WmfWithDamagedRecord", TImageFile::File, wmfWithADamagedRecord(),
                               "the Windows metafile (WMF) could not be converted: "}),
    [](const testing::TestParamInfo<TImageFile>& i) { return std::string(i.param.name); });

// An attachment from a file that is not there fails with the code and the
// cause, not with what an earlier operation left behind.
TEST(FacadeErrors, AttachmentFromAMissingFileSaysSo) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("note.txt"), "a note");
  TPavona f;
  struct {
    const char* what;
    std::function<int32_t()> call;
    int32_t code;
    const char* cause;
  } cases[] = {
      {"EmbedFile(missing)", [&] { return f.EmbedFile(u"a", NativePathToWide(dir.File("absent.txt")), u""); },
       pvlErrUnreadable, "not found"},
      {"EmbedFile(folder)", [&] { return f.EmbedFile(u"a", NativePathToWide(dir.Path()), u""); }, pvlErrUnreadable,
       "not a file"},
      {"EmbedFile(no title)", [&] { return f.EmbedFile(u"", NativePathToWide(dir.File("note.txt")), u""); },
       pvlErrBadArgument, "an attached file needs a name"},
      {"CreateEmbeddedFile(missing)",
       [&] { return f.CreateEmbeddedFile(NativePathToWide(dir.File("absent.txt")), u""); }, pvlErrUnreadable,
       "not found"},
  };
  for (const auto& c : cases) {
    f.SetLastErrorCode(pvlErrWrongPassword);  // a stale failure
    EXPECT_EQ(c.call(), 0) << c.what;
    EXPECT_EQ(f.LastErrorCode(), c.code) << c.what;
    EXPECT_EQ(f.LastErrorMessage(), c.cause) << c.what;
  }
  EXPECT_EQ(f.EmbeddedFileCount(), 0);
  // A second attachment of one name is refused, with its reason, and the
  // first stays the only one.
  ASSERT_EQ(f.EmbedFile(u"a", NativePathToWide(dir.File("note.txt")), u""), 1);
  EXPECT_EQ(f.LastErrorCode(), 0);
  EXPECT_EQ(f.EmbedFile(u"a", NativePathToWide(dir.File("note.txt")), u""), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.LastErrorMessage(), "an attached file of that name exists already");
  EXPECT_EQ(f.EmbeddedFileCount(), 1);

  // Saving an attachment that is not there, or has no content, fails with
  // its cause too.
  f.SetLastErrorCode(pvlErrWrongPassword);
  EXPECT_EQ(f.SaveEmbeddedFileToFile(2, NativePathToWide(dir.File("second.txt"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.LastErrorMessage(), "no attached file of that number");
  ASSERT_EQ(f.LoadFromString(pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R "
                                               "/Names << /EmbeddedFiles << /Names [(e) 4 0 R] >> >> >>",
                                               "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
                                               "<< /Type /Filespec /F (e) /EF << /F 5 0 R >> >>", "STREAM:"}),
                             u""),
            1);
  EXPECT_EQ(f.SaveEmbeddedFileToFile(1, NativePathToWide(dir.File("e"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  EXPECT_EQ(f.LastErrorMessage(), "the attached file has no content");
}

// Page images and a print file that would replace the document's own file
// are refused with that reason as the cause, not only the code's meaning.
TEST(FacadeErrors, OutputOverTheOwnFileGivesTheReason) {
  pvltest::TempDir dir;
  const std::string own = dir.File("page1.pdf");
  pvltest::WriteFile(own, kOnePage);
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(NativePathToWide(own), u""), 1);
  ASSERT_EQ(f.RenderPagesToFile(72, 1, 1, pofPNG, NativePathToWide(dir.File("page%p.pdf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.LastErrorMessage(), "a page image would replace the document's own file");
  EXPECT_EQ(f.LastErrorMessage(), f.LastRenderMessage());

  f.SetPrintOutputFile(NativePathToWide(own));
  ASSERT_EQ(f.PrintDocument(u"Print to file", 1, 1, f.PrintOptions(0, 0, u"t")), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.LastErrorMessage(), "the print file would replace the document's own file");
  EXPECT_EQ(f.LastErrorMessage(), f.LastRenderMessage());
  EXPECT_EQ(pvltest::ReadFile(own), kOnePage);
}

// The WMF code means a Windows metafile whose records could not be
// converted (WMF files are read): its words say so, and the cause names
// what was wrong; pvl emf2pdf prints both.
TEST(FacadeErrors, UnconvertibleWmfSaysItsRecordsCouldNotBeConverted) {
  const std::string text = FacadeErrorText(TPavona::pvlErrMetafileWMF);
  EXPECT_NE(text.find("could not be converted"), std::string::npos) << text;
  EXPECT_EQ(text.find("not converted"), std::string::npos) << text;

  pvltest::TempDir dir;
  const std::string wmf = dir.File("damaged.wmf");
  pvltest::WriteFile(wmf, wmfWithADamagedRecord());
  TPavona f;
  ASSERT_EQ(f.DrawMetafilePage(NativePathToWide(wmf)), 0);
  EXPECT_EQ(f.LastErrorCode(), TPavona::pvlErrMetafileWMF);
  EXPECT_EQ(f.LastErrorMessage().rfind("the Windows metafile (WMF) could not be converted: ", 0), 0u)
      << f.LastErrorMessage();

  const auto r = pvltest::RunCommand({pvldoc::PvlPath(), "emf2pdf", wmf, "--out", dir.File("out.pdf")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find(f.LastErrorMessage()), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("are not converted"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.pdf")));
}

// A list of one file is copied only when a merge could read that file;
// otherwise the reader's code and cause, and no output.
TEST(FacadeErrors, MergingAListOfOneFileChecksThatItIsAPdf) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("letter.pdf"), "this is a letter, not a PDF file\n");
  pvltest::WriteFile(dir.File("header-only.pdf"), "%PDF-1.4\n%%EOF\n");
  pvltest::WriteFile(dir.File("sound.pdf"), kOnePage);
  const struct {
    const char* input;
    int32_t result, code;
    const char* cause;
  } cases[] = {
      {"letter.pdf", 0, pvlErrNoXRef, "no %PDF- header in the first 1024 bytes"},
      {"header-only.pdf", 0, pvlErrNoXRef, "no cross-reference data or trailer"},
      {"absent.pdf", 0, pvlErrUnreadable, "absent.pdf"},
      {"sound.pdf", 1, 0, ""},
  };
  for (const auto& c : cases) {
    TPavona f;
    const std::string out = dir.File(std::string("merged-") + c.input);
    f.AddToFileList(u"one", NativePathToWide(dir.File(c.input)));
    EXPECT_EQ(f.MergeFileList(u"one", NativePathToWide(out)), c.result) << c.input;
    EXPECT_EQ(f.LastErrorCode(), c.code) << c.input;
    EXPECT_NE(f.LastErrorMessage().find(c.cause), std::string::npos) << c.input << ": " << f.LastErrorMessage();
    EXPECT_EQ(std::filesystem::exists(out), c.result == 1) << c.input;
    if (c.result == 1) EXPECT_EQ(pvltest::ReadFile(out), kOnePage);
  }
  TPavona f;
  EXPECT_EQ(f.MergeFileList(u"no such list", NativePathToWide(dir.File("x.pdf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);

  // A plain copy of a file that is not there says so, not what came before.
  f.SetLastErrorCode(pvlErrWrongPassword);
  EXPECT_EQ(f.CopyFile(NativePathToWide(dir.File("absent.pdf")), NativePathToWide(dir.File("copy.pdf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  EXPECT_EQ(f.LastErrorMessage(), "not found");
  EXPECT_FALSE(std::filesystem::exists(dir.File("copy.pdf")));
}

}  // namespace
