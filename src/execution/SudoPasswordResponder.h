#pragma once

#include "platform/WrapperSudo.h"
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
// password, say), nothing after that. A prompt counts only while the sudo the
// wrapper started asks: the same text from anything else (a start-up file, the
// command, another program named sudo) gets nothing. Once the wrapper has made
// way for the command's login shell, or ended, nothing is sent any more,
// whether or not its sudo ever asked. Where the system hides the wrapper's
// sudo from the responder, its prompt gets Ctrl-D and the run's output a line
// that says why. The password is forgotten, and its
// memory overwritten, once sent, once cleared, once the wrapper has moved on,
// or when the responder goes.
class SudoPasswordResponder : public std::enable_shared_from_this<SudoPasswordResponder> {
public:
    // How long after the launch the password may still be sent.
    static constexpr std::chrono::seconds passwordLifetime {15};

    // None unless both the password (UTF-8) and the prompt are present and not empty.
    // `wrapperCommandLine` is the wrapper shell's, as the launch made it.
    static std::shared_ptr<SudoPasswordResponder>
    make(QByteArrayView password, const std::optional<QString> &expectedPrompt, const QString &wrapperCommandLine = {},
         WrapperSudo::SetUidCheck isSetUidSudo = WrapperSudo::systemSetUidCheck());
    ~SudoPasswordResponder();
    SudoPasswordResponder(const SudoPasswordResponder &) = delete;
    SudoPasswordResponder &operator=(const SudoPasswordResponder &) = delete;

    // Where the wrapper stands right now.
    using LookUp = std::function<WrapperSudo::Lookup()>;

    struct Reply {
        // What to write to the child's terminal, if anything: the password
        // line or Ctrl-D, as bytes wiped when dropped.
        std::optional<SensitiveBytes> input;
        // A line for the run's output, if any: why the password was not given.
        QString note;
    };
    // The reply to one chunk of the child's output. `lookUp` is asked for
    // every chunk until the responder is closed.
    Reply response(const QString &chunk, const LookUp &lookUp);
    // Forgets the password; a later prompt gets Ctrl-D.
    void clearPassword();
    // Clears the password `after` from now, on the main thread's event loop,
    // unless the responder is gone by then.
    void scheduleClearPassword(std::chrono::milliseconds after = passwordLifetime);

    // Feeds one chunk of the handle's output and writes the reply, if any, into
    // its terminal and its output; a reply that cannot be written is dropped.
    void respond(const QString &chunk, const RunningProcessHandle &handle);

private:
    SudoPasswordResponder(QByteArrayView password, const QString &expectedPrompt, const QString &wrapperCommandLine,
                          WrapperSudo::SetUidCheck isSetUidSudo);
    void closeLocked();

    mutable std::mutex m_lock;
    const QString m_expectedPrompt;
    std::optional<SensitiveBytes> m_passwordLine; // UTF-8, with its line feed
    bool m_didSendEOF = false;
    QString m_recentOutput;
    const QString m_wrapperCommandLine;
    const WrapperSudo::SetUidCheck m_isSetUidSudo;
    // The sudo that was answered; no other gets Ctrl-D.
    std::optional<ProcessIdentity> m_answeredSudo;
};
