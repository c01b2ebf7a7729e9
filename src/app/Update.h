#pragma once
// The update check: a worker thread fetches the maker's version file, keeps
// it as version.txt in the cache folder and compares its first line with the
// program's version; the "Software Update" dialog shows the result.

#include <QPointer>
#include <QThread>

#include "app/FormCommon.h"

class TFormUpdate : public TAppDialog {
  Q_OBJECT

public:
  explicit TFormUpdate(TForm1& main);
  QLabel* LabelText() const { return labelText_; }
  QLabel* LabelLink() const { return labelLink_; }
  // Centres both labels horizontally in the dialog.
  void CentreLabels();
  void ButtonCheckClick();

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QLabel* labelText_;
  QLabel* labelLink_;
};

// One check: runs the download and the comparison, touches no window, and
// hands the result to the main window on its own thread.
class TThreadUpdate : public QThread {
  Q_OBJECT

public:
  explicit TThreadUpdate(TForm1& main);

protected:
  void run() override;

private:
  TForm1& main_;
};

// Compares dotted version numbers as numbers ("1.10" is above "1.2"); a text
// that is no version number compares below every version.
int CompareVersions(const QString& a, const QString& b);
