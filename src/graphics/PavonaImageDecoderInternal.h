// Colour spaces of image samples as the image decoder resolves them. Private
// to the PavonaImageDecoder*.cpp files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graphics/PavonaColorManagement.h"
#include "graphics/PavonaFunctions.h"
#include "objects/PavonaStructure.h"

class TPDFImageDecoder;

// An image colour space resolved into what sample unpacking needs: the
// component count, the default /Decode and a conversion of decoded component
// values to RGB through the engine's colour manager, functions and Lab space.
class TPDFImageColorSpace {
public:
  enum TFamily : uint8_t { cfNone, cfGray, cfRGB, cfCMYK, cfLab, cfIndexed, cfSeparation, cfDeviceN };
  TFamily Family = cfNone;
  int Components = 0;
  // Lab: white point and /Range.
  std::unique_ptr<TPDFLabColorSpace> Lab;
  // Indexed: palette of Hival + 1 colours as R,G,B bytes.
  std::unique_ptr<TPDFImageColorSpace> Base;
  int32_t Hival = -1;
  std::string Lookup;
  std::vector<uint8_t> Palette;
  // Separation and DeviceN.
  std::unique_ptr<TPDFImageColorSpace> Alternate;
  std::unique_ptr<TPDFFunction> Tint;

  // Components in their own ranges (gray 0..1, Lab L 0..100 ...) to R,G,B bytes.
  void ToRGB(const double* c, uint8_t* rgb, TPDFSimpleColorManager& manager) const;
  // The /Decode default for samples of this many bits.
  std::vector<double> DefaultDecode(int bits) const;
  // Builds Palette from Lookup; false when the base cannot convert.
  bool BuildPalette(TPDFSimpleColorManager& manager);
};
