// The pictures of the toolbar buttons, drawn by the program itself: the
// buttons show a picture and a hint from the language file, never words.
#pragma once

#include <QIcon>
#include <QString>

// The picture of the toolbar button or search button of that name; a null
// icon for a name that has none.
QIcon ToolbarPicture(const QString& name);
