#include "app/ApplicationIcon.h"

#include <QDir>
#include <QFile>

QIcon applicationIcon()
{
    static const QString resource = QStringLiteral(":/velmora/velmora.svg");
    static const QString searched = QStringLiteral("velmoraicons:velmora.svg");
    if (QFile::exists(resource))
        return QIcon(resource);
    if (QFile::exists(searched))
        return QIcon(searched);
    return {};
}
