// Facade operations that combine and cut files: named file lists, merging
// two files by direct access, page ranges into a file of their own, page
// text straight from a file, and pages of the selected document as a new
// document.
//
// Outputs are built in memory and written through a temporary file beside
// the target that is renamed over it, so a failed merge or split never
// leaves a partial or destroyed output, and no fixed temporary names are
// used anywhere.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <system_error>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "document/PavonaFacadeGuard.h"
#include "document/PavonaNameTree.h"
#include "document/PavonaSmartAccess.h"
#include "objects/PavonaDigest.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"

namespace {

namespace fs = std::filesystem;

// "d.d" versions compared as numbers; the higher text.
std::string higherVersion(const std::string& a, const std::string& b) {
  return PDFTextToFloat(b) > PDFTextToFloat(a) ? b : a;
}

bool isWritableOrAbsent(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  if (fs::is_directory(path, ec)) return false;
  return ::access(path.c_str(), W_OK) == 0;
}

// The checks before a file-to-file operation: the target is none of the
// inputs, every input opens for reading (into streams, in order) and the
// target can be replaced. False, with the code and cause of the first check
// that fails kept in error.
bool openInputsFor(const std::string& target, std::initializer_list<std::string> inputs,
                   std::vector<std::unique_ptr<TFileStream>>& streams, TFacadeError& error) {
  for (const std::string& input : inputs) {
    if (IsSameFile(input, target)) {
      error.Set(pvlErrBadArgument, "the output " + target + " is one of the inputs");
      return false;
    }
  }
  try {
    for (const std::string& input : inputs)
      streams.push_back(std::make_unique<TFileStream>(input, fmOpenRead | fmShareDenyWrite));
  } catch (const std::exception& e) {
    error.Set(pvlErrUnreadable, e.what());
    return false;
  }
  if (isWritableOrAbsent(target)) return true;
  error.Set(pvlErrCannotDelete, target + " cannot be replaced");
  return false;
}

// Whether a merge can read an input through its reader; when it cannot,
// the code and the reader's reason are set.
bool readableForMerge(const TSmartPDFReader& reader, TFacadeError& error) {
  if (reader.GetState() == 1) {
    error.Set(pvlErrNoXRef, "no %PDF- header in the first 1024 bytes");
    return false;
  }
  if (reader.GetState() != 0) {
    error.Set(pvlErrNoXRef, "no cross-reference data or trailer");
    return false;
  }
  // An encrypted input that opens without a password is read decrypted
  // and written plain; one that needs a password cannot be merged.
  if (!reader.ObjectsArePlain()) {
    error.Set(pvlErrEncryptedInput, "the file is encrypted and needs a password");
    return false;
  }
  return true;
}

// Whether the input's catalogue can be read; else the code and the reason.
bool hasCatalogueForMerge(TSmartPDFDocument& document, TFacadeError& error) {
  const int32_t root = document.GetRootNumber();
  if (root > 0 && PDFAsDictionary(document.GetObject(root, nullptr))) return true;
  error.Set(pvlErrNoXRef, "the document catalogue cannot be read");
  return false;
}

// A stream object is written with the length of the data it really holds
// (an indirect or wrong Length in the file would otherwise be copied).
void fixStreamLength(TPDFObject* obj) {
  if (TPDFStream* s = PDFAsStream(obj))
    if (TPDFDictionary* d = s->GetDictionary())
      d->SetValue("Length", d->GetOwner()->NewNumeric(static_cast<double>(s->GetData().size())));
}

// Object streams and cross-reference streams are containers of the input's
// file structure; their objects are written one by one instead.
bool isFileStructure(TPDFObject* obj) {
  TPDFStream* s = PDFAsStream(obj);
  if (!s || !s->GetDictionary()) return false;
  const std::string type = s->GetDictionary()->GetNameValue("Type");
  return type == "ObjStm" || type == "XRef";
}

// A linearization dictionary describes the input's layout, which the output
// does not have.
bool isLinearizationDict(TPDFObject* obj) {
  TPDFDictionary* d = PDFAsDictionary(obj);
  return d && d->GetValue("Linearized") && d->GetValue("L");
}

// A pool for objects on their way into an output file: numbers read from
// the input keep every digit.
std::unique_ptr<TPDFStructure> newScratchPool() {
  auto pool = std::make_unique<TPDFStructure>();
  pool->SetPrecision(kExactNumberDigits);
  return pool;
}

std::string objectBody(TPDFObject* obj) {
  if (!obj || isFileStructure(obj) || isLinearizationDict(obj)) return "null";
  fixStreamLength(obj);
  return obj->WriteText();
}

}  // namespace

// ---------------------------------------------------------------------------
// File lists

int32_t TPavona::AddToFileList(std::u16string_view listName, std::u16string_view fileName) {
  const std::string name = WideToUTF8(listName);
  auto same = [&](const TFileList& l) {
    return l.Name.size() == name.size() &&
           std::equal(l.Name.begin(), l.Name.end(), name.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
  };
  auto it = std::find_if(fileLists_.begin(), fileLists_.end(), same);
  if (it == fileLists_.end()) {
    fileLists_.push_back(TFileList{name, {}});
    it = fileLists_.end() - 1;
  }
  it->Files.push_back(WideToUTF8(fileName));
  return 1;
}

int32_t TPavona::MergeFileList(std::u16string_view listName, std::u16string_view output) {
  error_.Clear();
  if (!CheckTempDirectory()) return 0;
  const std::string name = WideToUTF8(listName);
  const TFileList* list = nullptr;
  for (const TFileList& l : fileLists_)
    if (l.Name.size() == name.size() &&
        std::equal(l.Name.begin(), l.Name.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      list = &l;
  if (!list || list->Files.empty()) return failWith(pvlErrBadArgument, "no file list of that name");
  const std::string target = WidePathToNative(output);
  for (const std::string& f : list->Files)
    if (IsSameFile(f, target)) return failWith(pvlErrBadArgument, "the output " + target + " is one of the inputs");
  const size_t n = list->Files.size();
  if (n == 1) {
    // The one file is copied as it is, but only when a merge could read it:
    // a "merged" file that is no PDF would be a failure reported as success.
    // The bytes checked are the bytes written.
    try {
      const std::string bytes = ReadFileBytes(list->Files[0]);
      {
        TMemoryStream in(bytes);
        TSmartPDFReader reader(in);
        if (!readableForMerge(reader, error_)) return 0;
        TSmartPDFDocument document(reader);
        if (!hasCatalogueForMerge(document, error_)) return 0;
      }
      WriteFileBytesAtomic(target, bytes);
    } catch (const std::exception& e) {
      return failWith(e, pvlErrUnreadable);
    }
    ReportProgressDone();
    return 1;
  }
  // Pairwise: the result so far (in memory) merged with the next file. The
  // output is written once, after the last pair succeeded; a list that does
  // not merge completely writes nothing and answers how many files went into
  // the last successful merge.
  int32_t result = 0;
  const int32_t savedStep = progressStep_, savedCount = progressStepCount_;
  SetProgressSteps(1, static_cast<int32_t>(n - 1));
  try {
    std::string merged;
    for (size_t i = 1; i < n; ++i) {
      SetProgressSteps(static_cast<int32_t>(i), static_cast<int32_t>(n - 1));
      std::unique_ptr<TStream> a;
      if (i == 1) a = std::make_unique<TFileStream>(list->Files[0], fmOpenRead | fmShareDenyWrite);
      else a = std::make_unique<TMemoryStream>(merged);
      TFileStream b(list->Files[i], fmOpenRead | fmShareDenyWrite);
      TMemoryStream out;
      if (!MergeStreams(*a, b, out)) break;
      merged = std::move(out.Bytes());
      result = static_cast<int32_t>(i + 1);
    }
    if (result == static_cast<int32_t>(n)) {
      try {
        WriteFileBytesAtomic(target, merged);
      } catch (const std::exception& e) {
        error_.Set(pvlErrCannotWrite, e.what());
        result = 0;
      }
    }
  } catch (const std::exception& e) {
    error_.Set(pvlErrUnreadable, e.what());
  }
  ReportProgressDone();
  progressStep_ = savedStep;
  progressStepCount_ = savedCount;
  return result;
}

// ---------------------------------------------------------------------------
// Two files

int32_t TPavona::MergeFiles(std::u16string_view first, std::u16string_view second, std::u16string_view output) {
  error_.Clear();
  const std::string target = WidePathToNative(output);
  std::vector<std::unique_ptr<TFileStream>> in;
  if (!openInputsFor(target, {WidePathToNative(first), WidePathToNative(second)}, in, error_)) return 0;
  try {
    TMemoryStream out;
    if (!MergeStreams(*in[0], *in[1], out)) return 0;
    WriteFileBytesAtomic(target, out.Bytes());
    return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrCannotWrite);
  }
}

int32_t TPavona::MergeStreams(TStream& first, TStream& second, TStream& output) {
  error_.Clear();
  try {
    TSmartPDFReader r1(first), r2(second);
    if (!readableForMerge(r1, error_) || !readableForMerge(r2, error_)) return 0;
    TSmartPDFDocument d1(r1), d2(r2);
    if (!hasCatalogueForMerge(d1, error_) || !hasCatalogueForMerge(d2, error_)) return 0;
    r1.RebuildTrailer();
    r2.RebuildTrailer();
    TSmartPDFWriter writer(output);
    writer.WriteHeader(higherVersion(higherVersion("1.4", r1.GetVersion()), r2.GetVersion()));

    d1.CreateAcroForm();
    // Numbers above the first document's own are kept free for the objects
    // that joining the named destinations and embedded files may add to it.
    constexpr int32_t kReserved = 4;
    const int32_t n1 = d1.GetMaxObjectNumber() + kReserved;
    const int32_t n2 = d2.GetMaxObjectNumber();
    if (int64_t(n1) + n2 > int64_t(1) << 30) return failWith(pvlErrNoXRef);

    // The second page tree hangs under the first root; its pages carry
    // what they inherited, so that the first root cannot change them.
    d2.PushDownPageAttributes();
    const int32_t count2 = d2.GetPageCount();
    d2.SetPagesParent(d1.GetRootNumber() - n1, d1.GetRootGeneration());
    d1.AppendPageTree(d2.GetRootNumber() + n1, d2.GetRootGeneration(), count2);
    if (d2.HasAcroForm()) {
      d1.RenameClashingFields(d2);
      d1.MergeFormFields(d2.GetFormFields(), d2.GetFormCalcOrder(), d2.GetNeedAppearances(), n1);
      d1.MergeFormResources(d2, n1);
    }
    if (d2.HasOutlines()) {
      if (d1.HasOutlines()) d1.MergeOutlines(d2, n1);
      else d1.SetOutlinesRef(d2.GetOutlinesRef(), n1);
    }
    d1.MergeNamedDestinations(d2, n1);
    d1.MergeEmbeddedFiles(d2, n1);
    if (d1.GetMaxObjectNumber() > n1) return failWith(pvlErrCannotWrite);

    SetProgressPhase(0.75, 0);
    auto scratch = newScratchPool();
    for (int32_t n = 1; n <= n1; ++n) {
      ReportProgress(static_cast<int32_t>(int64_t(n) * 100 / n1));
      TPDFObject* obj = n == r1.GetEncryptNumber() ? nullptr : d1.GetObject(n, scratch.get());
      writer.WriteObject(n, d1.GetGeneration(n), objectBody(obj));
      if (scratch->GetCount() > 2000) scratch = newScratchPool();
    }
    ReportProgress(100);
    SetProgressPhase(0.25, 75);
    scratch = newScratchPool();
    for (int32_t n = 1; n <= n2; ++n) {
      ReportProgress(static_cast<int32_t>(int64_t(n) * 100 / std::max(n2, 1)));
      TPDFObject* obj = n == r2.GetEncryptNumber() ? nullptr : d2.GetObject(n, scratch.get());
      if (obj) obj->ShiftObjectNumbers(n1);
      writer.WriteObject(n + n1, d2.GetGeneration(n), objectBody(obj));
      if (scratch->GetCount() > 2000) scratch = newScratchPool();
    }
    ReportProgress(100);
    SetProgressPhase(1.0, 0);
    TPDFDictionary* trailer = r1.GetTrailer();
    trailer->SetValue("Size", trailer->GetOwner()->NewNumeric(double(n1) + n2 + 1));
    writer.WriteXRefAndTrailer(trailer, 0, false);
    return 1;
  } catch (const std::exception& e) {
    SetProgressPhase(1.0, 0);
    return failWith(e, pvlErrCannotWrite);
  }
}

// ---------------------------------------------------------------------------
// Page ranges into a file

int32_t TPavona::ExtractPageRangesToFile(std::u16string_view input, std::u16string_view ranges,
                                         std::u16string_view output) {
  error_.Clear();
  const std::string target = WidePathToNative(output);
  std::vector<std::unique_ptr<TFileStream>> in;
  if (!openInputsFor(target, {WidePathToNative(input)}, in, error_)) return 0;
  try {
    TSmartPDFReader reader(*in[0]);
    if (reader.GetState() != 0) return failWith(pvlErrNoXRef);
    // Read decrypted when no password is needed, and written plain.
    if (!reader.ObjectsArePlain()) return failWith(pvlErrEncryptedInput);
    TSmartPDFDocument document(reader);
    std::vector<int32_t> pages;
    const int32_t count = document.GetPageCount();
    if (count < 1 || !ParsePageRanges(WideToUTF8(ranges), 1, count, pages) || pages.empty()) {
      return failWith(pvlErrNoPages);
    }
    reader.RebuildTrailer();
    TMemoryStream out;
    TSmartPDFWriter writer(out);
    writer.WriteHeader(higherVersion("1.4", reader.GetVersion()));
    SetProgressPhase(0.5, 0);
    document.OnProgress = [this](int32_t p) { ReportProgress(p); };
    document.SelectPages(pages);
    SetProgressPhase(0.5, 50);
    auto scratch = newScratchPool();
    const int32_t used = document.GetUsedObjectCount();
    for (int32_t i = 1; i <= used; ++i) {
      ReportProgress(static_cast<int32_t>(int64_t(i) * 100 / used));
      const int32_t n = document.GetUsedObjectNumber(i);
      TPDFObject* obj = n == reader.GetEncryptNumber() ? nullptr : document.GetObject(n, scratch.get());
      if (obj) document.DropExcludedPageRefs(obj);
      writer.WriteObject(n, document.GetGeneration(n), objectBody(obj));
      if (scratch->GetCount() > 2000) scratch = newScratchPool();
    }
    SetProgressPhase(1.0, 0);
    ReportProgressDone();
    writer.WriteXRefAndTrailer(reader.GetTrailer(), 0, true);
    WriteFileBytesAtomic(target, out.Bytes());
    return 1;
  } catch (const std::exception& e) {
    SetProgressPhase(1.0, 0);
    return failWith(e, pvlErrCannotWrite);
  }
}

// ---------------------------------------------------------------------------
// Page text straight from a file

void TPavona::ExtractPageTextFromFile(std::u16string_view path, std::u16string_view password, int32_t page,
                                      int32_t mode, std::u16string& out) {
  out.clear();
  error_.Clear();
  try {
    TFileStream in(WidePathToNative(path), fmOpenRead | fmShareDenyWrite);
    // The reader opens the file as a document does: with the password (the
    // empty user password when none is given), decrypting what it reads.
    TSmartPDFReader reader(in, password);
    if (reader.GetState() != 0) {
      error_.Set(pvlErrNoXRef);
      return;
    }
    if (!reader.ObjectsArePlain()) {
      error_.Set(pvlErrWrongPassword);
      return;
    }
    TSmartPDFDocument document(reader);
    TSmartPDFTextOptions options;
    document.ExtractPageText(document.FindPage(page), mode, out, options);
  } catch (const std::exception& e) {
    out.clear();
    error_.Set(pvlErrUnreadable, e.what());
  }
}

// ---------------------------------------------------------------------------
// Pages of the selected document as a new document

int32_t TPavona::ExtractPages(int32_t first, int32_t count) {
  error_.Clear();
  const int32_t total = PageCount();
  if (total < 1 || count < 1 || first < 1) return failWith(pvlErrNoPages);
  first = std::min(first, total);
  if (int64_t(first) + count - 1 > total) count = total - first + 1;
  TPDFDocument* source = selected_;
  const int32_t sourceHandle = RegisterHandle(source);
  const int32_t fresh = NewDocument();
  TPDFDocument* target = GetDocumentByHandle(fresh);
  int32_t result = 0;
  bool copied = false;
  try {
    copied = target && target->CopyPagesFrom(*source, std::to_string(first) + "-" + std::to_string(first + count - 1));
  } catch (const std::exception& e) {
    // The page copy failed: the extraction has no pages, for this cause.
    copied = false;
    error_.Set(pvlErrNoPages, e.what());
  }
  if (copied) {
    std::string bytes;
    SaveToString(bytes);
    if (!bytes.empty()) result = LoadFromString(std::move(bytes), u"");
  }
  if (!result) {
    if (!error_.Code) error_.Set(pvlErrNoPages);
    SelectDocument(sourceHandle);
  }
  if (fresh) RemoveDocument(fresh);
  if (result) result = 1;
  return result;
}

// ---------------------------------------------------------------------------
// Files

int32_t TPavona::CopyFile(std::u16string_view source, std::u16string_view target) {
  error_.Clear();
  const std::string from = WidePathToNative(source), to = WidePathToNative(target);
  std::error_code ec;
  if (from.empty() || !fs::exists(from, ec)) return failWith(pvlErrUnreadable, "not found");
  if (!fs::is_regular_file(from, ec)) return failWith(pvlErrUnreadable, "not a file");
  if (IsSameFile(from, to)) return failWith(pvlErrBadArgument, "the output " + to + " is the file to copy");
  try {
    const std::string bytes = ReadFileBytes(from);
    WriteFileBytesAtomic(to, bytes);
    if (static_cast<int64_t>(fs::file_size(to, ec)) == static_cast<int64_t>(bytes.size()) && !ec) return 1;
    return failWith(pvlErrCannotWrite, "the copy " + to + " does not have the size of the file copied");
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

int32_t TPavona::CheckTempDirectory() {
  std::error_code ec;
  if (!fs::is_directory(tempFolder_, ec)) return 0;
  // A name of its own (a fresh tag plus the process), never a fixed one.
  std::string name = tempFolder_ + NewResourceTag() + "-" + std::to_string(::getpid()) + ".dat";
  if (fs::exists(name, ec)) return 0;
  int32_t result = 0;
  try {
    std::random_device device;
    const uint16_t value = static_cast<uint16_t>(1 + device() % 65534);
    const std::string written{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    {
      TFileStream f(name, fmCreate);
      f.WriteString(written);
    }
    TFileStream f(name, fmOpenRead);
    char back[2] = {0, 0};
    f.ReadBuffer(back, 2);
    result = std::string(back, 2) == written ? 1 : 0;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrCannotWrite);
    result = 0;
  }
  fs::remove(name, ec);
  return result;
}

// ---------------------------------------------------------------------------
// Outlines and destinations

int32_t TPavona::OutlineCount() {
  return Shielded(error_, pvlErrUnreadable, 0, [&] { return selected_->GetOutlineCount(); });
}

int32_t TPavona::GetOutlineHandle(int32_t n) {
  return Shielded(error_, pvlErrUnreadable, 0, [&] { return RegisterHandle(selected_->GetOutlineItem(n)); });
}

int32_t TPavona::GetFirstOutline() {
  return Shielded(error_, pvlErrUnreadable, 0, [&] { return RegisterHandle(selected_->GetFirstOutline()); });
}

int32_t TPavona::GetFirstChildOutline(int32_t item) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  return ref ? Shielded(error_, pvlErrUnreadable, 0,
                        [&] { return RegisterHandle(selected_->GetFirstChildOutline(ref)); })
             : 0;
}

int32_t TPavona::GetNextOutline(int32_t item) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  return ref ? Shielded(error_, pvlErrUnreadable, 0, [&] { return RegisterHandle(selected_->GetNextOutline(ref)); })
             : 0;
}

int32_t TPavona::GetParentOutline(int32_t item) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  return ref ? Shielded(error_, pvlErrUnreadable, 0, [&] { return RegisterHandle(selected_->GetParentOutline(ref)); })
             : 0;
}

void TPavona::GetOutlineTitle(int32_t item, std::u16string& out) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  ShieldedInto(error_, pvlErrUnreadable, out, [&] {
    if (ref) out = selected_->GetOutlineTitle(ref);
  });
}

int32_t TPavona::NewOutline(int32_t parent, std::u16string_view title, int32_t page, double position) {
  TPDFIndRef* parentRef = nullptr;
  if (parent != 0 && !(parentRef = GetIndRefByHandle(parent))) return 0;
  return Shielded(error_, pvlErrUnreadable, 0,
                  [&] { return RegisterHandle(selected_->NewOutline(parentRef, title, ToPageY(position), page)); });
}

int32_t TPavona::NewChildOutline(int32_t parent, std::u16string_view title) {
  TPDFIndRef* parentRef = nullptr;
  if (parent != 0 && !(parentRef = GetIndRefByHandle(parent))) return 0;
  return Shielded(error_, pvlErrUnreadable, 0,
                  [&] { return RegisterHandle(selected_->NewChildOutline(parentRef, title)); });
}

int32_t TPavona::RemoveOutline(int32_t item) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  return ref ? Shielded(error_, pvlErrUnreadable, 0, [&] { return selected_->RemoveOutline(ref) ? 1 : 0; }) : 0;
}

int32_t TPavona::SetOutlineColor(int32_t item, double red, double green, double blue) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  if (!ref || !PDFAsDictionary(ref->Resolve())) return 0;
  try {
    selected_->SetOutlineColor(ref, red, green, blue);
    return 1;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

double TPavona::GetOutlineColor(int32_t item, int32_t component) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  try {
    return ref ? selected_->GetOutlineColor(ref, std::clamp(component, 0, 2)) : 0;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

int32_t TPavona::SetOutlineWebLink(int32_t item, std::u16string_view address) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  if (!ref || !PDFAsDictionary(ref->Resolve())) return 0;
  try {
    // An address is ASCII; other characters go as UTF-8 (a URI's own form).
    selected_->SetOutlineWebLink(ref, WideToUTF8(address));
    return 1;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

void TPavona::GetOutlineAction(int32_t item, std::u16string& out) {
  out.clear();
  TPDFIndRef* ref = GetIndRefByHandle(item);
  try {
    if (ref) out = PDFTextOrUTF8ToWide(selected_->GetOutlineWebLink(ref));
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    out.clear();
  }
}

TPDFObject* TPavona::ResolveDestination(int32_t handle) {
  TPDFObject* obj = GetObjectByHandle(handle);
  if (!obj) return nullptr;
  try {
    if (TPDFIndRef* ref = PDFAsIndRef(obj)) obj = ref->Resolve();
    if (!obj) return nullptr;
    auto arrayOrD = [](TPDFObject* o) -> TPDFObject* {
      if (PDFAsArray(o)) return o;
      if (TPDFDictionary* d = PDFAsDictionary(o)) return PDFAsArray(d->GetValue("D", true));
      return nullptr;
    };
    if (PDFAsArray(obj) || PDFAsDictionary(obj)) return arrayOrD(obj);
    std::string name;
    if (TPDFString* s = PDFAsString(obj)) name = s->GetValue();
    else if (TPDFName* n = PDFAsName(obj)) name = n->GetValue();
    else return nullptr;
    TPDFObject* found = selected_->FindNamedDestination(name);
    if (TPDFIndRef* ref = PDFAsIndRef(found)) found = ref->Resolve();
    return arrayOrD(found);
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return nullptr;
  }
}

int32_t TPavona::GetDestinationPage(int32_t handle) {
  TPDFArray* dest = PDFAsArray(ResolveDestination(handle));
  if (!dest || dest->GetCount() == 0) return 0;
  try {
    TPDFObject* first = dest->GetItem(0);
    // A page number (remote destinations, and some local ones) counts from
    // 0; the array stays as it is.
    if (TPDFNumeric* n = PDFAsNumeric(first)) {
      const double v = n->GetValue();
      return v >= 0 && v < 2147483646.0 ? static_cast<int32_t>(v) + 1 : 0;
    }
    if (TPDFIndRef* ref = PDFAsIndRef(first)) return selected_->PageIndexOf(ref);
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
  }
  return 0;
}

int32_t TPavona::GetActionDestination(int32_t handle) {
  TPDFObject* obj = GetObjectByHandle(handle);
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) obj = ref->Resolve();
  TPDFDictionary* action = PDFAsDictionary(obj);
  if (!action) return 0;
  try {
    TPDFObject* d = action->GetValue("D");
    if (TPDFIndRef* ref = PDFAsIndRef(d)) d = ref->Resolve();
    return d ? RegisterHandle(d) : 0;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

int32_t TPavona::GetOutlinePage(int32_t item) {
  TPDFIndRef* ref = GetIndRefByHandle(item);
  TPDFDictionary* dict = ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
  if (!dict) return 0;
  try {
    if (TPDFObject* dest = dict->GetValue("Dest", true)) return GetDestinationPage(RegisterHandle(dest));
    if (TPDFObject* action = dict->GetValue("A", true)) {
      const int32_t d = GetActionDestination(RegisterHandle(action));
      return d ? GetDestinationPage(d) : 0;
    }
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Embedded files

// The file an attachment is made from, with the reason when there is none.
TPDFIndRef* TPavona::embeddedFileSpec(std::u16string_view path, std::u16string_view mimeType) {
  const std::string native = WidePathToNative(path);
  std::error_code ec;
  if (native.empty() || !fs::exists(native, ec)) {
    failWith(pvlErrUnreadable, "not found");
    return nullptr;
  }
  if (!fs::is_regular_file(native, ec)) {
    failWith(pvlErrUnreadable, "not a file");
    return nullptr;
  }
  TPDFIndRef* spec = selected_->CreateEmbeddedFile(path, WideToUTF8(mimeType));
  if (!spec) failWith(pvlErrUnreadable, selected_->GetFailure());
  return spec;
}

int32_t TPavona::EmbedFile(std::u16string_view title, std::u16string_view path, std::u16string_view mimeType) {
  error_.Clear();
  if (title.empty()) return failWith(pvlErrBadArgument, "an attached file needs a name");
  try {
    // The name keeps its characters (a PDF text string).
    const std::string name = WideToPDFText(title);
    // Checked before the file is read, so that a refused attachment leaves
    // no stray copy of the file in the document.
    if (NameTreeLookup(selected_->GetNamesTree("EmbeddedFiles"), name))
      return failWith(pvlErrBadArgument, "an attached file of that name exists already");
    TPDFIndRef* spec = embeddedFileSpec(path, mimeType);
    if (!spec) return 0;
    if (!selected_->RegisterEmbeddedFile(name, spec))
      return failWith(pvlErrBadArgument, "an attached file of that name exists already");
    return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrUnreadable);
  }
}

int32_t TPavona::CreateEmbeddedFile(std::u16string_view path, std::u16string_view mimeType) {
  error_.Clear();
  try {
    TPDFIndRef* spec = embeddedFileSpec(path, mimeType);
    return spec ? RegisterHandle(spec) : 0;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrUnreadable);
  }
}

int32_t TPavona::EmbeddedFileCount() {
  return Shielded(error_, pvlErrUnreadable, 0, [&] { return selected_->GetEmbeddedFileCount(); });
}

void TPavona::GetEmbeddedFileString(int32_t n, int32_t kind, std::u16string& out) {
  ShieldedInto(error_, pvlErrUnreadable, out, [&] { out = selected_->GetEmbeddedFileString(n, kind); });
}

int64_t TPavona::GetEmbeddedFileInt(int32_t n, int32_t kind) {
  return Shielded(error_, pvlErrUnreadable, int64_t{0},
                  [&] { return kind == 5 || kind == 6 ? selected_->GetEmbeddedFileInt(n, kind) : 0; });
}

int32_t TPavona::GetEmbeddedFileHandle(int32_t n) {
  return Shielded(error_, pvlErrUnreadable, 0, [&] { return RegisterHandle(selected_->GetEmbeddedFileSpec(n)); });
}

void TPavona::GetEmbeddedFileContent(int32_t n, std::string& out) {
  ShieldedInto(error_, pvlErrUnreadable, out, [&] { out = selected_->GetEmbeddedFileContent(n); });
}

int32_t TPavona::SaveEmbeddedFileToFile(int32_t n, std::u16string_view path) {
  error_.Clear();
  try {
    if (n < 1 || n > selected_->GetEmbeddedFileCount())
      return failWith(pvlErrBadArgument, "no attached file of that number");
    if (namesLoadedFile(path)) return failWith(pvlErrBadArgument, "the output would replace the document's own file");
    const std::string content = selected_->GetEmbeddedFileContent(n);
    // An attachment without content still leaves its (empty) file, but the
    // answer is a failure and says why.
    WriteFileBytesAtomic(WidePathToNative(path), content);
    if (content.empty()) return failWith(pvlErrUnreadable, "the attached file has no content");
    return 1;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

int32_t TPavona::RemoveEmbeddedFile(int32_t n) {
  return Shielded(error_, pvlErrUnreadable, 0, [&] { return selected_->RemoveEmbeddedFile(n) ? 1 : 0; });
}

// ---------------------------------------------------------------------------
// Information, version and page mode

namespace {
constexpr const char* kInformationKeys[9] = {"",        "Author",   "Title",        "Subject", "Keywords",
                                             "Creator", "Producer", "CreationDate", "ModDate"};
}

void TPavona::GetInformation(int32_t index, std::u16string& out) {
  error_.Clear();
  out.clear();
  try {
    if (index == 0) out = AsciiToWide(selected_->GetPDFVersion());
    else if (index >= 1 && index <= 8) out = selected_->GetInfo(kInformationKeys[index]);
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    out.clear();
  }
}

int32_t TPavona::SetInformation(int32_t index, std::u16string_view text) {
  error_.Clear();
  if (index < 0 || index > 6) return failWith(pvlErrInformationIndex);
  try {
    if (index == 0) {
      static const char16_t* kVersions[] = {u"1.0", u"1.1", u"1.2", u"1.3", u"1.4", u"1.5", u"1.6", u"1.7"};
      for (const char16_t* v : kVersions)
        if (text == v) selected_->SetPDFVersion(WideToUTF8(text));
    } else {
      selected_->SetInfo(kInformationKeys[index], text);
    }
    std::u16string back;
    GetInformation(index, back);
    return back == text ? 1 : 0;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}

// ---------------------------------------------------------------------------
// Security

int32_t TPavona::IsEncrypted() {
  try {
    return selected_->GetEncryptionStatus();
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 2;
  }
}

int32_t TPavona::EncodePermissions(int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6,
                                   int32_t p7, int32_t p8) {
  const int32_t p[8] = {p1, p2, p3, p4, p5, p6, p7, p8};
  int32_t bits = 0;
  for (int i = 0; i < 8; ++i)
    if (p[i] == 1) bits |= 1 << i;
  return bits | ((bits ^ 0xCD) << 16);
}

int32_t TPavona::Encrypt(std::u16string_view ownerPassword, std::u16string_view userPassword, int32_t strength,
                         int32_t permissions) {
  error_.Clear();
  if (IsEncrypted() != 0) return failWith(pvlErrAlreadyEncrypted);
  if (strength < 0 || strength > 3) return failWith(pvlErrStrength);
  if (((permissions & 0xFF) ^ 0xCD) != ((permissions >> 16) & 0xFF)) return failWith(pvlErrPermissionCheck);
  const uint8_t setA = static_cast<uint8_t>(permissions & 0x0F);
  const uint8_t setB = static_cast<uint8_t>((permissions >> 4) & 0x0F);
  try {
    // RC4 and AES-128 passwords are PDFDocEncoding bytes: a character
    // outside it would be dropped and the password silently changed.
    if (strength <= 2) {
      for (std::u16string_view pw : {ownerPassword, userPassword})
        for (char16_t unit : pw)
          if (UnicodeToPDFDoc(unit) < 0) return failWith(pvlErrEncryptionSetup);
    } else {
      SASLPrepPassword(ownerPassword);
      SASLPrepPassword(userPassword);
    }
    if (!selected_->SetEncryption(ownerPassword, userPassword, setB, setA, strength)) {
      return failWith(pvlErrEncryptionSetup);
    }
  } catch (const std::exception& e) {
    return failWith(pvlErrEncryptionSetup, e.what());
  }
  // The version rises only with an encryption that was set up.
  if (strength == 2) selected_->RaisePDFVersion("1.6");
  if (strength == 3) selected_->RaisePDFVersion("1.7");
  return 1;
}

int32_t TPavona::Decrypt() {
  error_.Clear();
  try {
    if (!selected_->Decrypt()) return 0;
    const int32_t page = SelectedPage();
    SelectPage(page >= 1 ? page : 1);
    return 1;
  } catch (const std::exception& e) {
    RecordFailure(error_, e, pvlErrUnreadable);
    return 0;
  }
}
