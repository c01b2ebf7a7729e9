// State of the metafile converter shared by its frame and record handlers.
#pragma once

#include <cstdint>
#include <string>

#include "pages/PavonaMetafile.h"

struct TPDFMetafile::TState {
  int32_t MapMode = 1;
  double WinOrg[2] = {0, 0}, WinExt[2] = {1, 1}, VpOrg[2] = {0, 0}, VpExt[2] = {1, 1};
  TEmfXForm World;
  int32_t PolyFillMode = 1;
  bool BrushOn = true;
  uint32_t BrushColor = 0xFFFFFF;
  std::string BrushPattern;
  // The device context starts with the black pen of width 0 (one pixel).
  bool PenOn = true;
  uint32_t PenColor = 0;
  double PenWidth = 0;
  bool PenDashed = false;
  bool InPath = false;
  int32_t CurX = 0, CurY = 0;
  int32_t ArcDirection = 1;
  int32_t BkMode = 1;
  uint32_t BkColor = 0xFFFFFF;
  uint32_t TextAlign = 0;
  uint32_t TextColor = 0;
  int32_t ClipDepth = 0;
  double MiterLimit = 10;
  int32_t IcmMode = 2;
  TPDFFont* Font = nullptr;
  double FontHeight = 0;  // logical
  bool Underline = false;
  bool Strikeout = false;
  int32_t Escapement = 0;
  std::string FontName;  // face with style suffix
  int32_t Charset = 1;
};

struct TPDFMetafile::TObjectEntry {
  enum TKind { kBrush, kPen, kFont } Kind = kBrush;
  bool None = false;
  uint32_t Color = 0;
  std::string Pattern;
  double Width = 0;
  bool Dashed = false;
  std::string Face;  // with style suffix
  int32_t Height = 0;
  bool Underline = false, Strikeout = false;
  int32_t Charset = 1;
  int32_t Escapement = 0;
};

struct TPDFMetafile::TRecordHandler {
  uint32_t Type;
  // Bytes up to the end of the last fixed field the handler reads, type
  // and size included; arrays after them are checked where they are read.
  uint32_t MinSize;
  void (*Handle)(TPDFMetafile&, const TEmfRecord&);
};
