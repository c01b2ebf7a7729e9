// Run-time binding of the visual-style library. This platform has none: the
// binding reports it as not loaded and every entry point stays empty, so
// callers draw themed parts with QStyle instead.
#pragma once

#include <array>

// Entry points in binding order.
enum TThemeEntry {
  teOpenThemeData, teCloseThemeData, teDrawThemeBackground, teDrawThemeText, teGetThemeBackgroundContentRect,
  teGetThemeBackgroundExtent, teGetThemeTextExtent, teGetThemeTextMetrics, teGetThemeBackgroundRegion,
  teHitTestThemeBackground, teDrawThemeEdge, teDrawThemeIcon, teIsThemePartDefined,
  teIsThemeBackgroundPartiallyTransparent, teGetThemeColor, teGetThemeMetric, teGetThemeString, teGetThemeBool,
  teGetThemeInt, teGetThemeEnumValue, teGetThemePosition, teGetThemeFont, teGetThemeRect, teGetThemeMargins,
  teGetThemeIntList, teSetWindowTheme, teGetThemeFilename, teGetThemeSysColor, teGetThemeSysColorBrush,
  teGetThemeSysBool, teGetThemeSysSize, teGetThemeSysFont, teGetThemeSysString, teGetThemeSysInt, teIsThemeActive,
  teIsAppThemed, teGetWindowTheme, teEnableThemeDialogTexture, teIsThemeDialogTextureEnabled,
  teGetThemeAppProperties, teSetThemeAppProperties, teGetCurrentThemeName, teGetThemeDocumentationProperty,
  teDrawThemeParentBackground, teEnableTheming, teThemeEntryCount
};

extern const std::array<const char*, teThemeEntryCount> kThemeEntryNames;

// Binds the library once; a second call does nothing.
void InitThemeLibrary();
// Releases the library when it was bound.
void FreeThemeLibrary();
bool ThemeLibraryLoaded();
// The bound entry point, or null.
void* ThemeEntry(TThemeEntry entry);
