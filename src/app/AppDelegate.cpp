#include "app/AppDelegate.h"

#include "app/AppEnvironment.h"
#include "app/MenuBarController.h"
#include "app/MenuBarEnvironment.h"
#include "execution/ServiceManager.h"
#include "records/ServiceRunHistoryManager.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/NameRule.h"
#include "ui/components/TitledMessageBox.h"

#include <QApplication>
#include <QCoroSignal>
#include <QPointer>
#include <QPushButton>

AppDelegate::AppDelegate(AppEnvironment &app, MenuBarController &menuBar, QObject *parent)
    : QObject(parent),
      m_app(app),
      m_menuBar(menuBar),
      m_confirmation([&app] { return app.presentQuitConfirmation(); }),
      m_unsavedRunsQuestion([this](QList<ServiceRunRecord> runs) { return askAboutUnsavedRuns(std::move(runs)); })
{
    if (!menuBar.hasEnvironment())
        menuBar.setEnvironment(MenuBarEnvironment::from(app));
}

void AppDelegate::setQuitConfirmation(QuitConfirmation confirmation)
{
    m_confirmation = std::move(confirmation);
}

void AppDelegate::setUnsavedRunsQuestion(UnsavedRunsQuestion question)
{
    m_unsavedRunsQuestion = std::move(question);
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
    co_await offerToSaveLostRuns();
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

void AppDelegate::quitForEndingSession()
{
    m_sessionEnding = true;
    quitWithoutConfirmation();
}

QCoro::Task<> AppDelegate::offerToSaveLostRuns()
{
    QPointer<AppDelegate> self(this);
    ServiceRunHistoryManager &history = m_app.runHistoryManager();
    while (!m_sessionEnding) {
        QList<ServiceRunRecord> lost = co_await history.runsSavedNowhere();
        if (!self || lost.isEmpty() || m_sessionEnding)
            co_return;
        const bool tryAgain = co_await m_unsavedRunsQuestion(std::move(lost));
        if (!self || !tryAgain)
            co_return;
        co_await history.retryUnwrittenRuns();
        if (!self)
            co_return;
    }
}

QString AppDelegate::unsavedRunsMessage(const QList<ServiceRunRecord> &runs, RunNames names) const
{
    // A full disk can leave many runs behind; the alert must still fit the screen.
    constexpr qsizetype mostRunsNamed = 10;
    qsizetype named = std::min(runs.size(), mostRunsNamed);
    QString message = unsavedRunsText(runs, named, names);
    // Shown, the list names only the runs the alert's lines hold, so that none
    // is cut from it unsaid.
    while (names == RunNames::shortened && named > 1 && alertLineCount(message) > alertLinesAllowed)
        message = unsavedRunsText(runs, --named, names);
    return message;
}

QString AppDelegate::unsavedRunsText(const QList<ServiceRunRecord> &runs, qsizetype named, RunNames names) const
{
    const QList<ManagedService> &services = m_app.serviceManager().services();
    QStringList lines;
    for (const ServiceRunRecord &run : runs.first(named)) {
        const auto service = std::find_if(services.cbegin(), services.cend(), [&run](const ManagedService &candidate) {
            return candidate.id == run.serviceId;
        });
        const QString name =
            service != services.cend() ? NameRule::oneLine(service->name) : QStringLiteral("A removed service");
        const QString started = QStringLiteral(", started ") + formatOptionalDate(run.startedAt);
        lines.append(names == RunNames::whole ? QStringLiteral("• ") + name + started
                                              : alertLineWithName(QStringLiteral("• "), name, started));
    }
    if (runs.size() > named)
        lines.append(QStringLiteral("and %1 more").arg(runs.size() - named));
    return QStringLiteral("Neither the run history nor the file kept beside it could take these runs, usually because "
                          "the disk is full. They are lost if you quit now.\n\n%1")
        .arg(lines.join(QLatin1Char('\n')));
}

QCoro::Task<bool> AppDelegate::askAboutUnsavedRuns(QList<ServiceRunRecord> runs)
{
    auto *box = new TitledMessageBox(QMessageBox::Warning, QStringLiteral("Some runs couldn’t be saved"),
                                     unsavedRunsMessage(runs), QApplication::activeWindow());
    box->setShownMessage(unsavedRunsMessage(runs, RunNames::shortened));
    QPushButton *tryAgain = box->addDefaultButton(QStringLiteral("Try Again"), QMessageBox::AcceptRole);
    box->addDestructiveButton(QStringLiteral("Quit Anyway"));
    // Losing the runs takes a deliberate click: Return and Escape both try again.
    box->setEscapeButton(tryAgain);
    QPointer<QMessageBox> guard(box);
    box->open();
    co_await qCoro(box, &QMessageBox::finished);
    const bool answer = guard && guard->clickedButton() == tryAgain;
    if (guard)
        guard->deleteLater();
    co_return answer;
}
