#include "ui/screens/profiles/ProfileDetailView.h"

#include "ui/screens/ScreenStyle.h"
#include "ui/screens/profiles/ProfileVariableRow.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace ScreenStyle;

namespace {

QString variableCountText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 variable") : QString::number(count) + QStringLiteral(" variables");
}

QString formattedDate(const QDateTime &date)
{
    if (!date.isValid())
        return QStringLiteral("—");
    return QLocale().toString(date.toLocalTime(), QLocale::ShortFormat);
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(tertiaryText())));
    return line;
}

void startTask(QCoro::Task<> &&task)
{
    (void)std::move(task);
}

} // namespace

ProfileDetailView::ProfileDetailView(const EnvironmentProfile &profile, bool isLocked, UnlockAction onUnlock,
                                     EditAction onEdit, QWidget *parent)
    : QWidget(parent), m_onUnlock(std::move(onUnlock)), m_onEdit(std::move(onEdit))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(28, 28, 28, 28);
    layout->setSpacing(22);
    layout->addWidget(makeHeader(profile, isLocked));
    if (isLocked) {
        layout->addWidget(makeLockedCard(), 1);
        outer->addWidget(page);
        return;
    }
    layout->addWidget(makeVariablesBlock(profile));
    layout->addStretch(1);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(page);
    outer->addWidget(scroll);
}

QString ProfileDetailView::summaryText(const EnvironmentProfile &profile, bool isLocked)
{
    return isLocked ? QStringLiteral("Protected profile") : variableCountText(profile.variables.size());
}

QString ProfileDetailView::summarySymbol(const EnvironmentProfile &profile, bool isLocked)
{
    if (!profile.isProtected)
        return QStringLiteral("list.bullet.rectangle");
    return isLocked ? QStringLiteral("lock.fill") : QStringLiteral("lock.open.fill");
}

QWidget *ProfileDetailView::makeHeader(const EnvironmentProfile &profile, bool isLocked)
{
    auto *header = new QWidget;
    auto *layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto *title = plainLabel(profile.name, TextStyle::largeTitle, header, QFont::Bold);
    title->setObjectName(QStringLiteral("profileTitle"));
    title->setWordWrap(true);
    titleRow->addWidget(title, 1);
    if (!isLocked) {
        auto *edit = new QPushButton(QStringLiteral("Edit"), header);
        edit->setObjectName(QStringLiteral("editButton"));
        setSymbol(*edit, QStringLiteral("pencil"), 14, color(Tint::steel));
        edit->setStyleSheet(QStringLiteral("QPushButton { color: %1; padding: 4px 12px; }").arg(cssColor(color(Tint::steel))));
        connect(edit, &QPushButton::clicked, this, [this] {
            if (m_onEdit)
                m_onEdit();
        });
        titleRow->addWidget(edit, 0, Qt::AlignBottom);
    }
    layout->addLayout(titleRow);

    auto *summaryRow = new QHBoxLayout;
    summaryRow->setSpacing(6);
    auto *icon = new QLabel(header);
    icon->setObjectName(QStringLiteral("summarySymbol"));
    setSymbol(*icon, summarySymbol(profile, isLocked), 14, secondaryText());
    auto *summary = plainLabel(summaryText(profile, isLocked), TextStyle::body, header);
    summary->setObjectName(QStringLiteral("summaryText"));
    summary->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    summaryRow->addWidget(icon);
    summaryRow->addWidget(summary);
    summaryRow->addStretch(1);
    layout->addLayout(summaryRow);
    return header;
}

QWidget *ProfileDetailView::makeLockedCard()
{
    auto *card = new QWidget;
    card->setObjectName(QStringLiteral("lockedCard"));
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 48);
    layout->setSpacing(14);
    layout->addStretch(1);
    auto *icon = new QLabel(card);
    setSymbol(*icon, QStringLiteral("lock.fill"), 38, color(Tint::orange));
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto *title = plainLabel(QStringLiteral("Profile is locked"), TextStyle::title2, card, QFont::DemiBold);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    auto *note = plainLabel(
        QStringLiteral("Authenticate with your account password to view or edit this profile."), TextStyle::callout, card);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignCenter);
    note->setMaximumWidth(420);
    note->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    layout->addWidget(note, 0, Qt::AlignHCenter);
    auto *unlock = new QPushButton(QStringLiteral("Unlock"), card);
    unlock->setObjectName(QStringLiteral("unlockButton"));
    unlock->setDefault(true);
    setSymbol(*unlock, QStringLiteral("lock.open"), 14);
    connect(unlock, &QPushButton::clicked, this, [this] {
        // The task runs to its end on its own; the list screen redraws the detail.
        if (m_onUnlock)
            startTask(m_onUnlock());
    });
    layout->addSpacing(4);
    layout->addWidget(unlock, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return card;
}

QWidget *ProfileDetailView::makeVariablesBlock(const EnvironmentProfile &profile)
{
    auto *block = new QWidget;
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto *icon = new QLabel(block);
    setSymbol(*icon, QStringLiteral("list.bullet.rectangle"), 16, secondaryText());
    titleRow->addWidget(icon);
    titleRow->addWidget(plainLabel(QStringLiteral("Variables"), TextStyle::title3, block, QFont::DemiBold));
    if (!profile.variables.isEmpty()) {
        auto *count = plainLabel(QString::number(profile.variables.size()), TextStyle::caption, block, QFont::DemiBold);
        count->setObjectName(QStringLiteral("variableCount"));
        QColor fill = secondaryText();
        fill.setAlphaF(0.14f);
        count->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 8px; padding: 2px 6px;")
                                 .arg(cssColor(secondaryText()), cssColor(fill)));
        titleRow->addWidget(count);
    }
    titleRow->addStretch(1);
    auto *updated = plainLabel(QStringLiteral("Updated ") + formattedDate(profile.updatedAt), TextStyle::callout, block);
    updated->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    titleRow->addWidget(updated);
    layout->addLayout(titleRow);

    auto *card = new QFrame(block);
    card->setObjectName(QStringLiteral("variablesCard"));
    QColor background = palette().color(QPalette::WindowText);
    background.setAlphaF(isDark() ? 0.08f : 0.05f);
    card->setStyleSheet(QStringLiteral("QFrame#variablesCard { background: %1; border-radius: %2px; }")
                            .arg(cssColor(background))
                            .arg(profile.variables.isEmpty() ? 14 : 10));
    auto *cardLayout = new QVBoxLayout(card);
    if (profile.variables.isEmpty()) {
        cardLayout->setContentsMargins(16, 16, 16, 16);
        auto *empty = plainLabel(QStringLiteral("No variables yet"), TextStyle::callout, card);
        empty->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
        cardLayout->addWidget(empty);
    } else {
        cardLayout->setContentsMargins(0, 0, 0, 0);
        cardLayout->setSpacing(0);
        for (qsizetype index = 0; index < profile.variables.size(); ++index) {
            if (index > 0) {
                auto *line = new QHBoxLayout;
                line->setContentsMargins(12, 0, 0, 0);
                line->addWidget(divider(card));
                cardLayout->addLayout(line);
            }
            cardLayout->addWidget(new ProfileVariableRow(profile.variables.at(index), card));
        }
    }
    layout->addWidget(card);
    return block;
}
