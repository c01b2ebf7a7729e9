// BMP reader on arbitrary bytes: errors are fine, crashes and huge
// allocations are not.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    TBitmap::SetMaxPixels(int64_t(1) << 22);
    return true;
  }();
  (void)limited;
  TBitmap bmp;
  try {
    bmp.LoadFromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    // Exercise what a consumer does with a decoded bitmap.
    volatile TColor sink = bmp.Pixel(bmp.Width() - 1, bmp.Height() - 1);
    (void)sink;
    std::string again = bmp.SaveToBytes();
    TBitmap back;
    back.LoadFromBytes(again);
  } catch (const Exception&) {
  }
  return 0;
}
