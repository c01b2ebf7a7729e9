// The facade's page output: pages of the selected document as images in a
// stream or in files, and the text of the selected page.
#include <algorithm>
#include <cmath>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
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
    lastError_ = pvlErrBadArgument;
    return nullptr;
  }
  TPDFPageTree* tree = selected_->GetPageTree();
  count = PageCount();
  if (!tree || count <= 0) {
    lastRenderMessage_ = "the document has no pages";
    lastError_ = pvlErrRenderFailed;
    return nullptr;
  }
  return tree;
}

int32_t TPavona::RenderPageToStream(double dpi, int32_t page, int32_t format, TStream& stream) {
  lastRenderMessage_.clear();
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
  if (!result) lastError_ = pvlErrRenderFailed;
  return result;
}

int32_t TPavona::RenderPagesToFile(double dpi, int32_t first, int32_t last, int32_t format,
                                   std::u16string_view fileName) {
  lastRenderMessage_.clear();
  TPageKeeper keeper(*this);
  if (fileName.empty()) {
    lastRenderMessage_ = "no file name";
    lastError_ = pvlErrBadArgument;
    return 0;
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
    lastError_ = pvlErrBadArgument;
    return 0;
  }
  int32_t result = 0;
  try {
    result = tree->RenderPageToFile(first, last, resolution, format, static_cast<uint8_t>(jpegQuality_), fileName,
                                    drawingSettings_, useBackground_, backgroundColor_, lastRenderMessage_);
  } catch (const std::exception& e) {
    lastRenderMessage_ = e.what();
    result = 0;
  }
  if (!result) lastError_ = pvlErrRenderFailed;
  return result;
}

void TPavona::GetPageText(int32_t mode, std::u16string& out) {
  out.clear();
  lastError_ = 0;
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
  } catch (const std::exception&) {
    out.clear();
    lastError_ = pvlErrRenderFailed;
  }
}
