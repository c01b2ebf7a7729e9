// Image import: an image file (JPEG, PNG, TIFF page, GIF, BMP, WMF, EMF) or
// a bitmap becomes an image XObject (or a form XObject of strips or of a
// metafile's drawing) in a document's object pool, with what the painter
// needs to place it.
//
// JPEG data and compressed TIFF strips are kept as they are with their
// filter; PNG data goes on as Flate data with a PNG predictor; everything else
// becomes raw samples, Flate-compressed when Compress is set. TIFF pages
// whose strips PDF cannot take as stored are decoded (libtiff) first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"

class TPDFStructure;
class TPDFDictionary;
class TPDFIndRef;
class TPDFStream;
class TBitmap;
class TPNGReader;
class TPDFTIFF;
struct TTIFFPage;

// Image kinds.
constexpr int32_t pdfikNone = 0;
constexpr int32_t pdfikJPEG = 1;
constexpr int32_t pdfikBitmap = 2;
constexpr int32_t pdfikTIFFPage = 3;
constexpr int32_t pdfikPNG = 4;
constexpr int32_t pdfikMetafile = 6;

class EPDFImageError : public Exception {
public:
  using Exception::Exception;
};

class TPDFImage {
public:
  // Largest pixel count of an imported image and largest file read.
  static constexpr int64_t kMaxPixels = int64_t(1) << 28;
  static constexpr int64_t kMaxFileBytes = int64_t(1) << 30;

  TPDFImage(TPDFStructure* pool, std::string_view resourceName);
  TPDFImage(const TPDFImage&) = delete;
  TPDFImage& operator=(const TPDFImage&) = delete;

  // Detects the format and builds the object. The option is a TIFF page
  // number or a PNG mask mode; -1 draws metafiles and the first TIFF page
  // into a bitmap (our renderer, through cairo) that becomes the image.
  // False for an unknown or unusable file, with the reason in GetFailure.
  bool LoadFromStream(TStream& stream, int32_t option);
  // Why the last LoadFromStream failed (which format, and the decoder's own
  // words where it gives them); empty after a load that succeeded.
  const std::string& GetFailure() const { return failure_; }
  // A raw-sample image of a bitmap; page is the TIFF page it came from (or none).
  void LoadFromBitmap(const TBitmap& bitmap, const TTIFFPage* page, bool keepGray);
  bool LoadJPEG(TStream& stream);
  bool LoadPNG(TPNGReader& reader, int32_t mode);
  bool LoadTIFFPage(const TPDFTIFF& tiff, int32_t page);
  // An enhanced metafile as a vector form XObject whose box's shorter side
  // is 1 (option -1: as a bitmap image of its size at 96 dpi); EEmfError
  // for a file that is not a sound EMF.
  bool LoadMetafile(std::string_view bytes, int32_t option);

  // 1 stencil mask, 2 grey image without masks, else 0.
  int32_t GetMaskKind() const;
  void SetColorKeyMask(double r1, double g1, double b1, double r2, double g2, double b2);
  bool SetMaskObject(int32_t number, int32_t generation, int32_t kind);
  void AttachToObject(int32_t number, int32_t generation, int32_t width, int32_t height);
  // Writes the kept source bytes (KeepSource) to path through a temporary
  // file; false, writing nothing, when there are none or the write fails.
  bool SaveDataToFile(const std::string& path) const;

  const std::string& GetResourceName() const { return resourceName_; }
  int32_t GetKind() const { return kind_; }
  int32_t GetWidth() const { return width_; }
  int32_t GetHeight() const { return height_; }
  TPDFIndRef* GetObject() const { return object_; }
  TPDFDictionary* GetDictionary() const { return dictionary_; }
  int32_t GetResolutionX() const { return resolutionX_; }
  int32_t GetResolutionY() const { return resolutionY_; }
  int32_t GetResolutionUnit() const { return resolutionUnit_; }
  bool GetSixteenBit() const { return sixteenBit_; }
  const std::string& GetColorSpaceName() const { return colorSpaceName_; }

  bool Compress = false;
  bool KeepSource = false;
  int32_t TransparentColor = 0xFFFFFF;
  // Metafile conversion: fonts embedded, and the installed faces (nullptr:
  // the system's list).
  bool MetafileEmbedFonts = true;
  const std::vector<std::string>* MetafileFaces = nullptr;

private:
  TPDFIndRef* addObject(TPDFStream* stream);
  TPDFStream* newImageStream(std::string data, int32_t width, int32_t height);
  TPDFIndRef* buildJPEGStream(std::string data, int32_t width, int32_t height, int32_t components,
                              TPDFStream** streamOut);
  bool scanJPEG(std::string_view data, int32_t& width, int32_t& height, int32_t& components,
                bool needTables = false);
  bool loadBMP(std::string_view bytes);
  bool loadGIF(TStream& stream);
  std::string tiffColorSpace(const TTIFFPage& page) const;
  static int32_t tiffColorChannels(const TTIFFPage& page);
  TPDFIndRef* buildTIFFStrip(const TTIFFPage& page, std::string data, int32_t rows, TPDFStream** streamOut);
  void finishForm(TPDFStream* form, std::string content, bool compress);
  void finishStripForm(TPDFDictionary* xobjects, std::string content, bool compress);
  // The page decoded from the TIFF file's bytes, as a bitmap image.
  bool loadDecodedTIFFPage(int32_t page, const TTIFFPage* info);
  // The page with its strips as stored; false when PDF cannot take them so.
  bool passTIFFPage(const TTIFFPage& page);
  bool loadRasterisedMetafile(std::string_view emf);
  // Records why the load failed; false.
  bool fail(std::string reason);

  std::string failure_;
  std::string source_;
  TPDFStructure* pool_;
  std::string resourceName_;
  TPDFIndRef* object_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  TPDFDictionary* dictionary_ = nullptr;
  int32_t kind_ = pdfikNone;
  int32_t resolutionX_ = 0, resolutionY_ = 0, resolutionUnit_ = 0;
  bool sixteenBit_ = false;
  // 16-bit samples of a little-endian TIFF need swapping for PDF.
  bool tiffLittleEndian_ = false;
  // The TIFF file being imported (for pages that are decoded).
  std::string tiffBytes_;
  std::string colorSpaceName_;
};
