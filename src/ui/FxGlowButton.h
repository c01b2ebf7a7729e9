// The glow button: a push, check or grouped button whose colours fade from
// the normal to the hot set when the mouse enters and towards the down set
// when pressed. It paints through the GDI+ wrappers on a premultiplied
// buffer that is then put on the widget.
#pragma once

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/FxGDIP.h"
#include "ui/FxHintInfo.h"
#include "ui/FxPicture.h"

enum TGDIPGradient { ggRadial, ggVertical, ggDiagonalForward, ggDiagonalBackward };

// Colour arithmetic on class-library colours (system colours resolved).
TColor ChangeColorRGB(TColor color, int redPercent, int greenPercent, int bluePercent);
TColor ChangeColor(TColor color, int percent);
// Mixes per channel: 100 (or more) gives first unchanged, 0 (or less) second.
TColor BlendColor(TColor first, TColor second, int percent);

// The glow button's colours and gradient kinds per state.
#define FX_APPEARANCE_COLORS(X)                                                                                  \
  X(TColor, Color) X(TColor, ColorTo) X(TColor, ColorMirror) X(TColor, ColorMirrorTo) X(TColor, ColorHot)        \
  X(TColor, ColorHotTo) X(TColor, ColorMirrorHot) X(TColor, ColorMirrorHotTo) X(TColor, ColorDown)               \
  X(TColor, ColorDownTo) X(TColor, ColorMirrorDown) X(TColor, ColorMirrorDownTo) X(TColor, ColorChecked)         \
  X(TColor, ColorCheckedTo) X(TColor, ColorMirrorChecked) X(TColor, ColorMirrorCheckedTo)                        \
  X(TColor, ColorDisabled) X(TColor, ColorDisabledTo) X(TColor, ColorMirrorDisabled)                             \
  X(TColor, ColorMirrorDisabledTo) X(TColor, BorderColor) X(TColor, BorderColorHot) X(TColor, BorderColorDown)   \
  X(TColor, BorderColorChecked) X(TColor, BorderColorDisabled) X(TGDIPGradient, Gradient)                        \
  X(TGDIPGradient, GradientMirror) X(TGDIPGradient, GradientHot) X(TGDIPGradient, GradientMirrorHot)             \
  X(TGDIPGradient, GradientDown) X(TGDIPGradient, GradientMirrorDown) X(TGDIPGradient, GradientChecked)          \
  X(TGDIPGradient, GradientMirrorChecked) X(TGDIPGradient, GradientDisabled)                                     \
  X(TGDIPGradient, GradientMirrorDisabled) X(bool, SystemFont)

class TGlowButtonAppearance {
public:
  TGlowButtonAppearance();
  TGlowButtonAppearance(const TGlowButtonAppearance&) = delete;
  TGlowButtonAppearance& operator=(const TGlowButtonAppearance&) = delete;

  // Copies every property through its setter, so the change event fires
  // once per property that really changes.
  void Assign(const TGlowButtonAppearance& source);

#define FX_DECLARE(type, name)                     \
  type Get##name() const { return f##name##_; }    \
  void Set##name(type value) {                     \
    if (f##name##_ == value) return;               \
    f##name##_ = value;                            \
    if (OnChange) OnChange();                      \
  }
  FX_APPEARANCE_COLORS(FX_DECLARE)
#undef FX_DECLARE

  std::function<void()> OnChange;

private:
#define FX_FIELD(type, name) type f##name##_{};
  FX_APPEARANCE_COLORS(FX_FIELD)
#undef FX_FIELD
};

enum TButtonLayout {
  blGlyphLeft,
  blGlyphTop,
  blGlyphRight,
  blGlyphBottom,
  blGlyphLeftAdjusted,
  blGlyphRightAdjusted,
  blGlyphTopAdjusted,
  blGlyphBottomAdjusted
};
enum TButtonPosition { bpStandalone, bpLeft, bpMiddle, bpRight };
enum TFxButtonStyle { bsButton, bsCheck };
enum TFocusType { ftBorder, ftHot, ftHotBorder, ftNone };
enum TBorderStyle { bsNone, bsSingle };
enum TGlowButtonState { gsNormal, gsHot, gsDown };
enum TDropDownPosition { dpRight, dpBottom };
enum TDropDownDirection { ddDown, ddRight };
enum TButtonSizeState { bsGlyph, bsLabel, bsLarge };

// A list of equally sized images drawn by index (the class library's image
// list): enabled images as they are, disabled ones greyed.
class TCustomImageList {
public:
  TCustomImageList(int width = 16, int height = 16) : width_(width), height_(height) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Count() const { return static_cast<int>(images_.size()); }
  // Scales the image to the list's size; returns its index.
  int Add(const QImage& image);
  // False when the index names no image.
  bool Draw(QImage& canvas, int x, int y, int index, bool enabled) const;

private:
  int width_, height_;
  std::vector<QImage> images_;
};
using TImageList = TCustomImageList;

// Small borderless window showing a key hint: a vertical gradient from Color
// to ColorTo, the text centred on one line and a grey rounded frame.
class TShortCutHintWindow : public QWidget {
public:
  explicit TShortCutHintWindow(QWidget* parent = nullptr);
  TColor Color = 0xFFFFFF;
  TColor ColorTo = 0xF0F0F0;
  void SetCaption(const QString& text);
  QString Caption() const { return caption_; }
  QImage Render();

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString caption_;
};

class TFxCustomGlowButton : public QWidget {
public:
  // Button states.
  static constexpr int rsUp = 0, rsDisabled = 1, rsDown = 2, rsExclusive = 4;

  explicit TFxCustomGlowButton(QWidget* parent = nullptr);
  ~TFxCustomGlowButton() override;

  TGlowButtonAppearance& Appearance() { return *appearance_; }
  void SetAppearance(const TGlowButtonAppearance& value);
  TFxPicture& Picture() { return *picture_; }
  TFxPicture& HotPicture() { return *hotPicture_; }
  TFxPicture& DisabledPicture() { return *disabledPicture_; }
  TFxHintInfo& OfficeHint() { return *officeHint_; }

  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);
  bool GetDown() const { return down_; }
  void SetDown(bool value);
  int GetGroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int value);
  bool GetAllowAllUp() const { return allowAllUp_; }
  void SetAllowAllUp(bool value);
  TFxButtonStyle GetStyle() const { return style_; }
  void SetStyle(TFxButtonStyle value) { style_ = value; }
  bool GetShowDisabled() const { return showDisabled_; }
  void SetShowDisabled(bool value);
  bool GetRounded() const { return rounded_; }
  void SetRounded(bool value);
  TAntiAlias GetAntiAlias() const { return antiAlias_; }
  void SetAntiAlias(TAntiAlias value);
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  TButtonPosition GetPosition() const { return position_; }
  void SetPosition(TButtonPosition value);
  TButtonLayout GetLayout() const { return layout_; }
  void SetLayout(TButtonLayout value);
  TFocusType GetFocusType() const { return focusType_; }
  void SetFocusType(TFocusType value);
  int GetSpacing() const { return spacing_; }
  void SetSpacing(int value);
  bool GetShowCaption() const { return showCaption_; }
  void SetShowCaption(bool value);
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; }
  bool GetRepeatClick() const { return repeatClick_; }
  void SetRepeatClick(bool value) { repeatClick_ = value; }
  int GetInitRepeatPause() const { return initRepeatPause_; }
  void SetInitRepeatPause(int value) { initRepeatPause_ = value; }
  int GetRepeatPause() const { return repeatPause_; }
  void SetRepeatPause(int value) { repeatPause_ = value; }
  bool GetTabStop() const { return tabStop_; }
  void SetTabStop(bool value);
  QString Version() const { return "1.8.4.7"; }

  // Class-library basics the pager sets on its buttons.
  int GetTag() const { return tag_; }
  void SetTag(int value) { tag_ = value; }
  QString GetHint() const { return hint_; }
  void SetHint(const QString& value);
  bool GetShowHint() const { return showHint_; }
  void SetShowHint(bool value);

  // Drop-down part.
  bool GetDropDownButton() const { return dropDownButton_; }
  void SetDropDownButton(bool value);
  TDropDownPosition GetDropDownPosition() const { return dropDownPosition_; }
  void SetDropDownPosition(TDropDownPosition value);
  TDropDownDirection GetDropDownDirection() const { return dropDownDirection_; }
  void SetDropDownDirection(TDropDownDirection value);
  bool GetDropDownSplit() const { return dropDownSplit_; }
  void SetDropDownSplit(bool value);
  QMenu* GetDropDownMenu() const { return dropDownMenu_; }
  void SetDropDownMenu(QMenu* menu) { dropDownMenu_ = menu; }
  void DoDropDown();
  void DoClickAction();
  // Where the drop-down menu opens, in screen coordinates.
  QPoint DropDownPoint() const;
  // Shows a menu; tests replace it so that no modal loop runs.
  std::function<void(QMenu*, const QPoint&)> PopupMenuAt;
  virtual bool ForceDropDown() const { return false; }

  // Sizing and glyphs.
  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  int GetMarginHorz() const { return marginHorz_; }
  void SetMarginHorz(int value);
  int GetMarginVert() const { return marginVert_; }
  void SetMarginVert(int value);
  TButtonSizeState GetButtonSizeState() const { return sizeState_; }
  void SetButtonSizeState(TButtonSizeState value);
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* value);
  TCustomImageList* GetHotImages() const { return hotImages_; }
  void SetHotImages(TCustomImageList* value);
  TCustomImageList* GetDisabledImages() const { return disabledImages_; }
  void SetDisabledImages(TCustomImageList* value);
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  bool GetWordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);

  // Notes: lines of text under the caption in a font of their own (the
  // layout is glyph-left, caption aligned near, while there are any).
  const QStringList& GetNotes() const { return notes_; }
  void SetNotes(const QStringList& value);
  const QFont& GetNotesFont() const { return notesFont_; }
  void SetNotesFont(const QFont& value);
  TColor GetNotesFontColor() const { return notesFontColor_; }
  void SetNotesFontColor(TColor value);

  // Copies another glow button's properties (not its appearance, not its
  // events). Drag mode and drag kind travel as the widget properties
  // "DragMode" and "DragKind".
  void Assign(const TFxCustomGlowButton& source);

  // Action: caption, enabled, visible and checked state follow the action;
  // a click triggers it.
  QAction* GetAction() const { return action_; }
  void SetAction(QAction* action);

  // Dialog keys.
  bool GetDefault() const { return default_; }
  void SetDefault(bool value);
  bool GetCancel() const { return cancel_; }
  void SetCancel(bool value);
  int GetModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }
  bool DefaultActive() const { return defaultActive_; }
  // Handles the caption's accelerator character; true when it did.
  bool DialogChar(QChar ch);

  // The shortcut-hint window (created on demand).
  QString ShortCutHint;
  TShortCutHintWindow* ShortCutHintWindow() const { return hintWindow_; }
  void ShowShortCutHint();
  void HideShortCutHint();
  // Recolours the appearance for one of the predefined looks (8 leaves the
  // colours) and repaints.
  void SetComponentStyle(int style);

  std::function<void(TFxCustomGlowButton*)> OnDropDown;
  // The content size the last measuring pass found.
  QSize ContentSize() const { return contentSize_; }

  std::function<void(TFxCustomGlowButton*)> OnClick;
  std::function<void(TFxCustomGlowButton*)> OnMouseEnter;
  std::function<void(TFxCustomGlowButton*)> OnMouseLeave;
  std::function<void(TFxCustomGlowButton*, QImage&, const QRect&, TGlowButtonState)> OnDrawButton;

  void Click();
  // One tick of the fade (every 30 ms while the glow timer runs).
  void GlowTimer();
  void RepeatTimerExpired();
  bool GlowTimerRunning() const { return glowTimer_->isActive(); }
  bool RepeatTimerRunning() const { return repeatTimer_ && repeatTimer_->isActive(); }
  int RepeatInterval() const { return repeatTimer_ ? repeatTimer_->interval() : 0; }
  int HotBlend() const { return hotBlend_; }
  int DownBlend() const { return downBlend_; }
  int ButtonState() const { return state_; }
  // The button's look drawn into a buffer of its size over a background.
  QImage RenderButton(QRgb background);

protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void keyReleaseEvent(QKeyEvent*) override;
  void focusInEvent(QFocusEvent*) override;
  void focusOutEvent(QFocusEvent*) override;
  void changeEvent(QEvent*) override;
  bool event(QEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct Look {
    TColor color, colorTo, mirror, mirrorTo, border;
    TGDIPGradient gradient, gradientMirror;
  };
  Look NormalLook() const;
  Look HotLook() const;
  Look DownLook() const;
  Look CheckedLook() const;
  Look DisabledLook() const;
  void Paint(QImage& canvas);
  void DrawGlowButton(QImage& canvas, const Look& look, bool enabled, bool focusFrame, bool measureOnly);
  void DrawGlyphAndCaption(QImage& canvas, bool enabled, bool measureOnly, int contentRight, int contentBottom);
  void UpdateSize();
  void HookWindow();
  void ActionChanged();
  void PaintParentBackground(QImage& canvas);
  bool InDropDownZone(const QPoint& p, int zone) const;
  void DoMouseEnter();
  void DoMouseLeave();
  void StartGlowTimer();
  void UpdateTracking(const QPoint& pos);
  void UpdateExclusive();
  void ButtonPressed(int groupIndex, TFxCustomGlowButton* sender);
  void Repaint() { update(); }
  TColor FontColor() const;

  std::unique_ptr<TGlowButtonAppearance> appearance_;
  std::unique_ptr<TFxPicture> picture_, hotPicture_, disabledPicture_;
  std::unique_ptr<TFxHintInfo> officeHint_;
  std::unique_ptr<QTimer> glowTimer_, repeatTimer_;

  QString caption_;
  bool down_ = false, allowAllUp_ = false, showDisabled_ = true, rounded_ = true, showCaption_ = true;
  bool transparent_ = false, repeatClick_ = false, tabStop_ = false;
  int groupIndex_ = 0, spacing_ = 2, initRepeatPause_ = 400, repeatPause_ = 100;
  TFxButtonStyle style_ = bsButton;
  TAntiAlias antiAlias_ = aaClearType;
  TBorderStyle borderStyle_ = bsSingle;
  TButtonPosition position_ = bpStandalone;
  TButtonLayout layout_ = blGlyphLeft;
  TFocusType focusType_ = ftBorder;

  int state_ = rsUp;
  bool mouseInside_ = false, tracking_ = false, hot_ = false;
  bool mousePressed_ = false, pressPending_ = false, captured_ = false, releasePending_ = false;
  int hotBlend_ = 0, downBlend_ = 0, step_ = 20;
  enum { abNone, abHot, abDown } animated_ = abNone;
  bool focused_ = false, painting_ = false;

  int tag_ = 0;
  QString hint_;
  bool showHint_ = false;
  bool dropDownButton_ = false, dropDownSplit_ = true, dropDownHover_ = false, dropDownOpen_ = false;
  TDropDownPosition dropDownPosition_ = dpRight;
  TDropDownDirection dropDownDirection_ = ddDown;
  QPointer<QMenu> dropDownMenu_;
  bool autoSize_ = false, measurePending_ = false, wordWrap_ = true;
  QStringList notes_;
  QFont notesFont_{"Tahoma", 8};
  TColor notesFontColor_ = clBlack;
  int marginHorz_ = 1, marginVert_ = 1;
  TButtonSizeState sizeState_ = bsLarge;
  TButtonLayout savedLayout_ = blGlyphLeft;
  TDropDownPosition savedDropDownPosition_ = dpRight;
  TCustomImageList *images_ = nullptr, *hotImages_ = nullptr, *disabledImages_ = nullptr;
  int imageIndex_ = -1;
  QPointer<QAction> action_;
  QMetaObject::Connection actionConnection_;
  bool default_ = false, cancel_ = false, defaultActive_ = false;
  int modalResult_ = 0;
  QPointer<QWidget> hookedWindow_;
  QMetaObject::Connection focusConnection_;
  TShortCutHintWindow* hintWindow_ = nullptr;  // child widget
  QSize contentSize_;
};

class TFxGlowButton : public TFxCustomGlowButton {
public:
  using TFxCustomGlowButton::TFxCustomGlowButton;
};
