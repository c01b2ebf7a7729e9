#include "app/Annotation.h"
#include "app/Guarded.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/Main.h"

namespace {

template <class T>
T* named(T* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QLabel* label(QWidget* parent, const char* name, const char* text) { return named(new QLabel(text, parent), name); }

QSpinBox* spin(QWidget* parent, const char* name) {
  auto* s = named(new QSpinBox(parent), name);
  s->setRange(0, 1000);
  return s;
}

}  // namespace

TFormAnnotation::TFormAnnotation(TForm1& main) : TAppDialog(main, "FormAnnotation", "Add Annotation") {
  auto* form = new QFormLayout(this);
  title_ = named(new QLineEdit(this), "EditAnTitle");
  form->addRow(label(this, "LabelAnTitle", "Title:"), title_);
  contents_ = named(new QLineEdit(this), "EditAnContents");
  form->addRow(label(this, "LabelAnContents", "Contents:"), contents_);
  color_ = named(new TColorSwatch(this), "ImageColor");
  form->addRow(label(this, "LabelColor", "Color:"), color_);
  show_ = named(new QCheckBox("show", this), "cbShow");
  form->addRow(show_);
  anchorLeft_ = spin(this, "SpinEditAnchorLeft");
  form->addRow(label(this, "LabelAnchorLeft", "Anchor Left:"), anchorLeft_);
  anchorTop_ = spin(this, "SpinEditAnchorRight");
  form->addRow(label(this, "LabelAnchorRight", "Anchor Top:"), anchorTop_);
  auto* bounds = named(new QGroupBox(" Set Bounds ", this), "GroupBoxBounds");
  auto* boundsForm = new QFormLayout(bounds);
  left_ = spin(bounds, "SpinEditLeft");
  right_ = spin(bounds, "SpinEditRight");
  top_ = spin(bounds, "SpinEditTop");
  bottom_ = spin(bounds, "SpinEditBottom");
  boundsForm->addRow(label(bounds, "LabelLeft", "Left:"), left_);
  boundsForm->addRow(label(bounds, "LabelRight", "Right:"), right_);
  boundsForm->addRow(label(bounds, "LabelTop", "Top:"), top_);
  boundsForm->addRow(label(bounds, "LabelBottom", "Bottom:"), bottom_);
  form->addRow(bounds);
  QPushButton* ok = nullptr;
  form->addRow(ButtonRow({{"ButtonOk", "Ok"}, {"ButtonCancel", "Cancel"}}, &ok));
  connect(ok, &QPushButton::clicked, this, Guarded(main_, this, &TFormAnnotation::ButtonOkClick));
}

void TFormAnnotation::showEvent(QShowEvent* event) {
  FormShow();
  TAppDialog::showEvent(event);
}

void TFormAnnotation::FormShow() {
  title_->setText(main_.Option("anTitle"));
  contents_->setText(main_.Option("anContents"));
  color_->SetColor(ColorFromText(main_.Option("anColor")));
  show_->setChecked(main_.AnnotationOpen);
  anchorLeft_->setValue(main_.Option("anAnchorLeft").toInt());
  anchorTop_->setValue(main_.Option("anAnchorRight").toInt());
  left_->setValue(main_.Option("anLeft").toInt());
  right_->setValue(main_.Option("anRight").toInt());
  top_->setValue(main_.Option("anTop").toInt());
  bottom_->setValue(main_.Option("anBottom").toInt());
}

void TFormAnnotation::ButtonOkClick() {
  main_.SetOption("anTitle", title_->text());
  main_.SetOption("anContents", contents_->text());
  main_.SetOption("anColor", ColorToText(color_->Color()));
  main_.AnnotationOpen = show_->isChecked();
  main_.SetOption("anAnchorLeft", QString::number(anchorLeft_->value()));
  main_.SetOption("anAnchorRight", QString::number(anchorTop_->value()));
  main_.SetOption("anLeft", QString::number(left_->value()));
  main_.SetOption("anRight", QString::number(right_->value()));
  main_.SetOption("anTop", QString::number(top_->value()));
  main_.SetOption("anBottom", QString::number(bottom_->value()));
  if (AddTextAnnotation) AddTextAnnotation();
  accept();
}
