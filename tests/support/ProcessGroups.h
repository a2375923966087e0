#pragma once

#include <QList>

// Whether any live (non-zombie) process still runs in one of these process groups.
bool anyProcessInGroups(const QList<qint32> &groups);
