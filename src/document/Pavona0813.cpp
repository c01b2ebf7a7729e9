// The facade's frame: documents and their handles, selection, the caller's
// coordinates, last-error codes and progress.
#include "document/Pavona0813.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
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

// ---------------------------------------------------------------------------
// Last error

void TFacadeError::Set(int32_t code, std::string_view cause) {
  Code = code;
  Message = code == 0 ? std::string() : cause.empty() ? FacadeErrorText(code) : std::string(cause);
}

std::string FacadeErrorText(int32_t code) {
  switch (code) {
    case pvlErrStrength: return "encryption strength outside 0..3";
    case pvlErrPermissionCheck: return "permission code with a wrong check byte";
    case pvlErrAlreadyEncrypted: return "the document is already encrypted";
    case pvlErrEncryptionSetup: return "the encryption could not be set up";
    case pvlErrInformationIndex: return "information index outside 0..6";
    case pvlErrUnreadable: return "the input cannot be opened or read";
    case pvlErrCannotDelete: return "an existing output file cannot be deleted";
    case pvlErrCannotWrite: return "the output cannot be created or written";
    case pvlErrWrongPassword: return "wrong password";
    case pvlErrNoXRef: return "no header or no cross-reference data";
    case pvlErrEncryptedInput: return "an input is encrypted";
    case pvlErrNoPages: return "no pages";
    case pvlErrRenderFailed: return "the page could not be rendered or written";
    case pvlErrBadArgument: return "an argument outside what the operation accepts";
    case pvlErrSaveFailed: return "the document could not be written";
    case pvlErrEngineFailure: return "the engine failed";
    case TPavona::pvlErrMetafileWMF:
      return "the Windows metafile (WMF) has records that could not be converted";
    case TPavona::pvlErrUnencodableText: return "the font cannot encode some of the characters";
    case TPavona::pvlErrNoPageTree: return "the document has no usable page tree";
    default: return std::string();
  }
}

int32_t FailureCode(const std::exception& e, int32_t fallback) {
  if (dynamic_cast<const EFOpenError*>(&e) || dynamic_cast<const EReadError*>(&e)) return pvlErrUnreadable;
  if (dynamic_cast<const EFCreateError*>(&e) || dynamic_cast<const EWriteError*>(&e)) return pvlErrCannotWrite;
  // An object that nests too deeply or contains itself: the file is damaged.
  if (dynamic_cast<const EPDFError*>(&e)) return pvlErrUnreadable;
  return fallback;
}

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
  } catch (const std::exception& e) {
    return failWith(e, pvlErrUnreadable);
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
  return tree ? Shielded(error_, pvlErrUnreadable, 0, [&] { return tree->GetPageCount(); }) : 0;
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
  } catch (const std::exception& e) {
    return failWith(e, pvlErrUnreadable);
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
  error_.Clear();
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
  } catch (const std::exception& e) {
    return failWith(e, pvlErrEngineFailure);
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
  if (result == TPDFDocument::kLoadWrongPassword) return failWith(pvlErrWrongPassword);
  return failWith(pvlErrUnreadable, document->GetFailure());
}

int32_t TPavona::LoadFromFile(std::u16string_view path, std::u16string_view password) {
  error_.Clear();
  const std::string native = WidePathToNative(path);
  std::error_code ec;
  // A missing file is a failure the caller must be able to tell, and tell
  // apart from a damaged one.
  if (native.empty() || !std::filesystem::exists(native, ec)) return failWith(pvlErrUnreadable, "not found");
  if (!std::filesystem::is_regular_file(native, ec)) return failWith(pvlErrUnreadable, "not a file");
  try {
    TFileStream file(native, fmOpenRead | fmShareDenyWrite);
    if (LoadFromStream(file, password) != 1) return 0;
    selected_->LoadedFileName = std::u16string(path);
    return 1;
  } catch (const std::exception& e) {
    return failWith(pvlErrUnreadable, e.what());
  }
}

int32_t TPavona::LoadFromStream(TStream& stream, std::u16string_view password) {
  error_.Clear();
  try {
    auto document = std::make_unique<TPDFDocument>();
    const int32_t result = document->LoadFromStream(stream, password);
    return adoptLoaded(std::move(document), result);
  } catch (const std::exception& e) {
    return failWith(pvlErrUnreadable, e.what());
  }
}

int32_t TPavona::LoadFromString(std::string data, std::u16string_view password) {
  error_.Clear();
  try {
    auto document = std::make_unique<TPDFDocument>();
    const int32_t result = document->LoadFromString(std::move(data), password);
    return adoptLoaded(std::move(document), result);
  } catch (const std::exception& e) {
    return failWith(pvlErrUnreadable, e.what());
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
  error_.Clear();
  try {
    selected_->SetInfo("ModDate", AsciiToWide(PDFDateNow()));
    if (selected_->SaveToFile(path)) return 1;
    return failWith(pvlErrSaveFailed, selected_->GetFailure());
  } catch (const std::exception& e) {
    return failWith(pvlErrSaveFailed, e.what());
  }
}

void TPavona::SaveToString(std::string& out) {
  error_.Clear();
  out.clear();
  try {
    selected_->SetInfo("ModDate", AsciiToWide(PDFDateNow()));
    out = selected_->SaveToString();
    if (out.empty()) error_.Set(pvlErrSaveFailed, selected_->GetFailure());
  } catch (const std::exception& e) {
    out.clear();
    error_.Set(pvlErrSaveFailed, e.what());
  }
}

void TPavona::LoadedFileName(std::u16string& out) const { out = selected_->LoadedFileName; }

bool TPavona::namesLoadedFile(std::u16string_view path) const {
  return !selected_->LoadedFileName.empty() &&
         IsSameFile(WidePathToNative(path), WidePathToNative(selected_->LoadedFileName));
}

int32_t TPavona::MergeDocument(int32_t handle) {
  error_.Clear();
  TPDFDocument* other = GetDocumentByHandle(handle);
  if (!other || other == selected_ || documentIndex(other) < 0) return 0;
  int32_t result = 0;
  try {
    if (selected_->AppendDocument(*other) != 1) return 0;
    result = 1;
    RemoveDocument(handle);
    selected_->SetInfo("Producer", AsciiToWide(Banner()));
  } catch (const std::exception& e) {
    // The result stays as far as it was set; a merge that did not happen
    // keeps its cause.
    if (!result) RecordFailure(error_, e, pvlErrEngineFailure);
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
  return Shielded(error_, pvlErrUnreadable, 0.0,
                  [&] { return (tree ? tree->GetPageWidth() : 0) * selected_->UnitScale; });
}

double TPavona::PageHeight() {
  TPDFPageTree* tree = selected_->GetPageTree();
  return Shielded(error_, pvlErrUnreadable, 0.0,
                  [&] { return (tree ? tree->GetPageHeight() : 0) * selected_->UnitScale; });
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
