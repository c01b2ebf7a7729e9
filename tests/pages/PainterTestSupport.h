// Small PDF files built around painter content for the peer tools: a pool
// whose numbering callback collects the objects, and a writer that puts one
// page with the given resources and a cross-reference table around them.
#pragma once

#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "objects/PavonaStructure.h"

namespace pvltest {

class TTestPdf {
public:
  TTestPdf() {
    pool.OnGetObjectNumber = [this](TPDFStructure*, TPDFObject* obj, int32_t& number, int32_t& generation) {
      objects_.push_back(obj);
      number = static_cast<int32_t>(objects_.size());
      generation = 0;
    };
  }

  // A one-page file of the given size; fonts and XObjects map resource names
  // to object numbers of registered objects.
  std::string Write(const std::string& content, double width, double height,
                    const std::map<std::string, int32_t>& fonts, const std::map<std::string, int32_t>& xobjects) {
    std::vector<std::string> bodies;
    for (TPDFObject* obj : objects_) bodies.push_back(obj->WriteText());
    const int32_t first = static_cast<int32_t>(bodies.size()) + 1;
    const int32_t catalog = first, pages = first + 1, page = first + 2, stream = first + 3;
    std::string resources = "<< /Font <<";
    for (const auto& [name, number] : fonts) resources += " /" + name + " " + std::to_string(number) + " 0 R";
    resources += " >> /XObject <<";
    for (const auto& [name, number] : xobjects) resources += " /" + name + " " + std::to_string(number) + " 0 R";
    resources += " >> >>";
    bodies.push_back("<< /Type /Catalog /Pages " + std::to_string(pages) + " 0 R >>");
    bodies.push_back("<< /Type /Pages /Kids [ " + std::to_string(page) + " 0 R ] /Count 1 >>");
    char box[128];
    std::snprintf(box, sizeof box, "[ 0 0 %g %g ]", width, height);
    bodies.push_back("<< /Type /Page /Parent " + std::to_string(pages) + " 0 R /MediaBox " + box +
                     " /Resources " + resources + " /Contents " + std::to_string(stream) + " 0 R >>");
    bodies.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < bodies.size(); ++i) {
      offsets.push_back(out.size());
      out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
      char line[32];
      std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
      out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root " + std::to_string(catalog) +
           " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
  }

  const std::vector<TPDFObject*>& Objects() const { return objects_; }
  TPDFStructure pool;

private:
  std::vector<TPDFObject*> objects_;
};

// Content lines (split at line feeds), the unit the painter writes in.
inline std::vector<std::string> ContentLines(const std::string& c) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < c.size()) {
    size_t end = c.find('\n', start);
    if (end == std::string::npos) end = c.size();
    out.push_back(c.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// RGB pixels of page 1 rendered by pdftoppm at 72 dpi (one pixel per point).
struct TRenderedPage {
  int width = 0, height = 0;
  std::string rgb;
  // Pixel at x, y from the top-left corner; {-1,-1,-1} outside.
  std::array<int, 3> At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
    size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return {uint8_t(rgb[at]), uint8_t(rgb[at + 1]), uint8_t(rgb[at + 2])};
  }
};

inline bool RenderPage(const std::string& pdfPath, const std::string& outBase, TRenderedPage& page) {
  CommandResult r = RunCommand({"pdftoppm", "-r", "72", "-singlefile", "-aa", "no", "-aaVector", "no", pdfPath, outBase});
  if (r.exitCode != 0) return false;
  return codectest::ReadPpmRgb(ReadFile(outBase + ".ppm"), page.width, page.height, page.rgb);
}

}  // namespace pvltest
