#include "ui/screens/dashboard/SummaryPopover.h"

#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SymbolView.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

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

// A hairline in the separator colour, `indent` in from the leading edge.
class Divider final : public QWidget {
public:
    Divider(int indent, QWidget *parent)
        : QWidget(parent),
          m_indent(indent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect().adjusted(m_indent, 0, 0, 0), ThemeColor::separator().resolve(this));
    }

private:
    int m_indent;
};

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

} // namespace

SummaryPopover::SummaryPopover(ServiceSummaryFilter filter, const QList<ServiceSummaryRow> &rows, QWidget *anchor,
                               QWidget *parent)
    : QFrame(parent, Qt::Popup),
      m_filter(filter),
      m_anchor(anchor)
{
    setObjectName(QStringLiteral("summaryPopover"));
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(popoverWidth);
    setAccessibleName(DashboardController::popoverTitle(filter));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *title = new StyledLabel(DashboardController::popoverTitle(filter), TextStyle::headline, this);
    title->setContentsMargins(14, 12, 14, 8);
    layout->addWidget(title);
    layout->addWidget(new Divider(0, this));
    if (rows.isEmpty()) {
        auto *empty = new StyledLabel(DashboardController::emptyText(filter), TextStyle::callout, QFont::Normal,
                                      ThemeColor::secondary(), this);
        empty->setObjectName(QStringLiteral("emptyText"));
        empty->setContentsMargins(14, 14, 14, 14);
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
            auto *divider = new Divider(54, m_list);
            divider->setObjectName(QStringLiteral("rowDivider"));
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

    layout->addWidget(new RowSymbol(button), 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto *top = new QHBoxLayout;
    top->setSpacing(8);
    auto *name = new StyledLabel(row.name, TextStyle::body, QFont::DemiBold, ThemeColor::primary(), button);
    name->setObjectName(QStringLiteral("rowName"));
    name->setElideMode(Qt::ElideRight);
    top->addWidget(name, 1);
    auto *badge = new StatusBadge(DashboardController::badgeText(row.state), badgeColor(row.state), button);
    badge->setObjectName(QStringLiteral("stateBadge"));
    top->addWidget(badge);
    texts->addLayout(top);
    auto *detail = new StyledLabel(row.detail, TextStyle::caption, QFont::Normal, ThemeColor::secondary(), button);
    detail->setObjectName(QStringLiteral("rowDetail"));
    detail->setElideMode(Qt::ElideMiddle);
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
        position.setX(
            std::clamp(position.x(), available.left(), std::max(available.left(), available.right() - width())));
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
