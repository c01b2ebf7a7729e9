// Small helpers of the codec and rendering tests: reading the files peer
// tools write (PBM/PGM/PPM, single-strip TIFF), reshaping the fax data they
// write, and listing a PDF's images of one filter.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace codectest {

// A netpbm image: P4 (bits, 1 black, rows padded to bytes), P5, P6 or P7 (PAM)
// (bytes).
struct TPnm {
  char kind = 0;  // '4', '5', '6' or '7'
  int width = 0, height = 0, maxval = 1;
  int depth = 0;  // channels of a PAM file
  std::string data;  // raster as stored in the file
};
TPnm ReadPnm(const std::string& bytes);
// A binary PPM (P6, as pdftoppm writes): its size and its R, G, B bytes row by
// row from the top. False for any other file, an empty image or a short raster.
bool ReadPpmRgb(const std::string& bytes, int& width, int& height, std::string& rgb);

// The strip data and tags of the first image of a TIFF holding one strip.
struct TTiffStrip {
  std::string data;
  int width = 0, height = 0, fillOrder = 1;
};
TTiffStrip ReadSingleStripTiff(const std::string& bytes);

// "0101..." to bytes, most significant bit first, zero padded; and back.
std::string BitsToBytes(const std::string& bits);
std::string BytesToBits(const std::string& bytes);
// Rewrites Group 3 data from libtiff (written without fill bits) without its
// EOL codes: the last eleven zeros and the one of every run of at least eleven
// zero bits followed by a one are removed (the zeros before them end the code
// in front), and zero padding up to the next byte boundary is added when rows
// are to start on bytes. The tag bit of 2-D data stays after it.
std::string WithoutEOL(const std::string& data, bool byteAlign);

// One image of a PDF as tests/graphics/pdf_images.py lists it.
struct TPdfImage {
  int object = 0, width = 0, height = 0;
  std::map<std::string, int> parms;  // DecodeParms of the filter
  std::string data;                  // the stream's raw data
  std::string globals;               // /JBIG2Globals data, empty when none
  bool hasGlobals = false;
  int Parm(const std::string& key, int dflt) const {
    auto it = parms.find(key);
    return it == parms.end() ? dflt : it->second;
  }
};
std::vector<TPdfImage> PdfImages(const std::string& pdf, const std::string& filter);

}  // namespace codectest
