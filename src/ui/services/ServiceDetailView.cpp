#include "ui/services/ServiceDetailView.h"

#include "profiles/EnvironmentProfilesManager.h"
#include "records/ServiceRunHistoryManager.h"
#include "ui/services/ServiceDetailViewStyle.h"
#include "ui/services/ServiceRunHistorySection.h"

#include <QClipboard>
#include <QEvent>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>

using namespace ServiceDetailStyle;

namespace {

const QString emDash = QString(QChar(0x2014));

// One figure of the service: a tinted symbol, a title and a large value.
class MetricCard : public Card {
public:
    MetricCard(const QString &title, const QString &symbolName, Tone tone, QWidget *parent)
        : Card(16, parent)
        , m_tone(tone)
    {
        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(16, 16, 16, 16);
        column->setSpacing(12);
        auto *header = new QHBoxLayout;
        header->setSpacing(8);
        m_symbol = new SymbolLabel(symbolName, 16, tone);
        auto *symbolBox = new QWidget;
        symbolBox->setFixedSize(28, 28);
        auto *symbolLayout = new QHBoxLayout(symbolBox);
        symbolLayout->setContentsMargins(6, 6, 6, 6);
        symbolLayout->addWidget(m_symbol);
        m_symbolBox = symbolBox;
        header->addWidget(symbolBox);
        auto *titleLabel = textLabel(title, TextStyle::caption, QFont::Medium);
        titleLabel->setFont(styleFont(TextStyle::callout, QFont::Medium));
        setTextAlpha(titleLabel, 0.6);
        header->addWidget(titleLabel);
        header->addStretch(1);
        column->addLayout(header);
        m_value = textLabel(emDash, TextStyle::title3, QFont::DemiBold);
        QFont valueFont = styleFont(TextStyle::title3, QFont::DemiBold);
        valueFont.setPointSizeF(valueFont.pointSizeF() * 1.6 / 1.15);
        m_value->setFont(valueFont);
        m_value->setObjectName(QStringLiteral("value"));
        column->addWidget(m_value);
        setAccessibleName(title);
    }

    void setValue(const QString &value)
    {
        if (m_value->text() != value)
            m_value->setText(value);
    }
    QString value() const { return m_value->text(); }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        Card::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = color(m_tone, this);
        fill.setAlphaF(0.14f);
        QPainterPath path;
        path.addRoundedRect(QRectF(m_symbolBox->geometry()), 8, 8);
        painter.fillPath(path, fill);
    }

private:
    Tone m_tone;
    SymbolLabel *m_symbol = nullptr;
    QWidget *m_symbolBox = nullptr;
    QLabel *m_value = nullptr;
};

// Puts as many columns of at least `minimumColumnWidth` side by side as fit
// (at least one), each of equal width, and fills them in reading order.
class AdaptiveGrid : public QWidget {
public:
    static constexpr int minimumColumnWidth = 140;
    static constexpr int spacing = 12;

    explicit AdaptiveGrid(QWidget *parent)
        : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void addCard(QWidget *card)
    {
        card->setParent(this);
        m_cards.append(card);
    }

    int columnCount(int width) const { return std::max(1, (width + spacing) / (minimumColumnWidth + spacing)); }

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override
    {
        if (m_cards.isEmpty())
            return 0;
        const int columns = columnCount(width);
        const int rows = int((m_cards.size() + columns - 1) / columns);
        return rows * cardHeight() + (rows - 1) * spacing;
    }

    QSize sizeHint() const override { return {4 * minimumColumnWidth + 3 * spacing, heightForWidth(600)}; }
    QSize minimumSizeHint() const override { return {1, heightForWidth(1)}; }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        const int width = std::max(1, event->size().width());
        const int columns = columnCount(width);
        const int columnWidth = std::max(1, (width - (columns - 1) * spacing) / columns);
        for (int index = 0; index < m_cards.size(); ++index) {
            const int column = index % columns;
            const int row = index / columns;
            m_cards[index]->setGeometry(column * (columnWidth + spacing), row * (cardHeight() + spacing), columnWidth,
                                        cardHeight());
        }
        const int wanted = heightForWidth(width);
        if (height() != wanted)
            setFixedHeight(wanted);
    }

private:
    int cardHeight() const
    {
        int height = 0;
        for (QWidget *card : m_cards)
            height = std::max(height, card->sizeHint().height());
        return height;
    }

    QList<QWidget *> m_cards;
};

QPushButton *symbolButton(const QString &text, const QString &symbolName, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    setButtonSymbol(button, symbolName);
    button->setAutoDefault(false);
    return button;
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
    QWidget *header = nullptr;
    ElidedLabel *title = nullptr;
    QWidget *protectedLabel = nullptr;
    SymbolLabel *protectedSymbol = nullptr;
    Badge *statusBadge = nullptr;
    QPushButton *editButton = nullptr;

    // Controls
    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QPushButton *restartButton = nullptr;
    QPushButton *forceKillButton = nullptr;

    // Configuration
    RowButton *configurationToggle = nullptr;
    SymbolLabel *configurationChevron = nullptr;
    Card *migrationCard = nullptr;
    Card *configurationCard = nullptr;
    QLabel *shellCommand = nullptr;
    QLabel *environmentProfile = nullptr;
    QLabel *launchOption = nullptr;

    // Metrics
    MetricCard *pidCard = nullptr;
    MetricCard *cpuCard = nullptr;
    MetricCard *ramCard = nullptr;
    MetricCard *uptimeCard = nullptr;

    // Live output
    QWidget *liveOutputHeader = nullptr;
    QProgressBar *liveOutputProgress = nullptr;
    QPushButton *copyButton = nullptr;
    Console *console = nullptr;

    ServiceRunHistorySection *runHistory = nullptr;
};

ServiceDetailView::ServiceDetailView(EnvironmentProfilesManager *environmentProfilesManager,
                                     ServiceRunHistoryManager *runHistoryManager, QWidget *parent)
    : QWidget(parent)
    , m_environmentProfilesManager(environmentProfilesManager)
    , m_runHistoryManager(runHistoryManager)
    , m_widgets(std::make_unique<Widgets>())
{
    buildLayouts();
    if (m_environmentProfilesManager) {
        connect(m_environmentProfilesManager, &EnvironmentProfilesManager::profilesChanged, this,
                &ServiceDetailView::refreshConfiguration);
    }
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
    w.scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w.normalPage = new QWidget;
    w.normalPage->setObjectName(QStringLiteral("normalLayout"));
    w.normalColumn = new QVBoxLayout(w.normalPage);
    w.normalColumn->setContentsMargins(28, 28, 28, 28);
    w.normalColumn->setSpacing(22);
    w.scrollArea->setWidget(w.normalPage);
    w.pages->addWidget(w.scrollArea);

    w.lockedPage = new QWidget(this);
    w.lockedPage->setObjectName(QStringLiteral("lockedLayout"));
    w.lockedColumn = new QVBoxLayout(w.lockedPage);
    w.lockedColumn->setContentsMargins(28, 28, 28, 28);
    w.lockedColumn->setSpacing(22);
    w.pages->addWidget(w.lockedPage);

    // Header
    w.header = new QWidget;
    auto *headerColumn = new QVBoxLayout(w.header);
    headerColumn->setContentsMargins(0, 0, 0, 0);
    headerColumn->setSpacing(8);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    w.title = new ElidedLabel(Qt::ElideRight);
    w.title->setObjectName(QStringLiteral("title"));
    w.title->setFont(styleFont(TextStyle::largeTitle, QFont::Bold));
    w.title->setMinimumHeight(w.title->fontMetrics().height());
    titleRow->addWidget(w.title, 1);
    titleRow->addSpacing(8);
    w.editButton = symbolButton(QStringLiteral("Edit"), QStringLiteral("pencil"), w.header);
    w.editButton->setObjectName(QStringLiteral("editButton"));
    setButtonTone(w.editButton, Tone::steel);
    connect(w.editButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onEdit); });
    titleRow->addWidget(w.editButton, 0, Qt::AlignVCenter);
    headerColumn->addLayout(titleRow);

    auto *belowTitle = new QHBoxLayout;
    belowTitle->setSpacing(8);
    w.protectedLabel = new QWidget;
    w.protectedLabel->setObjectName(QStringLiteral("protectedLabel"));
    auto *protectedRow = new QHBoxLayout(w.protectedLabel);
    protectedRow->setContentsMargins(0, 0, 0, 0);
    protectedRow->setSpacing(4);
    w.protectedSymbol = new SymbolLabel(QStringLiteral("lock.fill"), 14, Tone::secondary);
    w.protectedSymbol->setObjectName(QStringLiteral("protectedSymbol"));
    auto *protectedText = textLabel(QStringLiteral("Protected Service"), TextStyle::body);
    setTextAlpha(protectedText, 0.6);
    protectedRow->addWidget(w.protectedSymbol);
    protectedRow->addWidget(protectedText);
    belowTitle->addWidget(w.protectedLabel);
    w.statusBadge = new Badge(Badge::Kind::status);
    w.statusBadge->setObjectName(QStringLiteral("statusBadge"));
    belowTitle->addWidget(w.statusBadge);
    belowTitle->addStretch(1);
    headerColumn->addLayout(belowTitle);

    // Control row
    auto *controls = new QHBoxLayout;
    controls->setSpacing(10);
    auto *group = new QHBoxLayout;
    group->setSpacing(0);
    w.startButton = symbolButton(QStringLiteral("Start"), QStringLiteral("play.fill"), w.normalPage);
    w.startButton->setObjectName(QStringLiteral("startButton"));
    w.stopButton = symbolButton(QStringLiteral("Stop"), QStringLiteral("stop.fill"), w.normalPage);
    w.stopButton->setObjectName(QStringLiteral("stopButton"));
    setButtonTone(w.stopButton, Tone::red);
    w.restartButton = symbolButton(QStringLiteral("Restart"), QStringLiteral("arrow.clockwise"), w.normalPage);
    w.restartButton->setObjectName(QStringLiteral("restartButton"));
    for (QPushButton *button : {w.startButton, w.stopButton, w.restartButton})
        group->addWidget(button);
    controls->addLayout(group);
    w.forceKillButton = symbolButton(QStringLiteral("Force Kill"), QStringLiteral("xmark.octagon"), w.normalPage);
    w.forceKillButton->setObjectName(QStringLiteral("forceKillButton"));
    setButtonTone(w.forceKillButton, Tone::red);
    controls->addWidget(w.forceKillButton);
    controls->addStretch(1);
    connect(w.startButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onStart); });
    connect(w.stopButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onStop); });
    connect(w.restartButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onRestart); });
    connect(w.forceKillButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onKill); });

    // Configuration
    auto *configuration = new QVBoxLayout;
    configuration->setSpacing(12);
    w.configurationToggle = new RowButton(w.normalPage);
    w.configurationToggle->setObjectName(QStringLiteral("configurationToggle"));
    w.configurationToggle->setAccessibleName(QStringLiteral("Configuration"));
    w.configurationToggle->addToRow(new SymbolLabel(QStringLiteral("gearshape"), 16, Tone::secondary));
    w.configurationToggle->addToRow(textLabel(QStringLiteral("Configuration"), TextStyle::title3, QFont::DemiBold));
    w.configurationChevron = new SymbolLabel(QStringLiteral("chevron.right"), 12);
    w.configurationToggle->addToRow(w.configurationChevron);
    w.configurationToggle->row()->addStretch(1);
    connect(w.configurationToggle, &QPushButton::clicked, this, &ServiceDetailView::toggleConfiguration);
    configuration->addWidget(w.configurationToggle);

    w.migrationCard = new Card(16, w.normalPage);
    w.migrationCard->setObjectName(QStringLiteral("migrationCard"));
    auto *migrationRow = new QHBoxLayout(w.migrationCard);
    migrationRow->setContentsMargins(16, 16, 16, 16);
    migrationRow->setSpacing(14);
    migrationRow->addWidget(new SymbolLabel(QStringLiteral("lock.fill"), 22, Tone::orange));
    auto *migrationText = new QVBoxLayout;
    migrationText->setSpacing(4);
    migrationText->addWidget(textLabel(QStringLiteral("Service migration required"), TextStyle::headline));
    auto *migrationMessage = textLabel(
        QStringLiteral("Authenticate once to convert this previously protected service to the profile-only model."),
        TextStyle::callout);
    migrationMessage->setWordWrap(true);
    setTextAlpha(migrationMessage, 0.6);
    migrationText->addWidget(migrationMessage);
    migrationRow->addLayout(migrationText, 1);
    migrationRow->addSpacing(12);
    auto *migrateButton =
        symbolButton(QStringLiteral("Migrate"), QStringLiteral("arrow.triangle.2.circlepath"), w.migrationCard);
    migrateButton->setObjectName(QStringLiteral("migrateButton"));
    migrateButton->setDefault(true);
    connect(migrateButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onUnlock); });
    migrationRow->addWidget(migrateButton);
    configuration->addWidget(w.migrationCard);

    w.configurationCard = new Card(16, w.normalPage);
    w.configurationCard->setObjectName(QStringLiteral("configurationCard"));
    auto *form = new QFormLayout(w.configurationCard);
    form->setContentsMargins(16, 14, 16, 14);
    form->setHorizontalSpacing(24);
    form->setVerticalSpacing(10);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    auto valueLabel = [](const char *name) {
        auto *label = textLabel(QString(), TextStyle::body);
        label->setObjectName(QString::fromLatin1(name));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    w.shellCommand = valueLabel("shellCommand");
    w.shellCommand->setFont(monospacedFont(TextStyle::body));
    w.environmentProfile = valueLabel("environmentProfile");
    w.launchOption = valueLabel("launchOption");
    form->addRow(textLabel(QStringLiteral("Shell Command"), TextStyle::body), w.shellCommand);
    form->addRow(textLabel(QStringLiteral("Environment Profile"), TextStyle::body), w.environmentProfile);
    form->addRow(textLabel(QStringLiteral("Launch Option"), TextStyle::body), w.launchOption);
    configuration->addWidget(w.configurationCard);

    // Metrics
    auto *grid = new AdaptiveGrid(w.normalPage);
    grid->setObjectName(QStringLiteral("metricGrid"));
    w.pidCard = new MetricCard(QStringLiteral("PID"), QStringLiteral("number"), Tone::slate, grid);
    w.cpuCard = new MetricCard(QStringLiteral("CPU"), QStringLiteral("cpu"), Tone::blue, grid);
    w.ramCard = new MetricCard(QStringLiteral("RAM"), QStringLiteral("memorychip"), Tone::green, grid);
    w.uptimeCard = new MetricCard(QStringLiteral("Uptime"), QStringLiteral("clock"), Tone::orange, grid);
    w.pidCard->setObjectName(QStringLiteral("pidCard"));
    w.cpuCard->setObjectName(QStringLiteral("cpuCard"));
    w.ramCard->setObjectName(QStringLiteral("ramCard"));
    w.uptimeCard->setObjectName(QStringLiteral("uptimeCard"));
    for (MetricCard *card : {w.pidCard, w.cpuCard, w.ramCard, w.uptimeCard})
        grid->addCard(card);

    // Live output
    w.liveOutputHeader = new QWidget(w.normalPage);
    w.liveOutputHeader->setObjectName(QStringLiteral("liveOutputHeader"));
    auto *outputRow = new QHBoxLayout(w.liveOutputHeader);
    outputRow->setContentsMargins(0, 0, 0, 0);
    outputRow->setSpacing(10);
    auto *outputTitle = new QHBoxLayout;
    outputTitle->setSpacing(8);
    outputTitle->addWidget(new SymbolLabel(QStringLiteral("text.alignleft"), 16, Tone::secondary));
    outputTitle->addWidget(textLabel(QStringLiteral("Live Output"), TextStyle::title3, QFont::DemiBold));
    w.liveOutputProgress = new QProgressBar(w.liveOutputHeader);
    w.liveOutputProgress->setObjectName(QStringLiteral("liveOutputProgress"));
    w.liveOutputProgress->setRange(0, 0);
    w.liveOutputProgress->setTextVisible(false);
    w.liveOutputProgress->setFixedSize(48, 6);
    w.liveOutputProgress->setAccessibleName(QStringLiteral("Running"));
    outputTitle->addWidget(w.liveOutputProgress);
    outputRow->addLayout(outputTitle);
    outputRow->addStretch(1);
    w.copyButton = symbolButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), w.liveOutputHeader);
    w.copyButton->setObjectName(QStringLiteral("copyButton"));
    w.copyButton->setFlat(true);
    w.copyButton->setFont(styleFont(TextStyle::callout));
    connect(w.copyButton, &QPushButton::clicked, this, &ServiceDetailView::copyLiveOutput);
    outputRow->addWidget(w.copyButton);
    w.console = new Console(w.normalPage);
    w.console->setObjectName(QStringLiteral("liveOutput"));
    w.console->setFixedHeight(280);
    w.console->setAutoScroll(true);

    w.runHistory = new ServiceRunHistorySection(m_runHistoryManager, w.normalPage);
    w.runHistory->setObjectName(QStringLiteral("runHistory"));

    w.normalColumn->addWidget(w.header);
    w.normalColumn->addLayout(controls);
    w.normalColumn->addLayout(configuration);
    w.normalColumn->addWidget(grid);
    w.normalColumn->addWidget(w.liveOutputHeader);
    w.normalColumn->addWidget(w.console);
    w.normalColumn->addWidget(w.runHistory);
    w.normalColumn->addStretch(1);

    // Locked layout: the header and a centred card.
    auto *lockedCard = new QWidget(w.lockedPage);
    lockedCard->setObjectName(QStringLiteral("lockedCard"));
    auto *lockedColumn = new QVBoxLayout(lockedCard);
    lockedColumn->setContentsMargins(0, 0, 0, 48);
    lockedColumn->setSpacing(14);
    lockedColumn->addStretch(1);
    lockedColumn->addWidget(new SymbolLabel(QStringLiteral("lock.fill"), 38, Tone::orange), 0, Qt::AlignHCenter);
    lockedColumn->addWidget(textLabel(QStringLiteral("Service is locked"), TextStyle::title2, QFont::DemiBold), 0,
                            Qt::AlignHCenter);
    auto *lockedMessage = textLabel(QStringLiteral("This service uses a protected environment profile. Environment "
                                                   "profiles need to be unlocked before the service can be used."),
                                    TextStyle::callout);
    lockedMessage->setWordWrap(true);
    lockedMessage->setAlignment(Qt::AlignHCenter);
    lockedMessage->setMaximumWidth(440);
    setTextAlpha(lockedMessage, 0.6);
    lockedColumn->addWidget(lockedMessage, 0, Qt::AlignHCenter);
    lockedColumn->addSpacing(4);
    auto *unlockButton = symbolButton(QStringLiteral("Unlock"), QStringLiteral("lock.open"), lockedCard);
    unlockButton->setObjectName(QStringLiteral("unlockButton"));
    unlockButton->setDefault(true);
    connect(unlockButton, &QPushButton::clicked, this, [this] { call(m_callbacks.onUnlock); });
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
    if (anotherService)
        resetViewState();
    refreshHeader();
    refreshConfiguration();
    refreshLiveOutput();
}

void ServiceDetailView::resetViewState()
{
    m_isConfigurationExpanded = false;
    m_widgets->runHistory->setServiceId(m_service.id);
    m_widgets->console->setText(QString());
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

void ServiceDetailView::setCallbacks(Callbacks callbacks)
{
    m_callbacks = std::move(callbacks);
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
    }
    w.pages->setCurrentWidget(m_isLaunchLocked ? static_cast<QWidget *>(w.lockedPage) : w.scrollArea);
}

void ServiceDetailView::refreshHeader()
{
    Widgets &w = *m_widgets;
    w.title->setText(m_service.name);
    w.title->setAccessibleName(m_service.name);
    w.protectedLabel->setVisible(m_isEffectivelyProtected);
    w.protectedSymbol->setSymbolName(m_isLaunchLocked ? QStringLiteral("lock.fill") : QStringLiteral("lock.open.fill"));
    switch (m_runtime.state) {
    case ServiceLifecycleState::running:
        w.statusBadge->setText(QStringLiteral("Running"));
        w.statusBadge->setTone(Tone::green);
        break;
    case ServiceLifecycleState::stopped:
        w.statusBadge->setText(QStringLiteral("Stopped"));
        w.statusBadge->setTone(Tone::secondary);
        break;
    case ServiceLifecycleState::notResponding:
        w.statusBadge->setText(QStringLiteral("Not Responding"));
        w.statusBadge->setTone(Tone::orange);
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

void ServiceDetailView::refreshConfiguration()
{
    Widgets &w = *m_widgets;
    w.configurationChevron->setSymbolName(m_isConfigurationExpanded ? QStringLiteral("chevron.down")
                                                                    : QStringLiteral("chevron.right"));
    w.configurationToggle->setToolTip(m_isConfigurationExpanded ? QStringLiteral("Collapse configuration")
                                                                : QStringLiteral("Expand configuration"));
    w.migrationCard->setVisible(m_isConfigurationExpanded && m_isLocked);
    w.configurationCard->setVisible(m_isConfigurationExpanded && !m_isLocked);
    w.shellCommand->setText(m_service.command.isEmpty() ? emDash : m_service.command);
    std::optional<EnvironmentProfile> profile;
    if (m_environmentProfilesManager)
        profile = m_environmentProfilesManager->profile(m_service.environmentProfileId);
    w.environmentProfile->setText(profile ? profile->name : QStringLiteral("None"));
    w.launchOption->setText(m_service.openInTerminal ? QStringLiteral("Terminal") : QStringLiteral("Velmora"));
}

void ServiceDetailView::refreshMetrics()
{
    Widgets &w = *m_widgets;
    const bool running = m_runtime.state == ServiceLifecycleState::running;
    w.pidCard->setValue(m_runtime.pid ? QString::number(*m_runtime.pid) : emDash);
    w.cpuCard->setValue(running ? formatPercent(m_runtime.cpuPercent) : emDash);
    w.ramCard->setValue(running ? formatMemoryBytes(static_cast<qint64>(m_runtime.memoryBytes)) : emDash);
    w.uptimeCard->setValue(running ? formatDuration(m_runtime.uptime) : emDash);
}

void ServiceDetailView::refreshLiveOutput()
{
    Widgets &w = *m_widgets;
    const bool inApplication = !m_service.openInTerminal;
    w.liveOutputHeader->setVisible(inApplication);
    w.console->setVisible(inApplication);
    if (!inApplication)
        return;
    w.console->setText(m_runtime.processOutput);
    const bool hasOutput = !m_runtime.processOutput.isEmpty();
    w.copyButton->setEnabled(hasOutput);
    w.copyButton->setToolTip(hasOutput ? QStringLiteral("Copy output") : QStringLiteral("No output to copy"));
}

void ServiceDetailView::toggleConfiguration()
{
    m_isConfigurationExpanded = !m_isConfigurationExpanded;
    refreshConfiguration();
}

void ServiceDetailView::copyLiveOutput()
{
    if (m_runtime.processOutput.isEmpty())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_runtime.processOutput);
}

void ServiceDetailView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        reapplyTones(this);
}

void ServiceDetailView::call(const std::function<void()> &callback) const
{
    if (callback)
        callback();
}
