// pvl fonts: what the installed-font layer answers, for checking its kept
// answers against fontconfig's:
//
//   pvl fonts [FAMILY[:bold][:italic][:japanese] ...]
//
// Prints "families: " and the families of the default character set (sorted,
// "; " between them), then a line "FAMILY: FACE-FAMILY | FILE | INDEX" with
// " bold" / " italic" per font asked for ("FAMILY: none" when no face is
// selected), and last "fontconfig: loaded" or "fontconfig: not loaded" (the
// answers all came from the kept file).
#include <algorithm>
#include <string>
#include <vector>

#include "platform/Fonts.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

TFont fontOf(const std::string& spec) {
  TFont font;
  font.Name = spec.substr(0, spec.find(':'));
  for (size_t at = spec.find(':'); at != std::string::npos; at = spec.find(':', at + 1)) {
    const std::string flag = spec.substr(at + 1, spec.find(':', at + 1) - at - 1);
    if (flag == "bold")
      font.Style |= fsBold;
    else if (flag == "italic")
      font.Style |= fsItalic;
    else if (flag == "japanese")
      font.Charset = SHIFTJIS_CHARSET;
    else
      throw Failure{kExitUsage, "unknown style " + flag + " in " + spec};
  }
  return font;
}

int cmdFonts(const Options& o) {
  std::vector<std::string> families = EnumFontFamilies(DEFAULT_CHARSET);
  std::sort(families.begin(), families.end());
  std::string out = "families: ";
  for (size_t i = 0; i < families.size(); ++i) out += (i ? "; " : "") + families[i];
  out += '\n';
  for (const std::string& spec : o.positional) {
    TInstalledFace face;
    if (!SelectInstalledFace(fontOf(spec), face)) {
      out += spec + ": none\n";
      continue;
    }
    out += spec + ": " + face.Family + " | " + face.File + " | " + std::to_string(face.Index) +
           (face.Bold ? " bold" : "") + (face.Italic ? " italic" : "") + "\n";
  }
  out += InstalledFontConfigurationLoaded() ? "fontconfig: loaded\n" : "fontconfig: not loaded\n";
  WriteOut(out);
  return kExitOk;
}

const bool kFontCommands[] = {
    RegisterCommand("fonts", "fonts [FAMILY[:bold][:italic][:japanese] ...]", cmdFonts),
};

}  // namespace
