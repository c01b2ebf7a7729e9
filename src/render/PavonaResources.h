// Compressed program resources compiled into the binary (RCDATA): the
// predefined CMaps and the glyph list. Each resource is one zlib stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr int32_t kResourceCMapJapan1ToUnicode = 11101;  // Adobe-Japan1 CID -> UTF-16BE
constexpr int32_t kResourceCMap90mspRKSJH = 11102;       // "90msp-RKSJ-H" code -> CID
constexpr int32_t kResourceCMap90msRKSJH = 11103;        // "90ms-RKSJ-H" code -> CID
constexpr int32_t kResourceGlyphList = 15902;            // glyph name -> Unicode

// The compressed bytes of a resource; empty when there is none with that id.
std::string_view GetProgramResource(int32_t id);
// The inflated resource; empty when absent or damaged.
std::string InflateProgramResource(int32_t id);
