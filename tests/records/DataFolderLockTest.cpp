#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/FileSystemCalls.h"
#include "records/RecordsTestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

using namespace records_test;

TEST(DataFolderLock, ASecondHolderIsRefusedUntilTheFirstReleasesIt)
{
    const QString folder = applicationSupportDirectory();
    std::optional<DataFolderLock> first(std::in_place, folder);
    EXPECT_TRUE(first->isHeld());
    try {
        DataFolderLock second(folder);
        ADD_FAILURE() << "a second holder was let in";
    } catch (const DataFolderLockedError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("already running")));
    }
    first.reset();
    const DataFolderLock again(folder);
    EXPECT_TRUE(again.isHeld());
}

TEST(DataFolderLock, TakingItRemovesOnlyStaleTemporaryCopiesOfTheStores)
{
    const QString folder = applicationSupportDirectory();
    const QStringList stale {QStringLiteral(".run-history.json.velmora-save-0123456789abcdef"),
                             QStringLiteral(".services.json.velmora-save-fedcba9876543210"),
                             QStringLiteral(".bookmarks.json.velmora-save-0000000000000000")};
    // A person's copies made while repairing a file look like anything but the writer's names.
    const QStringList kept {QStringLiteral("notes.txt.abcdef"),
                            QStringLiteral("run-history.json.abc"),
                            QStringLiteral("services.json"),
                            QStringLiteral("services.json.backup"),
                            QStringLiteral("settings.json.before"),
                            QStringLiteral("run-history.json.tYSlvz"),
                            QStringLiteral("services.json.unreadable-20240101T000000Z"),
                            QStringLiteral(".services.json.velmora-save-0123456789ABCDEF"),
                            QStringLiteral(".notes.json.velmora-save-0123456789abcdef"),
                            QStringLiteral(".settings.json.velmora-save-0123456789abcdef.bak")};
    for (const QString &name : stale + kept)
        writeFile(dataFile(name), "x");
    const DataFolderLock lock(folder);
    QStringList expected = kept;
    expected.append(QString::fromLatin1(DataFolderLock::lockFileName));
    expected.sort();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

namespace {

// The lock file's open or lock fails with one errno.
class FailingLockCalls final : public FileSystemCalls {
public:
    FailingLockCalls(int openError, int flockError)
        : m_openError(openError),
          m_flockError(flockError)
    {
        replaceForTesting(this);
    }
    ~FailingLockCalls() override { replaceForTesting(nullptr); }
    int open(const char *path, int flags, mode_t mode) override
    {
        return m_openError ? (errno = m_openError, -1) : FileSystemCalls::open(path, flags, mode);
    }
    int flock(int fd, int operation) override
    {
        return m_flockError ? (errno = m_flockError, -1) : FileSystemCalls::flock(fd, operation);
    }

private:
    int m_openError;
    int m_flockError;
};

} // namespace

// Only a file system that offers no locks lets the start go on without one;
// every other failure names the folder and the system's reason.
TEST(DataFolderLock, ALockFileThatCannotBeOpenedOrLockedIsRefusedWithTheFolderAndTheReason)
{
    const QString folder = applicationSupportDirectory();
    const struct {
        const char *name;
        int openError, flockError;
        const char *reason; // none: goes on without the lock
    } rows[] = {
        {"no locks", 0, ENOLCK, nullptr},
        {"locks not supported", 0, EOPNOTSUPP, nullptr},
        {"open refused", EACCES, 0, "Permission denied"},
        {"lock failed", 0, EIO, "Input/output error"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const FailingLockCalls calls(row.openError, row.flockError);
        try {
            const DataFolderLock lock(folder);
            EXPECT_EQ(row.reason, nullptr) << "went on";
            EXPECT_FALSE(lock.isHeld());
        } catch (const FileStoreError &error) {
            ASSERT_NE(row.reason, nullptr) << error.message().toStdString();
            EXPECT_EQ(error.message(), QStringLiteral("Velmora's data folder “%1” couldn’t be locked: %2")
                                           .arg(folder, QString::fromLatin1(row.reason)));
        }
    }

    // A real one: a folder where the lock file should be.
    QFile::remove(folder + QLatin1Char('/') + QLatin1String(DataFolderLock::lockFileName));
    ASSERT_TRUE(QDir(folder).mkdir(QString::fromLatin1(DataFolderLock::lockFileName)));
    EXPECT_THROW(DataFolderLock {folder}, FileStoreError);
    QDir(folder).rmdir(QString::fromLatin1(DataFolderLock::lockFileName));
}
