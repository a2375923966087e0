#pragma once

#include <QtGlobal>

// Asks the kernel to back a buffer of many megabytes (a whole data file read
// or encoded) with huge pages where it can: one page fault per 2 MB instead
// of one per 4 KB, which otherwise costs as much as reading the file. Only
// advice: where huge pages are off or the buffer is small, nothing changes.
void adviseLargeBuffer(char *data, qsizetype size);
