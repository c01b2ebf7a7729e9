// Colour conversion into RGB and the packed colour of the drawing back-ends
// (red in bits 0-7, green 8-15, blue 16-23), and the parameters of the Lab,
// Separation and DeviceN colour spaces, with the PostScript that sets a
// Separation or DeviceN colour in EPS output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graphics/PavonaFunctions.h"
#include "objects/PavonaStructure.h"

// Packs three components: each clipped to 0..1 (NaN counts as 0), times 255,
// rounded halves to even.
uint32_t PackRGBColor(double r, double g, double b);

class TPDFColorManager {
public:
  virtual ~TPDFColorManager() = default;
  virtual void CMYKToRGB(std::span<const double, 4> cmyk, std::span<double, 3> rgb) = 0;
  virtual uint32_t RGBToColor(std::span<const double, 3> rgb) = 0;
  virtual void LabToRGB(std::span<const double, 3> lab, std::span<double, 3> rgb) = 0;
};

// CMYK conversion methods.
constexpr uint8_t cmykSimple = 0;
constexpr uint8_t cmykPolynomial = 1;

class TPDFSimpleColorManager : public TPDFColorManager {
public:
  TPDFSimpleColorManager() = default;
  void CMYKToRGB(std::span<const double, 4> cmyk, std::span<double, 3> rgb) override;
  uint32_t RGBToColor(std::span<const double, 3> rgb) override;
  void LabToRGB(std::span<const double, 3> lab, std::span<double, 3> rgb) override;
  void XYZToRGB(std::span<const double, 3> xyz, std::span<double, 3> rgb) const;

  // Accepted when Xw > 0, Yw = 1 and Zw > 0; otherwise the default white
  // point is restored and the result is false.
  bool SetWhitePoint(double Xw, double Yw, double Zw);
  void SetLabRange(double aMin, double aMax, double bMin, double bMax);

  uint8_t GetCMYKMethod() const { return cmykMethod_; }
  void SetCMYKMethod(uint8_t method) { cmykMethod_ = method; }
  double GetWhiteX() const { return Xw_; }
  double GetWhiteY() const { return Yw_; }
  double GetWhiteZ() const { return Zw_; }

private:
  uint8_t cmykMethod_ = cmykPolynomial;
  double Xw_ = 0.9505;
  double Yw_ = 1.0;
  double Zw_ = 1.089;
  double aMin_ = -128;
  double aMax_ = 127;
  double bMin_ = -128;
  double bMax_ = 127;
};

class TPDFLabColorSpace {
public:
  TPDFLabColorSpace() = default;
  // [/Lab << /WhitePoint [..] /Range [..] >>]
  void Load(TPDFArray* array);
  // Maps a sample value 0..max into the a* (b*) range.
  double ScaleA(double v, double max) const;
  double ScaleB(double v, double max) const;

  double WhiteX = 0, WhiteY = 0, WhiteZ = 0;
  double AMin = -100, AMax = 100, BMin = -100, BMax = 100;
  TPDFObjectLookup OnLookupObject;
};

// Sets the manager's white point and ranges from the Lab space (when it is a
// TPDFSimpleColorManager), converts the Lab values and packs them.
uint32_t CalibratedToRGB(const TPDFLabColorSpace& labSpace, std::span<const double, 3> lab, TPDFColorManager* manager);

// Escapes text for a PostScript string literal: backslash before "(", ")"
// and "\", octal escapes for control and non-ASCII bytes.
std::string EscapePostScriptString(std::string_view text);

// Common state of Separation and DeviceN colour spaces.
class TPDFSpotColorSpace {
public:
  explicit TPDFSpotColorSpace(TPDFColorManager* manager) : manager_(manager) {}
  virtual ~TPDFSpotColorSpace() = default;
  TPDFSpotColorSpace(const TPDFSpotColorSpace&) = delete;
  TPDFSpotColorSpace& operator=(const TPDFSpotColorSpace&) = delete;

  const std::string& GetAlternate() const { return alternate_; }
  const std::string& GetColorant() const { return colorant_; }
  const std::string& GetName() const { return name_; }
  const TPDFFunction* GetTintTransform() const { return tintTransform_.get(); }
  const TPDFLabColorSpace* GetLabSpace() const { return labSpace_.get(); }
  uint32_t GetColor() const { return color_; }
  const std::string& GetPostScriptText() const { return postScript_; }
  size_t GetCacheCount() const { return cache_.size(); }

  TPDFObjectLookup OnLookupObject;

  // Most colours remembered per colour space.
  static constexpr size_t kMaxCachedColors = 1000;

protected:
  // Reads [/Kind colorants alternate tintTransform]: the alternate (element
  // 2) and the tint transform (element 3).
  void loadCommon(TPDFArray* array, std::string_view name);
  TPDFObject* resolve(TPDFObject* obj) const;
  // Looks the key up; true (and current colour and text set) when cached.
  bool fromCache(const std::string& key);
  void remember(const std::string& key);
  bool alternateIsRGBLike() const;
  // Colour and text for a 3-output (RGB-like or Lab) or 1-output (gray)
  // alternate; the separation and DeviceN spaces share it.
  void applyRGBOrGrayAlternate(const TPDFFunction& f, std::span<const double> in, int32_t outputs);

  std::string alternate_;
  std::unique_ptr<TPDFLabColorSpace> labSpace_;
  std::string colorant_;
  std::unique_ptr<TPDFFunction> tintTransform_;
  std::string name_;
  struct TCachedColor {
    uint32_t color;
    std::string postScript;
  };
  std::unordered_map<std::string, TCachedColor> cache_;
  uint32_t color_ = 0;
  std::string postScript_;
  TPDFColorManager* manager_;
};

class TPDFSeparationColorSpace : public TPDFSpotColorSpace {
public:
  explicit TPDFSeparationColorSpace(TPDFColorManager* manager) : TPDFSpotColorSpace(manager) {}
  // [/Separation colorant alternate tintTransform]
  void Load(TPDFArray* array, std::string_view name);
  // Sets the current packed colour and PostScript text for the tint.
  void GetPostScript(double tint);
};

class TPDFDeviceNColorSpace : public TPDFSpotColorSpace {
public:
  explicit TPDFDeviceNColorSpace(TPDFColorManager* manager) : TPDFSpotColorSpace(manager) {}
  // [/DeviceN [names] alternate tintTransform ...]
  void Load(TPDFArray* array, std::string_view name);
  void GetPostScript(std::span<const double> tints);
  int32_t GetColorantCount() const { return colorantCount_; }

private:
  int32_t colorantCount_ = 0;
};
