// Numbers of the page-image formats, shared by the page output and the facade.
#pragma once

#include <cstdint>

constexpr int32_t pofBMP = 0, pofJPEG = 1, pofWMF = 2, pofEMF = 3, pofEPS = 4, pofPNG = 5, pofGIF = 6, pofTIFF = 7,
                  pofRaw = 8, pofHTML = 9;
