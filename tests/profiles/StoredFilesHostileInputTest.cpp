#include "profiles/EnvironmentProfilesRepository.h"
#include "records/ApplicationSupport.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryRepository.h"
#include "records/SettingsRepository.h"
#include "support/Await.h"
#include "support/FakeSecretStore.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

// Files a user or a broken disk can leave in the data folder: every loader
// must come back with nothing (and say so in the log), never crash or hang.
namespace {

QString dataFile(const QString &name)
{
    return applicationSupportDirectory() + QLatin1Char('/') + name;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList setAside(const QString &name)
{
    return QDir(applicationSupportDirectory()).entryList({name + QStringLiteral(".unreadable-*")}, QDir::Files);
}

// Puts the hostile thing at the path.
using Place = std::function<void(const QString &path)>;

Place content(const QByteArray &bytes)
{
    return [bytes](const QString &path) { writeBytes(path, bytes); };
}

struct Loader {
    const char *file;
    // Loads through the store and returns how many items came back.
    std::function<qsizetype(const QString &path)> load;
    bool logs;
};

template <typename Repository, typename Load>
std::function<qsizetype(const QString &)> loadThrough(Load load)
{
    return [load](const QString &path) {
        Repository repository(path);
        return qsizetype(load(repository));
    };
}

const Loader loaders[] = {
    {"settings.json", loadThrough<SettingsRepository>([](auto &r) { return await(r.load()) != AppSettings {}; }), true},
    {"services.json", loadThrough<ServiceRepository>([](auto &r) { return await(r.loadServices()).services.size(); }),
     true},
    {"run-history.json", loadThrough<ServiceRunHistoryRepository>([](auto &r) { return await(r.load()).size(); }),
     true},
    {"environments.json",
     [](const QString &path) {
         EnvironmentProfilesRepository repository(path, std::make_shared<FakeSecretStore>());
         return await(repository.loadProfiles()).profiles.size();
     },
     true},
    // Nothing reads bookmarks back, so an unreadable file starts afresh without a word.
    {"bookmarks.json", loadThrough<SecurityScopedBookmarkStore>([](auto &r) { return await(r.bookmarks()).size(); }),
     false},
};

} // namespace

TEST(StoredFilesHostileInput, EveryLoaderComesBackEmptyAndLogsInsteadOfCrashingOrHanging)
{
    const QByteArray deep(200'000, '[');
    const struct {
        const char *what;
        Place place;
    } cases[] = {
        {"long fraction", content("[{\"x\": 0." + QByteArray(350, '0') + "1}]")},
        {"long integer", content("[{\"x\": " + QByteArray(5'000, '7') + "}]")},
        {"number beyond a double", content("[{\"x\": 1e999}]")},
        {"deep nesting", content(deep)},
        {"valid deep nesting under an unknown key", content("[{\"x\": " + deep + QByteArray(200'000, ']') + "}]")},
        {"NUL inside", content(QByteArray("[]\0[{\"x\": 1}]", 13))},
        {"FIFO", [](const QString &path) { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); }},
        {"link to a FIFO",
         [](const QString &path) {
             const QByteArray fifo = QFile::encodeName(path + QStringLiteral(".fifo"));
             ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
             ASSERT_EQ(::symlink(fifo.constData(), QFile::encodeName(path).constData()), 0);
         }},
        {"link to /dev/zero",
         [](const QString &path) { ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(path).constData()), 0); }},
    };
    for (const Loader &loader : loaders) {
        for (const auto &hostile : cases) {
            SCOPED_TRACE(std::string(loader.file) + ": " + hostile.what);
            QDir(applicationSupportDirectory()).removeRecursively();
            const QString path = dataFile(QString::fromLatin1(loader.file));
            hostile.place(path);
            LogCapture logs;
            EXPECT_EQ(loader.load(path), 0);
            EXPECT_EQ(!logs.messages().isEmpty(), loader.logs);
        }
    }
}

TEST(StoredFilesHostileInput, NumbersAndNestingTheStoresWriteStillLoad)
{
    const QString path = dataFile(QStringLiteral("settings.json"));
    writeBytes(path, R"({"defaultShell": "/bin/zsh", "globalPeakCPU": 0.0000012345678901234567, "x": [[[[[[1]]]]]],
                         "big": 18446744073709551615, "small": -9223372036854775808})");
    SettingsRepository repository(path);
    LogCapture logs;
    EXPECT_EQ(await(repository.load()).defaultShell, QStringLiteral("/bin/zsh"));
    EXPECT_TRUE(logs.messages().isEmpty()) << logs.messages().join(QLatin1Char('\n')).toStdString();
}

namespace {

const char *const serviceRecord = R"({"formatVersion": 1, "id": "%1", "name": "%2",
    "createdAt": "2024-01-01T00:00:00Z", "updatedAt": "2024-01-01T00:00:00Z", "isProtected": false,
    "clearPayload": {"command": "run %2", "openInTerminal": false}})";

QByteArray service(const char *id, const char *name)
{
    return QString::fromLatin1(serviceRecord).arg(QString::fromLatin1(id), QString::fromLatin1(name)).toUtf8();
}

const char *const firstId = "11111111-2222-4333-8444-555555555555";
const char *const secondId = "21111111-2222-4333-8444-555555555555";

} // namespace

// A damaged record is logged and left out, the rest loads, and the file is kept
// byte for byte before the next write; nothing is emptied silently.
TEST(StoredFilesHostileInput, DamagedServiceRecordsAreLoggedAndTheFileIsKeptBeforeTheNextWrite)
{
    const QByteArray first = service(firstId, "first");
    const QByteArray second = service(secondId, "second");
    const struct {
        const char *what;
        QByteArray file;
        qsizetype loaded;
    } rows[] = {
        {"marker renamed in the only record", "[" + QByteArray(first).replace("formatVersion", "formatVersioN") + "]",
         0},
        {"marker dropped in one record",
         "[" + QByteArray(first).replace("\"formatVersion\": 1,", "") + "," + second + "]", 1},
        {"payload key flipped", "[" + QByteArray(first).replace("clearPayload", "clearPayloaD") + "," + second + "]",
         1},
        {"payload key twice",
         "[" + QByteArray(first).replace("\"clearPayload\"", "\"clearPayload\": null, \"clearPayload\"") + "," + second
             + "]",
         1},
        {"nested key twice",
         "[" + QByteArray(first).replace("\"command\"", "\"command\": \"\", \"command\"") + "," + second + "]", 1},
        {"older layout without a command", R"([{"id": "11111111-2222-4333-8444-555555555555", "name": "x"}])", 0},
        {"a 1 MB id", "[" + QByteArray(first).replace(firstId, QByteArray(1'000'000, 'A')) + "," + second + "]", 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QDir(applicationSupportDirectory()).removeRecursively();
        const QString path = dataFile(QStringLiteral("services.json"));
        writeBytes(path, row.file);
        ServiceRepository repository(path);
        LogCapture logs;
        EXPECT_EQ(await(repository.loadServices()).services.size(), row.loaded);
        ASSERT_EQ(logs.messages().size(), 1);
        EXPECT_LT(logs.messages().first().size(), 400);

        ManagedService fresh {
            QUuid::createUuid(), QStringLiteral("fresh"),          QStringLiteral("true"),          false,
            std::nullopt,        QDateTime::fromSecsSinceEpoch(0), QDateTime::fromSecsSinceEpoch(0)};
        EXPECT_EQ(await(repository.saveService(fresh)).size(), row.loaded + 1);
        const QStringList copies = setAside(QStringLiteral("services.json"));
        ASSERT_EQ(copies.size(), 1);
        EXPECT_EQ(readBytes(dataFile(copies.first())), row.file);
    }
}

TEST(StoredFilesHostileInput, DamagedProfileRecordsKeepTheirSecretsInTheKeyring)
{
    const char *const record = R"([{"formatVersion": 1, "id": "31111111-2222-4333-8444-555555555555", "name": "prod",
        "createdAt": "2024-01-01T00:00:00Z", "updatedAt": "2024-01-01T00:00:00Z", "isProtected": false,
        "clearPayload": {"variables": [{"id": "41111111-2222-4333-8444-555555555555", "key": "TOKEN", "value": "",
                                        "isSecret": true}]}}])";
    const QString account = EnvironmentProfilesRepository::secretAccount(
        QUuid::fromString(QStringLiteral("31111111-2222-4333-8444-555555555555")),
        QUuid::fromString(QStringLiteral("41111111-2222-4333-8444-555555555555")));
    for (const QByteArray &damaged : {QByteArray(record).replace("formatVersion", "formatversion"),
                                      QByteArray(record).replace("clearPayload", "clearPayloaD")}) {
        QDir(applicationSupportDirectory()).removeRecursively();
        const QString path = dataFile(QStringLiteral("environments.json"));
        writeBytes(path, damaged);
        auto secrets = std::make_shared<FakeSecretStore>();
        secrets->setItem(account, QStringLiteral("s3cret"));
        EnvironmentProfilesRepository repository(path, secrets);
        LogCapture logs;
        await(repository.loadProfiles());
        EXPECT_FALSE(logs.contains(QStringLiteral("Protected data could not be unlocked")));
        EXPECT_TRUE(logs.contains(QStringLiteral("couldn’t be read"))
                    || logs.contains(QStringLiteral("no clear payload")));

        EnvironmentProfile other {QUuid::createUuid(),
                                  QStringLiteral("other"),
                                  {},
                                  false,
                                  QDateTime::fromSecsSinceEpoch(0),
                                  QDateTime::fromSecsSinceEpoch(0)};
        await(repository.saveProfile(other, std::nullopt));
        EXPECT_EQ(secrets->items().value(account), QStringLiteral("s3cret"));
        const QStringList copies = setAside(QStringLiteral("environments.json"));
        ASSERT_EQ(copies.size(), 1);
        EXPECT_EQ(readBytes(dataFile(copies.first())), damaged);
    }
}
