// The writer fonts and imported images a document owns.
#include "document/PavonaDocument.h"

TPDFFont* TPDFDocument::GetFont(int32_t i) const {
  return i >= 0 && i < GetFontCount() ? fonts_[static_cast<size_t>(i)].get() : nullptr;
}

bool TPDFDocument::HasFont(const TPDFFont* font) const {
  for (const auto& f : fonts_)
    if (f.get() == font) return true;
  return false;
}

TPDFFont* TPDFDocument::AddFont(std::unique_ptr<TPDFFont> font) {
  if (!font) return nullptr;
  fonts_.push_back(std::move(font));
  return fonts_.back().get();
}

TPDFImage* TPDFDocument::GetImage(int32_t i) const {
  return i >= 0 && i < GetImageCount() ? images_[static_cast<size_t>(i)].get() : nullptr;
}

bool TPDFDocument::HasImage(const TPDFImage* image) const {
  for (const auto& im : images_)
    if (im.get() == image) return true;
  return false;
}

TPDFImage* TPDFDocument::AddImage(std::unique_ptr<TPDFImage> image) {
  if (!image) return nullptr;
  images_.push_back(std::move(image));
  return images_.back().get();
}
