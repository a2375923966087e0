#pragma once

#include <QString>

class QWidget;

namespace Screenshots {

// The folder that scripts/screenshots.sh asked for, or empty when this run
// takes no pictures (screenshot tests skip themselves then).
QString directory();

// Writes `widget` as `<directory>/<name>.png`, creating sub-folders named in
// `name`. Returns false when the picture could not be written.
bool save(QWidget &widget, const QString &name);
// The last mapped top-level window of another program on this X display, by
// its window class (e.g. "XTerm").
bool saveWindowOfClass(const QString &windowClass, const QString &name);

} // namespace Screenshots
