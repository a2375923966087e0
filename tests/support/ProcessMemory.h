#pragma once

#include <QByteArray>

// Searches this process's own readable memory. The needle is given with every
// byte XOR-ed with `mask`, so the search itself leaves no plain copy behind.
bool processMemoryContains(const QByteArray &maskedNeedle, char mask);

// Whether the page holding `address` is marked to be left out of core dumps.
bool isLeftOutOfCoreDumps(const void *address);
