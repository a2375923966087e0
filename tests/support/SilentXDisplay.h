#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>

// An X display on this machine's loopback that takes every connection and
// never says a word, as a stopped X server or a stalled ssh -X forward does.
class SilentXDisplay {
public:
    SilentXDisplay();

    // As in DISPLAY; empty when no display number was free.
    QByteArray display() const { return m_display; }

private:
    UniqueFd m_socket;
    QByteArray m_display;
};
