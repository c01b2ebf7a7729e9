// TPavona: pages, drawing, fonts, images, links and annotations of the
// selected document. Every coordinate arrives in the caller's units and
// origin and is converted before it reaches the page tree or painter.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "document/PavonaFacadeGuard.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPageTree.h"
#include "pages/PavonaPainter.h"
#include "platform/Classes.h"

namespace {

// An address as a URI: an IRI's characters outside ASCII (and spaces and
// controls, which no URI holds) become percent-escaped UTF-8, so no
// character of the address is lost in the 8-bit string of the action.
std::string addressToURI(std::u16string_view address) {
  const std::string utf8 = WideToUTF8(address);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pages

int32_t TPavona::NewPage() {
  // A page after the last one: InsertPages' result is then the new page's number.
  TPDFPageTree* tree = selected_->GetPageTree();
  const int32_t count =
      tree && tree->GetRoot() ? Shielded(error_, pvlErrUnreadable, -1, [&] { return tree->GetPageCount(); }) : 0;
  if (count < 0) return 0;
  return InsertPages(count + 1, 1);
}

int32_t TPavona::InsertPages(int32_t position, int32_t count) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree || !tree->GetRoot()) return failWith(pvlErrNoPageTree);
  if (count < 1 || count > 9999) return failWith(pvlErrBadArgument);
  try {
    const int32_t before = tree->GetPageCount();
    if (position < 1 || position > before + 1) return failWith(pvlErrBadArgument);
    const double w = tree->GetPageWidth(), h = tree->GetPageHeight();
    tree->InsertPages(position, count, w, h);
    if (selectedFont_) SelectFont(RegisterHandle(selectedFont_, selected_));
    const int32_t after = tree->GetPageCount();
    if (after == before + count) return after;
    return failWith(pvlErrNoPageTree, "the page tree counts " + std::to_string(after) + " pages after inserting " +
                                          std::to_string(count) + " into " + std::to_string(before));
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
}

int32_t TPavona::DeletePages(int32_t first, int32_t count) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree || !tree->GetRoot()) return failWith(pvlErrNoPageTree);
  try {
    const int32_t before = tree->GetPageCount();
    if (count < 1 || first < 1 || first > before) return failWith(pvlErrBadArgument);
    // A document without pages is no PDF file any reader opens.
    if (first == 1 && int64_t(count) >= before) return failWith(pvlErrEveryPage);
    tree->DeletePages(first, count);
    if (selectedFont_ && tree->GetSelectedPage()) SelectFont(RegisterHandle(selectedFont_, selected_));
    const int32_t after = tree->GetPageCount();
    if (after < before) return after;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::SetPageDimensions(double width, double height) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree || !tree->GetSelectedPage() || !std::isfinite(width) || !std::isfinite(height) || width <= 0 ||
      height <= 0) {
    return failWith(pvlErrBadArgument);
  }
  try {
    const double oldW = tree->GetPageWidth(), oldH = tree->GetPageHeight();
    const double w = ToPageLength(width), h = ToPageLength(height);
    tree->SetPageWidth(w);
    tree->SetPageHeight(h);
    if (tree->GetPageWidth() == w && tree->GetPageHeight() == h) return 1;
    tree->SetPageWidth(oldW);
    tree->SetPageHeight(oldH);
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::RotatePage(int32_t angle) {
  error_.Clear();
  if (selected_->SetPageRotation(angle)) return 1;
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::PageRotation() {
  return selected_->GetPageRotation();
}

int32_t TPavona::SetPageThumbnail() {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFDictionary* page = tree ? tree->GetSelectedPage() : nullptr;
  if (!page || !selectedImage_ || !selected_->HasImage(selectedImage_) || !selectedImage_->GetObject()) {
    return failWith(pvlErrBadArgument);
  }
  TPDFIndRef* ref = selectedImage_->GetObject();
  page->FreeKey("Thumb");
  page->SetValue("Thumb", selected_->GetPool().NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
  return 1;
}

int32_t TPavona::HasFontResources() {
  return selected_->HasFontResources() ? 1 : 0;
}

int32_t TPavona::SetPageMode(int32_t mode) {
  error_.Clear();
  if (selected_->SetPageMode(mode)) return 1;
  return failWith(pvlErrBadArgument);
}

// ---------------------------------------------------------------------------
// Fonts and the text state

int32_t TPavona::AddStandardFont(int32_t index) {
  error_.Clear();
  if (index < 0 || index > 13) return failWith(pvlErrBadArgument);
  try {
    TPDFFont* font = selected_->AddStandardFont(index);
    const int32_t handle = font ? RegisterHandle(font, selected_) : 0;
    if (handle && SelectFont(handle)) return handle;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::AddTrueTypeFont(std::u16string_view name, int32_t mode) {
  error_.Clear();
  if (name.empty()) return failWith(pvlErrBadArgument);
  try {
    const bool embed = mode == 1 || mode == 2;
    TPDFFont* font = selected_->AddTrueTypeFont(WideToUTF8(name), embed, true, mode == 2);
    const int32_t handle = font ? RegisterHandle(font, selected_) : 0;
    if (handle && SelectFont(handle)) return handle;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::AddType3Font(std::u16string_view face, std::u16string_view characters) {
  error_.Clear();
  if (characters.empty()) return failWith(pvlErrBadArgument);
  try {
    TPDFFont* font = selected_->AddType3Font(WideToUTF8(face.empty() ? u"Arial" : face), characters, true);
    const int32_t handle = font ? RegisterHandle(font, selected_) : 0;
    if (handle && SelectFont(handle)) return handle;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::GetFontHandle(int32_t n) {
  TPDFFont* font = selected_->GetFont(n - 1);
  return font ? RegisterHandle(font, selected_) : 0;
}

int32_t TPavona::SetTextSize(double size) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!selectedFont_ || selected_->GetFontCount() == 0) AddStandardFont(4);
  if (!painter || !selectedFont_ || !std::isfinite(size)) return failWith(pvlErrBadArgument);
  painter->SetFont(selectedFont_, size);
  return 1;
}

double TPavona::GetTextSize() {
  TPDFPageTree* tree = selected_->GetPageTree();
  return tree && tree->GetPainter() ? tree->GetPainter()->GetFontSize() : 0;
}

int32_t TPavona::SetTextColor(double red, double green, double blue) {
  TPDFPageTree* tree = selected_->GetPageTree();
  if (tree && tree->GetPainter()) tree->GetPainter()->SetTextColor(red, green, blue);
  return 1;
}

int32_t TPavona::SetTextAlign(int32_t alignment) {
  TPDFPageTree* tree = selected_->GetPageTree();
  if (tree && tree->GetPainter())
    tree->GetPainter()->SetTextAlignment(alignment >= 1 && alignment <= 5 ? alignment : 0);
  return 1;
}

int32_t TPavona::SetTextMode(int32_t mode) {
  TPDFPageTree* tree = selected_->GetPageTree();
  if (tree && tree->GetPainter()) tree->GetPainter()->SetTextMode(mode >= 0 && mode <= 7 ? mode : 0);
  return 1;
}

int32_t TPavona::SetTransparency(int32_t percent) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  if (percent < 0 || percent > 100 || !tree || !tree->GetSelectedPage()) return failWith(pvlErrBadArgument);
  try {
    selected_->SetTransparency(100 - percent);
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return 1;
}

double TPavona::GetTextWidth(std::u16string_view text) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!selectedFont_ || selected_->GetFontCount() == 0) AddStandardFont(4);
  if (!painter || !selectedFont_) return 0;
  if (painter->GetFont() != selectedFont_)
    painter->SetFont(selectedFont_, painter->GetFontSize() > 0 ? painter->GetFontSize() : 12);
  const std::u16string shown = FilterMappedChars(*selectedFont_, text);
  if (shown.size() != text.size()) error_.Set(pvlErrUnencodableText);
  return painter->GetTextWidthW(shown) * selected_->UnitScale;
}

double TPavona::WidestCharWidth() {
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!selectedFont_ || !painter) return 0;
  if (painter->GetFont() != selectedFont_)
    painter->SetFont(selectedFont_, painter->GetFontSize() > 0 ? painter->GetFontSize() : 12);
  double width = 0;
  if (selectedFont_->HasCode(u'W')) {
    width = painter->GetTextWidthW(u"W");
  } else {
    // Fonts without a "W" (symbol fonts, Type 3 fonts of a few characters):
    // their widest glyph is the narrowest box that still holds every one.
    int32_t widest = 0;
    for (int32_t w : selectedFont_->GetWidths()) widest = std::max(widest, w);
    width = widest * painter->GetFontSize() / 1000.0;
  }
  return width * selected_->UnitScale;
}

void TPavona::EncodeTextLines(std::u16string_view text, std::u16string_view separator, std::u16string& out) {
  out.clear();
  if (!selectedFont_) return;
  bool lost = false;
  auto reduce = [&](std::u16string_view part) {
    std::u16string kept = FilterMappedChars(*selectedFont_, part);
    if (kept.size() != part.size()) lost = true;
    return kept;
  };
  std::u16string_view rest = text;
  while (!rest.empty()) {
    const size_t at = separator.empty() ? std::u16string_view::npos : rest.find(separator);
    if (at == std::u16string_view::npos) {
      out += reduce(rest);
      break;
    }
    if (at > 0) out += reduce(rest.substr(0, at));
    out += separator;
    rest.remove_prefix(at + separator.size());
  }
  if (lost) error_.Set(pvlErrUnencodableText);
}

// ---------------------------------------------------------------------------
// Drawing

TPDFPainter* TPavona::textPainter() {
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!selectedFont_ || selected_->GetFontCount() == 0) AddStandardFont(4);
  if (!painter || !tree->GetSelectedPage() || !selectedFont_) return nullptr;
  if (painter->GetFont() != selectedFont_)
    painter->SetFont(selectedFont_, painter->GetFontSize() > 0 ? painter->GetFontSize() : 12);
  tree->AddFontResource(selectedFont_);
  return painter;
}

int32_t TPavona::showTextLine(std::u16string_view text,
                              const std::function<void(TPDFPainter&, const std::u16string&)>& show) {
  try {
    TPDFPainter* painter = textPainter();
    if (!painter) return failWith(pvlErrBadArgument);
    const std::u16string shown = FilterMappedChars(*selectedFont_, text);
    if (!shown.empty()) show(*painter, shown);
    if (shown.size() != text.size()) return failWith(pvlErrUnencodableText);
    return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
}

int32_t TPavona::DrawText(std::u16string_view text, double x, double y) {
  error_.Clear();
  if (text.empty()) return 1;
  return showTextLine(text, [&](TPDFPainter& painter, const std::u16string& shown) {
    painter.DrawTextW(shown, ToPageX(x), ToPageY(y));
  });
}

int32_t TPavona::DrawRotatedText(std::u16string_view text, double x, double y, double angle) {
  error_.Clear();
  if (text.empty() || !(angle >= 0 && angle <= 360)) return failWith(pvlErrBadArgument);
  return showTextLine(text, [&](TPDFPainter& painter, const std::u16string& shown) {
    painter.DrawRotatedText(shown, ToPageX(x), ToPageY(y), angle);
  });
}

int32_t TPavona::DrawTextBox(std::u16string_view text, int32_t alignment, double left, double top, double width,
                             double height, double angle) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!selectedFont_ || selected_->GetFontCount() == 0) AddStandardFont(4);
  if (alignment < 0 || alignment > 5 || !painter || !tree->GetSelectedPage() || !selectedFont_ ||
      !std::isfinite(angle) || !(width >= WidestCharWidth())) {
    return failWith(pvlErrBadArgument);
  }
  try {
    textPainter();
    const std::u16string separator = AsciiToWide(selected_->GetLineSeparator());
    std::u16string encoded;
    EncodeTextLines(text, separator, encoded);
    const bool lost = error_.Code == pvlErrUnencodableText;
    const int32_t result = painter->DrawRotatedTextBox(encoded, alignment, ToPageX(left), ToPageY(top),
                                                       ToPageLength(width), ToPageLength(height), angle, separator);
    if (lost) return failWith(pvlErrUnencodableText);
    return result;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
}

int32_t TPavona::DrawImage(double left, double top, double width, double height) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!painter || !tree->GetSelectedPage() || !selectedImage_ || !selected_->HasImage(selectedImage_)) {
    return failWith(pvlErrBadArgument);
  }
  try {
    tree->AddImageResource(selectedImage_);
    painter->DrawImage(*selectedImage_, ToPageX(left), ToPageY(top), ToPageLength(width), ToPageLength(height));
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return 1;
}

int32_t TPavona::AddImageFromFile(std::u16string_view path, int32_t index) {
  error_.Clear();
  const std::string native = WidePathToNative(path);
  std::error_code ec;
  // A missing file, a folder and a file that is no image are each said apart.
  if (native.empty() || !std::filesystem::exists(native, ec)) return failWith(pvlErrUnreadable, "not found");
  if (!std::filesystem::is_regular_file(native, ec)) return failWith(pvlErrUnreadable, "not a file");
  std::string bytes;
  try {
    auto file = CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite);
    const int64_t size = file->GetSize();
    if (size <= 0) return failWith(pvlErrUnreadable, "the file is empty");
    if (size > TPDFImage::kMaxFileBytes) return failWith(pvlErrUnreadable, "the file is too large for an image");
    bytes.resize(static_cast<size_t>(size));
    if (file->Read(bytes.data(), size) != size) throw EReadError("short read: the file changed while it was read");
  } catch (const std::exception& e) {
    return failWith(pvlErrUnreadable, e.what());
  }
  try {
    TMemoryStream stream(bytes);
    TPDFImage* image = selected_->AddImageFromStream(stream, index < 0 ? 0 : index);
    // The reader's reason: not an image, damaged data, or a kind it cannot take.
    if (!image) return failWith(pvlErrUnreadable, selected_->GetFailure());
    const int32_t handle = RegisterHandle(image, selected_);
    if (!handle) return failWith(pvlErrEngineFailure, "no handle is left for the image");
    selectedImage_ = image;
    return handle;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
}

// ---------------------------------------------------------------------------
// Annotations and links

int32_t TPavona::AddLinkToPage(int32_t targetPage, int32_t options, double left, double top, double width,
                               double height, double destinationTop) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    if (tree && tree->AddLinkToPage(targetPage, (options & 1) != 0, ToPageX(left), ToPageY(top), ToPageLength(width),
                                    ToPageLength(height), ToPageY(destinationTop)))
      return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::AddLinkToWeb(std::u16string_view address, int32_t options, double left, double top, double width,
                              double height) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    if (tree && !address.empty() &&
        tree->AddLinkToWeb(addressToURI(address), (options & 1) != 0, ToPageX(left), ToPageY(top), ToPageLength(width),
                           ToPageLength(height)))
      return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::AddLinkToLocalFile(std::u16string_view path, int32_t page, double left, double top, double width,
                                    double height, double destinationTop, int32_t newWindow, int32_t options) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    if (tree && page >= 1 && !path.empty() &&
        tree->AddLinkToFile(path, page, (options & 1) != 0, newWindow == 1, ToPageX(left), ToPageY(top),
                            ToPageLength(width), ToPageLength(height), ToPageY(destinationTop)))
      return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::AddLinkToEmbeddedFile(int32_t fileSpec, std::u16string_view description, double left, double top,
                                       double width, double height, int32_t option) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFIndRef* ref = GetIndRefByHandle(fileSpec);
  try {
    if (tree && ref && PDFAsDictionary(ref->Resolve()) &&
        tree->AddFileAttachmentAnnotation(ref, WideToPDFText(description), option == 1, ToPageX(left), ToPageY(top),
                                          ToPageLength(width), ToPageLength(height)))
      return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::AddAnnotation(int32_t icon, std::u16string_view title, double x, double top, double popupLeft,
                               double popupTop, double popupWidth, double popupHeight, std::u16string_view contents,
                               double red, double green, double blue, int32_t open) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    if (tree && tree->AddNoteAnnotation(icon, title, open == 1, red, green, blue, contents, ToPageX(x), ToPageY(top),
                                        ToPageX(popupLeft), ToPageY(popupTop), ToPageLength(popupWidth),
                                        ToPageLength(popupHeight)))
      return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return failWith(pvlErrBadArgument);
}
