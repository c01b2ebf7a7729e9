#pragma once
// What the dialog windows share: colours kept as text in the settings, the
// colour swatch that opens the colour dialog, and captions from the language
// file addressed by the dialog's and its controls' object names.

#include <QColor>
#include <QDialog>
#include <QLabel>
#include <QString>
#include <initializer_list>
#include <utility>

class QHBoxLayout;
class QPushButton;

class TIniFile;
class TForm1;

// Colours as the settings keep them: a colour name ("clBlue") or a number,
// decimal or "$00BBGGRR" hexadecimal. Unknown text gives black.
QColor ColorFromText(const QString& text);
// The name when the colour has one, else "$00BBGGRR".
QString ColorToText(const QColor& color);

// A filled rectangle showing a colour; a click opens the colour dialog and
// takes its colour on OK.
class TColorSwatch : public QLabel {
  Q_OBJECT

public:
  explicit TColorSwatch(QWidget* parent = nullptr);
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

signals:
  void colorChanged(const QColor& color);

protected:
  void mousePressEvent(QMouseEvent* event) override;

private:
  QColor color_ = Qt::black;
};

// Base of the application's dialogs: knows the main window and takes its
// captions from the language file ("FormName.Control.Caption",
// "FormName.Combo.Items.Strings[i]"; radio groups are group boxes whose
// radio buttons are the items).
class TAppDialog : public QDialog {
  Q_OBJECT

public:
  TAppDialog(TForm1& main, const QString& name, const QString& caption);
  // Replaces the captions of the dialog and its named controls with the
  // texts of the language file, where it has them.
  void ApplyLanguage(const TIniFile& language);

protected:
  // A right-aligned row of named buttons; the first one is the default and
  // the last one only closes the dialog (Cancel or Close).
  QHBoxLayout* ButtonRow(std::initializer_list<std::pair<const char*, const char*>> buttons,
                         QPushButton** first = nullptr);

  TForm1& main_;
};
