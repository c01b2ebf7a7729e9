#include "app/About.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "app/Main.h"

TFormAbout::TFormAbout(TForm1& main) : TAppDialog(main, "FormAbout", "About Program") {
  auto* column = new QVBoxLayout(this);
  auto* panel = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_FileIcon).pixmap(48, 48));
  panel->addWidget(icon);
  auto* texts = new QVBoxLayout;
  auto label = [this, texts](const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    texts->addWidget(l);
    return l;
  };
  label("LabelTitle", QString(TForm1::ProductName) + " " + TForm1::ProductVersion);
  label("LabelAuthor", "Corvane");
  label("LabelContact", "support@corvane.example");
  labelSite_ = label("LabelSite", main.ProductPageURL());
  labelSite_->setStyleSheet("color: blue");
  labelSite_->setCursor(Qt::PointingHandCursor);
  labelSite_->installEventFilter(this);
  label("LabelAbout", "pdf files viewer");
  panel->addLayout(texts);
  column->addLayout(panel);
  QPushButton* ok = nullptr;
  column->addLayout(ButtonRow({{"ButtonOk", "OK"}}, &ok));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

bool TFormAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == labelSite_ && event->type() == QEvent::MouseButtonPress) {
    // Only web addresses are handed to the desktop.
    const QUrl url(labelSite_->text());
    if (url.scheme() == "http" || url.scheme() == "https") QDesktopServices::openUrl(url);
    return true;
  }
  return TAppDialog::eventFilter(watched, event);
}
