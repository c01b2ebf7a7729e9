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

#include "document/PavonaFacadeGuard.h"
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
class TPDFPainter;
class TPDFField;
class TPDFForm;

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
constexpr int32_t pvlErrEngineFailure = 423;       // the engine failed for a reason of its own (memory ...)

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
  // True when the selected document's cross-reference data could not be
  // used as written (missing, damaged, or cut off with the end of the
  // file) and its objects were found by scanning the file: the program
  // tells the user that the file was repaired.
  bool DocumentWasRepaired() const;

  // ---- Coordinates (caller units to PDF user space on the selected page)
  double ToPageLength(double length) const;
  double ToPageX(double x);
  double ToPageY(double y);
  double PageWidth();
  double PageHeight();

  // ---- Last error and progress
  int32_t LastErrorCode() const { return error_.Code; }
  // Why the operation that set the code failed, in words ("" while the code
  // is 0): the engine's own message where it gave one (the reader's object
  // and offset, the system's reason a file cannot be opened), else the
  // code's meaning. Set and cleared with the code.
  const std::string& LastErrorMessage() const { return error_.Message; }
  void SetLastErrorCode(int32_t code) { error_.Set(code); }
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
  // What the last render or print left out of pages it still made (a
  // picture that cannot be decoded or drawn): "page N: ..." lines, "" when
  // nothing was left out.
  const std::string& LastRenderWarnings() const { return lastRenderWarnings_; }
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
  // Codes of this group: text with characters the selected font cannot
  // encode (what it can encode is still drawn), and a page operation
  // refused because the document has no usable page tree.
  static constexpr int32_t pvlErrUnencodableText = 440;
  static constexpr int32_t pvlErrNoPageTree = 441;
  // A deletion of every page, which would leave a document no reader opens.
  static constexpr int32_t pvlErrEveryPage = 442;

  // Pages. W and H: the selected page's size.
  // One W x H page after the last; its number, 0 on failure.
  int32_t NewPage();
  // count (1..9999) W x H pages at position; the new page count, 0 on failure.
  int32_t InsertPages(int32_t position, int32_t count);
  // Removes pages first .. first + count - 1 (clipped to the document);
  // the new page count, 0 with pvlErrBadArgument when nothing was removed
  // and with pvlErrEveryPage (nothing removed) when that is every page.
  int32_t DeletePages(int32_t first, int32_t count);
  int32_t SetPageDimensions(double width, double height);
  int32_t RotatePage(int32_t angle);
  int32_t PageRotation();
  int32_t SetPageThumbnail();
  int32_t HasFontResources();
  // 0 UseNone, 1 UseOutlines, 2 UseThumbs, 3 FullScreen, 4 UseOC,
  // 5 UseAttachments; any other mode is refused (0, pvlErrBadArgument).
  int32_t SetPageMode(int32_t mode);

  // Fonts and the text state.
  int32_t AddStandardFont(int32_t index);
  // mode 1 and 2 embed the font program (2 also where the font asks not to
  // be embedded); other modes embed nothing.
  int32_t AddTrueTypeFont(std::u16string_view name, int32_t mode);
  // A Type 3 font holding exactly the characters given, drawn from the
  // outlines of an installed font; registered and selected.
  int32_t AddType3Font(std::u16string_view face, std::u16string_view characters);
  int32_t GetFontHandle(int32_t n);
  int32_t SetTextSize(double size);
  double GetTextSize();
  int32_t SetTextColor(double red, double green, double blue);
  int32_t SetTextAlign(int32_t alignment);
  int32_t SetTextMode(int32_t mode);
  int32_t SetTransparency(int32_t percent);
  // Lines drawn with the text that follows on the selected page, in the text
  // colour: 0 none, 1 underline, 2 double underline, 3 strike-through, 4
  // overline. 1; 0 with pvlErrBadArgument for another kind or no page.
  int32_t SetTextDecoration(int32_t kind);
  double GetTextWidth(std::u16string_view text);
  double WidestCharWidth();
  void EncodeTextLines(std::u16string_view text, std::u16string_view separator, std::u16string& out);

  // Drawing on the selected page (caller units and origin). Text with
  // characters the font cannot encode draws the rest and answers 0 with
  // pvlErrUnencodableText.
  int32_t DrawText(std::u16string_view text, double x, double y);
  int32_t DrawRotatedText(std::u16string_view text, double x, double y, double angle);
  int32_t DrawTextBox(std::u16string_view text, int32_t alignment, double left, double top, double width,
                      double height, double angle);
  int32_t DrawImage(double left, double top, double width, double height);
  int32_t AddImageFromFile(std::u16string_view path, int32_t index);

  // Image XObjects of the selected document (definitions in Pavona0813Images.cpp).
  // Search methods: 1 through the pages (resources, forms, patterns,
  // annotation appearances), 2 through the object table; 3 and 4 the same,
  // keeping JPEG data as stored instead of decoding it. 1 for 1..4; any
  // other method is refused (0, pvlErrBadArgument).
  int32_t SetImageSearchMethod(int32_t method);
  int32_t GetImageSearchMethod() const { return imageSearchMethod_; }
  // Appends an image entry for every image XObject found by the method;
  // the number of entries made (images found earlier or added from files
  // stay in the list before them).
  int32_t FindImages();
  // Handle of the document's n-th image (1-based, in list order); 0 with
  // pvlErrBadArgument when there is none.
  int32_t GetImageHandle(int32_t n);
  // Pixel size of the selected image; 0 with pvlErrBadArgument without one.
  int32_t ImageWidth();
  int32_t ImageHeight();
  // Kind of the data SaveImageToFile writes: 1 JPEG, 2 BMP, 3 TIFF, 4 PNG;
  // 0 without a selected image (pvlErrBadArgument) or when its data cannot
  // be read (pvlErrUnreadable).
  int32_t ImageType();
  // Writes the selected image's data (temporary file renamed over the
  // target). 1; 0 with pvlErrBadArgument without an image, pvlErrUnreadable
  // when its data cannot be read, pvlErrCannotWrite when the file cannot.
  int32_t SaveImageToFile(std::u16string_view path);

private:
  // The selected image read out once: ImageType and SaveImageToFile in turn
  // read it a single time. Keyed by handle, which no other object ever gets.
  struct TImageData {
    int32_t Handle = 0;
    bool KeepEncoded = false;
    int32_t Kind = 0;
    std::string Bytes;
  };
  bool readSelectedImage(const TImageData*& out);
  int32_t imageSearchMethod_ = 1;
  // Images entered by a search keep the search's wish about JPEG data.
  std::map<int32_t, bool> imageKeepEncoded_;
  TImageData imageData_;

public:

  // Annotations and links on the selected page.
  int32_t AddLinkToPage(int32_t targetPage, int32_t options, double left, double top, double width, double height,
                        double destinationTop);
  int32_t AddLinkToWeb(std::u16string_view address, int32_t options, double left, double top, double width,
                       double height);
  int32_t AddLinkToLocalFile(std::u16string_view path, int32_t page, double left, double top, double width,
                             double height, double destinationTop, int32_t newWindow, int32_t options);
  int32_t AddLinkToEmbeddedFile(int32_t fileSpec, std::u16string_view description, double left, double top,
                                double width, double height, int32_t option);
  int32_t AddAnnotation(int32_t icon, std::u16string_view title, double x, double top, double popupLeft,
                        double popupTop, double popupWidth, double popupHeight, std::u16string_view contents,
                        double red, double green, double blue, int32_t open);

  // ---- Form fields
  // (fields, widget kids, values and appearances)
  // A field found by GetFormField: a field of the form, or a widget kid made
  // for a sub-field number (owned here and freed with the result).
  struct TFormFieldLookup {
    TPDFField* Field = nullptr;
    std::unique_ptr<TPDFField> Kid;
    explicit operator bool() const { return Field != nullptr; }
  };
  // A field of kind 1..7 (text, push button, check box, radio group,
  // choice, signature, parent) titled title; its 1-based index, 0 on failure.
  int32_t NewFormField(std::u16string_view title, int32_t kind);
  // Field number n (1-based) or sub-field number pvlFieldKidBase + f * 256 + k.
  TFormFieldLookup GetFormField(int32_t number);
  // Number of fields of the selected document's form (0 without a form).
  int32_t FormFieldCount();
  // 1-based index of the field with that fully qualified name; 0 when none.
  int32_t FindFormField(std::u16string_view fullName);
  int32_t SetFormFieldValue(int32_t index, std::u16string_view value);
  int32_t SetFormFieldBounds(int32_t number, double left, double top, double width, double height);
  int32_t SetFormFieldOption(int32_t number, int32_t option);
  int32_t SetFormFieldFont(int32_t number, int32_t fontIndex);
  int32_t FormFontCount();
  int32_t AddFormFont(int32_t fontHandle);
  int32_t SetNeedAppearances(int32_t flag);

  // ---- Outlines, attachments, information and security
  // (outline items and destinations, embedded files, document information,
  // encryption and decryption)
  // Outline items are numbered from 1 depth first; handles of 0 or of the
  // wrong kind give 0 or empty results. Reading a destination never changes
  // the document.
  int32_t OutlineCount();
  int32_t GetOutlineHandle(int32_t n);
  int32_t GetFirstOutline();
  int32_t GetFirstChildOutline(int32_t item);
  int32_t GetNextOutline(int32_t item);
  int32_t GetParentOutline(int32_t item);
  void GetOutlineTitle(int32_t item, std::u16string& out);
  // A new last child of parent (0: top level) leading to page at the
  // vertical position (caller units).
  int32_t NewOutline(int32_t parent, std::u16string_view title, int32_t page, double position);
  int32_t NewChildOutline(int32_t parent, std::u16string_view title);
  int32_t RemoveOutline(int32_t item);
  int32_t SetOutlineColor(int32_t item, double red, double green, double blue);
  double GetOutlineColor(int32_t item, int32_t component);
  int32_t SetOutlineWebLink(int32_t item, std::u16string_view address);
  void GetOutlineAction(int32_t item, std::u16string& out);
  int32_t GetOutlinePage(int32_t item);
  int32_t GetActionDestination(int32_t handle);
  int32_t GetDestinationPage(int32_t handle);
  // The destination array a handle leads to (reference, array, action or
  // destination dictionary, named destination), nullptr when none.
  TPDFObject* ResolveDestination(int32_t handle);

  // Embedded files, numbered from 1 in name-tree order. Kinds of the
  // strings: 1 file name, 2 MIME type, 3 creation date, 4 modification
  // date, 5 name-tree key, 7 description; of the integers: 5 and 6 size.
  int32_t EmbedFile(std::u16string_view title, std::u16string_view path, std::u16string_view mimeType);
  int32_t CreateEmbeddedFile(std::u16string_view path, std::u16string_view mimeType);
  int32_t EmbeddedFileCount();
  void GetEmbeddedFileString(int32_t n, int32_t kind, std::u16string& out);
  int64_t GetEmbeddedFileInt(int32_t n, int32_t kind);
  int32_t GetEmbeddedFileHandle(int32_t n);
  void GetEmbeddedFileContent(int32_t n, std::string& out);
  int32_t SaveEmbeddedFileToFile(int32_t n, std::u16string_view path);
  int32_t RemoveEmbeddedFile(int32_t n);

  // Information: 0 PDF version, 1 Author, 2 Title, 3 Subject, 4 Keywords,
  // 5 Creator, 6 Producer, 7 CreationDate, 8 ModDate (7 and 8 read only).
  void GetInformation(int32_t index, std::u16string& out);
  int32_t SetInformation(int32_t index, std::u16string_view text);
  // 0 not encrypted, 1 the standard handler, 2 a handler this system cannot use.
  int32_t IsEncrypted();
  // Bits 0..7: print, copy, modify, annotate, fill forms, extract for
  // accessibility, assemble, high-quality print (p == 1 allows); bits 16..23
  // the check byte (bits 0..7 xor 0xCD).
  int32_t EncodePermissions(int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7,
                            int32_t p8);
  // Strength 0 RC4 40, 1 RC4 128, 2 AES-128, 3 AES-256; takes effect at the
  // next save. Passwords keep their characters: AES-256 takes any (UTF-8
  // after SASLprep), the others only characters of PDFDocEncoding
  // (pvlErrEncryptionSetup otherwise).
  int32_t Encrypt(std::u16string_view ownerPassword, std::u16string_view userPassword, int32_t strength,
                  int32_t permissions);
  int32_t Decrypt();

  // ---- Merging, splitting and extraction
  // (file lists, direct-access merge and split, pages and text from files)
  // Outputs are written to a temporary file beside the target and renamed
  // over it; an output path that names one of the inputs is refused
  // (pvlErrBadArgument). Encrypted inputs of a merge or split give
  // pvlErrEncryptedInput.
  // Appends a file name to a named list (names compare without case). 1.
  int32_t AddToFileList(std::u16string_view listName, std::u16string_view fileName);
  // Merges the list's files in order into output: the number of files that
  // went into the last successful merge; 0 (and no output) on failure.
  int32_t MergeFileList(std::u16string_view listName, std::u16string_view output);
  int32_t MergeFiles(std::u16string_view first, std::u16string_view second, std::u16string_view output);
  // The pages of the second after those of the first, both read object by
  // object; outlines, form fields, form resources and named destinations of
  // both are kept.
  int32_t MergeStreams(TStream& first, TStream& second, TStream& output);
  // The pages a range text ("1,3-5") names, into a file of their own. An
  // empty selection writes nothing and gives pvlErrNoPages.
  int32_t ExtractPageRangesToFile(std::u16string_view input, std::u16string_view ranges, std::u16string_view output);
  // Text of one page of a file (modes as GetPageText), read by direct access.
  void ExtractPageTextFromFile(std::u16string_view path, std::u16string_view password, int32_t page, int32_t mode,
                               std::u16string& out);
  // Pages first .. first + count - 1 of the selected document as a new
  // loaded document, which becomes selected.
  int32_t ExtractPages(int32_t first, int32_t count);
  int32_t CopyFile(std::u16string_view source, std::u16string_view target);
  int32_t CheckTempDirectory();

private:
  struct TFileList {
    std::string Name;
    std::vector<std::string> Files;  // UTF-8
  };
  std::vector<TFileList> fileLists_;

public:
  // ---- Metafiles and rich text
  // (metafile images, HTML-subset text)
  // Codes of this group: a Windows metafile (WMF) whose records could not
  // be converted.
  static constexpr int32_t pvlErrMetafileWMF = 430;
  // HTML-subset text at (left, top) wrapped to width on the selected page
  // (caller units and origin). 1; 0 when width <= 0 or drawing failed.
  int32_t DrawHTMLText(std::u16string_view text, double left, double top, double width);
  // The whole selected page becomes the picture of an enhanced metafile:
  // the page takes the picture's size and the picture is drawn over it as a
  // vector form; a Windows metafile (WMF, placeable or plain) is read as the
  // EMF its records translate to. 1; 0 with the last error for a WMF file
  // that cannot be converted (pvlErrMetafileWMF) or a file that is missing
  // or not a sound EMF (pvlErrUnreadable).
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
  // The selected page's painter set to the selected font (a standard font
  // is added when there is none), the font registered in the page's
  // resources; nullptr without a page or a font. Throws what the engine throws.
  TPDFPainter* textPainter();
  // One line of text through show, which gets the characters the font can
  // encode; the facade's result and code for the drawing operations.
  int32_t showTextLine(std::u16string_view text,
                       const std::function<void(TPDFPainter&, const std::u16string&)>& show);

  // True when path names the file the selected document was loaded from
  // (IsSameFile): what is made from the document must not replace it.
  bool namesLoadedFile(std::u16string_view path) const;
  // A /Filespec made from the file at path for an attachment; nullptr, with
  // the code and the cause set, when the file is missing or unreadable.
  TPDFIndRef* embeddedFileSpec(std::u16string_view path, std::u16string_view mimeType);

  // A facade operation's failure: the code and its cause kept for
  // LastErrorCode and LastErrorMessage, 0 returned.
  int32_t failWith(int32_t code, std::string_view cause = {}) {
    error_.Set(code, cause);
    return 0;
  }
  // A failure caught from the engine: the code of its kind, else code.
  int32_t failWith(const std::exception& e, int32_t code) {
    RecordFailure(error_, e, code);
    return 0;
  }

  std::vector<std::unique_ptr<TPDFDocument>> documents_;
  TPDFDocument* selected_ = nullptr;
  TPDFImage* selectedImage_ = nullptr;
  TPDFFont* selectedFont_ = nullptr;
  TFacadeError error_;
  std::string tempFolder_;
  TProgressEvent onProgress_;
  double progressWeight_ = 1.0;
  int32_t progressBase_ = 0;
  int32_t progressStep_ = 1;
  int32_t progressStepCount_ = 1;
  int32_t lastPercent_ = 0;
  std::string lastRenderMessage_;
  std::string lastRenderWarnings_;
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
