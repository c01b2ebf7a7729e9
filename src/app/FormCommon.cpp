#include "app/FormCommon.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

#include "app/Main.h"
#include "platform/IniFile.h"

namespace {

// The class library's named colours, in its own ordering (BGR in the number).
const std::pair<const char*, QRgb> kNamedColors[] = {
    {"clBlack", 0x000000},  {"clMaroon", 0x800000}, {"clGreen", 0x008000}, {"clOlive", 0x808000},
    {"clNavy", 0x000080},   {"clPurple", 0x800080}, {"clTeal", 0x008080},  {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0}, {"clRed", 0xFF0000},    {"clLime", 0x00FF00},  {"clYellow", 0xFFFF00},
    {"clBlue", 0x0000FF},   {"clFuchsia", 0xFF00FF}, {"clAqua", 0x00FFFF}, {"clWhite", 0xFFFFFF},
};

QColor fromBGR(qulonglong v) { return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF)); }

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

QColor ColorFromText(const QString& text) {
  const QString t = text.trimmed();
  for (const auto& [name, rgb] : kNamedColors)
    if (t.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return QColor(rgb);
  bool ok = false;
  qulonglong v = 0;
  if (t.startsWith('$')) v = t.mid(1).toULongLong(&ok, 16);
  else if (t.startsWith("0x", Qt::CaseInsensitive)) v = t.mid(2).toULongLong(&ok, 16);
  else v = t.toULongLong(&ok, 10);
  // System colours (high byte set) have no fixed value here; they read as black.
  if (!ok || v > 0xFFFFFF) return QColor(Qt::black);
  return fromBGR(v);
}

QString ColorToText(const QColor& color) {
  const QRgb rgb = color.rgb() & 0xFFFFFF;
  for (const auto& [name, value] : kNamedColors)
    if (value == rgb) return QString::fromLatin1(name);
  const uint bgr = uint(color.red()) | (uint(color.green()) << 8) | (uint(color.blue()) << 16);
  return "$" + QString("%1").arg(bgr, 8, 16, QChar('0')).toUpper();
}

TColorSwatch::TColorSwatch(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  setFixedSize(40, 20);
  setFrameShape(QFrame::Box);
  SetColor(Qt::black);
}

void TColorSwatch::SetColor(const QColor& color) {
  color_ = color;
  QPixmap fill(size());
  fill.fill(color);
  setPixmap(fill);
}

void TColorSwatch::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QColor chosen = QColorDialog::getColor(color_, this);
  if (!chosen.isValid()) return;  // cancelled
  SetColor(chosen);
  emit colorChanged(chosen);
}

TAppDialog::TAppDialog(TForm1& main, const QString& name, const QString& caption)
    : QDialog(&main), main_(main) {
  setObjectName(name);
  setWindowTitle(caption);
  setModal(true);
}

void TAppDialog::ApplyLanguage(const TIniFile& language) {
  const QString form = objectName();
  auto read = [&](const QString& key, const QString& current) {
    return QString::fromUtf8(language.ReadString("Interface", utf8(form + "." + key), utf8(current)));
  };
  setWindowTitle(read("Caption", windowTitle()));
  for (QWidget* w : findChildren<QWidget*>()) {
    const QString name = w->objectName();
    if (name.isEmpty() || name.startsWith("qt_")) continue;
    if (auto* label = qobject_cast<QLabel*>(w); label && !qobject_cast<TColorSwatch*>(w)) {
      label->setText(read(name + ".Caption", label->text()));
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
      box->setTitle(read(name + ".Caption", box->title()));
      int i = 0;
      for (QRadioButton* r : box->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly))
        r->setText(read(QString("%1.Items.Strings[%2]").arg(name).arg(i++), r->text()));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      button->setText(read(name + ".Caption", button->text()));
    } else if (auto* combo = qobject_cast<QComboBox*>(w); combo && !combo->isEditable()) {
      for (int i = 0; i < combo->count(); ++i)
        combo->setItemText(i, read(QString("%1.Items.Strings[%2]").arg(name).arg(i), combo->itemText(i)));
    }
  }
}

QHBoxLayout* TAppDialog::ButtonRow(std::initializer_list<std::pair<const char*, const char*>> buttons,
                                   QPushButton** first) {
  auto* row = new QHBoxLayout;
  row->addStretch();
  QPushButton* last = nullptr;
  for (const auto& [name, caption] : buttons) {
    last = new QPushButton(caption, this);
    last->setObjectName(name);
    if (row->count() == 1) {
      last->setDefault(true);
      if (first) *first = last;
    }
    row->addWidget(last);
  }
  if (last && buttons.size() > 1) connect(last, &QPushButton::clicked, this, &QDialog::reject);
  return row;
}
