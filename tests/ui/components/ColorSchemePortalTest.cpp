#include "ui/components/ColorSchemePortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void announceColorScheme(QDBusConnection &bus, uint value)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                   QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
    signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
           << QVariant::fromValue(QDBusVariant(QVariant(value)));
    bus.send(signal);
}

// Answers Read as the portal does: a variant holding a variant.
class FakePortalSettings : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 1;

public Q_SLOTS:
    QDBusVariant Read(const QString &nameSpace, const QString &key)
    {
        if (nameSpace != QStringLiteral("org.freedesktop.appearance") || key != QStringLiteral("color-scheme"))
            return QDBusVariant(QVariant(QString()));
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(scheme))));
    }
};

} // namespace

TEST(ColorSchemePortal, PortalValuesAsPreferences)
{
    EXPECT_EQ(ColorSchemePortal::preferenceFromValue(0), std::nullopt);
    EXPECT_EQ(ColorSchemePortal::preferenceFromValue(1), true);
    EXPECT_EQ(ColorSchemePortal::preferenceFromValue(2), false);
    EXPECT_EQ(ColorSchemePortal::preferenceFromValue(7), std::nullopt);
}

// The desktop's setting is followed as it changes.
TEST(ColorSchemePortal, FollowsTheDesktopSettingLive)
{
    // The portal stands on a connection of its own, as the real one does.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
    if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        GTEST_SKIP() << "no private session bus to stand in for the portal";
    FakePortalSettings settings;
    bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &settings, QDBusConnection::ExportAllSlots);
    {
        ColorSchemePortal portal;
        EXPECT_TRUE(QTest::qWaitFor([&] { return portal.prefersDark() == true; }, 10000)) << "read at start";
        announceColorScheme(bus, 2);
        EXPECT_TRUE(QTest::qWaitFor([&] { return portal.prefersDark() == false; }, 10000));
        announceColorScheme(bus, 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !portal.prefersDark().has_value(); }, 10000));
    }
    bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
}

#include "ColorSchemePortalTest.moc"
