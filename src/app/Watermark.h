#pragma once
// The watermark dialog: text or image, font, size, render mode, position,
// opacity and colour, kept in the main window's settings.

#include <functional>

#include "app/FormCommon.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;

class TFormWatermark : public TAppDialog {
  Q_OBJECT

public:
  explicit TFormWatermark(TForm1& main);
  // "text" or "image": the kind the menu command chose.
  void SetKind(const QString& kind);
  // Reads the settings into the controls (done on every showing).
  void FormShow();
  // The commands OK runs; the progress bar and page counter are theirs.
  std::function<void()> AddTextWatermark;
  std::function<void()> AddImageWatermark;
  QProgressBar* Progress() const { return pb1_; }
  QLabel* PageCounter() const { return panelCountPage_; }
  void ButtonOkClick();

protected:
  void showEvent(QShowEvent* event) override;

private:
  void updateEnabled();
  void writeSettings();

  QString kind_ = "text";
  QRadioButton* rbText_;
  QRadioButton* rbImage_;
  QLineEdit* editText_;
  QLabel* labelImage_;
  QLineEdit* editImage_;
  QPushButton* buttonSelect_;
  QSpinBox* spinAngle_;
  QComboBox* fontName_;
  QComboBox* fontSize_;
  QComboBox* renderMode_;
  QComboBox* posHor_;
  QComboBox* posVer_;
  QSpinBox* strokeOpacity_;
  QSpinBox* posX_;
  QSpinBox* posY_;
  TColorSwatch* fontColor_;
  QToolButton* bold_;
  QToolButton* italic_;
  QToolButton* under_;
  QProgressBar* pb1_;
  QLabel* panelCountPage_;
};
