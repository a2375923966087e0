#include "ui/components/SymbolIcon.h"

#include "ui/components/TextStyle.h"

#include <QAbstractButton>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <cmath>

namespace {

const QHash<QString, QString> &themeNames()
{
    static const QHash<QString, QString> table = {
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent-symbolic")},
        {QStringLiteral("lock.open.fill"), QStringLiteral("changes-allow-symbolic")},
        {QStringLiteral("lock.open"), QStringLiteral("changes-allow-symbolic")},
        {QStringLiteral("lock.shield.fill"), QStringLiteral("security-high-symbolic")},
        {QStringLiteral("checkmark.shield.fill"), QStringLiteral("security-high-symbolic")},
        {QStringLiteral("shield.lefthalf.filled.badge.checkmark"), QStringLiteral("security-high-symbolic")},
        {QStringLiteral("exclamationmark.shield.fill"), QStringLiteral("security-medium-symbolic")},
        {QStringLiteral("shield.slash.fill"), QStringLiteral("security-low-symbolic")},
        {QStringLiteral("hand.raised.fill"), QStringLiteral("action-unavailable-symbolic")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next-symbolic")},
        {QStringLiteral("chevron.down"), QStringLiteral("go-down-symbolic")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal-symbolic")},
        {QStringLiteral("terminal.fill"), QStringLiteral("utilities-terminal-symbolic")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start-symbolic")},
        {QStringLiteral("stop.fill"), QStringLiteral("media-playback-stop-symbolic")},
        {QStringLiteral("key"), QStringLiteral("dialog-password-symbolic")},
        {QStringLiteral("key.fill"), QStringLiteral("dialog-password-symbolic")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("arrow.counterclockwise"), QStringLiteral("edit-undo-symbolic")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-open-recent-symbolic")},
        {QStringLiteral("clock"), QStringLiteral("document-open-recent-symbolic")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear-symbolic")},
        {QStringLiteral("xmark.octagon"), QStringLiteral("process-stop-symbolic")},
        {QStringLiteral("trash"), QStringLiteral("user-trash-symbolic")},
        {QStringLiteral("text.alignleft"), QStringLiteral("format-justify-left-symbolic")},
        {QStringLiteral("text.magnifyingglass"), QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("system-search-symbolic")},
        {QStringLiteral("shippingbox.fill"), QStringLiteral("package-x-generic-symbolic")},
        {QStringLiteral("list.bullet.rectangle"), QStringLiteral("view-list-symbolic")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning-symbolic")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy-symbolic")},
        {QStringLiteral("sun.max.fill"), QStringLiteral("weather-clear-symbolic")},
        {QStringLiteral("moon.fill"), QStringLiteral("weather-clear-night-symbolic")},
        {QStringLiteral("plus"), QStringLiteral("list-add-symbolic")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit-symbolic")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("avatar-default-symbolic")},
        {QStringLiteral("person.crop.circle.fill"), QStringLiteral("avatar-default-symbolic")},
        {QStringLiteral("person.text.rectangle.fill"), QStringLiteral("contact-new-symbolic")},
        {QStringLiteral("gearshape"), QStringLiteral("emblem-system-symbolic")},
        {QStringLiteral("folder"), QStringLiteral("folder-symbolic")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok-symbolic")},
        {QStringLiteral("sparkles"), QStringLiteral("starred-symbolic")},
    };
    return table;
}

// A graphics card: the board with its two fans, and the contact strip
// below it.
void drawGraphicsCard(QPainter &painter, const QPen &pen, const QColor &color)
{
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(1.5, 3, 13, 8.5), 1.5, 1.5);
    QPen fanPen = pen;
    fanPen.setWidthF(1.2);
    painter.setPen(fanPen);
    painter.drawEllipse(QPointF(5.2, 7.25), 2.1, 2.1);
    painter.drawEllipse(QPointF(10.8, 7.25), 2.1, 2.1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(4, 12.6, 7, 1.7), 0.5, 0.5);
}

// A filled card with two lines of text cut out of it, so the lines show the
// background in either theme.
void drawTextCard(QPainter &painter, const QColor &color)
{
    QPainterPath card;
    card.addRoundedRect(QRectF(1, 2.5, 14, 11), 2.5, 2.5);
    QPainterPath lines;
    lines.addRoundedRect(QRectF(3.5, 5.3, 9, 1.6), 0.8, 0.8);
    lines.addRoundedRect(QRectF(3.5, 9.1, 6, 1.6), 0.8, 0.8);
    painter.fillPath(card.subtracted(lines), color);
}

// Symbols without a fitting theme icon, drawn on a 16-unit grid.
bool drawOwnSymbol(QPainter &painter, const QString &name, const QColor &color)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const bool filled = name.endsWith(QLatin1String(".fill"));
    QPen pen(color, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (name == QLatin1String("cpu") || name == QLatin1String("cpu.fill") || name == QLatin1String("memorychip")
        || name == QLatin1String("memorychip.fill")) {
        const bool memory = name.startsWith(QLatin1String("memory"));
        const QRectF body = memory ? QRectF(1.5, 4.5, 13, 7) : QRectF(3.5, 3.5, 9, 9);
        painter.setPen(pen);
        // Pins: on all four sides for a processor, along the long sides for memory.
        for (int i = 0; i < (memory ? 4 : 3); ++i) {
            const qreal along = memory ? 3.5 + i * 3 : 5.5 + i * 2.5;
            painter.drawLine(QPointF(along, body.top()), QPointF(along, body.top() - 2));
            painter.drawLine(QPointF(along, body.bottom()), QPointF(along, body.bottom() + 2));
            if (!memory) {
                painter.drawLine(QPointF(body.left(), along), QPointF(body.left() - 2, along));
                painter.drawLine(QPointF(body.right(), along), QPointF(body.right() + 2, along));
            }
        }
        painter.setBrush(filled ? QBrush(color) : Qt::NoBrush);
        painter.drawRoundedRect(body, 1.5, 1.5);
        if (!memory && !filled)
            painter.drawRect(QRectF(6, 6, 4, 4));
        return true;
    }
    if (name == QLatin1String("number")) {
        // Two slanted uprights and two bars, the bars a little inset so the
        // sign keeps its shape at 16 pixels.
        painter.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(6.6, 2.5), QPointF(5.4, 13.5));
        painter.drawLine(QPointF(11.1, 2.5), QPointF(9.9, 13.5));
        painter.drawLine(QPointF(3, 6.2), QPointF(13.5, 6.2));
        painter.drawLine(QPointF(2.5, 9.8), QPointF(13, 9.8));
        return true;
    }
    if (name == QLatin1String("gpu")) {
        drawGraphicsCard(painter, pen, color);
        return true;
    }
    if (name == QLatin1String("internaldrive")) {
        painter.setPen(pen);
        painter.drawRoundedRect(QRectF(1.5, 4.5, 13, 7), 2, 2);
        painter.drawLine(QPointF(4, 8), QPointF(8, 8));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(11.5, 8), 1.1, 1.1);
        return true;
    }
    if (name == QLatin1String("text.rectangle.fill")) {
        drawTextCard(painter, color);
        return true;
    }
    if (name.startsWith(QLatin1String("gauge"))) {
        painter.setPen(pen);
        painter.drawArc(QRectF(1.5, 2.5, 13, 13), 200 * 16, -220 * 16);
        painter.drawLine(QPointF(8, 9), QPointF(5, 5.5));
        painter.setBrush(color);
        painter.drawEllipse(QPointF(8, 9), 1.4, 1.4);
        return true;
    }
    if (name == QLatin1String("circle.lefthalf.filled")) {
        painter.setPen(pen);
        painter.drawEllipse(QRectF(2, 2, 12, 12));
        QPainterPath half;
        half.moveTo(8, 2);
        half.arcTo(QRectF(2, 2, 12, 12), 90, 180);
        half.closeSubpath();
        painter.fillPath(half, color);
        return true;
    }
    return false;
}

QPixmap drawnSymbol(const QString &name, int size, const QColor &color, qreal dpr)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.scale(size / 16.0, size / 16.0);
    if (!drawOwnSymbol(painter, name, color)) {
        // An unknown name: a plain dot, so a missing entry shows but never breaks a layout.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(5, 5, 6, 6));
    }
    return pixmap;
}

QPixmap renderSymbol(const QString &symbolName, int size, const QColor &color, qreal devicePixelRatio);

} // namespace

QString symbolThemeIconName(const QString &symbolName)
{
    return themeNames().value(symbolName);
}

QIcon symbolIcon(const QString &symbolName)
{
    const QString themeName = symbolThemeIconName(symbolName);
    if (!themeName.isEmpty()) {
        QIcon icon = QIcon::fromTheme(themeName);
        if (!icon.isNull())
            return icon;
    }
    QIcon drawn;
    for (int size : {16, 24, 32, 48})
        drawn.addPixmap(drawnSymbol(symbolName, size, primaryTextColor(), 1.0));
    return drawn;
}

QPixmap symbolPixmap(const QString &symbolName, int size, const QColor &color, qreal devicePixelRatio)
{
    const QString key = QStringLiteral("velmora-symbol/%1/%2/%3/%4")
                            .arg(symbolName)
                            .arg(size)
                            .arg(color.rgba(), 8, 16)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    cached = renderSymbol(symbolName, size, color, devicePixelRatio);
    QPixmapCache::insert(key, cached);
    return cached;
}

namespace {
QPixmap renderSymbol(const QString &symbolName, int size, const QColor &color, qreal devicePixelRatio)
{
    const QString themeName = symbolThemeIconName(symbolName);
    const QIcon icon = themeName.isEmpty() ? QIcon() : QIcon::fromTheme(themeName);
    if (icon.isNull())
        return drawnSymbol(symbolName, size, color, devicePixelRatio);
    const int pixels = int(std::ceil(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        icon.paint(&painter, QRect(0, 0, pixels, pixels));
        // Symbolic icons are one colour: keep their shape, give them ours.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}
} // namespace

QIcon tintedSymbolIcon(const QString &symbolName, int size, const QColor &color, qreal devicePixelRatio)
{
    const QPixmap pixmap = symbolPixmap(symbolName, size, color, devicePixelRatio);
    QIcon icon;
    icon.addPixmap(pixmap, QIcon::Normal);
    icon.addPixmap(pixmap, QIcon::Disabled);
    icon.addPixmap(pixmap, QIcon::Active);
    return icon;
}

void setButtonSymbol(QAbstractButton *button, const QString &symbolName, const QColor &color, int size)
{
    button->setIcon(tintedSymbolIcon(symbolName, size, color, button->devicePixelRatioF()));
    button->setIconSize(QSize(size, size));
    button->setProperty(symbolNameProperty, symbolName);
}
