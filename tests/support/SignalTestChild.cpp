#include "support/SignalTestChild.h"

#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

constexpr char modeVariable[] = "VELMORA_SIGNAL_TEST_CHILD";

int signalNumber(const std::string &name)
{
    static const std::pair<const char *, int> known[] = {{"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT},
                                                         {"TERM", SIGTERM}, {"USR1", SIGUSR1}, {"USR2", SIGUSR2}};
    for (const auto &[text, number] : known) {
        if (name == text)
            return number;
    }
    return 0;
}

void say(const char *label)
{
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%s:%d\n", label, int(::getpid()));
    (void)!::write(STDOUT_FILENO, line, size_t(length));
}

[[noreturn]] void waitForAnEndingSignal()
{
    for (;;)
        ::pause();
}

// The child mode, run before main() when the variable is set: the options
// come as "ignore=TERM,INT;descendants=2;own-group=1".
[[noreturn]] void runChild(const std::string &options)
{
    int descendants = 0;
    bool ownGroup = false;
    size_t start = 0;
    while (start <= options.size()) {
        const size_t end = std::min(options.find(';', start), options.size());
        const std::string item = options.substr(start, end - start);
        const size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
        if (key == "ignore") {
            size_t from = 0;
            while (from <= value.size()) {
                const size_t comma = std::min(value.find(',', from), value.size());
                if (const int number = signalNumber(value.substr(from, comma - from)))
                    std::signal(number, SIG_IGN);
                from = comma + 1;
            }
        } else if (key == "descendants") {
            descendants = std::atoi(value.c_str());
        } else if (key == "own-group") {
            ownGroup = value == "1";
        }
        start = end + 1;
    }
    say("pid");
    for (int index = 0; index < descendants; ++index) {
        if (::fork() == 0) {
            if (ownGroup)
                ::setpgid(0, 0);
            say("descendant");
            waitForAnEndingSignal();
        }
    }
    waitForAnEndingSignal();
}

// Runs before main() in every test program that links this file.
[[maybe_unused]] const bool childModeChecked = [] {
    if (const char *options = std::getenv(modeVariable))
        runChild(options);
    return true;
}();

QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

namespace SignalTestChild {

QString command(const Options &options)
{
    const QString encoded = QStringLiteral("ignore=%1;descendants=%2;own-group=%3")
                                .arg(options.ignoredSignals.join(QLatin1Char(',')))
                                .arg(options.descendants)
                                .arg(options.descendantsInOwnGroup ? 1 : 0);
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QStringLiteral("%1=%2 exec %3").arg(QLatin1String(modeVariable), shellQuoted(encoded), shellQuoted(program));
}

QList<qint32> printedPids(const QString &output, const QString &label)
{
    QList<qint32> pids;
    const QRegularExpression pattern(QStringLiteral("(?:^|\\n)%1:(\\d+)").arg(QRegularExpression::escape(label)));
    for (auto match = pattern.globalMatch(output); match.hasNext();)
        pids.append(match.next().captured(1).toInt());
    return pids;
}

void release(const QList<qint32> &pids)
{
    for (const qint32 pid : pids)
        ::kill(pid, SIGUSR1);
}

} // namespace SignalTestChild
