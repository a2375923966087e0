#include "platform/LoginShell.h"
#include "support/ChildOutputRecorder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(LoginShell, ServicesRunThroughTheLoginShellOnlyWhenItReadsShSyntax)
{
    QTemporaryDir folder;
    const auto shellIn = [&](const char *name) { return folder.filePath(QString::fromLatin1(name)); };
    for (const char *name : {"bash", "tcsh", "fish", "zsh"})
        ChildProcessProbe::writeExecutable(shellIn(name), "#!/bin/sh\nexec /bin/sh \"$@\"\n");
    QFile::setPermissions(shellIn("zsh"), QFile::ReadOwner | QFile::WriteOwner);
    const QString sh = QStringLiteral("/bin/sh");

    const struct {
        QString loginShell;
        QString expected;
    } cases[] = {
        {sh, sh},
        {QStringLiteral("/bin/bash"), QStringLiteral("/bin/bash")},
        {shellIn("bash"), shellIn("bash")}, // taken as the account names it, wherever it lies
        {shellIn("tcsh"), sh},
        {shellIn("fish"), sh},
        {QStringLiteral("/usr/sbin/nologin"), sh},
        {shellIn("zsh"), sh}, // not runnable
        {shellIn("missing/bash"), sh},
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
