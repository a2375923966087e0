#pragma once

#include "platform/ForegroundSudo.h"
#include "platform/SensitiveBytes.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class RunningProcessHandle;

// Watches a child's output for its sudo prompt and gives the one reply: the
// password the first time, a single Ctrl-D the next time (after a wrong
// password, say), nothing after that. A prompt counts only while the set-uid
// sudo that was launched with it asks on the child's terminal: the same text
// from anything else (a start-up file, the command after a sudo that did not
// ask, another program named sudo) gets nothing. The password is forgotten,
// and its memory overwritten, once sent, once cleared, once the sudo it was
// meant for has ended, or when the responder goes.
class SudoPasswordResponder : public std::enable_shared_from_this<SudoPasswordResponder> {
public:
    // How long after the launch the password may still be sent.
    static constexpr std::chrono::seconds passwordLifetime {15};

    // None unless both the password (UTF-8) and the prompt are present and not empty.
    static std::shared_ptr<SudoPasswordResponder>
    make(QByteArrayView password, const std::optional<QString> &expectedPrompt,
         ForegroundSudo::SetUidCheck isSetUidSudo = ForegroundSudo::systemSetUidCheck());
    ~SudoPasswordResponder();
    SudoPasswordResponder(const SudoPasswordResponder &) = delete;
    SudoPasswordResponder &operator=(const SudoPasswordResponder &) = delete;

    // The sudo asking on the child's terminal right now, if any.
    using AskingSudo = std::function<std::optional<ProcessIdentity>()>;
    // Whether a process seen earlier still runs.
    using StillRunning = std::function<bool(const ProcessIdentity &)>;

    // The reply to write to the child's terminal for one chunk of its output,
    // or none: the password line or Ctrl-D, as bytes wiped when dropped.
    // `askingSudo` is asked only when the chunk completes the prompt.
    std::optional<SensitiveBytes> response(const QString &chunk, const AskingSudo &askingSudo,
                                           const StillRunning &stillRunning);
    // Forgets the password; a later prompt gets Ctrl-D.
    void clearPassword();
    // Clears the password `after` from now, on the main thread's event loop,
    // unless the responder is gone by then.
    void scheduleClearPassword(std::chrono::milliseconds after = passwordLifetime);

    // Feeds one chunk of the handle's output and writes the reply, if any, into
    // its terminal; a reply that cannot be written is dropped.
    void respond(const QString &chunk, const RunningProcessHandle &handle);

private:
    SudoPasswordResponder(QByteArrayView password, const QString &expectedPrompt,
                          ForegroundSudo::SetUidCheck isSetUidSudo);
    void closeLocked();

    mutable std::mutex m_lock;
    const QString m_expectedPrompt;
    std::optional<SensitiveBytes> m_passwordLine; // UTF-8, with its line feed
    bool m_didSendEOF = false;
    QString m_recentOutput;
    const ForegroundSudo::SetUidCheck m_isSetUidSudo;
    // The sudo that was answered; once it ends nothing more is sent.
    std::optional<ProcessIdentity> m_answeredSudo;
};
