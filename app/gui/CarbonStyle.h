#pragma once
// The program's visual styles are Qt style sheets carried in its resources
// under :/styles/<name>.qss.

#include <QString>

class QApplication;

// The name of the style the program applies at start-up.
inline constexpr const char* DEFAULT_VISUAL_STYLE = "Carbon";

// Applies the named style sheet to the whole application. Returns an empty
// text on success, otherwise the reason it could not be applied (the style is
// unknown, or its resource cannot be read).
QString ApplyVisualStyle(QApplication& app, const QString& styleName);
