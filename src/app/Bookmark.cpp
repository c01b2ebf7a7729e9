#include "app/Bookmark.h"
#include "app/Guarded.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/Main.h"
#include "document/Pavona0813.h"

TFormBookmark::TFormBookmark(TForm1& main) : TAppDialog(main, "FormBookmark", "Add Bookmark") {
  auto* form = new QFormLayout(this);
  auto label = [this](const char* name, const char* text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    return l;
  };
  title_ = new QLineEdit(this);
  title_->setObjectName("EditBoTitle");
  form->addRow(label("LabelBoTitle", "Title:"), title_);
  color_ = new TColorSwatch(this);
  color_->setObjectName("ImageColor");
  form->addRow(label("LabelBoColor", "Color:"), color_);
  auto* dest = new QGroupBox(" Destination ", this);
  dest->setObjectName("rgBoDest");
  auto* destLayout = new QHBoxLayout(dest);
  destPage_ = new QRadioButton("page", dest);
  destUrl_ = new QRadioButton("url", dest);
  destLayout->addWidget(destPage_);
  destLayout->addWidget(destUrl_);
  form->addRow(dest);
  labelPage_ = label("LabelBoPage", "Page:");
  page_ = new QComboBox(this);
  page_->setObjectName("cmbBoPage");
  form->addRow(labelPage_, page_);
  labelLink_ = label("LabelBoLink", "Url:");
  link_ = new QLineEdit(this);
  link_->setObjectName("EditBoLink");
  form->addRow(labelLink_, link_);
  QPushButton* ok = nullptr;
  form->addRow(ButtonRow({{"ButtonOk", "Ok"}, {"ButtonCancel", "Cancel"}}, &ok));
  destPage_->setChecked(true);
  connect(destPage_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(ok, &QPushButton::clicked, this, Guarded(main_, this, &TFormBookmark::ButtonOkClick));
  updateEnabled();
}

void TFormBookmark::showEvent(QShowEvent* event) {
  FormShow();
  TAppDialog::showEvent(event);
}

void TFormBookmark::FormShow() {
  page_->clear();
  const int32_t count = main_.ViewPDF() ? main_.ViewPDF()->PageCount() : 0;
  for (int32_t p = 1; p <= count; ++p) page_->addItem(QString::number(p));
  page_->setCurrentIndex(count > 0 ? 0 : -1);
  updateEnabled();
}

void TFormBookmark::updateEnabled() {
  const bool page = destPage_->isChecked();
  labelPage_->setEnabled(page);
  page_->setEnabled(page);
  labelLink_->setEnabled(!page);
  link_->setEnabled(!page);
}

void TFormBookmark::ButtonOkClick() {
  if (AddBookmark)
    AddBookmark(title_->text(), link_->text(), page_->currentIndex() + 1, destPage_->isChecked() ? 0 : 1,
                ColorToText(color_->Color()));
  accept();
}
