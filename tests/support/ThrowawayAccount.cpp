#include "support/ThrowawayAccount.h"

#include "platform/ProcessIdentity.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <mutex>

#include <pwd.h>
#include <time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString namePrefix = QStringLiteral("vtest");
const QString markPrefix = QStringLiteral("velmora-test maker=");

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

// Kills the account's processes and removes it with its home, if it has one
// (a copy of a test program, say).
void removeAccount(const QString &name, uid_t uid)
{
    if (uid == 0)
        return; // never root's processes
    run(QStringLiteral("pkill"), {QStringLiteral("-KILL"), QStringLiteral("-U"), QString::number(uid)});
    const passwd *entry = ::getpwnam(QFile::encodeName(name).constData());
    const bool hasHome = entry && entry->pw_dir && QFileInfo(QFile::decodeName(entry->pw_dir)).isDir();
    runWhileAccountFilesAreBusy(QStringLiteral("userdel"),
                                hasHome ? QStringList {QStringLiteral("--remove"), name} : QStringList {name});
    // A test that reached the real sudo leaves the account's ticket behind.
    QFile::remove(QStringLiteral("/run/sudo/ts/") + name);
}

QByteArray freshPassword()
{
    // Letters and digits with a space and quotes, so the password must survive
    // every quoting step; ASCII only, since tests type it key by key.
    static const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QByteArray password;
    for (int i = 0; i < 20; ++i)
        password.append(alphabet[QRandomGenerator::system()->bounded(int(sizeof alphabet - 1))]);
    return password + " 'q'";
}

// What the signal handler removes: the accounts this process holds right now,
// and the folders registered for it. Plain character arrays, since a handler
// may not allocate or lock.
constexpr int maxLiveAccounts = 8;
std::array<std::array<char, 64>, maxLiveAccounts> liveAccounts {};
std::array<std::array<char, 512>, maxLiveAccounts> signalFolders {};
std::mutex liveAccountsLock;

// The program's exit status, or -1 when it did not run to its end.
int runFromHandler(const char *program, const char *const *arguments)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(program, const_cast<char *const *>(arguments));
        ::_exit(127);
    }
    int status = 0;
    if (child < 0)
        return -1;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

extern "C" void removeLiveAccountsAndEnd(int signalNumber)
{
    for (const auto &name : liveAccounts) {
        if (name[0] == '\0')
            continue;
        // As on the normal path: userdel refuses while a process of the account
        // has not yet ended, or while another test holds the account files.
        for (int attempt = 0; attempt < 20; ++attempt) {
            const char *const pkill[] = {"/usr/bin/pkill", "-KILL", "-u", name.data(), nullptr};
            runFromHandler(pkill[0], pkill);
            const char *const userdel[] = {"/usr/sbin/userdel", "--remove", name.data(), nullptr};
            // Gone, gone already, or gone without a home to remove.
            if (const int status = runFromHandler(userdel[0], userdel); status == 0 || status == 6 || status == 12)
                break;
            const timespec pause {0, 100'000'000};
            ::nanosleep(&pause, nullptr);
        }
        std::array<char, 96> ticket {"/run/sudo/ts/"};
        std::copy(name.begin(), name.end(), ticket.begin() + 13);
        ::unlink(ticket.data());
    }
    for (const auto &folder : signalFolders) {
        if (folder[0] == '\0')
            continue;
        const char *const remove[] = {"/bin/rm", "-rf", "--", folder.data(), nullptr};
        runFromHandler(remove[0], remove);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void installSignalHandlersOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction action {};
            action.sa_handler = removeLiveAccountsAndEnd;
            sigemptyset(&action.sa_mask);
            ::sigaction(signalNumber, &action, nullptr);
        }
    });
}

template <size_t Size>
void remember(std::array<std::array<char, Size>, maxLiveAccounts> &slots, const QString &text, bool live)
{
    const QByteArray bytes = QFile::encodeName(text);
    std::lock_guard lock(liveAccountsLock);
    for (auto &slot : slots) {
        if (live && slot[0] == '\0' && bytes.size() < qsizetype(slot.size())) {
            std::memcpy(slot.data(), bytes.constData(), size_t(bytes.size()) + 1);
            return;
        }
        if (!live && bytes == slot.data()) {
            slot[0] = '\0';
            return;
        }
    }
}

void rememberLiveAccount(const QString &name, bool live)
{
    remember(liveAccounts, name, live);
}

} // namespace

QString ThrowawayAccount::makerMark()
{
    const ProcessIdentity self = ProcessIdentity::current(qint32(::getpid()), ProcFileSystem::system());
    return markPrefix + QString::number(self.pid) + QLatin1Char('/') + QString::number(self.startTicks.value_or(0));
}

void ThrowawayAccount::removeAbandonedAccounts()
{
    if (::geteuid() != 0)
        return;
    static const QRegularExpression mark(QStringLiteral("^") + QRegularExpression::escape(markPrefix)
                                         + QStringLiteral("(\\d+)/(\\d+)$"));
    struct Abandoned {
        QString name;
        uid_t uid;
    };
    QList<Abandoned> abandoned;
    const ProcFileSystem fileSystem = ProcFileSystem::system();
    ::setpwent();
    while (const passwd *entry = ::getpwent()) {
        const QString name = QString::fromLocal8Bit(entry->pw_name);
        if (!name.startsWith(namePrefix))
            continue;
        const QRegularExpressionMatch found = mark.match(QString::fromLocal8Bit(entry->pw_gecos));
        if (!found.hasMatch())
            continue; // not made by these tests, or made before they marked their accounts
        const ProcessIdentity maker {found.captured(1).toInt(), found.captured(2).toULongLong()};
        if (!maker.isAlive(fileSystem))
            abandoned.append({name, entry->pw_uid});
    }
    ::endpwent();
    for (const Abandoned &account : abandoned)
        removeAccount(account.name, account.uid);
}

void ThrowawayAccount::removeOnSignal(const QString &folder, bool remove)
{
    installSignalHandlersOnce();
    remember(signalFolders, folder, remove);
}

ThrowawayAccount::ThrowawayAccount(Login login, const QString &homeFolder)
    : m_name(namePrefix + QUuid::createUuid().toString(QUuid::Id128).left(10)),
      m_password(freshPassword())
{
    if (::geteuid() != 0)
        return;
    removeAbandonedAccounts();
    installSignalHandlersOnce();
    const QString shell = login == Login::shell ? QStringLiteral("/bin/sh") : QStringLiteral("/usr/sbin/nologin");
    QStringList arguments {QStringLiteral("--user-group"), QStringLiteral("--shell"), shell,
                           QStringLiteral("--comment"), makerMark()};
    if (homeFolder.isEmpty())
        arguments << QStringLiteral("--no-create-home");
    else
        arguments << QStringLiteral("--create-home") << QStringLiteral("--home-dir") << homeFolder;
    arguments << m_name;
    // Remembered before it exists, so a signal while useradd runs still removes it.
    rememberLiveAccount(m_name, true);
    m_added = runWhileAccountFilesAreBusy(QStringLiteral("useradd"), arguments);
    if (!m_added) {
        rememberLiveAccount(m_name, false);
        return;
    }
    if (const passwd *entry = ::getpwnam(QFile::encodeName(m_name).constData())) {
        m_uid = entry->pw_uid;
        m_gid = entry->pw_gid;
    }
    if (!homeFolder.isEmpty())
        ::chmod(QFile::encodeName(homeFolder).constData(), 0700);
    m_created =
        m_uid != 0
        && runWhileAccountFilesAreBusy(QStringLiteral("chpasswd"), {}, m_name.toUtf8() + ':' + m_password + '\n');
}

ThrowawayAccount::~ThrowawayAccount()
{
    if (m_added) {
        if (m_uid != 0)
            removeAccount(m_name, m_uid);
        else
            runWhileAccountFilesAreBusy(QStringLiteral("userdel"), {m_name});
        rememberLiveAccount(m_name, false);
    }
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

bool ThrowawayAccount::copyIn(const QString &from, const QString &to) const
{
    QFile::remove(to);
    return QFile::copy(from, to) && giveOwnership(to);
}

std::optional<QString> ThrowawayAccount::leakOptionsIn(const QString &home) const
{
    QString leaks = qEnvironmentVariable("LSAN_OPTIONS");
    if (leaks.isEmpty())
        return QString();
    const QRegularExpression suppressions(QStringLiteral("suppressions=([^:]+)"));
    if (const QRegularExpressionMatch found = suppressions.match(leaks); found.hasMatch()) {
        const QString copy = home + QStringLiteral("/lsan.supp");
        if (!copyIn(found.captured(1), copy))
            return std::nullopt;
        leaks.replace(found.capturedStart(1), found.capturedLength(1), copy);
    }
    return QStringLiteral("LSAN_OPTIONS=") + leaks;
}
