#include "records/CurrentLayoutMarker.h"

bool holdsCurrentLayoutMarker(QByteArrayView bytes)
{
    static constexpr QByteArrayView marker = "\"formatVersion\"";
    return bytes.isValidUtf8() && bytes.contains(marker);
}
