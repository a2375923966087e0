#pragma once

#include "platform/SensitiveBytes.h"

#include <QByteArray>
#include <QString>

// Checks the current user's own account password with PAM (service "velmora";
// without a file of that name PAM uses the system's "other" policy). Blocking:
// call it off the main thread.
class PamAuthenticator {
public:
    enum class Result { accepted, rejected, unavailable };

    static QString currentUserName();
    // Whether PAM can be started for the current user at all.
    static bool isAvailable();
    // The copies PAM is handed are wiped before this returns; `password` is the caller's.
    static Result authenticate(const QString &userName, const SensitiveBytes &password);
};
