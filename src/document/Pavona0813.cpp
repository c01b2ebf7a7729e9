// The facade's frame: documents and their handles, selection, the caller's
// coordinates, last-error codes and progress.
#include "document/Pavona0813.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"

namespace {

std::string systemTempFolder() {
  std::string folder;
  if (const char* env = std::getenv("TMPDIR"); env && *env) folder = env;
  if (folder.empty()) {
    std::error_code ec;
    folder = std::filesystem::temp_directory_path(ec).string();
    if (ec || folder.empty()) folder = "/tmp";
  }
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

const std::string& TPavona::Banner() {
  static const std::string banner = "Pavona Library 8.13 (https://corvane.example/pdf-reader)";
  return banner;
}

TPavona::TPavona() {
  tempFolder_ = systemTempFolder();
  drawingSettings_.LibraryName = "gdiplus.dll";
  drawingSettings_.AntiAlias = 1;
  drawingSettings_.DrawPagesWithGdiPlus = 1;
  drawingSettings_.Switch3 = 1;
  drawingSettings_.ImageQuality = 0;
  NewDocument();
}

TPavona::~TPavona() = default;

// ---------------------------------------------------------------------------
// Handles

int32_t TPavona::registerEntry(void* object, TPavonaHandleKind kind, TPDFDocument* owner) {
  if (!object) return 0;
  for (size_t i = 0; i < handles_.size(); ++i)
    if (handles_[i].Alive && handles_[i].Object == object && handles_[i].Kind == kind)
      return pvlHandleBase + static_cast<int32_t>(i);
  if (handles_.size() > static_cast<size_t>(pvlHandleIndexMask)) return 0;
  handles_.push_back(THandleEntry{object, kind, owner, true});
  return pvlHandleBase + static_cast<int32_t>(handles_.size() - 1);
}

int32_t TPavona::RegisterHandle(TPDFDocument* document) {
  return registerEntry(document, TPavonaHandleKind::Document, document);
}
int32_t TPavona::RegisterHandle(TPDFObject* object, TPDFDocument* owner) {
  return registerEntry(object, TPavonaHandleKind::Object, owner ? owner : selected_);
}
int32_t TPavona::RegisterHandle(TPDFFont* font, TPDFDocument* owner) {
  return registerEntry(font, TPavonaHandleKind::Font, owner ? owner : selected_);
}
int32_t TPavona::RegisterHandle(TPDFImage* image, TPDFDocument* owner) {
  return registerEntry(image, TPavonaHandleKind::Image, owner ? owner : selected_);
}

void TPavona::ForgetHandle(const void* object) {
  if (!object) return;
  for (THandleEntry& e : handles_)
    if (e.Alive && e.Object == object) e.Alive = false;
}

const TPavona::THandleEntry* TPavona::entryOf(int32_t handle) const {
  if ((handle & pvlHandleBase) != pvlHandleBase) return nullptr;
  const size_t index = static_cast<size_t>(handle & pvlHandleIndexMask);
  if (index >= handles_.size() || !handles_[index].Alive) return nullptr;
  return &handles_[index];
}

TPDFDocument* TPavona::GetDocumentByHandle(int32_t handle) const {
  const THandleEntry* e = entryOf(handle);
  return e && e->Kind == TPavonaHandleKind::Document ? static_cast<TPDFDocument*>(e->Object) : nullptr;
}
TPDFObject* TPavona::GetObjectByHandle(int32_t handle) const {
  const THandleEntry* e = entryOf(handle);
  return e && e->Kind == TPavonaHandleKind::Object ? static_cast<TPDFObject*>(e->Object) : nullptr;
}
TPDFIndRef* TPavona::GetIndRefByHandle(int32_t handle) const { return PDFAsIndRef(GetObjectByHandle(handle)); }
TPDFDictionary* TPavona::GetDictionaryByHandle(int32_t handle) const {
  TPDFObject* obj = GetObjectByHandle(handle);
  return PDFIsKind(obj, 'D') ? PDFAsDictionary(obj) : nullptr;
}
TPDFFont* TPavona::GetFontByHandle(int32_t handle) const {
  const THandleEntry* e = entryOf(handle);
  return e && e->Kind == TPavonaHandleKind::Font ? static_cast<TPDFFont*>(e->Object) : nullptr;
}
TPDFImage* TPavona::GetImageByHandle(int32_t handle) const {
  const THandleEntry* e = entryOf(handle);
  return e && e->Kind == TPavonaHandleKind::Image ? static_cast<TPDFImage*>(e->Object) : nullptr;
}

// ---------------------------------------------------------------------------
// Selection

int32_t TPavona::documentIndex(const TPDFDocument* document) const {
  for (size_t i = 0; i < documents_.size(); ++i)
    if (documents_[i].get() == document) return static_cast<int32_t>(i);
  return -1;
}

int32_t TPavona::GetDocumentHandle(int32_t n) {
  if (n <= 0 || n > DocumentCount()) return 0;
  return RegisterHandle(documents_[static_cast<size_t>(n - 1)].get());
}

void TPavona::selectDocument(TPDFDocument* document) {
  selected_ = document;
  selectedImage_ = document->GetImageCount() > 0 ? document->GetImage(0) : nullptr;
  selectedFont_ = document->GetFontCount() > 0 ? document->GetFont(0) : nullptr;
}

int32_t TPavona::SelectDocument(int32_t handle) {
  TPDFDocument* document = GetDocumentByHandle(handle);
  if (!document || documentIndex(document) < 0) return 0;
  selectDocument(document);
  return 1;
}

int32_t TPavona::SelectedDocument() { return RegisterHandle(selected_); }

int32_t TPavona::SelectPage(int32_t page) {
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree) return 0;
  try {
    tree->SelectPage(page);
    TPDFPainter* painter = tree->GetPainter();
    const double size = painter ? painter->GetFontSize() : 0;
    if (selectedFont_) SelectFont(RegisterHandle(selectedFont_, selected_));
    if (painter && size > 0 && selectedFont_) painter->SetFont(selectedFont_, size);
  } catch (const std::exception&) {
    return 0;
  }
  return tree->GetSelectedPageNumber() == page ? 1 : 0;
}

int32_t TPavona::SelectedPage() const {
  TPDFPageTree* tree = selected_->GetPageTree();
  return tree ? tree->GetSelectedPageNumber() : 0;
}

bool TPavona::DocumentWasRepaired() const {
  return selected_ && selected_->WasReconstructed();
}

int32_t TPavona::PageCount() {
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    return tree ? tree->GetPageCount() : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

int32_t TPavona::SelectFont(int32_t handle) {
  TPDFFont* font = GetFontByHandle(handle);
  if (!font || !selected_->HasFont(font)) return 0;
  selectedFont_ = font;
  TPDFPageTree* tree = selected_->GetPageTree();
  if (!tree || !tree->GetSelectedPage()) return 1;
  try {
    // The font becomes a resource of the selected page under its own name.
    if (TPDFIndRef* ref = font->GetReference()) {
      TPDFDictionary* resources = tree->GetPageResources();
      TPDFStructure* pool = resources->GetOwner();
      TPDFDictionary* fonts = PDFAsDictionary(resources->GetValue("Font", true));
      if (!fonts) {
        fonts = pool->NewDictionary();
        resources->SetValue("Font", fonts);
      }
      fonts->SetValue(font->GetResourceName(), pool->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
    }
    if (TPDFPainter* painter = tree->GetPainter()) painter->SetFont(font, 12);
  } catch (const std::exception&) {
    return 0;
  }
  return 1;
}

int32_t TPavona::SelectedFont() { return selectedFont_ ? RegisterHandle(selectedFont_, selected_) : 0; }

int32_t TPavona::SelectImage(int32_t handle) {
  TPDFImage* image = GetImageByHandle(handle);
  if (!image || !selected_->HasImage(image)) return 0;
  selectedImage_ = image;
  return 1;
}

int32_t TPavona::SetOrigin(int32_t corner) {
  selected_->OriginCorner = corner < 0 || corner > 3 ? 0 : corner;
  return 1;
}

int32_t TPavona::GetOrigin() const { return selected_->OriginCorner; }

// ---------------------------------------------------------------------------
// Documents

int32_t TPavona::NewDocument() {
  lastError_ = 0;
  try {
    auto document = std::make_unique<TPDFDocument>();
    document->InitNewDocument();
    document->SetInfo("Producer", AsciiToWide(Banner()));
    document->SetInfo("Creator", AsciiToWide(Banner()));
    const std::u16string now = AsciiToWide(PDFDateNow());
    document->SetInfo("CreationDate", now);
    document->SetInfo("ModDate", now);
    TPDFDocument* raw = document.get();
    documents_.push_back(std::move(document));
    const int32_t handle = RegisterHandle(raw);
    selectDocument(raw);
    if (raw->GetPageTree()) raw->GetPageTree()->SelectPage(1);
    return handle;
  } catch (const std::exception&) {
    return 0;
  }
}

int32_t TPavona::adoptLoaded(std::unique_ptr<TPDFDocument> document, int32_t result) {
  if (result == TPDFDocument::kLoadOk) {
    TPDFDocument* raw = document.get();
    documents_.push_back(std::move(document));
    RegisterHandle(raw);
    selectDocument(raw);
    return 1;
  }
  lastError_ = result == TPDFDocument::kLoadWrongPassword ? pvlErrWrongPassword : pvlErrUnreadable;
  return 0;
}

int32_t TPavona::LoadFromFile(std::u16string_view path, std::u16string_view password) {
  lastError_ = 0;
  const std::string native = WidePathToNative(path);
  std::error_code ec;
  if (native.empty() || !std::filesystem::is_regular_file(native, ec)) {
    // A missing file is a failure the caller must be able to tell.
    return failWith(pvlErrUnreadable);
  }
  try {
    TFileStream file(native, fmOpenRead | fmShareDenyWrite);
    if (LoadFromStream(file, password) != 1) return 0;
    selected_->LoadedFileName = std::u16string(path);
    return 1;
  } catch (const std::exception&) {
    return failWith(pvlErrUnreadable);
  }
}

int32_t TPavona::LoadFromStream(TStream& stream, std::u16string_view password) {
  lastError_ = 0;
  try {
    auto document = std::make_unique<TPDFDocument>();
    const int32_t result = document->LoadFromStream(stream, password);
    return adoptLoaded(std::move(document), result);
  } catch (const std::exception&) {
    return failWith(pvlErrUnreadable);
  }
}

int32_t TPavona::LoadFromString(std::string data, std::u16string_view password) {
  lastError_ = 0;
  try {
    auto document = std::make_unique<TPDFDocument>();
    const int32_t result = document->LoadFromString(std::move(data), password);
    return adoptLoaded(std::move(document), result);
  } catch (const std::exception&) {
    return failWith(pvlErrUnreadable);
  }
}

int32_t TPavona::RemoveDocument(int32_t handle) {
  TPDFDocument* document = GetDocumentByHandle(handle);
  const int32_t index = documentIndex(document);
  if (index < 0) return 0;
  if (DocumentCount() == 1) {
    if (!NewDocument()) return 0;
  } else if (document == selected_) {
    selectDocument(documents_[static_cast<size_t>(index == 0 ? 1 : index - 1)].get());
  }
  // Every handle of the document and of what it owned dies with it.
  for (THandleEntry& e : handles_)
    if (e.Owner == document) e.Alive = false;
  documents_.erase(documents_.begin() + index);
  return 1;
}

int32_t TPavona::SaveToFile(std::u16string_view path) {
  lastError_ = 0;
  try {
    selected_->SetInfo("ModDate", AsciiToWide(PDFDateNow()));
    if (selected_->SaveToFile(path)) return 1;
  } catch (const std::exception&) {
  }
  return failWith(pvlErrSaveFailed);
}

void TPavona::SaveToString(std::string& out) {
  lastError_ = 0;
  out.clear();
  try {
    selected_->SetInfo("ModDate", AsciiToWide(PDFDateNow()));
    out = selected_->SaveToString();
  } catch (const std::exception&) {
    out.clear();
  }
  if (out.empty()) lastError_ = pvlErrSaveFailed;
}

void TPavona::LoadedFileName(std::u16string& out) const { out = selected_->LoadedFileName; }

bool TPavona::namesLoadedFile(std::u16string_view path) const {
  return !selected_->LoadedFileName.empty() &&
         IsSameFile(WidePathToNative(path), WidePathToNative(selected_->LoadedFileName));
}

int32_t TPavona::MergeDocument(int32_t handle) {
  lastError_ = 0;
  TPDFDocument* other = GetDocumentByHandle(handle);
  if (!other || other == selected_ || documentIndex(other) < 0) return 0;
  int32_t result = 0;
  try {
    if (selected_->AppendDocument(*other) != 1) return 0;
    result = 1;
    RemoveDocument(handle);
    selected_->SetInfo("Producer", AsciiToWide(Banner()));
  } catch (const std::exception&) {
  }
  return result;
}

// ---------------------------------------------------------------------------
// Coordinates

double TPavona::ToPageLength(double length) const {
  const double s = selected_->UnitScale;
  return s != 0 ? length / s : length;
}

double TPavona::ToPageX(double x) {
  const double v = ToPageLength(x);
  const int32_t corner = selected_->OriginCorner;
  if (corner == 2 || corner == 3) {
    TPDFPageTree* tree = selected_->GetPageTree();
    return (tree ? tree->GetPageWidth() : 612) - v;
  }
  return v;
}

double TPavona::ToPageY(double y) {
  const double v = ToPageLength(y);
  const int32_t corner = selected_->OriginCorner;
  if (corner == 1 || corner == 2) {
    TPDFPageTree* tree = selected_->GetPageTree();
    return (tree ? tree->GetPageHeight() : 792) - v;
  }
  return v;
}

double TPavona::PageWidth() {
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    return (tree ? tree->GetPageWidth() : 0) * selected_->UnitScale;
  } catch (const std::exception&) {
    return 0;
  }
}

double TPavona::PageHeight() {
  TPDFPageTree* tree = selected_->GetPageTree();
  try {
    return (tree ? tree->GetPageHeight() : 0) * selected_->UnitScale;
  } catch (const std::exception&) {
    return 0;
  }
}

// ---------------------------------------------------------------------------
// Progress

void TPavona::SetProgressPhase(double weight, int32_t base) {
  progressWeight_ = weight;
  progressBase_ = base;
}

void TPavona::SetProgressSteps(int32_t step, int32_t stepCount) {
  progressStepCount_ = stepCount < 1 ? 1 : stepCount;
  progressStep_ = std::clamp(step, 1, progressStepCount_);
}

void TPavona::ReportProgress(int32_t percentOfPhase) {
  if (!onProgress_) return;
  const int32_t phase = static_cast<int32_t>(std::nearbyint(percentOfPhase * progressWeight_ + progressBase_));
  const int32_t v = phase / progressStepCount_ + (progressStep_ - 1) * 100 / progressStepCount_;
  if (v == lastPercent_) return;
  lastPercent_ = v;
  onProgress_(v);
}

void TPavona::ReportProgressDone() {
  if (onProgress_) onProgress_(100);
}
