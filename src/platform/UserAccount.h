#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

// An account's entry in the passwd database.
struct UserAccount {
    QString name;
    QString home;
    QString shell; // empty when the entry names none

    // None when the account has no entry.
    static std::optional<UserAccount> of(uid_t uid);
};
