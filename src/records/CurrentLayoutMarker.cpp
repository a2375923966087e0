#include "records/CurrentLayoutMarker.h"

namespace {
constexpr QByteArrayView marker = "\"formatVersion\"";
}

bool holdsCurrentLayoutMarker(QByteArrayView bytes)
{
    return bytes.isValidUtf8() && bytes.contains(marker);
}

bool holdsCurrentLayoutMarkerInUtf8(QByteArrayView bytes)
{
    return bytes.contains(marker);
}
