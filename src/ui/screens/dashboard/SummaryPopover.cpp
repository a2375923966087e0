#include "ui/screens/dashboard/SummaryPopover.h"

#include "ui/screens/ElidedLabel.h"
#include "ui/screens/ScreenStyle.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace ScreenStyle;

namespace {

// A whole-row button whose labels are its children.
class SummaryRowButton final : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!underMouse() && !hasFocus())
            return;
        QPainter painter(this);
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlphaF(isDown() ? 0.18f : 0.08f);
        painter.fillRect(rect(), fill);
    }
    void enterEvent(QEnterEvent *event) override
    {
        QAbstractButton::enterEvent(event);
        update();
    }
    void leaveEvent(QEvent *event) override
    {
        QAbstractButton::leaveEvent(event);
        update();
    }
};

QColor badgeColor(ServiceLifecycleState state)
{
    switch (state) {
    case ServiceLifecycleState::running: return color(Tint::green);
    case ServiceLifecycleState::stopped: return secondaryText();
    case ServiceLifecycleState::notResponding: return color(Tint::orange);
    }
    return secondaryText();
}

QLabel *badge(ServiceLifecycleState state, QWidget *parent)
{
    auto *label = plainLabel(DashboardController::badgeText(state), TextStyle::caption, parent, QFont::DemiBold);
    label->setObjectName(QStringLiteral("stateBadge"));
    QColor tint = badgeColor(state);
    QColor fill = tint;
    fill.setAlphaF(0.14f);
    tint.setAlphaF(1.0f);
    label->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 6px; padding: 5px 10px;")
                             .arg(cssColor(tint), cssColor(fill)));
    return label;
}

} // namespace

SummaryPopover::SummaryPopover(ServiceSummaryFilter filter, const QList<ServiceSummaryRow> &rows, QWidget *anchor,
                               QWidget *parent)
    : QFrame(parent, Qt::Popup), m_filter(filter), m_anchor(anchor)
{
    setObjectName(QStringLiteral("summaryPopover"));
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(popoverWidth);
    setAccessibleName(DashboardController::popoverTitle(filter));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *title = plainLabel(DashboardController::popoverTitle(filter), TextStyle::headline, this);
    title->setContentsMargins(14, 12, 14, 8);
    layout->addWidget(title);
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(tertiaryText())));
    layout->addWidget(line);
    if (rows.isEmpty()) {
        auto *empty = plainLabel(DashboardController::emptyText(filter), TextStyle::callout, this);
        empty->setObjectName(QStringLiteral("emptyText"));
        empty->setContentsMargins(14, 14, 14, 14);
        empty->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
        layout->addWidget(empty);
        return;
    }
    m_list = new QWidget;
    auto *listLayout = new QVBoxLayout(m_list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    for (qsizetype index = 0; index < rows.size(); ++index) {
        listLayout->addWidget(makeRow(rows.at(index), m_list));
        if (index + 1 < rows.size()) {
            auto *divider = new QFrame(m_list);
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setStyleSheet(QStringLiteral("color: %1; margin-left: 54px;").arg(cssColor(tertiaryText())));
            listLayout->addWidget(divider);
        }
    }
    m_list->installEventFilter(this);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_list);
    layout->addWidget(m_scroll);
    setListHeight(double(rows.size()) * DashboardController::summaryRowEstimate);
}

QWidget *SummaryPopover::makeRow(const ServiceSummaryRow &row, QWidget *parent)
{
    auto *button = new SummaryRowButton(parent);
    button->setObjectName(QStringLiteral("summaryRow"));
    button->setAccessibleName(row.name);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *layout = new QHBoxLayout(button);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(12);

    auto *icon = new QLabel(button);
    QColor iconFill = color(Tint::slate);
    iconFill.setAlphaF(0.12f);
    icon->setStyleSheet(QStringLiteral("background: %1; border-radius: 8px;").arg(cssColor(iconFill)));
    icon->setProperty("symbolName", QStringLiteral("terminal.fill"));
    icon->setPixmap(symbol(QStringLiteral("terminal.fill"), color(Tint::slate)).pixmap(16, 16));
    icon->setAlignment(Qt::AlignCenter);
    icon->setFixedSize(28, 28);
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto *top = new QHBoxLayout;
    top->setSpacing(8);
    auto *name = new ElidedLabel(Qt::ElideRight, button);
    name->setObjectName(QStringLiteral("rowName"));
    name->setFont(ScreenStyle::font(TextStyle::body, QFont::DemiBold));
    name->setFullText(row.name);
    top->addWidget(name, 1);
    top->addWidget(badge(row.state, button));
    texts->addLayout(top);
    auto *detail = new ElidedLabel(Qt::ElideMiddle, button);
    detail->setObjectName(QStringLiteral("rowDetail"));
    detail->setFont(ScreenStyle::font(TextStyle::caption));
    detail->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(secondaryText())));
    detail->setFullText(row.detail);
    texts->addWidget(detail);
    if (row.pid) {
        auto *pid = plainLabel(QStringLiteral("PID ") + QString::number(*row.pid), TextStyle::caption2, button);
        pid->setObjectName(QStringLiteral("rowPid"));
        pid->setFont(monospaced(TextStyle::caption2));
        pid->setStyleSheet(QStringLiteral("color: %1;").arg(cssColor(tertiaryText())));
        texts->addWidget(pid);
    }
    layout->addLayout(texts, 1);
    auto *chevron = new QLabel(button);
    setSymbol(*chevron, QStringLiteral("chevron.right"), 12, tertiaryText());
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
        Q_EMIT listHeightReported(m_list->sizeHint().height());
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
    QPoint position(card.center().x() - width() / 2, card.bottom() + 6);
    if (const QScreen *screen = anchor->screen()) {
        const QRect available = screen->availableGeometry();
        if (position.y() + height() > available.bottom() && card.top() - 6 - height() >= available.top())
            position.setY(card.top() - 6 - height());
        position.setX(std::clamp(position.x(), available.left(), std::max(available.left(), available.right() - width())));
    }
    move(position);
    show();
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
