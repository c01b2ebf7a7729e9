// Colour spaces of image samples as the image decoder resolves them, and the
// tint-transform functions of Separation and DeviceN spaces. Private to the
// PavonaImageDecoder*.cpp files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "objects/PavonaStructure.h"

class TPDFImageDecoder;

// A tint transform: PDF function types 0 (sampled), 2 (exponential) and 3
// (stitching). Other types are refused at load time.
class TPDFImageTintFunction {
public:
  // nullptr (and why) when the function cannot be used.
  static std::unique_ptr<TPDFImageTintFunction> Load(TPDFObject* obj,
                                                     const std::function<TPDFObject*(TPDFObject*)>& resolve,
                                                     std::string& why, int depth = 0);
  int Inputs() const { return static_cast<int>(domain_.size() / 2); }
  int Outputs() const { return outputs_; }
  void Evaluate(const double* in, double* out) const;

private:
  int type_ = 0;
  int outputs_ = 0;
  std::vector<double> domain_, range_;
  // Type 0.
  std::vector<int32_t> size_;
  int32_t bits_ = 8;
  std::vector<double> encode_, decode_;
  std::vector<double> samples_;  // outputs per grid point, already in 0..1 of 2^bits-1
  // Type 2.
  std::vector<double> c0_, c1_;
  double n_ = 1;
  // Type 3.
  std::vector<std::unique_ptr<TPDFImageTintFunction>> parts_;
  std::vector<double> bounds_;
};

class TPDFImageColorSpace {
public:
  enum TFamily : uint8_t { cfNone, cfGray, cfRGB, cfCMYK, cfLab, cfIndexed, cfSeparation, cfDeviceN };
  TFamily Family = cfNone;
  int Components = 0;
  // Lab.
  double WhitePoint[3] = {0.9505, 1.0, 1.089};
  double Range[4] = {-100, 100, -100, 100};
  // Indexed: palette of Hival + 1 colours as R,G,B bytes.
  std::unique_ptr<TPDFImageColorSpace> Base;
  int32_t Hival = -1;
  std::string Lookup;
  std::vector<uint8_t> Palette;
  // Separation and DeviceN.
  std::unique_ptr<TPDFImageColorSpace> Alternate;
  std::unique_ptr<TPDFImageTintFunction> Tint;

  // Components in their own ranges (gray 0..1, Lab L 0..100 ...) to R,G,B bytes.
  void ToRGB(const double* c, uint8_t* rgb) const;
  // The /Decode default for samples of this many bits.
  std::vector<double> DefaultDecode(int bits) const;
  // Builds Palette from Lookup; false when the base cannot convert.
  bool BuildPalette();
};

// Stand-in colour conversions until the engine's colour manager is in place:
// the plain device formulas (no colour profiles).
void CMYKToRGB(double c, double m, double y, double k, uint8_t* rgb);
void LabToRGB(double L, double a, double b, const double whitePoint[3], uint8_t* rgb);
