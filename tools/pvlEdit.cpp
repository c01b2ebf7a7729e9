// pvl commands that edit pages, through the facade as the program does:
//
//   pvl insert FILE COUNT AT --out OUT   COUNT blank pages (the size of page
//                                        AT, or of the last page) that
//                                        become pages AT .. AT + COUNT - 1
//   pvl delete FILE RANGE --out OUT      removes pages RANGE ("N", "A-B" or
//                                        "A-" for A to the last page)
//   pvl copy SRC RANGE DST --out OUT     DST with pages RANGE of SRC after
//                                        its own (parts separated by
//                                        commas: "2,2" copies page 2 twice)
//   pvl stamp FILE TEXT --out OUT [--size PT] [--x X] [--y Y]
//          [--font NAME] [--embed 0|1]   draws TEXT (UTF-8) on every page,
//                                        X, Y from the bottom left corner
//                                        (default 36, 36), in Helvetica or
//                                        the installed TrueType font NAME
//                                        (a code page may follow the name,
//                                        e.g. "DejaVu Sans {1251}")
//
// Exit status: 0 success, 1 wrong password, 2 unreadable file, 3 wrong usage,
// a refused edit, text the font cannot show, or a failed save.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

void loadInto(TPavona& facade, const Options& o) {
  LoadOrFail(facade, o.positional[0], o.password);
}

void saveTo(TPavona& facade, const std::string& out) {
  if (!facade.SaveToFile(NativePathToWide(out)))
    throw Failure{kExitUsage, "cannot write " + out + ": " + CauseOf(facade)};
}

long wholeNumber(const std::string& text, long low, long high, const std::string& what) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < low || v > high) throw Failure{kExitUsage, "bad " + what + " " + text};
  return v;
}

int cmdInsert(const Options& o) {
  if (o.positional.size() != 3 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl insert FILE COUNT AT --out OUT"};
  const long count = wholeNumber(o.positional[1], 1, 9999, "page count");
  const long at = wholeNumber(o.positional[2], 1, 1000000000, "position");
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  loadInto(facade, o);
  const int32_t pages = facade.PageCount();
  if (at > pages + 1)
    throw Failure{kExitUsage,
                  "position " + std::to_string(at) + " is beyond the end (" + std::to_string(pages) + " pages)"};
  // The new pages take the size of the page they are put before.
  facade.SelectPage(static_cast<int32_t>(at <= pages ? at : pages));
  if (!facade.InsertPages(static_cast<int32_t>(at), static_cast<int32_t>(count)))
    throw Failure{kExitUsage, "the pages could not be inserted"};
  saveTo(facade, o.Value("out"));
  return kExitOk;
}

// "N", "A-B" or "A-" (A to the last page) of a document of pages pages.
std::pair<long, long> pageRange(const std::string& range, int32_t pages) {
  const size_t dash = range.find('-');
  long first = 0, last = 0;
  if (dash == std::string::npos) {
    first = last = wholeNumber(range, 1, 1000000000, "page range");
  } else {
    first = wholeNumber(range.substr(0, dash), 1, 1000000000, "page range");
    last = dash + 1 == range.size() ? pages : wholeNumber(range.substr(dash + 1), 1, 1000000000, "page range");
  }
  if (first > last) throw Failure{kExitUsage, "bad page range " + range};
  if (first > pages) throw Failure{kExitUsage, "the document has " + std::to_string(pages) + " pages"};
  return {first, std::min<long>(last, pages)};
}

// Appends pages of SRC to DST: each comma-separated part of RANGE in turn,
// so "2,2" copies page 2 twice.
int cmdCopy(const Options& o) {
  if (o.positional.size() != 3 || !o.Has("out"))
    throw Failure{kExitUsage, "usage: pvl copy SRC RANGE DST --out OUT"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0], o.positional[2]});
  TPavona facade;
  loadInto(facade, o);
  const int32_t source = facade.SelectedDocument();
  LoadOrFail(facade, o.positional[2], o.password);
  const int32_t target = facade.SelectedDocument();
  facade.SelectDocument(source);
  const int32_t pages = facade.PageCount();
  std::string ranges = o.positional[1];
  for (size_t start = 0; start <= ranges.size();) {
    size_t comma = ranges.find(',', start);
    if (comma == std::string::npos) comma = ranges.size();
    const auto [first, last] = pageRange(ranges.substr(start, comma - start), pages);
    facade.SelectDocument(source);
    if (!facade.ExtractPages(static_cast<int32_t>(first), static_cast<int32_t>(last - first + 1)))
      throw Failure{kExitUsage, "the pages could not be taken from " + o.positional[0]};
    const int32_t part = facade.SelectedDocument();
    facade.SelectDocument(target);
    if (!facade.MergeDocument(part)) throw Failure{kExitUsage, "the pages could not be appended"};
    start = comma + 1;
  }
  facade.SelectDocument(target);
  saveTo(facade, o.Value("out"));
  return kExitOk;
}

int cmdDelete(const Options& o) {
  if (o.positional.size() != 2 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl delete FILE RANGE --out OUT"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  loadInto(facade, o);
  const int32_t pages = facade.PageCount();
  const std::string& range = o.positional[1];
  const size_t dash = range.find('-');
  long first = 0, last = 0;
  if (dash == std::string::npos) {
    first = last = wholeNumber(range, 1, 1000000000, "page range");
  } else {
    first = wholeNumber(range.substr(0, dash), 1, 1000000000, "page range");
    last = dash + 1 == range.size() ? pages : wholeNumber(range.substr(dash + 1), 1, 1000000000, "page range");
  }
  if (first > last) throw Failure{kExitUsage, "bad page range " + range};
  if (first > pages) throw Failure{kExitUsage, "the document has " + std::to_string(pages) + " pages"};
  if (last > pages) last = pages;
  if (!facade.DeletePages(static_cast<int32_t>(first), static_cast<int32_t>(last - first + 1))) {
    if (facade.LastErrorCode() == TPavona::pvlErrEveryPage)
      throw Failure{kExitUsage, range + " names every page; a document keeps at least one page"};
    throw Failure{kExitUsage, "the pages could not be deleted"};
  }
  saveTo(facade, o.Value("out"));
  return kExitOk;
}

int cmdStamp(const Options& o) {
  if (o.positional.size() != 2 || !o.Has("out"))
    throw Failure{kExitUsage, "usage: pvl stamp FILE TEXT --out OUT [--size PT] [--x X] [--y Y] [--font NAME]"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  loadInto(facade, o);
  const std::u16string text = UTF8ToWide(o.positional[1]);
  if (text.empty()) throw Failure{kExitUsage, "no text to stamp"};
  const double size = o.Number("size", 24, 1, 1000);
  const double x = o.Number("x", 36, -1e6, 1e6), y = o.Number("y", 36, -1e6, 1e6);
  int32_t font = 0;
  if (o.Has("font")) {
    font = facade.AddTrueTypeFont(UTF8ToWide(o.Value("font")), o.Integer("embed", 1, 0, 1) ? 1 : 0);
    if (!font) throw Failure{kExitUsage, "the font " + o.Value("font") + " cannot be used"};
  } else {
    font = facade.AddStandardFont(4);
  }
  for (int32_t page = 1; page <= facade.PageCount(); ++page) {
    if (!facade.SelectPage(page)) throw Failure{kExitUsage, "page " + std::to_string(page) + " cannot be edited"};
    facade.SelectFont(font);
    facade.SetTextSize(size);
    if (!facade.DrawText(text, x, y)) {
      if (facade.LastErrorCode() == TPavona::pvlErrUnencodableText)
        throw Failure{kExitUsage, "the font cannot show every character of the text; choose one with --font"};
      throw Failure{kExitUsage, "the text could not be drawn on page " + std::to_string(page)};
    }
  }
  saveTo(facade, o.Value("out"));
  return kExitOk;
}

const bool kEditCommands[] = {
    RegisterCommand("insert", "insert FILE COUNT AT --out OUT", cmdInsert),
    RegisterCommand("delete", "delete FILE RANGE --out OUT", cmdDelete),
    RegisterCommand("copy", "copy SRC RANGE DST --out OUT", cmdCopy),
    RegisterCommand("stamp", "stamp FILE TEXT --out OUT [--size PT] [--x X] [--y Y] [--font NAME]", cmdStamp),
};

}  // namespace
