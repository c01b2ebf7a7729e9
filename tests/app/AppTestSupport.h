// What the application's command tests share: a window with a copy of a
// corpus file open in it, the dialogs' answers given in place of the user,
// and peer tools' output on the written files.
#pragma once

#include <QApplication>
#include <QString>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Main.h"

namespace apptest {

// A main window shown at 900 x 700, its first events handled.
inline std::unique_ptr<TForm1> NewWindow() {
  auto form = std::make_unique<TForm1>();
  form->resize(900, 700);
  form->show();
  QApplication::processEvents();
  return form;
}

struct TOpened {
  pvltest::TempDir dir;
  std::string file;
  std::unique_ptr<TForm1> form;
};

// A copy of a corpus file (encrypted with qpdf when a user password is
// given) opened in a new window.
inline std::unique_ptr<TOpened> Open(const char* corpusFile, const QString& userPassword = QString()) {
  auto o = std::make_unique<TOpened>();
  o->file = o->dir.File("doc.pdf");
  if (userPassword.isEmpty()) {
    pvltest::WriteFile(o->file, pvltest::ReadFile(pvltest::CorpusPath(corpusFile)));
  } else {
    const auto r = pvltest::RunCommand({"qpdf", "--encrypt", userPassword.toStdString(), "owner-pw", "256", "--",
                                        pvltest::CorpusPath(corpusFile), o->file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  o->form = NewWindow();
  if (!userPassword.isEmpty())
    o->form->InputHook = [userPassword](const QString&, const QString&, const QString&) -> std::optional<QString> {
      return userPassword;
    };
  o->form->OpenFiles({QString::fromStdString(o->file)});
  o->form->InputHook = nullptr;
  return o;
}

// The text note's options as its dialog would set them: title, contents and
// the sheet's rectangle in points; AddTextAnnotation then adds the note.
inline void SetNoteOptions(TForm1& form, const QString& title, const QString& contents, int left, int top, int right,
                           int bottom) {
  form.SetOption("anTitle", title);
  form.SetOption("anContents", contents);
  form.SetOption("anLeft", QString::number(left));
  form.SetOption("anRight", QString::number(right));
  form.SetOption("anTop", QString::number(top));
  form.SetOption("anBottom", QString::number(bottom));
}

inline std::string Output(const std::vector<std::string>& argv) {
  return pvltest::RunCommand(argv).out;
}

// The page count by qpdf; -1 for a file it cannot read.
inline int Pages(const std::string& file) {
  const std::string n = Output({"qpdf", "--show-npages", file});
  return n.empty() ? -1 : std::atoi(n.c_str());
}

// Answers the input queries in order; nothing (a cancelled query) once they
// are used up.
inline auto Answers(std::vector<QString> values) {
  auto queue = std::make_shared<std::vector<QString>>(std::move(values));
  return [queue](const QString&, const QString&, const QString&) -> std::optional<QString> {
    if (queue->empty()) return std::nullopt;
    QString v = queue->front();
    queue->erase(queue->begin());
    return v;
  };
}

}  // namespace apptest
