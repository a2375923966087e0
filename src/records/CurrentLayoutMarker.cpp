#include "records/CurrentLayoutMarker.h"

#include <QByteArrayView>
#include <QFile>

bool fileHoldsCurrentLayoutMarker(const QString &path)
{
    static constexpr QByteArrayView marker = "\"formatVersion\"";
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    return bytes.isValidUtf8() && bytes.contains(marker);
}
