#include "ui/platform/LocalProtectedAuthenticator.h"

#include "platform/PamAuthenticator.h"
#include "ui/platform/PasswordPromptDialog.h"
#include "records/ProtectedProfilesError.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

// PAM may sleep seconds after a failure; it must not hold up other background work.
QThreadPool &pamPool()
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    return pool;
}

using Case = ProtectedProfilesError::Case;

} // namespace

QCoro::Task<> LocalProtectedAuthenticator::authenticate(QString reasonText)
{
    const QString user = PamAuthenticator::currentUserName();
    const bool available = co_await QtConcurrent::run(&pamPool(), [] { return PamAuthenticator::isAvailable(); });
    if (!available)
        throw ProtectedProfilesError(Case::authenticationUnavailable);

    auto dialog = std::make_unique<PasswordPromptDialog>(reasonText);
    QPointer<PasswordPromptDialog> guard = dialog.get();
    dialog->open();

    for (int failures = 0; failures < maximumAttempts;) {
        const bool submitted = co_await qCoro(dialog.get(), &PasswordPromptDialog::answered);
        if (!submitted || !guard)
            throw ProtectedProfilesError(Case::authenticationCanceled);

        // One shared buffer, wiped when both the check and this loop let it go.
        // (An init-capture that moves a local inside a coroutine is miscompiled
        // by GCC 12, so none is used.)
        auto password = std::make_shared<const SensitiveBytes>(dialog->takePassword());
        dialog->setChecking(true);
        auto check = [user, password] { return PamAuthenticator::authenticate(user, *password); };
        const PamAuthenticator::Result result = co_await QtConcurrent::run(&pamPool(), check);
        // Escape or the window's close button during the check dismisses the
        // prompt while nothing listens for its answer; waiting for another
        // answer from a hidden prompt would never end.
        if (!guard || !dialog->isVisible())
            throw ProtectedProfilesError(Case::authenticationCanceled);
        dialog->setChecking(false);

        switch (result) {
        case PamAuthenticator::Result::accepted:
            dialog->accept();
            co_return;
        case PamAuthenticator::Result::unavailable:
            dialog->done(QDialog::Rejected);
            throw ProtectedProfilesError(Case::authenticationUnavailable);
        case PamAuthenticator::Result::rejected:
            ++failures;
            dialog->showRejected();
            break;
        }
    }
    dialog->done(QDialog::Rejected);
    throw ProtectedProfilesError(Case::authenticationFailed);
}
