// Windows metafiles (WMF) read by translating their records into the
// enhanced-metafile records our EMF reader and converters already take: our
// stand-in for the system's SetWinMetaFileBits. The counterpart of
// ConvertEmfToWmf (EmfWriter.h).
#pragma once

#include <string>
#include <string_view>

// A Windows metafile: placeable (IsPlaceableWmf) or a plain one that starts
// with the metafile header (type 1 or 2, nine words, version 0x100 or 0x300).
bool IsWindowsMetafile(std::string_view bytes);

// The EMF of a Windows metafile. The picture keeps its size: a placeable
// file's bounds at its units per inch, else the first window the file sets
// (or the extent of what it draws) in the units of its mapping mode, pixels
// at 96 dpi for the scalable modes. Drawing, object, state, clipping, text
// and bitmap records are translated; records of palettes, regions and
// escapes are left out. EEmfError (EmfReader.h) for a file that is not a
// sound Windows metafile.
std::string ConvertWmfToEmf(std::string_view wmf);
