#include "AppFixture.h"

#include "AtSpiClient.h"
#include "records/ApplicationSupport.h"
#include "records/DataFolderLock.h"
#include "records/ServiceRepository.h"
#include "records/ServiceRunHistoryRepository.h"
#include "support/WestonServer.h"
#include "support/XvfbServer.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <unistd.h>

namespace {

// The real application, started from the build folder next to the test
// programs, on an X server and a session bus of the test's own (so tests that
// run at the same time never meet one another's instance).
struct VelmoraBinaryTest : ::testing::Test {
    XvfbServer display;
    QProcess sessionBus;
    QString sessionBusAddress;
    AtSpiClient a11y;
    bool onA11yBus = false;
    std::optional<AtSpiClient::Node> root;
    const QString button = QStringLiteral("push button");
    QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../velmora");

    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is missing";
        ASSERT_TRUE(QFileInfo(binary).isExecutable()) << binary.toStdString();
        ASSERT_TRUE(display.start()) << display.error().toStdString();
        sessionBus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                         QStringLiteral("--print-address=1")});
        ASSERT_TRUE(sessionBus.waitForStarted(5000));
        ASSERT_TRUE(waitUntil([&] { return sessionBus.canReadLine(); }, 5000));
        sessionBusAddress = QString::fromUtf8(sessionBus.readLine().trimmed());
        onA11yBus = a11y.connect(sessionBusAddress);
    }

    void TearDown() override
    {
        if (sessionBus.state() != QProcess::NotRunning) {
            sessionBus.terminate();
            sessionBus.waitForFinished(5000);
        }
    }

    QProcessEnvironment childEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display.display()));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBusAddress);
        return environment;
    }

    std::unique_ptr<QProcess> start(bool accessible = false)
    {
        QProcessEnvironment environment = childEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        if (accessible)
            environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        return launch(environment);
    }

    std::unique_ptr<QProcess> launch(QProcessEnvironment environment)
    {
        auto process = std::make_unique<QProcess>();
        // In a sanitizer build: the X keyboard library hands strndup a reply
        // buffer that has no terminating zero, which the strict string checks
        // take for an overflow although strndup stops at its length.
        if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"), environment.value(QStringLiteral("ASAN_OPTIONS"))
                                                                   + QStringLiteral(":strict_string_checks=0"));
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(binary, {});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    static ::testing::AssertionResult bootstrapped(QProcess &process, QByteArray &log,
                                                   const QByteArray &fragment = "Velmora bootstrap complete")
    {
        if (waitForLog(process, log, fragment, 20000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no \"" << fragment.toStdString() << "\"; log: " << log.toStdString();
    }

    // The accessibility registry can take long to list a new application
    // while many tests run at once.
    ::testing::AssertionResult onTheBus(const QProcess &process, const QByteArray &log)
    {
        if (waitUntil([&] { return (root = a11y.application(QStringLiteral("Velmora"))).has_value(); }, 30000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "Velmora " << (process.state() == QProcess::Running ? "runs" : "ended")
                                             << " but is not on the accessibility bus; log: " << log.toStdString();
    }

    static void expectEndedWithZero(QProcess &process, QByteArray &log, int timeoutMs = 15000)
    {
        EXPECT_TRUE(process.waitForFinished(timeoutMs));
        log += process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << log.toStdString();
        EXPECT_EQ(process.exitCode(), 0) << log.toStdString();
        endIfRunning(process);
    }

    static void terminateExpectingZero(QProcess &process, QByteArray &log)
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        expectEndedWithZero(process, log);
    }

    QByteArray xwininfo(const QStringList &arguments) const
    {
        QProcess info;
        info.start(QStringLiteral("xwininfo"),
                   QStringList {QStringLiteral("-display"), QString::fromLatin1(display.display())} + arguments);
        info.waitForFinished(5000);
        return info.readAllStandardOutput();
    }

    // The X window of the main window (class "Velmora"), or empty.
    QString mainWindowId() const
    {
        for (const QByteArray &line : xwininfo({QStringLiteral("-root"), QStringLiteral("-tree")}).split('\n')) {
            if (line.contains("(\"velmora\" \"Velmora\")"))
                return QString::fromLatin1(line.trimmed().split(' ').first());
        }
        return {};
    }

    // Whether the main window is on the screen.
    bool showsMainWindow() const
    {
        const QString id = mainWindowId();
        return !id.isEmpty() && xwininfo({QStringLiteral("-id"), id}).contains("Map State: IsViewable");
    }

    static bool waitForLog(QProcess &process, QByteArray &log, const QByteArray &fragment, int timeoutMs)
    {
        return waitUntil(
                   [&] {
                       log += process.readAllStandardError();
                       return log.contains(fragment) || process.state() == QProcess::NotRunning;
                   },
                   timeoutMs)
               && log.contains(fragment);
    }

    bool pressWhenShown(const QString &role, const QString &name)
    {
        // A control has no action while it is disabled (under the launch splash, say).
        return waitUntil(
            [&] {
                const std::optional<AtSpiClient::Node> node = a11y.find(*root, role, name);
                return node && a11y.press(*node);
            },
            10000);
    }

    // Clicks where the accessibility bus says the named control is (sidebar
    // rows and list rows offer no press of their own).
    bool clickWhenShown(const QString &name, const QString &role = {})
    {
        return waitUntil(
            [&] {
                const std::optional<AtSpiClient::Node> node =
                    role.isEmpty() ? a11y.findNamed(*root, name) : a11y.find(*root, role, name);
                const QRect box = node ? a11y.extents(*node) : QRect();
                if (box.isEmpty())
                    return false;
                QProcess click;
                click.setProcessEnvironment(childEnvironment());
                click.start(QStringLiteral("xdotool"),
                            {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(box.center().x()),
                             QString::number(box.center().y()), QStringLiteral("click"), QStringLiteral("1")});
                return click.waitForFinished(5000) && click.exitCode() == 0;
            },
            10000);
    }

    // A stopped service's row in the Services list, named by what it shows.
    static QString stoppedRow(const QString &name, const QString &command)
    {
        return name + QStringLiteral(", ") + command + QStringLiteral(", Stopped");
    }

    // The controls take presses once the launch splash is gone.
    bool waitForControls()
    {
        return waitUntil(
            [&] {
                const auto all = a11y.find(*root, button, QStringLiteral("All"));
                return all && a11y.canPress(*all);
            },
            15000);
    }

    // The processes whose /proc stat line (and its fields after the name: state, parent, group) passes `test`.
    template <typename Test>
    static QList<qint32> processesWhere(Test test)
    {
        QList<qint32> found;
        for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(QStringLiteral("/proc/") + name + QStringLiteral("/stat"));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 2 && test(text, fields))
                found.append(name.toInt());
        }
        return found;
    }

    static QList<qint32> childrenOf(qint64 parent)
    {
        return processesWhere([parent](const QByteArray &, const QList<QByteArray> &fields) {
            return fields[0] != "Z" && fields[1].toLongLong() == parent;
        });
    }

    static void endIfRunning(QProcess &process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

TEST_F(VelmoraBinaryTest, WindowAppearsASecondStartHandsOverAndSigtermQuitsCleanly)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
        GTEST_SKIP() << "xwininfo is missing";
    auto first = start(onA11yBus);
    QByteArray log;
    ASSERT_TRUE(bootstrapped(*first, log, "Velmora bootstrap complete — 0 services"));
    EXPECT_TRUE(waitUntil([&] { return showsMainWindow(); }, 10000));

    // File ▸ Close hides the main window and Velmora goes on running. There is
    // no window manager to make the window active: give it the focus directly.
    if (onA11yBus && !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        QProcess focus;
        focus.setProcessEnvironment(childEnvironment());
        focus.start(QStringLiteral("xdotool"),
                    {QStringLiteral("windowfocus"), QStringLiteral("--sync"), mainWindowId()});
        ASSERT_TRUE(focus.waitForFinished(5000));
        ASSERT_TRUE(onTheBus(*first, log));
        ASSERT_TRUE(pressWhenShown(QStringLiteral("menu item"), QStringLiteral("Close")));
        EXPECT_TRUE(waitUntil([&] { return !showsMainWindow(); }, 10000));
        EXPECT_EQ(first->state(), QProcess::Running);
    }

    // A second start asks the first for its window and ends at once with 0.
    auto second = start();
    EXPECT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsMainWindow(); }, 10000));

    terminateExpectingZero(*first, log);
    endIfRunning(*second);
}

// Which Qt platform plugins the process has loaded.
bool loaded(const QProcess &process, const QByteArray &library)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(process.processId()));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

// On a Wayland session without XWayland Velmora runs on Wayland itself; with
// XWayland (an X display next to the compositor) it prefers X, where the panel
// can sit under its icon. No X tool is needed to see its window.
TEST_F(VelmoraBinaryTest, OnAWaylandSessionItRunsOnWaylandOrOnXWaylandWhenThereAndEndsWithZero)
{
    WestonServer compositor;
    if (!compositor.start())
        GTEST_SKIP() << "no Wayland compositor to run on: " << compositor.error().toStdString();
    if (!onA11yBus)
        GTEST_SKIP() << "no accessibility bus on this session";

    const struct {
        const char *name;
        bool withXWayland;
        QByteArray platformPlugin;
    } sessions[] = {
        {"Wayland alone", false, "libqwayland"},
        {"Wayland with XWayland", true, "libqxcb"},
    };
    for (const auto &session : sessions) {
        SCOPED_TRACE(session.name);
        QProcessEnvironment environment = childEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!session.withXWayland)
            environment.remove(QStringLiteral("DISPLAY"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), compositor.waylandDisplay());
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        // In a sanitizer build: Mesa's EGL keeps allocations of a driver it
        // unloads before the leak check; only the slow unwinder reaches Mesa's
        // own frames, which the suppressions name.
        if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"), environment.value(QStringLiteral("ASAN_OPTIONS"))
                                                                   + QStringLiteral(":fast_unwind_on_malloc=0"));
        auto velmora = launch(environment);
        QByteArray log;
        ASSERT_TRUE(bootstrapped(*velmora, log, "Velmora bootstrap complete — 0 services"));
        EXPECT_TRUE(loaded(*velmora, session.platformPlugin));
        ASSERT_TRUE(onTheBus(*velmora, log));
        EXPECT_TRUE(waitUntil(
            [&] { return a11y.find(*root, QStringLiteral("frame"), QStringLiteral("Velmora")).has_value(); }, 10000));
        terminateExpectingZero(*velmora, log);
    }
}

// What `gdbus introspect` and accessibility inspectors send: every property of
// an interface at once, and calls a careless client makes with arguments missing.
TEST_F(VelmoraBinaryTest, EveryPropertyAtOnceAndCallsWithMissingArgumentsAreAnsweredAndItRunsOn)
{
    if (!onA11yBus)
        GTEST_SKIP() << "no accessibility bus on this session";
    auto velmora = start(true);
    QByteArray log;
    ASSERT_TRUE(bootstrapped(*velmora, log));
    ASSERT_TRUE(onTheBus(*velmora, log));
    const QList<AtSpiClient::Node> windows = a11y.children(*root);
    ASSERT_FALSE(windows.isEmpty());
    const AtSpiClient::Node window = windows.first();
    const QString accessible = QStringLiteral("org.a11y.atspi.Accessible");

    const QVariantMap rootProperties = a11y.allProperties(*root, accessible);
    EXPECT_EQ(rootProperties.value(QStringLiteral("Name")).toString(), QStringLiteral("Velmora"));
    EXPECT_EQ(rootProperties.value(QStringLiteral("ChildCount")).toInt(), windows.size());
    const QVariantMap windowProperties = a11y.allProperties(window, accessible);
    EXPECT_EQ(windowProperties.value(QStringLiteral("ChildCount")).toInt(), a11y.children(window).size());
    EXPECT_TRUE(windowProperties.contains(QStringLiteral("Description")));
    QString parentService;
    QDBusObjectPath parentPath;
    const QDBusArgument parent = windowProperties.value(QStringLiteral("Parent")).value<QDBusArgument>();
    parent.beginStructure();
    parent >> parentService >> parentPath;
    parent.endStructure();
    EXPECT_EQ(parentService, root->service);
    EXPECT_EQ(parentPath.path(), root->path);
    EXPECT_EQ(a11y.allProperties(*root, QStringLiteral("org.a11y.atspi.Application"))
                  .value(QStringLiteral("ToolkitName"))
                  .toString(),
              QStringLiteral("Qt"));

    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const struct {
        AtSpiClient::Node node;
        QString interface;
        QString member;
        QVariantList arguments;
    } missingArguments[] = {
        {*root, properties, QStringLiteral("GetAll"), {}},
        {window, properties, QStringLiteral("Get"), {accessible}},
        {window, properties, QStringLiteral("Set"), {accessible, QStringLiteral("Name")}},
        {window, accessible, QStringLiteral("GetChildAtIndex"), {}},
        {window, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"), {}},
    };
    for (const auto &call : missingArguments) {
        const QDBusMessage reply = a11y.call(call.node, call.interface, call.member, call.arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << call.member.toStdString();
        EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"))
            << call.member.toStdString() << ": " << reply.errorMessage().toStdString();
    }

    // Still answering after them.
    EXPECT_EQ(a11y.name(window), windowProperties.value(QStringLiteral("Name")).toString());
    terminateExpectingZero(*velmora, log);
}

// Two stored services started as a person would (the Services row, the service
// in the list, "Start", controls found on the accessibility bus), the second
// with a grandchild in its process group.
struct VelmoraWithTwoRunningServices : VelmoraBinaryTest {
    std::unique_ptr<QProcess> velmora;
    QByteArray log;
    QList<qint32> groups;

    void SetUp() override
    {
        VelmoraBinaryTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ServiceRepository services(AppFixture::dataFile(QStringLiteral("services.json")));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const std::pair<QString, QString> stored[] = {
            {QStringLiteral("api-server"), QStringLiteral("sleep 300")},
            {QStringLiteral("worker"), QStringLiteral("sleep 300 & sleep 300; wait")}};
        for (const auto &[name, command] : stored)
            await(services.saveService({QUuid::createUuid(), name, command, false, std::nullopt, now, now}));
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is missing";
        if (!onA11yBus)
            GTEST_SKIP() << "no accessibility bus on this session";
        velmora = start(true);
        ASSERT_TRUE(bootstrapped(*velmora, log, "Velmora bootstrap complete — 2 services"));
        ASSERT_TRUE(onTheBus(*velmora, log));
        ASSERT_TRUE(waitForControls());
        ASSERT_TRUE(clickWhenShown(QStringLiteral("Services")));
        int expectedChildren = 0;
        for (const auto &[name, command] : stored) {
            ASSERT_TRUE(clickWhenShown(stoppedRow(name, command))) << name.toStdString();
            ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Start")));
            ++expectedChildren;
            ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).size() == expectedChildren; }, 10000))
                << name.toStdString();
        }
        // Each service leads its own process group.
        groups = childrenOf(velmora->processId());
        ASSERT_TRUE(
            waitUntil([&] { return childrenOf(groups.last()).size() + childrenOf(groups.first()).size() >= 2; }));
    }

    void TearDown() override
    {
        if (velmora)
            endIfRunning(*velmora);
        VelmoraBinaryTest::TearDown();
    }

    // Velmora ended with 0, with no process of its services left and both runs recorded.
    void expectACleanEnd()
    {
        expectEndedWithZero(*velmora, log, 20000);
        EXPECT_FALSE(anyProcessInGroups(groups));
        ServiceRunHistoryRepository history(AppFixture::dataFile(QStringLiteral("run-history.json")));
        EXPECT_EQ(await(history.load()).size(), 2);
    }
};

TEST_F(VelmoraWithTwoRunningServices, SigtermStopsThemRecordsBothRunsAndEndsWithZero)
{
    ::kill(pid_t(velmora->processId()), SIGTERM);
    expectACleanEnd();
}

TEST_F(VelmoraWithTwoRunningServices, QuitAndTerminateFromThePanelStopsThemRecordsBothRunsAndEndsWithZero)
{
    // No tray on this display: the panel opens from the main window's toolbar
    // button, which stays checked while the panel shows.
    ASSERT_TRUE(clickWhenShown(QStringLiteral("Velmora"), QStringLiteral("check box")));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Quit")));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Quit & Terminate")));
    expectACleanEnd();
}

TEST_F(VelmoraBinaryTest, KilledMidOutputTheNextStartLoadsEveryStore)
{
    // A service that writes without end (some 100 MB a second here).
    ServiceRepository services(AppFixture::dataFile(QStringLiteral("services.json")));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString flood = QStringLiteral("yes 'velmora flood line of output, sixty-four bytes long, more or less'");
    await(services.saveService({QUuid::createUuid(), QStringLiteral("flood"), flood, false, std::nullopt, now, now}));
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is missing";
    if (!onA11yBus)
        GTEST_SKIP() << "no accessibility bus on this session";

    ServiceRunHistoryRepository history(AppFixture::dataFile(QStringLiteral("run-history.json")));
    const qsizetype runsBefore = await(history.load()).size();

    auto velmora = start(true);
    QByteArray log;
    ASSERT_TRUE(bootstrapped(*velmora, log));
    ASSERT_TRUE(onTheBus(*velmora, log));
    ASSERT_TRUE(waitForControls());
    ASSERT_TRUE(clickWhenShown(QStringLiteral("Services")));
    ASSERT_TRUE(clickWhenShown(stoppedRow(QStringLiteral("flood"), flood)));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Start")));
    ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).size() == 1; }, 10000));
    const QList<qint32> groups = childrenOf(velmora->processId());
    // Mid-flood: the writer runs in the service's group.
    const auto floodRuns = [&] {
        return !processesWhere([&](const QByteArray &text, const QList<QByteArray> &fields) {
                    return text.contains("(yes)") && fields[2].toInt() == groups.first();
                }).isEmpty();
    };
    ASSERT_TRUE(waitUntil(floodRuns, 5000));
    // Some 200 MB through the terminal before the kill.
    QTest::qWait(2000);
    ASSERT_TRUE(floodRuns());

    ::kill(pid_t(velmora->processId()), SIGKILL);
    ASSERT_TRUE(velmora->waitForFinished(10000));
    // With the terminal's other end gone the service's processes are hung up on.
    const bool serviceOutlived = !waitUntil([&] { return !anyProcessInGroups(groups); }, 5000);
    RecordProperty("serviceOutlivedTheKill", serviceOutlived ? "yes" : "no");
    if (serviceOutlived)
        ::kill(-pid_t(groups.first()), SIGKILL);

    auto again = start(true);
    QByteArray logAgain;
    EXPECT_TRUE(bootstrapped(*again, logAgain));
    // The open run was never booked: only an ended run is written.
    EXPECT_EQ(await(history.load()).size(), runsBefore);
    terminateExpectingZero(*again, logAgain);
}

// Everything through the accessibility bus, as a screen reader user works:
// names, roles, presses, text entry and the selected state; no pointer.
TEST_F(VelmoraBinaryTest, AScreenReaderCreatesStartsAndStopsAServiceWithoutThePointer)
{
    if (!onA11yBus)
        GTEST_SKIP() << "no accessibility bus on this session";
    auto velmora = start(true);
    QByteArray log;
    ASSERT_TRUE(bootstrapped(*velmora, log));
    ASSERT_TRUE(onTheBus(*velmora, log));
    ASSERT_TRUE(waitForControls());
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Services")));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Create Service")));
    for (const auto &[field, text] : {std::pair {QStringLiteral("Name"), QStringLiteral("Web server")},
                                      std::pair {QStringLiteral("Shell Command"), QStringLiteral("sleep 300")}}) {
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::optional<AtSpiClient::Node> node = a11y.find(*root, QStringLiteral("text"), field);
                return node && a11y.setText(*node, text);
            },
            10000))
            << field.toStdString();
    }
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Save")));

    // The new service is the selected row, named by what the row shows.
    const auto selectedRow = [&](const QString &name) {
        std::optional<AtSpiClient::Node> row;
        return waitUntil(
            [&] {
                row = a11y.findNamed(*root, name);
                return row && a11y.has(*row, AtSpiClient::State::selected);
            },
            10000);
    };
    EXPECT_TRUE(selectedRow(QStringLiteral("Web server, sleep 300, Stopped")));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Start")));
    ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).size() == 1; }, 10000));
    EXPECT_TRUE(selectedRow(QStringLiteral("Web server, sleep 300, Running")));

    // What a screen reader finds on the window: every button named, one
    // selected row, nothing announced that is not shown.
    int selectedRows = 0;
    for (const AtSpiClient::Node &node : a11y.tree(*root)) {
        if (!a11y.has(node, AtSpiClient::State::showing))
            continue;
        const QString role = a11y.roleName(node);
        const QString name = a11y.name(node);
        if (role == button) {
            EXPECT_FALSE(name.isEmpty()) << "a button without a name at " << node.path.toStdString();
        }
        if (role == QStringLiteral("list item") && a11y.has(node, AtSpiClient::State::selected))
            ++selectedRows;
        EXPECT_NE(name, QStringLiteral("Starting Velmora")) << "the splash spinner is gone";
    }
    EXPECT_EQ(selectedRows, 1);

    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Stop")));
    EXPECT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).isEmpty(); }, 10000));
    EXPECT_TRUE(selectedRow(QStringLiteral("Web server, sleep 300, Stopped")));

    terminateExpectingZero(*velmora, log);
}

TEST_F(VelmoraBinaryTest, AHeldOrForeignDataFolderIsReportedAndNothingElseStarts)
{
    // Held by another process, with no session bus to hand over through.
    QTemporaryDir runtime;
    QProcessEnvironment environment = childEnvironment();
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()); // no bus socket there either
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    std::optional<DataFolderLock> held(std::in_place, applicationSupportDirectory());
    ASSERT_TRUE(held->isHeld());
    QList<std::pair<QProcessEnvironment, QByteArray>> cases {
        {environment, "velmora: Velmora is already running for this user"}};
    // Another user's, with a services file planted in it.
    QTemporaryDir foreignData;
    if (::geteuid() == 0) {
        const QString folder = foreignData.filePath(QStringLiteral("com.tolvenix.Velmora"));
        ASSERT_TRUE(QDir().mkdir(folder));
        QFile planted(folder + QStringLiteral("/services.json"));
        ASSERT_TRUE(planted.open(QIODevice::WriteOnly) && planted.write("[]") == 2);
        planted.close();
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        QProcessEnvironment foreign = environment;
        foreign.insert(QStringLiteral("XDG_DATA_HOME"), foreignData.path());
        cases.append({foreign, "velmora: Velmora's data folder “" + folder.toUtf8() + "” belongs to another user"});
    }
    for (const auto &[startEnvironment, report] : cases) {
        const auto velmora = launch(startEnvironment);
        QByteArray errors;
        EXPECT_TRUE(waitForLog(*velmora, errors, report, 20000)) << errors.toStdString();
        EXPECT_FALSE(errors.contains("bootstrap complete"));
        endIfRunning(*velmora);
    }
}
