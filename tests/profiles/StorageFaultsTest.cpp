#include "profiles/EnvironmentProfilesRepository.h"
#include "records/ApplicationSupport.h"
#include "records/FileSystemCalls.h"
#include "records/RecordsTestSupport.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"
#include "records/SettingsRepository.h"
#include "records/UnwrittenRunsFile.h"
#include "support/Await.h"
#include "support/FakeSecretStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

namespace {

enum class Call { open, read, write, fdatasync, fsync, close, rename, stat, fstat, unlink, link, ftruncate, count };
const char *const callNames[] = {"open",   "read", "write", "fdatasync", "fsync", "close",
                                 "rename", "stat", "fstat", "unlink",    "link",  "ftruncate"};

// Fails the n-th call of one kind (every one with n = -1) with one errno, and
// counts the calls of each kind, the way a full disk or a failing device would
// meet a save at one point.
class FaultyCalls final : public FileSystemCalls {
public:
    struct Fault {
        Call call;
        int at;
        int error;
        int times = 1; // from the n-th on, -1 for all
        // Only opens and reads of the file whose path ends so count and fail; null for every file.
        const char *file = nullptr;
    };
    explicit FaultyCalls(Fault fault)
        : m_fault(fault)
    {
        FileSystemCalls::replaceForTesting(this);
    }
    ~FaultyCalls() override { FileSystemCalls::replaceForTesting(nullptr); }

    int calls(Call call) const { return m_counts[static_cast<int>(call)]; }
    // Only a fault after the new file is in place (the folder sync) may leave it there.
    bool failedAfterRename() const { return m_failedAfterRename; }

    int open(const char *p, int f, mode_t m) override
    {
        return onChosenFile(p) && fails(Call::open) ? -1 : FileSystemCalls::open(p, f, m);
    }
    ssize_t read(int d, void *b, size_t n) override
    {
        return onChosenFile(d) && fails(Call::read) ? -1 : FileSystemCalls::read(d, b, n);
    }
    ssize_t pread(int d, void *b, size_t n, off_t at) override
    {
        return onChosenFile(d) && fails(Call::read) ? -1 : FileSystemCalls::pread(d, b, n, at);
    }
    ssize_t write(int d, const void *b, size_t n) override
    {
        return fails(Call::write) ? -1 : FileSystemCalls::write(d, b, n);
    }
    int fdatasync(int fd) override { return fails(Call::fdatasync) ? -1 : FileSystemCalls::fdatasync(fd); }
    int fsync(int fd) override { return fails(Call::fsync) ? -1 : FileSystemCalls::fsync(fd); }
    int ftruncate(int fd, off_t n) override { return fails(Call::ftruncate) ? -1 : FileSystemCalls::ftruncate(fd, n); }
    int link(const char *f, const char *t) override { return fails(Call::link) ? -1 : FileSystemCalls::link(f, t); }
    int unlink(const char *p) override { return fails(Call::unlink) ? -1 : FileSystemCalls::unlink(p); }
    int close(int fd) override
    {
        // A failing close has released the descriptor all the same.
        const bool failing = fails(Call::close);
        const int result = FileSystemCalls::close(fd);
        return failing ? (errno = m_fault.error, -1) : result;
    }
    int rename(const char *from, const char *to) override
    {
        if (fails(Call::rename))
            return -1;
        const int result = FileSystemCalls::rename(from, to);
        m_renamed = m_renamed || result == 0;
        return result;
    }
    int stat(const char *p, struct stat *s) override { return fails(Call::stat) ? -1 : FileSystemCalls::stat(p, s); }
    int lstat(const char *p, struct stat *s) override { return fails(Call::stat) ? -1 : FileSystemCalls::lstat(p, s); }
    int fstat(int fd, struct stat *info) override { return fails(Call::fstat) ? -1 : FileSystemCalls::fstat(fd, info); }

private:
    bool onChosenFile(QByteArrayView path) const { return !m_fault.file || path.endsWith(m_fault.file); }
    bool onChosenFile(int fd) const
    {
        return !m_fault.file
               || onChosenFile(QFile::encodeName(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))));
    }
    bool fails(Call call)
    {
        const int n = ++m_counts[static_cast<int>(call)];
        const bool after = m_fault.times >= 0 && n >= m_fault.at + m_fault.times;
        if (call != m_fault.call || m_fault.at == 0 || (m_fault.at != -1 && (n < m_fault.at || after)))
            return false;
        errno = m_fault.error;
        m_failedAfterRename = m_renamed.load();
        return true;
    }

    const Fault m_fault;
    std::array<std::atomic<int>, static_cast<int>(Call::count)> m_counts {};
    std::atomic<bool> m_renamed = false;
    std::atomic<bool> m_failedAfterRename = false;
};

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());

// One store driven through its own repository: `seed` writes a good file,
// `load` is the start-up load, `save` one change that re-reads and writes
// (throwing what the caller was told), and `stored` the file as comparable text.
struct Store {
    std::function<void()> seed, load, save;
    std::function<QStringList()> stored;
    // The run history manager's next finished run, written without a fault.
    std::function<void()> nextWrite = {};
};

QStringList namesOf(const auto &items)
{
    QStringList names;
    for (const auto &item : items)
        names.append(item.name);
    return names;
}

QStringList runsIn(const QString &path)
{
    QStringList runs;
    for (const ServiceRunRecord &record : await(ServiceRunHistoryRepository(path).load()))
        runs.append(record.startedAt.toString(Qt::ISODate) + record.environment.value(0).value);
    return runs;
}

Store servicesStore(const QString &path)
{
    auto repository = std::make_shared<ServiceRepository>(path);
    const auto service = [](const char *name) {
        return ManagedService {
            QUuid::createUuid(), QString::fromLatin1(name), QStringLiteral("true"), false, std::nullopt, stamp, stamp};
    };
    return {[=] { await(repository->saveService(service("kept"))); }, [=] { await(repository->loadServices()); },
            [=] { await(repository->saveService(service("added"))); },
            [=] { return namesOf(await(ServiceRepository(path).loadServices()).services); }};
}

// One secret changed and one removed by the save, or all gone with the
// profile: the keyring must keep the old values while the file does. What is
// compared is what a load shows; items a write that is in place but not durable
// leaves behind go at the profile's next save.
Store profilesStore(const QString &path, bool deleting)
{
    auto secrets = std::make_shared<FakeSecretStore>();
    auto repository = std::make_shared<EnvironmentProfilesRepository>(path, secrets);
    EnvironmentProfile kept {QUuid::createUuid(), QStringLiteral("kept"), {}, false, stamp, stamp};
    kept.variables = {{QUuid::createUuid(), QStringLiteral("TOKEN"), QStringLiteral("token"), true},
                      {QUuid::createUuid(), QStringLiteral("GONE"), QStringLiteral("gone"), true}};
    EnvironmentProfile changed = kept;
    changed.variables[0].value = QStringLiteral("changed");
    changed.variables.removeLast();
    changed.name = QStringLiteral("changed");
    return {[=] { await(repository->saveProfile(kept, std::nullopt)); }, [=] { await(repository->loadProfiles()); },
            [=] {
                if (deleting)
                    await(repository->deleteProfile(changed.id, std::nullopt));
                else
                    await(repository->saveProfile(changed, std::nullopt));
            },
            [=] {
                const QList<EnvironmentProfile> profiles =
                    await(EnvironmentProfilesRepository(path, secrets).loadProfiles()).profiles;
                QStringList values;
                for (const EnvironmentProfile &profile : profiles) {
                    for (const EnvironmentVariable &variable : profile.variables)
                        values.append(variable.value);
                }
                return namesOf(profiles) + values;
            }};
}

Store historyStore(const QString &path)
{
    auto repository = std::make_shared<ServiceRunHistoryRepository>(path);
    const auto append = [repository](int started) {
        ServiceRunRecord record;
        record.id = QUuid::createUuid();
        record.serviceId = QUuid::createUuid();
        record.startedAt = stamp.addSecs(started);
        record.endedAt = stamp.addSecs(started + 1);
        await(repository->append(record));
    };
    return {[=] { append(0); }, [=] { await(repository->load()); }, [=] { append(10); }, [=] { return runsIn(path); }};
}

// Finished runs go through the manager, which keeps a run whose write failed
// and writes it with the next one; the save is a finished run, or the masking
// of a profile made protected.
Store historyManagerStore(const QString &path, bool redacting)
{
    auto repository = std::make_shared<ServiceRunHistoryRepository>(path);
    auto manager = std::make_shared<ServiceRunHistoryManager>(*repository);
    auto alerts = std::make_shared<QStringList>();
    QObject::connect(manager.get(), &ServiceRunHistoryManager::writeFailed,
                     [alerts](const QString &message) { alerts->append(message); });
    QObject::connect(manager.get(), &ServiceRunHistoryManager::untoldRedactionFailureChanged,
                     [alerts, manager = manager.get()] {
                         if (const std::optional<QString> &message = manager->untoldRedactionFailure())
                             alerts->append(*message);
                     });
    auto started = std::make_shared<int>(0);
    const auto finishRun = [repository, manager, started](bool withProfile = true) {
        ActiveRunDraft draft;
        draft.id = QUuid::createUuid();
        draft.serviceId = QUuid::createUuid();
        draft.startedAt = stamp.addSecs(qint64 {10} * ++*started);
        if (withProfile)
            draft.environmentProfileName = QStringLiteral("prod");
        draft.environment = {{QStringLiteral("HOST"), QStringLiteral("db"), false}};
        manager->setActiveDraft(draft);
        manager->finishRun(draft.serviceId, ServiceRunStopReason::exited, 0, QString());
        await(manager->waitForPendingWrites());
    };
    return {finishRun, [manager] { await(manager->loadHistory()); },
            [=] {
                if (redacting)
                    await(manager->redactProtectedProfileHistory({}, {QStringLiteral("prod")}));
                else
                    finishRun();
                if (!alerts->isEmpty()) {
                    EXPECT_EQ(alerts->size(), 1);
                    throw FileStoreError(alerts->value(0));
                }
            },
            [path] { return runsIn(path); }, [finishRun] { finishRun(false); }};
}

Store settingsStore(const QString &path)
{
    auto repository = std::make_shared<SettingsRepository>(path);
    const auto save = [repository](const char *shell) {
        AppSettings settings;
        settings.defaultShell = QString::fromLatin1(shell);
        await(repository->save(settings));
    };
    return {[=] { save("/bin/kept"); }, [=] { await(repository->load()); }, [=] { save("/bin/added"); },
            [=] { return QStringList {await(SettingsRepository(path).load()).defaultShell}; }};
}

// The bookmark store reads its file once, when it is made.
Store bookmarksStore(const QString &path)
{
    auto store = std::make_shared<std::unique_ptr<SecurityScopedBookmarkStore>>();
    return {[=] { await(SecurityScopedBookmarkStore(path).rememberBookmark(applicationSupportDirectory())); },
            [=] { *store = std::make_unique<SecurityScopedBookmarkStore>(path); },
            [=] { await((*store)->rememberBookmark(QDir::tempPath())); },
            [=] {
                QFile bytes(path);
                bytes.open(QIODevice::ReadOnly);
                return QJsonDocument::fromJson(bytes.readAll()).object().keys();
            }};
}

struct Row {
    const char *name;
    const char *file;
    Store (*make)(const QString &path);
};

const Row rows[] = {
    {"services", "services.json", servicesStore},
    {"environments", "environments.json", [](const QString &path) { return profilesStore(path, false); }},
    {"environmentsDelete", "environments.json", [](const QString &path) { return profilesStore(path, true); }},
    {"history", "run-history.json", historyStore},
    {"settings", "settings.json", settingsStore},
    {"bookmarks", "bookmarks.json", bookmarksStore},
    {"historyManager", "run-history.json", [](const QString &path) { return historyManagerStore(path, false); }},
    {"historyRedaction", "run-history.json", [](const QString &path) { return historyManagerStore(path, true); }},
};

void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

// Each store built afresh on a data folder holding only its good file.
Store seededStore(const Row &row)
{
    QDir(applicationSupportDirectory()).removeRecursively();
    Store store = row.make(applicationSupportDirectory() + QLatin1Char('/') + QLatin1String(row.file));
    store.seed();
    return store;
}

} // namespace

// Every store, every single failing call of a save, at every point it is made
// (and, for reads, from the start-up load on): the old file stays whole and
// loadable, the caller hears of the failure, no temporary file stays, a save
// reported done is on disk, and the run history has every run on disk after
// the next write that succeeds.
class StorageFaults : public ::testing::TestWithParam<Row> {};

TEST_P(StorageFaults, ASaveThatMeetsAFailingCallKeepsTheOldFileOrReportsTheNewOne)
{
    const Row &row = GetParam();
    // The calls a save makes; a clean-up after a failure failing too is no save's.
    for (int kind = 0; kind <= static_cast<int>(Call::fstat); ++kind) {
        const Call call = static_cast<Call>(kind);
        for (const int error : {ENOSPC, EIO, EMFILE, ENOMEM}) {
            // Counted once without a fault, then failed at each of its calls in turn.
            QStringList before, after, afterNextWrite;
            QList<int> points;
            {
                Store store = seededStore(row);
                before = store.stored();
                store.load();
                {
                    const FaultyCalls counter({call, 0, error});
                    store.save();
                    for (int point = 1; point <= counter.calls(call); ++point)
                        points.append(point);
                }
                after = store.stored();
                if (store.nextWrite)
                    store.nextWrite();
                afterNextWrite = store.stored();
            }
            // -1: every read fails, from the start-up load on.
            if (call == Call::read)
                points.append(-1);
            for (const int point : std::as_const(points)) {
                const std::string where = std::string(row.name) + " " + callNames[kind] + " #" + std::to_string(point)
                                          + " " + std::strerror(error);
                Store store = seededStore(row);
                std::optional<QString> failure;
                bool failedAfterRename = false;
                {
                    std::optional<FaultyCalls> fromLoad;
                    if (point == -1)
                        fromLoad.emplace(FaultyCalls::Fault {call, -1, error});
                    store.load();
                    fromLoad.reset();
                    const FaultyCalls fault({call, point, error});
                    try {
                        store.save();
                    } catch (const FileStoreError &thrown) {
                        failure = thrown.message();
                    }
                    failedAfterRename = fault.failedAfterRename();
                }
                const QStringList stored = store.stored();
                if (!failure) {
                    EXPECT_NE(point, -1) << where << ": saved over a file it could not read";
                    EXPECT_EQ(stored, after) << where << ": reported saved, not on disk";
                } else {
                    EXPECT_TRUE(failure->contains(QString::fromLatin1(row.file))) << where;
                    EXPECT_TRUE(stored == before || (failedAfterRename && stored == after))
                        << where << ": " << stored.join(u',').toStdString();
                }
                // Temporary files of a write, and copies set aside as damaged: no fault here damages anything.
                EXPECT_EQ(QDir(applicationSupportDirectory())
                              .entryList({QStringLiteral(".*.velmora-save-*"), QStringLiteral("*.unreadable-*")},
                                         QDir::Files | QDir::Hidden),
                          QStringList())
                    << where;
                if (store.nextWrite) {
                    store.nextWrite();
                    EXPECT_EQ(store.stored(), afterNextWrite) << where << ": a run is missing or twice";
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStore, StorageFaults, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row> &row) { return std::string(row.param.name); });

// With runs in the side file, each call failing once, twice in a row or for good at every point: done leaves nothing it
// removes or masks, now, after the next write and a restart; failed says so in its own words; no run is lost or twice.
class RunHistorySideFile : public ::testing::TestWithParam<int> {};

TEST_P(RunHistorySideFile, WhatIsReportedDoneHoldsForGoodAndNoRunIsLost)
{
    using records_test::makeRun;
    const QUuid cleared = QUuid::createUuid(), other = QUuid::createUuid();
    QList<ServiceRunRecord> stored = {makeRun(cleared, 1'700'000'000), makeRun(other, 1'700'000'001)};
    QList<ServiceRunRecord> aside = {makeRun(cleared, 1'700'000'002), makeRun(cleared, 1'700'000'003)};
    for (ServiceRunRecord *run : {&stored[0], &aside[1]}) { // a protected profile's, with a value in clear
        run->environmentProfileName = QStringLiteral("prod");
        run->environment = {{QStringLiteral("HOST"), QStringLiteral("in-clear"), false}};
    }
    const ServiceRunRecord appended = makeRun(other, 1'700'000'004), next = makeRun(other, 1'700'000'005);
    const auto none = [](const ServiceRunRecord &) { return false; };
    // The clear removes the side file, the delete and the redaction edit it, an append and a load fold it. A failed
    // masking is done again by the next write.
    const struct {
        const char *name;
        std::function<QCoro::Task<>(ServiceRunHistoryManager &)> run;
        std::function<bool(const ServiceRunRecord &)> unwanted;
        bool removes;
        const char16_t *ownWords;
    } operations[] = {
        {"clear", [&](auto &manager) { return manager.clearHistory(cleared, false); },
         [&](const ServiceRunRecord &run) { return run.serviceId == cleared; }, true,
         u"The run history couldn’t be cleared"},
        {"delete", [&](auto &manager) { return manager.deleteRecord(aside[1].id); },
         [&](const ServiceRunRecord &run) { return run.id == aside[1].id; }, true, u"The run couldn’t be deleted"},
        {"redaction", [](auto &manager) { return manager.redactProtectedProfileHistory({}, {QStringLiteral("prod")}); },
         [](const ServiceRunRecord &run) { return run.environment.value(0).value == u"in-clear"; }, false,
         u"Values of a protected profile may still be in the run history file."},
        {"append",
         [&](auto &manager) {
             manager.insertRecord(appended);
             return manager.persistRun(other, 0, appended);
         },
         none, false, u"The run history couldn’t be saved"},
        {"fold", [](auto &manager) { return manager.loadHistory(); }, none, false, u""},
    };
    const auto &[name, operate, unwanted, removes, ownWords] = operations[GetParam()];
    for (const int times : {1, 2, -1}) { // once, twice in a row, for good
        for (int kind = 0; kind < static_cast<int>(Call::count); ++kind) {
            for (int point = 0, count = 0; point <= count; ++point) { // point 0 fails nothing and counts the calls
                SCOPED_TRACE(std::string(name) + ", " + callNames[kind] + " #" + std::to_string(point) + " failing "
                             + std::to_string(times));
                QDir(applicationSupportDirectory()).removeRecursively();
                const QString path = applicationSupportDirectory() + QStringLiteral("/run-history.json");
                ServiceRunHistoryRepository repository(path);
                await(repository.replaceAll(stored));
                ServiceRunHistoryManager manager(repository);
                await(manager.loadHistory());
                UnwrittenRunsFile(path).append(aside);
                QSignalSpy told(&manager, &ServiceRunHistoryManager::writeFailed);
                {
                    const FaultyCalls fault({static_cast<Call>(kind), point, EIO, times});
                    await(operate(manager));
                    count = point == 0 ? fault.calls(static_cast<Call>(kind)) : count;
                }
                QStringList words =
                    manager.untoldRedactionFailure() ? QStringList {*manager.untoldRedactionFailure()} : QStringList {};
                for (const QList<QVariant> &signal : std::as_const(told))
                    words.append(signal.value(0).toString());
                EXPECT_TRUE(words.isEmpty() || (words.size() == 1 && words[0].startsWith(ownWords)));
                const bool done = words.isEmpty();
                const QList<ServiceRunRecord> now = manager.records() + await(ServiceRunHistoryRepository(path).load())
                                                    + UnwrittenRunsFile(path).runs();
                EXPECT_TRUE(!done || std::none_of(now.cbegin(), now.cend(), unwanted)) << "listed or on disk";
                manager.insertRecord(next);
                await(manager.persistRun(other, 0, next));
                await(manager.waitForPendingWrites());
                QList<ServiceRunRecord> kept = stored + aside + manager.records();
                if (removes)
                    kept.removeIf(unwanted);
                ServiceRunHistoryRepository reopened(path);
                ServiceRunHistoryManager restarted(reopened);
                await(restarted.loadHistory());
                const QList<ServiceRunRecord> &runs = restarted.records();
                const QList<QUuid> ids = records_test::idsOf(runs);
                for (const ServiceRunRecord &run : std::as_const(kept))
                    EXPECT_EQ(ids.count(run.id), 1) << "a run is lost or there twice";
                EXPECT_TRUE((removes && !done) || std::none_of(runs.cbegin(), runs.cend(), unwanted)) << "it is back";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, RunHistorySideFile, ::testing::Range(0, 5));

// A clear value kept aside from before its profile was protected, and a side file whose read fails (not, once, or
// for good): the value never reaches run-history.json, and a redaction that told no failure left it nowhere.
TEST(RunHistoryProtectedFold, AClearValueKeptAsideNeverReachesTheHistoryFile)
{
    using records_test::dataFile, records_test::makeRun, records_test::readFile;
    const QUuid vault = QUuid::createUuid(), other = QUuid::createUuid();
    const QString vaultName = QStringLiteral("Vault"), path = dataFile(records_test::historyFile);
    ServiceRunRecord kept = makeRun(QUuid::createUuid(), 1'700'000'000);
    kept.environmentProfileId = vault;
    kept.environmentProfileName = vaultName;
    kept.environment = {{QStringLiteral("TOKEN"), QStringLiteral("CLEARVALUE-42"), false}};
    const auto inClear = [](const QString &file) { return readFile(file).contains("CLEARVALUE-42"); };
    const auto start = [&](ServiceRunHistoryManager &manager) { // protected profiles are known before the load
        manager.setProtectedProfiles({vault}, {vaultName});
        await(manager.loadHistory());
        EXPECT_FALSE(inClear(path)) << "after the load";
        await(manager.redactProtectedProfileHistory({vault}, {vaultName}));
        EXPECT_FALSE(inClear(path)) << "after the start-up redaction";
        EXPECT_TRUE(manager.untoldRedactionFailure()
                    || !inClear(dataFile(QStringLiteral("run-history-unwritten.jsonl"))));
    };
    for (const int times : {0, 1, -1}) {
        SCOPED_TRACE(times);
        QDir(applicationSupportDirectory()).removeRecursively();
        QDir().mkpath(applicationSupportDirectory());
        await(ServiceRunHistoryRepository(path).replaceAll({makeRun(other, 1'700'000'001)}));
        UnwrittenRunsFile(path).append({kept});
        {
            const FaultyCalls fault({Call::read, times == 0 ? 0 : 1, EIO, times, "-unwritten.jsonl"});
            ServiceRunHistoryRepository repository(path);
            ServiceRunHistoryManager manager(repository);
            start(manager);
            const ServiceRunRecord next = makeRun(other, 1'700'000'002);
            manager.insertRecord(next);
            await(manager.persistRun(other, 0, next));
            await(manager.waitForPendingWrites());
            EXPECT_FALSE(inClear(path)) << "after the next write";
        }
        ServiceRunHistoryRepository reopened(path);
        ServiceRunHistoryManager restarted(reopened);
        start(restarted);
        const QList<ServiceRunRecord> runs = restarted.records();
        const auto found = std::find_if(runs.cbegin(), runs.cend(), [&](const auto &run) { return run.id == kept.id; });
        ASSERT_NE(found, runs.cend()) << "the run kept aside is lost";
        EXPECT_EQ(found->environment.value(0).value, ServiceRunEnvironmentEntry::secretMask);
    }
}

// A failing redaction is told once for each run of failures, apart from the append failures told before.
TEST(RunHistoryRedactionFailures, AreToldOnceForEachRunOfFailuresApartFromTheAppends)
{
    const QString path = records_test::dataFile(records_test::historyFile);
    const QUuid service = QUuid::createUuid();
    QStringList told;
    ServiceRunHistoryRepository repository(path);
    ServiceRunHistoryManager manager(repository);
    QObject::connect(&manager, &ServiceRunHistoryManager::untoldRedactionFailureChanged, [&] {
        if (const std::optional<QString> message = manager.untoldRedactionFailure()) {
            told.append(*message);
            manager.redactionFailureTold(); // as the main window does once it has shown them
        }
    });
    QSignalSpy appendsTold(&manager, &ServiceRunHistoryManager::writeFailed);
    await(manager.loadHistory());
    qint64 started = 1'700'000'000;
    const auto finishRun = [&](bool inClearOfProd = false) {
        ServiceRunRecord run = records_test::makeRun(service, ++started);
        if (inClearOfProd) {
            run.environmentProfileName = QStringLiteral("prod");
            run.environment = {{QStringLiteral("HOST"), QStringLiteral("in-clear"), false}};
        }
        manager.insertRecord(run);
        await(manager.persistRun(service, 0, run));
        await(manager.waitForPendingWrites());
    };
    const auto redact = [&] { await(manager.redactProtectedProfileHistory({}, {QStringLiteral("prod")})); };
    finishRun(true);
    {
        const FaultyCalls diskFull({Call::write, -1, ENOSPC, -1});
        finishRun();
        redact();
        EXPECT_EQ(told.size(), 1);
    }
    finishRun(); // tries the redaction again, which succeeds
    finishRun(true);
    UnwrittenRunsFile(path).append({records_test::makeRun(service, ++started)});
    {
        // Failing again after a success is told; retried after each run and still failing, it is not.
        const FaultyCalls sideFileUnreadable({Call::read, 1, EIO, -1, "-unwritten.jsonl"});
        redact();
        for (int run = 0; run < 3; ++run)
            finishRun();
    }
    EXPECT_EQ(told.size(), 2);
    EXPECT_EQ(appendsTold.size(), 1);
}
