// libtiff, libxml2 and ICU are loaded the first time they are needed. Where
// one cannot be loaded, what needs it fails naming it (or, for XMP and
// SASLprep, does what it does with a packet or a profile it cannot use) and
// everything else works. The missing libraries are played by a child process
// whose library path finds files that are not libraries under their names.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

TEST(RuntimeLibraries, LoadedWhenFirstNeeded) {
  TempDir dir;
  const std::string tif = dir.File("deflate.tif");
  pvltest::WriteFile(tif, DeflateTiff());
  EXPECT_EQ(LibraryUses(tif),
            "tiff import: ok\n"
            "xmp: packet written, title Run-time binding\n"
            "saslprep: SaSLprep\n"
            "r6 open: ok\n");
}

TEST(RuntimeLibraries, MissingLibrariesAreNamedAndTheRestWorks) {
  TempDir dir;
  const std::string tif = dir.File("deflate.tif");
  pvltest::WriteFile(tif, DeflateTiff());
  for (const char* name : {"libtiff.so.6", "libxml2.so.2", "libxml2.so.16", "libicuuc.so.72"})
    pvltest::WriteFile(dir.File(name), "not a library\n");
  // The child is this program run again: it starts with the path set (the
  // loader reads it only at start), and so proves too that none of the
  // three is needed to start.
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const char* saved = std::getenv("LD_LIBRARY_PATH");
  const std::string before = saved ? saved : "";
  setenv("LD_LIBRARY_PATH", dir.Path().c_str(), 1);
  EXPECT_EXIT(
      {
        std::fputs(LibraryUses(tif).c_str(), stderr);
        std::fflush(stderr);
        std::filesystem::remove_all(dir.Path());  // the child's own folder: it ends without destructors
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0),
      "tiff import: failed: TIFF pages cannot be decoded: libtiff\\.so\\.6 cannot be loaded[^\n]*\n"
      "xmp: no packet, title Run-time binding\n"
      "saslprep: failed: SASLprep is not available: libicuuc\\.so\\.[0-9]+ cannot be loaded[^\n]*\n"
      "r6 open: ok\n");
  if (saved) {
    setenv("LD_LIBRARY_PATH", before.c_str(), 1);
  } else {
    unsetenv("LD_LIBRARY_PATH");
  }
}

}  // namespace
