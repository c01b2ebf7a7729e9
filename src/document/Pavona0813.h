// TPavona: the one object through which the program uses the PDF engine.
//
// It holds any number of loaded documents, hands every engine object to its
// caller as a 32-bit integer handle, keeps one selected document and, inside
// it, a selected page, font and image, converts the caller's coordinates
// (origin corner, unit scale) into PDF user space, and reports failures as
// return values plus a last-error code; no operation raises to the caller.
//
// Handles: an object's handle is its slot in the handle list plus
// 0x58000000. The list only grows and a slot is never reused: when an object
// dies (its document is removed or merged away, or the object is released)
// its slot is marked dead and the handle resolves to nothing from then on,
// even when a new object later lives at the same address.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/PavonaPicasso.h"
#include "pages/PavonaPageFormats.h"
#include "render/PavonaPrinting.h"

class TStream;
class TPDFDocument;
class TPDFObject;
class TPDFIndRef;
class TPDFDictionary;
class TPDFFont;
class TPDFImage;
class TPDFTextFunnel;
class TPDFPageTree;

// The last-error codes.
constexpr int32_t pvlErrStrength = 101;            // encryption strength outside 0..3
constexpr int32_t pvlErrPermissionCheck = 102;     // permission code with a wrong check byte
constexpr int32_t pvlErrAlreadyEncrypted = 103;    // the document is already encrypted
constexpr int32_t pvlErrEncryptionSetup = 104;     // the security handler could not set up encryption
constexpr int32_t pvlErrInformationIndex = 202;    // information index outside 0..6
constexpr int32_t pvlErrUnreadable = 401;          // input cannot be opened, read or loaded
constexpr int32_t pvlErrCannotDelete = 402;        // an existing output file cannot be deleted
constexpr int32_t pvlErrCannotWrite = 403;         // creating or writing the output failed
constexpr int32_t pvlErrWrongPassword = 404;       // wrong password
constexpr int32_t pvlErrNoXRef = 409;              // no header or no cross-reference data
constexpr int32_t pvlErrEncryptedInput = 410;      // an input of a direct-access merge is encrypted
constexpr int32_t pvlErrNoPages = 412;             // no pages to extract
// Failures without a code above: a render, an argument, a save.
constexpr int32_t pvlErrRenderFailed = 420;        // a page could not be rendered or written
constexpr int32_t pvlErrBadArgument = 421;         // an argument outside what the operation accepts
constexpr int32_t pvlErrSaveFailed = 422;          // the document could not be written

// The first handle value and the test mask of object handles.
constexpr int32_t pvlHandleBase = 0x58000000;
constexpr int32_t pvlHandleIndexMask = 0x07FFFFFF;
// Form-field widget kids: 0x55000000 + field index * 256 + kid number.
constexpr int32_t pvlFieldKidBase = 0x55000000;

// Resolution limits of page images: DPI x render scale is kept inside
// these, so a zoom typed by a user cannot ask for a giant bitmap.
constexpr double pvlMinRenderDPI = 1.0;
constexpr double pvlMaxRenderDPI = 2400.0;
// Largest page image in pixels (width x height).
constexpr int64_t pvlMaxRenderPixels = int64_t(1) << 27;

// What a handle slot holds.
enum class TPavonaHandleKind : uint8_t { Document, Object, Font, Image };

class TPavona {
public:
  using TProgressEvent = std::function<void(int32_t percent)>;

  // Text of the library as written to Producer and Creator of the documents
  // the facade makes.
  static const std::string& Banner();

  TPavona();
  ~TPavona();
  TPavona(const TPavona&) = delete;
  TPavona& operator=(const TPavona&) = delete;

  // ---- Handles and selection
  int32_t RegisterHandle(TPDFDocument* document);
  // An object of a document (owner is the document whose pool holds it;
  // nullptr: the selected document).
  int32_t RegisterHandle(TPDFObject* object, TPDFDocument* owner = nullptr);
  int32_t RegisterHandle(TPDFFont* font, TPDFDocument* owner = nullptr);
  int32_t RegisterHandle(TPDFImage* image, TPDFDocument* owner = nullptr);
  // Marks the slot of an object that is gone (released by its pool or freed
  // by its document) dead; its handle resolves to nothing afterwards.
  void ForgetHandle(const void* object);
  // Typed resolution: the object only when the handle is alive and of that class.
  TPDFDocument* GetDocumentByHandle(int32_t handle) const;
  TPDFObject* GetObjectByHandle(int32_t handle) const;
  TPDFIndRef* GetIndRefByHandle(int32_t handle) const;
  TPDFDictionary* GetDictionaryByHandle(int32_t handle) const;
  TPDFFont* GetFontByHandle(int32_t handle) const;
  TPDFImage* GetImageByHandle(int32_t handle) const;

  int32_t DocumentCount() const { return static_cast<int32_t>(documents_.size()); }
  int32_t GetDocumentHandle(int32_t n);
  int32_t SelectDocument(int32_t handle);
  int32_t SelectedDocument();
  int32_t SelectPage(int32_t page);
  int32_t SelectedPage() const;
  int32_t PageCount();
  int32_t SelectFont(int32_t handle);
  int32_t SelectedFont();
  int32_t SelectImage(int32_t handle);
  int32_t SetOrigin(int32_t corner);
  int32_t GetOrigin() const;

  // ---- Documents
  int32_t NewDocument();
  int32_t LoadFromFile(std::u16string_view path, std::u16string_view password);
  int32_t LoadFromStream(TStream& stream, std::u16string_view password);
  int32_t LoadFromString(std::string data, std::u16string_view password);
  int32_t RemoveDocument(int32_t handle);
  int32_t SaveToFile(std::u16string_view path);
  void SaveToString(std::string& out);
  void LoadedFileName(std::u16string& out) const;
  int32_t MergeDocument(int32_t handle);

  // ---- Coordinates (caller units to PDF user space on the selected page)
  double ToPageLength(double length) const;
  double ToPageX(double x);
  double ToPageY(double y);
  double PageWidth();
  double PageHeight();

  // ---- Last error and progress
  int32_t LastErrorCode() const { return lastError_; }
  void SetLastErrorCode(int32_t code) { lastError_ = code; }
  void SetProgressEvent(TProgressEvent event) { onProgress_ = std::move(event); }
  void SetProgressPhase(double weight, int32_t base);
  void SetProgressSteps(int32_t step, int32_t stepCount);
  void ReportProgress(int32_t percentOfPhase);
  void ReportProgressDone();
  // Folder for temporary files; always ends with "/".
  const std::string& TempFolder() const { return tempFolder_; }

  // ---- Rendering, printing and page output
  int32_t SetRenderScale(double scale);
  double GetRenderScale() const { return renderScale_; }
  // Formats: 0 BMP, 1 JPEG, 2 WMF, 3 EMF, 4 EPS, 5 PNG, 6 GIF, 7 TIFF,
  // 8 raw drawing stream, 9 HTML5 canvas page (streams only).
  int32_t RenderPageToStream(double dpi, int32_t page, int32_t format, TStream& stream);
  int32_t RenderPagesToFile(double dpi, int32_t first, int32_t last, int32_t format, std::u16string_view fileName);
  // Text of the selected page, modes 0..8.
  void GetPageText(int32_t mode, std::u16string& out);
  // The renderer's error text of the last render or print ("" when it
  // went well); one line per failed page ("page N: ...").
  const std::string& LastRenderMessage() const { return lastRenderMessage_; }
  // Drawing settings handed to rendering, printing and image import.
  TGDIPlusSettings& DrawingSettings() { return drawingSettings_; }
  int32_t GetJPEGQuality() const { return jpegQuality_; }
  void SetJPEGQuality(int32_t quality);
  int32_t GetRenderPageBox() const { return renderPageBox_; }
  void SetRenderPageBox(int32_t box);
  void SetBackground(uint32_t color, bool use) {
    backgroundColor_ = color;
    useBackground_ = use;
  }
  // Printing. PrintOptions stores the job title and returns the option
  // code: scaling (0..15) in bits 0-3, 16 for automatic rotation, and
  // (449 + title count) << 8 naming the title just stored.
  int32_t PrintOptions(int32_t scaling, int32_t autoRotate, std::u16string_view title);
  // The current printer's name; empty when there is none.
  void GetDefaultPrinterName(std::u16string& out);
  // Chooses the printer by name (stored settings applied when the name has
  // some), then PrintToPrinter on it.
  int32_t PrintDocument(std::u16string_view printerName, int32_t first, int32_t last, int32_t options);
  // Prints pages first..last of the selected document on the printer. 1; 0
  // with the message and pvlErrRenderFailed when a page or the job failed.
  int32_t PrintToPrinter(TPrinter& printer, int32_t first, int32_t last, int32_t options);
  // Print settings (none by default): a file the job is printed to, the
  // printer's own device context, the job held in the spooler as it
  // starts, options stored per printer name, a stored device mode.
  void SetPrintOutputFile(std::u16string_view path) { printOutputFile_ = path; }
  void SetPrintOwnContext(bool on) { printOwnContext_ = on; }
  void SetPrintJobControl(bool on) { printJobControl_ = on; }
  void SetPrinterSettings(std::u16string_view printerName, const TPrinterOptions& options);
  void SetPrinterDeviceMode(std::string bytes) { printDeviceMode_ = std::move(bytes); }
  // The job number and device of the last job printed with the own context.
  int32_t LastPrintJob() const { return printJob_; }
  const std::string& LastPrintJobText() const { return printJobText_; }

  // ---- Pages, drawing, fonts and images
  // (page size, rotation, insertion and deletion; text, shapes and images on
  // the selected page; annotations and links)

  // ---- Form fields
  // (fields, widget kids, values and appearances)

  // ---- Outlines, attachments, information and security
  // (outline items and destinations, embedded files, document information,
  // encryption and decryption)

  // ---- Merging, splitting and extraction
  // (file lists, direct-access merge and split, pages and text from files)

  // ---- Metafiles and rich text
  // (metafile images, HTML-subset text)
  // Codes of this group: a Windows metafile (WMF), which is not converted.
  static constexpr int32_t pvlErrMetafileWMF = 430;
  // HTML-subset text at (left, top) wrapped to width on the selected page
  // (caller units and origin). 1; 0 when width <= 0 or drawing failed.
  int32_t DrawHTMLText(std::u16string_view text, double left, double top, double width);
  // The whole selected page becomes the picture of an enhanced metafile:
  // the page takes the picture's size and the picture is drawn over it as a
  // vector form. 1; 0 with the last error for a WMF file (pvlErrMetafileWMF)
  // or a file that is missing or not a sound EMF (pvlErrUnreadable).
  int32_t DrawMetafilePage(std::u16string_view fileName);

  // The selected document itself (never nullptr).
  TPDFDocument* GetSelectedDocumentObject() const { return selected_; }

private:
  struct THandleEntry {
    void* Object = nullptr;
    TPavonaHandleKind Kind = TPavonaHandleKind::Object;
    TPDFDocument* Owner = nullptr;
    bool Alive = false;
  };
  int32_t registerEntry(void* object, TPavonaHandleKind kind, TPDFDocument* owner);
  const THandleEntry* entryOf(int32_t handle) const;
  int32_t documentIndex(const TPDFDocument* document) const;
  // Takes a freshly loaded document: appended, registered, selected.
  int32_t adoptLoaded(std::unique_ptr<TPDFDocument> document, int32_t result);
  void selectDocument(TPDFDocument* document);
  double clampedResolution(double dpi) const;
  // The page tree of a page-output request with its resolution (DPI x
  // render scale, bounded) and page count; nullptr, with the message and
  // the code set, when the request cannot be served.
  TPDFPageTree* outputTree(double dpi, int32_t format, double& resolution, int32_t& count);

  std::vector<std::unique_ptr<TPDFDocument>> documents_;
  TPDFDocument* selected_ = nullptr;
  TPDFImage* selectedImage_ = nullptr;
  TPDFFont* selectedFont_ = nullptr;
  int32_t lastError_ = 0;
  std::string tempFolder_;
  TProgressEvent onProgress_;
  double progressWeight_ = 1.0;
  int32_t progressBase_ = 0;
  int32_t progressStep_ = 1;
  int32_t progressStepCount_ = 1;
  int32_t lastPercent_ = 0;
  std::string lastRenderMessage_;
  TGDIPlusSettings drawingSettings_;
  int32_t jpegQuality_ = 75;
  double renderScale_ = 1.0;
  int32_t renderPageBox_ = 2;
  uint32_t backgroundColor_ = 0xFFFFFF;
  bool useBackground_ = false;
  std::vector<THandleEntry> handles_;
  std::vector<std::string> printTitles_;
  std::u16string printOutputFile_;
  bool printOwnContext_ = false;
  bool printJobControl_ = false;
  std::map<std::string, TPrinterOptions> printerSettings_;  // by upper-case printer name
  std::string printDeviceMode_;
  int32_t printJob_ = 0;
  std::string printJobText_;
};
