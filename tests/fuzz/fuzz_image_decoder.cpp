// Image decoding of arbitrary image dictionaries and data: the input is the
// dictionary's PDF syntax, a NUL byte, then the stream data. When the data
// hold "\0OBJ1\0", what follows is object 1 (dictionary, NUL, data), which
// references "1 0 R" reach: a tint transform's calculator program, JBIG2
// globals or a soft mask. The same bytes are also read as content text
// holding an inline image, and a decoded image is drawn onto a small page.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaImageDecoder.h"
#include "platform/GdiCanvas.h"

namespace {

void Draw(TPDFImageDecoder& dec) {
  if (!dec.IsReady()) return;
  static TBitmap page(16, 16, TPixelFormat::pf24bit);
  TCanvas canvas(page);
  TPDFPicasso picasso;
  picasso.SetCanvas(canvas);
  picasso.AttachCanvas(&canvas, TGDIPlusSettings());
  const double m[6] = {16, 0, 0, -16, 0, 16};
  dec.DrawImage(picasso, m, 0x0000FF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large pictures from small inputs only slow the search down.
  TBitmap::SetMaxPixels(int64_t(1) << 20);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t split = text.find('\0');
  if (split != std::string_view::npos) {
    TPDFStructure pool;
    TPDFDictionary* dict = PDFAsDictionary(pool.ParseObject(text.substr(0, split)));
    std::string_view data = text.substr(split + 1);
    TPDFObject* object1 = nullptr;
    constexpr std::string_view kObject1("\0OBJ1\0", 6);
    if (size_t at = data.find(kObject1); at != std::string_view::npos) {
      std::string_view rest = data.substr(at + kObject1.size());
      data = data.substr(0, at);
      size_t end = rest.find('\0');
      TPDFObject* head = pool.ParseObject(rest.substr(0, end));
      if (TPDFDictionary* d = PDFAsDictionary(head); d && end != std::string_view::npos)
        object1 = pool.NewStreamWith(std::string(rest.substr(end + 1)), d);
      else
        object1 = head;
    }
    pool.OnLookupObject = [object1](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      return number == 1 ? object1 : nullptr;
    };
    if (dict) {
      TPDFStream* stream = pool.NewStreamWith(std::string(data), dict);
      TPDFImageDecoder dec;
      try {
        dec.SetImage(stream);
      } catch (const ECCITTError&) {
      }
      Draw(dec);
    }
  }
  size_t pos = 0;
  TPDFInlineImage inlineImage;
  TPDFStructure pool;
  TPDFDictionary* resources =
      PDFAsDictionary(pool.ParseObject("<< /ColorSpace << /CS0 [/Indexed /DeviceRGB 1 <FF000000FF00>] >> >>"));
  if (ParseInlineImage(text, pos, inlineImage, nullptr, resources)) {
    TPDFImageDecoder dec;
    try {
      dec.ExpandInlineImage(inlineImage, &pool);
    } catch (const ECCITTError&) {
    }
    Draw(dec);
  }
  return 0;
}
