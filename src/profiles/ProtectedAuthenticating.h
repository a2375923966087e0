#pragma once

#include <QCoroTask>
#include <QString>

// Asks the person at the machine to prove they are the account's owner.
// Completes when they did; throws ProtectedProfilesError otherwise
// (authenticationCanceled, authenticationFailed, authenticationUnavailable).
class ProtectedAuthenticating {
public:
    virtual ~ProtectedAuthenticating() = default;
    virtual QCoro::Task<> authenticate(QString reasonText) = 0;
};
