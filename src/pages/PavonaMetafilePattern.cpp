// Bitmap pattern brushes as tiling patterns.
#include "objects/PavonaExtra.h"
#include "objects/PavonaFlate.h"
#include "pages/PavonaMetafile.h"

bool TPDFPattern::BuildFromBitmap(const TBitmap& bitmap) {
  if (!Structure || bitmap.Empty() || !Structure->OnGetObjectNumber) return false;
  const int w = bitmap.Width(), h = bitmap.Height();
  // The cell's pixels as red, green, blue bytes, top row first.
  std::string rgb;
  rgb.reserve(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const TColor c = bitmap.Pixel(x, y);  // 0x00BBGGRR
      rgb += static_cast<char>(c & 0xFF);
      rgb += static_cast<char>((c >> 8) & 0xFF);
      rgb += static_cast<char>((c >> 16) & 0xFF);
    }
  }
  const int32_t digits = Structure->GetPrecisionDigits();
  const std::string W = FormatPDFNumber(digits, w), H = FormatPDFNumber(digits, h);
  std::string content = "q " + W + " 0 0 " + H + " 0 0 cm\nBI\n/BPC 8\n/H " + H + "\n/W " + W +
                        "\n/CS /RGB\n/F /Fl\nID\n" + CompressString(rgb) + "\nEI\nQ\n";

  TPDFDictionary* dict = Structure->NewDictionary();
  dict->SetValue("Type", Structure->NewName("Pattern"));
  dict->SetValue("PatternType", Structure->NewNumeric(1));
  dict->SetValue("PaintType", Structure->NewNumeric(1));
  dict->SetValue("TilingType", Structure->NewNumeric(1));
  const double bbox[] = {0, 0, double(w), double(h)};
  dict->SetValue("BBox", Structure->NewRealArray(bbox));
  dict->SetValue("XStep", Structure->NewNumeric(w));
  dict->SetValue("YStep", Structure->NewNumeric(h));
  const double matrix[] = {0.00072, 0, 0, 0.00072, 0, 0};
  dict->SetValue("Matrix", Structure->NewRealArray(matrix));
  dict->SetValue("Resources", Structure->ParseObject("<< /ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ] >>"));
  TPDFStream* stream = Structure->NewStreamWith(std::string(), dict);
  stream->SetData(content, false);
  int32_t number = 0, generation = 0;
  Structure->OnGetObjectNumber(Structure, stream, number, generation);
  if (number <= 0) return false;
  Reference = Structure->NewIndRef(number, generation);
  return true;
}
