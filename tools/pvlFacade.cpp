// pvl commands that drive the engine only through the facade, as the
// program does:
//
//   pvl render FILE PAGES [--dpi N] [--format png|bmp|jpg|gif|tif|eps|emf|wmf|raw]
//          [--backend cairo|gdi] --out PATH
//          raw: the page as recorded drawing (an EMF+ dual metafile)
//          PAGES is a number or a range such as 1-117; several pages need
//          "%p" in PATH (the page number goes there)
//   pvl text FILE PAGE [--option 0-8]
//   pvl info FILE     page count, sizes and document information
//
// Exit status: 0 success, 1 wrong password, 2 unreadable file, 3 a page
// failed (its reason on standard error) or wrong usage.
#include <cstdio>
#include <sstream>
#include <string>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

// Loads the file into the facade; failures as exit statuses.
void load(TPavona& facade, const Options& o) {
  LoadOrFail(facade, o.positional[0], o.password);
}

int32_t formatOf(const std::string& name) {
  static const std::pair<const char*, int32_t> kFormats[] = {
      {"bmp", pofBMP}, {"jpg", pofJPEG}, {"jpeg", pofJPEG}, {"wmf", pofWMF},   {"emf", pofEMF}, {"eps", pofEPS},
      {"png", pofPNG}, {"gif", pofGIF},  {"tif", pofTIFF},  {"tiff", pofTIFF}, {"raw", pofRaw}};
  for (const auto& [text, format] : kFormats)
    if (name == text) return format;
  throw Failure{kExitUsage, "unknown format " + name};
}

// "N" or "A-B" (1-based; B may be "" for the last page).
void pageRange(const std::string& text, int32_t count, int32_t& first, int32_t& last) {
  auto number = [&](const std::string& t, int32_t fallback) -> int32_t {
    if (t.empty()) return fallback;
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (*end || v < 1 || v > 1000000000) throw Failure{kExitUsage, "bad page range " + text};
    return static_cast<int32_t>(v);
  };
  const size_t dash = text.find('-');
  if (dash == std::string::npos) {
    first = last = number(text, 1);
  } else {
    first = number(text.substr(0, dash), 1);
    last = number(text.substr(dash + 1), count);
  }
  if (first > last) throw Failure{kExitUsage, "bad page range " + text};
  if (first > count) throw Failure{kExitPageFailed, "the document has " + std::to_string(count) + " pages"};
}

int cmdRender(const Options& o) {
  if (o.positional.size() != 2 || !o.Has("out"))
    throw Failure{kExitUsage, "usage: pvl render FILE PAGES [--dpi N] [--format F] --out PATH"};
  TPavona facade;
  load(facade, o);
  const double dpi = o.Number("dpi", 72, pvlMinRenderDPI, pvlMaxRenderDPI);
  // Bitmap pages are drawn anti-aliased through cairo, or with plain GDI.
  const std::string backend = o.Value("backend", "cairo");
  if (backend != "cairo" && backend != "gdi") throw Failure{kExitUsage, "--backend is cairo or gdi"};
  if (backend == "gdi") {
    facade.DrawingSettings().AntiAlias = 0;
    facade.DrawingSettings().DrawPagesWithGdiPlus = 0;
  }
  std::string out = o.Value("out");
  std::string extension = out.substr(out.find_last_of('.') == std::string::npos ? out.size() : out.find_last_of('.') + 1);
  const int32_t format = formatOf(o.Value("format", extension.empty() ? "png" : extension));
  int32_t first = 1, last = 1;
  pageRange(o.positional[1], facade.PageCount(), first, last);
  if (first != last && out.find("%p") == std::string::npos)
    throw Failure{kExitUsage, "several pages need %p in the output path"};
  last = std::min(last, facade.PageCount());
  auto pageName = [&out](int32_t page) {
    std::string name = out;
    for (size_t at; (at = name.find("%p")) != std::string::npos;) name.replace(at, 2, std::to_string(page));
    return name;
  };
  for (int32_t page = first; page <= last; ++page) RefuseOutputOverInput(pageName(page), {o.positional[0]});
  int status = kExitOk;
  for (int32_t page = first; page <= last; ++page) {
    // One page at a time, so every failed page is reported.
    const std::string name = pageName(page);
    // Straight into a temporary file beside the target, renamed over it
    // once written: the page is not held in memory as well.
    try {
      TAtomicFileStream image(name);
      const bool rendered = facade.RenderPageToStream(dpi, page, format, image) == 1;
      if (!rendered) {
        std::fprintf(stderr, "pvl: %s\n", facade.LastRenderMessage().c_str());
        status = kExitPageFailed;
      }
      // What the page left out is said; the page itself succeeded.
      std::istringstream warnings(facade.LastRenderWarnings());
      for (std::string line; std::getline(warnings, line);) std::fprintf(stderr, "pvl: warning: %s\n", line.c_str());
      // A page drawn only in part is still written, as the viewer shows it.
      if (image.GetSize() > 0) image.Commit();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "pvl: %s\n", e.what());
      status = kExitPageFailed;
    }
  }
  return status;
}

int cmdText(const Options& o) {
  if (o.positional.size() != 2) throw Failure{kExitUsage, "usage: pvl text FILE PAGE [--option 0-8]"};
  TPavona facade;
  load(facade, o);
  const int32_t option = static_cast<int32_t>(o.Integer("option", 0, 0, 8));
  int32_t first = 1, last = 1;
  pageRange(o.positional[1], facade.PageCount(), first, last);
  if (!facade.SelectPage(first)) throw Failure{kExitPageFailed, "page " + std::to_string(first) + " cannot be selected"};
  std::u16string text;
  facade.GetPageText(option, text);
  if (facade.LastErrorCode() != 0)
    throw Failure{kExitPageFailed, "the text of the page cannot be read: " + CauseOf(facade)};
  WriteOut(WideToUTF8(text));
  if (!text.empty() && text.back() != u'\n') WriteOut("\n");
  return kExitOk;
}

int cmdInfo(const Options& o) {
  if (o.positional.size() != 1) throw Failure{kExitUsage, "usage: pvl info FILE [--password P]"};
  TPavona facade;
  load(facade, o);
  TPDFDocument* doc = facade.GetSelectedDocumentObject();
  std::string out = "Version: " + doc->GetPDFVersion() + "\n";
  out += "Pages: " + std::to_string(facade.PageCount()) + "\n";
  out += std::string("Encrypted: ") + (doc->GetTrailer()->GetValue("Encrypt") ? "yes" : "no") + "\n";
  // The objects were found by scanning: the file's own tables could not be used.
  if (facade.DocumentWasRepaired()) out += "Repaired: yes (the cross-reference data was damaged or missing)\n";
  static const char* kKeys[] = {"Title", "Author", "Subject", "Keywords", "Creator", "Producer", "CreationDate",
                                "ModDate"};
  for (const char* key : kKeys) {
    const std::u16string value = doc->GetInfo(key);
    if (!value.empty()) out += std::string(key) + ": " + WideToUTF8(value) + "\n";
  }
  char size[64];
  const int32_t count = facade.PageCount();
  for (int32_t n = 1; n <= count; ++n) {
    if (!facade.SelectPage(n)) {
      out += "Page " + std::to_string(n) + ": missing\n";
      continue;
    }
    std::snprintf(size, sizeof size, "%.2f x %.2f", facade.PageWidth(), facade.PageHeight());
    out += "Page " + std::to_string(n) + ": " + size + "\n";
  }
  WriteOut(out);
  return kExitOk;
}

const bool kFacadeCommands[] = {
    RegisterCommand("render",
                    "render FILE PAGES [--dpi N] [--format png|bmp|jpg|gif|tif|eps|emf|wmf|raw] [--backend cairo|gdi] "
                    "--out PATH",
                    cmdRender),
    RegisterCommand("text", "text FILE PAGE [--option 0-8] [--password P]", cmdText),
    RegisterCommand("info", "info FILE [--password P]", cmdInfo),
};

}  // namespace
