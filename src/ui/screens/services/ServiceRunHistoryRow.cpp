#include "ui/screens/services/ServiceRunHistoryRow.h"

#include "ui/components/ColorContrast.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/FocusMark.h"
#include "ui/components/LabeledValueText.h"
#include "ui/components/NameRule.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/SymbolView.h"
#include "ui/components/TextStyle.h"
#include "ui/screens/services/ServiceDetailViewStyle.h"
#include "ui/screens/services/ServiceRunHistoryRowOutcome.h"

#include <algorithm>

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using ServiceDetailStyle::CapsuleBadge;
using ServiceDetailStyle::RowButton;

namespace {

const QString emDash = QString(QChar(0x2014));

// A 28 × 28 symbol on a rounded, tinted square: the row's output and delete buttons.
class SquareSymbolButton : public QAbstractButton {
public:
    SquareSymbolButton(const QString &symbolName, Palette::Color tint, QWidget *parent)
        : QAbstractButton(parent),
          m_symbolName(symbolName),
          m_tint(tint)
    {
        setFixedSize(28, 28);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        setProperty(symbolNameProperty, symbolName);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor tint = isEnabled() ? Palette::color(m_tint) : ThemeColor::secondary().resolve(this);
        const QColor symbolColor = isEnabled() ? tint : withOpacity(tint, 0.55);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(path, withOpacity(tint, isDown() ? 0.24 : 0.12));
        if (hasFocus())
            paintFocusMark(painter, QRectF(rect()), 6, this);
        const int size = symbolPixelSize(TextStyle::caption);
        painter.drawPixmap((width() - size) / 2, (height() - size) / 2,
                           symbolPixmap(m_symbolName, size, symbolColor, devicePixelRatioF()));
    }

private:
    QString m_symbolName;
    Palette::Color m_tint;
};

// A symbol followed by a text, both in one colour.
QWidget *symbolText(const QString &symbolName, const QString &text, ThemeColor color, TextStyle style,
                    QFont::Weight weight, StyledLabel **textOut = nullptr, SymbolView **symbolOut = nullptr)
{
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto *label = new StyledLabel(text, style, weight, color);
    auto *symbol = new SymbolView(symbolName, symbolPixelSize(style), color);
    row->addWidget(symbol);
    row->addWidget(label);
    if (textOut)
        *textOut = label;
    if (symbolOut)
        *symbolOut = symbol;
    return box;
}

// A one-point line in the separator colour, drawn at paint time so it follows the theme.
class Divider : public QWidget {
public:
    explicit Divider(qreal opacity)
        : m_opacity(opacity)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), withOpacity(ThemeColor::separator().resolve(this), m_opacity));
    }

private:
    qreal m_opacity;
};

QWidget *divider(qreal opacity)
{
    return new Divider(opacity);
}

// The figures side by side on one line, which never makes the row wider:
// where the row is narrower, the line is cut at its end, as a one-line text
// is. The figures before the cut stay whole, the one at the cut shows its
// caption and as much of its value as fits, and any after it are left out.
class FiguresLine final : public QWidget {
public:
    static constexpr int spacing = 10;

    void addFigure(LabeledValueText *figure)
    {
        figure->setParent(this);
        figure->valueLabel()->setElideMode(Qt::ElideRight);
        m_figures.append(figure);
        updateGeometry();
    }
    QSize sizeHint() const override
    {
        QSize hint(0, 0);
        for (const LabeledValueText *figure : m_figures) {
            const QSize figureHint = figure->sizeHint();
            hint = {hint.width() + (hint.width() > 0 ? spacing : 0) + figureHint.width(),
                    std::max(hint.height(), figureHint.height())};
        }
        return hint;
    }
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        int x = 0;
        for (LabeledValueText *figure : m_figures) {
            const int room = width() - x;
            const bool shown = room >= figure->minimumSizeHint().width();
            figure->setVisible(shown);
            if (shown)
                figure->setGeometry(x, 0, std::min(room, figure->sizeHint().width()), height());
            x = shown ? x + figure->width() + spacing : width();
        }
    }

private:
    QList<LabeledValueText *> m_figures;
};

} // namespace

Palette::Color outcomePaletteColor(const ServiceRunRecord &record)
{
    switch (outcomeColor(record)) {
    case ServiceRunOutcomeColor::green:
        return Palette::Color::green;
    case ServiceRunOutcomeColor::red:
        return Palette::Color::red;
    case ServiceRunOutcomeColor::slate:
        return Palette::Color::slate;
    case ServiceRunOutcomeColor::orange:
        return Palette::Color::orange;
    }
    return Palette::Color::slate;
}

ServiceRunHistoryRow::ServiceRunHistoryRow(const ServiceRunRecord &record, QWidget *parent)
    : SurfaceCard(16, parent),
      m_record(record)
{
    contentLayout()->setSpacing(10);
    buildTopLine();
    m_divider = divider(0.4);
    m_divider->setObjectName(QStringLiteral("divider"));
    m_divider->hide();
    contentLayout()->addWidget(m_divider);
    refreshSummary();
}

void ServiceRunHistoryRow::buildTopLine()
{
    auto *topLine = new QHBoxLayout;
    topLine->setSpacing(10);
    contentLayout()->addLayout(topLine);

    auto *summaryButton = new RowButton(this);
    summaryButton->setObjectName(QStringLiteral("summaryButton"));
    m_summaryButton = summaryButton;
    auto *summary = new QWidget;
    auto *summaryColumn = new QVBoxLayout(summary);
    summaryColumn->setContentsMargins(0, 0, 0, 0);
    summaryColumn->setSpacing(6);

    auto *outcomeLine = new QHBoxLayout;
    outcomeLine->setSpacing(8);
    m_dateLabel = new StyledLabel(QString(), TextStyle::callout, QFont::DemiBold);
    m_dateLabel->setObjectName(QStringLiteral("runDate"));
    // The line keeps its badges and chevron in the narrowest window; the time gives way.
    m_dateLabel->setElideMode(Qt::ElideRight);
    m_outcomeBadge = new StatusBadge;
    m_outcomeBadge->setObjectName(QStringLiteral("outcomeBadge"));
    m_securityBadge = symbolText(QStringLiteral("hand.raised.fill"), QString(), Palette::Color::red, TextStyle::caption,
                                 QFont::DemiBold, &m_securityText, &m_securitySymbol);
    m_securityBadge->setObjectName(QStringLiteral("securityBadge"));
    m_securityText->setObjectName(QStringLiteral("securityText"));
    m_newBadge = new CapsuleBadge(QStringLiteral("New"), Palette::Color::slate, 6);
    m_newBadge->setObjectName(QStringLiteral("newBadge"));
    m_newBadge->setSymbolName(QStringLiteral("sparkles"));
    m_exitLabel = new StyledLabel(QString(), TextStyle::caption, QFont::Normal, ThemeColor::secondary());
    m_exitLabel->setObjectName(QStringLiteral("exitCode"));
    m_chevron =
        new SymbolView(QStringLiteral("chevron.right"), symbolPixelSize(TextStyle::caption), ThemeColor::tertiary());
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
    summaryButton->addToRow(summary, 1);
    // Narrower than its figures where the row is (a button would not be).
    summaryButton->setSizePolicy(QSizePolicy::Preferred, summaryButton->sizePolicy().verticalPolicy());
    topLine->addWidget(summaryButton, 1, Qt::AlignTop);

    m_outputButton = new SquareSymbolButton(QStringLiteral("text.alignleft"), Palette::Color::slate, this);
    m_outputButton->setObjectName(QStringLiteral("outputButton"));
    connect(m_outputButton, &QAbstractButton::clicked, this, &ServiceRunHistoryRow::viewOutputRequested);
    topLine->addWidget(m_outputButton, 0, Qt::AlignTop);

    m_deleteButton = new SquareSymbolButton(QStringLiteral("trash"), Palette::Color::red, this);
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

void ServiceRunHistoryRow::setExpanded(bool expanded, bool animated)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    refreshSummary(animated);
}

void ServiceRunHistoryRow::setNew(bool isNew)
{
    if (isNew == m_isNew)
        return;
    m_isNew = isNew;
    m_newBadge->setShown(isNew);
    update();
}

void ServiceRunHistoryRow::paintEvent(QPaintEvent *event)
{
    SurfaceCard::paintEvent(event);
    if (!m_isNew)
        return;
    // The new-run outline, inside the card's edge.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card =
        QRectF(rect()).adjusted(shadowMargin, shadowMargin / 2.0, -shadowMargin, -(shadowMargin + shadowMargin / 2.0));
    painter.setPen(QPen(withOpacity(Palette::slate(), 0.65), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(card.adjusted(1, 1, -1, -1), cornerRadius - 1, cornerRadius - 1);
}

void ServiceRunHistoryRow::refreshSummary(bool animated)
{
    const QString date = formatOptionalDate(m_record.startedAt);
    m_dateLabel->setText(date);
    m_outcomeBadge->setState(outcomeLabel(m_record), outcomePaletteColor(m_record));

    const auto &scan = m_record.securityScan;
    const bool showsSecurity = scan && scan->outcome != ServiceRunSecurityOutcome::noFindings;
    m_securityBadge->setVisible(showsSecurity);
    if (showsSecurity) {
        const bool approved = scan->outcome == ServiceRunSecurityOutcome::approved;
        const Palette::Color tint = approved ? Palette::Color::orange : Palette::Color::red;
        m_securityText->setText(approved ? securityWarningCountText(scan->findings.size()) : QStringLiteral("Blocked"));
        m_securityText->setColor(tint);
        m_securitySymbol->setSymbolName(approved ? QStringLiteral("shield.lefthalf.filled.badge.checkmark")
                                                 : QStringLiteral("hand.raised.fill"));
        m_securitySymbol->setColor(tint);
    }
    m_newBadge->setShown(m_isNew);
    m_exitLabel->setVisible(m_record.exitCode.has_value());
    if (m_record.exitCode)
        m_exitLabel->setText(QStringLiteral("exit ") + QString::number(*m_record.exitCode));
    m_chevron->setSymbolName(m_expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));

    delete m_secondLine;
    if (m_record.stopReason == ServiceRunStopReason::securityBlocked) {
        m_secondLine =
            symbolText(QStringLiteral("shield.slash.fill"), QStringLiteral("Launch prevented before a process started"),
                       ThemeColor::secondary(), TextStyle::caption, QFont::Normal);
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
    if (auto *summary = qobject_cast<RowButton *>(m_summaryButton))
        summary->setExpanded(m_expanded);

    m_divider->setVisible(m_expanded);
    if (m_expanded && (m_detailsStale || !m_details))
        rebuildDetails();
    if (m_details)
        ServiceDetailStyle::setRevealed(m_details, m_expanded, animated);
}

QWidget *ServiceRunHistoryRow::buildFiguresLine()
{
    auto *line = new FiguresLine;
    line->setObjectName(QStringLiteral("figures"));
    const qint64 seconds = std::max<qint64>(0, m_record.startedAt.secsTo(m_record.endedAt));
    const QList<std::pair<QString, QString>> items {
        {QStringLiteral("PID"), m_record.pid ? QString::number(*m_record.pid) : emDash},
        {QStringLiteral("Peak CPU"), QString::asprintf("%.1f%%", m_record.peakCpuPercent)},
        {QStringLiteral("Peak RAM"), formatMemoryBytes(m_record.peakMemoryBytes)},
        {QStringLiteral("Duration"), formatDuration(double(seconds))},
    };
    QFont figuresFont = textStyleFont(TextStyle::caption);
    for (const auto &[caption, value] : items) {
        LabeledValueText *item = labeledValueText(caption, value);
        item->setObjectName(caption);
        item->setTextFont(figuresFont);
        item->valueLabel()->setColor(ThemeColor::secondary());
        line->addFigure(item);
    }
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
        column->addSpacing(3);
        column->addWidget(divider(1.0));
        column->addSpacing(3);
    }
    auto *profileLine =
        new StyledLabel(QStringLiteral("Environment Profile \u00B7 ")
                            + NameRule::oneLine(m_record.environmentProfileName.value_or(QStringLiteral("None"))),
                        TextStyle::caption, QFont::DemiBold, ThemeColor::secondary());
    profileLine->setObjectName(QStringLiteral("profileLine"));
    profileLine->setElideMode(Qt::ElideRight);
    column->addWidget(profileLine);
    column->addWidget(buildVariables());
    m_details->hide();
    contentLayout()->addWidget(m_details);
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
        Palette::Color tint;
    };
    Verdict verdict {"No findings", "checkmark.shield.fill", Palette::Color::green};
    if (m_record.securityScan->outcome == ServiceRunSecurityOutcome::approved)
        verdict = {"Warning bypassed", "exclamationmark.shield.fill", Palette::Color::orange};
    else if (m_record.securityScan->outcome == ServiceRunSecurityOutcome::blocked)
        verdict = {"Critical command blocked", "hand.raised.fill", Palette::Color::red};
    StyledLabel *verdictText = nullptr;
    QWidget *verdictLabel = symbolText(QString::fromLatin1(verdict.symbolName), QString::fromUtf8(verdict.text),
                                       verdict.tint, TextStyle::caption, QFont::DemiBold, &verdictText);
    verdictText->setObjectName(QStringLiteral("verdict"));
    column->addWidget(verdictLabel, 0, Qt::AlignLeft);
    for (const CommandThreatFinding &finding : m_record.securityScan->findings) {
        auto *line = new QHBoxLayout;
        line->setSpacing(6);
        auto *severity = new StyledLabel(label(finding.severity), TextStyle::caption2, QFont::DemiBold,
                                         finding.severity == CommandThreatSeverity::medium ? Palette::Color::orange
                                                                                           : Palette::Color::red);
        severity->setFixedWidth(48);
        auto *title = new StyledLabel(finding.title, TextStyle::caption, QFont::Normal, ThemeColor::secondary());
        title->setWordWrap(true);
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
        column->addWidget(new StyledLabel(QStringLiteral("No environment variables"), TextStyle::caption, QFont::Normal,
                                          ThemeColor::tertiary()));
        return box;
    }
    for (const ServiceRunEnvironmentEntry &entry : m_record.environment) {
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        auto *key = new StyledLabel(entry.key, TextStyle::caption, QFont::Medium, ThemeColor::secondary());
        key->setMonospaced(true);
        key->setElideMode(Qt::ElideMiddle);
        key->setFixedWidth(100);
        // The value as stored, which for a secret is already the mask.
        auto *value = new StyledLabel(entry.value, TextStyle::caption, QFont::Normal,
                                      entry.isSecret ? ThemeColor::secondary() : ThemeColor::primary());
        value->setObjectName(QStringLiteral("variableValue"));
        value->setMonospaced(true);
        value->setElideMode(Qt::ElideRight);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->addWidget(key, 0, Qt::AlignTop);
        line->addWidget(value, 1, Qt::AlignTop);
        if (entry.isSecret) {
            auto *lock = new SymbolView(QStringLiteral("lock.fill"), symbolPixelSize(TextStyle::caption2),
                                        Palette::Color::orange);
            lock->setObjectName(QStringLiteral("secretLock"));
            lock->setMinimumContrast(ColorContrast::markMinimum);
            line->addWidget(lock, 0, Qt::AlignTop);
        }
        column->addLayout(line);
    }
    return box;
}
