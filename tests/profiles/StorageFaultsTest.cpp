#include "profiles/EnvironmentProfilesRepository.h"
#include "records/ApplicationSupport.h"
#include "records/FileSystemCalls.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryManager.h"
#include "records/ServiceRunHistoryRepository.h"
#include "records/SettingsRepository.h"
#include "support/Await.h"
#include "support/FakeSecretStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

namespace {

enum class Call { open, read, write, fdatasync, fsync, close, rename, stat, fstat, count };

const char *nameOf(Call call)
{
    static const char *names[] = {"open", "read", "write", "fdatasync", "fsync", "close", "rename", "stat", "fstat"};
    return names[static_cast<int>(call)];
}

// Fails the n-th call of one kind (every one with n = -1) with one errno, and
// counts the calls of each kind, the way a full disk or a failing device would
// meet a save at one point.
class FaultyCalls final : public FileSystemCalls {
public:
    FaultyCalls(Call target, int failAt, int error)
        : m_target(target),
          m_failAt(failAt),
          m_error(error)
    {
        FileSystemCalls::replaceForTesting(this);
    }
    ~FaultyCalls() override { FileSystemCalls::replaceForTesting(nullptr); }

    int calls(Call call) const { return m_counts[static_cast<int>(call)]; }
    // Whether the fault came once the new file was in place (the folder sync).
    bool failedAfterRename() const { return m_failedAfterRename; }

    int open(const char *path, int flags, mode_t mode) override
    {
        return fails(Call::open) ? -1 : FileSystemCalls::open(path, flags, mode);
    }
    ssize_t read(int fd, void *buffer, size_t size) override
    {
        return fails(Call::read) ? -1 : FileSystemCalls::read(fd, buffer, size);
    }
    ssize_t write(int fd, const void *buffer, size_t size) override
    {
        return fails(Call::write) ? -1 : FileSystemCalls::write(fd, buffer, size);
    }
    int fdatasync(int fd) override { return fails(Call::fdatasync) ? -1 : FileSystemCalls::fdatasync(fd); }
    int fsync(int fd) override { return fails(Call::fsync) ? -1 : FileSystemCalls::fsync(fd); }
    int close(int fd) override
    {
        // A failing close has released the descriptor all the same.
        const bool failing = fails(Call::close);
        const int result = FileSystemCalls::close(fd);
        return failing ? (errno = m_error, -1) : result;
    }
    int rename(const char *from, const char *to) override
    {
        if (fails(Call::rename))
            return -1;
        const int result = FileSystemCalls::rename(from, to);
        m_renamed = m_renamed || result == 0;
        return result;
    }
    int stat(const char *path, struct stat *info) override
    {
        return fails(Call::stat) ? -1 : FileSystemCalls::stat(path, info);
    }
    int lstat(const char *path, struct stat *info) override
    {
        return fails(Call::stat) ? -1 : FileSystemCalls::lstat(path, info);
    }
    int fstat(int fd, struct stat *info) override { return fails(Call::fstat) ? -1 : FileSystemCalls::fstat(fd, info); }

private:
    bool fails(Call call)
    {
        const int n = ++m_counts[static_cast<int>(call)];
        if (call != m_target || (m_failAt != -1 && n != m_failAt))
            return false;
        errno = m_error;
        m_failedAfterRename = m_renamed.load();
        return true;
    }

    Call m_target;
    int m_failAt;
    int m_error;
    std::array<std::atomic<int>, static_cast<int>(Call::count)> m_counts {};
    std::atomic<bool> m_renamed = false;
    std::atomic<bool> m_failedAfterRename = false;
};

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());

QString dataFile(const char *name)
{
    return applicationSupportDirectory() + QLatin1Char('/') + QLatin1String(name);
}

ManagedService service(const char *name)
{
    return {QUuid::createUuid(), QString::fromLatin1(name), QStringLiteral("true"), false, std::nullopt, stamp, stamp};
}

EnvironmentProfile profile(const char *name)
{
    return {QUuid::createUuid(),
            QString::fromLatin1(name),
            {{QUuid::createUuid(), QStringLiteral("TOKEN"), QStringLiteral("token"), true},
             {QUuid::createUuid(), QStringLiteral("GONE"), QStringLiteral("gone"), true}},
            false,
            stamp,
            stamp};
}

ServiceRunRecord run(int started)
{
    ServiceRunRecord record;
    record.id = QUuid::createUuid();
    record.serviceId = QUuid::createUuid();
    record.startedAt = stamp.addSecs(started);
    record.endedAt = stamp.addSecs(started + 1);
    record.stopReason = ServiceRunStopReason::exited;
    return record;
}

// One store driven through its own repository: `seed` writes a good file,
// `load` is the start-up load, `save` one change that re-reads and writes,
// and `stored` what the file holds, as comparable text.
struct Store {
    const char *file;
    std::function<void()> seed;
    std::function<void()> load;
    std::function<void()> save;
    std::function<QStringList()> stored;
    // The run history manager's next finished run, written without a fault.
    std::function<void()> nextWrite = {};
};

// Finished runs go through the manager, which keeps a run whose write failed
// and writes it with the next one; `save` (a finished run, or the masking of
// a profile made protected) throws what the window was told.
Store historyManagerStore(const QString &path, bool redacting)
{
    auto repository = std::make_shared<ServiceRunHistoryRepository>(path);
    auto manager = std::make_shared<ServiceRunHistoryManager>(*repository);
    auto alerts = std::make_shared<QStringList>();
    QObject::connect(manager.get(), &ServiceRunHistoryManager::writeFailed,
                     [alerts](const QString &message) { alerts->append(message); });
    auto started = std::make_shared<int>(0);
    const auto finishRun = [repository, manager, started](bool withProfile = true) {
        ActiveRunDraft draft;
        draft.id = QUuid::createUuid();
        draft.serviceId = QUuid::createUuid();
        draft.startedAt = stamp.addSecs(10 * ++*started);
        if (withProfile)
            draft.environmentProfileName = QStringLiteral("prod");
        draft.environment = {{QStringLiteral("HOST"), QStringLiteral("db"), false}};
        manager->setActiveDraft(draft);
        manager->finishRun(draft.serviceId, ServiceRunStopReason::exited, 0, QString());
        await(manager->waitForPendingWrites());
    };
    return {"run-history.json",
            finishRun,
            [manager] { await(manager->loadHistory()); },
            [finishRun, manager, alerts, redacting] {
                if (redacting)
                    await(manager->redactProtectedProfileHistory({}, {QStringLiteral("prod")}));
                else
                    finishRun();
                if (!alerts->isEmpty()) {
                    EXPECT_EQ(alerts->size(), 1);
                    throw FileStoreError(alerts->value(0));
                }
            },
            [path] {
                QStringList runs;
                for (const ServiceRunRecord &record : await(ServiceRunHistoryRepository(path).load()))
                    runs.append(record.startedAt.toString(Qt::ISODate) + record.environment.value(0).value);
                return runs;
            },
            [finishRun] { finishRun(false); }};
}

QStringList namesOf(const auto &items)
{
    QStringList names;
    for (const auto &item : items)
        names.append(item.name);
    return names;
}

// Each store built afresh on an empty data folder.
Store makeStore(const char *label)
{
    const char *file = label;
    const QString path = dataFile(file);
    if (qstrcmp(file, "services.json") == 0) {
        auto repository = std::make_shared<ServiceRepository>(path);
        return {file, [repository] { await(repository->saveService(service("kept"))); },
                [repository] { await(repository->loadServices()); },
                [repository] { await(repository->saveService(service("added"))); },
                [path] { return namesOf(await(ServiceRepository(path).loadServices()).services); }};
    }
    if (QByteArray(label).startsWith("environments.json")) {
        // One secret changed and one removed by the save, or all gone with the
        // profile: the keyring must keep the old values while the file does.
        auto secrets = std::make_shared<FakeSecretStore>();
        auto repository = std::make_shared<EnvironmentProfilesRepository>(dataFile("environments.json"), secrets);
        const EnvironmentProfile kept = profile("kept");
        EnvironmentProfile changed = kept;
        changed.variables[0].value = QStringLiteral("changed");
        changed.variables.removeLast();
        changed.name = QStringLiteral("changed");
        const bool deleting = QByteArray(label).endsWith("delete");
        return {"environments.json", [repository, kept] { await(repository->saveProfile(kept, std::nullopt)); },
                [repository] { await(repository->loadProfiles()); },
                [repository, changed, deleting] {
                    if (deleting)
                        await(repository->deleteProfile(changed.id, std::nullopt));
                    else
                        await(repository->saveProfile(changed, std::nullopt));
                },
                [path = dataFile("environments.json"), secrets] {
                    QStringList state =
                        namesOf(await(EnvironmentProfilesRepository(path, secrets).loadProfiles()).profiles);
                    QStringList values = secrets->items().values();
                    values.sort();
                    return state + values;
                }};
    }
    if (QByteArray(label).startsWith("run-history.json "))
        return historyManagerStore(dataFile("run-history.json"), QByteArray(label).endsWith("redaction"));
    if (qstrcmp(file, "run-history.json") == 0) {
        auto repository = std::make_shared<ServiceRunHistoryRepository>(path);
        return {file, [repository] { await(repository->append(run(0))); }, [repository] { await(repository->load()); },
                [repository] { await(repository->append(run(10))); },
                [path] {
                    QStringList starts;
                    for (const ServiceRunRecord &record : await(ServiceRunHistoryRepository(path).load()))
                        starts.append(record.startedAt.toString(Qt::ISODate));
                    return starts;
                }};
    }
    if (qstrcmp(file, "settings.json") == 0) {
        auto repository = std::make_shared<SettingsRepository>(path);
        const auto withShell = [](const char *shell) {
            AppSettings settings;
            settings.defaultShell = QString::fromLatin1(shell);
            return settings;
        };
        return {file, [repository, withShell] { await(repository->save(withShell("/bin/kept"))); },
                [repository] { await(repository->load()); },
                [repository, withShell] { await(repository->save(withShell("/bin/added"))); },
                [path] { return QStringList {await(SettingsRepository(path).load()).defaultShell}; }};
    }
    // bookmarks.json, whose store reads the file once, when it is made.
    auto store = std::make_shared<std::unique_ptr<SecurityScopedBookmarkStore>>();
    const QString kept = applicationSupportDirectory();
    const QString added = QDir::tempPath();
    return {file, [store, path, kept] { await(SecurityScopedBookmarkStore(path).rememberBookmark(kept)); },
            [store, path] { *store = std::make_unique<SecurityScopedBookmarkStore>(path); },
            [store, added] { await((*store)->rememberBookmark(added)); },
            [path] {
                QFile bytes(path);
                bytes.open(QIODevice::ReadOnly);
                QStringList keys = QJsonDocument::fromJson(bytes.readAll()).object().keys();
                keys.sort();
                return keys;
            }};
}

QStringList leftovers()
{
    // Temporary files of a write, and copies set aside as damaged: after a fault
    // that damaged nothing, there must be neither.
    QStringList found = QDir(applicationSupportDirectory())
                            .entryList({QStringLiteral(".*.velmora-save-*"), QStringLiteral("*.unreadable-*")},
                                       QDir::Files | QDir::Hidden);
    return found;
}

const char *const storeFiles[] = {
    "services.json", "environments.json", "environments.json delete", "run-history.json",
    "settings.json", "bookmarks.json",    "run-history.json manager", "run-history.json redaction"};
const int errors[] = {ENOSPC, EIO, EMFILE, ENOMEM};

} // namespace

// Every store, every single failing call of a save, at every point it is made
// (and, for reads, from the start-up load on): the old file stays whole and
// loadable, the caller hears of the failure, no temporary file stays, a save
// reported done is on disk, and the run history has every run on disk after
// the next write that succeeds.
class StorageFaults : public ::testing::TestWithParam<const char *> {};

TEST_P(StorageFaults, ASaveThatMeetsAFailingCallKeepsTheOldFileOrReportsTheNewOne)
{
    {
        const char *label = GetParam();
        for (int call = 0; call < static_cast<int>(Call::count); ++call) {
            for (const int error : errors) {
                // Counted once without a fault, then failed at each of its calls in turn.
                int points = 0;
                QStringList before, after, afterNextWrite;
                {
                    QDir(applicationSupportDirectory()).removeRecursively();
                    Store store = makeStore(label);
                    store.seed();
                    before = store.stored();
                    store.load();
                    FaultyCalls counter(static_cast<Call>(call), 0, error);
                    store.save();
                    points = counter.calls(static_cast<Call>(call));
                    FileSystemCalls::replaceForTesting(nullptr);
                    after = store.stored();
                    if (store.nextWrite)
                        store.nextWrite();
                    afterNextWrite = store.stored();
                }
                // -1: every read fails, from the start-up load on.
                QList<int> faultPoints {};
                for (int point = 1; point <= points; ++point)
                    faultPoints.append(point);
                if (call == static_cast<int>(Call::read))
                    faultPoints.append(-1);
                for (const int point : std::as_const(faultPoints)) {
                    const std::string where = std::string(label) + " " + nameOf(static_cast<Call>(call)) + " #"
                                              + std::to_string(point) + " " + std::strerror(error);
                    QDir(applicationSupportDirectory()).removeRecursively();
                    Store store = makeStore(label);
                    store.seed();
                    std::optional<QString> failure;
                    bool failedAfterRename = false;
                    {
                        std::optional<FaultyCalls> fromLoad;
                        if (point == -1)
                            fromLoad.emplace(static_cast<Call>(call), -1, error);
                        store.load();
                        fromLoad.reset();
                        const FaultyCalls fault(static_cast<Call>(call), point, error);
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
                        EXPECT_TRUE(failure->contains(QString::fromLatin1(store.file))) << where;
                        // Only a failing folder sync after the rename leaves the new file.
                        EXPECT_TRUE(stored == before || (failedAfterRename && stored == after))
                            << where << ": " << stored.join(u',').toStdString();
                    }
                    EXPECT_EQ(leftovers(), QStringList()) << where;
                    if (store.nextWrite) {
                        store.nextWrite();
                        EXPECT_EQ(store.stored(), afterNextWrite) << where << ": a run is missing or twice";
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStore, StorageFaults, ::testing::ValuesIn(storeFiles),
                         [](const ::testing::TestParamInfo<const char *> &row) {
                             std::string name = row.param;
                             for (char &c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });
