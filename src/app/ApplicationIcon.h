#pragma once

#include <QIcon>
#include <QString>

// Velmora's own icon (an SVG of our drawing): the window, tray and splash icon.
// The executable carries it as a resource; programs without that resource find
// it through the "velmoraicons" search path (QDir::addSearchPath).
QIcon applicationIcon();
