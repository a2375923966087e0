#include "ui/screens/services/CommandThreatReviewView.h"

#include "ui/components/InitialFocusSink.h"
#include "ui/components/NameRule.h"
#include "ui/components/Palette.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/components/ThemeColor.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

Palette::Color severityColor(CommandThreatSeverity severity)
{
    return severity == CommandThreatSeverity::medium ? Palette::Color::orange : Palette::Color::red;
}

StyledLabel *wrappingLabel(const QString &text, TextStyle style, QFont::Weight weight, ThemeColor color,
                           QWidget *parent)
{
    auto *label = new StyledLabel(text, style, weight, color, parent);
    label->setWordWrap(true);
    return label;
}

// A hairline in the separator colour of the current theme.
class Divider final : public QWidget {
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), ThemeColor::separator().resolve(this)); }
};

QWidget *divider(QWidget *parent)
{
    return new Divider(parent);
}

} // namespace

CommandThreatReviewView::CommandThreatReviewView(CommandThreatReviewRequest request, QWidget *parent)
    : QDialog(parent),
      m_request(std::move(request))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(m_request.isBlocked() ? QStringLiteral("Command Blocked")
                                         : QStringLiteral("Review Security Findings"));
    // The sheet opens on no control (the findings list would come first),
    // named after the sheet.
    (new InitialFocusSink(this))->setFocus(Qt::OtherFocusReason);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    layout->addWidget(makeHeader());
    layout->addWidget(divider(this));
    layout->addWidget(makeFindingsList(), 1);
    layout->addWidget(divider(this));
    layout->addWidget(makeFooter());
    setFixedSize(560, preferredHeight(m_request.assessment));
}

int CommandThreatReviewView::preferredHeight(const CommandThreatAssessment &assessment)
{
    const int base = assessment.hasCriticalFinding() ? 225 : 210;
    return std::clamp(base + 75 * static_cast<int>(assessment.findings.size()), 300, 620);
}

void CommandThreatReviewView::reject()
{
    // Escape and the window's close button answer as "Cancel" or "Close".
    Q_EMIT cancelRequested();
}

QWidget *CommandThreatReviewView::makeHeader()
{
    const bool blocked = m_request.isBlocked();
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto *icon = new SymbolView(
        blocked ? QStringLiteral("hand.raised.fill") : QStringLiteral("exclamationmark.shield.fill"),
        symbolPixelSize(TextStyle::title2), blocked ? Palette::Color::red : Palette::Color::orange, header);
    icon->setObjectName(QStringLiteral("reviewIcon"));
    icon->setBoxSize(QSize(28, symbolPixelSize(TextStyle::title2)));
    row->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    StyledLabel *title =
        wrappingLabel(windowTitle(), TextStyle::title3, QFont::DemiBold, ThemeColor::primary(), header);
    title->setObjectName(QStringLiteral("reviewTitle"));
    const QString name = NameRule::oneLine(m_request.serviceName);
    const QString sentence =
        blocked
            ? QStringLiteral("Velmora prevented ") + name
                  + QStringLiteral(" from running because its command matched a critical destructive pattern.")
            : QStringLiteral("Velmora detected command patterns that could create a security risk. Review them before "
                             "running ")
                  + name + QStringLiteral(".");
    StyledLabel *message = wrappingLabel(sentence, TextStyle::callout, QFont::Normal, ThemeColor::secondary(), header);
    message->setObjectName(QStringLiteral("reviewMessage"));
    texts->addWidget(title);
    texts->addWidget(message);
    row->addLayout(texts, 1);
    return header;
}

QWidget *CommandThreatReviewView::makeFindingsList()
{
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMaximumHeight(360);
    scroll->setAccessibleName(QStringLiteral("Findings"));
    auto *content = new QWidget(scroll);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    const QList<CommandThreatFinding> &findings = m_request.assessment.findings;
    for (qsizetype i = 0; i < findings.size(); ++i) {
        column->addWidget(makeFindingRow(findings[i]));
        if (i + 1 < findings.size()) {
            auto *indented = new QHBoxLayout;
            indented->setContentsMargins(36, 0, 0, 0);
            indented->addWidget(divider(content));
            column->addLayout(indented);
        }
    }
    column->addStretch(1);
    scroll->setWidget(content);
    return scroll;
}

QWidget *CommandThreatReviewView::makeFindingRow(const CommandThreatFinding &finding)
{
    auto *row = new QWidget(this);
    row->setObjectName(QStringLiteral("finding-") + finding.ruleID);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 11, 0, 11);
    layout->setSpacing(10);
    auto *icon =
        new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 18, severityColor(finding.severity), row);
    icon->setBoxSize(QSize(26, 26));
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(5);
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(
        new StyledLabel(finding.title, TextStyle::callout, QFont::DemiBold, ThemeColor::primary(), row));
    auto *severity = new StatusBadge(label(finding.severity), severityColor(finding.severity), row);
    severity->setObjectName(QStringLiteral("severityBadge"));
    titleLine->addWidget(severity);
    titleLine->addStretch(1);
    texts->addLayout(titleLine);
    texts->addWidget(
        wrappingLabel(finding.explanation, TextStyle::caption, QFont::Normal, ThemeColor::secondary(), row));

    auto *evidenceLine = new QHBoxLayout;
    evidenceLine->setSpacing(4);
    evidenceLine->addWidget(new SymbolView(QStringLiteral("text.magnifyingglass"), symbolPixelSize(TextStyle::caption),
                                           ThemeColor::tertiary(), row),
                            0, Qt::AlignTop);
    evidenceLine->addWidget(
        wrappingLabel(finding.evidence, TextStyle::caption, QFont::Normal, ThemeColor::tertiary(), row), 1);
    texts->addLayout(evidenceLine);
    layout->addLayout(texts, 1);
    return row;
}

QWidget *CommandThreatReviewView::makeFooter()
{
    const bool blocked = m_request.isBlocked();
    auto *footer = new QWidget(this);
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addStretch(1);
    auto *cancel = new QPushButton(blocked ? QStringLiteral("Close") : QStringLiteral("Cancel"), footer);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    // Blocked, the sheet has no default: Return presses Close only when it has the focus.
    cancel->setAutoDefault(!blocked);
    connect(cancel, &QPushButton::clicked, this, &CommandThreatReviewView::cancelRequested);
    row->addWidget(cancel);
    if (!blocked) {
        auto *runAnyway = new ProminentButton(QStringLiteral("Run Anyway"), Palette::Color::orange, footer);
        runAnyway->setObjectName(QStringLiteral("runAnywayButton"));
        runAnyway->setDefault(true);
        connect(runAnyway, &QPushButton::clicked, this, &CommandThreatReviewView::runAnywayRequested);
        row->addWidget(runAnyway);
    }
    return footer;
}
