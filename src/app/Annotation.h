#pragma once
// The text-annotation dialog: title, contents, colour, open state, the icon's
// anchor and the pop-up's bounds, kept in the main window's settings.

#include <functional>

#include "app/FormCommon.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

class TFormAnnotation : public TAppDialog {
  Q_OBJECT

public:
  explicit TFormAnnotation(TForm1& main);
  void FormShow();
  void ButtonOkClick();
  // The command OK runs after writing the settings.
  std::function<void()> AddTextAnnotation;

protected:
  void showEvent(QShowEvent* event) override;

private:
  QLineEdit* title_;
  QLineEdit* contents_;
  TColorSwatch* color_;
  QCheckBox* show_;
  QSpinBox* anchorLeft_;
  QSpinBox* anchorTop_;
  QSpinBox* left_;
  QSpinBox* right_;
  QSpinBox* top_;
  QSpinBox* bottom_;
};
