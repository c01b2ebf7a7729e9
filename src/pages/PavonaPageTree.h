// The pages of one document: page-by-number access to the Pages tree, one
// selected page prepared for writing (its Contents normalised to an array of
// streams, the stream that new drawing goes to, the painter loaded with that
// stream's text), page sizes with inheritance and a default page, the page's
// resources, page references and the index of a page reference.
//
// Every number and link of the tree comes from the file: Count values are
// checked, Kids and Parent chains are guarded against cycles and depth, and
// the page count is bounded by a limit the owner sets (the number of objects
// of the document), so a hostile tree can neither hang the walk nor make the
// page cache grow without bound.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "graphics/PavonaPicasso.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaAnnots.h"
#include "pages/PavonaPageFormats.h"
#include "pages/PavonaPainter.h"

// Deepest nesting of Pages nodes (and longest Parent chain) that is followed.
constexpr int kMaxPageTreeDepth = 256;
// Largest page count accepted from a tree built without a limit of its owner.
constexpr int64_t kDefaultPageLimit = 1 << 20;

// The marker of content streams that the system creates and may append to.
constexpr std::string_view kContentMarkerKey = "LC";
constexpr std::string_view kContentMarkerValue = "iSPV";
// A marked last stream whose encoded data is longer than this gets a fresh
// stream after it for new drawing.
constexpr int64_t kMaxAppendStreamSize = 500000;

class TStream;
class TPDFFont;
class TPDFImage;
class TPDFTextFunnel;
class TPVLPrinter;
class TPDFImageCache;


// The file name of one page of a page-image series: every "%p" of the
// pattern becomes the page number; without one, the number goes just before
// the extension of the file name (never into a folder name), or at the end
// when the name has no extension.
std::u16string PageImageFileName(std::u16string_view pattern, int32_t page);

class TPDFFontCollection;

class TPDFPageTree {
public:
  using TPageIndexCallback = std::function<int32_t(TPDFIndRef* page)>;

  // With a root: the pool is the root's owner and page 1 is selected. Without
  // one: an empty tree (no pages, nothing selected). pageLimit bounds the
  // page count (a page is an object of its own, so the owner passes the
  // number of objects of the document).
  explicit TPDFPageTree(TPDFDictionary* root, int64_t pageLimit = kDefaultPageLimit,
                        TPageIndexCallback pageIndex = nullptr);
  ~TPDFPageTree();
  TPDFPageTree(const TPDFPageTree&) = delete;
  TPDFPageTree& operator=(const TPDFPageTree&) = delete;

  // Number of pages: the root's Count when the walk that the Counts guide
  // finds its first and last page (pages are parsed on first use); else,
  // or when a page Count promises is not found later, the pages one whole
  // walk of the tree reaches (each Pages node entered once, at most the
  // page limit), and page n is then the n-th page of that walk. When the
  // tree reaches no page although its Count promises some, the document's
  // page objects become its pages (OnOrphanPages). Sizes the page cache.
  int32_t GetPageCount();
  // The dictionary of page n (1-based) of that walk, nullptr when n is out
  // of range. Records the found reference, its Kids array and the found
  // parent; stores the result in the cache.
  TPDFDictionary* FindPage(int32_t n);
  // Selects page n; an invalid n reselects the selected page number.
  void SelectPage(int32_t n);
  // Painter callback: the painter's whole content into the current stream.
  void PainterChanged();

  // Size of the selected page in points (MediaBox, inherited through Parent;
  // a page without one gets the default MediaBox).
  double GetPageWidth();
  double GetPageHeight();
  // Replace the selected page's MediaBox and CropBox by [0 0 w h].
  void SetPageWidth(double width);
  void SetPageHeight(double height);
  void ReadDefaultPageSize();
  double GetDefaultPageWidth() const { return defaultWidth_; }
  double GetDefaultPageHeight() const { return defaultHeight_; }

  // The selected page's resource dictionary (its own, else its immediate
  // parent's), created when missing; nullptr without a selected page.
  TPDFDictionary* GetPageResources();
  // A new reference to the selected page, nullptr when the page is not an
  // indirect object.
  TPDFIndRef* GetSelectedPageRef();
  // The Kids entry of page n; the selection and lookup record stay as they were.
  TPDFIndRef* GetPageRef(int32_t n);
  // 1-based number of the page r refers to, 0 when none.
  int32_t IndexOfPageRef(TPDFIndRef* r);
  TPDFArray* GetRootKids();
  void SetRootCount(int32_t count);
  // Replaces the selected page's Thumb entry.
  void SetThumb(TPDFDictionary* thumb);
  int32_t GetContentStreamCount() const { return static_cast<int32_t>(contentStreams_.size()); }
  // Decoded bytes of the stream at the current stream number.
  std::string GetContentStreamData() const;
  TPDFStream* GetContentStream(int32_t index) const;

  // ---- Page output. Each request makes its own renderer and font
  // collection; the selected page does not change. The results are real:
  // 1 when every page was rendered and written, 0 otherwise, with one line
  // "page N: reason" per failed page in errorText (a page drawn only in
  // part is still written).
  // Largest page image (width x height pixels) the page output makes.
  static constexpr int64_t kMaxImagePixels = int64_t(1) << 27;
  int32_t RenderPageToFile(int32_t first, int32_t last, double dpi, int32_t format, uint8_t jpegQuality,
                           std::u16string_view pattern, const TGDIPlusSettings& settings, bool useTransparent,
                           uint32_t transparentColor, std::string& errorText);
  int32_t RenderPageToStream(int32_t page, int32_t format, double dpi, uint8_t jpegQuality,
                             const TGDIPlusSettings& settings, TStream& output, std::string& errorText,
                             int32_t pageBox = 2);
  // Pages first..last drawn on the printer's canvas, a new printer page
  // before each but the first (the caller starts and ends the job). Options:
  // low four bits the scaling (1 fit to the paper, 2 shrink only), 16 turn
  // pages to the paper's orientation. 1, or 0 with "page N: ..." lines.
  int32_t PrintPage(TPVLPrinter* printer, int32_t first, int32_t last, const TGDIPlusSettings& settings,
                    int32_t options, std::string& errorText);
  // What the last page output left out of pages it still made (a picture
  // that cannot be decoded or drawn): "page N: ..." lines, "" when nothing.
  const std::string& GetRenderWarnings() const { return renderWarnings_; }
  // Text of the selected page: options 0..2 through the content extractor,
  // 3..8 through the renderer's text funnel (the caller's, when given).
  void ExtractPageText(int32_t option, TPDFTextFunnel* funnel, std::u16string& out);

  // ---- Read-only page attributes for the renderer and page output. They
  // never change the document.
  // The value of key on the page or, for an inheritable attribute, on the
  // nearest Pages node above it (resolved); nullptr when none.
  static TPDFObject* GetInheritedValue(TPDFDictionary* page, std::string_view key);
  // A page box (MediaBox, CropBox, BleedBox, TrimBox, ArtBox) as
  // [llx lly urx ury] with llx <= urx and lly <= ury; nullopt when the page
  // has no usable box of that name. MediaBox and CropBox are inherited.
  static std::optional<std::array<double, 4>> GetPageBox(TPDFDictionary* page, std::string_view key);
  // The rotation of the page in degrees: 0, 90, 180 or 270 (inherited; a
  // value that is not a multiple of 90 counts as 0).
  static int32_t GetPageRotate(TPDFDictionary* page);
  // The page's resources (inherited), nullptr when none.
  static TPDFDictionary* GetInheritedResources(TPDFDictionary* page);

  // State.
  TPDFDictionary* GetRoot() const { return root_; }
  TPDFStructure* GetPool() const { return pool_; }
  int32_t GetSelectedPageNumber() const { return selectedPageNumber_; }
  TPDFDictionary* GetSelectedPage() const { return selectedPage_; }
  TPDFDictionary* GetFoundParent() const { return foundParent_; }
  TPDFIndRef* GetFoundRef() const { return foundRef_; }
  TPDFArray* GetFoundKids() const { return foundKids_; }
  int32_t GetCurrentStreamNumber() const { return currentStreamNumber_; }
  void SetCurrentStreamNumber(int32_t n) { currentStreamNumber_ = n; }
  bool GetContentsWrapped() const { return contentsWrapped_; }
  void SetContentsWrapped() { contentsWrapped_ = true; }
  TPDFPainter* GetPainter() const { return painter_.get(); }
  TPDFAnnots* GetAnnots() const { return annots_.get(); }
  int64_t GetPageLimit() const { return pageLimit_; }
  // The owner raises the limit as the document grows.
  void SetPageLimit(int64_t limit);


  // ---- Page editing and page resources
  // Inserts count blank pages of width x height so that they become pages
  // position .. position + count - 1, then selects page position. Nothing
  // is inserted without a root, a Kids array or a way to register objects.
  void InsertPages(int32_t position, int32_t count, double width, double height);
  // Removes pages first .. first + count - 1 from the tree (the range is
  // clipped to the pages there are). The removed page objects stay in the
  // pool, unlinked; their content streams and the resource streams that
  // nothing else in the document reaches any more are emptied. Afterwards
  // the page at first (or the last page) is selected.
  void DeletePages(int32_t first, int32_t count);
  // Joins the selected page's content streams into its first one, enclosed
  // in "q" .. "Q" (with a "Q" more for every "q" the content leaves open,
  // and "ET" for an open text object). A stream that another page also uses
  // is never changed: the joined text then goes into a new stream. False
  // when Contents is not an array.
  bool WrapPageContents();
  // Adds delta to Count of node and of each node above it.
  void AdjustParentCounts(TPDFDictionary* node, int32_t delta);
  // Empties the resource streams of pages first .. first + count - 1 that
  // no other page (nor anything else of the document) reaches.
  void ReleasePageResources(int32_t first, int32_t count);
  // Makes Resources, MediaBox, CropBox and Rotate (and with allBoxes the
  // BleedBox, TrimBox and ArtBox) explicit on the selected page.
  void CopyInheritedAttributes(bool allBoxes);
  // Resource registration on the selected page.
  void AddFontResource(TPDFFont* font);
  void AddImageResource(TPDFImage* image);
  void AddExtGStateResource(std::string_view name, TPDFIndRef* ref);
  void AddPatternResource(std::string_view name, TPDFIndRef* ref);
  // Annotations on the selected page; rectangles are left, top, width,
  // height in page space. Each returns the new annotation's reference
  // (nullptr when nothing was added).
  TPDFIndRef* AddLinkToWeb(std::string_view address, bool border, double left, double top, double width,
                           double height);
  TPDFIndRef* AddLinkToPage(int32_t targetPage, bool border, double left, double top, double width, double height,
                            double destinationTop);
  TPDFIndRef* AddLinkToFile(std::u16string_view fileName, int32_t targetPage, bool border, bool newWindow,
                            double left, double top, double width, double height, double destinationTop);
  TPDFIndRef* AddNoteAnnotation(int32_t icon, std::u16string_view title, bool open, double red, double green,
                                double blue, std::u16string_view contents, double left, double top, double popupLeft,
                                double popupTop, double popupWidth, double popupHeight);
  // fileSpec refers to a file specification; contents is a PDF text string
  // (PDFDocEncoding, or FE FF and UTF-16BE).
  TPDFIndRef* AddFileAttachmentAnnotation(TPDFIndRef* fileSpec, std::string_view contents, bool icon,
                                          double left, double top, double width, double height);
  // Adds a form field's widget reference to Annots unless it is there.
  void AddFieldToPage(TPDFIndRef* widget);
  // Set by the document: its trailer, from which everything that must keep
  // its data on a page deletion is reached.
  std::function<TPDFObject*()> OnDocumentTrailer;

  TPageIndexCallback OnPageIndex;
  // Set by the document: every page object it holds (Type Page), in the
  // order of their numbers; asked only when the tree reaches no page.
  std::function<std::vector<TPDFIndRef*>()> OnOrphanPages;

private:
  // Page editing helpers.
  TPDFArray* selectedAnnots();
  TPDFIndRef* registerObject(TPDFObject* obj);
  TPDFIndRef* appendAnnotation(TPDFDictionary* annot);
  void addResource(std::string_view category, std::string_view name, TPDFIndRef* ref);
  void forgetPages();
  struct TWalk;
  TPDFDictionary* walkKids(TWalk& walk, TPDFArray* kids, int depth);
  // Page n found by the walk that the Count values guide; nullptr when it
  // is not there (or the walk met a node written directly in Kids).
  TPDFDictionary* guidedFind(int32_t n);
  // The whole walk: the page count becomes the number of pages it found.
  void walkAll();
  bool walked_ = false;
  // One slot per page reached by the walk of the tree, in page order.
  struct TPageSlot {
    TPDFDictionary* page;
    TPDFIndRef* ref;
    TPDFArray* kids;  // the Kids array that lists the page
    TPDFDictionary* parent;
  };
  std::vector<TPageSlot> slots_;
  // Walks the tree once and fills slots_, the page count and the cache.
  void collectPages();
  void collectKids(TPDFArray* kids, TPDFDictionary* parent, int depth, std::unordered_set<const TPDFObject*>& entered);
  void adoptOrphanPages();
  // A new empty stream registered as an indirect object (marked when asked);
  // nullptr when the pool cannot register objects.
  TPDFIndRef* newContentStream(bool marked, TPDFStream** stream);
  // WrapPageContents without touching the painter: the joined stream, or
  // nullptr when Contents is not an array.
  TPDFStream* joinContentStreams();
  // Before the first drawing on the selected page: content of other
  // producers before the painter's stream may leave the graphics state
  // transformed (a flipped matrix never restored), so it is wrapped first
  // and new drawing starts from the default state.
  void startFromDefaultState();
  double pageSize(bool width);
  // Renders page n in the given format into output; false with the reason
  // in error when the page could not be rendered or written.
  bool renderOnePage(int32_t n, int32_t format, double dpi, uint8_t jpegQuality, const TGDIPlusSettings& settings,
                     TStream& output, bool toFile, bool useTransparent, uint32_t transparentColor, int32_t pageBox,
                     std::string& error);
  void storeCache(int32_t n, TPDFDictionary* page);

  int32_t foundNumber_ = 0;
  std::string renderWarnings_;
  int32_t foundGeneration_ = 0;
  double defaultWidth_ = 612;
  double defaultHeight_ = 792;
  TPDFIndRef* foundRef_ = nullptr;
  TPDFArray* foundKids_ = nullptr;
  int32_t currentStreamNumber_ = 0;
  TPDFStructure* pool_ = nullptr;
  TPDFDictionary* root_ = nullptr;
  int32_t selectedPageNumber_ = 0;
  TPDFDictionary* foundParent_ = nullptr;
  TPDFDictionary* selectedPage_ = nullptr;
  std::vector<TPDFStream*> contentStreams_;
  std::unique_ptr<TPDFPainter> painter_;
  std::unique_ptr<TPDFAnnots> annots_;
  // Fonts (and their rasterised glyphs) of the pages rendered so far: a
  // document's pages share their fonts, which are read once, not per page.
  std::unique_ptr<TPDFFontCollection> renderFonts_;
  double widthCache_ = 0;
  double heightCache_ = 0;
  bool widthCached_ = false;
  bool heightCached_ = false;
  bool contentsWrapped_ = false;
  std::vector<TPDFDictionary*> pageCache_;
  // Pictures prepared for drawing, shared by the pages rendered and printed
  // from this document.
  std::shared_ptr<TPDFImageCache> imageCache_;
  TPDFImageCache* imageCache();
  int64_t pageLimit_;
  // The root Count value the derived page count was computed from.
  bool countKnown_ = false;
  double countSource_ = -1;
  int32_t pageCount_ = 0;
};
