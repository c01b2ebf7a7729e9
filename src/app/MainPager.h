// The document tabs' pager for the main window and its tests.
//
// The user-interface components and the engine's bitmaps both name their
// colour type TColor: signed in the components (system colours are negative
// there), unsigned in the engine. The main window needs both, so it sees the
// components' type as TFxColor. The type itself is the same int32_t, so every
// function keeps its one signature.
#pragma once

#define TColor TFxColor
#include "ui/FxGlowButton.h"
#include "ui/FxOfficePager.h"
#include "ui/FxOfficePagerStylers.h"
#undef TColor
