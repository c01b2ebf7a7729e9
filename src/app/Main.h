// The main window of the program: document tabs over the page view, the
// thumbnail and bookmark side panel, the attachments panel, menus and
// toolbar, settings and language files. Every document operation goes
// through the two facade instances: ViewPDF for the page view and commands,
// ThumbPDF for thumbnails. Tab i shows document i + 2 of both (document 1 of
// each instance is the empty document it starts with).
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMessageBox>
#include <functional>
#include <optional>
#include <QPointer>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class TFxOfficePager;
class TFxOfficePagerOfficeStyler;
class QComboBox;

class QMenu;
class QScrollArea;
class QTabWidget;
class QToolBar;
class QTreeWidget;
class QWidget;
class QLineEdit;
class QTreeWidgetItem;
class QSplitter;
class TPavona;
class TStDropFiles;
class TFormAbout;
class TFormAnnotation;
class TFormBookmark;
class TFormSplitPageImage;
class TFormUpdate;
class TFormWatermark;
class TThreadUpdate;
class QThread;
class QToolButton;

// The view state of one open document (one per tab, in tab order).
struct TDocInfo {
  int32_t Page = 1;
  double Zoom = 100;
  int32_t ScrollPos = 0;
  QString FileName;  // the file's name without its folder: the tab caption
  QString Path;      // the file as opened
  bool Modified = false;  // edits not saved yet
};

class TForm1 : public QMainWindow {
  Q_OBJECT

public:
  static constexpr const char* ProductName = "Corvane PDF Reader";
  static constexpr const char* ProductVersion = "1.2";
  // Zoom limits in percent: below the first a page is no longer readable,
  // above the last the page image would exceed what the engine renders.
  static constexpr double MinZoom = 5;
  static constexpr double MaxZoom = 1600;

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Opens the files (one tab each) and shows the last one at Fit Page.
  void OpenFiles(const QStringList& names);
  // The settings file and the folder of the language files.
  static QString SettingsFileName();
  static QString LanguageFolder();
  void LoadLanguage(const QString& language);
  // Writes the .desktop entry and the default application for PDF files
  // under the XDG folders. False with the reason in error.
  static bool RegisterFileAssociation(const QString& executable, QString* error);

  // State, for the window's own handlers and for tests.
  TPavona* ViewPDF() const { return viewPDF_.get(); }
  TPavona* ThumbPDF() const { return thumbPDF_.get(); }
  int32_t CurrentPage() const { return currentPage_; }
  double Zoom() const { return zoom_; }
  int DocumentTabCount() const;
  int ActiveTab() const;
  const std::vector<TDocInfo>& DocInfos() const { return docInfos_; }
  const TDocInfo* CurrentDocInfo() const;
  QString LanguageName() const { return languageName_; }
  QString Message(const QString& key) const { return messages_.value(key); }
  // The page image and its shadow (null before the first page is shown).
  QLabel* PageImage() const { return pageImage_; }
  QLabel* PageShadow() const { return pageShadow_; }
  QScrollArea* ScrollBoxView() const { return scrollBoxView_; }
  QWidget* ScrollBoxPreview() const { return scrollBoxPreview_; }
  TFxOfficePager* Pager() const { return pager_; }
  QComboBox* ComboBoxZoom() const { return comboBoxZoom_; }
  int ThumbnailCount() const { return static_cast<int>(thumbnails_.size()); }
  QAction* ActionByName(const QString& name) const;

  // Settings of the dialogs ("wmText", "anColor", ...); an unknown key reads
  // empty and is kept when written.
  QString Option(const QString& key) const;
  void SetOption(const QString& key, const QString& value);
  // The annotation dialog's "show" box; not kept in the settings file.
  bool AnnotationOpen = false;
  // A text of the current language file, or the fallback.
  QString LanguageText(const QString& key, const QString& fallback) const;
  // A message box (a warning on the log when there is no screen).
  void ShowMessage(const QString& text);
  // The maker's web site; the settings may point it elsewhere ("WebRoot").
  QString WebRoot() const { return webRoot_; }
  QString ProductPageURL() const { return webRoot_ + "/corvane_pdf_reader.shtml"; }

  // The dialogs, created once at start.
  TFormWatermark* FormWatermark() const { return formWatermark_; }
  TFormAnnotation* FormAnnotation() const { return formAnnotation_; }
  TFormSplitPageImage* FormSplitPageImage() const { return formSplitPageImage_; }
  TFormBookmark* FormBookmark() const { return formBookmark_; }
  TFormUpdate* FormUpdate() const { return formUpdate_; }
  TFormAbout* FormAbout() const { return formAbout_; }

  // Update check (the worker runs CheckForUpdate; the rest runs here).
  bool UpdateRunning = false;
  bool UpdateFinished = false;
  bool UpdateSilent = false;
  bool UpdateShowResult = false;
  QString UpdateMessage;
  QString UpdateLink;
  static QString UpdateFileName();
  QString UpdateAddress() const;
  // Fetches url into fileName; false when the server gave no file (no
  // connection, an error status, a reply too large) or it could not be
  // written (then error says why).
  bool DownloadFile(const QString& url, const QString& fileName, QString* error);
  void CheckForUpdate(bool silent);
  void StartUpdateCheck();
  void ShowUpdateResult();

  // Word search over the selected document.
  QLineEdit* EditSearchInput() const { return editSearchInput_; }
  const QStringList& SearchMatches() const { return searchMatches_; }
  int SearchIndex() const { return searchIndex_; }
  void Search();
  void ShowSearchMatch(int index);
  void sbSearchNextClick();
  void sbSearchPreClick();

  // Bookmarks tree and attachments list of the selected document.
  QTreeWidget* TreeViewBookmarks() const { return treeViewBookmarks_; }
  QTreeWidget* ListViewAttach() const { return listViewAttach_; }
  void LoadBookmarks();
  void TreeViewBookmarksChange(QTreeWidgetItem* node);
  void AddBookmark(const QString& title, const QString& link, int32_t page, int32_t kind, const QString& colorText);
  void PMBookmarksDeleteClick();
  void MBookmarksRemoveAllClick();
  void LoadAttachments();
  void AttachFiles(const QStringList& files);
  void MAttachFilesClick();
  // Removes the selected embedded files, or all of them.
  void RemoveAttachments(bool all);
  void MSaveAttachClick();
  void MRotateClick();
  void MResetRotationClick();
  // Saves the selected document (Creator and Producer set to the program).
  bool SaveDocument(const QString& fileName);
  void MSaveClick();
  void MSaveAsClick();
  // Asks before a document with unsaved edits goes: true when it may go
  // (saved or discarded), false when the user cancelled.
  bool ConfirmClose(int index);
  // Marks the active document as edited (or saved).
  void SetModified(bool modified);
  // Document commands (the active tab's document).
  void AddTextWatermark();
  void AddImageWatermark();
  // The current page's thumbnail from an image file.
  void MThumbnailsClick();
  void AddTextAnnotation();
  void MChangeInfoClick();
  void MEncryptClick();
  void MDecryptClick();
  void MInsertBlankClick();
  void MInsertTextClick();
  void MMergeClick();
  void MMergeFilesClick();
  void MSplitPagesClick();
  void MExtractTextClick();
  void MExtractPagesClick();
  // Every image of the document into a file beside it.
  void MExtractImagesClick();
  // Image files into a new PDF file (the open documents stay as they are).
  void MConvertImageClick();
  void MPrintClick();
  // An input query starting with the given text; a secret one (a password)
  // masks what is typed.
  std::optional<QString> InputQuery(const QString& caption, const QString& prompt, const QString& start,
                                    bool secret = false);
  std::function<std::optional<QString>(const QString&, const QString&, const QString&)> InputHook;
  std::function<QStringList(const QString&)> OpenFilesHook;
  // Fills the information dialog's nine edits in place of the user (tests).
  std::function<void(QLineEdit**)> InfoHook;
  // Answers questions and save dialogs in place of the user (tests).
  std::function<int(const QString&)> QuestionHook;
  std::function<QString(const QString&)> SaveFileHook;

  // Renders pages first..last as image files beside the document, named
  // after it; kind is the image format (0 BMP .. 7 TIFF).
  void SavePagesAsImages(int32_t first, int32_t last, int32_t kind);

  // Commands.
  void GoToPage(int32_t page);
  void ShowPage(int32_t page);
  void ApplyZoom();
  void SetZoom(double zoom);
  // False when the user keeps the document (unsaved edits, Cancel).
  bool CloseTab(int index);
  void BuildThumbnails();

public slots:
  void MOpenClick();
  void MCloseClick();
  void MCloseAllClick();
  void MExitClick();
  void MFirstPageClick();
  void MPrevPageClick();
  void MNextPageClick();
  void MLastPageClick();
  void MZoomInClick();
  void MZoomOutClick();
  void MActualSizeClick();
  void MFitWidthClick();
  void MFitPageClick();
  void MPreviewClick();
  void MAttachClick();
  void MAssociateClick();
  void MAboutClick();
  void MCheckUpdateClick();
  void FxOfficePager1Change(int index);
  void FxOfficePager1ClosedPage(int index);

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormCreate();
  void createMenus();
  void createToolBar();
  void createPanels();
  bool OpenFile(const QString& fileName);
  void AddDocumentTab(const QString& fileName);
  void ActivateLastDocument();
  void FillPageList();
  void RenderPage(int32_t page);
  void RenderThumbnails(int generation);
  void ClearThumbnails();
  void setViewControlsEnabled(bool on);
  void AddBookmarkChildren(QTreeWidgetItem* parent, int32_t item, int depth);
  int Ask(const QString& text, QMessageBox::StandardButtons buttons);
  QStringList ChooseFiles(const QString& filter);
  QString ChooseSaveFile(const QString& start, const QString& filter);
  QString loadedFileName() const;
  // Shows what failed: what, the fixed words of the facade's last error
  // and, where the engine said more, its cause.
  void reportFailure(const QString& what, const TPavona* source = nullptr);
  // The engine's cause of source's last failure on a line of its own, when
  // it says more than the error code's meaning; empty otherwise.
  static QString failureCause(const TPavona& source);
  // The fixed words of source's last error and its cause.
  static QString failureText(const TPavona& source);
  // After a render or print that worked: the pictures it left out of its
  // pages, if any, reported under what.
  void reportLeftOut(const QString& what);
  // The status bar's note that the active document's (info's) file was
  // repaired; the bar is hidden for a sound file and without a document.
  void showRepairNotice(const TDocInfo* info);
  // The start of the page-copying commands (split, extract): the output
  // file and a page range of the open document, the range checked (an
  // empty one or one starting past the end is reported). False when there
  // is nothing to do.
  bool askOutputAndPageRange(QString& output, int32_t& first, int32_t& last);
  // The text of every page of the open document, in order (the page shown
  // stays selected).
  QStringList pageTexts();
  // A watermark on every page: drawPage() with each page selected and its
  // origin at the top left, returning how many drawings failed; the dialog's
  // progress shows the pages done. The total of failures.
  int32_t watermarkEveryPage(const std::function<int32_t()>& drawPage);
  void readSettings();
  void writeSettings() const;
  void showError(const QString& text);
  QAction* addAction(QMenu* menu, const char* name, const QString& caption);

  std::unique_ptr<TPavona> viewPDF_;
  std::unique_ptr<TPavona> thumbPDF_;
  int32_t currentPage_ = 1;
  double zoom_ = 100;
  int32_t pageGap_ = 10;
  int32_t topMargin_ = 10;
  int32_t renderDPI_ = 72;
  QString languageName_ = "English";
  std::vector<TDocInfo> docInfos_;
  bool closingAll_ = false;
  bool shown_ = false;
  // Settings of the dialogs, kept and written back in their order.
  std::vector<std::pair<QString, QString>> options_;
  QMap<QString, QString> messages_;
  QString openFilter_ = "Adobe PDF Files (*.pdf)";

  std::map<QString, QAction*> actions_;
  QToolBar* toolBar1_ = nullptr;
  QComboBox* comboBoxPage_ = nullptr;
  QComboBox* comboBoxZoom_ = nullptr;
  QLabel* labelSearchInput_ = nullptr;
  TFxOfficePager* pager_ = nullptr;
  TFxOfficePagerOfficeStyler* pagerStyler_ = nullptr;
  QTabWidget* pageControl1_ = nullptr;
  QSplitter* splitter1_ = nullptr;
  QScrollArea* scrollBoxView_ = nullptr;
  QWidget* viewCanvas_ = nullptr;
  QScrollArea* scrollBoxPreviewArea_ = nullptr;
  QWidget* scrollBoxPreview_ = nullptr;
  QTreeWidget* treeViewBookmarks_ = nullptr;
  QWidget* panelAttach_ = nullptr;
  QTreeWidget* listViewAttach_ = nullptr;
  QPointer<QLabel> pageImage_;
  QPointer<QLabel> pageShadow_;
  QLabel* repairNote_ = nullptr;  // in the status bar, made for the first repaired file
  std::vector<QPointer<QLabel>> thumbnails_;
  std::vector<QPointer<QLabel>> thumbnailShadows_;
  // Thumbnail builds: a newer build (or a tab switch) ends an older one.
  int thumbnailGeneration_ = 0;
  bool buildingThumbnails_ = false;
  bool thumbnailRebuildPending_ = false;
  TStDropFiles* stDropFiles1_ = nullptr;
  QString webRoot_ = "https://corvane.example";
  TFormWatermark* formWatermark_ = nullptr;
  TFormAnnotation* formAnnotation_ = nullptr;
  TFormSplitPageImage* formSplitPageImage_ = nullptr;
  TFormBookmark* formBookmark_ = nullptr;
  TFormUpdate* formUpdate_ = nullptr;
  TFormAbout* formAbout_ = nullptr;
  QPointer<QThread> updateThread_;
  void stopUpdateCheck();
  QLineEdit* editSearchInput_ = nullptr;
  QStringList searchLines_;
  QStringList searchMatches_;
  int searchIndex_ = 0;
  int mergeCount_ = 0;  // merges into a new file so far
};
