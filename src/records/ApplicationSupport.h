#pragma once

#include <QString>

// The data folder: $XDG_DATA_HOME (or ~/.local/share), then "com.tolvenix.Velmora".
// Created with mode 0700 when missing; a failure to create it is ignored, and
// a later save into it reports the file system's error instead.
QString applicationSupportDirectory();

// Makes the data folder and every missing folder above it, for the start of
// the application. Throws FileStoreError naming the folder and the system's
// reason for the first folder on the way that could not be made.
void makeApplicationSupportDirectory(const QString &folder);
