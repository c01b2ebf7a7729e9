// Text funnel: joining pieces into runs, and the three layouts.
#include <gtest/gtest.h>

#include "objects/PavonaExtra.h"
#include "render/PavonaTextFunnel.h"

namespace {

const TPDFMatrix kIdentity{1, 0, 0, 1, 0, 0};

// A piece of size 12 on baseline y, from x to x + width.
void Piece(TPDFTextFunnel& f, std::u16string_view text, double x, double width, double y = 100,
           const TPDFMatrix& m = kIdentity, const char* font = "F", const char* color = "#000000") {
  std::vector<double> adv(text.size(), text.empty() ? 0 : width / static_cast<double>(text.size()));
  f.AddText(m, text, adv, 10, width, y, x, 12, font, color);
}

std::string U8(const std::u16string& s) { return WideToUTF8(s); }

struct TGapCase {
  double gap;
  double gapSetting;
  uint8_t keepApart;
  double dy;
  const char* runs;  // the run texts joined by "|"
};

class FunnelGap : public ::testing::TestWithParam<TGapCase> {};

TEST_P(FunnelGap, JoinsBySizeOfTheGap) {
  const TGapCase& c = GetParam();
  TPDFTextFunnel f;
  f.GapSetting = c.gapSetting;
  f.KeepWordsApart = c.keepApart;
  Piece(f, u"ab", 0, 20);
  Piece(f, u"cd", 20 + c.gap, 20, 100 + c.dy);
  std::string joined;
  for (const auto& r : f.Runs) joined += (joined.empty() ? "" : "|") + U8(r.Text);
  EXPECT_EQ(joined, c.runs) << "gap " << c.gap;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FunnelGap,
    ::testing::Values(TGapCase{0, 0.7, 0, 0, "abcd"},       // touching
                      TGapCase{3.1, 0.7, 0, 0, "abcd"},     // continuation (below 12 / 3.75)
                      TGapCase{3.5, 0.7, 0, 0, "abcd"},     // tight same-line match (below 3.6)
                      TGapCase{3.7, 0.7, 0, 0, "ab cd"},    // a word gap
                      TGapCase{11.9, 0.7, 0, 0, "ab cd"},   // still on the line
                      TGapCase{12, 0.7, 0, 0, "ab|cd"},     // too far
                      TGapCase{7.1, 1.4, 0, 0, "abcd"},     // the tight threshold doubles
                      TGapCase{7.3, 1.4, 0, 0, "ab cd"},    //
                      TGapCase{3.7, 0.7, 1, 0, "ab|cd"},    // words kept apart
                      TGapCase{3.5, 0.7, 1, 0, "abcd"},     // a tight match still joins
                      TGapCase{5, 0.7, 0, 2, "ab|cd"},      // another baseline: continuation only
                      TGapCase{1, 0.7, 0, 2.5, "abcd"},     // a near start continues across baselines
                      TGapCase{-10, 0.7, 0, 0, "abcd"}));  // starting inside the run on its baseline

TEST(TextFunnel, JoiningUpdatesCornersAndAdvances) {
  TPDFTextFunnel f;
  Piece(f, u"ab", 0, 20);
  Piece(f, u"cd", 25, 20);
  ASSERT_EQ(f.Runs.size(), 1u);
  const TPDFTextFunnelBlock& r = f.Runs[0];
  EXPECT_EQ(r.LowerRight.x, 45);
  EXPECT_EQ(r.UpperRight.y, 110);
  EXPECT_EQ(r.Advances, (std::vector<double>{10, 10, 5, 10, 10}));  // the space takes the gap
  EXPECT_EQ(r.OrientationKey, "1001");
}

TEST(TextFunnel, FontsColoursOrientationsAndTheMergeSwitch) {
  TPDFTextFunnel f;
  Piece(f, u"a", 0, 10, 100, kIdentity, "F1");
  Piece(f, u"b", 10, 10, 100, kIdentity, "F2");
  Piece(f, u"c", 20, 10, 100, kIdentity, "F2", "#FF0000");
  Piece(f, u"d", 30, 10, 100, TPDFMatrix{2, 0, 0, 1, -30, 0}, "F2", "#FF0000");
  EXPECT_EQ(f.Runs.size(), 4u);
  TPDFTextFunnel g;
  g.MergeAcrossFonts = g.MergeAcrossColors = g.MergeAcrossOrientations = 1;
  Piece(g, u"a", 0, 10, 100, kIdentity, "F1");
  Piece(g, u"b", 10, 10, 100, kIdentity, "F2");
  g.SetMerge(false);
  Piece(g, u"c", 20, 10, 100);
  Piece(g, u"d", 30, 10, 100);  // the switch is back on
  ASSERT_EQ(g.Runs.size(), 2u);
  EXPECT_EQ(U8(g.Runs[0].Text), "ab");
  EXPECT_EQ(U8(g.Runs[1].Text), "cd");
}

TEST(TextFunnel, RegionDropsPiecesOutside) {
  TPDFTextFunnel f;
  f.SetRegion(0, 200, 100, 150);  // x 0..100, y 50..200
  Piece(f, u"in", 10, 10, 60);
  Piece(f, u"low", 10, 10, 40);
  Piece(f, u"right", 150, 10, 60);
  ASSERT_EQ(f.Runs.size(), 1u);
  EXPECT_EQ(U8(f.Runs[0].Text), "in");
}

TEST(TextFunnel, DetailedRowsWithOriginCornersAndEscapes) {
  TPDFTextFunnel f;
  f.PageWidth = 600;
  f.PageHeight = 800;
  f.AddText(kIdentity, u"say \"hi\"\r\nok", {1, 2, 3}, 10, 40.5, 100, 72, 12.345, "Helv", "#FF0000");
  EXPECT_EQ(U8(f.GetDetailedText()),
            "\"Helv\",#FF0000,12.35,72,100,112.5,100,112.5,110,72,110,\"say \\\"hi\\\" \nok\"\r\n");
  f.OriginCorner = 1;
  f.UnitScale = 0.5;
  f.AddGlyphWidths = 1;
  EXPECT_EQ(U8(f.GetDetailedText()),
            "\"Helv\",#FF0000,12.35,36,750,56.25,750,56.25,745,36,745,\"say \\\"hi\\\" \nok\"\r\n0.5,1,1.5\r\n");
  f.OriginCorner = 2;
  f.UnitScale = 1;
  f.AddGlyphWidths = 0;
  EXPECT_EQ(U8(f.GetDetailedText()).substr(0, 40), "\"Helv\",#FF0000,12.35,528,700,487.5,700,4");
}

TEST(TextFunnel, SimpleTextSortedTopToBottom) {
  TPDFTextFunnel f;
  f.PageHeight = 800;
  Piece(f, u"second", 0, 30, 500);
  Piece(f, u"first", 0, 30, 700);
  Piece(f, u"right", 300, 30, 700);
  EXPECT_EQ(U8(f.GetSimpleText()), "second\r\nfirst\r\nright\r\n");
  f.SortRuns = 1;
  EXPECT_EQ(U8(f.GetSimpleText()), "first\r\nright\r\nsecond\r\n");
}

TEST(TextFunnel, GridLayoutPlacesRunsByLineAndColumn) {
  TPDFTextFunnel f;
  f.PageHeight = 800;
  // Top at 80 device units: line 10.
  Piece(f, u"Hello", 50, 30, 800 - 90);
  Piece(f, u"World", 150, 30, 800 - 90);
  // A second line 16 units further down.
  Piece(f, u"Next", 50, 24, 800 - 106);
  f.LinkRuns();
  std::string text = U8(f.GetLayoutText());
  std::string expected(9 * 2, ' ');
  for (int i = 0; i < 9; ++i) expected.replace(static_cast<size_t>(i) * 2, 2, "\r\n");
  expected += std::string(11, ' ') + "Hello" + std::string(15, ' ') + "World\r\n";
  expected += std::string(1, '\r') + "\n";  // line 11 is empty: Next is on line 12
  expected += std::string(11, ' ') + "Next\r\n";
  EXPECT_EQ(text, expected);
}

TEST(TextFunnel, TallRunsLeadNoLineAndHostileLayoutsStayBounded) {
  TPDFTextFunnel f;
  f.PageHeight = 800;
  // 200 units tall: no leader; it still prints as its own chain.
  f.AddText(kIdentity, u"tall", {}, 200, 20, 100, 10, 12, "F", "#000000");
  // Far below the page: the empty lines before it are capped.
  f.AddText(kIdentity, u"far", {}, 10, 20, -1e12, 10, 12, "F", "#000000");
  // Narrow overlapping runs that could link into a ring.
  for (int i = 0; i < 50; ++i) f.AddText(kIdentity, u"x", {}, 10, 1, 400, 100 + (i % 3), 0.1, "F", std::to_string(i));
  f.LinkRuns();
  std::u16string text = f.GetLayoutText();
  EXPECT_LT(text.size(), 40000u);
  EXPECT_NE(U8(text).find("tall"), std::string::npos);
  EXPECT_NE(U8(text).find("far"), std::string::npos);
  for (const auto& r : f.Runs) EXPECT_EQ(r.Printed, 1);
}

}  // namespace
