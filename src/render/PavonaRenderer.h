// The page renderer: one page of a document drawn to one output (a bitmap,
// a caller's device context, cairo, an HTML5-canvas script, a raw image
// stream or the list of the page's images) by interpreting its content
// streams, form XObjects, annotation appearances and Type 3 glyph procedures.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graphics/PavonaColorManagement.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaMatrix.h"
#include "graphics/PavonaPicasso.h"
#include "graphics/PavonaTTFToVector.h"
#include "objects/PavonaStructure.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "render/PavonaImageCache.h"

class TPDFFontCollection;
class TPDFFontCollectionData;
class TPDFTextFunnel;
class TPDFType3Rasterizer;
class TMetafile;
class TPDFEPSExport;
class TEPSBackend;
class TPVLPrinter;

// Raised inside interpretation for content that cannot be rendered safely
// (content that draws itself, too much nested work).
class EPDFRenderError : public Exception {
public:
  using Exception::Exception;
};

// Output kinds.
constexpr uint8_t rokBitmap = 0, rokMetafile = 1, rokEnhancedMetafile = 2, rokEPS = 3, rokPrinter = 4,
                  rokText = 5, rokImageList = 6, rokRawStream = 7, rokDeviceContext = 8, rokHTML = 9,
                  rokCairo = 10;

// Colour spaces as the interpreter tells them apart. Calibrated and
// ICC-based spaces are drawn as the device space of their component count.
// The spaces made from a resource's array (Separation, DeviceN, Lab,
// Indexed) are made once per array and kept by the renderer, one list per
// kind; a reference names the kind and the place in that list.
enum class TColorSpaceKind : uint8_t { DeviceGray, DeviceRGB, DeviceCMYK, Separation, DeviceN, Lab, Indexed, Pattern };

struct TColorSpaceRef {
  TColorSpaceKind Kind = TColorSpaceKind::DeviceGray;
  // The place in the renderer's list of the kind (Pattern: 1 + the place of
  // its base space, 0 without one); 0 for the device spaces.
  uint32_t Index = 0;
  bool operator==(const TColorSpaceRef&) const = default;
};

// What a path-painting operator does with the path.
enum class TPaintOp : uint8_t { Fill, Stroke, FillAndStroke };
constexpr bool Fills(TPaintOp op) { return op != TPaintOp::Stroke; }
constexpr bool Strokes(TPaintOp op) { return op != TPaintOp::Fill; }

// Which points a path encloses, for filling and clipping, is the canvas's
// TFillRule (frNonZero, frEvenOdd).

// Text rendering modes (Tr 0-7): what showing text does with the glyphs.
enum class TTextRenderMode : uint8_t { Fill, Stroke, FillStroke, Invisible, FillClip, StrokeClip, FillStrokeClip, Clip };
constexpr bool Fills(TTextRenderMode m) {
  return m == TTextRenderMode::Fill || m == TTextRenderMode::FillStroke || m == TTextRenderMode::FillClip ||
         m == TTextRenderMode::FillStrokeClip;
}
constexpr bool Strokes(TTextRenderMode m) {
  return m == TTextRenderMode::Stroke || m == TTextRenderMode::FillStroke || m == TTextRenderMode::StrokeClip ||
         m == TTextRenderMode::FillStrokeClip;
}
// The glyphs join the clip (at the end of the text object's showing).
constexpr bool Clips(TTextRenderMode m) { return m >= TTextRenderMode::FillClip; }

// The saved graphics and text state (copied whole by q and Q).
struct TPDFGraphicsState {
  double CurrentPointX = 110, CurrentPointY = 700;
  TColor FillColor = 0;
  std::array<double, 4> FillCMYK{0, 0, 0, 0};
  TColor StrokeColor = 0;
  TColorSpaceRef FillColorSpace, StrokeColorSpace;  // DeviceGray at first
  double LineWidth = 1.0;
  int32_t LineCap = 0, LineJoin = 0;
  double MiterLimit = 10.0;
  TPDFMatrix CTM;
  TPDFMatrix TextMatrix, TextLineMatrix;
  double HorizontalScaling = 100;
  double FontSize = 12;
  std::string FontKey;
  double Leading = 0, CharSpacing = 0, WordSpacing = 0, TextRise = 0;
  TTextRenderMode TextRenderMode = TTextRenderMode::Fill;
  double StrokeAlpha = 1.0, FillAlpha = 1.0;
  TClipToken ClipRegion;
  double DashPhase = 0;
  std::vector<double> DashArray;
  std::string FillPattern, StrokePattern;  // pattern names set by scn / SCN in a Pattern space
};

// An Indexed colour space: base space and the lookup table.
struct TPDFIndexedColorSpace {
  TColorSpaceKind Base = TColorSpaceKind::DeviceRGB;  // DeviceGray, DeviceRGB or DeviceCMYK
  int32_t HiVal = 0;
  std::string Lookup;
};

// Decoded image kept for the whole render.
struct TPDFImageCacheEntry {
  int32_t ObjectNumber = 0;
  int32_t Generation = 0;
  std::unique_ptr<TPDFImageDecoder> Decoder;
};

class TPDFRenderer {
public:
  // Deepest nesting of form XObjects, appearances and Type 3 glyph procedures.
  static constexpr int32_t MaxNesting = 12;
  // Most nested runs (forms, appearances, glyph procedures) per page.
  static constexpr int64_t MaxNestedRuns = 200000;
  // Deepest q nesting that is saved; deeper q/Q pairs only count.
  static constexpr size_t MaxStateDepth = 4096;
  // Most operands kept; beyond it the oldest half is dropped.
  static constexpr size_t MaxOperands = 65536;
  // Summed decoded image bytes after which the image cache is emptied.
  static constexpr int64_t MaxImageCacheBytes = 100000000;
  // Most cells of a tiling pattern painted for one fill.
  static constexpr int64_t MaxPatternCells = 4096;
  // Most path steps of glyph outlines a text object gathers for its clip;
  // glyphs beyond them are left out of the clip.
  static constexpr size_t MaxTextClipSteps = size_t(1) << 20;

  explicit TPDFRenderer(TPDFFontCollection* fontCollection);
  ~TPDFRenderer();
  TPDFRenderer(const TPDFRenderer&) = delete;
  TPDFRenderer& operator=(const TPDFRenderer&) = delete;

  // Set by the owner before RenderPage.
  uint8_t OutputKind = rokBitmap;
  double Resolution = 72;
  TPDFDictionary* PageObject = nullptr;
  int32_t PageBoxKind = 2;  // 1 MediaBox, 2 CropBox, 3 BleedBox, 4 TrimBox, 5 ArtBox
  TGDIPlusSettings GDIPlusSettings;
  TPDFImageList* ImageList = nullptr;  // kind 6; not owned
  // Pictures prepared for drawing, kept between pages by the document's
  // owner (not owned); without one the renderer keeps its own for the page.
  TPDFImageCache* ImageCache = nullptr;
  TPDFObjectLookup OnLookupObject;
  TPDFStreamNotify OnDecryptStream;
  TPDFStreamNotify OnEncryptStream;
  // Filled text on cairo is drawn from the font collection's glyph masks;
  // off, every glyph is filled as an outline.
  bool UseGlyphCache = true;

  // Kind 5: the funnel that receives the page's text. Without one set, the
  // renderer's own funnel does (GetTextFunnel).
  void SetTextFunnel(TPDFTextFunnel* funnel);
  TPDFTextFunnel* GetTextFunnel();
  // Kind 7: the stream that receives the page as an EMF+ dual metafile
  // (written once the page is complete; without a stream the page fails).
  void SetRawOutputStream(TStream* stream) { rawStream_ = stream; }
  void SetHTMLOutputStream(TStream* stream) { htmlStream_ = stream; }
  // Kind 8: draws on the device context with the page at (x, y).
  void SetDeviceContext(HDC dc, bool hasDC, int32_t x, int32_t y);
  // Kind 10: draws with cairo (loaded from libraryPath) on the device context.
  void SetCairoTarget(HDC dc, const std::string& libraryPath, bool clearToWhite);
  // Kind 4: the printer whose canvas receives the page, and the placement
  // on its paper: PrintFitMode 0 actual size, 1 fit to the paper, 2 shrink
  // only; PrintAutoRotate turns a page whose orientation differs from the paper's.
  TPVLPrinter* Printer = nullptr;
  uint8_t PrintFitMode = 0;
  uint8_t PrintAutoRotate = 0;

  void RenderPage();
  // The page's box, rotation and output size (OutputWidth, OutputHeight)
  // for the current kind and resolution, without rendering: a caller that
  // supplies the drawing target (kinds 8 and 10) sizes it from this.
  struct TPageGeometry {
    double x1 = 0, y1 = 0, x2 = 612, y2 = 792;
    double boxWidth = 612, boxHeight = 792;
    int32_t rotate = 0;
  };
  TPageGeometry MeasurePage();

  // Results.
  const std::string& GetErrorText() const { return ErrorText; }
  // What the last RenderPage left out of a page it still drew (a picture
  // that cannot be decoded or drawn), one entry per thing left out.
  const std::vector<std::string>& GetWarnings() const { return Warnings; }
  int32_t GetOutputWidth() const { return OutputWidth; }
  int32_t GetOutputHeight() const { return OutputHeight; }
  TBitmap& GetBitmap() { return *bitmap_; }
  // Kinds 1 and 2: the recorded metafile; kind 3: the EPS lines.
  TMetafile& GetMetafile() { return *metafile_; }
  TPDFEPSExport& GetEPSExport() { return *epsExport_; }
  const TPDFMatrix& GetCTM() const { return CTM; }

  // Helpers also used by the owner.
  TPDFObject* ResolveObject(TPDFObject* obj) const;
  TPDFObject* GetInheritedAttribute(TPDFDictionary* dictionary, std::string_view key) const;
  bool GetPageBox(std::string_view boxName, double& x1, double& y1, double& x2, double& y2) const;
  TPDFPoint TransformPoint(const TPDFPoint& p) const;

  // Interprets a page, a Type 3 glyph procedure (object = font dictionary,
  // contentText = procedure) or a form/appearance stream with its reference.
  void RunContentStream(TPDFPicasso& canvas, TPDFObject* object, std::string_view contentText,
                        TPDFIndRef* reference);

  // Images this renderer keeps: decoded ones of the recorded kinds and the
  // pictures of its own image cache (none when the owner lends one).
  int32_t GetImageCacheCount() const {
    return static_cast<int32_t>(imageCache_.size()) + (ownImageCache_ ? ownImageCache_->GetCount() : 0);
  }

private:
  // RenderPage by output kind.
  void RenderToMetafile(const TPageGeometry& g);
  void RenderToPrinter(const TPageGeometry& g);
  void RenderToEPS(const TPageGeometry& g);
  // Bitmaps, raw streams, device contexts, HTML, cairo, text and image lists.
  void RenderToCanvas(const TPageGeometry& g);
  // Connects the drawing back-end of the output kind (the bitmap's canvas for
  // bitmaps).
  void AttachBackend(TPDFPicasso& backend, TCanvas* canvas);
  // The page turned by its rotation and moved to the box's corner: the last
  // step of every device transform.
  void RotateAndMove(const TPageGeometry& g, double width, double height);
  struct TRun;
  // One content operator: its text, the operands it takes off the stack and
  // its handler (see TOperator in PavonaRendererInternal.h).
  struct TOperands;
  struct TOperator;
  // Scope guards of a run (PavonaRendererInternal.h).
  struct TStateSave;
  // The interpreter's operators, sorted by text; null for an unknown text.
  static const TOperator* FindOperator(std::string_view name);
  // Graphics operators (paths, state, colour, XObjects, marked content) and
  // text operators: the two halves the operator table is built from.
  static std::span<const TOperator> GraphicsOperators();
  static std::span<const TOperator> TextOperators();
  // Takes one token: operands go on the stack, operators run through the table.
  void Dispatch(TRun& run, std::string_view token);
  void PushState(TRun& run);
  void PopState(TRun& run);
  void StrokeSetup(TRun& run);
  void FillSetup(TRun& run, TFillRule rule);
  void Paint(TRun& run, TPaintOp op);
  void OpenPath(TRun& run);
  // The path was painted or ended: the next one starts afresh.
  void EndPath(TRun& run);
  void ClosePath(TRun& run);
  void MoveTo(TRun& run, double x, double y);
  void LineTo(TRun& run, double x, double y);
  void CurveTo(TRun& run, double x1, double y1, double x2, double y2, double x3, double y3);
  void SetColor(TRun& run, bool fill);
  // g/G, k/K, rg/RG: the device space (kept inside an uncoloured glyph), then the colour.
  void SetDeviceColor(TRun& run, bool fill, TColorSpaceKind kind);
  // The space cs and CS name: a device space or one of the resources'.
  TColorSpaceRef ResolveColorSpace(TRun& run, std::string_view name);
  // The space a colour-space object stands for (made on the first use of
  // its array).
  TColorSpaceRef ColorSpaceOf(TPDFObject* value, int depth);
  TPDFIndexedColorSpace MakeIndexedSpace(TPDFArray* array, int depth);
  // [/Pattern base]: the base space an uncoloured pattern's colour is given in.
  TColorSpaceRef PatternSpace(TPDFArray* array, int depth);
  TColor IndexedColor(const TPDFIndexedColorSpace& space, double index);
  void ApplyExtGState(TRun& run, std::string_view name);
  void DrawXObject(TRun& run, std::string_view name);
  void DrawImageXObject(TRun& run, TPDFStream* stream, TPDFIndRef* ref);
  // Raster kinds: the image decoded once, reduced to its size on the device
  // and kept in the image cache.
  void DrawPreparedImageXObject(TRun& run, TPDFStream* stream, TPDFIndRef* ref, const double matrix[6]);
  void DrawInlineImage(TRun& run);
  void BeginMarkedContent(TRun& run, std::string_view tag, std::string_view properties);
  // Whether content marked with an optional-content group or membership
  // dictionary (an /OC value) is shown under the document's default
  // configuration; true for anything else.
  bool OptionalContentVisible(TPDFObject* oc);
  bool groupIsOn(TPDFDictionary* group);
  // A membership dictionary's visibility expression (/VE); nullopt when the
  // expression nests too deeply, repeats itself or is too large to weigh.
  struct TExpressionWalk;
  std::optional<bool> visibilityExpression(TPDFObject* expression, TExpressionWalk& walk);
  // An /OC properties operand written inline ("<< ... >>"), read once per
  // distinct text into a pool of the renderer's own.
  TPDFObject* inlineProperties(std::string_view text);
  // Reads the default configuration (/OCProperties /D) on first use.
  void loadOptionalContent();
  struct TOptionalContent {
    bool loaded = false;
    bool baseOff = false;
    // The document's groups (/OCProperties /OCGs); the configuration governs
    // these alone. Unset when the document lists none.
    std::optional<std::vector<const TPDFObject*>> groups;
    std::vector<const TPDFObject*> on, off;
    // Visibility of each /OC value already weighed: the configuration does
    // not change during a run.
    std::unordered_map<const TPDFObject*, bool> decided;
    std::unique_ptr<TPDFStructure> inlinePool;
    std::unordered_map<std::string, TPDFObject*> inlineObjects;
  } optionalContent_;
  void DrawAnnotations(TRun& run);
  void DrawAnnotation(TRun& run, TPDFDictionary* annot);
  void ClipToBox(TRun& run, double x1, double y1, double x2, double y2);
  // Fills the current path with the fill pattern (a tiling pattern's cells
  // run as nested content inside the path); other patterns paint nothing.
  void FillWithPattern(TRun& run, TFillRule rule);
  // Runs nested content under the nesting guard; errors end only that run.
  void RunNested(TPDFPicasso& canvas, TPDFObject* object, std::string_view contentText, TPDFIndRef* reference);
  std::string ReadStreamData(TPDFStream* stream, TPDFIndRef* ref);
  TPDFDictionary* ResourceDictionary(TRun& run, std::string_view category) const;
  // Text showing: the state of one showing, the glyph space entered (the
  // CTM; gives the rise's glyph units per text-space unit), one string's
  // glyphs laid out, one glyph drawn (from the glyph cache on cairo, as an
  // outline joining the text's path, or as a Type 3 procedure) and the
  // text's path painted by the render mode and kept for the clip.
  struct TTextShow;
  void SelectFontFromKey(TRun& run);
  void ShowText(TRun& run);
  double EnterTextSpace(const TPDFGraphicsState& gs, TTextShow& show);
  void ShowString(TRun& run, TTextShow& show, std::string_view operand);
  void DrawGlyph(TRun& run, TTextShow& show, std::string_view key);
  bool DrawGlyphMask(TRun& run, TTextShow& show, std::string_view key);
  void PaintTextPath(TRun& run, TTextShow& show);
  // ET: the glyphs shown in clipping modes since the text object began
  // are added to the clip at once.
  void EndTextObject(TRun& run);
  void DrawType3Glyph(TRun& run, TPDFType3Rasterizer& type3, TPDFFontCollectionData* font, std::string_view glyphName,
                      double x, double rise);

  // Notes that a picture (ref, or an inline one without it) is left out of
  // the page for the reason given; the page goes on.
  void warnPictureLeftOut(TPDFIndRef* ref, const std::string& reason);

  TPDFFontCollection* fontCollection_;
  std::string ErrorText;
  std::vector<std::string> Warnings;
  int32_t OutputWidth = 0, OutputHeight = 0;
  TPDFMatrix CTM, BaseCTM;
  TPDFStructure* Structure = nullptr;
  TPDFDictionary* DefaultResources = nullptr;
  TPDFDictionary* TransparencyGroup = nullptr;
  TPDFGraphicsState SavedState;
  bool UseSavedState = false;
  TPDFSimpleColorManager colorManager_;
  std::vector<std::unique_ptr<TPDFSeparationColorSpace>> separationSpaces_;
  std::vector<TPDFObject*> separationKeys_;
  std::vector<std::unique_ptr<TPDFLabColorSpace>> labSpaces_;
  std::vector<std::unique_ptr<TPDFDeviceNColorSpace>> deviceNSpaces_;
  std::vector<TPDFIndexedColorSpace> indexedSpaces_;
  // The colour-space arrays each space was made from (reused per array).
  std::vector<TPDFObject*> deviceNKeys_, labKeys_, indexedKeys_;
  // The base spaces of Pattern spaces that have one, and their arrays.
  std::vector<TColorSpaceRef> patternBases_;
  std::vector<TPDFObject*> patternKeys_;
  std::vector<TPDFImageCacheEntry> imageCache_;
  int64_t imageCacheBytes_ = 0;
  std::unique_ptr<TPDFImageCache> ownImageCache_;
  // The image decoded last: an image drawn again at another size on the page
  // is reduced from it instead of decoded again.
  struct TLastImage {
    int32_t Number = 0, Generation = 0;
    uint64_t Fingerprint = 0;
    int32_t NeededWidth = 0, NeededHeight = 0;  // the size it was decoded for
    std::unique_ptr<TPDFImageDecoder> Decoder;
  } lastImage_;
  std::unique_ptr<TBitmap> bitmap_;
  std::unique_ptr<TMetafile> metafile_;
  std::unique_ptr<TPDFEPSExport> epsExport_;
  // The EPS back-end during a kind 3 run: told the painting state the
  // canvas slots do not carry (colours, line settings, clips, saved states).
  TEPSBackend* eps_ = nullptr;
  // Kinds 1, 2 and 4: the page drawn on a device context.
  void RenderOnDC(HDC dc, int32_t width, int32_t height);
  // Kind 4: the page's device transform on the printer's paper.
  void PlaceOnPaper(HDC dc, double boxWidth, double boxHeight, double& rotWidth, double& rotHeight);
  std::unique_ptr<TPDFTextFunnel> ownFunnel_;
  TPDFTextFunnel* funnel_ = nullptr;
  TStream* rawStream_ = nullptr;
  TStream* htmlStream_ = nullptr;
  HDC targetDC_ = nullptr;
  bool hasDC_ = false;
  int32_t dcX_ = 0, dcY_ = 0;
  std::string cairoLibrary_ = "libcairo.so.2";
  bool cairoClear_ = true;
  // Nested runs: depth (for the guard), objects being run, total count.
  int32_t nesting_ = 0;
  std::vector<const TPDFObject*> activeObjects_;
  int64_t nestedRuns_ = 0;
  // Reference objects made for font keys written as references ("12 0 R").
  std::unordered_map<std::string, TPDFIndRef*> fontReferences_;
};
