// Collects the text pieces that the renderer shows while extracting text,
// joins pieces that belong together into runs, and writes the page's text
// as rows with font, colour, size and corners, as a character grid, or as
// one run per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/PavonaMatrix.h"

struct TPDFTextFunnelBlock {
  TPDFPoint LowerLeft, LowerRight, UpperRight, UpperLeft;  // device space
  std::u16string Text;
  std::vector<double> Advances;  // one per character, device units
  std::string FontName;
  std::string OrientationKey;
  std::string ColorText;
  double DeviceSize = 0;
  // Layout, filled when formatting.
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0, Width = 0, Height = 0;
  int32_t PrevRun = -1, NextRun = -1;
  uint8_t Printed = 0;
  int32_t CentreX = 0, CentreY = 0;
};

class TPDFTextFunnel {
public:
  TPDFTextFunnel() = default;

  // Settings.
  int32_t OriginCorner = 0;  // 0 lower left, 1 upper left, 2 upper right, 3 lower right
  double UnitScale = 1.0;
  double PageWidth = 0;
  double PageHeight = 0;
  uint8_t KeepWordsApart = 0;
  uint8_t AddGlyphWidths = 0;
  uint8_t MergeAllowed = 1;
  double GapSetting = 0.7;
  uint8_t MergeAcrossFonts = 0;
  uint8_t MergeAcrossColors = 0;
  uint8_t MergeAcrossOrientations = 0;
  uint8_t SortRuns = 0;
  uint8_t RegionSet = 0;
  double RegionLeft = 0, RegionTop = 0, RegionRight = 0, RegionBottom = 0;
  uint8_t CMYKColorText = 0;

  // Working data: the runs, and the order in which they are written (indexes into Runs).
  std::vector<TPDFTextFunnelBlock> Runs;
  std::vector<int32_t> RunList;

  void Clear();
  void SetRegion(double left, double top, double width, double height);
  void SetMerge(bool flag) { MergeAllowed = flag ? 1 : 0; }
  // One shown piece; height, width, bottom and left are in the glyph units
  // that matrix maps to device space; advances likewise, one per character.
  void AddText(const TPDFMatrix& matrix, std::u16string_view text, const std::vector<double>& advances, double height,
               double width, double bottom, double left, double deviceSize, std::string_view fontName,
               std::string_view colorText);

  // Rows with font, colour, size, corners and text (options 3 to 6).
  std::u16string GetDetailedText();
  // Links runs into lines for the grid layout (option 7, first step).
  void LinkRuns();
  // The character grid (option 7, after LinkRuns).
  std::u16string GetLayoutText();
  // One run per line (option 8).
  std::u16string GetSimpleText();

private:
  void prepare();
  void sortTopLeft();
  std::string writtenX(double x) const;
  std::string writtenY(double y) const;
};
