// A window with an office pager of five pages (the fourth disabled), close
// buttons on the tabs and the page-list button, in the program's colour
// scheme. With --layout FILE it writes the pager's rectangles once painted,
// so that a screenshot can be checked against them; --quit-after MS ends it.
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTextStream>
#include <QTimer>

#include "ui/FxOfficePager.h"
#include "ui/FxOfficePagerStylers.h"

namespace {
QString Rect(const QRect& r) { return QString("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()); }
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString layoutFile;
  int quitAfter = 0;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--layout") layoutFile = args[i + 1];
    if (args[i] == "--quit-after") quitAfter = args[i + 1].toInt();
  }

  QWidget window(nullptr, Qt::FramelessWindowHint);
  window.setWindowTitle("Pager demo");
  window.setGeometry(0, 0, 900, 300);
  TFxOfficePagerOfficeStyler styler(&window);
  styler.SetStyle(psOffice2007Silver);
  TFxOfficePager pager(&window);
  pager.setGeometry(0, 0, 900, 300);
  pager.SetFxOfficePagerStyler(&styler);
  pager.Glow = false;
  pager.ButtonSettings().SetCloseButton(true);
  pager.ButtonSettings().SetPageListButton(true);
  pager.SetCloseOnTab(true);
  pager.TabSettings().SetWidth(150);
  pager.FreeOnClose = true;
  QMenu pageList;
  pager.PageListMenu = &pageList;
  const char* const names[] = {"Report.pdf", "Invoice 2026.pdf", "Manual.pdf", "Locked.pdf", "Notes.pdf"};
  for (const char* name : names) {
    auto* page = new TFxOfficePage(&pager);
    page->SetCaption(name);
    pager.AddPage(page);
  }
  pager.GetPage(3)->SetTabEnabled(false);
  pager.SetActivePageIndex(1);
  window.show();

  if (!layoutFile.isEmpty()) {
    QTimer::singleShot(500, [&] {
      QFile file(layoutFile);
      if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
      QTextStream out(&file);
      out << "window " << Rect(window.geometry()) << "\n";
      out << "strip " << Rect(pager.GetTabsRect()) << "\n";
      out << "buttons " << Rect(pager.GetButtonsRect()) << "\n";
      out << "page " << Rect(pager.GetActivePage()->geometry()) << "\n";
      for (int i = 0; i < pager.GetPageCount(); ++i)
        out << "tab " << i << " " << (i == pager.GetActivePageIndex() ? 1 : 0) << " " << Rect(pager.GetTabRect(i))
            << "\n";
    });
  }
  if (quitAfter > 0) QTimer::singleShot(quitAfter, &app, &QApplication::quit);
  return app.exec();
}
