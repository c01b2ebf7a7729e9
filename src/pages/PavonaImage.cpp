#include "pages/PavonaImage.h"

#include <algorithm>
#include <cmath>

#include "graphics/PavonaGIF.h"
#include "graphics/PavonaPNG.h"
#include "graphics/PavonaTIFF.h"
#include "objects/PavonaDigest.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaMetafile.h"
#include "platform/Bitmap.h"
#include "platform/EmfReader.h"
#include "platform/GdiCanvas.h"
#include "platform/WmfConverter.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"

namespace {

uint16_t be16(std::string_view d, size_t at) {
  return static_cast<uint16_t>((uint8_t(d[at]) << 8) | uint8_t(d[at + 1]));
}
uint32_t le32(std::string_view d, size_t at) {
  return uint32_t(uint8_t(d[at])) | (uint32_t(uint8_t(d[at + 1])) << 8) | (uint32_t(uint8_t(d[at + 2])) << 16) |
         (uint32_t(uint8_t(d[at + 3])) << 24);
}
uint16_t le16(std::string_view d, size_t at) {
  return static_cast<uint16_t>(uint8_t(d[at]) | (uint8_t(d[at + 1]) << 8));
}

// The whole stream from its start, refused beyond the size limit.
std::string readAll(TStream& stream) {
  const int64_t size = stream.GetSize();
  if (size < 0 || size > TPDFImage::kMaxFileBytes) throw EPDFImageError("Image file too large");
  stream.SetPosition(0);
  std::string data(static_cast<size_t>(size), '\0');
  data.resize(static_cast<size_t>(stream.Read(data.data(), size)));
  return data;
}

uint8_t reverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

TPDFImage::TPDFImage(TPDFStructure* pool, std::string_view resourceName) : pool_(pool), resourceName_(resourceName) {}

TPDFIndRef* TPDFImage::addObject(TPDFStream* stream) {
  int32_t number = 0, generation = 0;
  pool_->OnGetObjectNumber(pool_, stream, number, generation);
  return pool_->NewIndRef(number, generation);
}

TPDFStream* TPDFImage::newImageStream(std::string data, int32_t width, int32_t height) {
  TPDFDictionary* dict = pool_->NewDictionary();
  dict->SetValue("Type", pool_->NewName("XObject"));
  dict->SetValue("Subtype", pool_->NewName("Image"));
  dict->SetValue("Width", pool_->NewNumeric(width));
  dict->SetValue("Height", pool_->NewNumeric(height));
  TPDFStream* stream = pool_->NewStreamWith(std::string(), dict);
  stream->SetRawData(std::move(data));
  return stream;
}

// --- Format detection -----------------------------------------------------------------

bool TPDFImage::fail(std::string reason) {
  failure_ = std::move(reason);
  return false;
}

bool TPDFImage::LoadFromStream(TStream& stream, int32_t option) {
  failure_.clear();
  if (!pool_->OnGetObjectNumber) return fail("the image has no document to belong to");
  if (KeepSource) {
    source_ = readAll(stream);
    stream.SetPosition(0);
  }
  std::string head(100, '\0');
  stream.SetPosition(0);
  head.resize(static_cast<size_t>(std::max<int64_t>(stream.Read(head.data(), 100), 0)));
  stream.SetPosition(0);
  const std::string_view h(head);
  if (h.empty()) return fail("the file is empty");
  // Metafiles: a Windows metafile is read as the EMF its records translate
  // to; EMF becomes a vector form.
  if (IsWindowsMetafile(h)) {
    try {
      if (LoadMetafile(ConvertWmfToEmf(readAll(stream)), option)) return true;
      return fail("the Windows metafile (WMF) could not be converted");
    } catch (const std::exception& e) {
      return fail(std::string("the Windows metafile (WMF) could not be converted: ") + e.what());
    }
  }
  if (IsEnhancedMetafile(h)) {
    try {
      if (LoadMetafile(readAll(stream), option)) return true;
      return fail("the enhanced metafile (EMF) cannot be read");
    } catch (const std::exception& e) {
      return fail(std::string("the enhanced metafile (EMF) cannot be read: ") + e.what());
    }
  }
  if (h.size() >= 10 && h.substr(0, 2) == "BM" && le16(h, 6) == 0 && le16(h, 8) == 0) {
    try {
      return loadBMP(readAll(stream));
    } catch (const std::exception& e) {
      return fail(std::string("the BMP image cannot be read: ") + e.what());
    }
  }
  if (h.size() >= 2 && uint8_t(h[0]) == 0xFF && uint8_t(h[1]) == 0xD8) return LoadJPEG(stream);
  if (h.size() >= 2 && (h.substr(0, 2) == "MM" || h.substr(0, 2) == "II")) {
    TPDFTIFF tiff;
    tiffLittleEndian_ = h[0] == 'I';
    tiffBytes_ = readAll(stream);
    tiff.LoadFromString(tiffBytes_);
    if (tiff.PageCount <= 0) return fail("the TIFF image is damaged: it has no readable page");
    // Option -1: the first page drawn into a bitmap.
    if (option == -1) return loadDecodedTIFFPage(1, nullptr);
    return LoadTIFFPage(tiff, option);
  }
  if (h.size() >= 8 && h.substr(0, 8) == std::string_view("\x89PNG\r\n\x1A\n", 8)) {
    TPNGReader reader;
    const int32_t mode = option < 0 || option > 6 ? 0 : option;
    reader.ReduceColor = mode == 3 || mode == 5;
    reader.ReduceAlpha = mode == 2 || mode == 4 || mode == 5;
    reader.LoadFromStream(stream);
    return LoadPNG(reader, mode);
  }
  if (h.size() >= 6 && (h.substr(0, 6) == "GIF87a" || h.substr(0, 6) == "GIF89a")) return loadGIF(stream);
  return fail("not an image file of a known format (JPEG, PNG, GIF, TIFF, BMP, WMF or EMF)");
}

// --- JPEG ---------------------------------------------------------------------------------

bool TPDFImage::scanJPEG(std::string_view data, int32_t& width, int32_t& height, int32_t& components,
                         bool needTables) {
  width = height = components = 0;
  bool haveTables = false, haveHuffman = false;
  if (data.size() < 4 || uint8_t(data[0]) != 0xFF || uint8_t(data[1]) != 0xD8) return false;
  int32_t jfifUnit = -1;
  size_t pos = 2;
  while (pos + 1 < data.size()) {
    if (uint8_t(data[pos]) != 0xFF) return false;  // lost the marker chain
    uint8_t marker = uint8_t(data[pos + 1]);
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    pos += 2;
    // Stand-alone markers carry no length.
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) {
      if (marker == 0xD9) break;
      continue;
    }
    if (pos + 2 > data.size()) return false;
    const size_t length = be16(data, pos);
    if (length < 2 || pos + length > data.size()) return false;
    std::string_view segment = data.substr(pos + 2, length - 2);
    if (marker == 0xE0 && segment.size() >= 12 && segment.substr(0, 5) == std::string_view("JFIF\0", 5)) {
      jfifUnit = uint8_t(segment[7]);
      resolutionX_ = be16(segment, 8);
      resolutionY_ = be16(segment, 10);
      resolutionUnit_ = jfifUnit + 1;
    } else if (marker == 0xE1 && segment.size() > 6 && segment.substr(0, 5) == std::string_view("Exif\0", 5)) {
      TPDFTIFF exif;
      exif.LoadFromString(segment.substr(6));
      TTIFFPage first;
      if (jfifUnit == 0 && exif.GetPage(1, first)) {
        resolutionUnit_ = 2;
        resolutionX_ = first.DpiX;
        resolutionY_ = first.DpiY;
      }
    } else if (marker == 0xDB) {
      haveTables = true;
    } else if (marker == 0xC4) {
      haveHuffman = true;
    } else if (marker >= 0xC0 && marker <= 0xC3) {
      if (segment.size() < 6) return false;
      height = be16(segment, 1);
      width = be16(segment, 3);
      components = uint8_t(segment[5]);
      if (!needTables) return width > 0 && height > 0;
    } else if (marker == 0xDA) {
      // A TIFF strip without its own quantisation and Huffman tables
      // depends on tables elsewhere in the TIFF file and would not decode
      // on its own.
      return width > 0 && height > 0 && haveTables && haveHuffman;
    }
    pos += length;
  }
  return false;
}

TPDFIndRef* TPDFImage::buildJPEGStream(std::string data, int32_t width, int32_t height, int32_t components,
                                       TPDFStream** streamOut) {
  TPDFStream* stream = newImageStream(std::move(data), width, height);
  TPDFDictionary* dict = stream->GetDictionary();
  colorSpaceName_ = components == 1 ? "DeviceGray" : components == 4 ? "DeviceCMYK" : "DeviceRGB";
  dict->SetValue("ColorSpace", pool_->NewName(colorSpaceName_));
  if (components == 4) {
    const int32_t decode[8] = {1, 0, 1, 0, 1, 0, 1, 0};
    dict->SetValue("Decode", pool_->NewIntegerArray(decode));
  }
  dict->SetValue("BitsPerComponent", pool_->NewNumeric(8));
  dict->SetValue("Filter", pool_->NewName("DCTDecode"));
  if (streamOut) *streamOut = stream;
  return addObject(stream);
}

bool TPDFImage::LoadJPEG(TStream& stream) {
  std::string data = readAll(stream);
  int32_t width = 0, height = 0, components = 0;
  if (!scanJPEG(data, width, height, components))
    return fail("the JPEG image is damaged: no frame header with the picture's size was found");
  if (int64_t(width) * height > kMaxPixels) return fail("the JPEG image is too large");
  if (KeepSource && source_.empty()) source_ = data;
  TPDFStream* image = nullptr;
  object_ = buildJPEGStream(std::move(data), width, height, components, &image);
  dictionary_ = image->GetDictionary();
  width_ = width;
  height_ = height;
  kind_ = pdfikJPEG;
  return true;
}

// --- Bitmaps ------------------------------------------------------------------------------

void TPDFImage::LoadFromBitmap(const TBitmap& bitmap, const TTIFFPage* page, bool keepGray) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  if (w <= 0 || h <= 0) throw EPDFImageError("Empty bitmap");
  std::string samples;
  std::string colorSpace;
  int32_t bits = 8;
  std::vector<int32_t> decode;
  const TPixelFormat format = bitmap.PixelFormat();
  bool gray8 = false;
  if (format == TPixelFormat::pf8bit) {
    const auto& palette = bitmap.Palette();
    gray8 = keepGray;
    if (!gray8 && palette.size() == 256) {
      gray8 = true;
      for (size_t i = 0; i < 256 && gray8; ++i)
        gray8 = palette[i].rgbRed == i && palette[i].rgbGreen == i && palette[i].rgbBlue == i;
    }
  }
  const bool cmyk = format == TPixelFormat::pf32bit && page && page->Photometric == 5;
  if (format == TPixelFormat::pf1bit) {
    const size_t rowBytes = (static_cast<size_t>(w) + 7) / 8;
    samples.reserve(rowBytes * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y)
      samples.append(reinterpret_cast<const char*>(bitmap.ScanLine(y)), rowBytes);
    colorSpace = "DeviceGray";
    bits = 1;
    bool zeroIsBlack;
    if (page) {
      zeroIsBlack = page->Photometric == 1;
    } else {
      const auto& palette = bitmap.Palette();
      zeroIsBlack = !palette.empty() && palette[0].rgbRed == 0 && palette[0].rgbGreen == 0 && palette[0].rgbBlue == 0;
    }
    decode = zeroIsBlack ? std::vector<int32_t>{0, 1} : std::vector<int32_t>{1, 0};
  } else if (gray8) {
    samples.reserve(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) samples.append(reinterpret_cast<const char*>(bitmap.ScanLine(y)), size_t(w));
    colorSpace = "DeviceGray";
  } else if (cmyk) {
    samples.reserve(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* row = bitmap.ScanLine(y);
      // Stored like B, G, R, A: the separations arrive as K, Y, M, C.
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = row + x * 4;
        samples += static_cast<char>(p[3]);
        samples += static_cast<char>(p[2]);
        samples += static_cast<char>(p[1]);
        samples += static_cast<char>(p[0]);
      }
    }
    colorSpace = "DeviceCMYK";
  } else {
    samples.reserve(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    for (int32_t y = 0; y < h; ++y) {
      if (format == TPixelFormat::pf24bit || format == TPixelFormat::pf32bit) {
        const uint8_t* row = bitmap.ScanLine(y);
        const int step = format == TPixelFormat::pf24bit ? 3 : 4;
        for (int32_t x = 0; x < w; ++x) {
          const uint8_t* p = row + x * step;
          samples += static_cast<char>(p[2]);
          samples += static_cast<char>(p[1]);
          samples += static_cast<char>(p[0]);
        }
      } else {
        for (int32_t x = 0; x < w; ++x) {
          const TColor c = bitmap.Pixel(x, y);
          samples += static_cast<char>(GetRValue(c));
          samples += static_cast<char>(GetGValue(c));
          samples += static_cast<char>(GetBValue(c));
        }
      }
    }
    colorSpace = "DeviceRGB";
  }
  bool compressed = false;
  if (Compress) {
    std::string packed = CompressString(samples);
    if (!packed.empty()) {
      samples = std::move(packed);
      compressed = true;
    }
  }
  if (KeepSource) source_ = bitmap.SaveToBytes();
  TPDFStream* stream = newImageStream(std::move(samples), w, h);
  TPDFDictionary* dict = stream->GetDictionary();
  dict->SetValue("ColorSpace", pool_->NewName(colorSpace));
  dict->SetValue("BitsPerComponent", pool_->NewNumeric(bits));
  if (compressed) dict->SetValue("Filter", pool_->NewName("FlateDecode"));
  if (!decode.empty()) dict->SetValue("Decode", pool_->NewIntegerArray(decode));
  object_ = addObject(stream);
  dictionary_ = dict;
  width_ = w;
  height_ = h;
  kind_ = page ? pdfikTIFFPage : pdfikBitmap;
}

bool TPDFImage::loadBMP(std::string_view bytes) {
  TBitmap bitmap;
  bitmap.LoadFromBytes(bytes);
  if (bytes.size() >= 46 && le32(bytes, 14) >= 40) {
    resolutionX_ = static_cast<int32_t>(std::lround(static_cast<int32_t>(le32(bytes, 38)) / 1000.0 * 25.4));
    resolutionY_ = static_cast<int32_t>(std::lround(static_cast<int32_t>(le32(bytes, 42)) / 1000.0 * 25.4));
  }
  LoadFromBitmap(bitmap, nullptr, false);
  if (KeepSource) source_ = bytes;
  return true;
}

bool TPDFImage::loadGIF(TStream& stream) {
  TPDFGIFDecoder decoder;
  stream.SetPosition(0);
  decoder.LoadFromStream(stream);
  if (!decoder.ValidVersion || decoder.ScreenWidth == 0 || decoder.ScreenHeight == 0)
    return fail("the GIF image is damaged: it has no picture size");
  TBitmap bitmap;
  try {
    decoder.DrawToBitmap(bitmap);
  } catch (const std::exception& e) {
    return fail(std::string("the GIF image cannot be drawn: ") + e.what());
  }
  if (bitmap.Empty()) return fail("the GIF image holds no picture");
  const bool saved = Compress;
  Compress = true;
  LoadFromBitmap(bitmap, nullptr, false);
  Compress = saved;
  return true;
}

// --- PNG ----------------------------------------------------------------------------------

bool TPDFImage::LoadPNG(TPNGReader& reader, int32_t mode) {
  if (mode < 0) mode = 0;
  if (reader.Width == 0 || reader.Height == 0 || reader.ColorData.empty())
    return fail("the PNG image cannot be read: " +
                (reader.ErrorText.empty() ? std::string("it holds no picture") : reader.ErrorText));
  if ((mode == 1 || mode == 4) && reader.AlphaData.empty())
    return fail("the PNG image has no transparency to use as a mask");
  if (int64_t(reader.Width) * reader.Height > kMaxPixels) return fail("the PNG image is too large");
  const int32_t w = static_cast<int32_t>(reader.Width), h = static_cast<int32_t>(reader.Height);
  kind_ = pdfikPNG;
  resolutionX_ = reader.DpiX;
  resolutionY_ = reader.DpiY;
  resolutionUnit_ = 2;
  sixteenBit_ = ((mode == 0 || mode == 2 || mode == 6) && reader.ColorBitDepth == 16) ||
                ((mode == 1 || mode == 6) && reader.AlphaBitDepth == 16);
  width_ = w;
  height_ = h;
  TPDFIndRef* maskRef = nullptr;
  if ((mode == 1 || mode == 2 || mode == 4 || mode == 5 || mode == 6) && !reader.AlphaData.empty()) {
    TPDFStream* mask = newImageStream(reader.AlphaData, w, h);
    TPDFDictionary* dict = mask->GetDictionary();
    dict->SetValue("ColorSpace", pool_->NewName("DeviceGray"));
    dict->SetValue("BitsPerComponent", pool_->NewNumeric(reader.AlphaBitDepth));
    dict->SetValue("Filter", pool_->NewName("FlateDecode"));
    maskRef = addObject(mask);
    if (mode == 1 || mode == 4) {
      object_ = maskRef;
      dictionary_ = dict;
      return true;
    }
  }
  TPDFStream* image = newImageStream(reader.ColorData, w, h);
  TPDFDictionary* dict = image->GetDictionary();
  const uint8_t type = reader.ColorType;
  if (type == 0 || type == 4) {
    dict->SetValue("ColorSpace", pool_->NewName("DeviceGray"));
  } else if (type == 2 || type == 6) {
    dict->SetValue("ColorSpace", pool_->NewName("DeviceRGB"));
  } else {
    TPDFObject* space = pool_->ParseObject("[ /Indexed " + reader.GetIndexedColorSpace() + " ]");
    if (!PDFAsArray(space)) return fail("the PNG image's palette cannot be read");
    dict->SetValue("ColorSpace", space);
  }
  dict->SetValue("BitsPerComponent", pool_->NewNumeric(reader.ColorBitDepth));
  dict->SetValue("Filter", pool_->NewName("FlateDecode"));
  if (reader.Direct) {
    std::string parms = "<< /Predictor 15 ";
    if (type == 0) parms += "/Colors 1 ";
    if (type == 2) parms += "/Colors 3 ";
    parms += "/BitsPerComponent " + std::to_string(reader.ColorBitDepth) + " /Columns " + std::to_string(w) + " >>";
    dict->SetValue("DecodeParms", pool_->ParseObject(parms));
  }
  if (maskRef) dict->SetValue("SMask", maskRef);
  object_ = addObject(image);
  dictionary_ = dict;
  return true;
}

// --- TIFF ---------------------------------------------------------------------------------

std::string TPDFImage::tiffColorSpace(const TTIFFPage& page) const {
  switch (page.Photometric) {
    case 0:
    case 1: return "/DeviceGray";
    case 2: return "/DeviceRGB";
    case 5: return "/DeviceCMYK";
    case 3: {
      if (page.BitsPerSample < 1 || page.BitsPerSample > 8) return {};
      const size_t entries = size_t(1) << page.BitsPerSample;
      std::string hex;
      const size_t n = page.ColorMap.size() / 3;
      for (size_t i = 0; i < entries && i < n; ++i)
        for (size_t c = 0; c < 3; ++c) hex += IntToHexStr(page.ColorMap[c * n + i] & 0xFF, 2);
      hex.resize(entries * 6, '0');
      return "[ /Indexed /DeviceRGB " + std::to_string(entries - 1) + " <" + hex + "> ]";
    }
    default: return {};
  }
}

int32_t TPDFImage::tiffColorChannels(const TTIFFPage& page) {
  return page.Photometric == 2 ? 3 : page.Photometric == 5 ? 4 : 1;
}

TPDFIndRef* TPDFImage::buildTIFFStrip(const TTIFFPage& page, std::string data, int32_t rows, TPDFStream** streamOut) {
  const std::string space = tiffColorSpace(page);
  if (page.FillOrder == 2)
    for (char& c : data) c = static_cast<char>(reverseBits(uint8_t(c)));
  if (page.BitsPerSample == 16 && tiffLittleEndian_ && page.Compression == tcNone)
    for (size_t i = 0; i + 1 < data.size(); i += 2) std::swap(data[i], data[i + 1]);
  // Extra samples (alpha) of uncompressed pixels are dropped: the colour
  // space takes only the colour channels.
  const int32_t channels = tiffColorChannels(page);
  if (page.Compression == tcNone && page.SamplesPerPixel > channels && page.BitsPerSample % 8 == 0) {
    const size_t sampleBytes = size_t(page.BitsPerSample / 8);
    const size_t pixelIn = sampleBytes * size_t(page.SamplesPerPixel), pixelOut = sampleBytes * size_t(channels);
    std::string packed;
    packed.reserve(data.size() / pixelIn * pixelOut);
    for (size_t at = 0; at + pixelIn <= data.size(); at += pixelIn) packed.append(data, at, pixelOut);
    data = std::move(packed);
  }
  bool flate = false;
  if (page.Compression == tcNone && Compress) {
    std::string packed = CompressString(data);
    if (!packed.empty()) {
      data = std::move(packed);
      flate = true;
    }
  }
  TPDFStream* stream = newImageStream(std::move(data), page.Width, rows);
  TPDFDictionary* dict = stream->GetDictionary();
  dict->SetValue("ColorSpace", pool_->ParseObject(space));
  dict->SetValue("BitsPerComponent", pool_->NewNumeric(page.BitsPerSample));
  if (page.Photometric == 0) dict->SetValue("Decode", pool_->ParseObject("[ 1 0 ]"));
  if (flate) dict->SetValue("Filter", pool_->NewName("FlateDecode"));
  if (page.Compression == tcLZW) {
    dict->SetValue("Filter", pool_->NewName("LZWDecode"));
    if (page.Predictor > 1)
      dict->SetValue("DecodeParms", pool_->ParseObject("<< /Predictor " + std::to_string(page.Predictor) +
                                                       " /Colors " + std::to_string(page.SamplesPerPixel) +
                                                       " /Columns " + std::to_string(page.Width) + " >>"));
  } else if (page.Compression == tcCCITTGroup4 || page.Compression == tcCCITTGroup3 ||
             page.Compression == tcCCITTGroup3_2D) {
    const int k = page.Compression == tcCCITTGroup4 ? -1 : page.Compression == tcCCITTGroup3 ? 0 : 1;
    std::string parms = "<< /K " + std::to_string(k) + " /Columns " + std::to_string(page.Width) + " /Rows " +
                        std::to_string(rows) + " /BlackIs1 true";
    if (page.FillBits) parms += " /EncodedByteAlign true /EndOfLine true";
    parms += " >>";
    dict->SetValue("Filter", pool_->NewName("CCITTFaxDecode"));
    dict->SetValue("DecodeParms", pool_->ParseObject(parms));
  }
  if (streamOut) *streamOut = stream;
  return addObject(stream);
}

namespace {

// Draws a strip image of `rows` rows, the last of rowsDone rows so far, at
// its band of the unit square: the painter scales every image from there.
std::string stripPlacement(const std::string& name, int32_t rows, int64_t rowsDone, int32_t height) {
  return "q 1 0 0 " + FormatPDFNumber(6, double(rows) / height) + " 0 " +
         FormatPDFNumber(6, 1 - double(rowsDone) / height) + " cm /" + name + " Do Q";
}

}  // namespace

// The form that stacks a multi-strip page's strip images becomes the image.
void TPDFImage::finishStripForm(TPDFDictionary* xobjects, std::string content, bool compress) {
  TPDFDictionary* dict = pool_->NewDictionary();
  dict->SetValue("Type", pool_->NewName("XObject"));
  dict->SetValue("Subtype", pool_->NewName("Form"));
  dict->SetValue("BBox", pool_->ParseObject("[ 0 0 1 1 ]"));
  TPDFDictionary* resources = pool_->NewDictionary();
  resources->SetValue("XObject", xobjects);
  dict->SetValue("Resources", resources);
  TPDFStream* form = pool_->NewStreamWith(std::string(), dict);
  finishForm(form, std::move(content), compress);
  object_ = addObject(form);
  dictionary_ = dict;
}

void TPDFImage::finishForm(TPDFStream* form, std::string content, bool compress) {
  if (compress) {
    std::string packed = CompressString(content);
    if (!packed.empty()) {
      form->GetDictionary()->SetValue("Filter", pool_->NewName("FlateDecode"));
      content = std::move(packed);
    }
  }
  form->SetRawData(std::move(content));
}

bool TPDFImage::loadDecodedTIFFPage(int32_t page, const TTIFFPage* info) {
  if (tiffBytes_.empty()) return fail("the TIFF image is empty");
  TBitmap bitmap;
  std::string error;
  if (!DecodeTIFFPage(tiffBytes_, page, bitmap, kMaxPixels, error))
    return fail("the TIFF page cannot be decoded" + (error.empty() ? std::string() : ": " + error));
  const bool saved = Compress;
  Compress = true;
  // Decoded pages are bi-level with black at 0, grey, or RGB: the page's own
  // photometric reading no longer applies.
  LoadFromBitmap(bitmap, nullptr, bitmap.PixelFormat() == TPixelFormat::pf8bit);
  Compress = saved;
  kind_ = pdfikTIFFPage;
  if (info) {
    resolutionX_ = info->DpiX;
    resolutionY_ = info->DpiY;
    resolutionUnit_ = 2;
  }
  return true;
}

bool TPDFImage::LoadTIFFPage(const TPDFTIFF& tiff, int32_t pageNumber) {
  if (tiff.PageCount <= 0) return fail("the TIFF image is damaged: it has no readable page");
  pageNumber = std::clamp(pageNumber, 1, tiff.PageCount);
  TTIFFPage page;
  if (!tiff.GetPage(pageNumber, page)) return fail("the TIFF page's description is damaged");
  // Pages whose strips cannot be passed on as stored are decoded instead.
  if (passTIFFPage(page)) return true;
  object_ = nullptr;
  dictionary_ = nullptr;
  kind_ = pdfikNone;
  width_ = height_ = 0;
  return loadDecodedTIFFPage(pageNumber, &page);
}

bool TPDFImage::passTIFFPage(const TTIFFPage& page) {
  if (page.Width <= 0 || page.Height <= 0 || int64_t(page.Width) * page.Height > kMaxPixels) return false;
  if (page.Strips.empty()) return false;
  // Planes stored one after the other are not pixels PDF can read.
  if (page.SeparatePlanes && page.SamplesPerPixel > 1) return false;
  if (page.BitsPerSample < 1 || page.BitsPerSample > 16 || page.SamplesPerPixel < 1 || page.SamplesPerPixel > 8)
    return false;
  // Compressed 16-bit samples of a little-endian file cannot be passed on:
  // PDF reads them big-endian.
  if (page.BitsPerSample == 16 && tiffLittleEndian_ && page.Compression != tcNone && page.Compression != tcJPEG)
    return false;
  kind_ = pdfikTIFFPage;
  resolutionX_ = page.DpiX;
  resolutionY_ = page.DpiY;
  resolutionUnit_ = 2;
  width_ = page.Width;
  height_ = page.Height;
  const int32_t rowsPerStrip = page.RowsPerStrip > 0 ? std::min(page.RowsPerStrip, page.Height) : page.Height;
  auto stripRows = [&](size_t index) {
    const int64_t done = int64_t(index) * rowsPerStrip;
    return static_cast<int32_t>(std::clamp<int64_t>(page.Height - done, 0, rowsPerStrip));
  };
  // Strips beyond the page height hold no rows.
  size_t strips = page.Strips.size();
  while (strips > 1 && stripRows(strips - 1) == 0) --strips;

  switch (page.Compression) {
    case tcNone:
    case tcLZW:
    case tcCCITTGroup4:
    case tcCCITTGroup3:
    case tcCCITTGroup3_2D: {
      if (tiffColorSpace(page).empty()) return false;
      // Extra samples can only be dropped from uncompressed pixels.
      if (page.SamplesPerPixel != tiffColorChannels(page) &&
          (page.Compression != tcNone || page.BitsPerSample % 8 != 0 || page.SamplesPerPixel < tiffColorChannels(page)))
        return false;
      if (strips == 1) {
        TPDFStream* stream = nullptr;
        object_ = buildTIFFStrip(page, page.Strips[0], page.Height, &stream);
        dictionary_ = stream->GetDictionary();
        return true;
      }
      TPDFDictionary* xobjects = pool_->NewDictionary();
      std::string content;
      int64_t rowsDone = 0;
      for (size_t i = 0; i < strips; ++i) {
        const int32_t rows = stripRows(i);
        TPDFIndRef* ref = buildTIFFStrip(page, page.Strips[i], rows, nullptr);
        const std::string name = "PavonaIm" + NewResourceTag();
        xobjects->SetValue(name, ref);
        rowsDone += rows;
        content += stripPlacement(name, rows, rowsDone, page.Height) + "\n";
      }
      finishStripForm(xobjects, std::move(content), true);
      return true;
    }
    case tcPackBits: {
      std::string space = tiffColorSpace(page);
      if (space.empty() || page.Photometric == 5 || page.SamplesPerPixel != tiffColorChannels(page)) return false;
      std::string data;
      for (size_t i = 0; i < strips; ++i) data += page.Strips[i];
      std::string packed = CompressString(data);
      if (packed.empty()) return false;
      TPDFStream* stream = newImageStream(std::move(packed), page.Width, page.Height);
      TPDFDictionary* dict = stream->GetDictionary();
      dict->SetValue("ColorSpace", pool_->ParseObject(space));
      dict->SetValue("BitsPerComponent", pool_->NewNumeric(page.BitsPerSample));
      if (page.Photometric == 0) dict->SetValue("Decode", pool_->ParseObject("[ 1 0 ]"));
      dict->SetValue("Filter", pool_->ParseObject("[ /FlateDecode /RunLengthDecode ]"));
      object_ = addObject(stream);
      dictionary_ = dict;
      return true;
    }
    case tcJPEG: {
      if (strips == 1) {
        int32_t w = 0, h = 0, components = 0;
        if (!scanJPEG(page.Strips[0], w, h, components, true)) return false;
        TPDFStream* stream = nullptr;
        object_ = buildJPEGStream(page.Strips[0], w, h, components, &stream);
        dictionary_ = stream->GetDictionary();
        width_ = w;
        height_ = h;
        return true;
      }
      // Every strip must stand on its own before any is added.
      for (size_t i = 0; i < strips; ++i) {
        int32_t w = 0, h = 0, components = 0;
        if (!scanJPEG(page.Strips[i], w, h, components, true)) return false;
      }
      TPDFDictionary* xobjects = pool_->NewDictionary();
      std::string content;
      int64_t rowsDone = 0;
      for (size_t i = 0; i < strips; ++i) {
        int32_t w = 0, h = 0, components = 0;
        scanJPEG(page.Strips[i], w, h, components, true);
        TPDFIndRef* ref = buildJPEGStream(page.Strips[i], w, h, components, nullptr);
        const std::string name = "PavonaIm" + NewResourceTag();
        xobjects->SetValue(name, ref);
        const int32_t rows = stripRows(i);
        rowsDone += rows;
        content += stripPlacement(name, rows, rowsDone, page.Height) + " ";
      }
      finishStripForm(xobjects, std::move(content), false);
      return true;
    }
    default:
      // Other compressions have no PDF filter: the page is decoded.
      return false;
  }
}

// --- Masks and binding ----------------------------------------------------------------------

int32_t TPDFImage::GetMaskKind() const {
  if (!dictionary_) return 0;
  TPDFBoolean* imageMask = PDFAsBoolean(dictionary_->GetValue("ImageMask", true));
  const bool isMask = imageMask && imageMask->GetValue();
  const bool hasMask = dictionary_->GetValue("Mask") != nullptr;
  const bool hasSMask = dictionary_->GetValue("SMask") != nullptr;
  if (isMask && !hasMask && !hasSMask) {
    TPDFObject* bpc = dictionary_->GetValue("BitsPerComponent", true);
    const bool bitsOk = !bpc || (PDFAsNumeric(bpc) && PDFAsNumeric(bpc)->GetValue() == 1);
    TPDFObject* decode = dictionary_->GetValue("Decode", true);
    bool decodeOk = !decode;
    if (TPDFArray* d = PDFAsArray(decode); d && d->GetCount() == 2) {
      TPDFNumeric* a = PDFAsNumeric(d->GetItem(0));
      TPDFNumeric* b = PDFAsNumeric(d->GetItem(1));
      decodeOk = a && b && ((a->GetValue() == 0 && b->GetValue() == 1) || (a->GetValue() == 1 && b->GetValue() == 0));
    }
    const bool namedSpace = PDFAsName(dictionary_->GetValue("ColorSpace", true)) != nullptr;
    if (bitsOk && decodeOk && !namedSpace) return 1;
    return 0;
  }
  if (!isMask && !hasMask && !hasSMask && dictionary_->GetNameValue("ColorSpace") == "DeviceGray") return 2;
  return 0;
}

void TPDFImage::SetColorKeyMask(double r1, double g1, double b1, double r2, double g2, double b2) {
  if (!dictionary_) return;
  auto scale = [](double v) {
    v = v > 1 ? 1 : (v >= 0 ? v : 0);
    return static_cast<int32_t>(std::lround(v * 255));
  };
  const int32_t values[6] = {scale(r1), scale(r2), scale(g1), scale(g2), scale(b1), scale(b2)};
  dictionary_->SetValue("Mask", pool_->NewIntegerArray(values));
}

bool TPDFImage::SetMaskObject(int32_t number, int32_t generation, int32_t kind) {
  if (!dictionary_ || (kind != 1 && kind != 2)) return false;
  dictionary_->SetValue(kind == 1 ? "Mask" : "SMask", pool_->NewIndRef(number, generation));
  return true;
}

void TPDFImage::AttachToObject(int32_t number, int32_t generation, int32_t width, int32_t height) {
  object_ = pool_->NewIndRef(number, generation);
  TPDFStream* stream = PDFAsStream(object_->Resolve());
  if (!stream) stream = pool_->NewStream(std::string_view(), false);
  dictionary_ = stream->GetDictionary();
  width_ = width;
  height_ = height;
}

bool TPDFImage::SaveDataToFile(const std::string& path) const {
  // No source bytes kept (KeepSource off, or nothing loaded): there is
  // nothing to save, and a file already at the path stays as it is.
  if (source_.empty()) return false;
  try {
    WriteFileBytesAtomic(path, source_);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// --- Enhanced metafiles ---------------------------------------------------------------

bool TPDFImage::loadRasterisedMetafile(std::string_view emf) {
  // The metafile converted as usual into a scratch pool of its own, placed
  // on a page of its size and drawn by our renderer; only the picture
  // reaches the document.
  TPDFStructure scratch;
  std::vector<TPDFObject*> objects;
  scratch.OnGetObjectNumber = [&objects](TPDFStructure*, TPDFObject* obj, int32_t& number, int32_t& generation) {
    objects.push_back(obj);
    number = static_cast<int32_t>(objects.size());
    generation = 0;
  };
  scratch.OnLookupObject = [&objects](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
    return number >= 1 && size_t(number) <= objects.size() ? objects[size_t(number) - 1] : nullptr;
  };
  TPDFImage vector(&scratch, "PavonaIm1");
  vector.MetafileEmbedFonts = MetafileEmbedFonts;
  vector.MetafileFaces = MetafileFaces;
  if (!vector.LoadMetafile(emf, 0)) return false;
  const TEmfFile file(emf);
  // The picture's size at 96 dpi, drawn in points at 96 dpi.
  const double wPt = file.FrameWidth() * 72.0 / 2540, hPt = file.FrameHeight() * 72.0 / 2540;
  if (wPt * 96 / 72 * hPt * 96 / 72 > double(kMaxPixels)) throw EPDFImageError("Metafile picture too large");
  const double side = std::min(wPt, hPt);
  TPDFDictionary* xobjects = scratch.NewDictionary();
  xobjects->SetValue("Fm", scratch.NewIndRef(vector.GetObject()->GetRefNumber(), 0));
  TPDFDictionary* resources = scratch.NewDictionary();
  resources->SetValue("XObject", xobjects);
  TPDFStream* content = scratch.NewStream(
      "q " + FormatPDFNumber(6, side) + " 0 0 " + FormatPDFNumber(6, side) + " 0 0 cm /Fm Do Q", false);
  int32_t contentNumber = 0, generation = 0;
  scratch.OnGetObjectNumber(&scratch, content, contentNumber, generation);
  TPDFDictionary* page = scratch.NewDictionary();
  page->SetValue("Type", scratch.NewName("Page"));
  const double box[] = {0, 0, wPt, hPt};
  page->SetValue("MediaBox", scratch.NewRealArray(box));
  page->SetValue("Resources", resources);
  page->SetValue("Contents", scratch.NewIndRef(contentNumber, 0));

  TPDFFontCollection fonts;
  fonts.LoadOutlines = true;
  TPDFRenderer renderer(&fonts);
  renderer.PageObject = page;
  renderer.Resolution = 96;
  renderer.OutputKind = rokCairo;
  renderer.MeasurePage();
  const int32_t w = renderer.GetOutputWidth(), h = renderer.GetOutputHeight();
  if (w <= 0 || h <= 0 || int64_t(w) * h > kMaxPixels) throw EPDFImageError("Metafile picture too large");
  TBitmap bitmap(w, h, TPixelFormat::pf32bit);
  bitmap.SetAlphaFormat(TAlphaFormat::afPremultiplied);
  {
    TCanvas canvas(bitmap);
    renderer.SetCairoTarget(canvas.Handle(), "libcairo.so.2", true);
    renderer.RenderPage();
    canvas.Flush();
  }
  bitmap.SetAlphaFormat(TAlphaFormat::afIgnored);
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  const bool saved = Compress;
  Compress = true;
  LoadFromBitmap(bitmap, nullptr, false);
  Compress = saved;
  return true;
}

bool TPDFImage::LoadMetafile(std::string_view bytes, int32_t option) {
  if (!pool_->OnGetObjectNumber) return false;
  if (option == -1) return loadRasterisedMetafile(bytes);
  const TEmfFile emf(bytes);
  const double w = emf.FrameWidth(), h = emf.FrameHeight();
  if (!(w > 0) || !(h > 0)) throw EEmfError("the metafile has an empty frame");
  TPDFMetafileLists lists;
  TPDFMetafile converter(pool_, lists, MetafileFaces);
  converter.EmbedFonts = MetafileEmbedFonts;
  converter.CompressFonts = Compress;
  const std::string content = converter.ConvertMetafile(emf);

  TPDFDictionary* dict = pool_->NewDictionary();
  dict->SetValue("Type", pool_->NewName("XObject"));
  dict->SetValue("Subtype", pool_->NewName("Form"));
  dict->SetValue("FormType", pool_->NewNumeric(1));
  const double box[] = {0, 0, w < h ? 1.0 : w / h, w < h ? h / w : 1.0};
  dict->SetValue("BBox", pool_->NewRealArray(box));
  const double identity[] = {1, 0, 0, 1, 0, 0};
  dict->SetValue("Matrix", pool_->NewRealArray(identity));
  // The form carries everything the conversion made as its own resources.
  TPDFDictionary* resources = pool_->NewDictionary();
  auto group = [&](std::string_view key) {
    TPDFDictionary* d = pool_->NewDictionary();
    resources->SetValue(key, d);
    return d;
  };
  if (!lists.Fonts.empty()) {
    TPDFDictionary* fonts = group("Font");
    for (const auto& f : lists.Fonts)
      if (f->GetReference()) fonts->SetValue(f->GetResourceName(), pool_->NewIndRef(f->GetReference()->GetRefNumber(), f->GetReference()->GetRefGeneration()));
  }
  if (!lists.Images.empty()) {
    TPDFDictionary* images = group("XObject");
    for (const auto& i : lists.Images)
      if (i->GetObject()) images->SetValue(i->GetResourceName(), pool_->NewIndRef(i->GetObject()->GetRefNumber(), i->GetObject()->GetRefGeneration()));
  }
  if (!lists.GraphicStates.empty()) {
    TPDFDictionary* states = group("ExtGState");
    for (const auto& g : lists.GraphicStates)
      states->SetValue(g->Name, pool_->NewIndRef(g->Reference->GetRefNumber(), g->Reference->GetRefGeneration()));
  }
  if (!lists.Patterns.empty()) {
    TPDFDictionary* patterns = group("Pattern");
    for (const auto& p : lists.Patterns)
      patterns->SetValue(p->Name, pool_->NewIndRef(p->Reference->GetRefNumber(), p->Reference->GetRefGeneration()));
  }
  resources->SetValue("ProcSet", pool_->ParseObject("[ /PDF /Text /ImageB /ImageC /ImageI ]"));
  dict->SetValue("Resources", resources);
  TPDFStream* form = pool_->NewStreamWith(std::string(), dict);
  form->SetData(content, true);
  object_ = addObject(form);
  if (!object_) return false;
  dictionary_ = dict;
  kind_ = pdfikMetafile;
  width_ = static_cast<int32_t>(std::lround(w * 72 / 2540));
  height_ = static_cast<int32_t>(std::lround(h * 72 / 2540));
  return true;
}
