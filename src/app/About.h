#pragma once
// The about box: product name and version, maker, and the product page link.

#include "app/FormCommon.h"

class TFormAbout : public TAppDialog {
  Q_OBJECT

public:
  explicit TFormAbout(TForm1& main);
  QLabel* LabelSite() const { return labelSite_; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QLabel* labelSite_;
};
