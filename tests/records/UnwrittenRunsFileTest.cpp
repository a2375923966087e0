#include "records/UnwrittenRunsFile.h"
#include "records/FileStoreError.h"
#include "records/RecordsTestSupport.h"
#include "support/FileSizeLimit.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace records_test;

const QString sideFile = QStringLiteral("run-history-unwritten.jsonl");

// Another user's file, a hard link, a FIFO or a symlink: never read, written through or removed, but moved aside.
TEST(UnwrittenRunsFile, AnythingButTheUsersOwnSoleFileIsMovedAsideUntouched)
{
    const QByteArray line =
        json::serializeCompact(makeRun(QUuid::createUuid(), 1'700'000'000).toJson(json::Document().GetAllocator()))
        + '\n';
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("notes.jsonl"));
    enum Planted { hardLink, fifo, symlink, foreignFile };
    for (const Planted planted : {hardLink, fifo, symlink, foreignFile}) {
        SCOPED_TRACE(planted);
        if (planted == foreignFile && ::geteuid() != 0)
            GTEST_SKIP() << "handing a file to another user needs root";
        QDir(applicationSupportDirectory()).removeRecursively();
        writeFile(target, line);
        const QString path = dataFile(sideFile);
        const QByteArray name = QFile::encodeName(path);
        if (planted == foreignFile)
            writeFile(path, line);
        ASSERT_TRUE(planted != foreignFile
                    || (::chown(name.constData(), 65534, 65534) == 0 && ::chmod(name.constData(), 0666) == 0));
        ASSERT_TRUE(planted != hardLink || ::link(QFile::encodeName(target).constData(), name.constData()) == 0);
        ASSERT_TRUE(planted != fifo || ::mkfifo(name.constData(), 0600) == 0);
        ASSERT_TRUE(planted != symlink || QFile::link(target, path));

        UnwrittenRunsFile file(dataFile(historyFile));
        EXPECT_TRUE(file.runs().isEmpty());
        EXPECT_TRUE(file.remove());
        struct stat info {};
        ASSERT_EQ(::lstat(name.constData(), &info), 0);
        const ServiceRunRecord run = makeRun(QUuid::createUuid(), 1'700'000'100);
        file.append({run});
        EXPECT_EQ(idsOf(file.runs()), QList<QUuid> {run.id});
        EXPECT_TRUE(::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1
                    && info.st_uid == ::getuid());
        const QStringList aside =
            QDir(applicationSupportDirectory())
                .entryList({sideFile + QStringLiteral(".unreadable-*")}, QDir::Files | QDir::System);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(planted != foreignFile || readFile(dataFile(aside.first())) == line);
        EXPECT_EQ(readFile(target), line);
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
        // Room for ten and a half more: the write is cut short.
        const ScopedFileSizeLimit room(static_cast<rlim_t>(line * 23 / 2));
        EXPECT_THROW(file.append(runs.mid(1)), FileStoreError);
    }
    EXPECT_EQ(idsOf(file.runs()), idsOf(runs.first(11)));
    EXPECT_EQ(readFile(dataFile(sideFile)).size(), line * 11);
}
