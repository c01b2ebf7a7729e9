// Small helpers of the codec tests: reading the files peer tools write
// (PBM/PGM/PPM, single-strip TIFF) and listing a PDF's images of one filter.
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

// The strip data and tags of the first image of a TIFF holding one strip.
struct TTiffStrip {
  std::string data;
  int width = 0, height = 0, fillOrder = 1;
};
TTiffStrip ReadSingleStripTiff(const std::string& bytes);

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
