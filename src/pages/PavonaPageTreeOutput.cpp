// Page output: pages rendered to image files and streams, and the text of
// the selected page. Every request builds a fresh font collection and
// renderer, so nothing is shared between calls.
#include <cmath>
#include <memory>
#include <string>

#include "graphics/PavonaGIF.h"
#include "graphics/PavonaJPEG.h"
#include "graphics/PavonaPNG.h"
#include "graphics/PavonaTIFF.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageTree.h"
#include "platform/EmfWriter.h"
#include "platform/GdiCanvas.h"
#include "render/PavonaEPS.h"
#include "render/PavonaExtractor.h"
#include "render/PavonaPrinting.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"
#include "render/PavonaTextFunnel.h"

namespace {

// The renderer output kind that produces a format.
uint8_t outputKindOf(int32_t format) {
  switch (format) {
    case pofWMF: return rokMetafile;
    case pofEMF: return rokEnhancedMetafile;
    case pofEPS: return rokEPS;
    case pofRaw: return rokRawStream;
    case pofHTML: return rokHTML;
    default: return rokBitmap;
  }
}

// Longest side of a surface cairo draws on.
constexpr int kMaxCairoSide = 32767;

void appendError(std::string& errors, int32_t page, const std::string& reason) {
  if (!errors.empty()) errors += '\n';
  errors += "page " + std::to_string(page) + ": " + reason;
}

}  // namespace

std::u16string PageImageFileName(std::u16string_view pattern, int32_t page) {
  const std::u16string number = AsciiToWide(std::to_string(page));
  std::u16string name(pattern);
  static constexpr std::u16string_view kMarker = u"%p";
  if (name.find(kMarker) != std::u16string::npos) {
    std::u16string out;
    size_t from = 0;
    for (size_t at; (at = name.find(kMarker, from)) != std::u16string::npos; from = at + kMarker.size()) {
      out.append(name, from, at - from);
      out += number;
    }
    out.append(name, from, std::u16string::npos);
    return out;
  }
  // The extension belongs to the last path element only; a leading dot
  // (a hidden file such as ".png") is not an extension.
  const size_t slash = name.find_last_of(u"/\\");
  const size_t base = slash == std::u16string::npos ? 0 : slash + 1;
  const size_t dot = name.find_last_of(u'.');
  if (dot == std::u16string::npos || dot <= base) return name + number;
  name.insert(dot, number);
  return name;
}

TPDFImageCache* TPDFPageTree::imageCache() {
  if (!imageCache_) imageCache_ = std::make_shared<TPDFImageCache>();
  return imageCache_.get();
}

bool TPDFPageTree::renderOnePage(int32_t n, int32_t format, double dpi, uint8_t jpegQuality,
                                 const TGDIPlusSettings& settings, TStream& output, bool toFile, bool useTransparent,
                                 uint32_t transparentColor, int32_t pageBox, std::string& error) {
  TPDFDictionary* page = FindPage(n);
  if (!page) {
    error = "the page cannot be found";
    return false;
  }
  // An HTML canvas page goes only into streams; a file request leaves the
  // file empty.
  if (format == pofHTML && toFile) return true;

  if (!renderFonts_) {
    renderFonts_ = std::make_unique<TPDFFontCollection>();
    renderFonts_->LoadOutlines = true;
  }
  renderFonts_->BeginPage();
  TPDFRenderer renderer(renderFonts_.get());
  renderer.ImageCache = imageCache();
  renderer.GDIPlusSettings = settings;
  renderer.Resolution = dpi;
  renderer.PageBoxKind = pageBox;
  renderer.PageObject = page;
  renderer.OutputKind = outputKindOf(format);
  const auto geometry = renderer.MeasurePage();
  (void)geometry;
  const int64_t pixels = int64_t(renderer.GetOutputWidth()) * renderer.GetOutputHeight();
  // EPS is written in points whatever the resolution: no size to guard.
  if (format != pofEPS &&
      (renderer.GetOutputWidth() <= 0 || renderer.GetOutputHeight() <= 0 || pixels > kMaxImagePixels)) {
    error = "the page image would be " + std::to_string(renderer.GetOutputWidth()) + " x " +
            std::to_string(renderer.GetOutputHeight()) + " pixels, more than the page output makes";
    return false;
  }
  if (format == pofRaw) renderer.SetRawOutputStream(&output);
  if (format == pofHTML) renderer.SetHTMLOutputStream(&output);
  // Page images are drawn through cairo on the bitmap when the settings ask
  // for anti-aliased drawing: of the back-ends here it comes closest to
  // other readers (the renderer falls back to GDI when cairo cannot be loaded).
  // The bitmap is 32-bit, the format cairo draws in, so cairo works on its
  // pixels in place; pixels are converted only where a format asks for 24
  // bits. It is marked premultiplied while drawn (all zero is transparent
  // black, valid as it stands) and opaque after: the page is painted white
  // before anything else, which also makes clearing it first unnecessary.
  TBitmap cairoBitmap;
  const bool throughCairo = renderer.OutputKind == rokBitmap && settings.AntiAlias;
  if (throughCairo) {
    // cairo paints every pixel white before drawing, on any page it can
    // address (32767 pixels a side): such a page is not cleared first.
    const int w = renderer.GetOutputWidth(), h = renderer.GetOutputHeight();
    cairoBitmap = w <= kMaxCairoSide && h <= kMaxCairoSide ? TBitmap::ForOverwrite(w, h, TPixelFormat::pf32bit)
                                                           : TBitmap(w, h, TPixelFormat::pf32bit);
    cairoBitmap.SetAlphaFormat(TAlphaFormat::afPremultiplied);
    {
      TCanvas canvas(cairoBitmap);
      renderer.OutputKind = rokCairo;
      renderer.SetCairoTarget(canvas.Handle(), "libcairo.so.2", true);
      renderer.RenderPage();
      canvas.Flush();
    }
    cairoBitmap.SetAlphaFormat(TAlphaFormat::afIgnored);
  } else {
    renderer.RenderPage();
  }
  error = renderer.GetErrorText();
  for (const std::string& w : renderer.GetWarnings()) appendError(renderWarnings_, n, w);

  try {
    TBitmap& bitmap = throughCairo ? cairoBitmap : renderer.GetBitmap();
    switch (format) {
      case pofBMP:
        // BMP page files are 24-bit.
        if (bitmap.PixelFormat() != TPixelFormat::pf24bit) bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SaveToStream(output);
        break;
      case pofJPEG: {
        TPDFJPEGImage jpeg;
        jpeg.CompressionQuality = jpegQuality == 0 ? 1 : std::min<uint8_t>(jpegQuality, 100);
        jpeg.Assign(bitmap);
        jpeg.SaveToStream(output);
        break;
      }
      case pofPNG: {
        TPNGWriter png(std::move(bitmap));  // the page is not needed after this
        png.SetDPI(static_cast<int32_t>(std::nearbyint(dpi)));
        if (toFile && useTransparent) png.SetTransparentColor(transparentColor);
        png.SaveToStream(output);
        break;
      }
      case pofGIF: {
        TPDFGIFWriter gif;
        gif.SetBitmap(bitmap);
        gif.SaveToStream(output);
        break;
      }
      case pofTIFF:
        // Our own baseline TIFF writer stands in for GDI+'s encoder.
        // Pages are opaque: three samples per pixel.
        if (bitmap.PixelFormat() != TPixelFormat::pf24bit) bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        if (!SaveBitmapAsTIFF(bitmap, output, static_cast<int32_t>(std::nearbyint(dpi))))
          throw Exception("the page image is empty");
        break;
      case pofWMF:
      case pofEMF:
        if (renderer.GetMetafile().Empty()) {
          if (error.empty()) error = "the metafile could not be recorded";
          return false;
        }
        renderer.GetMetafile().SaveToStream(output);
        break;
      case pofEPS: renderer.GetEPSExport().SaveToStream(output); break;
      default: break;  // raw and HTML pages were written while rendering
    }
  } catch (const std::exception& e) {
    if (!error.empty()) error += "; ";
    error += std::string("the page image cannot be written: ") + e.what();
    return false;
  }
  return error.empty();
}

int32_t TPDFPageTree::RenderPageToFile(int32_t first, int32_t last, double dpi, int32_t format, uint8_t jpegQuality,
                                       std::u16string_view pattern, const TGDIPlusSettings& settings,
                                       bool useTransparent, uint32_t transparentColor, std::string& errorText) {
  errorText.clear();
  renderWarnings_.clear();
  bool allWritten = true;
  for (int32_t n = first; n <= last; ++n) {
    const std::u16string name = PageImageFileName(pattern, n);
    std::string error;
    bool ok = false;
    try {
      // Written to memory first, so a page that fails leaves no half file
      // and an existing file of that name stays as it was.
      TMemoryStream image;
      ok = renderOnePage(n, format, dpi, jpegQuality, settings, image, true, useTransparent, transparentColor, 2,
                         error);
      if (ok || image.GetSize() > 0 || format == pofHTML) WriteFileBytesAtomic(WidePathToNative(name), image.Bytes());
    } catch (const std::exception& e) {
      ok = false;
      if (!error.empty()) error += "; ";
      error += e.what();
    }
    if (!ok) {
      allWritten = false;
      appendError(errorText, n, error.empty() ? "the page cannot be rendered" : error);
    }
  }
  return allWritten ? 1 : 0;
}

int32_t TPDFPageTree::RenderPageToStream(int32_t page, int32_t format, double dpi, uint8_t jpegQuality,
                                         const TGDIPlusSettings& settings, TStream& output, std::string& errorText,
                                         int32_t pageBox) {
  errorText.clear();
  renderWarnings_.clear();
  std::string error;
  bool ok = false;
  try {
    ok = renderOnePage(page, format, dpi, jpegQuality, settings, output, false, false, 0, pageBox, error);
  } catch (const std::exception& e) {
    if (!error.empty()) error += "; ";
    error += e.what();
  }
  if (!ok) appendError(errorText, page, error.empty() ? "the page cannot be rendered" : error);
  return ok ? 1 : 0;
}

void TPDFPageTree::ExtractPageText(int32_t option, TPDFTextFunnel* funnel, std::u16string& out) {
  out.clear();
  if (!selectedPage_) return;
  if (option >= 3 && option <= 8) {
    // The page rendered in text mode into the funnel, formatted by option.
    TPDFFontCollection fonts;
    TPDFRenderer renderer(&fonts);
    if (funnel) renderer.SetTextFunnel(funnel);
    renderer.OutputKind = rokText;
    renderer.PageObject = selectedPage_;
    renderer.RenderPage();
    TPDFTextFunnel* f = renderer.GetTextFunnel();
    if (option <= 6) {
      out = f->GetDetailedText();
    } else if (option == 7) {
      f->LinkRuns();
      out = f->GetLayoutText();
    } else {
      out = f->GetSimpleText();
    }
    return;
  }
  std::string content;
  if (option < 3) {
    for (int32_t i = 0; i < GetContentStreamCount(); ++i) {
      content += ' ';
      if (TPDFStream* stream = GetContentStream(i)) content += stream->GetDecodedData();
      currentStreamNumber_ = i;
    }
    if (option == 1) option = 0;
  }
  TPDFFontCollection fonts;
  TPDFExtractor extractor(GetPageResources(), &fonts);
  out = extractor.Extract(content, option);
}

int32_t TPDFPageTree::PrintPage(TPVLPrinter* printer, int32_t first, int32_t last, const TGDIPlusSettings& settings,
                                int32_t options, std::string& errorText) {
  errorText.clear();
  renderWarnings_.clear();
  if (!printer || !printer->GetCanvas()) {
    errorText = "no printer to print on";
    return 0;
  }
  TPDFFontCollection fonts;
  fonts.LoadOutlines = true;
  TPDFRenderer renderer(&fonts);
  renderer.ImageCache = imageCache();
  renderer.GDIPlusSettings = settings;
  renderer.OutputKind = rokPrinter;
  renderer.Printer = printer;
  renderer.PrintFitMode = static_cast<uint8_t>(options & 15);
  renderer.PrintAutoRotate = (options & 16) ? 1 : 0;
  bool allPrinted = true;
  for (int32_t n = first; n <= last; ++n) {
    if (n > first) printer->NewPage();
    if (printer->Aborted()) {
      appendError(errorText, n, "the print job was cancelled");
      return 0;
    }
    // The printer's resolution is the canvas font's, which follows the device.
    renderer.Resolution = printer->GetCanvas()->FontPixelsPerInch;
    renderer.PageObject = FindPage(n);
    if (!renderer.PageObject) {
      allPrinted = false;
      appendError(errorText, n, "the page cannot be found");
      continue;
    }
    renderer.RenderPage();
    for (const std::string& w : renderer.GetWarnings()) appendError(renderWarnings_, n, w);
    if (!renderer.GetErrorText().empty()) {
      allPrinted = false;
      appendError(errorText, n, renderer.GetErrorText());
    }
  }
  return allPrinted ? 1 : 0;
}
