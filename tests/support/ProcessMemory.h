#pragma once

#include <QByteArray>
#include <QList>

// Searches this process's own readable memory. The needle is given with every
// byte XOR-ed with `mask`, so the search itself leaves no plain copy behind.
bool processMemoryContains(const QByteArray &maskedNeedle, char mask);
// Where the needle (masked as above) lies in this process's writable private
// memory: heap, stacks, anonymous mappings, the data of its libraries.
QList<quintptr> writableMemoryCopies(const QByteArray &maskedNeedle, char mask);

// Whether the page holding `address` is marked to be left out of core dumps.
bool isLeftOutOfCoreDumps(const void *address);
