#include "ui/FxOfficePagerStylers.h"

#include <QEvent>

#include "ui/ACXPVS.h"

bool IsWinXPOrLater() { return false; }

int CurrentXPThemeScheme() {
  if (!IsWinXPOrLater()) return 0;
  InitThemeLibrary();
  using IsThemeActiveFn = int (*)();
  using GetCurrentThemeNameFn = long (*)(char16_t*, int, char16_t*, int, char16_t*, int);
  auto isActive = reinterpret_cast<IsThemeActiveFn>(ThemeEntry(teIsThemeActive));
  if (!isActive || !isActive()) return 0;
  auto getName = reinterpret_cast<GetCurrentThemeNameFn>(ThemeEntry(teGetCurrentThemeName));
  if (!getName) return 0;
  char16_t file[255] = {}, color[255] = {}, size[255] = {};
  getName(file, 255, color, 255, size, 255);
  color[254] = 0;
  std::u16string name(color);
  if (name == u"NormalColor") return 1;
  if (name == u"HomeStead") return 2;
  if (name == u"Metallic") return 3;
  return 0;
}

TNotifierWindow::TNotifierWindow(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_DontShowOnScreen);
  hide();
}

bool TNotifierWindow::event(QEvent* e) {
  if (e->type() == QEvent::ThemeChange && OnThemeChange) OnThemeChange(this);
  return QWidget::event(e);
}

TFxOfficePagerOfficeStyler::TFxOfficePagerOfficeStyler(QObject* owner) : TCustomFxOfficePagerStyler(owner) {
  // The notifier lives under the first widget of the owner chain, so that it
  // receives the application's theme notices with that window.
  QWidget* host = nullptr;
  for (QObject* o = owner; o && !host; o = o->parent()) host = qobject_cast<QWidget*>(o);
  notifier_ = std::make_unique<TNotifierWindow>(host);
  notifier_->OnThemeChange = [this](TNotifierWindow*) { ThemeChanged(); };
  // Load the default scheme for real: the stored style starts at it.
  SetStyle(psWindowsXP);
  SetStyle(psOffice2003Blue);
}

TFxOfficePagerOfficeStyler::~TFxOfficePagerOfficeStyler() = default;

void TFxOfficePagerOfficeStyler::ThemeChanged() {
  if (!AutoThemeAdapt) return;
  switch (CurrentXPThemeScheme()) {
    case 1: SetStyle(psOffice2003Blue); break;
    case 2: SetStyle(psOffice2003Olive); break;
    case 3: SetStyle(psOffice2003Silver); break;
    default: SetStyle(psWindowsXP); break;
  }
}

void TFxOfficePagerOfficeStyler::SetStyle(TOfficePagerStyle value) {
  if (value == style_ && loadedOnce_) return;
  loadedOnce_ = true;
  style_ = value;
  BorderBlend = 50;
  LoadScheme(value);
  Change(2);
}

namespace {
// Every value a scheme writes, in the order it writes them.
struct TScheme {
  bool rounded;
  TColor bgColor, bgColorTo;
  TColor borderHot, borderSelected, borderSelectedHot;
  TColor text, textHot, textSelected;
  TColor selected, selectedTo, mirrorSelected, mirrorSelectedTo;
  TColor disabledTo, mirrorDisabledTo;
  TColor hot, hotTo, mirrorHot, mirrorHotTo;
  TGDIPGradient gradientHot, gradientMirrorHot;
  TColor shadow, highLight, highLightHot;
  TColor pageBorder, pageColor, pageColorTo, pageMirror, pageMirrorTo;
  TColor glowColor, glowColorTo, glowMirror, glowMirrorTo, glowBorder;
  TColor glowBorderChecked;  // clNone: unchanged
};

const TScheme kSchemes[10] = {
    // psOffice2003Blue
    {true, 0xE4AE88, 0xFADAC4, clHighlight, 0x000000, 0x60CCF9, 0x000000, 0x000000, 0x000000, 0xFCDCC4, 0xFAF1E9,
     0xFAF1E9, 0xF6EAE0, 0xC0C0C0, 0xC0C0C0, 0xCCF4FF, 0xCCF4FF, 0xCCF4FF, 0x91D0FF, ggVertical, ggVertical,
     0xA3673F, 0xFFFABF, 0xFDF4ED, 0xE3B28D, 0xFDEADA, 0xFADAC4, 0xFADAC4, 0xFADAC4, 0xEEDBC8, 0xF6DDC9, 0xEDD4C0,
     0xF7E1D0, 0xE0B99B, clNone},
    // psOffice2003Silver
    {true, 0xE6D8D8, 0xE6D8D8, clHighlight, 0x927476, 0x60CCF9, 0x000000, 0x000000, 0x000000, 0x927476, 0xF7F3F3,
     0xF7F3F3, 0xF0E8E8, 0xC0C0C0, 0xC0C0C0, 0xCCF4FF, 0xCCF4FF, 0xCCF4FF, 0x91D0FF, ggVertical, ggVertical,
     0xBCADA7, 0xFFFABF, 0xF7F3F3, 0x927476, 0xF7F3F3, 0xE6D8D8, 0xE6D8D8, 0xE6D8D8, 0xE6E9E2, 0xE6D8D8, 0xE6E9E2,
     0xC8B2B3, 0x927476, clNone},
    // psOffice2003Olive
    {true, 0x8CC0B1, 0xCFF0EA, clHighlight, 0x8CC0B1, 0x60CCF9, 0x000000, 0x000000, 0x000000, 0x8CC0B1, 0xCFF0EA,
     0xCFF0EA, 0xB7E1D8, 0xC0C0C0, 0xC0C0C0, 0xCCF4FF, 0xCCF4FF, 0xCCF4FF, 0x91D0FF, ggVertical, ggVertical,
     0x648C82, 0xFFFABF, 0xE5F6F3, 0x8CC0B1, 0xCFF0EA, 0xB7E1D8, 0xB7E1D8, 0xB7E1D8, 0xCFF0EA, 0xCFF0EA, 0xCFF0EA,
     0x8CC0B1, 0x8CC0B1, clNone},
    // psOffice2003Classic
    {true, 0xC9D1D5, 0xFFFFFF, clHighlight, 0x808080, 0x60CCF9, 0x000000, 0x000000, 0x000000, 0xC9D1D5, 0xFFFFFF,
     0xFFFFFF, 0xF0F0F0, 0xC0C0C0, 0xC0C0C0, 0xCCF4FF, 0xCCF4FF, 0xCCF4FF, 0x91D0FF, ggVertical, ggVertical,
     0xA1A7AA, 0xFFFABF, 0xF5F5F5, 0x000000, 0xFFFFFF, 0xF0F0F0, 0xF0F0F0, 0xF0F0F0, 0xFFFFFF, 0xC9D1D5, 0xFFFFFF,
     0xC9D1D5, 0x000000, clNone},
    // psOffice2007Luna
    {true, 0xFFDBBF, clNone, 0xE3C8B5, 0xE3B28D, 0x60CCF9, 0x8B4215, 0x8B4215, 0x8B4215, 0xFEF6F0, 0xFAF1E9,
     0xFAF1E9, 0xF5E6D9, 0xC0C0C0, 0xC0C0C0, 0xDDE5E4, 0xD7DDE1, 0xCEE1EA, 0xA3D3E1, ggRadial, ggVertical, 0xE8C7AE,
     0xFFFABF, 0xFDF4ED, 0xE3B28D, 0xFAF1E9, 0xEDD8C7, 0xEDD8C7, 0xFFF2E7, 0xEEDBC8, 0xF6DDC9, 0xEDD4C0, 0xF7E1D0,
     0xE0B99B, 0x45667B},
    // psOffice2007Obsidian
    {true, 0x535353, 0x3A3A3A, 0x9C9C9C, 0x8B8B8B, 0x60CCF9, 0xFFFFFF, 0xFFFFFF, 0x000000, 0xEFEEED, 0xE0DEDC,
     0xE0DEDC, 0xD6D3D0, 0xC0C0C0, 0xC0C0C0, 0x5B7078, 0x4B5C63, 0x2D5766, 0x18AEED, ggRadial, ggRadial, 0x000000,
     0xFFFABF, 0x8A8A8A, 0xB4B0AE, 0xCFC6C1, 0xC4BBB6, 0xC4BBB6, 0xD7D2CF, 0xDFDED6, 0xE4E2DB, 0xD7D5CE, 0xE7E5E0,
     0xC0BCB2, 0x45667B},
    // psWindowsXP
    {false, clBtnFace, clBtnFace, clHighlight, 0x000000, 0x60CCF9, 0x000000, 0x000000, 0x000000, 0xEFD3C6, 0xEFD3C6,
     0xEFD3C6, 0xEFD3C6, 0xC0C0C0, 0xC0C0C0, 0xEFD3C6, 0xEFD3C6, 0xEFD3C6, 0xEFD3C6, ggVertical, ggVertical,
     0xBFA99E, 0xFFFABF, 0xF5F0EE, 0x000000, clBtnFace, clBtnFace, clBtnFace, clBtnFace, 0xFFFFFF, 0xB9D8DC,
     0xB9D8DC, 0xB9D8DC, 0xB9D8DC, clNone},
    // psWhidbey
    {true, 0x859D9D, 0xADC4C4, clHighlight, 0x000000, 0x60CCF9, 0xFFFFFF, 0x000000, 0x000000, 0xADC4C4, 0xFFFFFF,
     0xFFFFFF, 0xF0F5F5, 0xC0C0C0, 0xC0C0C0, 0xCCF4FF, 0xCCF4FF, 0xCCF4FF, 0x91D0FF, ggVertical, ggVertical,
     0x648C82, 0xFFFABF, 0xF0F5F5, 0x000000, 0xFFFFFF, 0xF0F5F5, 0xF0F5F5, 0xF0F5F5, 0xFFFFFF, 0xDFEDF0, 0xDFEDF0,
     0xDFEDF0, 0x99A8AC, clNone},
    // psCustom: never loaded
    {},
    // psOffice2007Silver
    {true, 0xDDD4D0, clNone, 0xC1BEBD, 0xC1BFBD, 0x5FCAFA, 0x5C534C, 0x5C534C, 0x5C534C, 0xF8F8F4, 0xEFE7E2,
     0xEFE7E2, 0xEFE7E2, 0xC0C0C0, 0xC0C0C0, 0xCEE1E9, 0xDFD7D4, 0xC5D8DF, 0x8ECEE9, ggRadial, ggVertical, 0xD6CDC9,
     0xFFFABF, 0xF7F4F3, 0xBEBEBE, 0xF9F5F3, 0xE7DCD5, 0xE7DCD5, 0xFBFAF0, 0xF3F3F1, 0xF5F5F3, 0xEEEAE7, 0xF8F7F6,
     0xCCCAC9, 0x45667B},
};
}  // namespace

void TFxOfficePagerOfficeStyler::LoadScheme(TOfficePagerStyle style) {
  if (style == psCustom || style < 0 || style > 9) return;
  if (style == psOffice2003Classic) BorderBlend = 80;
  const TScheme& s = kSchemes[style];
  SetRoundedCorners(s.rounded);
  TTabAppearance& t = TabAppearance();
  t.BackGround().SetColor(s.bgColor);
  t.BackGround().SetColorTo(s.bgColorTo);
  t.SetBorderColor(clNone);
  t.SetBorderColorDisabled(clNone);
  t.SetBorderColorHot(s.borderHot);
  t.SetBorderColorSelected(s.borderSelected);
  t.SetBorderColorSelectedHot(s.borderSelectedHot);
  t.SetTextColor(s.text);
  t.SetTextColorHot(s.textHot);
  t.SetTextColorSelected(s.textSelected);
  t.SetTextColorDisabled(0x808080);
  t.SetColorSelected(s.selected);
  t.SetColorSelectedTo(s.selectedTo);
  t.SetColorMirrorSelected(s.mirrorSelected);
  t.SetColorMirrorSelectedTo(s.mirrorSelectedTo);
  t.SetColorDisabled(0xFFFFFF);
  t.SetColorDisabledTo(s.disabledTo);
  t.SetColorMirrorDisabled(0xFFFFFF);
  t.SetColorMirrorDisabledTo(s.mirrorDisabledTo);
  t.SetColorHot(s.hot);
  t.SetColorHotTo(s.hotTo);
  t.SetColorMirrorHot(s.mirrorHot);
  t.SetColorMirrorHotTo(s.mirrorHotTo);
  t.SetGradient(ggVertical);
  t.SetGradientDisabled(ggVertical);
  t.SetGradientHot(s.gradientHot);
  t.SetGradientMirrorDisabled(ggVertical);
  t.SetGradientMirrorHot(s.gradientMirrorHot);
  t.SetGradientMirrorSelected(ggVertical);
  t.SetGradientSelected(ggVertical);
  t.SetShadowColor(s.shadow);
  t.SetHighLightColor(s.highLight);
  t.SetHighLightColorSelected(0x63CCF8);
  t.SetHighLightColorSelectedHot(0xBDFFFF);
  t.SetHighLightColorDown(0xFFFBD0);
  t.SetHighLightColorHot(s.highLightHot);
  TVistaBackground& p = PageAppearance();
  p.SetBorderColor(s.pageBorder);
  p.SetColor(s.pageColor);
  p.SetColorTo(s.pageColorTo);
  p.SetColorMirror(s.pageMirror);
  p.SetColorMirrorTo(s.pageMirrorTo);
  p.SetGradient(ggVertical);
  p.SetGradientMirror(ggVertical);
  TGlowButtonAppearance& g = GlowButtonAppearance();
  g.SetColor(s.glowColor);
  g.SetColorTo(s.glowColorTo);
  g.SetColorMirror(s.glowMirror);
  g.SetColorMirrorTo(s.glowMirrorTo);
  g.SetBorderColor(s.glowBorder);
  g.SetGradient(ggVertical);
  g.SetGradientMirror(ggVertical);
  const bool xp = style == psWindowsXP;
  g.SetColorHot(xp ? 0xEFD3C6 : 0xEBFDFF);
  g.SetColorHotTo(xp ? 0xEFD3C6 : 0xACECFF);
  g.SetColorMirrorHot(xp ? 0xEFD3C6 : 0x59DAFF);
  g.SetColorMirrorHotTo(xp ? 0xEFD3C6 : 0xA4E9FF);
  g.SetBorderColorHot(xp ? clHighlight : 0x99CEDB);
  g.SetGradientHot(ggVertical);
  g.SetGradientMirrorHot(ggVertical);
  g.SetColorDown(xp ? 0xB59284 : 0x76AFF1);
  g.SetColorDownTo(xp ? 0xB59284 : 0x4190F3);
  g.SetColorMirrorDown(xp ? 0xB59284 : 0x0E72F1);
  g.SetColorMirrorDownTo(xp ? 0xB59284 : 0x4C9FFD);
  g.SetBorderColorDown(xp ? clHighlight : 0x45667B);
  g.SetGradientDown(ggVertical);
  g.SetGradientMirrorDown(ggVertical);
  g.SetColorChecked(xp ? 0xB9D8DC : 0xB5DBFB);
  g.SetColorCheckedTo(xp ? 0xB9D8DC : 0x78C7FE);
  g.SetColorMirrorChecked(xp ? 0xB9D8DC : 0x9FEBFD);
  g.SetColorMirrorCheckedTo(xp ? 0xB9D8DC : 0x56B4FE);
  g.SetGradientChecked(ggVertical);
  g.SetGradientMirrorChecked(ggVertical);
  if (s.glowBorderChecked != clNone) g.SetBorderColorChecked(s.glowBorderChecked);
  if (style == psOffice2007Obsidian) t.BackGround().SetDirection(gdVertical);
}
