// Images in ICCBased colour spaces go through their embedded profile, as
// poppler and MuPDF draw them; a damaged profile falls back to /Alternate.
#include <gtest/gtest.h>

#include <lcms2.h>

#include <cstdlib>
#include <vector>

#include "IccProfileBytes.h"
#include "TestSupport.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaImageDecoderInternal.h"

namespace {

// An RGB profile whose red and blue primaries are exchanged: a sample that
// is pure red in the profile is blue on screen, so a decoder that ignores
// the profile is caught at once.
std::string SwappedPrimariesProfile(double gammaValue = 2.2) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  cmsCIExyYTRIPLE primaries = {{0.15, 0.06, 1.0}, {0.30, 0.60, 1.0}, {0.64, 0.33, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, gammaValue);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  return pvltest::ProfileBytes(profile);
}

// A one-page PDF showing a 2 x 1 image (red, green samples) in the space.
std::string ImagePdf(const std::string& profile) {
  const std::string content = "q 100 0 0 100 0 0 cm /Im Do Q";
  const std::string pixels("\xFF\x00\x00\x00\xFF\x00", 6);
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /XObject << /Im 5 0 R >> >> "
      "/Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace [/ICCBased 6 0 R] "
      "/Length 6 >>\nstream\n" + pixels + "\nendstream",
      "<< /N 3 /Alternate /DeviceRGB /Length " + std::to_string(profile.size()) + " >>\nstream\n" + profile +
          "\nendstream"};
  return pvltest::MakePdf(objects);
}

// Our decode of the image in the space [/ICCBased profile] (Alternate RGB).
std::array<int, 6> Decode(const std::string& profile) {
  TPDFStructure pool;
  TPDFStream* icc = pool.NewStreamWith(profile, PDFAsDictionary(pool.ParseObject("<< /N 3 /Alternate /DeviceRGB >>")));
  TPDFDictionary* dict = PDFAsDictionary(pool.ParseObject("<< /Width 2 /Height 1 /BitsPerComponent 8 >>"));
  dict->SetValue("ColorSpace", pool.NewArrayOf({pool.NewName("ICCBased"), icc}));
  TPDFImageDecoder dec;
  dec.SetImage(pool.NewStreamWith(std::string("\xFF\x00\x00\x00\xFF\x00", 6), dict));
  EXPECT_TRUE(dec.IsReady()) << dec.GetErrorText();
  std::array<int, 6> rgb{};
  if (!dec.GetImageBitmap()) return rgb;
  const uint8_t* row = dec.GetImageBitmap()->ScanLine(0);  // B, G, R
  for (int x = 0; x < 2; ++x)
    for (int c = 0; c < 3; ++c) rgb[size_t(3 * x + c)] = row[3 * x + 2 - c];
  return rgb;
}

TEST(ImageDecoderICC, ProfilesAreAppliedAsPopplerAppliesThem) {
  if (!pvltest::HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm is missing";
  const std::string profile = SwappedPrimariesProfile();
  const std::array<int, 6> ours = Decode(profile);
  EXPECT_GT(ours[2], 200) << "the red sample is blue through the profile";
  EXPECT_LT(ours[0], 60);

  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("icc.pdf"), ImagePdf(profile));
  auto r = pvltest::RunCommand({"pdftoppm", "-r", "72", "-singlefile", dir.File("icc.pdf"), dir.File("ref")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string ppm = pvltest::ReadFile(dir.File("ref.ppm"));
  // "P6\n100 100\n255\n", then rows of RGB; the centres of the two halves.
  const size_t header = ppm.find("255\n") + 4;
  for (int x = 0; x < 2; ++x) {
    const size_t at = header + (50 * 100 + 25 + 50 * x) * 3;
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(ours[size_t(3 * x + c)], static_cast<uint8_t>(ppm[at + c]), 6) << "pixel " << x << " channel " << c;
  }
}

TEST(ImageDecoderICC, DamagedProfilesFallBackToTheAlternateSpace) {
  for (const std::string& damaged : {std::string(), std::string("not a profile"), SwappedPrimariesProfile().substr(0, 60)}) {
    const std::array<int, 6> rgb = Decode(damaged);
    EXPECT_EQ(rgb, (std::array<int, 6>{255, 0, 0, 0, 255, 0})) << damaged.size();
  }
}

// Making a transform costs more than converting a page's pictures: the
// transforms of the last few profiles are shared, and one pushed out is made
// afresh with the same colours.
TEST(ImageDecoderICC, TransformsOfRecentProfilesAreShared) {
  const std::string profile = SwappedPrimariesProfile();
  const auto first = TICCTransform::Create(profile, 3);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TICCTransform::Create(profile, 3), first);
  EXPECT_EQ(TICCTransform::Create(profile, 1), nullptr);  // an RGB profile for grey samples
  EXPECT_EQ(TICCTransform::Create(profile, 3), first);
  EXPECT_EQ(TICCTransform::Create("not a profile", 3), nullptr);
  const double red[3] = {1, 0, 0};
  uint8_t before[3], after[3];
  first->ToRGB(red, before);
  for (double g : {1.0, 1.5, 1.8, 2.4, 2.6}) ASSERT_NE(TICCTransform::Create(SwappedPrimariesProfile(g), 3), nullptr);
  const auto again = TICCTransform::Create(profile, 3);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, first);
  again->ToRGB(red, after);
  EXPECT_EQ(std::vector<uint8_t>(after, after + 3), std::vector<uint8_t>(before, before + 3));
  EXPECT_GT(before[2], 200);  // the swapped primaries: red in the profile is blue
}

}  // namespace
