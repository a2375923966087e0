#pragma once

#include <QByteArrayView>

// services.json and environments.json tell a damaged file of the current
// layout from one of the older layout by its text: the current layout names
// "formatVersion" (with its quotes, fifteen characters) and the older never
// did. False when the bytes are not UTF-8.
bool holdsCurrentLayoutMarker(QByteArrayView bytes);
// The same for bytes already known to be UTF-8.
bool holdsCurrentLayoutMarkerInUtf8(QByteArrayView bytes);
