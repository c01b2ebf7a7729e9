// pvl: the engine's developer driver. Opens a PDF file with the document
// layer and lists or extracts what it reads, for tests and benchmarks.
//
//   pvl xref FILE [--password P]          object table, one entry a line
//   pvl object FILE NUM [--password P]    one object as PDF syntax (decrypted)
//   pvl stream FILE NUM [--password P] [--raw]
//                                         a stream's decoded (or only decrypted) bytes
//   pvl objects FILE [--password P]       loads every object and stream (benchmark)
//   pvl dump FILE [--password P]          every object for comparisons: a line
//                                         "NUM GEN KIND STATUS FILTERS LENGTH", then
//                                         LENGTH bytes (decoded stream data or the
//                                         object's text) and a line feed
//   pvl pages FILE [--password P]         opens the document as the reader does and
//                                         lists its pages: the count, then a line
//                                         "N OBJ GEN MEDIABOX CROPBOX ROTATE" per page
//   pvl npages FILE [--password P]        only the page count
//   pvl save FILE OUT [--password P]      opens the document and saves it as a full
//                                         rewrite (re-encrypted when it is encrypted)
//
// Exit status: 0 success, 1 wrong password, 2 unreadable file (or object),
// 3 wrong usage; a one-line reason on standard error.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"
#include "pvlCommands.h"

namespace pvl {

std::string Options::Value(const std::string& name, const std::string& fallback) const {
  auto it = named.find(name);
  return it == named.end() ? fallback : it->second;
}

long Options::Integer(const std::string& name, long fallback, long low, long high) const {
  if (!Has(name)) return fallback;
  const std::string text = Value(name);
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < low || v > high)
    throw Failure{kExitUsage, "--" + name + " needs a whole number from " + std::to_string(low) + " to " +
                                  std::to_string(high)};
  return v;
}

double Options::Number(const std::string& name, double fallback, double low, double high) const {
  if (!Has(name)) return fallback;
  const std::string text = Value(name);
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || !(v >= low && v <= high))
    throw Failure{kExitUsage, "--" + name + " needs a number from " + std::to_string(low) + " to " +
                                  std::to_string(high)};
  return v;
}

namespace {
struct TCommandEntry {
  std::string usage;
  Command command;
};
std::map<std::string, TCommandEntry>& commandTable() {
  static std::map<std::string, TCommandEntry> table;
  return table;
}
}  // namespace

bool RegisterCommand(const std::string& name, const std::string& usage, Command command) {
  commandTable()[name] = TCommandEntry{usage, std::move(command)};
  return true;
}

void WriteOut(const std::string& bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    throw Failure{kExitUnreadable, "cannot write the output"};
  }
}

void RefuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs) {
  if (const std::string* input = FindSameFile(output, inputs))
    throw Failure{kExitUsage, "the output " + output + " is the input " + *input + "; nothing was written"};
}

}  // namespace pvl

namespace {

using namespace pvl;

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--raw") {
      o.raw = true;
    } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
      std::string name = a.substr(2), value;
      const size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
      } else {
        if (i + 1 >= argc) throw Failure{kExitUsage, a + " needs a value"};
        value = argv[++i];
      }
      if (name == "password")
        o.password = value;
      else
        o.named[name] = value;
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

// Opens the file as the reader opens documents (page tree included).
void loadDocument(TPDFDocument& doc, const std::string& path, const std::string& password) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(path);
  } catch (const std::exception& e) {
    throw Failure{kExitUnreadable, std::string("cannot read the file: ") + e.what()};
  }
  switch (doc.LoadFromString(std::move(bytes), UTF8ToWide(password))) {
    case TPDFDocument::kLoadOk:
      return;
    case TPDFDocument::kLoadWrongPassword:
      throw Failure{kExitPassword, "wrong password"};
    default:
      throw Failure{kExitUnreadable, "the document cannot be opened: " + doc.GetFailure()};
  }
}

// Opens the file as the reader opens documents (header or a first object,
// cross-reference data or the repair by scanning, the page tree, the
// password: empty first, then the given one), with its objects as the file
// stores them: what opening prepared for drawing is read again from the
// file. A file the document refuses (no page tree found, even by scanning)
// still has objects to list: those its cross-reference data give, read with
// the same header rule, repair of the chain and password. Returns the
// records of the file, in table order; those opening added are left out.
std::vector<TPDFIndObj*> openDocument(TPDFDocument& doc, const std::string& path, const std::string& password) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(path);
  } catch (const std::exception& e) {
    throw Failure{kExitUnreadable, std::string("cannot read the file: ") + e.what()};
  }
  const std::u16string given = UTF8ToWide(password);
  int32_t result = doc.LoadFromString(bytes, given);
  if (result == TPDFDocument::kLoadUnreadable) {
    const std::string why = doc.GetFailure();
    doc.SetFileText(std::move(bytes));
    if (!doc.ReadHeader() || !doc.ReadXRef()) throw Failure{kExitUnreadable, "the document cannot be opened: " + why};
    doc.BuildObjectTable();
    if (doc.GetTrailer()->GetValue("Encrypt")) {
      doc.Authenticate(u"");
      if (!given.empty()) doc.Authenticate(given);
      const TPDFEncryption& e = doc.GetEncryption();
      if (!e.UserAuthenticated && !e.OwnerAuthenticated) result = TPDFDocument::kLoadWrongPassword;
    }
  }
  if (result == TPDFDocument::kLoadWrongPassword) throw Failure{kExitPassword, "wrong password"};
  const std::vector<int32_t> added = doc.KeepObjectsAsStored();
  std::vector<TPDFIndObj*> records;
  for (int32_t i = 0; i < doc.GetObjectCount(); ++i) {
    TPDFIndObj* record = doc.GetIndObj(i);
    if (!std::binary_search(added.begin(), added.end(), record->Number)) records.push_back(record);
  }
  return records;
}

int32_t objectNumberArg(const std::string& text) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < 0 || v > kMaxObjectNumber) throw Failure{kExitUsage, "bad object number " + text};
  return static_cast<int32_t>(v);
}

TPDFObject* objectOf(const std::vector<TPDFIndObj*>& records, int32_t number) {
  auto found = std::find_if(records.begin(), records.end(), [&](TPDFIndObj* r) { return r->Number == number; });
  TPDFIndObj* record = found == records.end() ? nullptr : (*found)->Document->FindObject(number);
  if (!record) throw Failure{kExitUnreadable, "object " + std::to_string(number) + " is not in the file"};
  TPDFObject* obj = record->GetObject();
  if (!obj) throw Failure{kExitUnreadable, "object " + std::to_string(number) + " cannot be read"};
  return obj;
}

void writeOut(std::string_view bytes) { WriteOut(std::string(bytes)); }

int cmdXRef(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl xref FILE [--password P]"};
  TPDFDocument doc;
  const std::vector<TPDFIndObj*> records = openDocument(doc, o.positional[0], o.password);
  // The offset the cross-reference data give, also where it lies outside
  // the file (the record then has no slice of the file).
  std::map<int32_t, const TPDFXRefEntry*> newest;
  for (const TPDFXRefEntry& e : doc.GetEntries())
    if (e.Used) newest.emplace(e.Number, &e);  // the newest definition comes first
  std::map<int32_t, std::string> lines;
  for (const TPDFIndObj* r : records) {
    std::string line = std::to_string(r->Number) + " " + std::to_string(r->Generation);
    if (r->Compressed) {
      line += " o " + std::to_string(r->StreamNumber) + " " + std::to_string(r->StreamIndex);
    } else {
      const auto entry = newest.find(r->Number);
      const bool outside = r->Length == 0 && entry != newest.end() && !entry->second->Compressed;
      const int64_t offset = outside ? entry->second->Offset : r->Offset;
      line += " n " + std::to_string(offset);
    }
    lines[r->Number] = line;
  }
  for (const TPDFXRefEntry& e : doc.GetEntries()) {
    if (!e.Used && e.Number > 0 && !lines.count(e.Number)) {
      lines[e.Number] = std::to_string(e.Number) + " " + std::to_string(e.Generation) + " f";
    }
  }
  std::string out;
  for (const auto& [number, line] : lines) out += line + "\n";
  writeOut(out);
  return kExitOk;
}

int cmdObject(const Options& o) {
  if (o.positional.size() != 2) throw Failure{kExitUsage, "usage: pvl object FILE NUM [--password P]"};
  TPDFDocument doc;
  const auto records = openDocument(doc, o.positional[0], o.password);
  TPDFObject* obj = objectOf(records, objectNumberArg(o.positional[1]));
  writeOut(obj->WriteText() + "\n");
  return kExitOk;
}

int cmdStream(const Options& o) {
  if (o.positional.size() != 2) throw Failure{kExitUsage, "usage: pvl stream FILE NUM [--password P] [--raw]"};
  TPDFDocument doc;
  const auto records = openDocument(doc, o.positional[0], o.password);
  int32_t number = objectNumberArg(o.positional[1]);
  TPDFStream* stream = PDFAsStream(objectOf(records, number));
  if (!stream) throw Failure{kExitUnreadable, "object " + std::to_string(number) + " is not a stream"};
  if (o.raw) {
    writeOut(stream->GetData());
    return kExitOk;
  }
  TPDFDecodeStatus status = TPDFDecodeStatus::dsOk;
  std::string data = stream->GetDecodedData(&status);
  writeOut(data);
  switch (status) {
    case TPDFDecodeStatus::dsOk:
      return kExitOk;
    case TPDFDecodeStatus::dsDamaged:
      throw Failure{kExitUnreadable, "stream data damaged; the bytes before the damage were written"};
    case TPDFDecodeStatus::dsTooLarge:
      throw Failure{kExitUnreadable, "decoded stream data too large"};
    default:
      throw Failure{kExitUnreadable, "stream data cannot be decoded"};
  }
}

int cmdObjects(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl objects FILE [--password P]"};
  TPDFDocument doc;
  size_t objects = 0, streams = 0, nulls = 0, decodedBytes = 0;
  for (TPDFIndObj* record : openDocument(doc, o.positional[0], o.password)) {
    TPDFObject* obj = record->GetObject();
    ++objects;
    if (!obj || obj->GetKind() == pdfkNull) ++nulls;
    if (TPDFStream* s = PDFAsStream(obj)) {
      ++streams;
      decodedBytes += s->GetDecodedData().size();
    }
  }
  std::printf("%zu objects, %zu streams (%zu bytes decoded), %zu null\n", objects, streams, decodedBytes, nulls);
  for (const std::string& warning : doc.GetWarnings()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
  return kExitOk;
}

std::string filterNames(TPDFStream* stream) {
  TPDFDictionary* dict = stream->GetDictionary();
  TPDFObject* filter = dict ? dict->GetValue("Filter", true) : nullptr;
  std::string out;
  auto add = [&](TPDFObject* f) {
    TPDFName* n = PDFAsName(PDFResolve(f));
    if (!out.empty()) out += ",";
    out += n ? n->GetValue() : "?";
  };
  if (TPDFArray* list = PDFAsArray(filter)) {
    for (TPDFObject* f : list->Items()) add(f);
  } else if (filter) {
    add(filter);
  }
  return out.empty() ? "-" : out;
}

int cmdDump(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl dump FILE [--password P]"};
  TPDFDocument doc;
  std::map<int32_t, TPDFIndObj*> records;
  for (TPDFIndObj* record : openDocument(doc, o.positional[0], o.password)) records[record->Number] = record;
  for (const auto& [number, record] : records) {
    TPDFObject* obj = record->GetObject();
    std::string kind = "object", status = "-", filters = "-", payload;
    if (!obj || obj->GetKind() == pdfkNull) {
      kind = "null";
    } else if (TPDFStream* stream = PDFAsStream(obj)) {
      kind = "stream";
      filters = filterNames(stream);
      TPDFDecodeStatus s = TPDFDecodeStatus::dsOk;
      payload = stream->GetDecodedData(&s);
      status = s == TPDFDecodeStatus::dsOk         ? "ok"
               : s == TPDFDecodeStatus::dsDamaged  ? "damaged"
               : s == TPDFDecodeStatus::dsTooLarge ? "toolarge"
                                                   : "failed";
    } else {
      payload = obj->WriteText();
    }
    std::string head = std::to_string(number) + " " + std::to_string(record->Generation) + " " + kind + " " + status +
                       " " + filters + " " + std::to_string(payload.size()) + "\n";
    writeOut(head);
    writeOut(payload);
    writeOut("\n");
  }
  return kExitOk;
}

std::string boxText(TPDFDictionary* page, const char* key) {
  auto box = TPDFPageTree::GetPageBox(page, key);
  if (!box) return "-";
  std::string out;
  for (double v : *box) {
    if (!out.empty()) out += ",";
    out += FormatPDFNumber(4, v);
  }
  return out;
}

int cmdPages(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl pages FILE [--password P]"};
  TPDFDocument doc;
  loadDocument(doc, o.positional[0], o.password);
  TPDFPageTree* tree = doc.GetPageTree();
  const int32_t count = tree->GetPageCount();
  std::string out = std::to_string(count) + "\n";
  for (int32_t n = 1; n <= count; ++n) {
    TPDFDictionary* page = tree->FindPage(n);
    out += std::to_string(n) + " ";
    if (!page) {
      out += "missing\n";
      continue;
    }
    out += std::to_string(page->GetObjectNumber()) + " " + std::to_string(page->GetGeneration()) + " " +
           boxText(page, "MediaBox") + " " + boxText(page, "CropBox") + " " +
           std::to_string(TPDFPageTree::GetPageRotate(page)) + "\n";
  }
  writeOut(out);
  return kExitOk;
}

int cmdNPages(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl npages FILE [--password P]"};
  TPDFDocument doc;
  loadDocument(doc, o.positional[0], o.password);
  writeOut(std::to_string(doc.GetPageTree()->GetPageCount()) + "\n");
  return kExitOk;
}

int cmdSave(const Options& o) {
  if (o.positional.size() != 2) throw Failure{kExitUsage, "usage: pvl save FILE OUT [--password P]"};
  RefuseOutputOverInput(o.positional[1], {o.positional[0]});
  TPDFDocument doc;
  loadDocument(doc, o.positional[0], o.password);
  if (!doc.SaveToFile(NativePathToWide(o.positional[1])))
    throw Failure{kExitUnreadable, "the document cannot be saved: " + doc.GetFailure()};
  return kExitOk;
}

const bool kEngineCommands[] = {
    RegisterCommand("xref", "xref FILE [--password P]", cmdXRef),
    RegisterCommand("object", "object FILE NUM [--password P]", cmdObject),
    RegisterCommand("stream", "stream FILE NUM [--password P] [--raw]", cmdStream),
    RegisterCommand("objects", "objects FILE [--password P]", cmdObjects),
    RegisterCommand("dump", "dump FILE [--password P]", cmdDump),
    RegisterCommand("pages", "pages FILE [--password P]", cmdPages),
    RegisterCommand("npages", "npages FILE [--password P]", cmdNPages),
    RegisterCommand("save", "save FILE OUT [--password P]", cmdSave),
};

}  // namespace

int main(int argc, char** argv) {
  auto& table = pvl::commandTable();
  if (argc < 2 || !table.count(argv[1])) {
    std::string usage = "usage:\n";
    for (const auto& [name, entry] : table) usage += "  pvl " + entry.usage + "\n";
    std::fputs(usage.c_str(), stderr);
    return kExitUsage;
  }
  try {
    return table.at(argv[1]).command(parseOptions(argc, argv));
  } catch (const Failure& f) {
    std::fprintf(stderr, "pvl: %s\n", f.reason.c_str());
    return f.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pvl: unreadable file: %s\n", e.what());
    return kExitUnreadable;
  }
}
