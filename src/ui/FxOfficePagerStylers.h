// The ready-made pager styler: ten named colour schemes for tabs, page bodies
// and the tab-strip buttons, optionally following the desktop theme.
#pragma once

#include <QWidget>

#include "ui/FxOfficePager.h"

enum TOfficePagerStyle {
  psOffice2003Blue, psOffice2003Silver, psOffice2003Olive, psOffice2003Classic, psOffice2007Luna,
  psOffice2007Obsidian, psWindowsXP, psWhidbey, psCustom, psOffice2007Silver
};

// True on systems that have visual styles at all (never here, where the
// version query has nothing to answer).
bool IsWinXPOrLater();
// 0 none, 1 "NormalColor", 2 "HomeStead", 3 "Metallic": the desktop theme's
// colour scheme as the visual-style library reports it; 0 without one.
int CurrentXPThemeScheme();

// Hidden window that passes the desktop's theme changes on.
class TNotifierWindow : public QWidget {
public:
  explicit TNotifierWindow(QWidget* parent = nullptr);
  std::function<void(TNotifierWindow*)> OnThemeChange;

protected:
  bool event(QEvent* e) override;
};

class TFxOfficePagerOfficeStyler : public TCustomFxOfficePagerStyler {
  Q_OBJECT
public:
  explicit TFxOfficePagerOfficeStyler(QObject* owner = nullptr);
  ~TFxOfficePagerOfficeStyler() override;

  TOfficePagerStyle GetStyle() const { return style_; }
  void SetStyle(TOfficePagerStyle value);
  void SetComponentStyle(int style) { SetStyle(static_cast<TOfficePagerStyle>(style)); }
  bool AutoThemeAdapt = false;
  // Applies AutoThemeAdapt once, as after loading from a form.
  void Loaded() { ThemeChanged(); }
  void ThemeChanged();
  TNotifierWindow* Notifier() const { return notifier_.get(); }

private:
  void LoadScheme(TOfficePagerStyle style);
  TOfficePagerStyle style_ = psOffice2003Blue;
  bool loadedOnce_ = false;
  std::unique_ptr<TNotifierWindow> notifier_;
};
