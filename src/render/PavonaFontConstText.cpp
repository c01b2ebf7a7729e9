// /Differences arrays and PDF text strings: the parts of the font constants that need the object layer.
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "render/PavonaFontConst.h"

void ApplyDifferences(TPDFGlyphNames& names, const TPDFArray* differences) {
  if (!differences) return;
  int64_t code = 0;
  for (const TPDFObject* item : differences->Items()) {
    if (!item) continue;
    if (item->GetKind() == pdfkNumeric) {
      double v = static_cast<const TPDFNumeric*>(item)->GetValue();
      code = (v >= -1e9 && v <= 1e9) ? static_cast<int64_t>(v) : -1;
    } else if (item->GetKind() == pdfkName) {
      if (code >= 0 && code < 256) names[static_cast<size_t>(code)] = static_cast<const TPDFName*>(item)->GetValue();
      if (code < 1'000'000'000) ++code;
    }
  }
}

std::u16string PDFTextToWideString(std::string_view pdfText) {
  std::u16string out;
  if (pdfText.size() >= 2 && uint8_t(pdfText[0]) == 0xFE && uint8_t(pdfText[1]) == 0xFF) {
    out.reserve(pdfText.size() / 2);
    for (size_t i = 2; i < pdfText.size(); i += 2) {
      uint16_t unit = static_cast<uint16_t>(uint8_t(pdfText[i]) << 8);
      if (i + 1 < pdfText.size()) unit |= uint8_t(pdfText[i + 1]);
      out.push_back(static_cast<char16_t>(unit));
    }
    return out;
  }
  const char16_t* table = PDFDocEncodingTable();
  out.reserve(pdfText.size());
  for (char c : pdfText) out.push_back(table[static_cast<uint8_t>(c)]);
  return out;
}

std::string PDFTextToUTF8(std::string_view pdfText) { return WideToUTF8(PDFTextToWideString(pdfText)); }

std::string WinAnsiToPDFDocBytes(std::string_view bytes) {
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF) return std::string(bytes);
  std::string out(bytes);
  for (char& c : out) c = static_cast<char>(WinAnsiToPDFDocByte(static_cast<uint8_t>(c)));
  return out;
}
