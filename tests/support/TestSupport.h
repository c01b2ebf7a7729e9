// Shared helpers of the test suites: corpus files, temporary folders and
// running peer tools (qpdf, pdftoppm, mutool ...) as oracles.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "MakePdf.h"

namespace pvltest {

// Folder of the shared corpus (../shared/corpus beside the repository).
std::string CorpusDir();
// Full path of a corpus file, e.g. CorpusPath("pdfjs/alphatrans.pdf").
std::string CorpusPath(const std::string& relative);
// Every *.pdf of the corpus (both folders), sorted.
std::vector<std::string> CorpusPdfFiles();
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A fresh folder removed when the object is destroyed.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

struct CommandResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};
// Runs argv (no shell) and captures its output.
CommandResult RunCommand(const std::vector<std::string>& argv);
// True when the environment says it is CI (CI=true, 1 or yes).
bool InCI();
// True when the program is on PATH. Under CI a missing program also records a
// failure in the running test, so that a test skipping for it fails instead.
bool HaveTool(const std::string& program);
// True when every program is on PATH (HaveTool for each, stopping at the first missing one).
bool HaveTools(std::initializer_list<const char*> programs);

}  // namespace pvltest

// Skips the running test, naming the first missing program, unless every one
// is on PATH; under CI the missing program fails it (HaveTool).
#define REQUIRE_TOOLS(...)                                               \
  for (const char* tool : {__VA_ARGS__}) {                               \
    if (!pvltest::HaveTool(tool)) GTEST_SKIP() << tool << " is missing"; \
  }
