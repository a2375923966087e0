#pragma once

#include <QByteArray>
#include <QString>

// Overwrites a secret before its memory is given back, so no password lingers
// in freed heap. Only a buffer that this value alone holds is overwritten;
// copies shared with others are theirs to wipe.
namespace SecureMemory {

void wipe(QString &text);
void wipe(QByteArray &bytes);

} // namespace SecureMemory
