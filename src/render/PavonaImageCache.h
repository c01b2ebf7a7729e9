// Images prepared for drawing, kept for a document between draws and pages.
//
// An image XObject is decoded once and reduced once to the size it covers on
// the device (an area average of the source pixels; an image drawn at or
// above its own size keeps every pixel). The result is kept, in the form the
// drawing back-ends take (premultiplied 32-bit), under the image's object and
// the size it was prepared at, so that a logo on every page or a picture
// drawn many times is decoded and reduced once. Stencil masks keep their
// coverage only: the fill colour, which differs between draws, is applied
// when drawn.
//
// The cache holds at most its budget of bytes; the least recently used
// entries go first. An entry larger than a quarter of the budget is not kept
// (it would push everything else out for a picture that may never come back),
// and a picture above SmallEntry bytes is kept only once its image has been
// offered before: the page-sized picture of each page of a scan, drawn once,
// then costs no memory beyond its own draw.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Bitmap.h"

class TPDFImageDecoder;
class TPDFPicasso;
class TPDFStream;

// What an entry stands for: the image object (number, generation and a
// fingerprint of its stream, so that an image replaced by an edit is not
// taken for the old one) and the size it was prepared at.
struct TPDFImageCacheKey {
  int32_t Number = 0;
  int32_t Generation = 0;
  uint64_t Fingerprint = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  bool operator==(const TPDFImageCacheKey& o) const {
    return Number == o.Number && Generation == o.Generation && Fingerprint == o.Fingerprint && Width == o.Width &&
           Height == o.Height;
  }
};

struct TPDFImageCacheKeyHash {
  size_t operator()(const TPDFImageCacheKey& k) const;
};

// A picture ready to draw: premultiplied 32-bit pixels, or for a stencil
// mask the coverage (0 nothing, 255 painted) of each pixel.
struct TPDFPreparedImage {
  int32_t Width = 0;
  int32_t Height = 0;
  bool Stencil = false;
  TBitmap Picture;                // pf32bit, premultiplied (not a stencil)
  std::vector<uint8_t> Coverage;  // Width * Height bytes (stencil)
  int64_t ByteCount() const;
};

class TPDFImageCache {
public:
  // Default budget: enough for the repeated pictures of ordinary documents
  // at screen resolutions, small beside a page bitmap at print resolutions.
  static constexpr int64_t DefaultBudget = int64_t(24) << 20;
  // Pictures up to this size (a picture of about 64 x 64 pixels) are kept at
  // their first offer; at screen resolutions most pictures of a document are
  // larger, and one drawn once is not worth keeping for the rest of the run.
  static constexpr int64_t SmallEntry = int64_t(16) << 10;
  // Images remembered as offered (their identities only).
  static constexpr size_t MaxRemembered = 4096;

  explicit TPDFImageCache(int64_t budgetBytes = DefaultBudget);
  TPDFImageCache(const TPDFImageCache&) = delete;
  TPDFImageCache& operator=(const TPDFImageCache&) = delete;

  // The entry under key (now the most recently used), or nullptr.
  std::shared_ptr<const TPDFPreparedImage> Find(const TPDFImageCacheKey& key);
  // Keeps image under key when it fits (and is small or its image was
  // offered before), evicting the least recently used entries to stay
  // within the budget. True when kept.
  bool Insert(const TPDFImageCacheKey& key, std::shared_ptr<const TPDFPreparedImage> image);
  void Clear();
  void SetBudget(int64_t budgetBytes);

  int64_t GetBudget() const { return budget_; }
  int64_t GetByteCount() const { return bytes_; }
  int32_t GetCount() const { return static_cast<int32_t>(entries_.size()); }
  int64_t GetHits() const { return hits_; }
  int64_t GetMisses() const { return misses_; }

private:
  struct TEntry {
    TPDFImageCacheKey Key;
    std::shared_ptr<const TPDFPreparedImage> Image;
  };
  void Trim();
  // True when the image (any size) was offered before; remembers it.
  bool Offered(const TPDFImageCacheKey& key);

  int64_t budget_;
  int64_t bytes_ = 0;
  int64_t hits_ = 0, misses_ = 0;
  std::list<TEntry> entries_;  // most recently used first
  std::list<TPDFImageCacheKey> remembered_;  // oldest first, sizes zero
  std::unordered_map<TPDFImageCacheKey, std::list<TPDFImageCacheKey>::iterator, TPDFImageCacheKeyHash> offered_;
  std::unordered_map<TPDFImageCacheKey, std::list<TEntry>::iterator, TPDFImageCacheKeyHash> index_;
};

// A fingerprint of an image stream: its data (sampled over the whole length
// for large streams) and the identity of the stream and its dictionary.
uint64_t ImageStreamFingerprint(const TPDFStream* stream);

// The image matrix m (unit square to device) of a picture drawn upright or
// turned by quarter turns, widened to whole device pixels: every pixel the
// picture touches is covered by it, with crisp edges instead of a soft
// border of partly covered pixels. Other matrices are left as they are.
void GridFitImageMatrix(double m[6]);

// The size (pixels) an image of width x height is prepared at when drawn
// under the device matrix m (unit square to device): the device extent of
// each side, rounded up, at most the image's own size.
void PreparedImageSize(int32_t width, int32_t height, const double m[6], int32_t& preparedWidth,
                       int32_t& preparedHeight);

// The size of the grid a decoded image is prepared from: its picture and its
// mask (which may be finer than the picture: the shapes it cuts out keep
// their edges) at the larger of their sizes.
void DecodedImageGridSize(const TPDFImageDecoder& decoder, int32_t& gridWidth, int32_t& gridHeight);

// The decoded image at preparedWidth x preparedHeight (each target pixel the
// area average of its source pixels, colours weighted by alpha), nullptr
// when the decoder holds no picture. Throws on allocation failure.
std::shared_ptr<TPDFPreparedImage> PrepareImage(TPDFImageDecoder& decoder, int32_t preparedWidth,
                                                int32_t preparedHeight);

// Draws a prepared picture under the image matrix m, widened to whole
// pixels (GridFitImageMatrix); a stencil is painted with fillColor
// (0x00BBGGRR). Never raises: a picture that cannot be drawn is left out,
// and failure (when given) says why.
void DrawPreparedImage(TPDFPicasso& canvas, const TPDFPreparedImage& image, const double m[6], TColor fillColor,
                       std::string* failure = nullptr);
