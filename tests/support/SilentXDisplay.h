#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <sys/socket.h>

// An X display on this machine's loopback that takes every connection and
// never says a word, as a stopped X server or a stalled ssh -X forward does:
// the kernel completes the connections on its listening socket, and nothing
// ever accepts or writes.
struct SilentXDisplay {
    UniqueFd socket;
    QByteArray display; // as in DISPLAY; empty when no display number was free

    SilentXDisplay()
    {
        for (int number = 400; number < 500 && display.isEmpty(); ++number) { // on TCP port 6000 + number
            socket.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            sockaddr_in address {AF_INET, htons(uint16_t(6000 + number)), {htonl(INADDR_LOOPBACK)}, {}};
            if (::bind(socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
                && ::listen(socket.get(), 16) == 0)
                display = "127.0.0.1:" + QByteArray::number(number);
        }
    }
};
