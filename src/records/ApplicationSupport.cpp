#include "records/ApplicationSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

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
