// Text of a page's content without rendering: the content tokens are read
// here, only the text state and positioning operators are followed, and the
// text is written either as plain text with blanks and line breaks guessed
// from the positions (option 0) or as one row per shown string with
// position, colour, size and font (option 2).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "objects/PavonaStructure.h"
#include "render/PavonaFontCollection.h"

class TPDFExtractor {
public:
  // The page's resource dictionary and the collection the fonts load into (neither owned).
  TPDFExtractor(TPDFDictionary* resources, TPDFFontCollection* fontCollection);
  TPDFExtractor(const TPDFExtractor&) = delete;
  TPDFExtractor& operator=(const TPDFExtractor&) = delete;

  TPDFFontCollection* FontCollection;
  TPDFLookupCallback OnLookupObject;
  std::string FontColor = "#000000";

  // The page's content streams, decoded and joined with a blank before each.
  // Option 0 plain text, 2 rows; any other option writes nothing.
  std::u16string Extract(std::string_view content, int32_t option);

private:
  struct TRun;
  TPDFObject* resolve(TPDFObject* obj) const;
  std::u16string decode(std::string_view bytes) const;
  std::string displayName(const std::string& resourceName);
  void selectFont(TRun& run, const std::string& resourceName);
  // The operator families of Extract, each on the run's state.
  void setFont(TRun& run);
  void showArray(TRun& run, std::string_view content, size_t& pos);
  void showText(TRun& run, std::string_view op);
  void moveText(TRun& run, std::string_view op);
  void setColor(std::string_view op, const TRun& run);
  std::u16string spaceText(const TRun& run) const;
  void writeRow(TRun& run, double x, double y, const std::u16string& text) const;

  TPDFDictionary* resources_;
  TPDFDictionary* fontDictionary_ = nullptr;
  std::map<std::string, std::string> displayNames_;  // resource font name -> /BaseFont
};

// The clean-up of extracted text: a line holding one blank disappears, three
// line breaks in a row become one, NUL becomes a blank, blanks at both ends go.
std::u16string CleanExtractedText(std::u16string text);
