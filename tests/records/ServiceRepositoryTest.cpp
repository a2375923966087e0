#include "records/ProtectedProfilesError.h"
#include "records/ServiceRepository.h"
#include "records/RecordsTestSupport.h"
#include "support/Await.h"
#include "support/LogCapture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace records_test;

namespace {

const QString servicesFile = QStringLiteral("services.json");

ManagedService decodeService(const QByteArray &object)
{
    return decodeJson<ManagedService>(object);
}

ManagedService makeService(const QString &name, const QString &command)
{
    return ManagedService {QUuid::createUuid(), name, command, false, std::nullopt, at(1'700'000'000),
                           at(1'700'000'100)};
}

QByteArray protectedRecord(const QUuid &id, const QString &name, bool withEnvelope)
{
    QByteArray record = R"({"formatVersion": 1, "id": ")" + json::formatUuid(id).toUtf8() + R"(", "name": ")"
                        + name.toUtf8()
                        + R"(", "createdAt": "2024-01-01T00:00:00Z", "updatedAt": "2024-01-02T00:00:00Z",
                           "isProtected": true, "protectionVersion": 1)";
    if (withEnvelope) {
        record += R"(, "encryptedPayload": {"algorithm": "AES.GCM", "keyID": "protected-profiles.master-key.v1",
                     "aad": "velmora:protected-service:v1:)"
                  + json::formatUuid(id).toLower().toUtf8() + R"(", "combinedSealedBox": "AAAA"})";
    }
    return record + "}";
}

QByteArray clearRecord(const ManagedService &service)
{
    json::Document document;
    return json::serializeCompact(PersistedManagedServiceRecord::clear(service).toJson(document.GetAllocator()));
}

// Stands in for the envelope opener of the profiles layer: it opens only envelopes
// whose associated data names the service, and counts its calls.
ProtectedServicePayloadOpener fakeOpener(const QByteArray &plaintext, int &calls)
{
    return [plaintext, &calls](const QUuid &id, const ProtectedPayloadEnvelope &envelope) {
        ++calls;
        if (envelope.aad != QStringLiteral("velmora:protected-service:v1:") + json::formatUuid(id).toLower())
            throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
        return plaintext;
    };
}

ProtectedProfilesError::Case errorCaseOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const ProtectedProfilesError &error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "expected a ProtectedProfilesError";
    return ProtectedProfilesError::Case::encryptionFailed;
}

} // namespace

TEST(ManagedService, LenientDecodingRebuildsOlderCommandsAndFillsDefaults)
{
    const QByteArray head = R"({"id": "6F1A2B3C-4D5E-4F60-8172-839A4B5C6D7E", "name": "web")";
    const struct {
        const char *what;
        QByteArray json;
        QString command;
    } rows[] = {
        {"executable path with arguments", head + R"(, "command": "", "executablePath": "/bin/echo",
            "arguments": ["hello", "world"]})",
         QStringLiteral("'/bin/echo' 'hello' 'world'")},
        {"single quotes inside words", head + R"(, "executablePath": "/usr/bin/env", "arguments": ["FOO=1", "it's"]})",
         QStringLiteral("'/usr/bin/env' 'FOO=1' 'it'\\''s'")},
        {"blank command kept untrimmed", head + R"(, "command": "  "})", QStringLiteral("  ")},
        {"command wins over the path", head + R"(, "command": " ls ", "executablePath": "/bin/echo"})",
         QStringLiteral(" ls ")},
        {"older keys read and dropped", head + R"(, "command": "run", "launchMode": "shell",
            "workingDirectory": "/tmp", "isProtected": false})",
         QStringLiteral("run")},
    };
    for (const auto &row : rows) {
        const ManagedService service = decodeService(row.json);
        EXPECT_EQ(service.command, row.command) << row.what;
        EXPECT_FALSE(service.openInTerminal || service.environmentProfileId) << row.what;
    }

    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const ManagedService undated = decodeService(head + "}");
    EXPECT_GE(undated.createdAt, before);
    EXPECT_GE(undated.updatedAt, before);

    for (const QByteArray &bad :
         {QByteArray(R"({"name": "x"})"), QByteArray(R"({"id": "6F1A2B3C-4D5E-4F60-8172-839A4B5C6D7E", "name": 5})"),
          head + R"(, "arguments": "one"})", head + R"(, "launchMode": 1})", head + R"(, "createdAt": "yesterday"})",
          head + R"(, "openInTerminal": "yes"})"})
        EXPECT_THROW(decodeService(bad), json::DecodeError) << bad.constData();
}

TEST(ServiceRepository, OldestLayoutLoadsAndTheNextSaveRewritesItInTheCurrentLayout)
{
    const QString path = dataFile(servicesFile);
    writeFile(path, R"([{"id": "6f1a2b3c-4d5e-4f60-8172-839a4b5c6d7e", "name": "echo", "command": "",
        "executablePath": "/bin/echo", "arguments": ["hello", "world"], "createdAt": "2023-01-01T00:00:00Z",
        "updatedAt": "2023-01-01T00:00:00Z"}, {"id": "7f1a2b3c-4d5e-4f60-8172-839a4b5c6d7e", "name": "b",
        "command": "sleep 1", "openInTerminal": true}])");
    ServiceRepository repository(path);
    const LoadedServices loaded = await(repository.loadServices());
    ASSERT_EQ(loaded.services.size(), 2);
    EXPECT_EQ(loaded.services[0].command, QStringLiteral("'/bin/echo' 'hello' 'world'"));
    EXPECT_TRUE(loaded.services[1].openInTerminal);
    EXPECT_TRUE(loaded.legacyEncryptedServiceIDs.isEmpty());
    EXPECT_FALSE(readFile(path).contains("formatVersion")); // loading writes nothing

    const ManagedService added = makeService(QStringLiteral("new"), QStringLiteral("true"));
    const QList<ManagedService> saved = await(repository.saveService(added));
    ASSERT_EQ(saved.size(), 3);
    EXPECT_EQ(saved[0].command, loaded.services[0].command);
    EXPECT_EQ(saved[2], added);
    const QByteArray written = readFile(path);
    EXPECT_EQ(written.count("\"formatVersion\": 1"), 3);
    EXPECT_FALSE(written.contains("executablePath"));
    EXPECT_TRUE(setAsideFiles(servicesFile).isEmpty());
}

// A services.json of another user's, there or behind a link, is never loaded: it is set aside at the first
// save, which writes a file of our own. Links to our own file, and a file with several names, load as ever.
TEST(ServiceRepository, OnlyAFileOfTheUsersOwnLoadsAnotherUsersIsSetAsideAtTheFirstSave)
{
    const QByteArray stored = R"([{"id": "6f1a2b3c-4d5e-4f60-8172-839a4b5c6d7e", "name": "planted", "command": "x"}])";
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("services.json"));
    const struct {
        const char *what;
        bool foreign;
        bool throughLink;
        bool hardLink = false;
    } cases[] = {{"another user's file", true, false},
                 {"a link to another user's file", true, true},
                 {"a link to our own file", false, true},
                 {"our own file with a second name", false, false, true}};
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        if (test.foreign && ::geteuid() != 0)
            continue; // handing a file to another user needs root
        const QString path = dataFile(servicesFile);
        QFile::remove(path);
        // A link set aside dangles once its target goes; System lists it still.
        for (const QString &aside :
             QDir(applicationSupportDirectory())
                 .entryList({servicesFile + QStringLiteral(".unreadable-*")}, QDir::Files | QDir::System))
            QFile::remove(dataFile(aside));
        const QString file = test.throughLink ? target : path;
        writeFile(file, stored);
        const QByteArray second = QFile::encodeName(target + QLatin1Char('2'));
        ASSERT_TRUE(!test.throughLink || QFile::link(target, path));
        ASSERT_TRUE(!test.hardLink || ::link(QFile::encodeName(path).constData(), second.constData()) == 0);
        ASSERT_TRUE(!test.foreign || ::chown(QFile::encodeName(file).constData(), 65534, 65534) == 0);

        LogCapture logs;
        ServiceRepository repository(path);
        EXPECT_EQ(await(repository.loadServices()).services.size(), test.foreign ? 0 : 1);
        EXPECT_EQ(logs.contains(QStringLiteral("Failed to load services.json: it belongs to another user")),
                  test.foreign);
        await(repository.saveService(makeService(QStringLiteral("mine"), QStringLiteral("true"))));
        EXPECT_EQ(await(repository.loadServices()).services.size(), test.foreign ? 1 : 2);
        EXPECT_EQ(setAsideFiles(servicesFile).size(), test.foreign ? 1 : 0);
        EXPECT_TRUE(readFile(target).isEmpty() || readFile(target) == stored); // never written through
        QFile::remove(target);
        QFile::remove(target + QLatin1Char('2'));
    }
}

TEST(ServiceRepository, SaveReplacesInPlaceAppendsNewAndDeleteRemoves)
{
    LogCapture logs;
    ServiceRepository repository(dataFile(servicesFile));
    EXPECT_EQ(await(repository.loadServices()), LoadedServices {}); // no file
    writeFile(repository.path(), "[]");
    EXPECT_EQ(await(repository.loadServices()), LoadedServices {});
    EXPECT_TRUE(logs.messages().isEmpty());
    ManagedService first = makeService(QStringLiteral("first"), QStringLiteral("a"));
    const ManagedService second = makeService(QStringLiteral("second"), QStringLiteral("b"));
    await(repository.saveService(first));
    await(repository.saveService(second));
    first.command = QStringLiteral("changed");
    first.environmentProfileId = QUuid::createUuid();
    EXPECT_EQ(await(repository.saveService(first)), (QList<ManagedService> {first, second}));
    await(repository.deleteService(first.id));
    EXPECT_EQ(await(repository.loadServices()).services, QList<ManagedService> {second});
}

TEST(ServiceRepository, ProtectedRecordsAppearAsPlaceholdersAndRecordsWithoutPayloadAreSkipped)
{
    const ManagedService plain = makeService(QStringLiteral("plain"), QStringLiteral("run"));
    const QUuid lockedId = QUuid::createUuid();
    writeFile(dataFile(servicesFile),
              "[" + protectedRecord(lockedId, QStringLiteral("secret"), true) + ","
                  + R"({"formatVersion": 7, "id": "8f1a2b3c-4d5e-4f60-8172-839a4b5c6d7e", "name": "hollow",
                       "createdAt": "2024-01-01T00:00:00Z", "updatedAt": "2024-01-01T00:00:00Z",
                       "isProtected": false},)"
                  + clearRecord(plain) + "]");
    ServiceRepository repository(dataFile(servicesFile));
    const LoadedServices loaded = await(repository.loadServices());
    const ManagedService placeholder {lockedId,     QStringLiteral("secret"), QString(),        false,
                                      std::nullopt, at(1'704'067'200),        at(1'704'153'600)};
    EXPECT_EQ(loaded.services, (QList<ManagedService> {placeholder, plain}));
    EXPECT_EQ(loaded.legacyEncryptedServiceIDs, QSet<QUuid> {lockedId});
}

TEST(ServiceRepository, MigrationOpensEveryEncryptedRecordOrWritesNothing)
{
    const QString path = dataFile(servicesFile);
    const ManagedService plain = makeService(QStringLiteral("plain"), QStringLiteral("run"));
    const QUuid firstId = QUuid::createUuid();
    const QUuid secondId = QUuid::createUuid();
    const QByteArray original = "[" + protectedRecord(firstId, QStringLiteral("one"), true) + "," + clearRecord(plain)
                                + "," + protectedRecord(secondId, QStringLiteral("two"), true) + "]";

    struct Row {
        const char *what;
        QByteArray file;
        QByteArray plaintext;
        ProtectedProfilesError::Case expected;
        int expectedCalls;
    };
    const Row failures[] = {
        {"record without envelope", "[" + protectedRecord(firstId, QStringLiteral("one"), false) + "]", "{}",
         ProtectedProfilesError::Case::locked, 0},
        {"plaintext that is not a payload", original, R"({"command": 5})",
         ProtectedProfilesError::Case::decryptionFailed, 1},
        {"plaintext that is not JSON", original, "\x01\x02", ProtectedProfilesError::Case::decryptionFailed, 1},
        {"envelope of another record",
         QByteArray(original).replace(json::formatUuid(secondId).toLower().toUtf8(),
                                      json::formatUuid(firstId).toLower().toUtf8()),
         R"({"command": "x", "openInTerminal": false})", ProtectedProfilesError::Case::decryptionFailed, 2},
    };
    for (const Row &row : failures) {
        writeFile(path, row.file);
        ServiceRepository repository(path);
        int calls = 0;
        EXPECT_EQ(
            errorCaseOf([&] { await(repository.migrateLegacyEncryptedRecords(fakeOpener(row.plaintext, calls))); }),
            row.expected)
            << row.what;
        EXPECT_EQ(calls, row.expectedCalls) << row.what;
        EXPECT_EQ(readFile(path), row.file) << row.what;
    }

    // A save over an encrypted record would store its placeholder's empty command.
    writeFile(path, original);
    ServiceRepository repository(path);
    const ManagedService placeholder = await(repository.loadServices()).services.first();
    EXPECT_EQ(errorCaseOf([&] { await(repository.saveService(placeholder)); }), ProtectedProfilesError::Case::locked);
    EXPECT_EQ(readFile(path), original);

    int calls = 0;
    const QList<ManagedService> migrated = await(repository.migrateLegacyEncryptedRecords(
        fakeOpener(R"({"command": "echo opened", "openInTerminal": true})", calls)));
    ASSERT_EQ(migrated.size(), 3);
    EXPECT_EQ(migrated[0], (ManagedService {firstId, QStringLiteral("one"), QStringLiteral("echo opened"), true,
                                            std::nullopt, at(1'704'067'200), at(1'704'153'600)}));
    EXPECT_EQ(migrated[1], plain);
    EXPECT_EQ(migrated[2].id, secondId);
    EXPECT_TRUE(await(repository.loadServices()).legacyEncryptedServiceIDs.isEmpty());
    EXPECT_EQ(readFile(path).count("\"isProtected\": false"), 3);
    EXPECT_EQ(await(repository.saveService(placeholder)).first().command, QString()); // now the caller's choice
}

TEST(ServiceRepository, UnusableFilesLogLoadNothingAndAreSetAsideBeforeTheNextWrite)
{
    const struct {
        const char *what;
        QByteArray content;
        const char *logged;
    } rows[] = {
        {"versioned record without createdAt",
         R"([{"formatVersion": 1, "id": "6f1a2b3c-4d5e-4f60-8172-839a4b5c6d7e", "name": "a",
             "updatedAt": "2024-01-01T00:00:00Z", "isProtected": false}])",
         "persistence: Failed to load protected service records: "},
        {"not JSON", "garbage", "persistence: Failed to migrate services.json: "},
        {"empty file", "", "persistence: Failed to migrate services.json: "},
        {"not UTF-8 despite the marker", "[{\"formatVersion\": \"\xff\"}]",
         "persistence: Failed to migrate services.json: "},
    };
    for (const auto &row : rows) {
        QDir(applicationSupportDirectory()).removeRecursively();
        const QString path = dataFile(servicesFile);
        writeFile(path, row.content);
        ServiceRepository repository(path);
        LogCapture logs;
        EXPECT_EQ(await(repository.loadServices()), LoadedServices {}) << row.what;
        ASSERT_EQ(logs.messages().size(), 1) << row.what;
        EXPECT_TRUE(logs.messages().first().contains(QString::fromUtf8(row.logged))) << row.what;

        const ManagedService service = makeService(QStringLiteral("fresh"), QStringLiteral("run"));
        EXPECT_EQ(await(repository.saveService(service)), QList<ManagedService> {service}) << row.what;
        const QStringList asides = setAsideFiles(servicesFile);
        ASSERT_EQ(asides.size(), 1) << row.what;
        EXPECT_EQ(readFile(dataFile(asides.first())), row.content) << row.what;
    }
}

TEST(ServiceRepository, PathThatCannotBeReadIsLoggedAndNotTakenForAMissingFile)
{
    QDir(applicationSupportDirectory()).removeRecursively();
    const QString path = dataFile(servicesFile);
    ASSERT_TRUE(QDir().mkpath(path));
    ServiceRepository repository(path);
    LogCapture logs;
    EXPECT_EQ(await(repository.loadServices()), LoadedServices {});
    EXPECT_TRUE(logs.contains(QStringLiteral("persistence: Failed to migrate services.json: ")));
    QDir(path).removeRecursively();
}

TEST(ServiceRepository, AnEditWritesTheBytesOfAFullEncodeAndNeverSplicesOverAnOutsideEdit)
{
    QDir(applicationSupportDirectory()).removeRecursively();
    const QString path = dataFile(servicesFile);
    const auto fullEncode = [](const QList<ManagedService> &services) {
        QList<PersistedManagedServiceRecord> records;
        for (const ManagedService &service : services)
            records.append(PersistedManagedServiceRecord::clear(service));
        return encodePrettyJson(records);
    };
    QList<ManagedService> services;
    for (const char *name : {"alpha", "bravo", "charlie", "delta"})
        services.append(makeService(QString::fromLatin1(name), QStringLiteral("run \"it\"\n\t")));
    writeFile(path, fullEncode(services));
    ServiceRepository repository(path);
    await(repository.loadServices());

    // Each edit in turn, in every position, on the file the previous one wrote.
    const struct {
        const char *what;
        std::function<void()> edit;
    } steps[] = {
        {"first replaced", [&] { services[0].command = QStringLiteral("longer than it was before"); }},
        {"middle replaced", [&] { services[2].name = QStringLiteral("charlie-2"); }},
        {"last replaced", [&] { services[3].openInTerminal = true; }},
        {"added", [&] { services.append(makeService(QStringLiteral("echo"), QStringLiteral("echo ✓"))); }},
        {"middle deleted", [&] { services.removeAt(1); }},
        {"first deleted", [&] { services.removeFirst(); }},
        {"last deleted", [&] { services.removeLast(); }},
    };
    for (const auto &step : steps) {
        const QList<ManagedService> before = services;
        step.edit();
        if (services.size() < before.size()) {
            const auto gone = std::find_if(before.begin(), before.end(),
                                           [&](const ManagedService &s) { return !services.contains(s); });
            await(repository.deleteService(gone->id));
        } else {
            for (const ManagedService &service : std::as_const(services)) {
                if (!before.contains(service))
                    await(repository.saveService(service));
            }
        }
        EXPECT_EQ(readFile(path), fullEncode(services)) << step.what;
        EXPECT_EQ(await(repository.loadServices()).services, services) << step.what;
    }

    // The same size and the same length of every record, after a write and after a load.
    for (const bool loadedFirst : {false, true}) {
        if (loadedFirst)
            await(repository.loadServices());
        ManagedService &renamed = services[loadedFirst ? 1 : 0];
        QByteArray outside = readFile(path);
        outside.replace(renamed.name.toUtf8(), renamed.name.toUpper().toUtf8());
        writeFile(path, outside);
        renamed.name = renamed.name.toUpper();
        EXPECT_EQ(await(repository.loadServices()).services, services) << loadedFirst;
        writeFile(path, outside);
        services.last().command = QStringLiteral("edited after %1").arg(loadedFirst);
        EXPECT_EQ(await(repository.saveService(services.last())), services) << loadedFirst;
        EXPECT_EQ(readFile(path), fullEncode(services)) << loadedFirst;
    }
}

TEST(ServiceRepository, ALargeFileLoadsItsRecordsInOrderAndListsItsDamage)
{
    QDir(applicationSupportDirectory()).removeRecursively();
    const QString path = dataFile(servicesFile);
    QList<ManagedService> services;
    QByteArray file = "[";
    for (int index = 0; index < 4; ++index) {
        services.append(makeService(QStringLiteral("large %1").arg(index),
                                    QString(3 << 20, QLatin1Char('a' + index)) + QStringLiteral(" ✓")));
        file += clearRecord(services.last()) + ",";
    }
    file += R"({"formatVersion": 1, "id": "8f1a2b3c-4d5e-4f60-8172-839a4b5c6d7e", "name": "hollow"}])";
    writeFile(path, file);
    LogCapture logs;
    EXPECT_EQ(await(ServiceRepository(path).loadServices()).services, services);
    ASSERT_EQ(logs.messages().size(), 1);
    EXPECT_TRUE(logs.messages().first().contains(QStringLiteral("Record 5 (“8f1a2b3c")))
        << logs.messages().first().toStdString();
}
