#include "platform/GdiPlus.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

TGdiPlusAPI GdiPlus{};

namespace {

void* gLibrary = nullptr;
int gStatus = gdipNotLoaded;
std::mutex gStartMutex;
int gStartCount = 0;
uintptr_t gStartToken = 0;
bool gStarted = false;
bool gKeepRunning = false;

struct Entry {
  const char* name;
  void* slot;  // address of the table's function-pointer field
  bool used;   // the engine calls it, so it decides the status
};

#define PVL_USED(name) Entry{#name, &GdiPlus.name, true}
#define PVL_UNUSED(name) Entry{#name, &GdiPlus.name, false}
// The flat API's names in binding order, then what this platform's library
// needs besides (world transform, saving without IStream).
const Entry kEntries[] = {
    PVL_USED(GdiplusStartup),
    PVL_USED(GdiplusShutdown),
    PVL_UNUSED(GdipCreateFromHDC),  // our device contexts are not the library's
    PVL_USED(GdipDeleteGraphics),
    PVL_USED(GdipCreatePath),
    PVL_USED(GdipDeletePath),
    PVL_USED(GdipAddPathLine),
    PVL_USED(GdipFillPath),
    PVL_USED(GdipCreateSolidFill),
    PVL_USED(GdipDeleteBrush),
    PVL_USED(GdipSetSmoothingMode),
    PVL_USED(GdipSetPixelOffsetMode),
    PVL_USED(GdipAddPathBezier),
    PVL_USED(GdipClosePathFigure),
    PVL_USED(GdipCreatePen1),
    PVL_USED(GdipDeletePen),
    PVL_USED(GdipDrawPath),
    PVL_UNUSED(GdipLoadImageFromStream),  // no IStream here: pictures are decoded by us
    PVL_UNUSED(GdipSaveImageToStream),
    PVL_USED(GdipDisposeImage),
    PVL_USED(GdipDrawImageRect),
    PVL_USED(GdipSetPathFillMode),
    PVL_USED(GdipGetPointCount),
    PVL_USED(GdipDrawImagePoints),
    PVL_USED(GdipSetClipPath),
    PVL_USED(GdipCreateRegion),
    PVL_USED(GdipGetClip),
    PVL_USED(GdipDeleteRegion),
    PVL_USED(GdipSetClipRegion),
    PVL_USED(GdipSetPageUnit),
    PVL_USED(GdipStartPathFigure),
    PVL_USED(GdipSetPenDashArray),
    PVL_USED(GdipSetPenDashOffset),
    PVL_USED(GdipSetPenLineJoin),
    PVL_USED(GdipSetPenStartCap),
    PVL_USED(GdipSetPenEndCap),
    PVL_USED(GdipSetInterpolationMode),
    PVL_USED(GdipDrawImagePointsRect),
    PVL_USED(GdipSetImageAttributesColorKeys),
    PVL_USED(GdipCreateImageAttributes),
    PVL_USED(GdipDisposeImageAttributes),
    PVL_UNUSED(GdipGetImageDimension),
    PVL_UNUSED(GdipGetImageHorizontalResolution),
    PVL_UNUSED(GdipGetImageVerticalResolution),
    PVL_USED(GdipGetImageEncodersSize),
    PVL_USED(GdipGetImageEncoders),
    PVL_UNUSED(GdipRecordMetafileFileName),
    PVL_UNUSED(GdipRecordMetafileStream),
    PVL_USED(GdipGetImageGraphicsContext),
    PVL_UNUSED(GdipLoadImageFromStreamICM),
    PVL_USED(GdipSetPenMiterLimit),
    PVL_UNUSED(GdipDrawImageI),
    PVL_UNUSED(GdipDrawImageRectI),
    PVL_UNUSED(GdipDrawImagePointRectI),
    PVL_UNUSED(GdipGetImageWidth),
    PVL_UNUSED(GdipGetImageHeight),
    PVL_UNUSED(GdipSetCompositingMode),
    PVL_UNUSED(GdipSetCompositingQuality),
    PVL_UNUSED(GdipSaveImageToFile),
    PVL_UNUSED(GdipLoadImageFromFile),
    PVL_UNUSED(GdipGetImagePixelFormat),
    PVL_UNUSED(GdipCreateBitmapFromGraphics),
    PVL_USED(GdipCreateBitmapFromScan0),
    PVL_UNUSED(GdipGraphicsClear),
    PVL_UNUSED(GdipCreateBitmapFromGdiDib),  // not exported by libgdiplus
    PVL_UNUSED(GdipCreateBitmapFromHBITMAP),
    PVL_USED(GdipResetWorldTransform),
    PVL_USED(GdipTranslateWorldTransform),
    PVL_USED(GdipSaveImageToDelegate_linux),
};
#undef PVL_USED
#undef PVL_UNUSED

void ClearSlots() {
  for (const Entry& e : kEntries) std::memset(e.slot, 0, sizeof(void*));
}

bool IsSlotBound(const Entry& e) {
  void* p;
  std::memcpy(&p, e.slot, sizeof(p));
  return p != nullptr;
}

// Bytes written by the library's saver. Its callbacks carry no context, so
// one save at a time per thread.
thread_local std::string* tSaveBytes = nullptr;
thread_local size_t tSavePos = 0;

int SaveGetBytes(uint8_t* buffer, int count, int peek) {
  if (!tSaveBytes || count < 0) return 0;
  size_t n = std::min(static_cast<size_t>(count), tSaveBytes->size() - std::min(tSavePos, tSaveBytes->size()));
  std::memcpy(buffer, tSaveBytes->data() + tSavePos, n);
  if (!peek) tSavePos += n;
  return static_cast<int>(n);
}
int SavePutBytes(uint8_t* buffer, int count) {
  if (!tSaveBytes || count < 0) return 0;
  size_t end = tSavePos + static_cast<size_t>(count);
  if (end > tSaveBytes->size()) tSaveBytes->resize(end);
  std::memcpy(tSaveBytes->data() + tSavePos, buffer, static_cast<size_t>(count));
  tSavePos = end;
  return count;
}
long SaveSeek(int offset, int whence) {
  if (!tSaveBytes) return -1;
  long base = whence == SEEK_CUR ? static_cast<long>(tSavePos)
              : whence == SEEK_END ? static_cast<long>(tSaveBytes->size())
                                   : 0;
  long pos = base + offset;
  if (pos < 0) return -1;
  tSavePos = static_cast<size_t>(pos);
  return pos;
}
void SaveClose() {}
long SaveSize() { return tSaveBytes ? static_cast<long>(tSaveBytes->size()) : 0; }

}  // namespace

std::string ExecutableFolder() {
  char path[2001];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return "";
  std::string p(path, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "" : p.substr(0, slash + 1);
}

void UnloadGdiPlus() {
  if (gLibrary) dlclose(gLibrary);
  gLibrary = nullptr;
  gStatus = gdipNotLoaded;
  ClearSlots();
}

int LoadGdiPlus(const std::string& libraryName) {
  UnloadGdiPlus();
  std::string name = libraryName;
  if (name.empty() || strcasecmp(name.c_str(), "gdiplus.dll") == 0) name = kGdiPlusLibrary;
  gLibrary = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!gLibrary) {
    gStatus = gdipNoLibrary;
    return gStatus;
  }
  gStatus = gdipReady;
  for (const Entry& e : kEntries) {
    void* p = dlsym(gLibrary, e.name);
    std::memcpy(e.slot, &p, sizeof(p));
    if (!p && e.used) gStatus = gdipIncomplete;
  }
  return gStatus;
}

int GdiPlusStatus() { return gStatus; }

bool GdiPlusEntryBound(const std::string& name) {
  for (const Entry& e : kEntries)
    if (name == e.name) return IsSlotBound(e);
  return false;
}

bool GdiPlusStart(uintptr_t& token) {
  std::lock_guard lock(gStartMutex);
  token = 0;
  if (gStatus != gdipReady) return false;
  if (!gStarted) {
    gdip::GdiplusStartupInput input;
    gdip::GdiplusStartupOutput output;
    if (GdiPlus.GdiplusStartup(&gStartToken, &input, &output) != 0) return false;
    gStarted = true;
  }
  ++gStartCount;
  // A caller's token is never 0, so its stop is counted.
  token = gStartToken ? gStartToken : 1;
  return true;
}

void GdiPlusKeepRunning() {
  std::lock_guard lock(gStartMutex);
  gKeepRunning = true;
}

void GdiPlusStop(uintptr_t token) {
  std::lock_guard lock(gStartMutex);
  if (token == 0 || gStartCount == 0 || gStatus != gdipReady) return;
  if (--gStartCount == 0 && !gKeepRunning) {
    GdiPlus.GdiplusShutdown(gStartToken);
    gStarted = false;
  }
}

bool GetGdiPlusEncoderClsid(const std::string& mimeType, gdip::CLSID& clsid) {
  if (gStatus != gdipReady) return false;
  uint32_t count = 0, size = 0;
  if (GdiPlus.GdipGetImageEncodersSize(&count, &size) != 0 || count == 0) return false;
  if (size < count * sizeof(gdip::ImageCodecInfo) || size > (64u << 20)) return false;
  // The library writes the records first and their strings after them.
  std::vector<uint64_t> buffer((size + 7) / 8);
  auto* infos = reinterpret_cast<gdip::ImageCodecInfo*>(buffer.data());
  if (GdiPlus.GdipGetImageEncoders(count, size, infos) != 0) return false;
  std::u16string wanted(mimeType.begin(), mimeType.end());
  for (uint32_t i = 0; i < count; ++i) {
    const char16_t* mime = infos[i].MimeType;
    if (mime && std::u16string(mime) == wanted) {
      clsid = infos[i].Clsid;
      return true;
    }
  }
  return false;
}

bool SaveGdiPlusImage(gdip::GpImage* image, const gdip::CLSID& encoder, std::string& bytes) {
  if (gStatus != gdipReady || !image) return false;
  std::string out;
  tSaveBytes = &out;
  tSavePos = 0;
  gdip::GpStatus st = GdiPlus.GdipSaveImageToDelegate_linux(image, SaveGetBytes, SavePutBytes, SaveSeek, SaveClose,
                                                            SaveSize, &encoder, nullptr);
  tSaveBytes = nullptr;
  if (st != 0 || out.empty()) return false;
  bytes = std::move(out);
  return true;
}
