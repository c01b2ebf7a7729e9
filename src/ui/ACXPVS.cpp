#include "ui/ACXPVS.h"

namespace {
bool gLoaded = false;
std::array<void*, teThemeEntryCount> gEntries{};
}  // namespace

const std::array<const char*, teThemeEntryCount> kThemeEntryNames = {
    "OpenThemeData", "CloseThemeData", "DrawThemeBackground", "DrawThemeText", "GetThemeBackgroundContentRect",
    "GetThemeBackgroundExtent", "GetThemeTextExtent", "GetThemeTextMetrics", "GetThemeBackgroundRegion",
    "HitTestThemeBackground", "DrawThemeEdge", "DrawThemeIcon", "IsThemePartDefined",
    "IsThemeBackgroundPartiallyTransparent", "GetThemeColor", "GetThemeMetric", "GetThemeString", "GetThemeBool",
    "GetThemeInt", "GetThemeEnumValue", "GetThemePosition", "GetThemeFont", "GetThemeRect", "GetThemeMargins",
    "GetThemeIntList", "SetWindowTheme", "GetThemeFilename", "GetThemeSysColor", "GetThemeSysColorBrush",
    "GetThemeSysBool", "GetThemeSysSize", "GetThemeSysFont", "GetThemeSysString", "GetThemeSysInt", "IsThemeActive",
    "IsAppThemed", "GetWindowTheme", "EnableThemeDialogTexture", "IsThemeDialogTextureEnabled",
    "GetThemeAppProperties", "SetThemeAppProperties", "GetCurrentThemeName", "GetThemeDocumentationProperty",
    "DrawThemeParentBackground", "EnableTheming"};

void InitThemeLibrary() {
  if (gLoaded) return;
  // No visual-style library exists here: nothing is bound.
  gEntries.fill(nullptr);
}

void FreeThemeLibrary() {
  if (!gLoaded) return;
  gLoaded = false;
  gEntries.fill(nullptr);
}

bool ThemeLibraryLoaded() { return gLoaded; }

void* ThemeEntry(TThemeEntry entry) {
  if (entry < 0 || entry >= teThemeEntryCount) return nullptr;
  return gEntries[entry];
}
