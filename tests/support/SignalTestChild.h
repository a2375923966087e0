#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A small child for tests that watch what signals do to a service's
// processes: the test program itself, started again in a child mode. It
// prints "pid:<its pid>", ignores the named signals, starts `descendants`
// processes that print "descendant:<pid>" and ignore the same signals (each
// in a process group of its own on request), and then every one of them waits
// without polling until a signal ends it; SIGUSR1 ends each one (the test's
// command to exit) unless it is among the ignored.
namespace SignalTestChild {

struct Options {
    QStringList ignoredSignals; // names without "SIG": "TERM", "INT", "HUP"
    int descendants = 0;
    bool descendantsInOwnGroup = false;
};

// A shell command line that runs the child with these options.
QString command(const Options &options);

// The ids the child printed under `label` ("pid" or "descendant").
QList<qint32> printedPids(const QString &output, const QString &label);

// Ends every one of the given processes that does not ignore SIGUSR1.
void release(const QList<qint32> &pids);

} // namespace SignalTestChild
