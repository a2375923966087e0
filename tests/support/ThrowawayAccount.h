#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A user account that exists only for the length of one test, with the given
// password and, when asked, a home folder of its own. Creating accounts needs
// root; `created()` says whether it worked. Every process of the account is
// killed and the account removed when the object goes.
class ThrowawayAccount {
public:
    ThrowawayAccount(const QByteArray &password, const QString &homeFolder = {});
    ~ThrowawayAccount();
    ThrowawayAccount(const ThrowawayAccount &) = delete;
    ThrowawayAccount &operator=(const ThrowawayAccount &) = delete;

    bool created() const { return m_created; }
    const QString &name() const { return m_name; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    // Hands a file or folder (not recursively) to the account.
    bool giveOwnership(const QString &path) const;
    // Makes `shell` the account's login shell (it starts with /bin/sh).
    bool setLoginShell(const QString &shell) const;

private:
    QString m_name;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_added = false;
    bool m_created = false;
};
