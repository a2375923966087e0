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
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

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
    std::unique_ptr<QProcess> velmora;
    QByteArray log;
    QProcessEnvironment environmentOverrides; // for Velmora and the X tools alike

    void SetUp() override
    {
        if (!has("dbus-daemon"))
            GTEST_SKIP() << "dbus-daemon is missing";
        ASSERT_TRUE(QFileInfo(binary).isExecutable()) << binary.toStdString();
        ASSERT_TRUE(display.start()) << display.error().toStdString();
        sessionBus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                         QStringLiteral("--print-address=1")});
        ASSERT_TRUE(sessionBus.waitForStarted(5000));
        ASSERT_TRUE(waitUntil([&] { return sessionBus.canReadLine(); }, 20000));
        sessionBusAddress = QString::fromUtf8(sessionBus.readLine().trimmed());
        onA11yBus = a11y.connect(sessionBusAddress);
    }

    void TearDown() override
    {
        velmora.reset(); // kills it if still running
        if (sessionBus.state() != QProcess::NotRunning) {
            sessionBus.terminate();
            sessionBus.waitForFinished(5000);
        }
    }
    static bool has(const char *tool) { return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(); }

    QProcessEnvironment childEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display.display()));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBusAddress);
        environment.insert(environmentOverrides);
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
        // take for an overflow although strndup stops at its length. On
        // Wayland, Mesa's EGL keeps allocations of a driver it unloads before
        // the leak check; only the slow unwinder reaches Mesa's own frames,
        // which the suppressions name.
        if (environment.contains(QStringLiteral("ASAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               environment.value(QStringLiteral("ASAN_OPTIONS"))
                                   + QStringLiteral(":strict_string_checks=0")
                                   + (environment.contains(QStringLiteral("WAYLAND_DISPLAY"))
                                          ? QStringLiteral(":fast_unwind_on_malloc=0")
                                          : QString()));
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(binary, {});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    // Skips when this session cannot drive Velmora; callers then return.
    void startOnTheBus(bool clicks = false, const QByteArray &bootstrap = "Velmora bootstrap complete")
    {
        if (clicks && !has("xdotool"))
            GTEST_SKIP() << "xdotool is missing";
        if (!onA11yBus)
            GTEST_SKIP() << "no accessibility bus on this session";
        velmora = start(true);
        ASSERT_TRUE(logged(*velmora, log, bootstrap));
        ASSERT_TRUE(onTheBus());
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto all = a11y.find(*root, button, QStringLiteral("All"));
                return all && a11y.canPress(*all);
            },
            15000));
    }

    static ::testing::AssertionResult logged(QProcess &process, QByteArray &errors,
                                             const QByteArray &fragment = "Velmora bootstrap complete")
    {
        waitUntil(
            [&] {
                errors += process.readAllStandardError();
                return errors.contains(fragment) || process.state() == QProcess::NotRunning;
            },
            20000);
        if (errors.contains(fragment))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "no \"" << fragment.toStdString() << "\"; log: " << errors.toStdString();
    }

    // The accessibility registry can take long to list a new application
    // while many tests run at once.
    ::testing::AssertionResult onTheBus()
    {
        if (waitUntil([&] { return (root = a11y.application(QStringLiteral("Velmora"))).has_value(); }, 30000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "Velmora " << (velmora->state() == QProcess::Running ? "runs" : "ended")
                                             << " but is not on the accessibility bus; log: " << log.toStdString();
    }

    static void expectEndedWithZero(QProcess &process, QByteArray &errors, int timeoutMs = 15000)
    {
        EXPECT_TRUE(process.waitForFinished(timeoutMs));
        errors += process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << errors.toStdString();
        EXPECT_EQ(process.exitCode(), 0) << errors.toStdString();
    }

    void terminateExpectingZero()
    {
        ::kill(pid_t(velmora->processId()), SIGTERM);
        expectEndedWithZero(*velmora, log);
    }

    // What an X tool run on the test's display printed, or nothing when it failed.
    std::optional<QByteArray> x(const QString &tool, const QStringList &arguments) const
    {
        QProcess process;
        process.setProcessEnvironment(childEnvironment());
        process.start(tool, arguments);
        if (!process.waitForFinished(5000) || process.exitCode() != 0)
            return std::nullopt;
        return process.readAllStandardOutput();
    }
    QByteArray xwininfo(const QStringList &arguments) const
    {
        return x(QStringLiteral("xwininfo"), arguments).value_or(QByteArray());
    }

    // An X tool's command line, split at spaces: what it printed, or "failed".
    QByteArray run(const QString &command) const
    {
        const QStringList words = command.split(QLatin1Char(' '));
        return x(words.first(), words.mid(1)).value_or("failed");
    }

    bool focus(const char *buttonName)
    {
        return waitUntil(
            [&] {
                const std::optional<AtSpiClient::Node> node = a11y.find(*root, button, QString::fromLatin1(buttonName));
                if (node)
                    a11y.call(*node, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GrabFocus"));
                return node && a11y.has(*node, AtSpiClient::State(12)); // focused
            },
            20000);
    }

    QString mainWindowId() const
    {
        for (const QByteArray &line : xwininfo({QStringLiteral("-root"), QStringLiteral("-tree")}).split('\n')) {
            if (line.contains("(\"velmora\" \"Velmora\")"))
                return QString::fromLatin1(line.trimmed().split(' ').first());
        }
        return {};
    }

    bool showsMainWindow() const
    {
        const QString id = mainWindowId();
        return !id.isEmpty() && xwininfo({QStringLiteral("-id"), id}).contains("Map State: IsViewable");
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

    // Sidebar rows and list rows offer no press of their own: click where the
    // accessibility bus says they are.
    bool clickWhenShown(const QString &name, const QString &role = {})
    {
        return waitUntil(
            [&] {
                const std::optional<AtSpiClient::Node> node =
                    role.isEmpty() ? a11y.findNamed(*root, name) : a11y.find(*root, role, name);
                const QRect box = node ? a11y.extents(*node) : QRect();
                return !box.isEmpty()
                       && x(QStringLiteral("xdotool"),
                            {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(box.center().x()),
                             QString::number(box.center().y()), QStringLiteral("click"), QStringLiteral("1")})
                              .has_value();
            },
            10000);
    }

    static void storeServices(std::initializer_list<std::pair<QString, QString>> stored, bool openInTerminal = false)
    {
        ServiceRepository services(AppFixture::dataFile(QStringLiteral("services.json")));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const auto &[name, command] : stored)
            await(services.saveService({QUuid::createUuid(), name, command, openInTerminal, std::nullopt, now, now}));
    }

    void startService(const QString &name, const QString &command, qsizetype runningAfter)
    {
        ASSERT_TRUE(clickWhenShown(name + QStringLiteral(", ") + command + QStringLiteral(", Stopped")))
            << name.toStdString();
        ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Start")));
        ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).size() == runningAfter; }, 10000))
            << name.toStdString();
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
};

bool loaded(const QProcess &process, const QByteArray &library)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(process.processId()));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

} // namespace

TEST_F(VelmoraBinaryTest, WindowAppearsASecondStartHandsOverAndSigtermQuitsCleanly)
{
    if (!has("xwininfo"))
        GTEST_SKIP() << "xwininfo is missing";
    velmora = start(onA11yBus);
    ASSERT_TRUE(logged(*velmora, log, "Velmora bootstrap complete — 0 services"));
    EXPECT_TRUE(waitUntil([&] { return showsMainWindow(); }, 10000));

    // File ▸ Close hides the main window and Velmora goes on running. There is
    // no window manager to make the window active: give it the focus directly.
    if (onA11yBus && has("xdotool")) {
        ASSERT_TRUE(
            x(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), mainWindowId()})
                .has_value());
        ASSERT_TRUE(onTheBus());
        ASSERT_TRUE(pressWhenShown(QStringLiteral("menu item"), QStringLiteral("Close")));
        EXPECT_TRUE(waitUntil([&] { return !showsMainWindow(); }, 10000));
        EXPECT_EQ(velmora->state(), QProcess::Running);
    }

    // A second start asks the first for its window and ends at once with 0.
    auto second = start();
    QByteArray secondLog;
    expectEndedWithZero(*second, secondLog);
    EXPECT_TRUE(waitUntil([&] { return showsMainWindow(); }, 10000));
    terminateExpectingZero();
}

// On a Wayland session without XWayland Velmora runs on Wayland itself; with
// XWayland (an X display next to the compositor) it prefers X, where the panel
// can sit under its icon; beside an X display that does not answer, even
// outside a Wayland session, Wayland. No X tool is needed to see its window.
TEST_F(VelmoraBinaryTest, OnAWaylandSessionItRunsOnWaylandOrOnXWaylandWhenThereAndEndsWithZero)
{
    WestonServer compositor;
    if (!compositor.start())
        GTEST_SKIP() << "no Wayland compositor to run on: " << compositor.error().toStdString();
    if (!onA11yBus)
        GTEST_SKIP() << "no accessibility bus on this session";
    // x11Display: none, or the one to use.
    for (const auto &[name, x11Display, sessionType, platformPlugin] :
         {std::tuple {"Wayland alone", static_cast<const char *>(nullptr), "wayland", "libqwayland"},
          std::tuple {"Wayland with XWayland", "", "wayland", "libqxcb"},
          std::tuple {"Wayland beside a stale X display", ":299", static_cast<const char *>(nullptr), "libqwayland"}}) {
        SCOPED_TRACE(name);
        QProcessEnvironment environment = childEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!x11Display)
            environment.remove(QStringLiteral("DISPLAY"));
        else if (*x11Display)
            environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(x11Display));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), compositor.waylandDisplay());
        environment.remove(QStringLiteral("XDG_SESSION_TYPE"));
        if (sessionType)
            environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QString::fromLatin1(sessionType));
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        velmora = launch(environment);
        log.clear();
        ASSERT_TRUE(logged(*velmora, log, "Velmora bootstrap complete — 0 services"));
        EXPECT_TRUE(loaded(*velmora, platformPlugin));
        ASSERT_TRUE(onTheBus());
        EXPECT_TRUE(waitUntil(
            [&] { return a11y.find(*root, QStringLiteral("frame"), QStringLiteral("Velmora")).has_value(); }, 10000));
        terminateExpectingZero();
    }
}

// Beside an X display that never answers, with no session bus: a bus autolaunched through that display would wait
// on it for ever. Velmora runs on Wayland, and nothing it started outlives it.
TEST_F(VelmoraBinaryTest, BesideASilentXDisplayWithoutASessionBusItRunsOnWaylandAndLeavesNothingBehind)
{
    WestonServer compositor;
    if (!compositor.start())
        GTEST_SKIP() << "no Wayland compositor to run on: " << compositor.error().toStdString();
    QTemporaryDir runtime; // no bus socket there; every process Velmora starts inherits its path
    QProcessEnvironment environment = childEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), compositor.waylandDisplay());
    const QByteArray mark = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtime.path()) + '\0';
    display.freeze();
    velmora = launch(environment);
    ASSERT_TRUE(logged(*velmora, log, "Velmora bootstrap complete — 0 services"));
    EXPECT_TRUE(loaded(*velmora, "libqwayland"));
    terminateExpectingZero();
    const QList<qint32> leftBehind = processesWhere([&](const QByteArray &stat, const QList<QByteArray> &fields) {
        QFile variables(QStringLiteral("/proc/%1/environ").arg(QString::fromLatin1(stat.left(stat.indexOf(' ')))));
        return fields[0] != "Z" && variables.open(QIODevice::ReadOnly) && variables.readAll().contains(mark);
    });
    EXPECT_TRUE(leftBehind.isEmpty()) << leftBehind.size() << " processes, the first " << leftBehind.value(0);
}

// What `gdbus introspect` and accessibility inspectors send: every property of
// an interface at once, and calls a careless client makes with arguments missing.
TEST_F(VelmoraBinaryTest, EveryPropertyAtOnceAndCallsWithMissingArgumentsAreAnsweredAndItRunsOn)
{
    startOnTheBus();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QList<AtSpiClient::Node> windows = a11y.children(*root);
    ASSERT_FALSE(windows.isEmpty());
    const AtSpiClient::Node &window = windows.first();
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
    const std::tuple<AtSpiClient::Node, QString, QString, QVariantList> missingArguments[] = {
        {*root, properties, QStringLiteral("GetAll"), {}},
        {window, properties, QStringLiteral("Get"), {accessible}},
        {window, properties, QStringLiteral("Set"), {accessible, QStringLiteral("Name")}},
        {window, accessible, QStringLiteral("GetChildAtIndex"), {}},
        {window, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"), {}},
    };
    for (const auto &[node, interface, member, arguments] : missingArguments) {
        const QDBusMessage reply = a11y.call(node, interface, member, arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << member.toStdString();
        EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"))
            << member.toStdString() << ": " << reply.errorMessage().toStdString();
    }

    EXPECT_EQ(a11y.name(window), windowProperties.value(QStringLiteral("Name")).toString());
    terminateExpectingZero();
}

// Two stored services started as a person would, the second with a grandchild
// in its process group.
struct VelmoraWithTwoRunningServices : VelmoraBinaryTest {
    QList<qint32> groups;

    void SetUp() override
    {
        VelmoraBinaryTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const QString worker = QStringLiteral("sleep 300 & sleep 300; wait");
        storeServices(
            {{QStringLiteral("api-server"), QStringLiteral("sleep 300")}, {QStringLiteral("worker"), worker}});
        startOnTheBus(true, "Velmora bootstrap complete — 2 services");
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(clickWhenShown(QStringLiteral("Services")));
        ASSERT_NO_FATAL_FAILURE(startService(QStringLiteral("api-server"), QStringLiteral("sleep 300"), 1));
        ASSERT_NO_FATAL_FAILURE(startService(QStringLiteral("worker"), worker, 2));
        // Each service leads its own process group.
        groups = childrenOf(velmora->processId());
        ASSERT_TRUE(
            waitUntil([&] { return childrenOf(groups.last()).size() + childrenOf(groups.first()).size() >= 2; }));
    }

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

// A screen reader, or a careless client, asks for children, rows, cells,
// offsets and values the object does not have, and for interfaces it lacks.
TEST_F(VelmoraWithTwoRunningServices, OutOfRangeAccessibilityCallsAreRefusedInRangeOnesAnsweredAndAFuzzLeavesItRunning)
{
    const auto atspi = [](const char *name) {
        const QString text = QString::fromLatin1(name);
        return text.startsWith(QLatin1String("org.")) ? text : QStringLiteral("org.a11y.atspi.") + text;
    };
    std::optional<AtSpiClient::Node> oneChild, list, field, readOnly, scrollBar;
    QList<AtSpiClient::Node> texts;
    for (const AtSpiClient::Node &node : a11y.tree(*root)) {
        const QString role = a11y.roleName(node);
        const QStringList interfaces =
            a11y.call(node, atspi("Accessible"), QStringLiteral("GetInterfaces")).arguments().value(0).toStringList();
        const auto pick = [&](std::optional<AtSpiClient::Node> &slot, bool fits) {
            slot = slot ? slot : fits ? node : slot;
        };
        pick(oneChild, !interfaces.contains(atspi("Table")) && a11y.children(node).size() == 1);
        pick(list, role == QStringLiteral("list") && interfaces.contains(atspi("Table")));
        const bool editable = role == QStringLiteral("text") && interfaces.contains(atspi("EditableText"));
        pick(field, editable && !a11y.has(node, AtSpiClient::State::readOnly));
        pick(readOnly, editable && a11y.has(node, AtSpiClient::State::readOnly));
        pick(scrollBar, role == QStringLiteral("scroll bar") && interfaces.contains(atspi("Value")));
        if (interfaces.contains(atspi("Text")))
            texts.append(node);
    }
    ASSERT_TRUE(oneChild && list && field && readOnly && scrollBar);
    ASSERT_TRUE(a11y.setText(*field, QStringLiteral("api")));

    const QVariant belowRange = QVariant::fromValue(QDBusVariant(-1.0));
    const struct {
        AtSpiClient::Node node;
        const char *interface;
        const char *member;
        QVariantList arguments;
        bool refused = true;
    } calls[] = {
        {*oneChild, "Accessible", "GetChildAtIndex", {1}},
        {*oneChild, "Accessible", "GetChildAtIndex", {2147483647}},
        {*list, "Table", "GetRowExtentAt", {1, 1}},
        {*list, "Table", "GetRowExtentAt", {-1, -1}},
        {*list, "Table", "GetColumnExtentAt", {1, 1}},
        {*list, "Table", "IsSelected", {1, 1}},
        {*list, "Table", "GetRowColumnExtentsAtIndex", {-1}},
        {*scrollBar, "Value", "SetCurrentValue", {-1.0}},
        {*scrollBar, "Value", "SetCurrentValue", {qQNaN()}},
        {*scrollBar,
         "org.freedesktop.DBus.Properties",
         "Set",
         {atspi("Value"), QStringLiteral("CurrentValue"), belowRange}},
        {*oneChild, "Table", "GetAccessibleAt", {0, 0}},
        {*oneChild, "org.freedesktop.DBus.Properties", "Get", {atspi("Table"), QStringLiteral("NRows")}},
        {*field, "EditableText", "InsertText", {4, QStringLiteral("x"), 1}},
        {*field, "EditableText", "InsertText", {0, QStringLiteral("x"), 100}},
        {*field, "EditableText", "InsertText", {-1, QStringLiteral("x"), -1}},
        {*field, "Text", "GetText", {0, 4}},
        {*readOnly, "EditableText", "SetTextContents", {QStringLiteral("x")}},
        // What a screen reader asks, inside the ranges.
        {*field, "Text", "GetText", {0, -1}, false},
        {*field, "Text", "GetCharacterAtOffset", {3}, false},
        {*oneChild, "Accessible", "GetChildAtIndex", {0}, false},
        {*list, "Table", "GetAccessibleAt", {0, 0}, false},
        {*scrollBar, "Value", "SetCurrentValue", {0.0}, false}, // a method, not only Properties.Set
        {*root, "org.freedesktop.DBus.Properties", "Get", {atspi("Application"), QStringLiteral("ToolkitName")}, false},
    };
    for (const auto &call : calls) {
        const QDBusMessage reply =
            a11y.call(call.node, atspi(call.interface), QString::fromLatin1(call.member), call.arguments);
        EXPECT_EQ(reply.errorName().toStdString(), call.refused ? "org.freedesktop.DBus.Error.InvalidArgs" : "")
            << call.member << ": " << reply.errorMessage().toStdString();
    }
    EXPECT_EQ(a11y.call(*field, atspi("Text"), QStringLiteral("GetText"), {0, -1}).arguments().value(0).toString(),
              QStringLiteral("api"));
    const AtSpiClient::Node gone {root->service, QStringLiteral("/org/a11y/atspi/accessible/4294967295")};
    EXPECT_EQ(a11y.call(gone, atspi("Accessible"), QStringLiteral("GetChildCount")).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));

    // Every method of the four objects with simple arguments, picked at random around the edges of the ranges.
    QList<std::tuple<AtSpiClient::Node, QString, QString, QString>> methods; // node, interface, member, signature
    for (const AtSpiClient::Node &node : {*root, *list, *field, *scrollBar}) {
        QXmlStreamReader xml(
            QStringLiteral("<node>")
            + a11y.call(node, atspi("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"))
                  .arguments()
                  .value(0)
                  .toString()
            + QStringLiteral("</node>"));
        QString interface;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto attribute = [&](const char *name) {
                return xml.attributes().value(QLatin1String(name)).toString();
            };
            if (xml.name() == QLatin1String("interface"))
                interface = attribute("name");
            else if (xml.name() == QLatin1String("method"))
                methods.append({node, interface, attribute("name"), {}});
            else if (xml.name() == QLatin1String("arg") && attribute("direction") != QLatin1String("out"))
                std::get<3>(methods.last()) += attribute("type");
        }
    }
    QRandomGenerator random(39);
    const int integers[] = {-2147483647 - 1, -2, -1, 0, 1, 2, 3, 4, 100, 2147483647};
    const double reals[] = {qQNaN(), qInf(), -1.0, 0.0, 0.5, 1.0, 1e9};
    QSet<QString> unanswered;
    int sent = 0;
    for (int round = 0; round < 600; ++round) {
        const auto &[node, interface, member, signature] = methods.at(random.bounded(int(methods.size())));
        QVariantList arguments;
        for (const QChar type : signature) {
            const int integer = integers[random.bounded(int(std::size(integers)))];
            if (type == QLatin1Char('i') || type == QLatin1Char('n') || type == QLatin1Char('u'))
                arguments.append(type == QLatin1Char('u') ? QVariant(uint(integer)) : QVariant(integer));
            else if (type == QLatin1Char('d'))
                arguments.append(reals[random.bounded(int(std::size(reals)))]);
            else if (type == QLatin1Char('s') || type == QLatin1Char('b'))
                arguments.append(type == QLatin1Char('b') ? QVariant(integer > 0)
                                                          : QVariant(QString(integer & 3, QLatin1Char('z'))));
        }
        const QString call = interface + QLatin1Char('.') + member;
        if (arguments.size() != signature.size() || unanswered.contains(call))
            continue;
        ++sent;
        const QDBusMessage reply = a11y.call(node, interface, member, arguments, 1000);
        ASSERT_EQ(velmora->state(), QProcess::Running)
            << call.toStdString() << QDebug::toString(arguments).toStdString();
        // A method the adaptor leaves unanswered is left out from then on, once the rest still answers.
        if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply")) {
            ASSERT_EQ(a11y.name(*root), QStringLiteral("Velmora")) << call.toStdString();
            unanswered.insert(call);
        }
    }
    EXPECT_GT(sent, 300);

    // What a screen reader asks around the caret, by every boundary at every offset, on every text object
    // holding a text that ends in a space, a full stop or a letter (or its own, where it takes none).
    for (const AtSpiClient::Node &node : texts)
        for (const QString &content :
             {QString(), QStringLiteral("Run IFS "), QStringLiteral(" Run IFS."), QStringLiteral("Run IFS")}) {
            if (!a11y.setText(node, content) && !content.isEmpty())
                continue;
            const int length = a11y.allProperties(node, atspi("Text")).value(QStringLiteral("CharacterCount")).toInt();
            for (const char *member :
                 {"GetTextAtOffset", "GetTextBeforeOffset", "GetTextAfterOffset", "GetStringAtOffset"})
                for (uint boundary = 0; boundary <= 6; ++boundary)
                    for (int offset = -1; offset <= length + 1; ++offset)
                        ASSERT_NE(a11y.call(node, atspi("Text"), QString::fromLatin1(member), {offset, boundary}, 2000)
                                      .errorName()
                                      .toStdString(),
                                  "org.freedesktop.DBus.Error.NoReply")
                            << member << '(' << offset << ", " << boundary << ") on \"" << content.toStdString() << '"';
        }
    EXPECT_TRUE(std::all_of(groups.cbegin(), groups.cend(), [](qint32 group) { return anyProcessInGroups({group}); }));
    ::kill(pid_t(velmora->processId()), SIGTERM);
    expectACleanEnd();
}

TEST_F(VelmoraBinaryTest, KilledMidOutputTheNextStartLoadsEveryStore)
{
    const QString flood = QStringLiteral("yes 'velmora flood line of output, sixty-four bytes long, more or less'");
    storeServices({{QStringLiteral("flood"), flood}});
    ServiceRunHistoryRepository history(AppFixture::dataFile(QStringLiteral("run-history.json")));
    const qsizetype runsBefore = await(history.load()).size();
    startOnTheBus(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(clickWhenShown(QStringLiteral("Services")));
    ASSERT_NO_FATAL_FAILURE(startService(QStringLiteral("flood"), flood, 1));
    const QList<qint32> groups = childrenOf(velmora->processId());
    const auto floodRuns = [&] {
        return !processesWhere([&](const QByteArray &text, const QList<QByteArray> &fields) {
                    return text.contains("(yes)") && fields[2].toInt() == groups.first();
                }).isEmpty();
    };
    ASSERT_TRUE(waitUntil(floodRuns, 20000));
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

    velmora = start(true);
    log.clear();
    EXPECT_TRUE(logged(*velmora, log));
    // The open run was never booked: only an ended run is written.
    EXPECT_EQ(await(history.load()).size(), runsBefore);
    terminateExpectingZero();
}

// Everything through the accessibility bus, as a screen reader user works:
// names, roles, presses, a row's select action, text entry and the selected
// state; no pointer.
TEST_F(VelmoraBinaryTest, AScreenReaderCreatesSelectsStartsAndStopsAServiceWithoutThePointer)
{
    storeServices({{QStringLiteral("Nightly job"), QStringLiteral("sleep 200")}});
    const QByteArray staging = QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    AppFixture::writeFile(
        AppFixture::dataFile(QStringLiteral("environments.json")),
        R"([{"clearPayload": {"variables": []}, "createdAt": "2026-01-01T00:00:00Z", "id": ")" + staging
            + R"(", "formatVersion": 1, "isProtected": false, "name": "Staging", "updatedAt": "2026-01-01T00:00:00Z"}])");
    startOnTheBus();
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Services")));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Create Service")));
    for (const auto &[field, text] : {std::pair {QStringLiteral("Name"), QStringLiteral("Web server")},
                                      std::pair {QStringLiteral("Shell Command"), QStringLiteral("sleep 300")}}) {
        EXPECT_TRUE(waitUntil(
            [&, &field = field, &text = text] {
                const std::optional<AtSpiClient::Node> node = a11y.find(*root, QStringLiteral("text"), field);
                return node && a11y.setText(*node, text);
            },
            10000))
            << field.toStdString();
    }
    // A profile picked from the combo box's list.
    const std::optional<AtSpiClient::Node> picker =
        a11y.find(*root, QStringLiteral("combo box"), QStringLiteral("Profile"));
    ASSERT_TRUE(picker && a11y.doAction(*picker, QStringLiteral("ShowMenu")));
    const std::optional<AtSpiClient::Node> item =
        a11y.find(*picker, QStringLiteral("list item"), QStringLiteral("Staging"));
    ASSERT_TRUE(item && a11y.doAction(*item, QStringLiteral("Toggle")));
    ASSERT_TRUE(a11y.doAction(*picker, QStringLiteral("ShowMenu")));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Save")));

    const auto selectedRow = [&](const char *state, const QString &row = QStringLiteral("Web server, sleep 300, ")) {
        return waitUntil(
            [&] {
                const auto node = a11y.findNamed(*root, row + QLatin1String(state));
                return node && a11y.has(*node, AtSpiClient::State::selected);
            },
            10000);
    };
    EXPECT_TRUE(selectedRow("Stopped"));
    QFile services(AppFixture::dataFile(QStringLiteral("services.json")));
    EXPECT_TRUE(services.open(QIODevice::ReadOnly) && services.readAll().contains(staging));

    // The other service, chosen through its row's action: Start starts it, not the one shown before.
    const auto toggleStopped = [&](const QString &row) {
        return waitUntil(
            [&] {
                const auto node = a11y.findNamed(*root, row + QStringLiteral("Stopped"));
                return node && a11y.doAction(*node, QStringLiteral("Toggle"));
            },
            10000);
    };
    const QString nightly = QStringLiteral("Nightly job, sleep 200, ");
    ASSERT_TRUE(toggleStopped(nightly));
    EXPECT_TRUE(selectedRow("Stopped", nightly));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Start")));
    ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).size() == 1; }, 10000));
    EXPECT_TRUE(selectedRow("Running", nightly));
    EXPECT_TRUE(a11y.findNamed(*root, QStringLiteral("Web server, sleep 300, Stopped")).has_value());
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Stop")));
    ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).isEmpty(); }, 10000));

    ASSERT_TRUE(toggleStopped(QStringLiteral("Web server, sleep 300, ")));
    EXPECT_TRUE(selectedRow("Stopped"));
    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Start")));
    ASSERT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).size() == 1; }, 10000));
    EXPECT_TRUE(selectedRow("Running"));

    // What a screen reader finds on the window: every button named, one
    // selected row, nothing announced that is not shown.
    int selectedRows = 0;
    for (const AtSpiClient::Node &node : a11y.tree(*root)) {
        if (!a11y.has(node, AtSpiClient::State::showing))
            continue;
        const QString name = a11y.name(node);
        const QString role = a11y.roleName(node);
        EXPECT_FALSE(role == button && name.isEmpty()) << "a button without a name at " << node.path.toStdString();
        selectedRows += role == QStringLiteral("list item") && a11y.has(node, AtSpiClient::State::selected);
        EXPECT_NE(name, QStringLiteral("Starting Velmora")) << "the splash spinner is gone";
    }
    EXPECT_EQ(selectedRows, 1);

    ASSERT_TRUE(pressWhenShown(button, QStringLiteral("Stop")));
    EXPECT_TRUE(waitUntil([&] { return childrenOf(velmora->processId()).isEmpty(); }, 10000));
    EXPECT_TRUE(selectedRow("Stopped"));
    terminateExpectingZero();
}

// Return and Space held 1.5 s on a machine kept busy (two busy loops a core), as X sends the repeats
// to a client that asks nothing: each hold acts once, read in the files the services write and in the processes.
TEST_F(VelmoraBinaryTest, AKeyHeldOnABusyMachineActsOnce)
{
    QTemporaryDir runs; // each start of a service adds a byte to its file there
    const QString risky = QStringLiteral("chmod 777 %1/risky; echo >> %1/risky; sleep 300").arg(runs.path());
    const QString api = QStringLiteral("echo >> %1/api; sleep 300").arg(runs.path());
    storeServices({{QStringLiteral("api"), api}, {QStringLiteral("risky"), risky}});
    startOnTheBus(true, "Velmora bootstrap complete — 2 services");
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(run(QStringLiteral("xset r rate 500 25")).isEmpty());
    ASSERT_TRUE(run(QStringLiteral("xset q")).contains("auto repeat:  on"));
    ASSERT_TRUE(run(QStringLiteral("xdotool windowfocus --sync ") + mainWindowId()).isEmpty());
    ASSERT_TRUE(clickWhenShown(QStringLiteral("Services")));
    const auto shown = [&](const char *name) {
        const std::optional<AtSpiClient::Node> node = a11y.find(*root, button, QString::fromLatin1(name));
        return node && a11y.has(*node, AtSpiClient::State::showing);
    };
    // Until `count` services run and the sheet the button held was on, if any, has closed.
    const auto settled = [&](qsizetype count, const char *onSheet) {
        return waitUntil(
            [&] { return childrenOf(velmora->processId()).size() == count && !(onSheet && shown(onSheet)); }, 20000);
    };
    // What is clicked first (which gives the window back the focus a closed sheet had), the button a key tap
    // reaches from there (one that opens a sheet), the button held, and the services then running.
    const std::tuple<QString, const char *, const char *, qsizetype> holds[] {
        {QStringLiteral("risky, %1, Stopped").arg(risky), "Start", "Cancel", 0},
        {QStringLiteral("api, %1, Stopped").arg(api), "Edit", "Save", 0},
        {QStringLiteral("Services"), nullptr, "Start", 1},
        {{}, nullptr, "Stop", 0}};
    for (const QString &key : {QStringLiteral("Return"), QStringLiteral("space")})
        for (const auto &[clicked, tapped, held, running] : holds) {
            SCOPED_TRACE(key.toStdString() + " held on " + held);
            ASSERT_TRUE(clicked.isEmpty() || clickWhenShown(clicked));
            ASSERT_TRUE(!tapped || (focus(tapped) && run(QStringLiteral("xdotool key ") + key).isEmpty()));
            ASSERT_TRUE(focus(held));
            QProcess busy; // its loops end with it, or with the test
            busy.start(QStringLiteral("sh"),
                       {QStringLiteral("-c"),
                        QStringLiteral(
                            "for i in $(seq $(($(nproc) * 2))); do while kill -0 $$ $PPID; do :; done & done; wait")});
            EXPECT_TRUE(run(QStringLiteral("xdotool keydown ") + key).isEmpty());
            QTest::qWait(1500);
            EXPECT_TRUE(run(QStringLiteral("xdotool keyup ") + key).isEmpty());
            EXPECT_TRUE(settled(running, tapped ? held : nullptr));
        }
    // Start ran its service once a key; the review's Cancel ran nothing.
    EXPECT_EQ(QFileInfo(runs.filePath(QStringLiteral("api"))).size(), 2);
    EXPECT_EQ(QFileInfo(runs.filePath(QStringLiteral("risky"))).size(), 0);
    terminateExpectingZero();
}

// Return on Start of a service opened in a terminal that takes the focus and gives it back within a moment: a key
// let go of in the terminal is up again here, so the next press starts the service; a key held all along only repeats.
TEST_F(VelmoraBinaryTest, ReturnHeldWhileATerminalTakesTheFocusAndGivesItBackStartsItsServiceOnce)
{
    if (!has("xmessage"))
        GTEST_SKIP() << "xmessage is missing";
    QTemporaryDir folder;
    const QString runs = folder.filePath(QStringLiteral("runs")); // a line each run
    const QString terminal = folder.filePath(QStringLiteral("terminal"));
    // Called as `terminal -e script`; it gives the focus back as a window manager would when its window closes.
    AppFixture::writeFile(terminal, "#!/bin/sh\n"
                                    "away=$(xdotool getwindowfocus)\n"
                                    "xmessage -name terminal$$ terminal & window=$!\n"
                                    "xdotool search --sync --onlyvisible --classname terminal$$ windowfocus --sync\n"
                                    "\"$2\"; sleep 0.3; xdotool windowfocus --sync \"$away\"; kill $window\n");
    ASSERT_TRUE(QFile::setPermissions(terminal, QFile::ReadOwner | QFile::ExeOwner));
    environmentOverrides.insert(QStringLiteral("TERMINAL"), terminal);
    const QString command = QStringLiteral("echo RAN >> %1; sleep 0.2").arg(runs);
    storeServices({{QStringLiteral("quick"), command}}, true);
    startOnTheBus(true, "Velmora bootstrap complete — 1 services");
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(run(QStringLiteral("xset r rate 660 25")).isEmpty());
    const QString window = mainWindowId();
    ASSERT_TRUE(run(QStringLiteral("xdotool windowfocus --sync ") + window).isEmpty());
    ASSERT_TRUE(clickWhenShown(QStringLiteral("Services")));
    ASSERT_TRUE(clickWhenShown(QStringLiteral("quick, %1, Stopped").arg(command)));
    ASSERT_TRUE(focus("Start"));
    const auto onMainWindow = [&] { // xwininfo writes its id in hexadecimal, xdotool in decimal
        return run(QStringLiteral("xdotool getwindowfocus")).trimmed().toUInt() == window.toUInt(nullptr, 16);
    };
    const auto runCount = [&] {
        QFile file(runs);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    };
    // The first press is let go of while the terminal has the focus; each later one is held 1.5 s.
    for (qsizetype press = 1; press <= 4; ++press) {
        SCOPED_TRACE(press);
        EXPECT_TRUE(run(QStringLiteral("xdotool keydown Return")).isEmpty());
        if (press == 1)
            EXPECT_TRUE(waitUntil([&] { return !onMainWindow(); }, 20000));
        else
            QTest::qWait(1500);
        EXPECT_TRUE(run(QStringLiteral("xdotool keyup Return")).isEmpty());
        // Until its run is written and its terminal has closed, the focus back on the main window.
        ASSERT_TRUE(waitUntil(
            [&] { return runCount() >= press && childrenOf(velmora->processId()).isEmpty() && onMainWindow(); },
            20000));
        EXPECT_EQ(runCount(), press);
    }
    terminateExpectingZero();
    EXPECT_EQ(runCount(), 4);
}

TEST_F(VelmoraBinaryTest, AHeldOrForeignDataFolderIsReportedAndNothingElseStarts)
{
    // Held by another process, with no session bus to hand over through.
    QTemporaryDir runtime;
    QProcessEnvironment environment = childEnvironment();
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()); // no bus socket there either
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const DataFolderLock held(applicationSupportDirectory());
    ASSERT_TRUE(held.isHeld());
    QList<std::pair<QProcessEnvironment, QByteArray>> cases {
        {environment, "velmora: Velmora's data folder “" + applicationSupportDirectory().toUtf8()
                          + "” is in use: another process holds its lock file, velmora.lock"}};
    // Another user's, with a services file planted in it.
    QTemporaryDir foreignData;
    if (::geteuid() == 0) {
        const QString folder = foreignData.filePath(QStringLiteral("com.tolvenix.Velmora"));
        ASSERT_TRUE(QDir().mkdir(folder));
        ASSERT_NO_FATAL_FAILURE(AppFixture::writeFile(folder + QStringLiteral("/services.json"), "[]"));
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        QProcessEnvironment foreign = environment;
        foreign.insert(QStringLiteral("XDG_DATA_HOME"), foreignData.path());
        cases.append({foreign, "velmora: Velmora's data folder “" + folder.toUtf8() + "” belongs to another user"});
    }
    for (const auto &[startEnvironment, report] : cases) {
        velmora = launch(startEnvironment);
        QByteArray errors;
        EXPECT_TRUE(logged(*velmora, errors, report));
        EXPECT_FALSE(errors.contains("bootstrap complete"));
        velmora.reset();
    }
}

// A data folder that cannot be made or whose lock file cannot be opened, and
// no display or a silent one: one line each, naming the folder or the display and the
// reason, or asking for a graphical session. An offscreen start needs none and asks none.
TEST_F(VelmoraBinaryTest, AnUnusableDataFolderOrNoDisplayIsReportedAndNothingElseStarts)
{
    QTemporaryDir homes;
    ASSERT_NO_FATAL_FAILURE(AppFixture::writeFile(homes.filePath(QStringLiteral("a-file")), "x"));
    ASSERT_TRUE(QDir().mkpath(homes.filePath(QStringLiteral("share/com.tolvenix.Velmora/velmora.lock"))));
    for (const auto &[home, report] :
         {std::pair {"a-file/share", "data folder “%1/com.tolvenix.Velmora” couldn’t be made: Not a directory"},
          std::pair {"share", "lock file “%1/com.tolvenix.Velmora/velmora.lock” can’t be used: it is a folder"}}) {
        const QString folder = homes.filePath(QString::fromLatin1(home));
        QProcessEnvironment environment = childEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), folder);
        velmora = launch(environment);
        QByteArray errors;
        EXPECT_TRUE(
            logged(*velmora, errors, "velmora: Velmora's " + QString::fromUtf8(report).arg(folder).toUtf8() + "\n"));
        EXPECT_FALSE(errors.contains("bootstrap complete"));
    }

    QProcessEnvironment environment = childEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    display.freeze(); // which then takes connections and never answers
    const QByteArray silent = display.display();
    for (const auto &[x11Display, report] :
         {std::pair {"", "velmora: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"},
          std::pair {":299", "velmora: Velmora can’t open a window: the X display “:299” (DISPLAY) doesn’t answer: "
                             "no X server listens there.\n"},
          std::pair {silent.constData(), "velmora: Velmora can’t open a window: the X display “%1” (DISPLAY) "
                                         "doesn’t answer: it said nothing for 5 s.\n"}}) {
        if (*x11Display)
            environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(x11Display));
        velmora = launch(environment);
        ASSERT_TRUE(velmora->waitForFinished(30000)); // it gives up after 5 s
        EXPECT_EQ(velmora->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(velmora->exitCode(), 1);
        EXPECT_EQ(velmora->readAllStandardError(), QByteArray(report).replace("%1", x11Display));
    }
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    velmora = launch(environment);
    ASSERT_TRUE(logged(*velmora, log));
    terminateExpectingZero();
}
