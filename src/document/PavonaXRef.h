// Cross-reference reader: finds the last cross-reference section of a PDF
// file and walks the chain of sections backwards (Prev, and XRefStm of hybrid
// files), reading classic tables and cross-reference streams. It keeps
// nothing itself: entries, trailers and section offsets go to its owner
// through three callbacks, newest section first.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "platform/Classes.h"

class TPDFStructure;
class TPDFDictionary;

// (object number, second field, kind, third field). Kind 'n': second = byte
// offset, third = generation; 'c': second = object stream number, third =
// index in it; 'f': second = next free number, third = generation; ' ': an
// entry of an unknown type (both fields 0).
using TPDFXRefEntryEvent = std::function<void(int32_t number, int64_t second, char kind, int32_t third)>;
// The PDF text of a trailer dictionary or of a cross-reference stream's dictionary.
using TPDFXRefTrailerEvent = std::function<void(const std::string& text)>;
// The offset of a section before it is read; its negation when it could not be read.
using TPDFXRefSectionEvent = std::function<void(int64_t offset)>;

class TPDFXRefReader {
public:
  // The stream is read from position 0 to its end; a memory stream is used in
  // place, any other stream is read into memory once. Not owned.
  explicit TPDFXRefReader(TStream& stream);
  // Reads straight from bytes that outlive the reader.
  explicit TPDFXRefReader(std::string_view bytes);

  TPDFXRefEntryEvent OnEntry;
  TPDFXRefTrailerEvent OnTrailer;
  TPDFXRefSectionEvent OnSection;
  // Set when a classic trailer carries XRefStm.
  bool HasXRefStm = false;

  // The offset that the last "startxref" gives; 0 when none is found.
  int64_t FindStartXRef();
  // Reads the section at offset and every earlier section of its chain; true
  // when the whole chain was read. A section already visited ends the chain
  // (a loop), an offset outside the file fails.
  bool ReadSection(int64_t offset);

  // Rebuilds the entries of a file whose cross-reference data cannot be read:
  // every "N G obj" that starts a line (or follows "endobj") becomes an entry
  // 'n', the last definition of a number first; then one trailer is reported:
  // the last trailer dictionary or cross-reference stream dictionary that has
  // Root, else a made-up one naming the last catalogue. False when no object
  // was found.
  bool Reconstruct();
  // True when objects are defined behind the end marker that FindStartXRef
  // went by: a later update was cut off together with its cross-reference
  // data, so the sections read describe an older version of the file.
  bool HasObjectsAfterEnd() const;

private:
  bool readSectionAt(int64_t offset, int depth);
  bool readOneSection(int64_t offset, int depth, int64_t& prev);
  // The section nearest to offset within a small window around it, for an
  // offset that misses its section by some bytes.
  bool readNearbySection(int64_t offset, int depth, int64_t& prev);
  bool readXRefTable(int64_t position, int depth, int64_t& prev);
  bool readXRefStream(int64_t position, int64_t& prev);
  // Clamped range of the file: offset below 0 reads from 0, the count is cut
  // at the end; an empty view for a count of 0 or less.
  std::string_view readRange(int64_t offset, int64_t count) const;
  // Offset value held by a trailer key: a non-negative integer inside the
  // file, else -1.
  int64_t offsetValue(TPDFDictionary* dict, std::string_view key) const;

  std::string owned_;
  std::string_view text_;
  std::set<int64_t> visited_;
  size_t endMark_ = std::string_view::npos;
};

// Position of the first data byte after the "stream" keyword at or after pos
// (white space before it skipped, then spaces and exactly one end of line);
// std::string_view::npos when no "stream" keyword stands there.
size_t SkipStreamKeyword(std::string_view text, size_t pos);
