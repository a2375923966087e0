#include "support/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QWidget>

namespace Screenshots {

QString directory()
{
    return qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
}

bool save(QWidget &widget, const QString &name)
{
    const QString folder = directory();
    if (folder.isEmpty())
        return false;
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Let pending layouts and paints settle before the grab.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    return widget.grab().save(path);
}

} // namespace Screenshots
