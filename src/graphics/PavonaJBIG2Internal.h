// Region decoding procedures shared by the JBIG2 segment readers.
#pragma once

#include "graphics/PavonaJBIG2.h"

namespace jbig2 {

struct TGenericParams {
  bool mmr = false;
  int templ = 0;
  int at[8] = {};
  const TJBIG2Bitmap* skip = nullptr;
  bool tpgdon = false;
  TArithmeticDecoder* arith = nullptr;
  TArithmeticDecoderStats* stats = nullptr;
  TStreamReader* reader = nullptr;  // MMR data
  int64_t mmrDataLength = -1;       // -1: unknown, the rows end where they end
};

void ReadGenericRegion(TJBIG2StreamDecoder& dec, TJBIG2Bitmap& bm, const TGenericParams& p);
// Decodes bm from the reader's position; afterwards the reader stands after
// dataLength bytes, or (unknown length) after the rows and an end-of-block.
void ReadMMRRegion(TJBIG2Bitmap& bm, TStreamReader& reader, int64_t dataLength);
void ReadGenericRefinementRegion(TJBIG2StreamDecoder& dec, TJBIG2Bitmap& bm, TArithmeticDecoder& ad,
                                 TArithmeticDecoderStats& stats, int templ, bool tpgron, const int8_t at[4],
                                 const TJBIG2Bitmap& ref, int32_t dx, int32_t dy);

struct TTextRegionParams {
  bool huff = false, refine = false;
  int32_t width = 0, height = 0;
  uint32_t numInstances = 0;
  int logStrips = 0;
  std::vector<const TJBIG2Bitmap*> symbols;
  int symCodeLen = 0;
  const THuffmanTable* symCodes = nullptr;  // Huffman symbol IDs; nil: fixed-length codes
  int defPixel = 0, combOp = 0;
  bool transposed = false;
  int refCorner = 1;
  int dsOffset = 0;
  const THuffmanTable *tableFS = nullptr, *tableDS = nullptr, *tableDT = nullptr, *tableRDW = nullptr,
                      *tableRDH = nullptr, *tableRDX = nullptr, *tableRDY = nullptr, *tableRSIZE = nullptr;
  int rTemplate = 0;
  int8_t rat[4] = {};
  TArithmeticDecoder* arith = nullptr;
  THuffmanDecoder* huffman = nullptr;
  TStreamReader* reader = nullptr;
  TArithmeticDecoderStats* refinementStats = nullptr;
};

std::unique_ptr<TJBIG2Bitmap> ReadTextRegion(TJBIG2StreamDecoder& dec, TTextRegionParams& p);

struct TSymbolDictionaryParams {
  bool huff = false, refAgg = false;
  std::vector<const TJBIG2Bitmap*> inputSymbols;
  uint32_t numNew = 0, numExported = 0;
  int symCodeLen = 0;
  const THuffmanTable *tableDH = nullptr, *tableDW = nullptr, *tableBMSize = nullptr, *tableAggInst = nullptr;
  int templ = 0, rTemplate = 0;
  int at[8] = {};
  int8_t rat[4] = {};
  TArithmeticDecoder* arith = nullptr;
  THuffmanDecoder* huffman = nullptr;
  TStreamReader* reader = nullptr;
  TArithmeticDecoderStats* refinementStats = nullptr;
};

void DecodeSymbolDictionary(TJBIG2StreamDecoder& dec, TSymbolDictionaryParams& p,
                            std::vector<std::unique_ptr<TJBIG2Bitmap>>& exported);

std::vector<uint32_t> DecodeGrayScaleImage(TJBIG2StreamDecoder& dec, TGenericParams g, int bpp, int32_t w, int32_t h);

}  // namespace jbig2
