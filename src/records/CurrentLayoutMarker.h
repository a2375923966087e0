#pragma once

#include <QString>

// services.json and environments.json tell a damaged file of the current
// layout from one of the older layout by its text: the current layout names
// "formatVersion" (with its quotes, fifteen characters) and the older never
// did. Reads the file directly, without any store's lock; false when it cannot
// be read or is not UTF-8.
bool fileHoldsCurrentLayoutMarker(const QString &path);
