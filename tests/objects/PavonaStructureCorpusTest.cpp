// Object syntax round trip on real files: every object of the uncompressed
// (qpdf QDF) form of each corpus file parses, writes back, and parses again
// to the same value.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "PavonaStructureTestSupport.h"
#include "TestSupport.h"
#include "objects/PavonaStructure.h"

namespace {

struct ObjectBody {
  std::string id;         // "N G"
  std::string_view body;  // from after "obj" to the next object header
};

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Object headers "N G obj" at line starts.
std::vector<ObjectBody> splitObjects(const std::string& file) {
  std::vector<ObjectBody> objects;
  std::vector<std::pair<size_t, size_t>> headers;  // header start, body start
  for (size_t pos = 0; pos < file.size();) {
    size_t i = pos;
    size_t a = i;
    while (i < file.size() && isDigit(file[i])) ++i;
    if (i > a && i < file.size() && file[i] == ' ') {
      size_t b = ++i;
      while (i < file.size() && isDigit(file[i])) ++i;
      if (i > b && file.compare(i, 5, " obj\n") == 0) headers.emplace_back(pos, i + 5);
    }
    size_t nl = file.find('\n', pos);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  for (size_t k = 0; k < headers.size(); ++k) {
    size_t end = k + 1 < headers.size() ? headers[k + 1].first : file.size();
    ObjectBody o;
    o.id = file.substr(headers[k].first, headers[k].second - 5 - headers[k].first);
    o.body = std::string_view(file).substr(headers[k].second, end - headers[k].second);
    objects.push_back(o);
  }
  return objects;
}

struct FileResult {
  std::string file;
  std::string skipped;  // why qpdf gave nothing to test
  size_t objects = 0;
  std::vector<std::string> failures;
};

void roundTripFile(const std::string& path, FileResult& result) {
  result.file = path;
  pvltest::CommandResult qdf = pvltest::RunCommand({"qpdf", "--qdf", "--object-streams=disable", path, "-"});
  // 0: clean, 3: written with warnings; anything else (passwords, broken files) has no output to test.
  if ((qdf.exitCode != 0 && qdf.exitCode != 3) || qdf.out.empty()) {
    result.skipped = "qpdf exit " + std::to_string(qdf.exitCode) + ": " + qdf.err.substr(0, 120);
    return;
  }
  TPDFStructure pool;
  for (const ObjectBody& o : splitObjects(qdf.out)) {
    ++result.objects;
    auto fail = [&](const std::string& why) {
      if (result.failures.size() < 5) result.failures.push_back("object " + o.id + ": " + why);
    };
    size_t consumed = 0;
    TPDFObject* first = pool.ParseObjectEx(o.body, consumed);
    if (consumed == 0) {
      fail("does not parse: " + std::string(o.body.substr(0, 80)));
      continue;
    }
    // After the object: "endobj", or the stream data of a stream's dictionary.
    std::string_view rest = o.body.substr(consumed);
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \r\n\t")));
    bool isStream = rest.substr(0, 6) == "stream";
    if (!isStream && rest.substr(0, 6) != "endobj") {
      fail("object ends early: " + std::string(rest.substr(0, 60)));
      continue;
    }
    if (isStream && first->GetKind() != pdfkDictionary) {
      fail("stream without a dictionary");
      continue;
    }
    std::string text;
    try {
      text = first->WriteText();
    } catch (const std::exception& e) {
      fail(std::string("does not write: ") + e.what());
      continue;
    }
    size_t again = 0;
    TPDFObject* second = pool.ParseObjectEx(text, again);
    std::string why;
    if (again == 0 || !pvltest::SameObject(first, second, pool.GetPrecisionDigits(), &why)) {
      fail("differs after writing: " + why + " written as " + text.substr(0, 120));
      continue;
    }
    // Writing is stable once numbers are at the pool's precision.
    if (second->WriteText() != text) fail("second write differs");
  }
}

TEST(PavonaStructureCorpus, ObjectSyntaxRoundTrip) {
  if (!pvltest::HaveTool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
  const std::vector<std::string> files = pvltest::CorpusPdfFiles();
  ASSERT_FALSE(files.empty());
  std::vector<FileResult> results(files.size());
  std::atomic<size_t> next{0};
  const unsigned workers = std::max(2u, std::min(8u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w)
    threads.emplace_back([&] {
      for (size_t i = next++; i < files.size(); i = next++) roundTripFile(files[i], results[i]);
    });
  for (std::thread& t : threads) t.join();

  size_t tested = 0, objects = 0;
  for (const FileResult& r : results) {
    if (!r.skipped.empty()) {
      // Only broken or password-protected files may be refused.
      bool expected = r.file.find("fuzzed") != std::string::npos || r.skipped.find("password") != std::string::npos ||
                      r.skipped.find("damaged") != std::string::npos;
      EXPECT_TRUE(expected) << r.file << " skipped: " << r.skipped;
      continue;
    }
    ++tested;
    objects += r.objects;
    EXPECT_GT(r.objects, 0u) << r.file;
    for (const std::string& f : r.failures) ADD_FAILURE() << r.file << ": " << f;
  }
  // The corpus holds about two hundred readable files with tens of thousands of objects.
  EXPECT_GE(tested, files.size() * 3 / 4);
  RecordProperty("objects", static_cast<int>(objects));
  std::printf("round trip: %zu of %zu files, %zu objects\n", tested, files.size(), objects);
}

}  // namespace
