#include "graphics/PavonaColorManagement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "objects/PavonaStructure.h"
#include "platform/Bitmap.h"

namespace {

TEST(SimpleColorManager, CMYKBothMethods) {
  TPDFSimpleColorManager m;
  double rgb[3];
  const double white[4] = {0, 0, 0, 0}, black[4] = {0, 0, 0, 1};
  m.CMYKToRGB(white, rgb);
  EXPECT_EQ(m.RGBToColor(rgb), 0xFFFFFFu);
  m.CMYKToRGB(black, rgb);
  EXPECT_NEAR(rgb[0], 0.1373, 1e-9);
  EXPECT_NEAR(rgb[1], 0.1216, 1e-9);
  EXPECT_NEAR(rgb[2], 0.1255, 1e-9);
  m.SetCMYKMethod(cmykSimple);
  m.CMYKToRGB(white, rgb);
  EXPECT_EQ(m.RGBToColor(rgb), 0xFFFFFFu);
  m.CMYKToRGB(black, rgb);
  EXPECT_EQ(m.RGBToColor(rgb), 0u);
  const double half[4] = {0.5, 0, 1, 0.5};
  m.CMYKToRGB(half, rgb);
  EXPECT_DOUBLE_EQ(rgb[0], 0.25);
  EXPECT_DOUBLE_EQ(rgb[1], 0.5);
  EXPECT_DOUBLE_EQ(rgb[2], 0.0);
}

TEST(SimpleColorManager, PackingClampsEveryChannel) {
  TPDFSimpleColorManager m;
  const double over[3] = {1.2, -0.1, 0.5};
  EXPECT_EQ(m.RGBToColor(over), 8388863u);  // red 255, green 0, blue 128
  // Out-of-range and non-finite values never spill into the next channel.
  EXPECT_EQ(PackRGBColor(300, 0, 0), 0x0000FFu);
  EXPECT_EQ(PackRGBColor(0, 2, -5), 0x00FF00u);
  EXPECT_EQ(PackRGBColor(NAN, INFINITY, -INFINITY), 0x00FF00u);
  EXPECT_EQ(PackRGBColor(0.5, 0.5, 0.5), 0x808080u);
}

TEST(SimpleColorManager, LabAndWhitePoint) {
  TPDFSimpleColorManager m;
  double rgb[3];
  const double white[3] = {100, 0, 0}, black[3] = {0, 0, 0};
  m.LabToRGB(white, rgb);
  EXPECT_EQ(m.RGBToColor(rgb), 0xFFFFFFu);
  m.LabToRGB(black, rgb);
  EXPECT_EQ(m.RGBToColor(rgb), 0u);
  // A strongly red Lab colour: red dominates.
  const double red[3] = {54, 80, 67};
  m.LabToRGB(red, rgb);
  EXPECT_GT(rgb[0], 0.8);
  EXPECT_LT(rgb[1], 0.2);
  EXPECT_FALSE(m.SetWhitePoint(0.9642, 0.9, 0.8249));
  EXPECT_DOUBLE_EQ(m.GetWhiteX(), 0.9505);
  EXPECT_TRUE(m.SetWhitePoint(0.9642, 1, 0.8249));
  EXPECT_DOUBLE_EQ(m.GetWhiteZ(), 0.8249);
  EXPECT_FALSE(m.SetWhitePoint(0, 1, 1));
  EXPECT_DOUBLE_EQ(m.GetWhiteZ(), 1.089);
}

TEST(ColorSpaces, PostScriptEscaping) {
  EXPECT_EQ(EscapePostScriptString("Spot"), "Spot");
  EXPECT_EQ(EscapePostScriptString("a(b)c\\d"), "a\\(b\\)c\\\\d");
  EXPECT_EQ(EscapePostScriptString(std::string("x\ny\0\xE9", 5)), "x\\012y\\000\\351");
}

class SpotFixture : public ::testing::Test {
protected:
  void SetUp() override {
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      auto it = objects.find(number);
      return it == objects.end() ? nullptr : it->second;
    };
  }
  TPDFArray* array(const std::string& text) { return PDFAsArray(pool.ParseObject(text)); }
  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
  TPDFSimpleColorManager manager;
};

TEST_F(SpotFixture, SeparationCMYKText) {
  TPDFSeparationColorSpace cs(&manager);
  cs.Load(array("[/Separation /Spot /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0.2 0.4 0.6 0.8] >>]"),
          "CS0");
  EXPECT_EQ(cs.GetColorant(), "Spot");
  EXPECT_EQ(cs.GetAlternate(), "DeviceCMYK");
  EXPECT_EQ(cs.GetName(), "CS0");
  ASSERT_NE(cs.GetTintTransform(), nullptr);
  cs.GetPostScript(0.5);
  EXPECT_EQ(cs.GetPostScriptText(), "0.2 0.4 0.6 0.8 (Spot) findcmykcustomcolor 0.5 setcustomcolor");
  double rgb[3];
  const double cmyk[4] = {0.1, 0.2, 0.3, 0.4};
  manager.CMYKToRGB(cmyk, rgb);
  EXPECT_EQ(cs.GetColor(), manager.RGBToColor(rgb));
  // A tint asked again comes from the cache.
  cs.GetPostScript(0.5);
  EXPECT_EQ(cs.GetCacheCount(), 1u);
  cs.GetPostScript(0.25);
  EXPECT_EQ(cs.GetCacheCount(), 2u);
  // The cache is bounded.
  for (int i = 0; i < 2500; ++i) cs.GetPostScript(i / 2500.0);
  EXPECT_LE(cs.GetCacheCount(), TPDFSpotColorSpace::kMaxCachedColors);
}

TEST_F(SpotFixture, SeparationNamesAreEscapedAndRGBIsClamped) {
  TPDFSeparationColorSpace cs(&manager);
  cs.Load(array("[/Separation /Bad#28name#29 /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [2 -1 0.5] >>]"),
          "CS1");
  cs.GetPostScript(1);
  EXPECT_EQ(cs.GetColor(), PackRGBColor(1, 0, 0.5));  // 2 and -1 clamped, never carried into green
  EXPECT_EQ(cs.GetPostScriptText(), "2 -1 0.5 setrgbcolor");

  TPDFSeparationColorSpace cmyk(&manager);
  cmyk.Load(array("[/Separation /Bad#28name#29 /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [1 0 0 0] >>]"),
            "CS2");
  cmyk.GetPostScript(1);
  EXPECT_EQ(cmyk.GetPostScriptText(), "1 0 0 0 (Bad\\(name\\)) findcmykcustomcolor 1 setcustomcolor");
}

TEST_F(SpotFixture, SeparationAlternatesAndFallbacks) {
  objects[4] = pool.ParseObject("<< /N 1 >>");
  objects[5] = pool.ParseObject("<< /N 3 /Alternate /DeviceGray >>");
  TPDFSeparationColorSpace gray(&manager);
  gray.Load(array("[/Separation /G [/ICCBased 4 0 R] << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] >>]"), "G");
  EXPECT_EQ(gray.GetAlternate(), "DeviceGray");
  gray.GetPostScript(0.25);
  EXPECT_EQ(gray.GetPostScriptText(), "0.75 0.75 0.75 setrgbcolor");
  EXPECT_EQ(gray.GetColor(), PackRGBColor(0.75, 0.75, 0.75));
  TPDFSeparationColorSpace alt(&manager);
  alt.Load(array("[/Separation /G [/ICCBased 5 0 R] << /FunctionType 2 /Domain [0 1] >>]"), "G");
  EXPECT_EQ(alt.GetAlternate(), "DeviceGray");

  TPDFSeparationColorSpace lab(&manager);
  lab.Load(array("[/Separation /L [/Lab << /WhitePoint [0.9505 1 1.089] /Range [-50 50 -60 60] >>] "
                 "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [100 0 0] >>]"),
           "L");
  ASSERT_NE(lab.GetLabSpace(), nullptr);
  EXPECT_EQ(lab.GetLabSpace()->AMin, -50);
  EXPECT_EQ(lab.GetLabSpace()->BMax, 60);
  lab.GetPostScript(1);
  EXPECT_EQ(lab.GetColor(), 0xFFFFFFu);
  EXPECT_EQ(lab.GetPostScriptText(), "1 1 1 setrgbcolor");

  // No transform, a malformed one, or the wrong shape: black and 0.5 setgray.
  for (const char* text :
       {"[/Separation /S /DeviceCMYK]", "[/Separation /S /DeviceCMYK << /FunctionType 0 /Domain [0 1] /Range [0 1] >>]",
        "[/Separation /S /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] >>]",
        "[/Separation /S /Pattern << /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 1 1] >>]"}) {
    TPDFSeparationColorSpace cs(&manager);
    cs.Load(array(text), "S");
    cs.GetPostScript(0.3);
    EXPECT_EQ(cs.GetColor(), 0u) << text;
    EXPECT_EQ(cs.GetPostScriptText(), "0.5 setgray") << text;
  }
}

TEST_F(SpotFixture, DeviceN) {
  TPDFDeviceNColorSpace cs(&manager);
  cs.Load(array("[/DeviceN [/Cyan /Spot] /DeviceCMYK << /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1] >>]"),
          "DN");
  EXPECT_EQ(cs.GetColorantCount(), 2);
  EXPECT_EQ(cs.GetColorant(), "[Cyan,Spot]");
  // The function stream is not a stream here, so build one with a program.
  TPDFDictionary* fd = PDFAsDictionary(pool.ParseObject("<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1] >>"));
  objects[9] = pool.NewStreamWith("{ 0 0 }", fd);  // C = tint 1, M = tint 2, Y = K = 0
  cs.Load(array("[/DeviceN [/Cyan /Spot] /DeviceCMYK 9 0 R]"), "DN");
  ASSERT_NE(cs.GetTintTransform(), nullptr);
  const double tints[2] = {0.5, 0.25};
  cs.GetPostScript(tints);
  EXPECT_EQ(cs.GetPostScriptText(), "1 0.25 0 0 ([Cyan,Spot]) findcmykcustomcolor 0.5 0.25 setcustomcolor");
  EXPECT_EQ(cs.GetColor(), PackRGBColor(0.5, 0.75, 1));  // simple CMYK method
  cs.GetPostScript(tints);
  EXPECT_EQ(cs.GetCacheCount(), 1u);
  const double one[1] = {0.5};
  cs.GetPostScript(one);  // wrong number of tints
  EXPECT_EQ(cs.GetPostScriptText(), "0.5 setgray");
}

TEST(LabColorSpace, LoadAndScale) {
  TPDFStructure pool;
  TPDFLabColorSpace lab;
  lab.Load(PDFAsArray(pool.ParseObject("[/Lab << /WhitePoint [0.9642 1 0.8249] /Range [-20 30 -40 0] >>]")));
  EXPECT_DOUBLE_EQ(lab.WhiteX, 0.9642);
  EXPECT_DOUBLE_EQ(lab.ScaleA(255, 255), 30);
  EXPECT_DOUBLE_EQ(lab.ScaleB(0, 255), -40);
  EXPECT_DOUBLE_EQ(lab.ScaleA(5, 0), -20);  // no division by zero
  TPDFLabColorSpace bad;
  bad.Load(PDFAsArray(pool.ParseObject("[/Lab << /WhitePoint [1 2] /Range [1 2 3] >>]")));
  EXPECT_EQ(bad.WhiteX, 0);
  EXPECT_EQ(bad.AMin, -100);
  // The white point of zeros is rejected by the manager, which falls back.
  TPDFSimpleColorManager m;
  const double white[3] = {100, 0, 0};
  EXPECT_EQ(CalibratedToRGB(bad, white, &m), 0xFFFFFFu);
  EXPECT_DOUBLE_EQ(m.GetWhiteX(), 0.9505);
  // The D50 white of the space is warmer than the default white point.
  TColor warm = CalibratedToRGB(lab, white, &m);
  EXPECT_DOUBLE_EQ(m.GetWhiteX(), 0.9642);
  EXPECT_EQ(GetRValue(warm), 255);
  EXPECT_LT(GetBValue(warm), 240);
}

}  // namespace
