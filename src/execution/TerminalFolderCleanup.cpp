#include "execution/TerminalFolderCleanup.h"

#include "execution/TerminalScript.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct TerminalFolderCleanup::Pending {
    std::mutex lock;
    QSet<QString> folders;

    bool take(const QString &folder)
    {
        std::lock_guard guard(lock);
        return folders.remove(folder);
    }
};

TerminalFolderCleanup &TerminalFolderCleanup::shared()
{
    static TerminalFolderCleanup instance;
    return instance;
}

TerminalFolderCleanup::TerminalFolderCleanup()
    : m_pending(std::make_shared<Pending>())
{}

TerminalFolderCleanup::~TerminalFolderCleanup()
{
    removePendingNow();
}

void TerminalFolderCleanup::schedule(const QString &folder, std::chrono::milliseconds after)
{
    {
        std::lock_guard guard(m_pending->lock);
        m_pending->folders.insert(folder);
    }
    std::weak_ptr<Pending> weak = m_pending;
    QTimer::singleShot(after, QCoreApplication::instance(), [weak, folder] {
        QThreadPool::globalInstance()->start([weak, folder] {
            const std::shared_ptr<Pending> pending = weak.lock();
            if (pending && pending->take(folder))
                removeTerminalFolder(folder);
        });
    });
}

void TerminalFolderCleanup::removePendingNow()
{
    QSet<QString> folders;
    {
        std::lock_guard guard(m_pending->lock);
        folders.swap(m_pending->folders);
    }
    for (const QString &folder : std::as_const(folders))
        removeTerminalFolder(folder);
}

void TerminalFolderCleanup::removeStaleFolders(const QStringList &baseFolders)
{
    static const QRegularExpression ours(
        QStringLiteral("^velmora-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QStringList pending = pendingFolders();
    for (const QString &base : baseFolders) {
        const QStringList names = QDir(base).entryList({QStringLiteral("velmora-*")},
                                                       QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QString &name : names) {
            const QString folder = base + QLatin1Char('/') + name;
            struct stat info {};
            if (!ours.match(name).hasMatch() || pending.contains(folder)
                || ::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode)
                || info.st_uid != ::geteuid())
                continue;
            removeTerminalFolder(folder);
        }
    }
}

QStringList TerminalFolderCleanup::pendingFolders() const
{
    std::lock_guard guard(m_pending->lock);
    return QStringList(m_pending->folders.cbegin(), m_pending->folders.cend());
}

void scheduleTerminalFolderCleanup(const QString &folder)
{
    TerminalFolderCleanup::shared().schedule(folder);
}

void removeStaleTerminalFolders()
{
    TerminalFolderCleanup::shared().removeStaleFolders(terminalScriptBaseFolders());
}

QStringList terminalScriptBaseFolders()
{
    QStringList folders {terminalScriptBaseFolder()};
    const QString temporary = QDir::cleanPath(QDir::tempPath());
    if (!folders.contains(temporary))
        folders.append(temporary);
    return folders;
}

void removeTerminalFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    const int directory = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directory >= 0) {
        ::unlinkat(directory, terminalScriptName, 0);
        ::close(directory);
    }
    ::rmdir(path.constData());
}
