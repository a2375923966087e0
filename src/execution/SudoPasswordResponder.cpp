#include "execution/SudoPasswordResponder.h"

#include "execution/RunningProcessHandle.h"
#include "platform/SecureMemory.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

std::shared_ptr<SudoPasswordResponder> SudoPasswordResponder::make(const std::optional<QString> &password,
                                                                   const std::optional<QString> &expectedPrompt)
{
    if (!password || password->isEmpty() || !expectedPrompt || expectedPrompt->isEmpty())
        return nullptr;
    return std::shared_ptr<SudoPasswordResponder>(new SudoPasswordResponder(*password, *expectedPrompt));
}

SudoPasswordResponder::SudoPasswordResponder(const QString &password, const QString &expectedPrompt)
    : m_expectedPrompt(expectedPrompt)
{
    // A buffer of our own, so wiping it touches no one else's copy.
    QString line;
    line.reserve(password.size() + 1);
    line.append(password);
    line.append(QLatin1Char('\n'));
    m_passwordLine = std::move(line);
}

SudoPasswordResponder::~SudoPasswordResponder()
{
    if (m_passwordLine)
        SecureMemory::wipe(*m_passwordLine);
}

std::optional<QString> SudoPasswordResponder::response(const QString &chunk)
{
    if (chunk.isEmpty())
        return std::nullopt;
    std::lock_guard lock(m_lock);
    m_recentOutput.append(chunk);
    // A prompt split across chunks is still found, while the window stays small.
    const qsizetype keep = std::max<qsizetype>(512, 2 * m_expectedPrompt.size());
    if (m_recentOutput.size() > keep)
        m_recentOutput = m_recentOutput.right(keep);
    if (!m_recentOutput.contains(m_expectedPrompt))
        return std::nullopt;
    m_recentOutput.clear();
    if (m_passwordLine) {
        std::optional<QString> reply = std::move(m_passwordLine);
        m_passwordLine.reset();
        return reply;
    }
    if (!m_didSendEOF) {
        m_didSendEOF = true;
        return QString(QChar(0x0004));
    }
    return std::nullopt;
}

void SudoPasswordResponder::clearPassword()
{
    std::lock_guard lock(m_lock);
    if (m_passwordLine)
        SecureMemory::wipe(*m_passwordLine);
    m_passwordLine.reset();
    m_recentOutput.clear();
}

void SudoPasswordResponder::scheduleClearPassword(std::chrono::milliseconds after)
{
    QTimer::singleShot(after, QCoreApplication::instance(), [weak = weak_from_this()] {
        if (const auto responder = weak.lock())
            responder->clearPassword();
    });
}

void SudoPasswordResponder::respond(const QString &chunk, const RunningProcessHandle &handle)
{
    std::optional<QString> reply = response(chunk);
    if (!reply || reply->isEmpty())
        return;
    QByteArray bytes = reply->toUtf8();
    handle.writeToTerminal(bytes);
    SecureMemory::wipe(bytes);
    SecureMemory::wipe(*reply);
}
