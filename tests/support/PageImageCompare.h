// Tolerant comparison of two page images: both are turned to grey, blurred
// over 3 x 3 pixels (so that anti-aliasing and one-pixel shifts of edges
// count little) and compared pixel by pixel over their common area.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Bitmap.h"
#include "platform/Gdi.h"

namespace pvltest {

struct TImageDifference {
  double mean = 255;     // mean absolute grey difference, 0..255
  double inkRecall = 0;  // share of the reference's dark pixels that are dark in the other image
  int widthA = 0, heightA = 0, widthB = 0, heightB = 0;
};

// Grey levels of a bitmap (any format), row by row.
inline std::vector<int> GreyOf(const TBitmap& b) {
  std::vector<int> g(static_cast<size_t>(b.Width()) * b.Height());
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      TColor c = b.Pixel(x, y);
      g[static_cast<size_t>(y) * b.Width() + x] = (GetRValue(c) * 77 + GetGValue(c) * 150 + GetBValue(c) * 29) >> 8;
    }
  return g;
}

inline std::vector<int> Blur3(const std::vector<int>& g, int w, int h) {
  std::vector<int> out(g.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sum = 0, n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          int xx = x + dx, yy = y + dy;
          if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
          sum += g[static_cast<size_t>(yy) * w + xx];
          ++n;
        }
      out[static_cast<size_t>(y) * w + x] = sum / n;
    }
  return out;
}

// reference is the peer's image; candidate ours.
inline TImageDifference CompareImages(const TBitmap& reference, const TBitmap& candidate) {
  TImageDifference d;
  d.widthA = reference.Width(), d.heightA = reference.Height();
  d.widthB = candidate.Width(), d.heightB = candidate.Height();
  if (reference.Empty() || candidate.Empty()) return d;
  const int w = std::min(reference.Width(), candidate.Width()), h = std::min(reference.Height(), candidate.Height());
  const std::vector<int> a = Blur3(GreyOf(reference), reference.Width(), reference.Height());
  const std::vector<int> b = Blur3(GreyOf(candidate), candidate.Width(), candidate.Height());
  const std::vector<int> rawA = GreyOf(reference), rawB = GreyOf(candidate);
  double total = 0;
  long dark = 0, found = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      total += std::abs(a[static_cast<size_t>(y) * reference.Width() + x] - b[static_cast<size_t>(y) * candidate.Width() + x]);
      if (rawA[static_cast<size_t>(y) * reference.Width() + x] < 128) {
        ++dark;
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy)
          for (int dx = -1; dx <= 1 && !near; ++dx) {
            int xx = x + dx, yy = y + dy;
            if (xx >= 0 && yy >= 0 && xx < w && yy < h && rawB[static_cast<size_t>(yy) * candidate.Width() + xx] < 160)
              near = true;
          }
        found += near;
      }
    }
  d.mean = total / (double(w) * h);
  d.inkRecall = dark ? double(found) / dark : 1.0;
  return d;
}

// A PNG file decoded, or an empty bitmap.
inline TBitmap LoadPng(const std::string& path) {
  TBitmap b;
  if (!DecodePicture(ReadFile(path), b)) return TBitmap();
  return b;
}

// Page `page` of a PDF file as pdftoppm draws it at 72 dpi, kept in the
// folder as name.png; an empty bitmap (and a failure) when it cannot.
inline TBitmap PeerPage(const std::string& pdf, int page, const TempDir& dir, const std::string& name) {
  const std::string base = dir.File(name);
  auto r = RunCommand({"pdftoppm", "-r", "72", "-f", std::to_string(page), "-l", std::to_string(page), "-png",
                       "-singlefile", pdf, base});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return LoadPng(base + ".png");
}

// Fails the test in CI when a peer tool is missing; true when it is there.
inline bool RequireTool(const std::string& tool, std::string& missing) {
  if (HaveTool(tool)) return true;
  missing = tool + " is missing";
  return false;
}

}  // namespace pvltest
