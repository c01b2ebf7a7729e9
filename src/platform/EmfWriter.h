// Enhanced-metafile recording: our stand-in for the system's metafile device
// context. A TEmfWriter receives every drawing call made on a metafile DC
// (CreateMetafileDC in Gdi.h) and turns it into EMF records: objects are
// created in the metafile when first selected and deleted when the program
// deletes them; paths, fills, strokes, clipping, saved states, pixels and
// bitmaps become the records GDI itself would write. Finish gives the file:
// the header (bounds, frame, reference device), the records and EOF.
//
// TMetafile and TMetafileCanvas are the class library's metafile picture and
// the canvas that records into it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "platform/Gdi.h"

class EEmfWriteError : public Exception {
public:
  using Exception::Exception;
};

class TEmfWriter {
public:
  // Largest metafile the writer builds; beyond it drawing calls are dropped
  // and Finish raises, so a huge page cannot exhaust memory.
  static constexpr size_t kMaxBytes = size_t(1) << 30;

  // The picture is width x height device pixels at dpi dots per inch.
  TEmfWriter(int32_t width, int32_t height, double dpi);
  ~TEmfWriter();
  TEmfWriter(const TEmfWriter&) = delete;
  TEmfWriter& operator=(const TEmfWriter&) = delete;

  // Objects, named by their GDI handle value.
  void SelectPen(uintptr_t id, DWORD style, double width, COLORREF color, const std::vector<double>& dashes);
  void SelectBrush(uintptr_t id, bool hollow, COLORREF color);
  void ObjectDeleted(uintptr_t id);

  void SetPolyFillMode(int mode);
  void SetMiterLimit(double limit);
  void MoveTo(int32_t x, int32_t y);
  void LineTo(int32_t x, int32_t y);
  void PolyBezierTo(const POINT* points, uint32_t count);
  void Polygon(const POINT* points, uint32_t count);
  void Polyline(const POINT* points, uint32_t count);
  void Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom);
  // A rectangle filled with a brush that is not selected afterwards.
  void FillRect(const RECT& rect, bool hollow, COLORREF color);

  void BeginPath();
  void EndPath();
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(int mode);
  void ResetClip();
  void IntersectClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void SaveDC();
  void RestoreDC(int32_t level);

  void SetPixel(int32_t x, int32_t y, COLORREF color);
  // The source rectangle of a bitmap stretched onto the destination rectangle.
  void StretchBitmap(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, const TBitmap& source,
                     int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, double constantAlpha);
  // The source rectangle mapped onto the parallelogram of three points
  // (upper-left, upper-right, lower-left).
  void ParallelogramBitmap(const POINT* points, const TBitmap& source, int32_t xSrc, int32_t ySrc, int32_t width,
                           int32_t height);

  // The file is an EMF+ dual metafile, as GDI+ records one when a program
  // draws through GDI on its metafile graphics: an EMF+ header (dual, video
  // display, the recording resolution) and an EMF+ GetDC record open it, so
  // GDI+ readers play the GDI records that follow, and an EMF+ end-of-file
  // record closes it. Readers without EMF+ skip the comments.
  bool EmfPlusDual = false;

  // The complete file. Raises EEmfWriteError when the metafile grew too large.
  std::string Finish();
  size_t RecordCount() const { return recordCount_; }

private:
  class TRecord;
  void add(const TRecord& record);
  uint32_t handleFor(uintptr_t id, bool& created);
  void bounded(uint32_t type, const POINT* points, uint32_t count);
  void writeBitmap(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, const TBitmap& source,
                   int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, double constantAlpha);

  int32_t width_, height_;
  double dpi_;
  std::string records_;
  size_t recordCount_ = 0;
  bool overflow_ = false;
  std::map<uintptr_t, uint32_t> handles_;  // GDI object -> metafile object index
  std::vector<bool> used_;                 // metafile object slots in use (slot 0 is the metafile's own)
  uint32_t highestHandle_ = 0;
};

// The class library's metafile picture: an enhanced metafile, saved as EMF,
// or (Enhanced false) as a placeable Windows metafile.
class TMetafile {
public:
  void Clear();
  bool Empty() const { return bytes_.empty(); }
  bool Enhanced = true;
  // Size in device pixels of the recording.
  int32_t Width = 0, Height = 0;
  double DPI = 96;
  // Recorded as an EMF+ dual metafile (TEmfWriter::EmfPlusDual).
  bool EmfPlusDual = false;
  // EMF bytes as recorded.
  const std::string& EnhancedBytes() const { return bytes_; }
  void SetEnhancedBytes(std::string bytes) { bytes_ = std::move(bytes); }
  // EMF, or for Enhanced false the placeable WMF converted from it
  // (EEmfWriteError when a record has no Windows-metafile form).
  void SaveToStream(TStream& stream) const;

private:
  std::string bytes_;
};

// Records drawing into a metafile; the metafile is complete when the
// canvas is destroyed (or Close is called).
class TMetafileCanvas {
public:
  explicit TMetafileCanvas(TMetafile& metafile);
  ~TMetafileCanvas();
  TMetafileCanvas(const TMetafileCanvas&) = delete;
  TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;
  HDC Handle() const { return dc_; }
  // Completes the metafile; raises EEmfWriteError when it cannot be made.
  void Close();

private:
  TMetafile& metafile_;
  std::unique_ptr<TEmfWriter> writer_;
  HDC dc_ = nullptr;
};

// A placeable Windows metafile made from an enhanced metafile of the subset
// our metafile DC writes: curves are flattened, paths become polygons and
// polylines, clipping paths become clipping rectangles of their bounds, and
// bitmaps are drawn with StretchDIB. EEmfWriteError for other EMF input.
std::string ConvertEmfToWmf(const std::string& emf, double dpi);
