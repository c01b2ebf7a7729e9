#pragma once
// The "pages as images" dialog: a page range and an image format; Split runs
// the command and leaves the dialog open for another range.

#include <functional>

#include "app/FormCommon.h"

class QLineEdit;
class QGroupBox;

class TFormSplitPageImage : public TAppDialog {
  Q_OBJECT

public:
  explicit TFormSplitPageImage(TForm1& main);
  void FormShow();
  void ButtonSplitClick();
  // Start page, end page and the format's item (0 BMP .. 7 TIFF).
  std::function<void(int32_t, int32_t, int32_t)> SavePagesAsImages;

protected:
  void showEvent(QShowEvent* event) override;

private:
  QLineEdit* start_;
  QLineEdit* end_;
  QGroupBox* type_;
};
