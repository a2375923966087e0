#include "app/ContentView.h"

#include "app/AppEnvironment.h"
#include "app/LaunchSplashView.h"
#include "app/QuitConfirmationDialog.h"
#include "app/SectionScreens.h"
#include "records/ServiceRunHistoryManager.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/TitledMessageBox.h"

#include <QFrame>
#include <QPainter>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedLayout>

namespace {

// The hairline between the sidebar and the detail, in the theme's separator colour.
class ColumnDivider final : public QWidget {
public:
    explicit ColumnDivider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedWidth(1);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), ThemeColor::separator().resolve()); }
};

// The detail column's content. The screens' own lists and pages scroll
// inside them; this column scrolls only below a screen's minimum height. A
// screen with wrapping text answers heightForWidth with its preferred height,
// which the scroll area would take as the height to scroll to, so it is not
// asked.
class DetailColumn final : public QWidget {
public:
    using QWidget::QWidget;
    bool hasHeightForWidth() const override { return false; }
};

} // namespace

ContentView::ContentView(AppEnvironment &app, QWidget *parent)
    : QWidget(parent),
      m_app(app)
{
    auto *stack = new QStackedLayout(this);
    stack->setStackingMode(QStackedLayout::StackAll);

    m_split = new QWidget(this);
    auto *splitLayout = new QHBoxLayout(m_split);
    splitLayout->setContentsMargins(0, 0, 0, 0);
    splitLayout->setSpacing(0);
    splitLayout->addWidget(buildSidebar());
    splitLayout->addWidget(new ColumnDivider(m_split));
    // The column scrolls when a screen needs more height than a laptop's
    // window has; its width never scrolls.
    auto *detailScroll = new QScrollArea(m_split);
    detailScroll->setObjectName(QStringLiteral("detailColumn"));
    // The screens' controls take the focus; the scroll area itself shows none.
    detailScroll->setFocusPolicy(Qt::NoFocus);
    detailScroll->setFrameShape(QFrame::NoFrame);
    detailScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detailScroll->setWidgetResizable(true);
    detailScroll->setMinimumSize(detailMinimumWidth, detailMinimumHeight);
    auto *detail = new DetailColumn(detailScroll);
    detail->setMinimumWidth(detailMinimumWidth);
    m_detailLayout = new QVBoxLayout(detail);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    detailScroll->setWidget(detail);
    splitLayout->addWidget(detailScroll, 1);
    stack->addWidget(m_split);

    showSection(m_app.selectedSection());
    connect(&m_app, &AppEnvironment::selectedSectionChanged, this, &ContentView::showSection);

    if (!m_app.isLaunchComplete()) {
        m_split->hide();
        m_split->setEnabled(false);
        m_splash = new LaunchSplashView(this);
        stack->addWidget(m_splash);
        stack->setCurrentWidget(m_splash);
        connect(&m_app, &AppEnvironment::readyChanged, this, &ContentView::updateLaunchState);
        connect(&m_app, &AppEnvironment::launchSplashDelayCompletedChanged, this, &ContentView::updateLaunchState);
    }

    connect(&m_app, &AppEnvironment::quitConfirmationPresentedChanged, this, &ContentView::presentQuitDialog);
    if (m_app.isQuitConfirmationPresented())
        presentQuitDialog(true);
    connect(&m_app.runHistoryManager(), &ServiceRunHistoryManager::untoldRedactionFailureChanged, this,
            &ContentView::showUntoldRedactionFailure);
}

QWidget *ContentView::buildSidebar()
{
    auto *scroll = new QScrollArea(m_split);
    scroll->setFixedWidth(sidebarWidth);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);

    auto *column = new QWidget(scroll);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(8, 0, 8, 8);
    layout->setSpacing(4);

    auto *header = new StyledLabel(QStringLiteral("Velmora").toUpper(), TextStyle::caption, QFont::DemiBold,
                                   ThemeColor::secondary(), column);
    header->setContentsMargins(10, 10, 10, 2);
    layout->addWidget(header);

    for (const AppSection section : allAppSections()) {
        auto *row = new SelectableSidebarRow(column);
        row->setAccessibleName(title(section));
        auto *symbol =
            new SymbolView(symbolName(section), symbolPixelSize(TextStyle::body), ThemeColor::primary(), row);
        row->contentLayout()->addWidget(symbol);
        row->contentLayout()->addWidget(new StyledLabel(title(section), TextStyle::body, row), 1);
        row->setSelected(section == m_app.selectedSection());
        connect(row, &QAbstractButton::clicked, this, [this, section] { m_app.setSelectedSection(section); });
        m_rows.insert(section, row);
        layout->addWidget(row);
    }
    layout->addStretch();
    scroll->setWidget(column);
    return scroll;
}

void ContentView::showSection(AppSection section)
{
    for (auto row = m_rows.cbegin(); row != m_rows.cend(); ++row)
        row.value()->setSelected(row.key() == section);
    // A new section gets a fresh screen; the old one goes with its state.
    delete m_detailScreen;
    m_detailScreen = makeSectionScreen(section, m_app, m_detailLayout->parentWidget());
    m_detailLayout->addWidget(m_detailScreen);
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown again from the tray: what failed while the window was closed.
    if (!event->spontaneous())
        showUntoldRedactionFailure();
}

void ContentView::updateLaunchState()
{
    if (m_app.isLaunchComplete() && m_splash && m_split->isHidden()) {
        crossFadeToSplitView();
        // A failure met at start waited for the splash to go.
        showUntoldRedactionFailure();
    }
}

void ContentView::crossFadeToSplitView()
{
    auto *splitOpacity = new QGraphicsOpacityEffect(m_split);
    splitOpacity->setOpacity(0);
    m_split->setGraphicsEffect(splitOpacity);
    m_split->setEnabled(true);
    m_split->show();
    // The fading splash still lies on top: clicks go through it to the split view.
    m_splash->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *splashOpacity = new QGraphicsOpacityEffect(m_splash);
    m_splash->setGraphicsEffect(splashOpacity);

    auto *fades = new QParallelAnimationGroup(this);
    for (auto [effect, to] : {std::pair {splitOpacity, 1.0}, std::pair {splashOpacity, 0.0}}) {
        auto *fade = new QPropertyAnimation(effect, "opacity", fades);
        fade->setDuration(crossFadeMs);
        fade->setEndValue(to);
        fade->setEasingCurve(QEasingCurve::OutQuad);
        fades->addAnimation(fade);
    }
    connect(fades, &QAbstractAnimation::finished, this, [this] {
        // Drawing through an effect costs every frame; the faded-in view needs none.
        m_split->setGraphicsEffect(nullptr);
        if (m_splash)
            m_splash->deleteLater();
    });
    fades->start(QAbstractAnimation::DeleteWhenStopped);
}

void ContentView::presentQuitDialog(bool presented)
{
    if (!presented) {
        // Answered elsewhere: the dialog goes without answering again.
        if (auto dialog = std::exchange(m_quitDialog, nullptr)) {
            dialog->blockSignals(true);
            dialog->close();
            dialog->deleteLater();
        }
        return;
    }
    if (m_quitDialog)
        return;
    m_quitDialog = new QuitConfirmationDialog(m_app.runningServiceCount(), window());
    connect(m_quitDialog, &QuitConfirmationDialog::answered, this, [this](bool quit) {
        if (auto dialog = std::exchange(m_quitDialog, nullptr))
            dialog->deleteLater();
        if (m_app.isQuitConfirmationPresented())
            m_app.resolveQuitConfirmation(quit);
    });
    m_quitDialog->open();
}

void ContentView::showUntoldRedactionFailure()
{
    ServiceRunHistoryManager &history = m_app.runHistoryManager();
    const std::optional<QString> message = history.untoldRedactionFailure();
    if (!message || !m_app.isLaunchComplete() || !isVisible())
        return;
    history.redactionFailureTold();
    // Failed again after a success while the alert of the first failure is still open.
    if (m_redactionAlert) {
        m_redactionAlert->setMessage(*message);
        return;
    }
    auto *alert = new TitledMessageBox(QMessageBox::Warning, QStringLiteral("Error"), *message, window());
    alert->addCancelButton(QStringLiteral("OK"));
    connect(alert, &QMessageBox::finished, this, [this, alert] {
        if (m_redactionAlert == alert)
            m_redactionAlert = nullptr;
        alert->deleteLater();
    });
    m_redactionAlert = alert;
    alert->open();
}
