// TPavona: HTML-subset text and metafile pages on the selected page.
#include <algorithm>
#include <cmath>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaHTMLRender.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"
#include "platform/Classes.h"
#include "platform/EmfReader.h"
#include "platform/WmfConverter.h"

int32_t TPavona::DrawHTMLText(std::u16string_view text, double left, double top, double width) {
  error_.Clear();
  if (!(width > 0)) return failWith(pvlErrBadArgument);
  TPDFPageTree* tree = selected_->GetPageTree();
  TPDFPainter* painter = tree ? tree->GetPainter() : nullptr;
  if (!painter || !tree->GetSelectedPage()) return failWith(pvlErrBadArgument);
  try {
    TPDFFont* fonts[4];
    selected_->PrepareHTMLFonts(fonts);
    if (!selectedFont_ || !selected_->HasFont(selectedFont_)) SelectFont(RegisterHandle(fonts[0], selected_));
    const std::string saved = painter->SaveTextState();
    painter->ResetState();
    painter->ResetTextState();
    auto lookup = [this](int32_t number) -> TPDFFont* {
      for (int32_t i = 0; i < selected_->GetFontCount(); ++i)
        if (TPDFFont* f = selected_->GetFont(i); f && f->GetObjectNumber() == number) return f;
      return nullptr;
    };
    bool ok = true;
    if (!text.empty()) {
      std::string bytes;
      bytes.reserve(text.size() * 2);
      for (char16_t c : text) bytes += char(c >> 8), bytes += char(c & 0xFF);
      THTMLSettings settings;
      settings.RegularFont = fonts[0];
      settings.BoldFont = fonts[1];
      settings.ItalicFont = fonts[2];
      settings.BoldItalicFont = fonts[3];
      settings.Left = ToPageX(left);
      settings.Top = ToPageY(top);
      settings.Width = ToPageLength(width);
      settings.LineSpacing = 0;
      settings.TagAliases = painter->GetHTMLNamePairs();
      painter->SetHTMLBox(settings.Left, settings.Top, settings.Width, painter->GetLeading());
      THTMLRenderer renderer(painter);
      std::string rest;
      try {
        renderer.DrawText(bytes, settings, rest, 0, false);
      } catch (const std::exception& e) {
        ok = false;
        RecordFailure(error_, e, pvlErrEngineFailure);
      }
    }
    painter->RestoreTextState(saved, lookup);
    if (!ok) return 0;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
  }
  return 1;
}

int32_t TPavona::DrawMetafilePage(std::u16string_view fileName) {
  error_.Clear();
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree || !tree->GetSelectedPage() || !tree->GetPainter()) return failWith(pvlErrBadArgument);
  if (!WideFileExists(fileName)) return failWith(pvlErrUnreadable, "not found");
  std::string bytes;
  try {
    auto file = CreateWideFileStream(fileName, fmOpenRead);
    const int64_t size = file->GetSize();
    if (size < 0 || size > TPDFImage::kMaxFileBytes) throw EReadError("file too large");
    bytes.resize(static_cast<size_t>(size));
    if (file->Read(bytes.data(), size) != size) throw EReadError("short read");
  } catch (const std::exception& e) {
    return failWith(pvlErrUnreadable, e.what());
  }
  // Windows metafiles are read through the EMF their records translate to.
  const bool windows = IsWindowsMetafile(bytes);
  if (!windows && !IsEnhancedMetafile(bytes)) return failWith(pvlErrUnreadable, "not a metafile (WMF or EMF)");
  try {
    auto image = std::make_unique<TPDFImage>(&selected_->GetPool(),
                                             "PavonaE" + std::to_string(selected_->GetImageCount() + 1));
    image->Compress = true;
    TMemoryStream stream(bytes);
    if (!image->LoadFromStream(stream, 0) || image->GetKind() != pdfikMetafile)
      return failWith(windows ? pvlErrMetafileWMF : pvlErrUnreadable, image->GetFailure());
    TPDFImage* placed = selected_->AddImage(std::move(image));
    const double w = std::max(1, placed->GetWidth()), h = std::max(1, placed->GetHeight());
    tree->SetPageWidth(w);
    tree->SetPageHeight(h);
    selected_->AddPageResource("XObject", placed->GetResourceName(), placed->GetObject());
    tree->GetPainter()->DrawImage(*placed, 0, h, w, h);
  } catch (const std::exception& e) {
    return failWith(pvlErrUnreadable, e.what());
  }
  return 1;
}
