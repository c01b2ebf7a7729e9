// /Differences arrays and PDF text strings.
#include <gtest/gtest.h>

#include "objects/PavonaStructure.h"
#include "render/PavonaFontConst.h"

namespace {

TEST(FontConstText, DifferencesAreWrittenAtTheirCodes) {
  TPDFStructure pool;
  TPDFArray* diffs = pool.NewArrayOf({pool.NewNumeric(65), pool.NewName("B"), pool.NewName("C"), pool.NewNumeric(200),
                                      pool.NewName("Euro"), pool.NewString("ignored"), pool.NewName("next"),
                                      pool.NewNumeric(255), pool.NewName("last"), pool.NewName("beyond"),
                                      pool.NewNumeric(-5), pool.NewName("negative"), pool.NewNumeric(1e300),
                                      pool.NewName("huge")});
  TPDFGlyphNames names;
  BuildEncodingVector(pdfekStandard, names);
  ApplyDifferences(names, diffs);
  EXPECT_EQ(names[65], "B");
  EXPECT_EQ(names[66], "C");
  EXPECT_EQ(names[67], "C");  // untouched
  EXPECT_EQ(names[200], "Euro");
  EXPECT_EQ(names[201], "next");
  EXPECT_EQ(names[255], "last");
  ApplyDifferences(names, nullptr);
  EXPECT_EQ(names[65], "B");
}

TEST(FontConstText, PDFTextStrings) {
  EXPECT_EQ(PDFTextToWideString(std::string("\x80\x8D", 2)), u"\u2022\u201C");
  EXPECT_EQ(PDFTextToWideString(std::string("\xFE\xFF\x00\x41\x04\x10", 6)), u"A\u0410");
  EXPECT_EQ(PDFTextToWideString(std::string("\xFE\xFF\x00\x41\x04", 5)), u"A\u0400");
  EXPECT_EQ(PDFTextToWideString(""), u"");
  EXPECT_EQ(PDFTextToUTF8(std::string("caf\xE9", 4)), "caf\xC3\xA9");
  EXPECT_EQ(WinAnsiToPDFDocBytes("\x80\x95\x96" "A"), "\xA0\x80\x85" "A");
  EXPECT_EQ(WinAnsiToPDFDocBytes(std::string("\xFE\xFF\x80", 3)), std::string("\xFE\xFF\x80", 3));
}

}  // namespace
