// JPEG 2000 (JP2 files and J2K codestreams) loaded into and saved from a
// bitmap through OpenJPEG, with the channel roles of the JP2
// channel-definition box ("cdef").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bitmap.h"

class EJpeg2000Error : public EBitmapError {
public:
  using EBitmapError::EBitmapError;
};

// Channel roles: 0 none, 1-3 red, green, blue, 4 luminance or gray, 5-6 Cb
// and Cr, 7 opacity.
enum TChannelRole : int32_t { crNone, crRed, crGreen, crBlue, crLuminance, crCb, crCr, crOpacity };

class TJpeg2000Bitmap : public TBitmap {
public:
  TJpeg2000Bitmap() = default;
  // Decodes from the stream's position to its end; afterwards the stream stands
  // after the bytes the decoder used. Raises EJpeg2000Error.
  void LoadFromStream(TStream& stream) override;
  // Writes a JP2 file; raises EJpeg2000Error.
  void SaveToStream(TStream& stream) const override;

  uint8_t Quality = 80;
  bool Lossless = false;
  uint8_t Reserved = 0;  // a third switch, read by nothing
};

// Every component of a JPEG 2000 image at the image's full size, one byte per
// sample, for callers that give the channels their own meaning (PDF images
// with a colour space, an alpha channel or more than four components).
struct TJpeg2000Components {
  int Width = 0, Height = 0;
  int ColourSpace = -1;            // 1 sRGB (also converted sYCC), 2 grey, -1 unknown
  std::vector<int32_t> Roles;      // channel role of each component
  std::vector<uint8_t> Alpha;      // 0 colour, 1 opacity, 2 premultiplied opacity
  std::vector<std::string> Planes;  // Width x Height samples of each component
};
// Decodes a JP2 file or codestream. An image of more than maxPixels pixels is
// refused before its samples are decoded. Raises EJpeg2000Error.
// With paletteIndices the samples are palette indices of the caller's own
// (a PDF Indexed colour space): the file's palette is not applied and the
// samples keep their values instead of being scaled to 8 bits.
void DecodeJpeg2000Components(std::string_view data, int64_t maxPixels, TJpeg2000Components& out,
                              bool paletteIndices = false);

// 1: JP2 signature box, 2: raw codestream (SOC, SIZ), 0: neither. The stream
// position does not change.
int DetectJpeg2000FileType(TStream& stream);

// The channel-definition box of a JP2 file and the roles it gives, for the
// number of components the image has and its enumerated colour space (16
// sRGB, 17 grey, 18 sYCC). Empty when there is no box. A malformed box
// gives no roles.
std::vector<int32_t> ReadJP2ChannelDefinitionBox(std::string_view jp2, uint32_t numComponents,
                                                 uint32_t enumeratedColourSpace, bool* present = nullptr);
// The "cdef" box for the given roles, or empty when any role lies outside 1..7.
std::string WriteJP2ChannelDefinitionBox(const std::vector<int32_t>& roles);
// Compression rate of a lossy save.
float Jpeg2000Rate(uint8_t quality, int width, int height, int components);
