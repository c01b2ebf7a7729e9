// Codes a 1-bit picture (a binary PBM, P4) as the data of a JBIG2 immediate
// generic region segment: arithmetic coding, template 0 with the nominal
// adaptive pixels, typical prediction on. The benchmark's scanned documents
// use it to get the kind of region scanners write; the engine itself has no
// JBIG2 encoder.
//   make_jbig2_generic IN.pbm OUT.bin
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/PavonaJBIG2.h"

namespace {

// The MQ encoder of T.88 Annex E (the software conventions of its E.2).
class TMQEncoder {
public:
  TMQEncoder() : out_(1, 0) {}  // out_[0] stands before the data for carries
  void Encode(uint8_t& st, int d) {
    int index = st >> 1, mps = st & 1;
    const jbig2mq::TQeRow& row = jbig2mq::kQe[index];
    const uint32_t qe = row.qe;
    A_ -= qe;
    if (d == mps) {
      if ((A_ & 0x8000) != 0) {
        C_ += qe;
        return;
      }
      if (A_ < qe)
        A_ = qe;
      else
        C_ += qe;
      index = row.nmps;
    } else {
      if (A_ < qe)
        C_ += qe;
      else
        A_ = qe;
      if (row.switchFlag) mps = 1 - mps;
      index = row.nlps;
    }
    st = static_cast<uint8_t>((index << 1) | mps);
    do {
      A_ <<= 1;
      C_ <<= 1;
      if (--CT_ == 0) ByteOut();
    } while ((A_ & 0x8000) == 0);
  }
  std::string Finish() {
    const uint32_t t = C_ + A_;
    C_ |= 0xFFFF;
    if (C_ >= t) C_ -= 0x8000;
    C_ <<= CT_;
    ByteOut();
    C_ <<= CT_;
    ByteOut();
    std::string data(out_.begin() + 1, out_.end());
    if (!data.empty() && static_cast<uint8_t>(data.back()) == 0xFF) data.pop_back();
    return data + "\xFF\xAC";
  }

private:
  void ByteOut() {
    uint8_t& b = out_.back();
    if (b == 0xFF) {
      Put(C_ >> 20, 0xFFFFF, 7);
    } else if ((C_ & 0x8000000) == 0) {
      Put(C_ >> 19, 0x7FFFF, 8);
    } else if (++b == 0xFF) {
      C_ &= 0x7FFFFFF;
      Put(C_ >> 20, 0xFFFFF, 7);
    } else {
      Put(C_ >> 19, 0x7FFFF, 8);
    }
  }
  void Put(uint32_t byte, uint32_t keep, int ct) {
    out_.push_back(static_cast<uint8_t>(byte));
    C_ &= keep;
    CT_ = ct;
  }
  uint32_t A_ = 0x8000, C_ = 0;
  int CT_ = 12;
  std::vector<uint8_t> out_;
};

void Put32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_jbig2_generic IN.pbm OUT.bin\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string magic;
  int w = 0, h = 0;
  in >> magic >> w >> h;
  in.get();
  if (magic != "P4" || w <= 0 || h <= 0) {
    std::cerr << "make_jbig2_generic: not a binary PBM\n";
    return 1;
  }
  const size_t stride = (static_cast<size_t>(w) + 7) / 8;
  std::vector<uint8_t> bits(stride * static_cast<size_t>(h));
  in.read(reinterpret_cast<char*>(bits.data()), static_cast<std::streamsize>(bits.size()));
  auto px = [&](int x, int y) -> uint32_t {
    return x >= 0 && x < w && y >= 0 && y < h ? (bits[static_cast<size_t>(y) * stride + (x >> 3)] >> (7 - (x & 7))) & 1
                                              : 0;
  };
  std::vector<uint8_t> stats(1 << 16, 0);
  TMQEncoder enc;
  int ltp = 0;
  for (int y = 0; y < h; ++y) {
    const bool same = y > 0 ? std::equal(bits.begin() + static_cast<long>(y * stride), bits.begin() + static_cast<long>((y + 1) * stride),
                                         bits.begin() + static_cast<long>((y - 1) * stride))
                            : std::all_of(bits.begin(), bits.begin() + static_cast<long>(stride), [](uint8_t b) { return b == 0; });
    enc.Encode(stats[0x9B25], (same ? 1 : 0) ^ ltp);
    ltp = same ? 1 : 0;
    if (ltp) continue;
    for (int x = 0; x < w; ++x) {
      const uint32_t cx = px(x - 1, y) | px(x - 2, y) << 1 | px(x - 3, y) << 2 | px(x - 4, y) << 3 | px(x + 3, y - 1) << 4 |
                          px(x + 2, y - 1) << 5 | px(x + 1, y - 1) << 6 | px(x, y - 1) << 7 | px(x - 1, y - 1) << 8 |
                          px(x - 2, y - 1) << 9 | px(x - 3, y - 1) << 10 | px(x + 2, y - 2) << 11 |
                          px(x + 1, y - 2) << 12 | px(x, y - 2) << 13 | px(x - 1, y - 2) << 14 | px(x - 2, y - 2) << 15;
      enc.Encode(stats[cx], static_cast<int>(px(x, y)));
    }
  }
  std::string seg;
  Put32(seg, static_cast<uint32_t>(w));
  Put32(seg, static_cast<uint32_t>(h));
  Put32(seg, 0);
  Put32(seg, 0);
  seg += '\0';      // combination operator OR
  seg += '\x08';    // arithmetic, template 0, typical prediction
  for (int8_t a : {3, -1, -3, -1, 2, -2, -2, -2}) seg += static_cast<char>(a);
  seg += enc.Finish();
  std::ofstream(argv[2], std::ios::binary) << seg;
  return 0;
}
