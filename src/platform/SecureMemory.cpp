#include "platform/SecureMemory.h"

#include <cstring>

namespace SecureMemory {

void wipe(QString &text)
{
    if (!text.isEmpty() && text.isDetached())
        ::explicit_bzero(text.data(), size_t(text.size()) * sizeof(QChar));
    text.clear();
}

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty() && bytes.isDetached())
        ::explicit_bzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

} // namespace SecureMemory
