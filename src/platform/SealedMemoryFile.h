#pragma once

#include "platform/UniqueFd.h"

#include <QByteArrayView>

// A close-on-exec descriptor of an anonymous file in memory (never on disk)
// that holds `content`, read from its start, sealed so that no one can change
// it any more; invalid, with errno set, on failure.
UniqueFd makeSealedMemoryFile(const char *name, QByteArrayView content);
