#include "app/AppDelegate.h"

#include "app/AppEnvironment.h"
#include "app/MenuBarController.h"
#include "app/MenuBarEnvironment.h"

#include <QPointer>

AppDelegate::AppDelegate(AppEnvironment &app, MenuBarController &menuBar, QObject *parent)
    : QObject(parent),
      m_app(app),
      m_menuBar(menuBar),
      m_confirmation([&app] { return app.presentQuitConfirmation(); })
{
    if (!menuBar.hasEnvironment())
        menuBar.setEnvironment(MenuBarEnvironment::from(app));
}

void AppDelegate::setQuitConfirmation(QuitConfirmation confirmation)
{
    m_confirmation = std::move(confirmation);
}

bool AppDelegate::allowTermination() const
{
    return m_menuBar.allowTermination();
}

bool AppDelegate::isPreparingTermination() const
{
    return m_menuBar.isPreparingTermination();
}

QCoro::Task<bool> AppDelegate::requestQuit()
{
    QPointer<AppDelegate> self(this);
    if (!allowTermination()) {
        const bool confirmed = co_await m_confirmation();
        if (!self)
            co_return false;
        // A termination signal during the question allows quitting on its own.
        if (!confirmed && !allowTermination())
            co_return false;
        m_menuBar.setAllowTermination();
    }
    co_await m_menuBar.prepareForTermination();
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
    m_menuBar.setAllowTermination();
    if (m_app.isQuitConfirmationPresented() || m_app.hasPendingQuitConfirmation())
        m_app.resolveQuitConfirmation(false);
    startQuit();
}
