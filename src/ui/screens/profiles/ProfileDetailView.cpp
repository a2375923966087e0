#include "ui/screens/profiles/ProfileDetailView.h"

#include "ui/components/DetailPageHeader.h"
#include "ui/components/DisplayFormatting.h"
#include "ui/components/DividedList.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/SymbolView.h"
#include "ui/screens/profiles/ProfileVariableRow.h"
#include "ui/components/ProminentButton.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QString variableCountText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 variable") : QString::number(count) + QStringLiteral(" variables");
}

// The variables' rounded background, in the secondary fill of the theme.
class VariablesBackground final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.06f);
        painter.fillPath(path, fill);
    }
};

// The count beside "Variables", on a capsule.
class CountCapsule final : public StyledLabel {
public:
    CountCapsule(qsizetype count, QWidget *parent)
        : StyledLabel(QString::number(count), TextStyle::caption, QFont::DemiBold, ThemeColor::secondary(), parent)
    {
        setMonospaced(true);
        setContentsMargins(6, 2, 6, 2);
        setAlignment(Qt::AlignCenter);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = ThemeColor::secondary().resolve(this);
        fill.setAlphaF(0.14f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
        painter.end();
        StyledLabel::paintEvent(event);
    }
};

} // namespace

ProfileDetailView::ProfileDetailView(const EnvironmentProfile &profile, bool isLocked, QWidget *parent)
    : QWidget(parent)
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
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(page);
    scroll->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
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
    auto *header = new DetailPageHeader(profile.name, 4);
    header->titleLabel()->setObjectName(QStringLiteral("profileTitle"));
    if (!isLocked) {
        auto *edit = new QPushButton(QStringLiteral("Edit"), header);
        edit->setObjectName(QStringLiteral("editButton"));
        setButtonSymbol(edit, QStringLiteral("pencil"), Palette::steel(), 14);
        connect(edit, &QPushButton::clicked, this, &ProfileDetailView::editRequested);
        header->actionsLayout()->addWidget(edit);
    }
    auto *summaryRow = new QHBoxLayout;
    summaryRow->setSpacing(6);
    auto *icon = new SymbolView(summarySymbol(profile, isLocked), 14, ThemeColor::secondary(), header);
    icon->setObjectName(QStringLiteral("summarySymbol"));
    auto *summary = new StyledLabel(summaryText(profile, isLocked), TextStyle::body, QFont::Normal,
                                    ThemeColor::secondary(), header);
    summary->setObjectName(QStringLiteral("summaryText"));
    summaryRow->addWidget(icon);
    summaryRow->addWidget(summary);
    summaryRow->addStretch(1);
    header->belowTitleLayout()->addLayout(summaryRow);
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
    layout->addWidget(new SymbolView(QStringLiteral("lock.fill"), 38, Palette::Color::orange, card), 0,
                      Qt::AlignHCenter);
    layout->addWidget(new StyledLabel(QStringLiteral("Profile is locked"), TextStyle::title2, QFont::DemiBold,
                                      ThemeColor::primary(), card),
                      0, Qt::AlignHCenter);
    auto *note =
        new StyledLabel(QStringLiteral("Authenticate with your account password to view or edit this profile."),
                        TextStyle::callout, QFont::Normal, ThemeColor::secondary(), card);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignCenter);
    note->setFixedWidth(420);
    note->setMinimumHeight(note->heightForWidth(420));
    layout->addWidget(note, 0, Qt::AlignHCenter);
    auto *unlock = new ProminentButton(QStringLiteral("Unlock"), Palette::Color::blue, card);
    unlock->setObjectName(QStringLiteral("unlockButton"));
    unlock->setDefault(true);
    unlock->setSymbolName(QStringLiteral("lock.open"));
    connect(unlock, &QPushButton::clicked, this, &ProfileDetailView::unlockRequested);
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
    titleRow->addWidget(new SymbolView(QStringLiteral("list.bullet.rectangle"), 16, ThemeColor::secondary(), block));
    titleRow->addWidget(
        new StyledLabel(QStringLiteral("Variables"), TextStyle::title3, QFont::DemiBold, ThemeColor::primary(), block));
    if (!profile.variables.isEmpty()) {
        auto *count = new CountCapsule(profile.variables.size(), block);
        count->setObjectName(QStringLiteral("variableCount"));
        titleRow->addWidget(count);
    }
    titleRow->addStretch(1);
    titleRow->addWidget(new StyledLabel(QStringLiteral("Updated ") + formatOptionalDate(profile.updatedAt),
                                        TextStyle::callout, QFont::Normal, ThemeColor::secondary(), block));
    layout->addLayout(titleRow);

    if (profile.variables.isEmpty()) {
        auto *card = new SurfaceCard(16, block);
        card->setObjectName(QStringLiteral("noVariablesCard"));
        card->contentLayout()->addWidget(new StyledLabel(QStringLiteral("No variables yet"), TextStyle::callout,
                                                         QFont::Normal, ThemeColor::secondary(), card));
        layout->addWidget(card);
        return block;
    }
    auto *list = new VariablesBackground(block);
    list->setObjectName(QStringLiteral("variablesList"));
    auto *listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    auto *rows = new DividedList(12, QStringLiteral("variableDivider"), list);
    for (const EnvironmentVariable &variable : profile.variables)
        rows->addRow(new ProfileVariableRow(variable));
    listLayout->addWidget(rows);
    layout->addWidget(list);
    return block;
}
