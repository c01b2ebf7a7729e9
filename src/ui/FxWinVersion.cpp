#include "ui/FxWinVersion.h"

bool IsVistaOrLater() { return false; }
