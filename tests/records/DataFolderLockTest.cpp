#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/RecordsTestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

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
