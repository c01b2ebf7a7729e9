// The facade's image XObject search and image output: finding the images of
// the selected document, selecting one, its size and kind, and writing its
// data to a file.
//
// A search only makes an entry per image (its object and size); the image
// data are read when the caller asks for the kind or the file, so a search
// over a scanned book does not hold every page's picture in memory.
#include <exception>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "graphics/PavonaImageDecoder.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPageTree.h"
#include "pages/PavonaPainter.h"
#include "platform/Classes.h"

int32_t TPavona::SetImageSearchMethod(int32_t method) {
  error_.Clear();
  if (method < 1 || method > 4) return failWith(pvlErrBadArgument);
  imageSearchMethod_ = method;
  return 1;
}

int32_t TPavona::FindImages() {
  const int32_t method = imageSearchMethod_;
  if (method < 1 || method > 4) return 0;
  const bool keepEncoded = method >= 3;
  const int32_t before = selected_->GetImageCount();
  int32_t found = 0;
  try {
    found = method == 1 || method == 3 ? selected_->FindImagesByPages(keepEncoded ? 1 : 0)
                                       : selected_->FindImagesByObjects(keepEncoded ? 1 : 0);
  } catch (const std::exception& e) {
    // The images entered before the failure stay in the list and are counted.
    found = 0;
    RecordFailure(error_, e, pvlErrUnreadable);
  }
  // The entries made now remember how their data are to be read.
  for (int32_t i = before; i < selected_->GetImageCount(); ++i)
    if (TPDFImage* image = selected_->GetImage(i))
      if (const int32_t handle = RegisterHandle(image, selected_)) imageKeepEncoded_[handle] = keepEncoded;
  return found;
}

int32_t TPavona::GetImageHandle(int32_t n) {
  error_.Clear();
  TPDFImage* image = n >= 1 ? selected_->GetImage(n - 1) : nullptr;
  const int32_t handle = image ? RegisterHandle(image, selected_) : 0;
  if (!handle) error_.Set(pvlErrBadArgument);
  return handle;
}

int32_t TPavona::ImageWidth() {
  error_.Clear();
  if (!selectedImage_ || !selected_->HasImage(selectedImage_)) return failWith(pvlErrBadArgument);
  return selectedImage_->GetWidth();
}

int32_t TPavona::ImageHeight() {
  error_.Clear();
  if (!selectedImage_ || !selected_->HasImage(selectedImage_)) return failWith(pvlErrBadArgument);
  return selectedImage_->GetHeight();
}

bool TPavona::readSelectedImage(const TImageData*& out) {
  out = nullptr;
  if (!selectedImage_ || !selected_->HasImage(selectedImage_)) {
    error_.Set(pvlErrBadArgument);
    return false;
  }
  const int32_t handle = RegisterHandle(selectedImage_, selected_);
  const auto wish = imageKeepEncoded_.find(handle);
  // Images added from files follow the current method.
  const bool keepEncoded = wish != imageKeepEncoded_.end() ? wish->second : imageSearchMethod_ >= 3;
  if (handle && imageData_.Handle == handle && imageData_.KeepEncoded == keepEncoded && imageData_.Kind > 0) {
    out = &imageData_;
    return true;
  }
  imageData_ = TImageData{};
  TPDFIndRef* ref = selectedImage_->GetObject();
  TPDFStream* stream = nullptr;
  try {
    stream = ref ? PDFAsStream(ref->Resolve()) : nullptr;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return false;
  }
  // A metafile picture is a form of drawing operators, not an image: it has
  // no data of its own to write.
  if (!stream || !stream->GetDictionary() || stream->GetDictionary()->GetNameValue("Subtype") != "Image") {
    error_.Set(pvlErrUnreadable, "the image is not an image stream");
    return false;
  }
  std::string cause = "the image's data cannot be decoded";
  TImageData data;
  data.Handle = handle;
  data.KeepEncoded = keepEncoded;
  try {
    TPDFImageDecoder decoder;
    decoder.KeepEncoded = keepEncoded;
    decoder.SetImage(stream);
    if (decoder.IsReady()) {
      switch (decoder.GetOutputFormat()) {
        case iofJPEG:
          data.Kind = pdfikJPEG;
          data.Bytes = decoder.GetImageBytes();
          break;
        case iofTIFF:
          data.Kind = pdfikTIFFPage;
          data.Bytes = decoder.GetImageBytes();
          break;
        case iofPNG:
          data.Kind = pdfikPNG;
          data.Bytes = decoder.GetImageBytes();
          break;
        default:
          // Decoded samples: the picture as a bitmap file.
          data.Kind = pdfikBitmap;
          data.Bytes = decoder.GetBitmapBytes();
          break;
      }
    }
  } catch (const std::exception& e) {
    data.Bytes.clear();
    cause = e.what();
  }
  if (data.Bytes.empty()) {
    error_.Set(pvlErrUnreadable, cause);
    return false;
  }
  imageData_ = std::move(data);
  out = &imageData_;
  return true;
}

int32_t TPavona::ImageType() {
  error_.Clear();
  const TImageData* data = nullptr;
  return readSelectedImage(data) ? data->Kind : 0;
}

int32_t TPavona::SaveImageToFile(std::u16string_view path) {
  error_.Clear();
  const std::string native = WidePathToNative(path);
  if (native.empty() || namesLoadedFile(path)) return failWith(pvlErrBadArgument);
  const TImageData* data = nullptr;
  if (!readSelectedImage(data)) return 0;
  try {
    WriteFileBytesAtomic(native, data->Bytes);
  } catch (const std::exception& e) {
    return failWith(pvlErrCannotWrite, e.what());
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Text decoration (the underline of watermark text)

int32_t TPavona::SetTextDecoration(int32_t kind) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (kind < 0 || kind > 4 || !painter) return failWith(pvlErrBadArgument);
  painter->SetDecorationKind(static_cast<uint8_t>(kind));
  return 1;
}
