#include "execution/SudoPasswordResponder.h"

#include "execution/RunningProcessHandle.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

std::shared_ptr<SudoPasswordResponder> SudoPasswordResponder::make(QByteArrayView password,
                                                                   const std::optional<QString> &expectedPrompt,
                                                                   const QString &wrapperCommandLine,
                                                                   WrapperSudo::SetUidCheck isSetUidSudo)
{
    if (password.isEmpty() || !expectedPrompt || expectedPrompt->isEmpty())
        return nullptr;
    return std::shared_ptr<SudoPasswordResponder>(
        new SudoPasswordResponder(password, *expectedPrompt, wrapperCommandLine, std::move(isSetUidSudo)));
}

SudoPasswordResponder::SudoPasswordResponder(QByteArrayView password, const QString &expectedPrompt,
                                             const QString &wrapperCommandLine, WrapperSudo::SetUidCheck isSetUidSudo)
    : m_expectedPrompt(expectedPrompt),
      m_passwordLine(SensitiveBytes::joined({password, QByteArrayView("\n", 1)})),
      m_wrapperCommandLine(wrapperCommandLine),
      m_isSetUidSudo(std::move(isSetUidSudo))
{}

SudoPasswordResponder::~SudoPasswordResponder() = default;

namespace {

const QString hiddenSudoNote =
    QStringLiteral("\r\n[Velmora did not give the sudo password: the system hides sudo's process from Velmora (as "
                   "/proc's hidepid option does), so it cannot tell sudo from another program asking.]\r\n");

} // namespace

SudoPasswordResponder::Reply SudoPasswordResponder::response(const QString &chunk, const LookUp &lookUp)
{
    if (chunk.isEmpty())
        return {};
    std::lock_guard lock(m_lock);
    if (m_didSendEOF)
        return {};
    // Looked at before the chunk counts: output the login shell made may
    // already show the prompt, and is none of the wrapper's sudo.
    const WrapperSudo::Lookup wrapper = lookUp();
    if (!wrapper.wrapperRunning) {
        closeLocked();
        return {};
    }
    m_recentOutput.append(chunk);
    // A prompt split across chunks is still found, while the window stays small.
    const qsizetype keep = std::max<qsizetype>(512, 2 * m_expectedPrompt.size());
    if (m_recentOutput.size() > keep)
        m_recentOutput = m_recentOutput.right(keep);
    if (!m_recentOutput.contains(m_expectedPrompt))
        return {};
    m_recentOutput.clear();
    if (!wrapper.sudo && wrapper.sudoHidden && !m_answeredSudo) {
        closeLocked();
        return {SensitiveBytes(QByteArrayView("\x04", 1)), hiddenSudoNote};
    }
    if (!wrapper.sudo || (m_answeredSudo && *wrapper.sudo != *m_answeredSudo))
        return {};
    m_answeredSudo = wrapper.sudo;
    if (m_passwordLine) {
        std::optional<SensitiveBytes> reply = std::move(m_passwordLine);
        m_passwordLine.reset();
        return {std::move(reply), {}};
    }
    m_didSendEOF = true;
    return {SensitiveBytes(QByteArrayView("\x04", 1)), {}};
}

// The wrapper has moved on: a later prompt is not its sudo's, so it gets
// neither the password nor Ctrl-D.
void SudoPasswordResponder::closeLocked()
{
    m_passwordLine.reset();
    m_recentOutput.clear();
    m_didSendEOF = true;
}

void SudoPasswordResponder::clearPassword()
{
    std::lock_guard lock(m_lock);
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
    const Reply reply = response(chunk, [&] {
        return WrapperSudo::find(handle.processIdentifier(), m_wrapperCommandLine, m_isSetUidSudo,
                                 ProcFileSystem::system());
    });
    if (!reply.note.isEmpty())
        handle.appendNote(reply.note);
    if (reply.input && !reply.input->isEmpty())
        handle.writeToTerminal(reply.input->view());
}
