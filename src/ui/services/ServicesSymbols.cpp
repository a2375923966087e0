#include "ui/services/ServicesSymbols.h"

#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace {

QString themeName(const QString &symbol)
{
    static const QHash<QString, QString> names {
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal-symbolic")},
        {QStringLiteral("terminal.fill"), QStringLiteral("utilities-terminal-symbolic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear-symbolic")},
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent-symbolic")},
        {QStringLiteral("lock.open.fill"), QStringLiteral("changes-allow-symbolic")},
        {QStringLiteral("lock.shield.fill"), QStringLiteral("security-high-symbolic")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("hand.raised.fill"), QStringLiteral("action-unavailable-symbolic")},
        {QStringLiteral("exclamationmark.shield.fill"), QStringLiteral("security-low-symbolic")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning-symbolic")},
        {QStringLiteral("text.magnifyingglass"), QStringLiteral("system-search-symbolic")},
        {QStringLiteral("folder"), QStringLiteral("folder-symbolic")},
    };
    return names.value(symbol, QStringLiteral("image-missing"));
}

} // namespace

namespace ServicesSymbols {

QIcon icon(const QString &symbol)
{
    return QIcon::fromTheme(themeName(symbol));
}

QPixmap tinted(const QString &symbol, const QColor &color, int size, qreal devicePixelRatio)
{
    // Rows repaint on every runtime tick; the icon theme is asked once per look.
    static QHash<QString, QPixmap> cache;
    const QString key = symbol + QLatin1Char('|') + color.name(QColor::HexArgb) + QLatin1Char('|')
                        + QString::number(size) + QLatin1Char('|') + QString::number(devicePixelRatio);
    if (const auto found = cache.constFind(key); found != cache.cend())
        return *found;
    QPixmap pixmap = icon(symbol).pixmap(QSize(size, size), devicePixelRatio);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    cache.insert(key, pixmap);
    return pixmap;
}

QLabel *label(const QString &symbol, const QColor &color, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setProperty("symbolName", symbol);
    label->setPixmap(tinted(symbol, color, size, label->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

} // namespace ServicesSymbols
