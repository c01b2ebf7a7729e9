// Substitution of installed fonts for PDF fonts without a usable program.
#include <algorithm>

#include "platform/Fonts.h"
#include "render/PavonaFontConst.h"

const TPDFStandardFont kStandardFonts[14] = {
    {"Courier*CourierNew*CourierNewPSMT*CourierNewPS*", "CourierNew", {-28, -250, 628, 805}, 629, -157},
    {"Courier-Bold*Courier,Bold*CourierNew-Bold*CourierNew,Bold*CourierNewPS,BoldMT*CourierNewPS,Bold*"
     "CourierNewPS,BoldMT,Bold*",
     "CourierNew,Bold",
     {-113, -250, 749, 801},
     626,
     -142},
    {"Courier-BoldOblique*Courier,BoldItalic*CourierNew-BoldItalic*CourierNew,BoldItalic*CourierNewPS-BoldItalicMT*",
     "CourierNew,BoldItalic",
     {-56, -250, 868, 801},
     626,
     -142},
    {"Courier-Oblique*Courier,Italic*CourierNew-Italic*CourierNew,Italic*CourierNewPS-ItalicMT*"
     "CourierNewPS,ItalicMT,Italic*",
     "CourierNew,Italic",
     {-28, -250, 742, 805},
     629,
     -157},
    {"Helvetica*Arial*ArialMT*HelveticaNeue-Roman*HelveticaNeue-UltraLight*Arial,BoldMT,Bold*",
     "Arial",
     {-166, -225, 1000, 931},
     718,
     -207},
    {"Helvetica-Bold*Helvetica,Bold*Arial-Bold*Arial,Bold*Arial-BoldMT*HelveticaNeue,Bold*",
     "Arial,Bold",
     {-170, -228, 1003, 962},
     718,
     -207},
    {"Helvetica-BoldOblique*Helvetica-BoldItalic*Helvetica,BoldItalic*Arial-BoldItalic*Arial,BoldItalic*"
     "Arial-BoldItalicMT*",
     "Arial,BoldItalic",
     {-174, -228, 1114, 962},
     718,
     -207},
    {"Helvetica-Oblique*Helvetica-Italic*Helvetica,Italic*Arial-Italic*Arial,Italic*Arial-ItalicMT*",
     "Arial,Italic",
     {-170, -225, 1116, 931},
     718,
     -207},
    {"Times-Roman*TimesNewRoman*TimesNewRomanPS*TimesNewRomanPSMT*", "TimesNewRoman", {-168, -218, 1000, 898}, 683, -217},
    {"Times-Bold*TimesNewRoman-Bold*TimesNewRoman,Bold*TimesNewRomanPS-Bold*TimesNewRomanPS-BoldMT*"
     "TimesNewRomanPS,Bold*TimesNewRomanPS,BoldMT*",
     "TimesNewRoman,Bold",
     {-168, -218, 1000, 935},
     676,
     -205},
    // The PS-style names with a comma suffix are what the name rules make of
    // "TimesNewRomanPS-ItalicMT" and "TimesNewRomanPS-BoldItalicMT".
    {"Times-Italic*TimesNewRoman-Italic*TimesNewRoman,Italic*TimesNewRomanPS-Italic*TimesNewRomanPS-ItalicMT*"
     "TimesNewRomanPS,Italic*",
     "TimesNewRoman,Italic",
     {-169, -217, 1010, 883},
     683,
     -205},
    {"Times-BoldItalic*TimesNewRoman-BoldItalic*TimesNewRoman,BoldItalic*TimesNewRomanPS-BoldItalic*"
     "TimesNewRomanPS-BoldItalicMT*TimesNewRomanPS,BoldItalic*",
     "TimesNewRoman,BoldItalic",
     {-200, -218, 996, 921},
     699,
     -205},
    {"Symbol*", "Symbol", {-180, -293, 1090, 1010}, 699, -205},
    {"ZapfDingbats*", "ZapfDingbats", {-180, -293, 1090, 1010}, 699, -205},
};

namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
}

}  // namespace

int32_t FindStandardFont(std::string_view name) {
  // An empty name would match every row through its bare "*".
  if (name.empty()) return 0;
  const std::string needle = std::string(name) + "*";
  int32_t row = 0;
  for (int32_t i = 0; i < 14; ++i)
    if (std::string_view(kStandardFonts[i].Patterns).find(needle) != std::string_view::npos) row = i + 1;
  return row;
}

void MapFontNameToSystemFont(std::string_view pdfFontName, int32_t flags, TFont& font) {
  std::string name(pdfFontName);
  if (endsWith(name, "MT")) name.resize(name.size() - 2);
  if (size_t pos = name.find("MT-"); pos != std::string::npos) name.erase(pos, 3);
  if (name.size() > 7 && name[6] == '+' &&
      std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
    name.erase(0, 7);
  if (size_t pos = name.find('+'); pos != std::string::npos) name.resize(pos);
  replaceAll(name, "-BoldOblique", ",BoldItalic");
  replaceAll(name, "-BoldItalic", ",BoldItalic");
  replaceAll(name, "-Bold", ",Bold");
  replaceAll(name, "-Italic", ",Italic");
  replaceAll(name, "-Oblique", ",Italic");
  replaceAll(name, ",Bold,Bold", ",Bold");
  if (int32_t row = FindStandardFont(name)) name = kStandardFonts[row - 1].Name;
  uint8_t style = 0;
  if (endsWith(name, ",Bold")) {
    style |= fsBold;
    name.resize(name.size() - 5);
  }
  if (endsWith(name, ",Italic")) {
    style |= fsItalic;
    name.resize(name.size() - 7);
  }
  if (endsWith(name, ",BoldItalic")) {
    style |= fsBold | fsItalic;
    name.resize(name.size() - 11);
  }
  for (const std::string& family : InstalledFontNames(DEFAULT_CHARSET)) {
    std::string compact = family;
    compact.erase(std::remove(compact.begin(), compact.end(), ' '), compact.end());
    if (family == name || compact == name) {
      font.Name = family;
      font.Style = style;
      return;
    }
    if (family + "Italic" == name) {
      font.Name = family;
      font.Style = style | fsItalic;
      return;
    }
  }
  font.Name = "Arial";
  if (flags & 1) font.Name = "Courier";
  if (flags & 2) font.Name = "Times New Roman";
  if (flags & 0x40) font.Style |= fsItalic;
}

bool MapJapaneseFontToSystemFont(std::string_view pdfFontName, TFont& font) {
  if (pdfFontName.substr(0, 15) != "HeiseiKakuGo-W5") return false;
  const std::vector<std::string>& families = InstalledFontNames(SHIFTJIS_CHARSET);
  auto has = [&](const char* name) { return std::find(families.begin(), families.end(), name) != families.end(); };
  if (has("MS UI Gothic"))
    font.Name = "MS UI Gothic";
  else if (has("MS Mincho"))
    font.Name = "MS Mincho";
  else if (!families.empty())
    font.Name = families.front();
  font.Charset = SHIFTJIS_CHARSET;
  std::string_view rest = pdfFontName.size() > 15 ? pdfFontName.substr(15) : std::string_view();
  font.Style = 0;
  if (rest.substr(0, 5) == ",Bold") font.Style = fsBold;
  if (rest.substr(0, 7) == ",Italic") font.Style = fsItalic;
  if (rest.substr(0, 11) == ",BoldItalic") font.Style = fsBold | fsItalic;
  return true;
}

bool MapCourierToURWFace(std::string_view pdfFontName, TFont& font) {
  std::string_view name = pdfFontName;
  if (name.size() > 7 && name[6] == '+') name.remove_prefix(7);
  if (name.substr(0, 7) != "Courier" || name.substr(0, 10) == "CourierNew") return false;
  const std::vector<std::string>& families = InstalledFontNames(DEFAULT_CHARSET);
  if (std::find(families.begin(), families.end(), "Nimbus Mono PS") == families.end()) return false;
  font.Name = "Nimbus Mono PS";
  return true;
}
