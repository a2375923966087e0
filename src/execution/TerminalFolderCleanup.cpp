#include "execution/TerminalFolderCleanup.h"

#include "execution/TerminalScript.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <mutex>

#include <fcntl.h>
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

TerminalFolderCleanup::TerminalFolderCleanup() : m_pending(std::make_shared<Pending>()) {}

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

QStringList TerminalFolderCleanup::pendingFolders() const
{
    std::lock_guard guard(m_pending->lock);
    return QStringList(m_pending->folders.cbegin(), m_pending->folders.cend());
}

void scheduleTerminalFolderCleanup(const QString &folder)
{
    TerminalFolderCleanup::shared().schedule(folder);
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
