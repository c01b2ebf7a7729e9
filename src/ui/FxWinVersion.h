// Which default user-interface font applies: "Segoe UI" on systems that have
// it by default, else "Tahoma".
#pragma once

// True on systems of the "Segoe UI" generation; never on this platform,
// which has no such system library to ask.
bool IsVistaOrLater();
inline const char* DefaultUIFontName() { return IsVistaOrLater() ? "Segoe UI" : "Tahoma"; }
