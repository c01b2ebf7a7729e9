#include "app/StDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

TStDropFiles::TStDropFiles(QWidget* owner) : QObject(owner) { SetDropTarget(owner); }

TStDropFiles::~TStDropFiles() {
  if (target_) target_->removeEventFilter(this);
}

void TStDropFiles::SetDropTarget(QWidget* target) {
  if (target_) {
    target_->removeEventFilter(this);
    target_->setAcceptDrops(false);
  }
  target_ = target;
  if (target_) {
    target_->installEventFilter(this);
    target_->setAcceptDrops(active_);
  }
}

void TStDropFiles::SetActive(bool on) {
  active_ = on;
  if (target_) target_->setAcceptDrops(on);
}

namespace {

// Local files of a drop; other addresses (web links) are not files.
QStringList localFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

}  // namespace

bool TStDropFiles::eventFilter(QObject* watched, QEvent* event) {
  if (watched != target_ || !active_) return QObject::eventFilter(watched, event);
  if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
    auto* e = static_cast<QDropEvent*>(event);
    if (!localFiles(e->mimeData()).isEmpty()) {
      e->acceptProposedAction();
      return true;
    }
  } else if (event->type() == QEvent::Drop) {
    auto* e = static_cast<QDropEvent*>(event);
    const QStringList files = localFiles(e->mimeData());
    if (!files.isEmpty()) {
      files_ = files;
      e->acceptProposedAction();
      if (OnDropFiles) OnDropFiles(this, e->position().toPoint());
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}
