// The office pager: a strip of tabs along one edge with the body of the
// active page in the rest of the control, its pages, the settings objects
// that describe how tabs and pages look, the styler base that pushes colour
// schemes to its pagers, and the drawing routines the tabs and pages share.
//
// Everything paints into a QImage back buffer (premultiplied 32-bit) through
// the GDI+ wrappers and QPainter, and the buffer is then put on the widget;
// pages read their corner colours back from the pager's buffer.
#pragma once

#include <QFont>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "ui/FxGDIP.h"
#include "ui/FxGlowButton.h"
#include "ui/FxHintInfo.h"
#include "ui/FxPicture.h"

constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;

class TFxOfficePager;
class TFxOfficePage;
class TFxGlowButton;

enum TTabPosition { tpTop, tpBottom, tpLeft, tpRight };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TImagePosition { ipLeft, ipTop, ipRight, ipBottom };
enum TFxTabShape { tsRectangle, tsLeftRamp, tsRightRamp, tsLeftRightRamp };
enum TGradientDirection { gdHorizontal, gdVertical };
enum TCloseOnTabPos { cpRight, cpLeft };

// A list whose reads and writes outside the items raise instead of reading
// past the end.
class EListError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

template <typename T>
class TDbgList {
public:
  int Count() const { return static_cast<int>(items_.size()); }
  T Get(int i) const {
    if (i < 0 || i >= Count()) throw EListError("Index out of bounds in list read access");
    return items_[static_cast<size_t>(i)];
  }
  void Put(int i, T v) {
    if (i < 0 || i >= Count()) throw EListError("Index out of bounds in list write access");
    items_[static_cast<size_t>(i)] = v;
  }
  int Add(T v) {
    items_.push_back(v);
    return Count() - 1;
  }
  int IndexOf(T v) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == v) return static_cast<int>(i);
    return -1;
  }
  void Delete(int i) {
    if (i >= 0 && i < Count()) items_.erase(items_.begin() + i);
  }
  void Move(int from, int to) {
    T v = items_[static_cast<size_t>(from)];
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, v);
  }
  void Clear() { items_.clear(); }

private:
  std::vector<T> items_;
};

// ---- settings objects

using TChangeEvent = std::function<void()>;

// A getter, and a setter that reports a real change through OnChange.
#define FX_NOTIFYING_PROPERTY(type, name, init)  \
  type Get##name() const { return f##name##_; } \
  void Set##name(type value) {                  \
    if (f##name##_ == value) return;            \
    f##name##_ = value;                         \
    if (OnChange) OnChange();                   \
  }

class TPagerTabSettings {
public:
  // Copies every layout field through its setter (so each real change
  // reports once), the spacing between tabs included.
  void Assign(const TPagerTabSettings& source);

#define FX_TABSETTINGS(X)                                                                                   \
  X(TAlignment, Alignment, taLeftJustify) X(int, LeftMargin, 4) X(int, RightMargin, 4) X(int, StartMargin, 4) \
  X(int, EndMargin, 0) X(int, Height, 26) X(int, Spacing, 4) X(int, Width, 0) X(bool, WordWrap, false)        \
  X(TImagePosition, ImagePosition, ipLeft) X(TFxTabShape, Shape, tsRectangle) X(int, Rounding, 1)
  FX_TABSETTINGS(FX_NOTIFYING_PROPERTY)
  // The streaming default of StartMargin is 60, not the initial 4, so an
  // unchanged pager writes it.
  static bool IsStoredStartMargin(int value) { return value != 60; }

  TChangeEvent OnChange;

private:
#define FX_FIELD(type, name, init) type f##name##_ = init;
  FX_TABSETTINGS(FX_FIELD)
#undef FX_FIELD
};

class TGradientBackground {
public:
  // Copies without a notice.
  void Assign(const TGradientBackground& source);
  TColor GetColor() const { return color_; }
  void SetColor(TColor v) { color_ = v, Changed(); }
  TColor GetColorTo() const { return colorTo_; }
  void SetColorTo(TColor v) { colorTo_ = v, Changed(); }
  TGradientDirection GetDirection() const { return direction_; }
  void SetDirection(TGradientDirection v) { direction_ = v, Changed(); }
  int GetSteps() const { return steps_; }
  void SetSteps(int v) { steps_ = v, Changed(); }
  TChangeEvent OnChange;

private:
  void Changed() {
    if (OnChange) OnChange();
  }
  TColor color_ = clWhite, colorTo_ = clBtnFace;
  TGradientDirection direction_ = gdHorizontal;
  int steps_ = 64;
};

#define FX_VISTA(X)                                                                                      \
  X(TColor, BorderColor, clGray) X(TColor, Color, clWhite) X(TColor, ColorTo, clWhite)                   \
  X(TColor, ColorMirror, clSilver) X(TColor, ColorMirrorTo, clWhite) X(TGDIPGradient, Gradient, ggVertical) \
  X(TGDIPGradient, GradientMirror, ggVertical) X(int, Steps, 64)

class TVistaBackground {
public:
  // Copies every field; the colours without a notice, the gradients through
  // their setters.
  void Assign(const TVistaBackground& source);
  FX_VISTA(FX_NOTIFYING_PROPERTY)
  TChangeEvent OnChange;

private:
#define FX_FIELD(type, name, init) type f##name##_ = init;
  FX_VISTA(FX_FIELD)
#undef FX_FIELD
};

// Properties that report a change when they change.
#define FX_TAB_NOTIFYING(X)                                                                                     \
  X(TColor, BorderColor, clBtnFace) X(TColor, BorderColorSelected, clBtnFace)                                   \
  X(TColor, BorderColorSelectedHot, clNone) X(TColor, BorderColorDisabled, clNone)                              \
  X(TColor, BorderColorDown, clNone) X(TColor, Color, clBtnFace) X(TColor, ColorTo, clWhite)                    \
  X(TColor, ColorSelected, clWhite) X(TColor, ColorSelectedTo, clBtnFace) X(TColor, ColorDisabled, clNone)      \
  X(TColor, ColorDisabledTo, clNone) X(TColor, ColorHot, clYellow) X(TColor, ColorHotTo, clNone)                \
  X(TColor, ColorMirror, clWhite) X(TColor, ColorMirrorTo, clWhite) X(TColor, ColorMirrorHot, clNone)           \
  X(TColor, ColorMirrorHotTo, clNone) X(TColor, ColorMirrorSelected, clWhite)                                   \
  X(TColor, ColorMirrorSelectedTo, clWhite) X(TColor, ColorMirrorDisabled, clNone)                              \
  X(TColor, ColorMirrorDisabledTo, clNone) X(TGDIPGradient, Gradient, ggVertical)                               \
  X(TGDIPGradient, GradientMirror, ggVertical) X(TGDIPGradient, GradientHot, ggVertical)                        \
  X(TGDIPGradient, GradientMirrorHot, ggVertical) X(TGDIPGradient, GradientSelected, ggVertical)                \
  X(TGDIPGradient, GradientMirrorSelected, ggVertical) X(TGDIPGradient, GradientDisabled, ggVertical)           \
  X(TGDIPGradient, GradientMirrorDisabled, ggVertical) X(TColor, TextColor, clBlue)                             \
  X(TColor, TextColorHot, clBlue) X(TColor, TextColorSelected, clBlue) X(TColor, TextColorDisabled, clWhite)
// Properties written without a notice.
#define FX_TAB_SILENT(X)                                                                                      \
  X(TColor, BorderColorHot, clBlue) X(TColor, ShadowColor, 0xE8C7AE) X(TColor, HighLightColor, 0xFFFABF)      \
  X(TColor, HighLightColorHot, 0xFDF4ED) X(TColor, HighLightColorSelected, 0x63CCF8)                          \
  X(TColor, HighLightColorSelectedHot, 0xBDFFFF) X(TColor, HighLightColorDown, 0xFFFBD0)

class TCustomTabAppearance {
public:
  TCustomTabAppearance();
  virtual ~TCustomTabAppearance() = default;
  TCustomTabAppearance(const TCustomTabAppearance&) = delete;
  TCustomTabAppearance& operator=(const TCustomTabAppearance&) = delete;

  // Copies every colour, gradient, the font and the background (the
  // selected and disabled gradients and text colours included); one change
  // report at the end when anything differed.
  void Assign(const TCustomTabAppearance& source);

  FX_TAB_NOTIFYING(FX_NOTIFYING_PROPERTY)
#define FX_DECLARE(type, name, init)            \
  type Get##name() const { return f##name##_; } \
  void Set##name(type value) { f##name##_ = value; }
  FX_TAB_SILENT(FX_DECLARE)
#undef FX_DECLARE

  const QFont& GetFont() const { return font_; }
  // Reports through OnFontChange when the font differs.
  void SetFont(const QFont& value);
  TGradientBackground& BackGround() { return *background_; }
  const TGradientBackground& BackGround() const { return *background_; }

  TChangeEvent OnChange;
  TChangeEvent OnFontChange;

private:
#define FX_FIELD(type, name, init) type f##name##_ = init;
  FX_TAB_NOTIFYING(FX_FIELD)
  FX_TAB_SILENT(FX_FIELD)
#undef FX_FIELD
  QFont font_;
  std::unique_ptr<TGradientBackground> background_;
};

class TTabAppearance : public TCustomTabAppearance {};

class TPagerTabScroller {
public:
  int Min = 0, Max = 0, Position = 0;
  bool Visible = false;
  bool CanGoBack() const { return Position > Min; }
  bool CanGoForward() const { return Position < Max; }
  void SetMin(int v) {
    if (v <= Max) Min = v;
  }
  void SetMax(int v) {
    if (v >= Min) Max = v;
  }
  void SetPosition(int v) { Position = v; }
  void SetVisible(bool v) { Visible = v; }
};

// ---- button settings

class TPageButtonSettings {
public:
  TPageButtonSettings();
  TPageButtonSettings(const TPageButtonSettings&) = delete;
  TPageButtonSettings& operator=(const TPageButtonSettings&) = delete;
  void Assign(const TPageButtonSettings& source);

  bool GetCloseButton() const { return closeButton_; }
  void SetCloseButton(bool v) { SetFlag(closeButton_, v); }
  bool GetPageListButton() const { return pageListButton_; }
  void SetPageListButton(bool v) { SetFlag(pageListButton_, v); }
  bool GetScrollButtonsAlways() const { return scrollButtonsAlways_; }
  void SetScrollButtonsAlways(bool v) { SetFlag(scrollButtonsAlways_, v); }
  bool GetFirstButton() const { return firstButton_; }
  void SetFirstButton(bool v) { SetFlag(firstButton_, v); }
  bool GetLastButton() const { return lastButton_; }
  void SetLastButton(bool v) { SetFlag(lastButton_, v); }

  TFxPicture& CloseButtonPicture() { return *pictures_[0]; }
  TFxPicture& PageListButtonPicture() { return *pictures_[1]; }
  TFxPicture& ScrollButtonPrevPicture() { return *pictures_[2]; }
  TFxPicture& ScrollButtonNextPicture() { return *pictures_[3]; }
  TFxPicture& ScrollButtonFirstPicture() { return *pictures_[4]; }
  TFxPicture& ScrollButtonLastPicture() { return *pictures_[5]; }
  TFxPicture& ScrollButtonUpPicture() { return *pictures_[6]; }
  TFxPicture& ScrollButtonDownPicture() { return *pictures_[7]; }
  TFxPicture& ScrollButtonUpFirstPicture() { return *pictures_[8]; }
  TFxPicture& ScrollButtonDownLastPicture() { return *pictures_[9]; }
  // Copy a picture in and report the change.
  void SetPicture(TFxPicture& target, const TFxPicture* source) {
    target.Assign(source);
    Changed();
  }

  QString CloseButtonHint = "Close";
  QString PageListButtonHint = "Page List";
  QString ScrollButtonNextHint = "Next";
  QString ScrollButtonPrevHint = "Previous";
  QString ScrollButtonFirstHint = "First";
  QString ScrollButtonLastHint = "Last";

  // Marks: the user replaced that scroll picture.
  bool PrevPictureChanged = false, NextPictureChanged = false, FirstPictureChanged = false,
       LastPictureChanged = false;

  TChangeEvent OnChange;
  void Changed() {
    if (OnChange) OnChange();
  }

private:
  void SetFlag(bool& field, bool v) {
    if (field == v) return;
    field = v;
    Changed();
  }
  void PictureChanged(TFxPicture* picture);
  bool closeButton_ = false, pageListButton_ = false, scrollButtonsAlways_ = false, firstButton_ = false,
       lastButton_ = false;
  std::unique_ptr<TFxPicture> pictures_[10];
};

// ---- styler base

class TCustomFxOfficePagerStyler : public QObject {
  Q_OBJECT
public:
  explicit TCustomFxOfficePagerStyler(QObject* owner = nullptr);
  ~TCustomFxOfficePagerStyler() override;

  TTabAppearance& TabAppearance() { return *tabAppearance_; }
  TVistaBackground& PageAppearance() { return *pageAppearance_; }
  TGlowButtonAppearance& GlowButtonAppearance() { return *glowButtonAppearance_; }
  void SetTabAppearance(const TTabAppearance& v) { tabAppearance_->Assign(v); }
  void SetPageAppearance(const TVistaBackground& v) { pageAppearance_->Assign(v); }
  void SetGlowButtonAppearance(const TGlowButtonAppearance& v) { glowButtonAppearance_->Assign(v); }

  bool GetRoundedCorners() const { return roundedCorners_; }
  void SetRoundedCorners(bool value);
  int BorderBlend = 50;

  void AddPager(TFxOfficePager* pager) { pagers_.Add(pager); }
  void RemovePager(TFxOfficePager* pager) { pagers_.Delete(pagers_.IndexOf(pager)); }
  int PagerCount() const { return pagers_.Count(); }
  // Pushes a change of one kind to every attached pager: 1 tab colours,
  // 2 page colours, 3 rounded corners, 4 button colours, 5 tab font.
  void Change(int kind);
  void Assign(const TCustomFxOfficePagerStyler& source);

protected:
  bool destroying_ = false;

private:
  TDbgList<TFxOfficePager*> pagers_;
  std::unique_ptr<TTabAppearance> tabAppearance_;
  std::unique_ptr<TVistaBackground> pageAppearance_;
  std::unique_ptr<TGlowButtonAppearance> glowButtonAppearance_;
  bool roundedCorners_ = true;
};

// ---- shared drawing routines

// Stepped GDI-style gradient of Steps bands.
void DrawGradient(QImage& canvas, TColor from, TColor to, bool horizontal, const QRect& rect, int steps);
void DrawRoundRectPath(TGPGraphics& g, const TGPPen& pen, float x, float y, float w, float h, float r);
void DrawRectPath(TGPGraphics& g, const TGPPen& pen, float x, float y, float w, float h);

struct TVistaColors {
  TColor Color, ColorTo, ColorMirror, ColorMirrorTo, BorderColor;
  TGDIPGradient Gradient, GradientMirror;
};
// Two-part face split across the tab (main half at the outer edge, mirror
// half at the page side) with its outline.
void DrawVistaGradient(QImage& canvas, const QRect& rect, const TVistaColors& c, TTabPosition position, bool rotated,
                       bool rounded);
// New path of the tab outline (caller owns).
std::unique_ptr<TGPGraphicsPath> CreateTabShapePath(const QRect& rect, TFxTabShape shape, int rounding,
                                                    TTabPosition position, bool rotate);
void DrawTabBackground(QImage& canvas, const QRect& rect, const TVistaColors& c, TTabPosition position, bool rotate,
                       int rounding, TFxTabShape shape);

// Caption rendering. alignment: 0 left, 1 right, 2 centre. Measures the
// caption into drawn (layout coordinates) and draws it when draw is set.
// False when the caption could not be measured or drawn (the reason is kept
// in lastStatus when given).
bool DrawCaption(QImage& canvas, int alignment, const QRect& layout, QRect& drawn, bool wordWrap, bool ellipsis,
                 TTabPosition direction, TAntiAlias antiAlias, bool draw, bool enabled, const QFont& font,
                 TColor fontColor, const QString& caption, TStatus* lastStatus = nullptr);
// Cuts a caption by whole characters (grapheme clusters) until it, with
// "..." when ellipsis is set, fits the available length of rect.
QString GetTruncatedCaptionW(const QString& caption, const QRect& rect, bool useGdip, bool noTruncation,
                             TTabPosition position, bool ellipsis, const QFont& font);
int WideTextWidth(const QFont& font, const QString& text);

// ---- the page

enum TShortCutHintPos {
  shpLeft, shpTop, shpRight, shpBottom, shpCenter, shpAuto, shpTopLeft, shpTopRight, shpAboveTop,
  shpAboveTopLeft, shpAboveTopRight, shpBottomLeft, shpBottomRight, shpBelowBottom, shpBelowBottomLeft,
  shpBelowBottomRight, shpBelowBottomCenter
};

class TFxOfficePage : public QWidget {
  Q_OBJECT
  friend class TFxOfficePager;

public:
  explicit TFxOfficePage(QWidget* owner = nullptr);
  ~TFxOfficePage() override;

  TFxOfficePager* GetFxOfficePager() const { return pager_; }
  void SetFxOfficePager(TFxOfficePager* pager);

  QString GetCaption() const { return caption_; }
  void SetCaption(const QString& value);
  QString GetWideCaption() const { return wideCaption_; }
  void SetWideCaption(const QString& value);
  // The text the tab shows: Caption, else WideCaption.
  QString TabCaption() const { return caption_.isEmpty() ? wideCaption_ : caption_; }
  TFxPicture& Picture() { return *picture_; }
  TFxPicture& DisabledPicture() { return *disabledPicture_; }
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  TVistaBackground& PageAppearance() { return *pageAppearance_; }
  bool GetUsePageAppearance() const { return usePageAppearance_; }
  void SetUsePageAppearance(bool value);
  TTabAppearance& TabAppearance() { return *tabAppearance_; }
  bool GetUseTabAppearance() const { return useTabAppearance_; }
  void SetUseTabAppearance(bool value);
  bool GetTabVisible() const { return tabVisible_; }
  void SetTabVisible(bool value);
  bool GetTabEnabled() const { return tabEnabled_; }
  void SetTabEnabled(bool value);
  bool GetShowClose() const { return showClose_; }
  void SetShowClose(bool value);
  bool GetShowCheckBox() const { return showCheckBox_; }
  void SetShowCheckBox(bool value);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool value);
  int GetPageIndex() const;
  void SetPageIndex(int value);
  TFxHintInfo& OfficeHint() { return *officeHint_; }

  QString TabHint;
  QString ShortCutHint;
  TShortCutHintPos ShortCutHintPos = shpTop;

  // Animation state of the tab (read by the tab drawing).
  bool GlowTimerRunning() const { return glowTimer_ != nullptr; }
  int GlowMode() const { return glowMode_; }
  int HoverGlow() const { return hoverGlow_; }
  int ClickGlow() const { return clickGlow_; }
  void GlowTimerTick();
  TFxGlowButton* CloseButton() const { return closeButton_; }

signals:
  void OnShow(TFxOfficePage* page);
  void OnHide(TFxOfficePage* page);

protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;

private:
  void Relayout(bool repaintPage = true);
  void PictureChanged();
  void TabFontChanged();
  void FreeGlowTimer();
  // The measured caption extent, kept until caption, font or measuring
  // settings change, so laying out many tabs does not measure them again.
  struct TextCache {
    bool valid = false;
    QString text;
    QFont font;
    int antiAlias = -1;
    bool wordWrap = false;
    bool side = false;
    QRect extent;
  } textCache_;

  TFxOfficePager* pager_ = nullptr;
  QString caption_, wideCaption_;
  std::unique_ptr<TFxPicture> picture_, disabledPicture_;
  std::unique_ptr<TFxHintInfo> officeHint_;
  std::unique_ptr<TVistaBackground> pageAppearance_;
  std::unique_ptr<TTabAppearance> tabAppearance_;
  int imageIndex_ = -1;
  bool usePageAppearance_ = false, useTabAppearance_ = false, tabVisible_ = true, tabEnabled_ = true,
       showClose_ = true, showCheckBox_ = false, checked_ = false;
  QTimer* glowTimer_ = nullptr;  // owned by the pager while it runs
  int glowStep_ = 20, hoverGlow_ = 0, clickGlow_ = 0, glowMode_ = 2;
  QPointer<TFxGlowButton> closeButton_;
  QPointer<TShortCutHintWindow> shortCutHintWindow_;
  bool bodyValid_ = false;
};

// ---- the pager

class TFxOfficePager : public QWidget {
  Q_OBJECT
  friend class TFxOfficePage;

public:
  explicit TFxOfficePager(QWidget* parent = nullptr);
  ~TFxOfficePager() override;

  // Pages.
  int GetPageCount() const { return pages_.Count(); }
  TFxOfficePage* GetPage(int index) const { return pages_.Get(index); }
  int IndexOfPage(const TFxOfficePage* page) const { return pages_.IndexOf(const_cast<TFxOfficePage*>(page)); }
  int GetVisTabCount() const;
  int AddPage(TFxOfficePage* page);
  void RemovePage(TFxOfficePage* page);
  void MoveTab(int from, int to);

  int GetActivePageIndex() const { return activeIndex_; }
  void SetActivePageIndex(int index);
  TFxOfficePage* GetActivePage() const { return activeIndex_ >= 0 ? pages_.Get(activeIndex_) : nullptr; }
  void SetActivePage(TFxOfficePage* page);
  void ChangeActivePage(int index);
  void SelectNextPage(bool forward);
  void ClosePage(QObject* sender);
  bool CloseActivePage();

  // Styler.
  TCustomFxOfficePagerStyler* GetFxOfficePagerStyler() const { return attachedStyler_; }
  void SetFxOfficePagerStyler(TCustomFxOfficePagerStyler* styler);
  TCustomFxOfficePagerStyler* CurrentStyler() const;
  TCustomFxOfficePagerStyler* InternalStyler() const { return internalStyler_; }
  void UpdateMe(int kind);
  void SetPagesFlag(bool value);

  // Published properties.
  TAntiAlias GetAntiAlias() const { return antiAlias_; }
  void SetAntiAlias(TAntiAlias value);
  TPageButtonSettings& ButtonSettings() { return *buttonSettings_; }
  TPagerTabSettings& TabSettings() { return *tabSettings_; }
  bool GetCloseOnTab() const { return closeOnTab_; }
  void SetCloseOnTab(bool value);
  TCloseOnTabPos GetCloseOnTabPosition() const { return closeOnTabPosition_; }
  void SetCloseOnTabPosition(TCloseOnTabPos value);
  int GetPageMargin() const { return pageMargin_; }
  void SetPageMargin(int value);
  bool GetRotateTabLeftRight() const { return rotateTabLeftRight_; }
  void SetRotateTabLeftRight(bool value);
  bool GetShowCloseOnNonSelectedTabs() const { return showCloseOnNonSelectedTabs_; }
  void SetShowCloseOnNonSelectedTabs(bool value);
  bool GetShowNonSelectedTabs() const { return showNonSelectedTabs_; }
  void SetShowNonSelectedTabs(bool value);
  TTabPosition GetTabPosition() const { return tabPosition_; }
  void SetTabPosition(TTabPosition value);
  TFxHintInfo& OfficeHint() { return *officeHint_; }
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* value);
  TCustomImageList* GetDisabledImages() const { return disabledImages_; }
  void SetDisabledImages(TCustomImageList* value);
  QString Version() const { return "1.7.1.4"; }
  bool FreeOnClose = false;
  bool Glow = true;
  bool ShowTabHint = false;
  bool TabReorder = false;
  bool ShowShortCutHints = false;
  QPointer<QMenu> PageListMenu;

  // Veto events (a var Boolean that starts True).
  std::function<void(TFxOfficePager*, int fromPage, int toPage, bool& allowChange)> OnChanging;
  std::function<void(TFxOfficePager*, int pageIndex, bool& allow)> OnClosePage;
  std::function<void(TFxOfficePager*, int tabIndex, const QRect& tabRect, QImage& canvas)> OnDrawTab;

  // Layout (pager client coordinates; (-1,-1,-1,-1) means not shown).
  QRect GetTabsRect() const;
  QRect GetButtonsRect() const;
  QRect GetTabsArea() const;
  QRect GetPageRect() const;
  QRect GetTabRect(int index) const;
  QRect GetPageTabRect(TFxOfficePage* page) const { return GetTabRect(IndexOfPage(page)); }
  QRect GetCheckBoxRect(int index) const;
  bool LayoutTabs(int start, int index, QRect& result, bool useScroller) const;
  void SetPagePosition(TFxOfficePage* page);
  void SetAllPagesPosition();
  void InvalidateTab(int index);
  void UpdateTabScroller();
  const TPagerTabScroller& TabScroller() const { return scroller_; }
  void ScrollFirst();
  void ScrollPrev();
  void ScrollNext();
  void ScrollLast();
  bool IsRoundedTabs() const;
  int GetLeftShapeExtra() const;
  int GetRightShapeExtra() const;
  int ActiveNeighbourSide(int index) const;
  bool IsTabVisible(int index) const;
  // Measures of tab content.
  QSize GetTabImageSize(int index) const;
  QSize GetTabTextSize(int index) const;
  void GetTabContentRects(int index, QRect& closeRect, QRect& imageRect, QRect& textRect) const;

  // Buttons.
  bool HasCloseButton() const;
  QRect GetScrollButtonsRect() const;
  QRect GetFirstButtonRect() const;
  QRect GetPrevButtonRect() const;
  QRect GetNextButtonRect() const;
  QRect GetLastButtonRect() const;
  QRect GetPageListButtonRect() const;
  QRect GetCloseButtonRect(int index) const;
  void UpdateButtons();
  void ShowPageListMenu();
  void PageListItemClick(QAction* item);
  TFxGlowButton* PageListButton() const { return pageListButton_; }
  TFxGlowButton* SingleCloseButton() const { return closeButton_; }
  TFxGlowButton* PrevButton() const { return prevButton_; }
  TFxGlowButton* NextButton() const { return nextButton_; }
  TFxGlowButton* FirstButton() const { return firstButton_; }
  TFxGlowButton* LastButton() const { return lastButton_; }

  // Mouse and keys.
  int PtOnTab(int x, int y) const;
  bool PtOnCheckBox(int index, int x, int y) const;
  int HotIndex() const { return hotIndex_; }
  int PressedIndex() const { return pressedIndex_; }
  // Selects the tab whose caption has ch as its accelerator; true when one did.
  bool DialogChar(QChar ch);
  void ShowShortCutHintsNow();
  void HideShortCutHints();
  bool ShortCutHintsShown() const { return hintsShown_; }

  // Reordering by dragging a tab (with TabReorder): a drop is accepted only
  // from the pager itself over a tab; it moves the active tab there.
  bool DragOver(QObject* source, const QPoint& p) const;
  void DragDrop(QObject* source, const QPoint& p);

  // Docking (with DockSite). A control docked into the pager becomes the
  // only child of a page of its own, filling it; undocked (a drag of its tab
  // off the pager, or a double click on its tab) it floats in a window of its
  // own. A control whose widget properties "DragMode" and "DragKind" are
  // "dmAutomatic" and "dkDock" is dragged from its tab.
  bool DockSite = false;
  // Docks the control: a new page, or its page moved to the end when it is
  // docked here already. False when the pager is no dock site.
  bool DockClient(QWidget* client);
  // Floats a docked control with its top left at the screen point; its page
  // goes. False when the control is not docked here.
  bool UndockClient(QWidget* client, const QPoint& globalPos);
  // The docked control on the tab under the point (nullptr when none).
  QWidget* GetDockClientAt(const QPoint& p) const;
  // The page that holds a control docked here (nullptr when none).
  TFxOfficePage* GetPageOfDockClient(QWidget* client) const;
  // Whether a dragged control docks when dropped at the screen point; the
  // rectangle a drag shows is the pager's window (screen coordinates).
  bool DockOver(QWidget* source, const QPoint& globalPos, QRect& dockRect) const;
  // The control whose tab is being dragged, once the drag has begun.
  QWidget* DockDragClient() const { return dockDragging_ ? dockDrag_.data() : nullptr; }

  // Drawing.
  void DrawAllTabs(QImage& canvas);
  void DrawTab(QImage& canvas, int index);
  // The whole control as last painted (pages read their corners from it).
  const QImage& BackBuffer() const { return backBuffer_; }
  QImage RenderPager();
  bool IsReady() const { return ready_; }
  void SetReady();

signals:
  void OnChange(TFxOfficePager* sender);
  void OnClosedPage(TFxOfficePager* sender, int pageIndex);
  void OnTabMoved(TFxOfficePager* sender, int fromPos, int toPos);
  void OnTabClick(TFxOfficePager* sender, int pageIndex);
  void OnTabRightClick(TFxOfficePager* sender, int pageIndex);
  void OnTabDblClick(TFxOfficePager* sender, int pageIndex);
  void OnTabCheckBoxClick(TFxOfficePager* sender, int pageIndex);
  void OnPageListClick(TFxOfficePager* sender, int x, int y);
  void OnPrevClick(QObject* sender);
  void OnNextClick(QObject* sender);
  void OnFirstClick(QObject* sender);
  void OnLastClick(QObject* sender);
  void OnDockDrop(TFxOfficePager* sender, QWidget* client);
  void OnUnDock(TFxOfficePager* sender, QWidget* client);

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void focusInEvent(QFocusEvent*) override;
  void focusOutEvent(QFocusEvent*) override;
  bool event(QEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void TabSettingsChanged();
  void ButtonSettingsChanged();
  int ComputeScrollMax(bool& fitting);
  void StartGlow(TFxOfficePage* page, int step, int mode);
  void FreeCloseButton(TFxOfficePage* page);
  TFxGlowButton* NewButton(void (TFxOfficePager::*handler)(TFxGlowButton*));
  void ConfigureButton(TFxGlowButton* button, const QRect& rect, TFxPicture& picture, const QString& hint);
  void ScrollClick(TFxGlowButton* sender, int which);
  void CloseButtonClick(TFxGlowButton* sender);
  void PageListButtonClick(TFxGlowButton* sender);
  void Relayout();
  // Selection after a page left the list: one change report, after the
  // indices settled.
  void SettleAfterRemoval(TFxOfficePage* wasActive, int oldActiveIndex, TFxOfficePage* next);
  TFxOfficePage* NextSelectablePage(int from, bool forward) const;
  QRect TextExtent(TFxOfficePage* page, bool side) const;
  // The tab's length along the strip (its caption measured once, see TextExtent).
  int TabLength(int index) const;
  const TTabAppearance& AppearanceOf(TFxOfficePage* page) const;
  void UnhookForm();
  // The parts of a tab's drawing (FxOfficePagerPaint.cpp).
  struct TTabColors;
  TTabColors TabColorsOf(int index);
  void DrawTabFace(QImage& canvas, int index, const QRect& tabRect, const TTabColors& colors);
  void DrawRoundedTabDetails(QImage& canvas, int index, const QRect& tabRect, const TTabColors& colors);
  void DrawTabCheckBox(QImage& canvas, int index);
  QRect TabContentRect(int index, const QRect& tabRect);
  void DrawTabPicture(QImage& canvas, TFxOfficePage* page, QRect& content);
  void DrawTabCaption(QImage& canvas, int index, QRect content, TColor textColor);
  void KeepButtonAreaClear(QImage& canvas, const QRect& tabRect);

  TCustomFxOfficePagerStyler* internalStyler_ = nullptr;  // child QObject
  QPointer<TCustomFxOfficePagerStyler> attachedStyler_;
  TDbgList<TFxOfficePage*> pages_;
  int activeIndex_ = -1, hotIndex_ = -1, pressedIndex_ = -1, hintIndex_ = -1;
  bool ready_ = false, closing_ = false, destroying_ = false, settling_ = false;
  TPagerTabScroller scroller_;
  bool fullWidth_ = false;
  int stripOffset_ = 4;
  std::unique_ptr<TPagerTabSettings> tabSettings_;
  std::unique_ptr<TPageButtonSettings> buttonSettings_;
  std::unique_ptr<TFxHintInfo> officeHint_;
  TAntiAlias antiAlias_ = aaClearType;
  bool closeOnTab_ = false, rotateTabLeftRight_ = true, showCloseOnNonSelectedTabs_ = false,
       showNonSelectedTabs_ = false;
  TCloseOnTabPos closeOnTabPosition_ = cpRight;
  int pageMargin_ = 1;
  TTabPosition tabPosition_ = tpTop;
  TCustomImageList *images_ = nullptr, *disabledImages_ = nullptr;
  QPointer<TFxGlowButton> closeButton_, pageListButton_, prevButton_, nextButton_, firstButton_, lastButton_;
  QImage backBuffer_;
  QImage buttonAreaBackground_;
  // Shortcut hints and the hooked form.
  bool hintsShown_ = false;
  QString typedPrefix_;
  QPointer<QWidget> hookedForm_;
  // Drag reordering.
  QPoint dragStart_;
  bool dragPending_ = false, dragging_ = false;
  // Docking (FxOfficePagerDock.cpp): the controls docked here (a form's
  // caption follows its title; another control's text is cut at a line
  // break), the page being docked or undocked, a tab drag of a client.
  struct TDockClient {
    QPointer<QWidget> client;
    bool form = false;
  };
  std::vector<TDockClient> dockClients_;
  TFxOfficePage* pageBeingDocked_ = nullptr;
  TFxOfficePage* pageBeingUndocked_ = nullptr;
  QPointer<QWidget> dockDrag_;
  QPoint dockDragStart_;
  bool dockDragging_ = false;
  void DoAddDockClient(QWidget* client);
  void DoRemoveDockClient(QWidget* client);
  const TDockClient* DockEntry(const QWidget* client) const;
  // The dock notification: a docked control's text or visibility changed.
  bool DockNotification(QObject* watched, QEvent* event);
};
