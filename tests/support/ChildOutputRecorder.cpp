#include "support/ChildOutputRecorder.h"

#include "support/Await.h"

#include <QDir>
#include <QFile>

ChildOutputRecorder::ChildOutputRecorder(const std::shared_ptr<RunningProcessHandle> &handle)
{
    std::weak_ptr<State> weak = m_state;
    handle->setOutputHandler([weak](const QString &text, bool skipped) {
        if (const auto state = weak.lock()) {
            if (skipped)
                state->text.clear();
            state->text += text;
            state->skipped = state->skipped || skipped;
            ++state->handOvers;
            state->outputAfterExit = state->outputAfterExit || state->exit.has_value();
        }
    });
    handle->setExitHandler([weak](ProcessExitStatus status) {
        if (const auto state = weak.lock())
            state->exit = status;
    });
}

bool ChildOutputRecorder::waitForExit(int timeoutMs) const
{
    return waitUntil([this] { return m_state->exit.has_value(); }, timeoutMs);
}

bool ChildOutputRecorder::waitForOutput(const QString &fragment, int timeoutMs) const
{
    return waitUntil([&] { return m_state->text.contains(fragment); }, timeoutMs);
}

namespace ChildProcessProbe {

QStringList openDescriptors(pid_t pid)
{
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    QStringList result;
    const QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        result.append(name + QStringLiteral(" -> ") + QFile::symLinkTarget(folder + QLatin1Char('/') + name));
    return result;
}

QStringList statFields(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    const qsizetype close = text.lastIndexOf(QLatin1Char(')'));
    if (close < 0)
        return {};
    return text.mid(close + 2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString statusValue(pid_t pid, const QString &name)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(name + QLatin1Char(':')))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

bool isAlive(pid_t pid)
{
    const QStringList fields = statFields(pid);
    return !fields.isEmpty() && fields.front() != QStringLiteral("Z");
}

void writeExecutable(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(text);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace ChildProcessProbe
