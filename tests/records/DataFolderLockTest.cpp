#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/FileSystemCalls.h"
#include "records/RecordsTestSupport.h"

#include <QDir>

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
struct FailingLockCalls final : FileSystemCalls {
    int openError, flockError;
    FailingLockCalls(int openFails, int flockFails)
        : openError(openFails),
          flockError(flockFails)
    {
        replaceForTesting(this);
    }
    ~FailingLockCalls() override { replaceForTesting(nullptr); }
    int open(const char *p, int f, mode_t m) override
    {
        return openError ? (errno = openError, -1) : FileSystemCalls::open(p, f, m);
    }
    int flock(int fd, int operation) override
    {
        return flockError ? (errno = flockError, -1) : FileSystemCalls::flock(fd, operation);
    }
};

} // namespace

// Only a file system that offers no locks lets the start go on without one;
// every other failure names the folder and the system's reason.
TEST(DataFolderLock, ALockFileThatCannotBeOpenedOrLockedIsRefusedWithTheFolderAndTheReason)
{
    const QString folder = applicationSupportDirectory();
    const struct {
        int openError, flockError;
        const char *reason; // none: goes on without the lock
    } rows[] = {{0, ENOLCK, nullptr},
                {0, EOPNOTSUPP, nullptr},
                {EACCES, 0, "Permission denied"},
                {0, EIO, "Input/output error"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.openError + row.flockError);
        const FailingLockCalls calls(row.openError, row.flockError);
        try {
            EXPECT_FALSE(DataFolderLock(folder).isHeld());
            EXPECT_EQ(row.reason, nullptr) << "went on";
        } catch (const FileStoreError &error) {
            EXPECT_EQ(error.message(), QStringLiteral("Velmora's data folder “%1” couldn’t be locked: %2")
                                           .arg(folder, QString::fromLatin1(row.reason)));
        }
    }
}
