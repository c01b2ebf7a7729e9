// The colour value of the class library, shared by the engine's bitmaps and
// canvases and the user-interface components: 0x00BBGGRR (red in bits 0-7).
// The components also keep system colours in it as 0xFF0000nn (the index of
// the system colour in the low byte); ColorToRGB in the components resolves
// those, and the engine never receives one.
#pragma once

#include <cstdint>

using TColor = uint32_t;
