// The program: the main window, with the files named on the command line
// (each argument one file) opened in tabs.
#include <QApplication>
#include <QScreen>
#include <QStringList>

#include "app/Main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("corvane-pdf-reader");
  TForm1 form;
  QStringList files = app.arguments();
  files.removeFirst();
  // Without a window manager "maximised" means nothing: take the screen.
  if (QScreen* screen = app.primaryScreen()) form.setGeometry(screen->availableGeometry());
  form.showMaximized();
  if (!files.isEmpty()) form.OpenFiles(files);
  return app.exec();
}
