// The record behind a control's OfficeHint: title, note lines, picture and a
// help flag.
#pragma once

#include <QStringList>
#include <memory>
#include <string>

#include "ui/FxPicture.h"

class TFxHintInfo {
public:
  TFxHintInfo();
  TFxHintInfo(const TFxHintInfo&) = delete;
  TFxHintInfo& operator=(const TFxHintInfo&) = delete;

  // Copies everything from another hint info; nothing else is a source.
  void Assign(const TFxHintInfo* source);

  const std::string& GetTitle() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }
  const QStringList& GetNotes() const { return notes_; }
  void SetNotes(const QStringList& value) { notes_ = value; }
  TFxPicture& GetPicture() { return *picture_; }
  const TFxPicture& GetPicture() const { return *picture_; }
  void SetPicture(const TFxPicture* value) { picture_->Assign(value); }
  bool GetShowHelp() const { return showHelp_; }
  void SetShowHelp(bool value) { showHelp_ = value; }
  const std::u16string& GetWideTitle() const { return wideTitle_; }
  void SetWideTitle(const std::u16string& value) { wideTitle_ = value; }
  const std::u16string& GetWideNotes() const { return wideNotes_; }
  void SetWideNotes(const std::u16string& value) { wideNotes_ = value; }

private:
  std::string title_;
  QStringList notes_;
  std::unique_ptr<TFxPicture> picture_;
  bool showHelp_ = false;
  std::u16string wideTitle_;
  std::u16string wideNotes_;
};
