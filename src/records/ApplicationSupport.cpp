#include "records/ApplicationSupport.h"

#include "records/FileStoreError.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

QString applicationSupportDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    QString folder = base + QStringLiteral("/com.tolvenix.Velmora");
    QDir().mkpath(base);
    // Only the user may look inside: the folder holds run output and profile names.
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return folder;
}

void makeApplicationSupportDirectory(const QString &folder)
{
    const QStringList names = QDir::cleanPath(QDir(folder).absolutePath()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (qsizetype i = 0; i < names.size(); ++i) {
        path += QLatin1Char('/') + names.at(i);
        const mode_t mode = i + 1 == names.size() ? 0700 : 0777;
        if (::mkdir(QFile::encodeName(path).constData(), mode) == 0 || errno == EEXIST)
            continue;
        throw FileStoreError(QStringLiteral("Velmora's data folder “%1” couldn’t be made: %2")
                                 .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    }
}
