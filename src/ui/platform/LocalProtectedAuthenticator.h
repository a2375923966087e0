#pragma once

#include "profiles/ProtectedAuthenticating.h"

// The account password, asked in a dialog and checked with PAM off the main
// thread. A wrong password lets the person try again; the third wrong one fails.
class LocalProtectedAuthenticator : public ProtectedAuthenticating {
public:
    static constexpr int maximumAttempts = 3;

    QCoro::Task<> authenticate(QString reasonText) override;
};
