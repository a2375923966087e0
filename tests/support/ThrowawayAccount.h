#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

// A user account that exists only for the length of one test, with a password
// made afresh for it and, when asked, a home folder of its own (mode 0700; its
// parent must be a folder only root can write). Creating accounts needs root;
// `created()` says whether it worked. Every process of the account is killed
// and the account removed when the object goes, and also when the test
// program is ended by SIGINT, SIGTERM or SIGHUP. Each account names the
// process that made it in its comment field, so the next account made (by any
// test program) first removes those whose maker is gone without cleaning up.
class ThrowawayAccount {
public:
    enum class Login {
        none,  // /usr/sbin/nologin: enough for a password check
        shell, // /bin/sh: the account runs commands in its own shell
    };

    explicit ThrowawayAccount(Login login, const QString &homeFolder = {});
    ~ThrowawayAccount();
    ThrowawayAccount(const ThrowawayAccount &) = delete;
    ThrowawayAccount &operator=(const ThrowawayAccount &) = delete;

    bool created() const { return m_created; }
    const QString &name() const { return m_name; }
    const QByteArray &password() const { return m_password; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    // Hands a file or folder (not recursively) to the account.
    bool giveOwnership(const QString &path) const;
    // Makes `shell` the account's login shell in place of the one `Login` chose.
    bool setLoginShell(const QString &shell) const;
    // Copies a file (replacing `to`) and hands the copy to the account.
    bool copyIn(const QString &from, const QString &to) const;
    // This process's LSAN_OPTIONS for a program run as the account, its
    // suppressions file copied into `home`: empty without LSAN_OPTIONS, none
    // when the copy failed.
    std::optional<QString> leakOptionsIn(const QString &home) const;

    // Has the file or folder removed (with everything in it) also when the
    // test program is ended by one of those signals, after its accounts;
    // `remove` false takes that back. At most eight at once.
    static void removeOnSignal(const QString &folder, bool remove = true);
    // Removes every leftover test account whose maker no longer runs.
    static void removeAbandonedAccounts();
    // The comment field that marks an account as made by this process.
    static QString makerMark();

private:
    QString m_name;
    QByteArray m_password;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_added = false;
    bool m_created = false;
};
