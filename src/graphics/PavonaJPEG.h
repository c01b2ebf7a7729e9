// The engine's JPEG picture: JPEG data decoded into a TBitmap on demand and
// bitmaps encoded as baseline JPEG, through the IJG libjpeg API.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Bitmap.h"

enum class TJPEGPerformance : uint8_t { jpBestQuality, jpBestSpeed };
enum class TJPEGPixelFormat : uint8_t { jf24Bit, jf8Bit };
enum class TProgressStage : uint8_t { psStarting, psRunning, psEnding };

// Settings new pictures start with.
struct TJPEGDefaults {
  uint8_t CompressionQuality = 90;
  bool Grayscale = false;
  TJPEGPerformance Performance = TJPEGPerformance::jpBestQuality;
  TJPEGPixelFormat PixelFormat = TJPEGPixelFormat::jf24Bit;  // no 8-bit screens here
  bool ProgressiveEncoding = false;
  uint8_t Scale = 0;  // output is 1 / 2^Scale of full size
  bool Smoothing = true;
  bool ProgressiveDisplay = false;
};
extern TJPEGDefaults JPEGDefaults;

// JPEG bytes and what their header says; shared between pictures.
struct TJPEGData {
  std::string Data;
  bool HasData = false;
  int Width = 0;
  int Height = 0;
  bool Grayscale = false;
};

// Raised by a progress handler to stop decoding or encoding quietly.
class EJPEGAbort : public Exception {
public:
  EJPEGAbort() : Exception("JPEG operation aborted") {}
};

struct TProgressRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TPDFJPEGImage;
using TJPEGProgressEvent = std::function<void(TPDFJPEGImage& sender, TProgressStage stage, uint8_t percentDone,
                                              bool redrawNow, const TProgressRect& rect, const std::string& msg)>;
// A colour manager's CMYK-to-RGB conversion: components 0..1 in and out.
using TCMYKToRGBProc = std::function<void(const std::array<double, 4>& cmyk, std::array<double, 3>& rgb)>;

class TPDFJPEGImage : public TGraphic {
public:
  TPDFJPEGImage();
  ~TPDFJPEGImage() override;
  TPDFJPEGImage(const TPDFJPEGImage&) = delete;
  TPDFJPEGImage& operator=(const TPDFJPEGImage&) = delete;

  int Width() const override;
  int Height() const override;
  bool Empty() const override;
  // From the stream's position to its end.
  void LoadFromStream(TStream& stream) override;
  // Encodes the bitmap first when there are no JPEG data.
  void SaveToStream(TStream& stream) const override;
  // A 32-bit byte count and that many bytes.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;
  void ReadStream(int64_t size, TStream& stream);

  void Assign(const TPDFJPEGImage& source);
  void Assign(const TBitmap& source);
  void AssignTo(TBitmap& dest);
  bool Equals(const TPDFJPEGImage& other) const;

  // The decoded picture (decoded on first use).
  TBitmap& GetBitmap();
  // Encodes the bitmap as new JPEG data.
  void Compress();
  // Uses the caller's CMYK conversion instead of the picture's own; an empty
  // one is ignored.
  void SetColorManager(TCMYKToRGBProc manager);
  // Decodes CMYK data again, taking the samples as stored (not inverted).
  void DecodeInvertedCMYK();
  // The held data decoded at 1 / 2^Scale of full size into interleaved 8-bit samples as the
  // library delivers them (grey; red, green, blue; or C, M, Y, K as stored,
  // never inverted), for callers that convert colours themselves. A picture
  // of more than maxPixels is refused before anything is allocated. False
  // without data, for a refused size or when the library reports an error;
  // data that end early give the rows the library fills in.
  bool DecodeSamples(std::string& samples, int& width, int& height, int& components, int64_t maxPixels) const;
  // The decoded picture as a BMP file.
  void SaveBitmapToStream(TStream& stream);
  // The JPEG bytes held (empty when none).
  const std::string& JPEGBytes() const { return data_->Data; }

  uint8_t CompressionQuality = 90;
  bool Grayscale = false;
  TJPEGPerformance Performance = TJPEGPerformance::jpBestQuality;
  TJPEGPixelFormat PixelFormat = TJPEGPixelFormat::jf24Bit;
  bool ProgressiveEncoding = false;
  uint8_t Scale = 0;
  bool Smoothing = true;
  bool ProgressiveDisplay = false;
  TJPEGProgressEvent OnProgress;
  std::function<void(TPDFJPEGImage&)> OnChange;

  bool InvertedCMYK() const { return invertedCMYK_; }

  // State shared with the library callbacks.
  struct TProgressState;

private:
  std::pair<int, int> decodedSize() const;
  std::shared_ptr<TJPEGData> data_;
  mutable std::unique_ptr<TBitmap> bitmap_;
  std::vector<TRGBQuad> palette_;  // colour map of an earlier 8-bit decode
  bool invertedCMYK_ = false;
  TCMYKToRGBProc colorManager_;
  std::unique_ptr<TProgressState> progress_;

  void Changed();
  void NewData();
  void ReadHeader();
  void Decode();
  void CompressInto(TJPEGData& data, const TBitmap& source) const;
  void ConvertCMYK(TBitmap& bitmap, bool stored_inverted);
};

// CMYK to RGB by the engine's polynomial, used until a colour manager is set.
void DefaultCMYKToRGB(const std::array<double, 4>& cmyk, std::array<double, 3>& rgb);
