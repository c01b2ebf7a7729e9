// The GDI+ flat API (libgdiplus), bound at run time into one process-wide
// table with a status, so that the program starts and draws with GDI where
// the library is missing. Our own declarations of the types and functions.
#pragma once

#include <cstdint>
#include <string>

namespace gdip {
using GpStatus = int;  // 0 is Ok
using ARGB = uint32_t;
using REAL = float;
struct GpGraphics;
struct GpPath;
struct GpBrush;
struct GpPen;
struct GpImage;
struct GpRegion;
struct GpImageAttributes;
using GpBitmap = GpImage;
using GpSolidFill = GpBrush;

struct GpPointF {
  REAL X, Y;
};
struct GUID {
  uint32_t Data1;
  uint16_t Data2, Data3;
  uint8_t Data4[8];
};
using CLSID = GUID;

struct GdiplusStartupInput {
  uint32_t GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  int SuppressBackgroundThread = 0;
  int SuppressExternalCodecs = 0;
};
struct GdiplusStartupOutput {
  void* NotificationHook = nullptr;
  void* NotificationUnhook = nullptr;
};

// The encoder description as this platform's library lays it out: pointers
// are 8 bytes and strings UTF-16.
struct ImageCodecInfo {
  CLSID Clsid;
  GUID FormatID;
  const char16_t* CodecName;
  const char16_t* DllName;
  const char16_t* FormatDescription;
  const char16_t* FilenameExtension;
  const char16_t* MimeType;
  uint32_t Flags, Version, SigCount, SigSize;
  const uint8_t* SigPattern;
  const uint8_t* SigMask;
};

// Values of the enumerations used.
constexpr int FillModeAlternate = 0, FillModeWinding = 1;
constexpr int UnitPixel = 2;
constexpr int SmoothingModeNone = 3, SmoothingModeAntiAlias = 4;
constexpr int PixelOffsetModeHalf = 4;
constexpr int InterpolationModeHighQualityBicubic = 7, InterpolationModeBicubic = 4,
              InterpolationModeNearestNeighbor = 5;
constexpr int CombineModeReplace = 0, CombineModeIntersect = 1;
constexpr int LineJoinMiter = 0, LineJoinBevel = 1, LineJoinRound = 2;
constexpr int LineCapFlat = 0, LineCapSquare = 1, LineCapRound = 2;
constexpr int ColorAdjustTypeBitmap = 1;
constexpr int PixelFormat32bppPARGB = 0x000E200B;

// libgdiplus's replacement for IStream when saving.
using GetBytesDelegate = int (*)(uint8_t*, int, int);
using PutBytesDelegate = int (*)(uint8_t*, int);
using SeekDelegate = long (*)(int, int);
using CloseDelegate = void (*)();
using SizeDelegate = long (*)();
}  // namespace gdip

// Binding status.
constexpr int gdipNotLoaded = 0;
constexpr int gdipNoLibrary = 1;
constexpr int gdipIncomplete = 2;
constexpr int gdipReady = 3;

// The entry-point table. Every slot of the flat API the system names is
// looked up; only the entry points the engine really calls decide the status
// (the library lacks some that nothing calls).
struct TGdiPlusAPI {
  gdip::GpStatus (*GdiplusStartup)(uintptr_t*, const gdip::GdiplusStartupInput*, gdip::GdiplusStartupOutput*);
  void (*GdiplusShutdown)(uintptr_t);
  gdip::GpStatus (*GdipCreateFromHDC)(void*, gdip::GpGraphics**);
  gdip::GpStatus (*GdipDeleteGraphics)(gdip::GpGraphics*);
  gdip::GpStatus (*GdipCreatePath)(int, gdip::GpPath**);
  gdip::GpStatus (*GdipDeletePath)(gdip::GpPath*);
  gdip::GpStatus (*GdipAddPathLine)(gdip::GpPath*, gdip::REAL, gdip::REAL, gdip::REAL, gdip::REAL);
  gdip::GpStatus (*GdipFillPath)(gdip::GpGraphics*, gdip::GpBrush*, gdip::GpPath*);
  gdip::GpStatus (*GdipCreateSolidFill)(gdip::ARGB, gdip::GpSolidFill**);
  gdip::GpStatus (*GdipDeleteBrush)(gdip::GpBrush*);
  gdip::GpStatus (*GdipSetSmoothingMode)(gdip::GpGraphics*, int);
  gdip::GpStatus (*GdipSetPixelOffsetMode)(gdip::GpGraphics*, int);
  gdip::GpStatus (*GdipAddPathBezier)(gdip::GpPath*, gdip::REAL, gdip::REAL, gdip::REAL, gdip::REAL, gdip::REAL,
                                      gdip::REAL, gdip::REAL, gdip::REAL);
  gdip::GpStatus (*GdipClosePathFigure)(gdip::GpPath*);
  gdip::GpStatus (*GdipCreatePen1)(gdip::ARGB, gdip::REAL, int, gdip::GpPen**);
  gdip::GpStatus (*GdipDeletePen)(gdip::GpPen*);
  gdip::GpStatus (*GdipDrawPath)(gdip::GpGraphics*, gdip::GpPen*, gdip::GpPath*);
  gdip::GpStatus (*GdipLoadImageFromStream)(void*, gdip::GpImage**);
  gdip::GpStatus (*GdipSaveImageToStream)(gdip::GpImage*, void*, const gdip::CLSID*, const void*);
  gdip::GpStatus (*GdipDisposeImage)(gdip::GpImage*);
  gdip::GpStatus (*GdipDrawImageRect)(gdip::GpGraphics*, gdip::GpImage*, gdip::REAL, gdip::REAL, gdip::REAL,
                                      gdip::REAL);
  gdip::GpStatus (*GdipSetPathFillMode)(gdip::GpPath*, int);
  gdip::GpStatus (*GdipGetPointCount)(gdip::GpPath*, int*);
  gdip::GpStatus (*GdipDrawImagePoints)(gdip::GpGraphics*, gdip::GpImage*, const gdip::GpPointF*, int);
  gdip::GpStatus (*GdipSetClipPath)(gdip::GpGraphics*, gdip::GpPath*, int);
  gdip::GpStatus (*GdipCreateRegion)(gdip::GpRegion**);
  gdip::GpStatus (*GdipGetClip)(gdip::GpGraphics*, gdip::GpRegion*);
  gdip::GpStatus (*GdipDeleteRegion)(gdip::GpRegion*);
  gdip::GpStatus (*GdipSetClipRegion)(gdip::GpGraphics*, gdip::GpRegion*, int);
  gdip::GpStatus (*GdipSetPageUnit)(gdip::GpGraphics*, int);
  gdip::GpStatus (*GdipStartPathFigure)(gdip::GpPath*);
  gdip::GpStatus (*GdipSetPenDashArray)(gdip::GpPen*, const gdip::REAL*, int);
  gdip::GpStatus (*GdipSetPenDashOffset)(gdip::GpPen*, gdip::REAL);
  gdip::GpStatus (*GdipSetPenLineJoin)(gdip::GpPen*, int);
  gdip::GpStatus (*GdipSetPenStartCap)(gdip::GpPen*, int);
  gdip::GpStatus (*GdipSetPenEndCap)(gdip::GpPen*, int);
  gdip::GpStatus (*GdipSetInterpolationMode)(gdip::GpGraphics*, int);
  gdip::GpStatus (*GdipDrawImagePointsRect)(gdip::GpGraphics*, gdip::GpImage*, const gdip::GpPointF*, int, gdip::REAL,
                                            gdip::REAL, gdip::REAL, gdip::REAL, int, gdip::GpImageAttributes*,
                                            void*, void*);
  gdip::GpStatus (*GdipSetImageAttributesColorKeys)(gdip::GpImageAttributes*, int, int, gdip::ARGB, gdip::ARGB);
  gdip::GpStatus (*GdipCreateImageAttributes)(gdip::GpImageAttributes**);
  gdip::GpStatus (*GdipDisposeImageAttributes)(gdip::GpImageAttributes*);
  void* GdipGetImageDimension;
  void* GdipGetImageHorizontalResolution;
  void* GdipGetImageVerticalResolution;
  gdip::GpStatus (*GdipGetImageEncodersSize)(uint32_t*, uint32_t*);
  gdip::GpStatus (*GdipGetImageEncoders)(uint32_t, uint32_t, gdip::ImageCodecInfo*);
  void* GdipRecordMetafileFileName;
  void* GdipRecordMetafileStream;
  gdip::GpStatus (*GdipGetImageGraphicsContext)(gdip::GpImage*, gdip::GpGraphics**);
  void* GdipLoadImageFromStreamICM;
  gdip::GpStatus (*GdipSetPenMiterLimit)(gdip::GpPen*, gdip::REAL);
  void* GdipDrawImageI;
  void* GdipDrawImageRectI;
  void* GdipDrawImagePointRectI;
  void* GdipGetImageWidth;
  void* GdipGetImageHeight;
  void* GdipSetCompositingMode;
  void* GdipSetCompositingQuality;
  void* GdipSaveImageToFile;
  void* GdipLoadImageFromFile;
  void* GdipGetImagePixelFormat;
  void* GdipCreateBitmapFromGraphics;
  gdip::GpStatus (*GdipCreateBitmapFromScan0)(int, int, int, int, uint8_t*, gdip::GpBitmap**);
  void* GdipGraphicsClear;
  void* GdipCreateBitmapFromGdiDib;
  void* GdipCreateBitmapFromHBITMAP;
  // The world transform: the library offsets anti-aliased drawing by half a
  // pixel whatever the pixel offset mode, which the back-end undoes.
  gdip::GpStatus (*GdipResetWorldTransform)(gdip::GpGraphics*);
  gdip::GpStatus (*GdipTranslateWorldTransform)(gdip::GpGraphics*, gdip::REAL, gdip::REAL, int);
  // This platform's way to save an image without IStream.
  gdip::GpStatus (*GdipSaveImageToDelegate_linux)(gdip::GpImage*, gdip::GetBytesDelegate, gdip::PutBytesDelegate,
                                                  gdip::SeekDelegate, gdip::CloseDelegate, gdip::SizeDelegate,
                                                  const gdip::CLSID*, const void*);
};

// The process-wide table; slots are null until bound.
extern TGdiPlusAPI GdiPlus;

// Binds the library: a missing or empty name, or the system's "gdiplus.dll",
// means "libgdiplus.so.0". Returns the new status.
int LoadGdiPlus(const std::string& libraryName);
// Frees the library; status 0.
void UnloadGdiPlus();
int GdiPlusStatus();
// Folder of the running executable, with a trailing "/".
std::string ExecutableFolder();
// The library's file name here, standing for the system's "gdiplus.dll".
inline const char* const kGdiPlusLibrary = "libgdiplus.so.0";
// Whether an entry point of the table is bound (by name).
bool GdiPlusEntryBound(const std::string& name);

// Start-up and shut-down counted per process: the library is started by the
// first caller and shut down after the last, so that drawing objects that
// overlap never shut it down under each other. Return false when GDI+ is not
// ready or its start-up failed.
bool GdiPlusStart(uintptr_t& token);
void GdiPlusStop(uintptr_t token);
// Keeps GDI+ started once it is, for the life of the process. A program
// with a toolkit that uses fontconfig needs this: GDI+'s shutdown finalises
// fontconfig, which aborts while the toolkit still holds its caches.
void GdiPlusKeepRunning();

// CLSID of the encoder with exactly this MIME type ("image/bmp" ...). GDI+
// must be bound and started. False (clsid untouched) when there is none.
bool GetGdiPlusEncoderClsid(const std::string& mimeType, gdip::CLSID& clsid);

// Saves a GDI+ image with an encoder into bytes. False on failure.
bool SaveGdiPlusImage(gdip::GpImage* image, const gdip::CLSID& encoder, std::string& bytes);
