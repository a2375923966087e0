#include "platform/LoginShell.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString makeFile(const QTemporaryDir &folder, const QString &name, bool executable)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("#!/bin/sh\nexec /bin/sh \"$@\"\n");
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
    return path;
}

} // namespace

TEST(LoginShell, ServicesRunThroughTheLoginShellOnlyWhenItReadsShSyntax)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString ownBash = makeFile(folder, QStringLiteral("bash"), true);
    const QString ownTcsh = makeFile(folder, QStringLiteral("tcsh"), true);
    const QString ownFish = makeFile(folder, QStringLiteral("fish"), true);
    const QString unrunnableZsh = makeFile(folder, QStringLiteral("zsh"), false);
    const QString sh = QStringLiteral("/bin/sh");

    const struct {
        QString loginShell;
        QString expected;
    } cases[] = {
        {QStringLiteral("/bin/sh"), sh},
        {QStringLiteral("/bin/bash"), QStringLiteral("/bin/bash")},
        {ownBash, ownBash}, // taken as the account names it, wherever it lies
        {ownTcsh, sh},
        {ownFish, sh},
        {QStringLiteral("/bin/csh"), sh},
        {QStringLiteral("/usr/sbin/nologin"), sh},
        {QStringLiteral("/bin/false"), sh},
        {unrunnableZsh, sh},
        {folder.filePath(QStringLiteral("missing/bash")), sh},
        {QStringLiteral("bash"), sh},
        {QString(), sh},
    };
    for (const auto &entry : cases)
        EXPECT_EQ(defaultServiceShellFor(entry.loginShell), entry.expected) << entry.loginShell.toStdString();
}

TEST(LoginShell, AnAccountWithoutAnEntryHasNoLoginShell)
{
    EXPECT_EQ(loginShellOf(uid_t(4000000123U)), QString());
    EXPECT_FALSE(loginShellOf(0).isEmpty());
}
