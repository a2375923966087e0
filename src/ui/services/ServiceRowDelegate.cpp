#include "ui/services/ServiceRowDelegate.h"

#include "records/ServiceRuntimeInfo.h"
#include "ui/services/ServiceListModel.h"
#include "ui/services/ServicesFonts.h"
#include "ui/services/ServicesPalette.h"
#include "ui/services/ServicesSymbols.h"

#include <QPainter>
#include <QPainterPath>

namespace {

using ServicesFonts::Style;

constexpr int rowSpacing = 4;
constexpr int horizontalPadding = 10;

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(alpha);
    return color;
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

QColor ServiceRowDelegate::badgeColor(int state, const QPalette &palette)
{
    switch (static_cast<ServiceLifecycleState>(state)) {
    case ServiceLifecycleState::running:
        return ServicesPalette::green();
    case ServiceLifecycleState::notResponding:
        return ServicesPalette::orange();
    case ServiceLifecycleState::stopped:
        break;
    }
    return withAlpha(palette.color(QPalette::WindowText), 0.6);
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
    if (selected || hovered) {
        QPainterPath background;
        background.addRoundedRect(QRectF(row), 8, 8);
        painter->fillPath(background, selected ? withAlpha(palette.color(QPalette::Highlight), 0.22)
                                               : withAlpha(palette.color(QPalette::WindowText), 0.06));
    }

    const QRect content = row.adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    // Icon, 24 wide.
    const QRect iconRect(content.left(), content.center().y() - 9, 24, 18);
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap icon = ServicesSymbols::tinted(QStringLiteral("terminal.fill"), ServicesPalette::slate(), 18, ratio);
    painter->drawPixmap(QRect(iconRect.left() + 3, iconRect.top(), 18, 18), icon);

    // Badge at the right edge.
    const int state = index.data(ServiceListModel::StateRole).toInt();
    const QString badge = badgeText(state);
    const QColor badgeTint = badgeColor(state, palette);
    const QFont badgeFont = ServicesFonts::font(Style::caption, QFont::DemiBold);
    const QFontMetrics badgeMetrics(badgeFont);
    const int badgeWidth = badgeMetrics.horizontalAdvance(badge) + 14;
    const int badgeHeight = badgeMetrics.height() + 4;
    const QRect badgeRect(content.right() - badgeWidth, content.center().y() - badgeHeight / 2, badgeWidth,
                          badgeHeight);
    QPainterPath badgePath;
    badgePath.addRoundedRect(QRectF(badgeRect), badgeHeight / 2.0, badgeHeight / 2.0);
    painter->fillPath(badgePath, withAlpha(badgeTint, 0.16));
    painter->setFont(badgeFont);
    painter->setPen(badgeTint);
    painter->drawText(badgeRect, Qt::AlignCenter, badge);

    // Name, indicator and subtitle between them.
    const int textLeft = iconRect.right() + 10;
    const int textRight = badgeRect.left() - 10;
    const QFont nameFont = ServicesFonts::font(Style::body, QFont::Medium);
    const QFont subtitleFont = ServicesFonts::font(Style::caption);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics subtitleMetrics(subtitleFont);
    const int textHeight = nameMetrics.height() + 2 + subtitleMetrics.height();
    const int top = content.center().y() - textHeight / 2;

    const QString symbol = index.data(ServiceListModel::IndicatorSymbolRole).toString();
    const int indicatorWidth = symbol.isEmpty() ? 0 : 5 + 11;
    const int nameSpace = std::max(0, textRight - textLeft - indicatorWidth);
    const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, nameSpace);
    painter->setFont(nameFont);
    painter->setPen(palette.color(QPalette::WindowText));
    painter->drawText(QRect(textLeft, top, nameSpace, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    if (!symbol.isEmpty()) {
        const int nameWidth = nameMetrics.horizontalAdvance(name);
        const QPixmap indicator = ServicesSymbols::tinted(symbol, ServicesPalette::orange(), 11, ratio);
        painter->drawPixmap(QRect(textLeft + nameWidth + 5, top + (nameMetrics.height() - 11) / 2, 11, 11),
                            indicator);
    }

    QString subtitleText = index.data(ServiceListModel::SubtitleRole).toString();
    subtitleText.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString subtitle = subtitleMetrics.elidedText(subtitleText,
                                                        Qt::ElideMiddle, std::max(0, textRight - textLeft));
    painter->setFont(subtitleFont);
    painter->setPen(withAlpha(palette.color(QPalette::WindowText), 0.6));
    painter->drawText(QRect(textLeft, top + nameMetrics.height() + 2, textRight - textLeft, subtitleMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, subtitle);
    painter->restore();
}
