#include "records/ApplicationSupport.h"
#include "records/SecurityScopedBookmarkStore.h"
#include "records/SettingsRepository.h"
#include "records/SystemMetrics.h"
#include "support/Await.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QString settingsPath()
{
    return applicationSupportDirectory() + QStringLiteral("/settings.json");
}

void writeSettings(const QByteArray &bytes)
{
    QFile file(settingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

AppSettings loadSettings()
{
    SettingsRepository repository(settingsPath());
    return await(repository.load());
}

} // namespace

TEST(SettingsRepository, MissingKeysTakeTheirDefaults)
{
    writeSettings("{}");
    EXPECT_EQ(loadSettings(), AppSettings {});

    writeSettings("{\"appearanceMode\": \"dark\"}");
    const AppSettings dark = loadSettings();
    EXPECT_EQ(dark.defaultShell, AppSettings::defaultShellPath());
    EXPECT_EQ(dark.appearanceMode, AppAppearanceMode::dark);

    writeSettings("{\"defaultShell\": \"\", \"appearanceMode\": \"light\"}");
    EXPECT_EQ(loadSettings().defaultShell, QString());
}

TEST(SettingsRepository, BadContentGivesDefaultsAndTheLoadFailureMessage)
{
    const QList<QByteArray> bad = {
        QByteArray("{\"appearanceMode\": \"sepia\"}"),
        QByteArray("{\"appearanceMode\": 1}"),
        QByteArray("{\"defaultShell\": null, \"appearanceMode\": \"Dark\"}"),
        QByteArray("\"just text\""),
        QByteArray("{\"defaultShell\": \"/bin/\xc3\"}"),
    };
    for (const QByteArray &content : bad) {
        LogCapture logs;
        writeSettings(content);
        EXPECT_EQ(loadSettings(), AppSettings {}) << content.constData();
        EXPECT_TRUE(logs.contains(QStringLiteral("Failed to load settings.json: "))) << content.constData();
    }
}

TEST(SettingsRepository, SaveWritesBothKeysSortedAndResetWritesTheDefaults)
{
    SettingsRepository repository(settingsPath());
    AppSettings custom;
    custom.defaultShell = QStringLiteral("/bin/bash");
    custom.appearanceMode = AppAppearanceMode::light;
    await(repository.save(custom));
    EXPECT_EQ(await(repository.load()), custom);

    await(repository.save(AppSettings {}));
    EXPECT_EQ(readAll(settingsPath()), QByteArray("{\n  \"appearanceMode\": \"system\",\n  \"defaultShell\": \"")
                                           + AppSettings::defaultShellPath().toUtf8() + QByteArray("\"\n}"));
}

TEST(SettingsRepository, SaveFailureReachesTheCallerAndKeepsTheFile)
{
    // A folder standing where the temporary file's folder should be makes every write fail.
    const QString blocker = applicationSupportDirectory() + QStringLiteral("/blocker");
    QFile(blocker).open(QIODevice::WriteOnly);
    SettingsRepository repository(blocker + QStringLiteral("/settings.json"));
    EXPECT_THROW(await(repository.save(AppSettings {})), FileStoreError);
    EXPECT_TRUE(QFileInfo(blocker).isFile());
}

TEST(SecurityScopedBookmarkStore, PickingAPathTwiceKeepsOneEntryAndTheFileIsCompact)
{
    const QString bookmarksPath = applicationSupportDirectory() + QStringLiteral("/bookmarks.json");
    const QString picked = QDir::homePath() + QStringLiteral("/projects/ünï \"x\"");
    QDir().mkpath(picked);
    {
        SecurityScopedBookmarkStore store(bookmarksPath);
        await(store.rememberBookmark(picked));
        await(store.rememberBookmark(picked));
        EXPECT_EQ(await(store.bookmarks()).size(), 1);
    }
    const QByteArray written = readAll(bookmarksPath);
    EXPECT_FALSE(written.contains('\n'));
    EXPECT_TRUE(written.contains(picked.toUtf8().toBase64()));

    SecurityScopedBookmarkStore reopened(bookmarksPath);
    const auto bookmarks = await(reopened.bookmarks());
    ASSERT_EQ(bookmarks.size(), 1);
    EXPECT_EQ(bookmarks.value(picked), picked.toUtf8());
}

TEST(SecurityScopedBookmarkStore, UnreadableFileStartsEmptyAndAMissingItemFails)
{
    const QString bookmarksPath = applicationSupportDirectory() + QStringLiteral("/bookmarks.json");
    QFile file(bookmarksPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"/a\": 12}");
    file.close();
    SecurityScopedBookmarkStore store(bookmarksPath);
    EXPECT_TRUE(await(store.bookmarks()).isEmpty());
    EXPECT_THROW(await(store.rememberBookmark(QDir::homePath() + QStringLiteral("/missing"))), FileStoreError);
}

TEST(SystemMetrics, EqualityDistinguishesAMissingGpuFigureAndClampsNonFiniteReadings)
{
    const SystemMetrics withoutGpu = SystemMetrics::make(12.5, 100, 200, std::nullopt);
    EXPECT_EQ(withoutGpu, SystemMetrics::make(12.5, 100, 200, std::nullopt));
    EXPECT_NE(withoutGpu, SystemMetrics::make(12.5, 100, 200, 0.0));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(SystemMetrics::make(nan, 1, 2, nan), SystemMetrics::make(0, 1, 2, 0.0));
    EXPECT_EQ(qHash(SystemMetrics::make(nan, 1, 2, nan)), qHash(SystemMetrics::make(0, 1, 2, 0.0)));
}
