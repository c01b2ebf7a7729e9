#include "CodecTestSupport.h"

#include <cctype>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "TestSupport.h"

namespace codectest {

TPnm ReadPnm(const std::string& bytes) {
  TPnm p;
  if (bytes.size() < 2 || bytes[0] != 'P') throw std::runtime_error("not a netpbm file");
  p.kind = bytes[1];
  if (p.kind == '7') {
    // PAM: "KEY value" lines up to ENDHDR.
    size_t end = bytes.find("ENDHDR\n");
    if (end == std::string::npos) throw std::runtime_error("bad PAM header");
    std::istringstream header(bytes.substr(3, end - 3));
    std::string key;
    while (header >> key) {
      if (key == "WIDTH") header >> p.width;
      else if (key == "HEIGHT") header >> p.height;
      else if (key == "DEPTH") header >> p.depth;
      else if (key == "MAXVAL") header >> p.maxval;
      else std::getline(header, key);
    }
    p.data = bytes.substr(end + 7);
    return p;
  }
  size_t pos = 2;
  auto number = [&]() {
    for (;;) {
      while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
      if (pos < bytes.size() && bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    int v = 0;
    while (pos < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[pos]))) v = v * 10 + (bytes[pos++] - '0');
    return v;
  };
  p.width = number();
  p.height = number();
  if (p.kind != '4') p.maxval = number();
  ++pos;  // the single whitespace before the raster
  p.data = bytes.substr(pos);
  return p;
}

bool ReadPpmRgb(const std::string& bytes, int& width, int& height, std::string& rgb) {
  TPnm pnm;
  try {
    pnm = ReadPnm(bytes);
  } catch (const std::exception&) {
    return false;
  }
  if (pnm.kind != '6' || pnm.width <= 0 || pnm.height <= 0) return false;
  const size_t size = size_t(pnm.width) * size_t(pnm.height) * 3;
  if (pnm.data.size() < size) return false;
  width = pnm.width;
  height = pnm.height;
  rgb = pnm.data.substr(0, size);
  return true;
}

TTiffStrip ReadSingleStripTiff(const std::string& b) {
  if (b.size() < 8) throw std::runtime_error("short TIFF");
  bool le = b[0] == 'I';
  auto u16 = [&](size_t o) {
    uint8_t x = static_cast<uint8_t>(b.at(o)), y = static_cast<uint8_t>(b.at(o + 1));
    return le ? uint32_t(x | y << 8) : uint32_t(x << 8 | y);
  };
  auto u32 = [&](size_t o) {
    return le ? (u16(o) | u16(o + 2) << 16) : (u16(o) << 16 | u16(o + 2));
  };
  size_t ifd = u32(4);
  uint32_t n = u16(ifd);
  TTiffStrip s;
  uint32_t offset = 0, count = 0;
  for (uint32_t i = 0; i < n; ++i) {
    size_t e = ifd + 2 + 12 * i;
    uint32_t tag = u16(e), type = u16(e + 2);
    uint32_t value = type == 3 ? u16(e + 8) : u32(e + 8);
    if (tag == 256) s.width = static_cast<int>(value);
    if (tag == 257) s.height = static_cast<int>(value);
    if (tag == 266) s.fillOrder = static_cast<int>(value);
    if (tag == 273) offset = value;
    if (tag == 279) count = value;
  }
  s.data = b.substr(offset, count);
  return s;
}

std::string BitsToBytes(const std::string& bits) {
  std::string out((bits.size() + 7) / 8, '\0');
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
  return out;
}

std::string BytesToBits(const std::string& bytes) {
  std::string bits;
  for (unsigned char c : bytes)
    for (int b = 7; b >= 0; --b) bits += (c >> b) & 1 ? '1' : '0';
  return bits;
}

std::string WithoutEOL(const std::string& data, bool byteAlign) {
  const std::string in = BytesToBits(data);
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    size_t j = i;
    while (j < in.size() && in[j] == '0') ++j;
    if (j - i >= 11 && j < in.size()) {
      out.append(j - i - 11, '0');
      if (byteAlign) out.append((8 - out.size() % 8) % 8, '0');
      i = j + 1;
      continue;
    }
    if (j - i >= 11) break;  // trailing fill
    out.append(in, i, j - i + (j < in.size() ? 1 : 0));
    i = j + 1;
  }
  return BitsToBytes(out);
}

std::vector<TPdfImage> PdfImages(const std::string& pdf, const std::string& filter) {
  pvltest::TempDir dir;
  // The system interpreter starts much faster than a version-manager shim.
  std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  auto r = pvltest::RunCommand(
      {python, std::string(PVL_SOURCE_DIR) + "/tests/graphics/pdf_images.py", pdf, filter, dir.Path()});
  if (r.exitCode != 0) throw std::runtime_error("pdf_images.py failed: " + r.err);
  std::vector<TPdfImage> images;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    TPdfImage img;
    words >> img.object >> img.width >> img.height;
    std::string kv;
    while (words >> kv) {
      auto eq = kv.find('=');
      if (eq == std::string::npos) continue;
      if (kv.substr(0, eq) == "globals") {
        img.hasGlobals = true;
        img.globals = pvltest::ReadFile(dir.File(std::to_string(img.object) + ".globals"));
      } else {
        img.parms[kv.substr(0, eq)] = std::stoi(kv.substr(eq + 1));
      }
    }
    img.data = pvltest::ReadFile(dir.File(std::to_string(img.object) + ".bin"));
    images.push_back(std::move(img));
  }
  return images;
}

}  // namespace codectest
