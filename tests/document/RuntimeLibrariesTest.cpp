// libtiff, libxml2, ICU and libcrypto are loaded the first time they are
// needed. Where one cannot be loaded, what needs it fails naming it (or, for
// XMP and SASLprep, does what it does with a packet or a profile it cannot
// use) and everything else works. The missing libraries are played by a child process
// whose library path finds files that are not libraries under their names.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"

using pvltest::CorpusPath;
using pvltest::TempDir;

namespace {

void PutLE(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

// An 8 x 8 grey TIFF page in one Deflate-compressed strip: a page that is
// decoded through libtiff rather than passed on as it is stored.
std::string DeflateTiff() {
  std::string pixels(64, '\0');
  for (int i = 0; i < 64; ++i) pixels[size_t(i)] = char(i * 4);
  uLongf size = compressBound(64);
  std::string strip(size, '\0');
  compress(reinterpret_cast<Bytef*>(strip.data()), &size, reinterpret_cast<const Bytef*>(pixels.data()), 64);
  strip.resize(size);
  const uint32_t kEntries = 9, kStripOffset = 8 + 2 + kEntries * 12 + 4;
  const uint32_t entries[kEntries][3] = {
      {256, 3, 8},  // width
      {257, 3, 8},  // height
      {258, 3, 8},  // bits per sample
      {259, 3, 8},  // Deflate
      {262, 3, 1},  // black is zero
      {273, 4, kStripOffset},
      {277, 3, 1},  // samples per pixel
      {278, 3, 8},  // rows per strip
      {279, 4, uint32_t(strip.size())},
  };
  std::string tiff("II*\0", 4);
  PutLE(tiff, 8, 4);
  PutLE(tiff, kEntries, 2);
  for (const auto& e : entries) {
    PutLE(tiff, e[0], 2);
    PutLE(tiff, e[1], 2);
    PutLE(tiff, 1, 4);
    PutLE(tiff, e[2], e[1] == 3 ? 2 : 4);
    if (e[1] == 3) PutLE(tiff, 0, 2);
  }
  PutLE(tiff, 0, 4);
  return tiff + strip;
}

// What the operations needing the three libraries give, one line each.
std::string LibraryUses(const std::string& tiffPath) {
  std::string out;
  TPavona f;
  const int32_t image = f.AddImageFromFile(NativePathToWide(tiffPath), 0);
  out += "tiff import: " + (image ? std::string("ok") : "failed: " + f.LastErrorMessage()) + "\n";

  auto doc = pvldoc::LoadFile(CorpusPath("samples/minimal-document.pdf"));
  doc->SetInfo("Title", u"Run-time binding");
  const std::string packet = doc->GetMetadata();
  out += "xmp: " + std::string(packet.find("Run-time binding") != std::string::npos ? "packet written" : "no packet") +
         ", title " + WideToUTF8(doc->GetInfo("Title")) + "\n";

  try {
    out += "saslprep: " + SASLPrepPassword(u"S\u00AASL\u00ADprep") + "\n";
  } catch (const std::exception& e) {
    out += std::string("saslprep: failed: ") + e.what() + "\n";
  }
  // Opening tries the password as given when it cannot be prepared.
  auto r6 = pvldoc::LoadFile(CorpusPath("pdfjs/saslprep-r6.pdf"), u"SaSLprep");
  out += std::string("r6 open: ") + (r6 && pvldoc::Authenticated(*r6) ? "ok" : "failed") + "\n";
  return out;
}

// The files in a folder, by name, one line.
std::string FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : " ") + name;
  return out;
}

// What the operations around libcrypto give, one line each: a new document
// made and saved; a plain file
// opened, rendered, read and saved; its first page split off into a new
// file (which gets a new identifier, an MD5 digest); a new AES-256
// encryption set up; an AES-256 file opened. Outputs go to `folder`.
std::string CryptoUses(const std::string& folder) {
  std::string out;
  auto result = [&](const TPavona& f, bool ok) { return ok ? std::string("ok") : "failed: " + f.LastErrorMessage(); };
  TPavona blank;
  out += "new document: " + std::to_string(blank.PageCount()) + " page, save " +
         result(blank, blank.SaveToFile(NativePathToWide(folder + "/new.pdf")) == 1) + "\n";
  TPavona f;
  const std::u16string plain = NativePathToWide(CorpusPath("samples/minimal-document.pdf"));
  out += "open: " + result(f, f.LoadFromFile(plain, u"") == 1) + "\n";
  TMemoryStream bmp;
  const bool rendered = f.RenderPageToStream(72, 1, pofBMP, bmp) == 1;
  out += "render: " +
         (rendered ? std::string(bmp.Bytes().size() > 54 && bmp.Bytes().compare(0, 2, "BM") == 0 ? "ok" : "no bitmap")
                   : "failed: " + f.LastRenderMessage()) +
         "\n";
  std::u16string text;
  f.GetPageText(0, text);
  out += "text: " + std::string(text.empty() ? "none" : "read") + "\n";
  out += "save: " + result(f, f.SaveToFile(NativePathToWide(folder + "/saved.pdf")) == 1) + "\n";
  out += "split: " + result(f, f.ExtractPageRangesToFile(plain, u"1", NativePathToWide(folder + "/page1.pdf")) == 1) +
         "\n";
  out += "files: " + FolderListing(folder) + "\n";
  out +=
      "encrypt: " + result(f, f.Encrypt(u"owner", u"user", 3, f.EncodePermissions(1, 1, 1, 1, 1, 1, 1, 1)) == 1) + "\n";
  TPavona g;
  const std::u16string aes = NativePathToWide(CorpusPath("pdfjs/saslprep-r6.pdf"));
  out += "aes-256 open: " + result(g, g.LoadFromFile(aes, u"SaSLprep") == 1) + "\n";
  return out;
}

TEST(RuntimeLibraries, LoadedWhenFirstNeeded) {
  TempDir dir;
  const std::string tif = dir.File("deflate.tif");
  pvltest::WriteFile(tif, DeflateTiff());
  EXPECT_EQ(LibraryUses(tif),
            "tiff import: ok\n"
            "xmp: packet written, title Run-time binding\n"
            "saslprep: SaSLprep\n"
            "r6 open: ok\n");
  EXPECT_EQ(CryptoUses(dir.Path()),
            "new document: 1 page, save ok\n"
            "open: ok\n"
            "render: ok\n"
            "text: read\n"
            "save: ok\n"
            "split: ok\n"
            "files: deflate.tif new.pdf page1.pdf saved.pdf\n"
            "encrypt: ok\n"
            "aes-256 open: ok\n");
}

// Runs uses() in a child process, this program run again with the library
// path set to libraryPath (the loader reads it only at start, so the child
// proves too that none of the libraries faked there is needed to start), and
// expects what it reports to match the pattern. folder is removed by the
// child: it ends without destructors.
template <class Uses>
void ExpectReportWithLibraryPath(const std::string& libraryPath, const std::string& folder, Uses uses,
                                 const std::string& pattern) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const char* saved = std::getenv("LD_LIBRARY_PATH");
  const std::string before = saved ? saved : "";
  setenv("LD_LIBRARY_PATH", libraryPath.c_str(), 1);
  EXPECT_EXIT(
      {
        std::fputs(uses().c_str(), stderr);
        std::fflush(stderr);
        std::filesystem::remove_all(folder);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), pattern);
  if (saved) {
    setenv("LD_LIBRARY_PATH", before.c_str(), 1);
  } else {
    unsetenv("LD_LIBRARY_PATH");
  }
}

TEST(RuntimeLibraries, MissingLibrariesAreNamedAndTheRestWorks) {
  TempDir dir;
  const std::string tif = dir.File("deflate.tif");
  pvltest::WriteFile(tif, DeflateTiff());
  for (const char* name : {"libtiff.so.6", "libxml2.so.2", "libxml2.so.16", "libicuuc.so.72"})
    pvltest::WriteFile(dir.File(name), "not a library\n");
  ExpectReportWithLibraryPath(
      dir.Path(), dir.Path(), [&] { return LibraryUses(tif); },
      "tiff import: failed: TIFF pages cannot be decoded: libtiff\\.so\\.6 cannot be loaded[^\n]*\n"
      "xmp: no packet, title Run-time binding\n"
      "saslprep: failed: SASLprep is not available: libicuuc\\.so\\.[0-9]+ cannot be loaded[^\n]*\n"
      "r6 open: ok\n");
}

// Without libcrypto the program starts, opens, renders, reads and saves a
// plain file; what needs a digest, the cipher or random bytes fails naming
// the library and writes nothing.
TEST(RuntimeLibraries, MissingLibcryptoIsNamedAndPlainFilesWork) {
  TempDir dir;
  const std::string fakes = dir.File("fakes"), outputs = dir.File("outputs");
  std::filesystem::create_directories(fakes);
  std::filesystem::create_directories(outputs);
  pvltest::WriteFile(fakes + "/libcrypto.so.3", "not a library\n");
  ExpectReportWithLibraryPath(
      fakes, dir.Path(), [&] { return CryptoUses(outputs); },
      "new document: 1 page, save ok\n"
      "open: ok\n"
      "render: ok\n"
      "text: read\n"
      "save: ok\n"
      "split: failed: [^\n]*libcrypto\\.so\\.3 cannot be loaded[^\n]*\n"
      "files: new\\.pdf saved\\.pdf\n"
      "encrypt: failed: [^\n]*libcrypto\\.so\\.3 cannot be loaded[^\n]*\n"
      "aes-256 open: failed: [^\n]*libcrypto\\.so\\.3 cannot be loaded[^\n]*\n");
}

}  // namespace
