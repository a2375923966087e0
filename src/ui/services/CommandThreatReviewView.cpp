#include "ui/services/CommandThreatReviewView.h"

#include "ui/services/ServicesFonts.h"
#include "ui/services/ServicesPalette.h"
#include "ui/services/ServicesSymbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using ServicesFonts::Style;

QColor severityColor(CommandThreatSeverity severity)
{
    return severity == CommandThreatSeverity::medium ? ServicesPalette::orange() : ServicesPalette::red();
}

QLabel *wrappingLabel(const QString &text, const QFont &font, qreal alpha, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    if (alpha < 1.0) {
        QPalette palette = label->palette();
        QColor color = palette.color(QPalette::WindowText);
        color.setAlphaF(alpha);
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    return label;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.15);
    palette.setColor(QPalette::WindowText, color);
    line->setPalette(palette);
    return line;
}

QLabel *badge(const QString &text, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(ServicesFonts::font(Style::caption, QFont::DemiBold));
    QColor background = color;
    background.setAlphaF(0.16);
    label->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 6px; padding: 1px 7px; }")
                             .arg(color.name(), background.name(QColor::HexArgb)));
    return label;
}

} // namespace

CommandThreatReviewView::CommandThreatReviewView(CommandThreatReviewRequest request,
                                                 std::function<void()> onRunAnyway, std::function<void()> onCancel,
                                                 QWidget *parent)
    : QDialog(parent), m_request(std::move(request)), m_onRunAnyway(std::move(onRunAnyway)),
      m_onCancel(std::move(onCancel))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(m_request.isBlocked() ? QStringLiteral("Command Blocked")
                                         : QStringLiteral("Review Security Findings"));
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
    if (m_onCancel)
        m_onCancel();
}

QWidget *CommandThreatReviewView::makeHeader()
{
    const bool blocked = m_request.isBlocked();
    auto *header = new QWidget(this);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    QLabel *icon = ServicesSymbols::label(
        blocked ? QStringLiteral("hand.raised.fill") : QStringLiteral("exclamationmark.shield.fill"),
        blocked ? ServicesPalette::red() : ServicesPalette::orange(), 24, header);
    icon->setObjectName(QStringLiteral("reviewIcon"));
    icon->setFixedWidth(28);
    row->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    QLabel *title = wrappingLabel(windowTitle(), ServicesFonts::font(Style::title3, QFont::DemiBold), 1.0, header);
    title->setObjectName(QStringLiteral("reviewTitle"));
    const QString sentence = blocked
        ? QStringLiteral("Velmora prevented ") + m_request.serviceName
              + QStringLiteral(" from running because its command matched a critical destructive pattern.")
        : QStringLiteral("Velmora detected command patterns that could create a security risk. Review them before "
                         "running ")
              + m_request.serviceName + QStringLiteral(".");
    QLabel *message = wrappingLabel(sentence, ServicesFonts::font(Style::callout), 0.6, header);
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
    QLabel *icon = ServicesSymbols::label(QStringLiteral("exclamationmark.triangle.fill"),
                                          severityColor(finding.severity), 18, row);
    icon->setFixedSize(26, 26);
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(5);
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(wrappingLabel(finding.title, ServicesFonts::font(Style::callout, QFont::DemiBold), 1.0, row));
    QLabel *severity = badge(label(finding.severity), severityColor(finding.severity), row);
    severity->setObjectName(QStringLiteral("severityBadge"));
    titleLine->addWidget(severity);
    titleLine->addStretch(1);
    texts->addLayout(titleLine);
    texts->addWidget(wrappingLabel(finding.explanation, ServicesFonts::font(Style::caption), 0.6, row));

    auto *evidenceLine = new QHBoxLayout;
    evidenceLine->setSpacing(4);
    evidenceLine->addWidget(ServicesSymbols::label(QStringLiteral("text.magnifyingglass"),
                                                   palette().color(QPalette::PlaceholderText), 12, row),
                            0, Qt::AlignTop);
    evidenceLine->addWidget(wrappingLabel(finding.evidence, ServicesFonts::font(Style::caption), 0.4, row), 1);
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
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (m_onCancel)
            m_onCancel();
    });
    row->addWidget(cancel);
    if (!blocked) {
        auto *runAnyway = new QPushButton(QStringLiteral("Run Anyway"), footer);
        runAnyway->setObjectName(QStringLiteral("runAnywayButton"));
        runAnyway->setDefault(true);
        const QColor tint = ServicesPalette::orange();
        runAnyway->setStyleSheet(
            QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 6px; "
                           "padding: 5px 14px; } QPushButton:pressed { background: %2; }")
                .arg(tint.name(), tint.darker(120).name()));
        connect(runAnyway, &QPushButton::clicked, this, [this] {
            if (m_onRunAnyway)
                m_onRunAnyway();
        });
        row->addWidget(runAnyway);
    }
    return footer;
}
