// pvl commands for metafiles and HTML-subset text, through the facade:
//
//   pvl emf2pdf IN.emf --out OUT.pdf    one page the size of the picture (EMF,
//                                       or WMF read as the EMF it converts to),
//                                       the picture as vector content
//   pvl html2pdf IN.txt --out OUT.pdf   the HTML-subset text (UTF-8) on a
//                                       Letter page inside half-inch margins
//
// Exit status: 0 success, 2 unreadable or unsupported input, 3 wrong usage
// or a failed save.
#include <fstream>
#include <sstream>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

void save(TPavona& facade, const std::string& out) {
  if (!facade.SaveToFile(NativePathToWide(out)))
    throw Failure{kExitUsage, "cannot write " + out + ": " + CauseOf(facade)};
}

int cmdEmf2Pdf(const Options& o) {
  if (o.positional.size() != 1 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl emf2pdf IN.emf --out OUT.pdf"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  TPavona facade;
  facade.NewDocument();
  facade.SelectPage(1);
  if (!facade.DrawMetafilePage(NativePathToWide(o.positional[0]))) {
    if (facade.LastErrorCode() == TPavona::pvlErrMetafileWMF)
      throw Failure{kExitUnreadable, o.positional[0] + ": " + CauseOf(facade)};
    throw Failure{kExitUnreadable, o.positional[0] + ": not a readable enhanced metafile: " + CauseOf(facade)};
  }
  save(facade, o.Value("out"));
  return kExitOk;
}

int cmdHtml2Pdf(const Options& o) {
  if (o.positional.size() != 1 || !o.Has("out")) throw Failure{kExitUsage, "usage: pvl html2pdf IN.txt --out OUT.pdf"};
  RefuseOutputOverInput(o.Value("out"), {o.positional[0]});
  std::ifstream in(o.positional[0], std::ios::binary);
  if (!in) throw Failure{kExitUnreadable, "cannot open " + o.positional[0]};
  std::ostringstream text;
  text << in.rdbuf();
  TPavona facade;
  facade.NewDocument();
  facade.SelectPage(1);
  facade.SetOrigin(1);  // top left, y down, as the text runs
  const double margin = 36;
  if (!facade.DrawHTMLText(UTF8ToWide(text.str()), margin, margin, facade.PageWidth() - 2 * margin))
    throw Failure{kExitUnreadable, "cannot lay out " + o.positional[0] + ": " + CauseOf(facade)};
  save(facade, o.Value("out"));
  return kExitOk;
}

const bool kRichCommands[] = {
    RegisterCommand("emf2pdf", "emf2pdf IN.emf --out OUT.pdf", cmdEmf2Pdf),
    RegisterCommand("html2pdf", "html2pdf IN.txt --out OUT.pdf", cmdHtml2Pdf),
};

}  // namespace
