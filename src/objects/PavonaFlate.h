// Stream filters: Flate (with PNG and TIFF predictors), ASCII85, ASCIIHex and
// LZW decoding, Flate and ASCII85 encoding. Whole-buffer operations. Decoders
// never raise: they report how far they got through a status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "objects/PavonaStructure.h"

class TStream;

struct TPDFFlateParms {
  int32_t Predictor = 1;
  int32_t Colors = 1;
  int32_t BitsPerComponent = 8;
  int32_t Columns = 1;
};

struct TPDFLZWParms {
  int32_t Predictor = 1;
  int32_t Colors = 1;
  int32_t BitsPerComponent = 8;
  int32_t Columns = 1;
};

// Largest output any one decoder produces (a decompression bomb stops there
// with dsTooLarge). Default 1 GiB.
uint64_t GetMaxDecodedSize();
void SetMaxDecodedSize(uint64_t bytes);

// zlib stream at the default level; empty input or a failure gives "".
std::string CompressString(std::string_view data);
// Inflates a zlib stream. Damaged data gives the bytes decoded before the
// damage (status dsDamaged); empty input or an unusable stream gives "".
// expectedSize, when the caller knows it (an image's samples), is the size
// the output is first given, so that a large stream is not grown by
// doubling (never more than the data could inflate to); 0 when unknown.
std::string DecompressString(std::string_view data, TPDFDecodeStatus* status = nullptr, size_t expectedSize = 0);
// Inflate, then undo the PNG (10..15) or TIFF (2) predictor; expectedSize
// counts the bytes after the predictor is undone.
std::string FlateDecodeWithPredictor(std::string_view data, const TPDFFlateParms& parms,
                                     TPDFDecodeStatus* status = nullptr, size_t expectedSize = 0);
// Undoes a predictor on already inflated rows (used after Flate and LZW):
// TIFF 2 per component (1, 2, 4, 8 or 16 bits), PNG 10 and above per row
// type byte; other values of 2 and above keep the rows as they are. Whole
// rows only: a trailing partial row is dropped (dsDamaged). Parameters out of
// range (Colors not 1..32, BitsPerComponent not 1/2/4/8/16, Columns < 1)
// give an empty result with dsFailed.
std::string UndoPredictor(std::string_view data, const TPDFFlateParms& parms, TPDFDecodeStatus* status = nullptr);
uint8_t PaethPredictor(uint8_t left, uint8_t up, uint8_t upperLeft);

// Decodes up to "~>"; without it the decoded bytes are kept (dsDamaged).
std::string ASCII85DecodeString(std::string_view text, TPDFDecodeStatus* status = nullptr);
// ASCIIHexDecode data up to ">": white space skipped, an odd last digit
// followed by 0, a pair holding a letter beyond "F" gives byte 0 (dsDamaged).
std::string ASCIIHexDecodeString(std::string_view text, TPDFDecodeStatus* status = nullptr);
std::string ASCII85EncodeString(std::string_view data);
// Encodes the whole source stream (from its position) into dest.
void ASCII85EncodeStream(TStream& source, TStream& dest);

class TPDFLZWDecompressor {
public:
  TPDFLZWDecompressor() = default;
  // Bit order: true = most significant bit first (PDF), false = GIF order.
  bool MSBFirst = true;
  bool EarlyChange = false;
  // Initial code size in bits (9 for PDF; GIF uses its minimum code size + 1).
  int32_t InitialCodeSize = 9;

  std::string Decode(std::string_view data, TPDFDecodeStatus* status = nullptr);
  std::string DecodeWithParms(std::string_view data, const TPDFLZWParms& parms, TPDFDecodeStatus* status = nullptr);
};

// Runs one named filter (exact, case-sensitive name; "Fl", "A85", "AHx",
// "LZW" abbreviations accepted) with its parameter dictionary (may be
// nullptr). Names without a decoder pass the data through with dsOk.
// expectedSize as for DecompressString (used by Flate).
std::string DecodeFilter(std::string_view name, std::string_view data, const TPDFDictionary* parms,
                         TPDFDecodeStatus* status = nullptr, size_t expectedSize = 0);
