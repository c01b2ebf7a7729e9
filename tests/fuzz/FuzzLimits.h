// Limits lowered for the fuzz targets: the program allows pictures and
// decoded streams of sizes that take many seconds in the instrumented build,
// and a smaller bound keeps the runs on the faults.
#pragma once

#include <cstdint>

#include "objects/PavonaFlate.h"
#include "platform/Bitmap.h"

// Sets the limits once, before a target's first input.
inline void LimitFuzzSizes(int64_t maxPixels, uint64_t maxDecodedBytes) {
  static const bool limited = [&] {
    SetMaxDecodedSize(maxDecodedBytes);
    TBitmap::SetMaxPixels(maxPixels);
    return true;
  }();
  (void)limited;
}
