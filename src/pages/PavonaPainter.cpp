#include "PavonaPainter.h"

void TPDFPainter::Reset() {
  content_.clear();
  updatesSuspended_ = 0;
  Changed();
}

void TPDFPainter::SetContent(std::string_view text) {
  content_.assign(text);
  if (!content_.empty() && content_.back() != ' ') content_ += ' ';
}

std::string TPDFPainter::GetContent() const {
  std::string out = content_;
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

void TPDFPainter::Changed() {
  if (updatesSuspended_ == 0 && OnChange) OnChange(this);
}
