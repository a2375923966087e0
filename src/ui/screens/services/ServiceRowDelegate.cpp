#include "ui/screens/services/ServiceRowDelegate.h"

#include "records/ServiceRuntimeInfo.h"
#include "ui/components/ColorContrast.h"
#include "ui/components/FocusMark.h"
#include "ui/components/Palette.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"
#include "ui/screens/services/ServiceListModel.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int rowSpacing = 4;
constexpr int horizontalPadding = 10;
// The row's small texts seldom reach their full colour at their glyphs'
// edges: their colours aim well above the minimum so that what shows reads.
constexpr qreal rowTextTarget = ColorContrast::textMinimum + 0.7;

// Where the parts of a row go; painting and the indicator's tooltip share it.
struct RowGeometry {
    QRect row;
    QRect content;
    QRect icon;
    QRect badge;
    int textLeft = 0;
    int textRight = 0;
    int top = 0;
    QString name;
    QRect indicator;
};

RowGeometry rowGeometry(const QRect &rect, const QModelIndex &index)
{
    RowGeometry g;
    g.row = rect.adjusted(0, 0, 0, -rowSpacing);
    g.content = g.row.adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    g.icon = QRect(g.content.left(), g.content.center().y() - 9, 24, 18);

    const QString badge = ServiceRowDelegate::badgeText(index.data(ServiceListModel::StateRole).toInt());
    const QSize badgeSize = StatusBadge::capsuleSize(badge);
    g.badge = QRect(g.content.right() - badgeSize.width() + 1, g.content.center().y() - badgeSize.height() / 2,
                    badgeSize.width(), badgeSize.height());

    g.textLeft = g.icon.right() + 10;
    g.textRight = g.badge.left() - 10;
    const QFontMetrics nameMetrics(textStyleFont(TextStyle::body, QFont::Medium));
    const QFontMetrics subtitleMetrics(textStyleFont(TextStyle::caption));
    g.top = g.content.center().y() - (nameMetrics.height() + 2 + subtitleMetrics.height()) / 2;

    const bool hasIndicator = !index.data(ServiceListModel::IndicatorSymbolRole).toString().isEmpty();
    const int indicatorSize = symbolPixelSize(TextStyle::caption2);
    const int indicatorWidth = hasIndicator ? 5 + indicatorSize : 0;
    const int nameSpace = std::max(0, g.textRight - g.textLeft - indicatorWidth);
    g.name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, nameSpace);
    if (hasIndicator)
        g.indicator = QRect(g.textLeft + nameMetrics.horizontalAdvance(g.name) + 5,
                            g.top + (nameMetrics.height() - indicatorSize) / 2, indicatorSize, indicatorSize);
    return g;
}

} // namespace

QString ServiceRowDelegate::badgeText(int state)
{
    switch (static_cast<ServiceLifecycleState>(state)) {
    case ServiceLifecycleState::running:
        return QStringLiteral("Running");
    case ServiceLifecycleState::notResponding:
        return QStringLiteral("Not Responding");
    case ServiceLifecycleState::stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

ThemeColor ServiceRowDelegate::badgeColor(int state)
{
    switch (static_cast<ServiceLifecycleState>(state)) {
    case ServiceLifecycleState::running:
        return Palette::Color::green;
    case ServiceLifecycleState::notResponding:
        return Palette::Color::orange;
    case ServiceLifecycleState::stopped:
        break;
    }
    return ThemeColor::secondary();
}

ServiceRowDelegate::ServiceRowDelegate(QAbstractItemView *view)
    : QStyledItemDelegate(view),
      m_view(view),
      m_viewport(view->viewport())
{
    m_viewport->installEventFilter(this);
}

bool ServiceRowDelegate::isPressed(const QModelIndex &index) const
{
    return m_pressed.isValid() && m_pressed == index;
}

bool ServiceRowDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_viewport)
        return QStyledItemDelegate::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_pressed = m_view->indexAt(static_cast<QMouseEvent *>(event)->position().toPoint());
            m_viewport->update();
        }
        break;
    case QEvent::MouseButtonRelease:
    case QEvent::Leave:
    case QEvent::Hide:
        // Also sent while the view is being destroyed: only the viewport,
        // which outlives the view's own destructor, is touched.
        if (m_pressed.isValid()) {
            m_pressed = QPersistentModelIndex();
            m_viewport->update();
        }
        break;
    default:
        break;
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

QSize ServiceRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), rowHeight + rowSpacing);
}

void ServiceRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette &palette = option.palette;
    const RowGeometry g = rowGeometry(option.rect, index);
    const bool selected = index.data(ServiceListModel::SelectedRole).toBool();
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool pressed = isPressed(index);
    const QColor fill = SelectableSidebarRow::fillFor(pressed, selected, hovered, Palette::slate());
    // A row held down dims, as the sidebar's rows do.
    if (pressed)
        painter->setOpacity(pressedOpacity);
    if (fill.alpha() > 0) {
        QPainterPath background;
        background.addRoundedRect(QRectF(g.row), 8, 8);
        painter->fillPath(background, fill);
    }
    // The list's current row while the list holds the focus.
    if (option.state & QStyle::State_HasFocus)
        paintFocusMark(*painter, QRectF(g.row), 8, option.widget);
    // What the row's texts sit on: its fill over the sidebar.
    const QColor sidebar =
        ColorContrast::compositedOver(ThemeColor::sidebarBackground().resolve(), palette.color(QPalette::Window));
    const QColor surface = ColorContrast::compositedOver(fill, sidebar);
    // A selected row takes the slate foreground, as the sidebar rows do, in the
    // shade that reads on the slate fill; its caption and badge derive from it.
    const QColor foreground = selected ? ColorContrast::legibleVariant(Palette::slate(), surface, rowTextTarget)
                                       : palette.color(QPalette::WindowText);

    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap icon = symbolPixmap(QStringLiteral("terminal.fill"), 18, Palette::slate(), ratio);
    painter->drawPixmap(QRect(g.icon.left() + 3, g.icon.top(), 18, 18), icon);

    // Badge at the right edge.
    const int state = index.data(ServiceListModel::StateRole).toInt();
    StatusBadge::paintCapsule(*painter, QRectF(g.badge), badgeText(state), badgeColor(state).resolve(foreground),
                              {surface});

    // Name, indicator and subtitle between them.
    const int textLeft = g.textLeft;
    const int textRight = g.textRight;
    const int top = g.top;
    const QFont nameFont = textStyleFont(TextStyle::body, QFont::Medium);
    const QFont subtitleFont = textStyleFont(TextStyle::caption);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics subtitleMetrics(subtitleFont);
    painter->setFont(nameFont);
    painter->setPen(foreground);
    painter->drawText(QRect(textLeft, top, std::max(0, textRight - textLeft), nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, g.name);
    if (g.indicator.isValid()) {
        const QString symbol = index.data(ServiceListModel::IndicatorSymbolRole).toString();
        painter->drawPixmap(g.indicator, symbolPixmap(symbol, g.indicator.width(), Palette::orange(), ratio));
    }

    // A command may be huge: only what the row can show is laid out.
    const QString subtitle = m_subtitles.elided(index.data(ServiceListModel::SubtitleRole).toString(), subtitleFont,
                                                std::max(0, textRight - textLeft));
    painter->setFont(subtitleFont);
    painter->setPen(ColorContrast::legibleVariant(
        ColorContrast::compositedOver(ThemeColor::secondary().resolve(foreground), surface), surface, rowTextTarget));
    // Top-aligned with room below the descent: some fonts draw the underscore
    // under it, and a box of exactly the font's height clips it away.
    painter->drawText(
        QRect(textLeft, top + nameMetrics.height() + 2, textRight - textLeft, subtitleMetrics.height() + 3),
        Qt::AlignLeft | Qt::AlignTop, subtitle);
    painter->restore();
}

QRect ServiceRowDelegate::indicatorRect(const QRect &rowRect, const QModelIndex &index)
{
    return rowGeometry(rowRect, index).indicator;
}

bool ServiceRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                   const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // The help explains the indicator, so only the indicator shows it.
    const QString help = index.data(ServiceListModel::IndicatorTooltipRole).toString();
    const QRect indicator = indicatorRect(option.rect, index);
    if (help.isEmpty() || !indicator.contains(event->pos())) {
        QToolTip::hideText();
        return false;
    }
    QToolTip::showText(event->globalPos(), help, view->viewport(), indicator);
    return true;
}
