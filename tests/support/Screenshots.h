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
// The whole screen, other programs' windows included.
bool saveScreen(const QString &name);

} // namespace Screenshots
