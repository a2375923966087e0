#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/FileSystemCalls.h"
#include "records/RecordsTestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include <fcntl.h>

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

// What fails, with which errno: the unnamed probe file's open, the named one's, the lock file's, or the lock.
struct LockErrors {
    int unnamedProbe = 0, namedProbe = 0, open = 0, flock = 0;
};

struct FailingLockCalls final : FileSystemCalls {
    LockErrors errors;
    explicit FailingLockCalls(LockErrors failing)
        : errors(failing)
    {
        replaceForTesting(this);
    }
    ~FailingLockCalls() override { replaceForTesting(nullptr); }
    int open(const char *p, int f, mode_t m) override
    {
        const bool unnamed = (f & O_TMPFILE) == O_TMPFILE, named = !unnamed && (f & O_EXCL);
        const int error = unnamed ? errors.unnamedProbe : named ? errors.namedProbe : errors.open;
        return error ? (errno = error, -1) : FileSystemCalls::open(p, f, m);
    }
    int flock(int fd, int operation) override
    {
        return errors.flock ? (errno = errors.flock, -1) : FileSystemCalls::flock(fd, operation);
    }
};

} // namespace

// Only a file system that offers no locks lets the start go on without one; a folder that takes no new file is named
// as such, every other failure names the folder and the reason.
TEST(DataFolderLock, AFolderThatTakesNoNewFileOrCannotBeLockedIsRefusedWithTheFolderAndTheReason)
{
    const QString folder = applicationSupportDirectory();
    const QString written = QStringLiteral("Velmora's data folder “%1” can’t be written: ").arg(folder);
    const struct {
        LockErrors errors; // a failing probe: with a lock file from an earlier run
        QString refusal;   // empty: holds the lock
    } rows[] = {{{0, 0, 0, ENOLCK}, QStringLiteral("went on without the lock")},
                {{EPERM, 0, 0, 0}, written + QStringLiteral("Operation not permitted")},
                {{EOPNOTSUPP, 0, 0, 0}, {}},
                {{EISDIR, EROFS, 0, 0}, written + QStringLiteral("Read-only file system")},
                {{0, 0, EACCES, 0}, written + QStringLiteral("Permission denied")},
                {{0, 0, 0, EIO},
                 QStringLiteral("Velmora's data folder “%1” couldn’t be locked: Input/output error").arg(folder)}};
    const QString lockFile = folder + QStringLiteral("/velmora.lock");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.refusal.toStdString());
        QFile::remove(lockFile);
        if (row.errors.unnamedProbe)
            writeFile(lockFile, "");
        const FailingLockCalls calls(row.errors);
        QString refusal;
        try {
            refusal = DataFolderLock(folder).isHeld() ? QString() : QStringLiteral("went on without the lock");
        } catch (const FileStoreError &error) {
            refusal = error.message();
        }
        EXPECT_EQ(refusal, row.refusal);
        EXPECT_TRUE(QDir(folder, QStringLiteral(".velmora-probe-*")).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}
