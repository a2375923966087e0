#include "records/AppSettings.h"
#include "records/ApplicationSupport.h"
#include "records/JSONFileStore.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Sample {
    QString text;
    QDateTime when;
    QByteArray data;
    std::optional<qint32> count;
    double ratio = 0;

    static Sample fromJson(const json::Value &value)
    {
        const json::ObjectReader reader(value, "Sample");
        return {reader.string("text"), reader.date("when"), reader.data("data"), reader.optionalInt32("count"),
                reader.number("ratio")};
    }
    json::Value toJson(json::Allocator &allocator) const
    {
        return json::ObjectWriter(allocator)
            .set("text", text)
            .set("when", when)
            .set("data", data)
            .setOptional("count", count)
            .set("ratio", ratio)
            .take();
    }
    friend bool operator==(const Sample &, const Sample &) = default;
};

QString dataFile(const QString &name)
{
    return applicationSupportDirectory() + QLatin1Char('/') + name;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(JSONFileStore, MissingFileYieldsDefaultWithoutLogging)
{
    LogCapture logs;
    JSONFileStore<AppSettings> store(dataFile(QStringLiteral("settings.json")));
    AppSettings fallback;
    fallback.defaultShell = QStringLiteral("/bin/sh");
    EXPECT_EQ(store.load(fallback), fallback);
    EXPECT_TRUE(logs.messages().isEmpty());
}

TEST(JSONFileStore, UnreadableContentYieldsDefaultAndLogsTheFileName)
{
    for (const QByteArray &content :
         {QByteArray(), QByteArray("{\"defaultShell\": "), QByteArray("[1, 2]"),
          QByteArray("{\"defaultShell\": \"\xff\xfe\"}"), QByteArray("{\"defaultShell\": 5}")}) {
        LogCapture logs;
        const QString path = dataFile(QStringLiteral("settings.json"));
        writeFile(path, content);
        JSONFileStore<AppSettings> store(path);
        EXPECT_EQ(store.load(AppSettings {}), AppSettings {}) << content.constData();
        ASSERT_EQ(logs.messages().size(), 1);
        EXPECT_TRUE(logs.messages().first().startsWith(
            QStringLiteral("com.tolvenix.Velmora.persistence: Failed to load settings.json: ")));
    }
}

TEST(JSONFileStore, AFolderAtThePathCountsAsUnreadable)
{
    LogCapture logs;
    const QString path = dataFile(QStringLiteral("settings.json"));
    QDir().mkpath(path);
    JSONFileStore<AppSettings> store(path);
    EXPECT_EQ(store.load(AppSettings {}), AppSettings {});
    EXPECT_TRUE(logs.contains(QStringLiteral("Failed to load settings.json")));
    EXPECT_THROW(store.save(AppSettings {}), FileStoreError);
}

TEST(JSONFileStore, RoundTripKeepsWholeSecondsAndWritesSortedIndentedBase64)
{
    JSONFileStore<QList<Sample>> store(dataFile(QStringLiteral("samples.json")));
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1'700'000'000'987, QTimeZone::utc());
    const Sample sample {QStringLiteral("naïve \"quoted\" \\ \n 😀"), when, QByteArray("\x00\x01\xff", 3), std::nullopt,
                         2.5};
    store.save({sample});

    const QByteArray written = readFile(store.path());
    EXPECT_TRUE(written.contains("\n  {\n    \"data\": \"AAH/\",\n    \"ratio\": 2.5,\n    \"text\""))
        << written.constData();
    EXPECT_FALSE(written.contains("count"));
    EXPECT_TRUE(written.contains("\"when\": \"2023-11-14T22:13:20Z\""));

    Sample expected = sample;
    expected.when = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    EXPECT_EQ(store.load({}), QList<Sample> {expected});
}

TEST(JSONFileStore, ReadsWhatTheEarlierEncoderWrote)
{
    const QString path = dataFile(QStringLiteral("samples.json"));
    writeFile(path, "[\n  {\n    \"text\" : \"a\\/b\",\n    \"when\" : \"2024-02-29T23:59:59Z\",\n"
                    "    \"data\" : \"\",\n    \"count\" : null,\n    \"ratio\" : 1,\n    \"extra\" : true\n  }\n]");
    JSONFileStore<QList<Sample>> store(path);
    const QList<Sample> loaded = store.load({});
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0].text, QStringLiteral("a/b"));
    EXPECT_FALSE(loaded[0].count.has_value());
    EXPECT_EQ(loaded[0].ratio, 1.0);
}

TEST(JSONFileStore, StrictReadersRefuseOutOfRangeFractionalAndMalformedValues)
{
    const QString path = dataFile(QStringLiteral("samples.json"));
    JSONFileStore<QList<Sample>> store(path);
    const QByteArray base = "[{\"text\": \"a\", \"when\": \"2024-01-01T00:00:00Z\", \"data\": \"\", \"ratio\": 0";
    for (const QByteArray &tail : {QByteArray(", \"count\": 1.5}]"), QByteArray(", \"count\": 2147483648}]"),
                                   QByteArray(", \"count\": \"1\"}]")}) {
        LogCapture logs;
        writeFile(path, base + tail);
        EXPECT_TRUE(store.load({}).isEmpty()) << tail.constData();
        EXPECT_TRUE(logs.contains(QStringLiteral("Failed to load samples.json")));
    }
    LogCapture logs;
    writeFile(path, "[{\"text\": \"a\", \"when\": \"2024-01-01T00:00:00.5Z\", \"data\": \"\", \"ratio\": 0}]");
    EXPECT_TRUE(store.load({}).isEmpty());
    writeFile(path, "[{\"text\": \"a\", \"when\": \"2024-01-01T00:00:00Z\", \"data\": \"%%\", \"ratio\": 0}]");
    EXPECT_TRUE(store.load({}).isEmpty());
    EXPECT_EQ(logs.messages().size(), 2);
}

TEST(JSONFileStore, NonFiniteNumbersAreWrittenAsZero)
{
    JSONFileStore<QList<Sample>> store(dataFile(QStringLiteral("samples.json")));
    Sample sample {
        QStringLiteral("x"), QDateTime::currentDateTimeUtc(), {}, 3, std::numeric_limits<double>::quiet_NaN()};
    store.save({sample});
    const QList<Sample> loaded = store.load({});
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0].ratio, 0.0);
    EXPECT_EQ(loaded[0].count, 3);
}

TEST(JSONFileStore, FailedSaveIntoReadOnlyFolderKeepsPreviousBytes)
{
    // Make the folder unwritable by replacing the file's folder with a file-backed
    // path that cannot hold a temporary file: a path whose parent is a regular file.
    const QString blocker = dataFile(QStringLiteral("not-a-folder"));
    writeFile(blocker, "x");
    JSONFileStore<AppSettings> store(blocker + QStringLiteral("/settings.json"));
    EXPECT_THROW(store.save(AppSettings {}), FileStoreError);
    EXPECT_EQ(readFile(blocker), QByteArray("x"));
}

TEST(JSONFileStore, UnreadableFileIsSetAsideBeforeTheFirstWriteReplacesIt)
{
    LogCapture logs;
    const QString path = dataFile(QStringLiteral("settings.json"));
    writeFile(path, "{ not json");
    JSONFileStore<AppSettings> store(path);
    store.load(AppSettings {});
    store.save(AppSettings {});

    const QStringList asides =
        QDir(applicationSupportDirectory()).entryList({QStringLiteral("settings.json.unreadable-*")}, QDir::Files);
    ASSERT_EQ(asides.size(), 1);
    EXPECT_EQ(readFile(applicationSupportDirectory() + QLatin1Char('/') + asides.first()), QByteArray("{ not json"));
    EXPECT_TRUE(logs.contains(QStringLiteral("Set aside unreadable settings.json as settings.json.unreadable-")));

    // A second save of a now-readable file sets nothing more aside.
    store.save(AppSettings {});
    EXPECT_EQ(QDir(applicationSupportDirectory()).entryList({QStringLiteral("settings.json.unreadable-*")}).size(), 1);
}

TEST(ApplicationSupport, CreatesAPrivateFolderAndReturnsTheSamePathEachTime)
{
    const QString first = applicationSupportDirectory();
    EXPECT_EQ(first, TestEnvironment::home() + QStringLiteral("/.local/share/com.tolvenix.Velmora"));
    EXPECT_EQ(applicationSupportDirectory(), first);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(first).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// A save into a folder that is not there names the folder and the cause
// behind it, not only the file's "No such file".
TEST(JSONFileStore, SaveErrorsNameTheFolderAndWhyItIsMissing)
{
    const QString root = dataFile(QStringLiteral("cases"));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/read-only")));
    ASSERT_EQ(::chmod(QFile::encodeName(root + QStringLiteral("/read-only")).constData(), 0500), 0);
    writeFile(root + QStringLiteral("/a-file"), "x");
    const char *const rows[][2] = {{"missing", "No such file or directory"},
                                   {"read-only/missing", "Permission denied"}, // root may write anywhere
                                   {"a-file/missing/deeper", "Not a directory"}};
    for (const auto &[name, reason] : rows) {
        if (::geteuid() == 0 && QByteArrayView(name).startsWith("read-only"))
            continue;
        const QString folder = root + QLatin1Char('/') + QString::fromLatin1(name);
        try {
            JSONFileStore<AppSettings>(folder + QStringLiteral("/settings.json")).save(AppSettings {});
            ADD_FAILURE() << name;
        } catch (const FileStoreError &error) {
            EXPECT_EQ(error.message(),
                      QStringLiteral("The file “settings.json” couldn’t be saved in the folder “%1”: %2")
                          .arg(folder, QString::fromLatin1(reason)));
        }
    }
}
