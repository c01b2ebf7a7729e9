// The document tabs' pager for the main window and its tests.
#pragma once

#include "ui/FxGlowButton.h"
#include "ui/FxOfficePager.h"
#include "ui/FxOfficePagerStylers.h"
