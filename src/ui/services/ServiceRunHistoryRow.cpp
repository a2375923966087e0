#include "ui/services/ServiceRunHistoryRow.h"

#include "ui/services/ServiceRunHistoryRowOutcome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using namespace ServiceDetailStyle;

namespace {

// A 28 × 28 symbol on a rounded, tinted square: the row's output and delete buttons.
class SquareSymbolButton : public QAbstractButton {
public:
    SquareSymbolButton(const QString &symbolName, Tone tone, QWidget *parent)
        : QAbstractButton(parent)
        , m_symbolName(symbolName)
        , m_tone(tone)
    {
        setFixedSize(28, 28);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        setProperty("symbolName", symbolName);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor tint = isEnabled() ? color(m_tone, this) : color(Tone::secondary, this);
        if (!isEnabled())
            tint.setAlphaF(0.55f * 0.6f);
        QColor fill = isEnabled() ? color(m_tone, this) : color(Tone::secondary, this);
        fill.setAlphaF(fill.alphaF() * (isDown() ? 0.24f : 0.12f));
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(path, fill);
        if (hasFocus()) {
            painter.setPen(QPen(QApplication::palette(this).color(QPalette::Highlight), 1.5));
            painter.drawPath(path);
        }
        const int size = 14;
        painter.drawPixmap((width() - size) / 2, (height() - size) / 2, symbolPixmap(m_symbolName, size, tint));
    }

private:
    QString m_symbolName;
    Tone m_tone;
};

QWidget *symbolText(const QString &symbolName, const QString &text, std::optional<Tone> tone, TextStyle style,
                    QFont::Weight weight, QLabel **textOut = nullptr, SymbolLabel **symbolOut = nullptr)
{
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto *label = textLabel(text, style, weight);
    auto *symbolLabel = new SymbolLabel(symbolName, label->fontMetrics().height() - 2, tone);
    if (tone)
        setTextTone(label, *tone);
    else
        setTextAlpha(label, 0.6);
    row->addWidget(symbolLabel);
    row->addWidget(label);
    if (textOut)
        *textOut = label;
    if (symbolOut)
        *symbolOut = symbolLabel;
    return box;
}

QString severityWord(CommandThreatSeverity severity)
{
    return label(severity);
}

} // namespace

Tone outcomeTone(const ServiceRunRecord &record)
{
    switch (outcomeColor(record)) {
    case ServiceRunOutcomeColor::green: return Tone::green;
    case ServiceRunOutcomeColor::red: return Tone::red;
    case ServiceRunOutcomeColor::slate: return Tone::slate;
    case ServiceRunOutcomeColor::orange: return Tone::orange;
    }
    return Tone::slate;
}

ServiceRunHistoryRow::ServiceRunHistoryRow(const ServiceRunRecord &record, QWidget *parent)
    : Card(16, parent)
    , m_record(record)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    buildTopLine();
    m_divider = new QFrame(this);
    static_cast<QFrame *>(m_divider)->setFrameShape(QFrame::HLine);
    static_cast<QFrame *>(m_divider)->setFrameShadow(QFrame::Plain);
    m_divider->setObjectName(QStringLiteral("divider"));
    QPalette dividerPalette = m_divider->palette();
    QColor line = QApplication::palette(this).color(QPalette::WindowText);
    line.setAlphaF(0.4f * 0.25f);
    dividerPalette.setColor(QPalette::WindowText, line);
    m_divider->setPalette(dividerPalette);
    m_divider->hide();
    column->addWidget(m_divider);
    refreshSummary();
}

void ServiceRunHistoryRow::buildTopLine()
{
    auto *topLine = new QHBoxLayout;
    topLine->setSpacing(10);
    topLine->setAlignment(Qt::AlignTop);
    static_cast<QVBoxLayout *>(layout())->addLayout(topLine);

    auto *summaryButton = new RowButton(this);
    summaryButton->setObjectName(QStringLiteral("summaryButton"));
    m_summaryButton = summaryButton;
    auto *summary = new QWidget;
    auto *summaryColumn = new QVBoxLayout(summary);
    summaryColumn->setContentsMargins(0, 0, 0, 0);
    summaryColumn->setSpacing(6);

    auto *outcomeLine = new QHBoxLayout;
    outcomeLine->setSpacing(8);
    m_dateLabel = textLabel(QString(), TextStyle::callout, QFont::DemiBold);
    m_dateLabel->setObjectName(QStringLiteral("runDate"));
    m_outcomeBadge = new Badge(Badge::Kind::status);
    m_outcomeBadge->setObjectName(QStringLiteral("outcomeBadge"));
    m_securityBadge = symbolText(QStringLiteral("hand.raised.fill"), QString(), Tone::red, TextStyle::caption,
                                 QFont::DemiBold, &m_securityText, &m_securitySymbol);
    m_securityBadge->setObjectName(QStringLiteral("securityBadge"));
    m_newBadge = new Badge(Badge::Kind::count);
    m_newBadge->setObjectName(QStringLiteral("newBadge"));
    m_newBadge->setText(QStringLiteral("New"));
    m_newBadge->setTone(Tone::slate);
    m_newBadge->setSymbolName(QStringLiteral("sparkles"));
    m_exitLabel = textLabel(QString(), TextStyle::caption);
    m_exitLabel->setObjectName(QStringLiteral("exitCode"));
    setTextAlpha(m_exitLabel, 0.6);
    m_chevron = new SymbolLabel(QStringLiteral("chevron.right"), 12);
    m_chevron->setObjectName(QStringLiteral("chevron"));
    for (QWidget *widget : {static_cast<QWidget *>(m_dateLabel), static_cast<QWidget *>(m_outcomeBadge),
                            m_securityBadge, static_cast<QWidget *>(m_newBadge), static_cast<QWidget *>(m_exitLabel)})
        outcomeLine->addWidget(widget);
    outcomeLine->addStretch(1);
    outcomeLine->addWidget(m_chevron);
    summaryColumn->addLayout(outcomeLine);

    m_secondLineHost = new QWidget;
    auto *secondLineLayout = new QVBoxLayout(m_secondLineHost);
    secondLineLayout->setContentsMargins(0, 0, 0, 0);
    summaryColumn->addWidget(m_secondLineHost);
    summaryButton->addToRow(summary);
    topLine->addWidget(summaryButton, 1, Qt::AlignTop);

    m_outputButton = new SquareSymbolButton(QStringLiteral("text.alignleft"), Tone::slate, this);
    m_outputButton->setObjectName(QStringLiteral("outputButton"));
    connect(m_outputButton, &QAbstractButton::clicked, this, &ServiceRunHistoryRow::viewOutputRequested);
    topLine->addWidget(m_outputButton, 0, Qt::AlignTop);

    m_deleteButton = new SquareSymbolButton(QStringLiteral("trash"), Tone::red, this);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_deleteButton->setToolTip(QStringLiteral("Delete this run"));
    m_deleteButton->setAccessibleName(QStringLiteral("Delete this run"));
    connect(m_deleteButton, &QAbstractButton::clicked, this, &ServiceRunHistoryRow::deleteRequested);
    topLine->addWidget(m_deleteButton, 0, Qt::AlignTop);

    connect(m_summaryButton, &QAbstractButton::clicked, this, &ServiceRunHistoryRow::toggleExpandRequested);
}

void ServiceRunHistoryRow::setRecord(const ServiceRunRecord &record)
{
    if (record == m_record)
        return;
    m_record = record;
    m_detailsStale = true;
    refreshSummary();
}

void ServiceRunHistoryRow::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    refreshSummary();
}

void ServiceRunHistoryRow::setNew(bool isNew)
{
    if (isNew == m_isNew)
        return;
    m_isNew = isNew;
    m_newBadge->setVisible(isNew);
    setOutline(isNew ? std::optional<Tone>(Tone::slate) : std::nullopt);
}

void ServiceRunHistoryRow::refreshSummary()
{
    const QString date = formatOptionalDate(m_record.startedAt);
    m_dateLabel->setText(date);
    m_outcomeBadge->setText(outcomeLabel(m_record));
    m_outcomeBadge->setTone(outcomeTone(m_record));

    const auto &scan = m_record.securityScan;
    const bool showsSecurity = scan && scan->outcome != ServiceRunSecurityOutcome::noFindings;
    m_securityBadge->setVisible(showsSecurity);
    if (showsSecurity) {
        const bool approved = scan->outcome == ServiceRunSecurityOutcome::approved;
        m_securityText->setText(approved ? securityWarningCountText(scan->findings.size()) : QStringLiteral("Blocked"));
        m_securitySymbol->setSymbolName(approved ? QStringLiteral("shield.lefthalf.filled.badge.checkmark")
                                                 : QStringLiteral("hand.raised.fill"));
        m_securitySymbol->setTone(approved ? Tone::orange : Tone::red);
        setTextTone(m_securityText, approved ? Tone::orange : Tone::red);
    }
    m_newBadge->setVisible(m_isNew);
    m_exitLabel->setVisible(m_record.exitCode.has_value());
    if (m_record.exitCode)
        m_exitLabel->setText(QStringLiteral("exit ") + QString::number(*m_record.exitCode));
    m_chevron->setSymbolName(m_expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));

    delete m_secondLine;
    if (m_record.stopReason == ServiceRunStopReason::securityBlocked) {
        m_secondLine = symbolText(QStringLiteral("shield.slash.fill"),
                                  QStringLiteral("Launch prevented before a process started"), std::nullopt,
                                  TextStyle::caption, QFont::Normal);
        m_secondLine->setObjectName(QStringLiteral("launchPrevented"));
    } else {
        m_secondLine = buildFiguresLine();
    }
    m_secondLineHost->layout()->addWidget(m_secondLine);

    const bool hasOutput = !m_record.output.isEmpty();
    m_outputButton->setEnabled(hasOutput);
    const QString outputHelp = hasOutput ? QStringLiteral("View run output") : QStringLiteral("No output captured");
    m_outputButton->setToolTip(outputHelp);
    m_outputButton->setAccessibleName(outputHelp);
    m_summaryButton->setAccessibleName(date + QStringLiteral(", ") + outcomeLabel(m_record));
    m_summaryButton->setToolTip(QString());

    m_divider->setVisible(m_expanded);
    if (m_expanded && (m_detailsStale || !m_details))
        rebuildDetails();
    if (m_details)
        m_details->setVisible(m_expanded);
}

QWidget *ServiceRunHistoryRow::buildFiguresLine()
{
    auto *line = new QWidget;
    line->setObjectName(QStringLiteral("figures"));
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    const double seconds = std::max<qint64>(0, m_record.startedAt.secsTo(m_record.endedAt));
    const QList<std::pair<QString, QString>> items {
        {QStringLiteral("PID"), m_record.pid ? QString::number(*m_record.pid) : QString(QChar(0x2014))},
        {QStringLiteral("Peak CPU"), formatPercent(m_record.peakCpuPercent)},
        {QStringLiteral("Peak RAM"), formatMemoryBytes(static_cast<qint64>(m_record.peakMemoryBytes))},
        {QStringLiteral("Duration"), formatDuration(seconds)},
    };
    for (const auto &[caption, value] : items) {
        auto *item = new QHBoxLayout;
        item->setSpacing(3);
        auto *captionLabel = textLabel(caption, TextStyle::caption);
        setTextAlpha(captionLabel, 0.4);
        auto *valueLabel = textLabel(value, TextStyle::caption);
        valueLabel->setObjectName(caption);
        setTextAlpha(valueLabel, 0.6);
        item->addWidget(captionLabel);
        item->addWidget(valueLabel);
        row->addLayout(item);
    }
    row->addStretch(1);
    return line;
}

void ServiceRunHistoryRow::rebuildDetails()
{
    delete m_details;
    m_details = new QWidget(this);
    m_details->setObjectName(QStringLiteral("details"));
    auto *column = new QVBoxLayout(m_details);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (m_record.securityScan) {
        column->addWidget(buildSecurityBlock());
        auto *divider = new QFrame;
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Plain);
        divider->setPalette(m_divider->palette());
        column->addSpacing(3);
        column->addWidget(divider);
        column->addSpacing(3);
    }
    auto *profileLine = new ElidedLabel(Qt::ElideRight);
    profileLine->setObjectName(QStringLiteral("profileLine"));
    profileLine->setFont(styleFont(TextStyle::caption, QFont::DemiBold));
    profileLine->setText(QStringLiteral("Environment Profile \u00B7 ")
                         + m_record.environmentProfileName.value_or(QStringLiteral("None")));
    setTextAlpha(profileLine, 0.6);
    column->addWidget(profileLine);
    column->addWidget(buildVariables());
    static_cast<QVBoxLayout *>(layout())->addWidget(m_details);
    m_detailsStale = false;
}

QWidget *ServiceRunHistoryRow::buildSecurityBlock()
{
    auto *block = new QWidget;
    block->setObjectName(QStringLiteral("securityBlock"));
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    struct Verdict {
        const char *text;
        const char *symbolName;
        Tone tone;
    };
    Verdict verdict {"No findings", "checkmark.shield.fill", Tone::green};
    if (m_record.securityScan->outcome == ServiceRunSecurityOutcome::approved)
        verdict = {"Warning bypassed", "exclamationmark.shield.fill", Tone::orange};
    else if (m_record.securityScan->outcome == ServiceRunSecurityOutcome::blocked)
        verdict = {"Critical command blocked", "hand.raised.fill", Tone::red};
    QLabel *verdictText = nullptr;
    QWidget *verdictLabel = symbolText(QString::fromLatin1(verdict.symbolName), QString::fromUtf8(verdict.text),
                                       verdict.tone, TextStyle::caption, QFont::DemiBold, &verdictText);
    verdictText->setObjectName(QStringLiteral("verdict"));
    column->addWidget(verdictLabel, 0, Qt::AlignLeft);
    for (const CommandThreatFinding &finding : m_record.securityScan->findings) {
        auto *line = new QHBoxLayout;
        line->setSpacing(6);
        auto *severity = textLabel(severityWord(finding.severity), TextStyle::caption2, QFont::DemiBold);
        severity->setFixedWidth(48);
        setTextTone(severity, finding.severity == CommandThreatSeverity::medium ? Tone::orange : Tone::red);
        auto *title = textLabel(finding.title, TextStyle::caption);
        title->setWordWrap(true);
        setTextAlpha(title, 0.6);
        line->addWidget(severity, 0, Qt::AlignTop);
        line->addWidget(title, 1, Qt::AlignTop);
        column->addLayout(line);
    }
    return block;
}

QWidget *ServiceRunHistoryRow::buildVariables()
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("variables"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (m_record.environment.isEmpty()) {
        auto *none = textLabel(QStringLiteral("No environment variables"), TextStyle::caption);
        setTextAlpha(none, 0.4);
        column->addWidget(none);
        return box;
    }
    for (const ServiceRunEnvironmentEntry &entry : m_record.environment) {
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        auto *key = new ElidedLabel(Qt::ElideMiddle);
        key->setFont(monospacedFont(TextStyle::caption, QFont::Medium));
        key->setText(entry.key);
        key->setFixedWidth(100);
        setTextAlpha(key, 0.6);
        // The value is the stored one, which for a secret is already the mask.
        auto *value = new ElidedLabel(Qt::ElideRight);
        value->setObjectName(QStringLiteral("variableValue"));
        value->setFont(monospacedFont(TextStyle::caption));
        value->setText(entry.value);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (entry.isSecret)
            setTextAlpha(value, 0.6);
        line->addWidget(key);
        line->addWidget(value, 1);
        if (entry.isSecret) {
            auto *lock = new SymbolLabel(QStringLiteral("lock.fill"), 10, Tone::orange);
            lock->setObjectName(QStringLiteral("secretLock"));
            line->addWidget(lock);
        }
        column->addLayout(line);
    }
    return box;
}
