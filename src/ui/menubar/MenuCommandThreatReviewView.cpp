#include "ui/menubar/MenuCommandThreatReviewView.h"

#include "ui/components/NameRule.h"
#include "ui/components/Palette.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"
#include "ui/menubar/MenuButtonTint.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct SeverityLook {
    QString word;
    Palette::Color color;
};

SeverityLook severityLook(CommandThreatSeverity severity)
{
    switch (severity) {
    case CommandThreatSeverity::medium:
        return {QStringLiteral("Medium"), Palette::Color::orange};
    case CommandThreatSeverity::high:
        return {QStringLiteral("High"), Palette::Color::red};
    case CommandThreatSeverity::critical:
        break;
    }
    return {QStringLiteral("Critical"), Palette::Color::red};
}

QWidget *findingRow(const CommandThreatFinding &finding, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(6);
    auto *title = new StyledLabel(finding.title, TextStyle::caption, QFont::DemiBold, ThemeColor::primary(), row);
    title->setWordWrap(true);
    titleLine->addWidget(title, 1);
    const SeverityLook look = severityLook(finding.severity);
    titleLine->addWidget(new StyledLabel(look.word, TextStyle::caption2, QFont::DemiBold, look.color, row), 0);
    layout->addLayout(titleLine);
    auto *evidence =
        new StyledLabel(finding.evidence, TextStyle::caption2, QFont::Normal, ThemeColor::secondary(), row);
    evidence->setWordWrap(true);
    layout->addWidget(evidence);
    return row;
}

} // namespace

int MenuCommandThreatReviewView::findingsHeight(qsizetype findingCount)
{
    return int(std::clamp<qsizetype>(findingCount * 76, 76, 260));
}

MenuCommandThreatReviewView::MenuCommandThreatReviewView(const CommandThreatReviewRequest &request, QWidget *parent)
    : QWidget(parent)
{
    const bool blocked = request.assessment.hasCriticalFinding();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 12);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *symbol =
        new SymbolView(blocked ? QStringLiteral("hand.raised.fill") : QStringLiteral("exclamationmark.shield.fill"),
                       symbolPixelSize(TextStyle::body), blocked ? Palette::Color::red : Palette::Color::orange, this);
    header->addWidget(symbol, 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    const QString title = blocked ? QStringLiteral("Command Blocked") : QStringLiteral("Risky Command Detected");
    // The review opens with the focus on itself: a screen reader hears its title.
    setAccessibleName(title);
    titles->addWidget(new StyledLabel(title, TextStyle::callout, QFont::DemiBold, ThemeColor::primary(), this));
    const QString name = NameRule::oneLine(request.serviceName);
    auto *subtitle =
        new StyledLabel(blocked ? name + QStringLiteral(" matched a critical destructive pattern.")
                                : QStringLiteral("Review the findings before running ") + name + QStringLiteral("."),
                        TextStyle::caption, QFont::Normal, ThemeColor::secondary(), this);
    subtitle->setWordWrap(true);
    titles->addWidget(subtitle);
    header->addLayout(titles, 1);
    layout->addLayout(header);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->setFixedHeight(findingsHeight(request.assessment.findings.size()));
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setAccessibleName(QStringLiteral("Findings"));
    auto *list = new QWidget(scroll);
    list->setAutoFillBackground(false);
    auto *listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(8);
    for (const CommandThreatFinding &finding : request.assessment.findings)
        listLayout->addWidget(findingRow(finding, list));
    listLayout->addStretch(1);
    scroll->setWidget(list);
    layout->addWidget(scroll);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_cancel = new QPushButton(blocked ? QStringLiteral("Close") : QStringLiteral("Cancel"), this);
    connect(m_cancel, &QPushButton::clicked, this, &MenuCommandThreatReviewView::cancelRequested);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    // The panel's keyboard focus may sit anywhere (the clicked row is gone): the
    // prompt's keys answer wherever it is, as long as the prompt is shown.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, [this] { m_cancel->click(); });
    escape->setContext(Qt::WindowShortcut);
    if (!blocked) {
        m_runAnyway = new QPushButton(QStringLiteral("Run Anyway"), this);
        tintProminent(m_runAnyway, Palette::Color::orange);
        connect(m_runAnyway, &QPushButton::clicked, this, &MenuCommandThreatReviewView::runAnywayRequested);
        buttons->addWidget(m_runAnyway);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            auto *confirm = new QShortcut(QKeySequence(key), this, [this] { m_runAnyway->click(); });
            confirm->setContext(Qt::WindowShortcut);
        }
    }
    layout->addLayout(buttons);
}
