// Image XObjects and inline images: reading the image dictionary, running the
// stream filters, handing image data to its codec or unpacking raw samples,
// building the mask (soft mask, explicit mask, colour key or stencil) and
// drawing the result onto three device points.
//
// A decoded image is an RGB bitmap (24-bit, B,G,R bytes) plus, when the image
// has a mask, an alpha bitmap of the same size (8-bit, 255 opaque). Images
// that cannot be decoded are not drawn and say why in GetErrorText.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/PavonaPicasso.h"
#include "objects/PavonaStructure.h"
#include "platform/Bitmap.h"

class TPDFImageColorSpace;
class TPDFSimpleColorManager;

// A parsed inline image (BI ... ID data EI).
struct TPDFInlineImage {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitsPerComponent = 0;
  std::string ColorSpace;                  // PDF syntax of /CS
  TPDFObject* ColorSpaceObject = nullptr;  // resolved from the resources; not owned
  std::string Filter;                      // PDF syntax of /F
  std::string DecodeParms;                 // "[ ... ]" or empty
  std::string Data;
  int32_t DataStart = 0;  // 1-based positions in the content text
  int32_t DataEnd = 0;
  bool ImageMask = false;
  std::string Decode;
};

// Called with (stream, reference) around reading a stream reached through a reference.
using TPDFStreamNotify = std::function<void(TPDFStream* stream, TPDFIndRef* ref)>;

// Mask kinds.
constexpr uint8_t imkNone = 0, imkStencil = 1, imkMask = 2, imkSoftMask = 3, imkColorKey = 4;
// Output formats of the encoded form.
constexpr uint8_t iofNone = 0, iofJPEG = 1, iofTIFF = 3, iofPNG = 4;

class TPDFImageDecoder {
public:
  // Largest decoded image accepted (pixels); file dimensions beyond it are refused
  // before anything is allocated.
  static constexpr int64_t MaxImagePixels = int64_t(1) << 27;
  static constexpr int32_t MaxImageSide = 1 << 20;
  // The smaller of MaxImagePixels and the bitmap size guard.
  static int64_t PixelLimit();

  TPDFImageDecoder();
  ~TPDFImageDecoder();
  TPDFImageDecoder(const TPDFImageDecoder&) = delete;
  TPDFImageDecoder& operator=(const TPDFImageDecoder&) = delete;

  // Decodes an image XObject (nullptr or a stream without dictionary: nothing).
  void SetImage(TPDFStream* image);
  // Decodes an inline image parsed by ParseInlineImage.
  void ExpandInlineImage(const TPDFInlineImage& image, TPDFStructure* owner);
  // Lends the caller's colour manager (used for CMYK and Lab), which must
  // outlive the decoder; the decoder's own is freed. nullptr returns to an
  // own manager. Set before decoding.
  void SetColorManager(TPDFSimpleColorManager* manager);
  // Paints the image under the image matrix (a b c d e f: unit square to
  // device); stencils are painted with fillColor (0x00BBGGRR). Never raises:
  // a picture that cannot be drawn is left out, and failure (when given)
  // says why.
  void DrawImage(TPDFGenericCanvas& canvas, const double matrix[6], TColor fillColor, std::string* failure = nullptr);

  // Caller's wishes, set before decoding.
  TPDFObjectLookup OnLookupObject;
  TPDFStreamNotify OnBeforeRead;
  TPDFStreamNotify OnAfterRead;
  // Keep the codec's own encoding where it has one (JPEG): image extraction.
  bool KeepEncoded = false;
  // Leave images of one 1-bit component (bi-level codecs, raw 1-bit samples,
  // stencils) packed instead of building the 24-bit picture: a scanned page
  // then costs a bit per pixel until it is drawn. GetBilevelRows and
  // GetBilevelColor give the packed picture; the 24-bit one is built when
  // something asks for it (ExpandBilevel, DrawImage, GetBitmapBytes).
  bool KeepBilevel = false;
  // Leave raw samples (of at most three bytes a pixel, drawn without colour
  // key or matte) as they are instead of building the 24-bit picture: whoever
  // draws it converts the rows as it reads them (GetSampleRow), so a large
  // picture drawn small never exists at full size. The picture is built when
  // something else asks for it (ExpandSamples, DrawImage, GetBitmapBytes).
  bool KeepSamples = false;
  // The size the picture is wanted at (0: full size). A codec that decodes
  // smaller pictures cheaply (JPEG, by halves) stops at the smallest size
  // not below it; the results then report that size.
  int32_t NeededWidth = 0;
  int32_t NeededHeight = 0;

  // Results.
  bool IsReady() const { return ready_; }
  const std::string& GetErrorText() const { return error_; }
  int32_t GetWidth() const { return width_; }
  int32_t GetHeight() const { return height_; }
  int32_t GetBitsPerComponent() const { return bpc_; }
  const std::string& GetColorSpaceName() const { return colorSpaceName_; }
  const std::string& GetFilterText() const { return filterText_; }
  const std::string& GetDecodeText() const { return decodeText_; }
  const std::string& GetDecodeParmsText() const { return decodeParmsText_; }
  // The image filter that decoded the data ("" for raw samples).
  const std::string& GetImageFilter() const { return imageFilter_; }
  uint8_t GetMaskKind() const { return maskKind_; }
  uint8_t GetOutputFormat() const { return outputFormat_; }
  const std::string& GetIndexedBase() const { return indexedBase_; }
  int32_t GetIndexedHival() const { return indexedHival_; }
  const std::string& GetIndexedLookup() const { return indexedLookup_; }
  const std::vector<double>& GetColorKey() const { return colorKey_; }
  // The decoded picture (24-bit) and its alpha (8-bit grey ramp, 255 opaque),
  // nullptr when absent. A stencil's bitmap holds 0 where it paints.
  // With KeepBilevel and a packed picture, the bitmap is empty until
  // ExpandBilevel.
  const TBitmap* GetImageBitmap() const { return bitmap_.get(); }
  // True while the picture is held packed (KeepBilevel).
  bool IsBilevel() const { return bilevel_; }
  // The packed rows: (width + 7) / 8 bytes each, the first pixel in the
  // high bit; rows beyond the data read as zero bits.
  const std::string& GetBilevelRows() const { return data_; }
  // B, G, R of the pixels whose sample is 0 or 1 (/Decode applied). For a
  // stencil, blue 0 marks the pixels painted.
  const uint8_t* GetBilevelColor(int sample) const { return bilevelColor_[sample ? 1 : 0]; }
  // Builds the 24-bit picture of a packed one (nothing otherwise).
  void ExpandBilevel();
  // True while the picture is held as samples (KeepSamples): the bitmap is
  // empty and GetSampleRow gives its rows.
  bool HasPendingSamples() const { return sampleRows_ != nullptr; }
  // Row y (0 to height - 1) of a picture held as samples as B, G, R bytes
  // (width * 3 into bgr); nothing otherwise.
  void GetSampleRow(int32_t y, uint8_t* bgr);
  // Builds the 24-bit picture of one held as samples (nothing otherwise).
  void ExpandSamples();
  const TBitmap* GetMaskBitmap() const { return mask_.get(); }
  // Size of the encoded form when one was kept, else of the image data.
  int64_t GetImageByteCount() const;
  // The encoded form when one was kept, else the picture as BMP.
  std::string GetImageBytes() const;
  std::string GetBitmapBytes() const;
  TColor GetCentrePixel() const;

  // The data after the image filters were undone (raw samples) or, for an
  // image filter, the data handed to it.
  const std::string& GetImageData() const { return data_; }

private:
  friend class TPDFImageDecoderAccess;
  TPDFObject* Resolve(TPDFObject* obj) const;
  void ReadImageDictionary(TPDFDictionary* dict);
  std::string ParseColorSpace(TPDFObject* value);
  void ReadMask(TPDFObject* value, bool soft);
  void ApplyFilters(TPDFObject* filter, TPDFObject* parms);
  void DecodeImageData();
  void ReadNumberArray(TPDFObject* value, std::vector<double>& out) const;
  bool CheckGeometry(int components, int bits);
  void Fail(const std::string& why);

  // Codecs and sample unpacking.
  class TSampleRows;
  std::unique_ptr<TSampleRows> MakeSampleRows();
  void UnpackSamples();
  // UnpackSamples, or with KeepSamples the samples kept for GetSampleRow.
  void UnpackOrKeepSamples();
  void DecodeDCT();
  void DecodeCCITT(const TPDFDictionary* parms);
  void DecodeJBIG2(const std::string& globals);
  void DecodeJPX();
  // Packed 1-bit samples of a bi-level codec (0 black) through the sample unpacker.
  void UnpackBilevel(std::string samples);
  // Raw samples unpacked, or with KeepBilevel a 1-bit picture of one
  // component left packed.
  void UnpackOrKeepBilevel();
  // Colours blended with a matte colour (components of the image's colour
  // space) under the soft mask are taken apart again: c = m + (c' - m) / alpha.
  void Unpremultiply(const std::vector<double>& matte);

  TPDFStream* image_ = nullptr;
  TPDFStructure* owner_ = nullptr;
  int32_t width_ = 0, height_ = 0, bpc_ = 0;
  std::string colorSpaceName_;
  std::unique_ptr<TPDFImageColorSpace> colorSpace_;
  std::unique_ptr<TPDFSimpleColorManager> ownManager_;
  TPDFSimpleColorManager* manager_ = nullptr;
  std::unique_ptr<TBitmap> bitmap_;
  std::unique_ptr<TBitmap> mask_;
  std::unique_ptr<TSampleRows> sampleRows_;  // while the picture is held as samples
  std::string filterText_;
  std::string indexedBase_;
  std::string indexedLookup_;
  int32_t indexedHival_ = -1;
  std::string data_;
  std::string decodeParmsText_, decodeText_;
  std::vector<double> decode_;  // numbers of /Decode
  std::string imageFilter_;
  TPDFObject* imageFilterParms_ = nullptr;
  TPDFIndRef* jbig2Globals_ = nullptr;
  std::unique_ptr<TPDFStructure> filterPool_;
  TGDIPlusSettings settings_;
  bool ready_ = false;
  bool bilevel_ = false;
  uint8_t bilevelColor_[2][3] = {{0, 0, 0}, {255, 255, 255}};
  bool isMaskDecoder_ = false;
  bool softMaskDecoder_ = false;  // decodes the /SMask of another image
  bool imageMaskFlag_ = false;
  uint8_t maskKind_ = imkNone;
  std::vector<double> colorKey_;
  int32_t smaskInData_ = 0;           // /SMaskInData of a JPEG 2000 image
  std::vector<double> imageMatte_;     // /Matte of the image itself (with /SMaskInData)
  std::vector<double> softMaskMatte_;  // /Matte of the /SMask stream
  uint8_t outputFormat_ = iofNone;
  std::string output_;
  std::string iccProfile_;
  std::string error_;
  int depth_ = 0;  // nesting of mask decoders
};

// Reads an inline image from the position after BI (0-based, moved past EI
// on success). Abbreviated keys, filter and colour-space names are expanded;
// a named colour space is looked up in the resources' /ColorSpace. True when
// ID was found; without a closing EI the data run to the end of the content
// (and position moves there).
bool ParseInlineImage(std::string_view content, size_t& position, TPDFInlineImage& image,
                      const TPDFObjectLookup& lookup, TPDFDictionary* resources);

// RunLengthDecode: the decoded bytes; stops at the end-of-data code, the end of
// the input or the decoded-size limit.
std::string RunLengthDecodeString(std::string_view data, TPDFDecodeStatus* status = nullptr);
