#include "support/ThrowawayAccount.h"

#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted())
        return false;
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// useradd and userdel lock the account files; another test doing the same
// at this moment makes them fail at once rather than wait.
bool runWhileAccountFilesAreBusy(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (run(program, arguments, input))
            return true;
        QThread::msleep(100);
    }
    return false;
}

} // namespace

ThrowawayAccount::ThrowawayAccount(const QByteArray &password, const QString &homeFolder)
    : m_name(QStringLiteral("vtest") + QUuid::createUuid().toString(QUuid::Id128).left(10))
{
    QStringList arguments {QStringLiteral("--user-group"), QStringLiteral("--shell"), QStringLiteral("/bin/sh")};
    if (homeFolder.isEmpty())
        arguments << QStringLiteral("--no-create-home");
    else
        arguments << QStringLiteral("--create-home") << QStringLiteral("--home-dir") << homeFolder;
    arguments << m_name;
    m_added = runWhileAccountFilesAreBusy(QStringLiteral("useradd"), arguments);
    if (!m_added)
        return;
    if (const passwd *entry = ::getpwnam(QFile::encodeName(m_name).constData())) {
        m_uid = entry->pw_uid;
        m_gid = entry->pw_gid;
    }
    m_created = m_uid != 0
                && runWhileAccountFilesAreBusy(QStringLiteral("chpasswd"), {}, m_name.toUtf8() + ':' + password + '\n');
}

ThrowawayAccount::~ThrowawayAccount()
{
    if (m_uid != 0)
        run(QStringLiteral("pkill"), {QStringLiteral("-KILL"), QStringLiteral("-U"), QString::number(m_uid)});
    if (m_added)
        runWhileAccountFilesAreBusy(QStringLiteral("userdel"), {m_name});
}

bool ThrowawayAccount::giveOwnership(const QString &path) const
{
    return m_created && ::chown(QFile::encodeName(path).constData(), m_uid, m_gid) == 0;
}

bool ThrowawayAccount::setLoginShell(const QString &shell) const
{
    return m_created
           && runWhileAccountFilesAreBusy(QStringLiteral("usermod"), {QStringLiteral("--shell"), shell, m_name});
}
