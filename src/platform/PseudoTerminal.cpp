#include "platform/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

std::optional<PseudoTerminal> PseudoTerminal::open()
{
    PseudoTerminal terminal;
    terminal.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!terminal.master.isValid())
        return std::nullopt;
    if (::grantpt(terminal.master.get()) != 0 || ::unlockpt(terminal.master.get()) != 0)
        return std::nullopt;
    char name[128];
    if (::ptsname_r(terminal.master.get(), name, sizeof name) != 0)
        return std::nullopt;
    terminal.slavePath = QByteArray(name);
    terminal.slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!terminal.slave.isValid())
        return std::nullopt;

    // Attributes that cannot be read or written leave the system's defaults.
    termios attributes {};
    if (::tcgetattr(terminal.slave.get(), &attributes) == 0) {
        attributes.c_lflag &= ~tcflag_t(ECHO);
        attributes.c_oflag &= ~tcflag_t(ONLCR);
        ::tcsetattr(terminal.slave.get(), TCSANOW, &attributes);
    }

    const int flags = ::fcntl(terminal.master.get(), F_GETFL);
    if (flags < 0 || ::fcntl(terminal.master.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return std::nullopt;
    return terminal;
}
