#include "support/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
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

bool saveWindowOfClass(const QString &windowClass, const QString &name)
{
    // Other programs' windows are known to X only: ask it for the window's id.
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!tree.waitForFinished(5000))
        return false;
    const QByteArray marker = " \"" + windowClass.toUtf8() + "\")";
    WId window = 0;
    for (const QByteArray &line : tree.readAllStandardOutput().split('\n')) {
        if (line.contains(marker))
            window = line.trimmed().split(' ').constFirst().toULongLong(nullptr, 16);
    }
    const QString path = window ? preparedPath(name) : QString();
    QScreen *screen = QGuiApplication::primaryScreen();
    return !path.isEmpty() && screen && screen->grabWindow(window).save(path);
}

} // namespace Screenshots
