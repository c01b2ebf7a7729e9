// The facade's page output: pages of the selected document as images in a
// stream or in files, and the text of the selected page.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "render/PavonaTextFunnel.h"

namespace {

// Restores the selected page whatever happens to the request.
class TPageKeeper {
public:
  TPageKeeper(TPavona& facade) : facade_(facade), page_(facade.SelectedPage()) {}
  ~TPageKeeper() {
    if (page_ > 0) facade_.SelectPage(page_);
  }
  TPageKeeper(const TPageKeeper&) = delete;
  TPageKeeper& operator=(const TPageKeeper&) = delete;

private:
  TPavona& facade_;
  int32_t page_;
};

bool knownFormat(int32_t format) { return format >= pofBMP && format <= pofHTML; }

}  // namespace

int32_t TPavona::SetRenderScale(double scale) {
  renderScale_ = scale;
  return 1;
}

void TPavona::SetJPEGQuality(int32_t quality) { jpegQuality_ = std::clamp(quality, 1, 100); }

void TPavona::SetRenderPageBox(int32_t box) { renderPageBox_ = box >= 1 && box <= 5 ? box : 2; }

double TPavona::clampedResolution(double dpi) const {
  double r = dpi * renderScale_;
  if (!std::isfinite(r) || r <= 0) return 0;
  return std::clamp(r, pvlMinRenderDPI, pvlMaxRenderDPI);
}

TPDFPageTree* TPavona::outputTree(double dpi, int32_t format, double& resolution, int32_t& count) {
  resolution = clampedResolution(dpi);
  if (resolution <= 0 || !knownFormat(format)) {
    lastRenderMessage_ = resolution <= 0 ? "the resolution must be a positive number" : "unknown page-image format";
    error_.Set(pvlErrBadArgument, lastRenderMessage_);
    return nullptr;
  }
  TPDFPageTree* tree = selected_->GetPageTree();
  count = PageCount();
  if (!tree || count <= 0) {
    lastRenderMessage_ = "the document has no pages";
    error_.Set(pvlErrRenderFailed, lastRenderMessage_);
    return nullptr;
  }
  return tree;
}

int32_t TPavona::RenderPageToStream(double dpi, int32_t page, int32_t format, TStream& stream) {
  lastRenderMessage_.clear();
  lastRenderWarnings_.clear();
  TPageKeeper keeper(*this);
  double resolution = 0;
  int32_t count = 0;
  TPDFPageTree* tree = outputTree(dpi, format, resolution, count);
  if (!tree) return 0;
  page = std::clamp(page, 1, count);
  int32_t result = 0;
  try {
    result = tree->RenderPageToStream(page, format, resolution, static_cast<uint8_t>(jpegQuality_), drawingSettings_,
                                      stream, lastRenderMessage_, renderPageBox_);
  } catch (const std::exception& e) {
    lastRenderMessage_ = e.what();
    result = 0;
  }
  lastRenderWarnings_ = tree->GetRenderWarnings();
  if (!result) error_.Set(pvlErrRenderFailed, lastRenderMessage_);
  return result;
}

int32_t TPavona::RenderPagesToFile(double dpi, int32_t first, int32_t last, int32_t format,
                                   std::u16string_view fileName) {
  lastRenderMessage_.clear();
  lastRenderWarnings_.clear();
  TPageKeeper keeper(*this);
  if (fileName.empty()) {
    lastRenderMessage_ = "no file name";
    return failWith(pvlErrBadArgument, lastRenderMessage_);
  }
  double resolution = 0;
  int32_t count = 0;
  TPDFPageTree* tree = outputTree(dpi, format, resolution, count);
  if (!tree) return 0;
  if (last < first) std::swap(first, last);
  first = std::max(first, 1);
  last = std::min(last, count);
  if (first > last) {
    lastRenderMessage_ = "the page range names no page of the document";
    return failWith(pvlErrBadArgument, lastRenderMessage_);
  }
  for (int32_t n = first; n <= last; ++n)
    if (namesLoadedFile(PageImageFileName(fileName, n))) {
      lastRenderMessage_ = "a page image would replace the document's own file";
      return failWith(pvlErrBadArgument, lastRenderMessage_);
    }
  int32_t result = 0;
  try {
    result = tree->RenderPageToFile(first, last, resolution, format, static_cast<uint8_t>(jpegQuality_), fileName,
                                    drawingSettings_, useBackground_, backgroundColor_, lastRenderMessage_);
  } catch (const std::exception& e) {
    lastRenderMessage_ = e.what();
    result = 0;
  }
  lastRenderWarnings_ = tree->GetRenderWarnings();
  if (!result) error_.Set(pvlErrRenderFailed, lastRenderMessage_);
  return result;
}

void TPavona::GetPageText(int32_t mode, std::u16string& out) {
  out.clear();
  error_.Clear();
  if (mode < 0 || mode > 8) return;
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree || !tree->GetSelectedPage()) return;
  try {
    if (mode <= 2) {
      tree->ExtractPageText(mode, nullptr, out);
      return;
    }
    TPDFTextFunnel funnel;
    funnel.OriginCorner = selected_->OriginCorner;
    funnel.UnitScale = selected_->UnitScale;
    funnel.PageWidth = PageWidth();
    funnel.PageHeight = PageHeight();
    funnel.KeepWordsApart = (mode == 4 || mode == 6) ? 1 : 0;
    funnel.AddGlyphWidths = (mode == 5 || mode == 6) ? 1 : 0;
    tree->ExtractPageText(mode, &funnel, out);
  } catch (const std::exception& e) {
    out.clear();
    error_.Set(pvlErrRenderFailed, e.what());
  }
}

// ---------------------------------------------------------------------------
// Printing

namespace {

constexpr const char* kDefaultJobTitle = "Pavona Library Document";
constexpr int32_t kFirstTitleCode = 450;

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

int32_t TPavona::PrintOptions(int32_t scaling, int32_t autoRotate, std::u16string_view title) {
  error_.Clear();
  printTitles_.push_back(WideToUTF8(title));
  // The title code has 16 bits: beyond them the newest titles cannot be
  // named, and the job prints under the default title.
  const int64_t code = static_cast<int64_t>(printTitles_.size()) + kFirstTitleCode - 1;
  const int32_t titleBits = code <= 0xFFFF ? static_cast<int32_t>(code) << 8 : 0;
  return (scaling & 15) | (autoRotate == 1 ? 16 : 0) | titleBits;
}

void TPavona::GetDefaultPrinterName(std::u16string& out) {
  out.clear();
  error_.Clear();
  TPrinter& printer = Printer();
  const int index = printer.PrinterIndex();
  const auto& names = printer.Printers();
  if (index >= 0 && static_cast<size_t>(index) < names.size()) out = UTF8ToWide(names[static_cast<size_t>(index)]);
}

void TPavona::SetPrinterSettings(std::u16string_view printerName, const TPrinterOptions& options) {
  printerSettings_[UpperCase(WideToUTF8(printerName))] = options;
}

int32_t TPavona::PrintDocument(std::u16string_view printerName, int32_t first, int32_t last, int32_t options) {
  lastRenderMessage_.clear();
  lastRenderWarnings_.clear();
  TPrinter& printer = Printer();
  try {
    const std::string name = WideToUTF8(printerName);
    auto it = printerSettings_.find(UpperCase(name));
    if (it == printerSettings_.end()) {
      printer.SetPrinter(name, "WINSPOOL", "", nullptr);
    } else {
      const std::string stored = it->second.PrinterName.empty() ? name : WideToUTF8(it->second.PrinterName);
      printer.SetPrinter(stored, "WINSPOOL", "", nullptr);
      ApplyPrinterOptions(it->second, printer);
    }
  } catch (const std::exception& e) {
    lastRenderMessage_ = e.what();
    return failWith(pvlErrRenderFailed, lastRenderMessage_);
  }
  return PrintToPrinter(printer, first, last, options);
}

int32_t TPavona::PrintToPrinter(TPrinter& printer, int32_t first, int32_t last, int32_t options) {
  lastRenderMessage_.clear();
  lastRenderWarnings_.clear();
  printJob_ = 0;
  printJobText_.clear();
  error_.Clear();
  TPageKeeper keeper(*this);
  TPDFPageTree* tree = selected_->GetPageTree();
  const int32_t count = PageCount();
  if (!tree || count <= 0) {
    lastRenderMessage_ = "the document has no pages";
    return failWith(pvlErrRenderFailed, lastRenderMessage_);
  }
  first = std::max(first, 1);
  if (last < first) last = first;
  last = std::min(last, count);
  if (first > last) {
    lastRenderMessage_ = "the page range names no page of the document";
    return failWith(pvlErrBadArgument, lastRenderMessage_);
  }
  if (!printOutputFile_.empty() && namesLoadedFile(printOutputFile_)) {
    lastRenderMessage_ = "the print file would replace the document's own file";
    return failWith(pvlErrBadArgument, lastRenderMessage_);
  }
  const bool ownDC = !printOutputFile_.empty() || printOwnContext_ || printJobControl_;
  TPVLPrinter wrapper(&printer, ownDC, printOutputFile_);
  wrapper.SetJobControl(printJobControl_);
  const int32_t titleCode = (options >> 8) & 0xFFFF;
  std::string title = kDefaultJobTitle;
  if (titleCode >= kFirstTitleCode && static_cast<size_t>(titleCode - kFirstTitleCode) < printTitles_.size())
    title = printTitles_[static_cast<size_t>(titleCode - kFirstTitleCode)];
  wrapper.SetTitle(title);
  int32_t result = 1;
  bool started = false;
  try {
    if (!printDeviceMode_.empty()) SetPrinterDevMode(printer, printDeviceMode_);
    wrapper.BeginDoc();
    started = !ownDC || wrapper.JobId > 0;
    if (!started) throw EPrinterError("the print job could not start on \"" + wrapper.DeviceName + "\"");
    if (!tree->PrintPage(&wrapper, first, last, drawingSettings_, options, lastRenderMessage_)) result = 0;
    lastRenderWarnings_ = tree->GetRenderWarnings();
  } catch (const std::exception& e) {
    if (!lastRenderMessage_.empty()) lastRenderMessage_ += '\n';
    lastRenderMessage_ += e.what();
    result = 0;
  }
  // The job is ended whatever happened to its pages.
  if (started) {
    try {
      if (!wrapper.EndDoc()) {
        if (!lastRenderMessage_.empty()) lastRenderMessage_ += '\n';
        lastRenderMessage_ += "the print job could not be finished";
        result = 0;
      }
    } catch (const std::exception& e) {
      if (!lastRenderMessage_.empty()) lastRenderMessage_ += '\n';
      lastRenderMessage_ += e.what();
      result = 0;
    }
  }
  if (printOwnContext_) {
    printJob_ = wrapper.JobId;
    printJobText_ = wrapper.DeviceName;
  }
  if (!result) error_.Set(pvlErrRenderFailed, lastRenderMessage_);
  return result;
}
