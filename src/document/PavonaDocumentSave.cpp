// Saving a document as a full rewrite: header, binary comment line, every
// object of the table, one classic cross-reference table, the trailer,
// startxref and %%EOF. Objects of an encrypted document are encrypted with
// their object keys while they are written and restored afterwards.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "document/PavonaDocument.h"

namespace {

// Output is handed to the stream in blocks of about this size.
constexpr size_t kWriteBlock = 1 << 20;
// Free entries written for a gap between used numbers at most; a longer
// gap starts a new subsection of the cross-reference table.
constexpr int64_t kMaxFreeGap = 256;

std::string xrefLine(int64_t offset, int32_t generation, char kind) {
  std::string line = ZeroPadInt(offset, 10);
  line += ' ';
  line += ZeroPadInt(generation, 5);
  line += ' ';
  line += kind;
  line += " \n";
  return line;
}

struct TEntry {
  int32_t number = 0;
  int64_t offset = 0;
  int32_t generation = 0;
};

}  // namespace

bool TPDFDocument::SaveToStream(TStream& stream) {
  syncMetadata();
  const int32_t selected = pageTree_ ? pageTree_->GetSelectedPageNumber() : 0;
  // Numbers read from the file keep their digits: a rewrite at the
  // document's writing precision (4 decimals) would change font matrices,
  // widths and positions. Numbers are written in their shortest exact form,
  // up to the most decimals the pool writes.
  const int32_t precision = pool_->GetPrecisionDigits();
  pool_->SetPrecision(kExactNumberDigits);
  bool ok = true;
  failure_.clear();
  try {
    writeBody(stream);
  } catch (const std::exception& e) {
    ok = false;
    failure_ = e.what();
  }
  pool_->SetPrecision(precision);
  if (pageTree_ && selected >= 1) {
    try {
      pageTree_->SelectPage(selected);
    } catch (const std::exception& e) {
      ok = false;
      if (failure_.empty()) failure_ = e.what();
    }
  }
  return ok;
}

void TPDFDocument::writeBody(TStream& stream) {
  settleNewID();
  // Offsets count from where the file starts in the stream.
  const int64_t start = stream.GetPosition();
  int64_t written = 0;
  std::string out;
  auto flush = [&]() {
    stream.WriteString(out);
    written += static_cast<int64_t>(out.size());
    out.clear();
  };
  auto position = [&]() { return written + static_cast<int64_t>(out.size()); };

  // A root whose Count is missing or not a number is written with the
  // count of the pages it holds: readers that believe Count would find none.
  if (TPDFDictionary* pages = GetPages(); pages && pageTree_) {
    TPDFNumeric* count = PDFAsNumeric(pages->GetValue("Count", true));
    if (!count || !std::isfinite(count->GetValue())) {
      const int32_t counted = pageTree_->GetPageCount();
      pages->FreeKey("Count");
      pages->SetValue("Count", pool_->NewNumeric(static_cast<double>(counted)));
    }
  }

  // A page whose dictionary lost its Type or its Parent (damaged files,
  // read by repair) is written with them: other readers take a kid without
  // Type for no page, and a page without Parent inherits nothing.
  if (pageTree_ && GetPages()) {
    const int32_t count = pageTree_->GetPageCount();
    for (int32_t n = 1; n <= count; ++n) {
      TPDFDictionary* page = pageTree_->FindPage(n);
      if (!page || (page->GetValue("Type") && page->GetValue("Parent"))) continue;
      if (!page->GetValue("Type")) page->SetValue("Type", pool_->KeyName("Page"));
      TPDFDictionary* parent = pageTree_->GetFoundParent();
      if (!page->GetValue("Parent") && parent && parent != page && parent->IsIndirect())
        page->SetValue("Parent", pool_->NewIndRef(parent->GetObjectNumber(), parent->GetGeneration()));
    }
  }

  out += "%PDF-";
  out += version_;
  out += '\n';
  out += "%\xE2\xE3\xCF\xD3\n";

  // Object streams are not written: their objects are written one by one.
  // Cross-reference streams of the loaded file describe that file only.
  std::unordered_set<int32_t> skipped;
  int32_t highest = 0;
  for (const auto& record : table_) {
    if (record->Compressed) skipped.insert(record->StreamNumber);
    highest = std::max(highest, record->Number);
  }
  for (const auto& record : table_) {
    if (record->Compressed || skipped.count(record->Number)) continue;
    TPDFStream* s = PDFAsStream(record->GetObject());
    if (s && s->GetDictionary() && s->GetDictionary()->GetNameValue("Type") == "XRef") skipped.insert(record->Number);
  }
  // Written objects only: a file may number one object in the millions,
  // and the table lists runs of used numbers, not every number up to it.
  std::vector<TEntry> entries;
  entries.reserve(table_.size());

  const int32_t status = GetEncryptionStatus();
  const bool encrypt = status == esHandled && IsEncryptedAndAuthenticated();
  for (const auto& holder : table_) {
    TPDFIndObj* record = holder.get();
    if (skipped.count(record->Number)) continue;
    std::string text;
    TPDFObject* obj = record->GetObject();
    if (encrypt && obj && record->Number != encryption_.EncryptObjectNumber) {
      const std::string key = ObjectKey(record->Number, record->Generation);
      CryptObject(key, obj);
      try {
        text = record->WriteText();
      } catch (...) {
        DecryptObject(key, obj);
        throw;
      }
      DecryptObject(key, obj);
    } else {
      text = record->WriteText();
    }
    entries.push_back({record->Number, position(), std::max(record->Generation, 0)});
    out += text;
    if (out.size() >= kWriteBlock) flush();
  }

  // Short gaps (object streams not written, numbers the file left unused)
  // are free entries; a long gap ends the subsection and the next used
  // number starts one of its own, so that one object numbered in the
  // millions does not make a table of millions of lines.
  std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) { return a.number < b.number; });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const TEntry& a, const TEntry& b) { return a.number == b.number; }),
                entries.end());
  const int64_t xrefPosition = position();
  out += "xref\n";
  size_t i = 0;
  while (i < entries.size() && entries[i].number <= 0) ++i;
  // The first subsection starts at object 0, the head of the free list.
  for (bool first = true; first || i < entries.size(); first = false) {
    const int32_t runStart = first ? 0 : entries[i].number;
    int64_t runLast = first ? 0 : runStart;
    size_t runEnd = i;
    while (runEnd < entries.size() && entries[runEnd].number - runLast - 1 <= kMaxFreeGap) {
      runLast = entries[runEnd].number;
      ++runEnd;
    }
    out += std::to_string(runStart);
    out += ' ';
    out += std::to_string(runLast - runStart + 1);
    out += '\n';
    int64_t number = runStart;
    if (first) {
      out += "0000000000 65535 f \n";
      ++number;
    }
    for (; i < runEnd; ++i, ++number) {
      for (; number < entries[i].number; ++number) out += xrefLine(0, 0, 'f');
      out += xrefLine(entries[i].offset, entries[i].generation, 'n');
      if (out.size() >= kWriteBlock) flush();
    }
  }

  trailer_->FreeKey("XRefStm");
  // Size is one more than the highest number in the table that is written;
  // a smaller or larger value would not describe the new file.
  const double sizeValue = static_cast<double>(highest) + 1;
  TPDFNumeric* size = PDFAsNumeric(trailer_->GetValue("Size"));
  if (size) {
    size->SetValue(sizeValue);
  } else {
    trailer_->SetValue("Size", pool_->NewNumeric(sizeValue));
  }
  out += "trailer\n";
  std::string trailerText = trailer_->WriteText();
  if (trailerText.empty() || trailerText.back() != '\n') trailerText += '\n';
  out += trailerText;
  out += "startxref\n";
  out += std::to_string(xrefPosition);
  out += "\n%%EOF\n";
  flush();
  fileSize_ = stream.GetPosition() - start;
}

std::string TPDFDocument::SaveToString() {
  TMemoryStream stream;
  if (!SaveToStream(stream)) return std::string();
  return std::move(stream.Bytes());
}

bool TPDFDocument::SaveToFile(std::u16string_view path) {
  try {
    TMemoryStream stream;
    if (!SaveToStream(stream)) return false;
    WriteFileBytesAtomic(WidePathToNative(path), stream.Bytes());
    return true;
  } catch (const std::exception& e) {
    failure_ = e.what();
    return false;
  }
}
