// Embedded files: /Filespec dictionaries made from files on disk, registered
// in (and removed from) the EmbeddedFiles name tree, and the properties and
// content of the n-th attached file.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "document/PavonaDocument.h"
#include "document/PavonaNameTree.h"

namespace {

// A file time as local date-time.
TDateTime localDateTime(time_t t) {
  struct tm parts {};
  localtime_r(&t, &parts);
  return EncodeDateTime(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                        std::min(parts.tm_sec, 59), 0);
}

}  // namespace

TPDFIndRef* TPDFDocument::CreateEmbeddedFile(std::u16string_view path, std::string_view mimeType) {
  std::unique_ptr<TPavonaWideFileStream> file;
  try {
    file = CreateWideFileStream(path, fmOpenRead | fmShareDenyWrite);
  } catch (const std::exception& e) {
    failure_ = e.what();
    return nullptr;
  }
  // Times of the file: its birth where the file system records one, else
  // the time of its last status change.
  const std::string native = WidePathToNative(path);
  time_t created = 0, modified = 0;
  struct statx sx {};
  if (statx(AT_FDCWD, native.c_str(), 0, STATX_BTIME | STATX_MTIME | STATX_CTIME, &sx) == 0) {
    modified = static_cast<time_t>(sx.stx_mtime.tv_sec);
    created = (sx.stx_mask & STATX_BTIME) ? static_cast<time_t>(sx.stx_btime.tv_sec)
                                          : static_cast<time_t>(sx.stx_ctime.tv_sec);
  }
  const int64_t size = file->GetSize();

  TPDFStream* stream = pool_->NewStream("", false);
  stream->LoadFromFile(*file, true);
  TPDFDictionary* params = pool_->NewDictionary();
  params->SetValue("Size", pool_->NewNumeric(static_cast<double>(size)));
  params->SetValue("CreationDate", pool_->NewString(FormatPDFDate(localDateTime(created))));
  params->SetValue("ModDate", pool_->NewString(FormatPDFDate(localDateTime(modified))));
  stream->GetDictionary()->SetValue("Params", params);
  stream->GetDictionary()->SetValue("Subtype", pool_->NewName(mimeType));

  TPDFDictionary* spec = pool_->NewDictionary();
  TPDFIndRef* specRef = AddIndirectRef(spec);
  TPDFIndRef* streamRef = AddIndirectRef(stream);
  spec->SetValue("Type", pool_->KeyName("Filespec"));
  // The file's name alone: the folders it came from are the user's own
  // business, and readers that save the attachment take this name as is.
  const std::u16string name = WideExtractFileName(path);
  spec->SetValue("UF", pool_->NewTextString(name));
  spec->SetValue("F", pool_->NewString(WideToAnsi(name)));
  TPDFDictionary* ef = pool_->NewDictionary();
  ef->SetValue("F", streamRef);
  spec->SetValue("EF", ef);
  return specRef;
}

TPDFNameTree* TPDFDocument::embeddedFilesTree(bool create) {
  TPDFDictionary* catalog = create ? GetRoot() : PDFAsDictionary(trailer_->GetValue("Root", true));
  if (!catalog) return nullptr;
  TPDFDictionary* names = PDFAsDictionary(catalog->GetValue("Names", true));
  if (!names) {
    if (!create) return nullptr;
    names = pool_->NewDictionary();
    catalog->SetValue("Names", names);
  }
  TPDFDictionary* files = PDFAsDictionary(names->GetValue("EmbeddedFiles", true));
  if (!files) {
    if (!create) return nullptr;
    files = pool_->NewDictionary();
    files->SetValue("Names", pool_->NewArray());
    names->SetValue("EmbeddedFiles", files);
  }
  embeddedTree_ = std::make_unique<TPDFNameTree>(pool_.get(), files);
  return embeddedTree_.get();
}

bool TPDFDocument::RegisterEmbeddedFile(std::string_view name, TPDFIndRef* fileSpec) {
  if (!fileSpec) return false;
  TPDFNameTree* tree = embeddedFilesTree(true);
  if (!tree || tree->Contains(name)) return false;
  tree->Add(name, fileSpec);
  return true;
}

int32_t TPDFDocument::GetEmbeddedFileCount() {
  TPDFNameTree* tree = embeddedFilesTree(false);
  return tree ? tree->GetCount() : 0;
}

TPDFIndRef* TPDFDocument::GetEmbeddedFileSpec(int32_t n) {
  TPDFNameTree* tree = embeddedFilesTree(false);
  if (!tree || n < 1 || n > tree->GetCount()) return nullptr;
  return tree->GetValue(tree->GetName(n));
}

TPDFStream* TPDFDocument::embeddedStream(int32_t n, TPDFDictionary** spec, std::string* key) {
  TPDFNameTree* tree = embeddedFilesTree(false);
  if (!tree || n < 1 || n > tree->GetCount()) return nullptr;
  const std::string name = tree->GetName(n);
  if (key) *key = name;
  // A /Filespec dictionary written directly into the tree (not as a
  // reference of its own) is read as well.
  TPDFIndRef* value = tree->GetValue(name);
  TPDFDictionary* dict = value ? PDFAsDictionary(value->Resolve()) : nullptr;
  if (!dict) dict = PDFAsDictionary(PDFResolve(NameTreeLookup(GetNamesTree("EmbeddedFiles"), name)));
  if (spec) *spec = dict;
  if (!dict) return nullptr;
  TPDFDictionary* ef = PDFAsDictionary(dict->GetValue("EF", true));
  return ef ? PDFAsStream(ef->GetValue("F", true)) : nullptr;
}

std::u16string TPDFDocument::GetEmbeddedFileString(int32_t n, int32_t kind) {
  TPDFDictionary* spec = nullptr;
  std::string key;
  TPDFStream* stream = embeddedStream(n, &spec, &key);
  if (kind == 5) return key.empty() && !spec ? std::u16string() : PDFTextToWide(key);
  if (!spec) return {};
  auto text = [](TPDFObject* obj) {
    TPDFString* s = PDFAsString(obj);
    return s ? s->GetText() : std::u16string();
  };
  switch (kind) {
    case 7:
      return text(spec->GetValue("Desc", true));
    case 1:
      if (TPDFString* uf = PDFAsString(spec->GetValue("UF", true))) return uf->GetText();
      if (TPDFString* f = PDFAsString(spec->GetValue("F", true))) return AnsiToWideBytes(f->GetValue());
      return {};
    default:
      break;
  }
  if (!stream || !stream->GetDictionary()) return {};
  TPDFDictionary* dict = stream->GetDictionary();
  TPDFDictionary* params = PDFAsDictionary(dict->GetValue("Params", true));
  switch (kind) {
    case 2:
      return AsciiToWide(dict->GetNameValue("Subtype"));
    case 3:
      return params ? text(params->GetValue("CreationDate", true)) : std::u16string();
    case 4:
      return params ? text(params->GetValue("ModDate", true)) : std::u16string();
    default:
      return {};
  }
}

int64_t TPDFDocument::GetEmbeddedFileInt(int32_t n, int32_t kind) {
  if (kind != 5 && kind != 6) return 0;
  TPDFStream* stream = embeddedStream(n, nullptr, nullptr);
  TPDFDictionary* params =
      stream && stream->GetDictionary() ? PDFAsDictionary(stream->GetDictionary()->GetValue("Params", true)) : nullptr;
  return params ? params->GetInteger("Size", 0) : 0;
}

std::string TPDFDocument::GetEmbeddedFileContent(int32_t n) {
  TPDFStream* stream = embeddedStream(n, nullptr, nullptr);
  return stream ? stream->GetDecodedData() : std::string();
}

bool TPDFDocument::RemoveEmbeddedFile(int32_t n) {
  TPDFNameTree* tree = embeddedFilesTree(false);
  if (!tree || n < 1 || n > tree->GetCount()) return false;
  const std::string name = tree->GetName(n);
  if (TPDFStream* stream = embeddedStream(n, nullptr, nullptr)) stream->SetData("", false);
  // The tree object may have been remade by the lookup above.
  tree = embeddedFilesTree(false);
  return tree && tree->Delete(name);
}
