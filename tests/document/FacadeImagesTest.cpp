// The facade's image search and image output, checked against pdfimages and
// qpdf on corpus files: which image XObjects each search method finds, their
// sizes, the kind of data written and the bytes themselves; and the answers
// to bad input (no image, a bad handle, an unreadable file).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"

namespace {

struct TListedImage {
  int Page = 0;
  std::string Type;  // image, mask, smask, stencil
  int Width = 0, Height = 0;
  std::string Encoding;  // image, jpeg, ccitt, ...
  int Object = 0;        // 0 for inline images
};

// The rows of pdfimages -list.
std::vector<TListedImage> ListImages(const std::string& file) {
  const std::string out = pvltest::RunCommand({"pdfimages", "-list", file}).out;
  std::istringstream lines(out);
  std::string line;
  std::vector<TListedImage> rows;
  int skipped = 0;
  while (std::getline(lines, line)) {
    if (skipped < 2) {
      ++skipped;
      continue;
    }
    std::istringstream f(line);
    TListedImage r;
    int num = 0, comp = 0, bpc = 0;
    std::string color, interp, object;
    if (!(f >> r.Page >> num >> r.Type >> r.Width >> r.Height >> color >> comp >> bpc >> r.Encoding >> interp >> object))
      continue;
    r.Object = object == "[inline]" ? 0 : std::atoi(object.c_str());
    rows.push_back(r);
  }
  return rows;
}

// Objects of the file whose dictionary says /Subtype /Image, as qpdf sees them.
int CountImageObjects(const std::string& file) {
  const std::string json = pvltest::RunCommand({"qpdf", "--json", "--json-key=qpdf", file}).out;
  int count = 0;
  for (size_t at = json.find("\"/Subtype\": \"/Image\""); at != std::string::npos;
       at = json.find("\"/Subtype\": \"/Image\"", at + 1))
    ++count;
  return count;
}

struct TFound {
  int Object = 0;
  int Width = 0, Height = 0;
  int Kind = 0;
  std::string Bytes;
};

// Every image entry a search makes, read through the facade's operations.
std::vector<TFound> FindAll(const std::string& file, int method, const pvltest::TempDir& dir) {
  TPavona f;
  EXPECT_EQ(f.LoadFromFile(NativePathToWide(file), u""), 1) << file;
  EXPECT_EQ(f.SetImageSearchMethod(method), 1);
  const int32_t n = f.FindImages();
  std::vector<TFound> found;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t handle = f.GetImageHandle(i);
    EXPECT_NE(handle, 0) << i;
    EXPECT_EQ(f.SelectImage(handle), 1);
    TFound r;
    r.Object = f.GetImageByHandle(handle)->GetObject()->GetRefNumber();
    r.Width = f.ImageWidth();
    r.Height = f.ImageHeight();
    r.Kind = f.ImageType();
    const std::string out = dir.File("m" + std::to_string(method) + "-" + std::to_string(i));
    if (r.Kind > 0) {
      EXPECT_EQ(f.SaveImageToFile(NativePathToWide(out)), 1) << file << " image " << i;
      r.Bytes = pvltest::ReadFile(out);
    }
    found.push_back(std::move(r));
  }
  EXPECT_EQ(f.GetImageHandle(n + 1), 0);
  return found;
}

int32_t le32(const std::string& b, size_t at) {
  return int32_t(uint8_t(b[at])) | int32_t(uint8_t(b[at + 1])) << 8 | int32_t(uint8_t(b[at + 2])) << 16 |
         int32_t(uint8_t(b[at + 3])) << 24;
}

}  // namespace

// By pages (1, 3): exactly the image XObjects that pdfimages finds drawn
// (each object once), with their sizes. By objects (2, 4): every image
// stream of the file, soft masks included, as qpdf counts them. Methods 1
// and 2 write every image as a BMP of its size; 3 and 4 keep JPEG data
// byte for byte as the file stores it (pdfimages -j writes the same bytes).
TEST(FacadeImages, SearchMethodsAgainstPdfimages) {
  if (!pvltest::HaveTools({"pdfimages", "qpdf"})) GTEST_SKIP() << "a peer tool is missing";
  const char* const files[] = {
      "samples/imagemagick-images.pdf",       "samples/google-doc-document.pdf",
      "samples/pdflatex-image.pdf",           "samples/grayscale-image.pdf",
      "samples/imagemagick-CCITTFaxDecode.pdf", "samples/imagemagick-lzw.pdf",
      "samples/inline-image.pdf",             "samples/minimal-document.pdf",
  };
  pvltest::TempDir dir;
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string file = pvltest::CorpusPath(name);
    std::map<int, const TListedImage*> drawn;  // object -> row
    const std::vector<TListedImage> rows = ListImages(file);
    for (const TListedImage& r : rows)
      if (r.Object > 0 && (r.Type == "image" || r.Type == "stencil")) drawn[r.Object] = &r;
    for (int method = 1; method <= 4; ++method) {
      SCOPED_TRACE("method " + std::to_string(method));
      const std::vector<TFound> found = FindAll(file, method, dir);
      if (method == 1 || method == 3) {
        std::set<int> objects;
        for (const TFound& r : found) objects.insert(r.Object);
        EXPECT_EQ(objects.size(), found.size()) << "each image once";
        std::set<int> expected;
        for (const auto& [object, row] : drawn) expected.insert(object);
        EXPECT_EQ(objects, expected);
      } else {
        EXPECT_EQ(static_cast<int>(found.size()), CountImageObjects(file));
      }
      for (const TFound& r : found) {
        SCOPED_TRACE("object " + std::to_string(r.Object));
        if (auto row = drawn.find(r.Object); row != drawn.end()) {
          EXPECT_EQ(r.Width, row->second->Width);
          EXPECT_EQ(r.Height, row->second->Height);
          const bool jpeg = row->second->Encoding == "jpeg";
          EXPECT_EQ(r.Kind, jpeg && method >= 3 ? 1 : 2);
        }
        if (r.Kind == 2) {
          ASSERT_GE(r.Bytes.size(), 54u);
          EXPECT_EQ(r.Bytes.substr(0, 2), "BM");
          EXPECT_EQ(le32(r.Bytes, 18), r.Width);
          EXPECT_EQ(std::abs(le32(r.Bytes, 22)), r.Height);
        } else if (r.Kind == 1) {
          ASSERT_GE(r.Bytes.size(), 2u);
          EXPECT_EQ(uint8_t(r.Bytes[0]), 0xFF);
          EXPECT_EQ(uint8_t(r.Bytes[1]), 0xD8);
        } else {
          ADD_FAILURE() << "kind " << r.Kind;
        }
      }
    }
  }
  // The JPEG data as stored.
  const std::string file = pvltest::CorpusPath("samples/pdflatex-image.pdf");
  ASSERT_EQ(pvltest::RunCommand({"pdfimages", "-j", file, dir.File("ref")}).exitCode, 0);
  const std::vector<TFound> kept = FindAll(file, 3, dir);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Bytes, pvltest::ReadFile(dir.File("ref-000.jpg")));
}

// A search finds an image used on three pages once, and a second search
// appends its entries after the first ones (GetImageHandle counts the whole
// list); an image added from a file is written in the same way.
TEST(FacadeImages, EntriesFollowTheDocumentsList) {
  const std::string file = pvltest::CorpusPath("samples/imagemagick-images.pdf");
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(NativePathToWide(file), u""), 1);
  ASSERT_EQ(f.FindImages(), 6);
  ASSERT_EQ(f.FindImages(), 6);
  EXPECT_NE(f.GetImageHandle(12), 0);
  EXPECT_EQ(f.GetImageHandle(13), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  // The first and the seventh entry are the same picture.
  pvltest::TempDir dir;
  ASSERT_EQ(f.SelectImage(f.GetImageHandle(1)), 1);
  ASSERT_EQ(f.SaveImageToFile(NativePathToWide(dir.File("a.bmp"))), 1);
  ASSERT_EQ(f.SelectImage(f.GetImageHandle(7)), 1);
  ASSERT_EQ(f.SaveImageToFile(NativePathToWide(dir.File("b.bmp"))), 1);
  EXPECT_EQ(pvltest::ReadFile(dir.File("a.bmp")), pvltest::ReadFile(dir.File("b.bmp")));

  // A JPEG added from a file is written back as the same JPEG under method 3.
  std::string jpeg;
  {
    TPavona source;
    ASSERT_EQ(source.LoadFromFile(NativePathToWide(pvltest::CorpusPath("samples/pdflatex-image.pdf")), u""), 1);
    ASSERT_EQ(source.SetImageSearchMethod(3), 1);
    ASSERT_EQ(source.FindImages(), 1);
    ASSERT_EQ(source.SelectImage(source.GetImageHandle(1)), 1);
    ASSERT_EQ(source.SaveImageToFile(NativePathToWide(dir.File("photo.jpg"))), 1);
    jpeg = pvltest::ReadFile(dir.File("photo.jpg"));
  }
  const int32_t added = f.AddImageFromFile(NativePathToWide(dir.File("photo.jpg")), 0);
  ASSERT_NE(added, 0);
  EXPECT_EQ(f.ImageWidth(), 300);
  EXPECT_EQ(f.ImageHeight(), 200);
  EXPECT_EQ(f.GetImageHandle(13), added);
  EXPECT_EQ(f.ImageType(), 2) << "method 1 decodes";
  ASSERT_EQ(f.SetImageSearchMethod(3), 1);
  EXPECT_EQ(f.ImageType(), 1);
  ASSERT_EQ(f.SaveImageToFile(NativePathToWide(dir.File("again.jpg"))), 1);
  EXPECT_EQ(pvltest::ReadFile(dir.File("again.jpg")), jpeg);
}

// Bad input: 0 and the code, and nothing selected by accident.
TEST(FacadeImages, BadInputGivesZeroAndTheCode) {
  pvltest::TempDir dir;
  TPavona f;  // the empty document: no images
  EXPECT_EQ(f.FindImages(), 0);
  EXPECT_EQ(f.GetImageHandle(1), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.GetImageHandle(0), 0);
  EXPECT_EQ(f.GetImageHandle(-5), 0);
  // The code each call leaves (kUnchanged: it keeps what it was).
  constexpr int32_t kUnchanged = 12345;
  struct TCase {
    const char* what;
    std::function<int32_t()> call;
    int32_t code;
  };
  const std::string target = dir.File("out.bmp");
  const std::vector<TCase> noImage = {
      {"ImageWidth", [&] { return f.ImageWidth(); }, pvlErrBadArgument},
      {"ImageHeight", [&] { return f.ImageHeight(); }, pvlErrBadArgument},
      {"ImageType", [&] { return f.ImageType(); }, pvlErrBadArgument},
      {"SaveImageToFile", [&] { return f.SaveImageToFile(NativePathToWide(target)); }, pvlErrBadArgument},
      {"SelectImage(bad handle)", [&] { return f.SelectImage(0x58001234); }, kUnchanged},
      {"SelectImage(a document)", [&] { return f.SelectImage(f.SelectedDocument()); }, kUnchanged},
      {"SetImageSearchMethod(0)", [&] { return f.SetImageSearchMethod(0); }, pvlErrBadArgument},
      {"SetImageSearchMethod(5)", [&] { return f.SetImageSearchMethod(5); }, pvlErrBadArgument},
  };
  for (const TCase& c : noImage) {
    f.SetLastErrorCode(kUnchanged);
    EXPECT_EQ(c.call(), 0) << c.what;
    EXPECT_EQ(f.LastErrorCode(), c.code) << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(f.GetImageSearchMethod(), 1);

  // Unreadable image files: nothing added, nothing selected.
  pvltest::WriteFile(dir.File("text.png"), "this is not a picture");
  pvltest::WriteFile(dir.File("empty.jpg"), "");
  pvltest::WriteFile(dir.File("cut.png"), std::string("\x89PNG\r\n\x1a\n", 8));
  for (const char* name : {"text.png", "empty.jpg", "cut.png", "missing.bmp"}) {
    EXPECT_EQ(f.AddImageFromFile(NativePathToWide(dir.File(name)), 0), 0) << name;
    EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable) << name;
    EXPECT_EQ(f.ImageWidth(), 0) << name;
  }

  // An image whose data cannot be decoded: kind 0 and pvlErrUnreadable; a
  // folder that does not exist: pvlErrCannotWrite.
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /XObject << /A 4 0 R /B 5 0 R >> >> >>",
      "<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
      "/Filter /DCTDecode /Length 10 >>\nstream\nnot a jpg!\nendstream",
      "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
      "/Length 2 >>\nstream\n\x10\xF0\nendstream",
  };
  ASSERT_EQ(f.LoadFromString(pvltest::MakePdf(objects), u""), 1);
  ASSERT_EQ(f.FindImages(), 2);
  for (int32_t i = 1; i <= 2; ++i) {
    ASSERT_EQ(f.SelectImage(f.GetImageHandle(i)), 1);
    const bool broken = f.ImageWidth() == 4;
    if (broken) {
      EXPECT_EQ(f.ImageType(), 0);
      EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
      EXPECT_EQ(f.SaveImageToFile(NativePathToWide(target)), 0);
      EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
      EXPECT_FALSE(std::filesystem::exists(target));
    } else {
      EXPECT_EQ(f.ImageType(), 2);
      EXPECT_EQ(f.SaveImageToFile(NativePathToWide(dir.File("no/such/folder/x.bmp"))), 0);
      EXPECT_EQ(f.LastErrorCode(), pvlErrCannotWrite);
      ASSERT_EQ(f.SaveImageToFile(NativePathToWide(target)), 1);
      const std::string bmp = pvltest::ReadFile(target);
      ASSERT_GE(bmp.size(), 54u);
      EXPECT_EQ(le32(bmp, 18), 2);
      EXPECT_EQ(std::abs(le32(bmp, 22)), 1);
    }
  }
  // Method 3 keeps the JPEG data as stored, even data no decoder can read.
  ASSERT_EQ(f.SetImageSearchMethod(3), 1);
  ASSERT_EQ(f.FindImages(), 2);
  for (int32_t i = 3; i <= 4; ++i) {
    ASSERT_EQ(f.SelectImage(f.GetImageHandle(i)), 1);
    if (f.ImageWidth() != 4) continue;
    EXPECT_EQ(f.ImageType(), 1);
    ASSERT_EQ(f.SaveImageToFile(NativePathToWide(target)), 1);
    EXPECT_EQ(pvltest::ReadFile(target), "not a jpg!");
  }
}
