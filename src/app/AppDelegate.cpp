#include "app/AppDelegate.h"

#include "app/AppEnvironment.h"
#include "execution/ServiceManager.h"
#include "platform/Logging.h"
#include "profiles/ProtectedProfilesLockManager.h"

#include <QCoroFuture>
#include <QPointer>

#include <exception>

AppDelegate::AppDelegate(AppEnvironment &app, QObject *parent)
    : QObject(parent),
      m_app(app),
      m_confirmation([&app] { return app.presentQuitConfirmation(); })
{}

AppDelegate::~AppDelegate()
{
    if (m_preparation.isValid() && !m_preparation.isFinished())
        m_preparationDone.finish();
}

void AppDelegate::setQuitConfirmation(QuitConfirmation confirmation)
{
    m_confirmation = std::move(confirmation);
}

void AppDelegate::setClosePanel(std::function<void()> closePanel)
{
    m_closePanel = std::move(closePanel);
}

QCoro::Task<bool> AppDelegate::requestQuit()
{
    QPointer<AppDelegate> self(this);
    if (!m_allowTermination) {
        const bool confirmed = co_await m_confirmation();
        if (!self)
            co_return false;
        // A termination signal during the question allows quitting on its own.
        if (!confirmed && !m_allowTermination)
            co_return false;
        m_allowTermination = true;
    }
    co_await prepareForTermination();
    if (!self)
        co_return false;
    if (!m_quitRequested) {
        m_quitRequested = true;
        Q_EMIT quitRequested();
    }
    co_return true;
}

void AppDelegate::startQuit()
{
    // The task frees itself when it ends.
    [](QPointer<AppDelegate> self) -> QCoro::Task<> {
        if (self)
            co_await self->requestQuit();
    }(QPointer<AppDelegate>(this));
}

void AppDelegate::quitWithoutConfirmation()
{
    m_allowTermination = true;
    if (m_app.isQuitConfirmationPresented() || m_app.hasPendingQuitConfirmation())
        m_app.resolveQuitConfirmation(false);
    startQuit();
}

QCoro::Task<> AppDelegate::prepareForTermination()
{
    if (!m_preparation.isValid()) {
        m_preparationDone.start();
        m_preparation = m_preparationDone.future();
        runPreparation(&m_preparationDone);
    }
    const QFuture<void> preparation = m_preparation;
    co_await preparation;
}

QCoro::Task<> AppDelegate::runPreparation(QPromise<void> *done)
{
    QPointer<AppDelegate> self(this);
    if (m_closePanel)
        m_closePanel();
    m_app.protectedProfilesLockManager().lock();
    try {
        co_await m_app.serviceManager().prepareForTermination();
    } catch (const std::exception &error) {
        // Quitting goes on: a service that could not be stopped must not keep
        // the application from ending.
        qCCritical(lcProcess, "Failed to prepare for termination: %s", error.what());
    }
    if (self)
        done->finish();
}
