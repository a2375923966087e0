#include "support/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace Screenshots {

QString directory()
{
    return qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
}

namespace {

// Where the picture goes, its folder made; empty when this run takes no pictures.
QString preparedPath(const QString &name)
{
    const QString folder = directory();
    if (folder.isEmpty())
        return {};
    QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Let pending layouts and paints settle before the grab.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    return path;
}

} // namespace

bool save(QWidget &widget, const QString &name)
{
    const QString path = preparedPath(name);
    return !path.isEmpty() && widget.grab().save(path);
}

bool saveScreen(const QString &name)
{
    const QString path = preparedPath(name);
    QScreen *screen = QGuiApplication::primaryScreen();
    return !path.isEmpty() && screen && screen->grabWindow(0).save(path);
}

} // namespace Screenshots
