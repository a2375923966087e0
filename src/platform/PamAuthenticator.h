#pragma once

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
    // `password` is wiped before this returns, whatever the outcome.
    static Result authenticate(const QString &userName, QByteArray &password);
};
