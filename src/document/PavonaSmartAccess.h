// Direct access to PDF files without loading them: a reader that parses
// single objects on demand from the file, and a writer that writes a file
// object by object, for merging, splitting and page text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/PavonaStructure.h"
#include "platform/Classes.h"

class TSmartPDFReader {
public:
  // Reads the header, the cross-reference chain and the trailer at once; the
  // stream is not owned and must stay open while the reader lives.
  explicit TSmartPDFReader(TStream& stream);
  ~TSmartPDFReader();
  TSmartPDFReader(const TSmartPDFReader&) = delete;
  TSmartPDFReader& operator=(const TSmartPDFReader&) = delete;

  // 0 sound, 1 no header in the first 1024 bytes, 2 no cross-reference data or trailer.
  int32_t GetState() const { return state_; }
  const std::string& GetVersion() const { return version_; }
  int64_t GetStartXRef() const { return startXRef_; }
  bool IsEncrypted() const { return encrypted_; }
  bool HasXRefStream() const { return xrefStream_; }

  int32_t GetMaxObjectNumber() const { return static_cast<int32_t>(entries_.size()) - 1; }
  // The object's text after its "N G obj" head; empty when it cannot be read.
  std::string GetObjectText(int32_t number);
  // A new parse of the object into pool (the reader's own when nullptr);
  // nullptr when it cannot be read.
  TPDFObject* ReadObject(int32_t number, TPDFStructure* pool);
  // The object through the cache of the last 100 objects read.
  TPDFObject* GetCachedObject(int32_t number);
  TPDFObject* GetObject(int32_t number, TPDFStructure* pool) {
    return pool ? ReadObject(number, pool) : GetCachedObject(number);
  }
  int32_t GetGeneration(int32_t number) const;
  bool IsInObjectStream(int32_t number) const;

  TPDFDictionary* GetTrailer() const { return trailers_.empty() ? nullptr : trailers_.front(); }
  // The newest trailer's dictionary value for name, else the first older
  // trailer's (indirect values resolved through the cache).
  TPDFDictionary* GetTrailerDict(std::string_view name);
  TPDFIndRef* GetTrailerRef(std::string_view name);
  // Size, Info and Root filled in, a new second identifier (or a new ID pair),
  // and the keys of cross-reference streams and chains removed.
  void RebuildTrailer();

  TPDFStructure& GetPool() { return *pool_; }

  // Called when RebuildTrailer made a new ID pair.
  std::function<void(TSmartPDFReader& reader)> OnIdentifierCreated;
  // Called with an object stream of an encrypted file before it is decoded.
  std::function<void(int32_t number, TPDFStream* stream)> OnObjectStream;

  // Most objects kept by the object cache.
  static constexpr size_t kObjectCacheSize = 100;

private:
  struct TEntry {
    int64_t second = 0;  // offset, or object-stream number
    int32_t third = 0;   // generation, or index in the object stream
    char kind = 0;       // 'n', 'c', 'f'; 0 undefined
  };
  struct TObjectStream {
    std::string data;
    std::vector<std::pair<int32_t, int64_t>> pairs;  // (number, offset from First)
    int64_t first = 0;
  };

  bool readHeader();
  bool readChain();
  void fixNumberedFromOne();
  std::string_view objectTextView(int32_t number);
  TObjectStream* objectStream(int32_t number);
  TPDFObject* parse(std::string_view text, TPDFStructure* pool);
  TPDFObject* resolve(TPDFObject* obj);

  std::unique_ptr<TStreamBytes> bytes_;
  std::string_view text_;
  std::unique_ptr<TPDFStructure> pool_;
  int32_t state_ = 0;
  std::string version_;
  int64_t startXRef_ = 0;
  std::vector<TEntry> entries_;
  std::vector<int64_t> offsets_;  // sorted
  std::vector<TPDFDictionary*> trailers_;
  bool xrefStream_ = false;
  bool encrypted_ = false;
  std::vector<std::pair<int32_t, std::unique_ptr<TObjectStream>>> objectStreams_;
  std::vector<std::pair<int32_t, TPDFObject*>> cache_;
  int32_t resolveDepth_ = 0;
};

class TSmartPDFWriter {
public:
  explicit TSmartPDFWriter(TStream& output) : output_(output) {}

  void WriteHeader(std::string_view version);
  void WriteObject(int32_t number, int32_t generation, std::string_view text);
  // A classic table (one section from 0 when singleSection, else subsections
  // of consecutive numbers), the trailer, startxref and the end marker.
  // offset is added to every position written.
  void WriteXRefAndTrailer(TPDFDictionary* trailer, int64_t offset, bool singleSection);

private:
  struct TWritten {
    int32_t number;
    int32_t generation;
    int64_t position;
    int64_t length;
  };
  TStream& output_;
  std::vector<TWritten> written_;
};
