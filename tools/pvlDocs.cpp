// pvl commands on whole documents, through the facade:
//
//   pvl merge A B... --out OUT        the pages of every file in order
//   pvl split FILE RANGES --out PATTERN
//                                     one file per page that RANGES names
//                                     ("1-3,7"); "%p" in PATTERN is the page
//                                     number (without it, the number goes
//                                     before the extension)
//   pvl encrypt FILE --user U --owner O --strength 0-3 --out OUT
//                                     0 RC4 40, 1 RC4 128, 2 AES-128,
//                                     3 AES-256; every permission granted
//                                     unless --deny print,copy,modify,
//                                     annotate,fill,extract,assemble,hiprint
//   pvl decrypt FILE --password P --out OUT
//   pvl outline FILE                  the bookmarks, indented by level, with
//                                     their page numbers
//   pvl attach FILE PATH --out OUT [--name NAME] [--mime TYPE]
//   pvl detach FILE NAME --out PATH   NAME is the attachment's name or number
//
// Exit status: 0 success, 1 wrong password, 2 unreadable or unsuitable
// input, 3 wrong usage or an output that could not be written.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

std::string describe(int32_t code) {
  switch (code) {
    case pvlErrUnreadable: return "an input cannot be opened or read";
    case pvlErrCannotDelete: return "the output exists and cannot be replaced";
    case pvlErrCannotWrite: return "the output cannot be written";
    case pvlErrWrongPassword: return "wrong password";
    case pvlErrNoXRef: return "an input is not a readable PDF file (no header or cross-reference data)";
    case pvlErrEncryptedInput:
      return "an input needs a password (decrypt it first)";
    case pvlErrNoPages: return "no pages selected";
    case pvlErrBadArgument: return "the output must not be one of the inputs";
    case pvlErrStrength: return "encryption strength outside 0..3";
    case pvlErrAlreadyEncrypted: return "the document is encrypted already";
    case pvlErrEncryptionSetup: return "encryption could not be set up (a password character the method cannot hold?)";
    default: return "failed (code " + std::to_string(code) + ")";
  }
}

int statusOf(int32_t code) {
  switch (code) {
    case pvlErrWrongPassword: return kExitPassword;
    case pvlErrCannotDelete:
    case pvlErrCannotWrite:
    case pvlErrBadArgument:
    case pvlErrSaveFailed: return kExitUsage;
    default: return kExitUnreadable;
  }
}

[[noreturn]] void fail(const TPavona& facade, const std::string& what) {
  const int32_t code = facade.LastErrorCode();
  // The code's meaning in the words of this command, then the cause.
  const std::string meaning = describe(code), cause = facade.LastErrorMessage();
  throw Failure{statusOf(code), what + ": " + meaning + (cause.empty() || cause == meaning ? "" : " (" + cause + ")")};
}

void load(TPavona& facade, const std::string& path, const std::string& password) {
  LoadOrFail(facade, path, password);
}

void save(TPavona& facade, const std::string& out) {
  if (!facade.SaveToFile(NativePathToWide(out)))
    throw Failure{kExitUsage, "cannot write " + out + ": " + CauseOf(facade)};
}

std::string pageFileName(const std::string& pattern, int32_t page) {
  const std::string number = std::to_string(page);
  std::string out;
  bool replaced = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'p') {
      out += number;
      ++i;
      replaced = true;
    } else {
      out += pattern[i];
    }
  }
  if (replaced) return out;
  const size_t slash = pattern.rfind('/');
  const size_t dot = pattern.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
    return pattern.substr(0, dot) + number + pattern.substr(dot);
  return pattern + number;
}

int cmdMerge(const Options& o) {
  if (o.positional.size() < 2 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl merge A B... --out OUT"};
  RefuseOutputOverInput(o.Value("out"), o.positional);
  TPavona facade;
  for (const std::string& file : o.positional) facade.AddToFileList(u"merge", NativePathToWide(file));
  const int32_t merged = facade.MergeFileList(u"merge", NativePathToWide(o.Value("out")));
  if (merged != static_cast<int32_t>(o.positional.size())) {
    std::string what = "merge";
    if (merged >= 1 && merged < static_cast<int32_t>(o.positional.size()))
      what += " stopped at " + o.positional[size_t(merged)];
    fail(facade, what);
  }
  return kExitOk;
}

int cmdSplit(const Options& o) {
  if (o.positional.size() != 2 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl split FILE RANGES --out PATTERN"};
  TPavona facade;
  load(facade, o.positional[0], o.password);
  const int32_t count = facade.PageCount();
  std::vector<int32_t> pages;
  TPageRangeOptions options;
  options.strict = true;
  if (!ParsePageRanges(o.positional[1], 1, count, pages, options) || pages.empty())
    throw Failure{kExitUsage, "no pages of 1-" + std::to_string(count) + " in " + o.positional[1]};
  for (int32_t page : pages) RefuseOutputOverInput(pageFileName(o.Value("out"), page), {o.positional[0]});
  for (int32_t page : pages) {
    const std::string out = pageFileName(o.Value("out"), page);
    if (!facade.ExtractPageRangesToFile(NativePathToWide(o.positional[0]), AsciiToWide(std::to_string(page)),
                                        NativePathToWide(out)))
      fail(facade, "page " + std::to_string(page));
  }
  return kExitOk;
}

int cmdEncrypt(const Options& o) {
  if (o.positional.size() != 1 || !o.Has("out"))
    throw Failure{kExitUsage, "usage: pvl encrypt FILE --user U --owner O --strength 0-3 --out OUT"};
  const long strength = o.Integer("strength", 3, 0, 3);
  static const char* kNames[8] = {"print", "copy", "modify", "annotate", "fill", "extract", "assemble", "hiprint"};
  std::set<std::string> denied;
  std::stringstream list(o.Value("deny"));
  for (std::string item; std::getline(list, item, ',');) {
    if (item.empty()) continue;
    bool known = false;
    for (const char* name : kNames) known = known || item == name;
    if (!known) throw Failure{kExitUsage, "unknown permission " + item};
    denied.insert(item);
  }
  int32_t p[8];
  for (int i = 0; i < 8; ++i) p[i] = denied.count(kNames[i]) ? 0 : 1;
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  load(facade, o.positional[0], o.password);
  const int32_t code = facade.EncodePermissions(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
  if (!facade.Encrypt(UTF8ToWide(o.Value("owner")), UTF8ToWide(o.Value("user")), static_cast<int32_t>(strength), code))
    fail(facade, "encrypt");
  save(facade, o.Value("out"));
  return kExitOk;
}

int cmdDecrypt(const Options& o) {
  if (o.positional.size() != 1 || !o.Has("out"))
    throw Failure{kExitUsage, "usage: pvl decrypt FILE --password P --out OUT"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  load(facade, o.positional[0], o.password);
  if (facade.IsEncrypted() == 0) throw Failure{kExitUnreadable, o.positional[0] + " is not encrypted"};
  if (!facade.Decrypt()) throw Failure{kExitPassword, "decrypt: the password does not open the document"};
  save(facade, o.Value("out"));
  return kExitOk;
}

int cmdOutline(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl outline FILE"};
  TPavona facade;
  load(facade, o.positional[0], o.password);
  std::string out;
  // Depth-first, as the items are numbered; the level is the parent chain's length.
  const int32_t count = facade.OutlineCount();
  for (int32_t i = 1; i <= count; ++i) {
    const int32_t item = facade.GetOutlineHandle(i);
    if (!item) break;
    int level = 0;
    for (int32_t parent = facade.GetParentOutline(item); parent && level < 256; parent = facade.GetParentOutline(parent))
      ++level;
    std::u16string title;
    facade.GetOutlineTitle(item, title);
    out += std::string(size_t(level > 0 ? level - 1 : 0) * 2, ' ') + WideToUTF8(title);
    const int32_t page = facade.GetOutlinePage(item);
    if (page > 0) out += "\t" + std::to_string(page);
    out += "\n";
  }
  WriteOut(out);
  return kExitOk;
}

int cmdAttach(const Options& o) {
  if (o.positional.size() != 2 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl attach FILE PATH --out OUT"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0], o.positional[1]});
  TPavona facade;
  load(facade, o.positional[0], o.password);
  std::string name = o.Value("name");
  if (name.empty()) {
    name = o.positional[1];
    if (size_t slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
  }
  if (!facade.EmbedFile(UTF8ToWide(name), NativePathToWide(o.positional[1]), UTF8ToWide(o.Value("mime"))))
    throw Failure{kExitUnreadable, "cannot attach " + o.positional[1]};
  save(facade, o.Value("out"));
  return kExitOk;
}

int cmdDetach(const Options& o) {
  if (o.positional.size() != 2 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl detach FILE NAME --out PATH"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  load(facade, o.positional[0], o.password);
  const std::string& wanted = o.positional[1];
  int32_t found = 0;
  const int32_t count = facade.EmbeddedFileCount();
  for (int32_t i = 1; i <= count && !found; ++i) {
    std::u16string key, file;
    facade.GetEmbeddedFileString(i, 5, key);
    facade.GetEmbeddedFileString(i, 1, file);
    if (WideToUTF8(key) == wanted || WideToUTF8(file) == wanted) found = i;
  }
  if (!found && !wanted.empty() && wanted.find_first_not_of("0123456789") == std::string::npos) {
    const long n = std::strtol(wanted.c_str(), nullptr, 10);
    if (n >= 1 && n <= count) found = static_cast<int32_t>(n);
  }
  if (!found) throw Failure{kExitUnreadable, "no attachment " + wanted + " in " + o.positional[0]};
  std::string content;
  facade.GetEmbeddedFileContent(found, content);
  if (content.empty()) {
    // An empty attachment is still written, as an empty file.
    if (facade.SaveEmbeddedFileToFile(found, NativePathToWide(o.Value("out"))) == 0) {
      FILE* f = std::fopen(o.Value("out").c_str(), "rb");
      if (!f) throw Failure{kExitUsage, "cannot write " + o.Value("out")};
      std::fclose(f);
    }
    return kExitOk;
  }
  if (!facade.SaveEmbeddedFileToFile(found, NativePathToWide(o.Value("out"))))
    throw Failure{kExitUsage, "cannot write " + o.Value("out")};
  return kExitOk;
}

const bool kDocCommands[] = {
    RegisterCommand("merge", "merge A B... --out OUT", cmdMerge),
    RegisterCommand("split", "split FILE RANGES --out PATTERN", cmdSplit),
    RegisterCommand("encrypt", "encrypt FILE --user U --owner O --strength 0-3 [--deny LIST] --out OUT", cmdEncrypt),
    RegisterCommand("decrypt", "decrypt FILE --password P --out OUT", cmdDecrypt),
    RegisterCommand("outline", "outline FILE", cmdOutline),
    RegisterCommand("attach", "attach FILE PATH --out OUT [--name NAME] [--mime TYPE]", cmdAttach),
    RegisterCommand("detach", "detach FILE NAME --out PATH", cmdDetach),
};

}  // namespace
