// A non-visual component that makes a widget accept files dropped from the
// desktop and reports each drop with the list of paths and the drop point.
// The target's events are watched through an event filter, so other filters
// on the same widget stay in place when the component unhooks.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>

class TStDropFiles : public QObject {
  Q_OBJECT

public:
  using TStDropFilesEvent = std::function<void(TStDropFiles* sender, QPoint point)>;

  explicit TStDropFiles(QWidget* owner);
  ~TStDropFiles() override;

  QString Version() const { return "1.02"; }
  QWidget* DropTarget() const { return target_; }
  void SetDropTarget(QWidget* target);
  bool Active() const { return active_; }
  void SetActive(bool on);
  // The paths of the last drop, in the order they came.
  const QStringList& Files() const { return files_; }
  TStDropFilesEvent OnDropFiles;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QPointer<QWidget> target_;
  bool active_ = true;
  QStringList files_;
};
