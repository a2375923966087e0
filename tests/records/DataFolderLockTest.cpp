#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/FileSystemCalls.h"
#include "records/RecordsTestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

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
    QList<QByteArray> namedProbes;
    explicit FailingLockCalls(LockErrors failing)
        : errors(failing)
    {
        replaceForTesting(this);
    }
    ~FailingLockCalls() override { replaceForTesting(nullptr); }
    int open(const char *p, int f, mode_t m) override
    {
        const bool unnamed = (f & O_TMPFILE) == O_TMPFILE, named = !unnamed && (f & O_EXCL);
        if (named)
            namedProbes.append(p);
        const int error = unnamed ? errors.unnamedProbe : named ? errors.namedProbe : errors.open;
        return error ? (errno = error, -1) : FileSystemCalls::open(p, f, m);
    }
    int flock(int fd, int operation) override
    {
        return errors.flock ? (errno = errors.flock, -1) : FileSystemCalls::flock(fd, operation);
    }
};

QString refusal(const QString &folder)
{
    try {
        return DataFolderLock(folder).isHeld() ? QString() : QStringLiteral("went on without the lock");
    } catch (const FileStoreError &error) {
        return error.message();
    }
}

} // namespace

// Only a file system that offers no locks lets the start go on without one. A folder that takes no new file is
// named as such, even with a lock file from an earlier run; every other failure names the folder and the reason.
TEST(DataFolderLock, AFolderThatTakesNoNewFileOrCannotBeLockedIsRefusedWithTheFolderAndTheReason)
{
    const QString folder = applicationSupportDirectory();
    const QString written = QStringLiteral("Velmora's data folder “%1” can’t be written: ").arg(folder);
    const QString locked = QStringLiteral("Velmora's data folder “%1” couldn’t be locked: ").arg(folder);
    const QString wentOn = QStringLiteral("went on without the lock");
    const struct {
        LockErrors errors;
        bool lockFileExists;
        QString refusal; // empty: holds the lock
    } rows[] = {{{0, 0, 0, ENOLCK}, false, wentOn},
                {{0, 0, 0, EOPNOTSUPP}, false, wentOn},
                {{EPERM, 0, 0, 0}, true, written + QStringLiteral("Operation not permitted")},
                {{EOPNOTSUPP, 0, 0, 0}, true, {}},
                {{EISDIR, EROFS, 0, 0}, true, written + QStringLiteral("Read-only file system")},
                {{0, 0, EACCES, 0}, false, written + QStringLiteral("Permission denied")},
                {{0, 0, EROFS, 0}, true, written + QStringLiteral("Read-only file system")},
                {{0, 0, 0, EIO}, false, locked + QStringLiteral("Input/output error")}};
    const QString lockFile = folder + QStringLiteral("/velmora.lock");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.refusal.toStdString());
        QFile::remove(lockFile);
        if (row.lockFileExists)
            writeFile(lockFile, "");
        FailingLockCalls calls(row.errors);
        EXPECT_EQ(refusal(folder), row.refusal);
        // A named probe is made only where unnamed files are not, and never left behind.
        EXPECT_EQ(calls.namedProbes.size(), row.errors.unnamedProbe == EOPNOTSUPP || row.errors.unnamedProbe == EISDIR);
        for (const QByteArray &probe : calls.namedProbes)
            EXPECT_FALSE(QFile::exists(QFile::decodeName(probe))) << probe.constData();
    }
}

// A lock file that is itself the problem, or held by another process, is named, not the folder's rights.
TEST(DataFolderLock, AnUnusableOrHeldLockFileIsNamed)
{
    const QString folder = applicationSupportDirectory();
    const QString lockFile = folder + QStringLiteral("/velmora.lock");
    const QString unusable = QStringLiteral("Velmora's lock file “%1” can’t be used: ").arg(lockFile);
    ASSERT_TRUE(QDir().mkdir(lockFile));
    EXPECT_EQ(refusal(folder), unusable + QStringLiteral("it is a folder"));
    ASSERT_TRUE(QDir().rmdir(lockFile) && QFile::link(folder + QStringLiteral("/elsewhere"), lockFile));
    EXPECT_EQ(refusal(folder), unusable + QStringLiteral("it is a symbolic link, which Velmora doesn’t follow"));
    ASSERT_TRUE(QFile::remove(lockFile));
    if (::geteuid() != 0) { // root opens any file
        writeFile(lockFile, "");
        ASSERT_TRUE(QFile::setPermissions(lockFile, QFile::ReadOwner));
        EXPECT_EQ(refusal(folder), unusable + QStringLiteral("Permission denied"));
        ASSERT_TRUE(QFile::remove(lockFile));
    }

    const DataFolderLock held(folder);
    EXPECT_EQ(refusal(folder),
              QStringLiteral("Velmora's data folder “%1” is in use: another process holds its lock file, "
                             "velmora.lock (most likely Velmora, already running for this user in this or another "
                             "session). Quit it there, then open Velmora again.")
                  .arg(folder));
}
