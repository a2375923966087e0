#include "ui/screens/services/ServiceDetailView.h"

#include "ui/components/AdaptiveGrid.h"
#include "ui/components/BusyIndicator.h"
#include "ui/components/ConsoleOutputView.h"
#include "ui/components/DetailPageHeader.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/LayoutTabOrder.h"
#include "ui/components/MetricCard.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/SymbolView.h"
#include "ui/components/TextStyle.h"
#include "ui/components/WrappingText.h"
#include "ui/screens/services/ServiceDetailViewStyle.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServicesController.h"

#include <QClipboard>
#include <QEvent>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

using ServiceDetailStyle::RowButton;

namespace {

const QString emDash = QString(QChar(0x2014));

// Cards keep room for their shadow inside their bounds. The normal page's
// column is narrower by that room, and everything that is not a card is set
// in by it, so card edges line up with the header, the rows and the console.
constexpr int cardShadow = SurfaceCard::shadowMargin;

QLayout *besideCards(QWidget *widget)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(cardShadow, 0, cardShadow, 0);
    row->addWidget(widget);
    return row;
}

// Fusion makes every text button at least 80 px wide; four controls that
// wide are wider than the column of the narrowest window, so where the row
// has no more room a button gives way down to what it shows.
class SymbolButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

    QSize minimumSizeHint() const override
    {
        int shown = fontMetrics().horizontalAdvance(text());
        if (!icon().isNull())
            shown += iconSize().width() + 4;
        const int frame = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, this)
                          + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        const QSize hint = sizeHint();
        return {std::min(hint.width(), shown + frame), hint.height()};
    }
};

QPushButton *symbolButton(const QString &text, const QString &symbolName, QWidget *parent,
                          std::optional<Palette::Color> tint = std::nullopt)
{
    auto *button = new SymbolButton(text, parent);
    button->setSizePolicy(QSizePolicy::Preferred, button->sizePolicy().verticalPolicy());
    ServiceDetailStyle::tintButton(button, symbolName, tint);
    button->setAutoDefault(false);
    return button;
}

SymbolView *symbolIn(const QString &symbolName, TextStyle style, ThemeColor color)
{
    return new SymbolView(symbolName, symbolPixelSize(style), color);
}

} // namespace

struct ServiceDetailView::Widgets {
    QStackedLayout *pages = nullptr;
    QScrollArea *scrollArea = nullptr;
    QWidget *normalPage = nullptr;
    QVBoxLayout *normalColumn = nullptr;
    QWidget *lockedPage = nullptr;
    QVBoxLayout *lockedColumn = nullptr;

    // Header
    DetailPageHeader *header = nullptr;
    QWidget *protectedLabel = nullptr;
    SymbolView *protectedSymbol = nullptr;
    StatusBadge *statusBadge = nullptr;
    QPushButton *editButton = nullptr;

    // Controls
    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QPushButton *restartButton = nullptr;
    QPushButton *forceKillButton = nullptr;

    // Configuration
    RowButton *configurationToggle = nullptr;
    SymbolView *configurationChevron = nullptr;
    SurfaceCard *migrationCard = nullptr;
    SurfaceCard *configurationCard = nullptr;
    WrappingText *shellCommand = nullptr;
    WrappingText *environmentProfile = nullptr;
    StyledLabel *launchOption = nullptr;

    // Metrics
    MetricCard *pidCard = nullptr;
    MetricCard *cpuCard = nullptr;
    MetricCard *ramCard = nullptr;
    MetricCard *uptimeCard = nullptr;

    // Live output
    QWidget *liveOutputHeader = nullptr;
    BusyIndicator *liveOutputProgress = nullptr;
    QPushButton *copyButton = nullptr;
    ConsoleOutputView *console = nullptr;

    ServiceRunHistorySection *runHistory = nullptr;
};

ServiceDetailView::ServiceDetailView(ServicesController &controller, QWidget *parent)
    : QWidget(parent),
      m_controller(controller),
      m_widgets(std::make_unique<Widgets>())
{
    buildLayouts();
    connect(&controller, &ServicesController::profilesChanged, this, [this] { refreshConfiguration(); });
    // The console follows every change, also while hidden for a Terminal
    // service, so it always holds the last published text: a printing service
    // then costs it the additions only, not a comparison of the whole output.
    connect(&controller, &ServicesController::outputChanged, this, [this](const QUuid &serviceId) {
        if (m_hasService && serviceId == m_service.id) {
            refreshLiveOutput();
            m_widgets->liveOutputProgress->turn();
        }
    });
    refreshAll();
}

ServiceDetailView::~ServiceDetailView() = default;

void ServiceDetailView::buildLayouts()
{
    Widgets &w = *m_widgets;
    w.pages = new QStackedLayout(this);

    // The normal layout scrolls; the locked one does not.
    w.scrollArea = new QScrollArea(this);
    w.scrollArea->setObjectName(QStringLiteral("detailScrollArea"));
    w.scrollArea->setWidgetResizable(true);
    w.scrollArea->setFrameShape(QFrame::NoFrame);
    // The page fits the column at the window's least width; should it ever
    // not, a scroll bar shows what lies beyond the edge.
    w.scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    w.normalPage = new QWidget;
    w.normalPage->setObjectName(QStringLiteral("normalLayout"));
    w.normalColumn = new QVBoxLayout(w.normalPage);
    w.normalColumn->setContentsMargins(28 - cardShadow, 28, 28 - cardShadow, 28);
    w.normalColumn->setSpacing(22);
    w.scrollArea->setWidget(w.normalPage);
    w.pages->addWidget(w.scrollArea);

    w.lockedPage = new QWidget(this);
    w.lockedPage->setObjectName(QStringLiteral("lockedLayout"));
    w.lockedColumn = new QVBoxLayout(w.lockedPage);
    w.lockedColumn->setContentsMargins(28, 28, 28, 28);
    w.lockedColumn->setSpacing(22);
    w.pages->addWidget(w.lockedPage);

    buildHeader();
    QLayout *controls = buildControlRow();
    QLayout *configuration = buildConfiguration();
    QWidget *grid = buildMetricGrid();
    buildLiveOutput();
    w.runHistory = new ServiceRunHistorySection(m_controller, w.normalPage);
    w.runHistory->setObjectName(QStringLiteral("runHistory"));

    w.normalColumn->addWidget(w.header);
    w.normalColumn->addLayout(controls);
    w.normalColumn->addLayout(configuration);
    w.normalColumn->addWidget(grid);
    w.normalColumn->addWidget(w.liveOutputHeader);
    w.normalColumn->addLayout(besideCards(w.console));
    w.normalColumn->addWidget(w.runHistory);
    w.normalColumn->addStretch(1);
    // The sections were built apart and joined above: Tab follows the page.
    setTabOrderFollowingLayout(w.normalColumn);
    // Only its contents take the focus. Set after the order above: made
    // focus-less before it, the title row's buttons came after the controls.
    w.scrollArea->setFocusPolicy(Qt::NoFocus);
    buildLockedCard();
}

void ServiceDetailView::buildHeader()
{
    Widgets &w = *m_widgets;
    w.header = new DetailPageHeader(QString(), 8);
    w.header->setObjectName(QStringLiteral("header"));
    w.header->setContentsMargins(cardShadow, 0, cardShadow, 0);
    w.header->titleLabel()->setObjectName(QStringLiteral("title"));
    w.editButton = symbolButton(QStringLiteral("Edit"), QStringLiteral("pencil"), w.header, Palette::Color::steel);
    w.editButton->setObjectName(QStringLiteral("editButton"));
    connect(w.editButton, &QPushButton::clicked, this, &ServiceDetailView::editRequested);
    w.header->actionsLayout()->addWidget(w.editButton);

    auto *belowTitle = new QHBoxLayout;
    belowTitle->setSpacing(8);
    w.protectedLabel = new QWidget;
    w.protectedLabel->setObjectName(QStringLiteral("protectedLabel"));
    auto *protectedRow = new QHBoxLayout(w.protectedLabel);
    protectedRow->setContentsMargins(0, 0, 0, 0);
    protectedRow->setSpacing(4);
    w.protectedSymbol = symbolIn(QStringLiteral("lock.fill"), TextStyle::body, ThemeColor::secondary());
    w.protectedSymbol->setObjectName(QStringLiteral("protectedSymbol"));
    protectedRow->addWidget(w.protectedSymbol);
    protectedRow->addWidget(
        new StyledLabel(QStringLiteral("Protected Service"), TextStyle::body, QFont::Normal, ThemeColor::secondary()));
    belowTitle->addWidget(w.protectedLabel);
    w.statusBadge = new StatusBadge;
    w.statusBadge->setObjectName(QStringLiteral("statusBadge"));
    belowTitle->addWidget(w.statusBadge);
    belowTitle->addStretch(1);
    w.header->belowTitleLayout()->addLayout(belowTitle);
}

QLayout *ServiceDetailView::buildControlRow()
{
    Widgets &w = *m_widgets;
    auto *controls = new QHBoxLayout;
    controls->setContentsMargins(cardShadow, 0, cardShadow, 0);
    controls->setSpacing(10);
    // Separate bordered buttons: with no gap their frames would run into each other.
    auto *group = new QHBoxLayout;
    group->setSpacing(controls->spacing());
    w.startButton = symbolButton(QStringLiteral("Start"), QStringLiteral("play.fill"), w.normalPage);
    w.startButton->setObjectName(QStringLiteral("startButton"));
    w.stopButton = symbolButton(QStringLiteral("Stop"), QStringLiteral("stop.fill"), w.normalPage, Palette::Color::red);
    w.stopButton->setObjectName(QStringLiteral("stopButton"));
    w.restartButton = symbolButton(QStringLiteral("Restart"), QStringLiteral("arrow.clockwise"), w.normalPage);
    w.restartButton->setObjectName(QStringLiteral("restartButton"));
    for (QPushButton *button : {w.startButton, w.stopButton, w.restartButton})
        group->addWidget(button);
    controls->addLayout(group);
    w.forceKillButton =
        symbolButton(QStringLiteral("Force Kill"), QStringLiteral("xmark.octagon"), w.normalPage, Palette::Color::red);
    w.forceKillButton->setObjectName(QStringLiteral("forceKillButton"));
    controls->addWidget(w.forceKillButton);
    controls->addStretch(1);
    connect(w.startButton, &QPushButton::clicked, this, &ServiceDetailView::startRequested);
    connect(w.stopButton, &QPushButton::clicked, this, &ServiceDetailView::stopRequested);
    connect(w.restartButton, &QPushButton::clicked, this, &ServiceDetailView::restartRequested);
    connect(w.forceKillButton, &QPushButton::clicked, this, &ServiceDetailView::forceKillRequested);
    return controls;
}

QLayout *ServiceDetailView::buildConfiguration()
{
    Widgets &w = *m_widgets;
    auto *configuration = new QVBoxLayout;
    configuration->setSpacing(12);
    w.configurationToggle = new RowButton(w.normalPage);
    w.configurationToggle->setObjectName(QStringLiteral("configurationToggle"));
    w.configurationToggle->setAccessibleName(QStringLiteral("Configuration"));
    w.configurationToggle->addToRow(symbolIn(QStringLiteral("gearshape"), TextStyle::title3, ThemeColor::secondary()));
    w.configurationToggle->addToRow(
        new StyledLabel(QStringLiteral("Configuration"), TextStyle::title3, QFont::DemiBold));
    w.configurationChevron = symbolIn(QStringLiteral("chevron.right"), TextStyle::caption, ThemeColor::tertiary());
    w.configurationToggle->addToRow(w.configurationChevron);
    w.configurationToggle->row()->addStretch(1);
    connect(w.configurationToggle, &QPushButton::clicked, this, &ServiceDetailView::toggleConfiguration);
    configuration->addLayout(besideCards(w.configurationToggle));

    w.migrationCard = new SurfaceCard(16, w.normalPage);
    w.migrationCard->setObjectName(QStringLiteral("migrationCard"));
    auto *migrationRow = new QHBoxLayout;
    migrationRow->setSpacing(14);
    migrationRow->addWidget(symbolIn(QStringLiteral("lock.fill"), TextStyle::title2, Palette::Color::orange));
    auto *migrationText = new QVBoxLayout;
    migrationText->setSpacing(4);
    migrationText->addWidget(new StyledLabel(QStringLiteral("Service migration required"), TextStyle::headline));
    auto *migrationMessage = new StyledLabel(
        QStringLiteral("Authenticate once to convert this previously protected service to the profile-only model."),
        TextStyle::callout, QFont::Normal, ThemeColor::secondary());
    migrationMessage->setWordWrap(true);
    migrationText->addWidget(migrationMessage);
    migrationRow->addLayout(migrationText, 1);
    migrationRow->addSpacing(12);
    auto *migrateButton = new ProminentButton(QStringLiteral("Migrate"), Palette::Color::blue, w.migrationCard);
    migrateButton->setSymbolName(QStringLiteral("arrow.triangle.2.circlepath"));
    migrateButton->setObjectName(QStringLiteral("migrateButton"));
    migrateButton->setDefault(true);
    connect(migrateButton, &QPushButton::clicked, this, &ServiceDetailView::unlockRequested);
    migrationRow->addWidget(migrateButton);
    w.migrationCard->contentLayout()->addLayout(migrationRow);
    configuration->addWidget(w.migrationCard);

    w.configurationCard = new SurfaceCard(16, w.normalPage);
    w.configurationCard->setObjectName(QStringLiteral("configurationCard"));
    auto *form = new QFormLayout;
    form->setHorizontalSpacing(24);
    form->setVerticalSpacing(10);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto valueLabel = [](const char *name) {
        auto *label = new StyledLabel(QString(), TextStyle::body);
        label->setObjectName(QString::fromLatin1(name));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    auto wrappingValue = [](const char *name, bool monospaced) {
        auto *text = new WrappingText(TextStyle::body, monospaced);
        text->setObjectName(QString::fromLatin1(name));
        return text;
    };
    w.shellCommand = wrappingValue("shellCommand", true);
    w.environmentProfile = wrappingValue("environmentProfile", false);
    w.launchOption = valueLabel("launchOption");
    form->addRow(new StyledLabel(QStringLiteral("Shell Command"), TextStyle::body), w.shellCommand);
    form->addRow(new StyledLabel(QStringLiteral("Environment Profile"), TextStyle::body), w.environmentProfile);
    form->addRow(new StyledLabel(QStringLiteral("Launch Option"), TextStyle::body), w.launchOption);
    w.configurationCard->contentLayout()->addLayout(form);
    configuration->addWidget(w.configurationCard);
    return configuration;
}

QWidget *ServiceDetailView::buildMetricGrid()
{
    Widgets &w = *m_widgets;
    auto *grid = new AdaptiveGrid(140, 12, w.normalPage);
    grid->setObjectName(QStringLiteral("metricGrid"));
    w.pidCard =
        new MetricCard(QStringLiteral("PID"), emDash, std::nullopt, QStringLiteral("number"), Palette::Color::slate);
    w.cpuCard =
        new MetricCard(QStringLiteral("CPU"), emDash, std::nullopt, QStringLiteral("cpu"), Palette::Color::blue);
    w.ramCard = new MetricCard(QStringLiteral("RAM"), emDash, std::nullopt, QStringLiteral("memorychip"),
                               Palette::Color::green);
    w.uptimeCard =
        new MetricCard(QStringLiteral("Uptime"), emDash, std::nullopt, QStringLiteral("clock"), Palette::Color::orange);
    w.pidCard->setObjectName(QStringLiteral("pidCard"));
    w.cpuCard->setObjectName(QStringLiteral("cpuCard"));
    w.ramCard->setObjectName(QStringLiteral("ramCard"));
    w.uptimeCard->setObjectName(QStringLiteral("uptimeCard"));
    for (MetricCard *card : {w.pidCard, w.cpuCard, w.ramCard, w.uptimeCard})
        grid->addCard(card);
    return grid;
}

void ServiceDetailView::buildLiveOutput()
{
    Widgets &w = *m_widgets;
    w.liveOutputHeader = new QWidget(w.normalPage);
    w.liveOutputHeader->setObjectName(QStringLiteral("liveOutputHeader"));
    auto *outputRow = new QHBoxLayout(w.liveOutputHeader);
    outputRow->setContentsMargins(cardShadow, 0, cardShadow, 0);
    outputRow->setSpacing(10);
    auto *outputTitle = new QHBoxLayout;
    outputTitle->setSpacing(8);
    outputTitle->addWidget(symbolIn(QStringLiteral("text.alignleft"), TextStyle::title3, ThemeColor::secondary()));
    outputTitle->addWidget(new StyledLabel(QStringLiteral("Live Output"), TextStyle::title3, QFont::DemiBold));
    w.liveOutputProgress = new BusyIndicator(14, w.liveOutputHeader);
    w.liveOutputProgress->setObjectName(QStringLiteral("liveOutputProgress"));
    w.liveOutputProgress->setAccessibleName(QStringLiteral("Running"));
    outputTitle->addWidget(w.liveOutputProgress);
    outputRow->addLayout(outputTitle);
    outputRow->addStretch(1);
    w.copyButton = symbolButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), w.liveOutputHeader);
    w.copyButton->setObjectName(QStringLiteral("copyButton"));
    w.copyButton->setFlat(true);
    w.copyButton->setFont(textStyleFont(TextStyle::callout));
    connect(w.copyButton, &QPushButton::clicked, this, &ServiceDetailView::copyLiveOutput);
    outputRow->addWidget(w.copyButton);
    w.console = new ConsoleOutputView(w.normalPage);
    w.console->setObjectName(QStringLiteral("liveOutput"));
    w.console->setOutputName(QStringLiteral("Live Output"));
    w.console->setFixedHeight(280);
    w.console->setAutoScroll(true);
}

void ServiceDetailView::buildLockedCard()
{
    Widgets &w = *m_widgets;
    auto *lockedCard = new QWidget(w.lockedPage);
    lockedCard->setObjectName(QStringLiteral("lockedCard"));
    auto *lockedColumn = new QVBoxLayout(lockedCard);
    lockedColumn->setContentsMargins(0, 0, 0, 48);
    lockedColumn->setSpacing(14);
    lockedColumn->addStretch(1);
    auto *lockSymbol = new SymbolView(QStringLiteral("lock.fill"), 38, Palette::Color::orange);
    lockedColumn->addWidget(lockSymbol, 0, Qt::AlignHCenter);
    lockedColumn->addWidget(new StyledLabel(QStringLiteral("Service is locked"), TextStyle::title2, QFont::DemiBold), 0,
                            Qt::AlignHCenter);
    auto *lockedMessage = new StyledLabel(QStringLiteral("This service uses a protected environment profile. "
                                                         "Environment profiles need to be unlocked before the "
                                                         "service can be used."),
                                          TextStyle::callout, QFont::Normal, ThemeColor::secondary());
    lockedMessage->setWordWrap(true);
    lockedMessage->setAlignment(Qt::AlignHCenter);
    lockedMessage->setMaximumWidth(440);
    // Centred at up to 440 wide, narrower when the page is.
    auto *messageRow = new QHBoxLayout;
    messageRow->addStretch(1);
    messageRow->addWidget(lockedMessage, 1000);
    messageRow->addStretch(1);
    lockedColumn->addLayout(messageRow);
    lockedColumn->addSpacing(4);
    auto *unlockButton = new ProminentButton(QStringLiteral("Unlock"), Palette::Color::blue, lockedCard);
    unlockButton->setSymbolName(QStringLiteral("lock.open"));
    unlockButton->setObjectName(QStringLiteral("unlockButton"));
    unlockButton->setDefault(true);
    connect(unlockButton, &QPushButton::clicked, this, &ServiceDetailView::unlockRequested);
    lockedColumn->addWidget(unlockButton, 0, Qt::AlignHCenter);
    lockedColumn->addStretch(1);
    w.lockedColumn->addWidget(lockedCard, 1);
}

void ServiceDetailView::setService(const ManagedService &service)
{
    const bool anotherService = !m_hasService || service.id != m_service.id;
    if (!anotherService && service == m_service)
        return;
    m_service = service;
    m_hasService = true;
    if (anotherService) {
        resetViewState();
        refreshAll();
        return;
    }
    refreshHeader();
    refreshConfiguration();
    refreshLiveOutput();
}

void ServiceDetailView::forgetService()
{
    m_hasService = false;
    m_widgets->runHistory->setServiceId(QUuid());
}

void ServiceDetailView::resetViewState()
{
    // Nothing of the previous service may show, its output least of all: the
    // console takes the new service's output whole.
    m_runtime = ServiceRuntimeInfo::fresh(m_service.id);
    m_isConfigurationExpanded = false;
    m_widgets->runHistory->setServiceId(m_service.id);
    m_widgets->console->setText(QString());
    m_shownOutput = {};
    m_widgets->scrollArea->verticalScrollBar()->setValue(0);
}

void ServiceDetailView::setRuntime(const ServiceRuntimeInfo &runtime)
{
    if (runtime == m_runtime)
        return;
    const bool stateChanged = runtime.state != m_runtime.state;
    m_runtime = runtime;
    if (stateChanged) {
        refreshHeader();
        refreshControls();
    }
    refreshMetrics();
    refreshLiveOutput();
}

void ServiceDetailView::setIsLocked(bool isLocked)
{
    if (isLocked == m_isLocked)
        return;
    m_isLocked = isLocked;
    refreshConfiguration();
}

void ServiceDetailView::setIsLaunchLocked(bool isLaunchLocked)
{
    if (isLaunchLocked == m_isLaunchLocked)
        return;
    m_isLaunchLocked = isLaunchLocked;
    refreshLayoutChoice();
    refreshHeader();
}

void ServiceDetailView::setIsEffectivelyProtected(bool isEffectivelyProtected)
{
    if (isEffectivelyProtected == m_isEffectivelyProtected)
        return;
    m_isEffectivelyProtected = isEffectivelyProtected;
    refreshHeader();
}

void ServiceDetailView::setFlags(bool isLocked, bool isLaunchLocked, bool isEffectivelyProtected)
{
    setIsLocked(isLocked);
    setIsLaunchLocked(isLaunchLocked);
    setIsEffectivelyProtected(isEffectivelyProtected);
}

ServiceRunHistorySection *ServiceDetailView::runHistorySection() const
{
    return m_widgets->runHistory;
}

void ServiceDetailView::refreshAll()
{
    refreshLayoutChoice();
    refreshHeader();
    refreshControls();
    refreshConfiguration();
    refreshMetrics();
    refreshLiveOutput();
}

void ServiceDetailView::refreshLayoutChoice()
{
    Widgets &w = *m_widgets;
    QVBoxLayout *target = m_isLaunchLocked ? w.lockedColumn : w.normalColumn;
    if (w.header->parentWidget() != (m_isLaunchLocked ? w.lockedPage : w.normalPage)) {
        target->insertWidget(0, w.header);
        const int inset = m_isLaunchLocked ? 0 : cardShadow;
        w.header->setContentsMargins(inset, 0, inset, 0);
    }
    w.pages->setCurrentWidget(m_isLaunchLocked ? static_cast<QWidget *>(w.lockedPage) : w.scrollArea);
}

void ServiceDetailView::refreshHeader()
{
    Widgets &w = *m_widgets;
    w.header->setTitle(m_service.name);
    w.protectedLabel->setVisible(m_isEffectivelyProtected);
    w.protectedSymbol->setSymbolName(m_isLaunchLocked ? QStringLiteral("lock.fill") : QStringLiteral("lock.open.fill"));
    switch (m_runtime.state) {
    case ServiceLifecycleState::running:
        w.statusBadge->setState(QStringLiteral("Running"), Palette::Color::green);
        break;
    case ServiceLifecycleState::stopped:
        w.statusBadge->setState(QStringLiteral("Stopped"), ThemeColor::secondary());
        break;
    case ServiceLifecycleState::notResponding:
        w.statusBadge->setState(QStringLiteral("Not Responding"), Palette::Color::orange);
        break;
    }
    const bool running = m_runtime.state == ServiceLifecycleState::running;
    w.editButton->setVisible(!m_isLaunchLocked);
    w.editButton->setEnabled(!running);
    w.editButton->setToolTip(running ? QStringLiteral("Stop the service before editing it.")
                                     : QStringLiteral("Edit service"));
}

void ServiceDetailView::refreshControls()
{
    Widgets &w = *m_widgets;
    const bool running = m_runtime.state == ServiceLifecycleState::running;
    w.startButton->setEnabled(!running);
    w.stopButton->setEnabled(running);
    w.restartButton->setEnabled(true);
    w.forceKillButton->setEnabled(running);
    w.liveOutputProgress->setVisible(running);
}

void ServiceDetailView::refreshConfiguration(bool animated)
{
    Widgets &w = *m_widgets;
    w.configurationChevron->setSymbolName(m_isConfigurationExpanded ? QStringLiteral("chevron.down")
                                                                    : QStringLiteral("chevron.right"));
    w.configurationToggle->setToolTip(m_isConfigurationExpanded ? QStringLiteral("Collapse configuration")
                                                                : QStringLiteral("Expand configuration"));
    w.configurationToggle->setExpanded(m_isConfigurationExpanded);
    ServiceDetailStyle::setRevealed(w.migrationCard, m_isConfigurationExpanded && m_isLocked, animated);
    ServiceDetailStyle::setRevealed(w.configurationCard, m_isConfigurationExpanded && !m_isLocked, animated);
    w.shellCommand->setText(m_service.command.isEmpty() ? emDash : m_service.command);
    w.environmentProfile->setText(m_controller.profileName(m_service).value_or(QStringLiteral("None")));
    w.launchOption->setText(m_service.openInTerminal ? QStringLiteral("Terminal") : QStringLiteral("Velmora"));
}

void ServiceDetailView::refreshMetrics()
{
    Widgets &w = *m_widgets;
    const bool running = m_runtime.state == ServiceLifecycleState::running;
    w.pidCard->setValue(m_runtime.pid ? QString::number(*m_runtime.pid) : emDash);
    w.cpuCard->setValue(running ? QString::asprintf("%.1f%%", m_runtime.cpuPercent) : emDash);
    w.ramCard->setValue(running ? formatMemoryBytes(m_runtime.memoryBytes) : emDash);
    w.uptimeCard->setValue(running ? formatDuration(m_runtime.uptime) : emDash);
}

void ServiceDetailView::refreshLiveOutput()
{
    Widgets &w = *m_widgets;
    const bool inApplication = !m_service.openInTerminal;
    w.liveOutputHeader->setVisible(inApplication);
    w.console->setVisible(inApplication);
    followLiveOutput();
    if (!inApplication)
        return;
    const bool hasOutput = !w.console->text().isEmpty();
    w.copyButton->setEnabled(hasOutput);
    const QString copyHelp = hasOutput ? QStringLiteral("Copy output") : QStringLiteral("No output to copy");
    if (w.copyButton->toolTip() != copyHelp)
        w.copyButton->setToolTip(copyHelp);
}

void ServiceDetailView::followLiveOutput()
{
    if (!m_hasService)
        return;
    const ServiceOutputPublisher::Output &output = m_controller.liveOutput(m_service.id);
    if (output.generation == m_shownOutput.generation)
        return;
    if (const std::optional<qsizetype> dropped = output.droppedSince(m_shownOutput))
        m_widgets->console->followOutput(output.text, *dropped);
    else
        m_widgets->console->setText(output.text);
    m_shownOutput = output.mark();
}

void ServiceDetailView::toggleConfiguration()
{
    m_isConfigurationExpanded = !m_isConfigurationExpanded;
    refreshConfiguration(true);
}

void ServiceDetailView::copyLiveOutput()
{
    const QString &output = m_widgets->console->text();
    if (output.isEmpty())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(output);
}
