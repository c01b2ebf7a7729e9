// pvl print: pages printed through the facade's printer path, into a file
// (a PDF of the printed pages) or to a CUPS printer:
//
//   pvl print FILE PAGES [--to-file OUT] [--printer NAME] [--fit 0|1|2]
//             [--rotate] [--quality 1-4] [--title TEXT]
//
// --fit: 0 actual size at the top of the paper, 1 fit to the paper, 2 only
// shrink larger pages; --rotate turns pages to the paper's orientation;
// --quality: 1 high (600 dpi), 2 medium (300), 3 low (150), 4 draft (96).
// Exit status: 0 printed, 1 wrong password, 2 unreadable file, 3 failed.
#include <cstdio>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

int cmdPrint(const Options& o) {
  if (o.positional.size() != 2 || (!o.Has("to-file") && !o.Has("printer")))
    throw Failure{kExitUsage, "usage: pvl print FILE PAGES [--to-file OUT] [--printer NAME] [--fit 0|1|2] "
                              "[--rotate] [--quality 1-4] [--title TEXT]"};
  if (o.Has("to-file")) RefuseOutputOverInput(o.Value("to-file"), {o.positional[0]});
  TPavona facade;
  LoadOrFail(facade, o.positional[0], o.password);
  int32_t first = 1, last = 1;
  const std::string range = o.positional[1];
  const size_t dash = range.find('-');
  try {
    first = std::stoi(range.substr(0, dash));
    last = dash == std::string::npos ? first : dash + 1 < range.size() ? std::stoi(range.substr(dash + 1)) : facade.PageCount();
  } catch (const std::exception&) {
    throw Failure{kExitUsage, "bad page range " + range};
  }
  if (first < 1 || last < first) throw Failure{kExitUsage, "bad page range " + range};
  const std::string printer = o.Value("printer", "Print to file");
  if (o.Has("to-file")) facade.SetPrintOutputFile(NativePathToWide(o.Value("to-file")));
  TPrinterOptions settings;
  settings.PrintQuality = static_cast<int32_t>(o.Integer("quality", 0, 0, 4));
  facade.SetPrinterSettings(UTF8ToWide(printer), settings);
  const int32_t options = facade.PrintOptions(static_cast<int32_t>(o.Integer("fit", 0, 0, 2)), o.Has("rotate") ? 1 : 0,
                                              UTF8ToWide(o.Value("title", "pvl print")));
  if (!facade.PrintDocument(UTF8ToWide(printer), first, last, options))
    throw Failure{kExitPageFailed, facade.LastRenderMessage()};
  return kExitOk;
}

const bool kPrintCommands[] = {
    RegisterCommand("print",
                    "print FILE PAGES [--to-file OUT] [--printer NAME] [--fit 0|1|2] [--rotate] [--quality 1-4] "
                    "[--title TEXT]",
                    cmdPrint),
};

}  // namespace
