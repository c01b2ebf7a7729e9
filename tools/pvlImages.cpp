// pvl images: the image XObjects of a file as the facade finds them, one line
// each, and optionally their data written into a folder:
//
//   pvl images FILE [--method 1-4] [--extract DIR] [--password P]
//
// Lines: "N WIDTH HEIGHT KIND" (KIND 1 JPEG, 2 BMP, 3 TIFF, 4 PNG, 0 when the
// data cannot be read). With --extract each image goes to DIR/image-N.EXT.
// Exit status: 0 listed, 1 wrong password, 2 unreadable file, 3 an image
// could not be written.
#include <cstdio>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "pvlCommands.h"

namespace {

using namespace pvl;

const char* extensionOf(int32_t kind) {
  switch (kind) {
    case 1: return ".jpg";
    case 2: return ".bmp";
    case 3: return ".tiff";
    case 4: return ".png";
    default: return "";
  }
}

int cmdImages(const Options& o) {
  if (o.positional.size() != 1)
    throw Failure{kExitUsage, "usage: pvl images FILE [--method 1-4] [--extract DIR] [--password P]"};
  TPavona facade;
  LoadOrFail(facade, o.positional[0], o.password);
  facade.SetImageSearchMethod(static_cast<int32_t>(o.Integer("method", 1, 1, 4)));
  const std::string folder = o.Value("extract");
  const int32_t found = facade.FindImages();
  std::string out;
  int failed = 0;
  for (int32_t i = 1; i <= found; ++i) {
    facade.SelectImage(facade.GetImageHandle(i));
    const int32_t kind = facade.ImageType();
    out += std::to_string(i) + " " + std::to_string(facade.ImageWidth()) + " " +
           std::to_string(facade.ImageHeight()) + " " + std::to_string(kind) + "\n";
    if (!folder.empty() && kind > 0) {
      const std::string name = folder + "/image-" + std::to_string(i) + extensionOf(kind);
      if (!facade.SaveImageToFile(NativePathToWide(name))) {
        std::fprintf(stderr, "cannot write %s\n", name.c_str());
        ++failed;
      }
    }
  }
  WriteOut(out);
  if (failed) throw Failure{kExitPageFailed, std::to_string(failed) + " image(s) not written"};
  return kExitOk;
}

const bool kImageCommands[] = {
    RegisterCommand("images", "images FILE [--method 1-4] [--extract DIR] [--password P]", cmdImages),
};

}  // namespace
