#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/About.h"
#include "app/Annotation.h"
#include "app/Bookmark.h"
#include "app/Guarded.h"
#include "app/MainPager.h"
#include "app/SplitPageImage.h"
#include "app/StDrop.h"
#include "app/ToolbarPictures.h"
#include "app/Update.h"
#include "app/Watermark.h"
#include "document/Pavona0813.h"
#include "platform/Classes.h"
#include "platform/GdiPlus.h"
#include "platform/IniFile.h"

namespace {

const double kZoomPresets[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 125, 150, 200, 300, 400, 500};

std::u16string Wide(const QString& s) { return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size()); }
std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }
QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The settings of the dialogs, with their defaults, in the order they are written.
const std::pair<const char*, const char*> kOptionDefaults[] = {
    {"wmText", ""},           {"wmImage", ""},           {"wmAngle", "0"},          {"wmFontName", "4"},
    {"wmFontSize", "14"},     {"wmRenderMode", "0"},     {"wmPosHor", "0"},         {"wmPosVer", "0"},
    {"wmWritingMode", "0"},   {"wmStrokeOpacity", "5"},  {"wmPosX", "0"},           {"wmPosY", "0"},
    {"wmOverlay", "1"},       {"wmFontColor", "clBlack"}, {"wmStrokeColor", "clBlue"}, {"wmFontStyleBold", "0"},
    {"wmFontStyleItalic", "0"}, {"wmFontStyleUnder", "0"}, {"anTitle", ""},          {"anContents", ""},
    {"anColor", "clBlue"},    {"anAnchorLeft", "0"},     {"anAnchorRight", "0"},    {"anLeft", "0"},
    {"anRight", "0"},         {"anTop", "0"},            {"anBottom", "0"},
};

// The message keys of the main window.
const char* const kMessageKeys[] = {
    "StringDocumentIsProtected", "StringEnterUserPassword",     "StringWrongPassword",       "StringDoYouWantToOpen",
    "StringExtractPages",        "StringEnterStartPage",        "StringEnterEndPage",        "StringInsertBlankPage",
    "StringInsertAtPosition",    "StringEncryptFile",           "StringEnterOwnerPassword",  "StringNoMatches",
    "StringLastVersion",         "StringNewVersionIsAvailable", "StringCantConnectToServer", "StringFileIsDamaged",
    "StringCantSaveVersionFile", "StringSaveChanges",           "StringCantSaveFile",        "StringCommandFailed",
    "StringFileWasRepaired"};

// Quotes a path for the Exec key of a desktop entry.
QString desktopQuote(const QString& path) {
  QString out = "\"";
  for (QChar c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

QString xdgFolder(const char* variable, const QString& fallback) {
  const QByteArray v = qgetenv(variable);
  return v.isEmpty() ? QDir::homePath() + "/" + fallback : QString::fromLocal8Bit(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) { FormCreate(); }

TForm1::~TForm1() { stopUpdateCheck(); }

QString TForm1::SettingsFileName() {
  return xdgFolder("XDG_CONFIG_HOME", ".config") + "/corvane-pdf-reader/corvane-pdf-reader.ini";
}

QString TForm1::LanguageFolder() { return QCoreApplication::applicationDirPath() + "/language"; }

void TForm1::FormCreate() {
  // The toolkit shares fontconfig with GDI+, which must not shut it down.
  GdiPlusKeepRunning();
  setObjectName("Form1");
  setWindowTitle(QString(ProductName) + " " + ProductVersion);
  createMenus();
  createToolBar();
  createPanels();
  formWatermark_ = new TFormWatermark(*this);
  formAnnotation_ = new TFormAnnotation(*this);
  formSplitPageImage_ = new TFormSplitPageImage(*this);
  formBookmark_ = new TFormBookmark(*this);
  formUpdate_ = new TFormUpdate(*this);
  formAbout_ = new TFormAbout(*this);
  formWatermark_->AddTextWatermark = [this] { AddTextWatermark(); };
  formWatermark_->AddImageWatermark = [this] { AddImageWatermark(); };
  formAnnotation_->AddTextAnnotation = [this] { AddTextAnnotation(); };
  formBookmark_->AddBookmark = [this](const QString& title, const QString& link, int32_t page, int32_t kind,
                                      const QString& color) { AddBookmark(title, link, page, kind, color); };
  formSplitPageImage_->SavePagesAsImages = [this](int32_t first, int32_t last, int32_t kind) {
    SavePagesAsImages(first, last, kind);
  };
  readSettings();
  LoadLanguage(languageName_);
  stDropFiles1_ = new TStDropFiles(this);
  stDropFiles1_->OnDropFiles = [this](TStDropFiles* sender, QPoint) { OpenFiles(sender->Files()); };
  // The facade instances exist from the start, so files named on the
  // command line can open before the first show.
  viewPDF_ = std::make_unique<TPavona>();
  thumbPDF_ = std::make_unique<TPavona>();
  setViewControlsEnabled(false);
}

QAction* TForm1::addAction(QMenu* menu, const char* name, const QString& caption) {
  auto* a = new QAction(caption, this);
  a->setObjectName(name);
  if (menu) menu->addAction(a);
  actions_[name] = a;
  return a;
}

QAction* TForm1::ActionByName(const QString& name) const {
  auto it = actions_.find(name);
  return it == actions_.end() ? nullptr : it->second;
}

void TForm1::createMenus() {
  auto menu = [this](const char* name, const QString& caption, QMenu* parent = nullptr) {
    QMenu* m = parent ? parent->addMenu(caption) : menuBar()->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    actions_[name] = m->menuAction();
    return m;
  };
  QMenu* file = menu("MFile", "&File");
  connect(addAction(file, "MOpen", "Open"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MOpenClick));
  actions_["MOpen"]->setShortcut(QKeySequence::Open);
  connect(addAction(file, "MClose", "Close"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MCloseClick));
  connect(addAction(file, "MCloseAll", "Close All"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MCloseAllClick));
  file->addSeparator();
  connect(addAction(file, "MSave", "Save"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MSaveClick));
  connect(addAction(file, "MSaveAs", "Save as ..."), &QAction::triggered, this, Guarded(*this, this, &TForm1::MSaveAsClick));
  connect(addAction(file, "MSaveAttach", "Save Attachment ..."), &QAction::triggered, this, Guarded(*this, this, &TForm1::MSaveAttachClick));
  file->addSeparator();
  connect(addAction(file, "MPrint", "Print ..."), &QAction::triggered, this, Guarded(*this, this, &TForm1::MPrintClick));
  file->addSeparator();
  connect(addAction(file, "MExit", "Exit"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MExitClick));

  QMenu* edit = menu("MEdit", "Edit");
  QMenu* bookmarks = menu("MBookmarks", "Bookmarks", edit);
  connect(addAction(bookmarks, "MBookmarksAdd", "Add"), &QAction::triggered, this, Guarded(*this, this, [this] {
    LoadLanguage(languageName_);
    formBookmark_->exec();
  }));
  connect(addAction(bookmarks, "MBookmarksRemoveAll", "Remove All"), &QAction::triggered, this,
          Guarded(*this, this, &TForm1::MBookmarksRemoveAllClick));
  connect(addAction(edit, "MChangeInfo", "Change Info"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MChangeInfoClick));
  edit->addSeparator();
  connect(addAction(edit, "MEncrypt", "Encrypt"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MEncryptClick));
  connect(addAction(edit, "MDecrypt", "Decrypt"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MDecryptClick));

  QMenu* document = menu("MDocument", "Document");
  connect(addAction(document, "MFirstPage", "First Page"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MFirstPageClick));
  connect(addAction(document, "MPrevPage", "Previous Page"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MPrevPageClick));
  connect(addAction(document, "MNextPage", "Next Page"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MNextPageClick));
  connect(addAction(document, "MLastPage", "Last Page"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MLastPageClick));
  actions_["MFirstPage"]->setShortcut(Qt::Key_Home);
  actions_["MPrevPage"]->setShortcut(Qt::Key_PageUp);
  actions_["MNextPage"]->setShortcut(Qt::Key_PageDown);
  actions_["MLastPage"]->setShortcut(Qt::Key_End);

  QMenu* view = menu("MView", "View");
  connect(addAction(view, "MZoomIn", "Zoom In"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MZoomInClick));
  connect(addAction(view, "MZoomOut", "Zoom Out"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MZoomOutClick));
  view->addSeparator();
  connect(addAction(view, "MActualSize", "Actual Size"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MActualSizeClick));
  connect(addAction(view, "MFitWidth", "Fit Width"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MFitWidthClick));
  connect(addAction(view, "MFitPage", "Fit Page"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MFitPageClick));
  view->addSeparator();
  connect(addAction(view, "MRotate", "Rotate"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MRotateClick));
  connect(addAction(view, "MResetRotation", "Reset Rotation"), &QAction::triggered, this,
          Guarded(*this, this, &TForm1::MResetRotationClick));
  view->addSeparator();
  connect(addAction(view, "MPreview", "Preview Panel"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MPreviewClick));
  connect(addAction(view, "MAttach", "Attachments Panel"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MAttachClick));
  actions_["MPreview"]->setCheckable(true);
  actions_["MAttach"]->setCheckable(true);

  QMenu* tools = menu("MTools", "Tools");
  QMenu* add = menu("MAdd", "Add", tools);
  QMenu* annotations = menu("MAnnotations", "Annotations", add);
  connect(addAction(annotations, "MAnText", "Text"), &QAction::triggered, this, Guarded(*this, this, [this] {
    LoadLanguage(languageName_);
    formAnnotation_->exec();
  }));
  connect(addAction(add, "MThumbnails", "Thumbnails"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MThumbnailsClick));
  QMenu* watermarks = menu("MWatermarks", "Watermarks", add);
  connect(addAction(watermarks, "MText", "Text"), &QAction::triggered, this, Guarded(*this, this, [this] {
    formWatermark_->SetKind("text");
    LoadLanguage(languageName_);
    formWatermark_->exec();
  }));
  connect(addAction(watermarks, "MImage", "Image"), &QAction::triggered, this, Guarded(*this, this, [this] {
    formWatermark_->SetKind("image");
    LoadLanguage(languageName_);
    formWatermark_->exec();
  }));
  add->addSeparator();
  connect(addAction(add, "MAttachFiles", "Attach Files"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MAttachFilesClick));
  QMenu* convert = menu("MConvert", "Convert", tools);
  connect(addAction(convert, "MConvertImage", "Images to PDF ..."), &QAction::triggered, this,
          Guarded(*this, this, &TForm1::MConvertImageClick));
  QMenu* extract = menu("MExtract", "Extract", tools);
  connect(addAction(extract, "MExtractPages", "Pages"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MExtractPagesClick));
  connect(addAction(extract, "MExtractText", "Text"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MExtractTextClick));
  connect(addAction(extract, "MExtractImages", "Images"), &QAction::triggered, this,
          Guarded(*this, this, &TForm1::MExtractImagesClick));
  QMenu* insert = menu("MInsert", "Insert", tools);
  connect(addAction(insert, "MInsertBlank", "Blank Page"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MInsertBlankClick));
  connect(addAction(insert, "MInsertText", "Text from ..."), &QAction::triggered, this, Guarded(*this, this, &TForm1::MInsertTextClick));
  insert->addSeparator();
  connect(addAction(insert, "MMerge", "Merge with ..."), &QAction::triggered, this, Guarded(*this, this, &TForm1::MMergeClick));
  connect(addAction(insert, "MMergeFiles", "Merge files ..."), &QAction::triggered, this, Guarded(*this, this, &TForm1::MMergeFilesClick));
  QMenu* split = menu("MSplit", "Split", tools);
  connect(addAction(split, "MSplitPages", "Pages"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MSplitPagesClick));
  connect(addAction(split, "MSplitPagesAsImage", "Pages As Image"), &QAction::triggered, this, Guarded(*this, this, [this] {
    LoadLanguage(languageName_);
    formSplitPageImage_->exec();
  }));

  QMenu* options = menu("MOptions", "Options");
  QMenu* language = menu("MLanguage", "Language", options);
  struct TLang {
    const char* item;
    const char* caption;
    const char* name;
  } langs[] = {{"MLangEnglish", "English", "English"},
               {"MLangRussian", "Russian", "Russian"},
               {"MLangGerman", "German", "German"},
               {"MLangSimplifiedChinese", "Simplified Chinese", "SimplifiedChinese"}};
  for (const TLang& l : langs) {
    QAction* a = addAction(language, l.item, l.caption);
    a->setCheckable(true);
    const QString name = l.name;
    connect(a, &QAction::triggered, this, Guarded(*this, this, [this, name] {
      languageName_ = name;
      LoadLanguage(name);
    }));
    if (QString(l.item) == "MLangRussian") language->addSeparator();
  }
  options->addSeparator();
  connect(addAction(options, "MAssociate", "Make Default PDF Viewer"), &QAction::triggered, this,
          Guarded(*this, this, &TForm1::MAssociateClick));

  QMenu* help = menu("MHelp", "Help");
  connect(addAction(help, "MCheckUpdate", "Check for updates ..."), &QAction::triggered, this,
          Guarded(*this, this, &TForm1::MCheckUpdateClick));
  help->addSeparator();
  connect(addAction(help, "MAbout", "About Program"), &QAction::triggered, this, Guarded(*this, this, &TForm1::MAboutClick));

}

void TForm1::createToolBar() {
  toolBar1_ = addToolBar("ToolBar1");
  toolBar1_->setObjectName("ToolBar1");
  toolBar1_->setMovable(false);
  toolBar1_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  // The window's own menu would list the toolbar by its internal name.
  setContextMenuPolicy(Qt::NoContextMenu);
  // Pictures with hints: the hints come from the language file, so no
  // button shows a word of its own.
  auto button = [this](const char* name, const char* hint, const char* command) {
    QAction* a = addAction(nullptr, name, hint);
    a->setToolTip(hint);
    a->setIcon(ToolbarPicture(name));
    toolBar1_->addAction(a);
    if (command) connect(a, &QAction::triggered, ActionByName(command), &QAction::trigger);
    return a;
  };
  button("tbOpen", "Open File", "MOpen");
  button("tbPrint", "Print", "MPrint");
  toolBar1_->addSeparator();
  button("tbFitActual", "Actual Size", "MActualSize");
  button("tbFitWidth", "Fit Width", "MFitWidth");
  button("tbFitPage", "Fit Page", "MFitPage");
  button("tbRotate", "Rotate", "MRotate");
  toolBar1_->addSeparator();
  button("tbFirstPage", "First Page", "MFirstPage");
  button("tbPrevPage", "Previous Page", "MPrevPage");
  comboBoxPage_ = new QComboBox(this);
  comboBoxPage_->setObjectName("ComboBoxPage");
  comboBoxPage_->setMinimumContentsLength(9);
  toolBar1_->addWidget(comboBoxPage_);
  connect(comboBoxPage_, &QComboBox::activated, this, Guarded(*this, this, [this](int index) { GoToPage(index + 1); }));
  button("tbNextPage", "Next Page", "MNextPage");
  button("tbLastPage", "Last Page", "MLastPage");
  toolBar1_->addSeparator();
  button("tbZoomOut", "Zoom Out", "MZoomOut");
  button("tbZoomIn", "Zoom In", "MZoomIn");
  comboBoxZoom_ = new QComboBox(this);
  comboBoxZoom_->setObjectName("ComboBoxZoom");
  comboBoxZoom_->setEditable(true);
  for (double z : kZoomPresets) comboBoxZoom_->addItem(QString::number(z));
  // Digits and one decimal point only.
  comboBoxZoom_->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]{1,4}([.][0-9]{0,2})?"), comboBoxZoom_));
  toolBar1_->addWidget(comboBoxZoom_);
  connect(comboBoxZoom_, &QComboBox::activated, this,
          Guarded(*this, this, [this](int index) { SetZoom(comboBoxZoom_->itemText(index).toDouble()); }));
  connect(comboBoxZoom_->lineEdit(), &QLineEdit::returnPressed, this, Guarded(*this, this, [this] {
    bool ok = false;
    const double z = comboBoxZoom_->currentText().toDouble(&ok);
    if (ok) SetZoom(z);
  }));
  toolBar1_->addSeparator();
  labelSearchInput_ = new QLabel("Search:", this);
  labelSearchInput_->setObjectName("LabelSearchInput");
  toolBar1_->addWidget(labelSearchInput_);
  editSearchInput_ = new QLineEdit(this);
  editSearchInput_->setObjectName("EditSearchInput");
  editSearchInput_->setMaximumWidth(160);
  toolBar1_->addWidget(editSearchInput_);
  connect(editSearchInput_, &QLineEdit::returnPressed, this, Guarded(*this, this, &TForm1::Search));
  auto searchButton = [this](const char* name, const char* hint) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setIcon(ToolbarPicture(name));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar1_->addWidget(b);
    return b;
  };
  connect(searchButton("sbSearchPre", "Search previous"), &QToolButton::clicked, this,
          Guarded(*this, this, &TForm1::sbSearchPreClick));
  connect(searchButton("sbSearchNext", "Search next"), &QToolButton::clicked, this,
          Guarded(*this, this, &TForm1::sbSearchNextClick));
}

void TForm1::createPanels() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  pager_ = new TFxOfficePager(central);
  pager_->setObjectName("FxOfficePager1");
  // One tab per document, closed by the button on the tab itself; a closed
  // tab's page is freed, and the page list reaches tabs scrolled out of view.
  pager_->ButtonSettings().SetCloseButton(true);
  pager_->ButtonSettings().SetPageListButton(true);
  pager_->SetCloseOnTab(true);
  pager_->FreeOnClose = true;
  pager_->ShowTabHint = true;
  // No hover fade: its timers would only repaint the strip behind the view.
  pager_->Glow = false;
  pagerStyler_ = new TFxOfficePagerOfficeStyler(this);
  pagerStyler_->SetStyle(psOffice2007Silver);
  pager_->SetFxOfficePagerStyler(pagerStyler_);
  // The document view is a control of its own: the pager's page body is
  // only a thin strip under the tabs.
  pager_->setFixedHeight(pager_->TabSettings().GetHeight() + 8);
  pager_->hide();
  column->addWidget(pager_);
  connect(pager_, &TFxOfficePager::OnChange, this,
          Guarded(*this, this, [this](TFxOfficePager* sender) { FxOfficePager1Change(sender->GetActivePageIndex()); }));
  connect(pager_, &TFxOfficePager::OnClosedPage, this,
          Guarded(*this, this, [this](TFxOfficePager*, int pageIndex) { FxOfficePager1ClosedPage(pageIndex); }));
  // Unsaved edits are asked for before the pager lets a tab go, whether the
  // close comes from the tab's button or from a command.
  pager_->OnClosePage = [this](TFxOfficePager*, int pageIndex, bool& allow) { allow = ConfirmClose(pageIndex); };

  auto* vertical = new QSplitter(Qt::Vertical, central);
  splitter1_ = new QSplitter(Qt::Horizontal, vertical);
  splitter1_->setObjectName("Splitter1");

  pageControl1_ = new QTabWidget(splitter1_);
  pageControl1_->setObjectName("PageControl1");
  scrollBoxPreviewArea_ = new QScrollArea(pageControl1_);
  scrollBoxPreviewArea_->setObjectName("ScrollBoxPreviewArea");
  scrollBoxPreview_ = new QWidget();
  scrollBoxPreview_->setObjectName("ScrollBoxPreview");
  scrollBoxPreview_->setAutoFillBackground(true);
  QPalette grey = scrollBoxPreview_->palette();
  grey.setColor(QPalette::Window, QColor(128, 128, 128));
  scrollBoxPreview_->setPalette(grey);
  scrollBoxPreviewArea_->setWidget(scrollBoxPreview_);
  scrollBoxPreviewArea_->setWidgetResizable(false);
  pageControl1_->addTab(scrollBoxPreviewArea_, "Preview");
  treeViewBookmarks_ = new QTreeWidget(pageControl1_);
  treeViewBookmarks_->setObjectName("TreeViewBookmarks");
  treeViewBookmarks_->setHeaderHidden(true);
  pageControl1_->addTab(treeViewBookmarks_, "Bookmarks");
  treeViewBookmarks_->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* popupAdd = new QAction("Add", treeViewBookmarks_);
  popupAdd->setObjectName("PMBookmarksAdd");
  connect(popupAdd, &QAction::triggered, this, Guarded(*this, this, [this] {
    LoadLanguage(languageName_);
    formBookmark_->exec();
  }));
  auto* popupDelete = new QAction("Delete", treeViewBookmarks_);
  popupDelete->setObjectName("PMBookmarksDelete");
  connect(popupDelete, &QAction::triggered, this, Guarded(*this, this, &TForm1::PMBookmarksDeleteClick));
  treeViewBookmarks_->addActions({popupAdd, popupDelete});
  connect(treeViewBookmarks_, &QTreeWidget::currentItemChanged, this,
          Guarded(*this, this, [this](QTreeWidgetItem* node) { TreeViewBookmarksChange(node); }));
  pageControl1_->setMinimumWidth(160);
  pageControl1_->hide();

  scrollBoxView_ = new QScrollArea(splitter1_);
  scrollBoxView_->setObjectName("ScrollBoxView");
  scrollBoxView_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  viewCanvas_ = new QWidget();
  viewCanvas_->setObjectName("ViewCanvas");
  viewCanvas_->setAutoFillBackground(true);
  viewCanvas_->setPalette(grey);
  scrollBoxView_->setWidget(viewCanvas_);
  scrollBoxView_->setWidgetResizable(true);
  scrollBoxView_->viewport()->setAutoFillBackground(true);
  scrollBoxView_->viewport()->setPalette(grey);
  scrollBoxView_->viewport()->installEventFilter(this);
  splitter1_->setStretchFactor(1, 1);
  connect(splitter1_, &QSplitter::splitterMoved, this, Guarded(*this, this, [this] {
    if (DocumentTabCount() > 0) MFitPageClick();
  }));

  panelAttach_ = new QWidget(vertical);
  panelAttach_->setObjectName("PanelAttach");
  auto* attachLayout = new QVBoxLayout(panelAttach_);
  auto* buttons = new QHBoxLayout();
  for (auto [name, caption] : {std::pair{"ButtonAttachAdd", "Add"}, std::pair{"ButtonAttachRemove", "Remove"},
                               std::pair{"ButtonAttachRemoveAll", "Remove All"}, std::pair{"ButtonAttachSave", "Save"}}) {
    auto* b = new QPushButton(caption, panelAttach_);
    b->setObjectName(name);
    b->setEnabled(false);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  attachLayout->addLayout(buttons);
  listViewAttach_ = new QTreeWidget(panelAttach_);
  listViewAttach_->setObjectName("ListViewAttach");
  listViewAttach_->setHeaderLabels(
      {"File Name", "Type", "Date Created", "Date Modyfied", "Title", "Description", "File Size"});
  int attachColumn = 0;
  for (int width : {150, 90, 115, 115, 90, 130, 70}) listViewAttach_->setColumnWidth(attachColumn++, width);
  listViewAttach_->setRootIsDecorated(false);
  listViewAttach_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  listViewAttach_->setSelectionBehavior(QAbstractItemView::SelectRows);
  connect(panelAttach_->findChild<QPushButton*>("ButtonAttachAdd"), &QPushButton::clicked, this,
          Guarded(*this, this, &TForm1::MAttachFilesClick));
  connect(panelAttach_->findChild<QPushButton*>("ButtonAttachRemove"), &QPushButton::clicked, this,
          Guarded(*this, this, [this] { RemoveAttachments(false); }));
  connect(panelAttach_->findChild<QPushButton*>("ButtonAttachRemoveAll"), &QPushButton::clicked, this,
          Guarded(*this, this, [this] { RemoveAttachments(true); }));
  connect(panelAttach_->findChild<QPushButton*>("ButtonAttachSave"), &QPushButton::clicked, this,
          Guarded(*this, this, &TForm1::MSaveAttachClick));
  attachLayout->addWidget(listViewAttach_);
  panelAttach_->hide();
  vertical->setStretchFactor(0, 1);
  column->addWidget(vertical, 1);
  setCentralWidget(central);
}

void TForm1::setViewControlsEnabled(bool on) {
  for (const char* name : {"tbFitActual", "tbFitWidth", "tbFitPage", "tbFirstPage", "tbPrevPage", "tbNextPage",
                           "tbLastPage", "tbZoomOut", "tbZoomIn", "MClose", "MCloseAll", "MFirstPage", "MPrevPage",
                           "MNextPage", "MLastPage", "MZoomIn", "MZoomOut", "MActualSize", "MFitWidth", "MFitPage"})
    actions_[name]->setEnabled(on);
  comboBoxPage_->setEnabled(on);
  comboBoxZoom_->setEnabled(on);
  labelSearchInput_->setEnabled(on);
  editSearchInput_->setEnabled(on);
  for (const char* name : {"sbSearchPre", "sbSearchNext"}) findChild<QToolButton*>(name)->setEnabled(on);
  actions_["MSplitPagesAsImage"]->setEnabled(on);
  for (const char* name : {"MSave", "MSaveAs", "MSaveAttach", "MBookmarks", "MBookmarksAdd", "MBookmarksRemoveAll",
                           "MRotate", "MResetRotation", "MAdd", "MAttachFiles", "tbRotate", "MPrint", "tbPrint",
                           "MChangeInfo", "MEncrypt", "MDecrypt", "MAnnotations", "MWatermarks", "MExtract",
                           "MInsert", "MSplitPages"})
    actions_[name]->setEnabled(on);
  actions_["MSplit"]->setEnabled(on);
}

// ---------------------------------------------------------------------------
// Settings and language

void TForm1::readSettings() {
  TIniFile ini(Utf8(SettingsFileName()));
  languageName_ = FromUtf8(ini.ReadString("Options", "Language", "English"));
  // Only a web address may stand in for the maker's site.
  const QString root = FromUtf8(ini.ReadString("Options", "WebRoot", Utf8(webRoot_)));
  if (root.startsWith("http://") || root.startsWith("https://")) webRoot_ = root;
  while (webRoot_.endsWith('/')) webRoot_.chop(1);
  options_.clear();
  for (auto [key, fallback] : kOptionDefaults) {
    std::string def = fallback;
    if (std::string(key) == "wmText") def = Utf8(windowTitle());
    options_.emplace_back(key, FromUtf8(ini.ReadString("Options", key, def)));
  }
}

void TForm1::writeSettings() const {
  try {
    QDir().mkpath(QFileInfo(SettingsFileName()).absolutePath());
    TIniFile ini(Utf8(SettingsFileName()));
    ini.WriteString("Options", "Language", Utf8(languageName_));
    for (const auto& [key, value] : options_) ini.WriteString("Options", Utf8(key), Utf8(value));
    ini.UpdateFile();
  } catch (const std::exception&) {
    // The settings stay as they were; closing goes on.
  }
}

void TForm1::LoadLanguage(const QString& language) {
  for (const char* item : {"MLangEnglish", "MLangRussian", "MLangGerman", "MLangSimplifiedChinese"})
    actions_[item]->setChecked(QString(item) == "MLang" + language);
  const TIniFile ini(Utf8(LanguageFolder() + "/" + language + ".ini"));
  auto read = [&](const QString& key, const QString& current) {
    return FromUtf8(ini.ReadString("Interface", Utf8(key), Utf8(current)));
  };
  for (auto& [name, action] : actions_) {
    if (name.startsWith("tb")) {
      // The hint is the button's only text (its picture shows no words).
      action->setToolTip(read(name + ".Hint", action->toolTip()));
      action->setText(action->toolTip());
    } else {
      action->setText(read(name + ".Caption", action->text()));
    }
  }
  labelSearchInput_->setText(read("LabelSearchInput.Caption", labelSearchInput_->text()));
  // The file dialog takes the filter as "Name (*.pdf)"; the language files
  // keep the "Name|*.pdf" form.
  const QString filter = read("OpenDialog1.Filter", "Adobe PDF Files (*.pdf)|*.pdf");
  const QStringList parts = filter.split('|');
  openFilter_ = parts.size() >= 2 ? parts[0] + " (" + parts[1] + ")" : filter;
  for (int i = 0; i < 7; ++i) {
    const QString key = QString("ListViewAttach.Columns[%1].Caption").arg(i);
    listViewAttach_->headerItem()->setText(i, read(key, listViewAttach_->headerItem()->text(i)));
  }
  for (QPushButton* b : panelAttach_->findChildren<QPushButton*>())
    b->setText(read(b->objectName() + ".Caption", b->text()));
  pageControl1_->setTabText(0, read("TabSheetPreview.Caption", pageControl1_->tabText(0)));
  pageControl1_->setTabText(1, read("TabSheetBookmarks.Caption", pageControl1_->tabText(1)));
  for (const char* key : kMessageKeys) messages_[key] = read(key, messages_.value(key));
  for (const char* name : {"sbSearchPre", "sbSearchNext"}) {
    QToolButton* b = findChild<QToolButton*>(name);
    b->setToolTip(read(QString(name) + ".Hint", b->toolTip()));
  }
  for (TAppDialog* dialog : std::initializer_list<TAppDialog*>{formWatermark_, formAnnotation_, formSplitPageImage_,
                                                               formBookmark_, formUpdate_, formAbout_})
    if (dialog) dialog->ApplyLanguage(ini);
  if (repairNote_) showRepairNotice(CurrentDocInfo());
}

QString TForm1::LanguageText(const QString& key, const QString& fallback) const {
  const TIniFile ini(Utf8(LanguageFolder() + "/" + languageName_ + ".ini"));
  return FromUtf8(ini.ReadString("Interface", Utf8(key), Utf8(fallback)));
}

QString TForm1::Option(const QString& key) const {
  for (const auto& [k, v] : options_)
    if (k == key) return v;
  return {};
}

void TForm1::SetOption(const QString& key, const QString& value) {
  for (auto& [k, v] : options_)
    if (k == key) {
      v = value;
      return;
    }
  options_.emplace_back(key, value);
}

bool TForm1::RegisterFileAssociation(const QString& executable, QString* error) {
  const QString apps = xdgFolder("XDG_DATA_HOME", ".local/share") + "/applications";
  const QString config = xdgFolder("XDG_CONFIG_HOME", ".config");
  try {
    QDir().mkpath(apps);
    QDir().mkpath(config);
    const std::string entry = Utf8("[Desktop Entry]\nType=Application\nName=" + QString(ProductName) +
                                   "\nExec=" + desktopQuote(executable) +
                                   " %F\nMimeType=application/pdf;\nTerminal=false\nCategories=Office;Viewer;\n");
    WriteFileBytesAtomic(Utf8(apps + "/corvane-pdf-reader.desktop"), entry);
    TIniFile mime(Utf8(config + "/mimeapps.list"));
    mime.WriteString("Default Applications", "application/pdf", "corvane-pdf-reader.desktop");
    mime.UpdateFile();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = QString::fromUtf8(e.what());
    return false;
  }
}

// ---------------------------------------------------------------------------
// Opening documents

void TForm1::ShowMessage(const QString& text) { showError(text); }

void TForm1::showError(const QString& text) {
  if (QApplication::platformName() == "offscreen") {
    qWarning("%s", qPrintable(text));
    return;
  }
  QMessageBox::warning(this, windowTitle(), text);
}

void ReportFailedCommand(TForm1& main, const char* what) {
  QString text = main.Message("StringCommandFailed");
  if (text.isEmpty()) text = "The command could not be completed.";
  if (what && *what) text += "\n" + QString::fromUtf8(what);
  main.ShowMessage(text);
}

void TForm1::MOpenClick() {
  const QStringList names = QFileDialog::getOpenFileNames(this, QString(), QString(), openFilter_);
  if (!names.isEmpty()) OpenFiles(names);
}

void TForm1::OpenFiles(const QStringList& names) {
  bool any = false;
  for (const QString& name : names) any = OpenFile(name) || any;
  if (!any) return;
  ActivateLastDocument();
}

bool TForm1::OpenFile(const QString& fileName) {
  const std::u16string path = Wide(QFileInfo(fileName).absoluteFilePath());
  if (viewPDF_->LoadFromFile(path, u"")) {
    AddDocumentTab(fileName);
    thumbPDF_->LoadFromFile(path, u"");
    return true;
  }
  // Only an encrypted file asks for a password; anything else is reported.
  if (viewPDF_->LastErrorCode() != pvlErrWrongPassword) {
    showError(messages_.value("StringFileIsDamaged", "The file cannot be opened as a PDF document:") + "\n" + fileName +
              failureCause(*viewPDF_));
    return false;
  }
  QString password;
  if (InputHook) {
    // Answered in place of the user (tests).
    const auto answer = InputHook(messages_.value("StringDocumentIsProtected") + "!",
                                  messages_.value("StringEnterUserPassword"), QString());
    if (!answer) return false;
    password = *answer;
  } else {
    if (QApplication::platformName() == "offscreen") return false;
    bool ok = false;
    password = QInputDialog::getText(this, messages_.value("StringDocumentIsProtected") + "!",
                                     messages_.value("StringEnterUserPassword"), QLineEdit::Password, QString(), &ok);
    if (!ok) return false;
  }
  if (viewPDF_->LoadFromFile(path, Wide(password))) {
    AddDocumentTab(fileName);
    if (!thumbPDF_->LoadFromFile(path, Wide(password))) thumbPDF_->NewDocument();  // keeps the instances in step
    return true;
  }
  showError(viewPDF_->LastErrorCode() == pvlErrWrongPassword
                ? messages_.value("StringWrongPassword", "Wrong password")
                : messages_.value("StringFileIsDamaged", "The file cannot be opened as a PDF document:") + "\n" +
                      fileName + failureCause(*viewPDF_));
  return false;
}

void TForm1::AddDocumentTab(const QString& fileName) {
  TDocInfo info;
  info.FileName = QFileInfo(fileName).fileName();
  info.Path = fileName;
  docInfos_.push_back(info);
  pager_->show();
  auto* page = new TFxOfficePage(pager_);
  page->SetCaption(info.FileName);
  page->TabHint = fileName;
  pager_->AddPage(page);
}

void TForm1::ActivateLastDocument() {
  const int last = pager_->GetPageCount() - 1;
  // Selecting the tab that is already active reports no change; the new
  // documents still have to be shown.
  if (pager_->GetActivePageIndex() == last)
    FxOfficePager1Change(last);
  else
    pager_->SetActivePageIndex(last);
  setViewControlsEnabled(true);
  MFitPageClick();
  // The tab strip that the first tab shows takes height from the view only
  // once the layout has run: fit again then.
  QTimer::singleShot(0, this, [this] {
    if (DocumentTabCount() > 0) MFitPageClick();
  });
  scrollBoxView_->setFocus();
}

int TForm1::DocumentTabCount() const { return pager_->GetPageCount(); }
int TForm1::ActiveTab() const { return pager_->GetActivePageIndex(); }

const TDocInfo* TForm1::CurrentDocInfo() const {
  const int i = pager_->GetActivePageIndex();
  return i >= 0 && i < static_cast<int>(docInfos_.size()) ? &docInfos_[static_cast<size_t>(i)] : nullptr;
}

void TForm1::FillPageList() {
  comboBoxPage_->clear();
  const int32_t count = viewPDF_->PageCount();
  for (int32_t n = 1; n <= count; ++n) comboBoxPage_->addItem(QString("%1 / %2").arg(n).arg(count));
  comboBoxPage_->setCurrentIndex(count > 0 ? 0 : -1);
}

void TForm1::showRepairNotice(const TDocInfo* info) {
  // A file read by scanning, its cross-reference data damaged or missing,
  // may have lost objects: the user learns that while its tab is shown. The
  // status bar says it without stopping the user (or a batch of files); a
  // label of its own keeps it there while menus show their tips.
  const bool repaired = info && viewPDF_->DocumentWasRepaired();
  if (!repaired && !repairNote_) return;
  if (!repairNote_) {
    repairNote_ = new QLabel(this);
    repairNote_->setObjectName("LabelFileRepaired");
    statusBar()->addWidget(repairNote_, 1);
  }
  repairNote_->setText(repaired
                           ? info->FileName + ": " +
                                 messages_.value("StringFileWasRepaired", "The file was damaged and has been repaired.")
                           : QString());
  statusBar()->setVisible(repaired);
}

void TForm1::FxOfficePager1Change(int index) {
  // Matches belong to the document they were found in.
  searchMatches_.clear();
  searchIndex_ = 0;
  if (closingAll_ || index < 0 || index >= static_cast<int>(docInfos_.size())) return;
  viewPDF_->SelectDocument(viewPDF_->GetDocumentHandle(index + 2));
  thumbPDF_->SelectDocument(thumbPDF_->GetDocumentHandle(index + 2));
  FillPageList();
  const TDocInfo& info = docInfos_[static_cast<size_t>(index)];
  showRepairNotice(&info);
  currentPage_ = info.Page;
  zoom_ = info.Zoom;
  comboBoxPage_->setCurrentIndex(currentPage_ - 1);
  ApplyZoom();
  ClearThumbnails();
  LoadBookmarks();
  LoadAttachments();
  if (pageControl1_->isVisible() && pageControl1_->currentIndex() == 0)
    QTimer::singleShot(0, this, &TForm1::BuildThumbnails);
}

void TForm1::MCloseClick() {
  if (pager_->GetActivePageIndex() >= 0) pager_->CloseActivePage();
}

void TForm1::MCloseAllClick() {
  closingAll_ = true;
  bool kept = false;
  while (pager_->GetPageCount() > 0)
    if (!CloseTab(pager_->GetPageCount() - 1)) {
      kept = true;  // the user kept this one
      break;
    }
  closingAll_ = false;
  // Tab switches went unheard while closing: show the tab that stayed.
  if (kept) FxOfficePager1Change(pager_->GetActivePageIndex());
}

bool TForm1::CloseTab(int index) {
  if (index < 0 || index >= pager_->GetPageCount()) return false;
  // The pager closes its active tab; the user sees the document that the
  // unsaved-edits question is about.
  if (pager_->GetActivePageIndex() != index) pager_->SetActivePageIndex(index);
  if (pager_->GetActivePageIndex() != index) return false;
  const int before = pager_->GetPageCount();
  pager_->CloseActivePage();  // asks through OnClosePage, then FxOfficePager1ClosedPage
  return pager_->GetPageCount() < before;
}

void TForm1::FxOfficePager1ClosedPage(int pageIndex) {
  if (pageIndex < 0 || pageIndex >= static_cast<int>(docInfos_.size())) return;
  ++thumbnailGeneration_;  // a build under way drew the documents as they were
  docInfos_.erase(docInfos_.begin() + pageIndex);
  viewPDF_->RemoveDocument(viewPDF_->GetDocumentHandle(pageIndex + 2));
  thumbPDF_->RemoveDocument(thumbPDF_->GetDocumentHandle(pageIndex + 2));
  const int count = pager_->GetPageCount();
  if (count > 0) {
    // The last remaining tab takes over; its change event shows it.
    if (pager_->GetActivePageIndex() != count - 1) pager_->SetActivePageIndex(count - 1);
    return;
  }
  showRepairNotice(nullptr);
  pager_->hide();
  pageControl1_->hide();
  actions_["MPreview"]->setChecked(false);
  comboBoxPage_->clear();
  treeViewBookmarks_->clear();
  listViewAttach_->clear();
  for (QPushButton* b : panelAttach_->findChildren<QPushButton*>()) b->setEnabled(false);
  ClearThumbnails();
  delete pageImage_;
  delete pageShadow_;
  viewCanvas_->setMinimumSize(0, 0);
  setViewControlsEnabled(false);
}

// ---------------------------------------------------------------------------
// Page view

void TForm1::ShowPage(int32_t page) {
  if (!CurrentDocInfo()) return;
  viewPDF_->SelectPage(page);
  if (!pageShadow_) {
    pageShadow_ = new QLabel(viewCanvas_);
    pageShadow_->setObjectName("ImageShadow");
    pageShadow_->setAutoFillBackground(true);
    QPalette black = pageShadow_->palette();
    black.setColor(QPalette::Window, Qt::black);
    pageShadow_->setPalette(black);
  }
  if (!pageImage_) {
    pageImage_ = new QLabel(viewCanvas_);
    pageImage_->setObjectName("ImagePage");
  }
  RenderPage(page);
}

void TForm1::RenderPage(int32_t page) {
  TMemoryStream stream;
  viewPDF_->SetRenderScale(zoom_ / 100);
  QImage image;
  if (viewPDF_->RenderPageToStream(renderDPI_, page, pofBMP, stream) || stream.GetSize() > 0)
    image.loadFromData(reinterpret_cast<const uchar*>(stream.Bytes().data()),
                       static_cast<qsizetype>(stream.Bytes().size()), "BMP");
  const int viewWidth = scrollBoxView_->viewport()->width();
  const int w = image.width(), h = image.height();
  const int left = w + 22 < viewWidth ? (viewWidth - (w + 22)) / 2 : 8;
  pageImage_->setPixmap(QPixmap::fromImage(image));
  pageImage_->setGeometry(left, topMargin_, w, h);
  pageShadow_->setGeometry(left + 4, topMargin_ + 4, w, h);
  pageShadow_->setVisible(w > 0 && h > 0);
  pageShadow_->show();
  pageImage_->show();
  pageImage_->raise();
  // The canvas grows past the view only where the page does, so no scroll
  // bar shows for a page that fits.
  viewCanvas_->setMinimumSize(left + w + 8, topMargin_ + h + topMargin_ + 4);
}

void TForm1::GoToPage(int32_t page) {
  if (page < 1 || page > viewPDF_->PageCount() || !CurrentDocInfo()) return;
  currentPage_ = page;
  ShowPage(page);
  comboBoxPage_->setCurrentIndex(page - 1);
  docInfos_[static_cast<size_t>(pager_->GetActivePageIndex())].Page = page;
}

void TForm1::MFirstPageClick() { GoToPage(1); }
void TForm1::MPrevPageClick() {
  if (currentPage_ > 1) GoToPage(currentPage_ - 1);
}
void TForm1::MNextPageClick() {
  if (currentPage_ < viewPDF_->PageCount()) GoToPage(currentPage_ + 1);
}
void TForm1::MLastPageClick() { GoToPage(viewPDF_->PageCount()); }

void TForm1::SetZoom(double zoom) {
  if (!std::isfinite(zoom)) return;
  zoom_ = std::clamp(zoom, MinZoom, MaxZoom);
  ApplyZoom();
}

void TForm1::ApplyZoom() {
  const int i = pager_->GetActivePageIndex();
  if (i < 0 || i >= static_cast<int>(docInfos_.size())) return;
  docInfos_[static_cast<size_t>(i)].Zoom = zoom_;
  comboBoxZoom_->setEditText(QString::number(zoom_, 'g', 6));
  viewPDF_->SetRenderScale(zoom_ / 100);
  ShowPage(currentPage_);
  scrollBoxView_->verticalScrollBar()->setValue(docInfos_[static_cast<size_t>(i)].ScrollPos);
}

void TForm1::MZoomInClick() {
  double next = kZoomPresets[std::size(kZoomPresets) - 1];
  for (double z : kZoomPresets)
    if (z > zoom_) {
      next = z;
      break;
    }
  SetZoom(std::max(next, std::min(zoom_, MaxZoom)));
}

void TForm1::MZoomOutClick() {
  double next = kZoomPresets[0];
  for (double z : kZoomPresets)
    if (z < zoom_) next = z;
  SetZoom(std::min(next, zoom_));
}

void TForm1::MActualSizeClick() { SetZoom(100); }

void TForm1::MFitWidthClick() {
  const double width = viewPDF_->PageWidth();
  if (width <= 0) return;
  SetZoom(std::nearbyint((scrollBoxView_->viewport()->width() * 100.0 - 4800) / width));
}

void TForm1::MFitPageClick() {
  const double height = viewPDF_->PageHeight();
  if (height <= 0 || !CurrentDocInfo()) return;
  SetZoom(std::nearbyint((scrollBoxView_->viewport()->height() - topMargin_ * 2.5) * 100 / height));
}

// ---------------------------------------------------------------------------
// Side panels and thumbnails

void TForm1::MPreviewClick() {
  const bool show = !pageControl1_->isVisible() && DocumentTabCount() > 0;
  pageControl1_->setVisible(show);
  actions_["MPreview"]->setChecked(show);
  if (DocumentTabCount() > 0) MFitPageClick();
  if (show) QTimer::singleShot(0, this, &TForm1::BuildThumbnails);
}

void TForm1::MAttachClick() {
  panelAttach_->setVisible(!panelAttach_->isVisible());
  actions_["MAttach"]->setChecked(panelAttach_->isVisible());
}

void TForm1::ClearThumbnails() {
  ++thumbnailGeneration_;
  for (auto& t : thumbnails_) delete t;
  for (auto& s : thumbnailShadows_) delete s;
  thumbnails_.clear();
  thumbnailShadows_.clear();
  scrollBoxPreview_->resize(0, 0);
}

void TForm1::BuildThumbnails() {
  // A build runs one at a time; a request during a build ends it and starts
  // a new one once it has returned (never from inside it).
  if (buildingThumbnails_) {
    ++thumbnailGeneration_;
    thumbnailRebuildPending_ = true;
    return;
  }
  if (!CurrentDocInfo()) return;
  ClearThumbnails();
  const int generation = thumbnailGeneration_;
  const int32_t count = thumbPDF_->PageCount();
  for (int32_t n = 1; n <= count; ++n) {
    auto* shadow = new QLabel(scrollBoxPreview_);
    shadow->setAutoFillBackground(true);
    QPalette black = shadow->palette();
    black.setColor(QPalette::Window, Qt::black);
    shadow->setPalette(black);
    auto* thumb = new QLabel(scrollBoxPreview_);
    thumb->setObjectName(QString("ImagePreview%1").arg(n));
    thumb->setProperty("Tag", n);
    thumb->setCursor(Qt::PointingHandCursor);
    thumb->installEventFilter(this);
    thumbnailShadows_.push_back(shadow);
    thumbnails_.push_back(thumb);
  }
  buildingThumbnails_ = true;
  RenderThumbnails(generation);
  buildingThumbnails_ = false;
  if (thumbnailRebuildPending_) {
    thumbnailRebuildPending_ = false;
    QTimer::singleShot(0, this, &TForm1::BuildThumbnails);
  }
}

void TForm1::RenderThumbnails(int generation) {
  const int32_t count = static_cast<int32_t>(thumbnails_.size());
  const int width = scrollBoxPreviewArea_->viewport()->width();
  // Pages may differ in size: each thumbnail goes below the one before it.
  int top = topMargin_;
  for (int32_t i = 1; i <= count && generation == thumbnailGeneration_; ++i) {
    TMemoryStream stream;
    thumbPDF_->SetRenderScale(1.0 / 6);
    QImage image;
    if (thumbPDF_->RenderPageToStream(renderDPI_, i, pofBMP, stream) || stream.GetSize() > 0)
      image.loadFromData(reinterpret_cast<const uchar*>(stream.Bytes().data()),
                         static_cast<qsizetype>(stream.Bytes().size()), "BMP");
    QLabel* thumb = thumbnails_[static_cast<size_t>(i - 1)];
    QLabel* shadow = thumbnailShadows_[static_cast<size_t>(i - 1)];
    if (!thumb || !shadow) break;
    const int left = std::max(0, (width - image.width() - 22) / 2);
    thumb->setPixmap(QPixmap::fromImage(image));
    thumb->setGeometry(left, top, image.width(), image.height());
    shadow->setGeometry(left + 4, top + 4, image.width(), image.height());
    shadow->show();
    thumb->show();
    top += image.height() + pageGap_;
    scrollBoxPreview_->resize(std::max(width, image.width() + 8), top + topMargin_);
    // Keys and clicks made meanwhile run between pages, so that none is
    // lost. Whatever they do to the tabs (a switch, a close, a new build)
    // ends this build through the generation before anything of it is used.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (auto* label = qobject_cast<QLabel*>(watched); label && label->property("Tag").isValid()) {
      GoToPage(label->property("Tag").toInt());
      return true;
    }
  }
  if (watched == scrollBoxView_->viewport() && event->type() == QEvent::Wheel) {
    // The wheel moves the view; the position is kept per document.
    const bool handled = QMainWindow::eventFilter(watched, event);
    QTimer::singleShot(0, this, [this] {
      const int i = pager_->GetActivePageIndex();
      if (i >= 0 && i < static_cast<int>(docInfos_.size()))
        docInfos_[static_cast<size_t>(i)].ScrollPos = scrollBoxView_->verticalScrollBar()->value();
    });
    return handled;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Window events and other commands

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    currentPage_ = 1;
    pageGap_ = 10;
    topMargin_ = 10;
    renderDPI_ = 72;
    pageControl1_->setCurrentIndex(0);
  }
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (DocumentTabCount() > 0) MFitPageClick();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Nothing edited goes without the user's word.
  for (int i = 0; i < static_cast<int>(docInfos_.size()); ++i)
    if (!ConfirmClose(i)) {
      event->ignore();
      return;
    }
  writeSettings();
  event->accept();
}

void TForm1::MExitClick() { close(); }

void TForm1::MAssociateClick() {
  QString error;
  if (!RegisterFileAssociation(QCoreApplication::applicationFilePath(), &error)) showError(error);
}

void TForm1::MAboutClick() {
  LoadLanguage(languageName_);
  formAbout_->exec();
}

// ---------------------------------------------------------------------------
// Word search

void TForm1::Search() {
  const QString text = editSearchInput_->text();
  if (text.isEmpty() || docInfos_.empty()) return;
  searchLines_.clear();
  searchMatches_.clear();
  const int32_t count = viewPDF_->PageCount();
  for (int32_t p = 1; p <= count; ++p) {
    viewPDF_->SelectPage(p);
    std::u16string out;
    viewPDF_->GetPageText(4, out);
    const QString page = QString::fromStdU16String(out);
    for (const QString& line : page.split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts)) {
      const QString prefixed = QString::number(p) + "," + line;
      searchLines_.append(prefixed);
      // Eleven attribute fields come before the word; a word may itself
      // hold commas, so the word is everything after the eleventh. The
      // word list quotes it (and escapes its own quotes).
      const QStringList fields = prefixed.split(',');
      if (fields.size() < 13) continue;
      QString word = QStringList(fields.mid(12)).join(',').trimmed();
      if (word.size() >= 2 && word.startsWith('"') && word.endsWith('"')) word = word.mid(1, word.size() - 2);
      word.replace("\\\"", "\"");
      if (word == text) searchMatches_.append(prefixed);
    }
  }
  viewPDF_->SelectPage(currentPage_);
  if (searchMatches_.isEmpty()) {
    showError(Message("StringNoMatches"));
    return;
  }
  searchIndex_ = 0;
  ShowSearchMatch(0);
}

void TForm1::ShowSearchMatch(int index) {
  if (index < 0 || index >= searchMatches_.size()) return;
  const int32_t page = searchMatches_[index].section(',', 0, 0).toInt();
  viewPDF_->SelectPage(page);
  GoToPage(page);
}

void TForm1::sbSearchNextClick() {
  if (searchMatches_.isEmpty()) return;
  if (searchIndex_ + 1 >= searchMatches_.size()) searchIndex_ = -1;
  ShowSearchMatch(++searchIndex_);
}

void TForm1::sbSearchPreClick() {
  if (searchMatches_.isEmpty()) return;
  if (searchIndex_ <= 0) searchIndex_ = static_cast<int>(searchMatches_.size());
  ShowSearchMatch(--searchIndex_);
}

// ---------------------------------------------------------------------------
// Document commands

void TForm1::SavePagesAsImages(int32_t first, int32_t last, int32_t kind) {
  static const char* const kExtensions[] = {".bmp", ".jpg", ".wmf", ".emf", ".eps", ".png", ".gif", ".tif"};
  if (docInfos_.empty() || kind < 0 || kind > 7) return;
  std::u16string loadedName;
  viewPDF_->LoadedFileName(loadedName);
  const QFileInfo loaded(QString::fromStdU16String(loadedName));
  const QString name = loaded.absolutePath() + "/" + loaded.completeBaseName() + kExtensions[kind];
  // The image list's items are the page-image format numbers.
  viewPDF_->SetRenderScale(zoom_ / 100.0);
  if (viewPDF_->RenderPagesToFile(renderDPI_, first, last, kind, name.toStdU16String()) == 0)
    reportFailure(name);
  else
    reportLeftOut(name);
}
