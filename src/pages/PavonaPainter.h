// The writer of one page's content stream: the content buffer, its number
// precision and the change notice through which the owner stores the text.
//
// This is the part of the painter that the page tree relies on (loading a
// stream's text, taking it back, restarting); the drawing operations build
// on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TPDFPageTree;

class TPDFPainter {
public:
  using TChangeCallback = std::function<void(TPDFPainter* sender)>;

  TPDFPainter() = default;
  TPDFPainter(const TPDFPainter&) = delete;
  TPDFPainter& operator=(const TPDFPainter&) = delete;

  // Empties the buffer and announces the change.
  void Reset();
  // The buffer becomes text; a non-empty text that does not end with a space
  // gets one, so that the next operator is separated from it.
  void SetContent(std::string_view text);
  // The whole content; a line feed is added to the copy when the buffer does
  // not end with one.
  std::string GetContent() const;
  // Calls the change callback unless updates are suspended.
  void Changed();

  int32_t GetPrecision() const { return precision_; }
  void SetPrecision(int32_t digits) { precision_ = digits; }
  void BeginUpdate() { ++updatesSuspended_; }
  void EndUpdate() {
    if (updatesSuspended_ > 0) --updatesSuspended_;
  }

  TChangeCallback OnChange;
  TPDFPageTree* Owner = nullptr;

private:
  std::string content_;
  int32_t precision_ = 0;
  int32_t updatesSuspended_ = 0;
};
