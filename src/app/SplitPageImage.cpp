#include "app/SplitPageImage.h"
#include "app/Guarded.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/Main.h"
#include "document/Pavona0813.h"

TFormSplitPageImage::TFormSplitPageImage(TForm1& main) : TAppDialog(main, "FormSplitPageImage", "Split pages") {
  auto* form = new QFormLayout(this);
  start_ = new QLineEdit(this);
  start_->setObjectName("EditStart");
  end_ = new QLineEdit(this);
  end_->setObjectName("EditEnd");
  for (QLineEdit* e : {start_, end_}) e->setValidator(new QIntValidator(0, 1000000, e));
  auto* labelStart = new QLabel("Start:", this);
  labelStart->setObjectName("LabelStart");
  auto* labelEnd = new QLabel("End:", this);
  labelEnd->setObjectName("LabelEnd");
  form->addRow(labelStart, start_);
  form->addRow(labelEnd, end_);
  type_ = new QGroupBox(" Save as ", this);
  type_->setObjectName("rgType");
  auto* types = new QVBoxLayout(type_);
  for (const char* t : {"BMP", "JPEG", "WMF", "EMF", "EPS", "PNG", "GIF", "TIFF"})
    types->addWidget(new QRadioButton(t, type_));
  type_->findChildren<QRadioButton*>().first()->setChecked(true);
  form->addRow(type_);
  QPushButton* split = nullptr;
  form->addRow(ButtonRow({{"ButtonSplit", "Split"}, {"ButtonClose", "Close"}}, &split));
  connect(split, &QPushButton::clicked, this, Guarded(main_, this, &TFormSplitPageImage::ButtonSplitClick));
}

void TFormSplitPageImage::showEvent(QShowEvent* event) {
  FormShow();
  TAppDialog::showEvent(event);
}

void TFormSplitPageImage::FormShow() {
  start_->setText("1");
  end_->setText(QString::number(main_.ViewPDF() ? main_.ViewPDF()->PageCount() : 0));
}

void TFormSplitPageImage::ButtonSplitClick() {
  const auto items = type_->findChildren<QRadioButton*>();
  int32_t item = 0;
  for (int i = 0; i < items.size(); ++i)
    if (items[i]->isChecked()) item = i;
  if (SavePagesAsImages) SavePagesAsImages(start_->text().toInt(), end_->text().toInt(), item);
}
