// Docking of controls into the pager as pages of their own, undocking them
// to float, and the drop end of tab reordering.
#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QRegularExpression>

#include "ui/FxOfficePager.h"

bool TFxOfficePager::DragOver(QObject* source, const QPoint& p) const {
  return source == this && PtOnTab(p.x(), p.y()) >= 0;
}

void TFxOfficePager::DragDrop(QObject* source, const QPoint& p) {
  if (!DragOver(source, p)) return;
  const int from = activeIndex_;  // the tab was selected by the press
  const int to = PtOnTab(p.x(), p.y());
  if (from < 0 || to < 0 || from == to) return;
  MoveTab(from, to);
  update();
  if (TFxOfficePage* page = GetActivePage()) page->update();
}

const TFxOfficePager::TDockClient* TFxOfficePager::DockEntry(const QWidget* client) const {
  for (const TDockClient& entry : dockClients_)
    if (entry.client && entry.client == client) return &entry;
  return nullptr;
}

TFxOfficePage* TFxOfficePager::GetPageOfDockClient(QWidget* client) const {
  if (!client || !DockEntry(client)) return nullptr;
  auto* page = qobject_cast<TFxOfficePage*>(client->parentWidget());
  return page && pages_.IndexOf(page) >= 0 ? page : nullptr;
}

QWidget* TFxOfficePager::GetDockClientAt(const QPoint& p) const {
  if (!DockSite) return nullptr;
  const int tab = PtOnTab(p.x(), p.y());
  if (tab < 0) return nullptr;
  // The page's first control, when it is docked here.
  for (QObject* child : pages_.Get(tab)->children())
    if (auto* control = qobject_cast<QWidget*>(child)) return DockEntry(control) ? control : nullptr;
  return nullptr;
}

bool TFxOfficePager::DockOver(QWidget* source, const QPoint& globalPos, QRect& dockRect) const {
  dockRect = QRect(mapToGlobal(QPoint(0, 0)), size());
  return DockSite && source && source != this && dockRect.contains(globalPos);
}

bool TFxOfficePager::DockClient(QWidget* client) {
  if (!DockSite || !client || client == this || client->isAncestorOf(this)) return false;
  if (TFxOfficePage* page = GetPageOfDockClient(client)) {
    page->SetPageIndex(GetPageCount() - 1);
    emit OnDockDrop(this, client);
    return true;
  }
  const bool form = client->isWindow();
  const bool visible = !client->isHidden();
  const QString title = client->windowTitle();
  auto* page = new TFxOfficePage(this);
  pageBeingDocked_ = page;
  try {
    page->SetFxOfficePager(this);
    DoAddDockClient(client);
  } catch (...) {
    pageBeingDocked_ = nullptr;
    delete page;
    throw;
  }
  dockClients_.push_back({client, form});
  page->SetTabVisible(visible);
  if (visible) SetActivePage(page);
  // The control fills its page (kept so as the page resizes).
  page->installEventFilter(this);
  client->setGeometry(page->rect());
  if (visible) client->show();
  if (form) page->SetCaption(title);
  pageBeingDocked_ = nullptr;
  client->installEventFilter(this);
  emit OnDockDrop(this, client);
  return true;
}

void TFxOfficePager::DoAddDockClient(QWidget* client) {
  if (!pageBeingDocked_) return;
  // A window given a parent becomes a child control.
  client->setParent(pageBeingDocked_);
}

bool TFxOfficePager::UndockClient(QWidget* client, const QPoint& globalPos) {
  TFxOfficePage* page = GetPageOfDockClient(client);
  if (!page) return false;
  pageBeingUndocked_ = page;
  client->removeEventFilter(this);
  page->removeEventFilter(this);
  const QString caption = page->TabCaption();
  const bool visible = !client->isHidden();
  const QSize size = client->size();
  std::erase_if(dockClients_, [client](const TDockClient& e) { return !e.client || e.client == client; });
  // It floats in a window of its own, where it was dropped.
  client->setParent(nullptr, Qt::Window);
  if (client->windowTitle().isEmpty()) client->setWindowTitle(caption);
  client->resize(size);
  client->move(globalPos);
  if (visible) client->show();
  DoRemoveDockClient(client);
  emit OnUnDock(this, client);
  return true;
}

void TFxOfficePager::DoRemoveDockClient(QWidget*) {
  TFxOfficePage* page = pageBeingUndocked_;
  pageBeingUndocked_ = nullptr;
  if (!page || destroying_) return;
  SelectNextPage(true);
  delete page;
}

bool TFxOfficePager::DockNotification(QObject* watched, QEvent* event) {
  if (auto* page = qobject_cast<TFxOfficePage*>(watched)) {
    if (event->type() == QEvent::Resize && pages_.IndexOf(page) >= 0)
      for (QObject* child : page->children())
        if (auto* control = qobject_cast<QWidget*>(child); control && DockEntry(control))
          control->setGeometry(page->rect());
    return false;
  }
  auto* client = qobject_cast<QWidget*>(watched);
  const TDockClient* entry = client ? DockEntry(client) : nullptr;
  TFxOfficePage* page = entry ? GetPageOfDockClient(client) : nullptr;
  if (!page) return false;
  switch (event->type()) {
    case QEvent::WindowTitleChange: {
      QString text = client->windowTitle();
      if (!entry->form) {
        const qsizetype end = text.indexOf(QRegularExpression("[\r\n]"));
        if (end >= 0) text.truncate(end);
      }
      page->SetCaption(text);
      break;
    }
    case QEvent::ShowToParent:
      page->SetTabVisible(true);
      break;
    case QEvent::HideToParent:
      page->SetTabVisible(false);
      break;
    default:
      break;
  }
  return false;
}
