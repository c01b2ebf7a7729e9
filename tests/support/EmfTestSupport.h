// Enhanced metafiles written record by record for the tests: a header for a
// picture of the given size in device pixels (4 pixels per millimetre),
// the records in order, and the end record.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pvltest {

class TEmfBuilder {
public:
  TEmfBuilder(int32_t widthPx, int32_t heightPx) : width_(widthPx), height_(heightPx) {}

  static std::string U32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
  static std::string I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  static std::string U16(uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); }
  static std::string F32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return U32(v);
  }
  static std::string Points(const std::vector<std::pair<int32_t, int32_t>>& pts) {
    std::string s;
    for (auto [x, y] : pts) s += I32(x) + I32(y);
    return s;
  }
  static std::string Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return I32(l) + I32(t) + I32(r) + I32(b); }
  static uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (b << 16); }

  // One record: the body is padded to a multiple of 4 bytes.
  TEmfBuilder& Record(uint32_t type, std::string body) {
    while (body.size() % 4) body += '\0';
    records_ += U32(type) + U32(static_cast<uint32_t>(body.size() + 8)) + body;
    ++count_;
    return *this;
  }
  TEmfBuilder& Raw(const std::string& bytes) {
    records_ += bytes;
    return *this;
  }

  // Common records.
  TEmfBuilder& Pen(uint32_t index, uint32_t style, int32_t width, uint32_t color) {
    return Record(38, U32(index) + U32(style) + I32(width) + I32(0) + U32(color));
  }
  TEmfBuilder& Brush(uint32_t index, uint32_t style, uint32_t color) {
    return Record(39, U32(index) + U32(style) + U32(color) + U32(0));
  }
  TEmfBuilder& Select(uint32_t index) { return Record(37, U32(index)); }
  TEmfBuilder& Rectangle(int32_t l, int32_t t, int32_t r, int32_t b) { return Record(43, Rect(l, t, r, b)); }
  TEmfBuilder& Poly(uint32_t type, const std::vector<std::pair<int32_t, int32_t>>& pts) {
    return Record(type, Rect(0, 0, width_, height_) + U32(static_cast<uint32_t>(pts.size())) + Points(pts));
  }
  // EXTCREATEFONTINDIRECTW with the face, height (negative: em size) and weight.
  TEmfBuilder& Font(uint32_t index, const std::string& face, int32_t height, int32_t weight, bool italic = false) {
    std::string body = U32(index) + I32(height) + I32(0) + I32(0) + I32(0) + I32(weight);
    body += std::string(1, italic ? 1 : 0) + std::string(3, '\0');  // italic, underline, strikeout, charset
    body += std::string(4, '\0');                                    // precision, clip, quality, pitch
    std::string name;
    for (size_t i = 0; i < 32; ++i) name += U16(i < face.size() ? uint16_t(uint8_t(face[i])) : 0);
    return Record(82, body + name);
  }
  // EXTTEXTOUTW at (x, y) with the text (UTF-16) and no advances.
  TEmfBuilder& Text(int32_t x, int32_t y, const std::u16string& text) {
    const size_t offString = 76;
    std::string body = Rect(0, 0, -1, -1) + U32(1) + F32(1) + F32(1);  // bounds, graphics mode, scales
    body += I32(x) + I32(y) + U32(static_cast<uint32_t>(text.size())) + U32(offString) + U32(0) + Rect(0, 0, 0, 0) +
            U32(0);
    for (char16_t c : text) body += U16(c);
    return Record(84, body);
  }
  // A 24-bit bottom-up DIB (header and bits) of rows given top first as RGB.
  static std::pair<std::string, std::string> Dib24(int32_t w, int32_t h, const std::vector<uint32_t>& rgbTopFirst) {
    std::string info = U32(40) + I32(w) + I32(h) + U16(1) + U16(24) + U32(0) + U32(0) + I32(0) + I32(0) + U32(0) + U32(0);
    std::string bits;
    const size_t stride = (size_t(w) * 3 + 3) / 4 * 4;
    for (int32_t y = h - 1; y >= 0; --y) {
      std::string row;
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t c = rgbTopFirst[size_t(y) * size_t(w) + size_t(x)];
        row += char((c >> 16) & 0xFF);  // blue, green, red
        row += char((c >> 8) & 0xFF);
        row += char(c & 0xFF);
      }
      row.resize(stride, '\0');
      bits += row;
    }
    return {info, bits};
  }
  // STRETCHDIBITS of a DIB onto (x, y, w, h) with a raster operation.
  TEmfBuilder& StretchDib(int32_t x, int32_t y, int32_t w, int32_t h, const std::pair<std::string, std::string>& dib,
                          int32_t srcW, int32_t srcH, uint32_t rop = 0x00CC0020) {
    const uint32_t offBmi = 80, offBits = offBmi + uint32_t(dib.first.size());
    std::string body = Rect(x, y, x + w, y + h) + I32(x) + I32(y) + I32(0) + I32(0) + I32(srcW) + I32(srcH) + U32(offBmi) +
                       U32(uint32_t(dib.first.size())) + U32(offBits) + U32(uint32_t(dib.second.size())) + U32(0) +
                       U32(rop) + I32(w) + I32(h);
    return Record(81, body + dib.first + dib.second);
  }
  // ALPHABLEND (blend 0) or TRANSPARENTBLT (blend 1) of a DIB.
  TEmfBuilder& Blend(uint32_t type, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fourth,
                     const std::pair<std::string, std::string>& dib, int32_t srcW, int32_t srcH) {
    const uint32_t offBmi = 108, offBits = offBmi + uint32_t(dib.first.size());
    std::string body = Rect(x, y, x + w, y + h) + I32(x) + I32(y) + I32(w) + I32(h) + U32(fourth) + I32(0) + I32(0);
    body += F32(1) + F32(0) + F32(0) + F32(1) + F32(0) + F32(0) + U32(0) + U32(0);  // xform, background, usage
    body += U32(offBmi) + U32(uint32_t(dib.first.size())) + U32(offBits) + U32(uint32_t(dib.second.size())) + I32(srcW) +
            I32(srcH);
    return Record(type, body + dib.first + dib.second);
  }

  std::string Finish() {
    std::string header = Rect(0, 0, width_ - 1, height_ - 1) + Rect(0, 0, width_ * 25 - 1, height_ * 25 - 1);
    header += U32(0x464D4520) + U32(0x10000);
    const std::string eof = U32(14) + U32(20) + U32(0) + U32(16) + U32(20);
    const uint32_t total = uint32_t(88 + records_.size() + eof.size());
    header += U32(total) + U32(count_ + 2) + U16(32) + U16(0) + U32(0) + U32(0) + U32(0);
    header += I32(1000) + I32(1000) + I32(250) + I32(250);
    return U32(1) + U32(88) + header + records_ + eof;
  }

private:
  int32_t width_, height_;
  std::string records_;
  uint32_t count_ = 0;
};

}  // namespace pvltest
