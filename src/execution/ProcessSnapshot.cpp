#include "execution/ProcessSnapshot.h"

size_t qHash(const ProcessSnapshot &snapshot, size_t seed)
{
    return qHashMulti(seed, snapshot.pid, snapshot.executablePath.value_or(QString()),
                      snapshot.executablePath.has_value(), snapshot.cpuPercent, snapshot.memoryBytes,
                      snapshot.startTime.value_or(QDateTime()), snapshot.startTime.has_value(), snapshot.session);
}
