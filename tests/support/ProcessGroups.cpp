#include "support/ProcessGroups.h"

#include <QDir>
#include <QFile>

bool anyProcessInGroups(const QList<qint32> &groups)
{
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        name.toInt(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/") + name + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // Fields after the command's closing parenthesis: state, ppid, pgrp.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && groups.contains(fields[2].toInt()))
            return true;
    }
    return false;
}
