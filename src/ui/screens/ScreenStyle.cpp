#include "ui/screens/ScreenStyle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QPalette>

namespace ScreenStyle {

namespace {

QColor rgb(double r, double g, double b)
{
    return QColor::fromRgbF(float(r), float(g), float(b));
}

double sizeFactor(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle: return 2.0;
    case TextStyle::title: return 1.6;
    case TextStyle::title2: return 1.3;
    case TextStyle::title3: return 1.15;
    case TextStyle::headline: return 1.0;
    case TextStyle::body: return 1.0;
    case TextStyle::callout: return 0.92;
    case TextStyle::subheadline: return 0.85;
    case TextStyle::footnote: return 0.8;
    case TextStyle::caption: return 0.8;
    case TextStyle::caption2: return 0.75;
    }
    return 1.0;
}

QString themeName(const QString &symbolName)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent")},
        {QStringLiteral("lock.open.fill"), QStringLiteral("changes-allow")},
        {QStringLiteral("lock.open"), QStringLiteral("changes-allow")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear")},
        {QStringLiteral("person.crop.circle.fill"), QStringLiteral("avatar-default")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("avatar-default")},
        {QStringLiteral("list.bullet.rectangle"), QStringLiteral("view-list")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit")},
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("key.fill"), QStringLiteral("dialog-password")},
        {QStringLiteral("text.rectangle.fill"), QStringLiteral("utilities-system-monitor")},
        {QStringLiteral("shippingbox.fill"), QStringLiteral("package-x-generic")},
        {QStringLiteral("cpu.fill"), QStringLiteral("cpu")},
        {QStringLiteral("memorychip.fill"), QStringLiteral("media-flash")},
        {QStringLiteral("gpu"), QStringLiteral("video-display")},
        {QStringLiteral("terminal.fill"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next")},
        {QStringLiteral("circle.lefthalf.filled"), QStringLiteral("preferences-desktop-theme")},
        {QStringLiteral("moon.fill"), QStringLiteral("weather-clear-night")},
        {QStringLiteral("sun.max.fill"), QStringLiteral("weather-clear")},
        {QStringLiteral("internaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok")},
        {QStringLiteral("arrow.counterclockwise"), QStringLiteral("edit-undo")},
    };
    return names.value(symbolName);
}

// Theme icons are drawn as masks in the wanted colour, so symbols follow the palette.
QIcon tinted(const QIcon &icon, const QColor &tint)
{
    if (!tint.isValid() || icon.isNull())
        return icon;
    QIcon result;
    for (const int size : {16, 24, 32, 48, 64}) {
        QPixmap source = icon.pixmap(size, size);
        if (source.isNull())
            continue;
        QPixmap painted(source.size());
        painted.setDevicePixelRatio(source.devicePixelRatio());
        painted.fill(Qt::transparent);
        QPainter painter(&painted);
        painter.drawPixmap(0, 0, source);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(painted.rect(), tint);
        painter.end();
        result.addPixmap(painted);
    }
    return result;
}

} // namespace

bool isDark()
{
    return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

QColor color(Tint tint)
{
    const bool dark = isDark();
    switch (tint) {
    case Tint::slate: return dark ? rgb(0.54, 0.64, 0.78) : rgb(0.25, 0.32, 0.42);
    case Tint::steel: return dark ? rgb(0.64, 0.72, 0.84) : rgb(0.33, 0.40, 0.50);
    case Tint::blue: return dark ? rgb(0.38, 0.67, 0.92) : rgb(0.12, 0.45, 0.72);
    case Tint::green: return dark ? rgb(0.44, 0.78, 0.61) : rgb(0.22, 0.55, 0.42);
    case Tint::orange: return dark ? rgb(1.0, 0.72, 0.36) : rgb(0.86, 0.52, 0.16);
    case Tint::red: return dark ? rgb(0.94, 0.45, 0.45) : rgb(0.78, 0.28, 0.28);
    }
    return {};
}

QColor secondaryText()
{
    QColor text = QApplication::palette().color(QPalette::WindowText);
    text.setAlphaF(0.6f);
    return text;
}

QColor tertiaryText()
{
    QColor text = QApplication::palette().color(QPalette::WindowText);
    text.setAlphaF(0.4f);
    return text;
}

QString cssColor(const QColor &value)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(value.red())
        .arg(value.green())
        .arg(value.blue())
        .arg(value.alphaF(), 0, 'f', 2);
}

QFont font(TextStyle style, QFont::Weight weight)
{
    QFont result = QApplication::font();
    result.setPointSizeF(result.pointSizeF() * sizeFactor(style));
    if (style == TextStyle::headline && weight == QFont::Normal)
        weight = QFont::DemiBold;
    result.setWeight(weight);
    return result;
}

QFont monospaced(TextStyle style, QFont::Weight weight)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPointSizeF(QApplication::font().pointSizeF() * sizeFactor(style));
    result.setWeight(weight);
    return result;
}

QIcon symbol(const QString &symbolName, const QColor &tint)
{
    return tinted(QIcon::fromTheme(themeName(symbolName)), tint);
}

void setSymbol(QLabel &label, const QString &symbolName, int size, const QColor &tint)
{
    label.setProperty("symbolName", symbolName);
    label.setPixmap(symbol(symbolName, tint.isValid() ? tint : secondaryText()).pixmap(size, size));
    label.setFixedSize(size, size);
}

void setSymbol(QAbstractButton &button, const QString &symbolName, int size, const QColor &tint)
{
    button.setProperty("symbolName", symbolName);
    button.setIcon(symbol(symbolName, tint));
    button.setIconSize(QSize(size, size));
}

QLabel *plainLabel(const QString &text, TextStyle style, QWidget *parent, QFont::Weight weight)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font(style, weight));
    return label;
}

} // namespace ScreenStyle
