#include "support/LogCapture.h"

#include <QMutex>

namespace {
QMutex captureMutex;
QStringList captured;

void capture(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    QMutexLocker lock(&captureMutex);
    captured.append(QString::fromUtf8(context.category ? context.category : "default") + QStringLiteral(": ")
                    + message);
}
} // namespace

LogCapture::LogCapture()
    : m_previous(qInstallMessageHandler(capture))
{
    clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

bool LogCapture::contains(const QString &fragment) const
{
    const QStringList all = messages();
    return std::any_of(all.begin(), all.end(), [&](const QString &m) { return m.contains(fragment); });
}

void LogCapture::clear()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
}
