#include "records/ApplicationSupport.h"
#include "records/DataFolderOwnership.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST(DataFolderOwnership, OwnFolderIsKeptOrTightenedAndALinkToItIsFollowed)
{
    QTemporaryDir scratch;
    const QString own = scratch.filePath(QStringLiteral("own"));
    ASSERT_TRUE(QDir().mkdir(own) && QFile::link(own, scratch.filePath(QStringLiteral("link"))));
    ::chmod(QFile::encodeName(own).constData(), 0777);
    LogCapture log;
    DataFolderOwnership::ensureOwnFolder(scratch.filePath(QStringLiteral("link")));
    EXPECT_EQ(modeOf(own), mode_t(0700));
    EXPECT_TRUE(log.contains(QStringLiteral("from 777 to 700"))) << log.messages().join(u'\n').toStdString();
    // A mode narrower than 0700 is the user's own choice.
    ::chmod(QFile::encodeName(own).constData(), 0500);
    DataFolderOwnership::ensureOwnFolder(own);
    EXPECT_EQ(modeOf(own), mode_t(0500));
    // Not there yet: made later.
    DataFolderOwnership::ensureOwnFolder(scratch.filePath(QStringLiteral("missing")));
}

TEST(DataFolderOwnership, AnotherUsersFolderOrAFileIsRefused)
{
    QTemporaryDir scratch;
    const QString file = scratch.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_THROW(DataFolderOwnership::ensureOwnFolder(file), DataFolderRefusedError);
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a folder to another user needs root";

    const QString foreign = scratch.filePath(QStringLiteral("foreign")),
                  link = scratch.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QDir().mkdir(foreign) && QFile::link(foreign, link));
    ::chmod(QFile::encodeName(foreign).constData(), 0777);
    ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    for (const QString &path : {foreign, link}) {
        try {
            DataFolderOwnership::ensureOwnFolder(path);
            ADD_FAILURE() << "another user's folder was accepted";
        } catch (const DataFolderRefusedError &error) {
            EXPECT_TRUE(error.message().startsWith(QStringLiteral("Velmora's data folder “") + path)
                        && error.message().contains(QStringLiteral("belongs to another user")))
                << error.message().toStdString();
        }
    }
    EXPECT_EQ(modeOf(foreign), mode_t(0777)); // refused, not touched
}
