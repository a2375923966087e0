#pragma once

#include "profiles/ProtectedAuthenticating.h"
#include "records/ProtectedProfilesError.h"

#include <QStringList>

#include <functional>
#include <optional>

// Answers every prompt (at once unless told to wait): success, or the failure it was told to give.
// Remembers the reason texts it was shown.
class FakeAuthenticator : public ProtectedAuthenticating {
public:
    QCoro::Task<> authenticate(QString reasonText) override
    {
        prompts.append(reasonText);
        if (answerAfter)
            co_await answerAfter();
        if (failure)
            throw ProtectedProfilesError(*failure);
        co_return;
    }

    QStringList prompts;
    std::optional<ProtectedProfilesError::Case> failure;
    // When set, the prompt stays open until this finishes (a person still typing).
    std::function<QCoro::Task<>()> answerAfter;
};
