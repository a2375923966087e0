#include "support/SilentXDisplay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

SilentXDisplay::SilentXDisplay()
{
    // X display N listens on TCP port 6000 + N. The kernel completes the
    // connections on the listening socket; nothing ever accepts or writes.
    for (int number = 400; number < 500 && m_display.isEmpty(); ++number) {
        m_socket.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(6000 + number));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_socket.get(), 16) == 0)
            m_display = "127.0.0.1:" + QByteArray::number(number);
    }
}
