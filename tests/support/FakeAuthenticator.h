#pragma once

#include "profiles/ProtectedAuthenticating.h"
#include "records/ProtectedProfilesError.h"

#include <QStringList>

#include <optional>

// Answers every prompt at once: success, or the failure it was told to give.
// Remembers the reason texts it was shown.
class FakeAuthenticator : public ProtectedAuthenticating {
public:
    QCoro::Task<> authenticate(QString reasonText) override
    {
        prompts.append(reasonText);
        if (failure)
            throw ProtectedProfilesError(*failure);
        co_return;
    }

    QStringList prompts;
    std::optional<ProtectedProfilesError::Case> failure;
};
