#include "ui/screens/dashboard/SummaryPopover.h"

#include "ui/components/AccessibleInterfaces.h"
#include "ui/components/DividedList.h"
#include "ui/components/HoverButton.h"
#include "ui/components/MultilineElidedLabel.h"
#include "ui/components/NameRule.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

ThemeColor badgeColor(ServiceLifecycleState state)
{
    switch (state) {
    case ServiceLifecycleState::running:
        return Palette::Color::green;
    case ServiceLifecycleState::stopped:
        return ThemeColor::secondary();
    case ServiceLifecycleState::notResponding:
        return Palette::Color::orange;
    }
    return ThemeColor::secondary();
}

// The row's symbol on a rounded slate square.
class RowSymbol final : public SymbolView {
public:
    explicit RowSymbol(QWidget *parent)
        : SymbolView(QStringLiteral("terminal.fill"), 14, Palette::Color::slate, parent)
    {
        setBoxSize(QSize(28, 28));
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            QColor fill = Palette::slate();
            fill.setAlphaF(0.12f);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawRoundedRect(QRectF(rect()), 8, 8);
        }
        SymbolView::paintEvent(event);
    }
};

// A popup window is no child of any accessible window; the popover hangs in
// the tree under the card it opened from (a popup cannot be placed at its card
// on every display server as a window of its own).
class PopoverAccessible final : public QAccessibleWidget {
public:
    explicit PopoverAccessible(QWidget *popover)
        : QAccessibleWidget(popover, QAccessible::Pane)
    {}
    QAccessibleInterface *parent() const override
    {
        if (QWidget *anchor = static_cast<SummaryPopover *>(widget())->anchor())
            return QAccessible::queryAccessibleInterface(anchor);
        return QAccessibleWidget::parent();
    }
};

} // namespace

SummaryPopover::SummaryPopover(ServiceSummaryFilter filter, const QList<ServiceSummaryRow> &rows, QWidget *anchor,
                               QWidget *parent)
    : QFrame(parent, Qt::Popup),
      m_filter(filter),
      m_anchor(anchor)
{
    useAccessibleInterface<SummaryPopover, PopoverAccessible>();
    setObjectName(QStringLiteral("summaryPopover"));
    if (auto *card = qobject_cast<ServiceStatusActionCard *>(anchor))
        card->setAccessiblePopup(this);
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(popoverWidth);
    setAccessibleName(DashboardController::popoverTitle(filter));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *sections = new DividedList(0, QString(), this);
    layout->addWidget(sections);
    auto *title = new StyledLabel(DashboardController::popoverTitle(filter), TextStyle::headline, sections);
    title->setContentsMargins(14, 12, 14, 8);
    sections->addRow(title);
    if (rows.isEmpty()) {
        auto *empty = new StyledLabel(DashboardController::emptyText(filter), TextStyle::callout, QFont::Normal,
                                      ThemeColor::secondary(), sections);
        empty->setObjectName(QStringLiteral("emptyText"));
        empty->setContentsMargins(14, 14, 14, 14);
        sections->addRow(empty);
        return;
    }
    auto *list = new DividedList(54, QStringLiteral("rowDivider"));
    for (const ServiceSummaryRow &row : rows)
        list->addRow(makeRow(row, list));
    m_list = list;
    m_list->installEventFilter(this);
    m_scroll = new QScrollArea(sections);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_list);
    sections->addRow(m_scroll);
    setListHeight(double(rows.size()) * DashboardController::summaryRowEstimate);
}

QWidget *SummaryPopover::makeRow(const ServiceSummaryRow &row, QWidget *parent)
{
    // A whole-row button whose labels are its children.
    auto *button = new HoverButton(HoverButton::Tint {}, parent);
    button->setObjectName(QStringLiteral("summaryRow"));
    const QString shownName = NameRule::oneLine(row.name);
    button->setAccessibleName(shownName);
    // Not fixed: a detail on two lines makes the row taller than its size hint.
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto *layout = new QHBoxLayout(button);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(12);

    layout->addWidget(new RowSymbol(button), 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto *top = new QHBoxLayout;
    top->setSpacing(8);
    auto *name = new StyledLabel(shownName, TextStyle::body, QFont::DemiBold, ThemeColor::primary(), button);
    name->setObjectName(QStringLiteral("rowName"));
    name->setElideMode(Qt::ElideRight);
    top->addWidget(name, 1);
    auto *badge = new StatusBadge(DashboardController::badgeText(row.state), badgeColor(row.state), button);
    badge->setObjectName(QStringLiteral("stateBadge"));
    top->addWidget(badge);
    texts->addLayout(top);
    auto *detail =
        new MultilineElidedLabel(row.detail, 2, TextStyle::caption, QFont::Normal, ThemeColor::secondary(), button);
    detail->setObjectName(QStringLiteral("rowDetail"));
    texts->addWidget(detail);
    if (row.pid) {
        auto *pid = new StyledLabel(QStringLiteral("PID ") + QString::number(*row.pid), TextStyle::caption2,
                                    QFont::Normal, ThemeColor::tertiary(), button);
        pid->setObjectName(QStringLiteral("rowPid"));
        pid->setMonospaced(true);
        texts->addWidget(pid);
    }
    layout->addLayout(texts, 1);
    auto *chevron = new SymbolView(QStringLiteral("chevron.right"), 10, ThemeColor::tertiary(), button);
    chevron->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(chevron, 0, Qt::AlignTop);

    connect(button, &QAbstractButton::clicked, this, [this, row] { Q_EMIT rowActivated(row); });
    return button;
}

void SummaryPopover::setListHeight(double height)
{
    if (!m_scroll)
        return;
    m_scroll->setFixedHeight(int(std::ceil(std::min(height, DashboardController::summaryListMaximumHeight))));
    adjustSize();
}

bool SummaryPopover::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        // Details that wrap make the list's height depend on its width.
        Q_EMIT listHeightReported(m_list->hasHeightForWidth() ? m_list->heightForWidth(m_list->width())
                                                              : m_list->sizeHint().height());
    return QFrame::eventFilter(watched, event);
}

void SummaryPopover::present()
{
    adjustSize();
    QWidget *anchor = m_anchor.data();
    if (!anchor) {
        show();
        return;
    }
    const QRect card(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    const QWidget *window = anchor->window();
    const QRect windowRect(window->mapToGlobal(QPoint(0, 0)), window->size());
    std::optional<QRect> available;
    if (const QScreen *screen = anchor->screen())
        available = screen->availableGeometry();
    // A list taller than the screen scrolls inside a shorter popover.
    if (available && m_scroll && height() > available->height()) {
        m_scroll->setFixedHeight(std::max(0, m_scroll->minimumHeight() - (height() - available->height())));
        adjustSize();
    }
    move(placement(card, size(), windowRect, available));
    show();
}

QPoint SummaryPopover::placement(const QRect &card, const QSize &size, const QRect &window,
                                 const std::optional<QRect> &available)
{
    constexpr int gap = 6;
    const int windowRight = window.x() + window.width();
    int x = card.x() + (card.width() - size.width()) / 2;
    // A card near the window's edge keeps the popover flush with its own edge.
    if (x < window.x())
        x = card.x();
    else if (x + size.width() > windowRight)
        x = card.x() + card.width() - size.width();
    if (window.width() >= size.width())
        x = std::clamp(x, window.x(), windowRight - size.width());
    int y = card.y() + card.height() + gap;
    if (!available)
        return {x, y};
    const int bottom = available->y() + available->height();
    const int above = card.y() - gap - size.height();
    if (y + size.height() > bottom && above >= available->y())
        y = above;
    // Room neither below nor above the card: as low as the screen allows,
    // over the card rather than cut off.
    if (y + size.height() > bottom)
        y = std::max(available->y(), bottom - size.height());
    const int rightmost = std::max(available->x(), available->x() + available->width() - size.width());
    return {std::clamp(x, available->x(), rightmost), y};
}

void SummaryPopover::mousePressEvent(QMouseEvent *event)
{
    // The press that closes a popover is replayed to what lies under it; on
    // the popover's own card that replay would open it again at once.
    const QPoint global = event->globalPosition().toPoint();
    const QWidget *anchor = m_anchor.data();
    if (!rect().contains(event->position().toPoint()) && anchor
        && QRect(anchor->mapToGlobal(QPoint(0, 0)), anchor->size()).contains(global))
        setAttribute(Qt::WA_NoMouseReplay);
    QFrame::mousePressEvent(event);
}

void SummaryPopover::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    Q_EMIT dismissed(m_filter);
}
