#include "ui/services/ServiceRowDelegate.h"

#include "records/ServiceRuntimeInfo.h"
#include "ui/components/Palette.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"
#include "ui/components/ThemeColor.h"
#include "ui/services/ServiceListModel.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int rowSpacing = 4;
constexpr int horizontalPadding = 10;
constexpr int badgeDot = 6;

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

QSize ServiceRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), rowHeight + rowSpacing);
}

void ServiceRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette &palette = option.palette;
    const QRect row = option.rect.adjusted(0, 0, 0, -rowSpacing);
    const bool selected = index.data(ServiceListModel::SelectedRole).toBool();
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool pressed = hovered && (option.state & QStyle::State_Sunken);
    const QColor fill = SelectableSidebarRow::fillFor(pressed, selected, hovered, Palette::slate());
    if (fill.alpha() > 0) {
        QPainterPath background;
        background.addRoundedRect(QRectF(row), 8, 8);
        painter->fillPath(background, fill);
    }
    // A selected row takes the slate foreground, as the sidebar rows do.
    const QColor foreground = selected ? Palette::slate() : palette.color(QPalette::WindowText);

    const QRect content = row.adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    // Icon, 24 wide.
    const QRect iconRect(content.left(), content.center().y() - 9, 24, 18);
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap icon = symbolPixmap(QStringLiteral("terminal.fill"), 18, Palette::slate(), ratio);
    painter->drawPixmap(QRect(iconRect.left() + 3, iconRect.top(), 18, 18), icon);

    // Badge at the right edge.
    const int state = index.data(ServiceListModel::StateRole).toInt();
    const QString badge = badgeText(state);
    const QColor badgeTint = badgeColor(state).resolve(foreground);
    const QFont badgeFont = textStyleFont(TextStyle::caption2, QFont::DemiBold);
    const QFontMetrics badgeMetrics(badgeFont);
    const int badgeWidth = 8 + badgeDot + 4 + badgeMetrics.horizontalAdvance(badge) + 8;
    const int badgeHeight = badgeMetrics.height() + 6;
    const QRect badgeRect(content.right() - badgeWidth + 1, content.center().y() - badgeHeight / 2, badgeWidth,
                          badgeHeight);
    QPainterPath badgePath;
    badgePath.addRoundedRect(QRectF(badgeRect), badgeHeight / 2.0, badgeHeight / 2.0);
    painter->fillPath(badgePath, withOpacity(badgeTint, 0.14));
    painter->setPen(Qt::NoPen);
    painter->setBrush(badgeTint);
    painter->drawEllipse(
        QRectF(badgeRect.left() + 8, badgeRect.center().y() - badgeDot / 2.0 + 0.5, badgeDot, badgeDot));
    painter->setFont(badgeFont);
    painter->setPen(badgeTint);
    painter->drawText(badgeRect.adjusted(8 + badgeDot + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, badge);

    // Name, indicator and subtitle between them.
    const int textLeft = iconRect.right() + 10;
    const int textRight = badgeRect.left() - 10;
    const QFont nameFont = textStyleFont(TextStyle::body, QFont::Medium);
    const QFont subtitleFont = textStyleFont(TextStyle::caption);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics subtitleMetrics(subtitleFont);
    const int textHeight = nameMetrics.height() + 2 + subtitleMetrics.height();
    const int top = content.center().y() - textHeight / 2;

    const QString symbol = index.data(ServiceListModel::IndicatorSymbolRole).toString();
    const int indicatorSize = symbolPixelSize(TextStyle::caption2);
    const int indicatorWidth = symbol.isEmpty() ? 0 : 5 + indicatorSize;
    const int nameSpace = std::max(0, textRight - textLeft - indicatorWidth);
    const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, nameSpace);
    painter->setFont(nameFont);
    painter->setPen(foreground);
    painter->drawText(QRect(textLeft, top, nameSpace, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    if (!symbol.isEmpty()) {
        const int nameWidth = nameMetrics.horizontalAdvance(name);
        const QPixmap indicator = symbolPixmap(symbol, indicatorSize, Palette::orange(), ratio);
        painter->drawPixmap(QRect(textLeft + nameWidth + 5, top + (nameMetrics.height() - indicatorSize) / 2,
                                  indicatorSize, indicatorSize),
                            indicator);
    }

    QString subtitleText = index.data(ServiceListModel::SubtitleRole).toString();
    subtitleText.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString subtitle =
        subtitleMetrics.elidedText(subtitleText, Qt::ElideMiddle, std::max(0, textRight - textLeft));
    painter->setFont(subtitleFont);
    painter->setPen(ThemeColor::secondary().resolve(foreground));
    // Top-aligned with room below the descent: some fonts draw the underscore
    // under it, and a box of exactly the font's height clips it away.
    painter->drawText(
        QRect(textLeft, top + nameMetrics.height() + 2, textRight - textLeft, subtitleMetrics.height() + 3),
        Qt::AlignLeft | Qt::AlignTop, subtitle);
    painter->restore();
}
