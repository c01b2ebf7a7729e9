// A small PDF file built from its objects, for tests and fuzz targets alike
// (header only: the fuzz targets link no test support).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace pvltest {

// A PDF file of the given objects (object i is number i + 1) with a correct
// cross-reference table and a trailer naming object 1 as the root, plus
// trailerExtra inside the trailer. "STREAM:" + data makes a stream with a
// correct Length; an empty entry leaves a gap (a free entry in the table).
inline std::string MakePdf(const std::vector<std::string>& objects, const std::string& trailerExtra = "") {
  std::string text = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets(objects.size(), 0);
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i].empty()) continue;
    offsets[i] = text.size();
    std::string body = objects[i];
    if (body.rfind("STREAM:", 0) == 0) {
      const std::string data = body.substr(7);
      body = "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
    }
    text += std::to_string(i + 1) + " 0 obj\n" + body + "\nendobj\n";
  }
  const size_t xref = text.size();
  text += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char line[32];
  for (size_t off : offsets) {
    std::snprintf(line, sizeof line, off ? "%010zu 00000 n \n" : "0000000000 00001 f \n", off);
    text += line;
  }
  text += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailerExtra +
          " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return text;
}

}  // namespace pvltest
