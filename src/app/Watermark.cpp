#include "app/Watermark.h"
#include "app/Guarded.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

#include "app/Main.h"

namespace {

QLabel* namedLabel(QWidget* parent, const char* name, const char* text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  return l;
}

template <class T>
T* named(T* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QSpinBox* spin(QWidget* parent, const char* name, int high) {
  auto* s = named(new QSpinBox(parent), name);
  s->setRange(0, high);  // typed values beyond the range are clamped
  return s;
}

bool isTrue(const QString& v) { return v == "1" || v.compare("true", Qt::CaseInsensitive) == 0; }

}  // namespace

TFormWatermark::TFormWatermark(TForm1& main) : TAppDialog(main, "FormWatermark", "Add Watermark") {
  auto* form = new QFormLayout(this);
  rbText_ = named(new QRadioButton("Text", this), "RBText");
  rbImage_ = named(new QRadioButton("Image", this), "RBImage");
  auto* kinds = new QHBoxLayout;
  kinds->addWidget(rbText_);
  kinds->addWidget(rbImage_);
  form->addRow(kinds);
  editText_ = named(new QLineEdit(this), "EditText");
  form->addRow(namedLabel(this, "LabelText", "Text:"), editText_);
  labelImage_ = namedLabel(this, "LabelImage", "Image Path:");
  editImage_ = named(new QLineEdit(this), "EditImage");
  buttonSelect_ = named(new QPushButton("Select", this), "ButtonSelect");
  auto* image = new QHBoxLayout;
  image->addWidget(editImage_);
  image->addWidget(buttonSelect_);
  form->addRow(labelImage_, image);
  spinAngle_ = spin(this, "SpinEditAngle", 360);
  form->addRow(namedLabel(this, "LabelAngle", "Angle:"), spinAngle_);
  fontName_ = named(new QComboBox(this), "ComboBoxFontName");
  form->addRow(namedLabel(this, "LabelFontName", "Font Name:"), fontName_);
  fontSize_ = named(new QComboBox(this), "ComboBoxFontSize");
  for (const char* s : {"8", "9", "10", "11", "12", "13", "14", "16", "18", "20", "22", "24", "26", "28", "36", "48",
                        "72", "96"})
    fontSize_->addItem(s);
  form->addRow(namedLabel(this, "LabelFontSize", "Font Size:"), fontSize_);
  bold_ = named(new QToolButton(this), "SBBold");
  italic_ = named(new QToolButton(this), "SBItalic");
  under_ = named(new QToolButton(this), "SBUnder");
  auto* styles = new QHBoxLayout;
  for (auto [b, t] : {std::pair{bold_, "B"}, {italic_, "I"}, {under_, "U"}}) {
    b->setText(t);
    b->setCheckable(true);
    styles->addWidget(b);
  }
  styles->addStretch();
  form->addRow(styles);
  renderMode_ = named(new QComboBox(this), "ComboBoxRenderMode");
  renderMode_->addItems({"Fill", "Stroke", "Fill Stroke"});
  form->addRow(namedLabel(this, "LabelRenderMode", "Render Mode:"), renderMode_);
  posHor_ = named(new QComboBox(this), "ComboBoxPosHor");
  posHor_->addItems({"Left", "Center", "Right", "Custom"});
  form->addRow(namedLabel(this, "LabelPosHor", "Horizontal Position:"), posHor_);
  posVer_ = named(new QComboBox(this), "ComboBoxPosVer");
  posVer_->addItems({"Top", "Middle", "Bottom", "Custom"});
  form->addRow(namedLabel(this, "LabelPosVer", "Vertical Position:"), posVer_);
  strokeOpacity_ = spin(this, "SpinEditStrokeOpacity", 100);
  form->addRow(namedLabel(this, "LabelOpacity", "Opacity:"), strokeOpacity_);
  posX_ = spin(this, "SpinEditPosX", 1000);
  form->addRow(namedLabel(this, "LabelPosX", "Custom Pos X:"), posX_);
  posY_ = spin(this, "SpinEditPosY", 1000);
  form->addRow(namedLabel(this, "LabelPosY", "Custom Pos Y:"), posY_);
  fontColor_ = named(new TColorSwatch(this), "ImageFontColor");
  form->addRow(namedLabel(this, "LabelFontColor", "Font Color:"), fontColor_);
  pb1_ = named(new QProgressBar(this), "pb1");
  panelCountPage_ = namedLabel(this, "PanelCountPage", "");
  auto* progress = new QHBoxLayout;
  progress->addWidget(pb1_);
  progress->addWidget(panelCountPage_);
  form->addRow(progress);
  QPushButton* ok = nullptr;
  form->addRow(ButtonRow({{"ButtonOk", "Ok"}, {"ButtonCancel", "Cancel"}}, &ok));

  connect(rbText_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(posHor_, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
  connect(posVer_, &QComboBox::currentIndexChanged, this, [this] { updateEnabled(); });
  connect(buttonSelect_, &QPushButton::clicked, this, Guarded(main_, this, [this] {
    const QString name = QFileDialog::getOpenFileName(this, buttonSelect_->text(), editImage_->text());
    if (!name.isEmpty()) editImage_->setText(name);
  }));
  connect(ok, &QPushButton::clicked, this, Guarded(main_, this, &TFormWatermark::ButtonOkClick));
}

void TFormWatermark::SetKind(const QString& kind) { kind_ = kind; }

void TFormWatermark::showEvent(QShowEvent* event) {
  FormShow();
  TAppDialog::showEvent(event);
}

void TFormWatermark::FormShow() {
  (kind_ == "image" ? rbImage_ : rbText_)->setChecked(true);
  editText_->setText(main_.Option("wmText"));
  editImage_->setText(main_.Option("wmImage"));
  spinAngle_->setValue(main_.Option("wmAngle").toInt());
  if (fontName_->count() == 0) fontName_->addItems(QFontDatabase::families());
  auto pick = [](QComboBox* c, const QString& v) {
    const int i = v.toInt();
    c->setCurrentIndex(i >= 0 && i < c->count() ? i : -1);
  };
  pick(fontName_, main_.Option("wmFontName"));
  pick(fontSize_, main_.Option("wmFontSize"));
  pick(renderMode_, main_.Option("wmRenderMode"));
  pick(posHor_, main_.Option("wmPosHor"));
  pick(posVer_, main_.Option("wmPosVer"));
  strokeOpacity_->setValue(main_.Option("wmStrokeOpacity").toInt());
  posX_->setValue(main_.Option("wmPosX").toInt());
  posY_->setValue(main_.Option("wmPosY").toInt());
  fontColor_->SetColor(ColorFromText(main_.Option("wmFontColor")));
  bold_->setChecked(isTrue(main_.Option("wmFontStyleBold")));
  italic_->setChecked(isTrue(main_.Option("wmFontStyleItalic")));
  under_->setChecked(isTrue(main_.Option("wmFontStyleUnder")));
  pb1_->setValue(0);
  panelCountPage_->clear();
  updateEnabled();
}

void TFormWatermark::updateEnabled() {
  const bool image = rbImage_->isChecked();
  labelImage_->setEnabled(image);
  editImage_->setEnabled(image);
  buttonSelect_->setEnabled(image);
  posX_->setEnabled(posHor_->currentIndex() == 3);
  posY_->setEnabled(posVer_->currentIndex() == 3);
}

void TFormWatermark::writeSettings() {
  main_.SetOption("wmText", editText_->text());
  main_.SetOption("wmImage", editImage_->text());
  main_.SetOption("wmAngle", QString::number(spinAngle_->value()));
  main_.SetOption("wmFontName", QString::number(fontName_->currentIndex()));
  main_.SetOption("wmFontSize", QString::number(fontSize_->currentIndex()));
  main_.SetOption("wmRenderMode", QString::number(renderMode_->currentIndex()));
  main_.SetOption("wmPosHor", QString::number(posHor_->currentIndex()));
  main_.SetOption("wmPosVer", QString::number(posVer_->currentIndex()));
  main_.SetOption("wmStrokeOpacity", QString::number(strokeOpacity_->value()));
  main_.SetOption("wmPosX", QString::number(posX_->value()));
  main_.SetOption("wmPosY", QString::number(posY_->value()));
  main_.SetOption("wmFontColor", ColorToText(fontColor_->Color()));
  main_.SetOption("wmFontStyleBold", bold_->isChecked() ? "1" : "0");
  main_.SetOption("wmFontStyleItalic", italic_->isChecked() ? "1" : "0");
  main_.SetOption("wmFontStyleUnder", under_->isChecked() ? "1" : "0");
}

void TFormWatermark::ButtonOkClick() {
  writeSettings();
  if (rbImage_->isChecked()) {
    if (editImage_->text().trimmed().isEmpty()) {
      // Nothing to draw: say so and stay open.
      main_.ShowMessage(main_.LanguageText("FormWatermark.StringSelectImage", "Select an image first."));
      return;
    }
    if (AddImageWatermark) AddImageWatermark();
  } else if (AddTextWatermark) {
    AddTextWatermark();
  }
  accept();
}
