#include "ui/menubar/MenuBarStatusView.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/KeychainAccessBanner.h"
#include "ui/components/Palette.h"
#include "ui/components/PaletteFollower.h"
#include "ui/components/ProtectedDataLockButton.h"
#include "ui/components/StatusDot.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/menubar/MenuButtonTint.h"
#include "ui/menubar/MenuCommandThreatReviewView.h"
#include "ui/menubar/MenuMetricColumn.h"
#include "ui/menubar/MenuServiceRow.h"
#include "ui/menubar/MenuSudoPasswordPromptView.h"
#include "ui/menubar/MenuUsageLine.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

// A hairline between sections, the separator colour at half opacity.
class Divider : public QWidget {
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), withOpacity(ThemeColor::separator().resolve(this), 0.5));
    }
};

// The quit question's box: pale red with a red line along its top.
class QuitBox : public QWidget {
public:
    explicit QuitBox(QWidget *parent)
        : QWidget(parent)
    {}

    static QColor fill() { return withOpacity(Palette::red(), 0.12); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), fill());
        painter.fillRect(QRect(0, 0, width(), 2), Palette::red());
    }
};

QString percentText(double percent)
{
    return QString::asprintf("%.1f%%", percent);
}

} // namespace

MenuBarStatusView::MenuBarStatusView(ServiceManager *serviceManager, EnvironmentProfilesManager *profilesManager,
                                     ProtectedProfilesLockManager *lockManager, MonitoringManager *monitoringManager,
                                     bool applicationReady, QWidget *parent)
    : QWidget(parent),
      m_controller(new MenuBarStatusController(serviceManager, profilesManager, lockManager, monitoringManager, this))
{
    m_controller->setApplicationReady(applicationReady);
    setFixedWidth(panelWidth);
    setAttribute(Qt::WA_StyledBackground, false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addWidget(buildHeader());
    layout->addWidget(new Divider(this));
    layout->addWidget(sectionTitle(QStringLiteral("System Resources")));
    layout->addWidget(buildLoadRow());
    layout->addWidget(new Divider(this));

    m_bannerBox = new QWidget(this);
    auto *bannerLayout = new QVBoxLayout(m_bannerBox);
    bannerLayout->setContentsMargins(0, 0, 0, 0);
    bannerLayout->setSpacing(0);
    auto *bannerPadding = new QVBoxLayout;
    bannerPadding->setContentsMargins(10, 8, 10, 8);
    m_banner = new KeychainAccessBanner(QString(), KeychainAccessBanner::Style::compact, m_bannerBox);
    bannerPadding->addWidget(m_banner);
    bannerLayout->addLayout(bannerPadding);
    bannerLayout->addWidget(new Divider(m_bannerBox));
    layout->addWidget(m_bannerBox);
    connect(m_banner, &KeychainAccessBanner::retryRequested, m_controller,
            &MenuBarStatusController::retryKeychainAccess);

    m_modeLayout = new QVBoxLayout;
    m_modeLayout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_modeLayout);
    layout->addWidget(buildFooter());

    connect(m_controller, &MenuBarStatusController::promptStateChanged, this, &MenuBarStatusView::rebuildModeSection);
    connect(m_controller, &MenuBarStatusController::applicationReadyChanged, this,
            &MenuBarStatusView::rebuildModeSection);
    connect(m_controller, &MenuBarStatusController::servicesStateChanged, this, [this] {
        refreshHeader();
        refreshServices();
        refreshQuitConfirmation();
    });
    connect(m_controller, &MenuBarStatusController::systemMetricsChanged, this, &MenuBarStatusView::refreshMetrics);
    connect(m_controller, &MenuBarStatusController::keychainAccessGuidanceChanged, this,
            &MenuBarStatusView::refreshBanner);
    connect(m_controller, &MenuBarStatusController::contentSizeMayHaveChanged, this,
            &MenuBarStatusView::contentSizeMayHaveChanged);

    refreshHeader();
    refreshMetrics();
    refreshBanner();
    rebuildModeSection();
}

QWidget *MenuBarStatusView::buildHeader()
{
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(14, 12, 14, 12);
    row->setSpacing(10);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(new StyledLabel(QStringLiteral("Velmora"), TextStyle::headline, header));
    m_status = new StyledLabel(QString(), TextStyle::caption, QFont::Normal, ThemeColor::secondary(), header);
    m_status->setTabularDigits(true);
    titles->addWidget(m_status);
    row->addLayout(titles);
    row->addStretch(1);
    m_lockButton =
        new ProtectedDataLockButton(m_controller->hasProtectedProfiles(), m_controller->isUnlocked(), header);
    connect(m_controller, &MenuBarStatusController::isUnlockedChanged, m_lockButton,
            &ProtectedDataLockButton::setUnlocked);
    connect(m_lockButton, &ProtectedDataLockButton::lockRequested, m_controller,
            &MenuBarStatusController::lockProtectedProfiles);
    row->addWidget(m_lockButton, 0, Qt::AlignVCenter);
    m_dot = new StatusDot(8, ThemeColor::secondary(), header);
    showRunning(false);
    row->addWidget(m_dot, 0, Qt::AlignVCenter);
    return header;
}

QWidget *MenuBarStatusView::sectionTitle(const QString &title)
{
    auto *label = new StyledLabel(title.toUpper(), TextStyle::caption2, QFont::DemiBold, ThemeColor::tertiary(), this);
    label->setContentsMargins(12, 9, 12, 2);
    label->setAccessibleName(title);
    return label;
}

QWidget *MenuBarStatusView::buildLoadRow()
{
    auto *load = new QWidget(this);
    auto *row = new QHBoxLayout(load);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);
    m_columns[0] = new MenuMetricColumn(QStringLiteral("CPU"), Palette::Color::blue, load);
    m_columns[1] = new MenuMetricColumn(QStringLiteral("RAM"), Palette::Color::green, load);
    m_columns[2] = new MenuMetricColumn(QStringLiteral("GPU"), Palette::Color::orange, load);
    for (MenuMetricColumn *column : m_columns)
        row->addWidget(column, 1);
    return load;
}

QWidget *MenuBarStatusView::buildFooter()
{
    m_footerBox = new QWidget(this);
    auto *box = new QVBoxLayout(m_footerBox);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    box->addWidget(new Divider(m_footerBox));
    auto *row = new QHBoxLayout;
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);
    m_openApp = new QPushButton(QStringLiteral("Open Velmora"), m_footerBox);
    tintProminent(m_openApp, Palette::Color::slate);
    connect(m_openApp, &QPushButton::clicked, m_controller, &MenuBarStatusController::openApp);
    row->addWidget(m_openApp);
    row->addStretch(1);
    m_footerQuit = new QPushButton(QStringLiteral("Quit"), m_footerBox);
    m_footerQuit->setFlat(true);
    tintText(m_footerQuit, Palette::Color::red);
    connect(m_footerQuit, &QPushButton::clicked, m_controller, &MenuBarStatusController::beginQuitConfirmation);
    row->addWidget(m_footerQuit);
    box->addLayout(row);
    return m_footerBox;
}

void MenuBarStatusView::rebuildModeSection()
{
    m_rows.clear();
    m_rowsLayout = nullptr;
    m_more = nullptr;
    m_empty = m_progress = m_quitBox = nullptr;
    m_confirmQuit = m_cancelQuit = nullptr;
    m_quitWarning = nullptr;
    m_review = nullptr;
    m_sudo = nullptr;
    if (m_modeSection) {
        m_modeSection->hide();
        m_modeSection->deleteLater();
    }
    m_modeSection = new QWidget(this);
    auto *section = new QVBoxLayout(m_modeSection);
    section->setContentsMargins(0, 0, 0, 0);
    section->setSpacing(0);

    switch (m_controller->mode()) {
    case MenuBarStatusController::Mode::quitConfirmation:
        section->addWidget(buildQuitConfirmation());
        break;
    case MenuBarStatusController::Mode::threatReview: {
        const CommandThreatReviewRequest request = *m_controller->commandThreatRequest();
        section->addWidget(sectionTitle(QStringLiteral("Security Check")));
        m_review = new MenuCommandThreatReviewView(request, m_modeSection);
        connect(m_review, &MenuCommandThreatReviewView::runAnywayRequested, m_controller,
                [controller = m_controller, request] { controller->runAnywayAfterReview(request); });
        connect(m_review, &MenuCommandThreatReviewView::cancelRequested, m_controller,
                &MenuBarStatusController::cancelReview);
        section->addWidget(m_review);
        // The row that asked is gone with its focus.
        m_review->setFocus(Qt::OtherFocusReason);
        break;
    }
    case MenuBarStatusController::Mode::sudoPrompt: {
        const SudoPasswordRequest request = *m_controller->sudoRequest();
        section->addWidget(sectionTitle(QStringLiteral("Services")));
        m_sudo = new MenuSudoPasswordPromptView(request, m_controller->sudoErrorMessage(), m_modeSection);
        connect(m_sudo, &MenuSudoPasswordPromptView::passwordSubmitted, m_controller,
                [controller = m_controller, request](SharedSensitiveBytes password) {
                    controller->submitSudoPassword(std::move(password), request);
                });
        connect(m_sudo, &MenuSudoPasswordPromptView::cancelRequested, m_controller,
                &MenuBarStatusController::cancelSudoPrompt);
        section->addWidget(m_sudo);
        break;
    }
    case MenuBarStatusController::Mode::services:
        section->addWidget(sectionTitle(QStringLiteral("Services")));
        section->addWidget(buildServicesSection());
        break;
    }
    m_modeLayout->addWidget(m_modeSection);
    m_footerBox->setVisible(!m_controller->isConfirmingQuit());
    refreshServices();
}

QWidget *MenuBarStatusView::buildServicesSection()
{
    auto *box = new QWidget(m_modeSection);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (!m_controller->isApplicationReady()) {
        auto *bar = new QProgressBar(box);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        bar->setFixedSize(120, 6);
        bar->setAccessibleName(QStringLiteral("Loading"));
        layout->setContentsMargins(0, 20, 0, 20);
        layout->addWidget(bar, 0, Qt::AlignHCenter);
        m_progress = bar;
        return box;
    }
    if (!m_controller->hasServices()) {
        m_empty = new QWidget(box);
        auto *empty = new QVBoxLayout(m_empty);
        empty->setContentsMargins(14, 16, 14, 16);
        empty->setSpacing(4);
        empty->addWidget(new StyledLabel(QStringLiteral("No services yet"), TextStyle::callout, QFont::Medium,
                                         ThemeColor::primary(), m_empty));
        empty->addWidget(new StyledLabel(QStringLiteral("Open the app to add one."), TextStyle::caption, QFont::Normal,
                                         ThemeColor::secondary(), m_empty));
        layout->addWidget(m_empty);
        return box;
    }
    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setContentsMargins(0, 4, 0, 4);
    m_rowsLayout->setSpacing(0);
    layout->addLayout(m_rowsLayout);
    QPointer<MenuBarStatusController> controller = m_controller;
    for (const ManagedService &service : m_controller->menuServices()) {
        auto *row = new MenuServiceRow(service, box);
        connect(row, &MenuServiceRow::openRequested, m_controller, &MenuBarStatusController::openService);
        connect(row, &MenuServiceRow::toggleRequested, m_controller, [controller](const ManagedService &toggled) {
            if (controller)
                controller->toggleService(toggled);
        });
        m_rowsLayout->addWidget(row);
        m_rows.append(row);
    }
    const int hidden = m_controller->hiddenServiceCount();
    if (hidden >= 1) {
        m_more = new QPushButton(QString::number(hidden) + QStringLiteral(" more in app…"), box);
        m_more->setFlat(true);
        m_more->setFont(textStyleFont(TextStyle::caption));
        m_more->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 8px 12px; border: none; }"));
        QPalette secondary = m_more->palette();
        secondary.setColor(QPalette::ButtonText, secondaryTextColor());
        m_more->setPalette(secondary);
        m_more->setCursor(Qt::PointingHandCursor);
        connect(m_more, &QPushButton::clicked, m_controller, &MenuBarStatusController::openServices);
        layout->addWidget(m_more);
    }
    return box;
}

QWidget *MenuBarStatusView::buildQuitConfirmation()
{
    m_quitBox = new QuitBox(m_modeSection);
    auto *box = new QVBoxLayout(m_quitBox);
    box->setContentsMargins(14, 14, 14, 14);
    box->setSpacing(12);
    auto *title = new QHBoxLayout;
    title->setSpacing(8);
    title->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), symbolPixelSize(TextStyle::title3),
                                    Palette::Color::red, m_quitBox));
    auto *question = new StyledLabel(QStringLiteral("Quit Velmora?"), TextStyle::callout, QFont::DemiBold,
                                     Palette::Color::red, m_quitBox);
    // Red on the box's pale red: the red deepened (or, in the dark, lightened) as far as reading needs.
    followPalette(question, [question] {
        const QColor surface =
            ColorContrast::compositedOver(QuitBox::fill(), question->palette().color(QPalette::Window));
        question->setColor(ThemeColor::fixed(ColorContrast::legibleVariant(Palette::red(), surface)));
    });
    title->addWidget(question);
    title->addStretch(1);
    box->addLayout(title);
    m_quitWarning = new StyledLabel(QString(), TextStyle::caption, QFont::Normal, ThemeColor::primary(), m_quitBox);
    followPalette(m_quitWarning, [warning = m_quitWarning] {
        warning->setColor(ThemeColor::fixed(withOpacity(primaryTextColor(), 0.85)));
    });
    m_quitWarning->setWordWrap(true);
    box->addWidget(m_quitWarning);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_cancelQuit = new QPushButton(QStringLiteral("Cancel"), m_quitBox);
    connect(m_cancelQuit, &QPushButton::clicked, m_controller, &MenuBarStatusController::cancelQuitConfirmation);
    buttons->addWidget(m_cancelQuit);
    buttons->addStretch(1);
    m_confirmQuit = new QPushButton(m_quitBox);
    tintProminent(m_confirmQuit, Palette::Color::red);
    connect(m_confirmQuit, &QPushButton::clicked, m_controller, &MenuBarStatusController::quit);
    buttons->addWidget(m_confirmQuit);
    box->addLayout(buttons);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_quitBox, [this] {
        if (m_cancelQuit)
            m_cancelQuit->click();
    });
    escape->setContext(Qt::WindowShortcut);
    refreshQuitConfirmation();
    return m_quitBox;
}

void MenuBarStatusView::refreshQuitConfirmation()
{
    // A service that starts or stops while the question is up changes what
    // quitting will terminate.
    if (!m_quitBox)
        return;
    const int running = m_controller->runningServiceCount();
    const std::optional<QString> warning = runningServicesQuitWarning(running);
    const bool resized = m_quitWarning->isHidden() == warning.has_value();
    m_quitWarning->setText(warning.value_or(QString()));
    m_quitWarning->setVisible(warning.has_value());
    m_confirmQuit->setText(running >= 1 ? QStringLiteral("Quit && Terminate") : QStringLiteral("Quit"));
    if (resized)
        Q_EMIT contentSizeMayHaveChanged();
}

void MenuBarStatusView::refreshHeader()
{
    const QString status = m_controller->statusText();
    if (m_status->text() != status)
        m_status->setText(status);
    showRunning(m_controller->runningServiceCount() >= 1);
    m_lockButton->setHasProtectedData(m_controller->hasProtectedProfiles());
}

QWidget *MenuBarStatusView::statusDot() const
{
    return m_dot;
}

// The header's dot: green while something runs.
void MenuBarStatusView::showRunning(bool running)
{
    const QString text = running ? QStringLiteral("Services running") : QStringLiteral("All stopped");
    if (m_dot->toolTip() == text)
        return;
    m_dot->setColor(running ? ThemeColor(Palette::Color::green) : ThemeColor::secondary(), running ? 1.0 : 0.35);
    m_dot->setToolTip(text);
    m_dot->setAccessibleName(text);
}

void MenuBarStatusView::refreshMetrics()
{
    const SystemMetrics metrics = m_controller->systemMetrics();
    const QString cpu = percentText(metrics.cpuPercent);
    m_columns[0]->setReading(cpu, metrics.cpuPercent / 100.0, QStringLiteral("CPU ") + cpu);
    const double memoryPercent = metrics.memoryTotalBytes == 0
                                     ? 0.0
                                     : double(metrics.memoryUsedBytes) / double(metrics.memoryTotalBytes) * 100.0;
    m_columns[1]->setReading(percentText(memoryPercent), memoryPercent / 100.0,
                             formatMemoryBytes(metrics.memoryUsedBytes) + QStringLiteral(" of ")
                                 + formatMemoryBytes(metrics.memoryTotalBytes));
    const QString gpu = metrics.gpuPercent ? percentText(*metrics.gpuPercent) : QStringLiteral("—");
    m_columns[2]->setReading(gpu,
                             metrics.gpuPercent ? std::optional<double>(*metrics.gpuPercent / 100.0) : std::nullopt,
                             QStringLiteral("GPU ") + gpu);
}

void MenuBarStatusView::refreshBanner()
{
    const std::optional<QString> guidance = m_controller->keychainAccessGuidance();
    if (guidance && m_banner->message() != *guidance)
        m_banner->setMessage(*guidance);
    m_bannerBox->setVisible(guidance.has_value());
}

void MenuBarStatusView::refreshServices()
{
    if (m_controller->mode() != MenuBarStatusController::Mode::services || !m_controller->isApplicationReady())
        return;
    const QList<ManagedService> services = m_controller->menuServices();
    const int hidden = m_controller->hiddenServiceCount();
    bool sameRows = services.size() == m_rows.size() && (hidden >= 1) == (m_more != nullptr)
                    && (m_empty == nullptr) == !services.isEmpty();
    for (qsizetype index = 0; sameRows && index < services.size(); ++index)
        sameRows = services[index].id == m_rows[index]->serviceId();
    if (!sameRows) {
        // Another set or order of services: the list is built again.
        rebuildModeSection();
        return;
    }
    if (m_more)
        m_more->setText(QString::number(hidden) + QStringLiteral(" more in app…"));
    for (qsizetype index = 0; index < services.size(); ++index) {
        const ManagedService &service = services[index];
        m_rows[index]->showService(service, m_controller->runtimeOf(service.id), m_controller->markerSymbol(service));
    }
}

void MenuBarStatusView::paintEvent(QPaintEvent *)
{
    // The panel's material: the window colour, rounded at the corners.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(shape, palette().window());
    painter.setPen(QPen(withOpacity(ThemeColor::separator().resolve(this), 0.8), 1));
    painter.drawPath(shape);
}
