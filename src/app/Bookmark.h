#pragma once
// The add-bookmark dialog: a title, a colour (kept between showings) and a
// destination that is either a page of the document or a web address.

#include <functional>

#include "app/FormCommon.h"

class QComboBox;
class QLineEdit;
class QRadioButton;

class TFormBookmark : public TAppDialog {
  Q_OBJECT

public:
  explicit TFormBookmark(TForm1& main);
  void FormShow();
  void ButtonOkClick();
  // Title, link, page number (1-based), destination kind (0 page, 1 url) and
  // colour as text.
  std::function<void(const QString&, const QString&, int32_t, int32_t, const QString&)> AddBookmark;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void updateEnabled();

  QLineEdit* title_;
  TColorSwatch* color_;
  QRadioButton* destPage_;
  QRadioButton* destUrl_;
  QLabel* labelPage_;
  QComboBox* page_;
  QLabel* labelLink_;
  QLineEdit* link_;
};
