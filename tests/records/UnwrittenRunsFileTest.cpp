#include "records/UnwrittenRunsFile.h"
#include "records/FileStoreError.h"
#include "records/RecordsTestSupport.h"
#include "support/FileSizeLimit.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace records_test;

const QString sideFile = QStringLiteral("run-history-unwritten.jsonl");

// Another user's file, a hard link or a FIFO: never read, written through or removed, but moved aside.
TEST(UnwrittenRunsFile, AnythingButTheUsersOwnSoleFileIsMovedAsideUntouched)
{
    const ServiceRunRecord planted = makeRun(QUuid::createUuid(), 1'700'000'000), run = makeRun(QUuid::createUuid(), 1);
    const QByteArray line = json::serializeCompact(planted.toJson(json::Document().GetAllocator())) + '\n';
    QTemporaryDir elsewhere;
    const QByteArray target = QFile::encodeName(elsewhere.filePath(QStringLiteral("notes.jsonl")));
    for (const int kind : {0, 1, 2}) { // hard link, FIFO, another user's file (root only)
        SCOPED_TRACE(kind);
        if (kind == 2 && ::geteuid() != 0)
            GTEST_SKIP() << "handing a file to another user needs root";
        QDir(applicationSupportDirectory()).removeRecursively();
        const QByteArray name = QFile::encodeName(dataFile(sideFile)); // makes the folder again
        writeFile(QFile::decodeName(target), line);
        if (kind == 2)
            writeFile(dataFile(sideFile), line);
        ASSERT_EQ(kind == 0   ? ::link(target.constData(), name.constData())
                  : kind == 1 ? ::mkfifo(name.constData(), 0600)
                              : ::chown(name.constData(), 65534, 65534),
                  0);
        UnwrittenRunsFile file(dataFile(historyFile));
        EXPECT_TRUE(file.runs().isEmpty() && file.remove());
        file.append({run});
        EXPECT_EQ(idsOf(file.runs()), QList<QUuid> {run.id});
        struct stat info {};
        EXPECT_TRUE(::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1);
        const QDir folder(applicationSupportDirectory(), sideFile + QStringLiteral(".unreadable-*"));
        ASSERT_EQ(folder.entryList(QDir::Files | QDir::System).size(), 1);
        EXPECT_TRUE(kind != 2 || readFile(folder.entryInfoList(QDir::Files)[0].filePath()) == line);
        EXPECT_EQ(readFile(QFile::decodeName(target)), line);
    }
}

TEST(UnwrittenRunsFile, AnAppendWithoutRoomForAllKeepsTheRunsThatFitInWholeLines)
{
    QList<ServiceRunRecord> runs;
    for (int index = 0; index < 20; ++index)
        runs.append(makeRun(QUuid::createUuid(), 1'700'000'000 + index, QString(1000, QLatin1Char('x'))));
    UnwrittenRunsFile file(dataFile(historyFile));
    file.append({runs.first()});
    const qsizetype line = readFile(dataFile(sideFile)).size();
    {
        const ScopedFileSizeLimit room(static_cast<rlim_t>(line * 23 / 2)); // ten and a half more lines
        EXPECT_THROW(file.append(runs.mid(1)), FileStoreError);
    }
    EXPECT_EQ(idsOf(file.runs()), idsOf(runs.first(11)));
    EXPECT_EQ(readFile(dataFile(sideFile)).size(), line * 11);
}
