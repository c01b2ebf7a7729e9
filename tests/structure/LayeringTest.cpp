// Includes point down the layers: a file of src/<layer> includes headers of
// its own layer and of lower ones only (platform; objects 1, graphics 2,
// render 3, pages 4, document 5, ui 6, app 7), and the user-interface
// components stand on the platform alone. The build's link order catches a
// library that calls upwards only when the call is made; this catches the
// include itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

struct TUpwardInclude {
  std::string file;  // relative to the source root
  int line = 0;
  std::string header;
};

const std::map<std::string, int> kLayers = {{"platform", 0}, {"objects", 1},  {"graphics", 2}, {"render", 3},
                                            {"pages", 4},    {"document", 5}, {"ui", 6},       {"app", 7}};

// May a file of layer from include a header of layer to?
bool allowed(const std::string& from, const std::string& to) {
  if (from == to || to == "platform") return true;
  if (from == "ui") return false;  // the widgets know nothing of the engine
  return kLayers.at(to) <= kLayers.at(from);
}

// Every #include "layer/..." under root (a src folder) that points up.
std::vector<TUpwardInclude> UpwardIncludes(const fs::path& root) {
  static const std::regex include(R"(^\s*#\s*include\s*"([a-z]+)/[^"]+")");
  std::vector<TUpwardInclude> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
    const fs::path relative = fs::relative(entry.path(), root);
    const std::string layer = relative.begin()->string();
    if (!kLayers.count(layer)) continue;
    std::ifstream in(entry.path());
    std::string text;
    for (int n = 1; std::getline(in, text); ++n) {
      std::smatch m;
      if (text.find("include") == std::string::npos) continue;  // most lines: no regex needed
      if (!std::regex_search(text, m, include) || !kLayers.count(m[1].str())) continue;
      if (!allowed(layer, m[1].str())) found.push_back({relative.string(), n, m[1].str() + "/..."});
    }
  }
  return found;
}

std::string describe(const std::vector<TUpwardInclude>& found) {
  std::string out;
  for (const auto& f : found) out += f.file + ":" + std::to_string(f.line) + " includes " + f.header + "\n";
  return out;
}

TEST(Layering, SourceIncludesPointDownTheLayers) {
  const auto found = UpwardIncludes(fs::path(PVL_SOURCE_DIR) / "src");
  EXPECT_TRUE(found.empty()) << describe(found);
}

// The check itself, on a small tree: the upward includes and only those.
TEST(Layering, UpwardIncludesAreFound) {
  pvltest::TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "src";
  const std::pair<const char*, const char*> files[] = {
      {"objects/A.cpp", "#include \"objects/A.h\"\n#include \"platform/Classes.h\"\n#include \"document/D.h\"\n"},
      {"render/B.h", "#pragma once\n#include \"graphics/G.h\"\n#include <vector>\n"},
      {"ui/C.cpp", "#include \"ui/C.h\"\n  #  include \"graphics/G.h\"\n"},
      {"app/E.cpp", "#include \"document/D.h\"\n#include \"ui/C.h\"\n"},
      {"platform/F.cpp", "#include \"objects/O.h\"\n"},
  };
  for (const auto& [name, text] : files) {
    fs::create_directories((root / name).parent_path());
    pvltest::WriteFile((root / name).string(), text);
  }
  const auto found = UpwardIncludes(root);
  std::map<std::string, std::string> got;
  for (const auto& f : found) got[f.file + ":" + std::to_string(f.line)] = f.header;
  const std::map<std::string, std::string> want = {
      {"objects/A.cpp:3", "document/..."}, {"ui/C.cpp:2", "graphics/..."}, {"platform/F.cpp:1", "objects/..."}};
  EXPECT_EQ(got, want) << describe(found);
}

}  // namespace
