#include "records/ManagedService.h"
#include "ui/components/SearchRelevance.h"
#include "ui/screens/services/ServiceEditorMode.h"
#include "ui/screens/services/ServiceFilter.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ShellPathInsertion.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

ManagedService service(const char *name, const char *command = "true")
{
    return ManagedService {
        QUuid::createUuid(), QString::fromUtf8(name), QString::fromUtf8(command), false, std::nullopt, {}, {}};
}

QStringList names(const QList<ManagedService> &services)
{
    QStringList result;
    for (const ManagedService &each : services)
        result.append(each.name);
    return result;
}

// Scores by a table, so that the order rule can be seen apart from the ranking.
std::optional<int> tableScore(const QString &, const QString &name)
{
    static const QHash<QString, int> scores {{QStringLiteral("Alpha"), 800},
                                             {QStringLiteral("beta"), 900},
                                             {QStringLiteral("gamma"), 800},
                                             {QStringLiteral("ALPHA"), 800}};
    if (!scores.contains(name))
        return std::nullopt;
    return scores.value(name);
}

} // namespace

TEST(ServicesListOrder, FiltersByRuntimeStateAndSortsByNameOrScore)
{
    const ManagedService never = service("never");
    const ManagedService up = service("Up");
    const ManagedService hung = service("hung");
    QHash<QUuid, ServiceRuntimeInfo> runtime;
    runtime.insert(up.id, {up.id, ServiceLifecycleState::running, 42, 0, 0, {}, {}});
    runtime.insert(hung.id, {hung.id, ServiceLifecycleState::notResponding, 43, 0, 0, {}, {}});
    const QList<ManagedService> all {never, up, hung};

    struct Case {
        ServiceFilter filter;
        const char *search;
        QStringList expected;
    };
    const Case cases[] = {
        {ServiceFilter::all, "", {QStringLiteral("hung"), QStringLiteral("never"), QStringLiteral("Up")}},
        // No runtime entry counts as stopped; not responding is not running.
        {ServiceFilter::running, "", {QStringLiteral("Up")}},
        {ServiceFilter::stopped, "", {QStringLiteral("hung"), QStringLiteral("never")}},
        // A blank search is still a search: everything scores 0, ordered by name.
        {ServiceFilter::all, "   ", {QStringLiteral("hung"), QStringLiteral("never"), QStringLiteral("Up")}},
        {ServiceFilter::all, "u", {QStringLiteral("Up"), QStringLiteral("hung")}},
        // Only the name is searched, never the command.
        {ServiceFilter::all, "true", {}},
    };
    for (const Case &each : cases) {
        EXPECT_EQ(names(ServicesController::visibleServices(all, runtime, each.filter, QString::fromUtf8(each.search),
                                                            searchRelevanceScore)),
                  each.expected)
            << qPrintable(rawValue(each.filter)) << " / '" << each.search << "'";
    }
}

TEST(ServicesListOrder, HigherScoreFirstThenNameAndEqualNamesKeepTheManagersOrder)
{
    const ManagedService lowerAlpha = service("Alpha", "first");
    const ManagedService beta = service("beta");
    const ManagedService gamma = service("gamma");
    const ManagedService upperAlpha = service("ALPHA", "second");
    const ManagedService delta = service("delta");
    const QList<ManagedService> all {gamma, lowerAlpha, delta, beta, upperAlpha};

    const QList<ManagedService> searched =
        ServicesController::visibleServices(all, {}, ServiceFilter::all, QStringLiteral("a"), tableScore);
    EXPECT_EQ(names(searched), (QStringList {QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("ALPHA"),
                                             QStringLiteral("gamma")}));
    const QList<ManagedService> sorted =
        ServicesController::visibleServices({upperAlpha, gamma, lowerAlpha}, {}, ServiceFilter::all, {}, tableScore);
    EXPECT_EQ(sorted.first().command, QStringLiteral("second"));
    EXPECT_EQ(sorted.at(1).command, QStringLiteral("first"));
}

TEST(ServicesListOrder, FilterParsesOnlyItsExactRawValues)
{
    EXPECT_EQ(serviceFilterFromRawValue(QStringLiteral("all")), ServiceFilter::all);
    EXPECT_EQ(serviceFilterFromRawValue(QStringLiteral("running")), ServiceFilter::running);
    EXPECT_EQ(serviceFilterFromRawValue(QStringLiteral("stopped")), ServiceFilter::stopped);
    for (const char *other : {"Running", "All", "", " all", "STOPPED"})
        EXPECT_FALSE(serviceFilterFromRawValue(QString::fromUtf8(other))) << other;
    EXPECT_EQ(segmentLabel(ServiceFilter::running), QStringLiteral("Running"));
}

TEST(ServiceEditorMode, IdNamesTheCreateSheetOrTheEditedService)
{
    const QUuid id = QUuid::createUuid();
    const QString upper = id.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(ServiceEditorMode::create().id(), QStringLiteral("create"));
    EXPECT_EQ(ServiceEditorMode::edit(ManagedService {id, {}, {}, false, {}, {}, {}}).id(), upper);
}

TEST(ShellPathInsertion, EscapesOutsideTheSafeSetAndJoinsToTheCommand)
{
    using ShellPathInsertion::insertPathIntoCommand;
    struct Case {
        QString path;
        QString command;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("/Users/me/My Project"), QString(), QStringLiteral("/Users/me/My\\ Project")},
        {QStringLiteral("/tmp/a b"), QStringLiteral("ls"), QStringLiteral("ls /tmp/a\\ b")},
        {QStringLiteral("/tmp/x"), QStringLiteral("ls "), QStringLiteral("ls /tmp/x")},
        {QStringLiteral("/tmp/x"), QStringLiteral("cat\n"), QStringLiteral("cat\n/tmp/x")},
        {QStringLiteral("/tmp/x"), QStringLiteral(" \n\t"), QStringLiteral("/tmp/x")},
        {QStringLiteral("a(b'c~d*e$f&g"), QString(), QStringLiteral("a\\(b\\'c\\~d\\*e\\$f\\&g")},
        {QStringLiteral("/a_b-c+d@e%f:g=h,i.J9"), QString(), QStringLiteral("/a_b-c+d@e%f:g=h,i.J9")},
        {QStringLiteral("caf\u00e9"), QString(), QStringLiteral("caf\\\u00e9")},
        // One backslash before a character outside the Basic Multilingual Plane.
        {QStringLiteral("x\U0001F600"), QString(), QStringLiteral("x\\\U0001F600")},
        {QStringLiteral("a\nb"), QString(), QStringLiteral("a'\n'b")},
    };
    for (const Case &each : cases)
        EXPECT_EQ(insertPathIntoCommand(each.path, each.command), each.expected) << qPrintable(each.path);
}

TEST(ShellPathInsertion, TheShellReadsEveryEscapedPathBackUnchanged)
{
    for (const QString &path :
         {QStringLiteral("/tmp/line\nfeed"), QStringLiteral("/tmp/it's a (test) $HOME & *"),
          QStringLiteral("/tmp/\u00e9t\u00e9 \U0001F600"), QStringLiteral("/tmp/tab\there\\back")}) {
        QProcess shell;
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("printf %s ") + ShellPathInsertion::shellEscapedPath(path)});
        ASSERT_TRUE(shell.waitForFinished(5000));
        EXPECT_EQ(QString::fromUtf8(shell.readAllStandardOutput()), path);
    }
}
