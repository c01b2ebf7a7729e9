// Small PDF files built by the document tests themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace pvldoc {

// Lays out "N G obj ... endobj" bodies one after the other and remembers
// where each starts.
class FileBuilder {
public:
  explicit FileBuilder(std::string header = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n") : text_(std::move(header)) {}

  // Appends an object; returns its offset.
  size_t Add(int32_t number, const std::string& body, int32_t generation = 0) {
    size_t at = text_.size();
    text_ += std::to_string(number) + " " + std::to_string(generation) + " obj\n" + body + "\nendobj\n";
    offsets_[number] = at;
    generations_[number] = generation;
    return at;
  }
  // Appends a stream object with the given dictionary entries (Length added).
  size_t AddStream(int32_t number, const std::string& entries, const std::string& data) {
    return Add(number,
               "<< " + entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
  }
  void Raw(const std::string& bytes) { text_ += bytes; }
  size_t Size() const { return text_.size(); }
  size_t OffsetOf(int32_t number) const { return offsets_.at(number); }

  // A classic table of one subsection 0..highest over the objects added so
  // far (numbers not added are free), then the trailer and startxref.
  // Returns the table's offset.
  size_t Table(const std::string& trailerEntries, const std::vector<int32_t>& only = {}) {
    size_t at = text_.size();
    text_ += "xref\n";
    if (only.empty()) {
      int32_t highest = offsets_.empty() ? 0 : offsets_.rbegin()->first;
      text_ += "0 " + std::to_string(highest + 1) + "\n";
      for (int32_t n = 0; n <= highest; ++n) text_ += entryFor(n);
    } else {
      for (int32_t n : only) text_ += std::to_string(n) + " 1\n" + entryFor(n);
    }
    text_ += "trailer\n<< " + trailerEntries + " >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
    return at;
  }
  std::string entryFor(int32_t n) const {
    char line[21];
    auto it = offsets_.find(n);
    if (it == offsets_.end()) {
      std::snprintf(line, sizeof line, "%010d %05d f\r\n", 0, n == 0 ? 65535 : 0);
    } else {
      std::snprintf(line, sizeof line, "%010zu %05d n\r\n", it->second, generations_.at(n));
    }
    return line;
  }
  const std::string& Text() const { return text_; }

private:
  std::string text_;
  std::map<int32_t, size_t> offsets_;
  std::map<int32_t, int32_t> generations_;
};

// Big-endian field of width bytes.
inline std::string Field(uint64_t value, int width) {
  std::string out(static_cast<size_t>(width), '\0');
  for (int i = width - 1; i >= 0; --i, value >>= 8) out[static_cast<size_t>(i)] = static_cast<char>(value & 0xFF);
  return out;
}

}  // namespace pvldoc
