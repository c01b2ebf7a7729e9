#include "ui/FxHintInfo.h"

TFxHintInfo::TFxHintInfo() : picture_(std::make_unique<TFxPicture>()) {}

void TFxHintInfo::Assign(const TFxHintInfo* source) {
  if (!source || source == this) return;
  title_ = source->title_;
  notes_ = source->notes_;
  showHelp_ = source->showHelp_;
  picture_->Assign(source->picture_.get());
  wideTitle_ = source->wideTitle_;
  wideNotes_ = source->wideNotes_;
}
