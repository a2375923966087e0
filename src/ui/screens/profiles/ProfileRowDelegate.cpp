#include "ui/screens/profiles/ProfileRowDelegate.h"

#include "ui/components/FocusMark.h"
#include "ui/components/Palette.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/TextStyle.h"
#include "ui/screens/profiles/ProfilesListModel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

void ProfileRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect rect = option.rect.adjusted(0, 0, 0, -4);
    const bool selected = index.data(ProfilesListModel::SelectedRole).toBool();
    const bool hovered = option.state & QStyle::State_MouseOver;
    const QColor fill = SelectableSidebarRow::fillFor(false, selected, hovered, Palette::slate());
    if (fill.alpha() > 0) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect), 8, 8);
        painter->fillPath(path, fill);
    }
    if (option.state & QStyle::State_HasFocus && selected)
        paintFocusMark(*painter, QRectF(rect), 8, option.widget);

    const int left = rect.left() + 10;
    const QRect avatar(left, rect.center().y() - 12, 24, 24);
    const qreal ratio = painter->device()->devicePixelRatioF();
    painter->drawPixmap(avatar, symbolPixmap(QStringLiteral("person.crop.circle.fill"), 24, Palette::slate(), ratio));

    const int textLeft = avatar.right() + 11;
    const int textWidth = rect.right() - 10 - textLeft;
    const QFont nameFont = textStyleFont(TextStyle::body, QFont::Medium);
    const QFont captionFont = textStyleFont(TextStyle::caption);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics captionMetrics(captionFont);
    const int blockHeight = nameMetrics.height() + 2 + captionMetrics.height();
    const int top = rect.center().y() - blockHeight / 2;

    const QString lockSymbol = index.data(ProfilesListModel::LockSymbolRole).toString();
    const int lockSpace = lockSymbol.isEmpty() ? 0 : 5 + 12;
    const QString name =
        nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, qMax(0, textWidth - lockSpace));
    painter->setFont(nameFont);
    painter->setPen(option.palette.color(QPalette::WindowText));
    painter->drawText(QRect(textLeft, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    if (!lockSymbol.isEmpty()) {
        const int x = textLeft + nameMetrics.horizontalAdvance(name) + 5;
        const QRect lockRect(x, top + (nameMetrics.height() - 12) / 2, 12, 12);
        painter->drawPixmap(lockRect, symbolPixmap(lockSymbol, 12, Palette::orange(), ratio));
    }
    painter->setFont(captionFont);
    painter->setPen(secondaryTextColor());
    const QString caption = captionMetrics.elidedText(index.data(ProfilesListModel::CaptionRole).toString(),
                                                      Qt::ElideRight, qMax(0, textWidth));
    painter->drawText(QRect(textLeft, top + nameMetrics.height() + 2, textWidth, captionMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, caption);
    painter->restore();
}

QSize ProfileRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const int height = QFontMetrics(textStyleFont(TextStyle::body, QFont::Medium)).height()
                       + QFontMetrics(textStyleFont(TextStyle::caption)).height() + 2 + 16;
    return {option.rect.width(), qMax(44, height) + 4};
}
