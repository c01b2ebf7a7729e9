#include "graphics/PavonaTTFToVector.h"

#include <gtest/gtest.h>

TEST(TTFToVector, ConverterKeepsTheFontAndLeavesNoOutline) {
  TTTFToVectorConverter conv;
  EXPECT_EQ(conv.Font.Name, "Arial");
  EXPECT_EQ(conv.FontSize, 28);
  TFont f;
  f.Name = "Times New Roman";
  f.Style = fsBold | fsItalic;
  f.Charset = SHIFTJIS_CHARSET;
  conv.SetFont(f);
  EXPECT_EQ(conv.Font.Name, "Times New Roman");
  EXPECT_EQ(conv.Font.Style, fsBold | fsItalic);
  EXPECT_EQ(conv.Font.Charset, SHIFTJIS_CHARSET);
  // Contours added by hand are walked as their owner reads them; Prepare
  // (which is given no glyph) leaves the collection empty.
  conv.Curves().AddContour(1, 2);
  conv.Curves().AddSegment(3, 4);
  conv.Curves().AddSegment(5, 6);
  conv.Curves().AddContour(7, 8);
  ASSERT_EQ(conv.Curves().ContourCount(), 2);
  EXPECT_EQ(conv.Curves().ContourStart(1), (TPDFPoint{7, 8}));
  ASSERT_EQ(conv.Curves().Segments(0).size(), 2u);
  EXPECT_EQ(conv.Curves().Segments(0)[1].x, 5);
  EXPECT_TRUE(conv.Curves().Segments(1).empty());
  conv.Prepare();
  EXPECT_EQ(conv.Curves().ContourCount(), 0);
  EXPECT_THROW(conv.Curves().Segments(0), std::out_of_range);
}

TEST(TTFToVector, ImageListKeepsCopies) {
  TPDFImageList list;
  TPDFImageListItem item;
  item.DataForm = 1;
  item.Width = 10;
  item.Height = 20;
  item.Data = "\xFF\xD8jpeg";
  for (int i = 0; i < 8; ++i) item.Corners[i] = i * 1.5;
  list.Add(item);
  item.Data = "changed";
  item.DataForm = 3;
  list.Add(item);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(0).Data, "\xFF\xD8jpeg");
  EXPECT_EQ(list.Item(0).DataForm, 1);
  EXPECT_EQ(list.Item(0).Corners[7], 10.5);
  EXPECT_EQ(list.Item(1).DataForm, 3);
}
